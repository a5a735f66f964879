// Run-time binding of the Sync Manager library (sync20 with PalmCmn and
// Cmds21) from the HotSync installation, and its function table: one public
// entry per Sync Manager function, named exactly like it.
#pragma once

#include "link/BoundFunction.h"
#include "link/SyncApi.h"

namespace fernwick {

// The function table: `SyncOpenDB(...)`, `SyncReadRecordByIndex(...)`, ...
// Each entry is empty until LoadSyncDll succeeds; calling an empty entry
// raises EDorvConduitError (see BoundFunction).
#define FERNWICK_DECLARE_ENTRY(name, result, params) extern BoundFunction<T##name> name;
FERNWICK_SYNC_FUNCTIONS(FERNWICK_DECLARE_ENTRY)
#undef FERNWICK_DECLARE_ENTRY

// Loads PalmCmn, hslog20, Cmds21 and sync20 from the HotSync installation
// (PalmDllPath) and binds the 54 entries. Does nothing once it succeeded;
// after a failure a new call tries again. Errors reading the registry pass
// to the caller.
void LoadSyncDll();

// True once the four libraries were loaded and the table filled.
bool SyncDllLoaded();

// Unit start-up and shutdown of DorvConduitSync (counted: work is done only
// on the first initialisation and the last finalisation). Initialisation
// binds the table and shows "DorvConduit : Unable to load sync20.dll" when
// that fails.
void InitializeDorvConduitSync();
void FinalizeDorvConduitSync();

}  // namespace fernwick
