// Fuzz target of the database file reader: parses the input as a database
// file; when it parses, writing it out and reading that back must succeed
// and give the same database, and writing again the same bytes. The records
// IndexPdb must agree with ParsePdb. The records
// of the built-in applications are decoded too (their decoders must refuse
// bad bytes with PdbFormatError, nothing else).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/PdbFile.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pdb_reader: %s\n", what);
  std::abort();
}

template <class Decode>
void TryDecode(Decode decode, std::span<const std::uint8_t> bytes) {
  try {
    decode(bytes);
  } catch (const fernwick::pdb::PdbFormatError&) {
  }
}

void DecodeBuiltins(const fernwick::pdb::PdbDatabase& db) {
  using namespace fernwick::pdb;
  const std::string creator = FourCCToString(db.creator);
  for (const auto& r : db.records) {
    if (creator == "memo") TryDecode(DecodeMemoRecord, r.data);
    if (creator == "todo") TryDecode(DecodeToDoRecord, r.data);
    if (creator == "addr") TryDecode(DecodeAddressRecord, r.data);
    if (creator == "date") TryDecode(DecodeDatebookRecord, r.data);
  }
  if (db.app_info) {
    if (creator == "memo") TryDecode(DecodeMemoAppInfo, *db.app_info);
    if (creator == "todo") TryDecode(DecodeToDoAppInfo, *db.app_info);
    if (creator == "addr") TryDecode(DecodeAddressAppInfo, *db.app_info);
    if (creator == "date") TryDecode(DecodeDatebookAppInfo, *db.app_info);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fernwick::pdb;
  PdbDatabase db;
  try {
    db = ParsePdb(std::span<const std::uint8_t>(data, size), "fuzz input");
  } catch (const PdbFormatError&) {
    return 0;
  }
  DecodeBuiltins(db);
  const auto input = std::span<const std::uint8_t>(data, size);
  const PdbIndex index = IndexPdb(input, "fuzz input");
  if (index.entries.size() != db.records.size() + db.resources.size()) Fail("index differs");
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    const auto& e = index.entries[i];
    if (e.offset > size || e.length > size - e.offset) Fail("extent outside the input");
    const auto& bytes = db.IsResourceDatabase() ? db.resources[i].data : db.records[i].data;
    if (!std::equal(bytes.begin(), bytes.end(), data + e.offset, data + e.offset + e.length)) {
      Fail("index and parse disagree");
    }
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes = SerializePdb(db);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Fail("a database that was read cannot be written");
  }
  try {
    PdbDatabase again = ParsePdb(bytes, "rewritten");
    if (!(again == db)) Fail("the written database reads back different");
    if (SerializePdb(again) != bytes) Fail("writing again gives other bytes");
  } catch (const PdbFormatError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Fail("the written database cannot be read");
  }
  return 0;
}
