#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include <fernwick/db/DorvPalmFields.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {
namespace {

class PalmFieldTest : public ::testing::Test {
 protected:
  TDorvPalmField* NewField(TDorvPalmFieldType type) {
    TDorvPalmField* f = fields_.Add();
    f->SetDataType(type);
    return f;
  }
  TComponent owner_{nullptr};
  TDorvPalmFields fields_{&owner_};
};

TEST_F(PalmFieldTest, NewFieldIsAnEmptyVariableLengthString) {
  TDorvPalmField* f = fields_.Add();
  EXPECT_EQ(f->DataType(), pftString);
  EXPECT_EQ(f->Size(), 0);
  EXPECT_EQ(f->ArraySize(), 1);
  EXPECT_TRUE(f->Value().IsEmpty());
  EXPECT_EQ(f->GetAsString(), "");
  EXPECT_EQ(f->GetAsInteger(), 0);
  EXPECT_EQ(f->GetDisplayName(), "TDorvPalmField");
  f->SetFieldName("Name");
  EXPECT_EQ(f->GetDisplayName(), "Name");
  EXPECT_EQ(fields_.GetOwner(), &owner_);
}

TEST_F(PalmFieldTest, TypeOrdinalsAndWidthsAreFixed) {
  const struct {
    TDorvPalmFieldType type;
    int ordinal;
    int width;
    const char* name;
  } table[] = {{pftUnknown, 0, 0, "pftUnknown"},   {pftByte, 1, 1, "pftByte"},
               {pftSmallint, 2, 2, "pftSmallint"}, {pftLongint, 3, 4, "pftLongint"},
               {pftBoolean, 4, 1, "pftBoolean"},   {pftSingle, 5, 4, "pftSingle"},
               {pftDouble, 6, 8, "pftDouble"},     {pftDate, 7, 2, "pftDate"},
               {pftTime, 8, 2, "pftTime"},         {pftString, 9, 0, "pftString"},
               {pftBlob, 10, 0, "pftBlob"}};
  for (const auto& row : table) {
    EXPECT_EQ(static_cast<int>(row.type), row.ordinal);
    TDorvPalmField* f = NewField(row.type);
    EXPECT_EQ(f->Size(), row.width) << row.name;
    f->SetSize(10);
    const bool settable = row.type == pftString || row.type == pftBlob;
    EXPECT_EQ(f->Size(), settable ? 10 : row.width) << row.name;
    EXPECT_EQ(DorvPalmFieldTypeName(row.type), row.name);
  }
  TDorvPalmField* s = NewField(pftString);
  s->SetSize(20);
  s->SetDataType(pftString);
  EXPECT_EQ(s->Size(), 0);
}

TEST_F(PalmFieldTest, DateEncodingAtTheEndsOfThePalmRange) {
  TDorvPalmField* d = NewField(pftDate);
  d->SetAsDateTime(EncodeDate(1904, 1, 1) + 0.7);
  EXPECT_EQ(d->GetAsInteger(), 33);
  EXPECT_EQ(d->GetAsDateTime(), EncodeDate(1904, 1, 1));
  d->SetAsDateTime(EncodeDate(2031, 12, 31));
  EXPECT_EQ(d->GetAsInteger(), 65439);
  EXPECT_EQ(d->GetAsDateTime(), EncodeDate(2031, 12, 31));
  for (TDateTime outside : {EncodeDate(1903, 12, 31), EncodeDate(2032, 1, 1)}) {
    try {
      d->SetAsDateTime(outside);
      ADD_FAILURE();
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "Year outside Palm date range");
    }
    EXPECT_EQ(d->Value(), Variant(std::int32_t{0}));
  }
}

TEST_F(PalmFieldTest, DatesFrom1968OnAreNegativeWhenSignExtended) {
  TDorvPalmField* d = NewField(pftDate);
  for (int year : {1967, 1968, 1999, 2000, 2031}) {
    d->SetAsDateTime(EncodeDate(year, 6, 30));
    const std::int32_t packed = d->GetAsInteger();
    // The codec hands back the 16 bits sign-extended.
    d->SetAsInteger(static_cast<std::int16_t>(packed));
    EXPECT_EQ(d->GetAsInteger() < 0, year >= 1968) << year;
    EXPECT_EQ(d->GetAsDateTime(), EncodeDate(year, 6, 30)) << year;
  }
  d->SetAsInteger(-16337);
  EXPECT_EQ(d->GetAsDateTime(), EncodeDate(2000, 1, 15));
}

