#include "conduit/ConduitModule.h"

#include <exception>
#include <optional>

#include "link/LibraryStartup.h"

namespace fernwick {

namespace {

std::optional<std::string> g_module_error;

}  // namespace

ConduitLibrary::ConduitLibrary(TConduitModuleFactory factory, UnitsFunction start_units,
                               UnitsFunction stop_units)
    : factory_(factory),
      start_units_(start_units != nullptr ? start_units : &InitializeLibraryUnits),
      stop_units_(stop_units != nullptr ? stop_units : &FinalizeLibraryUnits) {}

ConduitLibrary::~ConduitLibrary() {
  module_.reset();
  if (started_) stop_units_();
}

void ConduitLibrary::EnsureStarted() noexcept {
  if (started_) return;
  started_ = true;
  try {
    start_units_();
    module_ = factory_();
  } catch (const std::exception& e) {
    std::string message = e.what();
    SetConduitModuleError(&message);
  } catch (...) {
    std::string message = "Unknown exception while creating the conduit's data module";
    SetConduitModuleError(&message);
  }
}

const std::string* ConduitModuleError() {
  return g_module_error.has_value() ? &*g_module_error : nullptr;
}

void SetConduitModuleError(const std::string* message) {
  if (message == nullptr) {
    g_module_error.reset();
  } else {
    g_module_error = *message;
  }
}

}  // namespace fernwick
