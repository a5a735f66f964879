// What the exporting example conduits share: the handheld's character set
// (examples/common/PalmText.h), the standard category block of an
// application info block, and a desktop store that keeps one exported piece
// per record and assembles the file a desktop program reads.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "PalmText.h"
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/DorvConduitDb.h>

namespace fernwick::examples {

// Appends the fields of the standard category block (276 bytes) and the two
// reserved bytes after it to `fields`: Renamed, CategoryName[16],
// CategoryId[16], LastUniqueId, CategoryPad, Reserved.
void AddCategoryFields(TDorvPalmFields& fields);
// The 16 category names of an application info block decoded with the
// fields of AddCategoryFields, in UTF-8.
std::array<std::string, 16> CategoryNames(TDorvPalmFields& fields);

// Desktop files written whole, kept private and made durable together.
//
// Each file is written to a temporary file of a unique name in its own
// folder, created afresh (never an existing file, never through a symbolic
// link) with mode 0600, and renamed over the file, so a reader never sees
// half a file and nobody else can plant or read the temporary. Folders that
// are missing are made with mode 0700. (The modes hold on POSIX systems; on
// Windows the files take their folder's permissions.)
//
// Durability is gathered up: Write and Remove leave the flush to disk to
// Commit, and whatever on the handheld depends on the desktop files (a
// purge, a reset of the change flags) must wait for Commit to return. On
// Linux Commit is one syncfs per file system written to, the cheapest
// durable order that bench/whole-sync.sh found for thousands of small files;
// on other POSIX systems an fsync of every file written, then of every
// folder touched. On Windows each file is flushed before its rename, which
// is written through, and Commit has nothing left to do.
class TDesktopWriter {
 public:
  TDesktopWriter() = default;
  ~TDesktopWriter();
  TDesktopWriter(const TDesktopWriter&) = delete;
  TDesktopWriter& operator=(const TDesktopWriter&) = delete;

  // Writes `text` to `path` as above; durable after the next Commit.
  // Raises EDorvConduitError naming `path` when it cannot (the temporary
  // file is removed then).
  void Write(const std::filesystem::path& path, const std::string& text);
  // Removes the file `path` if there is one; durable after the next Commit.
  void Remove(const std::filesystem::path& path);
  // Makes every folder of `folder` that is missing, mode 0700; durable
  // after the next Commit.
  void MakeFolders(const std::filesystem::path& folder);
  // Flushes to disk every file written since the last Commit, then every
  // folder written, made or removed from. Raises EDorvConduitError naming
  // the file or folder that cannot be flushed.
  void Commit();

 private:
  // Notes a folder whose entries changed.
  void Touched(const std::filesystem::path& folder);

  std::vector<std::filesystem::path> files_;
  std::set<std::filesystem::path> folders_;
  // Linux: per file system written to, its device and an open folder on it.
  std::vector<std::pair<std::uint64_t, int>> file_systems_;
};

// Writes `text` to `path` through a TDesktopWriter and commits it: on
// return the file is whole and on disk. Raises EDorvConduitError when it
// cannot.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

// Thrown by TExport::render for a record that cannot be written soundly:
// RunExport logs "<name>: record <id> skipped: <what()>" and goes on with
// the next record.
class ERecordSkipped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A folder of exported pieces, one file per record id ("<id>.part"), and
// the archived ones in its subfolder "Archived". The folders are made when
// the first piece is stored.
class TPieceStore {
 public:
  explicit TPieceStore(std::filesystem::path folder);
  // The writer of the pieces; the store's changes are durable once its
  // Commit returns.
  TDesktopWriter& Writer() { return writer_; }
  // Stores the piece of record `id`.
  void Put(std::uint32_t id, const std::string& text);
  // Stores the piece of archived record `id`, removing the live one.
  void Archive(std::uint32_t id, const std::string& text);
  // Removes the live piece of record `id` (a record deleted on the handheld).
  void Remove(std::uint32_t id);
  // Removes every live piece whose id is not in `ids` (records that are no
  // longer on the handheld). Archived pieces stay: the handheld purged
  // their records once the desktop held them.
  void KeepOnly(const std::set<std::uint32_t>& ids);
  // The live (or archived) pieces in order of record id.
  std::vector<std::string> Pieces(bool archived) const;

 private:
  // The pieces of a folder by id; files of other names are not pieces.
  static std::vector<std::pair<std::uint32_t, std::filesystem::path>> Find(
      const std::filesystem::path& dir);

  std::filesystem::path folder_;
  TDesktopWriter writer_;
};

// One export of a handheld database to a desktop file.
struct TExport {
  std::string name;  // as the log shows it: "To Do"
  // Called once the database is open, before the records are read.
  std::function<void()> read_app_info;
  // The piece of the record just read (not called for deleted records
  // without an archived copy). Throws ERecordSkipped for a record that
  // cannot be written soundly.
  std::function<std::string()> render;
  // Writes the desktop files from all live and archived pieces.
  std::function<void(const std::vector<std::string>& live,
                     const std::vector<std::string>& archived)>
      assemble;
};

// Runs `what` as the synchronisation type of `conduit` asks:
//  - stFast: the records changed since the last synchronisation;
//  - stSlow: every record (the change flags cannot be trusted after a
//    synchronisation with another desktop);
//  - stHHtoPC: every record, the database opened read-only and left
//    untouched;
//  - any other type: nothing (these examples only copy to the desktop).
// A deleted record's piece is removed, an archived record's piece moves to
// the archive; after copying every record, the pieces of records no longer
// on the handheld are removed (the archive is kept). A record that render
// skips is logged ("<name>: record <id> skipped: <reason>"), keeps its
// earlier piece if it has one, and is not counted. Only after every desktop
// file is written and committed to disk, a fast or slow synchronisation
// purges the deleted records and resets the change flags, so the next fast
// synchronisation sees only new changes; when an archived record was
// skipped nothing is purged, since the desktop does not hold it. Logs one
// line: "<name>: N exported, N archived, N deleted (<sync type>)". A
// desktop file that cannot be written raises EDorvConduitError naming it.
void RunExport(TDorvConduit& conduit, TDorvConduitDb& db, TPieceStore& store, const TExport& what);

}  // namespace fernwick::examples