TEST_F(PalmFieldTest, InvalidPackedDatesAndTimesReadAsZero) {
  TDorvPalmField* d = NewField(pftDate);
  for (std::int32_t packed : {0, 65535, -1, (2 << 5) | 30 | (1 << 9) /* 30 Feb 1905 */}) {
    d->SetAsInteger(packed);
    EXPECT_EQ(d->GetAsDateTime(), 0.0) << packed;
  }
  TDorvPalmField* t = NewField(pftTime);
  t->SetAsInteger((24 << 8) | 0);
  EXPECT_EQ(t->GetAsDateTime(), 0.0);
  t->SetAsInteger((10 << 8) | 60);
  EXPECT_EQ(t->GetAsDateTime(), 0.0);
  t->SetAsString("not a number");
  EXPECT_THROW(t->GetAsDateTime(), EVariantError);
}

TEST_F(PalmFieldTest, IsValidDateTellsADamagedDateFromARealOne) {
  TDorvPalmField* d = NewField(pftDate);
  // Record bytes 00 00 (month 0): not "no date" (-1), yet it reads as 0,
  // 30 December 1899, like every other date that does not exist.
  for (std::int32_t packed : {0, -1, 65535, (99 << 9) | (13 << 5) | 1, (1 << 9) | (2 << 5) | 30,
                              (106 << 9) | (4 << 5) | 0}) {
    d->SetAsInteger(packed);
    EXPECT_EQ(d->GetAsDateTime(), 0.0) << packed;
    EXPECT_FALSE(d->IsValidDate()) << packed;
    EXPECT_FALSE(IsValidPalmDate(packed)) << packed;
  }
  // 29 February of a leap year, and the ends of the range, also sign-extended.
  for (std::int32_t packed : {(0 << 9) | (2 << 5) | 29, 33, 65439, -11172}) {
    d->SetAsInteger(packed);
    EXPECT_TRUE(d->IsValidDate()) << packed;
    EXPECT_TRUE(IsValidPalmDate(packed)) << packed;
  }
  EXPECT_FALSE(NewField(pftDate)->IsValidDate());  // empty
  d->SetAsString("not a number");
  EXPECT_FALSE(d->IsValidDate());
  TDorvPalmField* n = NewField(pftSmallint);
  n->SetAsInteger(33);
  EXPECT_FALSE(n->IsValidDate());
}

TEST_F(PalmFieldTest, TimeKeepsHourAndMinute) {
  TDorvPalmField* t = NewField(pftTime);
  t->SetAsDateTime(36540 + EncodeTime(13, 45, 59, 999));
  EXPECT_EQ(t->GetAsInteger(), 3373);
  EXPECT_EQ(t->GetAsDateTime(), EncodeTime(13, 45, 0, 0));
}

TEST_F(PalmFieldTest, AccessorsOnTypesTheyDoNotServe) {
  TDorvPalmField* s = NewField(pftString);
  s->SetAsDateTime(36540);
  EXPECT_EQ(s->GetAsString(), "0");
  EXPECT_EQ(s->GetAsDateTime(), 0.0);
  TDorvPalmField* b = NewField(pftBoolean);
  b->SetArrayValue(0, Variant(std::int32_t{1}));
  b->SetAsInteger(7);
  EXPECT_EQ(b->GetAsInteger(), 0);
  EXPECT_EQ(b->GetAsString(), "1");
}

TEST_F(PalmFieldTest, AsIntegerConvertsWhatItCanAndNeverRaises) {
  TDorvPalmField* f = NewField(pftLongint);
  f->SetAsString("42");
  EXPECT_EQ(f->GetAsInteger(), 42);
  f->SetAsString("abc");
  EXPECT_EQ(f->GetAsInteger(), 0);
  f->SetArrayValue(0, Variant(2.5));
  EXPECT_EQ(f->GetAsInteger(), 2);
  f->SetArrayValue(0, Variant::Null());
  EXPECT_EQ(f->GetAsInteger(), 0);
  f->SetArraySize(3);
  f->SetArrayValue(0, Variant(std::int32_t{5}));
  EXPECT_EQ(f->GetAsInteger(), 0);  // an element list is not one integer
}

