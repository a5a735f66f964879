// `sync --isolate`: each conduit runs in a child process (this runner again,
// with that one conduit), so that a conduit that crashes or never returns
// is reported and the others still run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "hotsync/runner/RunnerOptions.h"

namespace fernwick::runner {

// How a child process ended.
struct ChildOutcome {
  enum class Kind { kExited, kCrashed, kTimedOut, kNotStarted };
  Kind kind = Kind::kNotStarted;
  int code = 0;     // the exit status, or the signal / exception code
  std::string out;  // what it wrote to stdout
  std::string err;  // ... and to stderr
  std::string why;  // kNotStarted: the reason
};

// Runs `program` with `args`, its output collected, stopped after
// `timeout_seconds` (0: no limit).
ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& args,
                      int timeout_seconds);

// The arguments that make a child runner synchronise `conduit` alone as
// `options` asks.
std::vector<std::string> ChildArguments(const RunnerOptions& options, const std::string& conduit);

// Runs the sync command with every conduit isolated; returns the exit status
// as a sync in one process would.
int SyncIsolated(const RunnerOptions& options, std::ostream& out, std::ostream& err);

}  // namespace fernwick::runner
