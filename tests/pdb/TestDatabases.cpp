#include "TestDatabases.h"

#include <algorithm>

namespace fernwick::pdb::testing {

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

void Put32(std::vector<std::uint8_t>& bytes, std::size_t pos, std::uint32_t value) {
  bytes.at(pos) = static_cast<std::uint8_t>(value >> 24);
  bytes.at(pos + 1) = static_cast<std::uint8_t>(value >> 16);
  bytes.at(pos + 2) = static_cast<std::uint8_t>(value >> 8);
  bytes.at(pos + 3) = static_cast<std::uint8_t>(value);
}

std::uint32_t Get32(const std::vector<std::uint8_t>& bytes, std::size_t pos) {
  return std::uint32_t{bytes.at(pos)} << 24 | std::uint32_t{bytes.at(pos + 1)} << 16 |
         std::uint32_t{bytes.at(pos + 2)} << 8 | bytes.at(pos + 3);
}

PdbDatabase ExerciseRecordDatabase() {
  PdbDatabase db;
  db.name = "Fernwick exercise";
  db.attributes = kDbBackup | kDbAppInfoDirty | kDbOkToInstallNewer | kDbHidden;
  db.version = 3;
  db.creation_date = 3124224000u;     // 1 January 2003, seconds since 1904
  db.modification_date = 1000000000;  // 9 September 2001, seconds since 1970
  db.backup_date = 0;
  db.modification_number = 77;
  db.type = FourCC("Test");
  db.creator = FourCC("Fwck");
  db.unique_id_seed = 0x123456;
  db.app_info = Bytes(std::string("application info\0\x01\x02\xff", 20));
  db.sort_info = std::vector<std::uint8_t>{0, 2, 0, 1, 0, 0};
  std::uint32_t id = 1;
  for (int category = 0; category < 16; ++category) {
    PdbRecord r;
    r.attributes = static_cast<std::uint8_t>(category | (category % 2 ? kRecDirty : 0) |
                                             (category % 3 == 0 ? kRecSecret : 0));
    r.unique_id = id++;
    r.data = Bytes("record in category " + std::to_string(category));
    db.records.push_back(r);
  }
  db.records.push_back(PdbRecord{kRecBusy, id++, Bytes("busy")});
  db.records.push_back(PdbRecord{kRecDeleted | kRecDirty, id++, {}});  // zero-length
  db.records.push_back(PdbRecord{kRecDeleted | kRecArchived, id++, Bytes("archived")});
  db.records.push_back(PdbRecord{kRecDirty | 2, 0xFFFFFF, Bytes("highest id")});
  return db;
}

PdbDatabase ExerciseWithoutEmptyRecords() {
  PdbDatabase db = ExerciseRecordDatabase();
  std::erase_if(db.records, [](const PdbRecord& r) { return r.data.empty(); });
  return db;
}

PdbDatabase ExerciseResourceDatabase() {
  PdbDatabase db;
  db.name = "Fernwick resources";
  db.attributes = kDbResource | kDbLaunchableData | kDbBackup;
  db.version = 1;
  db.creation_date = 3124224000u;
  db.modification_date = 3127844800u;
  db.type = FourCC("appl");
  db.creator = FourCC("Fwck");
  db.resources.push_back(PdbResource{FourCC("code"), 0, {0, 0, 0, 1}});
  db.resources.push_back(PdbResource{FourCC("code"), 1, std::vector<std::uint8_t>(40, 0x4E)});
  db.resources.push_back(PdbResource{FourCC("tFRM"), 1000, Bytes("form")});
  db.resources.push_back(PdbResource{FourCC("tSTR"), 1000, {}});
  db.resources.push_back(PdbResource{FourCC("tAIN"), 1000, Bytes(std::string("App\0", 4))});
  return db;
}

std::vector<std::uint8_t> WithoutGap(const PdbDatabase& db) {
  std::vector<std::uint8_t> bytes = SerializePdb(db);
  const std::size_t count = db.IsResourceDatabase() ? db.resources.size() : db.records.size();
  const std::size_t entry = db.IsResourceDatabase() ? 10 : 8;
  const std::size_t list_end = 78 + count * entry;
  bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(list_end),
              bytes.begin() + static_cast<std::ptrdiff_t>(list_end) + 2);
  for (std::size_t pos : {std::size_t{52}, std::size_t{56}}) {
    if (Get32(bytes, pos) != 0) Put32(bytes, pos, Get32(bytes, pos) - 2);
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t pos = 78 + i * entry + (db.IsResourceDatabase() ? 6 : 0);
    Put32(bytes, pos, Get32(bytes, pos) - 2);
  }
  return bytes;
}

