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

#include "standins/pdb/AtomicFile.h"
#include "standins/pdb/PdbError.h"

namespace fernwick::pdb {

// Database attribute bits (PdbHeader::attributes), the same bits the Sync
// Manager reports. Bits not named here are kept as they are.
inline constexpr std::uint16_t kDbResource = 0x0001;
inline constexpr std::uint16_t kDbReadOnly = 0x0002;
inline constexpr std::uint16_t kDbAppInfoDirty = 0x0004;
inline constexpr std::uint16_t kDbBackup = 0x0008;
inline constexpr std::uint16_t kDbOkToInstallNewer = 0x0010;
inline constexpr std::uint16_t kDbResetAfterInstall = 0x0020;
inline constexpr std::uint16_t kDbCopyPrevention = 0x0040;
inline constexpr std::uint16_t kDbStream = 0x0080;
inline constexpr std::uint16_t kDbHidden = 0x0100;
inline constexpr std::uint16_t kDbLaunchableData = 0x0200;
inline constexpr std::uint16_t kDbRecyclable = 0x0400;
inline constexpr std::uint16_t kDbBundle = 0x0800;
inline constexpr std::uint16_t kDbOpen = 0x8000;

// Record attribute byte (PdbRecord::attributes): four flag bits (the same
// bits the Sync Manager reports) and the category in the low nibble. With
// kRecDeleted set, kRecArchived marks an archived record and only the low
// three bits (kRecArchivedCategoryMask) hold the category.
inline constexpr std::uint8_t kRecDeleted = 0x80;
inline constexpr std::uint8_t kRecDirty = 0x40;
inline constexpr std::uint8_t kRecBusy = 0x20;
inline constexpr std::uint8_t kRecSecret = 0x10;
inline constexpr std::uint8_t kRecArchived = 0x08;
inline constexpr std::uint8_t kRecFlagsMask = 0xF0;
inline constexpr std::uint8_t kRecCategoryMask = 0x0F;
inline constexpr std::uint8_t kRecArchivedCategoryMask = 0x07;

// Sizes of the fixed parts of a file (the layout is tabled in PdbFile.cpp).
inline constexpr std::size_t kPdbNameSize = 32;
inline constexpr std::size_t kPdbHeaderSize = 78;
inline constexpr std::size_t kPdbRecordEntrySize = 8;
inline constexpr std::size_t kPdbResourceEntrySize = 10;
// The largest file that can be a database: its offsets have 32 bits.
inline constexpr std::uint64_t kPdbMaxFileSize = 0xFFFFFFFFu;

// Where the entry list of `count` records or resources ends: the first
// offset a block may have.
inline std::uint64_t PdbEntryListEnd(std::uint64_t count, bool resources) {
  return kPdbHeaderSize + count * (resources ? kPdbResourceEntrySize : kPdbRecordEntrySize);
}

// One record of a record database.
struct PdbRecord {
  std::uint8_t attributes = 0;  // deleted/dirty/busy/secret bits and category
  std::uint32_t unique_id = 0;  // 24-bit; 0 means "no id"
  std::vector<std::uint8_t> data;

  bool operator==(const PdbRecord&) const = default;
};

// One resource of a resource database.
struct PdbResource {
  std::uint32_t type = 0;  // four characters, big-endian packed
  std::uint16_t id = 0;
  std::vector<std::uint8_t> data;

  bool operator==(const PdbResource&) const = default;
};

// The fields of a database's header. Dates are kept exactly as stored
// (seconds, in whichever epoch the file used) so that a database read and
// written back unchanged gives the same bytes.
struct PdbHeader {
  std::string name;              // at most 31 characters
  std::uint16_t attributes = 0;  // database attribute bits; unknown bits kept
  std::uint16_t version = 0;
  std::uint32_t creation_date = 0;
  std::uint32_t modification_date = 0;
  std::uint32_t backup_date = 0;  // 0 = never backed up
  std::uint32_t modification_number = 0;
  std::uint32_t type = 0;
  std::uint32_t creator = 0;
  std::uint32_t unique_id_seed = 0;

  bool IsResourceDatabase() const { return (attributes & kDbResource) != 0; }
  bool operator==(const PdbHeader&) const = default;
};

// A whole database as held in memory.
struct PdbDatabase : PdbHeader {
  std::optional<std::vector<std::uint8_t>> app_info;   // absent: no block
  std::optional<std::vector<std::uint8_t>> sort_info;  // absent: no block
  std::vector<PdbRecord> records;                      // record databases
  std::vector<PdbResource> resources;                  // resource databases

