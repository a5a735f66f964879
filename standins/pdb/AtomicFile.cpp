#include "standins/pdb/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "standins/pdb/PdbError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fernwick::pdb {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr const char* kTempSuffix = ".fwtmp";

// How many taken names a write skips before it gives up.
constexpr int kNameAttempts = 64;

std::atomic<std::uint64_t> temp_counter{0};

// 64 bits no other process predicts. The counter keeps two names of this
// process apart should the random source repeat itself.
std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  try {
    std::random_device device;
    bits = (std::uint64_t{device()} << 32) ^ device();
  } catch (...) {
    // No random source: the clock still makes the name hard to guess.
  }
  bits ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return bits ^ (temp_counter++ * 0x9E3779B97F4A7C15ull);
}

std::filesystem::path TemporaryPathFor(const std::filesystem::path& path) {
  char random[17];
  std::snprintf(random, sizeof random, "%016llx", static_cast<unsigned long long>(RandomBits()));
  std::string name = ".";
  name += path.filename().string();
  name += '.';
  name += std::to_string(CurrentProcessId());
  name += '-';
  name += random;
  name += kTempSuffix;
  return path.parent_path() / name;
}

#ifdef _WIN32

std::string LastErrorText() {
  DWORD code = GetLastError();
  char buf[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == '.')) buf[--n] = 0;
  return n > 0 ? std::string(buf) : "Windows error " + std::to_string(code);
}

class FileHandle final : public AtomicFileWriter {
 public:
  // Creates a temporary file for `target`; Path() tells its name.
  FileHandle(const std::filesystem::path& target, const AtomicWriteOptions&) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      path_ = TemporaryPathFor(target);
      handle_ = CreateFileW(path_.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) break;
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (handle_ == INVALID_HANDLE_VALUE) Fail("cannot create the temporary file");
    buffer_.reserve(kBufferSize);
  }
  const std::filesystem::path& Path() const { return path_; }
  ~FileHandle() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  void Put(const std::uint8_t* data, std::size_t size) override {
    if (buffer_.size() + size > kBufferSize) Drain();
    if (size >= kBufferSize) {
      WriteAll(data, size);
    } else {
      buffer_.insert(buffer_.end(), data, data + size);
    }
  }
  void Finish() {
    Drain();
    if (!FlushFileBuffers(handle_)) Fail("cannot flush the temporary file");
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) Fail("cannot close the temporary file");
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw PdbError(path_.string() + ": " + what + ": " + LastErrorText());
  }

 private:
  void Drain() {
    WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  void WriteAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_, data, chunk, &written, nullptr) || written == 0) {
        Fail("cannot write the temporary file");
      }
      data += written;
      size -= written;
    }
  }

  std::filesystem::path path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::vector<std::uint8_t> buffer_;
};

void Replace(const std::filesystem::path& temp, const std::filesystem::path& path) {
  if (!MoveFileExW(temp.wstring().c_str(), path.wstring().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw PdbError(path.string() + ": cannot replace the file: " + LastErrorText());
  }
}

#else

std::string ErrnoText(int error) { return std::strerror(error); }

class FileHandle final : public AtomicFileWriter {
 public:
  // Creates a temporary file for `target`; Path() tells its name.
  FileHandle(const std::filesystem::path& target, const AtomicWriteOptions& options) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      path_ = TemporaryPathFor(target);
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   static_cast<mode_t>(options.new_file_mode & 07777));
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) Fail("cannot create the temporary file");
    // The replacement keeps the permissions of the file it replaces (a link
    // is replaced, not followed: its target's bits are not taken).
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      (void)::fchmod(fd_, st.st_mode & 07777);
    }
    buffer_.reserve(kBufferSize);
  }
  const std::filesystem::path& Path() const { return path_; }
  ~FileHandle() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void Put(const std::uint8_t* data, std::size_t size) override {
    if (buffer_.size() + size > kBufferSize) Drain();
    if (size >= kBufferSize) {
      WriteAll(data, size);
    } else {
      buffer_.insert(buffer_.end(), data, data + size);
    }
  }
  void Finish() {
    Drain();
    if (::fsync(fd_) != 0) Fail("cannot flush the temporary file");
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail("cannot close the temporary file");
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw PdbError(path_.string() + ": " + what + ": " + ErrnoText(errno));
  }

 private:
  void Drain() {
    WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  void WriteAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail("cannot write the temporary file");
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  std::filesystem::path path_;
  int fd_ = -1;
  std::vector<std::uint8_t> buffer_;
};

void Replace(const std::filesystem::path& temp, const std::filesystem::path& path) {
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    throw PdbError(path.string() + ": cannot replace the file: " + ErrnoText(errno));
  }
  // Makes the rename durable; a folder that cannot be synced (some file
  // systems refuse) does not undo the write.
  std::filesystem::path dir = path.parent_path();
  int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
}

#endif

}  // namespace

void WriteFileAtomically(const std::filesystem::path& path,
                         const std::function<void(AtomicFileWriter&)>& produce,
                         const AtomicWriteOptions& options) {
  std::optional<FileHandle> file;
  file.emplace(path, options);
  const std::filesystem::path temp = file->Path();
  try {
    produce(*file);
    file->Finish();
    file.reset();
    Replace(temp, path);
  } catch (...) {
    // Closed first: Windows removes no file that is open.
    file.reset();
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    throw;
  }
}

void WriteFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         const AtomicWriteOptions& options) {
  WriteFileAtomically(
      path,
      [&](AtomicFileWriter& out) {
        out.Put(reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size());
      },
      options);
}

bool IsTemporaryFileName(const std::filesystem::path& path) {
  std::string name = path.filename().string();
  const std::string suffix = kTempSuffix;
  return name.size() > suffix.size() + 1 && name[0] == '.' &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

unsigned CurrentProcessId() {
#ifdef _WIN32
  return static_cast<unsigned>(GetCurrentProcessId());
#else
  return static_cast<unsigned>(getpid());
#endif
}

bool ProcessRuns(unsigned pid) {
  if (pid == CurrentProcessId()) return true;
#ifdef _WIN32
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
#else
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
#endif
}

std::vector<std::string> RemoveStaleTemporaryFiles(const std::filesystem::path& folder) {
  std::vector<std::string> removed;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!IsTemporaryFileName(name)) continue;
    // ".<file name>.<process id>-<random hex>.fwtmp"
    const std::string stem = name.substr(0, name.size() - std::strlen(kTempSuffix));
    const std::size_t dot = stem.rfind('.');
    const std::size_t dash = stem.rfind('-');
    if (dot == std::string::npos || dash == std::string::npos || dash < dot + 2) continue;
    const std::string pid_text = stem.substr(dot + 1, dash - dot - 1);
    if (pid_text.size() > 9 || pid_text.find_first_not_of("0123456789") != std::string::npos)
      continue;
    if (ProcessRuns(static_cast<unsigned>(std::stoul(pid_text)))) continue;
    std::error_code ignored;
    if (it->is_regular_file(ignored) && std::filesystem::remove(it->path(), ignored))
      removed.push_back(name);
  }
  return removed;
}

}  // namespace fernwick::pdb
