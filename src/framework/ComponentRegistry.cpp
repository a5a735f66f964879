#include <fernwick/framework/ComponentRegistry.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

std::vector<TComponentClassInfo>& Registry() {
  static std::vector<TComponentClassInfo> registry;
  return registry;
}

}  // namespace

void RegisterComponents(const std::string& page, std::vector<TComponentClassInfo> classes) {
  auto& registry = Registry();
  for (auto& info : classes) {
    info.page = page;
    bool replaced = false;
    for (auto& existing : registry) {
      if (CompareText(existing.class_name, info.class_name) == 0) {
        existing = info;
        replaced = true;
        break;
      }
    }
    if (!replaced) registry.push_back(std::move(info));
  }
}

const std::vector<TComponentClassInfo>& RegisteredComponents() { return Registry(); }

const TComponentClassInfo* FindComponentClass(const std::string& class_name) {
  for (const auto& info : Registry()) {
    if (CompareText(info.class_name, class_name) == 0) return &info;
  }
  return nullptr;
}

}  // namespace fernwick
