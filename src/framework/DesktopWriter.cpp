#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include <fernwick/framework/DesktopWriter.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fernwick/framework/Exceptions.h>

namespace fernwick {

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
std::string SystemMessage(int error) {
  return std::error_code(error, std::generic_category()).message();
}
#endif

// A name for a temporary file beside `path` that no other writer picks:
// ".<name>.<process>-<counter>-<random>.tmp".
fs::path TemporaryName(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
#ifdef _WIN32
  const unsigned long process = GetCurrentProcessId();
#else
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  const unsigned n = counter.fetch_add(1);
  char tail[64];
  std::snprintf(tail, sizeof tail, ".%lu-%u-%08x.tmp", process, n, seed ^ (n * 0x9E3779B9u));
  std::string name = ".";
  name += path.filename().string();
  name += tail;
  return path.parent_path() / name;
}

#ifdef _WIN32

std::string WindowsMessage(DWORD error) {
  return std::system_category().message(static_cast<int>(error));
}

#elif !defined(__linux__)

// Flushes the file or folder `path` to disk; the error number, or 0.
int FlushPath(const fs::path& path, bool folder) {
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (folder ? O_DIRECTORY : 0));
  if (fd < 0) return errno;
  int error = 0;
  while (::fsync(fd) != 0) {
    if (errno == EINTR) continue;
    // A folder that cannot be flushed this way (some file systems refuse)
    // has nothing more to give.
    if (!(folder && (errno == EINVAL || errno == EROFS))) error = errno;
    break;
  }
  ::close(fd);
  return error;
}

#endif

}  // namespace

void TDesktopWriter::MakeFolders(const fs::path& folder) {
  if (folder.empty()) return;
  std::error_code error;
  if (fs::is_directory(folder, error)) return;
  MakeFolders(folder.parent_path());
#ifdef _WIN32
  fs::create_directory(folder, error);
  if (error && !fs::is_directory(folder))
    throw EDorvConduitError("Cannot create folder " + folder.string() + ": " + error.message());
#else
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw EDorvConduitError("Cannot create folder " + folder.string() + ": " +
                            SystemMessage(errno));
  if (!fs::is_directory(folder))
    throw EDorvConduitError("Cannot create folder " + folder.string() +
                            ": a file of that name is there");
#endif
  Touched(folder.parent_path());
}

void TDesktopWriter::Write(const fs::path& path, const std::string& text) {
  const fs::path folder = path.parent_path();
  fs::path temporary;
#ifdef _WIN32
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = TemporaryName(path);
    // CREATE_NEW: never an existing file, nor one a link names.
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) break;
    error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND && attempt == 0) {
      MakeFolders(folder);
    } else if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  if (file == INVALID_HANDLE_VALUE)
    throw EDorvConduitError("Cannot create a temporary file for " + path.string() + ": " +
                            WindowsMessage(error));
  bool written = true;
  for (std::size_t done = 0; written && done < text.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 30));
    DWORD wrote = 0;
    written = WriteFile(file, text.data() + done, chunk, &wrote, nullptr) != 0 && wrote > 0;
    done += wrote;
  }
  written = written && FlushFileBuffers(file) != 0;
  CloseHandle(file);
  if (!written) {
    DeleteFileW(temporary.c_str());
    throw EDorvConduitError("Cannot write " + path.string() + " (the disk may be full)");
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
    DeleteFileW(temporary.c_str());
    throw EDorvConduitError("Cannot replace " + path.string() + ": " + WindowsMessage(error));
  }
#else
  int fd = -1;
  int error = 0;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(path);
    // O_EXCL | O_NOFOLLOW: never an existing file, never through a link
    // someone planted at the name.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) break;
    error = errno;
    // The folder is made when the first file in it cannot be created,
    // rather than looked up before every file.
    if (error == ENOENT && attempt == 0) {
      MakeFolders(folder);
    } else if (error != EEXIST && error != EINTR) {
      break;
    }
  }
  if (fd < 0)
    throw EDorvConduitError("Cannot create a temporary file for " + path.string() + ": " +
                            SystemMessage(error));
  error = 0;
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = wrote < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(wrote);
  }
  // A full disk may show only when the file is closed (network file
  // systems): checked there too.
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw EDorvConduitError("Cannot write " + path.string() + " (" +
                            (error == ENOSPC ? "the disk is full" : SystemMessage(error)) + ")");
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
    throw EDorvConduitError("Cannot replace " + path.string() + ": " + SystemMessage(error));
  }
  files_.push_back(path);
  Touched(folder);
#endif
}

void TDesktopWriter::Remove(const fs::path& path) {
  std::error_code error;
  if (fs::remove(path, error)) Touched(path.parent_path());
  if (error) throw EDorvConduitError("Cannot remove " + path.string() + ": " + error.message());
}

void TDesktopWriter::Rename(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    throw EDorvConduitError("Cannot rename " + from.string() + " to " + to.string() + ": " +
                            WindowsMessage(GetLastError()));
#else
  if (::rename(from.c_str(), to.c_str()) != 0)
    throw EDorvConduitError("Cannot rename " + from.string() + " to " + to.string() + ": " +
                            SystemMessage(errno));
  // Its data may never have been flushed by whoever wrote it.
  files_.push_back(to);
  Touched(from.parent_path());
  Touched(to.parent_path());
#endif
}

TDesktopWriter::~TDesktopWriter() {
#ifdef __linux__
  for (const auto& [device, fd] : file_systems_) ::close(fd);
#endif
}

void TDesktopWriter::Touched(const fs::path& folder) {
  if (!folders_.insert(folder).second) return;
#ifdef __linux__
  // The folder is opened when it is first written to, so that syncfs in
  // Commit reports any write-back error from then on.
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    throw EDorvConduitError("Cannot open folder " + folder.string() + ": " + SystemMessage(error));
  }
  for (const auto& [device, open] : file_systems_) {
    if (device == static_cast<std::uint64_t>(st.st_dev)) {
      ::close(fd);
      return;
    }
  }
  file_systems_.emplace_back(static_cast<std::uint64_t>(st.st_dev), fd);
#endif
}

void TDesktopWriter::Commit() {
#if defined(__linux__)
  // One syncfs per file system flushes every file and folder written, and
  // the disk's cache, in a few journal commits; an fsync of each file
  // costs a commit per file (six times as long for 2,000 memos, see
  // bench/whole-sync.sh).
  for (const auto& [device, fd] : file_systems_) {
    if (::syncfs(fd) != 0)
      throw EDorvConduitError("Cannot flush the desktop files to disk: " + SystemMessage(errno));
  }
  for (const auto& [device, fd] : file_systems_) ::close(fd);
  file_systems_.clear();
#elif !defined(_WIN32)
  // Files first, then the folders that name them: a folder entry on disk
  // never points at data that is not.
  for (const fs::path& file : files_) {
    if (const int error = FlushPath(file, false); error != 0)
      throw EDorvConduitError("Cannot flush " + file.string() +
                              " to disk: " + SystemMessage(error));
  }
  for (const fs::path& folder : folders_) {
    if (const int error = FlushPath(folder.empty() ? fs::path(".") : folder, true); error != 0)
      throw EDorvConduitError("Cannot flush folder " + folder.string() +
                              " to disk: " + SystemMessage(error));
  }
#endif
  files_.clear();
  folders_.clear();
}

void WriteFileAtomically(const fs::path& path, const std::string& text) {
  TDesktopWriter writer;
  writer.Write(path, text);
  writer.Commit();
}

}  // namespace fernwick
