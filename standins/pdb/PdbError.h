// The errors of the database file stand-ins (standins/pdb and the emulator
// built on it). Header-only, so that the stand-ins need no library of their
// own for them.
#pragma once

#include <stdexcept>
#include <string>

namespace fernwick::pdb {

// A database file or record that cannot be read, laid out or written. The
// message names the file (or the kind of block) and the fault.
class PdbError : public std::runtime_error {
 public:
  explicit PdbError(const std::string& message) : std::runtime_error(message) {}

  // The message text, as shown to the user or written to the HotSync log.
  std::string Message() const { return what(); }
};

// A file or block that is not well formed. The message names the file and
// the fault, for instance
// "MemoDB.pdb: record 3 starts past the end of the file (offset 9120, size 8000)".
class PdbFormatError : public PdbError {
 public:
  using PdbError::PdbError;
};

}  // namespace fernwick::pdb
