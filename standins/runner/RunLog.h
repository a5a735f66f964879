// The runner's side of the HotSync log of one run (the log itself is kept
// by the log library, hslog20, in standins/hslog/): RunLog loads hslog20 from
// the HotSync folder, names the file the run's log goes to, starts the run,
// adds the runner's own lines and reads the log back to print it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/framework/DynLib.h>

namespace fernwick::runner {

class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  // Closes the run, removes a temporary log file and unloads the library.
  ~RunLog();

  // Loads hslog20 from `folder` (with a trailing delimiter) and starts a
  // run whose log goes to `file` (default: a temporary file, removed at the
  // end). Returns "" or one line saying why not.
  std::string Load(const std::string& folder, const std::optional<std::string>& file);

  // Marks the start of one conduit's run.
  void BeginConduit();

  // True when the conduit run since BeginConduit was reported aborted in the
  // log (an activity-21 entry).
  bool ConduitAborted();

  // The log library's LogAddEntry (null before Load), for the emulator's
  // warnings and the runner's own additional lines.
  TLogAddEntry AddEntry() const;

  // Adds `text` to the log as a warning (activity 22).
  void AddWarning(const std::string& text) const;
  // True when nothing was added to the log since BeginConduit.
  bool ConduitWroteNothing() const;
  // The lines added to the log since BeginConduit, as the log shows them
  // (a warning begins with "Warning: ").
  std::vector<std::string> ConduitLines() const;

  // The whole log so far.
  std::string Text() const;

 private:
  TLibHandle handle_ = nullptr;
  std::string file_;
  bool temporary_ = false;
  std::int32_t alerts_at_begin_ = 0;
  std::size_t size_at_begin_ = 0;
};

}  // namespace fernwick::runner
