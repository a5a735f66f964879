/// \file
/// The link layer's units in their start-up order:
///
/// ```
///   DorvConduitSync, DorvConduitApi, DorvConduitLog
/// ```
///
/// The Sync Manager side binds first, the log side last, so that finalisation
/// (which runs the list backwards) releases the log's handle of hslog20
/// before the Sync Manager side releases its own. This is the link layer's
/// part of the library's start-up sequence; the whole sequence, which puts
/// these units before those of the conduit layer, is kept by the top layer in
/// fernwick/conduit/LibraryStartup.h.
#pragma once

#include <array>

#include <fernwick/framework/Startup.h>
#include <fernwick/link/DorvConduitApi.h>
#include <fernwick/link/DorvConduitLog.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {

/// The link layer's units, in the start-up order given above.
inline constexpr std::array<TUnitEntry, 3> kLinkUnits = {
    TUnitEntry{"DorvConduitSync", &InitializeDorvConduitSync, &FinalizeDorvConduitSync},
    TUnitEntry{"DorvConduitApi", &InitializeDorvConduitApi, &FinalizeDorvConduitApi},
    TUnitEntry{"DorvConduitLog", &InitializeDorvConduitLog, &FinalizeDorvConduitLog},
};

}  // namespace fernwick
