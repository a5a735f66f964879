// Programs timed by bench/whole-sync.sh beside Perl's Palm::PDB:
//
//   bench_memo_tools read FILE PASSES    ReadPdbFile and decode every memo's
//                                        text, PASSES times
//   bench_memo_tools plain FILE PASSES   read the file into memory in one call
//                                        and touch every byte, PASSES times
//   bench_memo_tools floor FILE DESKTOP [atomic|durable|each|fsyncs]
//       the file-system floor of a synchronisation: read FILE, write each
//       modified record's bytes to DESKTOP/<id>.txt, clear the dirty bits and
//       write the database once (temporary file, fsync, rename). Desktop
//       files are written plainly; with "atomic" each through the examples'
//       writer (TDesktopWriter: a temporary file renamed over it),
//       not yet on disk; the three durable orders then make them durable
//       before the database is written:
//         durable  the examples' order: all files written and renamed,
//                  then TDesktopWriter::Commit (on Linux one syncfs of the
//                  desktop's file system);
//         each     each file flushed before its rename, then the folder,
//                  file by file;
//         fsyncs   all files written and renamed, then an fsync of each
//                  and one of the folder.
//
// read and plain print the fastest pass in seconds; floor prints its phases:
// "read S desktop S database S files N". With more than one pass, freed
// memory is kept for the next pass (as Perl keeps its own), so that later
// passes measure the reader rather than the kernel handing out fresh pages;
// a single pass in a fresh process measures both.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <fernwick/framework/DesktopWriter.h>
#include "standins/pdb/AtomicFile.h"
#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/PdbFile.h"

namespace {

using namespace fernwick::pdb;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw PdbError(path.string() + ": cannot read");
  return bytes;
}

template <typename Pass>
void Best(int passes, Pass pass) {
  if (passes > 1) {
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
  }
  double best = 1e9;
  std::size_t sink = 0;
  for (int i = 0; i < passes; ++i) {
    const auto start = Clock::now();
    sink += pass();
    best = std::min(best, Since(start));
  }
  std::printf("%.6f\n", best + static_cast<double>(sink == 1) * 1e-12);
}

void WritePlain(const fs::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw PdbError(path.string() + ": cannot write");
}

void Flush(const fs::path& path, int flags) {
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0 || ::fsync(fd) != 0) throw PdbError(path.string() + ": cannot flush");
  ::close(fd);
}

// One desktop file made durable on its own: temporary file, fsync,
// rename, fsync of the folder.
void WriteEach(const fs::path& path, std::span<const std::uint8_t> bytes) {
  const fs::path temporary = path.string() + ".each-tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (fd < 0) throw PdbError(temporary.string() + ": cannot create");
  const bool written =
      ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
      ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written) throw PdbError(temporary.string() + ": cannot write");
  fs::rename(temporary, path);
  const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  if (dir < 0 || ::fsync(dir) != 0) throw PdbError(path.parent_path().string() + ": cannot flush");
  ::close(dir);
}

void WriteDurable(const fs::path& path, std::span<const std::uint8_t> bytes) {
  WriteFileAtomically(path, [&](AtomicFileWriter& out) { out.Put(bytes.data(), bytes.size()); });
}

enum class DesktopWrites { kPlain, kAtomic, kDurable, kEach, kFsyncs };

int Floor(const fs::path& file, const fs::path& desktop, DesktopWrites how) {
  auto start = Clock::now();
  std::vector<std::uint8_t> bytes = ReadAll(file);
  const PdbIndex index = IndexPdb(bytes, file.string());
  const double read = Since(start);

  start = Clock::now();
  fs::create_directories(desktop);
  fernwick::TDesktopWriter writer;
  int files = 0;
  for (std::size_t i = 0; i < index.db.records.size(); ++i) {
    const PdbRecord& r = index.db.records[i];
    if ((r.attributes & (kRecDirty | kRecDeleted)) == 0) continue;
    const PdbExtent e = index.entries[i];
    const std::span<const std::uint8_t> data(bytes.data() + e.offset, e.length);
    const fs::path path = desktop / (std::to_string(r.unique_id) + ".txt");
    switch (how) {
      case DesktopWrites::kPlain:
        WritePlain(path, data);
        break;
      case DesktopWrites::kAtomic:
      case DesktopWrites::kDurable:
      case DesktopWrites::kFsyncs:
        writer.Write(path, std::string(data.begin(), data.end()));
        break;
      case DesktopWrites::kEach:
        WriteEach(path, data);
        break;
    }
    bytes[kPdbHeaderSize + i * kPdbRecordEntrySize + 4] &= static_cast<std::uint8_t>(~kRecDirty);
    ++files;
  }
  if (how == DesktopWrites::kDurable) writer.Commit();
  if (how == DesktopWrites::kFsyncs) {
    for (const auto& entry : fs::directory_iterator(desktop)) Flush(entry.path(), O_RDONLY);
    Flush(desktop, O_RDONLY | O_DIRECTORY);
  }
  const double desktop_writes = Since(start);

  start = Clock::now();
  WriteDurable(file, bytes);
  const double database = Since(start);
  std::printf("read %.6f desktop %.6f database %.6f files %d\n", read, desktop_writes, database,
              files);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "read" && argc == 4) {
      const fs::path file = argv[2];
      Best(std::atoi(argv[3]), [&] {
        const PdbDatabase db = ReadPdbFile(file);
        std::size_t chars = 0;
        for (const auto& r : db.records) {
          if (!r.data.empty()) chars += DecodeMemoRecord(r.data).text.size();
        }
        return chars;
      });
      return 0;
    }
    if (command == "plain" && argc == 4) {
      const fs::path file = argv[2];
      Best(std::atoi(argv[3]), [&] {
        const std::vector<std::uint8_t> bytes = ReadAll(file);
        std::size_t sum = 0;
        for (std::uint8_t b : bytes) sum += b;
        return sum;
      });
      return 0;
    }
    if (command == "floor" && (argc == 4 || argc == 5)) {
      const std::string how = argc == 5 ? argv[4] : "plain";
      static const std::pair<const char*, DesktopWrites> kHows[] = {
          {"plain", DesktopWrites::kPlain},
          {"atomic", DesktopWrites::kAtomic},
          {"durable", DesktopWrites::kDurable},
          {"each", DesktopWrites::kEach},
          {"fsyncs", DesktopWrites::kFsyncs}};
      for (const auto& [name, kind] : kHows) {
        if (how == name) return Floor(argv[2], argv[3], kind);
      }
    }
    std::fprintf(stderr,
                 "usage: bench_memo_tools read|plain FILE PASSES | floor FILE DESKTOP "
                 "[atomic|durable|each|fsyncs]\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_memo_tools: %s\n", e.what());
    return 1;
  }
}
