// TDorvConduitDb against the handheld emulator: opening, the cursor, every
// read, editing and writing, info blocks, maintenance, and the failure paths
// made to happen through the emulator's fault injection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "EmulatedHandheld.h"
#include "standins/pdb/BuiltinRecords.h"
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/link/DorvConduitLog.h>

namespace fernwick {
namespace {

using testing::EmulatedHandheld;
using testing::RecordText;
using testing::TextDatabase;

class DatabaseComponent : public ::testing::Test {
 protected:
  DatabaseComponent() : db_(nullptr) {
    db_.SetFileName("TestDB");
    db_.AddField("Text", pftString, 0);
  }
  ~DatabaseComponent() override {
    try {
      db_.Close();
    } catch (const std::exception&) {
    }
  }

  void Put(const std::vector<std::string>& texts, const std::vector<std::uint8_t>& attrs = {}) {
    handheld_.Put(TextDatabase("TestDB", texts, attrs));
  }
  std::string Text() { return db_.FieldByName("Text")->GetAsString(); }
  std::vector<std::string> FileTexts() {
    std::vector<std::string> texts;
    for (const auto& r : handheld_.Get("TestDB").records) texts.push_back(RecordText(r));
    return texts;
  }

  EmulatedHandheld handheld_;
  TDorvConduitDb db_;
};

// "Name:a:b" for the event logs.
template <typename... Numbers>
std::string EventText(const char* name, Numbers... numbers) {
  std::ostringstream out;
  out << name;
  ((out << ':' << static_cast<long>(numbers)), ...);
  return out.str();
}

template <typename F>
EDorvConduitError CatchDorv(F&& f) {
  try {
    f();
  } catch (const EDorvConduitError& e) {
    return e;
  }
  ADD_FAILURE() << "no EDorvConduitError";
  return EDorvConduitError("none", -12345);
}

TEST_F(DatabaseComponent, OpenWalksBothWaysPastEitherEnd) {
  Put({"alpha", "beta", "gamma"});
  db_.Open();
  EXPECT_TRUE(db_.Active());
  EXPECT_EQ(db_.State(), pdsBrowse);
  EXPECT_EQ(db_.RecordCount(), 3);
  EXPECT_EQ(db_.CurrentRecordNum(), 0);
  EXPECT_FALSE(db_.Bof());
  EXPECT_FALSE(db_.Eof());
  EXPECT_EQ(Text(), "alpha");
  EXPECT_EQ(db_.GetRecordId(), 1u);

  db_.Last();
  EXPECT_EQ(Text(), "gamma");
  db_.Next();  // past the end: Eof, nothing read, fields kept
  EXPECT_EQ(db_.CurrentRecordNum(), 3);
  EXPECT_TRUE(db_.Eof());
  EXPECT_EQ(Text(), "gamma");
  EXPECT_EQ(db_.GetCurrentRecord()[0], 0);  // the buffer was cleared
  db_.Next();
  EXPECT_EQ(db_.CurrentRecordNum(), 4);
  db_.Prior();
  db_.Prior();
  EXPECT_EQ(db_.CurrentRecordNum(), 2);
  EXPECT_EQ(Text(), "gamma");
  db_.Prior();
  EXPECT_EQ(Text(), "beta");
  db_.First();
  db_.Prior();
  EXPECT_EQ(db_.CurrentRecordNum(), -1);
  EXPECT_TRUE(db_.Bof());
  EXPECT_EQ(Text(), "alpha");

  db_.Close();
  EXPECT_FALSE(db_.Active());
  EXPECT_EQ(db_.State(), pdsInactive);
  EXPECT_EQ(db_.RecordCount(), 0);
  EXPECT_EQ(db_.GetAttributes(), 0);
  EXPECT_EQ(db_.GetRecordId(), 0u);
}

TEST_F(DatabaseComponent, EmptyDatabaseReadsNothing) {
  Put({});
  db_.Open();
  EXPECT_EQ(db_.CurrentRecordNum(), -1);
  EXPECT_TRUE(db_.Bof());
  EXPECT_TRUE(db_.Eof());
  db_.First();
  db_.Next();
  EXPECT_TRUE(db_.Eof());
  EXPECT_FALSE(db_.NextModified());
}

TEST_F(DatabaseComponent, ReadsByIdByCategoryAndByModification) {
  // Records: 0 clean cat 1; 1 dirty cat 2; 2 deleted; 3 dirty cat 1; 4 archived.
  Put({"a", "b", "c", "d", "e"}, {0x01, 0x42, 0x80, 0x41, 0x88});
  db_.Open();

  db_.Find(4);
  EXPECT_EQ(db_.CurrentRecordNum(), 3);
  EXPECT_EQ(Text(), "d");
  EXPECT_EQ(db_.CategoryId(), 1);
  const EDorvConduitError missing = CatchDorv([&] { db_.Find(999); });
  EXPECT_EQ(missing.Message(), "SyncReadRecordById failed");
  EXPECT_EQ(missing.ErrorCode(), SYNCERR_NOT_FOUND);

  std::vector<std::uint32_t> modified;
  while (db_.NextModified()) modified.push_back(db_.GetRecordId());
  EXPECT_EQ(modified, (std::vector<std::uint32_t>{2, 3, 4, 5}));
  EXPECT_FALSE(db_.NextModified());  // stays at the end

  db_.Reset();
  EXPECT_TRUE(db_.NextModified());
  EXPECT_EQ(db_.GetRecordId(), 2u);

  db_.Reset();
  db_.SetCategoryId(1);
  std::vector<std::string> in_category;
  while (db_.NextInCategory()) in_category.push_back(Text());
  EXPECT_EQ(in_category, (std::vector<std::string>{"a", "d"}));
  EXPECT_EQ(db_.CategoryId(), 1);

  db_.Reset();
  std::vector<std::string> modified_in_category;
  while (db_.NextModifiedInCategory()) modified_in_category.push_back(Text());
  EXPECT_EQ(modified_in_category, (std::vector<std::string>{"d"}));
}

TEST_F(DatabaseComponent, FindRecordByIdAnswersWithoutRaisingForAnIdNotHeld) {
  Put({"a", "b", "c"});
  EXPECT_FALSE(db_.FindRecordById(2));  // closed
  db_.Open();
  EXPECT_TRUE(db_.FindRecordById(2));
  EXPECT_EQ(db_.CurrentRecordNum(), 1);
  EXPECT_EQ(Text(), "b");
  EXPECT_FALSE(db_.FindRecordById(999));
  EXPECT_EQ(db_.CurrentRecordNum(), 1);
  EXPECT_EQ(Text(), "b");
  handheld_.InjectFault("SyncReadRecordById", SYNCERR_FILE_NOT_OPEN);
  EXPECT_EQ(CatchDorv([&] { db_.FindRecordById(3); }).ErrorCode(), SYNCERR_FILE_NOT_OPEN);
  db_.Edit();
  EXPECT_FALSE(db_.FindRecordById(3));
}

TEST_F(DatabaseComponent, AnAppendedRecordIsModifiedAndComesBackThroughNextModified) {
  // Post marks every record it writes as modified, a new one too: a walk of
  // the modified records after appending meets the conduit's own appends,
  // which it skips by the ids Post gave them.
  Put({"a", "b"}, {0x40, 0x00});
  db_.Open();
  db_.Append();
  db_.FieldByName("Text")->SetAsString("new");
  db_.Post();
  const std::set<std::uint32_t> appended = {db_.GetRecordId()};
  std::vector<std::uint32_t> modified, others;
  while (db_.NextModified()) {
    modified.push_back(db_.GetRecordId());
    EXPECT_NE(db_.GetAttributes() & eRecAttrDirty, 0);
    if (appended.count(db_.GetRecordId()) == 0) others.push_back(db_.GetRecordId());
  }
  EXPECT_EQ(modified, (std::vector<std::uint32_t>{1, *appended.begin()}));
  EXPECT_EQ(others, (std::vector<std::uint32_t>{1}));
}

TEST_F(DatabaseComponent, NextReadsEndOnAClosedDatabaseOrWhileEditing) {
  Put({"a"}, {0x40});
  EXPECT_FALSE(db_.NextModified());
  EXPECT_FALSE(db_.NextInCategory());
  db_.Open();
  db_.Edit();
  EXPECT_FALSE(db_.NextModified());
  db_.Cancel();
  EXPECT_TRUE(db_.NextModified());
}

TEST_F(DatabaseComponent, NextModifiedRaisesForAnyOtherStatus) {
  Put({"a"}, {0x40});
  db_.Open();
  handheld_.InjectFault("SyncReadNextModifiedRec", SYNCERR_FILE_NOT_OPEN);
  const EDorvConduitError e = CatchDorv([&] { db_.NextModified(); });
  EXPECT_EQ(e.Message(), "SyncReadNextModifiedRec failed");
  EXPECT_EQ(e.ErrorCode(), SYNCERR_FILE_NOT_OPEN);
}

TEST_F(DatabaseComponent, EditAndPostReplaceTheRecordUnderItsId) {
  Put({"one", "two"});
  db_.Open();
  db_.Next();
  db_.Edit();
  EXPECT_EQ(db_.State(), pdsEdit);
  db_.FieldByName("text")->SetAsString("TWO");
  db_.Post();
  EXPECT_EQ(db_.State(), pdsBrowse);
  EXPECT_EQ(db_.GetRecordId(), 2u);
  EXPECT_EQ(db_.RecordSize(), 4u);
  db_.Close();

  const pdb::PdbDatabase file = handheld_.Get("TestDB");
  ASSERT_EQ(file.records.size(), 2u);
  EXPECT_EQ(RecordText(file.records[1]), "TWO");
  EXPECT_EQ(file.records[1].unique_id, 2u);
  EXPECT_EQ(file.records[1].attributes & 0x40, 0x40);
  EXPECT_EQ(file.records[0].attributes, 0);
}

TEST_F(DatabaseComponent, AppendAndPostCreateARecordWithANewId) {
  Put({"one", "two"});
  std::vector<std::string> events;
  db_.SetBeforeAppend([&](TDorvConduitDb&) { events.push_back("BeforeAppend"); });
  db_.SetOnNewRecord([&](TDorvConduitDb& sender) {
    events.push_back("OnNewRecord:" + sender.FieldByName("Text")->GetAsString());
  });
  db_.SetAfterAppend([&](TDorvConduitDb&) { events.push_back("AfterAppend"); });
  db_.SetBeforePost(
      [&](TDorvConduitDb& s) { events.push_back(EventText("BeforePost", s.State())); });
  db_.SetAfterPost([&](TDorvConduitDb& s) { events.push_back(EventText("AfterPost", s.State())); });
  db_.Open();
  db_.SetCategoryId(3);
  db_.Append();
  EXPECT_EQ(db_.GetAttributes(), 0);
  db_.FieldByName("Text")->SetAsString("three");
  db_.Post();
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeAppend", "OnNewRecord:", "AfterAppend",
                                              "BeforePost:2", "AfterPost:1"}));
  EXPECT_EQ(db_.RecordCount(), 3);
  EXPECT_EQ(db_.CurrentRecordNum(), 0);  // the cursor does not move
  const std::uint32_t new_id = db_.GetRecordId();
  EXPECT_NE(new_id, 0u);
  EXPECT_NE(new_id, 1u);
  EXPECT_NE(new_id, 2u);
  db_.Close();

  const pdb::PdbDatabase file = handheld_.Get("TestDB");
  ASSERT_EQ(file.records.size(), 3u);
  EXPECT_EQ(RecordText(file.records[2]), "three");
  EXPECT_EQ(file.records[2].unique_id, new_id);
  EXPECT_EQ(file.records[2].attributes, 0x43);  // dirty, category 3
}

