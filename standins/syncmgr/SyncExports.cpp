// The exported Sync Manager functions of the handheld emulator, and its extra
// exports (Emulator.h). Every export runs under one lock, answers an
// injected fault first, and turns every exception into a status: nothing
// thrown ever leaves the library.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "standins/syncmgr/Handheld.h"
#include <fernwick/abi/Emulator.h>
#include <fernwick/abi/SyncApi.h>

using namespace fernwick;
using fernwick::emulator::Handheld;
using fernwick::emulator::OpenDatabase;
using fernwick::emulator::SyncStatusError;

// The declarations of fernwick/abi/SyncApi.h, exported: a definition below whose
// signature differs from its declaration fails to compile.
#define FERNWICK_EXPORT_DECL(name, result, params) extern "C" FW_EXPORT result FW_CDECL name params;
FERNWICK_SYNC_FUNCTIONS(FERNWICK_EXPORT_DECL)
#undef FERNWICK_EXPORT_DECL

namespace {

std::recursive_mutex g_mutex;
std::unique_ptr<Handheld> g_handheld;
std::string g_last_message;
std::int32_t g_last_status = 0;
TEmuLogSink g_log_sink = nullptr;

// Calls and time per exported function while EmuTimeCalls is on, keyed by
// the name's address (names are literals or __func__).
struct CallTime {
  std::uint64_t calls = 0;
  std::chrono::steady_clock::duration spent{};
};
bool g_timing = false;
std::unordered_map<const char*, CallTime> g_call_times;

// Adds the time from its construction to its destruction to `name`'s count.
class CallTimer {
 public:
  explicit CallTimer(const char* name) : name_(g_timing ? name : nullptr) {
    if (name_ != nullptr) start_ = std::chrono::steady_clock::now();
  }
  ~CallTimer() {
    if (name_ == nullptr) return;
    try {
      CallTime& t = g_call_times[name_];
      ++t.calls;
      t.spent += std::chrono::steady_clock::now() - start_;
    } catch (...) {
    }
  }
  CallTimer(const CallTimer&) = delete;
  CallTimer& operator=(const CallTimer&) = delete;

 private:
  const char* name_;
  std::chrono::steady_clock::time_point start_;
};
std::map<std::string, std::int32_t> g_faults;
std::uint32_t g_registered = 0;
std::uint32_t g_next_registration = 1;

constexpr const char* kFunctionNames[] = {
#define FERNWICK_NAME(name, result, params) #name,
    FERNWICK_SYNC_FUNCTIONS(FERNWICK_NAME)
#undef FERNWICK_NAME
};

// "SYNCERR_NOT_FOUND, 0x4003" ("0x12345" for a status without a name).
std::string StatusText(std::int32_t status) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(status));
  const char* name = SyncStatusName(status);
  return name != nullptr ? std::string(name) + ", " + number : std::string(number);
}

void SendToLog(const std::string& message) {
  if (g_log_sink == nullptr) return;
  try {
    g_log_sink(message.c_str(), slWarning, 0);
  } catch (...) {
  }
}

// Runs `body` for the export `name`: the lock, the injected fault, and the
// translation of exceptions into statuses. (Guarded below adds the rule of
// the last message.)
template <typename Body>
std::int32_t GuardedCall(const char* name, Body&& body) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    const CallTimer timer(name);
    try {
      auto fault = g_faults.empty() ? g_faults.end() : g_faults.find(name);
      if (fault != g_faults.end()) {
        const std::int32_t status = fault->second;
        g_faults.erase(fault);
        g_last_message = std::string(name) + ": injected fault " + std::to_string(status);
        g_last_status = status;
        return status;
      }
      return body();
    } catch (const SyncStatusError& e) {
      g_last_message = std::string(name) + ": " + e.what();
      g_last_status = e.Status();
      if (e.ToLog()) SendToLog(g_last_message + " (" + StatusText(e.Status()) + ")");
      return e.Status();
    } catch (const std::bad_alloc&) {
      g_last_message = std::string(name) + ": out of memory";
      g_last_status = SYNCERR_LOCAL_MEM;
      return SYNCERR_LOCAL_MEM;
    } catch (const std::exception& e) {
      g_last_message = std::string(name) + ": " + e.what();
      g_last_status = SYNCERR_UNKNOWN;
      return SYNCERR_UNKNOWN;
    }
  } catch (const std::bad_alloc&) {
    return SYNCERR_LOCAL_MEM;
  } catch (...) {
    return SYNCERR_UNKNOWN;
  }
}

