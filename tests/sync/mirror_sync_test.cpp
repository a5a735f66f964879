// The mirror-sync engine against the handheld emulator: random rounds of
// edits on both sides, each followed by a synchronisation of a random type,
// checked against what the rules promise: both sides converge, no version
// made in the round is lost, a conflict keeps both versions, nothing is
// duplicated, an item deleted on one side and untouched on the other is
// gone, and a second synchronisation changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "EmulatedHandheld.h"
#include "CategoryBytes.h"
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace fernwick {
namespace {

using testing::EmulatedHandheld;

constexpr std::uint8_t kDeleted = 0x80;
constexpr std::uint8_t kDirty = 0x40;
constexpr std::uint8_t kArchived = 0x08;  // with kDeleted, in the file

struct Desk {
  std::uint32_t id = 0;
  std::string text;
  std::string category;
};

// The desktop: a list of items and an archive by id, in memory.
class MapAdapter : public TDorvSyncAdapter {
 public:
  std::vector<TDorvSyncItem> ReadDesktop() override {
    std::vector<TDorvSyncItem> read;
    for (const Desk& d : items) {
      read.push_back({d.id, d.category, std::nullopt, d.text});
      if (!holds_categories) read.back().category.reset();
    }
    return read;
  }
  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    ++to_records;
    fields.FieldByName("Text")->SetAsString(std::any_cast<std::string>(item.value));
  }
  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem*) override {
    TDorvSyncItem item;
    item.value = fields.FieldByName("Text")->GetAsString();
    return item;
  }
  std::uint64_t Fingerprint(const TDorvSyncItem& item) override {
    if (!fingerprints) return 0;
    return std::hash<std::string>()(std::any_cast<std::string>(item.value)) | 1;
  }
  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter&) override {
    if (fail_write) throw EDorvConduitError("Cannot write the desktop (the disk is full)");
    items.clear();
    for (const TDorvSyncItem& i : live)
      items.push_back({i.id, std::any_cast<std::string>(i.value), i.category.value_or("")});
    for (const TDorvSyncItem& i : archived) archive[i.id] = std::any_cast<std::string>(i.value);
    // As a kill after the desktop files, before the state.
    if (fail_after_write) throw EDorvConduitError("Killed");
  }

  std::vector<Desk> items;
  std::map<std::uint32_t, std::string> archive;
  bool fail_write = false;
  bool fail_after_write = false;
  bool holds_categories = true;
  // Whether Fingerprint gives one (the engine then converts only the items
  // changed since it wrote them).
  bool fingerprints = false;
  int to_records = 0;
};

// The category block of `app_info`, and back.
TDorvCategories DecodeCategories(const std::vector<std::uint8_t>& app_info) {
  TDorvConduitDb db(nullptr);
  AddCategoryFields(db.AppInfoFields());
  db.GetFieldValuesFromBuffer(app_info.data(), static_cast<std::int32_t>(app_info.size()),
                              db.AppInfoFields(), false);
  return TDorvCategories::Read(db.AppInfoFields());
}

std::string Text(const pdb::PdbRecord& record) { return testing::RecordText(record); }

void SetText(pdb::PdbRecord& record, const std::string& text) {
  record.data.assign(text.begin(), text.end());
  record.data.push_back(0);
}

// (id, text, category name) of every live record or item.
using Shown = std::set<std::tuple<std::uint32_t, std::string, std::string>>;

Shown HandheldShown(const pdb::PdbDatabase& db) {
  const TDorvCategories names = DecodeCategories(*db.app_info);
  Shown shown;
  for (const pdb::PdbRecord& r : db.records)
    if ((r.attributes & kDeleted) == 0)
      shown.emplace(r.unique_id, Text(r), names.names[r.attributes & 0x0F]);
  return shown;
}

Shown DesktopShown(const MapAdapter& desk) {
  Shown shown;
  for (const Desk& d : desk.items) shown.emplace(d.id, d.text, d.category);
  return shown;
}

class MirrorSync : public ::testing::Test {
 protected:
  MirrorSync() : db_(nullptr) {
    db_.SetFileName("SyncDB");
    db_.AddField("Text", pftString, 0);
    AddCategoryFields(db_.AppInfoFields());
    folder_ = handheld_.Folder().string() + "-desktop";
  }
  ~MirrorSync() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // SyncDB with categories Business (1) and Personal (2) and `texts`.
  void PutEmpty(const std::vector<std::string>& texts = {},
                const std::vector<std::uint8_t>& attributes = {}) {
    pdb::PdbDatabase db = testing::TextDatabase("SyncDB", texts, attributes);
    db.app_info = EncodeCategories(BusinessAndPersonal());
    handheld_.Put(db);
  }