TEST_F(DatabaseComponent, DeleteAtStartMiddleEndAndTheOnlyRecord) {
  Put({"a", "b", "c", "d"});
  db_.Open();
  db_.Delete();  // start: "b" moves into index 0
  EXPECT_EQ(db_.RecordCount(), 3);
  EXPECT_EQ(db_.CurrentRecordNum(), 0);
  EXPECT_EQ(Text(), "b");
  db_.Next();
  db_.Delete();  // middle: "d" moves into index 1
  EXPECT_EQ(Text(), "d");
  db_.Delete();  // end: nothing left at index 1
  EXPECT_EQ(db_.RecordCount(), 1);
  EXPECT_TRUE(db_.Eof());
  db_.First();
  db_.Delete();  // the only record
  EXPECT_EQ(db_.RecordCount(), 0);
  EXPECT_EQ(db_.CurrentRecordNum(), -1);
  EXPECT_TRUE(db_.Bof());
  EXPECT_TRUE(db_.Eof());
  db_.Close();
  EXPECT_TRUE(handheld_.Get("TestDB").records.empty());
}

TEST_F(DatabaseComponent, CancelRestoresFieldsAndAttributes) {
  Put({"keep"}, {0x15});  // secret, category 5
  db_.Open();
  db_.Edit();
  db_.FieldByName("Text")->SetAsString("changed");
  db_.SetAttributes(0x0F);
  db_.Cancel();
  EXPECT_EQ(db_.State(), pdsBrowse);
  EXPECT_EQ(Text(), "keep");
  EXPECT_EQ(db_.GetAttributes(), 0x10);
  EXPECT_EQ(db_.CategoryId(), 5);
  db_.Close();
  db_.Cancel();  // closed: nothing happens
  EXPECT_EQ(db_.State(), pdsInactive);
  EXPECT_EQ(FileTexts(), (std::vector<std::string>{"keep"}));
}

