// The sample handheld: the four built-in databases with invented content,
// laid out exactly as they are committed in samples/handheld/.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "standins/pdb/PdbFile.h"

namespace fernwick::samples {

// The sample databases with their file names ("MemoDB.pdb", ...). The
// content is fixed: the same on every call and every platform.
std::vector<std::pair<std::string, pdb::PdbDatabase>> MakeSampleHandheld();

}  // namespace fernwick::samples
