#include "standins/syncmgr/Handheld.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unordered_set>

#include "standins/pdb/AtomicFile.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fernwick::emulator {

namespace fs = std::filesystem;

namespace {

// Runs `file_work` (reading or writing a database file). A failure other
// than running out of memory becomes SYNCERR_UNKNOWN, its reason after
// `what` (and in the HotSync log when `to_log`).
template <typename FileWork>
auto AsSyncStatus(const std::string& what, bool to_log, FileWork&& file_work) {
  try {
    return file_work();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw SyncStatusError(SYNCERR_UNKNOWN, what + e.what(), to_log);
  }
}

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// A profile number: decimal ("010" is ten), or hexadecimal after "0x".
std::uint32_t ParseNumber(const std::string& value, const std::string& where) {
  const bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
  const std::string digits = hex ? value.substr(2) : value;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (!digits.empty() && digits.size() <= 10 &&
      digits.find_first_not_of(allowed) == std::string::npos) {
    const unsigned long long number = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (number <= 0xFFFFFFFFull) return static_cast<std::uint32_t>(number);
  }
  throw SyncStatusError(SYNCERR_BAD_ARG,
                        where + ": \"" + value + "\" is not a number (decimal, or 0x hexadecimal)");
}

// `text` with bytes that do not print shown as \xNN, so that a message
// shows what a file really holds.
std::string Visible(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

// The text of the optional file `path`, or nothing when there is no such
// file. Anything else in its place (a folder, a FIFO, a device), a file
// over `limit` bytes or one that cannot be read is an error naming it.
std::optional<std::string> ReadOptionalFile(const fs::path& path, std::uintmax_t limit) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  if (ec) {
    throw SyncStatusError(SYNCERR_BAD_ARG, path.string() + " cannot be read: " + ec.message());
  }
  if (status.type() == fs::file_type::directory) {
    throw SyncStatusError(SYNCERR_BAD_ARG, path.string() + " is a folder, not a file");
  }
  if (status.type() != fs::file_type::regular) {
    throw SyncStatusError(SYNCERR_BAD_ARG,
                          path.string() + " is not a regular file (a FIFO, device or socket)");
  }
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > limit) {
    throw SyncStatusError(SYNCERR_BAD_ARG,
                          path.string() + " is larger than " + std::to_string(limit) + " bytes");
  }
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in || !in.read(text.data(), static_cast<std::streamsize>(size))) {
    throw SyncStatusError(SYNCERR_BAD_ARG, path.string() + " cannot be read");
  }
  return text;
}

constexpr std::uintmax_t kProfileLimit = 64 * 1024;

// Days from 1 January 1970 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

// ---------------------------------------------------------------------------
// Profile
// ---------------------------------------------------------------------------

HandheldProfile HandheldProfile::Parse(const std::string& text, const std::string& source_name) {
  HandheldProfile profile;
  // A byte order mark, as some editors write one, is not part of a key.
  const bool bom = text.rfind("\xEF\xBB\xBF", 0) == 0;
  std::istringstream lines(bom ? text.substr(3) : text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string where = source_name + " line " + std::to_string(number);
    std::string content = Trim(line.substr(0, line.find('#')));
    if (content.empty()) continue;
    const std::size_t equals = content.find('=');
    if (equals == std::string::npos) {
      throw SyncStatusError(SYNCERR_BAD_ARG, where + ": expected key=value");
    }
    const std::string key = Trim(content.substr(0, equals));
    const std::string value = Trim(content.substr(equals + 1));
    if (key == "user_name") {
      if (value.size() > 63) throw SyncStatusError(SYNCERR_BAD_ARG, where + ": user name too long");
      profile.user_name = value;
    } else if (key == "user_id") {
      profile.user_id = ParseNumber(value, where);
    } else if (key == "os_version") {
      const std::size_t dot = value.find('.');
      profile.os_major = ParseNumber(value.substr(0, dot), where);
      profile.os_minor = dot == std::string::npos ? 0 : ParseNumber(value.substr(dot + 1), where);
      if (profile.os_major > 255 || profile.os_minor > 15) {
        throw SyncStatusError(SYNCERR_BAD_ARG, where + ": os_version out of range");
      }
    } else if (key == "max_open_databases") {
      const std::uint32_t max = ParseNumber(value, where);
      if (max < 1 || max > 255) {
        throw SyncStatusError(SYNCERR_BAD_ARG, where + ": max_open_databases must be 1 to 255");
      }
      profile.max_open_databases = static_cast<int>(max);
    } else {
      throw SyncStatusError(SYNCERR_BAD_ARG, where + ": unknown key \"" + Visible(key) + "\"");
    }
  }
  return profile;
}

std::uint32_t HandheldProfile::RomVersion() const {
  // major (8 bits), minor (4), fix (4), stage (4; 3 = release), build (12).
  return (os_major << 24) | (os_minor << 20) | (3u << 12);
}

// ---------------------------------------------------------------------------
// Folder entries
// ---------------------------------------------------------------------------

