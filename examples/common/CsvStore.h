// The desktop side of a database kept as a CSV file (common/Csv.h), one row
// per record, with the records archived on the handheld in a second CSV file
// kept by Id.
//
// The columns Id (the record id; empty in a row added on the desktop, which
// gets the id the handheld gives it), Category (its name) and Private (1 for
// a secret record) are the items' own; every other cell is the mapping's,
// carried in the item's value as a TCsvRow.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/Csv.h"
#include <fernwick/framework/DesktopWriter.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace fernwick::examples {

class TCsvStore {
 public:
  // The store of CSV files `file` and `archive`, of the program's `columns`
  // (Id, Category and Private among them), of which `texts` hold text.
  TCsvStore(std::filesystem::path file, std::filesystem::path archive,
            std::vector<std::string> columns, std::set<std::string> texts);

  // The items of the file's rows: a Category or Private column the file
  // lacks leaves the records' own. Reads the archive too, so that nothing is
  // written when it cannot be. Raises EDorvConduitError when either file
  // cannot be read or has no Id column.
  std::vector<TDorvSyncItem> Read();
  // A fingerprint of `item`'s cells other than Id, Category and Private
  // (FNV-1a, the same on every platform and build), for the engine's
  // Fingerprint: a row whose cells are unchanged needs no conversion.
  std::uint64_t Fingerprint(const TDorvSyncItem& item) const;
  // Writes the file of `live`, in the columns read, and adds `archived` to
  // the archive; an archived record's row replaces the row of its Id there,
  // and rows without an Id (added by hand) stay as they are.
  void Write(const std::vector<TDorvSyncItem>& live, const std::vector<TDorvSyncItem>& archived,
             TDesktopWriter& writer);

 private:
  std::filesystem::path file_;
  std::filesystem::path archive_;
  std::vector<std::string> columns_;
  std::set<std::string> texts_;
  TCsvTable table_;                  // the file's, as read
  TCsvTable archive_table_;          // the archive's, as read
  std::vector<TCsvRow> archive_rows_;  // the archive's rows, as read
};

}  // namespace fernwick::examples
