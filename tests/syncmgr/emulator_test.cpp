// The handheld emulator, driven through its exported functions as the
// component library drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifdef __linux__
#include <sys/mount.h>
#endif

#include "HandheldFolder.h"
#include "SyncLibrary.h"
#include "standins/pdb/PdbFile.h"

namespace fernwick::testing {
namespace {

constexpr std::uint32_t kSeed = 0x200;

// TestDB: seven records covering every kind the iterations distinguish.
pdb::PdbDatabase MakeTestDb() {
  pdb::PdbDatabase db;
  db.name = "TestDB";
  db.attributes = 0x0008 | 0x4000;  // backup, and a bit nobody defines
  db.version = 3;
  db.creation_date = 0xB0000000;
  db.modification_date = 0xB0000100;
  db.backup_date = 0xB0000200;
  db.modification_number = 7;
  db.type = pdb::FourCC("DATA");
  db.creator = pdb::FourCC("test");
  db.unique_id_seed = kSeed;
  db.app_info = std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  db.records = {
      {0x01, 100, Text("alpha")},      // 0: category 1, clean
      {0x42, 101, Text("beta")},       // 1: category 2, dirty
      {0x81, 102, Text("gamma")},      // 2: deleted, category 1
      {0x89, 103, Text("delta")},      // 3: deleted and archived, category 1
      {0x51, 104, Text("epsilon")},    // 4: category 1, dirty and secret
      {0x01, 105, Text("zeta")},       // 5: category 1, clean
      {0x00, kSeed + 1, Text("eta")},  // 6: Unfiled, clean, id next to the seed
  };
  return db;
}

// What the emulator passed to the log sink.
std::string g_logged;
std::int32_t FW_CDECL CollectLog(const char* text, TActivity, std::uint8_t) {
  g_logged += text;
  g_logged += "\n";
  return 0;
}

class Emulator : public ::testing::Test {
 protected:
  void SetUp() override {
    sync_.EmuClearFaults();
    folder_.Write("test.pdb", MakeTestDb());
  }
  void TearDown() override {
    EXPECT_EQ(sync_.EmuDetachHandheld(), 0);
    std::uint32_t handle = 0;
    // Leave no registration behind for the next test.
    if (sync_.SyncRegisterConduit(&handle) == 0) sync_.SyncUnRegisterConduit(handle);
  }

  void Attach() {
    ASSERT_EQ(sync_.EmuAttachHandheld(folder_.PathText().c_str()), 0) << sync_.LastMessage();
  }

  std::uint8_t Open(const char* name, std::uint8_t mode) {
    std::uint8_t handle = 0;
    EXPECT_EQ(sync_.SyncOpenDB(name, 0, &handle, mode), 0) << sync_.LastMessage();
    return handle;
  }

  // A record structure over `buffer_`, as the database component prepares it.
  TRawRecordInfo Rec(std::uint8_t handle) {
    std::memset(buffer_, 0, sizeof buffer_);
    TRawRecordInfo rec{};
    rec.FileHandle = handle;
    rec.TotalBytes = sizeof buffer_;
    rec.Bytes = buffer_;
    return rec;
  }
  std::string Data(const TRawRecordInfo& rec) const {
    return std::string(reinterpret_cast<const char*>(buffer_), rec.RecSize);
  }

  std::int32_t WriteRecord(std::uint8_t handle, std::uint32_t id, std::int16_t category,
                           const std::string& text, std::uint32_t* new_id = nullptr) {
    TRawRecordInfo rec = Rec(handle);
    std::memcpy(buffer_, text.data(), text.size());
    rec.RecId = id;
    rec.CatId = category;
    rec.Attribs = eRecAttrDirty;
    rec.RecSize = static_cast<std::uint32_t>(text.size());
    const std::int32_t status = sync_.SyncWriteRec(&rec);
    if (new_id != nullptr) *new_id = rec.RecId;
    return status;
  }

  SyncLibrary& sync_ = SyncLibrary::Get();
  HandheldFolder folder_;
  std::uint8_t buffer_[65535];
};

TEST_F(Emulator, OpensByHeaderNameAndReadsByIndex) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead);
  EXPECT_NE(handle, 0);
  std::uint16_t count = 0;
  ASSERT_EQ(sync_.SyncGetDBRecordCount(handle, &count), 0);
  EXPECT_EQ(count, 7);

  TRawRecordInfo rec = Rec(handle);
  rec.RecIndex = 1;
  ASSERT_EQ(sync_.SyncReadRecordByIndex(&rec), 0);
  EXPECT_EQ(+rec.RecId, 101u);
  EXPECT_EQ(+rec.RecIndex, 1);
  EXPECT_EQ(+rec.Attribs, eRecAttrDirty);
  EXPECT_EQ(+rec.CatId, 2);
  EXPECT_EQ(Data(rec), "beta");

  rec = Rec(handle);
  rec.RecIndex = 7;
  EXPECT_EQ(sync_.SyncReadRecordByIndex(&rec), SYNCERR_NOT_FOUND);
  EXPECT_EQ(sync_.SyncCloseDB(handle), 0);
}

TEST_F(Emulator, ReadByIdReportsIndexAndDeletedRecords) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead);
  TRawRecordInfo rec = Rec(handle);
  rec.RecId = 103;
  ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
  EXPECT_EQ(+rec.RecIndex, 3);
  EXPECT_EQ(+rec.Attribs, eRecAttrDeleted | eRecAttrArchived);
  EXPECT_EQ(+rec.CatId, 1);
  EXPECT_EQ(Data(rec), "delta") << "an archived record keeps its data";

  rec = Rec(handle);
  rec.RecId = 102;
  ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
  EXPECT_EQ(+rec.Attribs, eRecAttrDeleted);
  EXPECT_EQ(+rec.RecSize, 0u) << "a deleted record without archive travels without data";

  rec = Rec(handle);
  rec.RecId = 999;
  EXPECT_EQ(sync_.SyncReadRecordById(&rec), SYNCERR_NOT_FOUND);
  rec.RecId = 0;
  EXPECT_EQ(sync_.SyncReadRecordById(&rec), SYNCERR_NOT_FOUND);
}

TEST_F(Emulator, CategoryIterationSkipsDeletedAndRewindsOnReset) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead);
  auto next_in_category = [&](std::int16_t category, std::uint32_t* id, std::uint16_t* index) {
    TRawRecordInfo rec = Rec(handle);
    rec.CatId = category;
    const std::int32_t status = sync_.SyncReadNextRecInCategory(&rec);
    *id = rec.RecId;
    *index = rec.RecIndex;
    return status;
  };
  std::uint32_t id = 0;
  std::uint16_t index = 0;
  std::vector<std::uint32_t> ids;
  std::vector<std::uint16_t> indexes;
  while (next_in_category(1, &id, &index) == 0) {
    ids.push_back(id);
    indexes.push_back(index);
  }
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{100, 104, 105}));
  EXPECT_EQ(indexes, (std::vector<std::uint16_t>{0, 4, 5}));
  EXPECT_EQ(next_in_category(1, &id, &index), SYNCERR_NOT_FOUND) << "the end stays the end";

  ASSERT_EQ(sync_.SyncResetRecordIndex(handle), 0);
  ASSERT_EQ(next_in_category(1, &id, &index), 0);
  EXPECT_EQ(id, 100u);
  EXPECT_EQ(next_in_category(16, &id, &index), SYNCERR_BAD_ARG);
}

