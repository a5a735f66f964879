// A temporary handheld folder for tests, with databases written by the
// database file writer, removed when the test ends.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace fernwick::testing {

class HandheldFolder {
 public:
  HandheldFolder() {
    static std::atomic<int> counter{0};
#if defined(_WIN32)
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(getpid());
#endif
    path_ = std::filesystem::temp_directory_path() /
            ("fernwick-handheld-" + std::to_string(pid) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~HandheldFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  HandheldFolder(const HandheldFolder&) = delete;
  HandheldFolder& operator=(const HandheldFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string PathText() const { return path_.string(); }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }

  void Write(const std::string& file_name, const pdb::PdbDatabase& db) const {
    pdb::WritePdbFileAtomically(path_ / file_name, db);
  }
  void WriteText(const std::string& file_name, const std::string& text) const {
    std::ofstream(path_ / file_name, std::ios::binary) << text;
  }
  std::vector<std::uint8_t> Bytes(const std::string& file_name) const {
    std::ifstream in(path_ / file_name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
  }
  void WriteBytes(const std::string& file_name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream(path_ / file_name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> Text(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace fernwick::testing
