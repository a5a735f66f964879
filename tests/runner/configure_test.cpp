// configure, then sync, through the runner: the action chosen in the
// conduit's dialog (answered by a script, as with --choose) reaches the
// conduit's next synchronisations the way HotSync Manager passes it on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "RunnerFixture.h"
#include "standins/pdb/AtomicFile.h"
#include "standins/runner/Runner.h"
#include "standins/runner/RunnerOptions.h"
#include "standins/runner/SyncChoices.h"

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

class ConfigureTest : public RunnerFixture {
 protected:
  int Run(const std::vector<std::string>& args) {
    return RunOnFolders(Joined({"--user", "Jo Palm"}, args));
  }
  // The sync type the conduit received in one sync.
  std::string SyncedAs(const std::vector<std::string>& extra = {}) {
    EXPECT_EQ(Run(Joined(extra, {"sync", kMinimalExample})), kExitOk) << err_.str();
    std::string out = out_.str();
    if (out.find("Minimal Example configured to Do Nothing") != std::string::npos) {
      return "stDoNothing";
    }
    std::size_t at = out.find("synchronising user \"Jo Palm\" (");
    if (at == std::string::npos) return "not synchronised";
    at = out.find('(', at) + 1;
    return out.substr(at, out.find(')', at) - at);
  }
  fs::path StateFile() const { return desktop_ / "fernwick-hotsync.state"; }
};

