#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScriptedSyncManager.h"
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/Bitmaps.h>
#include <fernwick/framework/ComponentRegistry.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Forms.h>
#include <fernwick/link/DorvConduitLog.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {
namespace {

using ::testing::ElementsAre;
using testing::LogLine;
using testing::Script;

void SetText(char (&dest)[kSyncPathLength], const std::string& text) {
  std::memset(dest, 0, kSyncPathLength);
  std::memcpy(dest, text.data(), std::min(text.size(), kSyncPathLength));
}

TSyncProperties MakeProps(TSyncTypes type, const std::string& user = "Jo Palm") {
  TSyncProperties props{};
  props.SyncType = type;
  SetText(props.PathName, "/home/jo/Palm/JoP");
  SetText(props.LocalName, "memo.dat");
  SetText(props.UserName, user);
  props.FirstDevice = fsPC;
  props.Connection = ctModem;
  SetText(props.RegistryPath, "Software\\Conduits\\Memo");
  props.RegistryKey = 0x80000001u;
  return props;
}

class DorvConduitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::BindScriptedSyncManager();
    InitializeDorvPalmConduit();
  }
  void TearDown() override {
    owner_.reset();
    testing::UnbindScriptedSyncManager();
  }
  // A conduit owned by a data-module stand-in, named "Memo".
  TDorvConduit* MakeConduit() {
    auto* conduit = new TDorvConduit(owner_.get());
    conduit->SetConduitName("Memo");
    Script().calls.clear();
    return conduit;
  }

  std::unique_ptr<TComponent> owner_ = std::make_unique<TComponent>(nullptr);
};

TEST_F(DorvConduitTest, ConstructionSetsDefaultsAndBecomesTheReference) {
  Script().api_major = 2;
  Script().api_minor = 3;
  auto* conduit = new TDorvConduit(owner_.get());
  EXPECT_EQ(conduit->ConduitName(), "DelphiConduit");
  EXPECT_EQ(conduit->MajorVersion(), 1);
  EXPECT_EQ(conduit->MinorVersion(), 0);
  EXPECT_EQ(conduit->DefaultAction(), stFast);
  EXPECT_EQ(conduit->ApiMajorVersion(), 2u);
  EXPECT_EQ(conduit->ApiMinorVersion(), 3u);
  EXPECT_EQ(conduit->ConduitHandle(), 0u);
  EXPECT_EQ(conduit->GetConduitVersion(), 256);
  EXPECT_EQ(ConduitReference(), conduit);
  EXPECT_EQ(LiveConduitCount(), 1);
  EXPECT_EQ(owner_->ComponentCount(), 1);
}

TEST_F(DorvConduitTest, VersionCombinesMajorAndMinor) {
  TDorvConduit* conduit = MakeConduit();
  conduit->SetMajorVersion(2);
  conduit->SetMinorVersion(3);
  EXPECT_EQ(conduit->GetConduitVersion(), 0x0203);
}

TEST_F(DorvConduitTest, SecondInstanceIsRefusedAndDestructionAllowsANewOne) {
  TDorvConduit* first = MakeConduit();
  try {
    new TDorvConduit(owner_.get());
    FAIL() << "a second TDorvConduit was constructed";
  } catch (const EDorvConduitError&) {
    FAIL() << "wrong exception type";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Only one instance of TDorvConduit is allowed");
  }
  EXPECT_EQ(ConduitReference(), first);
  EXPECT_EQ(LiveConduitCount(), 1);
  EXPECT_EQ(owner_->ComponentCount(), 1);  // the refused one left its owner

  delete first;
  EXPECT_EQ(ConduitReference(), nullptr);  // never a dangling reference
  EXPECT_EQ(LiveConduitCount(), 0);
  auto* again = new TDorvConduit(owner_.get());
  EXPECT_EQ(ConduitReference(), again);
  EXPECT_THROW(new TDorvConduit(owner_.get()), Exception);
}

