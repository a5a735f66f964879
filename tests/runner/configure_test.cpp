// configure, then sync, through the runner: the action chosen in the
// conduit's dialog (answered by a script, as with --choose) reaches the
// conduit's next synchronisations the way HotSync Manager passes it on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "RunnerFixture.h"
#include "hotsync/runner/Runner.h"
#include "hotsync/runner/RunnerOptions.h"
#include "hotsync/runner/SyncChoices.h"

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
  fs::path file = fs::temp_directory_path() / "fernwick-sync-choices-test.state";
  fs::remove(file);
  SyncChoices choices(file.string());
  EXPECT_EQ(choices.Load(), "");
  choices.Record("Jo", "Memo Pad", stHHtoPC, spPermanentPreference);
  choices.Record("Jo", "Memo Pad", stPCtoHH, spTemporaryPreference);
  choices.Record("Tab\tUser", "Memo Pad", stPCtoHH, spTemporaryPreference);  // not storable
  ASSERT_EQ(choices.Save(), "");
  SyncChoices again(file.string());
  ASSERT_EQ(again.Load(), "");
  EXPECT_EQ(again.Get("Jo", "Memo Pad").Describe(), "stPCtoHH once, then stHHtoPC");
  EXPECT_EQ(again.Get("Tab\tUser", "Memo Pad").Describe(), "none (stFast)");
  EXPECT_TRUE(again.ConsumeTemporary("Jo", "Memo Pad"));
  EXPECT_FALSE(again.ConsumeTemporary("Jo", "Memo Pad"));
  EXPECT_EQ(again.Get("Jo", "Memo Pad").Next(), stHHtoPC);
  fs::remove(file);
}

}  // namespace
}  // namespace fernwick::runner
