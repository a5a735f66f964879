// The Memo Pad example conduit (two-way, on the mirror-sync engine) run by
// the runner, in this process, against a copy of the sample handheld: what
// it leaves in the desktop folder, in the HotSync log and in the handheld's
// MemoDB.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "RunnerFixture.h"
#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/PdbFile.h"
#include "standins/runner/Runner.h"
#include "standins/runner/RunnerOptions.h"
#include <fernwick/db/PalmText.h>

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

class MemoExample : public RunnerFixture {
 protected:
  void SetUp() override {
    RunnerFixture::SetUp();
    fs::create_directories(desktop_ / "MemoPad");
  }
  int Sync() { return RunOnFolders({"sync", "memo_conduit.dll"}); }
  pdb::PdbDatabase MemoDB() { return pdb::ReadPdbFile(handheld_ / "MemoDB.pdb"); }
};

TEST_F(MemoExample, SynchronisesBothWaysAndTakesTheDroppedMemo) {
  const pdb::PdbDatabase before = MemoDB();
  const pdb::MemoAppInfo info = pdb::DecodeMemoAppInfo(*before.app_info);
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt") << "Dropped on the desktop";

  ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();
  const std::string log = out_.str();
  EXPECT_THAT(log, HasSubstr("Memo Pad categories: " + info.categories.names[0] + ", " +
                             info.categories.names[1]));
  EXPECT_THAT(log, HasSubstr("OK Memo Pad"));

  // A first synchronisation: every live memo is on the desktop under its id,
  // the archived one beside them, the deleted one nowhere.
  const fs::path memos = desktop_ / "MemoPad" / "Memos";
  int live = 0;
  for (const pdb::PdbRecord& r : before.records) {
    const std::string id = std::to_string(r.unique_id);
    if ((r.attributes & 0x80) == 0) {
      EXPECT_EQ(ReadText(memos / (id + ".txt")), PalmToUtf8(pdb::DecodeMemoRecord(r.data).text));
      ++live;
    } else if ((r.attributes & 0x08) != 0) {
      EXPECT_EQ(ReadText(memos / (id + ".archived.txt")),
                PalmToUtf8(pdb::DecodeMemoRecord(r.data).text));
    } else {
      EXPECT_FALSE(fs::exists(memos / (id + ".txt")));
    }
  }
  EXPECT_THAT(log, HasSubstr("MemoDB: " + std::to_string(live) +
                             " to the desktop, 1 to the handheld, 0 deleted, 1 archived, 0 "
                             "conflicts (stFast)"));

  // The deleted memos are purged, the dropped memo is on the handheld, once,
  // NewMemo.txt became Memos/<id>.txt, and no record is dirty now.
  pdb::PdbDatabase after = MemoDB();
  ASSERT_EQ(after.records.size(), before.records.size() - 2 + 1);
  const pdb::PdbRecord& added = after.records.back();
  EXPECT_EQ(pdb::DecodeMemoRecord(added.data).text, "Dropped on the desktop");
  EXPECT_EQ(ReadText(memos / (std::to_string(added.unique_id) + ".txt")), "Dropped on the desktop");
  for (const pdb::PdbRecord& r : after.records) EXPECT_EQ(r.attributes & 0xC0, 0);
  EXPECT_FALSE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt"));

  // A second synchronisation finds nothing new.
  ASSERT_EQ(Sync(), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("MemoDB: 0 to the desktop, 0 to the handheld, 0 deleted, 0 "
                                    "archived, 0 conflicts (stFast)"));
  EXPECT_EQ(MemoDB(), after);

  // Edited, deleted and added on the desktop: the handheld follows, and the
  // added file takes the id the handheld gave it.
  const std::uint32_t edited = after.records[0].unique_id, removed = after.records[1].unique_id;
  std::ofstream(memos / (std::to_string(edited) + ".txt")) << "Edited on the desktop";
  fs::remove(memos / (std::to_string(removed) + ".txt"));
  std::ofstream(memos / "Shopping.txt") << "Milk, bread";
  ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr("MemoDB: 0 to the desktop, 2 to the handheld, 1 deleted"));
  after = MemoDB();
  ASSERT_EQ(after.records.size(), before.records.size() - 2 + 1);
  std::map<std::uint32_t, std::string> texts;
  for (const pdb::PdbRecord& r : after.records)
    texts[r.unique_id] = pdb::DecodeMemoRecord(r.data).text;
  EXPECT_EQ(texts[edited], "Edited on the desktop");
  EXPECT_EQ(texts.count(removed), 0u);
  const std::uint32_t shopping = after.records.back().unique_id;
  EXPECT_EQ(texts[shopping], "Milk, bread");
  EXPECT_FALSE(fs::exists(memos / "Shopping.txt"));
  EXPECT_EQ(ReadText(memos / (std::to_string(shopping) + ".txt")), "Milk, bread");
}

