#include "standins/syncmgr/Handheld.h"

#include <algorithm>
#include <cctype>
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

void OpenDatabase::ReplaceRecord(std::size_t index, std::uint8_t attributes,
                                 std::vector<std::uint8_t> data) {
  auto& record = db_.records.at(index);
  record.attributes = attributes;
  record.data = std::move(data);
  content_changed_ = true;
}

void OpenDatabase::RemoveRecord(std::size_t index) {
  db_.records.erase(db_.records.begin() + static_cast<std::ptrdiff_t>(index));
  if (category_position > index) --category_position;
  if (modified_position > index) --modified_position;
  index_valid_ = false;
  content_changed_ = true;
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

}  // namespace fernwick::emulator