TEST_F(PalmFieldTest, ArraySizeChangesKeepElementsBelowTheNewSize) {
  TDorvPalmField* f = NewField(pftLongint);
  f->SetAsInteger(9);
  f->SetArraySize(3);
  EXPECT_TRUE(f->GetArrayValue(0).IsEmpty());  // the single value is not kept
  f->SetArrayValue(2, Variant("x"));
  f->SetArraySize(5);
  EXPECT_EQ(f->Value().ArrayLength(), 5);
  EXPECT_EQ(f->GetArrayValue(2), Variant("x"));
  for (int i : {0, 1, 3, 4}) EXPECT_TRUE(f->GetArrayValue(i).IsEmpty()) << i;
  EXPECT_TRUE(f->GetArrayValue(5).IsNull());
  EXPECT_TRUE(f->GetArrayValue(-1).IsNull());
  f->SetArrayValue(5, Variant("ignored"));
  f->SetArraySize(2);
  EXPECT_EQ(f->Value().ArrayLength(), 2);
  f->SetArraySize(0);
  EXPECT_EQ(f->ArraySize(), 2);
  f->SetArraySize(1);
  EXPECT_TRUE(f->Value().IsEmpty());
  EXPECT_TRUE(f->GetArrayValue(1).IsNull());
  f->SetArrayValue(1, Variant("ignored"));
  EXPECT_TRUE(f->Value().IsEmpty());
}

TEST_F(PalmFieldTest, SetArraySizeRebuildsAListReplacedByAPlainValue) {
  TDorvPalmField* f = NewField(pftSmallint);
  f->SetArraySize(3);
  f->SetArrayValue(1, Variant(std::int32_t{1}));
  f->SetAsInteger(7);  // replaces the element list
  EXPECT_TRUE(f->GetArrayValue(0).IsNull());
  f->SetArrayValue(0, Variant(std::int32_t{8}));
  EXPECT_EQ(f->Value(), Variant(std::int32_t{7}));
  f->SetArraySize(3);  // same size: rebuilt all the same
  ASSERT_TRUE(f->Value().IsArray());
  EXPECT_EQ(f->GetArrayValue(0), Variant(std::int32_t{7}));
  EXPECT_TRUE(f->GetArrayValue(1).IsEmpty());
  f->SetAsString("plain");
  f->SetArraySize(4);
  EXPECT_EQ(f->GetArrayValue(0), Variant("plain"));
  EXPECT_EQ(f->Value().ArrayLength(), 4);
}

TEST_F(PalmFieldTest, AssignCopiesDefinitionAndWholeValue) {
  TDorvPalmField* src = NewField(pftBlob);
  src->SetFieldName("Src");
  src->SetSize(12);
  src->SetArraySize(2);
  src->SetArrayValue(1, Variant("kept"));
  TDorvPalmField* dst = NewField(pftLongint);
  dst->Assign(*src);
  EXPECT_EQ(dst->FieldName(), "Src");
  EXPECT_EQ(dst->DataType(), pftBlob);
  EXPECT_EQ(dst->Size(), 12);
  EXPECT_EQ(dst->ArraySize(), 2);
  src->SetArrayValue(1, Variant("changed"));
  EXPECT_EQ(dst->GetArrayValue(1), Variant("kept"));
  dst->SetArrayValue(0, Variant(std::int32_t{3}));  // the shape matches ArraySize
  EXPECT_EQ(dst->GetArrayValue(0), Variant(std::int32_t{3}));
  EXPECT_THROW(dst->Assign(fields_), EConvertError);

  fields_.SetItem(0, *fields_.Items(1));
  EXPECT_EQ(fields_.Items(0), src);  // the object stays, its contents change
  EXPECT_EQ(src->DataType(), pftBlob);
  EXPECT_EQ(src->GetArrayValue(1), Variant("kept"));
}