TEST_F(DorvConduitTest, FailedApiVersionLeavesCountAndReferenceUnchanged) {
  Script().api_status = SYNCERR_UNKNOWN;
  try {
    new TDorvConduit(owner_.get());
    FAIL() << "constructed although SyncGetAPIVersion failed";
  } catch (const EDorvConduitError& e) {
    EXPECT_EQ(e.Message(), "Conduit API version must be 2.1 or later");
    EXPECT_EQ(e.ErrorCode(), SYNCERR_UNKNOWN);
  }
  EXPECT_EQ(LiveConduitCount(), 0);
  EXPECT_EQ(ConduitReference(), nullptr);
  EXPECT_EQ(owner_->ComponentCount(), 0);

  Script().api_status = 0;
  TDorvConduit* conduit = MakeConduit();
  EXPECT_EQ(ConduitReference(), conduit);
  EXPECT_THROW(new TDorvConduit(owner_.get()), Exception);
}

TEST_F(DorvConduitTest, MissingApiVersionFunctionFailsWithItsOwnCode) {
  SyncGetAPIVersion.Bind(nullptr);
  try {
    new TDorvConduit(owner_.get());
    FAIL() << "constructed without SyncGetAPIVersion";
  } catch (const EDorvConduitError& e) {
    EXPECT_EQ(e.Message(), "Conduit API version must be 2.1 or later");
    EXPECT_EQ(e.ErrorCode(), kErrApiVersionUnavailable);
  }
  EXPECT_EQ(LiveConduitCount(), 0);
}

TEST_F(DorvConduitTest, DoNothingLogsOneLineAndTouchesNothing) {
  TDorvConduit* conduit = MakeConduit();
  bool called = false;
  conduit->SetOnOpenConduit([&](std::int32_t&) { called = true; });
  ASSERT_EQ(conduit->OpenConduit(MakeProps(stSlow, "First")), 0);
  Script().log.clear();
  Script().calls.clear();
  called = false;

  EXPECT_EQ(conduit->OpenConduit(MakeProps(stDoNothing, "Second")), 0);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{"Memo configured to Do Nothing", -1}));
  EXPECT_TRUE(Script().calls.empty());
  EXPECT_FALSE(called);
  EXPECT_EQ(conduit->UserName(), "First");
  EXPECT_EQ(conduit->SyncType(), stSlow);
}

TEST_F(DorvConduitTest, WithoutHandlerRegistersLogsStartAndEndAndUnregisters) {
  TDorvConduit* conduit = MakeConduit();
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), 0);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{"", 19}, LogLine{"Memo", 20}));
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit", "SyncUnRegisterConduit 42"));
  EXPECT_THAT(Script().log_flags, ::testing::Each(0));
  EXPECT_EQ(conduit->ConduitHandle(), 0u);
}

TEST_F(DorvConduitTest, HandlerErrorIsLoggedAndReturned) {
  TDorvConduit* conduit = MakeConduit();
  std::uint32_t handle_in_handler = 0;
  conduit->SetOnOpenConduit([&](std::int32_t& error) {
    handle_in_handler = conduit->ConduitHandle();
    error = 5;
  });
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), 5);
  EXPECT_EQ(handle_in_handler, 42u);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{"", 19}, LogLine{"Error in OnOpenConduit", -1},
                                        LogLine{"Memo", 21}));
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit", "SyncUnRegisterConduit 42"));
  EXPECT_EQ(conduit->ConduitHandle(), 0u);
}

TEST_F(DorvConduitTest, RefusedRegistrationSkipsTheHandler) {
  TDorvConduit* conduit = MakeConduit();
  Script().register_status = SYNCERR_UNKNOWN;
  bool called = false;
  conduit->SetOnOpenConduit([&](std::int32_t&) { called = true; });
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), 0);
  EXPECT_FALSE(called);
  EXPECT_THAT(Script().log,
              ElementsAre(LogLine{"SyncRegisterConduit failed", -1}, LogLine{"Memo", 21}));
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit"));
}

