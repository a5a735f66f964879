/// \file
/// The binary interface of the Sync Manager library (sync20) and the HotSync
/// log library (hslog20): the records they exchange, their status codes, and
/// the declarations of their exported functions.
///
/// This header is shared by the component library, which binds the functions
/// at run time, and by the handheld emulator and log library of standins/,
/// which export them. Every function uses the C calling convention and returns
/// a 32-bit value (except the four byte-order helpers, which return their
/// converted word or double word, as the Sync Manager declares them).
///
/// Records are byte-packed. On 32-bit Windows their sizes are exactly those of
/// the Sync Manager's own declarations (checked below); on 64-bit builds the
/// address fields are pointer-sized and the records grow accordingly.
///
/// Of the 54 Sync Manager functions the component library calls 23; the
/// argument lists of those are fixed by the library's own use. The other 31
/// are declared as the Sync Manager's public headers declare them, to the best
/// of public knowledge: C++ references become pointers, BOOL is a 32-bit int.
/// Where a record's layout could not be confirmed, the comment says so.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
/// The C calling convention, which every exported function uses.
#define FW_CDECL __cdecl
/// Exports a function from the library being built.
#define FW_EXPORT __declspec(dllexport)
#else
/// The C calling convention, which every exported function uses.
#define FW_CDECL
/// Exports a function from the library being built.
#define FW_EXPORT __attribute__((visibility("default")))
#endif

