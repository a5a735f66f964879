// The option of fernwick-pdbdump that another part of the program provides:
// --layout decodes records with a field layout file through the component
// library's codec, which this folder does not build on. The code that
// provides it sets LayoutOptionHandler before main runs; without it the
// option is refused.
#pragma once

#include <cstring>
#include <iostream>

namespace fernwick::pdb {

// Runs the whole program for a command line that holds --layout and returns
// its exit status.
using PdbDumpOptionHandler = int (*)(int argc, char** argv);

inline PdbDumpOptionHandler& LayoutOptionHandler() {
  static PdbDumpOptionHandler handler = nullptr;
  return handler;
}

// -1 when no argument is --layout; otherwise the handler's exit status, or
// 2 with a message when the program was built without one.
inline int RunLayoutOption(int argc, char** argv) {
  bool given = false;
  for (int i = 1; i < argc; ++i) given = given || std::strcmp(argv[i], "--layout") == 0;
  if (!given) return -1;
  if (LayoutOptionHandler() == nullptr) {
    std::cerr << "fernwick-pdbdump: --layout is not available in this build\n";
    return 2;
  }
  return LayoutOptionHandler()(argc, argv);
}

}  // namespace fernwick::pdb
