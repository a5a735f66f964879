// Reading and writing database files, against the cost of moving the same
// bytes without the format.
//
//   BM_ReadAndWalk        ReadPdbFile + touch every record once
//   BM_IndexAndWalk       read the file in one call, IndexPdb, touch every
//                         record once (the lean way to open a database)
//   BM_BaselineRead       read the whole file into memory in one call + touch
//                         every record's bytes once
//   BM_AtomicWrite        WritePdbFileAtomically (temporary file, fsync, rename)
//   BM_BaselineWrite      write the serialised bytes in one call (no fsync)
//   BM_BaselineWriteSync  the same, then fsync
//   BM_Memory             heap held by a database read from the file, and the
//                         peak while reading, as ratios of the file size
//                         ("held/file", "peak/file"; malloc's chunk overhead
//                         included)
//
// The argument is the record count: 2,000, 20,000 and 65,535 (the most one
// file can hold). Records are about 100 bytes, with mixed categories and flags.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"

namespace {
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void Track(void* p) {
  std::int64_t now = g_live.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p)) + 8) +
                     static_cast<std::int64_t>(malloc_usable_size(p)) + 8;
  std::int64_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    Track(p);
    return p;
  }
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  if (p) g_live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)) + 8);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using namespace fernwick::pdb;

PdbDatabase MakeDatabase(int count) {
  PdbDatabase db;
  db.name = "BenchDB";
  db.type = FourCC("DATA");
  db.creator = FourCC("memo");
  db.app_info = std::vector<std::uint8_t>(282, 0);
  std::uint32_t state = 12345;
  for (int i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    PdbRecord r;
    r.unique_id = static_cast<std::uint32_t>(i + 1);
    r.attributes = static_cast<std::uint8_t>((state >> 8) & 0x0F);
    if (i % 7 == 0) r.attributes |= kRecDirty;
    if (i % 97 == 0) r.attributes = kRecDeleted | kRecArchived;
    r.data.resize(80 + (state >> 16) % 41);  // 80 to 120 bytes
    for (std::size_t k = 0; k < r.data.size(); ++k) {
      r.data[k] = static_cast<std::uint8_t>('a' + (k + i) % 26);
    }
    db.records.push_back(std::move(r));
  }
  db.unique_id_seed = static_cast<std::uint32_t>(count + 1);
  return db;
}

// Files of this process, removed at exit (several benchmarks may run at once).
struct BenchFiles {
  std::vector<std::filesystem::path> paths;
  ~BenchFiles() {
    std::error_code ignored;
    for (const auto& p : paths) std::filesystem::remove(p, ignored);
  }
};
BenchFiles g_files;

std::filesystem::path TempPath(const std::string& stem) {
  auto path = std::filesystem::temp_directory_path() /
              ("fernwick-pdb-bench-" + stem + "-" + std::to_string(getpid()) + ".pdb");
  g_files.paths.push_back(path);
  return path;
}

std::filesystem::path BenchFile(int count) {
  static std::map<int, std::filesystem::path> made;
  auto it = made.find(count);
  if (it != made.end()) return it->second;
  auto path = TempPath(std::to_string(count));
  WritePdbFileAtomically(path, MakeDatabase(count));
  made[count] = path;
  return path;
}

void BM_ReadAndWalk(benchmark::State& state) {
  const auto path = BenchFile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    PdbDatabase db = ReadPdbFile(path);
    unsigned sum = 0;
    for (const auto& r : db.records) sum += r.data.empty() ? 0 : r.data[0];
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

// The lean way to open: the file's bytes once, indexed in place.
void BM_IndexAndWalk(benchmark::State& state) {
  const auto path = BenchFile(static_cast<int>(state.range(0)));
  const auto size = std::filesystem::file_size(path);
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes(size);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    PdbIndex index = IndexPdb(bytes, path.string());
    unsigned sum = 0;
    for (const auto& e : index.entries) sum += e.length == 0 ? 0 : bytes[e.offset];
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void BM_BaselineRead(benchmark::State& state) {
  const auto path = BenchFile(static_cast<int>(state.range(0)));
  const auto size = std::filesystem::file_size(path);
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes(size);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    // Touch every record once: one byte in every 100.
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; i += 100) sum += bytes[i];
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void BM_AtomicWrite(benchmark::State& state) {
  const PdbDatabase db = MakeDatabase(static_cast<int>(state.range(0)));
  const auto path = TempPath("write");
  for (auto _ : state) WritePdbFileAtomically(path, db);
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
}

void BaselineWrite(benchmark::State& state, bool sync) {
  const auto bytes = SerializePdb(MakeDatabase(static_cast<int>(state.range(0))));
  const auto path = TempPath("plain");
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      state.SkipWithError("write failed");
    }
    if (sync) ::fsync(fd);
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
  std::filesystem::remove(path);
}
void BM_BaselineWrite(benchmark::State& state) { BaselineWrite(state, false); }
void BM_BaselineWriteSync(benchmark::State& state) { BaselineWrite(state, true); }

void BM_Memory(benchmark::State& state) {
  const auto path = BenchFile(static_cast<int>(state.range(0)));
  const double file_size = static_cast<double>(std::filesystem::file_size(path));
  double held = 0, peak = 0;
  for (auto _ : state) {
    const std::int64_t before = g_live.load();
    g_peak.store(before);
    PdbDatabase db = ReadPdbFile(path);
    held = static_cast<double>(g_live.load() - before + static_cast<std::int64_t>(sizeof db));
    peak = static_cast<double>(g_peak.load() - before);
    benchmark::DoNotOptimize(db);
  }
  const std::int64_t before_index = g_live.load();
  g_peak.store(before_index);
  {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file_size));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    PdbIndex index = IndexPdb(bytes, path.string());
    state.counters["indexed_held/file"] =
        static_cast<double>(g_live.load() - before_index) / file_size;
    benchmark::DoNotOptimize(index);
  }
  state.counters["held/file"] = held / file_size;
  state.counters["peak/file"] = peak / file_size;
  state.counters["file_bytes"] = file_size;
}

BENCHMARK(BM_ReadAndWalk)->Arg(2000)->Arg(20000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexAndWalk)->Arg(2000)->Arg(20000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineRead)->Arg(2000)->Arg(20000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AtomicWrite)->Arg(2000)->Arg(20000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineWrite)->Arg(2000)->Arg(20000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineWriteSync)->Arg(2000)->Arg(20000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory)->Arg(2000)->Arg(20000)->Arg(65535)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
