#include "conduit/LibraryStartup.h"

#include <array>
#include <exception>
#include <string>

#include "conduit/DorvConfigureForm.h"
#include "conduit/DorvPalmConduit.h"
#include "framework/Dialogs.h"
#include "link/LibraryStartup.h"

namespace fernwick {

namespace {

constexpr TUnitEntry kConduitUnits[] = {
    {"DorvConfigureForm", &InitializeDorvConfigureForm, &FinalizeDorvConfigureForm},
    {"DorvPalmConduit", &InitializeDorvPalmConduit, &FinalizeDorvPalmConduit},
};

constexpr auto kUnits = [] {
  std::array<TUnitEntry, kLinkUnits.size() + std::size(kConduitUnits)> units{};
  std::size_t n = 0;
  for (const TUnitEntry& unit : kLinkUnits) units[n++] = unit;
  for (const TUnitEntry& unit : kConduitUnits) units[n++] = unit;
  return units;
}();

}  // namespace

std::span<const TUnitEntry> LibraryUnits() { return kUnits; }

void InitializeLibraryUnits() { InitializeUnits(kUnits); }

void FinalizeLibraryUnits() noexcept { FinalizeUnits(kUnits); }

void ShowStartupError(const std::string& message) noexcept {
  MessageDlg(message, mtError, MsgDlgButtons({mbOK}), 0);
}

TLibraryStartup::TLibraryStartup() noexcept {
  try {
    InitializeLibraryUnits();
    initialized_ = true;
  } catch (const std::exception& e) {
    ShowStartupError(e.what());
  } catch (...) {
    ShowStartupError("DorvConduit : start-up failed");
  }
}

TLibraryStartup::~TLibraryStartup() {
  if (initialized_) FinalizeLibraryUnits();
}

}  // namespace fernwick