std::string SafeFileStem(const std::string& database_name) {
  std::string stem;
  for (char c : database_name) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool safe = std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == ' ';
    stem += (safe && u < 0x80) ? c : '_';
  }
  // No leading dots (hidden files, "." and "..") and no trailing dots or
  // spaces, which Windows drops from file names.
  while (!stem.empty() && stem.front() == '.') stem.front() = '_';
  while (!stem.empty() && (stem.back() == '.' || stem.back() == ' ')) stem.back() = '_';
  if (stem.empty()) return "database";
  // Windows takes CON, NUL, COM1, ... followed by anything from a dot on for
  // its devices, in any case: such a stem gets a '_' after the device name.
  std::string device = stem.substr(0, stem.find('.'));
  while (!device.empty() && device.back() == ' ') device.pop_back();
  std::transform(device.begin(), device.end(), device.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const bool numbered = device.size() == 4 &&
                        (device.compare(0, 3, "COM") == 0 || device.compare(0, 3, "LPT") == 0) &&
                        device[3] >= '1' && device[3] <= '9';
  if (numbered || device == "CON" || device == "PRN" || device == "AUX" || device == "NUL") {
    stem.insert(device.size(), "_");
  }
  return stem;
}

std::uint32_t HandheldNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  const std::int64_t local_unix =
      DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                    static_cast<unsigned>(local.tm_mday)) *
          86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return pdb::UnixToPalmDate(local_unix);
}

// ---------------------------------------------------------------------------
// OpenDatabase
// ---------------------------------------------------------------------------

OpenDatabase::OpenDatabase(fs::path path, pdb::PdbDatabase db, std::uint8_t mode)
    : path_(std::move(path)), db_(std::move(db)), mode_(mode) {}

void OpenDatabase::RequireWritable(const char* operation) const {
  if (!Writable()) {
    throw SyncStatusError(SYNCERR_READ_ONLY, std::string(operation) + ": database \"" + db_.name +
                                                 "\" is not open for writing");
  }
}

void OpenDatabase::RebuildIndex() {
  index_.clear();
  index_.reserve(db_.records.size());
  for (std::size_t i = 0; i < db_.records.size(); ++i) {
    // A damaged file may repeat an id; the first record keeps it.
    index_.emplace(db_.records[i].unique_id, i);
  }
  index_valid_ = true;
}

std::optional<std::size_t> OpenDatabase::FindRecord(std::uint32_t id) {
  if (!index_valid_) RebuildIndex();
  auto it = index_.find(id);
  if (it == index_.end()) return std::nullopt;
  return it->second;
}

std::uint32_t OpenDatabase::NewUniqueId() {
  if (!index_valid_) RebuildIndex();
  if (index_.size() >= 0xFFFFFF) {
    throw SyncStatusError(SYNCERR_REMOTE_NO_SPACE,
                          "database \"" + db_.name + "\" has no free record id");
  }
  std::uint32_t id = db_.unique_id_seed & 0xFFFFFF;
  do {
    id = (id + 1) & 0xFFFFFF;
    if (id == 0) id = 1;
  } while (index_.count(id) != 0);
  db_.unique_id_seed = id;
  return id;
}

namespace {

// Whether two records share an id. Files usually list records by ascending
// id, which one pass confirms; otherwise the ids are sorted, which needs one
// small array rather than a node per record.
bool RepeatsAnId(const std::vector<pdb::PdbRecord>& records) {
  const auto out_of_order = std::adjacent_find(
      records.begin(), records.end(),
      [](const pdb::PdbRecord& a, const pdb::PdbRecord& b) { return a.unique_id >= b.unique_id; });
  if (out_of_order == records.end()) return false;
  std::vector<std::uint32_t> ids;
  ids.reserve(records.size());
  for (const pdb::PdbRecord& r : records) ids.push_back(r.unique_id);
  std::sort(ids.begin(), ids.end());
  return std::adjacent_find(ids.begin(), ids.end()) != ids.end();
}

}  // namespace

std::string OpenDatabase::RenumberRepeatedIds() {
  if (db_.IsResourceDatabase() || !RepeatsAnId(db_.records)) return "";
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::size_t> repeated;
  for (std::size_t i = 0; i < db_.records.size(); ++i) {
    if (!seen.insert(db_.records[i].unique_id).second) repeated.push_back(i);
  }
  if (repeated.empty()) return "";
  RebuildIndex();
  const std::uint32_t first_old = db_.records[repeated.front()].unique_id;
  std::uint32_t first_new = 0;
  std::uint32_t last_new = 0;
  for (const std::size_t i : repeated) {
    const std::uint32_t id = NewUniqueId();
    if (first_new == 0) first_new = id;
    last_new = id;
    db_.records[i].unique_id = id;
    db_.records[i].attributes |= eRecAttrDirty;
    index_.emplace(id, i);
  }
  content_changed_ = true;
  return path_.filename().string() + ": " + std::to_string(repeated.size()) +
         " record(s) repeat an id already in use (the first: record " +
         std::to_string(repeated.front()) + ", id " + std::to_string(first_old) +
         "); served with fresh ids " + std::to_string(first_new) + " to " +
         std::to_string(last_new) + " and marked changed";
}

std::size_t OpenDatabase::AppendRecord(pdb::PdbRecord record) {
  if (!index_valid_) RebuildIndex();
  index_.emplace(record.unique_id, db_.records.size());
  db_.records.push_back(std::move(record));
  content_changed_ = true;
  return db_.records.size() - 1;
}

