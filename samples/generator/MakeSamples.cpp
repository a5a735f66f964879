// fernwick-make-samples DIR: writes the sample handheld databases into DIR
// (created when missing), replacing files of the same names.
#include <filesystem>
#include <iostream>

#include "samples/generator/SampleHandheld.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fernwick-make-samples DIR\n";
    return 2;
  }
  try {
    std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    for (const auto& [file, db] : fernwick::samples::MakeSampleHandheld()) {
      fernwick::pdb::WritePdbFileAtomically(dir / file, db);
      std::cout << (dir / file).string() << ": " << db.records.size() << " records\n";
    }
  } catch (const std::exception& e) {
    std::cerr << "fernwick-make-samples: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
