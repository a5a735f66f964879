// What the exporting example conduits share: a desktop store that keeps one
// exported piece per record and assembles the file a desktop program reads.
// The handheld's character set, the category block and the desktop writer
// are the library's (<fernwick/db/PalmText.h>, <fernwick/db/CategoryBlock.h>,
// <fernwick/framework/DesktopWriter.h>).
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

#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/framework/DesktopWriter.h>

namespace fernwick::examples {

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