void OpenDatabase::RemoveRecord(std::size_t index) {
  db_.records.erase(db_.records.begin() + static_cast<std::ptrdiff_t>(index));
  if (category_position_ > index) --category_position_;
  if (modified_position_ > index) --modified_position_;
  index_valid_ = false;
  content_changed_ = true;
}

template <typename Pred>
void OpenDatabase::RemoveRecordsIf(Pred remove) {
  auto& records = db_.records;
  std::size_t kept = 0;
  std::size_t removed_before_category = 0;
  std::size_t removed_before_modified = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (remove(records[i])) {
      if (i < category_position_) ++removed_before_category;
      if (i < modified_position_) ++removed_before_modified;
      continue;
    }
    if (kept != i) records[kept] = std::move(records[i]);
    ++kept;
  }
  if (kept == records.size()) return;
  records.resize(kept);
  category_position_ -= removed_before_category;
  modified_position_ -= removed_before_modified;
  index_valid_ = false;
  content_changed_ = true;
}

// ---------------------------------------------------------------------------
// Record rules
// ---------------------------------------------------------------------------

namespace {

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
bool IsModified(std::uint8_t attributes) {
  return (attributes & (pdb::kRecDirty | pdb::kRecDeleted)) != 0;
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

std::int16_t CheckedCategory(std::int32_t category) {
  if (category < 0 || category > 15) {
    throw SyncStatusError(SYNCERR_BAD_ARG,
                          "category " + std::to_string(category) + " is not 0 to 15");
  }
  return static_cast<std::int16_t>(category);
}

// Copies `data` into the caller's buffer, cut to TotalBytes, and reports the
// full size in RecSize. A record cut to fit answers SYNCERR_LOCAL_BUFF_TOO_SMALL.
void Deliver(const std::vector<std::uint8_t>& data, TRawRecordInfo& rec) {
  rec.RecSize = static_cast<std::uint32_t>(data.size());
  const std::size_t fits = std::min<std::size_t>(data.size(), rec.TotalBytes);
  if (fits > 0) std::memcpy(rec.Bytes, data.data(), fits);
  if (fits < data.size()) {
    throw SyncStatusError(SYNCERR_LOCAL_BUFF_TOO_SMALL, "record of " + std::to_string(data.size()) +
                                                            " bytes cut to the buffer's " +
                                                            std::to_string(rec.TotalBytes));
  }
}

}  // namespace

void OpenDatabase::RequireRecordDatabase() const {
  if (db_.IsResourceDatabase()) {
    throw SyncStatusError(SYNCERR_BAD_OPERATION,
                          "database \"" + db_.name + "\" holds resources, not records");
  }
}

void OpenDatabase::RequireResourceDatabase() const {
  if (!db_.IsResourceDatabase()) {
    throw SyncStatusError(SYNCERR_BAD_OPERATION,
                          "database \"" + db_.name + "\" holds records, not resources");
  }
}

void OpenDatabase::RequireRoomForEntry() const {
  // The file's entry count has 16 bits, and a record marked deleted holds its
  // entry until it is purged. Refused here, the append fails alone; let
  // through, the whole database would fail to be written back at close.
  if (EntryCount() >= kMaxEntries) {
    throw SyncStatusError(SYNCERR_REMOTE_NO_SPACE,
                          "database \"" + db_.name + "\" is full: it holds " +
                              std::to_string(EntryCount()) + " entries, the most a database holds",
                          true);
  }
}

std::size_t OpenDatabase::EntryCount() const {
  return db_.IsResourceDatabase() ? db_.resources.size() : db_.records.size();
}

void OpenDatabase::FillRecord(std::size_t index, TRawRecordInfo& rec) const {
  static const std::vector<std::uint8_t> kNoData;
  const pdb::PdbRecord& record = db_.records[index];
  rec.RecId = record.unique_id;
  rec.RecIndex = static_cast<std::uint16_t>(index);
  rec.Attribs = ReportedAttribs(record.attributes);
  rec.CatId = ReportedCategory(record.attributes);
  const bool without_data = IsDeleted(record.attributes) && !IsArchived(record.attributes);
  Deliver(without_data ? kNoData : record.data, rec);
}

void OpenDatabase::ReadRecordAt(std::size_t index, TRawRecordInfo& rec) const {
  RequireRecordDatabase();
  if (index >= db_.records.size()) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no record at index " + std::to_string(index));
  }
  FillRecord(index, rec);
}

void OpenDatabase::ReadRecordById(std::uint32_t id, TRawRecordInfo& rec) {
  RequireRecordDatabase();
  auto index = FindRecord(id);
  if (id == 0 || !index) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no record with id " + std::to_string(id));
  }
  FillRecord(*index, rec);
}

void OpenDatabase::ReadNextInCategory(std::int32_t category, TRawRecordInfo& rec) {
  RequireRecordDatabase();
  const std::int16_t wanted = CheckedCategory(category);
  const auto& records = db_.records;
  for (std::size_t i = category_position_; i < records.size(); ++i) {
    const std::uint8_t attributes = records[i].attributes;
    if (IsDeleted(attributes) || ReportedCategory(attributes) != wanted) continue;
    category_position_ = i + 1;
    FillRecord(i, rec);
    return;
  }
  category_position_ = records.size();
  throw SyncStatusError(SYNCERR_NOT_FOUND,
                        "no further record in category " + std::to_string(wanted));
}

