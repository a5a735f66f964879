// The HotSync log library: writes the log of one synchronisation to a text
// file, one line per entry, headed by the date and time the run started.
// Every line is flushed as it is written, so a run that crashes keeps its log.
#include "standins/hslog/HotSyncLogLibrary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <fernwick/abi/SyncApi.h>

using namespace fernwick;

#define FERNWICK_EXPORT_DECL(name, result, params) extern "C" FW_EXPORT result FW_CDECL name params;
FERNWICK_LOG_FUNCTIONS(FERNWICK_EXPORT_DECL)
#undef FERNWICK_EXPORT_DECL

namespace {

// The size of the file-name buffer LogGetWorkFileName fills: the desktop's
// longest path, MAX_PATH.
constexpr std::size_t kMaxPath = 260;

struct LogState {
  std::mutex mutex;
  std::string path_override;
  std::ofstream file;
  std::string path;
  bool running = false;
  std::vector<std::string> lines;
  std::int32_t alerts = 0;
};

LogState& State() {
  static LogState state;
  return state;
}

std::string LogPath(const LogState& s) {
  if (!s.path_override.empty()) return s.path_override;
  const char* env = std::getenv(kHotSyncLogEnvVar);
  if (env != nullptr && *env != '\0') return env;
  return kDefaultLogFile;
}

// The local time as "YYYY-MM-DD HH:MM:SS", or "HH:MM:SS" alone.
std::string LocalTime(bool with_date) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[32];
  const std::size_t n = with_date ? std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local)
                                  : std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return std::string(text, n);
}

void EndRun(LogState& s) {
  if (s.file.is_open()) s.file.close();
  s.running = false;
}

// Starts a run: truncates the log file and writes its heading line.
std::int32_t StartRun(LogState& s) {
  EndRun(s);
  s.path = LogPath(s);
  s.lines.clear();
  s.alerts = 0;
  s.file.open(s.path, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!s.file) return leBadStream;
  s.running = true;
  const std::string heading = "HotSync started " + LocalTime(true);
  s.file << heading << '\n';
  s.file.flush();
  s.lines.push_back(heading);
  return s.file ? leNoError : leBadStream;
}

// The line an entry shows in the log; empty when it shows none.
std::string Render(std::string text, TActivity activity) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  switch (activity) {
    case slSyncStarted:
      // A conduit marks its start with an empty text; only a text shows.
      return text;
    case slSyncFinished:
      return "OK " + text;
    case slSyncAborted:
      return text.empty() ? "Synchronization failed" : text + " synchronization failed";
    case slWarning:
      return "Warning: " + text;
    default:
      return text;
  }
}

template <typename Body>
std::int32_t Guarded(Body&& body) noexcept {
  try {
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return body(s);
  } catch (...) {
    return leBadStream;
  }
}

}  // namespace

std::int32_t LogInit() {
  return Guarded([](LogState& s) { return StartRun(s); });
}

std::int32_t LogUnInit() {
  return Guarded([](LogState& s) {
    EndRun(s);
    return static_cast<std::int32_t>(leNoError);
  });
}

std::int32_t LogAddEntry(const char* text, TActivity activity, std::uint8_t timestamp) {
  return Guarded([&](LogState& s) {
    if (!s.running) {
      if (const std::int32_t status = StartRun(s); status != leNoError) return status;
    }
    if (activity == slSyncAborted || activity == slWarning) ++s.alerts;
    std::string line = Render(text != nullptr ? text : "", activity);
    if (line.empty()) return static_cast<std::int32_t>(leNoError);
    if (timestamp != 0) line = LocalTime(false) + " " + line;
    s.file << line << '\n';
    s.file.flush();
    s.lines.push_back(line);
    return static_cast<std::int32_t>(s.file ? leNoError : leBadStream);
  });
}

std::int32_t LogSaveLog(const char*) {
  return Guarded([](LogState& s) {
    if (s.running) s.file.flush();
    return static_cast<std::int32_t>(!s.running || s.file ? leNoError : leBadStream);
  });
}

std::int32_t LogGetWorkFileName(char* file_name) {
  return Guarded([&](LogState& s) {
    if (file_name == nullptr) return static_cast<std::int32_t>(leBadStream);
    const std::string path = s.running ? s.path : LogPath(s);
    const std::size_t n = std::min(path.size(), kMaxPath - 1);
    std::memcpy(file_name, path.data(), n);
    file_name[n] = '\0';
    return static_cast<std::int32_t>(leNoError);
  });
}

std::int32_t LogBuildRemoteLog(char* buffer, std::int32_t size) {
  return Guarded([&](LogState& s) -> std::int32_t {
    if (buffer == nullptr || size <= 0) return 0;
    std::string text;
    for (const auto& line : s.lines) text += line + "\n";
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<std::int32_t>(n);
  });
}

std::int32_t LogTestCounters() {
  return Guarded([](LogState& s) { return s.alerts; });
}

std::int32_t LogCloseLog() {
  return Guarded([](LogState& s) {
    EndRun(s);
    return static_cast<std::int32_t>(leNoError);
  });
}

std::int32_t HsLogSetFile(const char* path) {
  return Guarded([&](LogState& s) {
    EndRun(s);
    s.path_override = path != nullptr ? path : "";
    return static_cast<std::int32_t>(leNoError);
  });
}
