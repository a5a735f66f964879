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

void RequireRecordDatabase(const OpenDatabase& db) {
  if (db.Db().IsResourceDatabase()) {
    throw SyncStatusError(SYNCERR_BAD_OPERATION,
                          "database \"" + db.Db().name + "\" holds resources, not records");
  }
}

void RequireResourceDatabase(const OpenDatabase& db) {
  if (!db.Db().IsResourceDatabase()) {
    throw SyncStatusError(SYNCERR_BAD_OPERATION,
                          "database \"" + db.Db().name + "\" holds records, not resources");
  }
}

std::int16_t CheckedCategory(std::int32_t category) {
  if (category < 0 || category > 15) {
    throw SyncStatusError(SYNCERR_BAD_ARG,
                          "category " + std::to_string(category) + " is not 0 to 15");
  }
  return static_cast<std::int16_t>(category);
}

// The record attribute byte of a file (pdb::kRec*) and the Sync Manager's
// Attribs and CatId (eRecAttr*): the four flag bits are the same bits in
// both. A file keeps the archived bit of a deleted record in its low nibble,
// beside three bits of category; Attribs reports it as eRecAttrArchived.
static_assert(pdb::kRecDeleted == eRecAttrDeleted && pdb::kRecDirty == eRecAttrDirty &&
              pdb::kRecBusy == eRecAttrBusy && pdb::kRecSecret == eRecAttrSecret);
bool IsDeleted(std::uint8_t attributes) { return (attributes & pdb::kRecDeleted) != 0; }
bool IsArchived(std::uint8_t attributes) {
  return IsDeleted(attributes) && (attributes & pdb::kRecArchived) != 0;
}
std::uint8_t ReportedAttribs(std::uint8_t attributes) {
  return static_cast<std::uint8_t>((attributes & pdb::kRecFlagsMask) |
                                   (IsArchived(attributes) ? eRecAttrArchived : 0));
}
std::int16_t ReportedCategory(std::uint8_t attributes) {
  return static_cast<std::int16_t>(
      attributes & (IsDeleted(attributes) ? pdb::kRecArchivedCategoryMask : pdb::kRecCategoryMask));
}
// The attribute byte stored for a record written with `attribs` and
// `category`: every flag the caller sent (busy included: a conduit that
// marks a record busy gets it back as it sent it), and the category.
std::uint8_t StoredAttributes(std::uint8_t attribs, std::int16_t category) {
  const auto flags = static_cast<std::uint8_t>(attribs & pdb::kRecFlagsMask);
  if (IsDeleted(flags)) {
    const std::uint8_t archived = (attribs & eRecAttrArchived) != 0 ? pdb::kRecArchived : 0;
    return static_cast<std::uint8_t>(flags | archived | (category & pdb::kRecArchivedCategoryMask));
  }
  return static_cast<std::uint8_t>(flags | (category & pdb::kRecCategoryMask));
}

// Checks the caller's record structure for a read: present, and a buffer
// when it claims one.
void CheckReadTarget(const TRawRecordInfo* rec) {
  Require(rec != nullptr, "null record structure");
  Require(rec->Bytes != nullptr || rec->TotalBytes == 0,
          "null record buffer with a non-zero TotalBytes");
}

// Copies `data` into the caller's buffer, cut to TotalBytes, and reports the
// full size in RecSize. A record cut to fit answers SYNCERR_LOCAL_BUFF_TOO_SMALL.
void Deliver(const std::vector<std::uint8_t>& data, TRawRecordInfo* rec) {
  rec->RecSize = static_cast<std::uint32_t>(data.size());
  const std::size_t fits = std::min<std::size_t>(data.size(), rec->TotalBytes);
  if (fits > 0) std::memcpy(rec->Bytes, data.data(), fits);
  if (fits < data.size()) {
    throw SyncStatusError(SYNCERR_LOCAL_BUFF_TOO_SMALL, "record of " + std::to_string(data.size()) +
                                                            " bytes cut to the buffer's " +
                                                            std::to_string(rec->TotalBytes));
  }
}

