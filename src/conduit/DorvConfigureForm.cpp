#include "DorvConfigureForm.h"

#include "LibraryResources.h"
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/link/DorvConduitLog.h>

namespace fernwick {

namespace {

constexpr const char* kFormResource = "TDORVCONFIGUREDLG";

TFormDescription LoadDescription() {
  const TResourceEntry* entry = FindResource(LibraryResources(), "FORM", kFormResource);
  if (entry == nullptr) throw EParserError(std::string("Resource ") + kFormResource + " not found");
  TFormDescription description = ReadFormDescription(entry->Bytes(), kFormResource);
  if (description.name != "DorvConfigureDlg" || description.class_name != "TDorvConfigureDlg") {
    throw EParserError(std::string(kFormResource) +
                       " line 1: expected object DorvConfigureDlg: " + "TDorvConfigureDlg, found " +
                       description.name + ": " + description.class_name);
  }
  return description;
}

std::string_view LoadPicture(std::string_view name) {
  const TResourceEntry* entry = FindResource(LibraryResources(), "BITMAP", name);
  if (entry == nullptr) {
    throw EInvalidGraphic("Bitmap resource " + std::string(name) + " not found");
  }
  return entry->Bytes();
}

// The control of that name and kind; raises when the resource lacks it.
TControl* Bind(TForm& form, const char* name, TControlKind kind) {
  TControl* control = form.FindControl(name);
  if (control == nullptr || control->Kind() != kind) {
    throw EParserError(std::string(kFormResource) + ": control " + name + ": " +
                       ControlClassName(kind) + " missing");
  }
  return control;
}

}  // namespace

TDorvConfigureDlg::TDorvConfigureDlg(TComponent* owner)
    : TForm(owner, LoadDescription(), LoadPicture),
      OkBtn(Bind(*this, "OkBtn", TControlKind::kButton)),
      CancelBtn(Bind(*this, "CancelBtn", TControlKind::kButton)),
      HelpBtn(Bind(*this, "HelpBtn", TControlKind::kButton)),
      DefaultCB(Bind(*this, "DefaultCB", TControlKind::kCheckBox)),
      ActionGB(Bind(*this, "ActionGB", TControlKind::kGroupBox)),
      SynchroniseImage(Bind(*this, "SynchroniseImage", TControlKind::kImage)),
      DesktopImage(Bind(*this, "DesktopImage", TControlKind::kImage)),
      HandheldImage(Bind(*this, "HandheldImage", TControlKind::kImage)),
      DoNothingImage(Bind(*this, "DoNothingImage", TControlKind::kImage)),
      SynchroniseRB(Bind(*this, "SynchroniseRB", TControlKind::kRadioButton)),
      DesktopRB(Bind(*this, "DesktopRB", TControlKind::kRadioButton)),
      HandheldRB(Bind(*this, "HandheldRB", TControlKind::kRadioButton)),
      DoNothingRB(Bind(*this, "DoNothingRB", TControlKind::kRadioButton)) {}

bool TDorvConfigureDlg::Execute(const std::string& name, TSyncPreference& prefs) {
  auto* dialog = new TDorvConfigureDlg(&Application());
  struct Release {
    TDorvConfigureDlg* dialog;
    ~Release() { dialog->Release(); }
  } release{dialog};

  prefs.SyncPref = spNoPreference;
  dialog->ActionGB->SetCaption(dialog->ActionGB->Caption() + name + " ");
  switch (prefs.SyncType) {
    case stHHtoPC:
      dialog->HandheldRB->SetChecked(true);
      break;
    case stPCtoHH:
      dialog->DesktopRB->SetChecked(true);
      break;
    case stDoNothing:
      dialog->DoNothingRB->SetChecked(true);
      break;
    default:
      dialog->SynchroniseRB->SetChecked(true);
      break;
  }
  const int result = dialog->ShowModal();
  if (result == mrNone && !dialog->NotShownMessage().empty() && LogAddEntry.IsBound()) {
    LogAddEntry(dialog->NotShownMessage().c_str(), slWarning, 0);
  }
  if (result != mrOk) return false;

  const std::pair<TControl*, TSyncTypes> choices[] = {{dialog->SynchroniseRB, stFast},
                                                      {dialog->DesktopRB, stPCtoHH},
                                                      {dialog->HandheldRB, stHHtoPC},
                                                      {dialog->DoNothingRB, stDoNothing}};
  for (const auto& [button, type] : choices) {
    if (button->Checked()) {
      prefs.SyncType = type;
      break;
    }
  }
  prefs.SyncPref = dialog->DefaultCB->Checked() ? spPermanentPreference : spTemporaryPreference;
  return true;
}

void InitializeDorvConfigureForm() {}

void FinalizeDorvConfigureForm() { Application().ProcessReleases(); }

}  // namespace fernwick