TEST_F(ConfigureTest, ATemporaryChoiceServesTheNextSyncOnly) {
  ASSERT_EQ(Run({"--choose", "hhtopc", "configure", kMinimalExample}), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("accepted: sync type stHHtoPC, temporary"));
  EXPECT_THAT(out_.str(), HasSubstr("stored for Jo Palm: stHHtoPC once, then stFast"));
  ASSERT_EQ(Run({"info", kMinimalExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("Chosen action:   stHHtoPC once, then stFast for Jo Palm"));
  EXPECT_EQ(SyncedAs(), "stHHtoPC");
  EXPECT_EQ(SyncedAs(), "stFast");
  ASSERT_EQ(Run({"info", kMinimalExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("Chosen action:   none (stFast) for Jo Palm"));
}

TEST_F(ConfigureTest, APermanentChoiceServesEverySyncAndTheCommandLineOverridesIt) {
  ASSERT_EQ(Run({"--choose", "pctohh", "--default", "configure", kMinimalExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("accepted: sync type stPCtoHH, permanent"));
  EXPECT_EQ(SyncedAs(), "stPCtoHH");
  EXPECT_EQ(SyncedAs({"--sync-type", "slow"}), "stSlow");
  EXPECT_EQ(SyncedAs(), "stPCtoHH");

  // A temporary choice on top: once, then the permanent one is back. The
  // dialog opens on the stored action.
  ASSERT_EQ(Run({"--choose", "donothing", "configure", kMinimalExample}), kExitOk);
  EXPECT_EQ(SyncedAs(), "stDoNothing");
  EXPECT_EQ(SyncedAs(), "stPCtoHH");
  ASSERT_EQ(Run({"--choose", "sync", "configure", kMinimalExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("stFast once, then stPCtoHH"));
  // --sync-type does not use up the temporary choice.
  EXPECT_EQ(SyncedAs({"--sync-type", "backup"}), "stBackup");
  EXPECT_EQ(SyncedAs(), "stFast");
  EXPECT_EQ(SyncedAs(), "stPCtoHH");
}

// Under --isolate the child runs the stored choice as a sync in one process
// does: the permanent one every time, a temporary one once.
TEST_F(ConfigureTest, IsolatedSyncsFollowTheStoredChoices) {
  ASSERT_EQ(Run({"--choose", "hhtopc", "--default", "configure", kMinimalExample}), kExitOk);
  EXPECT_EQ(SyncedAs({"--isolate"}), "stHHtoPC");
  EXPECT_EQ(SyncedAs({"--isolate"}), "stHHtoPC");
  ASSERT_EQ(Run({"--choose", "pctohh", "configure", kMinimalExample}), kExitOk);
  EXPECT_EQ(SyncedAs({"--isolate", "--sync-type", "slow"}), "stSlow");
  EXPECT_EQ(SyncedAs({"--isolate"}), "stPCtoHH");
  EXPECT_EQ(SyncedAs({"--isolate"}), "stHHtoPC");
}

TEST_F(ConfigureTest, AFailedSyncKeepsTheTemporaryChoice) {
  ASSERT_EQ(Run({"--choose", "hhtopc", "configure", kMinimalExample}), kExitOk);
  EXPECT_EQ(Run({"--fault", "SyncRegisterConduit=16385", "sync", kMinimalExample}),
            kExitConduitFailed);
  EXPECT_EQ(SyncedAs(), "stHHtoPC");
  EXPECT_EQ(SyncedAs(), "stFast");
}

TEST_F(ConfigureTest, CancelStoresNothingAndChoicesArePerUser) {
  ASSERT_EQ(Run({"--choose", "hhtopc", "--default", "configure", kMinimalExample}), kExitOk);
  EXPECT_EQ(Run({"--choose", "cancel", "configure", kMinimalExample}), kExitConduitFailed);
  EXPECT_THAT(out_.str(), HasSubstr("Minimal Example: cancelled (result -1)\n"));
  EXPECT_EQ(SyncedAs(), "stHHtoPC");
  // Another user of the same desktop folder has made no choice.
  EXPECT_EQ(Run({"--user", "Other", "sync", kMinimalExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("(stFast)"));
}

// The user is present during configure: a conduit that answers -1 is shown
// why, from the HotSync log that is otherwise deleted unseen.
TEST_F(ConfigureTest, AConfigureThatFailsOrShowsNoDialogSaysWhy) {
  EXPECT_EQ(Run({"configure", "throwing_configure_conduit.dll"}), kExitConduitFailed);
  EXPECT_THAT(out_.str(),
              HasSubstr("Throwing Configure: failed (result -1): preferences file is locked\n"));
#ifndef _WIN32
  const char* saved = std::getenv("DISPLAY");
  const std::string display = saved != nullptr ? saved : "";
  unsetenv("DISPLAY");
  EXPECT_EQ(Run({"configure", kMinimalExample}), kExitConduitFailed);
  if (saved != nullptr) setenv("DISPLAY", display.c_str(), 1);
  EXPECT_THAT(out_.str(),
              HasSubstr("Minimal Example: cancelled (result -1): Change HotSync Action: "
                        "the dialog cannot be shown: "));
  EXPECT_THAT(out_.str(), HasSubstr("; it counts as cancelled\n"));
#endif
}

TEST_F(ConfigureTest, ADamagedStateFileIsRefusedNamingTheLine) {
  {
    std::ofstream out(StateFile());
    out << "# comment\nJo Palm\tMinimal Example\tstHHtoPC\n";
  }
  EXPECT_EQ(Run({"sync", kMinimalExample}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr("fernwick-hotsync.state line 2: expected user, conduit"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("synchronising")));
  EXPECT_EQ(Run({"--choose", "sync", "configure", kMinimalExample}), kExitLoadFailed);
}

TEST_F(ConfigureTest, ChooseIsCheckedOnTheCommandLine) {
  EXPECT_THROW(Run({"--choose", "sideways", "configure", kMinimalExample}), UsageError);
  EXPECT_THROW(ParseOptions({"--default", "configure", kMinimalExample}), UsageError);
  EXPECT_THROW(ParseOptions({"--choose", "sync", "--handheld", "x", "sync", kMinimalExample}),
               UsageError);
}

TEST(SyncChoices, RoundTripsThroughTheFile) {
  fs::path file = fs::temp_directory_path() / ("fernwick-sync-choices-test-" +
                                               std::to_string(pdb::CurrentProcessId()) + ".state");
  fs::remove(file);
  SyncChoices choices(file.string());
  EXPECT_EQ(choices.Load(), "");
  ASSERT_EQ(choices.Record("Jo", "Memo Pad", stHHtoPC, spPermanentPreference), "");
  ASSERT_EQ(choices.Record("Jo", "Memo Pad", stPCtoHH, spTemporaryPreference), "");
  // Names that once ended a field or passed for a comment.
  ASSERT_EQ(choices.Record("Tab\tUser", "Memo Pad", stPCtoHH, spTemporaryPreference), "");
  ASSERT_EQ(choices.Record("#1 %41", "Line\nBreak", stDoNothing, spPermanentPreference), "");
  SyncChoices again(file.string());
  ASSERT_EQ(again.Load(), "");
  EXPECT_EQ(again.Get("Jo", "Memo Pad").Describe(), "stPCtoHH once, then stHHtoPC");
  EXPECT_EQ(again.Get("Tab\tUser", "Memo Pad").Describe(), "stPCtoHH once, then stFast");
  EXPECT_EQ(again.Get("#1 %41", "Line\nBreak").Describe(), "stDoNothing (permanent)");
  bool dropped = false;
  EXPECT_EQ(again.ConsumeTemporary("Jo", "Memo Pad", stPCtoHH, dropped), "");
  EXPECT_TRUE(dropped);
  EXPECT_EQ(again.ConsumeTemporary("Jo", "Memo Pad", stPCtoHH, dropped), "");
  EXPECT_FALSE(dropped);
  EXPECT_EQ(again.Get("Jo", "Memo Pad").Next(), stHHtoPC);

  // A file written before names were escaped is read as it stands.
  std::ofstream(file)
      << "# fernwick-hotsync: HotSync action choices\nJo %41\tMemo Pad\tstSlow\t-\n";
  ASSERT_EQ(again.Load(), "");
  EXPECT_EQ(again.Get("Jo %41", "Memo Pad").Describe(), "stSlow (permanent)");
  fs::remove(file);
  fs::remove(file.string() + ".lock");
}

// Two runs hold the file at once (a sync that read it at its start, a
// configure meanwhile): each changes only its own entry, and neither loses
// what the other stored.
TEST(SyncChoices, WritersThatOverlapKeepEachOthersChoices) {
  fs::path file = fs::temp_directory_path() / ("fernwick-sync-choices-overlap-" +
                                               std::to_string(pdb::CurrentProcessId()) + ".state");
  fs::remove(file);
  SyncChoices sync(file.string());
  ASSERT_EQ(sync.Record("Jo", "Memo Pad", stHHtoPC, spTemporaryPreference), "");
  SyncChoices configure(file.string());
  ASSERT_EQ(configure.Load(), "");
  ASSERT_EQ(configure.Record("Jo", "To Do", stDoNothing, spPermanentPreference), "");
  bool dropped = false;
  ASSERT_EQ(sync.ConsumeTemporary("Jo", "Memo Pad", stHHtoPC, dropped), "");
  EXPECT_TRUE(dropped);
  // A new temporary choice made while the sync used the old one stays.
  ASSERT_EQ(configure.Record("Jo", "Memo Pad", stSlow, spTemporaryPreference), "");
  ASSERT_EQ(sync.ConsumeTemporary("Jo", "Memo Pad", stHHtoPC, dropped), "");
  EXPECT_FALSE(dropped);
  SyncChoices after(file.string());
  ASSERT_EQ(after.Load(), "");
  EXPECT_EQ(after.Get("Jo", "To Do").Describe(), "stDoNothing (permanent)");
  EXPECT_EQ(after.Get("Jo", "Memo Pad").Describe(), "stSlow once, then stFast");

  // Writers in two threads at once, each through its own lock handle.
  auto writer = [&](const std::string& user) {
    SyncChoices mine(file.string());
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(mine.Record(user, "Conduit " + std::to_string(i), stSlow, spPermanentPreference),
                "");
    }
  };
  std::thread first(writer, "First");
  std::thread second(writer, "Second");
  first.join();
  second.join();
  ASSERT_EQ(after.Load(), "");
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(after.Get("First", "Conduit " + std::to_string(i)).Next(), stSlow) << i;
    EXPECT_EQ(after.Get("Second", "Conduit " + std::to_string(i)).Next(), stSlow) << i;
  }
  fs::remove(file);
  fs::remove(file.string() + ".lock");
}

// A user name the old file took for a comment: configure said "stored", and
// the next sync ran fast and changed the handheld.
TEST_F(ConfigureTest, AnyUserNameIsStoredAndFoundAgain) {
  const std::string user = "#1\tPalm";
  ASSERT_EQ(
      Run({"--user", user, "--choose", "donothing", "--default", "configure", kMinimalExample}),
      kExitOk)
      << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("stDoNothing (permanent)"));
  EXPECT_EQ(SyncedAs({"--user", user}), "stDoNothing");
}

// Without --user or --handheld the choice goes to the default user, which
// a sync of a handheld with a user of its own never finds: configure says so.
TEST_F(ConfigureTest, AChoiceForTheDefaultUserSaysSo) {
  const std::vector<std::string> choose = {"--choose", "donothing", "--default", "configure",
                                           kMinimalExample};
  ASSERT_EQ(RunnerFixture::Run(Joined({"--desktop", desktop_.string()}, choose)), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("stored for HotSync User: stDoNothing (permanent)"));
  EXPECT_THAT(err_.str(), HasSubstr("no --user or --handheld given: the choice is stored for the "
                                    "user \"HotSync User\", which a sync finds only"));
  ASSERT_EQ(RunOnFolders(choose), kExitOk);
  EXPECT_THAT(err_.str(), Not(HasSubstr("HotSync User")));
}

// What lies at the state file's name and is not a plain file of a sane size
// is refused at once: a FIFO hung sync and info, a link to /dev/zero ate
// memory. A link planted at the old fixed temporary name is not written
// through.
TEST_F(ConfigureTest, AStateFileThatIsNoPlainFileIsRefused) {
  std::ofstream(StateFile()) << std::string(SyncChoices::kMaxFileSize + 1, '#');
  EXPECT_EQ(Run({"sync", kMinimalExample}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr("fernwick-hotsync.state: larger than 1048576 bytes"));
  fs::remove(StateFile());
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(StateFile().c_str(), 0600), 0);
  for (const char* command : {"sync", "info"}) {
    EXPECT_EQ(Run({command, kMinimalExample}), kExitLoadFailed) << command;
    EXPECT_THAT(err_.str(), HasSubstr("fernwick-hotsync.state: not a regular file"));
  }
  fs::remove(StateFile());
  fs::create_symlink("/dev/zero", StateFile());
  EXPECT_EQ(Run({"info", kMinimalExample}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr("not a regular file"));
  fs::remove(StateFile());

  const fs::path victim = root_ / "victim";
  std::ofstream(victim) << "untouched";
  fs::create_symlink(victim, StateFile().string() + ".new");
  ASSERT_EQ(Run({"--choose", "hhtopc", "configure", kMinimalExample}), kExitOk) << err_.str();
  EXPECT_EQ(ReadText(victim), "untouched");
  EXPECT_EQ(fs::status(StateFile()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
}

}  // namespace
}  // namespace fernwick::runner
