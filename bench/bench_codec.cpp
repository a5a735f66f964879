// Decode and encode of typical records through the record codec.
//
// Every benchmark reports ns per record (the time column) and the heap
// allocations per record ("allocs/record"), counted by the replaced global
// operator new below.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include <fernwick/db/DorvConduitDb.h>

namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

// g++ cannot see that the replaced operator new below allocates with malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace fernwick;

constexpr std::int32_t kBufferLength = TDorvConduitDb::kMaxLayoutLength;

// An address-book-like record: a phone label word, a present-fields mask, a
// company offset, a category byte, a date, a time, a flags word, a small
// counter, then eight short strings.
void AddressLayout(TDorvConduitDb& db) {
  const TDorvPalmFieldType numbers[] = {pftLongint, pftLongint, pftByte,     pftByte,
                                        pftDate,    pftTime,    pftSmallint, pftSmallint};
  for (TDorvPalmFieldType type : numbers) db.Fields().Add()->SetDataType(type);
  const char* texts[] = {"Fernsby",  "Avery",      "Wickham Ltd", "555-0100",
                         "555-0199", "12 High St", "Bristol",     "BS1 4DJ"};
  for (int i = 0; i < 8; ++i) db.Fields().Add();
  std::uint8_t buffer[256] = {};
  std::uint32_t used = 0;
  for (int i = 0; i < 8; ++i) db.Fields().Items(i)->SetAsInteger(i * 1000 + 7);
  for (int i = 0; i < 8; ++i) db.Fields().Items(8 + i)->SetAsString(texts[i]);
  db.SetBufferFromFieldValues(buffer, sizeof buffer, db.Fields(), used, false);
}

void RunCodec(benchmark::State& state, TDorvConduitDb& db, bool test_exists) {
  std::vector<std::uint8_t> record(kBufferLength, 0);
  std::uint32_t used = 0;
  db.SetBufferFromFieldValues(record.data(), kBufferLength, db.Fields(), used, test_exists);
  std::vector<std::uint8_t> out(kBufferLength, 0);
  // Warm up once so that the values already have their shapes.
  db.GetFieldValuesFromBuffer(record.data(), kBufferLength, db.Fields(), test_exists);
  const std::uint64_t before = g_allocations.load();
  for (auto _ : state) {
    db.GetFieldValuesFromBuffer(record.data(), kBufferLength, db.Fields(), test_exists);
    db.SetBufferFromFieldValues(out.data(), kBufferLength, db.Fields(), used, test_exists);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["allocs/record"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
  state.counters["bytes/record"] = used;
}

void BM_AddressRecordDecodeEncode(benchmark::State& state) {
  TDorvConduitDb db(nullptr);
  AddressLayout(db);
  db.SetAlignOnWord(state.range(0) != 0);
  RunCodec(state, db, false);
}
BENCHMARK(BM_AddressRecordDecodeEncode)->Arg(0)->Arg(1);

void BM_AddressRecordWithExistenceTests(benchmark::State& state) {
  TDorvConduitDb db(nullptr);
  AddressLayout(db);
  auto present = [](TDorvConduitDb&, TDorvPalmField&, std::int32_t, bool&) {};
  db.SetOnTestFieldExistsForRead(present);
  db.SetOnTestFieldExistsForWrite(present);
  RunCodec(state, db, true);
}
BENCHMARK(BM_AddressRecordWithExistenceTests);

void BM_LongintArrayDecodeEncode(benchmark::State& state) {
  TDorvConduitDb db(nullptr);
  TDorvPalmField* f = db.Fields().Add();
  f->SetDataType(pftLongint);
  f->SetArraySize(1000);
  for (int i = 0; i < 1000; ++i) f->SetArrayValue(i, Variant(std::int32_t{i * 7919}));
  RunCodec(state, db, false);
}
BENCHMARK(BM_LongintArrayDecodeEncode);

}  // namespace

BENCHMARK_MAIN();
