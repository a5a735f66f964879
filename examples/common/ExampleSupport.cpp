#include "examples/common/ExampleSupport.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "conduit/DorvPalmConduit.h"

namespace fernwick::examples {

namespace fs = std::filesystem;

namespace {

// Code points of bytes 0x80 to 0x9F; the other bytes are their own code
// points.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x2666, 0x2663, 0x2665,  // 88
    0x2660, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,  // 98
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char PalmByte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

void AddField(TDorvPalmFields& fields, const char* name, TDorvPalmFieldType type, std::int32_t size,
              std::int32_t count) {
  TDorvPalmField* field = fields.Add();
  field->SetFieldName(name);
  field->SetDataType(type);
  field->SetSize(size);
  field->SetArraySize(count);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string PalmToUtf8(const std::string& palm) {
  std::string out;
  out.reserve(palm.size());
  for (const char ch : palm) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
  }
  return out;
}

std::string Utf8ToPalm(const std::string& utf8) {
  std::string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::size_t length = b < 0x80         ? 1
                         : (b >> 5) == 6  ? 2
                         : (b >> 4) == 14 ? 3
                         : (b >> 3) == 30 ? 4
                                          : 0;
    if (length == 0 || i + length > utf8.size()) {
      out += '?';
      ++i;
      continue;
    }
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    bool valid = true;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      valid = valid && (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    out += PalmByte(c);
    i += length;
  }
  return out;
}

void AddCategoryFields(TDorvPalmFields& fields) {
  AddField(fields, "Renamed", pftSmallint, 0, 1);
  AddField(fields, "CategoryName", pftString, 16, 16);
  AddField(fields, "CategoryId", pftByte, 0, 16);
  AddField(fields, "LastUniqueId", pftByte, 0, 1);
  AddField(fields, "CategoryPad", pftByte, 0, 1);
  AddField(fields, "Reserved", pftSmallint, 0, 1);
}

std::array<std::string, 16> CategoryNames(TDorvPalmFields& fields) {
  std::array<std::string, 16> names;
  if (TDorvPalmField* field = fields.FindField("CategoryName")) {
    for (std::int32_t i = 0; i < 16; ++i) names[i] = PalmToUtf8(field->GetArrayValue(i).AsString());
  }
  return names;
}

TPieceStore::TPieceStore(fs::path folder) : folder_(std::move(folder)) {}

void TPieceStore::Put(std::uint32_t id, const std::string& text) {
  fs::create_directories(folder_);
  WriteFileAtomically(folder_ / (std::to_string(id) + ".part"), text);
}

void TPieceStore::Archive(std::uint32_t id, const std::string& text) {
  fs::create_directories(folder_ / "Archived");
  WriteFileAtomically(folder_ / "Archived" / (std::to_string(id) + ".part"), text);
  Remove(id);
}

void TPieceStore::Remove(std::uint32_t id) {
  std::error_code ignored;
  fs::remove(folder_ / (std::to_string(id) + ".part"), ignored);
}

void TPieceStore::KeepOnly(const std::set<std::uint32_t>& ids) {
  for (const auto& [id, path] : Find(folder_)) {
    if (ids.count(id) == 0) fs::remove(path);
  }
}

std::vector<std::pair<std::uint32_t, fs::path>> TPieceStore::Find(const fs::path& dir) {
  std::vector<std::pair<std::uint32_t, fs::path>> found;
  if (!fs::is_directory(dir)) return found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string stem = entry.path().stem().string();
    if (entry.path().extension() != ".part" || stem.empty() || stem.size() > 9 ||
        stem.find_first_not_of("0123456789") != std::string::npos)
      continue;
    found.emplace_back(static_cast<std::uint32_t>(std::stoul(stem)), entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> TPieceStore::Pieces(bool archived) const {
  std::vector<std::string> pieces;
  for (const auto& [id, path] : Find(archived ? folder_ / "Archived" : folder_))
    pieces.push_back(ReadFile(path));
  return pieces;
}

void WriteFileAtomically(const fs::path& path, const std::string& text) {
  const fs::path temporary = path.string() + ".new";
  std::error_code error;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      // The folder is made when the first file in it cannot be created,
      // rather than looked up before every file.
      fs::create_directories(path.parent_path(), error);
      out.clear();
      out.open(temporary, std::ios::binary | std::ios::trunc);
      if (!out) {
        throw EDorvConduitError("Cannot create " + temporary.string() +
                                (error ? ": " + error.message() : std::string()));
      }
    }
    out << text;
    // A full disk shows only when the buffered bytes are written: checked
    // after the flush and after the close.
    out.flush();
    if (out) out.close();
    if (!out) {
      fs::remove(temporary, error);
      throw EDorvConduitError("Cannot write " + path.string() + " (the disk may be full)");
    }
  }
  fs::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw EDorvConduitError("Cannot replace " + path.string() + ": " + error.message());
  }
}

}  // namespace fernwick::examples

namespace fernwick::examples {

void RunExport(TDorvConduit& conduit, TDorvConduitDb& db, TPieceStore& store, const TExport& what) {
  const TSyncTypes type = conduit.SyncType();
  if (type != stFast && type != stSlow && type != stHHtoPC) {
    conduit.AddLogEntry(what.name + ": nothing to copy for " + SyncTypeName(type));
    return;
  }
  const bool everything = type != stFast;
  const bool read_only = type == stHHtoPC;
  db.SetOpenMode(read_only ? eDbRead : eDbRead | eDbWrite | eDbExclusive);
  db.Open();
  try {
    what.read_app_info();
    int exported = 0, archived = 0, deleted = 0;
    std::set<std::uint32_t> live;
    auto copy = [&] {
      const std::uint8_t attributes = db.GetAttributes();
      if ((attributes & eRecAttrDeleted) == 0) {
        store.Put(db.GetRecordId(), what.render());
        live.insert(db.GetRecordId());
        ++exported;
      } else if ((attributes & eRecAttrArchived) != 0) {
        store.Archive(db.GetRecordId(), what.render());
        ++archived;
      } else {
        store.Remove(db.GetRecordId());
        ++deleted;
      }
    };
    if (everything) {
      for (db.First(); !db.Eof(); db.Next()) copy();
      store.KeepOnly(live);
    } else {
      while (db.NextModified()) copy();
    }
    what.assemble(store.Pieces(false), store.Pieces(true));
    if (!read_only) {
      db.PurgeDeletedRecords();
      db.ResetSyncFlags();
    }
    db.Close();
    conduit.AddLogEntry(what.name + ": " + std::to_string(exported) + " exported, " +
                        std::to_string(archived) + " archived, " + std::to_string(deleted) +
                        " deleted (" + SyncTypeName(type) + ")");
  } catch (...) {
    try {
      db.Close();
    } catch (const EDorvConduitError&) {
    }
    try {
      throw;
    } catch (const fs::filesystem_error& e) {
      // Said in the HotSync log like the library's own errors.
      throw EDorvConduitError(what.name + ": " + e.what());
    }
  }
}

}  // namespace fernwick::examples
