#include <gtest/gtest.h>

#include "standins/pdb/BuiltinRecords.h"

namespace fernwick::pdb {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BuiltinRecords, PackedDates) {
  EXPECT_EQ(PackDate({2003, 6, 2}), (99 << 9) | (6 << 5) | 2);
  EXPECT_EQ(UnpackDate(PackDate({1904, 1, 1})), (Date{1904, 1, 1}));
  EXPECT_EQ(UnpackDate(PackDate({2031, 12, 31})), (Date{2031, 12, 31}));
  EXPECT_THROW(PackDate({2032, 1, 1}), PdbError);
  EXPECT_THROW(PackDate({2003, 13, 1}), PdbError);
  EXPECT_THROW(PackDate({2003, 1, 0}), PdbError);
}

TEST(BuiltinRecords, CategoryBlockLayout) {
  CategoryInfo info = MakeCategories({"Business", "A name that is far too long"});
  info.renamed = 0x0006;
  const Bytes b = EncodeCategoryInfo(info);
  ASSERT_EQ(b.size(), 276u);
  EXPECT_EQ(b[0], 0x00);
  EXPECT_EQ(b[1], 0x06);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[2])), "Unfiled");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[18])), "Business");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[34])), "A name that is ");  // 15 + NUL
  EXPECT_EQ(b[258 + 2], 2);  // id of category 2
  EXPECT_EQ(b[274], 2);      // last unique id
  CategoryInfo back = DecodeCategoryInfo(b);
  EXPECT_EQ(back.names[2], "A name that is ");
  back.names[2] = info.names[2];
  EXPECT_EQ(back, info);
}

TEST(BuiltinRecords, AppInfoBlocksHaveTheApplicationsSizesAndRoundTrip) {
  MemoAppInfo memo{MakeCategories({"Work"}), 0, 1};
  ToDoAppInfo todo{MakeCategories({"Work", "Home"}), 0x0102, 1};
  AddressAppInfo addr;
  addr.categories = MakeCategories({"Friends"});
  addr.labels = DefaultAddressLabels();
  addr.dirty_labels = 0x4000;
  addr.country = 6;
  addr.reserved = 9;
  addr.sort_by_company = 1;
  DatebookAppInfo date{MakeCategories({}), 1};

  const Bytes m = EncodeMemoAppInfo(memo), t = EncodeToDoAppInfo(todo),
              a = EncodeAddressAppInfo(addr), d = EncodeDatebookAppInfo(date);
  EXPECT_EQ(m.size(), 282u);
  EXPECT_EQ(t.size(), 282u);
  EXPECT_EQ(a.size(), 638u);
  EXPECT_EQ(d.size(), 280u);
  EXPECT_EQ(m[280], 1);  // sort order
  EXPECT_EQ(t[278], 0x01);
  EXPECT_EQ(t[279], 0x02);  // dirty word
  EXPECT_EQ(t[280], 1);
  EXPECT_EQ(a[281], 0x00);
  EXPECT_EQ(a[280], 0x40);  // dirty-label mask 0x00004000
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a[282])), "Last name");
  EXPECT_EQ(a[634], 6);
  EXPECT_EQ(a[636], 1);
  EXPECT_EQ(d[278], 1);

  EXPECT_EQ(DecodeMemoAppInfo(m), memo);
  EXPECT_EQ(DecodeToDoAppInfo(t), todo);
  EXPECT_EQ(DecodeAddressAppInfo(a), addr);
  EXPECT_EQ(DecodeDatebookAppInfo(d), date);
  EXPECT_THROW(DecodeAddressAppInfo(Bytes(a.begin(), a.begin() + 600)), PdbFormatError);
}

TEST(BuiltinRecords, MemoAndToDoRecords) {
  EXPECT_EQ(EncodeMemoRecord({"Hi"}), (Bytes{'H', 'i', 0}));
  EXPECT_EQ(DecodeMemoRecord(Bytes{'H', 'i', 0}).text, "Hi");
  EXPECT_THROW(DecodeMemoRecord(Bytes{'H', 'i'}), PdbFormatError);

  ToDoRecord todo{PackDate({2003, 6, 16}), 2, true, "Call", "Soon"};
  const Bytes b = EncodeToDoRecord(todo);
  EXPECT_EQ(b, (Bytes{0xC6, 0xD0, 0x82, 'C', 'a', 'l', 'l', 0, 'S', 'o', 'o', 'n', 0}));
  EXPECT_EQ(DecodeToDoRecord(b), todo);
  ToDoRecord none;
  none.description = "x";
  EXPECT_EQ(DecodeToDoRecord(EncodeToDoRecord(none)), none);
  try {
    DecodeToDoRecord(Bytes{0xFF, 0xFF, 1, 'x', 0, 'n'});
    ADD_FAILURE();
  } catch (const PdbFormatError& e) {
    EXPECT_EQ(e.Message(), "to do record: the note has no terminating NUL");
  }
  EXPECT_THROW(DecodeToDoRecord(Bytes{0xFF}), PdbFormatError);
}

