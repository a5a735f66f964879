#include "standins/pdb/PdbFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <utility>

#include "standins/pdb/AtomicFile.h"
#include "standins/pdb/BigEndian.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fernwick::pdb {

namespace {

constexpr std::int64_t kSeconds1904To1970 = 2082844800;

using Extent = PdbExtent;
using Layout = PdbIndex;

std::string Hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
  return buf;
}

// A file over kPdbMaxFileSize cannot be a database: refused before it is
// read.
void CheckFileSize(std::uint64_t file_size, const std::string& source) {
  if (file_size > kPdbMaxFileSize) {
    throw PdbFormatError(source + ": the file is too large for a database (" +
                         std::to_string(file_size) +
                         " bytes; its 32-bit offsets reach at most 4294967295)");
  }
}

std::uint64_t SizeOf(std::ifstream& in, const std::string& source) {
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  in.seekg(0);
  if (end < 0 || !in) throw PdbError(source + ": cannot determine the size of the file");
  return static_cast<std::uint64_t>(end);
}

// The bytes of a whole file, for parsing from memory. A large file is
// mapped where the system allows it (POSIX), so that its bytes are not held
// on the heap beside the database built from them, and so that the first
// read of a process does not fault in fresh heap pages for them; a small
// one, and any file on Windows, is read in one call (below a few dozen
// kilobytes a mapping's set-up and tear-down cost more than the copy). A
// file over kPdbMaxFileSize is refused before anything is read.
class FileBytes {
#ifdef MAP_POPULATE
  // Maps every page in one call instead of taking a fault per page.
  static constexpr int kPopulate = MAP_POPULATE;
#else
  static constexpr int kPopulate = 0;
#endif
  // Files up to this size are read rather than mapped.
  static constexpr std::size_t kReadLimit = std::size_t{64} << 10;

 public:
  FileBytes(const std::filesystem::path& path, const std::string& source) {
#ifndef _WIN32
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw PdbError(source + ": cannot open the file for reading");
    try {
      struct stat st {};
      if (::fstat(fd, &st) != 0 || st.st_size < 0) {
        throw PdbError(source + ": cannot determine the size of the file");
      }
      const auto file_size = static_cast<std::uint64_t>(st.st_size);
      CheckFileSize(file_size, source);
      size_ = static_cast<std::size_t>(file_size);
      if (size_ > kReadLimit) {
        void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | kPopulate, fd, 0);
        if (mapped != MAP_FAILED) mapped_ = static_cast<const std::uint8_t*>(mapped);
      }
      if (mapped_ == nullptr) ReadAll(fd, source);
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
#else
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PdbError(source + ": cannot open the file for reading");
    const std::uint64_t size = SizeOf(in, source);
    CheckFileSize(size, source);
    size_ = static_cast<std::size_t>(size);
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(size_, 1));
    if (!in.read(reinterpret_cast<char*>(buffer_.get()), static_cast<std::streamsize>(size_))) {
      throw PdbError(source + ": cannot read the file (" + std::to_string(in.gcount()) + " of " +
                     std::to_string(size_) + " bytes read)");
    }
#endif
  }
  ~FileBytes() {
#ifndef _WIN32
    if (mapped_ != nullptr) ::munmap(const_cast<std::uint8_t*>(mapped_), size_);
#endif
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::span<const std::uint8_t> Bytes() const {
    return {mapped_ != nullptr ? mapped_ : buffer_.get(), size_};
  }

 private:
#ifndef _WIN32
  // Reads the size_ bytes of the open file `fd` into buffer_; a file that
  // turns out shorter is an error.
  void ReadAll(int fd, const std::string& source) {
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(size_, 1));
    std::size_t done = 0;
    while (done < size_) {
      const ssize_t n = ::read(fd, buffer_.get() + done, size_ - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        throw PdbError(source + ": cannot read the file (" + std::to_string(done) + " of " +
                       std::to_string(size_) + " bytes read)");
      }
      done += static_cast<std::size_t>(n);
    }
  }
#endif

  const std::uint8_t* mapped_ = nullptr;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t size_ = 0;
};