// Fills the caller's record structure with record `index` of `db`. A
// deleted record without an archived copy travels without its data.
void FillRecord(OpenDatabase& db, std::size_t index, TRawRecordInfo* rec) {
  static const std::vector<std::uint8_t> kNoData;
  const pdb::PdbRecord& record = db.Db().records[index];
  rec->RecId = record.unique_id;
  rec->RecIndex = static_cast<std::uint16_t>(index);
  rec->Attribs = ReportedAttribs(record.attributes);
  rec->CatId = ReportedCategory(record.attributes);
  const bool without_data = IsDeleted(record.attributes) && !IsArchived(record.attributes);
  Deliver(without_data ? kNoData : record.data, rec);
}

bool IsModified(std::uint8_t attributes) {
  return (attributes & (pdb::kRecDirty | pdb::kRecDeleted)) != 0;
}

// The modified-record iteration, optionally within one category.
std::int32_t ReadNextModified(TRawRecordInfo* rec, bool in_category) {
  CheckReadTarget(rec);
  OpenDatabase& db = Db(rec->FileHandle);
  RequireRecordDatabase(db);
  const std::int16_t category = in_category ? CheckedCategory(rec->CatId) : 0;
  const auto& records = db.Db().records;
  for (std::size_t i = db.modified_position; i < records.size(); ++i) {
    const std::uint8_t attributes = records[i].attributes;
    if (!IsModified(attributes)) continue;
    if (in_category && ReportedCategory(attributes) != category) continue;
    db.modified_position = i + 1;
    FillRecord(db, i, rec);
    return SYNCERR_NONE;
  }
  db.modified_position = records.size();
  throw SyncStatusError(SYNCERR_NOT_FOUND, "no further modified record");
}

void CheckInfoBlockTarget(const TDbGenInfo* info) {
  Require(info != nullptr, "null info block structure");
  Require(info->Bytes != nullptr || info->TotalBytes == 0,
          "null info block buffer with a non-zero TotalBytes");
}

std::int32_t ReadInfoBlock(std::uint8_t handle, TDbGenInfo* info, bool app) {
  CheckInfoBlockTarget(info);
  OpenDatabase& db = Db(handle);
  const auto& block = app ? db.Db().app_info : db.Db().sort_info;
  if (!block) {
    info->BytesRead = 0;
    throw SyncStatusError(SYNCERR_NOT_FOUND, std::string("database \"") + db.Db().name +
                                                 "\" has no " + (app ? "application" : "sort") +
                                                 " info block");
  }
  const std::size_t fits = std::min<std::size_t>(block->size(), info->TotalBytes);
  if (fits > 0) std::memcpy(info->Bytes, block->data(), fits);
  info->BytesRead = static_cast<std::uint16_t>(fits);
  if (fits < block->size()) {
    throw SyncStatusError(SYNCERR_LOCAL_BUFF_TOO_SMALL,
                          "info block of " + std::to_string(block->size()) +
                              " bytes cut to the buffer's " + std::to_string(info->TotalBytes));
  }
  return SYNCERR_NONE;
}

std::int32_t WriteInfoBlock(std::uint8_t handle, TDbGenInfo* info, bool app) {
  CheckInfoBlockTarget(info);
  Require(info->BytesRead <= info->TotalBytes, "BytesRead larger than the buffer's TotalBytes");
  OpenDatabase& db = Db(handle);
  db.RequireWritable(app ? "SyncWriteDBAppInfoBlock" : "SyncWriteDBSortInfoBlock");
  auto& block = app ? db.Db().app_info : db.Db().sort_info;
  if (info->BytesRead == 0) {
    block.reset();
  } else {
    // Copies of the packed record's fields: no reference may bind to them.
    const std::uint8_t* bytes = info->Bytes;
    const std::size_t length = info->BytesRead;
    block.emplace(bytes, bytes + length);
  }
  db.MarkContentChanged();
  return SYNCERR_NONE;
}

void CopyName(const std::string& name, char (&target)[SYNC_DB_NAMELEN]) {
  std::memset(target, 0, SYNC_DB_NAMELEN);
  std::memcpy(target, name.data(), std::min(name.size(), SYNC_DB_NAMELEN - 1));
}

