// The mirror-sync engine against the handheld emulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "EmulatedHandheld.h"
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
    for (const Desk& d : items) read.push_back({d.id, d.category, false, d.text});
    return read;
  }
  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    fields.FieldByName("Text")->SetAsString(std::any_cast<std::string>(item.value));
  }
  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem*) override {
    TDorvSyncItem item;
    item.value = fields.FieldByName("Text")->GetAsString();
    return item;
  }
  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter&) override {
    if (fail_write) throw EDorvConduitError("Cannot write the desktop (the disk is full)");
    items.clear();
    for (const TDorvSyncItem& i : live)
      items.push_back({i.id, std::any_cast<std::string>(i.value), i.category});
    for (const TDorvSyncItem& i : archived) archive[i.id] = std::any_cast<std::string>(i.value);
  }

  std::vector<Desk> items;
  std::map<std::uint32_t, std::string> archive;
  bool fail_write = false;
};

// The category block of `app_info`, and back.
TDorvCategories DecodeCategories(const std::vector<std::uint8_t>& app_info) {
  TDorvConduitDb db(nullptr);
  AddCategoryFields(db.AppInfoFields());
  db.GetFieldValuesFromBuffer(app_info.data(), static_cast<std::int32_t>(app_info.size()),
                              db.AppInfoFields(), false);
  return TDorvCategories::Read(db.AppInfoFields());
}

std::vector<std::uint8_t> EncodeCategories(const TDorvCategories& block) {
  TDorvConduitDb db(nullptr);
  AddCategoryFields(db.AppInfoFields());
  block.Write(db.AppInfoFields());
  std::vector<std::uint8_t> bytes(400, 0);
  std::uint32_t used = 0;
  db.SetBufferFromFieldValues(bytes.data(), static_cast<std::int32_t>(bytes.size()),
                              db.AppInfoFields(), used, false);
  bytes.resize(used);
  return bytes;
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

  void PutEmpty() {
    pdb::PdbDatabase db = testing::TextDatabase("SyncDB", {});
    TDorvCategories block;
    block.names[0] = "Unfiled";
    block.names[1] = "Business";
    block.ids[1] = 1;
    block.names[2] = "Personal";
    block.ids[2] = 2;
    block.last_unique_id = 2;
    db.app_info = EncodeCategories(block);
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

}  // namespace
}  // namespace fernwick
