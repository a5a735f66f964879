#include <fernwick/framework/Resources.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

const TResourceEntry* FindResource(std::span<const TResourceEntry> table, std::string_view type,
                                   std::string_view name) {
  for (const TResourceEntry& entry : table) {
    if (CompareText(entry.type, type) == 0 && CompareText(entry.name, name) == 0) return &entry;
  }
  return nullptr;
}

}  // namespace fernwick