// The index of resource (type, id), or the count when there is none.
std::size_t FindResource(const pdb::PdbDatabase& db, std::uint32_t type, std::uint16_t id) {
  std::size_t i = 0;
  while (i < db.resources.size() && !(db.resources[i].type == type && db.resources[i].id == id))
    ++i;
  return i;
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
    const auto& profile = Hh().Profile();
    *info = TUserIDInfo{};
    const std::size_t length =
        std::min<std::size_t>(profile.user_name.size(), sizeof info->m_pName - 1);
    std::memcpy(info->m_pName, profile.user_name.data(), length);
    info->m_NameLength = static_cast<std::int32_t>(length + 1);
    info->m_Id = profile.user_id;
    info->m_LastSyncPC = profile.last_sync_pc;
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadSystemInfo(CSystemInfo* info) {
  return Guarded(__func__, [&] {
    Require(info != nullptr, "null system info");
    info->m_RomSoftVersion = Hh().Profile().RomVersion();
    info->m_LocalId = 0;
    info->m_ProdIdLength = 0;
    info->m_dwReserved = 0;
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
    if (info->m_CardNo != 0)
      throw SyncStatusError(SYNCERR_NOT_FOUND, "the handheld has only card 0");
    Handheld& hh = Hh();
    hh.Rescan();
    const std::uint8_t card = info->m_CardNo;
    *info = CCardInfo{};
    info->m_CardNo = card;
    info->m_CardVersion = 1;
    static constexpr char kName[] = "Fernwick";
    std::memcpy(info->m_CardName, kName, sizeof kName - 1);
    std::memcpy(info->m_ManufName, kName, sizeof kName - 1);
    info->m_CardNameLen = info->m_ManufNameLen = sizeof kName - 1;
    info->m_RAMSize = 16u << 20;
    std::uint64_t used = 0;
    for (const auto& e : hh.Databases()) used += e.file_size;
    info->m_FreeRam =
        used >= info->m_RAMSize ? 0 : info->m_RAMSize - static_cast<std::uint32_t>(used);
    info->m_ramDbCount =
        static_cast<std::uint16_t>(std::min<std::size_t>(hh.Databases().size(), 0xFFFF));
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadDBList(std::uint8_t card_num, std::uint16_t start_index, std::int32_t ram,
                            CDbList* list, std::int32_t* count) {
  return Guarded(__func__, [&] {
    Require(list != nullptr && count != nullptr && *count > 0, "null list or no room in it");
    const std::int32_t room = *count;
    *count = 0;
    Handheld& hh = Hh();
    if (card_num != 0 || ram == 0)
      throw SyncStatusError(SYNCERR_NOT_FOUND, "no databases on that card or in ROM");
    hh.Rescan();
    const auto& dbs = hh.Databases();
    if (start_index >= dbs.size())
      throw SyncStatusError(SYNCERR_NOT_FOUND, "no database at that index");
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(room), dbs.size() - start_index);
    for (std::size_t i = 0; i < n; ++i) {
      const auto& e = dbs[start_index + i];
      CDbList& out = list[i];
      out = CDbList{};
      out.m_DbFlags = e.attributes;
      out.m_DbType = e.type;
      CopyName(e.name, out.m_Name);
      out.m_Creator = e.creator;
      out.m_Version = e.version;
      out.m_ModNumber = e.modification_number;
      out.m_Index = static_cast<std::uint16_t>(start_index + i);
      out.m_CreateDate = static_cast<std::int32_t>(e.creation_date);
      out.m_ModDate = static_cast<std::int32_t>(e.modification_date);
      out.m_BackupDate = static_cast<std::int32_t>(e.backup_date);
      out.m_RecCount = static_cast<std::int32_t>(e.entry_count);
    }
    *count = static_cast<std::int32_t>(n);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncFindDbByName(SyncFindDbByNameParams* params, std::uint32_t* card_num,
                              std::uint32_t* local_id, std::uint32_t* open_ref,
                              SyncDatabaseInfoType* info) {
  return Guarded(__func__, [&] {
    Require(params != nullptr && params->pcDatabaseName != nullptr, "null parameters or name");
    Handheld& hh = Hh();
    hh.Rescan();
    const auto& dbs = hh.Databases();
    const std::string name = params->pcDatabaseName;
    auto it = std::find_if(dbs.begin(), dbs.end(), [&](const auto& e) { return e.name == name; });
    if (params->dwCardNum != 0 || it == dbs.end()) {
      throw SyncStatusError(SYNCERR_NOT_FOUND,
                            "no database named \"" + name + "\" on the handheld");
    }
    const std::uint8_t handle = hh.HandleOf(it->path);
    if (card_num != nullptr) *card_num = 0;
    if (local_id != nullptr) *local_id = static_cast<std::uint32_t>(it - dbs.begin()) + 1;
    if (open_ref != nullptr) *open_ref = handle;
    if (info != nullptr) {
      const bool sizes = (params->bOptFlags & 0x80) != 0;
      if (handle != 0) {
        hh.FillOpenInfo(handle, sizes, *info);
      } else {
        hh.FillInfo(*it, sizes, *info);
      }
    }
    return SYNCERR_NONE;
  });
}

std::int32_t SyncFindDbByTypeCreator(SyncFindDbByTypeCreatorParams* params,
                                     SyncDatabaseInfoType* info) {
  return Guarded(__func__, [&] {
    Require(params != nullptr, "null parameters");
    Handheld& hh = Hh();
    if ((params->bSrchFlags & 0x80) != 0) {
      hh.Rescan();
      hh.find_position = 0;
    }
    const auto& dbs = hh.Databases();
    for (std::size_t i = hh.find_position; i < dbs.size(); ++i) {
      const auto& e = dbs[i];
      if ((params->dwType == 0 || params->dwType == e.type) &&
          (params->dwCreator == 0 || params->dwCreator == e.creator)) {
        hh.find_position = i + 1;
        if (info != nullptr) hh.FillInfo(e, (params->bOptFlags & 0x80) != 0, *info);
        return SYNCERR_NONE;
      }
    }
    hh.find_position = dbs.size();
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no further database of that type and creator");
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
    const pdb::PdbDatabase& db = Db(handle).Db();
    const std::size_t n = db.IsResourceDatabase() ? db.resources.size() : db.records.size();
    *count = static_cast<std::uint16_t>(std::min<std::size_t>(n, 0xFFFF));
    return SYNCERR_NONE;
  });
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

std::int32_t SyncReadRecordByIndex(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    OpenDatabase& db = Db(rec->FileHandle);
    RequireRecordDatabase(db);
    const std::size_t index = rec->RecIndex;
    if (index >= db.Db().records.size()) {
      throw SyncStatusError(SYNCERR_NOT_FOUND, "no record at index " + std::to_string(index));
    }
    FillRecord(db, index, rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadRecordById(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    OpenDatabase& db = Db(rec->FileHandle);
    RequireRecordDatabase(db);
    auto index = db.FindRecord(rec->RecId);
    if (rec->RecId == 0 || !index) {
      throw SyncStatusError(SYNCERR_NOT_FOUND, "no record with id " + std::to_string(rec->RecId));
    }
    FillRecord(db, *index, rec);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncReadNextRecInCategory(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    OpenDatabase& db = Db(rec->FileHandle);
    RequireRecordDatabase(db);
    const std::int16_t category = CheckedCategory(rec->CatId);
    const auto& records = db.Db().records;
    for (std::size_t i = db.category_position; i < records.size(); ++i) {
      const std::uint8_t attributes = records[i].attributes;
      if (IsDeleted(attributes) || ReportedCategory(attributes) != category) continue;
      db.category_position = i + 1;
      FillRecord(db, i, rec);
      return SYNCERR_NONE;
    }
    db.category_position = records.size();
    throw SyncStatusError(SYNCERR_NOT_FOUND,
                          "no further record in category " + std::to_string(category));
  });
}

std::int32_t SyncReadNextModifiedRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] { return ReadNextModified(rec, false); });
}

std::int32_t SyncReadNextModifiedRecInCategory(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] { return ReadNextModified(rec, true); });
}

std::int32_t SyncResetRecordIndex(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    OpenDatabase& db = Db(handle);
    db.category_position = 0;
    db.modified_position = 0;
    return SYNCERR_NONE;
  });
}

std::int32_t SyncWriteRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    Require(rec != nullptr, "null record structure");
    Require(rec->RecSize <= rec->TotalBytes, "RecSize larger than the buffer's TotalBytes");
    Require(rec->Bytes != nullptr || rec->RecSize == 0, "null record buffer");
    Require(rec->RecId <= 0xFFFFFF, "record ids have 24 bits");
    OpenDatabase& db = Db(rec->FileHandle);
    db.RequireWritable("SyncWriteRec");
    RequireRecordDatabase(db);
    const std::int16_t category = CheckedCategory(rec->CatId);
    const std::uint8_t attributes = StoredAttributes(rec->Attribs, category);
    const std::uint8_t* bytes = rec->Bytes;
    std::vector<std::uint8_t> data(bytes, bytes + std::size_t{rec->RecSize});
    std::optional<std::size_t> index;
    if (rec->RecId != 0) index = db.FindRecord(rec->RecId);
    if (index) {
      db.ReplaceRecord(*index, attributes, std::move(data));
    } else {
      pdb::PdbRecord record;
      record.attributes = attributes;
      record.unique_id = rec->RecId != 0 ? rec->RecId : db.NewUniqueId();
      record.data = std::move(data);
      rec->RecId = record.unique_id;
      db.AppendRecord(std::move(record));
    }
    return SYNCERR_NONE;
  });
}