void OpenDatabase::ReadNextModified(std::optional<std::int32_t> category, TRawRecordInfo& rec) {
  RequireRecordDatabase();
  const std::int16_t wanted = category ? CheckedCategory(*category) : 0;
  const auto& records = db_.records;
  for (std::size_t i = modified_position_; i < records.size(); ++i) {
    const std::uint8_t attributes = records[i].attributes;
    if (!IsModified(attributes)) continue;
    if (category && ReportedCategory(attributes) != wanted) continue;
    modified_position_ = i + 1;
    FillRecord(i, rec);
    return;
  }
  modified_position_ = records.size();
  throw SyncStatusError(SYNCERR_NOT_FOUND, "no further modified record");
}

void OpenDatabase::ResetIterations() {
  category_position_ = 0;
  modified_position_ = 0;
}

std::uint32_t OpenDatabase::WriteRecord(std::uint32_t id, std::uint8_t attribs,
                                        std::int32_t category, std::vector<std::uint8_t> data) {
  if (id > 0xFFFFFF) throw SyncStatusError(SYNCERR_BAD_ARG, "record ids have 24 bits");
  RequireWritable("SyncWriteRec");
  RequireRecordDatabase();
  const std::uint8_t attributes = StoredAttributes(attribs, CheckedCategory(category));
  if (id != 0) {
    if (const auto index = FindRecord(id)) {
      pdb::PdbRecord& record = db_.records[*index];
      record.attributes = attributes;
      record.data = std::move(data);
      content_changed_ = true;
      return id;
    }
  }
  RequireRoomForEntry();
  pdb::PdbRecord record;
  record.attributes = attributes;
  record.unique_id = id != 0 ? id : NewUniqueId();
  record.data = std::move(data);
  AppendRecord(std::move(record));
  return db_.records.back().unique_id;
}

void OpenDatabase::DeleteRecord(std::uint32_t id) {
  RequireWritable("SyncDeleteRec");
  RequireRecordDatabase();
  auto index = FindRecord(id);
  if (id == 0 || !index) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no record with id " + std::to_string(id));
  }
  RemoveRecord(*index);
}

void OpenDatabase::ChangeCategory(std::int32_t from, std::int32_t to) {
  const std::int16_t from_category = CheckedCategory(from);
  const std::int16_t to_category = CheckedCategory(to);
  RequireWritable("SyncChangeCategory");
  RequireRecordDatabase();
  bool changed = false;
  for (auto& record : db_.records) {
    if (IsDeleted(record.attributes) || ReportedCategory(record.attributes) != from_category) {
      continue;
    }
    record.attributes = static_cast<std::uint8_t>((record.attributes & pdb::kRecFlagsMask) |
                                                  pdb::kRecDirty | to_category);
    changed = true;
  }
  if (changed) content_changed_ = true;
}

void OpenDatabase::PurgeAllRecords() {
  RequireWritable("SyncPurgeAllRecs");
  RequireRecordDatabase();
  RemoveRecordsIf([](const pdb::PdbRecord&) { return true; });
}

void OpenDatabase::PurgeCategory(std::int32_t category) {
  const std::int16_t checked = CheckedCategory(category);
  RequireWritable("SyncPurgeAllRecsInCategory");
  RequireRecordDatabase();
  RemoveRecordsIf(
      [&](const pdb::PdbRecord& r) { return ReportedCategory(r.attributes) == checked; });
}

void OpenDatabase::PurgeDeletedRecords() {
  RequireWritable("SyncPurgeDeletedRecs");
  RequireRecordDatabase();
  RemoveRecordsIf([](const pdb::PdbRecord& r) { return IsDeleted(r.attributes); });
}

void OpenDatabase::ResetSyncFlags() {
  RequireWritable("SyncResetSyncFlags");
  for (auto& record : db_.records) record.attributes &= static_cast<std::uint8_t>(~pdb::kRecDirty);
  db_.backup_date = HandheldNow();
  flags_changed_ = true;
}

void OpenDatabase::ReadInfoBlock(InfoBlock which, TDbGenInfo& info) const {
  const bool app = which == InfoBlock::kApp;
  const auto& block = app ? db_.app_info : db_.sort_info;
  if (!block) {
    info.BytesRead = 0;
    throw SyncStatusError(SYNCERR_NOT_FOUND, std::string("database \"") + db_.name + "\" has no " +
                                                 (app ? "application" : "sort") + " info block");
  }
  const std::size_t fits = std::min<std::size_t>(block->size(), info.TotalBytes);
  if (fits > 0) std::memcpy(info.Bytes, block->data(), fits);
  info.BytesRead = static_cast<std::uint16_t>(fits);
  if (fits < block->size()) {
    throw SyncStatusError(SYNCERR_LOCAL_BUFF_TOO_SMALL,
                          "info block of " + std::to_string(block->size()) +
                              " bytes cut to the buffer's " + std::to_string(info.TotalBytes));
  }
}

