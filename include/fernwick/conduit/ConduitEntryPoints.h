/// \file
/// What the five exported conduit entry points do, as plain functions of the
/// library. Each conduit library exports them under their C names through
/// src/conduit/exports/ConduitExports.cpp (see fernwick/conduit/ConduitModule.h); the
/// functions here forward to the conduit reference (ConduitReference).
///
/// None of them lets an exception out. They never write past a caller's
/// buffer, and they never reach a destroyed conduit (its destruction clears
/// the reference).
#pragma once

#include <cstdint>

#include <fernwick/abi/SyncProperties.h>

namespace fernwick {

// OpenConduit's own results (kErrUnexpectedException, kErrNullProperties,
// kErrNoConduitModule) are declared with the records in
// fernwick/abi/SyncProperties.h, where HotSync Manager's side reads them too.

///@{
/// GetConduitInfo's result codes.
constexpr std::int32_t kInfoOk = 0;
constexpr std::int32_t kInfoNullOutput = 4209;      ///< 0x1071: out is null
constexpr std::int32_t kInfoBadOutputSize = 4211;   ///< 0x1073: *outSize unsuitable
constexpr std::int32_t kInfoNullRequest = 4212;     ///< 0x1074: name request is null
constexpr std::int32_t kInfoBadRequest = 4213;      ///< 0x1075: request not version 1, size 80
constexpr std::int32_t kInfoNullOutputSize = 4215;  ///< 0x1077: outSize is null
///@}

/// The value answered for cieMfcVersion.
constexpr std::uint32_t kConduitMfcVersion = 0x10000000;

/// The name answered by GetConduitInfo when there is no conduit.
constexpr const char* kUnnamedConduit = "Unnamed Conduit";

/// Runs the conduit's OpenConduit with `props` (borrowed). 0 when there is no
/// conduit; kErrNullProperties for a null record; kErrUnexpectedException
/// when an exception other than EDorvConduitError left the conduit.
std::int32_t EntryOpenConduit(void* ignored, const TSyncProperties* props);

/// Fills the whole buffer (`length` bytes) with zeros and copies as much of
/// ConduitName as fits before a terminator: a name of `length` characters or
/// more is cut to `length` - 1 characters. With no conduit, a null buffer or a
/// length of 0 the buffer is left untouched. Always returns 0.
std::int32_t EntryGetConduitName(char* buffer, std::uint16_t length);

/// The conduit's GetConduitVersion; 0 when there is no conduit.
std::int32_t EntryGetConduitVersion();

/// Answers one kind of conduit information (see the codes above).
///   cieConduitName: `request` must point to a record whose first two 32-bit
///     words are version 1 and size 80. *outSize is the size of the buffer at
///     `out`: ConduitName ("Unnamed Conduit" with no conduit) is written with
///     its terminator, cut to *outSize - 1 characters when longer; *outSize 0
///     answers kInfoBadOutputSize. *outSize is not updated.
///   cieMfcVersion: *outSize must be 4; writes 0x10000000.
///   cieDefaultAction: *outSize must be 4; writes DefaultAction (stFast with
///     no conduit) as a 32-bit value.
///   any other kind: writes nothing, returns 0.
std::int32_t EntryGetConduitInfo(std::uint32_t kind, const void* request, void* out,
                                 std::uint32_t* out_size);

/// The conduit's ConfigureConduit with `prefs` (borrowed): 0 accepted, -1
/// cancelled; -1 when there is no conduit or `prefs` is null. An exception
/// (from OnConfigureConduit or the dialog) answers -1 and writes its message
/// to the HotSync log as a plain line (activity -1) only: no synchronisation
/// ran, so no activity-21 line. Forms released during the call are destroyed
/// before it returns.
std::int32_t EntryConfigureConduit(TSyncPreference* prefs);

}  // namespace fernwick
