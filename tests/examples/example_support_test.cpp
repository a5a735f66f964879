// The examples' shared code: content lines.
#include <gtest/gtest.h>

#include <string>

#include "examples/common/TextFormats.h"

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

}  // namespace
}  // namespace fernwick::examples
