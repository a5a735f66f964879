#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>
#include <fernwick/sync/DorvSyncState.h>

namespace fernwick {

namespace {

using TRecord = TDorvSyncRecord;
using Kind = TDorvSyncState::Kind;

// A record as the handheld holds it now.
struct THandheldRecord {
  TRecord record;
  bool deleted = false;
  bool archived = false;
};

// Sorts `records` by id and keeps, of those with one id, the last added.
template <typename T, typename Id>
void SortKeepingLast(std::vector<T>& records, Id id) {
  const auto before = [&](const T& a, const T& b) { return id(a) < id(b); };
  // Mostly sorted already (a fast synchronisation without new records): no
  // buffer, no moves then.
  if (!std::is_sorted(records.begin(), records.end(), before))
    std::stable_sort(records.begin(), records.end(), before);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i + 1 < records.size() && id(records[i + 1]) == id(records[i])) continue;
    if (kept != i) records[kept] = std::move(records[i]);
    ++kept;
  }
  records.erase(records.begin() + static_cast<std::ptrdiff_t>(kept), records.end());
}

// The element of `records` (sorted by id) with id `id`, or null.
template <typename T, typename Id>
T* FindById(std::vector<T>& records, std::uint32_t wanted, Id id) {
  const auto at = std::lower_bound(records.begin(), records.end(), wanted,
                                   [&](const T& r, std::uint32_t v) { return id(r) < v; });
  return at != records.end() && id(*at) == wanted ? &*at : nullptr;
}

constexpr auto RecordId = [](const TRecord& r) { return r.id; };
constexpr auto HandheldId = [](const THandheldRecord& r) { return r.record.id; };

bool SameRecord(const TRecord& a, const TRecord& b) {
  return a.bytes == b.bytes && a.category == b.category && a.secret == b.secret;
}

// One write to the handheld, planned before any is made.
struct TWrite {
  enum Kind { kEdit, kAppend, kDelete } kind;
  std::uint32_t id = 0;  // edit, delete
  TRecord record;        // edit, append
  std::size_t item = 0;  // append: the live item that takes the new id
};

class TSyncRun {
 public:
  // `record_bytes` is the adapter's RecordBytes, set around FromRecord.
  TSyncRun(TDorvConduitDb& db, TDorvSyncAdapter& adapter, std::string_view& record_bytes,
           TSyncTypes type, const std::function<void(const std::string&)>& log)
      : db_(db),
        adapter_(adapter),
        record_bytes_(record_bytes),
        type_(type),
        log_(log),
        buffer_(kDorvBufferSize, 0) {}

  // Reads both sides; takes the records out of `state`.
  void Read(std::optional<TDorvSyncState>& state);
  // Plans the synchronisation; `journal` is the one a synchronisation cut
  // short left, if any.
  void Plan(const std::optional<TDorvSyncState>& journal);
  // The appends planned (the journal's records).
  TDorvSyncState Journal() const;
  // Writes the planned changes to the handheld; false when there were none.
  bool WriteHandheld();
  // Resets the categories' renamed bits on the handheld.
  void ForgetRenamed();
  // The live items, in the order the desktop read them (an item made from
  // a handheld record takes the place of the desktop item it updates), the
  // handheld's others after them by id: a synchronisation that changes
  // nothing leaves the desktop's order as it was. Once, after
  // WriteHandheld (whose appends name their items by index).
  std::vector<TDorvSyncItem>& LiveInDesktopOrder();
  std::vector<TDorvSyncItem>& Archived() { return archived_; }
  // Frees the live and archived items (once the desktop is written).
  void FreeItems() {
    std::vector<TDorvSyncItem>().swap(live_);
    std::vector<std::size_t>().swap(places_);
    std::vector<TDorvSyncItem>().swap(archived_);
  }
  // The state to save; takes the records planned. Before FreeItems (the
  // fingerprints are the live items').
  TDorvSyncState NewState();
  const TDorvSyncCounts& Counts() const { return counts_; }