TEST_F(DorvConduitTest, ConduitErrorFromHandlerIsLoggedAndTheRunEndsNormally) {
  TDorvConduit* conduit = MakeConduit();
  conduit->SetOnOpenConduit(
      [](std::int32_t&) { throw EDorvConduitError("SyncOpenDB failed", SYNCERR_NOT_FOUND); });
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stHHtoPC)), 0);
  EXPECT_THAT(Script().log,
              ElementsAre(LogLine{"", 19}, LogLine{"SyncOpenDB failed", -1}, LogLine{"Memo", 21}));
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit", "SyncUnRegisterConduit 42"));
}

TEST_F(DorvConduitTest, OtherExceptionFromHandlerPropagatesAfterUnregistration) {
  TDorvConduit* conduit = MakeConduit();
  conduit->SetOnOpenConduit([](std::int32_t&) { throw std::runtime_error("disk full"); });
  EXPECT_THROW(conduit->OpenConduit(MakeProps(stFast)), std::runtime_error);
  EXPECT_THAT(Script().log, ElementsAre(LogLine{"", 19}));
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit", "SyncUnRegisterConduit 42"));
  EXPECT_EQ(conduit->ConduitHandle(), 0u);
}

TEST_F(DorvConduitTest, UnboundLogNeitherThrowsNorSkipsUnregistration) {
  TDorvConduit* conduit = MakeConduit();
  LogAddEntry.Bind(nullptr);
  conduit->SetOnOpenConduit([&](std::int32_t&) {
    conduit->AddLogEntry("a line nobody can read");
    throw EDorvConduitError("SyncCloseDB failed", 1);
  });
  // The abort cannot be logged, so the result reports it.
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), 1);
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit", "SyncUnRegisterConduit 42"));
  EXPECT_TRUE(Script().log.empty());
}

// With the log unbound both ways of logging drop the line, so a handler runs
// to its end; a run that aborted anyway is never answered with 0.
TEST_F(DorvConduitTest, UnboundLogDropsFormattedLinesAndNeverHidesAnAbort) {
  TDorvConduit* conduit = MakeConduit();
  LogAddEntry.Bind(nullptr);
  bool finished = false;
  conduit->SetOnOpenConduit([&](std::int32_t&) {
    conduit->AddLogEntry("plain");
    EXPECT_EQ(LogAddFormattedEntry("Record %d", {3}, slText, false), 0);
    finished = true;
  });
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), 0);
  EXPECT_TRUE(finished);
  EXPECT_THROW(LogAddFormattedEntry("Record %d", {"three"}, slText, false), EConvertError);

  conduit->SetOnOpenConduit([](std::int32_t&) { throw EDorvConduitError("Missing field", 0); });
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), kErrAbortedWithoutLog);
  conduit->SetOnOpenConduit([](std::int32_t& error) { error = 7; });
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), 7);
  EXPECT_TRUE(Script().log.empty());
  EXPECT_THAT(Script().calls, ElementsAre("SyncRegisterConduit", "SyncUnRegisterConduit 42",
                                          "SyncRegisterConduit", "SyncUnRegisterConduit 42",
                                          "SyncRegisterConduit", "SyncUnRegisterConduit 42"));
}

TEST_F(DorvConduitTest, UnboundRegistrationIsReportedLikeAFailedOne) {
  TDorvConduit* conduit = MakeConduit();
  SyncRegisterConduit.Bind(nullptr);
  EXPECT_EQ(conduit->OpenConduit(MakeProps(stFast)), 0);
  ASSERT_EQ(Script().log.size(), 2u);
  EXPECT_EQ(Script().log[0].activity, -1);
  EXPECT_EQ(Script().log[1], (LogLine{"Memo", 21}));
}

