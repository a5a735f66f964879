#include "standins/runner/SyncChoices.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "standins/pdb/AtomicFile.h"
#include "standins/pdb/PdbError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fernwick::runner {

namespace {

constexpr const char* kFileName = "fernwick-hotsync.state";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kHeader = "# fernwick-hotsync: HotSync action choices, names %-escaped";

std::string TypeText(const std::optional<TSyncTypes>& type) {
  return type ? SyncTypeName(*type) : "-";
}

bool ParseType(const std::string& text, std::optional<TSyncTypes>& type) {
  if (text == "-") {
    type.reset();
    return true;
  }
  for (std::uint32_t i = 0; SyncTypeName(i) != nullptr; ++i) {
    if (text == SyncTypeName(i)) {
      type = static_cast<TSyncTypes>(i);
      return true;
    }
  }
  return false;
}

std::string Escaped(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || c == '#' || byte < 0x20 || byte == 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The name Escaped wrote, or nullopt for a '%' without two hex digits.
std::optional<std::string> Unescaped(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return std::nullopt;
    const int high = HexDigit(field[i + 1]);
    const int low = HexDigit(field[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

// Reads the whole state file into `text`; `exists` tells whether there was
// one. Returns "" or the reason.
std::string ReadStateFile(const std::string& path, std::string& text, bool& exists) {
  text.clear();
  exists = false;
  const std::string too_large = path + ": larger than " +
                                std::to_string(SyncChoices::kMaxFileSize) +
                                " bytes: not a state file of fernwick-hotsync (move it away)";
  const std::string not_regular =
      path + ": not a regular file (a FIFO, a device or a folder); the state file must be a " +
      "plain file (move it away)";
#ifdef _WIN32
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) return "";
  if (ec) return "cannot read " + path + ": " + ec.message();
  exists = true;
  if (status.type() != std::filesystem::file_type::regular) return not_regular;
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read " + path;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > SyncChoices::kMaxFileSize) return too_large;
  }
  if (in.bad()) return "cannot read " + path;
  return "";
#else
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return "";
    exists = true;
    return "cannot read " + path + ": " + std::strerror(errno);
  }
  exists = true;
  struct stat st {};
  std::string why;
  if (::fstat(fd, &st) != 0) {
    why = "cannot read " + path + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = not_regular;
  } else if (static_cast<std::uintmax_t>(st.st_size) > SyncChoices::kMaxFileSize) {
    why = too_large;
  }
  char buffer[4096];
  while (why.empty()) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) why = "cannot read " + path + ": " + std::strerror(errno);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > SyncChoices::kMaxFileSize) why = too_large;
  }
  ::close(fd);
  return why;
#endif
}

// Parses the text of a state file into `choices`. Returns "" or the reason.
std::string Parse(const std::string& path, const std::string& text,
                  std::map<std::pair<std::string, std::string>, SyncChoice>& choices) {
  choices.clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool escaped = false;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line == kHeader) escaped = true;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    SyncChoice choice;
    std::optional<std::string> user, conduit;
    if (fields.size() == 4) {
      user = escaped ? Unescaped(fields[0]) : fields[0];
      conduit = escaped ? Unescaped(fields[1]) : fields[1];
    }
    if (!user || !conduit || !ParseType(fields[2], choice.permanent) ||
        !ParseType(fields[3], choice.temporary)) {
      choices.clear();
      return path + " line " + std::to_string(number) +
             ": expected user, conduit, permanent and temporary action separated by tabs" +
             (escaped ? " (names %-escaped)" : "");
    }
    choices[{*user, *conduit}] = choice;
  }
  return "";
}

// Holds the lock of a state file for its lifetime. Opened() false: Why()
// tells the reason.
class StateLock {
 public:
  explicit StateLock(const std::string& state_path) {
    const std::string path = state_path + kLockSuffix;
#ifdef _WIN32
    handle_ = CreateFileW(std::filesystem::path(path).wstring().c_str(),
                          GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      why_ = "cannot open the lock file " + path + " (Windows error " +
             std::to_string(GetLastError()) + ")";
      return;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      why_ = "cannot lock " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
#else
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      why_ = "cannot open the lock file " + path + ": " + std::strerror(errno);
      return;
    }
    int status;
    do {
      status = ::flock(fd_, LOCK_EX);
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
      why_ = "cannot lock " + path + ": " + std::strerror(errno);
      ::close(fd_);
      fd_ = -1;
    }
#endif
  }
  ~StateLock() {
#ifdef _WIN32
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
    if (fd_ >= 0) ::close(fd_);
#endif
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

  const std::string& Why() const { return why_; }

 private:
  std::string why_;
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
#endif
};

}  // namespace

TSyncTypes SyncChoice::Next() const {
  if (temporary) return *temporary;
  if (permanent) return *permanent;
  return stFast;
}

std::string SyncChoice::Describe() const {
  std::string after = permanent ? std::string(SyncTypeName(*permanent)) : "stFast";
  if (temporary) return std::string(SyncTypeName(*temporary)) + " once, then " + after;
  if (permanent) return after + " (permanent)";
  return "none (stFast)";
}

std::string SyncChoices::FileIn(const std::string& desktop_folder) {
  return desktop_folder + kFileName;
}

std::string SyncChoices::Load() {
  std::string text;
  bool exists = false;
  if (std::string why = ReadStateFile(path_, text, exists); !why.empty()) {
    choices_.clear();
    return why;
  }
  return Parse(path_, text, choices_);
}

SyncChoice SyncChoices::Get(const std::string& user, const std::string& conduit) const {
  auto found = choices_.find({user, conduit});
  return found == choices_.end() ? SyncChoice{} : found->second;
}

std::string SyncChoices::Update(const Key& key, const std::function<bool(SyncChoice&)>& change) {
  StateLock lock(path_);
  if (!lock.Why().empty()) return lock.Why();
  std::map<Key, SyncChoice> now;
  std::string text;
  bool exists = false;
  if (std::string why = ReadStateFile(path_, text, exists); !why.empty()) return why;
  if (std::string why = Parse(path_, text, now); !why.empty()) return why;
  if (!change(now[key])) {
    choices_ = std::move(now);
    return "";
  }
  std::string out = kHeader;
  out += '\n';
  for (const auto& [entry, choice] : now) {
    if (!choice.permanent && !choice.temporary) continue;
    out += Escaped(entry.first) + '\t' + Escaped(entry.second) + '\t' + TypeText(choice.permanent) +
           '\t' + TypeText(choice.temporary) + '\n';
  }
  try {
    pdb::WriteFileAtomically(path_, out);
  } catch (const pdb::PdbError& e) {
    return "cannot write the HotSync action choices: " + e.Message();
  }
  choices_ = std::move(now);
  return "";
}

std::string SyncChoices::Record(const std::string& user, const std::string& conduit,
                                TSyncTypes type, TSyncPref pref) {
  return Update({user, conduit}, [&](SyncChoice& choice) {
    if (pref == spPermanentPreference) {
      choice.permanent = type;
      choice.temporary.reset();
    } else {
      choice.temporary = type;
    }
    return true;
  });
}

std::string SyncChoices::ConsumeTemporary(const std::string& user, const std::string& conduit,
                                          TSyncTypes used, bool& dropped) {
  bool found = false;
  std::string why = Update({user, conduit}, [&](SyncChoice& choice) {
    if (choice.temporary != used) return false;
    choice.temporary.reset();
    found = true;
    return true;
  });
  dropped = found && why.empty();
  return why;
}

}  // namespace fernwick::runner