 private:
  // Decodes `bytes` into the record fields.
  void Load(const std::string& bytes);
  // Encodes the record fields.
  std::string Encode() { return TakeEncoded(EncodeInPlace()); }
  // Encodes the record fields into the buffer; returns their length.
  std::uint32_t EncodeInPlace();
  // The `used` bytes encoded in the buffer, which is left zero.
  std::string TakeEncoded(std::uint32_t used);
  // `bytes` decoded and encoded again: the form a record written from the
  // fields has, so that records of either side compare.
  std::string Canonical(const std::string& bytes) {
    Load(bytes);
    return Encode();
  }
  // The record image of desktop item `item` merged onto `base`.
  TRecord Image(const TDorvSyncItem& item, const TRecord* base);
  // As Image onto `base`, its category and secret attribute those of
  // `attributes` (Attributes), but no value when the image is `base` itself
  // (compared in the buffer: most items, most synchronisations, need no
  // copy).
  std::optional<TRecord> ChangedImage(const TDorvSyncItem& item, const TRecord& base,
                                      const TRecord& attributes);
  // The category index of desktop category `name` for a record whose last
  // synchronised version is `base`.
  std::uint8_t Category(const std::string& name, const TRecord* base);
  std::string CategoryName(std::uint8_t index) const {
    return has_categories_ ? current_.names[index & 0x0F] : std::string();
  }
  // The category and secret attribute a desktop item gives its record.
  void Attributes(const TDorvSyncItem& item, const TRecord* base, TRecord& image) {
    image.category = item.category ? Category(*item.category, base) : base ? base->category : 0;
    image.secret = item.secret.value_or(base != nullptr && base->secret);
  }
  // The desktop item of handheld record `record`.
  TDorvSyncItem FromHandheld(const TRecord& record, const TDorvSyncItem* previous);
  // Adds a live item: that of `record`, whose category (under its current
  // name) and secret attribute it takes.
  std::size_t AddLive(TDorvSyncItem item, const TRecord& record) {
    item.category = CategoryName(record.category);
    item.secret = record.secret;
    live_.push_back(std::move(item));
    places_.push_back(place_);
    return live_.size() - 1;
  }
  // Makes `record` a new record of both sides for live item `item`: adopts
  // a handheld record the state does not know holding the same, else
  // appends it.
  void AppendOrAdopt(TDorvSyncItem item, const TRecord& record);
  // A desktop item whose id the state does not know, naming a live handheld
  // record the state does not know either: the desktop was written by a
  // synchronisation cut short before its state (the record one it appended,
  // or one new on the handheld). Takes that record for the item when the
  // item's image merged onto it is the record itself, so that what the
  // desktop cannot hold (category, secret attribute, fields) comes from the
  // record; false when the item is not that record.
  bool AdoptNamed(TDorvSyncItem& item);
  void PlanTwoWay();
  void PlanDesktopToHandheld();
  void PlanHandheldToDesktop();
  // Sorted vectors rather than maps: one block for all, no node per record.
  TRecord* InState(std::uint32_t id) { return FindById(state_, id, RecordId); }
  THandheldRecord* OnHandheld(std::uint32_t id) { return FindById(handheld_, id, HandheldId); }
  // Records `record` as what the new state holds of its id (the last said
  // of an id counts; sorted in NewState).
  void SetNext(const TRecord& record) { next_state_.push_back(record); }
  void SetNext(TRecord&& record) { next_state_.push_back(std::move(record)); }
  // Two-way: records `record` as what the new state holds of the id of
  // `last`, a record of the last state, in its place (no second vector of
  // every record).
  void Keep(TRecord& last, const TRecord& record) {
    if (&record != &last) last = record;
    kept_[static_cast<std::size_t>(&last - state_.data())] = true;
  }

  TDorvConduitDb& db_;
  TDorvSyncAdapter& adapter_;
  std::string_view& record_bytes_;
  TSyncTypes type_;
  const std::function<void(const std::string&)>& log_;
  std::vector<std::uint8_t> buffer_;

  bool has_state_ = false;
  // The state's records, ascending by id.
  std::vector<TRecord> state_;
  bool full_read_ = false;
  // The handheld's records read, ascending by id.
  std::vector<THandheldRecord> handheld_;
  std::vector<TDorvSyncItem> desktop_;
  bool has_categories_ = false;
  TDorvCategories current_;
  TDorvCategories last_;
  bool categories_changed_ = false;
  std::string app_info_;

