#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "ScriptedSyncManager.h"
#include <fernwick/conduit/ConduitEntryPoints.h>
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Forms.h>
#include <fernwick/link/DorvConduitApi.h>

namespace fernwick {
namespace {

using ::testing::ElementsAre;
using testing::LogLine;
using testing::Script;

// The name request of GetConduitInfo: version, size, then 72 unread bytes.
struct NameRequest {
  std::uint32_t version = 1;
  std::uint32_t size = 80;
  std::uint8_t rest[72] = {};
};

class EntryPointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::BindScriptedSyncManager();
    InitializeDorvPalmConduit();
    SetConduitModuleError(nullptr);
  }
  void TearDown() override {
    owner_.reset();
    SetConduitModuleError(nullptr);
    testing::UnbindScriptedSyncManager();
  }
  TDorvConduit* MakeConduit(const std::string& name) {
    auto* conduit = new TDorvConduit(owner_.get());
    conduit->SetConduitName(name);
    Script().calls.clear();
    return conduit;
  }

  std::unique_ptr<TComponent> owner_ = std::make_unique<TComponent>(nullptr);
};

TEST_F(EntryPointsTest, WithoutAConduitEveryEntryAnswersNeutrally) {
  TSyncProperties props{};
  EXPECT_EQ(EntryOpenConduit(nullptr, &props), 0);
  std::array<char, 8> buffer;
  buffer.fill('#');
  EXPECT_EQ(EntryGetConduitName(buffer.data(), 8), 0);
  EXPECT_THAT(buffer, ::testing::Each('#'));
  EXPECT_EQ(EntryGetConduitVersion(), 0);
  TSyncPreference prefs{};
  EXPECT_EQ(EntryConfigureConduit(&prefs), -1);

  NameRequest request;
  char name[32];
  std::uint32_t size = sizeof name;
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, &request, name, &size), 0);
  EXPECT_STREQ(name, "Unnamed Conduit");
  std::uint32_t action = 99;
  size = 4;
  EXPECT_EQ(EntryGetConduitInfo(cieDefaultAction, &request, &action, &size), 0);
  EXPECT_EQ(action, static_cast<std::uint32_t>(stFast));
  EXPECT_TRUE(Script().log.empty());
}

TEST_F(EntryPointsTest, DestroyedConduitIsNeverReached) {
  TDorvConduit* conduit = MakeConduit("Gone");
  conduit->SetMajorVersion(3);
  EXPECT_EQ(EntryGetConduitVersion(), 0x300);
  delete conduit;
  EXPECT_EQ(EntryGetConduitVersion(), 0);
  TSyncProperties props{};
  EXPECT_EQ(EntryOpenConduit(nullptr, &props), 0);
  char name[16] = "untouched";
  EXPECT_EQ(EntryGetConduitName(name, sizeof name), 0);
  EXPECT_STREQ(name, "untouched");
  EXPECT_TRUE(Script().calls.empty());
}

TEST_F(EntryPointsTest, GetConduitNameZeroFillsTheWholeBuffer) {
  MakeConduit("Memos");
  std::array<char, 64> buffer;
  buffer.fill('#');
  EXPECT_EQ(EntryGetConduitName(buffer.data(), 64), 0);
  EXPECT_EQ(std::string(buffer.data(), 5), "Memos");
  EXPECT_TRUE(std::all_of(buffer.begin() + 5, buffer.end(), [](char c) { return c == 0; }));
}

TEST_F(EntryPointsTest, GetConduitNameCutsANameThatDoesNotFit) {
  MakeConduit("A rather long conduit name");
  std::array<char, 12> buffer;
  buffer.fill('#');
  // Only the first 6 bytes belong to the caller; the rest must stay as it is.
  EXPECT_EQ(EntryGetConduitName(buffer.data(), 6), 0);
  EXPECT_STREQ(buffer.data(), "A rat");
  EXPECT_TRUE(std::all_of(buffer.begin() + 6, buffer.end(), [](char c) { return c == '#'; }));
  EXPECT_EQ(EntryGetConduitName(buffer.data(), 0), 0);
  EXPECT_EQ(EntryGetConduitName(nullptr, 10), 0);
  EXPECT_EQ(EntryGetConduitName(buffer.data(), 1), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], ' ');  // left from the call before
}

