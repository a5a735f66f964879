// The layout files shipped in layouts/ for the four built-in databases,
// decoding every record and application info block of the sample handheld
// through the database component's codec, agree field by field with the
// record formats of standins/pdb (which fernwick-pdbdump --decode prints).
#include <gtest/gtest.h>

#include <string>

#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/PdbFile.h"
#include <fernwick/db/DorvLayoutFile.h>

namespace fernwick {
namespace {

using namespace fernwick::pdb;

class LayoutFiles : public ::testing::Test {
 protected:
  PdbDatabase Load(const std::string& name) {
    layout_ =
        TDorvLayout::ReadFile(std::string(FERNWICK_SOURCE_DIR) + "/layouts/" + name + ".layout");
    layout_.ApplyTo(db_);
    return ReadPdbFile(std::string(FERNWICK_SOURCE_DIR) + "/samples/handheld/" + name + ".pdb");
  }
  // Decodes a record, which the shipped layout fits exactly.
  void DecodeRecord(const PdbRecord& r) {
    const TDorvLayout::Decoding decoding = layout_.Decode(db_, lbRecord, r.data);
    EXPECT_TRUE(decoding.Fits()) << decoding.leftover << " leftover bytes";
    present_ = decoding.present;
  }
  std::int32_t Int(const char* name) { return db_.FieldByName(name)->GetAsInteger(); }
  std::string Str(const char* name) { return db_.FieldByName(name)->GetAsString(); }
  // Checks the category block fields of the decoded application info block.
  void ExpectCategories(const PdbDatabase& db) {
    EXPECT_TRUE(layout_.Decode(db_, lbAppInfo, *db.app_info).Fits());
    const CategoryInfo want = DecodeCategoryInfo(*db.app_info);
    TDorvPalmFields& info = db_.AppInfoFields();
    EXPECT_EQ(info.Items(0)->GetAsInteger() & 0xFFFF, want.renamed);
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(info.Items(1)->GetArrayValue(i).AsString(), want.names[i]);
      EXPECT_EQ(info.Items(2)->GetArrayValue(i).AsInteger(), want.ids[i]);
    }
    EXPECT_EQ(info.Items(3)->GetAsInteger(), want.last_unique_id);
  }
  std::int32_t Info(const char* name) {
    TDorvPalmFields& info = db_.AppInfoFields();
    for (int i = 0; i < info.Count(); ++i) {
      if (info.Items(i)->FieldName() == name) return info.Items(i)->GetAsInteger();
    }
    ADD_FAILURE() << "no field " << name;
    return 0;
  }