  // Handheld records the state does not know, by their canonical bytes.
  std::multimap<std::string, std::uint32_t> unknown_;
  // Of those, the ones a desktop item names (stPCtoHH): never adopted.
  std::unordered_set<std::uint32_t> named_;
  // The new state's records, each with its id, in the order planned; in a
  // two-way synchronisation those of ids the last state does not know.
  std::vector<TRecord> next_state_;
  // Two-way: which of the last state's records the new state keeps.
  std::vector<bool> kept_;
  std::vector<TDorvSyncItem> live_;
  // The place in desktop_ of the desktop item each live item stands for.
  static constexpr std::size_t kNoPlace = static_cast<std::size_t>(-1);
  std::vector<std::size_t> places_;
  // While planning: the place AddLive gives, that of the desktop item at hand.
  std::size_t place_ = kNoPlace;
  std::vector<TDorvSyncItem> archived_;
  std::vector<TWrite> writes_;
  TDorvSyncCounts counts_;
};

std::vector<TDorvSyncItem>& TSyncRun::LiveInDesktopOrder() {
  // Sorted by (place, id of a handheld item, index); mostly sorted already.
  const auto key = [&](std::size_t i) {
    return std::tuple(places_[i], places_[i] == kNoPlace ? live_[i].id : 0u, i);
  };
  std::vector<std::size_t> order(live_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto before = [&](std::size_t a, std::size_t b) { return key(a) < key(b); };
  if (std::is_sorted(order.begin(), order.end(), before)) return live_;
  std::sort(order.begin(), order.end(), before);
  // live_[i] becomes the item at order[i], cycle by cycle: no second vector
  // of every item.
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] == i) continue;
    TDorvSyncItem held = std::move(live_[i]);
    std::size_t at = i;
    for (;;) {
      const std::size_t from = order[at];
      order[at] = at;
      if (from == i) {
        live_[at] = std::move(held);
        break;
      }
      live_[at] = std::move(live_[from]);
      at = from;
    }
  }
  return live_;
}

void TSyncRun::Load(const std::string& bytes) {
  db_.GetFieldValuesFromBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               static_cast<std::int32_t>(bytes.size()), db_.Fields(), true);
}

std::uint32_t TSyncRun::EncodeInPlace() {
  std::uint32_t used = 0;
  db_.SetBufferFromFieldValues(buffer_.data(), static_cast<std::int32_t>(buffer_.size()),
                               db_.Fields(), used, true);
  return used;
}

std::string TSyncRun::TakeEncoded(std::uint32_t used) {
  std::string bytes(reinterpret_cast<const char*>(buffer_.data()), used);
  // Bytes the layout skips must read as zero next time.
  std::memset(buffer_.data(), 0, used);
  return bytes;
}

void TSyncRun::Read(std::optional<TDorvSyncState>& state) {
  has_state_ = state.has_value();
  has_categories_ = db_.AppInfoFields().FindField("CategoryName") != nullptr;
  db_.ReadAppInfo();
  app_info_.assign(reinterpret_cast<const char*>(db_.GetAppInfoBlock()), db_.AppInfoSize());
  if (has_categories_) {
    current_ = TDorvCategories::Read(db_.AppInfoFields());
    last_ = current_;
    if (has_state_ && !state->app_info.empty()) {
      db_.GetFieldValuesFromBuffer(reinterpret_cast<const std::uint8_t*>(state->app_info.data()),
                                   static_cast<std::int32_t>(state->app_info.size()),
                                   db_.AppInfoFields(), false);
      last_ = TDorvCategories::Read(db_.AppInfoFields());
      // Back to the handheld's block: its own fields after the categories
      // are written back with it.
      db_.GetFieldValuesFromBuffer(reinterpret_cast<const std::uint8_t*>(app_info_.data()),
                                   static_cast<std::int32_t>(app_info_.size()), db_.AppInfoFields(),
                                   false);
    }
  }
  if (has_state_) {
    // Decode checked that the ids ascend.
    state_ = std::move(state->records);
    state->records.clear();
  }

  // A synchronisation without a state cannot trust the change flags.
  full_read_ = type_ != stFast || !has_state_;
  auto take = [&] {
    THandheldRecord found;
    const std::uint8_t attributes = db_.GetAttributes();
    found.record.id = db_.GetRecordId();
    found.deleted = (attributes & eRecAttrDeleted) != 0;
    found.archived = found.deleted && (attributes & eRecAttrArchived) != 0;
    found.record.category = static_cast<std::uint8_t>(db_.CategoryId() & 0x0F);
    found.record.secret = (attributes & eRecAttrSecret) != 0;
    if (!found.deleted || found.archived)
      found.record.bytes.assign(reinterpret_cast<const char*>(db_.GetCurrentRecord()),
                                db_.RecordSize());
    handheld_.push_back(std::move(found));
  };
  if (full_read_) {
    handheld_.reserve(db_.RecordCount());
    for (db_.First(); !db_.Eof(); db_.Next()) take();
  } else {
    while (db_.NextModified()) take();
  }
  SortKeepingLast(handheld_, HandheldId);
  desktop_ = adapter_.ReadDesktop();
}

