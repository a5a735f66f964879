// Replacing a file so that a crash at any moment leaves either the old file
// or the new one, whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fernwick::pdb {

// Buffered writer into the temporary file of WriteFileAtomically.
class AtomicFileWriter {
 public:
  virtual ~AtomicFileWriter() = default;
  // Appends `size` bytes. Throws PdbError (naming the file) when the write
  // fails.
  virtual void Put(const std::uint8_t* data, std::size_t size) = 0;
};

// How WriteFileAtomically creates a file that does not exist yet.
struct AtomicWriteOptions {
  // POSIX permissions of a new file (the umask takes its bits off too); a
  // file that is replaced keeps its own. Windows has no such bits: ignored.
  unsigned new_file_mode = 0600;
};

// Writes `path` by calling `produce` with a writer on a temporary file in the
// same folder, flushing it to the disk (fsync / FlushFileBuffers) and
// renaming it over `path` (rename / MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); on POSIX the folder
// is synced too so that the rename itself is durable.
//
// The temporary file gets a name no other writer predicts (process id and a
// random part, see IsTemporaryFileName) and is created only when nothing of
// that name exists: O_CREAT | O_EXCL | O_NOFOLLOW (Windows: CREATE_NEW), so
// a file or link planted in the folder is never written through; a name
// taken is skipped for another. When `path` itself is a symbolic link, the
// link is replaced by the file, not followed.
//
// When `produce` throws or any step fails, the temporary file is removed,
// `path` is left as it was and the exception propagates (failures of the
// file system raise PdbError naming the file and the reason).
void WriteFileAtomically(const std::filesystem::path& path,
                         const std::function<void(AtomicFileWriter&)>& produce,
                         const AtomicWriteOptions& options = {});

// Writes `contents` as the whole of `path`, as above.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         const AtomicWriteOptions& options = {});

// True for the names of the temporary files that WriteFileAtomically creates
// (".<file name>.<process id>-<random hex>.fwtmp"). One may remain after a crash; a
// program that treats every file of a folder as a database must skip them.
bool IsTemporaryFileName(const std::filesystem::path& path);

// Removes from `folder` the temporary files of WriteFileAtomically left by
// processes that no longer run (a crash or a kill mid-write); files of
// running processes, this one included, and every other file stay. Returns
// the names removed. Never throws for a file that cannot be removed.
std::vector<std::string> RemoveStaleTemporaryFiles(const std::filesystem::path& folder);

// True when the process `pid` runs (or cannot be told not to).
bool ProcessRuns(unsigned pid);

// This process's id, as temporary names carry it.
unsigned CurrentProcessId();

}  // namespace fernwick::pdb