TEST_F(EntryPointsTest, GetConduitInfoChecksItsArgumentsInOrder) {
  MakeConduit("Memos");
  NameRequest request;
  std::uint32_t value = 0;
  std::uint32_t size = 4;
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, nullptr, nullptr, nullptr), 4209);
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, &request, &value, nullptr), 4215);
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, nullptr, &value, &size), 4212);
  request.version = 2;
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, &request, &value, &size), 4213);
  request.version = 1;
  request.size = 84;
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, &request, &value, &size), 4213);
  size = 8;
  EXPECT_EQ(EntryGetConduitInfo(cieMfcVersion, nullptr, &value, &size), 4211);
  EXPECT_EQ(EntryGetConduitInfo(cieDefaultAction, nullptr, &value, &size), 4211);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(size, 8u);
}

TEST_F(EntryPointsTest, GetConduitInfoAnswers) {
  TDorvConduit* conduit = MakeConduit("Memos");
  conduit->SetDefaultAction(stHHtoPC);
  std::uint32_t value = 0;
  std::uint32_t size = 4;
  EXPECT_EQ(EntryGetConduitInfo(cieMfcVersion, nullptr, &value, &size), 0);
  EXPECT_EQ(value, 0x10000000u);
  EXPECT_EQ(EntryGetConduitInfo(cieDefaultAction, nullptr, &value, &size), 0);
  EXPECT_EQ(value, static_cast<std::uint32_t>(stHHtoPC));
  value = 0x5a5a5a5a;
  EXPECT_EQ(EntryGetConduitInfo(7, nullptr, &value, &size), 0);
  EXPECT_EQ(value, 0x5a5a5a5au);

  NameRequest request;
  std::array<char, 16> name;
  name.fill('#');
  size = 16;
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, &request, name.data(), &size), 0);
  EXPECT_STREQ(name.data(), "Memos");
  EXPECT_EQ(name[6], '#');  // the name and its terminator only
  EXPECT_EQ(size, 16u);
}

TEST_F(EntryPointsTest, GetConduitInfoNameStaysInsideOutSize) {
  MakeConduit("A rather long conduit name");
  NameRequest request;
  std::array<char, 16> name;
  name.fill('#');
  std::uint32_t size = 4;
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, &request, name.data(), &size), 0);
  EXPECT_STREQ(name.data(), "A r");
  EXPECT_EQ(name[4], '#');
  size = 0;
  EXPECT_EQ(EntryGetConduitInfo(cieConduitName, &request, name.data(), &size), 4211);
  EXPECT_EQ(name[0], 'A');
}

TEST_F(EntryPointsTest, OpenConduitRunsTheConduit) {
  TDorvConduit* conduit = MakeConduit("Memos");
  conduit->SetOnOpenConduit([](std::int32_t& error) { error = 5; });
  TSyncProperties props{};
  props.SyncType = stSlow;
  EXPECT_EQ(EntryOpenConduit(nullptr, &props), 5);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{"", 19}, LogLine{"Error in OnOpenConduit", -1},
                                        LogLine{"Memos", 21}));
}

