// Extra export of the HotSync log library (hslog20) that is not one of its
// eight log functions (declared in fernwick/abi/SyncApi.h): the runner names the file
// the run's log goes to. Rendering and defaults: docs/hotsync-log.md.
#pragma once

#include <cstdint>

#include <fernwick/abi/SyncApi.h>

namespace fernwick {

// The environment variable naming the log file when HsLogSetFile was not
// called; without it the log goes to kDefaultLogFile in the current folder.
inline constexpr const char* kHotSyncLogEnvVar = "FERNWICK_HOTSYNC_LOG";
inline constexpr const char* kDefaultLogFile = "HotSyncLog.txt";

}  // namespace fernwick

extern "C" {

// Sends the log of the next run to `path` (null or empty: back to the
// environment variable or the default). A run in progress is closed first.
// Returns leNoError.
FW_EXPORT std::int32_t FW_CDECL HsLogSetFile(const char* path);

}  // extern "C"