  TDorvLayout layout_;
  TDorvConduitDb db_{nullptr};
  std::vector<std::vector<bool>> present_;
};

TEST_F(LayoutFiles, MemoPad) {
  const PdbDatabase db = Load("MemoDB");
  ExpectCategories(db);
  EXPECT_EQ(Info("SortOrder"), DecodeMemoAppInfo(*db.app_info).sort_order);
  for (const PdbRecord& r : db.records) {
    if (r.data.empty()) continue;
    DecodeRecord(r);
    EXPECT_EQ(Str("Text"), DecodeMemoRecord(r.data).text);
  }
}

TEST_F(LayoutFiles, ToDo) {
  const PdbDatabase db = Load("ToDoDB");
  ExpectCategories(db);
  EXPECT_EQ(Info("SortByPriority"), DecodeToDoAppInfo(*db.app_info).sort_by_priority);
  for (const PdbRecord& r : db.records) {
    if (r.data.empty()) continue;
    SCOPED_TRACE(r.unique_id);
    DecodeRecord(r);
    const ToDoRecord want = DecodeToDoRecord(r.data);
    EXPECT_EQ(Int("DueDate") & 0xFFFF, want.due_date);
    EXPECT_EQ(Int("Priority") & 0x7F, want.priority);
    EXPECT_EQ((Int("Priority") & 0x80) != 0, want.completed);
    EXPECT_EQ(Str("Description"), want.description);
    EXPECT_EQ(Str("Note"), want.note);
  }
}

TEST_F(LayoutFiles, AddressBook) {
  const PdbDatabase db = Load("AddressDB");
  ExpectCategories(db);
  const AddressAppInfo info = DecodeAddressAppInfo(*db.app_info);
  EXPECT_EQ(static_cast<std::uint32_t>(Info("DirtyLabels")), info.dirty_labels);
  EXPECT_EQ(Info("Country"), info.country);
  for (int i = 0; i < 22; ++i)
    EXPECT_EQ(db_.AppInfoFields().Items(7)->GetArrayValue(i).AsString(), info.labels[i]);
  int contacts = 0;
  for (const PdbRecord& r : db.records) {
    if (r.data.empty()) continue;
    SCOPED_TRACE(r.unique_id);
    DecodeRecord(r);
    const AddressRecord want = DecodeAddressRecord(r.data);
    const auto labels = static_cast<std::uint32_t>(Int("PhoneLabels"));
    for (int i = 0; i < 5; ++i) EXPECT_EQ((labels >> (4 * i)) & 0x0F, want.phone_labels[i]);
    EXPECT_EQ((labels >> 20) & 0x0F, want.shown_phone);
    TDorvPalmField* entries = db_.FieldByName("Entry");
    for (int i = 0; i < kAddressFieldCount; ++i) {
      EXPECT_EQ(present_[3][i], want.fields[i].has_value()) << "entry " << i;
      EXPECT_EQ(entries->GetArrayValue(i).AsString(), want.fields[i].value_or("")) << i;
    }
    ++contacts;
  }
  EXPECT_GT(contacts, 20);
}

TEST_F(LayoutFiles, DateBook) {
  const PdbDatabase db = Load("DatebookDB");
  ExpectCategories(db);
  EXPECT_EQ(Info("StartOfWeek"), DecodeDatebookAppInfo(*db.app_info).start_of_week);
  for (const PdbRecord& r : db.records) {
    if (r.data.empty()) continue;
    SCOPED_TRACE(r.unique_id);
    DecodeRecord(r);
    const DatebookRecord want = DecodeDatebookRecord(r.data);
    EXPECT_EQ(Int("StartHour"), want.start_hour);
    EXPECT_EQ(Int("StartMinute"), want.start_minute);
    EXPECT_EQ(Int("EndHour"), want.end_hour);
    EXPECT_EQ(Int("EndMinute"), want.end_minute);
    EXPECT_EQ(Int("Date") & 0xFFFF, want.date);
    EXPECT_EQ(present_[6][0], want.alarm.has_value());
    if (want.alarm) {
      EXPECT_EQ(static_cast<std::int8_t>(Int("AlarmAdvance")), want.alarm->advance);
      EXPECT_EQ(Int("AlarmUnit"), want.alarm->unit);
    }
    EXPECT_EQ(present_[8][0], want.repeat.has_value());
    if (want.repeat) {
      EXPECT_EQ(Int("RepeatType"), want.repeat->type);
      EXPECT_EQ(Int("RepeatEnd") & 0xFFFF, want.repeat->end_date);
      EXPECT_EQ(Int("RepeatFrequency"), want.repeat->frequency);
      EXPECT_EQ(Int("RepeatOn"), want.repeat->repeat_on);
      EXPECT_EQ(Int("RepeatStartOfWeek"), want.repeat->start_of_week);
    }
    TDorvPalmField* exceptions = db_.FieldByName("Exception");
    const std::size_t count = want.exceptions.size();
    EXPECT_EQ(static_cast<std::size_t>(exceptions->ArraySize()), std::max<std::size_t>(count, 1));
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(exceptions->GetArrayValue(static_cast<std::int32_t>(i)).AsInteger() & 0xFFFF,
                want.exceptions[i]);
    }
    EXPECT_EQ(present_[17][0], want.description.has_value());
    EXPECT_EQ(Str("Description"), want.description.value_or(""));
    EXPECT_EQ(present_[18][0], want.note.has_value());
    EXPECT_EQ(Str("Note"), want.note.value_or(""));
  }
}

}  // namespace
}  // namespace fernwick