// A memo no longer on the handheld (its record gone, not flagged deleted):
// a slow synchronisation removes its file, which stayed there looking live.
TEST_F(MemoExample, SlowSyncRemovesTheFilesOfMemosGoneFromTheHandheld) {
  ASSERT_EQ(RunOnFolders({"--sync-type", "slow", "sync", "memo_conduit.dll"}), kExitOk)
      << out_.str();
  pdb::PdbDatabase db = MemoDB();
  const fs::path gone =
      desktop_ / "MemoPad" / "Memos" / (std::to_string(db.records.front().unique_id) + ".txt");
  ASSERT_TRUE(fs::exists(gone));
  db.records.erase(db.records.begin());
  pdb::WritePdbFileAtomically(handheld_ / "MemoDB.pdb", db);
  ASSERT_EQ(RunOnFolders({"--sync-type", "slow", "sync", "memo_conduit.dll"}), kExitOk)
      << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr("0 to the handheld, 1 deleted"));
  EXPECT_FALSE(fs::exists(gone));
}

// The categories line is UTF-8, like every other line of the log (it was
// the handheld's bytes).
TEST_F(MemoExample, CategoriesAreLoggedInUtf8) {
  pdb::PdbDatabase db = MemoDB();
  pdb::MemoAppInfo info = pdb::DecodeMemoAppInfo(*db.app_info);
  info.categories.names[1] = "Caf\xe9";
  db.app_info = pdb::EncodeMemoAppInfo(info);
  pdb::WritePdbFileAtomically(handheld_ / "MemoDB.pdb", db);
  ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();
  EXPECT_THAT(out_.str(),
              HasSubstr("Memo Pad categories: " + info.categories.names[0] + ", Caf\xc3\xa9, "));
}

// --timings splits each conduit's run into the Sync Manager's calls, by
// kind, and the conduit's own work.
TEST_F(MemoExample, TimingsSplitTheRunByKindOfCall) {
  int changed = 0;
  for (const pdb::PdbRecord& r : MemoDB().records) changed += (r.attributes & 0xC0) != 0;
  ASSERT_EQ(RunOnFolders({"--timings", "sync", "memo_conduit.dll"}), kExitOk) << err_.str();
  const std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("timings: set-up "));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      out, m,
      std::regex("timings: Memo Pad: load [0-9.]+ ms; run ([0-9.]+) ms = Sync Manager ([0-9.]+) "
                 "ms [(]open [0-9.]+ ms in [12] calls?, reads [0-9.]+ ms in ([0-9]+) calls, "
                 "write-back [0-9.]+ ms in [12] calls?, other [0-9.]+ ms in [0-9]+ calls?[)] \\+ "
                 "the conduit's own work [0-9.]+ ms\n")))
      << out;
  EXPECT_GE(std::stod(m[1]), std::stod(m[2]));
  // Every changed memo was read, then the read that found no more.
  EXPECT_GE(std::stoi(m[3]), changed + 1);
  EXPECT_THAT(out, HasSubstr("timings: detach "));

  EXPECT_THROW(Run({"--timings", "info", "memo_conduit.dll"}), UsageError);
  EXPECT_THROW(RunOnFolders({"--timings", "--isolate", "sync", "memo_conduit.dll"}), UsageError);
}