void OpenDatabase::WriteInfoBlock(InfoBlock which, std::vector<std::uint8_t> bytes) {
  const bool app = which == InfoBlock::kApp;
  RequireWritable(app ? "SyncWriteDBAppInfoBlock" : "SyncWriteDBSortInfoBlock");
  auto& block = app ? db_.app_info : db_.sort_info;
  if (bytes.empty()) {
    block.reset();
  } else {
    block = std::move(bytes);
  }
  content_changed_ = true;
}

std::size_t OpenDatabase::FindResource(std::uint32_t type, std::uint16_t id) const {
  std::size_t i = 0;
  while (i < db_.resources.size() && !(db_.resources[i].type == type && db_.resources[i].id == id))
    ++i;
  return i;
}

void OpenDatabase::ReadResourceAt(std::size_t index, bool with_data, TRawRecordInfo& rec) const {
  RequireResourceDatabase();
  if (index >= db_.resources.size()) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no resource at index " + std::to_string(index));
  }
  const pdb::PdbResource& resource = db_.resources[index];
  rec.RecId = resource.type;
  rec.CatId = static_cast<std::int16_t>(resource.id);
  rec.Attribs = 0;
  if (with_data) {
    Deliver(resource.data, rec);
  } else {
    rec.RecSize = static_cast<std::uint32_t>(resource.data.size());
  }
}

void OpenDatabase::WriteResource(std::uint32_t type, std::uint16_t id,
                                 std::vector<std::uint8_t> data) {
  RequireWritable("SyncWriteResourceRec");
  RequireResourceDatabase();
  const std::size_t index = FindResource(type, id);
  if (index < db_.resources.size()) {
    db_.resources[index].data = std::move(data);
  } else {
    RequireRoomForEntry();
    db_.resources.push_back(pdb::PdbResource{type, id, std::move(data)});
  }
  content_changed_ = true;
}

void OpenDatabase::DeleteResource(std::uint32_t type, std::uint16_t id) {
  RequireWritable("SyncDeleteResourceRec");
  RequireResourceDatabase();
  const std::size_t index = FindResource(type, id);
  if (index >= db_.resources.size()) {
    throw SyncStatusError(SYNCERR_NOT_FOUND,
                          "no resource " + pdb::FourCCToString(type) + " " + std::to_string(id));
  }
  db_.resources.erase(db_.resources.begin() + static_cast<std::ptrdiff_t>(index));
  content_changed_ = true;
}

void OpenDatabase::DeleteAllResources() {
  RequireWritable("SyncDeleteAllResourceRec");
  RequireResourceDatabase();
  if (!db_.resources.empty()) {
    db_.resources.clear();
    content_changed_ = true;
  }
}

FileStamp StampOf(const fs::path& path) {
  FileStamp stamp;
#ifdef _WIN32
  std::error_code ec;
  stamp.size = fs::file_size(path, ec);
  if (ec) return stamp;
  const auto modified = fs::last_write_time(path, ec);
  if (ec) return stamp;
  stamp.modified = static_cast<std::int64_t>(modified.time_since_epoch().count());
  stamp.exists = true;
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.links = static_cast<std::uint64_t>(st.st_nlink);
#endif
  return stamp;
}

void OpenDatabase::WriteBack() {
  if (!Writable() || !Changed()) return;
  pdb::PdbDatabase& db = db_;
  if (content_changed_) {
    db.modification_date = HandheldNow();
    ++db.modification_number;
  }
  std::error_code ec;
  // A symbolic link stays a link: the file it leads to is replaced.
  const fs::path target = fs::is_symlink(path_, ec) ? fs::canonical(path_, ec) : path_;
  if (ec) {
    throw SyncStatusError(SYNCERR_UNKNOWN,
                          "database \"" + db.name + "\" could not be written back: " +
                              path_.string() + " is a broken link: " + ec.message(),
                          true);
  }
  const FileStamp now = StampOf(target);
  if (read_stamp_.exists && !(now == read_stamp_)) {
    WriteConflictCopy(target, now.exists);
    return;
  }
  AsSyncStatus("database \"" + db.name + "\" could not be written back: ", true,
               [&] { pdb::WritePdbFileAtomically(target, db); });
  content_changed_ = false;
  flags_changed_ = false;
  read_stamp_ = StampOf(target);
  if (now.links > 1) {
    ReportMessage(target.filename().string() + " had " + std::to_string(now.links - 1) +
                  " other hard link(s); they keep the database as it was before this sync");
  }
}

void OpenDatabase::WriteConflictCopy(const fs::path& target, bool still_there) {
  std::error_code ec;
  fs::path copy;
  for (int n = 1;; ++n) {
    copy = target;
    copy += ".sync-conflict-" + std::to_string(n);
    if (!fs::exists(copy, ec) && !ec) break;
  }
  const std::string what = "database \"" + db_.name +
                           "\" was not written back: " + target.filename().string() +
                           (still_there ? " was changed by another program during the sync"
                                        : " was removed by another program during the sync");
  AsSyncStatus(what + "; this sync's version could not be kept either: ", true,
               [&] { pdb::WritePdbFileAtomically(copy, db_); });
  content_changed_ = false;
  flags_changed_ = false;
  throw SyncStatusError(SYNCERR_UNKNOWN,
                        what + "; that file is left as it is and this sync's version is kept as " +
                            copy.filename().string(),
                        true);
}