TEST_F(Emulator, ModifiedIterationReturnsDirtyDeletedAndArchived) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead);
  struct Seen {
    std::uint32_t id;
    std::uint8_t attribs;
    std::string data;
  };
  auto walk = [&](bool in_category, std::int16_t category) {
    std::vector<Seen> seen;
    for (;;) {
      TRawRecordInfo rec = Rec(handle);
      rec.CatId = category;
      const std::int32_t status = in_category ? sync_.SyncReadNextModifiedRecInCategory(&rec)
                                              : sync_.SyncReadNextModifiedRec(&rec);
      if (status == SYNCERR_NOT_FOUND) break;
      EXPECT_EQ(status, 0);
      if (status != 0) break;
      seen.push_back({rec.RecId, rec.Attribs, Data(rec)});
    }
    return seen;
  };
  std::vector<Seen> all = walk(false, 0);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].id, 101u);
  EXPECT_EQ(all[1].id, 102u);
  EXPECT_EQ(all[1].data, "");
  EXPECT_EQ(all[2].id, 103u);
  EXPECT_EQ(all[2].data, "delta");
  EXPECT_EQ(all[3].id, 104u);
  EXPECT_EQ(all[3].attribs, eRecAttrDirty | eRecAttrSecret);
  EXPECT_TRUE(walk(false, 0).empty()) << "no rewind without a reset";

  ASSERT_EQ(sync_.SyncResetRecordIndex(handle), 0);
  std::vector<Seen> in_one = walk(true, 1);
  ASSERT_EQ(in_one.size(), 3u);
  EXPECT_EQ(in_one[0].id, 102u);
  EXPECT_EQ(in_one[1].id, 103u);
  EXPECT_EQ(in_one[2].id, 104u);
}

TEST_F(Emulator, NewRecordsTakeIdsFromTheSeedSkippingIdsInUse) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  ASSERT_EQ(WriteRecord(handle, 0, 3, "new one", &first), 0);
  ASSERT_EQ(WriteRecord(handle, 0, 3, "new two", &second), 0);
  EXPECT_EQ(first, kSeed + 2) << "seed + 1 is taken by record 6";
  EXPECT_EQ(second, kSeed + 3);

  std::uint16_t count = 0;
  ASSERT_EQ(sync_.SyncGetDBRecordCount(handle, &count), 0);
  EXPECT_EQ(count, 9);
  TRawRecordInfo rec = Rec(handle);
  rec.RecId = first;
  ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
  EXPECT_EQ(+rec.RecIndex, 7) << "new records are appended";
  EXPECT_EQ(+rec.CatId, 3);
  EXPECT_EQ(Data(rec), "new one");

  // An existing id replaces the record in place; an unknown id is created.
  ASSERT_EQ(WriteRecord(handle, 101, 5, "beta 2"), 0);
  rec = Rec(handle);
  rec.RecId = 101;
  ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
  EXPECT_EQ(+rec.RecIndex, 1);
  EXPECT_EQ(+rec.CatId, 5);
  EXPECT_EQ(Data(rec), "beta 2");
  std::uint32_t chosen = 0;
  ASSERT_EQ(WriteRecord(handle, 0x5000, 0, "chosen", &chosen), 0);
  EXPECT_EQ(chosen, 0x5000u);
  EXPECT_EQ(WriteRecord(handle, 0x1000000, 0, "too wide"), SYNCERR_BAD_ARG);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);

  const pdb::PdbDatabase saved = pdb::ReadPdbFile(folder_.File("test.pdb"));
  EXPECT_EQ(saved.unique_id_seed, kSeed + 3);
  ASSERT_EQ(saved.records.size(), 10u);
  EXPECT_EQ(saved.records[7].unique_id, first);
  EXPECT_EQ(saved.records[7].attributes, eRecAttrDirty | 3);
}

TEST_F(Emulator, IdsWrapWithinTwentyFourBits) {
  pdb::PdbDatabase db = MakeTestDb();
  db.name = "WrapDB";
  db.unique_id_seed = 0xFFFFFE;
  db.records = {{0, 0xFFFFFF, Text("last")}, {0, 1, Text("first")}};
  folder_.Write("wrap.pdb", db);
  Attach();
  const std::uint8_t handle = Open("WrapDB", eDbRead | eDbWrite);
  std::uint32_t id = 0;
  ASSERT_EQ(WriteRecord(handle, 0, 0, "x", &id), 0);
  EXPECT_EQ(id, 2u) << "0xFFFFFF and 1 are in use, 0 is reserved";
}

TEST_F(Emulator, ReadOnlyOpenRefusesChangesAndLeavesTheFileAsItWas) {
  const std::vector<std::uint8_t> before = folder_.Bytes("test.pdb");
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead);
  EXPECT_EQ(WriteRecord(handle, 0, 0, "no"), SYNCERR_READ_ONLY);
  EXPECT_EQ(WriteRecord(handle, 100, 0, "no"), SYNCERR_READ_ONLY);
  TRawRecordInfo rec = Rec(handle);
  rec.RecId = 100;
  EXPECT_EQ(sync_.SyncDeleteRec(&rec), SYNCERR_READ_ONLY);
  EXPECT_EQ(sync_.SyncPurgeAllRecs(handle), SYNCERR_READ_ONLY);
  EXPECT_EQ(sync_.SyncPurgeDeletedRecs(handle), SYNCERR_READ_ONLY);
  EXPECT_EQ(sync_.SyncPurgeAllRecsInCategory(handle, 1), SYNCERR_READ_ONLY);
  EXPECT_EQ(sync_.SyncResetSyncFlags(handle), SYNCERR_READ_ONLY);
  EXPECT_EQ(sync_.SyncChangeCategory(handle, 1, 2), SYNCERR_READ_ONLY);
  TDbGenInfo info{};
  info.TotalBytes = 1;
  info.BytesRead = 1;
  info.Bytes = buffer_;
  EXPECT_EQ(sync_.SyncWriteDBAppInfoBlock(handle, &info), SYNCERR_READ_ONLY);
  EXPECT_NE(sync_.LastMessage().find("not open for writing"), std::string::npos);
  // Walk everything, then close and detach.
  for (std::uint16_t i = 0; i < 7; ++i) {
    rec = Rec(handle);
    rec.RecIndex = i;
    EXPECT_EQ(sync_.SyncReadRecordByIndex(&rec), 0);
  }
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  Open("TestDB", eDbRead);
  ASSERT_EQ(sync_.EmuDetachHandheld(), 0);
  EXPECT_EQ(folder_.Bytes("test.pdb"), before);
}