  TDorvSyncCounts Sync(TSyncTypes type) {
    TDorvMirrorSync engine(db_, desk_, folder_, "SyncDB");
    return engine.Run(type, [&](const std::string& line) { log_.push_back(line); });
  }

  EmulatedHandheld handheld_;
  TDorvConduitDb db_;
  MapAdapter desk_;
  std::filesystem::path folder_;
  std::vector<std::string> log_;
};

TEST_F(MirrorSync, RandomEditsOnBothSidesConvergeByTheRules) {
  PutEmpty();
  std::mt19937 random(20261208);
  auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  int serial = 0;
  auto fresh = [&](const char* side) { return std::string(side) + std::to_string(++serial); };
  TSyncTypes last_type = stFast;

  for (int round = 0; round < 1000; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    desk_.fingerprints = round / 5 % 2 == 1;
    pdb::PdbDatabase hh = handheld_.Get("SyncDB");
    TDorvCategories names = DecodeCategories(*hh.app_info);
    std::set<std::string> made;  // versions made in this round
    std::set<std::string> gone;  // deleted on one side, untouched on the other
    std::set<std::uint32_t> hh_touched, desk_touched, hh_changed, desk_changed;
    std::map<std::uint32_t, std::string> hh_deleted, desk_deleted;

    auto live = [&] {
      std::vector<std::size_t> at;
      for (std::size_t i = 0; i < hh.records.size(); ++i)
        if ((hh.records[i].attributes & kDeleted) == 0 &&
            hh_touched.count(hh.records[i].unique_id) == 0)
          at.push_back(i);
      return at;
    };
    auto named_slot = [&](int below) {
      std::vector<int> slots;
      for (int i = 0; i < below; ++i)
        if (!names.names[i].empty()) slots.push_back(i);
      return slots[pick(slots.size())];
    };

    // Same change on both sides, sometimes.
    if (chance(10) && !desk_.items.empty()) {
      Desk& d = desk_.items[pick(desk_.items.size())];
      for (pdb::PdbRecord& r : hh.records) {
        if (r.unique_id != d.id || d.id == 0 || (r.attributes & kDeleted) != 0) continue;
        const std::string text = fresh("s");
        SetText(r, text);
        r.attributes |= kDirty;
        d.text = text;
        made.insert(text);
        hh_touched.insert(d.id);
        desk_touched.insert(d.id);
      }
    }
    // The handheld's edits.
    for (int n = static_cast<int>(pick(4)); n > 0; --n) {
      const int what = static_cast<int>(pick(100));
      const std::vector<std::size_t> can = live();
      if (what < 30 || can.empty()) {
        pdb::PdbRecord r;
        r.unique_id = ++hh.unique_id_seed;
        r.attributes = static_cast<std::uint8_t>(kDirty | named_slot(8));
        const std::string text = fresh("h");
        SetText(r, text);
        made.insert(text);
        hh_touched.insert(r.unique_id);
        hh.records.push_back(r);
      } else if (what < 60) {
        pdb::PdbRecord& r = hh.records[can[pick(can.size())]];
        const std::string text = fresh("h");
        SetText(r, text);
        r.attributes = static_cast<std::uint8_t>(
            (r.attributes & 0xF0) | kDirty | (chance(30) ? named_slot(8) : r.attributes & 0x0F));
        made.insert(text);
        hh_touched.insert(r.unique_id);
        hh_changed.insert(r.unique_id);
      } else if (what < 75) {
        pdb::PdbRecord& r = hh.records[can[pick(can.size())]];
        hh_deleted[r.unique_id] = Text(r);
        r.attributes = kDeleted | kDirty;
        hh_touched.insert(r.unique_id);
      } else if (what < 85) {
        pdb::PdbRecord& r = hh.records[can[pick(can.size())]];
        if ((r.attributes & 0x0F) >= 8) continue;  // the file keeps three bits
        made.insert(Text(r));                      // to the archive
        r.attributes =
            static_cast<std::uint8_t>(kDeleted | kDirty | kArchived | (r.attributes & 7));
        hh_touched.insert(r.unique_id);
      } else if (what < 93) {
        const int slot = named_slot(8);
        if (slot == 0) continue;
        names.Rename(slot, fresh("R"));
      } else {
        for (int slot = 1; slot < 8; ++slot) {
          if (!names.names[slot].empty()) continue;
          names.names[slot] = fresh("H");
          names.ids[slot] = ++names.last_unique_id;
          names.renamed |= static_cast<std::uint16_t>(1 << slot);
          break;
        }
      }
    }
    hh.app_info = EncodeCategories(names);
    // The desktop's edits.
    for (int n = static_cast<int>(pick(4)); n > 0; --n) {
      const int what = static_cast<int>(pick(100));
      std::vector<std::size_t> can;
      for (std::size_t i = 0; i < desk_.items.size(); ++i)
        if (desk_.items[i].id != 0 && desk_touched.count(desk_.items[i].id) == 0) can.push_back(i);
      auto category = [&] { return chance(15) ? fresh("D") : names.names[named_slot(16)]; };
      if (what < 35 || can.empty()) {
        const std::string text = fresh("d");
        desk_.items.insert(desk_.items.begin() +
                               static_cast<std::ptrdiff_t>(pick(desk_.items.size() + 1)),
                           {0, text, category()});
        made.insert(text);
      } else if (what < 75) {
        Desk& d = desk_.items[can[pick(can.size())]];
        d.text = fresh("d");
        if (chance(30)) d.category = category();
        made.insert(d.text);
        desk_touched.insert(d.id);
        desk_changed.insert(d.id);
      } else {
        const std::size_t at = can[pick(can.size())];
        desk_deleted[desk_.items[at].id] = desk_.items[at].text;
        desk_touched.insert(desk_.items[at].id);
        desk_.items.erase(desk_.items.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    // Now and then the desktop's program sorts its file another way.
    if (chance(10)) std::shuffle(desk_.items.begin(), desk_.items.end(), random);
    for (const auto& [id, text] : hh_deleted)
      if (desk_touched.count(id) == 0) gone.insert(text);
    for (const auto& [id, text] : desk_deleted)
      if (hh_touched.count(id) == 0) gone.insert(text);
    int conflicts = 0;
    for (const std::uint32_t id : hh_changed) conflicts += static_cast<int>(desk_changed.count(id));
    handheld_.Put(hh);

    const int kind = static_cast<int>(pick(100));
    const TSyncTypes type = kind < 45   ? stFast
                            : kind < 80 ? stSlow
                            : kind < 90 ? stPCtoHH
                                        : stHHtoPC;
    const Shown hh_before = HandheldShown(hh);
    std::multiset<std::string> desk_texts_before;
    for (const Desk& d : desk_.items) desk_texts_before.insert(d.text);
    const std::vector<Desk> desk_before = desk_.items;
    const TDorvSyncCounts counts = Sync(type);
    // The desktop's items that are still there keep their order.
    std::set<std::string> after_texts;
    for (const Desk& d : desk_.items) after_texts.insert(d.text);
    std::vector<std::string> kept_order, order_after;
    for (const Desk& d : desk_before)
      if (after_texts.count(d.text) != 0) kept_order.push_back(d.text);
    const std::set<std::string> kept(kept_order.begin(), kept_order.end());
    for (const Desk& d : desk_.items)
      if (kept.count(d.text) != 0) order_after.push_back(d.text);
    ASSERT_EQ(order_after, kept_order) << "the desktop's order after " << SyncTypeName(type);

    const pdb::PdbDatabase after = handheld_.Get("SyncDB");
    const Shown shown = HandheldShown(after);
    ASSERT_EQ(shown, DesktopShown(desk_)) << "the two sides differ after " << SyncTypeName(type);
    std::multiset<std::string> texts;
    for (const auto& [id, text, category] : shown) texts.insert(text);
    std::set<std::string> archive;
    for (const auto& [id, text] : desk_.archive) archive.insert(text);
    if (type == stFast || type == stSlow) {
      for (const std::string& text : made) {
        ASSERT_TRUE(texts.count(text) + archive.count(text) > 0) << text << " was lost";
      }
      for (const std::string& text : gone) {
        ASSERT_EQ(texts.count(text), 0u) << text << " is back";
      }
      for (const std::string& text : texts) {
        ASSERT_EQ(texts.count(text), 1u) << text << " twice";
      }
      if (last_type != stHHtoPC) {
        ASSERT_EQ(counts.conflicts, conflicts);
      }
    } else if (type == stPCtoHH) {
      ASSERT_EQ(texts, desk_texts_before);
    } else {
      std::multiset<std::string> hh_texts;
      for (const auto& [id, text, category] : hh_before) hh_texts.insert(text);
      ASSERT_EQ(texts, hh_texts);
    }

    // A second synchronisation finds nothing to do.
    const TDorvSyncCounts again = Sync(chance(50) ? stFast : stSlow);
    ASSERT_EQ(again.to_desktop + again.to_handheld + again.deleted + again.conflicts, 0)
        << "a second sync after " << SyncTypeName(type) << " changed something";
    ASSERT_EQ(HandheldShown(handheld_.Get("SyncDB")), shown);
    ASSERT_EQ(DesktopShown(desk_), shown);
    last_type = type;
  }
}

// With the adapter's fingerprints only the items changed on the desktop
// (their value, category or secret attribute) are converted to records; a
// state written without them (an older one) converts every item once.
TEST_F(MirrorSync, WithFingerprintsOnlyChangedItemsAreConverted) {
  PutEmpty();
  desk_.items = {{0, "milk", "Business"}, {0, "eggs", ""}, {0, "bread", ""}};
  Sync(stSlow);
  desk_.fingerprints = true;
  desk_.to_records = 0;
  EXPECT_EQ(Sync(stFast).to_handheld, 0);
  EXPECT_EQ(desk_.to_records, 3);
  desk_.to_records = 0;
  EXPECT_EQ(Sync(stSlow).to_handheld, 0);
  EXPECT_EQ(desk_.to_records, 0);
  desk_.items[1].text = "eggs, six";
  desk_.items[2].category = "Personal";
  EXPECT_EQ(Sync(stFast).to_handheld, 2);
  EXPECT_EQ(desk_.to_records, 2);
  EXPECT_EQ(HandheldShown(handheld_.Get("SyncDB")), DesktopShown(desk_));
}

// Records a synchronisation appended before it failed stay on the handheld
// (the emulator writes back what it was given): the next one adopts them
// instead of appending again, for a new desktop item and for the desktop's
// side of a conflict alike.
TEST_F(MirrorSync, AppendsOfAFailedSyncAreAdoptedNotRepeated) {
  PutEmpty();
  desk_.items = {{0, "milk", "Business"}, {0, "eggs", ""}};
  Sync(stSlow);
  ASSERT_EQ(handheld_.Get("SyncDB").records.size(), 2u);
  const std::uint32_t eggs = desk_.items[1].id;
  pdb::PdbDatabase hh = handheld_.Get("SyncDB");
  for (pdb::PdbRecord& r : hh.records) {
    if (r.unique_id != eggs) continue;
    SetText(r, "eggs, six");
    r.attributes |= kDirty;
  }
  handheld_.Put(hh);
  desk_.items[1].text = "eggs, a dozen";
  desk_.items.push_back({0, "bread", "Personal"});

  desk_.fail_write = true;
  EXPECT_THROW(Sync(stFast), EDorvConduitError);
  EXPECT_EQ(handheld_.Get("SyncDB").records.size(), 4u);  // appended before the failure
  desk_.fail_write = false;
  log_.clear();
  const TDorvSyncCounts counts = Sync(stFast);
  EXPECT_EQ(counts.to_handheld, 0);
  const Shown shown = HandheldShown(handheld_.Get("SyncDB"));
  EXPECT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown, DesktopShown(desk_));
  EXPECT_EQ(shown.count({eggs, "eggs, six", "Unfiled"}), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "SyncDB.sync-journal"));
  ASSERT_FALSE(log_.empty());
  EXPECT_NE(log_.front().find("cut short"), std::string::npos) << log_.front();
}

// A synchronisation cut short after the desktop is written, before the
// state: the desktop already names the conflict's new record, by an id the
// state does not know. The next one takes that record over, also when the
// desktop holds neither its category nor its secret attribute (the new
// record has those of the old).
TEST_F(MirrorSync, AConflictCutShortBeforeTheStateIsNotDuplicated) {
  PutEmpty({"call Jo"}, {0x10 | 1});  // secret, Business
  desk_.holds_categories = false;
  Sync(stSlow);
  pdb::PdbDatabase hh = handheld_.Get("SyncDB");
  SetText(hh.records.at(0), "call Jo at nine");
  hh.records.at(0).attributes |= kDirty;
  handheld_.Put(hh);
  desk_.items.at(0).text = "call Jo at ten";
  desk_.fail_after_write = true;
  EXPECT_THROW(Sync(stFast), EDorvConduitError);
  desk_.fail_after_write = false;
  Sync(stFast);
  const Shown shown = HandheldShown(handheld_.Get("SyncDB"));
  EXPECT_EQ(shown.size(), 2u);
  EXPECT_EQ(desk_.items.size(), 2u);
  EXPECT_EQ(Sync(stFast).to_handheld + Sync(stSlow).to_desktop, 0);
}

// A category renamed on the handheld shows under its new name in every
// desktop item, changed or not; a name only the desktop uses is made.
TEST_F(MirrorSync, CategoryRenamedOnTheHandheldReachesEveryItem) {
  PutEmpty();
  desk_.items = {{0, "call Jo", "Business"}, {0, "plan", "Business"}};
  Sync(stSlow);
  pdb::PdbDatabase hh = handheld_.Get("SyncDB");
  TDorvCategories names = DecodeCategories(*hh.app_info);
  names.Rename(1, "Work");
  hh.app_info = EncodeCategories(names);
  handheld_.Put(hh);
  desk_.items.push_back({0, "hike", "Outdoors"});
  Sync(stFast);
  for (const Desk& d : desk_.items)
    EXPECT_EQ(d.category, d.text == "hike" ? "Outdoors" : "Work") << d.text;
  const TDorvCategories after = DecodeCategories(*handheld_.Get("SyncDB").app_info);
  EXPECT_EQ(after.Find("Outdoors"), 3);
  EXPECT_EQ(after.renamed, 0);
  EXPECT_EQ(HandheldShown(handheld_.Get("SyncDB")), DesktopShown(desk_));
}

// A desktop that holds neither categories nor the secret attribute (one
// text file per memo) changes neither when it changes a text.
TEST_F(MirrorSync, WhatTheDesktopCannotHoldIsKeptFromTheRecord) {
  PutEmpty({"call Jo"}, {0x10 | 1});
  desk_.holds_categories = false;
  Sync(stSlow);
  ASSERT_EQ(desk_.items.size(), 1u);
  desk_.items[0].text = "call Jo at nine";
  EXPECT_EQ(Sync(stFast).to_handheld, 1);
  const pdb::PdbRecord record = handheld_.Get("SyncDB").records.at(0);
  EXPECT_EQ(Text(record), "call Jo at nine");
  EXPECT_EQ(record.attributes & 0x1F, 0x10 | 1);  // secret, Business
}

// stPCtoHH makes the handheld equal to the desktop: an item that names a
// record keeps it, even when a new item with the same text comes first.
TEST_F(MirrorSync, DesktopToHandheldKeepsEveryItemOnce) {
  PutEmpty({"milk", "stale"});
  desk_.items = {{0, "milk", ""}, {1, "milk", ""}};
  const TDorvSyncCounts counts = Sync(stPCtoHH);
  EXPECT_EQ(counts.to_handheld, 1);
  EXPECT_EQ(counts.deleted, 1);
  const Shown shown = HandheldShown(handheld_.Get("SyncDB"));
  EXPECT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown, DesktopShown(desk_));
}

// A damaged state file stops the synchronisation before anything is
// written, with the file named.
TEST_F(MirrorSync, ADamagedStateFileWritesNothing) {
  PutEmpty();
  desk_.items = {{0, "milk", "Business"}};
  Sync(stSlow);
  const std::filesystem::path state = folder_ / "SyncDB.sync-state";
  std::filesystem::resize_file(state, std::filesystem::file_size(state) - 1);
  desk_.items.push_back({0, "eggs", ""});
  try {
    Sync(stFast);
    ADD_FAILURE() << "synchronised over a damaged state";
  } catch (const EDorvConduitError& e) {
    EXPECT_NE(std::string(e.what()).find("SyncDB.sync-state is damaged"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(handheld_.Get("SyncDB").records.size(), 1u);
  EXPECT_EQ(desk_.items.size(), 2u);
}

}  // namespace
}  // namespace fernwick