TEST(BuiltinRecords, AddressRecordLayout) {
  AddressRecord r;
  r.phone_labels = {0, 1, 2, 7, 4};
  r.shown_phone = 3;
  r.fields[kLastName] = "Lee";
  r.fields[kCompany] = "Acme";
  r.fields[kPhone4] = "555";
  r.fields[kNote] = "n";
  r.fields[kCity] = "";  // empty: stored as absent
  const Bytes b = EncodeAddressRecord(r);
  // Label word 0x00347210: nibbles from the least significant are phones 1-5,
  // then the shown phone.
  EXPECT_EQ((Bytes(b.begin(), b.begin() + 4)), (Bytes{0x00, 0x34, 0x72, 0x10}));
  // Present: last name (0), company (2), phone 4 (6), note (18).
  EXPECT_EQ((Bytes(b.begin() + 4, b.begin() + 8)), (Bytes{0x00, 0x04, 0x00, 0x45}));
  EXPECT_EQ(b[8], 5);  // "Lee\0" takes 4 bytes, so the company starts 5 bytes on
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[9])), "Lee");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[13])), "Acme");

  AddressRecord back = DecodeAddressRecord(b);
  EXPECT_FALSE(back.fields[kCity].has_value());
  r.fields[kCity].reset();
  EXPECT_EQ(back, r);

  AddressRecord no_company;
  no_company.fields[kFirstName] = "Ann";
  EXPECT_EQ(EncodeAddressRecord(no_company)[8], 0);
  Bytes cut = b;
  cut.pop_back();
  EXPECT_THROW(DecodeAddressRecord(cut), PdbFormatError);
}

TEST(BuiltinRecords, DatebookRecordsWithEveryOptionalPart) {
  DatebookRecord full;
  full.start_hour = 9;
  full.start_minute = 30;
  full.end_hour = 10;
  full.end_minute = 0;
  full.date = PackDate({2003, 6, 2});
  full.other_flags = 0x8000;
  full.alarm = DatebookAlarm{-5, 0};
  full.repeat = DatebookRepeat{2, PackDate({2003, 8, 25}), 1, 0x0A, 1};
  full.exceptions = {PackDate({2003, 6, 9}), PackDate({2003, 6, 16})};
  full.description = "Stand-up";
  full.note = "Room 4";
  const Bytes b = EncodeDatebookRecord(full);
  EXPECT_EQ((Bytes(b.begin(), b.begin() + 8)),
            (Bytes{9, 30, 10, 0, 0xC6, 0xC2, 0xFC, 0x00}));  // flags 0x8000|0x7C00
  EXPECT_EQ(b[8], 0xFB);                                     // alarm advance -5
  EXPECT_EQ(b[10], 2);                                       // repeat type
  EXPECT_EQ(b[11], 0);                                       // pad
  EXPECT_EQ(b[18], 0);
  EXPECT_EQ(b[19], 2);  // exception count
  EXPECT_EQ(b.size(), 8u + 2 + 8 + 2 + 4 + 9 + 7);
  EXPECT_EQ(DecodeDatebookRecord(b), full);

  DatebookRecord bare;
  bare.date = PackDate({2003, 7, 4});
  const Bytes bb = EncodeDatebookRecord(bare);
  EXPECT_EQ(bb.size(), 8u);
  EXPECT_EQ(DecodeDatebookRecord(bb), bare);

  // An exception count larger than the record is refused, not over-read.
  Bytes lying = {0xFF, 0xFF, 0xFF, 0xFF, 0xC6, 0xC2, 0x08, 0x00, 0xFF, 0xFF, 0x00};
  EXPECT_THROW(DecodeDatebookRecord(lying), PdbFormatError);
}

}  // namespace
}  // namespace fernwick::pdb
