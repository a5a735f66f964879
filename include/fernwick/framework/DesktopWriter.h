/// @file
/// Durable atomic writes of desktop files: a file is replaced whole or not
/// at all, and Commit makes a group of writes durable together.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fernwick {

/// Desktop files written whole, kept private and made durable together.
///
/// Each file is written to a temporary file of a unique name in its own
/// folder, created afresh (never an existing file, never through a symbolic
/// link) with mode 0600, and renamed over the file, so a reader never sees
/// half a file and nobody else can plant or read the temporary. Folders that
/// are missing are made with mode 0700. (The modes hold on POSIX systems; on
/// Windows the files take their folder's permissions.)
///
/// Durability is gathered up: Write and Remove leave the flush to disk to
/// Commit, and whatever on the handheld depends on the desktop files (a
/// purge, a reset of the change flags) must wait for Commit to return. On
/// Linux Commit is one syncfs per file system written to, the cheapest
/// durable order that bench/whole-sync.sh found for thousands of small files;
/// on other POSIX systems an fsync of every file written, then of every
/// folder touched. On Windows each file is flushed before its rename, which
/// is written through, and Commit has nothing left to do.
class TDesktopWriter {
 public:
  TDesktopWriter() = default;
  ~TDesktopWriter();
  TDesktopWriter(const TDesktopWriter&) = delete;
  TDesktopWriter& operator=(const TDesktopWriter&) = delete;

  /// Writes `text` to `path` as above; durable after the next Commit.
  /// Raises EDorvConduitError (<fernwick/framework/Exceptions.h>) naming
  /// `path` when it cannot (the temporary file is removed then).
  void Write(const std::filesystem::path& path, const std::string& text);
  /// Removes the file `path` if there is one; durable after the next Commit.
  void Remove(const std::filesystem::path& path);
  /// Renames the file `from` to `to` (on the same file system), replacing a
  /// file of that name: atomic, so that no moment shows neither name or
  /// both; durable after the next Commit. Raises EDorvConduitError naming
  /// both when it cannot.
  void Rename(const std::filesystem::path& from, const std::filesystem::path& to);
  /// Makes every folder of `folder` that is missing, mode 0700; durable
  /// after the next Commit.
  void MakeFolders(const std::filesystem::path& folder);
  /// Flushes to disk every file written since the last Commit, then every
  /// folder written, made or removed from. Raises EDorvConduitError naming
  /// the file or folder that cannot be flushed.
  void Commit();

 private:
  /// Notes a folder whose entries changed.
  void Touched(const std::filesystem::path& folder);

  std::vector<std::filesystem::path> files_;
  std::set<std::filesystem::path> folders_;
  /// Linux: per file system written to, its device and an open folder on it.
  std::vector<std::pair<std::uint64_t, int>> file_systems_;
};

/// Writes `text` to `path` through a TDesktopWriter and commits it: on
/// return the file is whole and on disk. Raises EDorvConduitError when it
/// cannot.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace fernwick
