// Two-way synchronisations killed with SIGKILL: the runner (fernwick-hotsync)
// runs the lines test conduit (LinesSyncConduit.cpp) on the mirror-sync
// engine against a handheld folder and a desktop folder. POSIX only (fork).
//
// Each round edits both sides (changes, deletions, additions, a conflict, an
// archived record, now and then a new category), starts a fast
// synchronisation and kills it: at a random moment within one whole run, or
// right after it is seen to write one of the files (the journal, the
// state, a desktop file, the handheld's database). Then a synchronisation runs to its end,
// and the sides must agree with each other and with the rules: every
// version made on either side is there once on both sides (a conflict's two
// versions both), the deleted ones are gone, the archived one is in the
// archive; a further synchronisation changes nothing.
//
// FERNWICK_SYNC_CRASH_KILLS (default 200) and FERNWICK_SYNC_CRASH_SECONDS
// (default 6) set how many kills and for how long, for longer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"
#include "CategoryBytes.h"
#include "RunnerChild.h"
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>

namespace fernwick {
namespace {

namespace fs = std::filesystem;
using testing::Knob;
using testing::ReadFile;

constexpr const char* kConduit = "liblines_sync_conduit.so";

constexpr std::uint8_t kDeleted = 0x80;
constexpr std::uint8_t kDirty = 0x40;
constexpr std::uint8_t kArchived = 0x08;  // with kDeleted, in the file

TDorvCategories DecodeCategories(const std::vector<std::uint8_t>& app_info) {
  TDorvConduitDb db(nullptr);
  AddCategoryFields(db.AppInfoFields());
  db.GetFieldValuesFromBuffer(app_info.data(), static_cast<std::int32_t>(app_info.size()),
                              db.AppInfoFields(), false);
  return TDorvCategories::Read(db.AppInfoFields());
}

std::string RecordText(const pdb::PdbRecord& r) {
  return std::string(r.data.begin(), std::find(r.data.begin(), r.data.end(), 0));
}

// What one side shows: category and text of each live item, by id.
struct Item {
  std::string category;
  std::string text;
  bool operator==(const Item&) const = default;
};
void PrintTo(const Item& item, std::ostream* out) { *out << item.category << ":" << item.text; }
using Items = std::map<std::uint32_t, Item>;

// The lines of Items.txt or Archive.txt; `texts` gets every text in order.
Items ReadLines(const fs::path& path, std::vector<std::string>* texts = nullptr) {
  Items items;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    const auto tab1 = line.find('\t');
    const auto tab2 = line.find('\t', tab1 + 1);
    items[static_cast<std::uint32_t>(std::stoul(line.substr(0, tab1)))] = {
        line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)};
    if (texts) texts->push_back(line.substr(tab2 + 1));
  }
  return items;
}

void WriteLines(const fs::path& path, const std::vector<std::pair<std::uint32_t, Item>>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& [id, item] : lines)
    out << id << '\t' << item.category << '\t' << item.text << '\n';
}

// The items that differ between the handheld (H) and the desktop (D).
std::string Difference(const Items& handheld, const Items& desktop) {
  std::ostringstream out;
  for (const auto& [id, item] : handheld) {
    const auto it = desktop.find(id);
    if (it == desktop.end() || !(it->second == item))
      out << "\n  H " << id << " " << item.category << ":" << item.text;
  }
  for (const auto& [id, item] : desktop) {
    const auto it = handheld.find(id);
    if (it == handheld.end() || !(it->second == item))
      out << "\n  D " << id << " " << item.category << ":" << item.text;
  }
  return out.str();
}

class SyncCrash : public testing::RunnerChild {
 protected:
  SyncCrash() : RunnerChild("sync-crash") { fs::create_directories(Lines()); }

  fs::path Database() const { return Handheld() / "LinesDB.pdb"; }
  fs::path Lines() const { return Desktop() / "Lines"; }
  bool SyncToTheEnd() { return RunnerChild::SyncToTheEnd(kConduit); }

  Items HandheldItems() const {
    const pdb::PdbDatabase db = pdb::ReadPdbFile(Database());
    const TDorvCategories names = DecodeCategories(*db.app_info);
    Items items;
    for (const pdb::PdbRecord& r : db.records)
      if ((r.attributes & kDeleted) == 0)
        items[r.unique_id] = {names.names[r.attributes & 0x0F], RecordText(r)};
    return items;
  }
};

