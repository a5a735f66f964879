// The emulator's record rules, driven through its model (Handheld.h) without
// the exported functions: the iteration positions across removals, and which
// changes count as changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"
#include "standins/syncmgr/Handheld.h"

namespace fernwick::emulator {

// The model reports through the exports' message function; here nothing
// listens.
void ReportMessage(const std::string&) {}

namespace {

std::vector<std::uint8_t> Text(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Records of every kind the iterations tell apart: clean, dirty, deleted
// without data, deleted with an archived copy (three bits of category).
OpenDatabase MakeOpen(std::uint8_t mode) {
  pdb::PdbDatabase db;
  db.name = "ModelDB";
  db.records = {
      {0x81, 1, {}},             // 0: deleted, category 1
      {0x41, 2, Text("two")},    // 1: dirty, category 1
      {0x41, 3, Text("three")},  // 2: dirty, category 1
      {0x8D, 4, Text("four")},   // 3: deleted and archived, category 5
      {0x41, 5, Text("five")},   // 4: dirty, category 1
      {0x01, 6, Text("six")},    // 5: clean, category 1
  };
  return OpenDatabase("ModelDB.pdb", std::move(db), mode);
}

struct Read {
  std::uint8_t buffer[16] = {};
  TRawRecordInfo rec{};
  Read() {
    rec.TotalBytes = sizeof buffer;
    rec.Bytes = buffer;
  }
};

std::uint32_t NextModified(OpenDatabase& db, std::optional<std::int32_t> category = {}) {
  Read read;
  try {
    db.ReadNextModified(category, read.rec);
  } catch (const SyncStatusError& e) {
    EXPECT_EQ(e.Status(), SYNCERR_NOT_FOUND);
    return 0;
  }
  return read.rec.RecId;
}

TEST(HandheldModel, RemovalsKeepEachIterationOnItsNextRecord) {
  OpenDatabase db = MakeOpen(eDbRead | eDbWrite);
  EXPECT_EQ(NextModified(db), 1u);
  EXPECT_EQ(NextModified(db), 2u);
  const auto next_in_category = [&db] {
    Read read;
    db.ReadNextInCategory(1, read.rec);
    return read.rec.RecId;
  };
  EXPECT_EQ(next_in_category(), 2u);
  EXPECT_EQ(next_in_category(), 3u);
  // Records behind and ahead of both positions go.
  db.PurgeDeletedRecords();
  EXPECT_EQ(NextModified(db), 3u) << "neither skipped nor repeated";
  EXPECT_EQ(next_in_category(), 5u);
  db.DeleteRecord(2);
  EXPECT_EQ(NextModified(db), 5u);
  EXPECT_EQ(next_in_category(), 6u);
  EXPECT_EQ(NextModified(db), 0u);

  db.ResetIterations();
  EXPECT_EQ(NextModified(db, 1), 3u);
}

TEST(HandheldModel, ArchivedRecordsAndWhatCountsAsAChange) {
  OpenDatabase db = MakeOpen(eDbRead | eDbWrite);
  Read archived;
  db.ReadRecordById(4, archived.rec);
  EXPECT_EQ(archived.rec.Attribs, eRecAttrDeleted | eRecAttrArchived);
  EXPECT_EQ(archived.rec.CatId, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(archived.buffer), archived.rec.RecSize), "four");

  db.PurgeCategory(9);
  db.ChangeCategory(9, 2);
  EXPECT_FALSE(db.Changed()) << "nothing removed or moved: nothing to write back";
  db.ResetSyncFlags();
  EXPECT_TRUE(db.Changed());
  EXPECT_EQ(NextModified(db), 1u) << "deleted records stay modified";
  EXPECT_EQ(NextModified(db), 4u);
  EXPECT_EQ(NextModified(db), 0u) << "the dirty flags are gone";

  db.PurgeCategory(5);
  EXPECT_EQ(db.EntryCount(), 5u) << "the archived record of category 5 goes with the category";

  OpenDatabase read_only = MakeOpen(eDbRead);
  try {
    read_only.ResetSyncFlags();
    ADD_FAILURE() << "a read-only handle resets no flags";
  } catch (const SyncStatusError& e) {
    EXPECT_EQ(e.Status(), SYNCERR_READ_ONLY);
  }
}

}  // namespace
}  // namespace fernwick::emulator
