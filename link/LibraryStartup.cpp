#include "link/LibraryStartup.h"

#include <array>
#include <exception>

#include "conduit/DorvConfigureForm.h"
#include "conduit/DorvPalmConduit.h"
#include "framework/Dialogs.h"
#include "link/DorvConduitApi.h"
#include "link/DorvConduitLog.h"
#include "link/DorvConduitSync.h"

namespace fernwick {

namespace {

// The start-up order. Units of the other folders take their places here as
// they are written:
//   before DorvConduitSync: {"DorvPalmFields", ...}       (db/)
constexpr std::array kUnits = {
    TUnitEntry{"DorvConduitSync", &InitializeDorvConduitSync, &FinalizeDorvConduitSync},
    TUnitEntry{"DorvConduitApi", &InitializeDorvConduitApi, &FinalizeDorvConduitApi},
    TUnitEntry{"DorvConduitLog", &InitializeDorvConduitLog, &FinalizeDorvConduitLog},
    TUnitEntry{"DorvConfigureForm", &InitializeDorvConfigureForm, &FinalizeDorvConfigureForm},
    TUnitEntry{"DorvPalmConduit", &InitializeDorvPalmConduit, &FinalizeDorvPalmConduit},
};

}  // namespace

std::span<const TUnitEntry> LibraryUnits() { return kUnits; }

void InitializeLibraryUnits() { InitializeUnits(kUnits); }

void FinalizeLibraryUnits() noexcept { FinalizeUnits(kUnits); }

TLibraryStartup::TLibraryStartup() noexcept {
  try {
    InitializeLibraryUnits();
    initialized_ = true;
  } catch (const std::exception& e) {
    MessageDlg(e.what(), mtError, MsgDlgButtons({mbOK}), 0);
  } catch (...) {
    MessageDlg("DorvConduit : start-up failed", mtError, MsgDlgButtons({mbOK}), 0);
  }
}

TLibraryStartup::~TLibraryStartup() {
  if (initialized_) FinalizeLibraryUnits();
}

}  // namespace fernwick
