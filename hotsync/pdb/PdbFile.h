// Handheld database files (.pdb record databases and .prc resource
// databases): an in-memory model, a reader that refuses damaged files with a
// clear error, and a writer that lays a database out in the canonical form.
// The byte layout is documented in docs/handheld-files.md.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "framework/Exceptions.h"

namespace fernwick::pdb {

// A file that is not a well-formed handheld database. The message names the
// file and the fault, for instance
// "MemoDB.pdb: record 3 starts past the end of the file (offset 9120, size 8000)".
class PdbFormatError : public Exception {
 public:
  using Exception::Exception;
};

// One record of a record database.
struct PdbRecord {
  std::uint8_t attributes = 0;  // deleted/dirty/busy/secret bits and category
  std::uint32_t unique_id = 0;  // 24-bit; 0 means "no id"
  std::vector<std::uint8_t> data;
};

// One resource of a resource database.
struct PdbResource {
  std::uint32_t type = 0;  // four characters, big-endian packed
  std::uint16_t id = 0;
  std::vector<std::uint8_t> data;
};

// A whole database as held in memory. Dates are kept exactly as stored
// (seconds, in whichever epoch the file used) so that a database read and
// written back unchanged gives the same bytes.
struct PdbDatabase {
  std::string name;               // at most 31 characters
  std::uint16_t attributes = 0;   // database attribute bits; unknown bits kept
  std::uint16_t version = 0;
  std::uint32_t creation_date = 0;
  std::uint32_t modification_date = 0;
  std::uint32_t backup_date = 0;  // 0 = never backed up
  std::uint32_t modification_number = 0;
  std::uint32_t type = 0;
  std::uint32_t creator = 0;
  std::uint32_t unique_id_seed = 0;
  std::optional<std::vector<std::uint8_t>> app_info;   // absent: no block
  std::optional<std::vector<std::uint8_t>> sort_info;  // absent: no block
  std::vector<PdbRecord> records;      // record databases
  std::vector<PdbResource> resources;  // resource databases

  bool IsResourceDatabase() const { return (attributes & 0x0001) != 0; }
};

// Parses the bytes of a database file. `source_name` names the file in error
// messages. Survives the quirks of real files (missing two-byte gap,
// zero-length records, offsets out of order); throws PdbFormatError for a
// damaged file and never reads outside `bytes`.
PdbDatabase ParsePdb(std::span<const std::uint8_t> bytes, const std::string& source_name);

// Reads and parses a file. Throws PdbFormatError (damaged file) or Exception
// (the file cannot be read), naming the file.
PdbDatabase ReadPdbFile(const std::filesystem::path& path);

// Lays a database out in the canonical form: header, entry list, two zero
// bytes, application info, sort info, then records in order.
std::vector<std::uint8_t> SerializePdb(const PdbDatabase& db);

// Writes the database to `path` atomically: a temporary file in the same
// folder, flushed to disk, then renamed over `path`. A crash at any point
// leaves either the old file or the new one, whole.
void WritePdbFileAtomically(const std::filesystem::path& path, const PdbDatabase& db);

// Four-character codes such as 'DATA' <-> packed 32-bit values.
std::uint32_t FourCC(const char (&code)[5]);
std::string FourCCToString(std::uint32_t value);

// Handheld dates are seconds since 1 January 1904; some files hold signed
// seconds since 1 January 1970 instead (a value whose top bit is clear, read
// as 1904-based, would date from before 1972). Converts either to seconds
// since 1970 (Unix time).
std::int64_t PalmDateToUnix(std::uint32_t stored);
// Unix time to seconds since 1904, as the handheld writes them.
std::uint32_t UnixToPalmDate(std::int64_t unix_seconds);

}  // namespace fernwick::pdb