TEST_F(Emulator, WriteBackChangesOnlyWhatTheCallerChanged) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(WriteRecord(handle, 105, 1, "zeta 2"), 0);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);

  const pdb::PdbDatabase old_db = MakeTestDb();
  const pdb::PdbDatabase saved = pdb::ReadPdbFile(folder_.File("test.pdb"));
  EXPECT_EQ(saved.name, old_db.name);
  EXPECT_EQ(saved.attributes, old_db.attributes) << "unknown attribute bits are kept";
  EXPECT_EQ(saved.version, old_db.version);
  EXPECT_EQ(saved.creation_date, old_db.creation_date);
  EXPECT_EQ(saved.backup_date, old_db.backup_date);
  EXPECT_NE(saved.modification_date, old_db.modification_date);
  EXPECT_EQ(saved.modification_number, old_db.modification_number + 1);
  EXPECT_EQ(saved.type, old_db.type);
  EXPECT_EQ(saved.creator, old_db.creator);
  EXPECT_EQ(saved.app_info, old_db.app_info);
  EXPECT_FALSE(saved.sort_info.has_value());
  ASSERT_EQ(saved.records.size(), old_db.records.size());
  for (std::size_t i = 0; i < saved.records.size(); ++i) {
    EXPECT_EQ(saved.records[i].unique_id, old_db.records[i].unique_id)
        << "order kept, record " << i;
    if (i == 5) continue;
    EXPECT_EQ(saved.records[i].attributes, old_db.records[i].attributes) << i;
    EXPECT_EQ(saved.records[i].data, old_db.records[i].data) << i;
  }
  EXPECT_EQ(saved.records[5].attributes, eRecAttrDirty | 1);
  EXPECT_EQ(saved.records[5].data, Text("zeta 2"));
}

TEST_F(Emulator, WrittenAttributesAreStoredAsSent) {
  // Busy (0x20) used to be dropped on the way in: 0x60 sent, 0x44 stored.
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  struct Sent {
    std::uint32_t id;
    std::uint8_t attribs;
    std::int16_t category;
    std::uint8_t stored;
  };
  const Sent sent[] = {
      {100, eRecAttrDirty | eRecAttrBusy, 4, 0x64},
      {101, eRecAttrBusy | eRecAttrSecret, 15, 0x3F},
      {105, eRecAttrDeleted | eRecAttrBusy | eRecAttrArchived, 5, 0xAD},
  };
  for (const Sent& s : sent) {
    TRawRecordInfo rec = Rec(handle);
    rec.RecId = s.id;
    rec.Attribs = s.attribs;
    rec.CatId = s.category;
    rec.RecSize = 1;
    ASSERT_EQ(sync_.SyncWriteRec(&rec), 0) << sync_.LastMessage();
    rec = Rec(handle);
    rec.RecId = s.id;
    ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
    EXPECT_EQ(+rec.Attribs, +s.attribs) << s.id;
  }
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  const pdb::PdbDatabase saved = pdb::ReadPdbFile(folder_.File("test.pdb"));
  EXPECT_EQ(+saved.records[0].attributes, 0x64);
  EXPECT_EQ(+saved.records[1].attributes, 0x3F);
  EXPECT_EQ(+saved.records[5].attributes, 0xAD);
}

TEST_F(Emulator, FolderScanRefusesWhatTheFileReaderRefuses) {
  // A name filling its 32 bytes without a NUL used to be served under that
  // name and then fail to open; now it is left out, with a message.
  pdb::PdbDatabase unnamed = MakeTestDb();
  unnamed.name = std::string(31, 'N');
  folder_.Write("unterminated.pdb", unnamed);
  std::vector<std::uint8_t> bytes = folder_.Bytes("unterminated.pdb");
  bytes[31] = 'N';
  folder_.WriteBytes("unterminated.pdb", bytes);
  g_logged.clear();
  sync_.EmuSetLogSink(&CollectLog);
  Attach();
  sync_.EmuSetLogSink(nullptr);
  EXPECT_NE(g_logged.find("unterminated.pdb: not a handheld database"), std::string::npos)
      << g_logged;
  EXPECT_NE(g_logged.find("no terminating NUL"), std::string::npos) << g_logged;
  CDbList list[4]{};
  std::int32_t count = 4;
  ASSERT_EQ(sync_.SyncReadDBList(0, 0, 1, list, &count), 0);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(list[0].m_Name, "TestDB");
}

TEST_F(Emulator, ResetSyncFlagsClearsDirtyBitsAndKeepsDeletedRecords) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(sync_.SyncResetSyncFlags(handle), 0);
  TRawRecordInfo rec = Rec(handle);
  EXPECT_EQ(sync_.SyncReadNextModifiedRec(&rec), 0) << "deleted records are still modified";
  EXPECT_EQ(+rec.RecId, 102u);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);

  const pdb::PdbDatabase saved = pdb::ReadPdbFile(folder_.File("test.pdb"));
  const pdb::PdbDatabase old_db = MakeTestDb();
  ASSERT_EQ(saved.records.size(), 7u);
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(saved.records[i].attributes, old_db.records[i].attributes & ~eRecAttrDirty) << i;
  }
  EXPECT_NE(saved.backup_date, old_db.backup_date) << "the last sync time is set";
  EXPECT_EQ(saved.modification_number, old_db.modification_number) << "flags are no content change";
}

TEST_F(Emulator, PurgesAndDeletes) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  std::uint16_t count = 0;
  ASSERT_EQ(sync_.SyncPurgeDeletedRecs(handle), 0);
  ASSERT_EQ(sync_.SyncGetDBRecordCount(handle, &count), 0);
  EXPECT_EQ(count, 5) << "deleted and archived records go";

  TRawRecordInfo rec = Rec(handle);
  rec.RecId = 100;
  ASSERT_EQ(sync_.SyncDeleteRec(&rec), 0);
  EXPECT_EQ(sync_.SyncDeleteRec(&rec), SYNCERR_NOT_FOUND);
  rec = Rec(handle);
  rec.RecIndex = 0;
  ASSERT_EQ(sync_.SyncReadRecordByIndex(&rec), 0);
  EXPECT_EQ(+rec.RecId, 101u) << "later records move up";
  rec = Rec(handle);
  rec.RecId = 105;
  ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
  EXPECT_EQ(+rec.RecIndex, 2) << "the id index follows removals";

  ASSERT_EQ(sync_.SyncPurgeAllRecsInCategory(handle, 1), 0);
  ASSERT_EQ(sync_.SyncGetDBRecordCount(handle, &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(sync_.SyncPurgeAllRecsInCategory(handle, 16), SYNCERR_BAD_ARG);
  ASSERT_EQ(sync_.SyncPurgeAllRecs(handle), 0);
  ASSERT_EQ(sync_.SyncGetDBRecordCount(handle, &count), 0);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  EXPECT_TRUE(pdb::ReadPdbFile(folder_.File("test.pdb")).records.empty());
}

TEST_F(Emulator, ChangeCategoryMarksMovedRecordsDirty) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(sync_.SyncChangeCategory(handle, 1, 7), 0);
  TRawRecordInfo rec = Rec(handle);
  rec.RecId = 100;
  ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
  EXPECT_EQ(+rec.CatId, 7);
  EXPECT_EQ(+rec.Attribs, eRecAttrDirty);
  rec = Rec(handle);
  rec.RecId = 102;
  ASSERT_EQ(sync_.SyncReadRecordById(&rec), 0);
  EXPECT_EQ(+rec.CatId, 1) << "deleted records stay";
}

