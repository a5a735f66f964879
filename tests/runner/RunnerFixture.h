// The set-up every test of the runner shares: a private copy of the sample
// handheld, an empty desktop folder and a home of its own, and the runner's
// output captured.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fernwick::runner {

// The minimal example conduit, as a user names it on either platform.
inline constexpr const char* kMinimalExample = "minimal_conduit.dll";

// A test fixture in a fresh temporary folder of its own:
//   root_/handheld  a copy of the sample handheld (FERNWICK_SAMPLE_HANDHELD)
//   root_/desktop   an empty desktop folder
//   root_/home      the user's home for the test's duration, so that the
//                   runner's default desktop folder lies below it: APPDATA
//                   on Windows; elsewhere HOME, holding
//                   .fernwick/registry.reg with HotSyncPath kOwnHotSyncPath,
//                   with FERNWICK_REGISTRY and XDG_DATA_HOME unset. The
//                   user's real registry file and desktop folder are never
//                   read or written (Windows keeps its one registry).
// TearDown puts the environment back and removes root_ with all it holds.
// A fixture that overrides SetUp calls RunnerFixture::SetUp first; one
// that overrides TearDown calls RunnerFixture::TearDown last.
class RunnerFixture : public ::testing::Test {
 protected:
  // The HotSyncPath that the private registry file holds before any run.
  static constexpr const char* kOwnHotSyncPath = "/the/users/own/HotSync.exe";

  void SetUp() override;
  void TearDown() override;

  // Runs the runner's command line `args`, its output captured in out_ and
  // err_ (emptied first). Returns the runner's exit code; a command line the
  // runner refuses throws UsageError, as ParseOptions does.
  int Run(const std::vector<std::string>& args);
  // Run with "--handheld <handheld_> --desktop <desktop_>" put before `args`.
  int RunOnFolders(const std::vector<std::string>& args);
  // Mounts an empty tmpfs of `size` ("8k") on desktop_ until TearDown, for a
  // desktop disk that fills up. Returns "" when mounted, else why it cannot
  // be (not Linux, or mounting not permitted: it needs root).
  std::string MountSmallDesktop(const char* size);

  std::filesystem::path root_;
  std::filesystem::path handheld_;
  std::filesystem::path desktop_;
  std::ostringstream out_;
  std::ostringstream err_;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_environment_;
  bool small_desktop_mounted_ = false;
};

// `first` followed by `then`: a command line put together from its parts.
std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& then);

// The bytes of the file at `path`; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& path);

}  // namespace fernwick::runner
