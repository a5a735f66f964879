/// \file
/// Ordered start-up and shutdown of the library's units.
///
/// A unit is a part of the library with module-wide state (function tables,
/// loaded libraries, instance counts) that must be set up before anything uses
/// it and torn down after. The library lists its units once, in start-up
/// order; shutdown runs the same list backwards.
#pragma once

#include <cstddef>
#include <span>

namespace fernwick {

/// One unit: its name (for messages) and its start-up and shutdown work.
struct TUnitEntry {
  const char* name;      ///< "DorvConduitSync"
  void (*initialize)();  ///< its start-up; may raise
  void (*finalize)();    ///< its shutdown
};

/// Runs the units' initialisation in table order. When one raises, the units
/// already initialised are finalised in reverse order and the exception passes
/// to the caller, so that no unit is left half set up.
void InitializeUnits(std::span<const TUnitEntry> units);

/// Runs the units' finalisation in reverse table order. An exception raised by
/// one unit does not stop the others; none passes out.
void FinalizeUnits(std::span<const TUnitEntry> units) noexcept;

}  // namespace fernwick