TEST_F(Emulator, CallersPointersAndSizesAreChecked) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  EXPECT_EQ(sync_.SyncReadRecordByIndex(nullptr), SYNCERR_BAD_ARG);
  EXPECT_EQ(sync_.SyncReadNextModifiedRec(nullptr), SYNCERR_BAD_ARG);
  EXPECT_EQ(sync_.SyncWriteRec(nullptr), SYNCERR_BAD_ARG);
  EXPECT_EQ(sync_.SyncGetDBRecordCount(handle, nullptr), SYNCERR_BAD_ARG);
  EXPECT_EQ(sync_.SyncOpenDB(nullptr, 0, nullptr, eDbRead), SYNCERR_BAD_ARG);
  EXPECT_EQ(sync_.SyncReadDBAppInfoBlock(handle, nullptr), SYNCERR_BAD_ARG);

  TRawRecordInfo rec = Rec(handle);
  rec.Bytes = nullptr;
  EXPECT_EQ(sync_.SyncReadRecordByIndex(&rec), SYNCERR_BAD_ARG);

  // A buffer smaller than the record: the size is reported, what fits is
  // copied and not a byte more.
  rec = Rec(handle);
  std::memset(buffer_, 0xEE, sizeof buffer_);
  rec.RecIndex = 0;
  rec.TotalBytes = 3;
  EXPECT_EQ(sync_.SyncReadRecordByIndex(&rec), SYNCERR_LOCAL_BUFF_TOO_SMALL);
  EXPECT_EQ(+rec.RecSize, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_), 3), "alp");
  EXPECT_EQ(buffer_[3], 0xEE);

  // A write cannot claim more bytes than its buffer holds.
  rec = Rec(handle);
  rec.RecSize = 10;
  rec.TotalBytes = 4;
  EXPECT_EQ(sync_.SyncWriteRec(&rec), SYNCERR_BAD_ARG);
  rec = Rec(handle);
  rec.RecSize = 4;
  rec.Bytes = nullptr;
  EXPECT_EQ(sync_.SyncWriteRec(&rec), SYNCERR_BAD_ARG);
  EXPECT_EQ(WriteRecord(handle, 0, 16, "x"), SYNCERR_BAD_ARG);

  // Handles that are not open.
  rec = Rec(77);
  EXPECT_EQ(sync_.SyncReadRecordByIndex(&rec), SYNCERR_FILE_NOT_OPEN);
  EXPECT_EQ(sync_.SyncCloseDB(77), SYNCERR_FILE_NOT_OPEN);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  EXPECT_EQ(sync_.SyncCloseDB(handle), SYNCERR_FILE_NOT_OPEN);
  rec = Rec(handle);
  EXPECT_EQ(sync_.SyncReadRecordByIndex(&rec), SYNCERR_FILE_NOT_OPEN);

  // Info blocks: a small buffer gets what fits.
  const std::uint8_t again = Open("TestDB", eDbRead);
  TDbGenInfo info{};
  std::memset(buffer_, 0xEE, sizeof buffer_);
  info.TotalBytes = 4;
  info.Bytes = buffer_;
  EXPECT_EQ(sync_.SyncReadDBAppInfoBlock(again, &info), SYNCERR_LOCAL_BUFF_TOO_SMALL);
  EXPECT_EQ(info.BytesRead, 4);
  EXPECT_EQ(buffer_[3], 4);
  EXPECT_EQ(buffer_[4], 0xEE);
}

TEST_F(Emulator, InfoBlocksReadAndWrite) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  TDbGenInfo info{};
  info.TotalBytes = sizeof buffer_;
  info.Bytes = buffer_;
  ASSERT_EQ(sync_.SyncReadDBAppInfoBlock(handle, &info), 0);
  EXPECT_EQ(info.BytesRead, 10);
  EXPECT_EQ(buffer_[9], 10);
  EXPECT_EQ(sync_.SyncReadDBSortInfoBlock(handle, &info), SYNCERR_NOT_FOUND);

  std::memcpy(buffer_, "sort", 4);
  info.BytesRead = 4;
  ASSERT_EQ(sync_.SyncWriteDBSortInfoBlock(handle, &info), 0);
  info.BytesRead = 0;
  std::memset(buffer_, 0, 8);
  ASSERT_EQ(sync_.SyncReadDBSortInfoBlock(handle, &info), 0);
  EXPECT_EQ(info.BytesRead, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_), 4), "sort");
  info.BytesRead = 5;
  info.TotalBytes = 4;
  EXPECT_EQ(sync_.SyncWriteDBAppInfoBlock(handle, &info), SYNCERR_BAD_ARG);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  const pdb::PdbDatabase saved = pdb::ReadPdbFile(folder_.File("test.pdb"));
  EXPECT_EQ(saved.sort_info, Text("sort"));
  EXPECT_EQ(saved.app_info, MakeTestDb().app_info);
}

TEST_F(Emulator, OpenModesHandlesAndTheOpenLimit) {
  folder_.WriteText("handheld.profile",
                    "# test handheld\nuser_name = Ada Tester\nuser_id=0x1234\n"
                    "os_version=3.5\nmax_open_databases=2\n");
  pdb::PdbDatabase other = MakeTestDb();
  other.name = "OtherDB";
  folder_.Write("other.pdb", other);
  pdb::PdbDatabase third = MakeTestDb();
  third.name = "ThirdDB";
  third.attributes |= eDbAttrReadOnly;
  folder_.Write("third.pdb", third);
  Attach();

  std::uint8_t handle = 0;
  EXPECT_EQ(sync_.SyncOpenDB("NoSuchDB", 0, &handle, eDbRead), SYNCERR_NOT_FOUND);
  EXPECT_EQ(sync_.SyncOpenDB("TestDB", 1, &handle, eDbRead), SYNCERR_NOT_FOUND);
  EXPECT_EQ(sync_.SyncOpenDB("ThirdDB", 0, &handle, eDbRead | eDbWrite), SYNCERR_READ_ONLY);
  const std::uint8_t first = Open("TestDB", eDbRead);
  EXPECT_EQ(sync_.SyncOpenDB("TestDB", 0, &handle, eDbRead), SYNCERR_FILE_ALREADY_OPEN);
  const std::uint8_t second = Open("OtherDB", eDbRead);
  EXPECT_NE(first, second);
  EXPECT_EQ(sync_.SyncOpenDB("ThirdDB", 0, &handle, eDbRead), SYNCERR_TOO_MANY_OPEN_FILES);
  ASSERT_EQ(sync_.SyncCloseDB(first), 0);
  EXPECT_EQ(sync_.SyncOpenDB("ThirdDB", 0, &handle, eDbRead), 0);

  TUserIDInfo user{};
  ASSERT_EQ(sync_.SyncReadUserID(&user), 0);
  EXPECT_STREQ(user.m_pName, "Ada Tester");
  EXPECT_EQ(user.m_NameLength, 11);
  EXPECT_EQ(user.m_Id, 0x1234u);
  std::uint32_t rom = 0;
  ASSERT_EQ(sync_.SyncGetHHOSVersion(&rom), 0);
  EXPECT_EQ(rom >> 20, 0x035u);
}