std::int32_t SyncDeleteRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    Require(rec != nullptr, "null record structure");
    OpenDatabase& db = Db(rec->FileHandle);
    db.RequireWritable("SyncDeleteRec");
    RequireRecordDatabase(db);
    auto index = db.FindRecord(rec->RecId);
    if (rec->RecId == 0 || !index) {
      throw SyncStatusError(SYNCERR_NOT_FOUND, "no record with id " + std::to_string(rec->RecId));
    }
    db.RemoveRecord(*index);
    return SYNCERR_NONE;
  });
}

std::int32_t SyncChangeCategory(std::uint8_t handle, std::uint8_t from_category,
                                std::uint8_t to_category) {
  return Guarded(__func__, [&] {
    OpenDatabase& db = Db(handle);
    const std::int16_t from = CheckedCategory(from_category);
    const std::int16_t to = CheckedCategory(to_category);
    db.RequireWritable("SyncChangeCategory");
    RequireRecordDatabase(db);
    bool changed = false;
    for (auto& record : db.Db().records) {
      if (IsDeleted(record.attributes) || ReportedCategory(record.attributes) != from) continue;
      record.attributes =
          static_cast<std::uint8_t>((record.attributes & pdb::kRecFlagsMask) | pdb::kRecDirty | to);
      changed = true;
    }
    if (changed) db.MarkContentChanged();
    return SYNCERR_NONE;
  });
}

