// fernwick-hotsync's commands: sync, info and configure.
#pragma once

#include <ostream>

#include "standins/runner/RunnerOptions.h"

namespace fernwick::runner {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitConduitFailed = 1;  // a conduit failed (activity 21), or configure cancelled
constexpr int kExitUsage = 2;
constexpr int kExitLoadFailed = 3;  // a conduit or a stand-in could not be loaded or set up

// Runs the command of `options`. Progress, answers and the HotSync log go
// to `out`; one line per problem goes to `err`. Returns the exit status.
int RunCommand(const RunnerOptions& options, std::ostream& out, std::ostream& err);

}  // namespace fernwick::runner