// ---------------------------------------------------------------------------
// Handheld
// ---------------------------------------------------------------------------

Handheld::Handheld(fs::path folder) : folder_(std::move(folder)) {
  std::error_code ec;
  if (!fs::is_directory(folder_, ec)) {
    throw SyncStatusError(SYNCERR_BAD_ARG,
                          "handheld folder \"" + folder_.string() + "\" does not exist");
  }
  // What a write-back killed half-way left behind: never a database.
  for (const std::string& name : pdb::RemoveStaleTemporaryFiles(folder_)) {
    ReportOnce(name + ": removed, the temporary file of an interrupted write-back");
  }
  const fs::path profile_path = folder_ / kProfileFileName;
  if (auto text = ReadOptionalFile(profile_path, kProfileLimit)) {
    profile_ = HandheldProfile::Parse(*text, profile_path.string());
  }
  Rescan();
}

Handheld::~Handheld() {
  try {
    if (auto failure = CloseAll()) ReportMessage(*failure);
  } catch (...) {
  }
}

void Handheld::Rescan() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if ((ext == ".pdb" || ext == ".prc") && it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  std::vector<DatabaseEntry> found;
  for (const fs::path& path : files) {
    DatabaseEntry entry;
    try {
      static_cast<pdb::PdbFileHeader&>(entry) = pdb::ReadPdbHeader(path);
    } catch (const pdb::PdbError& e) {
      ReportOnce(path.filename().string() + ": not a handheld database (" + e.what() +
                 "); ignored");
      continue;
    }
    entry.path = path;
    if (entry.name.empty()) {
      ReportOnce(path.filename().string() + ": not a handheld database (no name); ignored");
      continue;
    }
    auto same = std::find_if(found.begin(), found.end(),
                             [&](const DatabaseEntry& e) { return e.name == entry.name; });
    if (same != found.end()) {
      // The file named after the database wins over a copy beside it
      // ("MemoDB-old.pdb" sorts before "MemoDB.pdb"); otherwise the first.
      const bool named_after = path.stem().string() == SafeFileStem(entry.name);
      const bool same_named_after = same->path.stem().string() == SafeFileStem(same->name);
      if (named_after && !same_named_after) std::swap(*same, entry);
      ReportOnce("database \"" + same->name +
                 "\" is in two files: " + same->path.filename().string() + " is served (" +
                 (named_after != same_named_after ? "the file named after the database"
                                                  : "the first by file name") +
                 "), " + entry.path.filename().string() + " is left out");
      continue;
    }
    found.push_back(std::move(entry));
  }
  databases_ = std::move(found);
}

void Handheld::ReportOnce(const std::string& message) {
  if (reported_.insert(message).second) ReportMessage(message);
}

const DatabaseEntry* Handheld::FindByName(const std::string& name) {
  for (const auto& entry : databases_) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

std::uint8_t Handheld::HandleOf(const fs::path& path) const {
  for (const auto& [handle, db] : open_) {
    if (db->Path() == path) return handle;
  }
  return 0;
}

std::uint8_t Handheld::Open(const std::string& name, std::uint8_t mode) {
  const DatabaseEntry* entry = FindByName(name);
  if (entry == nullptr) {
    Rescan();
    entry = FindByName(name);
  }
  if (entry == nullptr) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no database named \"" + name + "\" on the handheld");
  }
  if (HandleOf(entry->path) != 0) {
    throw SyncStatusError(SYNCERR_FILE_ALREADY_OPEN, "database \"" + name + "\" is already open");
  }
  if (static_cast<int>(open_.size()) >= profile_.max_open_databases) {
    throw SyncStatusError(SYNCERR_TOO_MANY_OPEN_FILES,
                          "cannot open \"" + name + "\": " + std::to_string(open_.size()) +
                              " databases are open, the handheld allows " +
                              std::to_string(profile_.max_open_databases));
  }
  if ((mode & eDbWrite) != 0 && (entry->attributes & pdb::kDbReadOnly) != 0) {
    throw SyncStatusError(
        SYNCERR_READ_ONLY,
        "database \"" + name + "\" is read-only and cannot be opened for writing");
  }
  const FileStamp stamp = StampOf(entry->path);
  pdb::PdbDatabase db = AsSyncStatus("database \"" + name + "\" cannot be opened: ", true,
                                     [&] { return pdb::ReadPdbFile(entry->path); });
  std::uint8_t handle = 1;
  while (open_.count(handle) != 0) ++handle;
  auto opened = std::make_unique<OpenDatabase>(entry->path, std::move(db), mode);
  opened->SetReadStamp(stamp);
  if (std::string renumbered = opened->RenumberRepeatedIds(); !renumbered.empty()) {
    ReportMessage(renumbered);
  }
  open_.emplace(handle, std::move(opened));
  return handle;
}

