// `sync --isolate`: each conduit runs in a child process (this runner again,
// with that one conduit), so that a conduit that crashes or never returns
// is reported and the others still run.
//
// The child's own output (its progress lines, its HotSync log, its error
// lines) reaches the parent through a pipe of its own, in frames, never
// through stdout: the conduit's stdout and stderr are the parent's, passed
// through as they come and never held.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "standins/runner/RunnerOptions.h"

namespace fernwick::runner {

// The first argument of a child runner, followed by the pipe it reports
// through (a file descriptor, or on Windows a handle, in decimal). Given by
// SyncIsolated only; not a user's option.
inline constexpr const char* kReportOption = "--report-to";

// How a child process ended.
struct ChildOutcome {
  enum class Kind { kExited, kCrashed, kTimedOut, kNotStarted };
  Kind kind = Kind::kNotStarted;
  int code = 0;     // the exit status, or the signal / exception code
  std::string why;  // kNotStarted: the reason
};

// Receives the child's report as it comes: `stream` is 'o' for what the
// child runner printed to its `out`, 'e' for its `err`.
using ReportSink = std::function<void(char stream, std::string_view text)>;

// Runs `program` with kReportOption, the report pipe and `args`, passing
// every piece of its report to `sink`; stdin, stdout and stderr are this
// process's. The child runs in a process group (Windows: a job) of its own:
// after `timeout_seconds` (0: no limit) the whole group is killed, and once
// the child has ended, whatever it started and left running is killed too.
ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& args,
                      int timeout_seconds, const ReportSink& sink);

// The arguments that make a child runner synchronise `conduit` alone as
// `options` asks (without kReportOption, which RunChild adds).
std::vector<std::string> ChildArguments(const RunnerOptions& options, const std::string& conduit);

// Runs the sync command with every conduit isolated; returns the exit status
// as a sync in one process would.
int SyncIsolated(const RunnerOptions& options, std::ostream& out, std::ostream& err);

// The child's side of the report pipe: the streams the child runner prints
// its output and its error lines to. Writing to a parent that has gone
// fails quietly; the child finishes its sync all the same.
class ReportToParent {
 public:
  // Takes over the pipe named by `pipe_text` (the argument after
  // kReportOption) and keeps it from the processes a conduit starts. Throws
  // UsageError when it names no pipe.
  explicit ReportToParent(const std::string& pipe_text);
  ~ReportToParent();
  ReportToParent(const ReportToParent&) = delete;
  ReportToParent& operator=(const ReportToParent&) = delete;

  std::ostream& Out();
  std::ostream& Err();

 private:
  struct Streams;
  std::unique_ptr<Streams> streams_;
};

}  // namespace fernwick::runner
