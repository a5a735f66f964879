// The HotSync log library, loaded at run time like the component library
// loads it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "standins/hslog/HotSyncLogLibrary.h"
#include "tests/syncmgr/SyncLibrary.h"
#include <fernwick/abi/SyncApi.h>

namespace fernwick::testing {
namespace {

struct LogLibrary {
  LogLibrary()
      : lib("hslog20"),
#define FERNWICK_BIND(name, result, params) name(lib.Bind<T##name>(#name)),
        FERNWICK_LOG_FUNCTIONS(FERNWICK_BIND)
#undef FERNWICK_BIND
            HsLogSetFile(lib.Bind<decltype(&::HsLogSetFile)>("HsLogSetFile")) {
  }
  LoadedLibrary lib;
#define FERNWICK_MEMBER(name, result, params) T##name name;
  FERNWICK_LOG_FUNCTIONS(FERNWICK_MEMBER)
#undef FERNWICK_MEMBER
  decltype(&::HsLogSetFile) HsLogSetFile;
};

LogLibrary& Log() {
  static LogLibrary library;
  return library;
}

class HotSyncLog : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("fernwick-hslog-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".txt");
    ASSERT_EQ(log_.HsLogSetFile(path_.string().c_str()), leNoError);
  }
  void TearDown() override {
    log_.LogCloseLog();
    log_.HsLogSetFile(nullptr);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::vector<std::string> Lines() const {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  LogLibrary& log_ = Log();
  std::filesystem::path path_;
};

TEST_F(HotSyncLog, RendersTheActivityCodesOneLinePerEntry) {
  // The component library never calls LogInit: the first entry starts the run.
  EXPECT_EQ(log_.LogAddEntry("", slSyncStarted, 0), leNoError);
  EXPECT_EQ(log_.LogAddEntry("Copied 3 records", slText, 0), leNoError);
  EXPECT_EQ(log_.LogAddEntry("Memo Pad", slSyncFinished, 0), leNoError);
  EXPECT_EQ(log_.LogAddEntry("Address Book", slSyncAborted, 0), leNoError);
  EXPECT_EQ(log_.LogAddEntry("Two lines\nin one", slWarning, 0), leNoError);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("HotSync started ", 0), 0u) << lines[0];
  // "HotSync started YYYY-MM-DD HH:MM:SS"
  EXPECT_EQ(lines[0].size(), std::strlen("HotSync started ") + 19);
  EXPECT_EQ(lines[1], "Copied 3 records");
  EXPECT_EQ(lines[2], "OK Memo Pad");
  EXPECT_EQ(lines[3], "Address Book synchronization failed");
  EXPECT_EQ(lines[4], "Warning: Two lines in one");
  EXPECT_EQ(log_.LogTestCounters(), 2) << "one failure and one warning alert the user";
}

TEST_F(HotSyncLog, TimestampFlagAndNullText) {
  EXPECT_EQ(log_.LogAddEntry("stamped", slText, 1), leNoError);
  EXPECT_EQ(log_.LogAddEntry(nullptr, slSyncAborted, 0), leNoError);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  // "HH:MM:SS stamped"
  EXPECT_EQ(lines[1].size(), 9 + std::strlen("stamped"));
  EXPECT_EQ(lines[1].substr(9), "stamped");
  EXPECT_EQ(lines[2], "Synchronization failed");
}

TEST_F(HotSyncLog, ANewRunStartsAFreshFile) {
  ASSERT_EQ(log_.LogAddEntry("first run", slText, 0), leNoError);
  ASSERT_EQ(log_.LogCloseLog(), leNoError);
  ASSERT_EQ(log_.LogInit(), leNoError);
  ASSERT_EQ(log_.LogAddEntry("second run", slText, 0), leNoError);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "second run");
  EXPECT_EQ(log_.LogTestCounters(), 0);
}

TEST_F(HotSyncLog, BuffersAreFilledWithinTheirBounds) {
  ASSERT_EQ(log_.LogAddEntry("OK line", slText, 0), leNoError);
  char name[260];
  ASSERT_EQ(log_.LogGetWorkFileName(name), leNoError);
  EXPECT_EQ(std::string(name), path_.string());
  EXPECT_EQ(log_.LogGetWorkFileName(nullptr), leBadStream);

  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(log_.LogBuildRemoteLog(small, 5), 4);
  EXPECT_EQ(std::string(small), "HotS");
  EXPECT_EQ(small[5], 'x');
  char whole[256];
  const std::int32_t n = log_.LogBuildRemoteLog(whole, sizeof whole);
  EXPECT_EQ(std::string(whole, static_cast<std::size_t>(n)).substr(n - 8), "OK line\n");
  EXPECT_EQ(log_.LogBuildRemoteLog(nullptr, 10), 0);
  EXPECT_EQ(log_.LogSaveLog("Ada"), leNoError);
}

TEST_F(HotSyncLog, AnUnwritableFileIsABadStream) {
  ASSERT_EQ(log_.HsLogSetFile((path_.string() + "/no/such/folder/log.txt").c_str()), leNoError);
  EXPECT_EQ(log_.LogAddEntry("lost", slText, 0), leBadStream);
  EXPECT_EQ(log_.LogInit(), leBadStream);
}

}  // namespace
}  // namespace fernwick::testing
