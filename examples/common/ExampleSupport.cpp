#include "ExampleSupport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fernwick/conduit/DorvPalmConduit.h>

namespace fernwick::examples {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TPieceStore::TPieceStore(fs::path folder) : folder_(std::move(folder)) {}

void TPieceStore::Put(std::uint32_t id, const std::string& text) {
  writer_.Write(folder_ / (std::to_string(id) + ".part"), text);
}

void TPieceStore::Archive(std::uint32_t id, const std::string& text) {
  writer_.Write(folder_ / "Archived" / (std::to_string(id) + ".part"), text);
  Remove(id);
}

void TPieceStore::Remove(std::uint32_t id) {
  writer_.Remove(folder_ / (std::to_string(id) + ".part"));
}

void TPieceStore::KeepOnly(const std::set<std::uint32_t>& ids) {
  for (const auto& [id, path] : Find(folder_)) {
    if (ids.count(id) == 0) writer_.Remove(path);
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
    bool archive_incomplete = false;
    std::set<std::uint32_t> live;
    auto copy = [&] {
      const std::uint8_t attributes = db.GetAttributes();
      const std::uint32_t id = db.GetRecordId();
      if ((attributes & eRecAttrDeleted) != 0 && (attributes & eRecAttrArchived) == 0) {
        store.Remove(id);
        ++deleted;
        return;
      }
      std::string piece;
      try {
        piece = what.render();
      } catch (const ERecordSkipped& e) {
        conduit.AddLogEntry(what.name + ": record " + std::to_string(id) + " skipped: " + e.what());
        if ((attributes & eRecAttrDeleted) == 0) {
          live.insert(id);  // its earlier piece, if any, stays
        } else {
          archive_incomplete = true;
        }
        return;
      }
      if ((attributes & eRecAttrDeleted) == 0) {
        store.Put(id, piece);
        live.insert(id);
        ++exported;
      } else {
        store.Archive(id, piece);
        ++archived;
      }
    };
    if (everything) {
      for (db.First(); !db.Eof(); db.Next()) copy();
      store.KeepOnly(live);
    } else {
      while (db.NextModified()) copy();
    }
    what.assemble(store.Pieces(false), store.Pieces(true));
    store.Writer().Commit();
    if (!read_only) {
      if (archive_incomplete) {
        conduit.AddLogEntry(
            what.name + ": deleted records are not purged: an archived one is not on the desktop");
      } else {
        db.PurgeDeletedRecords();
      }
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
