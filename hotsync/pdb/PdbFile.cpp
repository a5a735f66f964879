#include "hotsync/pdb/PdbFile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <utility>

#include "hotsync/pdb/AtomicFile.h"

namespace fernwick::pdb {

namespace {

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
// before the end of the file; anything else is refused as damage.
constexpr std::size_t kHeaderSize = 78;
constexpr std::size_t kRecordEntrySize = 8;
constexpr std::size_t kResourceEntrySize = 10;
constexpr std::size_t kNameSize = 32;
constexpr std::int64_t kSeconds1904To1970 = 2082844800;

// A bounded, checked view over bytes that reads big-endian integers one byte
// at a time.
class ByteReader {
 public:
  ByteReader(std::span<const std::uint8_t> bytes, const std::string& source)
      : bytes_(bytes), source_(source) {}

  std::uint8_t U8() {
    Need(1);
    return bytes_[pos_++];
  }
  std::uint16_t U16() {
    Need(2);
    std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] << 8 | bytes_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  std::uint32_t U24() {
    Need(3);
    std::uint32_t v = std::uint32_t{bytes_[pos_]} << 16 | std::uint32_t{bytes_[pos_ + 1]} << 8 |
                      std::uint32_t{bytes_[pos_ + 2]};
    pos_ += 3;
    return v;
  }
  std::uint32_t U32() {
    Need(4);
    std::uint32_t v = std::uint32_t{bytes_[pos_]} << 24 | std::uint32_t{bytes_[pos_ + 1]} << 16 |
                      std::uint32_t{bytes_[pos_ + 2]} << 8 | std::uint32_t{bytes_[pos_ + 3]};
    pos_ += 4;
    return v;
  }
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    Need(n);
    auto s = bytes_.subspan(pos_, n);
    pos_ += n;
    return s;
  }