TEST_F(Emulator, DamagedProfileRefusesTheAttach) {
  folder_.WriteText("handheld.profile", "user_name=A\ncolour=blue\n");
  EXPECT_EQ(sync_.EmuAttachHandheld(folder_.PathText().c_str()), SYNCERR_BAD_ARG);
  EXPECT_NE(sync_.LastMessage().find("line 2"), std::string::npos) << sync_.LastMessage();
  EXPECT_EQ(sync_.EmuAttachHandheld((folder_.PathText() + "/missing").c_str()), SYNCERR_BAD_ARG);
}

// One rule for the profile: numbers are decimal or 0x hexadecimal, a byte
// order mark is skipped, and anything but a readable regular file of that
// name (a folder, a FIFO, a device) refuses the attach with a message.
TEST_F(Emulator, ProfileNumbersMarksAndWhatIsNotAFile) {
  folder_.WriteText("handheld.profile", "\xEF\xBB\xBFuser_id = 010\nmax_open_databases=08\n");
  Attach();
  TUserIDInfo user{};
  ASSERT_EQ(sync_.SyncReadUserID(&user), 0);
  EXPECT_EQ(user.m_Id, 10u);
  ASSERT_EQ(sync_.EmuDetachHandheld(), 0);

  folder_.WriteText("handheld.profile", "\x01key=1\n");
  EXPECT_EQ(sync_.EmuAttachHandheld(folder_.PathText().c_str()), SYNCERR_BAD_ARG);
  EXPECT_NE(sync_.LastMessage().find("unknown key \"\\x01key\""), std::string::npos)
      << sync_.LastMessage();

  std::filesystem::remove(folder_.File("handheld.profile"));
  std::filesystem::create_directory(folder_.File("handheld.profile"));
  EXPECT_EQ(sync_.EmuAttachHandheld(folder_.PathText().c_str()), SYNCERR_BAD_ARG);
  EXPECT_NE(sync_.LastMessage().find("is a folder"), std::string::npos) << sync_.LastMessage();
  std::filesystem::remove(folder_.File("handheld.profile"));
#ifndef _WIN32
  std::error_code ec;
  std::filesystem::create_symlink("/dev/zero", folder_.File("handheld.profile"), ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(sync_.EmuAttachHandheld(folder_.PathText().c_str()), SYNCERR_BAD_ARG);
  EXPECT_NE(sync_.LastMessage().find("not a regular file"), std::string::npos)
      << sync_.LastMessage();
  std::filesystem::remove(folder_.File("handheld.profile"));
  ASSERT_EQ(::mkfifo(folder_.File("handheld.profile").c_str(), 0600), 0);
  EXPECT_EQ(sync_.EmuAttachHandheld(folder_.PathText().c_str()), SYNCERR_BAD_ARG);
  EXPECT_NE(sync_.LastMessage().find("not a regular file"), std::string::npos)
      << sync_.LastMessage();
#endif
}

// Database names that Windows would take for devices get file names that
// are files on every platform.
TEST_F(Emulator, DeviceNamesMakeOrdinaryFileNames) {
  Attach();
  const std::pair<const char*, const char*> cases[] = {
      {"CON", "CON_.pdb"},   {"nul.txt", "nul_.txt.pdb"}, {"Com1", "Com1_.pdb"},
      {"LPT9", "LPT9_.pdb"}, {"aux ", "aux_.pdb"},        {"CONSOLE", "CONSOLE.pdb"}};
  for (const auto& [name, file] : cases) {
    CDbCreateDB create{};
    create.m_Creator = pdb::FourCC("abcd");
    create.m_Type = pdb::FourCC("DATA");
    std::strcpy(create.m_Name, name);
    ASSERT_EQ(sync_.SyncCreateDB(&create), 0) << name << ": " << sync_.LastMessage();
    ASSERT_EQ(sync_.SyncCloseDB(create.m_FileHandle), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_.File(file))) << name;
  }
}

TEST_F(Emulator, DamagedFileGivesAClearErrorAndTheOthersStillWork) {
  pdb::PdbDatabase broken = MakeTestDb();
  broken.name = "BrokenDB";
  folder_.Write("broken.pdb", broken);
  std::vector<std::uint8_t> bytes = folder_.Bytes("broken.pdb");
  // Record 0's offset (the first entry after the 78-byte header) past the end.
  bytes[78] = 0x7F;
  folder_.WriteBytes("broken.pdb", bytes);
  folder_.WriteBytes("stub.pdb", {1, 2, 3});
  g_logged.clear();
  sync_.EmuSetLogSink(&CollectLog);
  Attach();
  std::uint8_t handle = 0;
  EXPECT_EQ(sync_.SyncOpenDB("BrokenDB", 0, &handle, eDbRead), SYNCERR_UNKNOWN);
  const std::string message = sync_.LastMessage();
  EXPECT_NE(message.find("BrokenDB"), std::string::npos) << message;
  EXPECT_NE(g_logged.find("BrokenDB"), std::string::npos) << g_logged;
  EXPECT_NE(g_logged.find("stub.pdb"), std::string::npos) << g_logged;
  sync_.EmuSetLogSink(nullptr);
  const std::uint8_t good = Open("TestDB", eDbRead);
  std::uint16_t count = 0;
  EXPECT_EQ(sync_.SyncGetDBRecordCount(good, &count), 0);
  EXPECT_EQ(count, 7);
}

TEST_F(Emulator, InjectedFaultAnswersOnceAndOnlyThatFunction) {
  Attach();
  ASSERT_EQ(sync_.EmuInjectFault("SyncOpenDB", SYNCERR_REMOTE_NO_SPACE), 0);
  std::uint8_t handle = 0;
  EXPECT_EQ(sync_.SyncOpenDB("TestDB", 0, &handle, eDbRead), SYNCERR_REMOTE_NO_SPACE);
  handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(sync_.EmuInjectFault("SyncWriteRec", SYNCERR_UNKNOWN), 0);
  EXPECT_EQ(WriteRecord(handle, 0, 0, "no"), SYNCERR_UNKNOWN);
  EXPECT_EQ(WriteRecord(handle, 0, 0, "yes"), 0);
  EXPECT_EQ(sync_.EmuInjectFault("NoSuchFunction", 1), SYNCERR_BAD_ARG);
  EXPECT_EQ(sync_.EmuInjectFault("SyncHostToHHWord", 1), SYNCERR_BAD_ARG);
  ASSERT_EQ(sync_.EmuInjectFault("SyncGetAPIVersion", SYNCERR_UNKNOWN), 0);
  sync_.EmuClearFaults();
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  EXPECT_EQ(sync_.SyncGetAPIVersion(&major, &minor), 0);
}

