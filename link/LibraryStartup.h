// The library's start-up sequence: its units are initialised in this order
// when the library is loaded, and finalised in the reverse order when it is
// unloaded:
//
//   DorvPalmFields, DorvConduitSync, DorvConduitApi, DorvConduitLog,
//   DorvConfigureForm, DorvPalmConduit
//
// A conduit library runs the sequence by holding one TLibraryStartup object
// in static storage (the conduit entry points do); a program that links the
// library directly may call InitializeLibraryUnits and FinalizeLibraryUnits
// itself.
#pragma once

#include <span>

#include "framework/Startup.h"

namespace fernwick {

// The units in start-up order.
std::span<const TUnitEntry> LibraryUnits();

// Initialises every unit in order. Load failures of the outside libraries
// are shown with MessageDlg and do not raise; an error reading the registry
// raises, after the units already initialised were finalised again.
void InitializeLibraryUnits();

// Finalises every unit in reverse order. Never throws.
void FinalizeLibraryUnits() noexcept;

// Runs InitializeLibraryUnits when constructed and FinalizeLibraryUnits when
// destroyed. An error raised by the start-up is shown with MessageDlg instead
// of passing out (in a static object it would end the host process); the
// units are then left uninitialised and the destructor does nothing.
class TLibraryStartup {
 public:
  TLibraryStartup() noexcept;
  ~TLibraryStartup();
  TLibraryStartup(const TLibraryStartup&) = delete;
  TLibraryStartup& operator=(const TLibraryStartup&) = delete;

  // True when the start-up ran to its end.
  bool Initialized() const { return initialized_; }

 private:
  bool initialized_ = false;
};

}  // namespace fernwick
