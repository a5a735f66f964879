// Programs timed by bench/whole-sync.sh beside Perl's Palm::PDB:
//
//   bench_memo_tools read FILE PASSES    ReadPdbFile and decode every memo's
//                                        text, PASSES times
//   bench_memo_tools plain FILE PASSES   read the file into memory in one call
//                                        and touch every byte, PASSES times
//   bench_memo_tools floor FILE DESKTOP [atomic|durable]
//       the file-system floor of a synchronisation: read FILE, write each
//       modified record's bytes to DESKTOP/<id>.txt, clear the dirty bits and
//       write the database once (temporary file, fsync, rename). Desktop
//       files are written plainly; with "atomic" each through a temporary
//       file renamed over it, checked after flush and close (what the
//       examples do); with "durable" also flushed to disk before the rename.
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
#include <vector>

#include "hotsync/pdb/AtomicFile.h"
#include "hotsync/pdb/BuiltinRecords.h"
#include "hotsync/pdb/PdbFile.h"

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

void WriteAtomic(const fs::path& path, std::span<const std::uint8_t> bytes) {
  const fs::path temporary = path.string() + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (out) out.close();
    if (!out) throw PdbError(temporary.string() + ": cannot write");
  }
  fs::rename(temporary, path);
}

void WriteDurable(const fs::path& path, std::span<const std::uint8_t> bytes) {
  WriteFileAtomically(path, [&](AtomicFileWriter& out) { out.Put(bytes.data(), bytes.size()); });
}

enum class DesktopWrites { kPlain, kAtomic, kDurable };

int Floor(const fs::path& file, const fs::path& desktop, DesktopWrites how) {
  auto start = Clock::now();
  std::vector<std::uint8_t> bytes = ReadAll(file);
  const PdbIndex index = IndexPdb(bytes, file.string());
  const double read = Since(start);

  start = Clock::now();
  fs::create_directories(desktop);
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
        WriteAtomic(path, data);
        break;
      case DesktopWrites::kDurable:
        WriteDurable(path, data);
        break;
    }
    bytes[kPdbHeaderSize + i * kPdbRecordEntrySize + 4] &= static_cast<std::uint8_t>(~kRecDirty);
    ++files;
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
      if (how == "plain" || how == "atomic" || how == "durable") {
        return Floor(argv[2], argv[3],
                     how == "plain"    ? DesktopWrites::kPlain
                     : how == "atomic" ? DesktopWrites::kAtomic
                                       : DesktopWrites::kDurable);
      }
    }
    std::fprintf(stderr,
                 "usage: bench_memo_tools read|plain FILE PASSES | floor FILE DESKTOP "
                 "[atomic|durable]\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_memo_tools: %s\n", e.what());
    return 1;
  }
}
