// The runner's own temporaries (the registry file's folder on POSIX, the
// HotSync log when no --log is given) live in one folder,
// <temporary folder>/fernwick-hotsync, under names that carry the process
// id: "<kind>-<process id>-<unique part>". A run killed before it could
// clean up leaves them there; the next run removes those of processes that
// no longer run.
#pragma once

#include <filesystem>
#include <string>

namespace fernwick::runner {

// The folder, made when missing. Throws std::filesystem::filesystem_error
// when it cannot be made.
std::filesystem::path RunnerTemporaryFolder();

// "<kind>-<this process id>-" (the caller adds the unique part).
std::string RunTemporaryPrefix(const std::string& kind);

// Removes the entries of RunnerTemporaryFolder() whose process no longer
// runs; entries of other names and of running processes stay. Never throws.
void RemoveStaleRunTemporaries();

}  // namespace fernwick::runner
