// What the runner tells the user when things go wrong: the emulator's
// reasons in the HotSync log and on stderr, a database held by two files,
// a registration left behind, a folder the registry file cannot name, a
// conduit whose data module fails, a database left open; with --isolate, a
// conduit that prints, crashes, hangs or leaves a process behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "RunnerFixture.h"
#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/PdbFile.h"
#include "standins/runner/Runner.h"
#include "standins/runner/RunnerOptions.h"
#include "standins/runner/Temporaries.h"

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

class RunnerDiagnostics : public RunnerFixture {};

#ifndef _WIN32
// Sends this process's stdout and stderr to files while it lives.
class CapturedStdio {
 public:
  explicit CapturedStdio(const fs::path& folder)
      : out_file_(folder / "stdout.txt"), err_file_(folder / "stderr.txt") {
    std::fflush(nullptr);
    saved_out_ = ::dup(1);
    saved_err_ = ::dup(2);
    const int out = ::open(out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::close(out);
    ::close(err);
  }
  ~CapturedStdio() { Restore(); }
  void Restore() {
    if (saved_out_ < 0) return;
    std::fflush(nullptr);
    ::dup2(saved_out_, 1);
    ::dup2(saved_err_, 2);
    ::close(saved_out_);
    ::close(saved_err_);
    saved_out_ = saved_err_ = -1;
  }
  std::string Out() const { return ReadText(out_file_); }
  std::string Err() const { return ReadText(err_file_); }

 private:
  fs::path out_file_, err_file_;
  int saved_out_ = -1, saved_err_ = -1;
};

// True while process `pid` runs (a zombie has ended).
bool Running(const std::string& pid) {
  if (pid.empty() || ::kill(std::stoi(pid), 0) != 0) return false;
  const std::string stat = ReadText("/proc/" + pid + "/stat");
  const std::size_t end = stat.rfind(')');
  return end == std::string::npos || stat.compare(end, 3, ") Z") != 0;
}
#endif

// Waits (ten seconds at most) until process `pid` has ended; false when it
// still runs.
bool Ended(const std::string& pid) {
  if (pid.empty()) return true;
#ifdef _WIN32
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(pid));
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
#else
  for (int i = 0; i < 1000 && Running(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !Running(pid);
#endif
}

TEST_F(RunnerDiagnostics, TheEmulatorsReasonReachesTheLogAndStderr) {
  // MemoDB cut in the middle of its records.
  const fs::path memo = handheld_ / "MemoDB.pdb";
  fs::resize_file(memo, fs::file_size(memo) - 200);
  EXPECT_EQ(RunOnFolders({"sync", "memo_conduit.dll"}), kExitConduitFailed);
  EXPECT_THAT(out_.str(), HasSubstr("database \"MemoDB\" cannot be opened: "));
  EXPECT_THAT(err_.str(),
              HasSubstr("the handheld's last message: SyncOpenDB: database \"MemoDB\""));
  EXPECT_THAT(err_.str(), HasSubstr("[SYNCERR_UNKNOWN (0x4001)]"));
}

TEST_F(RunnerDiagnostics, AFailedOpenNamesTheDatabaseAndStatusBesideTheConduitsLine) {
  fs::remove(handheld_ / "MemoDB.pdb");
  EXPECT_EQ(RunOnFolders({"sync", "memo_conduit.dll"}), kExitConduitFailed);
  EXPECT_THAT(out_.str(), HasSubstr("SyncOpenDB: no database named \"MemoDB\" on the handheld "
                                    "(SYNCERR_NOT_FOUND, 0x4003)\nSyncOpenDB failed\n"));
}

TEST_F(RunnerDiagnostics, ADatabaseInTwoFilesIsServedFromTheFileNamedAfterIt) {
  // A stale copy that sorts first, with one memo fewer.
  pdb::PdbDatabase stale = pdb::ReadPdbFile(handheld_ / "MemoDB.pdb");
  stale.records.pop_back();
  pdb::WritePdbFileAtomically(handheld_ / "MemoDB-old.pdb", stale);
  const auto stale_bytes = fs::file_size(handheld_ / "MemoDB-old.pdb");

  EXPECT_EQ(RunOnFolders({"--sync-type", "slow", "sync", "memo_conduit.dll"}), kExitOk)
      << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr("database \"MemoDB\" is in two files: MemoDB.pdb is served "
                                    "(the file named after the database), MemoDB-old.pdb is "
                                    "left out"));
  EXPECT_EQ(fs::file_size(handheld_ / "MemoDB-old.pdb"), stale_bytes);
  EXPECT_EQ(pdb::ReadPdbFile(handheld_ / "MemoDB-old.pdb"), stale);
  // The real file is the one synchronised: its deleted memos are purged.
  for (const pdb::PdbRecord& r : pdb::ReadPdbFile(handheld_ / "MemoDB.pdb").records) {
    EXPECT_EQ(r.attributes & 0x80, 0);
  }
}

TEST_F(RunnerDiagnostics, ARegistrationLeftBehindIsEndedAndNamed) {
  EXPECT_EQ(RunOnFolders({"sync", "leftover_conduit.dll", "memo_conduit.dll"}), kExitOk)
      << err_.str();
  EXPECT_THAT(err_.str(), HasSubstr("conduit Leftover left its SyncRegisterConduit registration"));
  EXPECT_THAT(out_.str(), HasSubstr("OK Memo Pad"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("SyncRegisterConduit failed")));
}

TEST_F(RunnerDiagnostics, InfoOnAConduitWhoseModuleThrowsFails) {
  EXPECT_EQ(Run({"info", "throwing_conduit.dll"}), kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr("the conduit gives no name"));
}

TEST_F(RunnerDiagnostics, AStandInFolderWithALineBreakIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names hold no line breaks";
#else
  const fs::path odd = root_ / "stand\nins";
  fs::create_directories(odd);
  EXPECT_EQ(Run({"--hotsync-dir", odd.string(), "--handheld", handheld_.string(), "sync",
                 "minimal_conduit.dll"}),
            kExitLoadFailed);
  EXPECT_THAT(err_.str(), HasSubstr("contains a line break"));
#endif
}

// What a killed run left behind is removed by the next one: the write-back
// temporaries in the handheld folder and the runner's own temporaries of
// processes that no longer run. Nothing else is touched. (999999999 is a
// process id no system hands out.)
TEST_F(RunnerDiagnostics, TheNextRunRemovesWhatAKilledRunLeft) {
  std::ofstream(handheld_ / ".MemoDB.pdb.999999999-0.fwtmp") << "half a database";
  std::ofstream(handheld_ / "notes.fwtmp") << "not ours";
  const fs::path own = RunnerTemporaryFolder();
  fs::create_directories(own / "registry-999999999-abcdef");
  std::ofstream(own / "registry-999999999-abcdef" / "registry.reg") << "REGEDIT4\n";
  std::ofstream(own / "log-999999999-12345.log") << "old log";
  std::ofstream(own / "keep-999999999-1.txt") << "not ours";

  EXPECT_EQ(RunOnFolders({"sync", "minimal_conduit.dll"}), kExitOk) << err_.str();
  EXPECT_FALSE(fs::exists(handheld_ / ".MemoDB.pdb.999999999-0.fwtmp"));
  EXPECT_THAT(out_.str(), HasSubstr(".MemoDB.pdb.999999999-0.fwtmp: removed"));
  EXPECT_TRUE(fs::exists(handheld_ / "notes.fwtmp"));
  EXPECT_FALSE(fs::exists(own / "registry-999999999-abcdef"));
  EXPECT_FALSE(fs::exists(own / "log-999999999-12345.log"));
  EXPECT_TRUE(fs::exists(own / "keep-999999999-1.txt"));
  fs::remove(own / "keep-999999999-1.txt");
  // This run's own temporaries are gone with it.
#ifdef _WIN32
  std::string mine = "-";
  mine += std::to_string(_getpid());
  mine += '-';
#else
  std::string mine = "-";
  mine += std::to_string(getpid());
  mine += '-';
#endif
  for (const auto& entry : fs::directory_iterator(own)) {
    EXPECT_EQ(entry.path().filename().string().find(mine), std::string::npos) << entry.path();
  }
}

// With --isolate, a conduit that crashes and one that never returns are
// reported, and the conduit after them still runs.
TEST_F(RunnerDiagnostics, IsolatedConduitsThatCrashOrHangAreReported) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({"--handheld", handheld_.string(), "--timeout", "3", "sync", "crasher_conduit.dll",
                 "looper_conduit.dll", "minimal_conduit.dll"}),
            kExitConduitFailed)
      << err_.str();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  const std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("[1/3] crasher_conduit.dll: FAILED, "));
  EXPECT_THAT(out, HasSubstr("[2/3] looper_conduit.dll: FAILED, stopped after 3 s"));
  EXPECT_THAT(out, HasSubstr("[3/3] Minimal Example ("));
  EXPECT_THAT(out, HasSubstr("OK Minimal Example"));
}

