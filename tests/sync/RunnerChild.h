// The runner (fernwick-hotsync) as a child process of a test, for the tests
// that synchronise a conduit of the build through it and kill it with
// SIGKILL at chosen moments. POSIX only (fork).
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fernwick::testing {

namespace fs = std::filesystem;

// The positive number in environment variable `name`, else `fallback`.
inline int Knob(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int value = text == nullptr ? 0 : std::atoi(text);
  return value > 0 ? value : fallback;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A stamp of the files a synchronisation writes: any write changes it.
inline std::string Stamp(const std::vector<fs::path>& paths) {
  std::string stamp;
  for (const fs::path& p : paths) {
    struct stat s {};
    if (stat(p.c_str(), &s) == 0)
      stamp += std::to_string(s.st_ino) + ":" + std::to_string(s.st_mtim.tv_nsec) + ":" +
               std::to_string(s.st_size) + ";";
    stamp += "|";
  }
  return stamp;
}

// A fixture with a folder of its own: handheld/ (the emulator's .pdb files),
// desktop/, and home/ for the runner's registry file, never the user's.
class RunnerChild : public ::testing::Test {
 protected:
  explicit RunnerChild(const std::string& tag) {
    root_ = fs::temp_directory_path() / ("fernwick-" + tag + "-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "handheld");
    fs::create_directories(root_ / "desktop");
    fs::create_directories(root_ / "home");
    setenv("HOME", (root_ / "home").c_str(), 1);
    unsetenv("FERNWICK_REGISTRY");
    unsetenv("XDG_DATA_HOME");
    runner_ = fs::current_path() / "fernwick-hotsync";
  }
  ~RunnerChild() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Handheld() const { return root_ / "handheld"; }
  fs::path Desktop() const { return root_ / "desktop"; }

  // Starts a synchronisation of `type` (fast, slow, pctohh, hhtopc) with
  // the conduit library `conduit` of the test's folder; its output goes to
  // runner.txt, its HotSync log to hotsync.log.
  pid_t Start(const std::string& conduit, const std::string& type = "fast") {
    const std::string library = (fs::current_path() / conduit).string();
    const pid_t child = fork();
    if (child == 0) {
      const std::string out = (root_ / "runner.txt").string();
      if (!freopen(out.c_str(), "w", stdout) || !freopen(out.c_str(), "a", stderr)) _exit(120);
      execl(runner_.c_str(), runner_.c_str(), "--handheld", Handheld().c_str(), "--desktop",
            Desktop().c_str(), "--user", "Crash", "--sync-type", type.c_str(), "--log",
            (root_ / "hotsync.log").c_str(), "--no-log", "sync", library.c_str(),
            static_cast<char*>(nullptr));
      _exit(121);
    }
    return child;
  }
  // A synchronisation run to its end; false (with the reason added) unless
  // the runner says that it succeeded.
  bool SyncToTheEnd(const std::string& conduit, const std::string& type = "fast") {
    int status = 0;
    if (waitpid(Start(conduit, type), &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      ADD_FAILURE() << "the synchronisation failed: " << ReadFile(root_ / "runner.txt");
      return false;
    }
    return true;
  }
  // The HotSync log so far, which is then removed.
  std::string TakeLog() {
    std::string log = ReadFile(root_ / "hotsync.log");
    fs::remove(root_ / "hotsync.log");
    return log;
  }
  // Starts a fast synchronisation and kills it: after a random time within
  // `run_us` microseconds (`at_random`), else right after one of `watched`
  // is seen written or removed. True when the run ended before its kill.
  bool StartAndKill(const std::string& conduit, std::mt19937& random, long long run_us,
                    bool at_random, const std::vector<fs::path>& watched) {
    const pid_t child = Start(conduit);
    bool finished = false;
    if (at_random) {
      usleep(static_cast<useconds_t>(
          std::uniform_int_distribution<long long>(0, std::max<long long>(run_us, 1))(random)));
    } else {
      const fs::path& target = watched[random() % watched.size()];
      const std::string stamp = Stamp({target});
      for (;;) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
          finished = true;
          break;
        }
        if (Stamp({target}) != stamp) break;
      }
    }
    if (!finished) {  // a reaped child's id may be another process's by now
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    return finished;
  }

  fs::path root_;
  fs::path runner_;
};

}  // namespace fernwick::testing