 private:
  void Need(std::size_t n) const {
    if (n > bytes_.size() - pos_) {
      throw PdbFormatError(source_ + ": file ends inside the header or entry list");
    }
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  const std::string& source_;
};

using Extent = PdbExtent;
using Layout = PdbIndex;

std::string Hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
  return buf;
}

std::size_t EntryListEnd(std::size_t count, bool resources) {
  return kHeaderSize + count * (resources ? kResourceEntrySize : kRecordEntrySize);
}

// Reads the header from `head` (at least kHeaderSize bytes) and returns the
// number of entries, after the checks that need only the header.
std::size_t CheckHeader(std::span<const std::uint8_t> head, std::uint64_t file_size,
                        const std::string& source) {
  if (file_size < kHeaderSize) {
    throw PdbFormatError(source + ": file is too short for a database header (" +
                         std::to_string(file_size) + " bytes, the header takes 78)");
  }
  std::size_t count = std::size_t{head[76]} << 8 | head[77];
  bool resources = (head[33] & 0x01) != 0;
  std::uint64_t list_end = EntryListEnd(count, resources);
  if (list_end > file_size) {
    throw PdbFormatError(source + ": the entry list of " + std::to_string(count) +
                         (resources ? " resources" : " records") +
                         " does not fit in the file (needs " + std::to_string(list_end) +
                         " bytes, size " + std::to_string(file_size) + ")");
  }
  return count;
}

// Parses the header and entry list in `head` (which holds at least the
// header and the whole entry list) of a file of `file_size` bytes, checks
// every offset and computes every block's length.
Layout ParseLayout(std::span<const std::uint8_t> head, std::uint64_t file_size,
                   const std::string& source) {
  std::size_t count = CheckHeader(head, file_size, source);
  ByteReader in(head, source);
  Layout layout;
  PdbDatabase& db = layout.db;

  auto name = in.Bytes(kNameSize);
  auto nul = std::find(name.begin(), name.end(), std::uint8_t{0});
  if (nul == name.end()) {
    throw PdbFormatError(source + ": the database name has no terminating NUL within 32 bytes");
  }
  db.name.assign(name.begin(), nul);
  db.attributes = in.U16();
  db.version = in.U16();
  db.creation_date = in.U32();
  db.modification_date = in.U32();
  db.backup_date = in.U32();
  db.modification_number = in.U32();
  std::uint32_t app_offset = in.U32();
  std::uint32_t sort_offset = in.U32();
  db.type = in.U32();
  db.creator = in.U32();
  db.unique_id_seed = in.U32();
  std::uint32_t next_list = in.U32();
  if (next_list != 0) {
    throw PdbFormatError(source + ": the next record list id is " + Hex32(next_list) +
                         ", not 0 (chained entry lists are a sign of damage)");
  }
  in.U16();  // entry count, read by CheckHeader

  const bool resources = db.IsResourceDatabase();
  const std::uint64_t data_start = EntryListEnd(count, resources);
  // `what` is only asked for when the offset is bad.
  auto check = [&](std::uint32_t offset, auto what_of) {
    if (offset >= data_start && offset <= file_size) return;
    const std::string what = what_of();
    if (offset > file_size) {
      throw PdbFormatError(source + ": " + what + " starts past the end of the file (offset " +
                           std::to_string(offset) + ", size " + std::to_string(file_size) + ")");
    }
    if (offset < data_start) {
      throw PdbFormatError(source + ": " + what + " overlaps the header or entry list (offset " +
                           std::to_string(offset) + ", the entry list ends at " +
                           std::to_string(data_start) + ")");
    }
  };

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
  if (app_offset != 0) {
    check(app_offset, [] { return std::string("the application info block"); });
    layout.app_info = Extent{app_offset, 0};
  }
  if (sort_offset != 0) {
    check(sort_offset, [] { return std::string("the sort info block"); });
    layout.sort_info = Extent{sort_offset, 0};
  }

  // Lengths from the sorted offsets: rank 0 is the application info block,
  // 1 the sort info block, 2 + i entry i; ties keep that order.
  auto extent_of = [&](std::size_t rank) -> Extent& {
    if (rank == 0) return *layout.app_info;
    if (rank == 1) return *layout.sort_info;
    return layout.entries[rank - 2];
  };
  std::vector<std::uint32_t> order;
  order.reserve(count + 2);
  if (layout.app_info) order.push_back(0);
  if (layout.sort_info) order.push_back(1);
  for (std::size_t i = 0; i < count; ++i) order.push_back(static_cast<std::uint32_t>(i + 2));
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return extent_of(a).offset < extent_of(b).offset;
  });
  for (std::size_t k = 0; k < order.size(); ++k) {
    Extent& e = extent_of(order[k]);
    std::uint64_t end = k + 1 < order.size() ? extent_of(order[k + 1]).offset : file_size;
    e.length = static_cast<std::uint32_t>(end - e.offset);
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
  if (db.name.size() >= kNameSize) {
    throw Exception(where + ": the name is longer than 31 characters");
  }
  if (db.name.find('\0') != std::string::npos) {
    throw Exception(where + ": the name contains a NUL character");
  }
  const bool resources = db.IsResourceDatabase();
  if (resources ? !db.records.empty() : !db.resources.empty()) {
    throw Exception(where + (resources ? ": a resource database holds records"
                                       : ": a record database holds resources"));
  }
  const std::size_t count = resources ? db.resources.size() : db.records.size();
  if (count > 0xFFFF) {
    throw Exception(where + ": too many entries for one file (" + std::to_string(count) +
                    ", at most 65535)");
  }

  std::uint64_t offset = EntryListEnd(count, resources) + 2;
  const std::uint64_t app_offset = db.app_info ? offset : 0;
  if (db.app_info) offset += db.app_info->size();
  const std::uint64_t sort_offset = db.sort_info ? offset : 0;
  if (db.sort_info) offset += db.sort_info->size();
  std::uint64_t total = offset;
  for (const auto& r : db.records) total += r.data.size();
  for (const auto& r : db.resources) total += r.data.size();
  if (total > 0xFFFFFFFFu) {
    throw Exception(where + ": too large for the 32-bit offsets of a database file");
  }

  auto u8 = [&](std::uint8_t v) { out.Put(&v, 1); };
  auto u16 = [&](std::uint32_t v) {
    std::uint8_t b[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    out.Put(b, 2);
  };
  auto u32 = [&](std::uint64_t v) {
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    out.Put(b, 4);
  };

  std::uint8_t name[kNameSize] = {};
  std::copy(db.name.begin(), db.name.end(), name);
  out.Put(name, kNameSize);
  u16(db.attributes);
  u16(db.version);
  u32(db.creation_date);
  u32(db.modification_date);
  u32(db.backup_date);
  u32(db.modification_number);
  u32(app_offset);
  u32(sort_offset);
  u32(db.type);
  u32(db.creator);
  u32(db.unique_id_seed);
  u32(0);
  u16(static_cast<std::uint32_t>(count));

  if (resources) {
    for (const auto& r : db.resources) {
      u32(r.type);
      u16(r.id);
      u32(offset);
      offset += r.data.size();
    }
  } else {
    for (const auto& r : db.records) {
      if (r.unique_id > 0xFFFFFF) {
        throw Exception(where + ": record unique id " + std::to_string(r.unique_id) +
                        " does not fit in 24 bits");
      }
      u32(offset);
      u8(r.attributes);
      u8(static_cast<std::uint8_t>(r.unique_id >> 16));
      u16(r.unique_id & 0xFFFF);
      offset += r.data.size();
    }
  }
  u16(0);
  if (db.app_info) out.Put(db.app_info->data(), db.app_info->size());
  if (db.sort_info) out.Put(db.sort_info->data(), db.sort_info->size());
  for (const auto& r : db.records) out.Put(r.data.data(), r.data.size());
  for (const auto& r : db.resources) out.Put(r.data.data(), r.data.size());
}

struct VectorSink {
  std::vector<std::uint8_t>& bytes;
  void Put(const std::uint8_t* p, std::size_t n) { bytes.insert(bytes.end(), p, p + n); }
};

struct CountingSink {
  std::uint64_t size = 0;
  void Put(const std::uint8_t*, std::size_t n) { size += n; }
};

}  // namespace

