#include "TextFolder.h"

#include <fstream>
#include <iterator>
#include <set>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fernwick/framework/Exceptions.h>

namespace fernwick::examples {

namespace fs = std::filesystem;

bool ReadTextFile(const fs::path& path, std::uintmax_t max_bytes, const std::string& too_long,
                  TTextFile& file, std::string& why) {
  std::error_code error;
  why = !fs::is_regular_file(path, error) ? "it is not a regular file" : "";
#ifndef _WIN32
  // O_NONBLOCK: what is there now may not be what was checked above, and
  // opening a FIFO would wait for a writer.
  const int fd = why.empty() ? ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  struct stat st {};
  if (why.empty() && (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)))
    why = fd < 0 ? "it cannot be read" : "it is not a regular file";
  if (fd >= 0) ::close(fd);
#endif
  if (!why.empty()) return false;
  if (fs::file_size(path, error) > max_bytes) {
    why = too_long;
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  file.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) why = "it cannot be read";
  file.source = path;
  return why.empty();
}

TTextFolder::TTextFolder(fs::path folder, fs::path dropped)
    : folder_(std::move(folder)), dropped_(std::move(dropped)) {}

std::vector<fs::path> TTextFolder::List() const {
  std::error_code error;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder_, error)) files.push_back(entry.path());
  if (error && error != std::errc::no_such_file_or_directory)
    throw EDorvConduitError("Cannot read " + folder_.string() + ": " + error.message());
  if (fs::symlink_status(dropped_, error).type() != fs::file_type::not_found)
    files.push_back(dropped_);
  std::vector<fs::path> items;
  for (fs::path& path : files) {
    const std::string name = path.filename().string();
    if (path.extension() == ".txt" && name[0] != '.' && !name.ends_with(".archived.txt"))
      items.push_back(std::move(path));
  }
  return items;
}

std::optional<std::uint32_t> TTextFolder::IdOf(const fs::path& path) const {
  const std::string stem = path.stem().string();
  if (path.parent_path() != folder_ || stem.empty() || stem.size() > 8 ||
      stem.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return static_cast<std::uint32_t>(std::stoul(stem));
}

void TTextFolder::Write(const std::vector<TDorvSyncItem>& live,
                        const std::vector<TDorvSyncItem>& archived,
                        const std::function<const TTextFile&(const TDorvSyncItem&)>& file_of,
                        const std::function<void(const TDorvSyncItem&)>& moved_in,
                        TDesktopWriter& writer) const {
  writer.MakeFolders(folder_);
  const auto file = [&](const TDorvSyncItem& item, const char* ending) {
    return folder_ / (std::to_string(item.id) + ending);
  };
  std::set<fs::path> targets, moved;
  for (const TDorvSyncItem& item : live) targets.insert(file(item, ".txt"));
  // First the files of new items: renamed to their id whole, so that no
  // moment shows an item under two names (a run cut short after this adopts
  // the record by its content); copied when the old name holds another item
  // now (the handheld's version of a conflict).
  for (const TDorvSyncItem& item : live) {
    const TTextFile& text = file_of(item);
    if (text.source.empty() || text.source == file(item, ".txt")) continue;
    if (targets.count(text.source) != 0) {
      writer.Write(file(item, ".txt"), text.text);
    } else {
      writer.Rename(text.source, file(item, ".txt"));
      moved.insert(text.source);
      if (text.source == dropped_) moved_in(item);
    }
  }
  for (const TDorvSyncItem& item : live) {
    const TTextFile& text = file_of(item);
    if (text.source.empty()) writer.Write(file(item, ".txt"), text.text);
  }
  for (const TDorvSyncItem& item : archived)
    writer.Write(file(item, ".archived.txt"), file_of(item).text);
  // Last, the files of items gone (the dropped file only ever moves: a
  // stHHtoPC leaves it).
  for (const fs::path& path : read_)
    if (targets.count(path) == 0 && moved.count(path) == 0 && path != dropped_) writer.Remove(path);
}

}  // namespace fernwick::examples
