// The runner's own temporaries (the registry file's folder on POSIX, the
// HotSync log when no --log is given, the output of --isolate's children)
// live in one folder of the user's own, under names that carry the process
// id: "<kind>-<process id>-<unique part>". A run killed before it could
// clean up leaves them there; the next run removes those of processes that
// no longer run.
//
// The folder:
// - POSIX: $XDG_RUNTIME_DIR/fernwick-hotsync when XDG_RUNTIME_DIR names an
//   absolute folder of the user's own that no one else may write to; else
//   <temporary folder>/fernwick-hotsync-<user id> ($TMPDIR, else /tmp).
//   The runner makes it with mode 0700 and, before every use, checks that it
//   is a folder (not a symbolic link), owned by the user, with no permission
//   for group or others, in a parent that others cannot rename it in (owned
//   by the user or root, or with the sticky bit). A folder that fails is
//   refused, never used or changed: another user could swap what the runner
//   writes there, such as the registry file that tells the conduits where
//   the stand-ins are.
// - Windows: <temporary folder>\fernwick-hotsync (%TEMP% is the user's own).
#pragma once

#include <filesystem>
#include <string>

namespace fernwick::runner {

// The folder, made when missing. Throws std::runtime_error with a one-line
// reason (naming the folder) when it cannot be made or is refused.
std::filesystem::path RunnerTemporaryFolder();

// "<kind>-<this process id>-" (the caller adds the unique part).
std::string RunTemporaryPrefix(const std::string& kind);

// Removes the entries of RunnerTemporaryFolder() whose process no longer
// runs; entries of other names and of running processes stay, and a folder
// that is missing or refused is left alone. Never throws.
void RemoveStaleRunTemporaries();

}  // namespace fernwick::runner
