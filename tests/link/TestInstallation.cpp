#include "TestInstallation.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <fernwick/framework/DynLib.h>

namespace fernwick::testing {

namespace {

#if defined(_WIN32)
constexpr const char* kCoreKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
#endif

std::filesystem::path StubFolder() { return std::filesystem::current_path() / "link-stubs"; }

std::filesystem::path UniqueRoot() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path root =
      std::filesystem::temp_directory_path() /
      ("fernwick-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root);
  return root;
}

}  // namespace

TestInstallation::TestInstallation() : root_(UniqueRoot()), folder_(root_ / "Palm") {
  std::filesystem::create_directories(folder_);
  std::filesystem::create_directories(OtherFolder());
#if !defined(_WIN32)
  if (const char* env = std::getenv("FERNWICK_REGISTRY")) {
    had_env_ = true;
    old_env_ = env;
  }
  setenv("FERNWICK_REGISTRY", (root_ / "registry.reg").c_str(), 1);
#else
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kCoreKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "HotSyncPath", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      old_value_.resize(size);
      if (RegQueryValueExA(key, "HotSyncPath", nullptr, &type,
                           reinterpret_cast<BYTE*>(old_value_.data()), &size) == ERROR_SUCCESS) {
        had_value_ = true;
        old_type_ = type;
      }
    }
    RegCloseKey(key);
  }
#endif
  RemoveKey();
}

TestInstallation::~TestInstallation() {
#if !defined(_WIN32)
  if (had_env_) {
    setenv("FERNWICK_REGISTRY", old_env_.c_str(), 1);
  } else {
    unsetenv("FERNWICK_REGISTRY");
  }
#else
  RemoveKey();
  if (had_value_) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kCoreKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "HotSyncPath", 0, old_type_,
                     reinterpret_cast<const BYTE*>(old_value_.data()),
                     static_cast<DWORD>(old_value_.size()));
      RegCloseKey(key);
    }
  }
#endif
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string TestInstallation::PathOf(const std::filesystem::path& folder,
                                     const std::string& library) {
  return (folder / PlatformLibraryName(library)).string();
}

void TestInstallation::AddLibrary(const std::string& library, bool old_sync_manager,
                                  const std::filesystem::path& folder) {
  std::filesystem::path source = StubFolder();
  if (old_sync_manager) source /= "old";
  source /= PlatformLibraryName(library);
  const std::filesystem::path target =
      (folder.empty() ? folder_ : folder) / PlatformLibraryName(library);
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
}

void TestInstallation::AddAllLibraries() {
  for (const char* library : {"PalmCmn.dll", "hslog20.dll", "Cmds21.dll", "sync20.dll"}) {
    AddLibrary(library);
  }
}

void TestInstallation::PointAt(const std::filesystem::path& folder) {
  SetHotSyncPath((folder / "HotSync.exe").string());
}

#if !defined(_WIN32)

void TestInstallation::WriteRegistry(const std::string& value_line, bool with_key) {
  std::ofstream out(root_ / "registry.reg", std::ios::trunc);
  out << "Windows Registry Editor Version 5.00\n\n";
  if (with_key) {
    out << "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
        << value_line << "\n";
  }
  if (!out) throw std::runtime_error("cannot write the test registry file");
}

void TestInstallation::SetHotSyncPath(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  WriteRegistry("\"HotSyncPath\"=\"" + escaped + "\"", true);
}

void TestInstallation::SetHotSyncPathNumber() {
  WriteRegistry("\"HotSyncPath\"=dword:00000001", true);
}
void TestInstallation::SetKeyWithoutValue() { WriteRegistry("\"Other\"=\"x\"", true); }
void TestInstallation::RemoveKey() { WriteRegistry("", false); }

#else

void TestInstallation::WriteRegistry(const std::string&, bool) {}

namespace {
void SetValue(DWORD type, const void* data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kCoreKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot create the test registry key");
  }
  if (data != nullptr)
    RegSetValueExA(key, "HotSyncPath", 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}
}  // namespace

void TestInstallation::SetHotSyncPath(const std::string& value) {
  SetValue(REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void TestInstallation::SetHotSyncPathNumber() {
  const DWORD one = 1;
  SetValue(REG_DWORD, &one, sizeof one);
}

void TestInstallation::SetKeyWithoutValue() {
  RemoveKey();
  SetValue(REG_SZ, nullptr, 0);
}

void TestInstallation::RemoveKey() { RegDeleteKeyA(HKEY_CURRENT_USER, kCoreKey); }

#endif

MessageRecorder::MessageRecorder() {
  previous = SetMessageDlgHook(
      [this](const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int help_ctx) {
        shown.push_back({msg, type, buttons, help_ctx});
        return mrOk;
      });
}

MessageRecorder::~MessageRecorder() { SetMessageDlgHook(previous); }

std::vector<std::string> MessageRecorder::Texts() const {
  std::vector<std::string> texts;
  for (const Shown& s : shown) texts.push_back(s.msg);
  return texts;
}

}  // namespace fernwick::testing