// File layout. Every integer is big-endian; there is no padding.
//
// Header, 78 bytes:
//   OFFSET  SIZE  FIELD
//        0    32  name, NUL-terminated (at most 31 characters; bytes after
//                 the NUL are ignored on reading and written as zeros)
//       32     2  database attributes (0x0001 = resource database)
//       34     2  version
//       36     4  creation date       } seconds since 1904, or (top bit
//       40     4  modification date   } clear) signed seconds since 1970;
//       44     4  last backup date    } kept exactly as stored
//       48     4  modification number
//       52     4  application info block offset (0 = none)
//       56     4  sort info block offset (0 = none)
//       60     4  type (four characters)
//       64     4  creator (four characters)
//       68     4  unique-id seed
//       72     4  next record list id: must be 0 (chained lists are refused)
//       76     2  number of entries N
//
// Entry list at offset 78, N entries:
//   record database, 8 bytes each:    resource database, 10 bytes each:
//     0  4  data offset                 0  4  type (four characters)
//     4  1  attributes and category     4  2  resource id
//     5  3  unique id                   6  4  data offset
//
// Then two zero bytes (the writer always puts them; the reader does not need
// them), the application info block, the sort info block and the record or
// resource data. No lengths are stored: a block runs to the next higher
// offset among all blocks, the last one to the end of the file. Several
// blocks at one offset are zero-length except the last of them in the order
// application info, sort info, entries by index -- the order the writer lays
// them out in, so an empty block written before a full one reads back empty.
//
// Every offset must lie at or after the end of the entry list and at or
// before the end of the file; anything else is refused as damage. Offsets
// have 32 bits, so a file over kPdbMaxFileSize cannot be a database.

// The header as read, with what locates the blocks.
struct Header {
  PdbFileHeader fields;
  std::uint32_t app_offset = 0;
  std::uint32_t sort_offset = 0;
};

// Reads the header from `head`, the first bytes of a file of `file_size`
// bytes (all of them up to kPdbHeaderSize), and makes every check that needs
// only the header.
Header ParseHeader(std::span<const std::uint8_t> head, std::uint64_t file_size,
                   const std::string& source) {
  CheckFileSize(file_size, source);
  if (file_size < kPdbHeaderSize || head.size() < kPdbHeaderSize) {
    throw PdbFormatError(source + ": file is too short for a database header (" +
                         std::to_string(file_size) + " bytes, the header takes 78)");
  }
  BigEndianReader in(head.first(kPdbHeaderSize), source);
  Header header;
  PdbFileHeader& h = header.fields;
  h.file_size = file_size;
  auto name = in.Bytes(kPdbNameSize);
  h.attributes = in.U16();
  h.version = in.U16();
  h.creation_date = in.U32();
  h.modification_date = in.U32();
  h.backup_date = in.U32();
  h.modification_number = in.U32();
  header.app_offset = in.U32();
  header.sort_offset = in.U32();
  h.type = in.U32();
  h.creator = in.U32();
  h.unique_id_seed = in.U32();
  const std::uint32_t next_list = in.U32();
  h.entry_count = in.U16();

  const bool resources = h.IsResourceDatabase();
  const std::uint64_t list_end = PdbEntryListEnd(h.entry_count, resources);
  if (list_end > file_size) {
    throw PdbFormatError(source + ": the entry list of " + std::to_string(h.entry_count) +
                         (resources ? " resources" : " records") +
                         " does not fit in the file (needs " + std::to_string(list_end) +
                         " bytes, size " + std::to_string(file_size) + ")");
  }
  auto nul = std::find(name.begin(), name.end(), std::uint8_t{0});
  if (nul == name.end()) {
    throw PdbFormatError(source + ": the database name has no terminating NUL within 32 bytes");
  }
  h.name.assign(name.begin(), nul);
  if (next_list != 0) {
    throw PdbFormatError(source + ": the next record list id is " + Hex32(next_list) +
                         ", not 0 (chained entry lists are a sign of damage)");
  }
  return header;
}

// Whether the blocks lie in the order the writer lays them out in.
bool InFileOrder(const Layout& layout) {
  std::uint32_t last = 0;
  auto next = [&last](const Extent& e) {
    if (e.offset < last) return false;
    last = e.offset;
    return true;
  };
  if (layout.app_info && !next(*layout.app_info)) return false;
  if (layout.sort_info && !next(*layout.sort_info)) return false;
  return std::all_of(layout.entries.begin(), layout.entries.end(), next);
}

// Lengths for blocks out of order: by the sorted offsets, where rank 0 is
// the application info block, 1 the sort info block and 2 + i entry i, ties
// keeping that order.
void SetLengthsSorted(Layout& layout, std::uint64_t file_size) {
  auto extent_of = [&](std::size_t rank) -> Extent& {
    if (rank == 0) return *layout.app_info;
    if (rank == 1) return *layout.sort_info;
    return layout.entries[rank - 2];
  };
  std::vector<std::uint32_t> order;
  order.reserve(layout.entries.size() + 2);
  if (layout.app_info) order.push_back(0);
  if (layout.sort_info) order.push_back(1);
  for (std::size_t i = 0; i < layout.entries.size(); ++i) {
    order.push_back(static_cast<std::uint32_t>(i + 2));
  }
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return extent_of(a).offset < extent_of(b).offset;
  });
  for (std::size_t k = 0; k < order.size(); ++k) {
    Extent& e = extent_of(order[k]);
    const std::uint64_t end = k + 1 < order.size() ? extent_of(order[k + 1]).offset : file_size;
    e.length = static_cast<std::uint32_t>(end - e.offset);
  }
}

