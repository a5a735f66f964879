/// \file
/// How a conduit library declares its data module.
///
/// A conduit is a data module class: a TComponent whose constructor creates
/// the one TDorvConduit and the TDorvConduitDb components with the module as
/// their owner, sets their properties and assigns OnOpenConduit. The library
/// declares it once, in any of its source files:
///
/// ```
///   class TMyModule : public fernwick::TComponent {
///    public:
///     explicit TMyModule(fernwick::TComponent* owner);
///     ...
///   };
///   FERNWICK_CONDUIT_MODULE(TMyModule)
/// ```
///
/// and is built with the CMake function fernwick_add_conduit
/// (cmake/FernwickConduit.cmake), which compiles the five exported entry
/// points (src/conduit/exports/ConduitExports.cpp) into it.
///
/// Lifetime. The module is created on the first call of any entry point, not
/// while the library is being loaded: on Windows that keeps the loading of
/// the Sync Manager and log libraries, and the developer's constructor, out of
/// the system loader's lock. Before the module is created the library's units
/// are started (InitializeLibraryUnits: the Sync Manager and the log are
/// bound); when the library is unloaded the module is destroyed first and the
/// units are finalised after it. A start-up that raised (an unreadable
/// registry, a registry value of the wrong type) is shown to the user at once
/// with MessageDlg (ShowStartupError; on a console: standard error), since
/// neither the Sync Manager nor the log is bound then; no module is created.
/// A module whose constructor raised, or a failed start-up, leaves no
/// conduit: OpenConduit then logs the error when the log is bound and fails
/// (kErrNoConduitModule), and the other entry points answer as without a
/// conduit. Neither is tried again in the same process.
#pragma once

#include <memory>
#include <string>

#include <fernwick/framework/Classes.h>

namespace fernwick {

/// Creates the data module of the conduit library (defined by
/// FERNWICK_CONDUIT_MODULE).
using TConduitModuleFactory = std::unique_ptr<TComponent> (*)();

/// The lifetime of one loaded conduit library: starts its units and creates
/// its data module on first use, destroys the module and finalises the units
/// when destroyed. One static instance lives in each conduit library.
class ConduitLibrary {
 public:
  /// Runs a unit start-up or finalisation sequence; raises on failure.
  using UnitsFunction = void (*)();
  ///@{
  /// `start_units` and `stop_units` run the library's unit start-up and
  /// finalisation; the defaults are the library's own sequence.
  explicit ConduitLibrary(TConduitModuleFactory factory, UnitsFunction start_units = nullptr,
                          UnitsFunction stop_units = nullptr);
  ///@}
  ///@{
  /// Not copyable: one object owns the module and the units' lifetime.
  ConduitLibrary(const ConduitLibrary&) = delete;
  ConduitLibrary& operator=(const ConduitLibrary&) = delete;
  ///@}
  /// Destroys the module, then finalises the library's units (when started).
  ~ConduitLibrary();

  /// Starts the units and creates the module, the first time only. Never
  /// raises: a failed start-up is shown with ShowStartupError and recorded, a
  /// failed creation is recorded (see ConduitModuleError).
  void EnsureStarted() noexcept;

  /// The data module, or nullptr before EnsureStarted or after a failure.
  TComponent* Module() const { return module_.get(); }

 private:
  TConduitModuleFactory factory_;
  UnitsFunction start_units_;
  UnitsFunction stop_units_;
  std::unique_ptr<TComponent> module_;
  bool started_ = false;
  bool units_started_ = false;
};

/// The message of the exception that the data module's creation raised in
/// this library, or nullptr when creation did not fail.
const std::string* ConduitModuleError();

/// Records (or, with nullptr, clears) the module creation error.
void SetConduitModuleError(const std::string* message);

}  // namespace fernwick

/// Declares ModuleClass as the data module of this conduit library.
/// ModuleClass must derive from fernwick::TComponent and be constructible
/// from an owner pointer (it is created without an owner).
#define FERNWICK_CONDUIT_MODULE(ModuleClass)                              \
  std::unique_ptr<::fernwick::TComponent> FernwickCreateConduitModule() { \
    return std::make_unique<ModuleClass>(nullptr);                        \
  }
