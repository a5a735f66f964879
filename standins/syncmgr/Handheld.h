// The handheld emulator's model: a folder of database files served as the
// handheld of a HotSync, with the open databases held in memory and written
// back atomically when they are closed. The exported Sync Manager functions
// (SyncExports.cpp) are thin wrappers around these classes; everything here
// reports failures as SyncStatusError, which the wrappers turn into the
// status they return. The behaviour is documented in docs/handheld-emulator.md.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "standins/pdb/PdbFile.h"
#include <fernwick/abi/SyncApi.h>

namespace fernwick::emulator {

// A failed Sync Manager operation: the status to answer and a message that
// says what failed.
// `to_log` marks failures the user should hear of (a damaged file, a failed
// write-back): they also go to the HotSync log when one is attached.
class SyncStatusError : public std::runtime_error {
 public:
  SyncStatusError(std::int32_t status, const std::string& message, bool to_log = false)
      : std::runtime_error(message), status_(status), to_log_(to_log) {}
  std::int32_t Status() const noexcept { return status_; }
  bool ToLog() const noexcept { return to_log_; }

 private:
  std::int32_t status_;
  bool to_log_;
};

// Values of the optional profile file ("handheld.profile") of a handheld
// folder. Defaults apply to keys the file does not give.
struct HandheldProfile {
  std::string user_name = "Fernwick User";
  std::uint32_t user_id = 0x2A;
  std::uint32_t os_major = 4;  // handheld OS version 4.1
  std::uint32_t os_minor = 1;
  int max_open_databases = 12;
  std::uint32_t last_sync_pc = 0;

  // Parses key=value lines; '#' starts a comment. Throws SyncStatusError
  // naming the line for an unknown key or a bad value.
  static HandheldProfile Parse(const std::string& text, const std::string& source_name);
  // The handheld OS version as the handheld's ROM version word.
  std::uint32_t RomVersion() const;
};

// The name of the profile file inside a handheld folder.
inline constexpr const char* kProfileFileName = "handheld.profile";

// One database file of the folder, as its header describes it
// (pdb::ReadPdbHeader).
struct DatabaseEntry : pdb::PdbFileHeader {
  std::filesystem::path path;
};

// The name of the file a database created through the Sync Manager gets:
// letters, digits, '-', '_', '.' and ' ' are kept, every other byte becomes
// '_'; an empty name becomes "database"; a Windows device name (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, in any case, alone or before a dot) gets a '_'
// after it ("CON" -> "CON_", "nul.x" -> "nul_.x"), on every platform.
std::string SafeFileStem(const std::string& database_name);

// What identifies the state of a file: its size, modification time and, on
// POSIX, its device and inode. A file replaced or rewritten by another
// program gets another stamp. `exists` is false when the file is gone.
struct FileStamp {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t links = 1;  // POSIX: hard links to the file
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && size == other.size && modified == other.modified &&
           device == other.device && inode == other.inode;
  }
};

// The stamp of the file `path` names (following a symbolic link).
FileStamp StampOf(const std::filesystem::path& path);

// Which info block of a database.
enum class InfoBlock { kApp, kSort };

// One database opened through SyncOpenDB or SyncCreateDB, with the record
// rules of the handheld: how the attribute byte of a file is reported and
// stored, the category and modified-record iterations, purges and the reset
// of the sync flags. Every change keeps the id index, the iteration
// positions and the change flags up to date.
//
// The record functions work on a record database and answer
// SYNCERR_BAD_OPERATION for a resource database; the resource functions the
// reverse. Changes need a handle opened with the write bit
// (SYNCERR_READ_ONLY). A category outside 0 to 15 is SYNCERR_BAD_ARG.
//
// Reads fill the caller's record structure as the Sync Manager reports a
// record: RecId, RecIndex, Attribs (the four flags, and eRecAttrArchived
// for a deleted record whose archived copy the file keeps), CatId (three
// bits of category for a deleted record), RecSize (the full size) and the
// data, cut to TotalBytes (then SYNCERR_LOCAL_BUFF_TOO_SMALL). A deleted
// record without an archived copy travels without its data. Bytes must be
// valid for TotalBytes bytes.
class OpenDatabase {
 public:
  // The most records (or resources) a database holds: its file's entry
  // count has 16 bits.
  static constexpr std::size_t kMaxEntries = 0xFFFF;

  OpenDatabase(std::filesystem::path path, pdb::PdbDatabase db, std::uint8_t mode);

  const std::filesystem::path& Path() const { return path_; }
  const pdb::PdbDatabase& Db() const { return db_; }
  std::uint8_t Mode() const { return mode_; }
  bool Writable() const { return (mode_ & eDbWrite) != 0; }
  // True once anything was changed through this handle.
  bool Changed() const { return content_changed_ || flags_changed_; }

  // Throws SyncStatusError(SYNCERR_READ_ONLY) unless the database was opened
  // with the write bit.
  void RequireWritable(const char* operation) const;

