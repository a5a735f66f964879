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
#include <string>
#include <vector>

#include "conduit/DorvPalmConduit.h"
#include "db/DorvConduitDb.h"
#include "examples/common/PalmText.h"

namespace fernwick::examples {

// Appends the fields of the standard category block (276 bytes) and the two
// reserved bytes after it to `fields`: Renamed, CategoryName[16],
// CategoryId[16], LastUniqueId, CategoryPad, Reserved.
void AddCategoryFields(TDorvPalmFields& fields);
// The 16 category names of an application info block decoded with the
// fields of AddCategoryFields, in UTF-8.
std::array<std::string, 16> CategoryNames(TDorvPalmFields& fields);

// A folder of exported pieces, one file per record id ("<id>.part"), and
// the archived ones in its subfolder "Archived". The folders are made when
// the first piece is stored.
class TPieceStore {
 public:
  explicit TPieceStore(std::filesystem::path folder);
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
};

// One export of a handheld database to a desktop file.
struct TExport {
  std::string name;  // as the log shows it: "To Do"
  // Called once the database is open, before the records are read.
  std::function<void()> read_app_info;
  // The piece of the record just read (not called for deleted records
  // without an archived copy).
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
// on the handheld are removed (the archive is kept). Only after every
// desktop file is written, a fast or slow
// synchronisation purges the deleted records and resets the change flags,
// so the next fast synchronisation sees only new changes. Logs one line:
// "<name>: N exported, N archived, N deleted (<sync type>)". A desktop file
// that cannot be written raises EDorvConduitError naming it.
void RunExport(TDorvConduit& conduit, TDorvConduitDb& db, TPieceStore& store, const TExport& what);

// Writes `text` to `path` (making its folder) through a temporary file
// renamed over it, so a reader never sees half a file. Raises EDorvConduitError when it cannot.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace fernwick::examples
