#include <windows.h>

#include <algorithm>
#include <vector>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Registry.h>

namespace fernwick {

std::string RegistryFileName() { return std::string(); }

class TRegistry::Impl {
 public:
  HKEY key = nullptr;
};

TRegistry::TRegistry() : impl_(std::make_unique<Impl>()) {}

TRegistry::~TRegistry() { CloseKey(); }

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  CloseKey();
  std::string path = key;
  while (!path.empty() && path.front() == '\\') path.erase(0, 1);
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return false;
  }
  impl_->key = opened;
  return true;
}

void TRegistry::CloseKey() {
  if (impl_->key != nullptr) {
    RegCloseKey(impl_->key);
    impl_->key = nullptr;
  }
}

bool TRegistry::ValueExists(const std::string& name) const {
  if (impl_->key == nullptr) return false;
  return RegQueryValueExA(impl_->key, name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  if (impl_->key == nullptr) return rdUnknown;
  DWORD type = 0;
  if (RegQueryValueExA(impl_->key, name.c_str(), nullptr, &type, nullptr, nullptr) !=
      ERROR_SUCCESS) {
    return rdUnknown;
  }
  switch (type) {
    case REG_SZ:
      return rdString;
    case REG_EXPAND_SZ:
      return rdExpandString;
    case REG_DWORD:
      return rdInteger;
    case REG_BINARY:
      return rdBinary;
    default:
      return rdUnknown;
  }
}

std::string TRegistry::ReadString(const std::string& name) const {
  if (impl_->key == nullptr) return std::string();
  DWORD type = 0;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(impl_->key, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return std::string();
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    throw ERegistryException("Invalid data type for '" + name + "'");
  }
  // The value may change between the two calls: retry while it grows.
  std::vector<char> buffer;
  do {
    buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
    size = static_cast<DWORD>(buffer.size() - 1);
    rc = RegQueryValueExA(impl_->key, name.c_str(), nullptr, &type,
                          reinterpret_cast<BYTE*>(buffer.data()), &size);
  } while (rc == ERROR_MORE_DATA);
  if (rc == ERROR_FILE_NOT_FOUND) return std::string();
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    throw ERegistryException("Invalid data type for '" + name + "'");
  }
  std::string text(buffer.data(), std::min<std::size_t>(size, buffer.size() - 1));
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

}  // namespace fernwick
