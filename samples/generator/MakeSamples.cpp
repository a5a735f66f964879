// fernwick-make-samples DIR: writes the sample handheld databases into DIR
// (created when missing), replacing files of the same names.
#include <filesystem>
#include <iostream>
#include <string>

#include "samples/generator/SampleHandheld.h"
#include <fernwick/FernwickVersion.h>

namespace {

constexpr const char* kUsage = R"(usage: fernwick-make-samples DIR
       fernwick-make-samples --help | -h | --version

Writes the sample handheld's database files (MemoDB.pdb, ToDoDB.pdb,
AddressDB.pdb, DatebookDB.pdb) into the folder DIR, creating it when missing
and replacing files of the same names.

Exit status: 0 written (or --help, --version); 1 a file could not be written;
2 the command line is wrong (no arguments, an unknown option, DIR a file).
)";

}  // namespace

int main(int argc, char** argv) {
  const std::string arg = argc > 1 ? argv[1] : "";
  if (arg == "--help" || arg == "-h") {
    std::cout << kUsage;
    return 0;
  }
  if (arg == "--version") {
    std::cout << "fernwick-make-samples " << FERNWICK_VERSION << "\n";
    return 0;
  }
  if (argc != 2 || (arg.size() > 1 && arg[0] == '-')) {
    if (argc == 2) std::cerr << "fernwick-make-samples: unknown option " << arg << "\n";
    std::cerr << kUsage;
    return 2;
  }
  std::error_code ec;
  if (std::filesystem::exists(arg, ec) && !std::filesystem::is_directory(arg, ec)) {
    std::cerr << "fernwick-make-samples: " << arg << " is a file, not a folder\n";
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