  // Gives every record whose id an earlier record already holds (a damaged
  // file: the device never holds two records with one id) a fresh id, marks
  // it dirty so that the next synchronisation copies it under that id, and
  // counts the database as changed. Returns what was done, for the log, or
  // "" when every id was unique. Resource databases are left alone.
  std::string RenumberRepeatedIds();

  // The number of records, or of resources in a resource database.
  std::size_t EntryCount() const;

  // Records. Reads: by index, by id (0 is no id: SYNCERR_NOT_FOUND), and the
  // iterations, each from its own position. The category iteration yields
  // the records of `category` that are not deleted; the modified iteration
  // the dirty and the deleted (archived or not) records, all of them or
  // those of `category`. At the end they answer SYNCERR_NOT_FOUND and stay
  // there until ResetIterations rewinds both.
  void ReadRecordAt(std::size_t index, TRawRecordInfo& rec) const;
  void ReadRecordById(std::uint32_t id, TRawRecordInfo& rec);
  void ReadNextInCategory(std::int32_t category, TRawRecordInfo& rec);
  void ReadNextModified(std::optional<std::int32_t> category, TRawRecordInfo& rec);
  void ResetIterations();

  // Writes a record: replaces the record with `id` or, when there is none
  // (or `id` is 0), appends one under `id` or, for 0, a fresh id. The stored
  // attributes are every flag of `attribs` as sent (busy included) and the
  // category; eRecAttrArchived with eRecAttrDeleted keeps the record as an
  // archived one. Returns the record's id. An id over 24 bits is
  // SYNCERR_BAD_ARG.
  std::uint32_t WriteRecord(std::uint32_t id, std::uint8_t attribs, std::int32_t category,
                            std::vector<std::uint8_t> data);
  // Removes the record with `id` (SYNCERR_NOT_FOUND when there is none).
  void DeleteRecord(std::uint32_t id);
  // Moves the records of category `from` that are not deleted to `to` and
  // marks them dirty.
  void ChangeCategory(std::int32_t from, std::int32_t to);
  // Remove every record; those of one category (deleted ones included);
  // the deleted and archived ones.
  void PurgeAllRecords();
  void PurgeCategory(std::int32_t category);
  void PurgeDeletedRecords();
  // Clears the dirty flag of every record (deleted records stay deleted,
  // and so modified) and sets the backup date to now: a change of flags,
  // not of content (the modification number stays).
  void ResetSyncFlags();

  // Info blocks. A read copies the block into the caller's buffer, cut to
  // TotalBytes (SYNCERR_LOCAL_BUFF_TOO_SMALL), and sets BytesRead; a
  // database without the block answers SYNCERR_NOT_FOUND with BytesRead 0.
  // A write of no bytes removes the block.
  void ReadInfoBlock(InfoBlock which, TDbGenInfo& info) const;
  void WriteInfoBlock(InfoBlock which, std::vector<std::uint8_t> bytes);

  // Resources of a resource database, identified by type and id. A read by
  // index fills RecId (the type), CatId (the id as its 16-bit pattern),
  // Attribs 0, RecSize and, `with_data`, the data as a record read does.
  void ReadResourceAt(std::size_t index, bool with_data, TRawRecordInfo& rec) const;
  // Replaces the data of resource (type, id) or appends one.
  void WriteResource(std::uint32_t type, std::uint16_t id, std::vector<std::uint8_t> data);
  // Removes resource (type, id) (SYNCERR_NOT_FOUND when there is none).
  void DeleteResource(std::uint32_t type, std::uint16_t id);
  void DeleteAllResources();

  // The stamp of the file as it was read; WriteBack compares it.
  void SetReadStamp(const FileStamp& stamp) { read_stamp_ = stamp; }

  // Writes the database back to its file when it was changed through a
  // handle opened for writing: the modification date and number are updated
  // when records or info blocks changed. Never touches the file otherwise.
  // A symbolic link is written through: its target is replaced (atomically,
  // in the target's folder). When another program changed, replaced or
  // removed the file since it was read, that file is left as it is, this
  // handle's database is written beside it as "<file>.sync-conflict-<n>"
  // and SyncStatusError says so (a change of either side is never lost).
  void WriteBack();

 private:
  void RequireRecordDatabase() const;
  void RequireResourceDatabase() const;
  // Throws SyncStatusError(SYNCERR_REMOTE_NO_SPACE) when the database holds
  // kMaxEntries records or resources (deleted ones included) already.
  void RequireRoomForEntry() const;
  // Fills `rec` with record `index` as described above.
  void FillRecord(std::size_t index, TRawRecordInfo& rec) const;

  // The index of the record with `id`, or nothing. O(1) on average; the
  // index is rebuilt lazily after records were removed.
  std::optional<std::size_t> FindRecord(std::uint32_t id);
  // A fresh 24-bit id from the seed, skipping ids in use; updates the seed.
  std::uint32_t NewUniqueId();
  void RebuildIndex();
  std::size_t AppendRecord(pdb::PdbRecord record);
  void RemoveRecord(std::size_t index);
  // Removes every record for which `remove(record)` is true.
  template <typename Pred>
  void RemoveRecordsIf(Pred remove);
  // The index of resource (type, id), or the count when there is none.
  std::size_t FindResource(std::uint32_t type, std::uint16_t id) const;