TEST_F(DatabaseComponent, MarkAsDeletedWritesOnlyWhileEditing) {
  Put({"a", "b"});
  db_.Open();
  db_.MarkAsDeleted();  // browsing: only the attribute changes
  EXPECT_EQ(db_.GetAttributes(), 0x80);
  db_.Next();
  db_.Edit();
  db_.MarkAsDeleted();
  EXPECT_EQ(db_.State(), pdsEdit);
  db_.Cancel();
  db_.Close();
  const pdb::PdbDatabase file = handheld_.Get("TestDB");
  EXPECT_EQ(file.records[0].attributes, 0x00);
  EXPECT_EQ(file.records[1].attributes & 0xC0, 0xC0);
}

TEST_F(DatabaseComponent, BeforeHandlerRefusesAnOperation) {
  Put({"a"});
  db_.Open();
  db_.SetBeforeDelete([](TDorvConduitDb&) { throw Exception("not now"); });
  EXPECT_THROW(db_.Delete(), Exception);
  EXPECT_EQ(db_.RecordCount(), 1);
  db_.Edit();
  db_.SetBeforePost([](TDorvConduitDb&) { throw Exception("no"); });
  db_.FieldByName("Text")->SetAsString("x");
  EXPECT_THROW(db_.Post(), Exception);
  EXPECT_EQ(db_.State(), pdsEdit);
  db_.Close();
  EXPECT_EQ(FileTexts(), (std::vector<std::string>{"a"}));
}

