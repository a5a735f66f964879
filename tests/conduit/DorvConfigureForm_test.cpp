#include "DorvConfigureForm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "LibraryResources.h"
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {
namespace {

// What the test's backend saw when the dialog was shown.
struct Shown {
  int count = 0;
  std::string group_caption;
  std::string selected;
  bool default_ticked = true;
  TForm* form = nullptr;
};

// Installs a backend that records the dialog's state on entry and then runs
// `act` on the form, as a person would; `act` returns the modal result.
class ConfigureDlgTest : public ::testing::Test {
 protected:
  void SetUp() override { Application().ProcessReleases(); }
  void TearDown() override {
    SetFormBackendFactory({});
    Application().ProcessReleases();
  }

  void Act(std::function<int(TForm&)> act) {
    SetFormBackendFactory([this, act] {
      struct Backend : TFormBackend {
        Shown* shown;
        std::function<int(TForm&)> act;
        int ShowModal(TForm& form) override {
          ++shown->count;
          shown->form = &form;
          shown->group_caption = form.FindControl("ActionGB")->Caption();
          shown->selected.clear();
          for (TControl* c : form.Controls()) {
            if (c->Kind() == TControlKind::kRadioButton && c->Checked()) {
              shown->selected += c->Name();
            }
          }
          shown->default_ticked = form.FindControl("DefaultCB")->Checked();
          return act(form);
        }
      };
      auto backend = std::make_unique<Backend>();
      backend->shown = &shown_;
      backend->act = act;
      return backend;
    });
  }

  // Clicks the named controls in order, like the scripted backend.
  void Clicks(std::vector<std::string> steps) {
    Act([steps](TForm& form) { return TScriptedFormBackend(steps).ShowModal(form); });
  }

  static TSyncPreference Prefs(TSyncTypes type, TSyncPref pref = spNoPreference) {
    TSyncPreference prefs{};
    prefs.SyncType = type;
    prefs.SyncPref = pref;
    return prefs;
  }

  Shown shown_;
};

TEST_F(ConfigureDlgTest, TheResourceDescribesTheDialog) {
  const TResourceEntry* entry = FindResource(LibraryResources(), "FORM", "TDORVCONFIGUREDLG");
  ASSERT_NE(entry, nullptr);
  TFormDescription form = ReadFormDescription(entry->Bytes(), "TDORVCONFIGUREDLG");
  EXPECT_EQ(form.caption, "Change HotSync Action");
  EXPECT_EQ(form.width, 399);
  EXPECT_EQ(form.height, 255);
  EXPECT_EQ(form.position, "poDesktopCenter");
  EXPECT_EQ(form.font_name, "MS Sans Serif");
  EXPECT_EQ(form.font_height, -11);
  ASSERT_EQ(form.controls.size(), 13u);
  const TControlDescription& handheld =
      form.controls[static_cast<std::size_t>(form.IndexOf("HandheldRB"))];
  EXPECT_EQ(form.controls[static_cast<std::size_t>(handheld.parent)].name, "ActionGB");
  EXPECT_EQ(handheld.left, 96);
  EXPECT_EQ(handheld.top, 125);
  EXPECT_EQ(handheld.width, 161);
  EXPECT_EQ(handheld.caption, "&Handheld overwrites desktop");
  EXPECT_EQ(handheld.tab_order, 2);
  const TControlDescription& ok = form.controls[static_cast<std::size_t>(form.IndexOf("OkBtn"))];
  EXPECT_EQ(ok.modal_result, mrOk);
  EXPECT_EQ(ok.parent, -1);
  // Every bitmap the form names is in the library and is 44 x 21, 16 colours.
  TDorvConfigureDlg dialog(nullptr);
  for (TControl* image : {dialog.SynchroniseImage, dialog.DesktopImage, dialog.HandheldImage,
                          dialog.DoNothingImage}) {
    EXPECT_EQ(image->Picture().width, 44) << image->Name();
    EXPECT_EQ(image->Picture().height, 21) << image->Name();
    EXPECT_EQ(image->Picture().bits_per_pixel, 4) << image->Name();
  }
}

TEST_F(ConfigureDlgTest, OkWithoutChangesTurnsSlowIntoFastForOnce) {
  Clicks({"OkBtn"});
  TSyncPreference prefs = Prefs(stSlow, spPermanentPreference);
  EXPECT_TRUE(TDorvConfigureDlg::Execute("Memos", prefs));
  EXPECT_EQ(shown_.selected, "SynchroniseRB");
  EXPECT_FALSE(shown_.default_ticked);  // whatever SyncPref held on entry
  EXPECT_EQ(prefs.SyncType, stFast);
  EXPECT_EQ(prefs.SyncPref, spTemporaryPreference);
}

TEST_F(ConfigureDlgTest, EachActionIsPreselectedAndWrittenBack) {
  const std::pair<TSyncTypes, const char*> cases[] = {
      {stFast, "SynchroniseRB"},
      {stSlow, "SynchroniseRB"},
      {stInstall, "SynchroniseRB"},
      {stBackup, "SynchroniseRB"},
      {stProfileInstall, "SynchroniseRB"},
      {static_cast<TSyncTypes>(99), "SynchroniseRB"},
      {stPCtoHH, "DesktopRB"},
      {stHHtoPC, "HandheldRB"},
      {stDoNothing, "DoNothingRB"}};
  for (const auto& [type, radio] : cases) {
    Clicks({"DefaultCB", "OkBtn"});
    TSyncPreference prefs = Prefs(type);
    ASSERT_TRUE(TDorvConfigureDlg::Execute("Memos", prefs));
    EXPECT_EQ(shown_.selected, radio) << type;
    EXPECT_EQ(prefs.SyncType, std::string(radio) == "SynchroniseRB" ? stFast : type) << type;
    EXPECT_EQ(prefs.SyncPref, spPermanentPreference);
  }
}

TEST_F(ConfigureDlgTest, ChoosingAnotherActionWritesIt) {
  Clicks({"DesktopRB", "HandheldRB", "HelpBtn", "DefaultCB", "DefaultCB", "OkBtn"});
  TSyncPreference prefs = Prefs(stFast);
  EXPECT_TRUE(TDorvConfigureDlg::Execute("Memos", prefs));
  EXPECT_EQ(prefs.SyncType, stHHtoPC);
  EXPECT_EQ(prefs.SyncPref, spTemporaryPreference);
}

TEST_F(ConfigureDlgTest, CancelAndCloseLeaveTheActionAndNoPreference) {
  for (const char* how : {"CancelBtn", "Close"}) {
    Clicks({"DoNothingRB", "DefaultCB", how});
    TSyncPreference prefs = Prefs(stPCtoHH, spPermanentPreference);
    EXPECT_FALSE(TDorvConfigureDlg::Execute("Memos", prefs)) << how;
    EXPECT_EQ(prefs.SyncType, stPCtoHH) << how;
    EXPECT_EQ(prefs.SyncPref, spNoPreference) << how;
  }
}

TEST_F(ConfigureDlgTest, NoDisplayCountsAsCancelled) {
  Act([](TForm&) { return mrNone; });
  TSyncPreference prefs = Prefs(stHHtoPC, spTemporaryPreference);
  EXPECT_FALSE(TDorvConfigureDlg::Execute("Memos", prefs));
  EXPECT_EQ(prefs.SyncType, stHHtoPC);
  EXPECT_EQ(prefs.SyncPref, spNoPreference);
}

TEST_F(ConfigureDlgTest, GroupCaptionNamesTheConduitBetweenBlanks) {
  Clicks({"OkBtn"});
  TSyncPreference prefs = Prefs(stFast);
  TDorvConfigureDlg::Execute("Memos", prefs);
  EXPECT_EQ(shown_.group_caption, " HotSync Action for Memos ");
  TDorvConfigureDlg::Execute("", prefs);
  EXPECT_EQ(shown_.group_caption, " HotSync Action for  ");
}

TEST_F(ConfigureDlgTest, HelpLeavesTheDialogOpen) {
  Act([](TForm& form) {
    form.Click(*form.FindControl("HelpBtn"));
    EXPECT_EQ(form.ModalResult(), mrNone);
    form.Click(*form.FindControl("HelpBtn"));
    return form.ModalResult() == mrNone ? mrCancel : mrOk;
  });
  TSyncPreference prefs = Prefs(stDoNothing);
  EXPECT_FALSE(TDorvConfigureDlg::Execute("Memos", prefs));
  EXPECT_EQ(prefs.SyncType, stDoNothing);
}

TEST_F(ConfigureDlgTest, TheFormIsReleasedOnEveryWayOut) {
  Clicks({"OkBtn"});
  TSyncPreference prefs = Prefs(stFast);
  TDorvConfigureDlg::Execute("Memos", prefs);
  EXPECT_EQ(Application().PendingReleases(), 1);
  EXPECT_EQ(Application().ComponentCount(), 1);
  Application().ProcessReleases();
  EXPECT_EQ(Application().ComponentCount(), 0);

  Act([](TForm&) -> int { throw std::runtime_error("window system failed"); });
  prefs = Prefs(stPCtoHH, spPermanentPreference);
  EXPECT_THROW(TDorvConfigureDlg::Execute("Memos", prefs), std::runtime_error);
  EXPECT_EQ(prefs.SyncType, stPCtoHH);
  EXPECT_EQ(prefs.SyncPref, spNoPreference);
  EXPECT_EQ(Application().PendingReleases(), 1);
  Application().ProcessReleases();
  EXPECT_EQ(Application().ComponentCount(), 0);
}

TEST_F(ConfigureDlgTest, NothingIsRememberedBetweenCalls) {
  Clicks({"DoNothingRB", "DefaultCB", "OkBtn"});
  TSyncPreference prefs = Prefs(stFast);
  TDorvConfigureDlg::Execute("Memos", prefs);
  Clicks({"OkBtn"});
  prefs = Prefs(stFast);
  TDorvConfigureDlg::Execute("Memos", prefs);
  EXPECT_EQ(shown_.selected, "SynchroniseRB");
  EXPECT_FALSE(shown_.default_ticked);
  EXPECT_EQ(prefs.SyncPref, spTemporaryPreference);
}

TEST_F(ConfigureDlgTest, AScriptThatNeverClosesTheDialogFails) {
  Clicks({"DesktopRB"});
  TSyncPreference prefs = Prefs(stFast);
  EXPECT_THROW(TDorvConfigureDlg::Execute("Memos", prefs), Exception);
  Clicks({"NoSuchButton"});
  EXPECT_THROW(TDorvConfigureDlg::Execute("Memos", prefs), Exception);
  EXPECT_EQ(prefs.SyncType, stFast);
  EXPECT_EQ(prefs.SyncPref, spNoPreference);
}

}  // namespace
}  // namespace fernwick
