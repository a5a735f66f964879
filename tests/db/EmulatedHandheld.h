// A handheld of a test's own, served by the handheld emulator: a temporary
// folder of database files, attached to the emulator library that the
// component library binds through a HotSync installation pointing at the
// test program's folder (where sync20, PalmCmn, Cmds21 and hslog20 are built).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"

namespace fernwick::testing {

class EmulatedHandheld {
 public:
  EmulatedHandheld();
  ~EmulatedHandheld();
  EmulatedHandheld(const EmulatedHandheld&) = delete;
  EmulatedHandheld& operator=(const EmulatedHandheld&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }

  // Writes `db` into the folder as <name>.pdb (before a database is opened).
  void Put(const pdb::PdbDatabase& db);
  // Reads back what the file of database `name` holds now.
  pdb::PdbDatabase Get(const std::string& name) const;
  // The next call of the Sync Manager function `function` answers `status`.
  void InjectFault(const char* function, std::int32_t status);

 private:
  std::filesystem::path folder_;
};

// A record database named `name` holding one NUL-terminated text per record,
// with the given attribute bytes (dirty, deleted, category) and unique ids
// 1, 2, 3, ...
pdb::PdbDatabase TextDatabase(const std::string& name, const std::vector<std::string>& texts,
                              const std::vector<std::uint8_t>& attributes = {});

// The text of a record written by TextDatabase or by a component with one
// variable-length string field.
std::string RecordText(const pdb::PdbRecord& record);

}  // namespace fernwick::testing
