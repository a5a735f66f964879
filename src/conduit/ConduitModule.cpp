#include <exception>
#include <optional>

#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/LibraryStartup.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {

namespace {

std::optional<std::string> g_module_error;

// The message of the exception being handled, or `otherwise` when it is not
// a std::exception. REQUIRES: called in a catch.
std::string CurrentExceptionText(const char* otherwise) {
  try {
    throw;
  } catch (const std::exception& e) {
    return ExceptionReport(e);
  } catch (...) {
    return otherwise;
  }
}

}  // namespace

ConduitLibrary::ConduitLibrary(TConduitModuleFactory factory, UnitsFunction start_units,
                               UnitsFunction stop_units)
    : factory_(factory),
      start_units_(start_units != nullptr ? start_units : &InitializeLibraryUnits),
      stop_units_(stop_units != nullptr ? stop_units : &FinalizeLibraryUnits) {}

ConduitLibrary::~ConduitLibrary() {
  module_.reset();
  if (units_started_) stop_units_();
}

void ConduitLibrary::EnsureStarted() noexcept {
  if (started_) return;
  started_ = true;
  try {
    start_units_();
    units_started_ = true;
  } catch (...) {
    // The failed start-up finalised its units again: nothing is bound, so
    // the HotSync log cannot carry the message. It is shown instead, once.
    std::string message = CurrentExceptionText("Unknown exception in the library's start-up");
    ShowStartupError(message);
    SetConduitModuleError(&message);
    return;
  }
  try {
    module_ = factory_();
  } catch (...) {
    std::string message =
        CurrentExceptionText("Unknown exception while creating the conduit's data module");
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
