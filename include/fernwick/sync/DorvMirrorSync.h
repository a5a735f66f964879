/// @file
/// The mirror-sync engine: two-way synchronisation of one handheld database
/// with the author's desktop files. The author supplies the desktop side
/// (TDorvSyncAdapter); the engine judges what changed on each side against
/// the state of the last synchronisation, applies the rules, and writes both
/// sides in an order that a kill at any moment cannot turn into a loss or a
/// duplicate.
///
/// The rules of a fast or slow synchronisation (H the handheld, D the
/// desktop; each item unchanged, changed, deleted or new since the last
/// synchronisation):
/// - changed on one side only: the change reaches the other side;
/// - deleted on one side, unchanged on the other: deleted on both;
/// - deleted on one side, changed on the other: the changed version wins on
///   both sides (a record deleted on H comes back as a new record);
/// - changed on both sides to the same content: nothing;
/// - changed on both sides differently: both kept, H's under its id, D's as a
///   new record on both sides, and a log line names the item;
/// - new on either side: added to the other; the same content new on both
///   sides is one item;
/// - archived on H: to the archive store, out of the live items, purged
///   from H (a version changed on D meanwhile becomes a new record);
/// - a category renamed on H shows under its new name in every desktop
///   item; a category name used on D that H lacks is made in a free slot,
///   else the item goes to Unfiled with a log line.
///
/// A conduit drives it from OnOpenConduit:
///
///     class TMemoFiles : public TDorvSyncAdapter { ... };  // the desktop side
///
///     conduit_->SetOnOpenConduit([this](std::int32_t&) {
///       TMemoFiles files(folder);
///       TDorvMirrorSync(*memos_, files, folder, "MemoDB").Run(*conduit_);
///     });
///
/// stPCtoHH makes the handheld equal to the desktop, stHHtoPC the desktop
/// equal to the handheld (the handheld is opened read-only), stDoNothing and
/// the other types change nothing. A fast synchronisation trusts the
/// handheld's change flags; a slow one, and any synchronisation without a
/// state file (the first), compares every record with the state, so it
/// makes no duplicates.
#pragma once

#include <any>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fernwick/abi/SyncProperties.h>
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/DesktopWriter.h>

namespace fernwick {

/// One desktop item: what the desktop holds of one record.
struct TDorvSyncItem {
  /// The record id it carries; 0 (or an id the last state does not know)
  /// makes it new. The engine sets it to the id the handheld assigned before
  /// WriteDesktop.
  std::uint32_t id = 0;
  /// Its category name, UTF-8; empty for Unfiled. No value: the desktop
  /// does not hold categories, the record keeps its own (a new one is
  /// Unfiled).
  std::optional<std::string> category;
  /// The record's secret (private) attribute. No value: the desktop does not
  /// hold it, the record keeps its own (a new one is not secret).
  std::optional<bool> secret;
  /// The author's own value (a row, a file name and text, ...): the engine
  /// only carries it.
  std::any value;
};

/// The desktop side of one database, written by the conduit's author.
class TDorvSyncAdapter {
 public:
  virtual ~TDorvSyncAdapter() = default;

  /// Reads the desktop's items (all live ones). Raise EDorvConduitError for
  /// a desktop file that cannot be read: nothing is written then.
  virtual std::vector<TDorvSyncItem> ReadDesktop() = 0;
  /// Sets the record fields from `item`. `fields` hold the last synchronised
  /// record (or empty values for a new one) on entry: set only what the
  /// desktop holds, so fields it cannot hold survive. The category and the
  /// secret attribute come from the item's members, not from here.
  virtual void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) = 0;
  /// The desktop item of the handheld record decoded in `fields`.
  /// `previous` is the desktop item of that id as read, or null: keep from
  /// it what the record cannot hold (extra columns). The engine sets the
  /// result's id, category and secret attribute.
  virtual TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem* previous) = 0;
  /// Writes the desktop files through `writer` (never directly: the
  /// engine's Commit makes them durable with the state): `live` are all the
  /// live items, each with its id and current category name, in the order
  /// ReadDesktop gave them (an item updated from the handheld in its
  /// desktop item's place) and the handheld's new ones after them by id, so
  /// that a file another program sorted keeps its order; `archived` the
  /// records archived on the handheld in this synchronisation, to be added
  /// to the archive store. Key the archive by id: a synchronisation cut
  /// short before the handheld's purge archives the same records again.
  virtual void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                            const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) = 0;
  /// Optional: a fingerprint of what ToRecord reads of `item` (its value,
  /// as ReadDesktop gives it), or 0 for none (the default). With one, the
  /// engine keeps in its state the fingerprint of each item it wrote, and an
  /// item read with that same fingerprint and the same category and secret
  /// attribute is unchanged without a ToRecord: only the items the desktop
  /// changed are converted. Equal fingerprints must mean an equal value (a
  /// 64-bit hash of the item's text as the desktop holds it, say), and an
  /// item FromRecord makes must have the fingerprint that ReadDesktop will
  /// give it once WriteDesktop has written it; a fingerprint that differs
  /// only costs a ToRecord.
  virtual std::uint64_t Fingerprint(const TDorvSyncItem& item) {
    (void)item;
    return 0;
  }

 protected:
  /// While the engine runs FromRecord: the bytes of the record decoded in
  /// its `fields`, exactly as the handheld holds them (a record the fields
  /// cannot describe, a damaged one say, need not encode back to them);
  /// empty at any other time. For keeping the whole of a record the desktop
  /// cannot hold.
  std::string_view RecordBytes() const { return record_bytes_; }

 private:
  friend class TDorvMirrorSync;
  /// The bytes RecordBytes returns; set by the engine around FromRecord.
  std::string_view record_bytes_;
};

