// The runner end to end, in this process: it sets up the HotSync
// installation, loads the emulator, the log library and the example conduit
// from the test's own folder, and runs the conduit against a copy of the
// sample handheld.
#include "standins/runner/Runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "RunnerFixture.h"
#include "standins/runner/RunnerOptions.h"
#include <fernwick/framework/DynLib.h>
#include <fernwick/framework/Registry.h>

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RunnerTest : public RunnerFixture {
 protected:
  // No --desktop: the runner's default desktop folder, in the test's own
  // home.
  std::vector<std::string> SyncArgs(const std::vector<std::string>& extra) {
    return Joined({"--handheld", handheld_.string(), "--user", "Jo Palm"}, extra);
  }
};

TEST_F(RunnerTest, SyncRunsTheExampleConduitAndPrintsTheLog) {
  EXPECT_EQ(Run(SyncArgs({"--sync-type", "slow", "sync", kMinimalExample})), kExitOk) << err_.str();
  std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("[1/1] Minimal Example ("));
  EXPECT_THAT(out, HasSubstr("): ok, "));
  EXPECT_THAT(out, HasSubstr("HotSync started "));
  EXPECT_THAT(out, HasSubstr("Minimal Example: synchronising user \"Jo Palm\" (stSlow)\n"));
  EXPECT_THAT(out, HasSubstr("OK Minimal Example\n"));
  EXPECT_EQ(err_.str(), "");
}

TEST_F(RunnerTest, UserDefaultsToTheHandheldsOwn) {
  EXPECT_EQ(Run({"--handheld", handheld_.string(), "sync", kMinimalExample}), kExitOk)
      << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("synchronising user \""));
  EXPECT_THAT(out_.str(), Not(HasSubstr("synchronising user \"\"")));
}

// A value longer than its field is refused, never cut: a cut desktop path
// names another folder.
TEST_F(RunnerTest, ValuesThatDoNotFitTheirFieldsAreRefused) {
  const std::string long_desktop = (handheld_ / std::string(260, 'd')).string();
  EXPECT_EQ(Run(SyncArgs({"--desktop", long_desktop, "sync", kMinimalExample})), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("PathName field holds at most 255"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("Minimal Example")));
  EXPECT_EQ(Run({"--handheld", handheld_.string(), "--user", std::string(256, 'u'), "sync",
                 kMinimalExample}),
            kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("--user is 256 characters long"));
  EXPECT_EQ(Run(SyncArgs({"--local-name", std::string(300, 'l'), "sync", kMinimalExample})),
            kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("LocalName"));
  // 255 characters fit.
  EXPECT_EQ(Run(SyncArgs({"--local-name", std::string(255, 'l'), "sync", kMinimalExample})),
            kExitOk)
      << err_.str();
}

TEST_F(RunnerTest, DoNothingWritesOneLineAndSucceeds) {
  EXPECT_EQ(Run(SyncArgs({"--sync-type", "donothing", "sync", kMinimalExample})), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("Minimal Example configured to Do Nothing\n"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("OK Minimal Example")));
}

TEST_F(RunnerTest, RefusedRegistrationFailsTheRun) {
  EXPECT_EQ(Run(SyncArgs({"--fault", "SyncRegisterConduit=16385", "sync", kMinimalExample})),
            kExitConduitFailed);
  std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("): FAILED"));
  EXPECT_THAT(out,
              HasSubstr("SyncRegisterConduit failed\nMinimal Example synchronization failed\n"));
  EXPECT_THAT(out, Not(HasSubstr("synchronising user")));
  EXPECT_THAT(err_.str(), HasSubstr("conduit Minimal Example failed"));

  // The fault was answered once; the next run is clean again.
  EXPECT_EQ(Run(SyncArgs({"sync", kMinimalExample})), kExitOk);
}

TEST_F(RunnerTest, EachConduitThatCannotBeLoadedSaysWhyAndTheOthersStillRun) {
  EXPECT_EQ(Run(SyncArgs({"sync", "no-such-conduit.dll", "hslog20.dll", kMinimalExample})),
            kExitLoadFailed);
  std::string err = err_.str();
  EXPECT_THAT(err, HasSubstr("no-such-conduit.dll: file not found\n"));
  EXPECT_THAT(err, HasSubstr("not a conduit library"));
  EXPECT_THAT(out_.str(), HasSubstr("[3/3] Minimal Example"));
  EXPECT_THAT(out_.str(), HasSubstr("OK Minimal Example"));
}

TEST_F(RunnerTest, InfoShowsWhatTheConduitSays) {
  EXPECT_EQ(Run({"info", kMinimalExample}), kExitOk) << err_.str();
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
  std::vector<std::string> args = {"--desktop", handheld_.string(), "configure", kMinimalExample};
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
  EXPECT_FALSE(std::filesystem::exists(handheld_ / "fernwick-hotsync.state"));
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
  EXPECT_EQ(before, kOwnHotSyncPath);
#endif
  ASSERT_EQ(Run({"info", kMinimalExample}), kExitOk);
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
  // An unset variable must not make the current folder the desktop.
  EXPECT_THROW(ParseOptions({"--desktop", "", "info", "a.dll"}), UsageError);
  EXPECT_EQ(ParseOptions({"info", "--help"}).command, Command::kHelp);
}

}  // namespace
}  // namespace fernwick::runner
