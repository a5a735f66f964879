#include "standins/runner/RunLog.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "standins/runner/Temporaries.h"
#include <fernwick/abi/SyncApi.h>

namespace fernwick::runner {

namespace {

using THsLogSetFile = std::int32_t(FW_CDECL*)(const char*);

// The log library's rendering of an activity-21 entry: "<name> synchronization
// failed", or "Synchronization failed" without a name.
bool IsAbortLine(const std::string& line) {
  constexpr std::string_view kWithName = " synchronization failed";
  constexpr std::string_view kAlone = "Synchronization failed";
  std::string_view view(line);
  if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
  return view == kAlone || (view.size() >= kWithName.size() &&
                            view.substr(view.size() - kWithName.size()) == kWithName);
}

}  // namespace

RunLog::~RunLog() {
  if (auto close = ProcAs<TLogCloseLog>(GetLibraryProc(handle_, "LogCloseLog"))) close();
  FreeLibraryHandle(handle_);
  if (temporary_) {
    std::error_code ec;
    std::filesystem::remove(file_, ec);
  }
}

std::string RunLog::Load(const std::string& folder, const std::optional<std::string>& file) {
  std::string library = folder + "hslog20.dll";
  handle_ = LoadLibraryHandle(library);
  if (handle_ == nullptr) {
    return PlatformLibraryName(library) +
           ": cannot load the HotSync log library: " + LastLibraryError();
  }
  auto set_file = ProcAs<THsLogSetFile>(GetLibraryProc(handle_, "HsLogSetFile"));
  auto init = ProcAs<TLogInit>(GetLibraryProc(handle_, "LogInit"));
  if (set_file == nullptr || init == nullptr) {
    return PlatformLibraryName(library) + ": not the HotSync log library (no HsLogSetFile)";
  }
  if (file) {
    file_ = *file;
  } else {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string name = RunTemporaryPrefix("log");
    name += std::to_string(stamp);
    name += ".log";
    try {
      file_ = (RunnerTemporaryFolder() / name).string();
    } catch (const std::exception& e) {
      return std::string("cannot make the runner's temporary folder: ") + e.what();
    }
    temporary_ = true;
  }
  set_file(file_.c_str());
  if (init() != 0) return "cannot write the HotSync log to " + file_;
  return "";
}

void RunLog::BeginConduit() {
  if (auto counters = ProcAs<TLogTestCounters>(GetLibraryProc(handle_, "LogTestCounters"))) {
    alerts_at_begin_ = counters();
  }
  size_at_begin_ = Text().size();
}

bool RunLog::ConduitAborted() {
  // The counter counts warnings too; an abort also shows its own line.
  auto counters = ProcAs<TLogTestCounters>(GetLibraryProc(handle_, "LogTestCounters"));
  if (counters != nullptr && counters() == alerts_at_begin_) return false;
  std::string text = Text();
  std::istringstream lines(text.size() > size_at_begin_ ? text.substr(size_at_begin_) : "");
  for (std::string line; std::getline(lines, line);) {
    if (IsAbortLine(line)) return true;
  }
  return false;
}

TLogAddEntry RunLog::AddEntry() const {
  return ProcAs<TLogAddEntry>(GetLibraryProc(handle_, "LogAddEntry"));
}

void RunLog::AddWarning(const std::string& text) const {
  if (auto add = AddEntry()) add(text.c_str(), slWarning, 0);
}

bool RunLog::ConduitWroteNothing() const { return Text().size() <= size_at_begin_; }

std::vector<std::string> RunLog::ConduitLines() const {
  std::string text = Text();
  std::istringstream in(text.size() > size_at_begin_ ? text.substr(size_at_begin_) : "");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

std::string RunLog::Text() const {
  std::ifstream in(file_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace fernwick::runner