TEST_F(DatabaseComponent, OpenAndCloseEventsFireAroundTheCalls) {
  Put({"a"});
  std::vector<std::string> events;
  db_.SetBeforeOpen(
      [&](TDorvConduitDb& s) { events.push_back(EventText("BeforeOpen", s.Active())); });
  db_.SetAfterOpen([&](TDorvConduitDb& s) {
    events.push_back("AfterOpen:" + s.FieldByName("Text")->GetAsString());
  });
  db_.SetBeforeClose(
      [&](TDorvConduitDb& s) { events.push_back(EventText("BeforeClose", s.Active())); });
  db_.SetAfterClose(
      [&](TDorvConduitDb& s) { events.push_back(EventText("AfterClose", s.Active())); });
  db_.SetActive(true);
  db_.SetActive(true);
  db_.SetActive(false);
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeOpen:0", "AfterOpen:a", "BeforeClose:1",
                                              "AfterClose:0"}));
}

TEST_F(DatabaseComponent, OpenModeBitsAreCheckedAtEachReadAndWrite) {
  Put({"a", "b"});
  db_.SetOpenMode(eDbWrite);
  const EDorvConduitError read = CatchDorv([&] { db_.Open(); });
  EXPECT_EQ(read.Message(), "Database not opened in read mode");
  EXPECT_EQ(read.ErrorCode(), 0);
  EXPECT_TRUE(db_.Active());
  EXPECT_EQ(db_.State(), pdsBrowse);
  EXPECT_EQ(db_.CurrentRecordNum(), 0);
  db_.Close();

  db_.SetOpenMode(eDbRead);
  db_.Open();
  db_.Edit();
  const EDorvConduitError write = CatchDorv([&] { db_.Post(); });
  EXPECT_EQ(write.Message(), "Database not opened in write mode");
  EXPECT_EQ(db_.State(), pdsEdit);
}

