// Durable atomic desktop files (<fernwick/framework/DesktopWriter.h>).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fernwick/framework/DesktopWriter.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {
namespace {

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

// Rename moves a file whole between folders, over a file of that name, and
// names both in its error.
TEST(DesktopFiles, RenamedWholeOverAnotherAndNamedInTheError) {
  const fs::path root = fs::path(testing::TempDir()) / "desktop-rename";
  fs::remove_all(root);
  TDesktopWriter writer;
  writer.Write(root / "NewMemo.txt", "dropped");
  writer.Write(root / "Memos" / "7.txt", "old");
  writer.Rename(root / "NewMemo.txt", root / "Memos" / "7.txt");
  writer.Commit();
  EXPECT_FALSE(fs::exists(root / "NewMemo.txt"));
  EXPECT_EQ(Contents(root / "Memos" / "7.txt"), "dropped");
  try {
    writer.Rename(root / "NewMemo.txt", root / "Memos" / "8.txt");
    ADD_FAILURE() << "renamed a file that is not there";
  } catch (const EDorvConduitError& e) {
    EXPECT_NE(std::string(e.what()).find("NewMemo.txt"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("8.txt"), std::string::npos) << e.what();
  }
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
}  // namespace fernwick