TEST_F(MemoExample, DesktopFilesAreUtf8BothWays) {
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt", std::ios::binary) << "Gr\xc3\xbc\xc3\x9f"
                                                                           "e \xe2\x82\xac 5";
  ASSERT_EQ(RunOnFolders({"--sync-type", "slow", "sync", "memo_conduit.dll"}), kExitOk)
      << err_.str() << out_.str();
  // The handheld holds its own character set: u with diaeresis 0xFC, sharp
  // s 0xDF, the euro sign 0x80.
  EXPECT_EQ(pdb::DecodeMemoRecord(MemoDB().records.back().data).text,
            "Gr\xfc\xdf"
            "e \x80 5");
  // A slow synchronisation copies every memo, the one with 0xE9 as UTF-8.
  bool found = false;
  for (const auto& entry : fs::directory_iterator(desktop_ / "MemoPad" / "Memos")) {
    const std::string text = ReadText(entry.path());
    if (text.rfind("Caf", 0) != 0) continue;
    EXPECT_EQ(text,
              "Caf\xc3\xa9 on Elm St. does a good cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
              "e");
    found = true;
  }
  EXPECT_TRUE(found);
}

// A desktop disk that fills up while the memos are copied: the conduit
// fails, no desktop file is left cut short, and nothing on the handheld is
// purged or reset. (Linux only: needs a small tmpfs; skipped when mounting
// is not permitted.)
TEST_F(MemoExample, FullDesktopDiskPurgesNothing) {
  if (const std::string why = MountSmallDesktop("8k"); !why.empty()) GTEST_SKIP() << why;
  fs::create_directories(desktop_ / "MemoPad");
  const pdb::PdbDatabase before = MemoDB();

  EXPECT_EQ(RunOnFolders({"--sync-type", "slow", "sync", "memo_conduit.dll"}), kExitConduitFailed)
      << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr("Cannot write"));
  // Every memo file there holds its memo whole.
  std::map<std::string, std::string> texts;
  for (const pdb::PdbRecord& r : before.records)
    if (!r.data.empty()) texts[std::to_string(r.unique_id)] = pdb::DecodeMemoRecord(r.data).text;
  for (const auto& entry : fs::recursive_directory_iterator(desktop_)) {
    const std::string id = entry.path().stem().stem().string();
    if (entry.is_regular_file() && texts.count(id) != 0) {
      EXPECT_EQ(ReadText(entry.path()), PalmToUtf8(texts[id])) << entry.path();
    }
  }
  const pdb::PdbDatabase after = MemoDB();
  ASSERT_EQ(after.records.size(), before.records.size());
  for (std::size_t i = 0; i < after.records.size(); ++i)
    EXPECT_EQ(after.records[i].attributes, before.records[i].attributes);
}

// A NewMemo.txt that cannot be a memo is left where it is, with a log line,
// and the synchronisation goes on: one of 65,535 bytes once became an empty
// memo marked done, a folder an empty memo, a NUL cut the text short, and a
// FIFO hung the synchronisation.
TEST_F(MemoExample, DroppedFilesThatAreNoMemoStayWhereTheyAre) {
  const fs::path dropped = desktop_ / "MemoPad" / "NewMemo.txt";
  ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();  // purges what the sample has deleted
  const std::size_t records = MemoDB().records.size();
  const auto refused = [&](const std::string& why) {
    ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();
    EXPECT_THAT(out_.str(), HasSubstr("Memo Pad: NewMemo.txt is not added, " + why +
                                      "; it is left where it is"));
    EXPECT_TRUE(fs::exists(dropped));
    EXPECT_FALSE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt.done"));
    EXPECT_EQ(MemoDB().records.size(), records);
  };
  std::ofstream(dropped, std::ios::binary) << std::string(65535, 'x');
  refused("it is longer than a memo holds (65535 bytes on the handheld, at most 65534)");
  std::ofstream(dropped, std::ios::binary) << std::string("Before\0after", 12);
  refused("it holds a NUL, which ends a memo");
  fs::remove(dropped);
  fs::create_directory(dropped);
  refused("it is not a regular file");
  fs::remove(dropped);
#ifndef _WIN32
  ASSERT_EQ(mkfifo(dropped.c_str(), 0600), 0);
  refused("it is not a regular file");
  fs::remove(dropped);
#endif
  // The longest memo that fits is added whole.
  std::ofstream(dropped, std::ios::binary) << std::string(65534, 'x');
  ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();
  EXPECT_EQ(pdb::DecodeMemoRecord(MemoDB().records.back().data).text, std::string(65534, 'x'));
  EXPECT_FALSE(fs::exists(dropped));
}

