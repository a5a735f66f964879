// A HotSync installation of a test's own: a temporary folder holding
// stand-ins for the Palm libraries (built into bin/link-stubs/), and the
// registry value "HotSyncPath" pointing into it. On POSIX the registry is a
// registry file named by FERNWICK_REGISTRY; on Windows the current user's
// real registry, restored when the installation goes away.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <fernwick/framework/Dialogs.h>

namespace fernwick::testing {

class TestInstallation {
 public:
  TestInstallation();
  ~TestInstallation();
  TestInstallation(const TestInstallation&) = delete;
  TestInstallation& operator=(const TestInstallation&) = delete;

  // The installation folder (empty at first).
  const std::filesystem::path& Folder() const { return folder_; }
  // A second, empty folder for tests that move the installation.
  std::filesystem::path OtherFolder() const { return root_ / "other"; }

  // Copies the stand-in for `library` ("sync20.dll", "PalmCmn.dll",
  // "Cmds21.dll", "hslog20.dll") into `folder` (default: Folder()) under its
  // platform name. `old_sync_manager` takes the sync20 that lacks its four
  // newest functions.
  void AddLibrary(const std::string& library, bool old_sync_manager = false,
                  const std::filesystem::path& folder = {});
  void AddAllLibraries();

  // Registry: "HotSyncPath" set to a text, to a file inside a folder, to a
  // number (not a string); the key without the value; no key at all.
  void SetHotSyncPath(const std::string& value);
  void PointAt(const std::filesystem::path& folder);
  void SetHotSyncPathNumber();
  void SetKeyWithoutValue();
  void RemoveKey();

  // The platform's file name of a library in a folder, as the loader asks
  // for it ("sync20.dll" and "<folder>/libsync20.so" on POSIX).
  static std::string PathOf(const std::filesystem::path& folder, const std::string& library);

 private:
  void WriteRegistry(const std::string& value_line, bool with_key);

  std::filesystem::path root_;
  std::filesystem::path folder_;
#if !defined(_WIN32)
  bool had_env_ = false;
  std::string old_env_;
#else
  bool had_value_ = false;
  std::vector<char> old_value_;
  unsigned long old_type_ = 0;
#endif
};

// Records the messages shown with MessageDlg while it lives.
struct MessageRecorder {
  struct Shown {
    std::string msg;
    TMsgDlgType type;
    TMsgDlgButtons buttons;
    int help_ctx;
  };
  MessageRecorder();
  ~MessageRecorder();
  std::vector<std::string> Texts() const;

  std::vector<Shown> shown;
  TMessageDlgHook previous;
};

}  // namespace fernwick::testing