  bool operator==(const PdbDatabase&) const = default;
};

// Parses the bytes of a database file. `source_name` names the file in error
// messages. Survives the quirks of real files (missing two-byte gap,
// zero-length records, offsets out of order); throws PdbFormatError for a
// damaged file and never reads outside `bytes`. Refused as damaged: a file
// shorter than the header or longer than kPdbMaxFileSize, an entry list that
// does not fit, a block starting past the end of the file or inside the
// header or entry list, a non-zero next record list id, a name without a NUL
// in its 32 bytes. Bytes between the entry list and the first block, and
// name bytes after the NUL, are not kept. Several blocks at one offset: all
// but the last (in the order application info, sort info, entries by index)
// are empty.
PdbDatabase ParsePdb(std::span<const std::uint8_t> bytes, const std::string& source_name);

// Where one block lies in the bytes of a file.
struct PdbExtent {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

// A database parsed without copying its blocks: `db` holds everything but
// their bytes (its records and resources have empty data; a present info
// block is an empty vector), and the extents say where each block lies in
// the bytes that were indexed. For a program that keeps the file's bytes in
// memory and copies a record out only when it needs one: the file is then
// held once, plus about 40 bytes per record.
struct PdbIndex {
  PdbDatabase db;
  std::optional<PdbExtent> app_info;
  std::optional<PdbExtent> sort_info;
  std::vector<PdbExtent> entries;  // records or resources, by index
};

// Same checks and quirks as ParsePdb; every extent lies within `bytes`.
PdbIndex IndexPdb(std::span<const std::uint8_t> bytes, const std::string& source_name);

// Reads and parses a file. Throws PdbFormatError (damaged file, or one over
// kPdbMaxFileSize) or PdbError (the file cannot be read), naming the file by
// `path`. Reads the whole file in one call, or on POSIX maps a file over
// 64 KiB into memory, and parses it from there, so the heap holds little
// more than the database it returns. On POSIX, another program cutting a
// mapped file short in place while it is being parsed (a few milliseconds)
// ends the process with SIGBUS; files replaced by WritePdbFileAtomically are
// never cut in place.
PdbDatabase ReadPdbFile(const std::filesystem::path& path);

// What the first bytes of a file say about it.
struct PdbFileHeader : PdbHeader {
  std::uint16_t entry_count = 0;  // records or resources
  std::uint64_t file_size = 0;
};

// Reads only the header of a file, with every check ParsePdb makes on it
// (too short, too large, a name without NUL, a chained entry list, an entry
// list that does not fit); throws as ReadPdbFile does.
PdbFileHeader ReadPdbHeader(const std::filesystem::path& path);

// Lays a database out in the canonical form: header, entry list, two zero
// bytes, application info, sort info, then records in order. A present but
// empty info block gets the offset of what follows it. Throws PdbError for
// a database that cannot be laid out (see WritePdbFileAtomically).
std::vector<std::uint8_t> SerializePdb(const PdbDatabase& db);

// Writes the database to `path` atomically: a temporary file in the same
// folder, flushed to disk, then renamed over `path`. A crash at any point
// leaves either the old file or the new one, whole (a stray temporary file
// may remain; IsTemporaryFileName in AtomicFile.h recognises it). Throws
// PdbError, with `path` unchanged, when the database cannot be laid out
// (name of 32 characters or more, more than 65535 entries, a unique id above
// 24 bits, records in a resource database or the reverse, over 4 GB) or the
// file cannot be written.
void WritePdbFileAtomically(const std::filesystem::path& path, const PdbDatabase& db);

// Four-character codes such as 'DATA' <-> packed 32-bit values.
std::uint32_t FourCC(const char (&code)[5]);
std::string FourCCToString(std::uint32_t value);

// Handheld dates are seconds since 1 January 1904; some files hold signed
// seconds since 1 January 1970 instead (a value whose top bit is clear, read
// as 1904-based, would date from before 1972). Converts either to seconds
// since 1970 (Unix time).
std::int64_t PalmDateToUnix(std::uint32_t stored);
// Unix time to seconds since 1904, as the handheld writes them; clamped to
// the range of the field (1904-01-01 to 2040-02-06).
std::uint32_t UnixToPalmDate(std::int64_t unix_seconds);

}  // namespace fernwick::pdb
