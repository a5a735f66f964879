// The desktop side of a database kept as a folder of text files, one per
// record: <folder>/<record id>.txt, the records archived on the handheld in
// <id>.archived.txt. A .txt file of any other name in the folder, and the
// dropped file beside it (a file the user drops to add one), is a new item:
// once the handheld has it, the file is renamed to <id>.txt, durable with
// the engine's state (a synchronisation cut short before that adopts the
// record it appended, by its content, instead of adding it again).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <fernwick/framework/DesktopWriter.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace fernwick::examples {

// One item's file.
struct TTextFile {
  std::filesystem::path source;  // the file it was read from; empty for one from the handheld
  std::string text;              // the file's text as read
};

// Reads file `path` into `file`. False, with `why` said ("it is not a
// regular file", "it cannot be read", or `too_long` when it holds more than
// `max_bytes`), when it cannot be an item's. Never waits on a FIFO.
bool ReadTextFile(const std::filesystem::path& path, std::uintmax_t max_bytes,
                  const std::string& too_long, TTextFile& file, std::string& why);

class TTextFolder {
 public:
  // The folder `folder`, and the file `dropped` outside it that is taken
  // as a new item too.
  TTextFolder(std::filesystem::path folder, std::filesystem::path dropped);

  // The files that may be items: every .txt file of the folder whose name
  // neither begins with '.' nor ends in ".archived.txt", then the dropped
  // file when anything of its name is there. No folder: none. Raises
  // EDorvConduitError naming the folder when it cannot be read.
  std::vector<std::filesystem::path> List() const;
  // The record id that `path` names when it is a record's own file,
  // <folder>/<up to 8 digits>.txt; none for a new item's.
  std::optional<std::uint32_t> IdOf(const std::filesystem::path& path) const;
  // Notes that `path` was read as an item: Write removes it when the item
  // is gone.
  void Taken(const std::filesystem::path& path) { read_.push_back(path); }

  // Writes the folder through `writer`: the file of every `live` item, the
  // new ones' files renamed to their id (or copied, when the old name now
  // holds another item's), the `archived` items' <id>.archived.txt, and the
  // files read of items gone removed; the dropped file only ever moves.
  // `file_of` gives an item's file; `moved_in` is told of the item that the
  // dropped file became, when it moves.
  void Write(const std::vector<TDorvSyncItem>& live, const std::vector<TDorvSyncItem>& archived,
             const std::function<const TTextFile&(const TDorvSyncItem&)>& file_of,
             const std::function<void(const TDorvSyncItem&)>& moved_in,
             TDesktopWriter& writer) const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path dropped_;
  std::vector<std::filesystem::path> read_;  // every file read as an item
};

}  // namespace fernwick::examples