std::int32_t SyncPurgeAllRecs(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    OpenDatabase& db = Db(handle);
    db.RequireWritable("SyncPurgeAllRecs");
    RequireRecordDatabase(db);
    db.RemoveRecordsIf([](const pdb::PdbRecord&) { return true; });
    return SYNCERR_NONE;
  });
}

std::int32_t SyncPurgeAllRecsInCategory(std::uint8_t handle, std::int16_t category) {
  return Guarded(__func__, [&] {
    OpenDatabase& db = Db(handle);
    const std::int16_t checked = CheckedCategory(category);
    db.RequireWritable("SyncPurgeAllRecsInCategory");
    RequireRecordDatabase(db);
    db.RemoveRecordsIf(
        [&](const pdb::PdbRecord& r) { return ReportedCategory(r.attributes) == checked; });
    return SYNCERR_NONE;
  });
}

std::int32_t SyncPurgeDeletedRecs(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    OpenDatabase& db = Db(handle);
    db.RequireWritable("SyncPurgeDeletedRecs");
    RequireRecordDatabase(db);
    db.RemoveRecordsIf([](const pdb::PdbRecord& r) { return IsDeleted(r.attributes); });
    return SYNCERR_NONE;
  });
}

std::int32_t SyncResetSyncFlags(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    OpenDatabase& db = Db(handle);
    db.RequireWritable("SyncResetSyncFlags");
    for (auto& record : db.Db().records)
      record.attributes &= static_cast<std::uint8_t>(~pdb::kRecDirty);
    db.Db().backup_date = emulator::HandheldNow();
    db.MarkFlagsChanged();
    return SYNCERR_NONE;
  });
}

