// Databases and damaged files shared by the pdb tests, the interoperability
// check (fernwick-make-testdbs) and the fuzz seed corpus.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "standins/pdb/PdbFile.h"

namespace fernwick::pdb::testing {

// A record database that exercises the format: database attribute bits,
// both date epochs, application and sort info blocks, all 16 categories,
// every record flag, a zero-length record, ids 1 and 0xFFFFFF.
PdbDatabase ExerciseRecordDatabase();
// A resource database with several types, repeated ids and an empty resource.
PdbDatabase ExerciseResourceDatabase();

// Real-file quirks, each giving back ExerciseRecordDatabase when read.
std::vector<std::uint8_t> WithoutGap(const PdbDatabase& db);  // no two-byte gap
// Data in reverse order. `db` must have no zero-length record: which of two
// entries at one offset is the empty one is only known from index order.
std::vector<std::uint8_t> OffsetsOutOfOrder(const PdbDatabase& db);
// ExerciseRecordDatabase without its zero-length record.
PdbDatabase ExerciseWithoutEmptyRecords();

// Damaged files: a name for the fault, the bytes, and a part of the message
// the reader must give.
struct DamagedFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
  std::string message;
};
std::vector<DamagedFile> DamagedFiles();

// Big-endian helpers for patching serialised files.
void Put32(std::vector<std::uint8_t>& bytes, std::size_t pos, std::uint32_t value);
std::uint32_t Get32(const std::vector<std::uint8_t>& bytes, std::size_t pos);

}  // namespace fernwick::pdb::testing
