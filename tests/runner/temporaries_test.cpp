// Where the runner keeps its own temporaries, with other users on the same
// machine: a folder of each user's own, never one that another user made or
// can write to. The cases with two users run as root, the second user being
// nobody (setpriv); elsewhere they are skipped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "RunnerFixture.h"
#include "standins/runner/Installation.h"
#include "standins/runner/Runner.h"
#include "standins/runner/Temporaries.h"

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

constexpr const char* kAsNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";

// The runner's fixture with a temporary folder like /tmp of its own
// (root_/tmp, mode 1777) as TMPDIR and no XDG_RUNTIME_DIR.
class RunnerTemporaries : public RunnerFixture {
 protected:
  void SetUp() override {
    RunnerFixture::SetUp();
    tmp_ = root_ / "tmp";
    fs::create_directories(tmp_);
    ::chmod(tmp_.c_str(), 01777);
    for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name,
                          value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    RunnerFixture::TearDown();
  }
  // Runs `command` through the shell as nobody; returns its exit status.
  static int AsNobody(const std::string& command) {
    const int status = std::system((kAsNobody + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // "" when this test can act as nobody too, else why not.
  static std::string WhyNotAsNobody() {
    if (::geteuid() != 0) return "needs root, to act as nobody too";
    if (AsNobody("true 2>/dev/null") != 0) return "cannot act as nobody (setpriv from util-linux)";
    return "";
  }
  fs::path Own() const { return tmp_ / ("fernwick-hotsync-" + std::to_string(::geteuid())); }

  fs::path tmp_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

fs::perms Mode(const fs::path& path) {
  return fs::symlink_status(path).permissions() & fs::perms::mask;
}

TEST_F(RunnerTemporaries, EachUserHasAPrivateFolderAndTheRuntimeFolderComesFirst) {
  ASSERT_EQ(RunOnFolders({"sync", kMinimalExample}), kExitOk) << err_.str();
  EXPECT_EQ(Mode(Own()), fs::perms::owner_all);
  EXPECT_EQ(RunnerTemporaryFolder(), Own());

  const fs::path runtime = root_ / "run";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  fs::remove_all(Own());
  ASSERT_EQ(RunOnFolders({"sync", kMinimalExample}), kExitOk) << err_.str();
  EXPECT_EQ(Mode(runtime / "fernwick-hotsync"), fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(tmp_));
}

// A folder of the runner's name that is not private is never used: its
// owner could swap the registry file and make the conduits load a library
// of theirs. The same folder, made by another user, would do so too.
TEST_F(RunnerTemporaries, AFolderOthersCanWriteToIsRefused) {
  fs::create_directories(Own());
  fs::permissions(Own(), fs::perms::all);
  EXPECT_EQ(RunOnFolders({"sync", kMinimalExample}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr("refusing the runner's temporary folder: " + Own().string() +
                                    ": mode 0777 lets other users in"));
  EXPECT_TRUE(fs::is_empty(Own()));
  fs::remove(Own());
  fs::create_directory_symlink(root_ / "run", Own());
  EXPECT_EQ(RunOnFolders({"sync", kMinimalExample}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr(": a symbolic link"));
}

TEST_F(RunnerTemporaries, AnotherUsersFolderIsNeverUsed) {
  if (const std::string why = WhyNotAsNobody(); !why.empty()) GTEST_SKIP() << why;
  // What the other user made: the shared folder of earlier versions and
  // this user's own name, both open to anyone.
  ASSERT_EQ(AsNobody("mkdir -m 777 '" + (tmp_ / "fernwick-hotsync").string() + "' '" +
                     Own().string() + "'"),
            0);
  EXPECT_EQ(RunOnFolders({"sync", kMinimalExample}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr(Own().string() + ": owned by user 65534"));
  EXPECT_TRUE(fs::is_empty(tmp_ / "fernwick-hotsync"));
  EXPECT_TRUE(fs::is_empty(Own()));
}

// The first user's folder locked every later user out.
TEST_F(RunnerTemporaries, ASecondUserSyncsAfterTheFirst) {
  if (const std::string why = WhyNotAsNobody(); !why.empty()) GTEST_SKIP() << why;
  ASSERT_EQ(RunOnFolders({"sync", kMinimalExample}), kExitOk) << err_.str();
  const fs::path theirs = root_ / "nobody";
  fs::create_directories(theirs / "home");
  fs::create_directories(theirs / "desktop");
  fs::copy(handheld_, theirs / "handheld", fs::copy_options::recursive);
  for (const auto& entry : fs::recursive_directory_iterator(theirs)) {
    fs::permissions(entry.path(), fs::perms::all);
  }
  fs::permissions(theirs, fs::perms::all);
  const std::string command = "env HOME='" + (theirs / "home").string() + "' '" + ProgramFolder() +
                              "fernwick-hotsync' --handheld '" + (theirs / "handheld").string() +
                              "' --desktop '" + (theirs / "desktop").string() +
                              "' --no-log sync minimal_conduit.dll > '" +
                              (theirs / "out.txt").string() + "' 2>&1";
  EXPECT_EQ(AsNobody(command), 0) << ReadText(theirs / "out.txt");
  EXPECT_TRUE(fs::exists(tmp_ / "fernwick-hotsync-65534"));
}

}  // namespace
}  // namespace fernwick::runner

#endif
