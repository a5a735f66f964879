// Field layouts written as text: what a malformed layout is refused with,
// and records decoded through a layout's clauses with the component's codec.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fernwick/db/DorvLayoutFile.h>

namespace fernwick {
namespace {

std::string Refusal(const std::string& text) {
  try {
    TDorvLayout::Parse(text);
  } catch (const EDorvLayoutError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(LayoutFile, MalformedLayoutsAreRefusedWithTheLineAndTheFault) {
  const std::string head = "# comment\n[record]\nFlags pftSmallint 2 1\n";
  const struct {
    std::string text, message;
  } kCases[] = {
      {"A pftByte 1 1\n", "line 1: a field before any [record], [appinfo] or [sortinfo] section"},
      {head + "[records]\n",
       "line 4: unknown section '[records]' (sections are [record], "
       "[appinfo] and [sortinfo])"},
      {head + "[appinfo]\n[record]\n", "line 5: section [record] given twice"},
      {head + "align maybe\n", "line 4: align takes on or off"},
      {head + "Text pftString 0\n", "line 4: expected NAME TYPE SIZE COUNT"},
      {head + "9lives pftByte 1 1\n", "line 4: '9lives' is not a field name"},
      {head + "Flags pftByte 1 1\n", "line 4: field Flags given twice"},
      {head + "Word pftWord 2 1\n", "line 4: unknown field type 'pftWord'"},
      {head + "Word pftUnknown 0 1\n", "line 4: unknown field type 'pftUnknown'"},
      {head + "Count pftSmallint 4 1\n", "line 4: pftSmallint is 2 bytes wide, not 4"},
      {head + "Flag pftByte 2 1\n", "line 4: pftByte is 1 byte wide, not 2"},
      {head + "Text pftString -1 1\n", "line 4: size '-1' is not a number from 0 to 65535"},
      {head + "Text pftString 1 1\n",
       "line 4: a string of size 1 holds no character (0 is a string of any length)"},
      {head + "Text pftString 0 0\n", "line 4: count '0' is not a number from 1 to 65535"},
      {head + "Text pftString 0 70000\n", "line 4: count '70000' is not a number from 1 to 65535"},
      {head + "Text pftString 0 1 if Flags 4\n", "line 4: expected if FIELD & MASK"},
      {head + "Text pftString 0 1 if Flags & 0\n",
       "line 4: mask '0' is not a number from 1 to 0xFFFFFFFF"},
      {head + "Text pftString 0 1 if Later & 1\n",
       "line 4: 'Later' is not an earlier field of this section"},
      {head + "Name pftString 0 1\nText pftString 0 2 count Name\n",
       "line 5: 'Name' is not a single integer field"},
      {head + "Text pftString 0 2 bits\n", "line 4: expected bits FIELD"},
      {head + "Text pftString 0 1 unless Flags\n",
       "line 4: unexpected 'unless' (clauses are if, bits and count)"},
      {head + "[appinfo]\nText pftString 0 1 if Flags & 1\n",
       "line 5: 'Flags' is not an earlier field of this section"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Refusal(c.text), c.message) << c.text;
  // An 8 KB layout must not ask for millions of values: 400 fields of 65535
  // elements once ran for most of a minute and ended in bad_alloc.
  std::string huge = "[record]\n";
  // Appended piece by piece: MinGW's GCC 12 warns (-Wrestrict, a false
  // positive) on "F" + std::to_string(i) + "...".
  for (int i = 0; i < 400; ++i) {
    huge += 'F';
    huge += std::to_string(i);
    huge += " pftByte 1 65535\n";
  }
  EXPECT_EQ(Refusal(huge),
            "line 3: the fields of section [record] hold 131070 elements, more than 65535 in all");
  EXPECT_EQ(Refusal(head + "Bytes pftByte 1 65534\n[appinfo]\nMore pftByte 1 65535\n"), "accepted");
  EXPECT_EQ(Refusal(head + "align on\r\n\n  # only a comment\nNote pftString 0 1 # the note"),
            "accepted");
}

TEST(LayoutFile, AFileThatCannotBeReadIsRefusedByName) {
  try {
    TDorvLayout::ReadFile("no-such-folder/none.layout");
    FAIL() << "accepted";
  } catch (const EDorvLayoutError& e) {
    EXPECT_STREQ(e.what(), "no-such-folder/none.layout: cannot be read");
  }
}

class LayoutDecode : public ::testing::Test {
 protected:
  TDorvLayout::Decoding Decode(const std::string& text, const std::vector<std::uint8_t>& bytes) {
    layout_ = TDorvLayout::Parse(text);
    layout_.ApplyTo(db_);
    return layout_.Decode(db_, lbRecord, bytes);
  }
  TDorvPalmField& Field(const char* name) { return *db_.FieldByName(name); }

  TDorvLayout layout_;
  TDorvConduitDb db_{nullptr};
};

TEST_F(LayoutDecode, ClausesLeaveOutWhatTheRecordDoesNotHold) {
  const std::string layout =
      "[record]\n"
      "Flags pftSmallint 2 1\n"
      "Mask pftByte 1 1\n"
      "Alarm pftByte 1 1 if Flags & 0x4000\n"
      "Entry pftString 0 4 bits Mask\n"
      "Count pftByte 1 1\n"
      "Day pftDate 2 2 count Count\n"
      "Note pftString 0 1\n";
  // Flags 0x8000 (no alarm, negative as a smallint), entries 0 and 2, three
  // days (more than the layout's two: the field grows), a note.
  const std::vector<std::uint8_t> bytes = {0x80, 0x00, 0x05, 'a',  0,   'c', 0,   3,   0xD4, 0x5C,
                                           0xFF, 0xFF, 0x00, 0x21, 'n', 'o', 't', 'e', 0};
  const auto decoding = Decode(layout, bytes);
  EXPECT_TRUE(decoding.Fits());
  const auto& present = decoding.present;
  EXPECT_EQ(Field("Flags").GetAsInteger(), -32768);
  EXPECT_EQ(present[2], std::vector<bool>{false});
  EXPECT_EQ(present[3], (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(Field("Entry").GetArrayValue(0).AsString(), "a");
  EXPECT_EQ(Field("Entry").GetArrayValue(2).AsString(), "c");
  ASSERT_EQ(Field("Day").ArraySize(), 3);
  EXPECT_EQ(present[5], (std::vector<bool>{true, true, true}));
  // A packed date reads back as a signed 16-bit value: 2010-02-28 is -11172,
  // "no date" -1, 1904-01-01 33.
  EXPECT_EQ(Field("Day").GetArrayValue(0).AsInteger(), -11172);
  EXPECT_EQ(Field("Day").GetArrayValue(1).AsInteger(), -1);
  EXPECT_EQ(Field("Day").GetArrayValue(2).AsInteger(), 33);
  EXPECT_EQ(Field("Note").GetAsString(), "note");

  // The next record holds one day: the field starts from the layout's two.
  const std::vector<std::uint8_t> second = {0x40, 0x00, 0x00, 7, 1, 0x00, 0x21, 0};
  const auto next = layout_.Decode(db_, lbRecord, second);
  EXPECT_TRUE(next.Fits());
  EXPECT_EQ(Field("Alarm").GetAsInteger(), 7);
  EXPECT_EQ(next.present[5], (std::vector<bool>{true, false}));
  EXPECT_EQ(Field("Note").GetAsString(), "");
}

TEST_F(LayoutDecode, AlignmentAndACountBeyondTheBytes) {
  const auto decoding = Decode(
      "align on\n[record]\nA pftByte 1 1\nB pftSmallint 2 1\n"
      "Count pftSmallint 2 1\nItem pftByte 1 1 count Count\n",
      {1, 0xEE, 0x01, 0x02, 0x7F, 0xFF});
  const auto& present = decoding.present;
  EXPECT_TRUE(db_.AlignOnWord());
  EXPECT_EQ(Field("B").GetAsInteger(), 0x0102);
  // 32767 items are asked for and the bytes end: the field has room, every
  // item past the bytes decodes as empty, nothing is read beyond them.
  EXPECT_EQ(Field("Item").ArraySize(), 32767);
  EXPECT_TRUE(Field("Item").GetArrayValue(0).IsEmpty());
  EXPECT_EQ(present[3].size(), 32767u);
  EXPECT_EQ(decoding.past_end, std::vector<std::string>{"Item"});
}

}  // namespace
}  // namespace fernwick