TEST_F(Emulator, RegistrationVersionAndUnsupportedCalls) {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  ASSERT_EQ(sync_.SyncGetAPIVersion(&major, &minor), 0);
  EXPECT_EQ(major, 2u);
  EXPECT_EQ(minor, 1u);
  std::uint32_t handle = 0;
  ASSERT_EQ(sync_.SyncRegisterConduit(&handle), 0);
  EXPECT_NE(handle, 0u);
  std::uint32_t second = 0;
  EXPECT_EQ(sync_.SyncRegisterConduit(&second), -1);
  EXPECT_EQ(sync_.SyncUnRegisterConduit(handle + 1), SYNCERR_BAD_ARG);
  ASSERT_EQ(sync_.SyncUnRegisterConduit(handle), 0);
  ASSERT_EQ(sync_.SyncRegisterConduit(&second), 0);
  ASSERT_EQ(sync_.SyncUnRegisterConduit(second), 0);
  EXPECT_EQ(sync_.SyncYieldCycles(10), 0);

  EXPECT_EQ(sync_.SyncRebootSystem(), SYNCERR_UNKNOWN_REQUEST);
  EXPECT_EQ(sync_.SyncReadFeature(0, 0, nullptr), SYNCERR_UNKNOWN_REQUEST);
  EXPECT_EQ(sync_.SyncCallRemoteModule(nullptr), SYNCERR_UNKNOWN_REQUEST);
  EXPECT_EQ(sync_.SyncHostToHHWord(0x1234), 0x3412);
  EXPECT_EQ(sync_.SyncHHToHostDWord(0x12345678), 0x78563412u);
  std::uint32_t max = 0;
  ASSERT_EQ(sync_.SyncMaxRemoteRecSize(&max), 0);
  EXPECT_EQ(max, SYNC_MAX_RECORD_SIZE);
}

TEST_F(Emulator, CreatesListsFindsAndDeletesDatabases) {
  Attach();
  CDbCreateDB create{};
  create.m_Creator = pdb::FourCC("abcd");
  create.m_Type = pdb::FourCC("DATA");
  create.m_Version = 2;
  std::strcpy(create.m_Name, "My/New:DB");
  ASSERT_EQ(sync_.SyncCreateDB(&create), 0) << sync_.LastMessage();
  EXPECT_EQ(sync_.SyncCreateDB(&create), SYNCERR_FILE_ALREADY_EXIST);
  ASSERT_EQ(WriteRecord(create.m_FileHandle, 0, 0, "hello"), 0);
  ASSERT_EQ(sync_.SyncCloseDB(create.m_FileHandle), 0);
  EXPECT_TRUE(std::filesystem::exists(folder_.File("My_New_DB.pdb")));

  CDbList list[4]{};
  std::int32_t count = 4;
  ASSERT_EQ(sync_.SyncReadDBList(0, 0, 1, list, &count), 0);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(list[0].m_Name, "My/New:DB");
  EXPECT_EQ(list[0].m_RecCount, 1);
  EXPECT_STREQ(list[1].m_Name, "TestDB");
  count = 4;
  EXPECT_EQ(sync_.SyncReadDBList(0, 2, 1, list, &count), SYNCERR_NOT_FOUND);

  SyncFindDbByNameParams by_name{};
  by_name.bOptFlags = 0x80;
  by_name.pcDatabaseName = "TestDB";
  SyncDatabaseInfoType info{};
  std::uint32_t card = 9;
  std::uint32_t local_id = 0;
  std::uint32_t open_ref = 9;
  ASSERT_EQ(sync_.SyncFindDbByName(&by_name, &card, &local_id, &open_ref, &info), 0);
  EXPECT_EQ(card, 0u);
  EXPECT_EQ(open_ref, 0u);
  EXPECT_EQ(info.dwNumRecords, 7u);
  EXPECT_EQ(info.dwCreator, pdb::FourCC("test"));

  SyncFindDbByTypeCreatorParams by_type{};
  by_type.bSrchFlags = 0x80;
  by_type.dwType = pdb::FourCC("DATA");
  ASSERT_EQ(sync_.SyncFindDbByTypeCreator(&by_type, &info), 0);
  EXPECT_STREQ(info.szName, "My/New:DB");
  by_type.bSrchFlags = 0;
  ASSERT_EQ(sync_.SyncFindDbByTypeCreator(&by_type, &info), 0);
  EXPECT_STREQ(info.szName, "TestDB");
  EXPECT_EQ(sync_.SyncFindDbByTypeCreator(&by_type, &info), SYNCERR_NOT_FOUND);

  const std::uint8_t handle = Open("TestDB", eDbRead);
  SyncReadOpenDbInfoParams open_info{0x80, handle};
  ASSERT_EQ(sync_.SyncReadOpenDbInfo(&open_info, &info), 0);
  EXPECT_EQ(info.dwNumRecords, 7u);
  EXPECT_EQ(sync_.SyncDeleteDB("TestDB", 0), SYNCERR_FILE_ALREADY_OPEN);
  ASSERT_EQ(sync_.SyncDeleteDB("My/New:DB", 0), 0);
  EXPECT_FALSE(std::filesystem::exists(folder_.File("My_New_DB.pdb")));
  EXPECT_EQ(sync_.SyncDeleteDB("My/New:DB", 0), SYNCERR_NOT_FOUND);
}

TEST_F(Emulator, ResourceDatabases) {
  pdb::PdbDatabase prc;
  prc.name = "ToolApp";
  prc.attributes = eDbAttrResDB;
  prc.type = pdb::FourCC("appl");
  prc.creator = pdb::FourCC("tool");
  prc.resources = {{pdb::FourCC("code"), 1, Text("CODE1")},
                   {pdb::FourCC("tAIN"), 1000, Text("Tool")}};
  folder_.Write("tool.prc", prc);
  Attach();
  const std::uint8_t handle = Open("ToolApp", eDbRead | eDbWrite);
  std::uint16_t count = 0;
  ASSERT_EQ(sync_.SyncGetDBRecordCount(handle, &count), 0);
  EXPECT_EQ(count, 2);
  TRawRecordInfo rec = Rec(handle);
  rec.RecIndex = 1;
  ASSERT_EQ(sync_.SyncReadResRecordByIndex(&rec, 1), 0);
  EXPECT_EQ(+rec.RecId, pdb::FourCC("tAIN"));
  EXPECT_EQ(static_cast<std::uint16_t>(rec.CatId), 1000);
  EXPECT_EQ(Data(rec), "Tool");
  EXPECT_EQ(sync_.SyncReadRecordByIndex(&rec), SYNCERR_BAD_OPERATION);

  rec = Rec(handle);
  rec.RecId = pdb::FourCC("tAIN");
  rec.CatId = 1000;
  std::memcpy(buffer_, "Tool 2", 6);
  rec.RecSize = 6;
  ASSERT_EQ(sync_.SyncWriteResourceRec(&rec), 0);
  rec.RecId = pdb::FourCC("code");
  rec.CatId = 1;
  ASSERT_EQ(sync_.SyncDeleteResourceRec(&rec), 0);
  EXPECT_EQ(sync_.SyncDeleteResourceRec(&rec), SYNCERR_NOT_FOUND);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  const pdb::PdbDatabase saved = pdb::ReadPdbFile(folder_.File("tool.prc"));
  ASSERT_EQ(saved.resources.size(), 1u);
  EXPECT_EQ(saved.resources[0].data, Text("Tool 2"));
}

