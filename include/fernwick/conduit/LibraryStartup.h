/// \file
/// The library's start-up sequence: its units are initialised in this order
/// when a conduit library starts, and finalised in the reverse order when it
/// is unloaded:
///
/// ```
///   DorvConduitSync    (src/link/, listed in fernwick/link/LinkUnits.h)
///   DorvConduitApi     (src/link/)
///   DorvConduitLog     (src/link/)
///   DorvConfigureForm  (src/conduit/: no start-up work)
///   DorvPalmConduit    (src/conduit/)
/// ```
///
/// Each layer with units lists its own (the database layer has none); this top
/// layer puts the lists in order, so no layer below needs to know the ones
/// above it. The start-up is called explicitly (a conduit library's
/// ConduitLibrary runs it at the first entry point call, see
/// fernwick/conduit/ConduitModule.h), never by static initialisers that a
/// linker could drop from a static library. A program that links the library
/// directly may call InitializeLibraryUnits and FinalizeLibraryUnits itself,
/// or hold a TLibraryStartup.
#pragma once

#include <span>
#include <string>

#include <fernwick/framework/Startup.h>

namespace fernwick {

/// The units in start-up order.
std::span<const TUnitEntry> LibraryUnits();

/// Initialises every unit in order. Load failures of the outside libraries
/// are shown with MessageDlg and do not raise; an error reading the registry
/// raises, after the units already initialised were finalised again.
void InitializeLibraryUnits();

/// Finalises every unit in reverse order. Never throws.
void FinalizeLibraryUnits() noexcept;

/// Shows the failure of the library's start-up to the user: MessageDlg with
/// the error icon, one OK button, help context 0 and `message` (the text of
/// the exception that stopped the start-up). Never throws.
void ShowStartupError(const std::string& message) noexcept;

/// Runs InitializeLibraryUnits when constructed and FinalizeLibraryUnits when
/// destroyed. An error raised by the start-up is shown with ShowStartupError
/// instead of passing out (in a static object it would end the host process);
/// the units are then left uninitialised and the destructor does nothing.
class TLibraryStartup {
 public:
  TLibraryStartup() noexcept;
  ~TLibraryStartup();
  TLibraryStartup(const TLibraryStartup&) = delete;
  TLibraryStartup& operator=(const TLibraryStartup&) = delete;

  /// True when the start-up ran to its end.
  bool Initialized() const { return initialized_; }

 private:
  bool initialized_ = false;
};

}  // namespace fernwick
