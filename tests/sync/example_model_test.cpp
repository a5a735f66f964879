// The Address Book and Date Book examples through the runner, from a copy
// of the sample handheld: random rounds of edits on both sides (records
// through the handheld's database file; cards and events by editing the
// desktop file's text as another program would, adding ones without a UID
// or with one of their own, and properties only the desktop holds: PHOTO,
// a sixth phone, X- properties, ATTENDEE), each followed by a
// synchronisation of a random type. The sides must agree (ExampleSides.h
// says what a record holds of a card or event), every version made is
// there once (a conflict's two both), what was deleted on one side and left
// alone on the other is gone, what only the desktop holds stays in the file
// byte for byte and never reaches the handheld, and a further
// synchronisation changes nothing. POSIX only (fork).
//
// FERNWICK_EXAMPLE_ROUNDS (default 40) sets the rounds per example, for
// longer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ExampleSides.h"
#include "RunnerChild.h"

namespace fernwick::testing {
namespace {

// The items that differ between the handheld (H) and the desktop (D).
std::string Difference(const Views& handheld, const Views& desktop) {
  std::string out;
  for (const auto& [side, views, other] :
       {std::tuple{"H ", &handheld, &desktop}, {"D ", &desktop, &handheld}})
    for (const auto& v : *views)
      if (std::find(other->begin(), other->end(), v) == other->end())
        out += "\n  " + std::string(side) + std::to_string(v.first) + " " + v.second;
  return out;
}

class ExampleModel : public RunnerChild {
 protected:
  ExampleModel() : RunnerChild("example-model") {}

  fs::path Pdb(const Example& e) const { return Handheld() / (e.database + ".pdb"); }
  fs::path File(const Example& e) const { return Desktop() / e.folder / e.file; }