std::uint8_t Handheld::Create(const CDbCreateDB& params) {
  const std::size_t length = static_cast<std::size_t>(
      std::find(params.m_Name, params.m_Name + SYNC_DB_NAMELEN, '\0') - params.m_Name);
  if (length == 0 || length >= SYNC_DB_NAMELEN) {
    throw SyncStatusError(SYNCERR_BAD_ARG, "SyncCreateDB: the name must be 1 to 31 characters");
  }
  const std::string name(params.m_Name, length);
  Rescan();
  if (FindByName(name) != nullptr) {
    throw SyncStatusError(SYNCERR_FILE_ALREADY_EXIST, "database \"" + name + "\" already exists");
  }
  if (static_cast<int>(open_.size()) >= profile_.max_open_databases) {
    throw SyncStatusError(SYNCERR_TOO_MANY_OPEN_FILES,
                          "cannot create \"" + name + "\": too many open databases");
  }
  pdb::PdbDatabase db;
  db.name = name;
  db.attributes =
      static_cast<std::uint16_t>(params.m_Flags) & static_cast<std::uint16_t>(~pdb::kDbOpen);
  db.version = params.m_Version;
  db.creation_date = db.modification_date = HandheldNow();
  db.type = params.m_Type;
  db.creator = params.m_Creator;
  const std::string stem = SafeFileStem(name);
  const std::string ext = db.IsResourceDatabase() ? ".prc" : ".pdb";
  fs::path path = folder_ / (stem + ext);
  std::error_code ec;
  for (int n = 2; fs::exists(path, ec); ++n)
    path = folder_ / (stem + "-" + std::to_string(n) + ext);
  AsSyncStatus("database \"" + name + "\" cannot be created: ", false,
               [&] { pdb::WritePdbFileAtomically(path, db); });
  Rescan();
  return Open(name, eDbRead | eDbWrite | eDbExclusive);
}

void Handheld::Delete(const std::string& name) {
  Rescan();
  const DatabaseEntry* entry = FindByName(name);
  if (entry == nullptr) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no database named \"" + name + "\" on the handheld");
  }
  if (HandleOf(entry->path) != 0) {
    throw SyncStatusError(SYNCERR_FILE_ALREADY_OPEN,
                          "database \"" + name + "\" is open and cannot be deleted");
  }
  std::error_code ec;
  if (!fs::remove(entry->path, ec)) {
    throw SyncStatusError(SYNCERR_UNKNOWN,
                          "database \"" + name + "\" cannot be deleted: " + ec.message());
  }
  Rescan();
}

OpenDatabase& Handheld::Get(std::uint8_t handle) {
  auto it = open_.find(handle);
  if (it == open_.end()) {
    throw SyncStatusError(SYNCERR_FILE_NOT_OPEN,
                          "no database is open under handle " + std::to_string(handle));
  }
  return *it->second;
}

void Handheld::Close(std::uint8_t handle) {
  auto it = open_.find(handle);
  if (it == open_.end()) {
    throw SyncStatusError(SYNCERR_FILE_NOT_OPEN,
                          "no database is open under handle " + std::to_string(handle));
  }
  std::unique_ptr<OpenDatabase> db = std::move(it->second);
  open_.erase(it);
  db->WriteBack();
  Rescan();
}

std::optional<std::string> Handheld::CloseAll() {
  std::optional<std::string> failure;
  while (!open_.empty()) {
    try {
      Close(open_.begin()->first);
    } catch (const std::exception& e) {
      if (!failure) failure = e.what();
    }
  }
  return failure;
}

std::vector<std::uint8_t> Handheld::OpenHandles() const {
  std::vector<std::uint8_t> handles;
  for (const auto& entry : open_) handles.push_back(entry.first);
  return handles;
}

void Handheld::FillInfo(const DatabaseEntry& entry, bool with_sizes,
                        SyncDatabaseInfoType& info) const {
  info = SyncDatabaseInfoType{};
  info.wAttributes = entry.attributes;
  info.wVersion = entry.version;
  info.dwType = entry.type;
  info.dwCreator = entry.creator;
  info.dwCreateDate = entry.creation_date;
  info.dwModDate = entry.modification_date;
  info.dwBackupDate = entry.backup_date;
  info.dwModNumber = entry.modification_number;
  if (with_sizes) {
    // The header reader refuses files over 4 GiB - 1, so the sizes fit.
    info.dwNumRecords = entry.entry_count;
    info.dwTotalBytes = static_cast<std::uint32_t>(entry.file_size);
    const std::uint64_t overhead =
        pdb::PdbEntryListEnd(entry.entry_count, entry.IsResourceDatabase());
    info.dwDataBytes =
        entry.file_size > overhead ? static_cast<std::uint32_t>(entry.file_size - overhead) : 0;
  }
  info.wCardNo = 0;
  std::copy_n(entry.name.c_str(), std::min(entry.name.size(), SYNC_DB_NAMELEN - 1), info.szName);
}

