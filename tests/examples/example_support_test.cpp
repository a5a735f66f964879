// The examples' shared code: content lines, CSV tables, dates as text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "examples/common/Csv.h"
#include "examples/common/DateText.h"
#include "examples/common/TextFormats.h"
#include <fernwick/framework/Exceptions.h>

namespace fernwick::examples {
namespace {

TEST(ContentLines, EscapedAndFoldedAt75OctetsBetweenCharacters) {
  EXPECT_EQ(EscapeText("a\\b;c,d\r\ne\rf\ng"), "a\\\\b\\;c\\,d\\ne\\nf\\ng");
  // Control characters cannot be written in a text value, escaped or not:
  // vertical tab and escape once went into the files raw. A tab can.
  EXPECT_EQ(EscapeText("a\x0b"
                       "b\x1b"
                       "c\td\x7f\x01"),
            "abc\td");
  EXPECT_EQ(ParameterValue("Spouse; kids"), "\"Spouse; kids\"");
  EXPECT_EQ(ParameterValue("Caf\xc3\xa9 \"order\"\n"), "Caf\xc3\xa9 order");

  TContentLines lines;
  lines.Add(std::string(74, 'a') + "\xc3\xa9" + std::string(80, 'b'));
  const std::string& text = lines.Text();
  // The two-byte letter does not fit after 74 octets: the fold comes first.
  EXPECT_EQ(text.substr(0, 77), std::string(74, 'a') + "\r\n ");
  EXPECT_EQ(text.substr(77, 2), "\xc3\xa9");
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 75u);
    start = end + 2;
  }
}

// A file as a spreadsheet or another program saves it: a byte order mark,
// columns in its own order, one the program does not know, quoted header
// names, CR LF and LF, a blank line, a short line, a quoted cell holding a
// comma, quotes and a line break.
TEST(CsvTable, ReadsOtherProgramsFilesAndWritesTheirColumnsBack) {
  TCsvTable table({"Id", "Description", "Note", "Priority"}, {"Description", "Note"});
  const std::vector<TCsvRow> rows = table.Parse(
      "\xEF\xBB\xBF\"Note\",Id,Shop,Description\r\n"
      "\"a, \"\"b\"\"\r\nc\",7,corner,'=1+1\r\n"
      "\n,,,\n"
      "x,8\n"
      "'-2,9,'=shop,plain",
      "t.csv", "Id");
  ASSERT_EQ(rows.size(), 3u);
  // The apostrophe comes off a text only: the Shop column is not one.
  EXPECT_EQ(
      rows[0],
      (TCsvRow{
          {"Note", "a, \"b\"\r\nc"}, {"Id", "7"}, {"Shop", "corner"}, {"Description", "=1+1"}}));
  EXPECT_EQ(rows[1], (TCsvRow{{"Note", "x"}, {"Id", "8"}}));
  EXPECT_EQ(rows[2],
            (TCsvRow{{"Note", "-2"}, {"Id", "9"}, {"Shop", "'=shop"}, {"Description", "plain"}}));
  EXPECT_TRUE(table.Has("Shop"));
  EXPECT_FALSE(table.Has("Priority"));

  EXPECT_EQ(table.Text(rows),
            "Note,Id,Shop,Description,Priority\r\n"
            "\"a, \"\"b\"\"\r\nc\",7,corner,'=1+1,\r\n"
            "x,8,,,\r\n"
            "'-2,9,'=shop,plain,\r\n");
}

// Saved without its Id column, every row would be a new record and every
// record gone from the desktop: the file is refused as a whole.
TEST(CsvTable, FileWithoutItsKeyColumnIsRefused) {
  TCsvTable table({"Id", "Description"}, {"Description"});
  try {
    table.Parse("Description,Note\r\nRenamed,\r\n", "ToDo.csv", "Id");
    ADD_FAILURE() << "a file without its Id column was read";
  } catch (const EDorvConduitError& error) {
    EXPECT_STREQ(error.what(),
                 "ToDo.csv has no Id column; give rows added on the desktop an empty Id");
  }
  EXPECT_EQ(table.Parse("Description\r\nx\r\n", "ToDo-archive.csv").size(), 1u);
  EXPECT_TRUE(table.Parse("", "ToDo.csv", "Id").empty());
}

TEST(DateText, PackedDatesAndTheirText) {
  const int christmas = PackedDate("2026-12-24");
  EXPECT_EQ(DateText(christmas), "2026-12-24");
  EXPECT_EQ(DateText(0xFFFF), "");
  EXPECT_EQ(DateText(0x0000), "not a date (0x0000)");
  // Packed as they are, month 17 would spill into the year's bits
  // (2027-01-01) and day 33 into the month's (2026-02-01).
  for (const char* text : {"2026-17-01", "2026-01-33", "2026-02-30", "1903-12-31", "24.12.2026"})
    EXPECT_EQ(PackedDate(text), -1) << text;
}

}  // namespace
}  // namespace fernwick::examples