  // The sample handheld's database of `e`, synchronised once.
  void Begin(const Example& e) {
    fs::copy_file(fs::path(FERNWICK_SOURCE_DIR) / "samples/handheld" / (e.database + ".pdb"),
                  Pdb(e));
    ASSERT_TRUE(SyncToTheEnd(e.conduit, "slow"));
    TakeLog();
  }
  // A synchronisation that must change nothing.
  void ExpectNothingToDo(const Example& e, const std::string& type) {
    const std::string file = ReadFile(File(e));
    const std::vector<pdb::PdbRecord> records = pdb::ReadPdbFile(Pdb(e)).records;
    ASSERT_TRUE(SyncToTheEnd(e.conduit, type));
    const std::string log = TakeLog();
    EXPECT_NE(log.find(": 0 to the desktop, 0 to the handheld, 0 deleted, 0 archived, 0 conflicts"),
              std::string::npos)
        << log;
    const std::string after = ReadFile(File(e));
    if (after != file) {
      const auto [old_end, new_end] =
          std::mismatch(file.begin(), file.end(), after.begin(), after.end());
      const std::size_t at = file.rfind('\n', static_cast<std::size_t>(old_end - file.begin()));
      const std::size_t from = at == std::string::npos ? 0 : at + 1;
      ADD_FAILURE() << "a second synchronisation rewrote the desktop file from:\n"
                    << file.substr(from, 300) << "\nto:\n"
                    << after.substr(from, 300);
    }
    EXPECT_TRUE(pdb::ReadPdbFile(Pdb(e)).records == records) << "and the handheld";
  }
  void Rounds(const Example& e, unsigned seed);
};

void ExampleModel::Rounds(const Example& e, unsigned seed) {
  Begin(e);
  std::mt19937 random(seed);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  int serial = 0;
  auto fresh = [&](const char* side) { return side + std::to_string(++serial) + "x"; };
  struct Kept {
    std::uint32_t id;  // of its record, 0 until the item has one
    std::string token;
  };
  std::map<std::string, Kept> extras;  // the lines only the desktop holds
  std::string last_type = "slow";

  const int rounds = Knob("FERNWICK_EXAMPLE_ROUNDS", 40);
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    pdb::PdbDatabase hh = pdb::ReadPdbFile(Pdb(e));
    const auto names = pdb::DecodeCategoryInfo(*hh.app_info).names;
    std::vector<std::string> used_names;
    for (const std::string& n : names)
      if (!n.empty()) used_names.push_back(n);
    DeskFile desk(ReadFile(File(e)));
    const Views start = HandheldViews(e, hh);
    const std::map<std::uint32_t, std::string> was(start.begin(), start.end());
    auto id_of = [&](std::pair<std::size_t, std::size_t> item) {
      std::string text;
      for (std::size_t i = item.first; i <= item.second; ++i) text += desk.lines[i] + "\r\n";
      return ItemId(e, ReadVObjects(text).at(0));
    };
    for (const auto& item : desk.Items(e.kind))  // new items have their ids now
      for (auto& [line, kept] : extras)
        for (std::size_t i = item.first; kept.id == 0 && i < item.second; ++i)
          if (desk.lines[i] == line) kept.id = id_of(item);

    // The handheld's edits, each on a record of its own.
    std::set<std::uint32_t> hh_touched, archived;
    for (int n = static_cast<int>(pick(4)); n > 0; --n) {
      std::vector<pdb::PdbRecord*> can;
      for (pdb::PdbRecord& r : hh.records)
        if ((r.attributes & kDeleted) == 0 && hh_touched.count(r.unique_id) == 0) can.push_back(&r);
      const std::size_t what = pick(100);
      if (what < 25 || can.empty()) {
        pdb::PdbRecord r{kDirty, ++hh.unique_id_seed, NewRecordData(e, fresh("hn"), serial)};
        hh_touched.insert(r.unique_id);
        hh.records.push_back(r);
        continue;
      }
      pdb::PdbRecord& r = *can[pick(can.size())];
      hh_touched.insert(r.unique_id);
      if (what < 70) {
        EditRecord(e, r, static_cast<int>(pick(7)), fresh("h"), names);
      } else if (what < 85) {
        r.attributes = kDeleted | kDirty;
      } else {
        r.attributes =
            static_cast<std::uint8_t>(kDeleted | kDirty | kArchived | (r.attributes & 7));
        archived.insert(r.unique_id);
      }
    }
    // The desktop's edits, each on an item of its own.
    std::set<std::uint32_t> desk_touched;
    for (int n = static_cast<int>(pick(5)); n > 0; --n) {
      const auto items = desk.Items(e.kind);
      std::vector<std::pair<std::size_t, std::size_t>> can;
      for (const auto& item : items)
        if (const std::uint32_t id = id_of(item); id != 0 && desk_touched.count(id) == 0)
          can.push_back(item);
      const std::size_t what = pick(100);
      if (what < 20 || can.empty()) {
        const auto lines = NewItem(e, fresh("dn"), pick(2) == 0, serial);
        desk.lines.insert(e.address ? desk.lines.end() : desk.lines.end() - 1, lines.begin(),
                          lines.end());
        continue;
      }
      const auto item = can[pick(can.size())];
      const std::uint32_t id = id_of(item);
      if (what < 60) {
        desk_touched.insert(id);
        EditItem(e, desk, item, static_cast<int>(pick(15)), fresh("d"), used_names);
      } else if (what < 75) {
        desk_touched.insert(id);
        std::erase_if(extras, [&](const auto& x) { return x.second.id == id; });
        desk.lines.erase(desk.lines.begin() + static_cast<std::ptrdiff_t>(item.first),
                         desk.lines.begin() + static_cast<std::ptrdiff_t>(item.second) + 1);
      } else if (std::any_of(hh.records.begin(), hh.records.end(), [&](const pdb::PdbRecord& r) {
                   return r.unique_id == id && (r.attributes & kDeleted) == 0;
                 })) {  // not on a record deleted on the handheld: that deletion wins
        const std::string token = fresh("x");
        const std::string line = Extra(e, static_cast<int>(pick(6)), token, desk.Phones(item));
        extras[line] = {id, token};
        desk.lines.insert(desk.lines.begin() + static_cast<std::ptrdiff_t>(item.second), line);
      }
    }

    // What the rules promise of this round's edits.
    const Views hh_views = HandheldViews(e, hh);
    const Views desk_views = DesktopViews(e, desk.Text());
    const std::map<std::uint32_t, std::string> hh_now(hh_views.begin(), hh_views.end());
    std::map<std::uint32_t, std::string> desk_now;
    std::set<std::string> made, gone;
    for (const auto& [id, text] : desk_views) {
      if (id == 0 || was.count(id) == 0 || was.at(id) != text) made.insert(text);
      if (id != 0) desk_now[id] = text;
    }
    int conflicts = 0;
    for (const auto& [id, text] : was) {
      const bool hh_changed = hh_now.count(id) && hh_now.at(id) != text;
      const bool desk_changed = desk_now.count(id) && desk_now.at(id) != text;
      if (hh_changed) made.insert(hh_now.at(id));
      conflicts += hh_changed && desk_changed;
      if ((!hh_now.count(id) && !archived.count(id) && desk_now.count(id) && !desk_changed) ||
          (!desk_now.count(id) && hh_now.count(id) && !hh_changed))
        gone.insert(text);
    }
    for (const auto& [id, text] : hh_now)
      if (was.count(id) == 0) made.insert(text);
    pdb::WritePdbFileAtomically(Pdb(e), hh);
    WriteFile(File(e), desk.Text());

    static const char* kTypes[] = {"fast", "fast", "fast", "slow", "slow", "pctohh", "hhtopc"};
    const std::string type = kTypes[pick(7)];
    ASSERT_TRUE(SyncToTheEnd(e.conduit, type));
    const std::string log = TakeLog();
    SCOPED_TRACE(type + ": " + log);
    const Views on_handheld = HandheldViews(e, pdb::ReadPdbFile(Pdb(e)));
    const std::string text = ReadFile(File(e));
    const Views on_desktop = DesktopViews(e, text);
    ASSERT_TRUE(on_handheld == on_desktop)
        << "the sides differ:" << Difference(on_handheld, on_desktop);
    const std::multiset<std::string> texts = Texts(on_handheld);
    if (type == "fast" || type == "slow") {
      for (const std::string& t : made) EXPECT_EQ(texts.count(t), 1u) << t;
      for (const std::string& t : gone) EXPECT_EQ(texts.count(t), 0u) << t << " is back";
      const std::string archive = ReadFile(Desktop() / e.folder / e.archive);
      for (const std::uint32_t id : archived)
        EXPECT_NE(archive.find(std::to_string(id)), std::string::npos) << id << " not archived";
      if (last_type != "hhtopc") {
        EXPECT_NE(log.find(", " + std::to_string(conflicts) + " conflicts ("), std::string::npos)
            << log;
      }
    } else if (type == "pctohh") {
      EXPECT_EQ(texts, Texts(desk_views));
    } else {
      EXPECT_EQ(on_handheld, hh_views);
    }
    // What only the desktop holds stays there as it was, and off the handheld.
    std::set<std::uint32_t> ids;
    for (const auto& [id, view] : on_handheld) ids.insert(id);
    std::erase_if(extras, [&](const auto& x) {
      return x.second.id == 0 ? type == "hhtopc" : ids.count(x.second.id) == 0;
    });
    std::string records;
    for (const pdb::PdbRecord& r : pdb::ReadPdbFile(Pdb(e)).records)
      records.append(r.data.begin(), r.data.end());
    for (const auto& [line, kept] : extras) {
      EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos)
          << line << " of " << kept.id << "\n"
          << text.substr(text.rfind("BEGIN", text.find(std::to_string(kept.id))), 600);
      EXPECT_EQ(records.find(kept.token), std::string::npos) << line << " reached the handheld";
    }
    // The handheld, read-only in an hhtopc, has its archived and deleted
    // records purged by the next synchronisation.
    if (type == "hhtopc") {
      ASSERT_TRUE(SyncToTheEnd(e.conduit, "fast"));
    }
    ExpectNothingToDo(e, pick(2) ? "fast" : "slow");
    last_type = type;
  }
}

