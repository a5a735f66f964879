// The runner end to end, in this process: it sets up the HotSync
// installation, loads the emulator, the log library and the example conduit
// from the test's own folder, and runs the conduit against a copy of the
// sample handheld.
#include "hotsync/runner/Runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "framework/DynLib.h"
#include "framework/Registry.h"
#include "hotsync/runner/RunnerOptions.h"

#ifndef FERNWICK_SAMPLE_HANDHELD
#error "FERNWICK_SAMPLE_HANDHELD must name the sample handheld folder"
#endif

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// The example conduit, as a user names it on either platform.
constexpr const char* kExample = "minimal_conduit.dll";

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = "fernwick-runner-test-";
    name += std::to_string(reinterpret_cast<std::uintptr_t>(this) & 0xffffff);
    handheld_ = fs::temp_directory_path() / name;
    fs::remove_all(handheld_);
    fs::copy(FERNWICK_SAMPLE_HANDHELD, handheld_, fs::copy_options::recursive);
#if !defined(_WIN32)
    // The test's own home and registry file, holding a HotSyncPath of its
    // own: the user's real ~/.fernwick/registry.reg is never read.
    home_ = handheld_.string() + "-home";
    fs::remove_all(home_);
    fs::create_directories(home_ / ".fernwick");
    for (const char* variable : {"HOME", "FERNWICK_REGISTRY"}) {
      const char* value = std::getenv(variable);
      saved_env_.emplace_back(variable,
                              value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("HOME", home_.c_str(), 1);
    unsetenv("FERNWICK_REGISTRY");
    std::ofstream(home_ / ".fernwick" / "registry.reg")
        << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
        << "\"HotSyncPath\"=\"/the/users/own/HotSync.exe\"\n";
#endif
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(handheld_, ec);
#if !defined(_WIN32)
    for (const auto& [variable, value] : saved_env_) {
      if (value) {
        setenv(variable.c_str(), value->c_str(), 1);
      } else {
        unsetenv(variable.c_str());
      }
    }
    fs::remove_all(home_, ec);
#endif
  }

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunCommand(ParseOptions(args), out_, err_);
  }
  std::vector<std::string> SyncArgs(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--handheld", handheld_.string(), "--user", "Jo Palm"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  fs::path handheld_;
  fs::path home_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_env_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(RunnerTest, SyncRunsTheExampleConduitAndPrintsTheLog) {
  EXPECT_EQ(Run(SyncArgs({"--sync-type", "slow", "sync", kExample})), kExitOk) << err_.str();
  std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("[1/1] Minimal Example ("));
  EXPECT_THAT(out, HasSubstr("): ok, "));
  EXPECT_THAT(out, HasSubstr("HotSync started "));
  EXPECT_THAT(out, HasSubstr("Minimal Example: synchronising user \"Jo Palm\" (stSlow)\n"));
  EXPECT_THAT(out, HasSubstr("OK Minimal Example\n"));
  EXPECT_EQ(err_.str(), "");
}

TEST_F(RunnerTest, UserDefaultsToTheHandheldsOwn) {
  EXPECT_EQ(Run({"--handheld", handheld_.string(), "sync", kExample}), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("synchronising user \""));
  EXPECT_THAT(out_.str(), Not(HasSubstr("synchronising user \"\"")));
}

TEST_F(RunnerTest, DoNothingWritesOneLineAndSucceeds) {
  EXPECT_EQ(Run(SyncArgs({"--sync-type", "donothing", "sync", kExample})), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("Minimal Example configured to Do Nothing\n"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("OK Minimal Example")));
}

TEST_F(RunnerTest, RefusedRegistrationFailsTheRun) {
  EXPECT_EQ(Run(SyncArgs({"--fault", "SyncRegisterConduit=16385", "sync", kExample})),
            kExitConduitFailed);
  std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("): FAILED"));
  EXPECT_THAT(out,
              HasSubstr("SyncRegisterConduit failed\nMinimal Example synchronization failed\n"));
  EXPECT_THAT(out, Not(HasSubstr("synchronising user")));
  EXPECT_THAT(err_.str(), HasSubstr("conduit Minimal Example failed"));

  // The fault was answered once; the next run is clean again.
  EXPECT_EQ(Run(SyncArgs({"sync", kExample})), kExitOk);
}

