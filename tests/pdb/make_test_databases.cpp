// fernwick-make-testdbs: writes the test databases for the checks that run
// outside the unit tests.
//
//   fernwick-make-testdbs --interop DIR   Exercise.pdb and Exercise.prc, for
//                                         the Perl interoperability check
//   fernwick-make-testdbs --corpus DIR    small valid, quirky and damaged
//                                         files: the file reader's fuzz seeds
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "TestDatabases.h"

namespace {

void Write(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace fernwick::pdb;
  if (argc != 3) {
    std::cerr << "usage: fernwick-make-testdbs --interop|--corpus DIR\n";
    return 2;
  }
  try {
    const std::string mode = argv[1];
    const std::filesystem::path dir = argv[2];
    std::filesystem::create_directories(dir);
    const PdbDatabase records = testing::ExerciseRecordDatabase();
    const PdbDatabase resources = testing::ExerciseResourceDatabase();
    if (mode == "--interop") {
      WritePdbFileAtomically(dir / "Exercise.pdb", records);
      WritePdbFileAtomically(dir / "Exercise.prc", resources);
    } else if (mode == "--corpus") {
      Write(dir / "valid-records.pdb", SerializePdb(records));
      Write(dir / "valid-resources.prc", SerializePdb(resources));
      PdbDatabase small;
      small.name = "Small";
      small.records.push_back(PdbRecord{kRecDirty, 1, {'h', 'i', 0}});
      Write(dir / "valid-small.pdb", SerializePdb(small));
      PdbDatabase empty;
      empty.name = "Empty";
      Write(dir / "valid-empty.pdb", SerializePdb(empty));
      Write(dir / "quirk-no-gap.pdb", testing::WithoutGap(records));
      Write(dir / "quirk-out-of-order.pdb",
            testing::OffsetsOutOfOrder(testing::ExerciseWithoutEmptyRecords()));
      for (const auto& damaged : testing::DamagedFiles()) {
        Write(dir / ("damaged-" + damaged.name + ".pdb"), damaged.bytes);
      }
    } else {
      std::cerr << "fernwick-make-testdbs: unknown mode " << mode << "\n";
      return 2;
    }
  } catch (const std::exception& e) {
    std::cerr << "fernwick-make-testdbs: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