// True while the Sync Manager calls fail one after another.
bool g_failing = false;

// GuardedCall, keeping as the last message the first failure of a run of
// failed Sync Manager calls: the calls after it mostly fail because of it
// (a database that did not open is then closed under a handle it never
// had), and the first says what went wrong. A call that succeeds ends the
// run; the emulator's own exports always leave their own message.
template <typename Body>
std::int32_t Guarded(const char* name, Body&& body) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    const bool sync_call = std::strncmp(name, "Emu", 3) != 0;
    if (!sync_call || !g_failing) {
      const std::int32_t status = GuardedCall(name, body);
      g_failing = sync_call && status != SYNCERR_NONE;
      return status;
    }
    std::string first_message = g_last_message;
    const std::int32_t first_status = g_last_status;
    const std::int32_t status = GuardedCall(name, body);
    if (status != SYNCERR_NONE) {
      g_last_message = std::move(first_message);
      g_last_status = first_status;
    }
    g_failing = status != SYNCERR_NONE;
    return status;
  } catch (...) {
    return SYNCERR_LOCAL_MEM;
  }
}

// The attached handheld; attaches FERNWICK_HANDHELD when nothing is attached.
Handheld& Hh() {
  if (!g_handheld) {
    const char* folder = std::getenv(kHandheldEnvVar);
    if (folder == nullptr || *folder == '\0') {
      throw SyncStatusError(
          SYNCERR_BAD_OPERATION,
          std::string("no handheld attached (EmuAttachHandheld or ") + kHandheldEnvVar + ")");
    }
    g_handheld = std::make_unique<Handheld>(folder);
  }
  return *g_handheld;
}

OpenDatabase& Db(std::uint8_t handle) { return Hh().Get(handle); }

void Require(bool condition, const char* what) {
  if (!condition) throw SyncStatusError(SYNCERR_BAD_ARG, what);
}

// Checks the caller's record structure for a read: present, and a buffer
// when it claims one.
void CheckReadTarget(const TRawRecordInfo* rec) {
  Require(rec != nullptr, "null record structure");
  Require(rec->Bytes != nullptr || rec->TotalBytes == 0,
          "null record buffer with a non-zero TotalBytes");
}

// Checks the caller's record structure for a write and copies its data.
std::vector<std::uint8_t> WrittenData(const TRawRecordInfo* rec) {
  Require(rec != nullptr, "null record structure");
  Require(rec->RecSize <= rec->TotalBytes, "RecSize larger than the buffer's TotalBytes");
  Require(rec->Bytes != nullptr || rec->RecSize == 0, "null record buffer");
  // Copies of the packed record's fields: no reference may bind to them.
  const std::uint8_t* bytes = rec->Bytes;
  return std::vector<std::uint8_t>(bytes, bytes + std::size_t{rec->RecSize});
}

void CheckInfoBlockTarget(const TDbGenInfo* info) {
  Require(info != nullptr, "null info block structure");
  Require(info->Bytes != nullptr || info->TotalBytes == 0,
          "null info block buffer with a non-zero TotalBytes");
}

std::int32_t ReadInfoBlock(std::uint8_t handle, TDbGenInfo* info, emulator::InfoBlock which) {
  CheckInfoBlockTarget(info);
  Db(handle).ReadInfoBlock(which, *info);
  return SYNCERR_NONE;
}

std::int32_t WriteInfoBlock(std::uint8_t handle, TDbGenInfo* info, emulator::InfoBlock which) {
  CheckInfoBlockTarget(info);
  Require(info->BytesRead <= info->TotalBytes, "BytesRead larger than the buffer's TotalBytes");
  OpenDatabase& db = Db(handle);
  const std::uint8_t* bytes = info->Bytes;
  db.WriteInfoBlock(which, std::vector<std::uint8_t>(bytes, bytes + std::size_t{info->BytesRead}));
  return SYNCERR_NONE;
}

template <typename T>
T SwapIfLittle(T value) {
  if constexpr (std::endian::native == std::endian::little) {
    if constexpr (sizeof(T) == 2) return static_cast<T>((value >> 8) | (value << 8));
    return static_cast<T>((value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) |
                          (value << 24));
  }
  return value;
}