std::uint8_t TSyncRun::Category(const std::string& name, const TRecord* base) {
  if (!has_categories_) return 0;
  // The name the item had at the last synchronisation: its category,
  // renamed on the handheld or not (or a slot without a name).
  if (base && last_.names[base->category & 0x0F] == name) return base->category;
  if (name.empty()) return 0;
  if (const int found = current_.Find(name); found >= 0) return static_cast<std::uint8_t>(found);
  // A category renamed on the handheld since: still the same slot.
  if (const int old = last_.Find(name);
      old >= 0 && last_.ids[old] == current_.ids[old] && !current_.names[old].empty())
    return static_cast<std::uint8_t>(old);
  const int made = current_.FindOrCreate(name);
  if (made < 0) {
    log_(db_.FileName() + ": no free category for \"" + name + "\"; the item goes to " +
         CategoryName(0));
    return 0;
  }
  categories_changed_ = true;
  return static_cast<std::uint8_t>(made);
}

TRecord TSyncRun::Image(const TDorvSyncItem& item, const TRecord* base) {
  TRecord image;
  Load(base ? base->bytes : std::string());
  adapter_.ToRecord(item, db_.Fields());
  image.bytes = Encode();
  Attributes(item, base, image);
  return image;
}

std::optional<TRecord> TSyncRun::ChangedImage(const TDorvSyncItem& item, const TRecord& base,
                                              const TRecord& attributes) {
  Load(base.bytes);
  adapter_.ToRecord(item, db_.Fields());
  const std::uint32_t used = EncodeInPlace();
  TRecord image;
  image.category = attributes.category;
  image.secret = attributes.secret;
  if (image.category == base.category && image.secret == base.secret && used == base.bytes.size() &&
      std::memcmp(buffer_.data(), base.bytes.data(), used) == 0) {
    std::memset(buffer_.data(), 0, used);
    return std::nullopt;
  }
  image.bytes = TakeEncoded(used);
  return image;
}

TDorvSyncItem TSyncRun::FromHandheld(const TRecord& record, const TDorvSyncItem* previous) {
  Load(record.bytes);
  // Not left pointing at `record` once FromRecord is done or has thrown.
  struct TClear {
    std::string_view& bytes;
    ~TClear() { bytes = {}; }
  } clear{record_bytes_};
  record_bytes_ = record.bytes;
  TDorvSyncItem item = adapter_.FromRecord(db_.Fields(), previous);
  item.id = record.id;
  item.category = CategoryName(record.category);
  item.secret = record.secret;
  return item;
}

void TSyncRun::AppendOrAdopt(TDorvSyncItem item, const TRecord& record) {
  for (auto [at, end] = unknown_.equal_range(record.bytes); at != end; ++at) {
    const TRecord& found = OnHandheld(at->second)->record;
    if (found.category != record.category || found.secret != record.secret ||
        named_.count(found.id) != 0)
      continue;
    item.id = found.id;
    SetNext(found);
    AddLive(std::move(item), found);
    unknown_.erase(at);
    return;
  }
  item.id = 0;
  writes_.push_back({TWrite::kAppend, 0, record, AddLive(std::move(item), record)});
  ++counts_.to_handheld;
}

bool TSyncRun::AdoptNamed(TDorvSyncItem& item) {
  if (item.id == 0 || InState(item.id) != nullptr) return false;
  const THandheldRecord* found = OnHandheld(item.id);
  if (found == nullptr || found->deleted) return false;
  TRecord canonical = found->record;
  canonical.bytes = Canonical(found->record.bytes);
  auto [at, end] = unknown_.equal_range(canonical.bytes);
  while (at != end && at->second != item.id) ++at;
  // Not there: taken already, by an earlier item of that id or an append.
  if (at == end || !SameRecord(Image(item, &found->record), canonical)) return false;
  unknown_.erase(at);
  SetNext(found->record);
  AddLive(std::move(item), found->record);
  return true;
}

