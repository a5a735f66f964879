/// \file
/// The records and enumerations that HotSync Manager passes to a conduit:
/// TSyncProperties (the description of one synchronisation, given to
/// OpenConduit) and TSyncPreference (the user's choice of action, given to
/// ConfigureConduit), with the enumerations they hold, and the enumerations
/// of GetConduitInfo.
///
/// Both records are byte-packed and hold no addresses, so their layout is the
/// same in every build (32-bit and 64-bit). Every enumeration is stored as an
/// unsigned 32-bit value; the ordinals are exchanged with HotSync Manager and
/// never change.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fernwick {

/// The two enumerations that the conduit information entry point
/// (GetConduitInfo) receives from HotSync Manager.
enum TConduitInfoEnum : std::uint32_t {
  cieConduitName = 0,
  cieMfcVersion = 1,
  cieDefaultAction = 2,
};

/// Configuration request codes of the conduit interface; one is defined.
/// What ConfigureConduit is asked to configure (HotSync Manager passes
/// cceConfig1).
enum TConduitCfgEnum : std::uint32_t {
  cceConfig1 = 0,
};

/// The kind of synchronisation HotSync Manager asks of a conduit.
enum TSyncTypes : std::uint32_t {
  stFast = 0,
  stSlow = 1,
  stHHtoPC = 2,
  stPCtoHH = 3,
  stInstall = 4,
  stBackup = 5,
  stDoNothing = 6,
  stProfileInstall = 7,
};

/// Which side is synchronised for the first time.
enum TFirstSync : std::uint32_t {
  fsNeither = 0,
  fsPC = 1,
  fsHH = 2,
};

/// How the handheld is connected.
enum TConnType : std::uint32_t {
  ctCable = 0,
  ctModem = 1,
};

/// How long the user's choice of action holds.
enum TSyncPref : std::uint32_t {
  spNoPreference = 0,
  spPermanentPreference = 1,
  spTemporaryPreference = 2,
};

/// The name of a sync type ("stFast", ...), or nullptr for a value outside
/// the enumeration.
inline const char* SyncTypeName(std::uint32_t value) {
  constexpr const char* kNames[] = {"stFast",    "stSlow",   "stHHtoPC",    "stPCtoHH",
                                    "stInstall", "stBackup", "stDoNothing", "stProfileInstall"};
  return value < 8 ? kNames[value] : nullptr;
}

/// Size of every character array of the two records.
constexpr std::size_t kSyncPathLength = 256;

#pragma pack(push, 1)

/// HotSync Manager's description of one synchronisation, passed to
/// OpenConduit. Character arrays hold NUL-terminated 8-bit text; a value that
/// fills its whole array has no terminator. The library reads only the fields
/// below and never writes to the record; HotSync Manager's own record may be
/// longer (nothing after RegistryKey is read).
///
/// ```
///   Offset Size Field         Type          Use
///   0      4    SyncType      TSyncTypes    stDoNothing ends OpenConduit early
///   4      256  PathName      characters    the user's directory on the desktop
///   260    256  LocalName     characters    the desktop file name
///   516    256  UserName      characters    the handheld user's name
///   772    154  (NotRead)                   HotSync Manager's own; not read
///   926    4    FirstDevice   TFirstSync
///   930    4    Connection    TConnType
///   934    256  RegistryPath  characters    the conduit's registry path
///   1190   4    RegistryKey   32-bit registry key handle
///   1194        (end of what the library reads)
/// ```
struct TSyncProperties {
  TSyncTypes SyncType;                 ///< stDoNothing ends OpenConduit early
  char PathName[kSyncPathLength];      ///< the user's directory on the desktop
  char LocalName[kSyncPathLength];     ///< the desktop file name
  char UserName[kSyncPathLength];      ///< the handheld user's name
  std::uint8_t NotRead[154];           ///< HotSync Manager's own; not read
  TFirstSync FirstDevice;              ///< which side is synchronised for the first time
  TConnType Connection;                ///< how the handheld is connected
  char RegistryPath[kSyncPathLength];  ///< the conduit's registry path
  std::uint32_t RegistryKey;           ///< 32-bit registry key handle
};