TEST_F(ExampleModel, AddressBookConvergesByTheRules) { Rounds(kAddress, 20261208); }

TEST_F(ExampleModel, DateBookConvergesByTheRules) { Rounds(kDatebook, 20261209); }

// The file keeps its order (another program's, here the reverse of the
// records'), with a card or event new on each side: a synchronisation after
// it leaves the file as it was.
TEST_F(ExampleModel, TheFilesOrderStays) {
  for (const Example& e : {kAddress, kDatebook}) {
    SCOPED_TRACE(e.database);
    Begin(e);
    DeskFile desk(ReadFile(File(e)));
    const auto items = desk.Items(e.kind);
    std::vector<std::string> lines(
        desk.lines.begin(), desk.lines.begin() + static_cast<std::ptrdiff_t>(items[0].first));
    for (auto item = items.rbegin(); item != items.rend(); ++item)
      lines.insert(lines.end(), desk.lines.begin() + static_cast<std::ptrdiff_t>(item->first),
                   desk.lines.begin() + static_cast<std::ptrdiff_t>(item->second) + 1);
    const auto added = NewItem(e, "dnew", false, 1);
    lines.insert(lines.end(), added.begin(), added.end());
    lines.insert(lines.end(),
                 desk.lines.begin() + static_cast<std::ptrdiff_t>(items.back().second) + 1,
                 desk.lines.end());
    desk.lines = lines;
    WriteFile(File(e), desk.Text());
    pdb::PdbDatabase hh = pdb::ReadPdbFile(Pdb(e));
    hh.records.push_back({kDirty, ++hh.unique_id_seed, NewRecordData(e, "hnew", 2)});
    pdb::WritePdbFileAtomically(Pdb(e), hh);
    ASSERT_TRUE(SyncToTheEnd(e.conduit));
    TakeLog();
    const Views views = DesktopViews(e, ReadFile(File(e)));
    std::vector<std::uint32_t> ids, reversed;
    for (const TVComponent& c : Items(e, ReadFile(File(e)))) ids.push_back(ItemId(e, c));
    for (const TVComponent& c : Items(e, desk.Text())) reversed.push_back(ItemId(e, c));
    ASSERT_EQ(ids.size(), reversed.size() + 1);
    EXPECT_TRUE(std::equal(reversed.begin(), reversed.end() - 1, ids.begin()));
    ExpectNothingToDo(e, "fast");
  }
}

