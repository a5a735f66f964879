/// \file
/// Run-time binding of the HotSync log library (hslog20) and its function
/// table, plus LogAddFormattedEntry.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/framework/Format.h>
#include <fernwick/link/BoundFunction.h>

namespace fernwick {

/// Declares the bound entry `name` of the log function of that name; used
/// once over FERNWICK_LOG_FUNCTIONS, then undefined.
#define FERNWICK_DECLARE_ENTRY(name, result, params) extern BoundFunction<T##name> name;
FERNWICK_LOG_FUNCTIONS(FERNWICK_DECLARE_ENTRY)
#undef FERNWICK_DECLARE_ENTRY

/// Loads hslog20 from the HotSync installation and binds the 8 entries. Does
/// nothing once it succeeded.
void LoadLogDll();
/// True once hslog20 was loaded and the table filled.
bool LogDllLoaded();
/// The unit's hslog20: the name last asked for and whether it is held.
TLibraryLoadState LogDllLoadState();

/// Formats a line with Format and adds it to the HotSync log through
/// LogAddEntry; returns LogAddEntry's result. A format that does not match its
/// arguments raises EConvertError and nothing is logged. When the HotSync log
/// library is not bound the line is dropped and 0 is returned, as
/// TDorvConduit::AddLogEntry drops it: logging never cuts a run short.
std::int32_t LogAddFormattedEntry(const std::string& format, std::initializer_list<FormatArg> args,
                                  TActivity activity, bool timestamp);

///@{
/// Unit start-up and shutdown of DorvConduitLog (counted like those of
/// DorvConduitSync). Initialisation binds the table and shows
/// "DorvConduit : Unable to load hslog20.dll" when that fails; the last
/// finalisation releases the unit's hslog20, empties the table and clears the
/// loaded flag.
void InitializeDorvConduitLog();
void FinalizeDorvConduitLog();
///@}

}  // namespace fernwick
