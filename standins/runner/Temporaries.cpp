#include "standins/runner/Temporaries.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "standins/pdb/AtomicFile.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fernwick::runner {

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32

fs::path FolderPath() { return fs::temp_directory_path() / "fernwick-hotsync"; }

// %TEMP% is the user's own: nothing to check.
std::string WhyNotPrivate(const fs::path&) { return ""; }

void Make(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    throw std::runtime_error("cannot make the runner's temporary folder " + folder.string() + ": " +
                             ec.message());
  }
}

#else

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// "" when `parent` (followed through links) is a folder in which no other
// user can rename or remove what this user made.
std::string WhyNotSafeParent(const fs::path& parent) {
  struct stat st {};
  if (::stat(parent.c_str(), &st) != 0) return parent.string() + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return parent.string() + " is not a folder";
  const bool others_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  const bool trusted_owner = st.st_uid == ::geteuid() || st.st_uid == 0;
  if (!trusted_owner || (others_write && (st.st_mode & S_ISVTX) == 0)) {
    return parent.string() + " (mode " + Octal(st.st_mode) + ", owner " +
           std::to_string(st.st_uid) + ") lets other users rename what lies in it";
  }
  return "";
}

// "" when `folder` is a folder (not a link) of this user that no one else
// may enter, in a parent that WhyNotSafeParent accepts.
std::string WhyNotPrivate(const fs::path& folder) {
  if (std::string why = WhyNotSafeParent(folder.parent_path()); !why.empty()) return why;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return folder.string() + ": " + std::strerror(errno);
  std::string why;
  if (S_ISLNK(st.st_mode)) {
    why = "a symbolic link";
  } else if (!S_ISDIR(st.st_mode)) {
    why = "not a folder";
  } else if (st.st_uid != ::geteuid()) {
    why = "owned by user " + std::to_string(st.st_uid) + ", not by this one (" +
          std::to_string(::geteuid()) + ")";
  } else if ((st.st_mode & 077) != 0) {
    why = "mode " + Octal(st.st_mode) + " lets other users in (0700 wanted)";
  }
  return why.empty() ? "" : folder.string() + ": " + why;
}

fs::path FolderPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && runtime[0] == '/') {
    struct stat st {};
    if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
      return fs::path(runtime) / "fernwick-hotsync";
    }
  }
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  return base / ("fernwick-hotsync-" + std::to_string(::geteuid()));
}

void Make(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot make the runner's temporary folder " + folder.string() + ": " +
                             std::strerror(errno));
  }
}

#endif

}  // namespace

fs::path RunnerTemporaryFolder() {
  const fs::path folder = FolderPath();
  Make(folder);
  if (std::string why = WhyNotPrivate(folder); !why.empty()) {
    throw std::runtime_error("refusing the runner's temporary folder: " + why +
                             "; remove it, or set TMPDIR to a folder of your own");
  }
  return folder;
}

std::string RunTemporaryPrefix(const std::string& kind) {
  std::string prefix = kind;
  prefix += '-';
  prefix += std::to_string(pdb::CurrentProcessId());
  prefix += '-';
  return prefix;
}

void RemoveStaleRunTemporaries() {
  std::error_code ec;
  fs::path folder;
  try {
    folder = FolderPath();
  } catch (const std::exception&) {
    return;
  }
  if (!fs::exists(folder, ec) || !WhyNotPrivate(folder).empty()) return;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::size_t first = name.find('-');
    const std::size_t second = first == std::string::npos ? first : name.find('-', first + 1);
    if (second == std::string::npos) continue;
    const std::string kind = name.substr(0, first);
    const std::string pid = name.substr(first + 1, second - first - 1);
    if ((kind != "registry" && kind != "log") || pid.empty() || pid.size() > 9 ||
        pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    if (pdb::ProcessRuns(static_cast<unsigned>(std::stoul(pid)))) continue;
    std::error_code ignored;
    fs::remove_all(it->path(), ignored);
  }
}

}  // namespace fernwick::runner