  // Writes the database beside `target` and throws the conflict's error.
  [[noreturn]] void WriteConflictCopy(const std::filesystem::path& target, bool still_there);

  std::filesystem::path path_;
  pdb::PdbDatabase db_;
  std::uint8_t mode_;
  bool content_changed_ = false;
  bool flags_changed_ = false;
  bool index_valid_ = false;
  FileStamp read_stamp_;
  std::unordered_map<std::uint32_t, std::size_t> index_;
  // Positions of the category and the modified-record iterations: the index
  // of the next record to look at.
  std::size_t category_position_ = 0;
  std::size_t modified_position_ = 0;
};

// The handheld: the attached folder, its databases, the open handles and the
// registration of the running conduit.
class Handheld {
 public:
  // Serves `folder`. Reads the profile (a damaged profile is an error) and
  // scans the database files; unreadable files are reported through the
  // message sink and left out.
  explicit Handheld(std::filesystem::path folder);
  // Writes back and closes whatever is still open.
  ~Handheld();
  Handheld(const Handheld&) = delete;
  Handheld& operator=(const Handheld&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  const HandheldProfile& Profile() const { return profile_; }

  // Re-reads the headers of the folder's files.
  void Rescan();
  // The databases of the folder, ordered by file name.
  const std::vector<DatabaseEntry>& Databases() const { return databases_; }
  // The entry of a database by name (case-sensitive), or null.
  const DatabaseEntry* FindByName(const std::string& name);

  std::uint8_t Open(const std::string& name, std::uint8_t mode);
  std::uint8_t Create(const CDbCreateDB& params);
  void Delete(const std::string& name);
  // Writes back (when changed) and releases the handle. The handle is
  // released even when the write-back fails; the failure is reported.
  void Close(std::uint8_t handle);
  // Closes every open database; returns the first failure's message, if any.
  std::optional<std::string> CloseAll();
  // The handles of the open databases, in ascending order.
  std::vector<std::uint8_t> OpenHandles() const;
  OpenDatabase& Get(std::uint8_t handle);
  // The handle under which `path` is open, or 0.
  std::uint8_t HandleOf(const std::filesystem::path& path) const;
  // Fills `info` for an open database or a folder entry.
  void FillInfo(const DatabaseEntry& entry, bool with_sizes, SyncDatabaseInfoType& info) const;
  void FillOpenInfo(std::uint8_t handle, bool with_sizes, SyncDatabaseInfoType& info);

  // Fill `info` from the profile: the user's name, id and last sync PC;
  // the ROM version.
  void ReadUserId(TUserIDInfo& info) const;
  void ReadSystemInfo(CSystemInfo& info) const;

  // The handheld has one card, 0, and no databases in ROM: other cards
  // answer SYNCERR_NOT_FOUND. The folder is read again first.

  // Fills `info` for card 0: its name, 16 MiB of RAM less the files' sizes
  // and the number of databases.
  void ReadCardInfo(CCardInfo& info);
  // Lists up to `room` databases from `start_index` (the folder's order)
  // into `list`; returns how many. SYNCERR_NOT_FOUND when there is none.
  std::size_t ListDatabases(std::uint8_t card, std::uint16_t start_index, bool ram, CDbList* list,
                            std::size_t room);
  // The database named `name`: its local id (its position in the folder,
  // from 1), the handle it is open under or 0, and when `info` is given
  // its info (with the sizes when `with_sizes`).
  struct Found {
    std::uint32_t local_id = 0;
    std::uint8_t handle = 0;
  };
  Found FindDatabase(const std::string& name, std::uint32_t card, bool with_sizes,
                     SyncDatabaseInfoType* info);
  // The next database of `type` and `creator` (0 matches any), from the
  // position of the previous search or, with `restart`, from the first;
  // fills `info` when given. SYNCERR_NOT_FOUND at the end.
  void FindNextByTypeCreator(std::uint32_t type, std::uint32_t creator, bool restart,
                             bool with_sizes, SyncDatabaseInfoType* info);

 private:
  // Reports a message about the folder once per attach (the folder is
  // read again after every close).
  void ReportOnce(const std::string& message);

  std::filesystem::path folder_;
  std::set<std::string> reported_;
  HandheldProfile profile_;
  std::vector<DatabaseEntry> databases_;
  std::map<std::uint8_t, std::unique_ptr<OpenDatabase>> open_;
  // The position of FindNextByTypeCreator.
  std::size_t find_position_ = 0;
};

// Current local time as handheld seconds since 1 January 1904.
std::uint32_t HandheldNow();

// Reports a message: kept as the emulator's last message and passed to the
// attached log sink, if any (implemented in SyncExports.cpp).
void ReportMessage(const std::string& message);

}  // namespace fernwick::emulator
