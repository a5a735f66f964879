// A process killed with SIGKILL in the middle of the emulator's write-backs
// leaves every database file whole: the old version or the new one. POSIX
// only (fork).
//
// Each child reports every completed write-back through a pipe; the parent
// waits for two (so that every kill follows completed write-backs, however
// slow the build), then kills at a random moment within one write-back's
// time. FERNWICK_CRASH_KILLS (default 250) and FERNWICK_CRASH_SECONDS
// (default 40) set how many kills and for how long, for longer runs.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "HandheldFolder.h"
#include "SyncLibrary.h"
#include "standins/pdb/PdbFile.h"

namespace fernwick::testing {
namespace {

constexpr int kDatabases = 3;
constexpr int kRecords = 300;

std::string Payload(int generation, int index) {
  std::string text =
      "generation " + std::to_string(generation) + " record " + std::to_string(index) + " ";
  text.resize(100, '.');
  return text;
}

// A positive number from the environment variable `name`, or `fallback`.
int Knob(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int value = text == nullptr ? 0 : std::atoi(text);
  return value > 0 ? value : fallback;
}

// Rewrites every record of every database with a new generation, over and
// over, until killed; writes one byte to `done` after every write-back.
[[noreturn]] void RewriteForever(SyncLibrary& sync, const std::string& folder, int done) {
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
      const char byte = 1;
      if (write(done, &byte, 1) != 1) _exit(7);
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
  const int wanted_kills = Knob("FERNWICK_CRASH_KILLS", 250);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(Knob("FERNWICK_CRASH_SECONDS", 40));
  int kills = 0;
  int write_backs = 0;
  int newest_generation = 0;
  // Reads one byte from `fd` within 60 s.
  auto await = [](int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte = 0;
    return poll(&p, 1, 60000) == 1 && read(fd, &byte, 1) == 1;
  };
  while (kills < wanted_kills && std::chrono::steady_clock::now() < deadline) {
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipe_fds[0]);
      RewriteForever(sync, folder.PathText(), pipe_fds[1]);
    }
    close(pipe_fds[1]);
    const bool one = await(pipe_fds[0]);
    const auto started = std::chrono::steady_clock::now();
    const bool second = one && await(pipe_fds[0]);
    const auto period = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
    if (second) {
      write_backs += 2;
      usleep(static_cast<useconds_t>(
          std::uniform_int_distribution<long long>(0, std::max<long long>(period, 1))(random)));
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(pipe_fds[0]);
    ASSERT_TRUE(second) << "the child completed no write-backs within a minute";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself with " << WEXITSTATUS(status);
    ++kills;

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
        ASSERT_EQ(db.records[i].data, Text(Payload(generation, i)))
            << "file " << d << " record " << i;
      }
    }
  }
  RecordProperty("kills", kills);
  RecordProperty("newest_generation", newest_generation);
  RecordProperty("write_backs", write_backs);
  EXPECT_GE(kills, std::min(wanted_kills, 50));
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