// Parses the header and entry list in `bytes`, the whole file, checks every
// offset and computes every block's length.
Layout ParseLayout(std::span<const std::uint8_t> bytes, const std::string& source) {
  const std::uint64_t file_size = bytes.size();
  Header header = ParseHeader(bytes, file_size, source);
  Layout layout;
  PdbDatabase& db = layout.db;
  const std::size_t count = header.fields.entry_count;
  static_cast<PdbHeader&>(db) = std::move(header.fields);

  const bool resources = db.IsResourceDatabase();
  const std::uint64_t data_start = PdbEntryListEnd(count, resources);
  // `what` is only asked for when the offset is bad.
  auto check = [&](std::uint32_t offset, auto what_of) {
    if (offset >= data_start && offset <= file_size) return;
    const std::string what = what_of();
    if (offset > file_size) {
      throw PdbFormatError(source + ": " + what + " starts past the end of the file (offset " +
                           std::to_string(offset) + ", size " + std::to_string(file_size) + ")");
    }
    throw PdbFormatError(source + ": " + what + " overlaps the header or entry list (offset " +
                         std::to_string(offset) + ", the entry list ends at " +
                         std::to_string(data_start) + ")");
  };

  BigEndianReader in(bytes.subspan(kPdbHeaderSize), source);
  layout.entries.resize(count);
  if (resources) {
    db.resources.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      db.resources[i].type = in.U32();
      db.resources[i].id = in.U16();
      layout.entries[i].offset = in.U32();
      check(layout.entries[i].offset, [i] { return "resource " + std::to_string(i); });
    }
  } else {
    db.records.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      layout.entries[i].offset = in.U32();
      db.records[i].attributes = in.U8();
      db.records[i].unique_id = in.U24();
      check(layout.entries[i].offset, [i] { return "record " + std::to_string(i); });
    }
  }
  if (header.app_offset != 0) {
    check(header.app_offset, [] { return std::string("the application info block"); });
    layout.app_info = Extent{header.app_offset, 0};
  }
  if (header.sort_offset != 0) {
    check(header.sort_offset, [] { return std::string("the sort info block"); });
    layout.sort_info = Extent{header.sort_offset, 0};
  }

  // A block runs to the next higher offset among all blocks; ties keep the
  // order application info, sort info, entries by index. Files are written
  // in that order, so one backward pass usually gives every length.
  if (InFileOrder(layout)) {
    std::uint64_t end = file_size;
    auto close_block = [&end](Extent& e) {
      e.length = static_cast<std::uint32_t>(end - e.offset);
      end = e.offset;
    };
    for (std::size_t i = count; i-- > 0;) close_block(layout.entries[i]);
    if (layout.sort_info) close_block(*layout.sort_info);
    if (layout.app_info) close_block(*layout.app_info);
  } else {
    SetLengthsSorted(layout, file_size);
  }
  return layout;
}

std::vector<std::uint8_t> CopyBlock(std::span<const std::uint8_t> bytes, Extent e) {
  auto block = bytes.subspan(e.offset, e.length);
  return {block.begin(), block.end()};
}

// Serialises into any sink with Put(const std::uint8_t*, std::size_t).
template <class Sink>
void Emit(const PdbDatabase& db, Sink& out) {
  const std::string where = db.name.empty() ? std::string("database") : "database " + db.name;
  if (db.name.size() >= kPdbNameSize) {
    throw PdbError(where + ": the name is longer than 31 characters");
  }
  if (db.name.find('\0') != std::string::npos) {
    throw PdbError(where + ": the name contains a NUL character");
  }
  const bool resources = db.IsResourceDatabase();
  if (resources ? !db.records.empty() : !db.resources.empty()) {
    throw PdbError(where + (resources ? ": a resource database holds records"
                                      : ": a record database holds resources"));
  }
  const std::size_t count = resources ? db.resources.size() : db.records.size();
  if (count > 0xFFFF) {
    throw PdbError(where + ": too many entries for one file (" + std::to_string(count) +
                   ", at most 65535)");
  }

  std::uint64_t offset = PdbEntryListEnd(count, resources) + 2;
  const std::uint64_t app_offset = db.app_info ? offset : 0;
  if (db.app_info) offset += db.app_info->size();
  const std::uint64_t sort_offset = db.sort_info ? offset : 0;
  if (db.sort_info) offset += db.sort_info->size();
  std::uint64_t total = offset;
  for (const auto& r : db.records) total += r.data.size();
  for (const auto& r : db.resources) total += r.data.size();
  if (total > 0xFFFFFFFFu) {
    throw PdbError(where + ": too large for the 32-bit offsets of a database file");
  }

  BigEndianWriter<Sink> w(out);
  w.FixedString(db.name, kPdbNameSize);
  w.U16(db.attributes);
  w.U16(db.version);
  w.U32(db.creation_date);
  w.U32(db.modification_date);
  w.U32(db.backup_date);
  w.U32(db.modification_number);
  w.U32(app_offset);
  w.U32(sort_offset);
  w.U32(db.type);
  w.U32(db.creator);
  w.U32(db.unique_id_seed);
  w.U32(0);
  w.U16(static_cast<std::uint32_t>(count));

  if (resources) {
    for (const auto& r : db.resources) {
      w.U32(r.type);
      w.U16(r.id);
      w.U32(offset);
      offset += r.data.size();
    }
  } else {
    for (const auto& r : db.records) {
      if (r.unique_id > 0xFFFFFF) {
        throw PdbError(where + ": record unique id " + std::to_string(r.unique_id) +
                       " does not fit in 24 bits");
      }
      w.U32(offset);
      w.U8(r.attributes);
      w.U24(r.unique_id);
      offset += r.data.size();
    }
  }
  w.U16(0);
  if (db.app_info) w.Bytes(*db.app_info);
  if (db.sort_info) w.Bytes(*db.sort_info);
  for (const auto& r : db.records) w.Bytes(r.data);
  for (const auto& r : db.resources) w.Bytes(r.data);
}

}  // namespace

