// configure, then sync, through the runner: the action chosen in the
// conduit's dialog (answered by a script, as with --choose) reaches the
// conduit's next synchronisations the way HotSync Manager passes it on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hotsync/runner/Runner.h"
#include "hotsync/runner/RunnerOptions.h"
#include "hotsync/runner/SyncChoices.h"

#ifndef FERNWICK_SAMPLE_HANDHELD
#error "FERNWICK_SAMPLE_HANDHELD must name the sample handheld folder"
#endif

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

constexpr const char* kExample = "minimal_conduit.dll";

class ConfigureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = "fernwick-configure-test-";
    name += std::to_string(reinterpret_cast<std::uintptr_t>(this) & 0xffffff);
    root_ = fs::temp_directory_path() / name;
    fs::remove_all(root_);
    fs::create_directories(root_);
    fs::copy(FERNWICK_SAMPLE_HANDHELD, root_ / "handheld", fs::copy_options::recursive);
    fs::create_directories(root_ / "desktop");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  int Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--handheld", (root_ / "handheld").string(),
                                    "--desktop",  (root_ / "desktop").string(),
                                    "--user",     "Jo Palm"};
    all.insert(all.end(), args.begin(), args.end());
    out_.str("");
    err_.str("");
    return RunCommand(ParseOptions(all), out_, err_);
  }
  // The sync type the conduit received in one sync.
  std::string SyncedAs(std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"sync", kExample});
    EXPECT_EQ(Run(extra), kExitOk) << err_.str();
    std::string out = out_.str();
    if (out.find("Minimal Example configured to Do Nothing") != std::string::npos) {
      return "stDoNothing";
    }
    std::size_t at = out.find("synchronising user \"Jo Palm\" (");
    if (at == std::string::npos) return "not synchronised";
    at = out.find('(', at) + 1;
    return out.substr(at, out.find(')', at) - at);
  }
  fs::path StateFile() const { return root_ / "desktop" / "fernwick-hotsync.state"; }

  fs::path root_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ConfigureTest, ATemporaryChoiceServesTheNextSyncOnly) {
  ASSERT_EQ(Run({"--choose", "hhtopc", "configure", kExample}), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("accepted: sync type stHHtoPC, temporary"));
  EXPECT_THAT(out_.str(), HasSubstr("stored for Jo Palm: stHHtoPC once, then stFast"));
  ASSERT_EQ(Run({"info", kExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("Chosen action:   stHHtoPC once, then stFast for Jo Palm"));
  EXPECT_EQ(SyncedAs(), "stHHtoPC");
  EXPECT_EQ(SyncedAs(), "stFast");
  ASSERT_EQ(Run({"info", kExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("Chosen action:   none (stFast) for Jo Palm"));
}

TEST_F(ConfigureTest, APermanentChoiceServesEverySyncAndTheCommandLineOverridesIt) {
  ASSERT_EQ(Run({"--choose", "pctohh", "--default", "configure", kExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("accepted: sync type stPCtoHH, permanent"));
  EXPECT_EQ(SyncedAs(), "stPCtoHH");
  EXPECT_EQ(SyncedAs({"--sync-type", "slow"}), "stSlow");
  EXPECT_EQ(SyncedAs(), "stPCtoHH");

  // A temporary choice on top: once, then the permanent one is back. The
  // dialog opens on the stored action.
  ASSERT_EQ(Run({"--choose", "donothing", "configure", kExample}), kExitOk);
  EXPECT_EQ(SyncedAs(), "stDoNothing");
  EXPECT_EQ(SyncedAs(), "stPCtoHH");
  ASSERT_EQ(Run({"--choose", "sync", "configure", kExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("stFast once, then stPCtoHH"));
  // --sync-type does not use up the temporary choice.
  EXPECT_EQ(SyncedAs({"--sync-type", "backup"}), "stBackup");
  EXPECT_EQ(SyncedAs(), "stFast");
  EXPECT_EQ(SyncedAs(), "stPCtoHH");
}

TEST_F(ConfigureTest, AFailedSyncKeepsTheTemporaryChoice) {
  ASSERT_EQ(Run({"--choose", "hhtopc", "configure", kExample}), kExitOk);
  EXPECT_EQ(Run({"--fault", "SyncRegisterConduit=16385", "sync", kExample}), kExitConduitFailed);
  EXPECT_EQ(SyncedAs(), "stHHtoPC");
  EXPECT_EQ(SyncedAs(), "stFast");
}

TEST_F(ConfigureTest, CancelStoresNothingAndChoicesArePerUser) {
  ASSERT_EQ(Run({"--choose", "hhtopc", "--default", "configure", kExample}), kExitOk);
  EXPECT_EQ(Run({"--choose", "cancel", "configure", kExample}), kExitConduitFailed);
  EXPECT_THAT(out_.str(), HasSubstr("cancelled (result -1)"));
  EXPECT_EQ(SyncedAs(), "stHHtoPC");
  // Another user of the same desktop folder has made no choice.
  EXPECT_EQ(Run({"--user", "Other", "sync", kExample}), kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr("(stFast)"));
}

TEST_F(ConfigureTest, ADamagedStateFileIsRefusedNamingTheLine) {
  {
    std::ofstream out(StateFile());
    out << "# comment\nJo Palm\tMinimal Example\tstHHtoPC\n";
  }
  EXPECT_EQ(Run({"sync", kExample}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr("fernwick-hotsync.state line 2: expected user, conduit"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("synchronising")));
  EXPECT_EQ(Run({"--choose", "sync", "configure", kExample}), kExitLoadFailed);
}

TEST_F(ConfigureTest, ChooseIsCheckedOnTheCommandLine) {
  EXPECT_THROW(Run({"--choose", "sideways", "configure", kExample}), UsageError);
  EXPECT_THROW(ParseOptions({"--default", "configure", kExample}), UsageError);
  EXPECT_THROW(ParseOptions({"--choose", "sync", "--handheld", "x", "sync", kExample}), UsageError);
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
