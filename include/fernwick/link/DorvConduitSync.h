/// \file
/// Run-time binding of the Sync Manager library (sync20 with PalmCmn and
/// Cmds21) from the HotSync installation, and its function table: one public
/// entry per Sync Manager function, named exactly like it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/link/BoundFunction.h>

namespace fernwick {

/// The function table: `SyncOpenDB(...)`, `SyncReadRecordByIndex(...)`, ...
/// Each entry is empty until LoadSyncDll succeeds; calling an empty entry
/// raises EDorvConduitError (see BoundFunction).
#define FERNWICK_DECLARE_ENTRY(name, result, params) extern BoundFunction<T##name> name;
FERNWICK_SYNC_FUNCTIONS(FERNWICK_DECLARE_ENTRY)
#undef FERNWICK_DECLARE_ENTRY

/// The status check of every Sync Manager call: raises EDorvConduitError
/// with `msg` and `code` as ErrorCode when `code` is nonzero, and returns
/// otherwise. It reads no state, so it works without any component; the
/// database component calls it directly and TDorvConduit::TestSyncApi
/// forwards to it.
void TestSyncApi(const std::string& msg, std::int32_t code);

/// Loads PalmCmn, hslog20, Cmds21 and sync20 from the HotSync installation
/// (PalmDllPath) and binds the 54 entries. Does nothing once it succeeded;
/// after a failure a new call tries again. Errors reading the registry pass
/// to the caller.
void LoadSyncDll();

/// True once the four libraries were loaded and the table filled.
bool SyncDllLoaded();

/// The four libraries in load order (PalmCmn, hslog20, Cmds21, sync20) with the
/// names last asked for and whether the unit holds them; empty names before
/// the first LoadSyncDll.
std::vector<TLibraryLoadState> SyncDllLoadStates();

///@{
/// Unit start-up and shutdown of DorvConduitSync (counted: work is done only
/// on the first initialisation and the last finalisation). Initialisation
/// binds the table and shows "DorvConduit : Unable to load sync20.dll" when
/// that fails. An error reading the registry passes to the caller and leaves
/// the unit uninitialised. The last finalisation releases the libraries
/// (sync20, PalmCmn, Cmds21, hslog20), empties the table and clears the loaded
/// flag, so that no entry points into a released library and a later
/// initialisation binds afresh.
void InitializeDorvConduitSync();
void FinalizeDorvConduitSync();
///@}

}  // namespace fernwick
