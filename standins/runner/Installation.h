// The HotSync installation as the conduits see it while the runner runs:
// the registry value "HotSyncPath" under
// "Software\U.S. Robotics\Pilot Desktop\Core" of the current user, pointing
// at the folder of the stand-ins.
#pragma once

#include <memory>
#include <string>

namespace fernwick::runner {

// Points HotSyncPath at a file in `folder` for the lifetime of the object.
//
// POSIX: writes a registry file holding only that value into a fresh
// temporary folder and names it in FERNWICK_REGISTRY (the variable through
// which the library finds its registry); the previous value of the variable
// comes back and the file is removed when the object ends.
//
// Windows: writes the real value under HKEY_CURRENT_USER and, when the
// object ends, writes the previous value back, or removes the value (and
// the key, when the runner created it) when there was none.
//
// Throws std::runtime_error with a one-line reason when it cannot.
class HotSyncInstallation {
 public:
  explicit HotSyncInstallation(const std::string& folder);
  ~HotSyncInstallation();
  HotSyncInstallation(const HotSyncInstallation&) = delete;
  HotSyncInstallation& operator=(const HotSyncInstallation&) = delete;

  // The value written: the path of "HotSync.exe" in the folder.
  const std::string& HotSyncPath() const { return hotsync_path_; }

 private:
  struct Saved;
  std::string hotsync_path_;
  std::unique_ptr<Saved> saved_;
};

// The folder of the running program, with a trailing delimiter.
std::string ProgramFolder();

// `folder` with a trailing path delimiter of the platform.
std::string WithTrailingDelimiter(std::string folder);

}  // namespace fernwick::runner