TEST_F(Emulator, EnvironmentVariableAttachesAFolder) {
#if defined(_WIN32)
  _putenv_s(kHandheldEnvVar, folder_.PathText().c_str());
#else
  setenv(kHandheldEnvVar, folder_.PathText().c_str(), 1);
#endif
  std::uint8_t handle = 0;
  EXPECT_EQ(sync_.SyncOpenDB("TestDB", 0, &handle, eDbRead), 0) << sync_.LastMessage();
#if defined(_WIN32)
  _putenv_s(kHandheldEnvVar, "");
#else
  unsetenv(kHandheldEnvVar);
#endif
  ASSERT_EQ(sync_.EmuDetachHandheld(), 0);
  EXPECT_EQ(sync_.SyncOpenDB("TestDB", 0, &handle, eDbRead), SYNCERR_BAD_OPERATION);
}

TEST_F(Emulator, DetachWritesBackWhatIsOpen) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(WriteRecord(handle, 0, 0, "kept at detach"), 0);
  ASSERT_EQ(sync_.EmuDetachHandheld(), 0);
  const pdb::PdbDatabase saved = pdb::ReadPdbFile(folder_.File("test.pdb"));
  ASSERT_EQ(saved.records.size(), 8u);
  EXPECT_EQ(saved.records.back().data, Text("kept at detach"));
}

// A damaged file whose records repeat one id: every record is served under
// an id of its own (the first keeps the id), marked changed, said in the
// last message, and the fresh ids are what the write-back keeps.
TEST_F(Emulator, RepeatedRecordIdsGetFreshIds) {
  pdb::PdbDatabase db = MakeTestDb();
  db.name = "Repeats";
  db.records.clear();
  for (int i = 0; i < 30; ++i) db.records.push_back({0x00, 7, Text("memo " + std::to_string(i))});
  folder_.Write("repeats.pdb", db);
  Attach();
  const std::uint8_t handle = Open("Repeats", eDbRead | eDbWrite);
  EXPECT_NE(sync_.LastMessage().find("29 record(s) repeat an id already in use"), std::string::npos)
      << sync_.LastMessage();
  std::set<std::uint32_t> ids;
  int dirty = 0;
  for (std::int16_t i = 0; i < 30; ++i) {
    TRawRecordInfo rec = Rec(handle);
    rec.RecIndex = i;
    ASSERT_EQ(sync_.SyncReadRecordByIndex(&rec), 0);
    if (i == 0) {
      EXPECT_EQ(+rec.RecId, 7u);
    }
    EXPECT_EQ(Data(rec), "memo " + std::to_string(i));
    ids.insert(+rec.RecId);
    dirty += (rec.Attribs & eRecAttrDirty) != 0;
  }
  EXPECT_EQ(ids.size(), 30u);
  EXPECT_EQ(dirty, 29);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  std::set<std::uint32_t> saved;
  for (const auto& r : pdb::ReadPdbFile(folder_.File("repeats.pdb")).records)
    saved.insert(r.unique_id);
  EXPECT_EQ(saved, ids);
}

// Timing counts every call of each function while it is on, and the counts
// come out as text cut to the caller's buffer.
TEST_F(Emulator, CallsAreCountedWhileTimingIsOn) {
  Attach();
  sync_.EmuTimeCalls(1);
  const std::uint8_t handle = Open("TestDB", eDbRead);
  for (std::int16_t i = 0; i < 3; ++i) {
    TRawRecordInfo rec = Rec(handle);
    rec.RecIndex = i;
    ASSERT_EQ(sync_.SyncReadRecordByIndex(&rec), 0);
  }
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
  sync_.EmuTimeCalls(0);
  sync_.SyncCloseDB(handle);  // after timing stopped: not counted

  const std::int32_t length = sync_.EmuGetCallTimes(nullptr, 0);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  ASSERT_EQ(sync_.EmuGetCallTimes(text.data(), static_cast<std::int32_t>(text.size())), length);
  text.resize(static_cast<std::size_t>(length));
  EXPECT_TRUE(std::regex_match(text, std::regex("SyncCloseDB 1 [0-9]+\n"
                                                "SyncOpenDB 1 [0-9]+\n"
                                                "SyncReadRecordByIndex 3 [0-9]+\n")))
      << text;

  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(sync_.EmuGetCallTimes(small, sizeof small), length);
  EXPECT_EQ(std::string(small), text.substr(0, 7));

  sync_.EmuTimeCalls(1);  // starts from zero
  EXPECT_EQ(sync_.EmuGetCallTimes(nullptr, 0), 0);
  sync_.EmuTimeCalls(0);
}

// Records listed out of id order: a repeat far from its first use is found,
// and a file without repeats is served as it stands, nothing marked changed.
TEST_F(Emulator, RepeatedIdsAreFoundInAnyOrder) {
  for (const bool repeat : {true, false}) {
    SCOPED_TRACE(repeat ? "a repeat" : "no repeat");
    pdb::PdbDatabase db = MakeTestDb();
    db.name = repeat ? "Unordered" : "Distinct";
    db.records.clear();
    for (const std::uint32_t id : {9u, 4u, 12u, repeat ? 4u : 3u, 1u}) {
      db.records.push_back({0x00, id, Text("memo " + std::to_string(id))});
    }
    folder_.Write(db.name + ".pdb", db);
    Attach();
    const std::uint8_t handle = Open(db.name.c_str(), eDbRead | eDbWrite);
    const bool said =
        sync_.LastMessage().find(db.name +
                                 ".pdb: 1 record(s) repeat an id already "
                                 "in use (the first: record 3, id 4)") != std::string::npos;
    EXPECT_EQ(said, repeat) << sync_.LastMessage();
    int dirty = 0;
    for (std::int16_t i = 0; i < 5; ++i) {
      TRawRecordInfo rec = Rec(handle);
      rec.RecIndex = i;
      ASSERT_EQ(sync_.SyncReadRecordByIndex(&rec), 0);
      dirty += (rec.Attribs & eRecAttrDirty) != 0;
    }
    EXPECT_EQ(dirty, repeat ? 1 : 0);
    ASSERT_EQ(sync_.SyncCloseDB(handle), 0);
    ASSERT_EQ(sync_.EmuDetachHandheld(), 0);
  }
}

