// A process killed with SIGKILL in the middle of the emulator's write-backs
// leaves every database file whole: the old version or the new one. POSIX
// only (fork).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>

#include "HandheldFolder.h"
#include "SyncLibrary.h"
#include "hotsync/pdb/PdbFile.h"

namespace fernwick::testing {
namespace {

constexpr int kDatabases = 3;
constexpr int kRecords = 300;

std::string Payload(int generation, int index) {
  std::string text = "generation " + std::to_string(generation) + " record " + std::to_string(index) + " ";
  text.resize(100, '.');
  return text;
}

// Rewrites every record of every database with a new generation, over and
// over, until killed.
[[noreturn]] void RewriteForever(SyncLibrary& sync, const std::string& folder) {
  if (sync.EmuAttachHandheld(folder.c_str()) != 0) _exit(2);
  std::uint8_t buffer[256];
  for (int generation = 1;; ++generation) {
    for (int d = 0; d < kDatabases; ++d) {
      std::uint8_t handle = 0;
      const std::string name = "Crash" + std::to_string(d);
      if (sync.SyncOpenDB(name.c_str(), 0, &handle, eDbRead | eDbWrite) != 0) _exit(3);
      for (int i = 0; i < kRecords; ++i) {
        TRawRecordInfo rec{};
        rec.FileHandle = handle;
        rec.RecIndex = static_cast<std::uint16_t>(i);
        rec.TotalBytes = sizeof buffer;
        rec.Bytes = buffer;
        if (sync.SyncReadRecordByIndex(&rec) != 0) _exit(4);
        const std::string text = Payload(generation, i);
        std::memcpy(buffer, text.data(), text.size());
        rec.RecSize = static_cast<std::uint32_t>(text.size());
        rec.Attribs = eRecAttrDirty;
        if (sync.SyncWriteRec(&rec) != 0) _exit(5);
      }
      if (sync.SyncCloseDB(handle) != 0) _exit(6);
    }
  }
}

TEST(EmulatorCrash, KilledWriteBacksLeaveEveryFileWhole) {
  SyncLibrary& sync = SyncLibrary::Get();
  HandheldFolder folder;
  for (int d = 0; d < kDatabases; ++d) {
    pdb::PdbDatabase db;
    db.name = "Crash" + std::to_string(d);
    db.type = pdb::FourCC("DATA");
    db.creator = pdb::FourCC("crsh");
    for (int i = 0; i < kRecords; ++i) {
      db.records.push_back({0, static_cast<std::uint32_t>(i + 1), Text(Payload(0, i))});
    }
    folder.Write("crash" + std::to_string(d) + ".pdb", db);
  }

  std::mt19937 random(12345);
  // Kills land at random moments within the first `max_delay_us` of a child's
  // life; the window widens until write-backs complete (a sanitizer build
  // is much slower).
  int max_delay_us = 20000;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  int kills = 0;
  int newest_generation = 0;
  while (kills < 250 && std::chrono::steady_clock::now() < deadline) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) RewriteForever(sync, folder.PathText());
    usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(0, max_delay_us)(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself with " << WEXITSTATUS(status);
    ++kills;
    if (kills % 20 == 0 && newest_generation == 0 && max_delay_us < 1000000) max_delay_us *= 2;

    for (int d = 0; d < kDatabases; ++d) {
      const auto path = folder.File("crash" + std::to_string(d) + ".pdb");
      pdb::PdbDatabase db;
      ASSERT_NO_THROW(db = pdb::ReadPdbFile(path)) << "after kill " << kills;
      ASSERT_EQ(db.records.size(), static_cast<std::size_t>(kRecords));
      // Every record of a file comes from the same write-back.
      const std::string first(db.records[0].data.begin(), db.records[0].data.end());
      const int generation = std::stoi(first.substr(std::strlen("generation ")));
      newest_generation = std::max(newest_generation, generation);
      for (int i = 0; i < kRecords; ++i) {
        ASSERT_EQ(db.records[i].data, Text(Payload(generation, i))) << "file " << d << " record " << i;
      }
    }
  }
  RecordProperty("kills", kills);
  RecordProperty("newest_generation", newest_generation);
  EXPECT_GE(kills, 50);
  EXPECT_GT(newest_generation, 0) << "no write-back ever completed: the kills tested nothing";
  // Whatever the kills left behind is never taken for a database.
  ASSERT_EQ(sync.EmuAttachHandheld(folder.PathText().c_str()), 0);
  CDbList list[8]{};
  std::int32_t count = 8;
  ASSERT_EQ(sync.SyncReadDBList(0, 0, 1, list, &count), 0);
  EXPECT_EQ(count, kDatabases);
  EXPECT_EQ(sync.EmuDetachHandheld(), 0);
}

}  // namespace
}  // namespace fernwick::testing