TEST_F(DorvConduitTest, PropertiesRecordIsCopiedUpToEachNul) {
  TDorvConduit* conduit = MakeConduit();
  TSyncProperties props = MakeProps(stPCtoHH);
  std::memset(props.PathName, 'p', kSyncPathLength);  // fills the array: no NUL
  props.LocalName[0] = '\0';
  props.LocalName[1] = 'x';  // text after the first NUL is not taken
  std::memset(props.NotRead, 0xAB, sizeof props.NotRead);
  EXPECT_EQ(conduit->OpenConduit(props), 0);
  EXPECT_EQ(conduit->SyncType(), stPCtoHH);
  EXPECT_EQ(conduit->PathName(), std::string(256, 'p'));
  EXPECT_EQ(conduit->LocalName(), "");
  EXPECT_EQ(conduit->UserName(), "Jo Palm");
  EXPECT_EQ(conduit->FirstDevice(), fsPC);
  EXPECT_EQ(conduit->Connection(), ctModem);
  EXPECT_EQ(conduit->RegistryPath(), "Software\\Conduits\\Memo");
  EXPECT_EQ(conduit->RegistryKey(), 0x80000001u);
}

TEST_F(DorvConduitTest, ConfigureUsesTheHandlerOrTheDialog) {
  TDorvConduit* conduit = MakeConduit();
  TSyncPreference prefs{};
  prefs.SyncType = stFast;
  std::vector<std::string> script = {"CancelBtn"};
  std::string caption;
  SetFormBackendFactory([&] {
    struct Backend : TFormBackend {
      std::vector<std::string> steps;
      std::string* caption;
      int ShowModal(TForm& form) override {
        *caption = form.FindControl("ActionGB")->Caption();
        return TScriptedFormBackend(steps).ShowModal(form);
      }
    };
    auto backend = std::make_unique<Backend>();
    backend->steps = script;
    backend->caption = &caption;
    return backend;
  });
  EXPECT_EQ(conduit->ConfigureConduit(prefs), -1);
  EXPECT_EQ(caption, " HotSync Action for " + conduit->ConduitName() + " ");
  script = {"DoNothingRB", "OkBtn"};
  EXPECT_EQ(conduit->ConfigureConduit(prefs), 0);
  EXPECT_EQ(prefs.SyncType, stDoNothing);
  EXPECT_EQ(prefs.SyncPref, spTemporaryPreference);
  Application().ProcessReleases();
  SetFormBackendFactory({});

  bool save_on_entry = true;
  conduit->SetOnConfigureConduit([&](TSyncPreference& p, bool& save) {
    save_on_entry = save;
    p.SyncType = stHHtoPC;
    p.SyncPref = spPermanentPreference;
    save = true;
  });
  EXPECT_EQ(conduit->ConfigureConduit(prefs), 0);
  EXPECT_FALSE(save_on_entry);
  EXPECT_EQ(prefs.SyncType, stHHtoPC);
  EXPECT_EQ(prefs.SyncPref, spPermanentPreference);

  conduit->SetOnConfigureConduit([](TSyncPreference&, bool& save) { save = false; });
  EXPECT_EQ(conduit->ConfigureConduit(prefs), -1);
}

TEST_F(DorvConduitTest, YieldCyclesAndTestSyncApiRaiseNonZeroStatuses) {
  TDorvConduit* conduit = MakeConduit();
  conduit->YieldCycles(300);
  EXPECT_THAT(Script().calls, ElementsAre("SyncYieldCycles 300"));
  Script().yield_status = 0x4019;
  try {
    conduit->YieldCycles(1);
    FAIL() << "no exception";
  } catch (const EDorvConduitError& e) {
    EXPECT_EQ(e.Message(), "SyncYieldCycles failed");
    EXPECT_EQ(e.ErrorCode(), 0x4019);
  }
  EXPECT_NO_THROW(TDorvConduit::TestSyncApi("x", 0));
  EXPECT_THROW(TDorvConduit::TestSyncApi("SyncCloseDB failed", -7), EDorvConduitError);
}