void TSyncRun::Plan(const std::optional<TDorvSyncState>& journal) {
  // Handheld records the state does not know: new there, or appended by a
  // synchronisation cut short. Live ones may be adopted by an append.
  for (const THandheldRecord& found : handheld_) {
    if (found.deleted || InState(found.record.id) != nullptr) continue;
    unknown_.emplace(Canonical(found.record.bytes), found.record.id);
  }
  if (journal) {
    std::size_t there = 0;
    for (const TRecord& pending : journal->records) there += unknown_.count(pending.bytes) != 0;
    log_(db_.FileName() + ": the last synchronisation was cut short; " + std::to_string(there) +
         " of its " + std::to_string(journal->records.size()) +
         " appends are on the handheld and are taken over, not made again");
  }
  if (type_ == stPCtoHH) {
    PlanDesktopToHandheld();
  } else if (type_ == stHHtoPC) {
    PlanHandheldToDesktop();
  } else {
    PlanTwoWay();
  }
  // The live items and the new state hold what is still needed: the
  // desktop's items (moved from), the last state and the handheld's records
  // read (all of them in a slow synchronisation) go before the writes.
  std::vector<TDorvSyncItem>().swap(desktop_);
  // Two-way: the last state's records become the new state's (NewState).
  if (kept_.empty()) std::vector<TRecord>().swap(state_);
  std::vector<THandheldRecord>().swap(handheld_);
}