// The child's report travels apart from stdout: a conduit that prints is
// reported by its own result, and what it prints passes straight through
// to the runner's stdout and stderr instead of being held.
TEST_F(RunnerDiagnostics, AnIsolatedConduitThatPrintsIsReportedByItsResult) {
#ifdef _WIN32
  EXPECT_EQ(RunOnFolders({"--isolate", "sync", "chatty_conduit.dll", kMinimalExample}), kExitOk)
      << err_.str();
#else
  CapturedStdio stdio(root_);
  const int status = RunOnFolders({"--isolate", "sync", "chatty_conduit.dll", kMinimalExample});
  stdio.Restore();
  EXPECT_EQ(status, kExitOk) << err_.str();
  EXPECT_EQ(stdio.Out(), "Chatty says hello on stdout\n");
  EXPECT_EQ(stdio.Err(), "Chatty says hello on stderr\n");
#endif
  EXPECT_THAT(out_.str(), HasSubstr("[1/2] Chatty ("));
  EXPECT_THAT(out_.str(), HasSubstr("[2/2] Minimal Example ("));
  EXPECT_THAT(out_.str(), Not(HasSubstr("FAILED")));
  EXPECT_THAT(out_.str() + err_.str(), Not(HasSubstr("Chatty says hello")));
}