TEST_F(DorvConduitTest, PublishedPropertiesInOrderWithDefaultsAndTextAccess) {
  std::vector<std::string> names;
  for (const auto& p : TDorvConduit::PublishedProperties()) names.emplace_back(p.Name);
  EXPECT_THAT(names, ElementsAre("ConduitName", "DefaultAction", "MajorVersion", "MinorVersion",
                                 "OnOpenConduit", "OnConfigureConduit"));
  const auto props = TDorvConduit::PublishedProperties();
  EXPECT_TRUE(props[0].AlwaysStored);
  EXPECT_EQ(props[0].Default, "DelphiConduit");
  EXPECT_EQ(props[1].Default, "stFast");
  EXPECT_EQ(props[2].Default, "1");
  EXPECT_EQ(props[3].Default, "0");
  EXPECT_FALSE(props[1].AlwaysStored);

  TDorvConduit* conduit = MakeConduit();
  EXPECT_EQ(props[0].Get(*conduit), conduit->ConduitName());
  props[1].Set(*conduit, "stBackup");
  props[2].Set(*conduit, "7");
  EXPECT_EQ(conduit->DefaultAction(), stBackup);
  EXPECT_EQ(props[2].Get(*conduit), "7");
  EXPECT_THROW(props[3].Set(*conduit, "256"), EConvertError);
  EXPECT_THROW(props[1].Set(*conduit, "stSometimes"), EConvertError);
  EXPECT_TRUE(props[4].IsEvent);
  EXPECT_EQ(props[4].Set, nullptr);
  EXPECT_EQ(props[4].Get(*conduit), "");
  conduit->SetOnOpenConduit([](std::int32_t&) {});
  EXPECT_EQ(props[4].Get(*conduit), "(assigned)");
}

TEST_F(DorvConduitTest, RegisterListsBothClassesOnTheConduitPage) {
  Register();
  std::vector<std::string> names;
  for (const auto& info : RegisteredComponents()) {
    if (info.page == "Conduit") names.push_back(info.class_name);
  }
  EXPECT_THAT(names, ElementsAre("TDorvConduit", "TDorvConduitDb"));
  const TComponentClassInfo* info = FindComponentClass("tdorvconduit");
  ASSERT_NE(info, nullptr);
  TComponent* made = info->create(owner_.get());
  EXPECT_EQ(made->ClassName(), "TDorvConduit");
  EXPECT_EQ(ConduitReference(), made);
  EXPECT_EQ(info->properties.size(), TDorvConduit::PublishedProperties().size());
  const TComponentClassInfo* db = FindComponentClass("TDorvConduitDb");
  ASSERT_NE(db, nullptr);
  ASSERT_TRUE(db->create);
  TComponent* made_db = db->create(owner_.get());
  EXPECT_EQ(made_db->ClassName(), "TDorvConduitDb");
  // Both classes are listed with their published properties, of one kind.
  ASSERT_EQ(db->properties.size(), TDorvConduitDb::PublishedProperties().size());
  EXPECT_EQ(db->properties[0].Name, "FileName");
  EXPECT_EQ(db->properties[2].Get(*made_db), "224");
  db->properties[0].Set(*made_db, "MemoDB");
  EXPECT_EQ(dynamic_cast<TDorvConduitDb&>(*made_db).FileName(), "MemoDB");
  EXPECT_EQ(info->bitmap_name, "TDORVCONDUIT");
  EXPECT_EQ(db->bitmap_name, "TDORVCONDUITDB");
  for (const TComponentClassInfo* c : {info, db}) {
    TBitmapImage bitmap = DecodeBitmap(c->bitmap, c->bitmap_name);
    EXPECT_EQ(bitmap.width, 24) << c->class_name;
    EXPECT_EQ(bitmap.height, 24) << c->class_name;
    EXPECT_EQ(bitmap.bits_per_pixel, 4) << c->class_name;
  }
  EXPECT_THAT(LibraryDescription(), ::testing::HasSubstr("2.0"));
}

}  // namespace
}  // namespace fernwick