std::int32_t Unsupported(const char* name) {
  return Guarded(name, [name]() -> std::int32_t {
    throw SyncStatusError(SYNCERR_UNKNOWN_REQUEST,
                          std::string(name) + " is not supported by the handheld emulator");
  });
}

}  // namespace

namespace fernwick::emulator {

void ReportMessage(const std::string& message) {
  g_last_message = message;
  SendToLog(message);
}

}  // namespace fernwick::emulator

// ---------------------------------------------------------------------------
// Conduit registration, versions, yield
// ---------------------------------------------------------------------------

std::int32_t SyncAddLogEntry(const char* text) {
  return Guarded(__func__, [&] {
    Require(text != nullptr, "null text");
    if (g_log_sink != nullptr) g_log_sink(text, slText, 0);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncRegisterConduit(std::uint32_t* handle) {
  return Guarded(__func__, [&] {
    Require(handle != nullptr, "null handle address");
    if (g_registered != 0) {
      throw SyncStatusError(-1, "a conduit is already registered; it must unregister first");
    }
    g_registered = g_next_registration++;
    if (g_next_registration == 0) g_next_registration = 1;
    *handle = g_registered;
    return SYNCERR_NONE;
  });
}

std::int32_t SyncUnRegisterConduit(std::uint32_t handle) {
  return Guarded(__func__, [&] {
    if (handle == 0 || handle != g_registered) {
      throw SyncStatusError(SYNCERR_BAD_ARG,
                            "conduit handle " + std::to_string(handle) + " is not registered");
    }
    g_registered = 0;
    return SYNCERR_NONE;
  });
}

std::int32_t SyncGetAPIVersion(std::uint32_t* major, std::uint32_t* minor) {
  return Guarded(__func__, [&] {
    Require(major != nullptr && minor != nullptr, "null version address");
    *major = 2;
    *minor = 1;
    return SYNCERR_NONE;
  });
}

std::int32_t SyncYieldCycles(std::uint16_t) {
  return Guarded(__func__, [] { return SYNCERR_NONE; });
}

// ---------------------------------------------------------------------------
// The handheld: user, system, databases
// ---------------------------------------------------------------------------

std::int32_t SyncReadUserID(TUserIDInfo* info) {
  return Guarded(__func__, [&] {
    Require(info != nullptr, "null user info");
    Hh().ReadUserId(*info);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadSystemInfo(CSystemInfo* info) {
  return Guarded(__func__, [&] {
    Require(info != nullptr, "null system info");
    Hh().ReadSystemInfo(*info);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncGetHHOSVersion(std::uint32_t* rom_version) {
  return Guarded(__func__, [&] {
    Require(rom_version != nullptr, "null version address");
    *rom_version = Hh().Profile().RomVersion();
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadSysDateTime(std::int32_t* date) {
  return Guarded(__func__, [&] {
    Require(date != nullptr, "null date address");
    *date = static_cast<std::int32_t>(emulator::HandheldNow());
    return SYNCERR_NONE;
  });
}

std::int32_t SyncMaxRemoteRecSize(std::uint32_t* max_size) {
  return Guarded(__func__, [&] {
    Require(max_size != nullptr, "null size address");
    *max_size = SYNC_MAX_RECORD_SIZE;
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadSingleCardInfo(CCardInfo* info) {
  return Guarded(__func__, [&] {
    Require(info != nullptr, "null card info");
    Hh().ReadCardInfo(*info);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadDBList(std::uint8_t card_num, std::uint16_t start_index, std::int32_t ram,
                            CDbList* list, std::int32_t* count) {
  return Guarded(__func__, [&] {
    Require(list != nullptr && count != nullptr && *count > 0, "null list or no room in it");
    const auto room = static_cast<std::size_t>(*count);
    *count = 0;
    *count =
        static_cast<std::int32_t>(Hh().ListDatabases(card_num, start_index, ram != 0, list, room));
    return SYNCERR_NONE;
  });
}

std::int32_t SyncFindDbByName(SyncFindDbByNameParams* params, std::uint32_t* card_num,
                              std::uint32_t* local_id, std::uint32_t* open_ref,
                              SyncDatabaseInfoType* info) {
  return Guarded(__func__, [&] {
    Require(params != nullptr && params->pcDatabaseName != nullptr, "null parameters or name");
    const Handheld::Found found = Hh().FindDatabase(params->pcDatabaseName, params->dwCardNum,
                                                    (params->bOptFlags & 0x80) != 0, info);
    if (card_num != nullptr) *card_num = 0;
    if (local_id != nullptr) *local_id = found.local_id;
    if (open_ref != nullptr) *open_ref = found.handle;
    return SYNCERR_NONE;
  });
}

std::int32_t SyncFindDbByTypeCreator(SyncFindDbByTypeCreatorParams* params,
                                     SyncDatabaseInfoType* info) {
  return Guarded(__func__, [&] {
    Require(params != nullptr, "null parameters");
    Hh().FindNextByTypeCreator(params->dwType, params->dwCreator, (params->bSrchFlags & 0x80) != 0,
                               (params->bOptFlags & 0x80) != 0, info);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadOpenDbInfo(SyncReadOpenDbInfoParams* params, SyncDatabaseInfoType* info) {
  return Guarded(__func__, [&] {
    Require(params != nullptr && info != nullptr, "null parameters or info");
    Hh().FillOpenInfo(params->bDbHandle, (params->bOptFlags & 0x80) != 0, *info);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncOpenDB(const char* name, std::int32_t card_num, std::uint8_t* handle,
                        std::uint8_t mode) {
  return Guarded(__func__, [&] {
    Require(name != nullptr && handle != nullptr, "null name or handle address");
    // The conduit logs only "SyncOpenDB failed": the reason, which names the
    // database, goes to the HotSync log beside it.
    try {
      if (card_num != 0) {
        throw SyncStatusError(SYNCERR_NOT_FOUND, std::string("cannot open \"") + name +
                                                     "\" on card " + std::to_string(card_num) +
                                                     ": the handheld has only card 0");
      }
      *handle = Hh().Open(name, mode);
    } catch (const SyncStatusError& e) {
      if (e.ToLog()) throw;
      throw SyncStatusError(e.Status(), e.what(), true);
    }
    return SYNCERR_NONE;
  });
}

std::int32_t SyncCreateDB(CDbCreateDB* create) {
  return Guarded(__func__, [&] {
    Require(create != nullptr, "null creation parameters");
    if (create->m_CardNo != 0)
      throw SyncStatusError(SYNCERR_NOT_FOUND, "the handheld has only card 0");
    create->m_FileHandle = Hh().Create(*create);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncDeleteDB(const char* name, std::int32_t card_num) {
  return Guarded(__func__, [&] {
    Require(name != nullptr, "null name");
    if (card_num != 0) throw SyncStatusError(SYNCERR_NOT_FOUND, "the handheld has only card 0");
    Hh().Delete(name);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncCloseDB(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    Hh().Close(handle);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncCloseDBEx(std::uint8_t handle, std::uint8_t) {
  return Guarded(__func__, [&] {
    Hh().Close(handle);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncGetDBRecordCount(std::uint8_t handle, std::uint16_t* count) {
  return Guarded(__func__, [&] {
    Require(count != nullptr, "null count address");
    *count = static_cast<std::uint16_t>(std::min<std::size_t>(Db(handle).EntryCount(), 0xFFFF));
    return SYNCERR_NONE;
  });
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

std::int32_t SyncReadRecordByIndex(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    Db(rec->FileHandle).ReadRecordAt(rec->RecIndex, *rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadRecordById(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    Db(rec->FileHandle).ReadRecordById(rec->RecId, *rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadNextRecInCategory(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    Db(rec->FileHandle).ReadNextInCategory(rec->CatId, *rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadNextModifiedRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    Db(rec->FileHandle).ReadNextModified(std::nullopt, *rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadNextModifiedRecInCategory(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    Db(rec->FileHandle).ReadNextModified(rec->CatId, *rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncResetRecordIndex(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    Db(handle).ResetIterations();
    return SYNCERR_NONE;
  });
}

std::int32_t SyncWriteRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    std::vector<std::uint8_t> data = WrittenData(rec);
    rec->RecId =
        Db(rec->FileHandle).WriteRecord(rec->RecId, rec->Attribs, rec->CatId, std::move(data));
    return SYNCERR_NONE;
  });
}

std::int32_t SyncDeleteRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    Require(rec != nullptr, "null record structure");
    Db(rec->FileHandle).DeleteRecord(rec->RecId);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncChangeCategory(std::uint8_t handle, std::uint8_t from_category,
                                std::uint8_t to_category) {
  return Guarded(__func__, [&] {
    Db(handle).ChangeCategory(from_category, to_category);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncPurgeAllRecs(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    Db(handle).PurgeAllRecords();
    return SYNCERR_NONE;
  });
}

std::int32_t SyncPurgeAllRecsInCategory(std::uint8_t handle, std::int16_t category) {
  return Guarded(__func__, [&] {
    Db(handle).PurgeCategory(category);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncPurgeDeletedRecs(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    Db(handle).PurgeDeletedRecords();
    return SYNCERR_NONE;
  });
}

std::int32_t SyncResetSyncFlags(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    Db(handle).ResetSyncFlags();
    return SYNCERR_NONE;
  });
}

// ---------------------------------------------------------------------------
// Info blocks
// ---------------------------------------------------------------------------

std::int32_t SyncReadDBAppInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__, [&] { return ReadInfoBlock(handle, info, emulator::InfoBlock::kApp); });
}

std::int32_t SyncWriteDBAppInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__, [&] { return WriteInfoBlock(handle, info, emulator::InfoBlock::kApp); });
}

std::int32_t SyncReadDBSortInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__, [&] { return ReadInfoBlock(handle, info, emulator::InfoBlock::kSort); });
}

std::int32_t SyncWriteDBSortInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__,
                 [&] { return WriteInfoBlock(handle, info, emulator::InfoBlock::kSort); });
}

// ---------------------------------------------------------------------------
// Resources (.prc databases). RecId carries the resource type and CatId the
// resource id (as its 16-bit pattern); RecIndex is the index for reads.
// ---------------------------------------------------------------------------

std::int32_t SyncReadResRecordByIndex(TRawRecordInfo* rec, std::int32_t body) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    Db(rec->FileHandle).ReadResourceAt(rec->RecIndex, body != 0, *rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncWriteResourceRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    std::vector<std::uint8_t> data = WrittenData(rec);
    Db(rec->FileHandle)
        .WriteResource(rec->RecId, static_cast<std::uint16_t>(rec->CatId), std::move(data));
    return SYNCERR_NONE;
  });
}

std::int32_t SyncDeleteResourceRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    Require(rec != nullptr, "null record structure");
    Db(rec->FileHandle).DeleteResource(rec->RecId, static_cast<std::uint16_t>(rec->CatId));
    return SYNCERR_NONE;
  });
}

std::int32_t SyncDeleteAllResourceRec(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    Db(handle).DeleteAllResources();
    return SYNCERR_NONE;
  });
}

// ---------------------------------------------------------------------------
// Byte order: the handheld is big-endian.
// ---------------------------------------------------------------------------

std::uint16_t SyncHostToHHWord(std::uint16_t value) { return SwapIfLittle(value); }
std::uint16_t SyncHHToHostWord(std::uint16_t value) { return SwapIfLittle(value); }
std::uint32_t SyncHostToHHDWord(std::uint32_t value) { return SwapIfLittle(value); }
std::uint32_t SyncHHToHostDWord(std::uint32_t value) { return SwapIfLittle(value); }

// ---------------------------------------------------------------------------
// Functions without a meaning for a folder of files.
// ---------------------------------------------------------------------------

std::int32_t SyncRebootSystem() { return Unsupported(__func__); }
std::int32_t SyncWriteSysDateTime(std::int32_t) { return Unsupported(__func__); }
std::int32_t SyncCallApplication(CCallAppParams*, CCallAppParams*) { return Unsupported(__func__); }
std::int32_t SyncReadPositionXMap(CPositionInfo*) { return Unsupported(__func__); }
std::int32_t SyncReadAppPreference(CRawPreferenceInfo*) { return Unsupported(__func__); }
std::int32_t SyncWriteAppPreference(CRawPreferenceInfo*) { return Unsupported(__func__); }
std::int32_t SyncCallRemoteModule(CCallModuleParams*) { return Unsupported(__func__); }
std::int32_t SyncReadFeature(std::uint32_t, std::uint16_t, std::uint32_t*) {
  return Unsupported(__func__);
}

// ---------------------------------------------------------------------------
// Extra exports
// ---------------------------------------------------------------------------

std::int32_t EmuAttachHandheld(const char* folder) {
  return Guarded("EmuAttachHandheld", [&] {
    Require(folder != nullptr, "null folder");
    std::optional<std::string> failure;
    if (g_handheld) failure = g_handheld->CloseAll();
    g_handheld.reset();
    g_handheld = std::make_unique<Handheld>(folder);
    if (failure) throw SyncStatusError(SYNCERR_UNKNOWN, *failure, true);
    return SYNCERR_NONE;
  });
}

std::int32_t EmuDetachHandheld() {
  return Guarded("EmuDetachHandheld", [&] {
    if (!g_handheld) return SYNCERR_NONE;
    std::optional<std::string> failure = g_handheld->CloseAll();
    g_handheld.reset();
    if (failure) throw SyncStatusError(SYNCERR_UNKNOWN, *failure, true);
    return SYNCERR_NONE;
  });
}

std::int32_t EmuInjectFault(const char* function_name, std::int32_t status) {
  return Guarded("EmuInjectFault", [&] {
    Require(function_name != nullptr, "null function name");
    const std::string name = function_name;
    const bool known = std::any_of(std::begin(kFunctionNames), std::end(kFunctionNames),
                                   [&](const char* n) { return name == n; });
    const bool byte_order =
        name.find("ToHH") != std::string::npos || name.find("ToHost") != std::string::npos;
    if (!known || byte_order) {
      throw SyncStatusError(SYNCERR_BAD_ARG,
                            "\"" + name + "\" is not a Sync Manager function that can fail");
    }
    g_faults[name] = status;
    return SYNCERR_NONE;
  });
}

void EmuClearFaults() {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    g_faults.clear();
  } catch (...) {
  }
}

std::int32_t EmuGetLastMessage(char* buffer, std::int32_t size) {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (buffer != nullptr && size > 0) {
      const std::size_t n =
          std::min<std::size_t>(g_last_message.size(), static_cast<std::size_t>(size) - 1);
      std::memcpy(buffer, g_last_message.data(), n);
      buffer[n] = '\0';
    }
    return static_cast<std::int32_t>(std::min<std::size_t>(g_last_message.size(), INT32_MAX));
  } catch (...) {
    return 0;
  }
}

std::int32_t EmuGetLastStatus() {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    return g_last_status;
  } catch (...) {
    return 0;
  }
}

std::uint32_t EmuEndRegistration() {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    const std::uint32_t left = g_registered;
    g_registered = 0;
    return left;
  } catch (...) {
    return 0;
  }
}

void EmuTimeCalls(std::int32_t on) {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (on != 0) g_call_times.clear();
    g_timing = on != 0;
  } catch (...) {
  }
}

std::int32_t EmuGetCallTimes(char* buffer, std::int32_t size) {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    // One line per name: the same name may be counted under two addresses.
    std::map<std::string, CallTime> by_name;
    for (const auto& [name, t] : g_call_times) {
      CallTime& sum = by_name[name];
      sum.calls += t.calls;
      sum.spent += t.spent;
    }
    std::string text;
    for (const auto& [name, t] : by_name) {
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t.spent).count();
      text += name + " " + std::to_string(t.calls) + " " + std::to_string(us) + "\n";
    }
    if (buffer != nullptr && size > 0) {
      const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
      std::memcpy(buffer, text.data(), n);
      buffer[n] = '\0';
    }
    return static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
  } catch (...) {
    return 0;
  }
}

std::int32_t EmuCloseLeftOpen(char* buffer, std::int32_t size) {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    std::string names;
    if (g_handheld) {
      for (const std::uint8_t handle : g_handheld->OpenHandles()) {
        names += g_handheld->Get(handle).Db().name + "\n";
        try {
          g_handheld->Close(handle);
        } catch (const std::exception& e) {
          emulator::ReportMessage(std::string("EmuCloseLeftOpen: ") + e.what());
        }
      }
    }
    if (buffer != nullptr && size > 0) {
      const std::size_t n = std::min<std::size_t>(names.size(), static_cast<std::size_t>(size) - 1);
      std::memcpy(buffer, names.data(), n);
      buffer[n] = '\0';
    }
    return static_cast<std::int32_t>(std::min<std::size_t>(names.size(), INT32_MAX));
  } catch (...) {
    return 0;
  }
}

void EmuSetLogSink(TEmuLogSink sink) {
  try {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    g_log_sink = sink;
  } catch (...) {
  }
}