TEST_F(DatabaseComponent, FailedOpenLeavesTheComponentClosed) {
  Put({"a"});
  handheld_.InjectFault("SyncOpenDB", SYNCERR_NOT_FOUND);
  const EDorvConduitError open = CatchDorv([&] { db_.Open(); });
  EXPECT_EQ(open.Message(), "SyncOpenDB failed");
  EXPECT_EQ(open.ErrorCode(), SYNCERR_NOT_FOUND);
  EXPECT_FALSE(db_.Active());

  // A failed count closes the database again, so a later open succeeds.
  handheld_.InjectFault("SyncGetDBRecordCount", SYNCERR_BAD_ARG);
  const EDorvConduitError count = CatchDorv([&] { db_.Open(); });
  EXPECT_EQ(count.Message(), "SyncGetDBRecordCount failed");
  EXPECT_EQ(count.ErrorCode(), SYNCERR_BAD_ARG);
  EXPECT_FALSE(db_.Active());
  EXPECT_EQ(db_.State(), pdsInactive);
  db_.Open();
  EXPECT_EQ(Text(), "a");
}

std::vector<std::string> g_log_lines;
std::int32_t FW_CDECL RecordLogLine(const char* text, TActivity, std::uint8_t) {
  g_log_lines.emplace_back(text);
  return 0;
}

// The close after a failed count reports its own failure in the log; the
// error raised stays the count's.
TEST_F(DatabaseComponent, FailedCloseAfterAFailedCountIsLogged) {
  Put({"a"});
  const auto bound = LogAddEntry.Address();
  LogAddEntry.Bind(&RecordLogLine);
  g_log_lines.clear();
  handheld_.InjectFault("SyncGetDBRecordCount", SYNCERR_BAD_ARG);
  handheld_.InjectFault("SyncCloseDB", SYNCERR_UNKNOWN);
  const EDorvConduitError count = CatchDorv([&] { db_.Open(); });
  LogAddEntry.Bind(bound);
  EXPECT_EQ(count.Message(), "SyncGetDBRecordCount failed");
  EXPECT_FALSE(db_.Active());
  ASSERT_EQ(g_log_lines.size(), 1u);
  EXPECT_THAT(g_log_lines[0], ::testing::StartsWith("SyncCloseDB failed (status "));
  EXPECT_THAT(g_log_lines[0], ::testing::HasSubstr("for TestDB"));
}

TEST_F(DatabaseComponent, FailedCloseKeepsTheDatabaseOpen) {
  Put({"a"});
  db_.Open();
  handheld_.InjectFault("SyncCloseDB", SYNCERR_UNKNOWN);
  const EDorvConduitError e = CatchDorv([&] { db_.Close(); });
  EXPECT_EQ(e.Message(), "SyncCloseDB failed");
  EXPECT_TRUE(db_.Active());
  EXPECT_EQ(db_.State(), pdsBrowse);
  // Renaming closes first; when that close fails the old name stays.
  handheld_.InjectFault("SyncCloseDB", SYNCERR_UNKNOWN);
  EXPECT_THROW(db_.SetFileName("Other"), EDorvConduitError);
  EXPECT_EQ(db_.FileName(), "TestDB");
}

