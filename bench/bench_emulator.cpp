// The handheld emulator on generated databases of 2,000 to 60,000 records of
// about 100 bytes (mixed categories and flags), against the plain file
// operations it builds on: reading a file into memory and touching every
// record once, and writing a file in one call. A database holds at most
// 65,535 records (its record count is 16-bit), so 60,000 is the largest
// size measured.
//
// Counters: records/s for the walks; heap_peak_per_file_byte is the peak of
// heap bytes in use while a database is open and walked, divided by the
// file's size; close_ms is the write-back alone (mean per iteration).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"
#include <fernwick/abi/Emulator.h>
#include <fernwick/abi/SyncApi.h>

#define FERNWICK_IMPORT_DECL(name, result, params) extern "C" result FW_CDECL name params;
FERNWICK_SYNC_FUNCTIONS(FERNWICK_IMPORT_DECL)
#undef FERNWICK_IMPORT_DECL

// Heap accounting: every operator new of the process (the emulator library's
// included) goes through these.
namespace {
std::size_t g_heap_in_use = 0;
std::size_t g_heap_peak = 0;
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  g_heap_in_use += malloc_usable_size(p);
  if (g_heap_in_use > g_heap_peak) g_heap_peak = g_heap_in_use;
  return p;
}
// operator new above takes its memory from malloc, so free is the match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  g_heap_in_use -= malloc_usable_size(p);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
#pragma GCC diagnostic pop