void TSyncRun::PlanTwoWay() {
  // The desktop's items by the id the state knows; the others are new.
  // The first item of each id; the others, and those the state does not
  // know (not met below), are new.
  // (id, index) of the desktop's items with an id, by id and, of one id,
  // in the desktop's order: met walking along with the state's records
  // and the handheld's, which ascend by id too. The first item of each id
  // is that record's; the others, and those the state does not know, are
  // new.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> desktop;
  desktop.reserve(desktop_.size());
  for (std::size_t i = 0; i < desktop_.size(); ++i)
    if (desktop_[i].id != 0) desktop.emplace_back(desktop_[i].id, static_cast<std::uint32_t>(i));
  std::sort(desktop.begin(), desktop.end());
  std::vector<bool> met(desktop_.size(), false);
  // Room for every item at most once (more would double the vectors).
  std::size_t known = 0;
  {
    auto on_desktop = desktop.begin();
    for (const TRecord& last : state_) {
      while (on_desktop != desktop.end() && on_desktop->first < last.id) ++on_desktop;
      known += on_desktop != desktop.end() && on_desktop->first == last.id;
    }
  }
  const std::size_t most = state_.size() + (desktop_.size() - known) + unknown_.size();
  kept_.assign(state_.size(), false);
  live_.reserve(most);

  auto on_handheld = handheld_.begin();
  auto on_desktop = desktop.begin();
  for (TRecord& last : state_) {
    const std::uint32_t id = last.id;
    while (on_handheld != handheld_.end() && on_handheld->record.id < id) ++on_handheld;
    const THandheldRecord* now =
        on_handheld != handheld_.end() && on_handheld->record.id == id ? &*on_handheld : nullptr;
    // Fast: a record without a change flag is as the state has it.
    const bool handheld_gone =
        full_read_ ? (now == nullptr || now->deleted) : (now != nullptr && now->deleted);
    const bool archived = now != nullptr && now->archived;
    const bool handheld_changed =
        !handheld_gone && now != nullptr && !SameRecord(now->record, last);
    const TRecord& handheld = handheld_changed ? now->record : last;

    while (on_desktop != desktop.end() && on_desktop->first < id) ++on_desktop;
    TDorvSyncItem* item = nullptr;
    if (on_desktop != desktop.end() && on_desktop->first == id) {
      met[on_desktop->second] = true;
      item = &desktop_[on_desktop->second];
    }
    place_ = item ? on_desktop->second : kNoPlace;
    std::optional<TRecord> image;
    bool desktop_changed = false;
    if (item) {
      const std::uint64_t print = adapter_.Fingerprint(*item);
      TRecord attributes;
      Attributes(*item, &last, attributes);
      if (print != 0 && print == last.fingerprint && attributes.category == last.category &&
          attributes.secret == last.secret) {
        // The item as written last time: no conversion.
      } else {
        // An image is in canonical form: one equal to the last record needs
        // no canonical copy of it, nor a copy of its own (most items, most
        // synchronisations); the image is needed only when changed.
        image = ChangedImage(*item, last, attributes);
        if (image) {
          TRecord base = last;
          base.bytes = Canonical(last.bytes);
          desktop_changed = !SameRecord(*image, base);
          image->id = id;
          image->fingerprint = print;
        }
      }
      last.fingerprint = print;
    }

    if (archived) {
      archived_.push_back(FromHandheld(now->record, item));
      ++counts_.archived;
      if (desktop_changed) AppendOrAdopt(*item, *image);
      continue;
    }
    if (handheld_gone) {
      if (desktop_changed) {
        AppendOrAdopt(*item, *image);  // changed wins over deleted
      } else if (item) {
        ++counts_.deleted;
      }
      continue;
    }
    if (!item) {  // deleted on the desktop
      if (handheld_changed) {
        Keep(last, handheld);
        AddLive(FromHandheld(handheld, nullptr), handheld);
        ++counts_.to_desktop;
      } else {
        writes_.push_back({TWrite::kDelete, id, {}, 0});
        ++counts_.deleted;
      }
      continue;
    }
    if (!handheld_changed && !desktop_changed) {
      // The item is not needed again: moved, not copied (twice the memory
      // of the desktop's items otherwise); the record stays in its place.
      AddLive(std::move(*item), last);
      Keep(last, last);
    } else if (!desktop_changed) {
      Keep(last, handheld);
      AddLive(FromHandheld(handheld, item), handheld);
      ++counts_.to_desktop;
    } else if (!handheld_changed) {
      Keep(last, *image);
      writes_.push_back({TWrite::kEdit, id, *image, 0});
      AddLive(std::move(*item), *image);
      ++counts_.to_handheld;
    } else {
      Keep(last, handheld);
      AddLive(FromHandheld(handheld, item), handheld);
      TRecord canonical = handheld;
      canonical.bytes = Canonical(handheld.bytes);
      canonical.id = id;
      if (!SameRecord(canonical, *image)) {
        ++counts_.conflicts;
        ++counts_.to_desktop;
        log_(db_.FileName() + ": record " + std::to_string(id) +
             " was changed on the handheld and on the desktop; both versions are kept, the "
             "desktop's as a new record");
        AppendOrAdopt(*item, *image);
      }
    }
  }

  // New on the desktop: the same content new on the handheld is the same
  // item (a first synchronisation, a slow one after another desktop, an
  // append cut short).
  for (std::size_t i = 0; i < desktop_.size(); ++i) {
    place_ = i;
    if (met[i] || AdoptNamed(desktop_[i])) continue;
    const TRecord image = Image(desktop_[i], nullptr);
    AppendOrAdopt(std::move(desktop_[i]), image);
  }
  // New on the handheld.
  place_ = kNoPlace;
  for (const auto& [canonical, id] : unknown_) {
    const TRecord& record = OnHandheld(id)->record;
    SetNext(record);
    AddLive(FromHandheld(record, nullptr), record);
    ++counts_.to_desktop;
  }
  unknown_.clear();
  for (const THandheldRecord& found : handheld_) {
    if (found.archived && InState(found.record.id) == nullptr) {
      archived_.push_back(FromHandheld(found.record, nullptr));
      ++counts_.archived;
    }
  }
}

void TSyncRun::PlanDesktopToHandheld() {
  // First the items whose record the handheld holds, then the others, so
  // that no append adopts a record an item names.
  std::unordered_set<std::uint32_t> kept;
  std::vector<const TDorvSyncItem*> others;
  for (const TDorvSyncItem& item : desktop_) {
    place_ = static_cast<std::size_t>(&item - desktop_.data());
    const THandheldRecord* found = item.id == 0 ? nullptr : OnHandheld(item.id);
    if (found == nullptr || found->deleted || !kept.insert(item.id).second) {
      others.push_back(&item);
      continue;
    }
    TRecord base = found->record;
    TRecord image = Image(item, &base);
    image.id = item.id;
    base.bytes = Canonical(base.bytes);
    if (!SameRecord(image, base)) {
      writes_.push_back({TWrite::kEdit, item.id, image, 0});
      ++counts_.to_handheld;
    }
    SetNext(image);
    AddLive(item, image);
    named_.insert(item.id);
  }
  for (const TDorvSyncItem* item : others) {
    place_ = static_cast<std::size_t>(item - desktop_.data());
    AppendOrAdopt(*item, Image(*item, nullptr));
  }
  // Adopted by an append: kept too.
  for (const TRecord& record : next_state_) kept.insert(record.id);
  for (const THandheldRecord& found : handheld_) {
    const std::uint32_t id = found.record.id;
    if (found.archived) {
      archived_.push_back(FromHandheld(found.record, nullptr));
      ++counts_.archived;
    } else if (!found.deleted && kept.count(id) == 0) {
      writes_.push_back({TWrite::kDelete, id, {}, 0});
      ++counts_.deleted;
    }
  }
}

