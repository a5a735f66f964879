// The Memo Pad example conduit run by the runner, in this process, against a
// copy of the sample handheld: what it leaves in the desktop folder, in the
// HotSync log and in the handheld's MemoDB.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

TEST_F(MemoExample, CopiesChangedMemosAndResetsTheFlags) {
  const pdb::PdbDatabase before = MemoDB();
  const pdb::MemoAppInfo info = pdb::DecodeMemoAppInfo(*before.app_info);
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt") << "Dropped on the desktop";

  ASSERT_EQ(Sync(), kExitOk) << err_.str() << out_.str();
  const std::string log = out_.str();
  EXPECT_THAT(log, HasSubstr("Memo Pad categories: " + info.categories.names[0] + ", " +
                             info.categories.names[1]));
  EXPECT_THAT(log, HasSubstr("OK Memo Pad"));

  // Every changed memo is on the desktop, under its id, as its record says.
  const fs::path memos = desktop_ / "MemoPad" / "Memos";
  int copied = 0, archived = 0, deleted = 0;
  for (const pdb::PdbRecord& r : before.records) {
    if ((r.attributes & 0xC0) == 0) {
      EXPECT_FALSE(fs::exists(memos / (std::to_string(r.unique_id) + ".txt")));
      continue;
    }
    const std::string id = std::to_string(r.unique_id);
    if ((r.attributes & 0x80) == 0) {
      EXPECT_EQ(ReadText(memos / (id + ".txt")), pdb::DecodeMemoRecord(r.data).text);
      ++copied;
    } else if ((r.attributes & 0x08) != 0) {
      EXPECT_EQ(ReadText(memos / (id + ".archived.txt")), pdb::DecodeMemoRecord(r.data).text);
      ++archived;
    } else {
      EXPECT_TRUE(fs::exists(memos / (id + ".deleted")));
      ++deleted;
    }
  }
  EXPECT_GT(copied, 0);
  EXPECT_EQ(archived, 1);
  EXPECT_EQ(deleted, 1);
  EXPECT_THAT(log,
              HasSubstr("Memo Pad: " + std::to_string(copied) + " copied, 1 archived, 1 deleted"));

  // The deleted memos are purged, the dropped memo is on the handheld, once,
  // and no record is dirty now.
  const pdb::PdbDatabase after = MemoDB();
  ASSERT_EQ(after.records.size(), before.records.size() - 2 + 1);
  for (const pdb::PdbRecord& r : after.records) EXPECT_EQ(r.attributes & 0x80, 0);
  EXPECT_EQ(pdb::DecodeMemoRecord(after.records.back().data).text, "Dropped on the desktop");
  for (const pdb::PdbRecord& r : after.records) EXPECT_EQ(r.attributes & 0x40, 0);
  EXPECT_TRUE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt.done"));

  // A second synchronisation finds nothing new.
  ASSERT_EQ(Sync(), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("Memo Pad: 0 copied, 0 archived, 0 deleted"));
  EXPECT_EQ(MemoDB().records.size(), after.records.size());
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
                 "ms [(]open [0-9.]+ ms in 1 call, reads [0-9.]+ ms in ([0-9]+) calls, "
                 "write-back [0-9.]+ ms in 1 call, other [0-9.]+ ms in [0-9]+ calls?[)] \\+ "
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
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt") << "Dropped on the desktop";
  const pdb::PdbDatabase before = MemoDB();

  EXPECT_EQ(RunOnFolders({"--sync-type", "slow", "sync", "memo_conduit.dll"}), kExitConduitFailed)
      << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr("Cannot write"));
  for (const auto& entry : fs::recursive_directory_iterator(desktop_)) {
    if (entry.is_regular_file() && entry.path().filename() != "NewMemo.txt") {
      EXPECT_GT(entry.file_size(), 0u) << entry.path();
    }
  }
  const pdb::PdbDatabase after = MemoDB();
  ASSERT_EQ(after.records.size(), before.records.size());
  for (std::size_t i = 0; i < after.records.size(); ++i)
    EXPECT_EQ(after.records[i].attributes, before.records[i].attributes);
  EXPECT_TRUE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt"));
}

// A NewMemo.txt that cannot be a memo is left where it is, with a log line,
// and the synchronisation goes on: one of 65,535 bytes once became an empty
// memo marked done, a folder an empty memo, a NUL cut the text short, and a
// FIFO hung the synchronisation.
TEST_F(MemoExample, DroppedFilesThatAreNoMemoStayWhereTheyAre) {
  const fs::path dropped = desktop_ / "MemoPad" / "NewMemo.txt";
  ASSERT_EQ(Sync(), kExitOk) << out_.str();  // purges what the sample has deleted
  const std::size_t records = MemoDB().records.size();
  const auto refused = [&](const std::string& why) {
    ASSERT_EQ(Sync(), kExitOk) << out_.str();
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
  ASSERT_EQ(Sync(), kExitOk) << out_.str();
  EXPECT_EQ(pdb::DecodeMemoRecord(MemoDB().records.back().data).text, std::string(65534, 'x'));
  EXPECT_TRUE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt.done"));
}

// The dropped memo is marked done only once the handheld has it: when the
// write-back fails, NewMemo.txt stays to be added by the next run.
TEST_F(MemoExample, DroppedMemoStaysWhenTheWriteBackFails) {
  std::ofstream(desktop_ / "MemoPad" / "NewMemo.txt") << "Dropped on the desktop";
  EXPECT_EQ(RunOnFolders({"--fault", "SyncCloseDB=16385", "sync", "memo_conduit.dll"}),
            kExitConduitFailed)
      << out_.str();
  EXPECT_TRUE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt"));
  EXPECT_FALSE(fs::exists(desktop_ / "MemoPad" / "NewMemo.txt.done"));
}

}  // namespace
}  // namespace fernwick::runner
