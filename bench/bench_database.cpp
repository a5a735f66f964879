// The database component over the handheld emulator, library and emulator in
// one process, bound through a HotSync installation as a conduit binds them:
// a 20,000-record memo database walked with Next, its modified tenth edited
// with NextModified, Edit and Post, and the close that writes it back. The
// same walk through the bare Sync Manager calls is measured beside it, so the
// component's own cost per record can be read off one run.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "standins/pdb/PdbFile.h"
#include <fernwick/abi/Emulator.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {
namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 20000;  // for the edit; the walks take the count as argument

struct Bench {
  fs::path folder;
  fernwick::TEmuAttachHandheld attach = nullptr;
  fernwick::TEmuDetachHandheld detach = nullptr;

  Bench() {
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    folder = fs::temp_directory_path() / ("fernwick-bench-db-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path registry = folder / "registry.reg";
    std::ofstream(registry) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot "
                               "Desktop\\Core]\n\"HotSyncPath\"=\""
                            << (bin / "HotSync").string() << "\"\n";
    setenv("FERNWICK_REGISTRY", registry.string().c_str(), 1);
    LoadSyncDll();
    if (!SyncDllLoaded()) throw std::runtime_error("the emulator was not bound");
    void* lib = dlopen((bin / "libsync20.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr) throw std::runtime_error("libsync20.so is not loaded");
    attach = reinterpret_cast<decltype(attach)>(dlsym(lib, "EmuAttachHandheld"));
    detach = reinterpret_cast<decltype(detach)>(dlsym(lib, "EmuDetachHandheld"));
    fs::create_directories(folder / "handheld");
  }
  ~Bench() { fs::remove_all(folder); }

  // A memo database of `count` records of about 100 bytes; every tenth dirty.
  void MakeDatabase(int count) {
    detach();
    pdb::PdbDatabase db;
    db.name = "MemoDB";
    db.type = pdb::FourCC("DATA");
    db.creator = pdb::FourCC("memo");
    for (int i = 0; i < count; ++i) {
      pdb::PdbRecord r;
      r.unique_id = static_cast<std::uint32_t>(i + 1);
      r.attributes = static_cast<std::uint8_t>((i % 10 == 0 ? 0x40 : 0) | (i % 16));
      std::string text = "Memo " + std::to_string(i) + ": ";
      while (text.size() < 99) text += "lorem ipsum ";
      text.resize(99);
      r.data.assign(text.begin(), text.end());
      r.data.push_back(0);
      db.records.push_back(std::move(r));
    }
    db.unique_id_seed = static_cast<std::uint32_t>(count + 1);
    pdb::WritePdbFileAtomically(folder / "handheld" / "MemoDB.pdb", db);
    if (attach((folder / "handheld").string().c_str()) != 0) {
      throw std::runtime_error("attach failed");
    }
  }
};

Bench& Get() {
  static Bench bench;
  return bench;
}

void BM_ComponentWalkWithNext(benchmark::State& state) {
  const auto records = static_cast<int>(state.range(0));
  Get().MakeDatabase(records);
  TDorvConduitDb db(nullptr);
  db.SetFileName("MemoDB");
  db.SetOpenMode(eDbRead);
  db.AddField("Text", pftString, 0);
  std::size_t bytes = 0;
  for (auto _ : state) {
    db.Open();
    while (!db.Eof()) {
      bytes += db.RecordSize();
      db.Next();
    }
    db.Close();
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_ComponentWalkWithNext)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(65535)
    ->Unit(benchmark::kMillisecond);

// The same walk through the bare Sync Manager calls, without the component
// (no buffer clearing, no decoding).
void BM_EmulatorWalkByIndex(benchmark::State& state) {
  const auto records = static_cast<int>(state.range(0));
  Get().MakeDatabase(records);
  static std::uint8_t buffer[65535];
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::uint8_t handle = 0;
    SyncOpenDB("MemoDB", 0, &handle, eDbRead);
    std::uint16_t count = 0;
    SyncGetDBRecordCount(handle, &count);
    TRawRecordInfo rec{};
    rec.FileHandle = handle;
    rec.Bytes = buffer;
    rec.TotalBytes = sizeof buffer;
    for (std::uint16_t i = 0; i < count; ++i) {
      rec.RecIndex = i;
      SyncReadRecordByIndex(&rec);
      bytes += rec.RecSize;
    }
    SyncCloseDB(handle);
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_EmulatorWalkByIndex)->Arg(2000)->Arg(20000)->Arg(65535)->Unit(benchmark::kMillisecond);

// Edits the modified tenth and closes, which writes the database back. Each
// iteration starts from a fresh file, made outside the timing.
void BM_ComponentEditModifiedAndClose(benchmark::State& state) {
  TDorvConduitDb db(nullptr);
  db.SetFileName("MemoDB");
  db.AddField("Text", pftString, 0);
  std::int64_t edited = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Get().MakeDatabase(kRecords);
    state.ResumeTiming();
    db.Open();
    while (db.NextModified()) {
      db.Edit();
      db.FieldByName("Text")->SetAsString("edited " + std::to_string(edited));
      db.Post();
      ++edited;
    }
    db.Close();
  }
  state.counters["edited_per_iteration"] =
      static_cast<double>(edited) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ComponentEditModifiedAndClose)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace fernwick

BENCHMARK_MAIN();