void TSyncRun::PlanHandheldToDesktop() {
  std::unordered_map<std::uint32_t, const TDorvSyncItem*> desktop;
  desktop.reserve(desktop_.size());
  for (const TDorvSyncItem& item : desktop_)
    if (item.id != 0) desktop.emplace(item.id, &item);
  for (const THandheldRecord& found : handheld_) {
    const std::uint32_t id = found.record.id;
    const auto previous = desktop.find(id);
    const TDorvSyncItem* item = previous == desktop.end() ? nullptr : previous->second;
    place_ = item ? static_cast<std::size_t>(item - desktop_.data()) : kNoPlace;
    if (found.archived) {
      archived_.push_back(FromHandheld(found.record, item));
      ++counts_.archived;
    } else if (!found.deleted) {
      SetNext(found.record);
      AddLive(FromHandheld(found.record, item), found.record);
      ++counts_.to_desktop;
    }
  }
}

TDorvSyncState TSyncRun::Journal() const {
  TDorvSyncState journal;
  journal.app_info = app_info_;
  for (const TWrite& write : writes_)
    if (write.kind == TWrite::kAppend) journal.records.push_back(write.record);
  return journal;
}

bool TSyncRun::WriteHandheld() {
  bool wrote = !writes_.empty();
  if (has_categories_ && categories_changed_) {
    wrote = true;
    // Categories the desktop's items named; the renamed bits stay until the
    // desktop holds the names (ForgetRenamed).
    current_.Write(db_.AppInfoFields());
    db_.WriteAppInfo();
    app_info_.assign(reinterpret_cast<const char*>(db_.GetAppInfoBlock()), db_.AppInfoSize());
  }
  for (TWrite& write : writes_) {
    if (write.kind == TWrite::kDelete) {
      if (db_.FindRecordById(write.id)) db_.Delete();
      continue;
    }
    if (write.kind == TWrite::kEdit && db_.FindRecordById(write.id)) {
      db_.Edit();
    } else {
      // An edit of a record gone meanwhile is an append.
      write.kind = TWrite::kAppend;
      db_.Append();
    }
    Load(write.record.bytes);
    db_.SetCategoryId(write.record.category);
    db_.SetAttributes(write.record.secret ? eRecAttrSecret : 0);
    db_.Post();
    // An edit's record is in the new state since it was planned.
    if (write.kind == TWrite::kAppend) {
      write.record.id = db_.GetRecordId();
      live_[write.item].id = write.record.id;
      SetNext(std::move(write.record));
    }
  }
  return wrote;
}

void TSyncRun::ForgetRenamed() {
  if (!has_categories_ || current_.renamed == 0) return;
  // The renamed bits are the categories' change flags: they tell the
  // handheld's next desktop what changed, so they are reset with the
  // records' flags, once this desktop holds the names.
  db_.GetFieldValuesFromBuffer(reinterpret_cast<const std::uint8_t*>(app_info_.data()),
                               static_cast<std::int32_t>(app_info_.size()), db_.AppInfoFields(),
                               false);
  current_.renamed = 0;
  current_.Write(db_.AppInfoFields());
  db_.WriteAppInfo();
}

TDorvSyncState TSyncRun::NewState() {
  TDorvSyncState state;
  state.app_info = app_info_;
  if (!kept_.empty()) {
    // Two-way: the last state's records kept, then the others.
    std::size_t at = 0;
    for (std::size_t i = 0; i < state_.size(); ++i) {
      if (!kept_[i]) continue;
      if (at != i) state_[at] = std::move(state_[i]);
      ++at;
    }
    state_.resize(at);
    state_.insert(state_.end(), std::make_move_iterator(next_state_.begin()),
                  std::make_move_iterator(next_state_.end()));
    next_state_ = std::move(state_);
    state_.clear();
    kept_.clear();
  }
  SortKeepingLast(next_state_, RecordId);
  // Each record keeps the fingerprint of its live item, as written now.
  for (const TDorvSyncItem& item : live_) {
    TRecord* record = FindById(next_state_, item.id, RecordId);
    if (record != nullptr && record->fingerprint == 0)
      record->fingerprint = adapter_.Fingerprint(item);
  }
  state.records = std::move(next_state_);
  next_state_.clear();
  return state;
}

}  // namespace

