/// @file
/// What the mirror-sync engine keeps in the desktop folder between two
/// synchronisations: the state of the last one (the records as synchronised
/// and the application info block) and the journal of the appends a running
/// synchronisation is about to make.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fernwick/framework/DesktopWriter.h>

namespace fernwick {

/// One record as the last synchronisation left it on both sides.
struct TDorvSyncRecord {
  /// The record's unique id; 0 in a journal (an append not yet made).
  std::uint32_t id = 0;
  /// Its category index, 0 to 15.
  std::uint8_t category = 0;
  /// Its secret (private) attribute.
  bool secret = false;
  /// The record's bytes as synchronised, at most 65,535.
  std::string bytes;
  /// The adapter's fingerprint of the desktop item written with it
  /// (TDorvSyncAdapter::Fingerprint); 0 when there is none. Not kept in a
  /// journal.
  std::uint64_t fingerprint = 0;

  /// Equal in every member.
  bool operator==(const TDorvSyncRecord&) const = default;
};

/// The state file `<name>.sync-state` (or journal `<name>.sync-journal`) of
/// one database, a small binary file of its own, all numbers little-endian:
///
/// | Offset | Size | Field                                               |
/// |--------|------|-----------------------------------------------------|
/// | 0      | 8    | "FWSTATE1" or "FWSTATE2" (state), "FWJRNL01"        |
/// |        |      | (journal)                                           |
/// | 8      | 4    | N, the number of records                            |
/// | 12     | 2    | A, the length of the application info block         |
/// | 14     | A    | the application info block as synchronised          |
/// | ...    |      | N records, each:                                    |
/// |        | 4    |   record id (state: ascending, never 0; journal: 0) |
/// |        | 1    |   bits 0-3 category, bit 4 secret, no other bit     |
/// |        | 8    |   "FWSTATE2" only: the fingerprint                  |
/// |        | 2    |   L, the length of the record                       |
/// |        | L    |   the record's bytes                                |
/// | end-4  | 4    | FNV-1a (32 bits) of every byte before it            |
///
/// A state is written as "FWSTATE1" when no record has a fingerprint, so an
/// adapter without fingerprints writes the files it always wrote; both
/// kinds are read (a "FWSTATE1" record has fingerprint 0). A file that
/// breaks any of these rules, is cut short or runs on past its checksum is
/// refused whole.
struct TDorvSyncState {
  /// Which file: the state of the last synchronisation, or the journal.
  enum class Kind {
    kState,   ///< `<name>.sync-state`
    kJournal  ///< `<name>.sync-journal`
  };

  /// The application info block as synchronised (may be empty).
  std::string app_info;
  /// The records; in a state, in ascending order of id.
  std::vector<TDorvSyncRecord> records;

  /// The file's bytes, as the table above. Raises EDorvConduitError when a
  /// record or the block is longer than 65,535 bytes.
  std::string Encode(Kind kind) const;
  /// The state held by `bytes`. Raises EDorvConduitError "<what> is not a
  /// Fernwick sync state file" for a file of another kind, and "<what> is
  /// damaged: <reason>" for one that breaks a rule; never reads outside
  /// `bytes`.
  static TDorvSyncState Decode(const std::string& bytes, Kind kind, const std::string& what);

  /// Reads the file `path`: no value when there is none (a first
  /// synchronisation), else as Decode. Raises EDorvConduitError naming
  /// `path` when it cannot be read.
  static std::optional<TDorvSyncState> Load(const std::filesystem::path& path, Kind kind);
  /// Writes the file `path` through `writer` (whole, durable after the
  /// writer's next Commit).
  void Save(TDesktopWriter& writer, const std::filesystem::path& path, Kind kind) const;

  /// The record with id `id`, or null.
  const TDorvSyncRecord* Find(std::uint32_t id) const;
};

}  // namespace fernwick
