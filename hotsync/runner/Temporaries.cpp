#include "hotsync/runner/Temporaries.h"

#include "hotsync/pdb/AtomicFile.h"

namespace fernwick::runner {

std::filesystem::path RunnerTemporaryFolder() {
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "fernwick-hotsync";
  std::filesystem::create_directories(folder);
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
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path(ec) / "fernwick-hotsync";
  if (ec) return;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
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
    std::filesystem::remove_all(it->path(), ignored);
  }
}

}  // namespace fernwick::runner
