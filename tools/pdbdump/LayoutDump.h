// The --layout option of fernwick-pdbdump (LayoutDump.cpp): decodes database
// files with a field layout file through the database component's codec.
#pragma once

namespace fernwick {

// Runs fernwick-pdbdump for a command line that holds --layout (the whole
// argv, the program's name first) and returns its exit status.
int RunLayoutDump(int argc, char** argv);

}  // namespace fernwick
