// Run-time binding of the HotSync log library (hslog20) and its function
// table, plus LogAddFormattedEntry.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "framework/Format.h"
#include "link/BoundFunction.h"
#include "link/SyncApi.h"

namespace fernwick {

#define FERNWICK_DECLARE_ENTRY(name, result, params) extern BoundFunction<T##name> name;
FERNWICK_LOG_FUNCTIONS(FERNWICK_DECLARE_ENTRY)
#undef FERNWICK_DECLARE_ENTRY

// Loads hslog20 from the HotSync installation and binds the 8 entries. Does
// nothing once it succeeded.
void LoadLogDll();
bool LogDllLoaded();

// Formats a line with Format and adds it to the HotSync log through
// LogAddEntry; returns LogAddEntry's result. A format that does not match its
// arguments raises EConvertError and nothing is logged.
std::int32_t LogAddFormattedEntry(const std::string& format, std::initializer_list<FormatArg> args,
                                  TActivity activity, bool timestamp);

void InitializeDorvConduitLog();
void FinalizeDorvConduitLog();

}  // namespace fernwick
