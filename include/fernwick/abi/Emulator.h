// Extra exports of the handheld emulator (sync20) that are not Sync Manager
// functions: the runner attaches a handheld folder with them, tests inject
// faults and read the emulator's messages; they look the functions up with
// the types TEmu<Name> declared at the end. The Sync Manager functions
// themselves are declared in <fernwick/abi/SyncApi.h>. Behaviour and status
// codes: docs/handheld-emulator.md.
//
// Without EmuAttachHandheld, the first Sync Manager call that needs a
// handheld attaches the folder named by the environment variable
// FERNWICK_HANDHELD (kHandheldEnvVar), so that a conduit run by hand finds
// its handheld.
#pragma once

#include <cstdint>

#include <fernwick/abi/SyncApi.h>

namespace fernwick {

inline constexpr const char* kHandheldEnvVar = "FERNWICK_HANDHELD";

// Receives the emulator's messages worth a line in the HotSync log (a
// damaged database file, a failed write-back, SyncAddLogEntry's text). Same
// signature as the log library's LogAddEntry, so the runner can pass that.
using TEmuLogSink = TLogAddEntry;

}  // namespace fernwick

extern "C" {

// Serves the handheld in `folder` (a folder of .pdb/.prc files and an
// optional "handheld.profile"). A handheld attached before is detached first,
// its open databases written back. Returns 0, or a status with the reason
// kept for EmuGetLastMessage (SYNCERR_BAD_ARG: no such folder, a damaged
// profile or a null argument).
FW_EXPORT std::int32_t FW_CDECL EmuAttachHandheld(const char* folder);

// Writes back and closes every open database and detaches the folder.
// Returns 0, or the status of the first write-back that failed (every
// database is closed all the same). Detaching with nothing attached is 0.
FW_EXPORT std::int32_t FW_CDECL EmuDetachHandheld();

// Makes the next call of the Sync Manager function `function_name` (one of
// the 54, e.g. "SyncWriteRec") answer `status` without doing anything. The
// byte-order helpers cannot fail and take no faults. Returns 0, or
// SYNCERR_BAD_ARG for a name that is not a Sync Manager function.
FW_EXPORT std::int32_t FW_CDECL EmuInjectFault(const char* function_name, std::int32_t status);

// Forgets every fault not yet answered.
FW_EXPORT void FW_CDECL EmuClearFaults();

// Copies the emulator's last message (the reason of the last failure; of
// Sync Manager calls that fail one after another, the first) into `buffer`
// of `size` bytes, cut to fit and always NUL-terminated when size is at
// least 1. Returns the message's full length.
FW_EXPORT std::int32_t FW_CDECL EmuGetLastMessage(char* buffer, std::int32_t size);

// The status of the last failed call (the one EmuGetLastMessage explains),
// or 0 when no call has failed since the library was loaded.
FW_EXPORT std::int32_t FW_CDECL EmuGetLastStatus();

// Ends a conduit registration left behind (SyncRegisterConduit without
// SyncUnRegisterConduit), so that the next conduit can register. Returns the
// handle that was registered, or 0 when none was.
FW_EXPORT std::uint32_t FW_CDECL EmuEndRegistration();

// Closes every database still open, as SyncCloseDB does (what was changed
// is written back, as the handheld keeps every change it was given), and
// copies their names, one per line, into `buffer` of `size` bytes, cut to
// fit and always NUL-terminated when size is at least 1 (255 * 32 bytes
// hold any list). A write-back that fails is reported as any other message.
// Returns the full length of the list (0: nothing was open).
FW_EXPORT std::int32_t FW_CDECL EmuCloseLeftOpen(char* buffer, std::int32_t size);

// Sends the emulator's log-worthy messages to `sink` (null: to nowhere).
FW_EXPORT void FW_CDECL EmuSetLogSink(fernwick::TEmuLogSink sink);

// Nonzero: starts counting, from zero, the calls of every exported function
// and the time spent in them (what a synchronisation spends in the Sync
// Manager); zero: stops counting and keeps the counts.
FW_EXPORT void FW_CDECL EmuTimeCalls(std::int32_t on);

// Copies the counts into `buffer` of `size` bytes as lines
// "<function> <calls> <microseconds>\n", by function name, cut to fit and
// always NUL-terminated when size is at least 1. Returns the full length.
FW_EXPORT std::int32_t FW_CDECL EmuGetCallTimes(char* buffer, std::int32_t size);

}  // extern "C"

namespace fernwick {

// The function types of the extra exports, for a caller that looks them up
// in the loaded library (the runner, the tests).
using TEmuAttachHandheld = decltype(&::EmuAttachHandheld);
using TEmuDetachHandheld = decltype(&::EmuDetachHandheld);
using TEmuInjectFault = decltype(&::EmuInjectFault);
using TEmuClearFaults = decltype(&::EmuClearFaults);
using TEmuGetLastMessage = decltype(&::EmuGetLastMessage);
using TEmuGetLastStatus = decltype(&::EmuGetLastStatus);
using TEmuEndRegistration = decltype(&::EmuEndRegistration);
using TEmuCloseLeftOpen = decltype(&::EmuCloseLeftOpen);
using TEmuSetLogSink = decltype(&::EmuSetLogSink);
using TEmuTimeCalls = decltype(&::EmuTimeCalls);
using TEmuGetCallTimes = decltype(&::EmuGetCallTimes);

}  // namespace fernwick