// A close answered "not open" (the handle was dropped by an earlier close
// whose write-back failed) leaves the component closed, not stuck open.
TEST_F(DatabaseComponent, CloseOfADroppedHandleClosesTheComponent) {
  Put({"a"});
  db_.Open();
  handheld_.InjectFault("SyncCloseDB", SYNCERR_FILE_NOT_OPEN);
  const EDorvConduitError e = CatchDorv([&] { db_.Close(); });
  EXPECT_EQ(e.ErrorCode(), SYNCERR_FILE_NOT_OPEN);
  EXPECT_FALSE(db_.Active());
  EXPECT_EQ(db_.State(), pdsInactive);
  db_.SetFileName("Other");
  EXPECT_EQ(db_.FileName(), "Other");
}

TEST_F(DatabaseComponent, FailedReadLeavesFieldsAndCursor) {
  Put({"a", "b"});
  db_.Open();
  handheld_.InjectFault("SyncReadRecordByIndex", SYNCERR_RECORD_BUSY);
  const EDorvConduitError e = CatchDorv([&] { db_.Next(); });
  EXPECT_EQ(e.Message(), "SyncReadRecordByIndex failed");
  EXPECT_EQ(e.ErrorCode(), SYNCERR_RECORD_BUSY);
  EXPECT_EQ(db_.CurrentRecordNum(), 1);
  EXPECT_EQ(Text(), "a");
}