// An item changed on the desktop whose record the handheld deleted comes
// back as a new record, once: the file names the new record, not the old.
TEST_F(ExampleModel, ChangedOnTheDesktopDeletedOnTheHandheldComesBackOnce) {
  for (const Example& e : {kAddress, kDatebook}) {
    SCOPED_TRACE(e.database);
    Begin(e);
    DeskFile desk(ReadFile(File(e)));
    const auto item = desk.Items(e.kind).at(0);
    EditItem(e, desk, item, 0, "dback", {});
    WriteFile(File(e), desk.Text());
    const std::uint32_t id = ItemId(e, Items(e, desk.Text()).at(0));
    pdb::PdbDatabase hh = pdb::ReadPdbFile(Pdb(e));
    for (pdb::PdbRecord& r : hh.records)
      if (r.unique_id == id) r.attributes = kDeleted | kDirty;
    pdb::WritePdbFileAtomically(Pdb(e), hh);
    ASSERT_TRUE(SyncToTheEnd(e.conduit));
    TakeLog();
    const Views on_handheld = HandheldViews(e, pdb::ReadPdbFile(Pdb(e)));
    const Views on_desktop = DesktopViews(e, ReadFile(File(e)));
    EXPECT_TRUE(on_handheld == on_desktop) << Difference(on_handheld, on_desktop);
    EXPECT_EQ(
        std::count_if(on_handheld.begin(), on_handheld.end(),
                      [](const auto& v) { return v.second.find("dback") != std::string::npos; }),
        1);
    ExpectNothingToDo(e, "fast");
  }
}

