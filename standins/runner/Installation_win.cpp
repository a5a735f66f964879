#include <windows.h>

#include <stdexcept>
#include <vector>

#include "standins/runner/Installation.h"

namespace fernwick::runner {

namespace {

constexpr const char* kCoreKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
constexpr const char* kValueName = "HotSyncPath";

}  // namespace

struct HotSyncInstallation::Saved {
  bool created_key = false;
  bool had_value = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

std::string WithTrailingDelimiter(std::string folder) {
  if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) folder += '\\';
  return folder;
}

std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ".\\";
  std::string text(path, length);
  auto slash = text.find_last_of("\\/");
  return slash == std::string::npos ? ".\\" : text.substr(0, slash + 1);
}

HotSyncInstallation::HotSyncInstallation(const std::string& folder)
    : hotsync_path_(WithTrailingDelimiter(folder) + "HotSync.exe"),
      saved_(std::make_unique<Saved>()) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kCoreKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, &disposition) != ERROR_SUCCESS) {
    throw std::runtime_error(std::string("cannot open HKEY_CURRENT_USER\\") + kCoreKey);
  }
  saved_->created_key = disposition == REG_CREATED_NEW_KEY;
  DWORD size = 0;
  if (RegQueryValueExA(key, kValueName, nullptr, &saved_->type, nullptr, &size) == ERROR_SUCCESS) {
    saved_->data.resize(size);
    saved_->had_value = RegQueryValueExA(key, kValueName, nullptr, &saved_->type,
                                         saved_->data.data(), &size) == ERROR_SUCCESS;
    saved_->data.resize(size);
  }
  LONG status = RegSetValueExA(key, kValueName, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(hotsync_path_.c_str()),
                               static_cast<DWORD>(hotsync_path_.size() + 1));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    throw std::runtime_error(std::string("cannot write HKEY_CURRENT_USER\\") + kCoreKey + "\\" +
                             kValueName);
  }
}

HotSyncInstallation::~HotSyncInstallation() {
  if (saved_->created_key) {
    RegDeleteKeyA(HKEY_CURRENT_USER, kCoreKey);
    return;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kCoreKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  if (saved_->had_value) {
    RegSetValueExA(key, kValueName, 0, saved_->type, saved_->data.data(),
                   static_cast<DWORD>(saved_->data.size()));
  } else {
    RegDeleteValueA(key, kValueName);
  }
  RegCloseKey(key);
}

}  // namespace fernwick::runner