// ---------------------------------------------------------------------------
// Info blocks
// ---------------------------------------------------------------------------

std::int32_t SyncReadDBAppInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__, [&] { return ReadInfoBlock(handle, info, true); });
}

std::int32_t SyncWriteDBAppInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__, [&] { return WriteInfoBlock(handle, info, true); });
}

std::int32_t SyncReadDBSortInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__, [&] { return ReadInfoBlock(handle, info, false); });
}

std::int32_t SyncWriteDBSortInfoBlock(std::uint8_t handle, TDbGenInfo* info) {
  return Guarded(__func__, [&] { return WriteInfoBlock(handle, info, false); });
}

// ---------------------------------------------------------------------------
// Resources (.prc databases). RecId carries the resource type and CatId the
// resource id (as its 16-bit pattern); RecIndex is the index for reads.
// ---------------------------------------------------------------------------

std::int32_t SyncReadResRecordByIndex(TRawRecordInfo* rec, std::int32_t body) {
  return Guarded(__func__, [&] {
    CheckReadTarget(rec);
    OpenDatabase& db = Db(rec->FileHandle);
    RequireResourceDatabase(db);
    const std::size_t index = rec->RecIndex;
    const auto& resources = db.Db().resources;
    if (index >= resources.size()) {
      throw SyncStatusError(SYNCERR_NOT_FOUND, "no resource at index " + std::to_string(index));
    }
    const pdb::PdbResource& resource = resources[index];
    rec->RecId = resource.type;
    rec->CatId = static_cast<std::int16_t>(resource.id);
    rec->Attribs = 0;
    if (body != 0) {
      Deliver(resource.data, rec);
    } else {
      rec->RecSize = static_cast<std::uint32_t>(resource.data.size());
    }
    return SYNCERR_NONE;
  });
}

std::int32_t SyncWriteResourceRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    Require(rec != nullptr, "null record structure");
    Require(rec->RecSize <= rec->TotalBytes, "RecSize larger than the buffer's TotalBytes");
    Require(rec->Bytes != nullptr || rec->RecSize == 0, "null record buffer");
    OpenDatabase& db = Db(rec->FileHandle);
    db.RequireWritable("SyncWriteResourceRec");
    RequireResourceDatabase(db);
    auto& resources = db.Db().resources;
    const auto id = static_cast<std::uint16_t>(rec->CatId);
    const std::size_t index = FindResource(db.Db(), rec->RecId, id);
    const std::uint8_t* bytes = rec->Bytes;
    std::vector<std::uint8_t> data(bytes, bytes + std::size_t{rec->RecSize});
    if (index < resources.size()) {
      resources[index].data = std::move(data);
    } else {
      resources.push_back(pdb::PdbResource{rec->RecId, id, std::move(data)});
    }
    db.MarkContentChanged();
    return SYNCERR_NONE;
  });
}

std::int32_t SyncDeleteResourceRec(TRawRecordInfo* rec) {
  return Guarded(__func__, [&] {
    Require(rec != nullptr, "null record structure");
    OpenDatabase& db = Db(rec->FileHandle);
    db.RequireWritable("SyncDeleteResourceRec");
    RequireResourceDatabase(db);
    auto& resources = db.Db().resources;
    const std::size_t index =
        FindResource(db.Db(), rec->RecId, static_cast<std::uint16_t>(rec->CatId));
    if (index >= resources.size()) {
      throw SyncStatusError(SYNCERR_NOT_FOUND,
                            "no resource " + pdb::FourCCToString(rec->RecId) + " " +
                                std::to_string(static_cast<std::uint16_t>(rec->CatId)));
    }
    resources.erase(resources.begin() + static_cast<std::ptrdiff_t>(index));
    db.MarkContentChanged();
    return SYNCERR_NONE;
  });
}

std::int32_t SyncDeleteAllResourceRec(std::uint8_t handle) {
  return Guarded(__func__, [&] {
    OpenDatabase& db = Db(handle);
    db.RequireWritable("SyncDeleteAllResourceRec");
    RequireResourceDatabase(db);
    if (!db.Db().resources.empty()) {
      db.Db().resources.clear();
      db.MarkContentChanged();
    }
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