PdbIndex IndexPdb(std::span<const std::uint8_t> bytes, const std::string& source_name) {
  PdbIndex index = ParseLayout(bytes, source_name);
  if (index.app_info) index.db.app_info.emplace();
  if (index.sort_info) index.db.sort_info.emplace();
  return index;
}

PdbDatabase ParsePdb(std::span<const std::uint8_t> bytes, const std::string& source_name) {
  Layout layout = ParseLayout(bytes, source_name);
  PdbDatabase& db = layout.db;
  if (layout.app_info) db.app_info = CopyBlock(bytes, *layout.app_info);
  if (layout.sort_info) db.sort_info = CopyBlock(bytes, *layout.sort_info);
  for (std::size_t i = 0; i < db.records.size(); ++i) {
    db.records[i].data = CopyBlock(bytes, layout.entries[i]);
  }
  for (std::size_t i = 0; i < db.resources.size(); ++i) {
    db.resources[i].data = CopyBlock(bytes, layout.entries[i]);
  }
  return std::move(layout.db);
}

PdbDatabase ReadPdbFile(const std::filesystem::path& path) {
  const std::string source = path.string();
  const FileBytes file(path, source);
  return ParsePdb(file.Bytes(), source);
}

PdbFileHeader ReadPdbHeader(const std::filesystem::path& path) {
  const std::string source = path.string();
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PdbError(source + ": cannot open the file for reading");
  const std::uint64_t file_size = SizeOf(in, source);
  std::uint8_t head[kPdbHeaderSize];
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(file_size, sizeof head));
  if (!in.read(reinterpret_cast<char*>(head), static_cast<std::streamsize>(want))) {
    throw PdbError(source + ": cannot read the file");
  }
  return ParseHeader({head, want}, file_size, source).fields;
}

std::vector<std::uint8_t> SerializePdb(const PdbDatabase& db) {
  CountingSink counter;
  Emit(db, counter);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(counter.size);
  VectorSink sink{bytes};
  Emit(db, sink);
  return bytes;
}

void WritePdbFileAtomically(const std::filesystem::path& path, const PdbDatabase& db) {
  // Checks the database before a temporary file is created.
  CountingSink counter;
  Emit(db, counter);
  // A database the handheld gains is readable by others, as the files that
  // arrive by any other way are (the folder's permissions decide).
  WriteFileAtomically(path, [&](AtomicFileWriter& out) { Emit(db, out); }, {.new_file_mode = 0644});
}

std::uint32_t FourCC(const char (&code)[5]) {
  return std::uint32_t{static_cast<std::uint8_t>(code[0])} << 24 |
         std::uint32_t{static_cast<std::uint8_t>(code[1])} << 16 |
         std::uint32_t{static_cast<std::uint8_t>(code[2])} << 8 |
         std::uint32_t{static_cast<std::uint8_t>(code[3])};
}

std::string FourCCToString(std::uint32_t value) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(value >> (24 - 8 * i));
  return s;
}

std::int64_t PalmDateToUnix(std::uint32_t stored) {
  if ((stored & 0x80000000u) == 0) return static_cast<std::int64_t>(stored);
  return static_cast<std::int64_t>(stored) - kSeconds1904To1970;
}

std::uint32_t UnixToPalmDate(std::int64_t unix_seconds) {
  std::int64_t palm = unix_seconds + kSeconds1904To1970;
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(palm, 0, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace fernwick::pdb