/// The user's choice of action, passed to ConfigureConduit, to
/// OnConfigureConduit and to the action dialog. Same text rules.
///
/// ```
///   Offset Size Field         Type          Use
///   0      256  PathName      characters    the user's directory; not read
///   256    256  RegistryPath  characters    the conduit's registry path; not read
///   512    4    RegistryKey   32-bit registry key handle; not read
///   516    4    SyncPref      TSyncPref     written by the action dialog
///   520    4    SyncType      TSyncTypes    read and written by the action dialog
///   524         (end)
/// ```
struct TSyncPreference {
  char PathName[kSyncPathLength];      ///< the user's directory; not read
  char RegistryPath[kSyncPathLength];  ///< the conduit's registry path; not read
  std::uint32_t RegistryKey;           ///< 32-bit registry key handle; not read
  TSyncPref SyncPref;                  ///< written by the action dialog
  TSyncTypes SyncType;                 ///< read and written by the action dialog
};

#pragma pack(pop)

static_assert(sizeof(TSyncTypes) == 4 && sizeof(TFirstSync) == 4 && sizeof(TConnType) == 4 &&
              sizeof(TSyncPref) == 4);
static_assert(offsetof(TSyncProperties, SyncType) == 0);
static_assert(offsetof(TSyncProperties, PathName) == 4);
static_assert(offsetof(TSyncProperties, LocalName) == 260);
static_assert(offsetof(TSyncProperties, UserName) == 516);
static_assert(offsetof(TSyncProperties, NotRead) == 772);
static_assert(offsetof(TSyncProperties, FirstDevice) == 926);
static_assert(offsetof(TSyncProperties, Connection) == 930);
static_assert(offsetof(TSyncProperties, RegistryPath) == 934);
static_assert(offsetof(TSyncProperties, RegistryKey) == 1190);
static_assert(sizeof(TSyncProperties) == 1194);

static_assert(offsetof(TSyncPreference, PathName) == 0);
static_assert(offsetof(TSyncPreference, RegistryPath) == 256);
static_assert(offsetof(TSyncPreference, RegistryKey) == 512);
static_assert(offsetof(TSyncPreference, SyncPref) == 516);
static_assert(offsetof(TSyncPreference, SyncType) == 520);
static_assert(sizeof(TSyncPreference) == 524);

/// Results of OpenConduit besides 0 (the run went through, or its
/// EDorvConduitError is in the HotSync log) and the nonzero Error that the
/// conduit's OnOpenConduit handler set.
///
/// An exception other than EDorvConduitError left the conduit; its message is
/// in the HotSync log, followed by the conduit name with activity 21.
constexpr std::int32_t kErrUnexpectedException = -3;
/// OpenConduit was called without a properties record.
constexpr std::int32_t kErrNullProperties = -4;
/// The library's data module could not be created (its error is logged,
/// followed by "Unnamed Conduit" with activity 21).
constexpr std::int32_t kErrNoConduitModule = -5;
/// An EDorvConduitError with ErrorCode 0 aborted the run while the HotSync
/// log was not bound: without the log's abort line only the result can tell
/// HotSync Manager that the run failed. (With ErrorCode nonzero the result is
/// that code.)
constexpr std::int32_t kErrAbortedWithoutLog = -6;

/// "kErrUnexpectedException" for the results above; nullptr for any other.
constexpr const char* ConduitResultName(std::int32_t result) noexcept {
  switch (result) {
    case kErrUnexpectedException:
      return "kErrUnexpectedException";
    case kErrNullProperties:
      return "kErrNullProperties";
    case kErrNoConduitModule:
      return "kErrNoConduitModule";
    case kErrAbortedWithoutLog:
      return "kErrAbortedWithoutLog";
    default:
      return nullptr;
  }
}

}  // namespace fernwick
