#include "EmulatedHandheld.h"

#include <atomic>
#include <stdexcept>

#include "link/TestInstallation.h"
#include <fernwick/abi/Emulator.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick::testing {

namespace {

// The emulator's extra exports, from the same loaded sync20 that the
// component library bound.
struct EmulatorControl {
  fernwick::TEmuAttachHandheld attach = nullptr;
  fernwick::TEmuDetachHandheld detach = nullptr;
  fernwick::TEmuInjectFault inject = nullptr;
  fernwick::TEmuClearFaults clear = nullptr;
};

const EmulatorControl& Control() {
  static const EmulatorControl control = [] {
    // A HotSync installation whose path is the test program's own folder,
    // kept for the whole run.
    static TestInstallation installation;
    const std::filesystem::path bin = std::filesystem::current_path();
    installation.PointAt(bin);
    LoadSyncDll();
    if (!SyncDllLoaded()) {
      throw std::runtime_error("the emulator could not be bound from " + bin.string() +
                               " (run the test from the build's bin folder, as ctest does)");
    }
    TLibHandle handle = LoadLibraryHandle((bin / "sync20.dll").string());
    EmulatorControl c;
    c.attach = ProcAs<fernwick::TEmuAttachHandheld>(GetLibraryProc(handle, "EmuAttachHandheld"));
    c.detach = ProcAs<fernwick::TEmuDetachHandheld>(GetLibraryProc(handle, "EmuDetachHandheld"));
    c.inject = ProcAs<fernwick::TEmuInjectFault>(GetLibraryProc(handle, "EmuInjectFault"));
    c.clear = ProcAs<fernwick::TEmuClearFaults>(GetLibraryProc(handle, "EmuClearFaults"));
    if (!c.attach || !c.detach || !c.inject || !c.clear) {
      throw std::runtime_error("the emulator lacks its control exports");
    }
    return c;
  }();
  return control;
}

}  // namespace

EmulatedHandheld::EmulatedHandheld() {
  static std::atomic<int> counter{0};
  folder_ = std::filesystem::temp_directory_path() /
            ("fernwick-db-test-" + std::to_string(counter++) + "-" +
             std::to_string(reinterpret_cast<std::uintptr_t>(this) & 0xFFFFFF));
  std::filesystem::remove_all(folder_);
  std::filesystem::create_directories(folder_);
  if (Control().attach(folder_.string().c_str()) != 0) {
    throw std::runtime_error("the emulator did not attach " + folder_.string());
  }
}

EmulatedHandheld::~EmulatedHandheld() {
  Control().clear();
  Control().detach();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void EmulatedHandheld::Put(const pdb::PdbDatabase& db) {
  pdb::WritePdbFileAtomically(folder_ / (db.name + ".pdb"), db);
}

pdb::PdbDatabase EmulatedHandheld::Get(const std::string& name) const {
  return pdb::ReadPdbFile(folder_ / (name + ".pdb"));
}

void EmulatedHandheld::InjectFault(const char* function, std::int32_t status) {
  if (Control().inject(function, status) != 0) {
    throw std::runtime_error(std::string("cannot inject a fault into ") + function);
  }
}

pdb::PdbDatabase TextDatabase(const std::string& name, const std::vector<std::string>& texts,
                              const std::vector<std::uint8_t>& attributes) {
  pdb::PdbDatabase db;
  db.name = name;
  db.type = pdb::FourCC("DATA");
  db.creator = pdb::FourCC("test");
  db.creation_date = db.modification_date = 0xB0000000u;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    pdb::PdbRecord record;
    record.unique_id = static_cast<std::uint32_t>(i + 1);
    record.attributes = i < attributes.size() ? attributes[i] : 0;
    record.data.assign(texts[i].begin(), texts[i].end());
    record.data.push_back(0);
    db.records.push_back(std::move(record));
  }
  db.unique_id_seed = static_cast<std::uint32_t>(texts.size() + 1);
  return db;
}

std::string RecordText(const pdb::PdbRecord& record) {
  std::string text;
  for (std::uint8_t b : record.data) {
    if (b == 0) break;
    text += static_cast<char>(b);
  }
  return text;
}

}  // namespace fernwick::testing