TEST_F(EntryPointsTest, NoExceptionCrossesOpenConduit) {
  TDorvConduit* conduit = MakeConduit("Memos");
  // A handler's own std::stoi on text that is no number: the line says what
  // kind of failure it was, not just "stoi".
  conduit->SetOnOpenConduit([](std::int32_t&) { (void)std::stoi("x"); });
  TSyncProperties props{};
  EXPECT_EQ(EntryOpenConduit(nullptr, &props), kErrUnexpectedException);
  EXPECT_THAT(
      Script().log,
      ElementsAre(LogLine{"", 19}, LogLine{"Unexpected exception std::invalid_argument: stoi", -1},
                  LogLine{"Memos", 21}));
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit", "SyncUnRegisterConduit 42"));

  // The library's own exceptions keep their messages as they are.
  Script().log.clear();
  conduit->SetOnOpenConduit(
      [](std::int32_t&) { throw EConvertError("Year outside Palm date range"); });
  EXPECT_EQ(EntryOpenConduit(nullptr, &props), kErrUnexpectedException);
  EXPECT_THAT(Script().log,
              ElementsAre(LogLine{"", 19}, LogLine{"Year outside Palm date range", -1},
                          LogLine{"Memos", 21}));

  Script().log.clear();
  conduit->SetOnOpenConduit([](std::int32_t&) { throw 17; });
  EXPECT_EQ(EntryOpenConduit(nullptr, &props), kErrUnexpectedException);
  EXPECT_THAT(Script().log,
              ElementsAre(LogLine{"", 19}, LogLine{"Unknown exception in OpenConduit", -1},
                          LogLine{"Memos", 21}));
  EXPECT_EQ(EntryOpenConduit(nullptr, nullptr), kErrNullProperties);
}

TEST_F(EntryPointsTest, NoExceptionCrossesConfigureConduit) {
  TDorvConduit* conduit = MakeConduit("Memos");
  conduit->SetOnConfigureConduit(
      [](TSyncPreference&, bool&) { throw EDorvConduitError("bad preference", 3); });
  TSyncPreference prefs{};
  // The export answers only 0 or -1, and no synchronisation ran: no
  // activity-21 line.
  EXPECT_EQ(EntryConfigureConduit(&prefs), -1);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{"bad preference", -1}));
  EXPECT_EQ(EntryConfigureConduit(nullptr), -1);
}

TEST_F(EntryPointsTest, ConfigureConduitRunsTheDialogAndDestroysItAfterwards) {
  MakeConduit("Memos");
  SetFormBackendFactory([] {
    return std::make_unique<TScriptedFormBackend>(
        std::vector<std::string>{"HandheldRB", "DefaultCB", "OkBtn"});
  });
  TSyncPreference prefs{};
  EXPECT_EQ(EntryConfigureConduit(&prefs), 0);
  EXPECT_EQ(prefs.SyncType, stHHtoPC);
  EXPECT_EQ(prefs.SyncPref, spPermanentPreference);
  EXPECT_EQ(Application().ComponentCount(), 0);

  SetFormBackendFactory(
      [] { return std::make_unique<TScriptedFormBackend>(std::vector<std::string>{"DesktopRB"}); });
  EXPECT_EQ(EntryConfigureConduit(&prefs), -1);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{
                                "Dialog script ended while DorvConfigureDlg was still open", -1}));
  EXPECT_EQ(prefs.SyncType, stHHtoPC);
  EXPECT_EQ(prefs.SyncPref, spNoPreference);
  EXPECT_EQ(Application().ComponentCount(), 0);
  SetFormBackendFactory({});
}

// The user sees no dialog: the HotSync log says why.
TEST_F(EntryPointsTest, ADialogThatCannotBeShownSaysWhyInTheLog) {
  MakeConduit("Memos");
  SetFormBackendFactory([] {
    struct NoWindow : TFormBackend {
      int ShowModal(TForm& form) override {
        form.NotShown("no display");
        return mrNone;
      }
    };
    return std::make_unique<NoWindow>();
  });
  TSyncPreference prefs{};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(EntryConfigureConduit(&prefs), -1);
  ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(Script().log,
              ElementsAre(LogLine{"Change HotSync Action: the dialog cannot be shown: "
                                  "no display; it counts as cancelled",
                                  slWarning}));
  SetFormBackendFactory({});
}

