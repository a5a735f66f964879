#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "standins/runner/Installation.h"
#include "standins/runner/Temporaries.h"

namespace fernwick::runner {

namespace {

constexpr const char* kRegistryVariable = "FERNWICK_REGISTRY";

// A string value of a registry file: backslashes and quotes escaped.
std::string RegString(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

struct HotSyncInstallation::Saved {
  std::filesystem::path folder;
  std::optional<std::string> previous;
};

std::string WithTrailingDelimiter(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string ProgramFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  return WithTrailingDelimiter(exe.parent_path().string());
}

HotSyncInstallation::HotSyncInstallation(const std::string& folder)
    : hotsync_path_(WithTrailingDelimiter(folder) + "HotSync.exe"),
      saved_(std::make_unique<Saved>()) {
  // A registry file value is one line: a line break cannot be written in it.
  if (folder.find_first_of("\n\r") != std::string::npos) {
    throw std::runtime_error("the stand-ins' folder \"" + folder +
                             "\" contains a line break, which the registry file cannot hold; " +
                             "move them to a folder without one");
  }
  std::string pattern;
  try {
    pattern = (RunnerTemporaryFolder() / (RunTemporaryPrefix("registry") + "XXXXXX")).string();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("cannot make the runner's temporary folder: ") + e.what());
  }
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder for the registry file");
  }
  saved_->folder = pattern;
  auto file = saved_->folder / "registry.reg";
  std::ofstream out(file);
  out << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
      << "\"HotSyncPath\"=\"" << RegString(hotsync_path_) << "\"\n";
  out.close();
  if (!out) throw std::runtime_error("cannot write the registry file " + file.string());
  if (const char* previous = std::getenv(kRegistryVariable)) saved_->previous = previous;
  setenv(kRegistryVariable, file.c_str(), 1);
}

HotSyncInstallation::~HotSyncInstallation() {
  if (saved_->previous) {
    setenv(kRegistryVariable, saved_->previous->c_str(), 1);
  } else {
    unsetenv(kRegistryVariable);
  }
  std::error_code ec;
  std::filesystem::remove_all(saved_->folder, ec);
}

}  // namespace fernwick::runner