TEST_F(RunnerTest, EachConduitThatCannotBeLoadedSaysWhyAndTheOthersStillRun) {
  EXPECT_EQ(Run(SyncArgs({"sync", "no-such-conduit.dll", "hslog20.dll", kExample})),
            kExitLoadFailed);
  std::string err = err_.str();
  EXPECT_THAT(err, HasSubstr("no-such-conduit.dll: file not found\n"));
  EXPECT_THAT(err, HasSubstr("not a conduit library"));
  EXPECT_THAT(out_.str(), HasSubstr("[3/3] Minimal Example"));
  EXPECT_THAT(out_.str(), HasSubstr("OK Minimal Example"));
}

TEST_F(RunnerTest, InfoShowsWhatTheConduitSays) {
  EXPECT_EQ(Run({"info", kExample}), kExitOk) << err_.str();
  std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("Name:            Minimal Example\n"));
  EXPECT_THAT(out, HasSubstr("Version:         1.2 (0x0102)\n"));
  EXPECT_THAT(out, HasSubstr("Info name:       Minimal Example\n"));
  EXPECT_THAT(out, HasSubstr("MFC version:     0x10000000\n"));
  EXPECT_THAT(out, HasSubstr("Default action:  stFast\n"));
}

TEST_F(RunnerTest, ConfigureWithoutDialogIsCancelled) {
  // No window can be shown: the dialog counts as cancelled. (Windows always
  // has a desktop, so there the dialog is cancelled by a script.)
  std::vector<std::string> args = {"--desktop", handheld_.string(), "configure", kExample};
#if defined(_WIN32)
  args.insert(args.begin(), {"--choose", "cancel"});
#else
  const char* saved = std::getenv("DISPLAY");
  std::string display = saved != nullptr ? saved : "";
  unsetenv("DISPLAY");
#endif
  EXPECT_EQ(Run(args), kExitConduitFailed);
#if !defined(_WIN32)
  if (saved != nullptr) setenv("DISPLAY", display.c_str(), 1);
#endif
  EXPECT_THAT(out_.str(), HasSubstr("Minimal Example: cancelled (result -1)"));
  EXPECT_FALSE(fs::exists(handheld_ / "fernwick-hotsync.state"));
}

TEST_F(RunnerTest, InstallationPathIsRestoredAfterTheRun) {
  auto read_path = [] {
    TRegistry registry;
    if (!registry.OpenKeyReadOnly("Software\\U.S. Robotics\\Pilot Desktop\\Core"))
      return std::string();
    return registry.ReadString("HotSyncPath");
  };
  std::string before = read_path();
#if !defined(_WIN32)
  EXPECT_EQ(before, "/the/users/own/HotSync.exe");
#endif
  ASSERT_EQ(Run({"info", kExample}), kExitOk);
  EXPECT_EQ(read_path(), before);
}

TEST(RunnerOptionsTest, ParsesTheRecordOptions) {
  RunnerOptions o =
      ParseOptions({"--handheld", "h", "--desktop=d", "--user", "U", "--sync-type", "HHtoPC",
                    "--first-device", "pc", "--connection", "modem", "sync", "a.dll", "b.dll"});
  EXPECT_EQ(o.command, Command::kSync);
  EXPECT_EQ(o.desktop, "d");
  EXPECT_EQ(o.user, "U");
  EXPECT_EQ(o.sync_type, stHHtoPC);
  EXPECT_EQ(o.first_device, fsPC);
  EXPECT_EQ(o.connection, ctModem);
  EXPECT_THAT(o.conduits, ::testing::ElementsAre("a.dll", "b.dll"));
  EXPECT_EQ(ParseSyncType("stProfileInstall"), stProfileInstall);
  EXPECT_EQ(ParseSyncType("6"), stDoNothing);
}

TEST(RunnerOptionsTest, RefusesWhatCannotRun) {
  EXPECT_THROW(ParseOptions({}), UsageError);
  EXPECT_THROW(ParseOptions({"sync"}), UsageError);
  EXPECT_THROW(ParseOptions({"sync", "a.dll"}), UsageError);  // no handheld
  EXPECT_THROW(ParseOptions({"configure", "a.dll", "b.dll"}), UsageError);
  EXPECT_THROW(ParseOptions({"--sync-type", "sometimes", "info", "a.dll"}), UsageError);
  EXPECT_THROW(ParseOptions({"--fault", "SyncOpenDB", "info", "a.dll"}), UsageError);
  EXPECT_THROW(ParseOptions({"--user"}), UsageError);
  EXPECT_THROW(ParseOptions({"--bogus", "info", "a.dll"}), UsageError);
  EXPECT_EQ(ParseOptions({"info", "--help"}).command, Command::kHelp);
}

}  // namespace
}  // namespace fernwick::runner
