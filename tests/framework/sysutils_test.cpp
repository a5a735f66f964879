#include <gtest/gtest.h>

#include <fernwick/framework/SysUtils.h>

namespace fernwick {
namespace {

TEST(ExtractFilePathWindows, TakesEverythingUpToLastBackslashOrColon) {
  EXPECT_EQ(ExtractFilePathWindows("C:\\Palm\\HotSync.exe"), "C:\\Palm\\");
  EXPECT_EQ(ExtractFilePathWindows("C:\\Palm"), "C:\\");
  EXPECT_EQ(ExtractFilePathWindows("C:HotSync.exe"), "C:");
  EXPECT_EQ(ExtractFilePathWindows("HotSync.exe"), "");
  EXPECT_EQ(ExtractFilePathWindows("C:/Palm/HotSync.exe"), "C:");
}

TEST(CompareText, IgnoresCaseOfAsciiLettersOnly) {
  EXPECT_EQ(CompareText("Name", "NAME"), 0);
  EXPECT_NE(CompareText("\xe9", "\xc9"), 0);
  EXPECT_LT(CompareText("abc", "abd"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
}

}  // namespace
}  // namespace fernwick