std::vector<std::uint8_t> OffsetsOutOfOrder(const PdbDatabase& db) {
  // Lay the records out in reverse, then put the entries back in the
  // original order: the entry list then points backwards through the file.
  PdbDatabase reversed = db;
  std::reverse(reversed.records.begin(), reversed.records.end());
  std::vector<std::uint8_t> bytes = SerializePdb(reversed);
  const std::size_t n = db.records.size();
  for (std::size_t i = 0; i < n / 2; ++i) {
    std::swap_ranges(bytes.begin() + static_cast<std::ptrdiff_t>(78 + i * 8),
                     bytes.begin() + static_cast<std::ptrdiff_t>(78 + i * 8 + 8),
                     bytes.begin() + static_cast<std::ptrdiff_t>(78 + (n - 1 - i) * 8));
  }
  return bytes;
}

std::vector<DamagedFile> DamagedFiles() {
  const PdbDatabase db = ExerciseRecordDatabase();
  const std::vector<std::uint8_t> good = SerializePdb(db);
  const auto size = static_cast<std::uint32_t>(good.size());
  std::vector<DamagedFile> out;

  out.push_back({"empty", {}, "file is too short for a database header (0 bytes"});
  out.push_back({"truncated-header",
                 {good.begin(), good.begin() + 50},
                 "file is too short for a database header (50 bytes"});

  auto patched = [&](std::size_t pos, std::uint32_t value) {
    auto bytes = good;
    Put32(bytes, pos, value);
    return bytes;
  };
  {
    auto bytes = good;
    bytes[76] = 0x10;  // 4096+ entries
    out.push_back({"entry-list-too-long", bytes, "entry list of 4116 records does not fit"});
  }
  {
    auto bytes = good;
    bytes.resize(78 + 8 * 5);
    out.push_back({"truncated-entry-list", bytes, "entry list of 20 records does not fit"});
  }
  out.push_back({"record-past-end", patched(78 + 8 * 3, size + 1),
                 "record 3 starts past the end of the file (offset " + std::to_string(size + 1) +
                     ", size " + std::to_string(size) + ")"});
  out.push_back({"record-offset-huge", patched(78 + 8 * 19, 0xFFFFFFF0u),
                 "record 19 starts past the end of the file"});
  out.push_back({"record-in-header", patched(78, 40),
                 "record 0 overlaps the header or entry list (offset 40"});
  out.push_back({"record-in-entry-list", patched(78 + 8 * 2, 100),
                 "record 2 overlaps the header or entry list (offset 100, the entry list ends at "
                 "238)"});
  out.push_back({"record-offset-zero", patched(78 + 8, 0),
                 "record 1 overlaps the header or entry list (offset 0"});
  out.push_back({"appinfo-in-header", patched(52, 60),
                 "the application info block overlaps the header or entry list (offset 60"});
  out.push_back({"sortinfo-past-end", patched(56, size + 100),
                 "the sort info block starts past the end of the file"});
  out.push_back(
      {"next-list-id", patched(72, 0x100), "the next record list id is 0x00000100, not 0"});
  {
    auto bytes = good;
    std::fill(bytes.begin(), bytes.begin() + 32, std::uint8_t{'A'});
    out.push_back({"name-without-nul", bytes, "the database name has no terminating NUL"});
  }
  {
    const PdbDatabase res = ExerciseResourceDatabase();
    auto bytes = SerializePdb(res);
    Put32(bytes, 78 + 10 * 2 + 6, static_cast<std::uint32_t>(bytes.size()) + 7);
    out.push_back({"resource-past-end", bytes, "resource 2 starts past the end of the file"});
    auto overlap = SerializePdb(res);
    Put32(overlap, 78 + 6, 80);
    out.push_back({"resource-in-entry-list", overlap,
                   "resource 0 overlaps the header or entry list (offset 80"});
  }
  return out;
}

}  // namespace fernwick::pdb::testing
