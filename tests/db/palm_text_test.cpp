// The handheld's character set (<fernwick/db/PalmText.h>).
#include <gtest/gtest.h>

#include <string>

#include <fernwick/db/PalmText.h>

namespace fernwick {
namespace {

TEST(PalmText, LatinLettersSuitsAndPunctuationBecomeUtf8AndComeBack) {
  EXPECT_EQ(PalmToUtf8("Caf\xe9"), "Caf\xc3\xa9");
  EXPECT_EQ(PalmToUtf8("\x80"), "\xe2\x82\xac");  // euro sign
  EXPECT_EQ(PalmToUtf8("\x8e"), "\xe2\x99\xa3");  // club, not Z with caron
  EXPECT_EQ(PalmToUtf8("\x93q\x94"), "\xe2\x80\x9cq\xe2\x80\x9d");
  EXPECT_EQ(PalmToUtf8("\x8b\x9b"), "\xe2\x80\xb9\xe2\x80\xba");  // single guillemets
  EXPECT_EQ(PalmToUtf8("\x9e"), "\xc2\x9e");                      // no character
  EXPECT_EQ(PalmToUtf8("\xff"), "\xc3\xbf");
  std::string every_byte;
  for (int b = 1; b < 256; ++b) every_byte += static_cast<char>(b);
  EXPECT_EQ(Utf8ToPalm(PalmToUtf8(every_byte)), every_byte);
}

TEST(PalmText, WhatTheHandheldCannotShowBecomesAQuestionMark) {
  EXPECT_EQ(Utf8ToPalm("\xc5\xbd\xc5\xbe"), "??");  // Z and z with caron
  EXPECT_EQ(Utf8ToPalm("\xe6\x97\xa5\xf0\x9f\x98\x80x"), "??x");
  EXPECT_EQ(Utf8ToPalm("a\xc3"), "a?");       // cut short
  EXPECT_EQ(Utf8ToPalm("\xe9t\xe9"), "?t?");  // not UTF-8
  EXPECT_EQ(Utf8ToPalm("\xc3("), "?(");
}

}  // namespace
}  // namespace fernwick