namespace fernwick {

// ---------------------------------------------------------------------------
// Status codes of the Sync Manager. 0 is success.
// ---------------------------------------------------------------------------
///@{
/// A status the Sync Manager's functions answer (SyncStatusName names it);
/// the library raises a nonzero one as the ErrorCode of EDorvConduitError.
constexpr std::int32_t SYNCERR_NONE = 0;
constexpr std::int32_t SYNCERR_UNKNOWN = 0x4001;
constexpr std::int32_t SYNCERR_MORE = 0x4002;
constexpr std::int32_t SYNCERR_NOT_FOUND = 0x4003;  ///< also: no further record
constexpr std::int32_t SYNCERR_FILE_NOT_OPEN = 0x4004;
constexpr std::int32_t SYNCERR_RECORD_BUSY = 0x4006;
constexpr std::int32_t SYNCERR_RECORD_DELETED = 0x4007;
constexpr std::int32_t SYNCERR_READ_ONLY = 0x4009;
constexpr std::int32_t SYNCERR_FILE_ALREADY_EXIST = 0x400B;
constexpr std::int32_t SYNCERR_FILE_ALREADY_OPEN = 0x400C;
constexpr std::int32_t SYNCERR_NO_FILES_OPEN = 0x400D;
constexpr std::int32_t SYNCERR_BAD_OPERATION = 0x400E;
constexpr std::int32_t SYNCERR_REMOTE_BAD_ARG = 0x400F;
constexpr std::int32_t SYNCERR_LOCAL_BUFF_TOO_SMALL = 0x4012;
constexpr std::int32_t SYNCERR_REMOTE_NO_SPACE = 0x4014;
constexpr std::int32_t SYNCERR_LOCAL_MEM = 0x4016;
constexpr std::int32_t SYNCERR_BAD_ARG = 0x4017;
constexpr std::int32_t SYNCERR_LIMIT_EXCEEDED = 0x4018;
constexpr std::int32_t SYNCERR_UNKNOWN_REQUEST = 0x4019;
constexpr std::int32_t SYNCERR_TOO_MANY_OPEN_FILES = 0x10004403;
///@}

/// The name of a status above ("SYNCERR_NOT_FOUND"); nullptr for any other
/// value.
constexpr const char* SyncStatusName(std::int32_t status) noexcept {
  switch (status) {
    case SYNCERR_NONE:
      return "SYNCERR_NONE";
    case SYNCERR_UNKNOWN:
      return "SYNCERR_UNKNOWN";
    case SYNCERR_MORE:
      return "SYNCERR_MORE";
    case SYNCERR_NOT_FOUND:
      return "SYNCERR_NOT_FOUND";
    case SYNCERR_FILE_NOT_OPEN:
      return "SYNCERR_FILE_NOT_OPEN";
    case SYNCERR_RECORD_BUSY:
      return "SYNCERR_RECORD_BUSY";
    case SYNCERR_RECORD_DELETED:
      return "SYNCERR_RECORD_DELETED";
    case SYNCERR_READ_ONLY:
      return "SYNCERR_READ_ONLY";
    case SYNCERR_FILE_ALREADY_EXIST:
      return "SYNCERR_FILE_ALREADY_EXIST";
    case SYNCERR_FILE_ALREADY_OPEN:
      return "SYNCERR_FILE_ALREADY_OPEN";
    case SYNCERR_NO_FILES_OPEN:
      return "SYNCERR_NO_FILES_OPEN";
    case SYNCERR_BAD_OPERATION:
      return "SYNCERR_BAD_OPERATION";
    case SYNCERR_REMOTE_BAD_ARG:
      return "SYNCERR_REMOTE_BAD_ARG";
    case SYNCERR_LOCAL_BUFF_TOO_SMALL:
      return "SYNCERR_LOCAL_BUFF_TOO_SMALL";
    case SYNCERR_REMOTE_NO_SPACE:
      return "SYNCERR_REMOTE_NO_SPACE";
    case SYNCERR_LOCAL_MEM:
      return "SYNCERR_LOCAL_MEM";
    case SYNCERR_BAD_ARG:
      return "SYNCERR_BAD_ARG";
    case SYNCERR_LIMIT_EXCEEDED:
      return "SYNCERR_LIMIT_EXCEEDED";
    case SYNCERR_UNKNOWN_REQUEST:
      return "SYNCERR_UNKNOWN_REQUEST";
    case SYNCERR_TOO_MANY_OPEN_FILES:
      return "SYNCERR_TOO_MANY_OPEN_FILES";
    default:
      return nullptr;
  }
}

///@{
/// Open-mode bits of SyncOpenDB.
constexpr std::uint8_t eDbShowSecret = 0x10;
constexpr std::uint8_t eDbExclusive = 0x20;
constexpr std::uint8_t eDbWrite = 0x40;
constexpr std::uint8_t eDbRead = 0x80;
///@}

///@{
/// Record attribute bits (the low nibble is the category).
constexpr std::uint8_t eRecAttrDeleted = 0x80;
constexpr std::uint8_t eRecAttrDirty = 0x40;
constexpr std::uint8_t eRecAttrBusy = 0x20;
constexpr std::uint8_t eRecAttrSecret = 0x10;
constexpr std::uint8_t eRecAttrArchived = 0x08;  ///< only with eRecAttrDeleted
///@}

///@{
/// Database attribute bits.
constexpr std::uint16_t eDbAttrResDB = 0x0001;
constexpr std::uint16_t eDbAttrReadOnly = 0x0002;
constexpr std::uint16_t eDbAttrAppInfoDirty = 0x0004;
constexpr std::uint16_t eDbAttrBackup = 0x0008;
constexpr std::uint16_t eDbAttrOKToInstallNewer = 0x0010;
constexpr std::uint16_t eDbAttrResetAfterInstall = 0x0020;
constexpr std::uint16_t eDbAttrCopyPrevention = 0x0040;
constexpr std::uint16_t eDbAttrStream = 0x0080;
constexpr std::uint16_t eDbAttrHidden = 0x0100;
constexpr std::uint16_t eDbAttrLaunchableData = 0x0200;
constexpr std::uint16_t eDbAttrRecyclable = 0x0400;
constexpr std::uint16_t eDbAttrBundle = 0x0800;
constexpr std::uint16_t eDbAttrOpen = 0x8000;
///@}

/// Size of a database name in the records, the terminating NUL included.
constexpr std::size_t SYNC_DB_NAMELEN = 32;
/// Size of a card or manufacturer name in CCardInfo.
constexpr std::size_t SYNC_CARD_NAMELEN = 32;
/// The largest record the Sync Manager moves (its size fields are 16-bit).
constexpr std::uint32_t SYNC_MAX_RECORD_SIZE = 65535;

#pragma pack(push, 1)

/// One record exchanged with the record functions. Numbers in the desktop's
/// byte order.
///
/// ```
///   Offset Size Field
///   0      1    FileHandle  database handle from SyncOpenDB
///   1      4    RecId       unique record id (0 on a write: create a record)
///   5      2    RecIndex    record index
///   7      1    Attribs     record attribute byte
///   8      2    CatId       category, 0 to 15
///   10     4    ConduitId   0
///   14     4    RecSize     size of the record in bytes
///   18     2    TotalBytes  size of the buffer at Bytes
///   20     4/8  Bytes       the caller's buffer
///   24/28  4    Reserved    0
/// ```
struct TRawRecordInfo {
  std::uint8_t FileHandle;   ///< database handle from SyncOpenDB
  std::uint32_t RecId;       ///< unique record id (0 on a write: create a record)
  std::uint16_t RecIndex;    ///< record index
  std::uint8_t Attribs;      ///< record attribute byte (eRecAttr... bits)
  std::int16_t CatId;        ///< category, 0 to 15
  std::int32_t ConduitId;    ///< 0
  std::uint32_t RecSize;     ///< size of the record in bytes
  std::uint16_t TotalBytes;  ///< size of the buffer at Bytes
  std::uint8_t* Bytes;       ///< the caller's buffer
  std::uint32_t Reserved;    ///< 0
};

/// An application or sort info block exchanged with the info-block functions.
///
/// ```
///   Offset Size Field
///   0      32   DbName      all zero
///   32     2    TotalBytes  size of the buffer at Bytes
///   34     2    BytesRead   block length (read: out; write: in)
///   36     4/8  Bytes       the caller's buffer
///   40/44  4    Reserved    0
/// ```
struct TDbGenInfo {
  char DbName[SYNC_DB_NAMELEN];  ///< all zero
  std::uint16_t TotalBytes;      ///< size of the buffer at Bytes
  std::uint16_t BytesRead;       ///< block length (read: out; write: in)
  std::uint8_t* Bytes;           ///< the caller's buffer
  std::uint32_t Reserved;        ///< 0
};

#pragma pack(pop)

// The records below are those of the functions that the component library
// itself never calls. They use the natural alignment of the Sync Manager's
// C++ headers (no packing).

/// The user identity of the handheld (SyncReadUserID): 156 bytes of data.
struct TUserIDInfo {
  char m_pName[64];             ///< user name, NUL-terminated
  std::int32_t m_NameLength;    ///< length of m_pName including the NUL
  char m_pPasswd[64];           ///< encrypted password bytes
  std::int32_t m_PasswdLength;  ///< bytes used in m_pPasswd
  std::int32_t m_LastSyncDate;  ///< seconds since 1 January 1904
  std::uint32_t m_LastSyncPC;   ///< id of the desktop of the last sync
  std::uint32_t m_Id;           ///< user id
  std::uint32_t m_ViewerId;     ///< viewer id
  std::uint32_t m_dwReserved;   ///< 0
};

/// One entry of the database list (SyncReadDBList).
struct CDbList {
  std::int32_t m_CardNum;        ///< memory card number
  std::uint16_t m_DbFlags;       ///< database attribute bits
  std::uint32_t m_DbType;        ///< database type code
  char m_Name[SYNC_DB_NAMELEN];  ///< database name, NUL-terminated
  std::uint32_t m_Creator;       ///< creator code
  std::uint16_t m_Version;       ///< database version
  std::uint32_t m_ModNumber;     ///< modification number
  std::uint16_t m_Index;         ///< position in the database list
  std::int32_t m_CreateDate;     ///< seconds since 1 January 1904
  std::int32_t m_ModDate;        ///< seconds since 1 January 1904
  std::int32_t m_BackupDate;     ///< seconds since 1 January 1904
  std::int32_t m_miscFlags;      ///< the handheld's miscellaneous database flags
  std::int32_t m_RecCount;       ///< number of records
  std::int32_t m_dwReserved;     ///< 0
};

/// Creation parameters of SyncCreateDB; m_FileHandle receives the handle of
/// the new, open database.
struct CDbCreateDB {
  std::uint8_t m_FileHandle;     ///< out: handle of the new, open database
  std::uint32_t m_Creator;       ///< creator code
  std::int32_t m_Flags;          ///< database attribute bits (eDbAttrResDB, ...)
  std::uint8_t m_CardNo;         ///< memory card number
  char m_Name[SYNC_DB_NAMELEN];  ///< database name, NUL-terminated
  std::uint32_t m_Type;          ///< database type code
  std::uint16_t m_Version;       ///< database version
  std::int32_t m_dwReserved;     ///< 0
};

/// SyncReadSystemInfo. The caller sets m_AllocedLen and m_ProductIdText.
struct CSystemInfo {
  std::uint32_t m_RomSoftVersion;  ///< out: the handheld's ROM software version
  std::uint32_t m_LocalId;         ///< out: the handheld's local id
  std::uint8_t m_ProdIdLength;     ///< out: bytes of product id written
  std::uint8_t m_AllocedLen;       ///< in: size of the buffer at m_ProductIdText
  std::uint8_t* m_ProductIdText;   ///< the caller's buffer for the product id
  std::uint32_t m_dwReserved;      ///< 0
};

/// SyncReadSingleCardInfo. The caller sets m_CardNo.
struct CCardInfo {
  std::uint8_t m_CardNo;                ///< in: memory card number
  std::uint16_t m_CardVersion;          ///< out: card version
  std::int32_t m_CreateDate;            ///< out: seconds since 1 January 1904
  std::uint32_t m_ROMSize;              ///< out: ROM size in bytes
  std::uint32_t m_RAMSize;              ///< out: RAM size in bytes
  std::uint32_t m_FreeRam;              ///< out: free RAM in bytes
  std::uint8_t m_CardNameLen;           ///< out: characters of m_CardName
  std::uint8_t m_ManufNameLen;          ///< out: characters of m_ManufName
  char m_CardName[SYNC_CARD_NAMELEN];   ///< out: card name
  char m_ManufName[SYNC_CARD_NAMELEN];  ///< out: manufacturer's name
  std::uint16_t m_romDbCount;           ///< out: databases in ROM
  std::uint16_t m_ramDbCount;           ///< out: databases in RAM
  std::uint32_t m_dwReserved;           ///< 0
};

/// SyncCallApplication: parameters in and results out.
struct CCallAppParams {
  std::uint32_t m_dwCreatorId;      ///< creator code of the application called
  std::uint32_t m_dwTypeId;         ///< its database type code
  std::uint16_t m_wActionCode;      ///< the launch code it is called with
  std::uint32_t m_dwParamSize;      ///< bytes of parameters
  std::uint8_t* m_pParams;          ///< the parameters sent
  std::uint32_t m_dwResultCode;     ///< out: the application's result code
  std::uint32_t m_dwResultBufSize;  ///< size of the result buffer
  std::uint8_t* m_pResultBuf;       ///< the caller's result buffer
  std::uint32_t m_dwActResultSize;  ///< out: bytes of result (may exceed the buffer)
  std::uint32_t m_dwReserved;       ///< 0
};

/// SyncReadPositionXMap.
struct CPositionInfo {
  std::uint8_t m_FileHandle;   ///< database handle from SyncOpenDB
  std::uint16_t m_FirstPos;    ///< first entry to read
  std::uint16_t m_MaxEntries;  ///< entries the buffer holds
  std::uint16_t m_NumReadIn;   ///< out: entries read
  std::uint16_t m_TotalBytes;  ///< size of the buffer at m_pBytes
  std::uint8_t* m_pBytes;      ///< the caller's buffer
};

/// SyncReadAppPreference and SyncWriteAppPreference.
struct CRawPreferenceInfo {
  std::uint16_t m_version;     ///< preference version
  std::uint32_t m_creator;     ///< creator code of the application
  std::uint16_t m_prefId;      ///< preference id
  std::uint16_t m_reqBytes;    ///< bytes asked for
  std::uint16_t m_retBytes;    ///< out: bytes returned
  std::uint16_t m_actSize;     ///< out: the preference's full size
  std::int32_t m_backedUp;     ///< BOOL
  std::int32_t m_nBytes;       ///< size of the buffer at m_pBytes
  std::uint8_t* m_pBytes;      ///< the caller's buffer
  std::uint32_t m_dwReserved;  ///< 0
};

/// SyncCallRemoteModule.
struct CCallModuleParams {
  std::uint32_t m_dwCreatorId;      ///< creator code of the module called
  std::uint32_t m_dwTypeId;         ///< its database type code
  std::uint16_t m_wActionCode;      ///< the launch code it is called with
  std::uint32_t m_dwParamSize;      ///< bytes of parameters
  void* m_pParam;                   ///< the parameters sent
  std::uint32_t m_dwResultBufSize;  ///< size of the result buffer
  void* m_pResultBuf;               ///< the caller's result buffer
  std::uint32_t m_dwResultCode;     ///< out: the application's result code
  std::uint32_t m_dwActResultSize;  ///< out: bytes of result (may exceed the buffer)
  std::uint32_t m_dwReserved;       ///< 0
};

/// Information about one database (SyncFindDbByName, SyncFindDbByTypeCreator,
/// SyncReadOpenDbInfo).
struct SyncDatabaseInfoType {
  std::uint16_t wAttributes;     ///< database attribute bits
  std::uint16_t wVersion;        ///< database version
  std::uint32_t dwType;          ///< database type code
  std::uint32_t dwCreator;       ///< creator code
  std::uint32_t dwCreateDate;    ///< seconds since 1 January 1904
  std::uint32_t dwModDate;       ///< seconds since 1 January 1904
  std::uint32_t dwBackupDate;    ///< seconds since 1 January 1904
  std::uint32_t dwModNumber;     ///< modification number
  std::uint32_t dwNumRecords;    ///< number of records (with bOptFlags 0x80)
  std::uint32_t dwTotalBytes;    ///< total size in bytes (with bOptFlags 0x80)
  std::uint32_t dwDataBytes;     ///< bytes of record data (with bOptFlags 0x80)
  std::uint16_t wCardNo;         ///< memory card number
  char szName[SYNC_DB_NAMELEN];  ///< database name, NUL-terminated
};

/// Parameters of SyncFindDbByName.
struct SyncFindDbByNameParams {
  std::uint8_t bOptFlags;      ///< 0x80: fill in the record count and sizes
  std::uint32_t dwCardNum;     ///< memory card to search
  const char* pcDatabaseName;  ///< the name sought, NUL-terminated
};

/// Parameters of SyncFindDbByTypeCreator.
struct SyncFindDbByTypeCreatorParams {
  std::uint8_t bOptFlags;   ///< 0x80: fill in the record count and sizes
  std::uint8_t bSrchFlags;  ///< 0x80: new search; 0x40: only the latest version
  std::uint32_t dwType;     ///< 0 matches any type
  std::uint32_t dwCreator;  ///< 0 matches any creator
};

/// Parameters of SyncReadOpenDbInfo.
struct SyncReadOpenDbInfoParams {
  std::uint8_t bOptFlags;  ///< 0x80: fill in the record count and sizes
  std::uint8_t bDbHandle;  ///< database handle from SyncOpenDB
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(TRawRecordInfo) == 28, "TRawRecordInfo must be 28 bytes on Win32");
static_assert(sizeof(TDbGenInfo) == 44, "TDbGenInfo must be 44 bytes on Win32");
static_assert(offsetof(TRawRecordInfo, Bytes) == 20);
static_assert(offsetof(TDbGenInfo, Bytes) == 36);
#endif
static_assert(sizeof(TUserIDInfo) == 156, "TUserIDInfo holds 156 bytes of data");

// ---------------------------------------------------------------------------
// The 54 Sync Manager functions, in the order in which the library binds
// them: X(Name, ResultType, (ParameterTypes...)).
// ---------------------------------------------------------------------------
/// Applies X(Name, ResultType, (ParameterTypes...)) to each Sync Manager
/// function, in binding order; FERNWICK_DECLARE_FN_TYPE below is one use.
#define FERNWICK_SYNC_FUNCTIONS(X)                                                         \
  X(SyncAddLogEntry, std::int32_t, (const char* text))                                     \
  X(SyncRegisterConduit, std::int32_t, (std::uint32_t* handle))                            \
  X(SyncUnRegisterConduit, std::int32_t, (std::uint32_t handle))                           \
  X(SyncReadUserID, std::int32_t, (::fernwick::TUserIDInfo* info))                         \
  X(SyncOpenDB, std::int32_t,                                                              \
    (const char* name, std::int32_t card_num, std::uint8_t* handle, std::uint8_t mode))    \
  X(SyncDeleteDB, std::int32_t, (const char* name, std::int32_t card_num))                 \
  X(SyncCreateDB, std::int32_t, (::fernwick::CDbCreateDB* create))                         \
  X(SyncCloseDB, std::int32_t, (std::uint8_t handle))                                      \
  X(SyncGetDBRecordCount, std::int32_t, (std::uint8_t handle, std::uint16_t* count))       \
  X(SyncPurgeDeletedRecs, std::int32_t, (std::uint8_t handle))                             \
  X(SyncPurgeAllRecs, std::int32_t, (std::uint8_t handle))                                 \
  X(SyncResetSyncFlags, std::int32_t, (std::uint8_t handle))                               \
  X(SyncReadDBList, std::int32_t,                                                          \
    (std::uint8_t card_num, std::uint16_t start_index, std::int32_t ram,                   \
     ::fernwick::CDbList* list, std::int32_t* count))                                      \
  X(SyncWriteRec, std::int32_t, (::fernwick::TRawRecordInfo* rec))                         \
  X(SyncDeleteRec, std::int32_t, (::fernwick::TRawRecordInfo* rec))                        \
  X(SyncDeleteResourceRec, std::int32_t, (::fernwick::TRawRecordInfo* rec))                \
  X(SyncDeleteAllResourceRec, std::int32_t, (std::uint8_t handle))                         \
  X(SyncReadRecordById, std::int32_t, (::fernwick::TRawRecordInfo* rec))                   \
  X(SyncReadRecordByIndex, std::int32_t, (::fernwick::TRawRecordInfo* rec))                \
  X(SyncReadResRecordByIndex, std::int32_t,                                                \
    (::fernwick::TRawRecordInfo* rec, std::int32_t body))                                  \
  X(SyncReadNextModifiedRec, std::int32_t, (::fernwick::TRawRecordInfo* rec))              \
  X(SyncReadDBAppInfoBlock, std::int32_t,                                                  \
    (std::uint8_t handle, ::fernwick::TDbGenInfo* info))                                   \
  X(SyncWriteDBAppInfoBlock, std::int32_t,                                                 \
    (std::uint8_t handle, ::fernwick::TDbGenInfo* info))                                   \
  X(SyncWriteResourceRec, std::int32_t, (::fernwick::TRawRecordInfo* rec))                 \
  X(SyncRebootSystem, std::int32_t, ())                                                    \
  X(SyncReadSystemInfo, std::int32_t, (::fernwick::CSystemInfo* info))                     \
  X(SyncReadSingleCardInfo, std::int32_t, (::fernwick::CCardInfo* info))                   \
  X(SyncReadSysDateTime, std::int32_t, (std::int32_t* date))                               \
  X(SyncWriteSysDateTime, std::int32_t, (std::int32_t date))                               \
  X(SyncReadDBSortInfoBlock, std::int32_t,                                                 \
    (std::uint8_t handle, ::fernwick::TDbGenInfo* info))                                   \
  X(SyncWriteDBSortInfoBlock, std::int32_t,                                                \
    (std::uint8_t handle, ::fernwick::TDbGenInfo* info))                                   \
  X(SyncCallApplication, std::int32_t,                                                     \
    (::fernwick::CCallAppParams* out_params, ::fernwick::CCallAppParams* in_params))       \
  X(SyncChangeCategory, std::int32_t,                                                      \
    (std::uint8_t handle, std::uint8_t from_category, std::uint8_t to_category))           \
  X(SyncReadPositionXMap, std::int32_t, (::fernwick::CPositionInfo* info))                 \
  X(SyncYieldCycles, std::int32_t, (std::uint16_t max_milliseconds))                       \
  X(SyncReadNextRecInCategory, std::int32_t, (::fernwick::TRawRecordInfo* rec))            \
  X(SyncReadNextModifiedRecInCategory, std::int32_t, (::fernwick::TRawRecordInfo* rec))    \
  X(SyncReadAppPreference, std::int32_t, (::fernwick::CRawPreferenceInfo* info))           \
  X(SyncWriteAppPreference, std::int32_t, (::fernwick::CRawPreferenceInfo* info))          \
  X(SyncResetRecordIndex, std::int32_t, (std::uint8_t handle))                             \
  X(SyncPurgeAllRecsInCategory, std::int32_t, (std::uint8_t handle, std::int16_t category)) \
  X(SyncGetAPIVersion, std::int32_t, (std::uint32_t* major, std::uint32_t* minor))         \
  X(SyncCallRemoteModule, std::int32_t, (::fernwick::CCallModuleParams* params))           \
  X(SyncReadFeature, std::int32_t,                                                         \
    (std::uint32_t creator, std::uint16_t number, std::uint32_t* value))                   \
  X(SyncGetHHOSVersion, std::int32_t, (std::uint32_t* rom_version))                        \
  X(SyncHostToHHWord, std::uint16_t, (std::uint16_t value))                                \
  X(SyncHHToHostWord, std::uint16_t, (std::uint16_t value))                                \
  X(SyncHostToHHDWord, std::uint32_t, (std::uint32_t value))                               \
  X(SyncHHToHostDWord, std::uint32_t, (std::uint32_t value))                               \
  X(SyncMaxRemoteRecSize, std::int32_t, (std::uint32_t* max_size))                         \
  X(SyncFindDbByName, std::int32_t,                                                        \
    (::fernwick::SyncFindDbByNameParams* params, std::uint32_t* card_num,                  \
     std::uint32_t* local_id, std::uint32_t* open_ref,                                     \
     ::fernwick::SyncDatabaseInfoType* info))                                              \
  X(SyncFindDbByTypeCreator, std::int32_t,                                                 \
    (::fernwick::SyncFindDbByTypeCreatorParams* params,                                    \
     ::fernwick::SyncDatabaseInfoType* info))                                              \
  X(SyncReadOpenDbInfo, std::int32_t,                                                      \
    (::fernwick::SyncReadOpenDbInfoParams* params, ::fernwick::SyncDatabaseInfoType* info)) \
  X(SyncCloseDBEx, std::int32_t, (std::uint8_t handle, std::uint8_t options))

// ---------------------------------------------------------------------------
// The 8 HotSync log functions, in the order in which the library binds them.
// ---------------------------------------------------------------------------

///@{
/// Activity code of a log line: -1 plain text, 19 a conduit started, 20 it
/// finished, 21 it was aborted, 22 a warning; other values up to 25 are the
/// log library's own.
using TActivity = std::int8_t;
constexpr TActivity slText = -1;
constexpr TActivity slSyncStarted = 19;
constexpr TActivity slSyncFinished = 20;
constexpr TActivity slSyncAborted = 21;
constexpr TActivity slWarning = 22;
///@}

/// Error codes of the HotSync log library.
enum LogError : std::uint32_t {
  leNoError = 0,
  leBadStream = 1,
  leDeleteFileFailed = 2,
  leMoveFileFailed = 3,
};

/// Applies X(Name, ResultType, (ParameterTypes...)) to each HotSync log
/// function, in binding order.
#define FERNWICK_LOG_FUNCTIONS(X)                                                     \
  X(LogInit, std::int32_t, ())                                                        \
  X(LogUnInit, std::int32_t, ())                                                      \
  X(LogAddEntry, std::int32_t,                                                        \
    (const char* text, ::fernwick::TActivity activity, std::uint8_t timestamp))       \
  X(LogSaveLog, std::int32_t, (const char* user_name))                                \
  X(LogGetWorkFileName, std::int32_t, (char* file_name))                              \
  X(LogBuildRemoteLog, std::int32_t, (char* buffer, std::int32_t size))               \
  X(LogTestCounters, std::int32_t, ())                                                \
  X(LogCloseLog, std::int32_t, ())

/// Function pointer types: TSyncOpenDB, TLogAddEntry, ...
#define FERNWICK_DECLARE_FN_TYPE(name, result, params) using T##name = result(FW_CDECL*) params;
FERNWICK_SYNC_FUNCTIONS(FERNWICK_DECLARE_FN_TYPE)
FERNWICK_LOG_FUNCTIONS(FERNWICK_DECLARE_FN_TYPE)
#undef FERNWICK_DECLARE_FN_TYPE

}  // namespace fernwick
