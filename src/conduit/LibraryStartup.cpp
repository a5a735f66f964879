#include <array>
#include <exception>
#include <string>

#include "DorvConfigureForm.h"
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/conduit/LibraryStartup.h>
#include <fernwick/framework/Dialogs.h>
#include <fernwick/link/LinkUnits.h>

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