// The dropped memo is marked done only once the handheld has it: when the
// write-back fails after the memo was posted (the runner still writes it
// back), it is on the handheld and the desktop once, then and after the next
// run.
TEST_F(MemoExample, DroppedMemoIsAddedOnceWhenTheWriteBackFails) {
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt") << "Dropped on the desktop";
  EXPECT_EQ(RunOnFolders({"--fault", "SyncCloseDB=16385", "sync", "memo_conduit.dll"}),
            kExitConduitFailed)
      << out_.str();
  ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();
  int copies = 0;
  for (const pdb::PdbRecord& r : MemoDB().records)
    copies += !r.data.empty() && pdb::DecodeMemoRecord(r.data).text == "Dropped on the desktop";
  EXPECT_EQ(copies, 1);
  EXPECT_FALSE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt"));
}

// A non-empty folder named NewMemo.txt.done once made every run fail to set
// NewMemo.txt aside after adding its memo, and add it again: the memo is
// added once.
TEST_F(MemoExample, AFolderNamedNewMemoTxtDoneAddsNoCopies) {
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt") << "Dropped on the desktop";
  fs::create_directories(desktop_ / "MemoPad" / "NewMemo.txt.done" / "in the way");
  for (int run = 0; run < 3; ++run) ASSERT_EQ(Sync(), kExitOk) << out_.str();
  int copies = 0;
  for (const pdb::PdbRecord& r : MemoDB().records)
    copies += pdb::DecodeMemoRecord(r.data).text == "Dropped on the desktop";
  EXPECT_EQ(copies, 1);
}

// A run that fails after the dropped memo was appended and written back
// (here the archive of another memo cannot be written: a non-empty folder
// has its name): the next runs adopt that memo by its content instead of
// adding another copy, as every run did when NewMemo.txt could not be
// renamed. Once the archive can be written the memo is taken, once.
TEST_F(MemoExample, DroppedMemoOfAFailedRunIsAddedOnce) {
  const fs::path memos = desktop_ / "MemoPad" / "Memos";
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt") << "Dropped on the desktop";
  fs::path blocked;
  for (const pdb::PdbRecord& r : MemoDB().records)
    if ((r.attributes & 0x88) == 0x88)
      blocked = memos / (std::to_string(r.unique_id) + ".archived.txt");
  ASSERT_FALSE(blocked.empty());
  fs::create_directories(blocked / "in the way");
  const auto copies = [&] {
    int n = 0;
    for (const pdb::PdbRecord& r : MemoDB().records)
      n += !r.data.empty() && pdb::DecodeMemoRecord(r.data).text == "Dropped on the desktop";
    return n;
  };
  for (int run = 0; run < 3; ++run) {
    EXPECT_EQ(Sync(), kExitConduitFailed) << out_.str();
    EXPECT_THAT(out_.str(), HasSubstr(blocked.filename().string()));
    EXPECT_EQ(copies(), 1) << "run " << run;
  }
  fs::remove_all(blocked);
  ASSERT_EQ(Sync(), kExitOk) << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr("are on the handheld and are taken over, not made again"));
  EXPECT_EQ(copies(), 1);
  EXPECT_FALSE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt"));
  ASSERT_EQ(Sync(), kExitOk) << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr("MemoDB: 0 to the desktop, 0 to the handheld"));
  EXPECT_EQ(copies(), 1);
}

}  // namespace
}  // namespace fernwick::runner
