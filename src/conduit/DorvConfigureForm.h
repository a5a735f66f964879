// Unit DorvConfigureForm: the HotSync action dialog TDorvConfigureDlg, shown
// by TDorvConduit::ConfigureConduit when the conduit has no
// OnConfigureConduit handler.
//
// The dialog's layout is the form resource TDORVCONFIGUREDLG (form object
// DorvConfigureDlg), read from resources/DorvConfigureDlg.form each time a
// dialog is created. The choice logic lives here; how the form is shown (a
// window, or a script) is the form backend's business (fernwick/framework/Forms.h).
#pragma once

#include <string>

#include <fernwick/abi/SyncProperties.h>
#include <fernwick/framework/Forms.h>

namespace fernwick {

// The HotSync action dialog. Its controls are those of the resource, reached
// through the members below (each a control owned by the form).
class TDorvConfigureDlg : public TForm {
 public:
  // Creates the form from the resource TDORVCONFIGUREDLG, owned by `owner`.
  // Raises EParserError when the resource is damaged or lacks one of the
  // controls below, EInvalidGraphic when a bitmap cannot be read.
  explicit TDorvConfigureDlg(TComponent* owner);

  // Lets the user choose the next synchronisation's action in `prefs`
  // (borrowed for the call). On entry SyncPref becomes spNoPreference and
  // the radio button of SyncType is selected (stPCtoHH: DesktopRB, stHHtoPC:
  // HandheldRB, stDoNothing: DoNothingRB, anything else: SynchroniseRB); the
  // group caption becomes " HotSync Action for " + name + " ". OK writes the
  // selected action (stFast for SynchroniseRB) and spPermanentPreference
  // when DefaultCB is ticked, else spTemporaryPreference, and returns true.
  // Cancel, the close box, or a form that cannot be shown return false with
  // SyncType unchanged and SyncPref spNoPreference; a form that cannot be
  // shown also puts why in the HotSync log as a warning (activity 22), for
  // the user who then sees no dialog. The form is released
  // (Application().ProcessReleases destroys it) on every way out; an
  // exception while it is shown passes to the caller after that, with the
  // record as for Cancel. When the form cannot be created the exception
  // passes and the record is untouched.
  static bool Execute(const std::string& name, TSyncPreference& prefs);

  TControl* OkBtn;
  TControl* CancelBtn;
  TControl* HelpBtn;
  TControl* DefaultCB;
  TControl* ActionGB;
  TControl* SynchroniseImage;
  TControl* DesktopImage;
  TControl* HandheldImage;
  TControl* DoNothingImage;
  TControl* SynchroniseRB;
  TControl* DesktopRB;
  TControl* HandheldRB;
  TControl* DoNothingRB;
};

// Start-up and shutdown of unit DorvConfigureForm: shutdown destroys the
// dialogs released and not yet destroyed.
void InitializeDorvConfigureForm();
void FinalizeDorvConfigureForm();

}  // namespace fernwick
