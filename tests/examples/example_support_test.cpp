// The handheld's character set as the exporting examples convert it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "examples/common/ExampleSupport.h"
#include "examples/common/TextFormats.h"

namespace fernwick::examples {
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

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DesktopFiles, MadeWithTheirFolderAndReplacedWhole) {
  const fs::path root = fs::path(testing::TempDir()) / "desktop-files";
  fs::remove_all(root);
  const fs::path file = root / "Memos" / "1.txt";
  WriteFileAtomically(file, "first");
  EXPECT_EQ(Contents(file), "first");
  WriteFileAtomically(file, "second, longer");
  EXPECT_EQ(Contents(file), "second, longer");
  EXPECT_FALSE(fs::exists(file.string() + ".new"));
  fs::remove_all(root);
}

TEST(DesktopFiles, AFolderThatCannotBeMadeIsNamedInTheError) {
  const fs::path root = fs::path(testing::TempDir()) / "desktop-blocked";
  fs::remove_all(root);
  fs::create_directories(root);
  std::ofstream(root / "Memos") << "a file where the folder would be";
  try {
    WriteFileAtomically(root / "Memos" / "1.txt", "text");
    ADD_FAILURE() << "wrote below a file";
  } catch (const EDorvConduitError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Memos"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Contents(root / "Memos"), "a file where the folder would be");
  fs::remove_all(root);
}

#ifndef _WIN32
// A link planted where a fixed temporary name would be once made a sync
// overwrite a file outside the desktop folder. The files written are the
// user's alone, whatever the umask: records marked private are among them.
TEST(DesktopFiles, NoPlantedLinkIsFollowedAndFilesArePrivate) {
  const fs::path root = fs::path(testing::TempDir()) / "desktop-planted";
  fs::remove_all(root);
  fs::create_directories(root / "ToDo");
  std::ofstream(root / "outside") << "not the desktop's";
  fs::create_symlink(root / "outside", root / "ToDo" / "ToDo-archive.csv.new");
  const mode_t old_mask = umask(022);
  WriteFileAtomically(root / "ToDo" / "ToDo-archive.csv", "Id\r\n");
  TDesktopWriter writer;
  writer.Write(root / "Made" / "Below" / "1.txt", "secret");
  writer.Commit();
  umask(old_mask);
  EXPECT_EQ(Contents(root / "outside"), "not the desktop's");
  EXPECT_EQ(Contents(root / "ToDo" / "ToDo-archive.csv"), "Id\r\n");
  const auto mode = [](const fs::path& p) { return fs::status(p).permissions() & fs::perms::all; };
  EXPECT_EQ(mode(root / "ToDo" / "ToDo-archive.csv"),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(mode(root / "Made" / "Below" / "1.txt"),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(mode(root / "Made"), fs::perms::owner_all);
  EXPECT_EQ(mode(root / "Made" / "Below"), fs::perms::owner_all);
  // Only the planted link and the files themselves: no temporary is left.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(root / "ToDo")) ++entries;
  EXPECT_EQ(entries, 2);
  fs::remove_all(root);
}
#endif

}  // namespace
}  // namespace fernwick::examples