PdbIndex IndexPdb(std::span<const std::uint8_t> bytes, const std::string& source_name) {
  PdbIndex index = ParseLayout(bytes, bytes.size(), source_name);
  if (index.app_info) index.db.app_info.emplace();
  if (index.sort_info) index.db.sort_info.emplace();
  return index;
}

PdbDatabase ParsePdb(std::span<const std::uint8_t> bytes, const std::string& source_name) {
  Layout layout = ParseLayout(bytes, bytes.size(), source_name);
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
  // Reads the header and entry list first and then each block straight into
  // its own buffer, in file order through a fixed window, so that the whole
  // file is never held twice in memory.
  const std::string source = path.string();
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception(source + ": cannot open the file for reading");
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0) throw Exception(source + ": cannot determine the size of the file");
  const auto file_size = static_cast<std::uint64_t>(end);

  constexpr std::size_t kWindow = 64 * 1024;
  std::vector<std::uint8_t> window;
  std::uint64_t window_start = 0;
  auto read_at = [&](std::uint64_t offset, std::uint8_t* dest, std::size_t n) {
    while (n > 0) {
      if (offset < window_start || offset >= window_start + window.size()) {
        window.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, file_size - offset)));
        window_start = offset;
        in.seekg(static_cast<std::streamoff>(offset));
        if (window.empty() || !in.read(reinterpret_cast<char*>(window.data()),
                                       static_cast<std::streamsize>(window.size()))) {
          throw Exception(source + ": read failed at offset " + std::to_string(offset));
        }
      }
      const std::size_t at = static_cast<std::size_t>(offset - window_start);
      const std::size_t take = std::min(n, window.size() - at);
      std::copy_n(window.data() + at, take, dest);
      dest += take;
      offset += take;
      n -= take;
    }
  };

  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kHeaderSize)));
  read_at(0, head.data(), head.size());
  const std::size_t count = CheckHeader(head, file_size, source);
  head.resize(EntryListEnd(count, (head[33] & 0x01) != 0));
  read_at(kHeaderSize, head.data() + kHeaderSize, head.size() - kHeaderSize);
  Layout layout = ParseLayout(head, file_size, source);
  head = {};

  PdbDatabase& db = layout.db;
  auto load = [&](const Extent& e, std::vector<std::uint8_t>& dest) {
    dest.resize(e.length);
    read_at(e.offset, dest.data(), e.length);
  };
  std::vector<std::uint32_t> order(layout.entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return layout.entries[a].offset < layout.entries[b].offset;
  });
  if (layout.app_info) load(*layout.app_info, db.app_info.emplace());
  if (layout.sort_info) load(*layout.sort_info, db.sort_info.emplace());
  for (std::uint32_t i : order) {
    load(layout.entries[i], db.IsResourceDatabase() ? db.resources[i].data : db.records[i].data);
  }
  return std::move(layout.db);
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
  WriteFileAtomically(path, [&](AtomicFileWriter& out) { Emit(db, out); });
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