TEST_F(DatabaseComponent, FailedWriteAndDeleteLeaveStateAndCount) {
  Put({"a", "b"});
  db_.Open();
  db_.Append();
  handheld_.InjectFault("SyncWriteRec", SYNCERR_REMOTE_NO_SPACE);
  const EDorvConduitError write = CatchDorv([&] { db_.Post(); });
  EXPECT_EQ(write.Message(), "SyncWriteRec failed");
  EXPECT_EQ(write.ErrorCode(), SYNCERR_REMOTE_NO_SPACE);
  EXPECT_EQ(db_.State(), pdsAppend);
  EXPECT_EQ(db_.RecordCount(), 2);
  db_.Cancel();

  db_.Next();
  handheld_.InjectFault("SyncDeleteRec", SYNCERR_READ_ONLY);
  const EDorvConduitError del = CatchDorv([&] { db_.Delete(); });
  EXPECT_EQ(del.Message(), "SyncDeleteRec failed");
  EXPECT_EQ(db_.RecordCount(), 2);
  EXPECT_EQ(db_.CurrentRecordNum(), 1);
  db_.Close();
  EXPECT_EQ(FileTexts(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(DatabaseComponent, RecordTooLargeForTheBufferIsRefusedBeforeSending) {
  Put({"a"});
  db_.Fields().Clear();
  db_.AddField("Big", pftBlob, 70000);
  db_.AddField("Tail", pftLongint, 0);
  db_.Open();
  db_.Edit();
  const EDorvConduitError e = CatchDorv([&] { db_.Post(); });
  EXPECT_EQ(e.Message(), "Attempting to write past end of record buffer");
  EXPECT_EQ(db_.State(), pdsEdit);
}

TEST_F(DatabaseComponent, InfoBlocksReadWriteAndDump) {
  pdb::PdbDatabase file = TextDatabase("TestDB", {"a"});
  file.app_info =
      pdb::EncodeMemoAppInfo(pdb::MemoAppInfo{pdb::MakeCategories({"Business", "Personal"}), 0});
  file.sort_info = std::vector<std::uint8_t>{'s', 'o', 'r', 't', 0, 1, 2, 0x7F, 0x80, 'x'};
  handheld_.Put(file);

  db_.AppInfoFields().Clear();
  TDorvPalmField* renamed = db_.AppInfoFields().Add();
  renamed->SetFieldName("Renamed");
  renamed->SetDataType(pftSmallint);
  TDorvPalmField* names = db_.AppInfoFields().Add();
  names->SetFieldName("Names");
  names->SetSize(16);
  names->SetArraySize(16);

  db_.ReadAppInfo();  // closed: clears the buffer only
  EXPECT_EQ(db_.AppInfoSize(), 0);
  db_.Open();
  db_.ReadAppInfo();
  EXPECT_EQ(db_.AppInfoSize(), 282);
  EXPECT_EQ(names->GetArrayValue(1).AsString(), "Business");
  EXPECT_EQ(db_.DebugAppInfoAsStr().size(), 282u);

  db_.ReadSortInfo();
  EXPECT_EQ(db_.SortInfoSize(), 10);
  EXPECT_EQ(db_.DebugSortInfoAsStr(), "sort0**\x7f*x");

  names->SetArrayValue(3, Variant(std::string("Travel")));
  db_.WriteAppInfo();
  EXPECT_EQ(db_.AppInfoSize(), 2 + 16 * 16);
  db_.WriteSortInfo();  // no sort fields: nothing is sent
  EXPECT_EQ(db_.SortInfoSize(), 10);
  db_.Close();

  const pdb::PdbDatabase after = handheld_.Get("TestDB");
  ASSERT_TRUE(after.app_info.has_value());
  const std::vector<std::uint8_t>& block = *after.app_info;
  ASSERT_EQ(block.size(), 258u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[2 + 3 * 16])), "Travel");
  EXPECT_EQ(after.sort_info, file.sort_info);

  db_.Open();
  handheld_.InjectFault("SyncReadDBAppInfoBlock", SYNCERR_NOT_FOUND);
  const EDorvConduitError e = CatchDorv([&] { db_.ReadAppInfo(); });
  EXPECT_EQ(e.Message(), "SyncReadDbAppInfoBlock failed");
  EXPECT_EQ(db_.AppInfoSize(), 258);
  handheld_.InjectFault("SyncWriteDBSortInfoBlock", SYNCERR_READ_ONLY);
  db_.SortInfoFields().Add()->SetDataType(pftByte);
  EXPECT_EQ(CatchDorv([&] { db_.WriteSortInfo(); }).Message(), "SyncWriteDbSortInfoBlock failed");
}

TEST_F(DatabaseComponent, PurgesAndFlagResetsReachTheFile) {
  // 0: dirty cat 1; 1: deleted; 2: archived; 3: cat 2; 4: dirty cat 2.
  Put({"a", "b", "c", "d", "e"}, {0x41, 0x80, 0x88, 0x02, 0x42});
  db_.Open();
  db_.PurgeAllRecordsInCategory(16);
  db_.PurgeAllRecordsInCategory(-1);
  db_.PurgeDeletedRecords();
  db_.PurgeAllRecordsInCategory(2);
  db_.ResetSyncFlags();
  EXPECT_EQ(db_.RecordCount(), 5);  // not counted again
  db_.Close();
  const pdb::PdbDatabase file = handheld_.Get("TestDB");
  ASSERT_EQ(file.records.size(), 1u);
  EXPECT_EQ(RecordText(file.records[0]), "a");
  EXPECT_EQ(file.records[0].attributes, 0x01);

  db_.Open();
  db_.PurgeAllRecords();
  db_.Close();
  EXPECT_TRUE(handheld_.Get("TestDB").records.empty());
}

TEST_F(DatabaseComponent, MaintenanceFailuresCarryTheStatus) {
  Put({"a"}, {0x80});
  db_.Open();
  const struct {
    const char* function;
    const char* message;
    void (TDorvConduitDb::*call)();
  } rows[] = {
      {"SyncPurgeAllRecs", "SyncPurgeAllRecs failed", &TDorvConduitDb::PurgeAllRecords},
      {"SyncPurgeDeletedRecs", "SyncPurgeDeletedRecs failed", &TDorvConduitDb::PurgeDeletedRecords},
      {"SyncResetSyncFlags", "SyncResetSyncFlags failed", &TDorvConduitDb::ResetSyncFlags},
      {"SyncResetRecordIndex", "SyncResetRecordIndex failed", &TDorvConduitDb::Reset},
  };
  for (const auto& row : rows) {
    handheld_.InjectFault(row.function, SYNCERR_READ_ONLY);
    const EDorvConduitError e = CatchDorv([&] { (db_.*row.call)(); });
    EXPECT_EQ(e.Message(), row.message);
    EXPECT_EQ(e.ErrorCode(), SYNCERR_READ_ONLY);
  }
  handheld_.InjectFault("SyncPurgeAllRecsInCategory", SYNCERR_READ_ONLY);
  EXPECT_EQ(CatchDorv([&] { db_.PurgeAllRecordsInCategory(15); }).Message(),
            "SyncPurgeAllRecsInCategory failed");
  EXPECT_EQ(db_.RecordCount(), 1);
  EXPECT_EQ(db_.State(), pdsBrowse);
  db_.Close();
  EXPECT_EQ(handheld_.Get("TestDB").records.size(), 1u);  // nothing was purged
}

TEST_F(DatabaseComponent, EditCancelAndDeleteEventOrders) {
  Put({"a", "b"});
  std::vector<std::string> events;
  auto log = [&](const char* name) {
    return [&events, name](TDorvConduitDb& s) {
      events.push_back(EventText(name, s.State(), s.RecordCount()));
    };
  };
  db_.SetBeforeEdit(log("BeforeEdit"));
  db_.SetAfterEdit(log("AfterEdit"));
  db_.SetBeforeCancel(log("BeforeCancel"));
  db_.SetAfterCancel(log("AfterCancel"));
  db_.SetBeforeDelete(log("BeforeDelete"));
  db_.SetAfterDelete(log("AfterDelete"));
  db_.Open();
  db_.Edit();
  db_.Edit();    // already editing: nothing
  db_.Delete();  // not browsing: nothing
  db_.Cancel();
  db_.Delete();
  EXPECT_EQ(events,
            (std::vector<std::string>{"BeforeEdit:1:2", "AfterEdit:3:2", "BeforeCancel:3:2",
                                      "AfterCancel:1:2", "BeforeDelete:1:2", "AfterDelete:1:1"}));
}

TEST_F(DatabaseComponent, NamesCategoriesAndDumps) {
  Put({"A"});
  const std::string long_name(40, 'n');
  db_.SetFileName(long_name);
  EXPECT_EQ(db_.FileName(), long_name.substr(0, 32));
  db_.SetFileName("TestDB");
  db_.Open();
  db_.SetFileName("TestDB");  // the same name does not close
  EXPECT_TRUE(db_.Active());

  EXPECT_EQ(db_.FieldByName("TEXT"), db_.FieldByName("text"));
  const EDorvConduitError e = CatchDorv([&] { db_.FieldByName("Missing"); });
  EXPECT_EQ(e.Message(), "Field Missing does not exist");
  EXPECT_EQ(e.ErrorCode(), 0);

  db_.SetCategoryId(7);
  db_.SetCategoryId(16);
  db_.SetCategoryId(-1);
  EXPECT_EQ(db_.CategoryId(), 7);

  EXPECT_EQ(db_.DebugRawRecAsStr(), "Id = 1\r\nCatId = 0\r\nA0");
  db_.SetFileName("Other");
  EXPECT_FALSE(db_.Active());
}

TEST_F(DatabaseComponent, ShortRecordsDecodeTrailingFieldsFromZeroBytes) {
  Put({"x"});
  db_.AddField("Number", pftLongint, 0);
  db_.AddField("After", pftString, 0);
  db_.Open();
  EXPECT_EQ(db_.FieldByName("Number")->GetAsInteger(), 0);
  EXPECT_FALSE(db_.FieldByName("Number")->Value().IsEmpty());
  EXPECT_EQ(db_.FieldByName("After")->GetAsString(), "");
}

// 65,535 records is the most a database holds (its record count has 16
// bits): such a database opens, takes edits and closes; an append past it
// fails by itself, named, and the database is still written back.
TEST_F(DatabaseComponent, ADatabaseAtTheRecordLimitRefusesOnlyTheAppend) {
  Put(std::vector<std::string>(0xFFFF, "x"));
  db_.Open();
  EXPECT_EQ(db_.RecordCount(), 0xFFFF);
  db_.Edit();
  db_.FieldByName("Text")->SetAsString("first");
  db_.Post();
  db_.Append();
  db_.FieldByName("Text")->SetAsString("one too many");
  EXPECT_EQ(CatchDorv([&] { db_.Post(); }).ErrorCode(), SYNCERR_REMOTE_NO_SPACE);
  db_.Cancel();
  db_.Close();
  const std::vector<std::string> texts = FileTexts();
  ASSERT_EQ(texts.size(), 0xFFFFu);
  EXPECT_EQ(texts.front(), "first");
}

}  // namespace
}  // namespace fernwick