TEST_F(EntryPointsTest, FailedModuleCreationFailsOpenConduit) {
  std::string error = "Conduit API version must be 2.1 or later";
  SetConduitModuleError(&error);
  TSyncProperties props{};
  EXPECT_EQ(EntryOpenConduit(nullptr, &props), kErrNoConduitModule);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{error, -1}, LogLine{"Unnamed Conduit", 21}));
}

// A data module whose constructor builds a conduit; the library object
// creates it once and destroys it first.
class TTestModule : public TComponent {
 public:
  explicit TTestModule(TComponent* owner) : TComponent(owner) {
    (new TDorvConduit(this))->SetConduitName("Module conduit");
  }
};

std::unique_ptr<TComponent> CreateTestModule() { return std::make_unique<TTestModule>(nullptr); }
std::unique_ptr<TComponent> CreateFailingModule() {
  throw EDorvConduitError("Conduit API version must be 2.1 or later", -2);
}

int g_units_started = 0;
void StartUnits() { ++g_units_started; }
void StopUnits() {
  // The module (and its conduit) is gone before the units finalise.
  EXPECT_EQ(ConduitReference(), nullptr);
  --g_units_started;
}

TEST_F(EntryPointsTest, LibraryCreatesTheModuleOnceAndDestroysIt) {
  {
    ConduitLibrary library(&CreateTestModule, &StartUnits, &StopUnits);
    EXPECT_EQ(library.Module(), nullptr);
    library.EnsureStarted();
    ASSERT_NE(library.Module(), nullptr);
    TComponent* module = library.Module();
    library.EnsureStarted();
    EXPECT_EQ(library.Module(), module);
    ASSERT_NE(ConduitReference(), nullptr);
    EXPECT_EQ(ConduitReference()->ConduitName(), "Module conduit");
    EXPECT_EQ(g_units_started, 1);
  }
  EXPECT_EQ(g_units_started, 0);
  EXPECT_EQ(ConduitReference(), nullptr);
  EXPECT_EQ(LiveConduitCount(), 0);

  ConduitLibrary failing(&CreateFailingModule, &StartUnits, &StopUnits);
  failing.EnsureStarted();
  EXPECT_EQ(failing.Module(), nullptr);
  ASSERT_NE(ConduitModuleError(), nullptr);
  EXPECT_EQ(*ConduitModuleError(), "Conduit API version must be 2.1 or later");
}

// A start-up that raises (here: the registry error of a HotSyncPath value
// of the wrong type) leaves nothing bound, so the log cannot carry it: the
// user is shown the message once, no module is created, OpenConduit fails
// and the units are not finalised a second time.
TEST_F(EntryPointsTest, FailedStartUpIsShownOnceAndFailsOpenConduit) {
  std::vector<std::string> shown;
  TMessageDlgHook previous = SetMessageDlgHook(
      [&](const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int help_ctx) {
        EXPECT_EQ(type, mtError);
        EXPECT_EQ(buttons, MsgDlgButtons({mbOK}));
        EXPECT_EQ(help_ctx, 0);
        shown.push_back(msg);
        return mrOk;
      });
  static int stops = 0;
  stops = 0;
  {
    ConduitLibrary library(
        &CreateTestModule, [] { throw ERegistryException("Invalid data type for 'HotSyncPath'"); },
        [] { ++stops; });
    library.EnsureStarted();
    library.EnsureStarted();
    EXPECT_EQ(library.Module(), nullptr);
    EXPECT_EQ(ConduitReference(), nullptr);
    EXPECT_THAT(shown, ElementsAre("Invalid data type for 'HotSyncPath'"));
    TSyncProperties props{};
    EXPECT_EQ(EntryOpenConduit(nullptr, &props), kErrNoConduitModule);
    EXPECT_THAT(Script().log, ElementsAre(LogLine{"Invalid data type for 'HotSyncPath'", -1},
                                          LogLine{"Unnamed Conduit", 21}));
  }
  EXPECT_EQ(stops, 0);
  SetMessageDlgHook(previous);
}

}  // namespace
}  // namespace fernwick