namespace {

using namespace fernwick;
namespace fs = std::filesystem;

fs::path BenchFolder() {
  static const fs::path folder = [] {
    fs::path p = fs::temp_directory_path() / ("fernwick-bench-" + std::to_string(getpid()));
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
  }();
  return folder;
}

std::string DbName(std::int64_t records) { return "Bench" + std::to_string(records); }
fs::path DbFile(std::int64_t records) { return BenchFolder() / (DbName(records) + ".pdb"); }

// Writes (once) a database of `count` records of 90 to 110 bytes: categories
// 0 to 15, a quarter dirty, one in twenty deleted, one in forty archived.
void EnsureDatabase(std::int64_t count) {
  if (fs::exists(DbFile(count))) return;
  pdb::PdbDatabase db;
  db.name = DbName(count);
  db.type = pdb::FourCC("DATA");
  db.creator = pdb::FourCC("bnch");
  db.app_info = std::vector<std::uint8_t>(282, 0);
  std::mt19937 random(42);
  for (std::int64_t i = 0; i < count; ++i) {
    pdb::PdbRecord record;
    record.unique_id = static_cast<std::uint32_t>(i + 1);
    std::uint8_t attributes = static_cast<std::uint8_t>(i % 16);
    if (i % 4 == 0) attributes |= eRecAttrDirty;
    if (i % 20 == 7) attributes = eRecAttrDeleted | (attributes & 0x07);
    if (i % 40 == 9) attributes = eRecAttrDeleted | 0x08 | (attributes & 0x07);
    record.attributes = attributes;
    record.data.resize(90 + random() % 21);
    for (auto& byte : record.data) byte = static_cast<std::uint8_t>('a' + random() % 26);
    db.records.push_back(std::move(record));
  }
  db.unique_id_seed = static_cast<std::uint32_t>(count);
  pdb::WritePdbFileAtomically(DbFile(count), db);
}

void Attach() {
  if (EmuAttachHandheld(BenchFolder().c_str()) != 0) std::abort();
}

std::uint8_t OpenDb(std::int64_t count, std::uint8_t mode) {
  std::uint8_t handle = 0;
  if (SyncOpenDB(DbName(count).c_str(), 0, &handle, mode) != 0) std::abort();
  return handle;
}

std::uint8_t g_buffer[65535];

TRawRecordInfo Rec(std::uint8_t handle) {
  TRawRecordInfo rec{};
  rec.FileHandle = handle;
  rec.TotalBytes = sizeof g_buffer;
  rec.Bytes = g_buffer;
  return rec;
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

// Baseline: read the file into memory and touch every record once (its
// entry's offset and first byte).
void BM_FileReadAndTouch(benchmark::State& state) {
  EnsureDatabase(state.range(0));
  for (auto _ : state) {
    const std::vector<std::uint8_t> bytes = ReadFile(DbFile(state.range(0)));
    const std::size_t count = (std::size_t{bytes[76]} << 8) | bytes[77];
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* entry = bytes.data() + 78 + 8 * i;
      const std::uint32_t offset =
          (std::uint32_t{entry[0]} << 24) | (entry[1] << 16) | (entry[2] << 8) | entry[3];
      sum += bytes[offset];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The file reader alone: the part of an open that parses the file.
void BM_PdbReadFile(benchmark::State& state) {
  EnsureDatabase(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(pdb::ReadPdbFile(DbFile(state.range(0))));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Open, walk every record by index, close.
void BM_EmuOpenWalkByIndexClose(benchmark::State& state) {
  EnsureDatabase(state.range(0));
  Attach();
  const double file_size = static_cast<double>(fs::file_size(DbFile(state.range(0))));
  double peak_ratio = 0;
  for (auto _ : state) {
    const std::size_t heap_before = g_heap_in_use;
    g_heap_peak = g_heap_in_use;
    const std::uint8_t handle = OpenDb(state.range(0), eDbRead);
    std::uint16_t count = 0;
    SyncGetDBRecordCount(handle, &count);
    for (std::uint16_t i = 0; i < count; ++i) {
      TRawRecordInfo rec = Rec(handle);
      rec.RecIndex = i;
      if (SyncReadRecordByIndex(&rec) != 0) std::abort();
    }
    SyncCloseDB(handle);
    peak_ratio = static_cast<double>(g_heap_peak - heap_before) / file_size;
  }
  state.counters["heap_peak_per_file_byte"] = peak_ratio;
  state.SetItemsProcessed(state.iterations() * state.range(0));
  EmuDetachHandheld();
}

// Open, walk the modified records, close.
void BM_EmuNextModifiedWalk(benchmark::State& state) {
  EnsureDatabase(state.range(0));
  Attach();
  std::int64_t seen = 0;
  for (auto _ : state) {
    const std::uint8_t handle = OpenDb(state.range(0), eDbRead);
    seen = 0;
    for (;;) {
      TRawRecordInfo rec = Rec(handle);
      const std::int32_t status = SyncReadNextModifiedRec(&rec);
      if (status == SYNCERR_NOT_FOUND) break;
      if (status != 0) std::abort();
      ++seen;
    }
    SyncCloseDB(handle);
  }
  state.counters["modified_records"] = static_cast<double>(seen);
  state.SetItemsProcessed(state.iterations() * state.range(0));
  EmuDetachHandheld();
}

// Random reads by id on an open database: the time per read stays flat as
// the database grows.
void BM_EmuReadById(benchmark::State& state) {
  EnsureDatabase(state.range(0));
  Attach();
  const std::uint8_t handle = OpenDb(state.range(0), eDbRead);
  std::mt19937 random(7);
  for (auto _ : state) {
    TRawRecordInfo rec = Rec(handle);
    rec.RecId = 1 + random() % static_cast<std::uint32_t>(state.range(0));
    if (SyncReadRecordById(&rec) != 0) std::abort();
  }
  SyncCloseDB(handle);
  EmuDetachHandheld();
}

// Write `n` new records to a copy of the database of `n` records, then
// close: the write-back of a database of 2n records.
void BM_EmuWriteNewRecordsAndClose(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  EnsureDatabase(n);
  const fs::path original = DbFile(n);
  const fs::path copy = BenchFolder() / "write" / (DbName(n) + ".pdb");
  fs::create_directories(copy.parent_path());
  std::string text(100, 'w');
  double close_ms = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
    if (EmuAttachHandheld(copy.parent_path().c_str()) != 0) std::abort();
    state.ResumeTiming();
    const std::uint8_t handle = OpenDb(n, eDbRead | eDbWrite);
    for (std::int64_t i = 0; i < n; ++i) {
      TRawRecordInfo rec = Rec(handle);
      std::memcpy(g_buffer, text.data(), text.size());
      rec.RecSize = static_cast<std::uint32_t>(text.size());
      rec.Attribs = eRecAttrDirty;
      rec.CatId = static_cast<std::int16_t>(i % 16);
      if (SyncWriteRec(&rec) != 0) std::abort();
    }
    const auto start = std::chrono::steady_clock::now();
    if (SyncCloseDB(handle) != 0) std::abort();
    close_ms +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    EmuDetachHandheld();
    state.ResumeTiming();
  }
  state.counters["close_ms"] = close_ms / static_cast<double>(state.iterations());
  state.counters["file_bytes"] = static_cast<double>(fs::file_size(copy));
  state.SetItemsProcessed(state.iterations() * n);
}

// Baseline: the same 2n-record file written in one call (and flushed to the
// disk, as the write-back does).
void BM_FileWriteInOneCall(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  EnsureDatabase(n);
  pdb::PdbDatabase db = pdb::ReadPdbFile(DbFile(n));
  for (std::int64_t i = 0; i < n; ++i) {
    db.records.push_back({eRecAttrDirty, static_cast<std::uint32_t>(n + 1 + i),
                          std::vector<std::uint8_t>(100, 'w')});
  }
  const std::vector<std::uint8_t> bytes = pdb::SerializePdb(db);
  const fs::path target = BenchFolder() / "baseline.pdb";
  for (auto _ : state) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      std::abort();
    ::fsync(fd);
    ::close(fd);
  }
  state.counters["file_bytes"] = static_cast<double>(bytes.size());
}

constexpr std::int64_t kSizes[] = {2000, 20000, 60000};

void Sizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t n : kSizes) b->Arg(n);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_FileReadAndTouch)->Apply(Sizes);
BENCHMARK(BM_PdbReadFile)->Apply(Sizes);
BENCHMARK(BM_EmuOpenWalkByIndexClose)->Apply(Sizes);
BENCHMARK(BM_EmuNextModifiedWalk)->Apply(Sizes);
BENCHMARK(BM_EmuReadById)->Arg(2000)->Arg(20000)->Arg(60000);
BENCHMARK(BM_EmuWriteNewRecordsAndClose)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileWriteInOneCall)->Arg(2000)->Arg(20000)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(BenchFolder(), ignored);
  return 0;
}