/// What one synchronisation did, as the summary line says it.
struct TDorvSyncCounts {
  /// Items written to the desktop from the handheld.
  int to_desktop = 0;
  /// Records written to the handheld from the desktop (edits and appends).
  int to_handheld = 0;
  /// Items deleted on one side because they were deleted on the other.
  int deleted = 0;
  /// Records moved to the archive.
  int archived = 0;
  /// Items changed differently on both sides.
  int conflicts = 0;
};

/// The mirror-sync engine of one database. Construct it in OnOpenConduit
/// with the database component (its Fields and AppInfoFields described, the
/// application info block beginning with AddCategoryFields' fields when the
/// database has categories), and call Run.
///
/// In the desktop folder it keeps `<state name>.sync-state` (the last
/// synchronisation) and, while it writes, `<state name>.sync-journal` (the
/// appends it is about to make); see <fernwick/sync/DorvSyncState.h>.
///
/// Order of the writes: (1) everything is read and the whole synchronisation
/// planned; (2) the journal of the appends is written and made durable;
/// (3) the handheld is written (categories the desktop named, edits,
/// deletions, appends)
/// and, when anything was, the database closed, which writes it back, and
/// opened again;
/// (4) the desktop files and the new state are written and committed
/// (durable); (5) only then are the deleted and archived records purged and
/// the change flags reset, the categories' renamed bits among them; (6) the
/// journal is removed. An append is retry safe: before appending, the engine
/// adopts a handheld record that the state does not know and holds the same
/// bytes, category and secret attribute (one a synchronisation cut short
/// appended, or posted before it failed), instead of appending again; and a
/// desktop item whose id the state does not know but that names such a
/// record (a synchronisation cut short after the desktop was written, before
/// the state) is that record when merged onto it the item is the record,
/// whatever the desktop holds of its category, secret attribute and fields.
class TDorvMirrorSync {
 public:
  /// `db` and `adapter` are borrowed for the engine's life. `state_name` is
  /// the file name stem of the state and journal (the database's name, for
  /// instance).
  TDorvMirrorSync(TDorvConduitDb& db, TDorvSyncAdapter& adapter,
                  std::filesystem::path desktop_folder, std::string state_name);

  /// Runs the synchronisation `conduit.SyncType()` asks for, logging to its
  /// HotSync log; as a first synchronisation when `conduit.FirstDevice()`
  /// says that the handheld or the desktop is new to the other.
  TDorvSyncCounts Run(TDorvConduit& conduit);
  /// Runs a synchronisation of `type`, giving each log line to `log`. With
  /// `first_sync` the state of the last synchronisation is set aside (it
  /// may describe another handheld): nothing counts as deleted, and every
  /// item is new on its side, the same content on both sides being one. One
  /// summary line "<database>: N to the desktop, N to the handheld, N
  /// deleted, N archived, N conflicts (<type>)", one line per conflict and
  /// per category that could not be made. Opens and closes the database.
  /// Raises EDorvConduitError when a side cannot be read or written, or the
  /// adapter raises (any std::exception becomes an EDorvConduitError naming
  /// the database); a damaged state file among them, and then nothing is
  /// written. What was written before a failure stays consistent for the
  /// next run.
  TDorvSyncCounts Run(TSyncTypes type, const std::function<void(const std::string&)>& log,
                      bool first_sync = false);

  /// The state file's path: `<desktop folder>/<state name>.sync-state`.
  std::filesystem::path StatePath() const;
  /// The journal's path: `<desktop folder>/<state name>.sync-journal`.
  std::filesystem::path JournalPath() const;

 private:
  /// The database synchronised.
  TDorvConduitDb& db_;
  /// The desktop side.
  TDorvSyncAdapter& adapter_;
  /// The desktop folder of the state and journal.
  std::filesystem::path folder_;
  /// The file name stem of the state and journal.
  std::string name_;
};

}  // namespace fernwick