// A timeout ends what the conduit started too: nothing of it writes after
// the runner went on.
TEST_F(RunnerDiagnostics, ATimeoutEndsTheProcessesTheConduitStarted) {
  EXPECT_EQ(RunOnFolders({"--timeout", "1", "sync", "forker_conduit.dll"}), kExitConduitFailed);
  EXPECT_THAT(out_.str(), HasSubstr("[1/1] forker_conduit.dll: FAILED, stopped after 1 s"));
  ASSERT_TRUE(fs::exists(desktop_ / "forker.pid"));
  EXPECT_TRUE(Ended(ReadText(desktop_ / "forker.pid")));
  EXPECT_FALSE(fs::exists(desktop_ / "forker.late"));
}

// A database a conduit left open is closed and named after it, the conduit
// counts as failed, and the next conduit opens that database as usual.
TEST_F(RunnerDiagnostics, ADatabaseLeftOpenIsClosedAndFailsItsConduit) {
  EXPECT_EQ(RunOnFolders({"sync", "leaker_conduit.dll", "memo_conduit.dll"}), kExitConduitFailed);
  const std::string out = out_.str();
  EXPECT_THAT(out, HasSubstr("[1/2] Leaker ("));
  EXPECT_THAT(out.substr(out.find("[1/2] Leaker (")), HasSubstr("FAILED"));
  EXPECT_THAT(out, HasSubstr("conduit Leaker left database \"MemoDB\" open"));
  EXPECT_THAT(err_.str(), HasSubstr("conduit Leaker left database \"MemoDB\" open"));
  EXPECT_THAT(out.substr(out.find("[2/2] Memo Pad (")), HasSubstr("ok"));
}

// After a failure the last message is the failure's own reason, not that of
// a call which failed because of it.
TEST_F(RunnerDiagnostics, TheLastMessageIsTheFirstFailureNotItsFollowOn) {
  EXPECT_EQ(RunOnFolders({"sync", "stumbler_conduit.dll"}), kExitConduitFailed);
  EXPECT_THAT(err_.str(), HasSubstr("the handheld's last message: SyncOpenDB: no database named "
                                    "\"NoSuchDB\" on the handheld [SYNCERR_NOT_FOUND"));
}

}  // namespace
}  // namespace fernwick::runner