// Another program replaces the file while it is open: its version stays,
// this handle's version is kept beside it, and the close fails saying so.
TEST_F(Emulator, FileChangedDuringTheSyncIsNotOverwritten) {
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(WriteRecord(handle, 0, 1, "ours"), 0);
  pdb::PdbDatabase theirs = MakeTestDb();
  theirs.records.push_back({0x40, 0x300, Text("theirs")});
  folder_.Write("test.pdb", theirs);

  EXPECT_EQ(sync_.SyncCloseDB(handle), SYNCERR_UNKNOWN);
  EXPECT_NE(sync_.LastMessage().find("was changed by another program"), std::string::npos)
      << sync_.LastMessage();
  EXPECT_NE(sync_.LastMessage().find("test.pdb.sync-conflict-1"), std::string::npos);
  EXPECT_EQ(pdb::ReadPdbFile(folder_.File("test.pdb")), theirs);
  const pdb::PdbDatabase kept = pdb::ReadPdbFile(folder_.File("test.pdb.sync-conflict-1"));
  EXPECT_EQ(kept.records.back().data, Text("ours"));
  // The copy is not served as a second TestDB.
  EXPECT_NE(Open("TestDB", eDbRead), 0);
}

// A database reached through a symbolic link: the write-back replaces the
// link's target and the link stays. (Skipped where links cannot be made,
// e.g. Windows without the privilege.)
TEST_F(Emulator, WriteBackGoesThroughASymbolicLink) {
  HandheldFolder store;
  store.Write("real.pdb", MakeTestDb());
  std::filesystem::remove(folder_.File("test.pdb"));
  std::error_code ec;
  std::filesystem::create_symlink(store.File("real.pdb"), folder_.File("test.pdb"), ec);
  if (ec) GTEST_SKIP() << "cannot make a symbolic link here: " << ec.message();
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(WriteRecord(handle, 0, 1, "through the link"), 0);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0) << sync_.LastMessage();
  EXPECT_TRUE(std::filesystem::is_symlink(folder_.File("test.pdb")));
  EXPECT_EQ(pdb::ReadPdbFile(store.File("real.pdb")).records.back().data, Text("through the link"));
}

// A hard-linked database file: the write-back replaces the name in the
// handheld folder; the other name keeps the old database, and a warning
// says so. (Skipped where hard links cannot be made.)
TEST_F(Emulator, HardLinkedFileIsReplacedAndTheOtherNameKeepsTheOldData) {
  HandheldFolder elsewhere;
  std::error_code ec;
  std::filesystem::create_hard_link(folder_.File("test.pdb"), elsewhere.File("other.pdb"), ec);
  if (ec) GTEST_SKIP() << "cannot make a hard link here: " << ec.message();
  Attach();
  const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
  ASSERT_EQ(WriteRecord(handle, 0, 1, "new"), 0);
  ASSERT_EQ(sync_.SyncCloseDB(handle), 0) << sync_.LastMessage();
#ifndef _WIN32  // the link count is read on POSIX only
  EXPECT_NE(sync_.LastMessage().find("other hard link"), std::string::npos) << sync_.LastMessage();
#endif
  EXPECT_EQ(pdb::ReadPdbFile(folder_.File("test.pdb")).records.back().data, Text("new"));
  EXPECT_EQ(pdb::ReadPdbFile(elsewhere.File("other.pdb")), MakeTestDb());
}

// Every truncation of a database file, and a bit flipped in each byte of its
// header and entry list: the open either serves a database or answers
// SYNCERR_UNKNOWN with the reader's reason; the file is never touched.
TEST_F(Emulator, TruncatedAndBitFlippedFilesGiveAClearError) {
  const std::vector<std::uint8_t> whole = folder_.Bytes("test.pdb");
  std::vector<std::vector<std::uint8_t>> damaged;
  for (std::size_t size = 0; size < whole.size(); ++size) {
    damaged.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
  }
  for (std::size_t at = 0; at < std::min<std::size_t>(whole.size(), 78 + 7 * 8 + 2); ++at) {
    damaged.push_back(whole);
    damaged.back()[at] ^= static_cast<std::uint8_t>(1u << (at % 8));
  }
  for (const auto& bytes : damaged) {
    folder_.WriteBytes("test.pdb", bytes);
    Attach();
    std::uint8_t handle = 0;
    const std::int32_t status = sync_.SyncOpenDB("TestDB", 0, &handle, eDbRead | eDbWrite);
    if (status == 0) {
      EXPECT_EQ(sync_.SyncCloseDB(handle), 0);
    } else if (status == SYNCERR_UNKNOWN) {
      EXPECT_NE(sync_.LastMessage().find("cannot be opened"), std::string::npos)
          << sync_.LastMessage();
    } else if (status != SYNCERR_READ_ONLY) {  // a flip can set the read-only bit
      // A header too damaged to name the database: not served at all.
      EXPECT_EQ(status, SYNCERR_NOT_FOUND) << bytes.size();
    }
    ASSERT_EQ(sync_.EmuDetachHandheld(), 0);
    EXPECT_EQ(folder_.Bytes("test.pdb"), bytes);
  }
}

// A handheld disk that fills up, then one mounted read-only: the write-back
// fails with a reason, the file keeps its old content and no temporary is
// left. (Linux only: needs a small tmpfs; skipped when mounting is not
// permitted.)
TEST_F(Emulator, FullOrReadOnlyHandheldDiskKeepsTheOldFile) {
#ifdef __linux__
  HandheldFolder disk;
  if (::mount("tmpfs", disk.PathText().c_str(), "tmpfs", 0, "size=12k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{disk.PathText()};
  disk.Write("test.pdb", MakeTestDb());
  const std::vector<std::uint8_t> before = disk.Bytes("test.pdb");
  for (const bool read_only : {false, true}) {
    if (read_only) {
      ASSERT_EQ(::mount(nullptr, disk.PathText().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
                0)
          << std::strerror(errno);
    }
    ASSERT_EQ(sync_.EmuAttachHandheld(disk.PathText().c_str()), 0) << sync_.LastMessage();
    const std::uint8_t handle = Open("TestDB", eDbRead | eDbWrite);
    ASSERT_EQ(WriteRecord(handle, 0, 1, std::string(read_only ? 100 : 60000, 'x')), 0);
    EXPECT_EQ(sync_.SyncCloseDB(handle), SYNCERR_UNKNOWN);
    EXPECT_NE(sync_.LastMessage().find("could not be written back"), std::string::npos)
        << sync_.LastMessage();
    ASSERT_EQ(sync_.EmuDetachHandheld(), 0);
    EXPECT_EQ(disk.Bytes("test.pdb"), before);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(disk.Path())) {
      (void)entry;
      ++files;
    }
    EXPECT_EQ(files, 1) << "a temporary file was left";
  }
#else
  GTEST_SKIP() << "needs a small tmpfs (Linux)";
#endif
}

}  // namespace
}  // namespace fernwick::testing