// A card keeps a sixth phone the handheld has no slot for. A phone deleted on
// the handheld is gone from the card, and the sixth stays on the desktop
// only: it does not take the free slot.
TEST_F(ExampleModel, APhoneDeletedOnTheHandheldLeavesTheExtraPhoneOnTheDesktop) {
  Begin(kAddress);
  DeskFile desk(ReadFile(File(kAddress)));
  auto item = desk.Items("VCARD").at(0);
  for (int n = 1; desk.Phones(item) < 5; ++n, ++item.second)
    desk.lines.insert(desk.lines.begin() + static_cast<std::ptrdiff_t>(item.second),
                      "TEL;TYPE=HOME:555-010" + std::to_string(n));
  desk.lines.insert(desk.lines.begin() + static_cast<std::ptrdiff_t>(item.second),
                    "TEL;TYPE=CAR:555-0666");
  WriteFile(File(kAddress), desk.Text());
  const std::uint32_t id = ItemId(kAddress, Items(kAddress, desk.Text()).at(0));
  ASSERT_TRUE(SyncToTheEnd(kAddress.conduit));
  auto record = [&] {
    for (const pdb::PdbRecord& r : pdb::ReadPdbFile(Pdb(kAddress)).records)
      if (r.unique_id == id) return pdb::DecodeAddressRecord(r.data);
    throw std::logic_error("no record " + std::to_string(id));
  };
  const pdb::AddressRecord before = record();
  ASSERT_TRUE(std::find(before.fields.begin(), before.fields.end(), "555-0666") ==
              before.fields.end());

  pdb::PdbDatabase hh = pdb::ReadPdbFile(Pdb(kAddress));
  std::string deleted;
  for (pdb::PdbRecord& r : hh.records) {
    if (r.unique_id != id) continue;
    pdb::AddressRecord a = pdb::DecodeAddressRecord(r.data);
    deleted = a.fields[pdb::kPhone1 + 2].value();
    a.fields[pdb::kPhone1 + 2].reset();
    r.data = pdb::EncodeAddressRecord(a);
    r.attributes |= kDirty;
  }
  pdb::WritePdbFileAtomically(Pdb(kAddress), hh);
  ASSERT_TRUE(SyncToTheEnd(kAddress.conduit));
  TakeLog();
  const std::string text = ReadFile(File(kAddress));
  EXPECT_EQ(text.find(":" + deleted + "\r\n"), std::string::npos) << deleted << " is still there";
  EXPECT_NE(text.find("\r\nTEL;TYPE=CAR:555-0666\r\n"), std::string::npos);
  const pdb::AddressRecord after = record();
  EXPECT_FALSE(std::find(after.fields.begin(), after.fields.end(), "555-0666") !=
               after.fields.end())
      << "the sixth phone took the free slot";
  EXPECT_FALSE(after.fields[pdb::kPhone1 + 2].has_value());
  const Views on_handheld = HandheldViews(kAddress, pdb::ReadPdbFile(Pdb(kAddress)));
  const Views on_desktop = DesktopViews(kAddress, text);
  EXPECT_TRUE(on_handheld == on_desktop) << Difference(on_handheld, on_desktop);
  ExpectNothingToDo(kAddress, "fast");
}

}  // namespace
}  // namespace fernwick::testing