void Handheld::FillOpenInfo(std::uint8_t handle, bool with_sizes, SyncDatabaseInfoType& info) {
  const pdb::PdbDatabase& db = Get(handle).Db();
  DatabaseEntry entry;
  static_cast<pdb::PdbHeader&>(entry) = db;
  entry.attributes = static_cast<std::uint16_t>(db.attributes | pdb::kDbOpen);
  FillInfo(entry, false, info);
  if (with_sizes) {
    std::uint64_t data = 0;
    if (db.IsResourceDatabase()) {
      info.dwNumRecords = static_cast<std::uint32_t>(db.resources.size());
      for (const auto& r : db.resources) data += r.data.size();
    } else {
      info.dwNumRecords = static_cast<std::uint32_t>(db.records.size());
      for (const auto& r : db.records) data += r.data.size();
    }
    if (db.app_info) data += db.app_info->size();
    if (db.sort_info) data += db.sort_info->size();
    info.dwDataBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(data, 0xFFFFFFFFu));
    // As the file would be laid out: entry list, two-byte gap, blocks.
    const std::uint64_t total =
        pdb::PdbEntryListEnd(info.dwNumRecords, db.IsResourceDatabase()) + 2 + data;
    info.dwTotalBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
  }
}

void Handheld::ReadUserId(TUserIDInfo& info) const {
  info = TUserIDInfo{};
  const std::size_t length =
      std::min<std::size_t>(profile_.user_name.size(), sizeof info.m_pName - 1);
  std::memcpy(info.m_pName, profile_.user_name.data(), length);
  info.m_NameLength = static_cast<std::int32_t>(length + 1);
  info.m_Id = profile_.user_id;
  info.m_LastSyncPC = profile_.last_sync_pc;
}

void Handheld::ReadSystemInfo(CSystemInfo& info) const {
  info.m_RomSoftVersion = profile_.RomVersion();
  info.m_LocalId = 0;
  info.m_ProdIdLength = 0;
  info.m_dwReserved = 0;
}

void Handheld::ReadCardInfo(CCardInfo& info) {
  if (info.m_CardNo != 0) throw SyncStatusError(SYNCERR_NOT_FOUND, "the handheld has only card 0");
  Rescan();
  const std::uint8_t card = info.m_CardNo;
  info = CCardInfo{};
  info.m_CardNo = card;
  info.m_CardVersion = 1;
  static constexpr char kName[] = "Fernwick";
  std::memcpy(info.m_CardName, kName, sizeof kName - 1);
  std::memcpy(info.m_ManufName, kName, sizeof kName - 1);
  info.m_CardNameLen = info.m_ManufNameLen = sizeof kName - 1;
  info.m_RAMSize = 16u << 20;
  std::uint64_t used = 0;
  for (const auto& e : databases_) used += e.file_size;
  info.m_FreeRam = used >= info.m_RAMSize ? 0 : info.m_RAMSize - static_cast<std::uint32_t>(used);
  info.m_ramDbCount = static_cast<std::uint16_t>(std::min<std::size_t>(databases_.size(), 0xFFFF));
}

namespace {

void CopyName(const std::string& name, char (&target)[SYNC_DB_NAMELEN]) {
  std::memset(target, 0, SYNC_DB_NAMELEN);
  std::memcpy(target, name.data(), std::min(name.size(), SYNC_DB_NAMELEN - 1));
}

}  // namespace

std::size_t Handheld::ListDatabases(std::uint8_t card, std::uint16_t start_index, bool ram,
                                    CDbList* list, std::size_t room) {
  if (card != 0 || !ram) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no databases on that card or in ROM");
  }
  Rescan();
  if (start_index >= databases_.size()) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no database at that index");
  }
  const std::size_t n = std::min(room, databases_.size() - start_index);
  for (std::size_t i = 0; i < n; ++i) {
    const DatabaseEntry& e = databases_[start_index + i];
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
  return n;
}

Handheld::Found Handheld::FindDatabase(const std::string& name, std::uint32_t card, bool with_sizes,
                                       SyncDatabaseInfoType* info) {
  Rescan();
  auto it = std::find_if(databases_.begin(), databases_.end(),
                         [&](const DatabaseEntry& e) { return e.name == name; });
  if (card != 0 || it == databases_.end()) {
    throw SyncStatusError(SYNCERR_NOT_FOUND, "no database named \"" + name + "\" on the handheld");
  }
  Found found;
  found.local_id = static_cast<std::uint32_t>(it - databases_.begin()) + 1;
  found.handle = HandleOf(it->path);
  if (info != nullptr) {
    if (found.handle != 0) {
      FillOpenInfo(found.handle, with_sizes, *info);
    } else {
      FillInfo(*it, with_sizes, *info);
    }
  }
  return found;
}

void Handheld::FindNextByTypeCreator(std::uint32_t type, std::uint32_t creator, bool restart,
                                     bool with_sizes, SyncDatabaseInfoType* info) {
  if (restart) {
    Rescan();
    find_position_ = 0;
  }
  for (std::size_t i = find_position_; i < databases_.size(); ++i) {
    const DatabaseEntry& e = databases_[i];
    if ((type == 0 || type == e.type) && (creator == 0 || creator == e.creator)) {
      find_position_ = i + 1;
      if (info != nullptr) FillInfo(e, with_sizes, *info);
      return;
    }
  }
  find_position_ = databases_.size();
  throw SyncStatusError(SYNCERR_NOT_FOUND, "no further database of that type and creator");
}

}  // namespace fernwick::emulator