TEST_F(SyncCrash, KilledTwoWaySyncsLoseNothingAndConverge) {
  {
    pdb::PdbDatabase db;
    db.name = "LinesDB";
    db.type = pdb::FourCC("DATA");
    db.creator = pdb::FourCC("line");
    db.app_info = EncodeCategories(BusinessAndPersonal());
    for (std::uint32_t id = 1; id <= 40; ++id) {
      const std::string text = "start" + std::to_string(id);
      pdb::PdbRecord r{static_cast<std::uint8_t>(id % 3), id, {text.begin(), text.end()}};
      r.data.push_back(0);
      db.records.push_back(r);
    }
    db.unique_id_seed = 41;
    pdb::WritePdbFileAtomically(Database(), db);
  }
  ASSERT_TRUE(SyncToTheEnd());
  ASSERT_EQ(ReadLines(Lines() / "Items.txt"), HandheldItems());

  // How long a whole run takes, for the random kills.
  const auto timed = std::chrono::steady_clock::now();
  ASSERT_TRUE(SyncToTheEnd());
  const auto run_us = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - timed)
                          .count();

  std::mt19937 random(20261208);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  const std::vector<std::string> kNames = {"Unfiled", "Business", "Personal"};
  int serial = 0;
  auto fresh = [&](const char* side) { return std::string(side) + std::to_string(++serial); };
  std::set<std::string> archived;  // every text archived so far
  const int wanted = Knob("FERNWICK_SYNC_CRASH_KILLS", 200);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(Knob("FERNWICK_SYNC_CRASH_SECONDS", 6));
  int kills = 0;
  int finished_first = 0;  // runs that ended before their kill
  const std::vector<fs::path> watched = {Lines() / "LinesDB.sync-journal",
                                         Lines() / "LinesDB.sync-state", Lines() / "Items.txt",
                                         Lines() / "Archive.txt", Database()};

  for (int round = 0; kills < wanted && std::chrono::steady_clock::now() < deadline; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Edits on both sides of the converged items, each on items of its own.
    Items expected = HandheldItems();
    std::vector<std::uint32_t> ids;
    for (const auto& [id, item] : expected) ids.push_back(id);
    std::shuffle(ids.begin(), ids.end(), random);
    ASSERT_GE(ids.size(), 10u);
    std::size_t next = 0;
    std::vector<Item> added;  // items that come without a known id

    pdb::PdbDatabase hh = pdb::ReadPdbFile(Database());
    TDorvCategories names = DecodeCategories(*hh.app_info);
    auto record = [&](std::uint32_t id) -> pdb::PdbRecord& {
      for (pdb::PdbRecord& r : hh.records)
        if (r.unique_id == id) return r;
      throw std::logic_error("no record " + std::to_string(id));
    };
    auto set_text = [](pdb::PdbRecord& r, const std::string& text) {
      r.data.assign(text.begin(), text.end());
      r.data.push_back(0);
    };
    std::vector<std::pair<std::uint32_t, Item>> desk;
    for (const auto& [id, item] : ReadLines(Lines() / "Items.txt")) desk.emplace_back(id, item);
    auto desk_item = [&](std::uint32_t id) -> Item& {
      for (auto& [i, item] : desk)
        if (i == id) return item;
      throw std::logic_error("no item " + std::to_string(id));
    };

    for (int n = 0; n < 2; ++n) {  // changed on the handheld, category too
      const std::uint32_t id = ids[next++];
      const std::uint8_t category = static_cast<std::uint8_t>(pick(3));
      pdb::PdbRecord& r = record(id);
      set_text(r, fresh("h"));
      r.attributes = static_cast<std::uint8_t>(kDirty | category);
      expected[id] = {names.names[category], RecordText(r)};
    }
    for (int n = 0; n < 2; ++n) {  // changed on the desktop
      const std::uint32_t id = ids[next++];
      Item& item = desk_item(id);
      item = {kNames[pick(3)], fresh("d")};
      expected[id] = item;
    }
    {  // deleted on the handheld
      const std::uint32_t id = ids[next++];
      record(id).attributes = kDeleted | kDirty;
      expected.erase(id);
    }
    {  // deleted on the desktop
      const std::uint32_t id = ids[next++];
      desk.erase(std::find_if(desk.begin(), desk.end(), [&](auto& l) { return l.first == id; }));
      expected.erase(id);
    }
    {  // archived on the handheld
      const std::uint32_t id = ids[next++];
      pdb::PdbRecord& r = record(id);
      r.attributes = static_cast<std::uint8_t>(kDeleted | kDirty | kArchived | (r.attributes & 7));
      archived.insert(expected[id].text);
      expected.erase(id);
    }
    {  // changed differently on both sides: both kept
      const std::uint32_t id = ids[next++];
      pdb::PdbRecord& r = record(id);
      set_text(r, fresh("ch"));
      r.attributes = static_cast<std::uint8_t>(kDirty | (r.attributes & 0x0F));
      Item& item = desk_item(id);
      item.text = fresh("cd");
      expected[id].text = RecordText(r);
      added.push_back(item);
    }
    {  // new on the handheld
      pdb::PdbRecord r{};
      r.unique_id = ++hh.unique_id_seed;
      set_text(r, fresh("hn"));
      r.attributes = static_cast<std::uint8_t>(kDirty | pick(3));
      expected[r.unique_id] = {names.names[r.attributes & 0x0F], RecordText(r)};
      hh.records.push_back(r);
    }
    {  // new on the desktop, now and then in a category the handheld lacks
      const std::string category = round % 7 == 3 ? "Errands" : kNames[pick(3)];
      desk.emplace_back(0, Item{category, fresh("dn")});
      added.push_back(desk.back().second);
    }
    pdb::WritePdbFileAtomically(Database(), hh);
    WriteLines(Lines() / "Items.txt", desk);

    // The killed run.
    finished_first += StartAndKill(kConduit, random, run_us, round % 2 == 0, watched);
    ++kills;

    const std::string killed_log = TakeLog();
    ASSERT_TRUE(SyncToTheEnd());
    const Items on_handheld = HandheldItems();
    std::vector<std::string> desk_texts;
    const Items on_desktop = ReadLines(Lines() / "Items.txt", &desk_texts);
    ASSERT_EQ(on_handheld, on_desktop)
        << "the sides differ:" << Difference(on_handheld, on_desktop) << "\nthe killed run's log:\n"
        << killed_log;
    // Every version once; the additions under the ids the handheld gave.
    std::multiset<std::string> texts(desk_texts.begin(), desk_texts.end());
    for (const auto& [id, item] : expected) {
      EXPECT_EQ(texts.count(item.text), 1u) << item.text;
      const auto it = on_desktop.find(id);
      EXPECT_TRUE(it != on_desktop.end() && it->second == item)
          << "record " << id << " " << item.text;
    }
    for (const Item& item : added) {
      EXPECT_EQ(texts.count(item.text), 1u) << item.text;
      const auto it = std::find_if(on_desktop.begin(), on_desktop.end(),
                                   [&](const auto& e) { return e.second.text == item.text; });
      EXPECT_TRUE(it != on_desktop.end() && it->second == item) << item.text;
    }
    EXPECT_EQ(on_desktop.size(), expected.size() + added.size()) << "a duplicate or a stray item";
    std::vector<std::string> archive_texts;
    ReadLines(Lines() / "Archive.txt", &archive_texts);
    std::set<std::string> in_archive(archive_texts.begin(), archive_texts.end());
    EXPECT_EQ(in_archive.size(), archive_texts.size()) << "an archived record twice";
    EXPECT_EQ(in_archive, archived);
    EXPECT_FALSE(fs::exists(Lines() / "LinesDB.sync-journal"));
    for (const pdb::PdbRecord& r : pdb::ReadPdbFile(Database()).records)
      EXPECT_EQ(r.attributes & (kDeleted | kDirty), 0) << "record " << r.unique_id;

    // A further synchronisation changes nothing.
    TakeLog();
    ASSERT_TRUE(SyncToTheEnd());
    const std::string log = TakeLog();
    EXPECT_NE(log.find("LinesDB: 0 to the desktop, 0 to the handheld, 0 deleted, 0 archived, "
                       "0 conflicts"),
              std::string::npos)
        << log;
    EXPECT_EQ(ReadLines(Lines() / "Items.txt"), on_desktop);
    EXPECT_EQ(HandheldItems(), on_handheld);
    if (HasFailure()) break;
  }
  RecordProperty("kills", kills);
  RecordProperty("finished_before_the_kill", finished_first);
  EXPECT_GE(kills, std::min(wanted, 10));
}

}  // namespace
}  // namespace fernwick