TDorvMirrorSync::TDorvMirrorSync(TDorvConduitDb& db, TDorvSyncAdapter& adapter,
                                 std::filesystem::path desktop_folder, std::string state_name)
    : db_(db),
      adapter_(adapter),
      folder_(std::move(desktop_folder)),
      name_(std::move(state_name)) {}

std::filesystem::path TDorvMirrorSync::StatePath() const {
  return folder_ / (name_ + ".sync-state");
}

std::filesystem::path TDorvMirrorSync::JournalPath() const {
  return folder_ / (name_ + ".sync-journal");
}

TDorvSyncCounts TDorvMirrorSync::Run(TDorvConduit& conduit) {
  return Run(
      conduit.SyncType(), [&](const std::string& line) { conduit.AddLogEntry(line); },
      conduit.FirstDevice() != fsNeither);
}

TDorvSyncCounts TDorvMirrorSync::Run(TSyncTypes type,
                                     const std::function<void(const std::string&)>& log,
                                     bool first_sync) {
  const char* type_name = SyncTypeName(type);
  const std::string shown = type_name ? type_name : std::to_string(static_cast<int>(type));
  if (type != stFast && type != stSlow && type != stHHtoPC && type != stPCtoHH) {
    log(db_.FileName() + ": nothing to synchronise for " + shown);
    return {};
  }
  const bool read_only = type == stHHtoPC;
  TSyncRun run(db_, adapter_, adapter_.record_bytes_, type, log);
  db_.SetOpenMode(read_only ? eDbRead : eDbRead | eDbWrite | eDbExclusive);
  db_.Open();
  try {
    // (1) Read everything and plan. A damaged state or journal stops the
    // synchronisation before anything is written.
    std::optional<TDorvSyncState> state = TDorvSyncState::Load(StatePath(), Kind::kState);
    if (first_sync) state.reset();
    const auto journal = TDorvSyncState::Load(JournalPath(), Kind::kJournal);
    run.Read(state);
    run.Plan(journal);
    TDesktopWriter writer;
    if (!read_only) {
      // (2) The journal of the appends, durable before the first one.
      const TDorvSyncState appends = run.Journal();
      if (!appends.records.empty()) {
        appends.Save(writer, JournalPath(), Kind::kJournal);
        writer.Commit();
      }
      // (3) The handheld. Its writes are durable only once the database is
      // closed (written back): before the desktop and the state say that
      // they were made. Opened again for (5).
      if (run.WriteHandheld()) {
        db_.Close();
        db_.Open();
      }
    }
    // (4) The desktop, then the state, durable together. The state is
    // encoded first (its records freed while the adapter writes) and the
    // items freed once written.
    const std::string next = run.NewState().Encode(Kind::kState);
    adapter_.WriteDesktop(run.LiveInDesktopOrder(), run.Archived(), writer);
    run.FreeItems();
    writer.Write(StatePath(), next);
    writer.Commit();
    // (5) Only now may the handheld forget what the desktop holds.
    if (!read_only) {
      run.ForgetRenamed();
      db_.PurgeDeletedRecords();
      db_.ResetSyncFlags();
    }
    // (6) Nothing is pending any more.
    writer.Remove(JournalPath());
    writer.Commit();
    db_.Close();
  } catch (...) {
    try {
      db_.Close();
    } catch (const EDorvConduitError&) {
    }
    // Said in the HotSync log like the library's own errors.
    try {
      throw;
    } catch (const EDorvConduitError&) {
      throw;
    } catch (const std::exception& e) {
      throw EDorvConduitError(db_.FileName() + ": " + e.what());
    }
  }
  const TDorvSyncCounts& counts = run.Counts();
  log(db_.FileName() + ": " + std::to_string(counts.to_desktop) + " to the desktop, " +
      std::to_string(counts.to_handheld) + " to the handheld, " + std::to_string(counts.deleted) +
      " deleted, " + std::to_string(counts.archived) + " archived, " +
      std::to_string(counts.conflicts) + " conflicts (" + shown + ")");
  return counts;
}

}  // namespace fernwick