TEST_F(PalmFieldTest, FieldListsLookFieldsUpByName) {
  TDorvPalmField* renamed = NewField(pftSmallint);
  renamed->SetFieldName("Renamed");
  TDorvPalmField* names = NewField(pftString);
  names->SetFieldName("CategoryName");
  EXPECT_EQ(fields_.FieldByName("categoryname"), names);
  EXPECT_EQ(fields_.FindField("RENAMED"), renamed);
  EXPECT_EQ(fields_.FindField("Missing"), nullptr);
  try {
    fields_.FieldByName("Missing");
    ADD_FAILURE() << "no EDorvConduitError";
  } catch (const EDorvConduitError& e) {
    EXPECT_EQ(e.Message(), "Field Missing does not exist");
    EXPECT_EQ(e.ErrorCode(), 0);
  }
}

TEST_F(PalmFieldTest, PublishedPropertiesStreamInOrder) {
  const auto props = TDorvPalmField::PublishedProperties();
  ASSERT_EQ(props.size(), 4u);
  EXPECT_EQ(props[0].Name, "FieldName");
  EXPECT_EQ(props[1].Name, "DataType");
  EXPECT_EQ(props[2].Name, "Size");
  EXPECT_EQ(props[3].Name, "ArraySize");
  TDorvPalmField* src = NewField(pftString);
  src->SetFieldName("Note");
  src->SetSize(32);
  src->SetArraySize(3);
  TDorvPalmField* num = NewField(pftLongint);
  for (TDorvPalmField* field : {src, num}) {
    TDorvPalmField* loaded = fields_.Add();
    for (const auto& p : props) {
      const std::string text = p.Get(*field);
      if (p.AlwaysStored || text != p.Default) p.Set(*loaded, text);
    }
    EXPECT_EQ(loaded->FieldName(), field->FieldName());
    EXPECT_EQ(loaded->DataType(), field->DataType());
    EXPECT_EQ(loaded->Size(), field->Size());
    EXPECT_EQ(loaded->ArraySize(), field->ArraySize());
  }
  EXPECT_THROW(props[1].Set(*src, "pftNothing"), EConvertError);
  EXPECT_THROW(props[2].Set(*src, "12x"), EConvertError);
}

std::int32_t PackedDate(int year, int month, int day) {
  return ((year - 1904) << 9) | (month << 5) | day;
}

TEST(PackedDates, OnlyDaysOfTheCalendarAreValid) {
  EXPECT_TRUE(IsValidPalmDate(PackedDate(2006, 2, 28)));
  EXPECT_TRUE(IsValidPalmDate(PackedDate(2004, 2, 29)));
  EXPECT_TRUE(IsValidPalmDate(PackedDate(2031, 12, 31)));
  EXPECT_FALSE(IsValidPalmDate(PackedDate(2006, 2, 29)));
  EXPECT_FALSE(IsValidPalmDate(PackedDate(2006, 2, 31)));
  EXPECT_FALSE(IsValidPalmDate(PackedDate(2006, 14, 1)));
  EXPECT_FALSE(IsValidPalmDate(PackedDate(2006, 0, 0)));  // once 1899-12-30 in ToDo.csv
  EXPECT_FALSE(IsValidPalmDate(0));
  EXPECT_FALSE(IsValidPalmDate(0xFFFF));
}

TEST(PackedDates, DecodeGivesTheDayOrZeroes) {
  int year = 1, month = 1, day = 1;
  EXPECT_TRUE(DecodePalmDate(PackedDate(2000, 2, 29), year, month, day));
  EXPECT_EQ((std::array{year, month, day}), (std::array{2000, 2, 29}));
  // Read back from a record, a date of 1968 or later is negative.
  EXPECT_TRUE(DecodePalmDate(static_cast<std::int16_t>(PackedDate(2031, 12, 31)), year, month, day));
  EXPECT_EQ((std::array{year, month, day}), (std::array{2031, 12, 31}));
  EXPECT_FALSE(DecodePalmDate(-1, year, month, day));  // "no date", FF FF
  EXPECT_EQ((std::array{year, month, day}), (std::array{0, 0, 0}));
  EXPECT_FALSE(DecodePalmDate(PackedDate(2006, 2, 29), year, month, day));
}

}  // namespace
}  // namespace fernwick
