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
// FERNWICK_EXAMPLE_ROUNDS (default 80) sets the rounds per example, for
// longer runs; FERNWICK_EXAMPLE_SEED the random edits (of the kill test's
// too).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

class ExampleModel : public ExampleSync {
 protected:
  ExampleModel() : ExampleSync("example-model", 20261208) {}
  void Rounds(const Example& e);
};

void ExampleModel::Rounds(const Example& e) {
  Begin(e);
  std::string last_type = "slow";
  const int rounds = Knob("FERNWICK_EXAMPLE_ROUNDS", 80);
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Edits edits = EditBothSides(e);
    static const char* kTypes[] = {"fast", "fast", "fast", "slow", "slow", "pctohh", "hhtopc"};
    const std::string type = kTypes[Pick(7)];
    ASSERT_TRUE(SyncToTheEnd(e.conduit, type));
    const std::string log = TakeLog();
    SCOPED_TRACE(type + ": " + log);
    ExpectByTheRules(e, edits, type);
    if ((type == "fast" || type == "slow") && last_type != "hhtopc") {
      EXPECT_NE(log.find(", " + std::to_string(edits.conflicts) + " conflicts ("),
                std::string::npos);
    }
    // The handheld, read-only in an hhtopc, has its archived and deleted
    // records purged by the next synchronisation.
    if (type == "hhtopc") {
      ASSERT_TRUE(SyncToTheEnd(e.conduit, "fast"));
    }
    ExpectNothingToDo(e, Pick(2) ? "fast" : "slow");
    last_type = type;
  }
}

TEST_F(ExampleModel, AddressBookConvergesByTheRules) { Rounds(kAddress); }

TEST_F(ExampleModel, DateBookConvergesByTheRules) { Rounds(kDatebook); }

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

// An item of another program (a UID of its own, the record id beside it)
// made private on the handheld: a synchronisation after that leaves the
// file as it was.
TEST_F(ExampleModel, AnotherProgramsItemMadePrivateIsWrittenOnce) {
  for (const Example& e : {kAddress, kDatebook}) {
    SCOPED_TRACE(e.database);
    Begin(e);
    DeskFile desk(ReadFile(File(e)));
    const auto added = NewItem(e, "dother", true, 3);
    desk.lines.insert(e.address ? desk.lines.end() : desk.lines.end() - 1, added.begin(),
                      added.end());
    WriteFile(File(e), desk.Text());
    ASSERT_TRUE(SyncToTheEnd(e.conduit));
    std::uint32_t id = 0;
    for (const TVComponent& c : Items(e, ReadFile(File(e))))
      if (Text(c, "UID") == "other-dother") id = ItemId(e, c);
    pdb::PdbDatabase hh = pdb::ReadPdbFile(Pdb(e));
    for (pdb::PdbRecord& r : hh.records)
      if (r.unique_id == id) r.attributes |= kSecret | kDirty;
    pdb::WritePdbFileAtomically(Pdb(e), hh);
    ASSERT_TRUE(SyncToTheEnd(e.conduit));
    TakeLog();
    EXPECT_NE(ReadFile(File(e)).find("CLASS:PRIVATE"), std::string::npos);
    ExpectNothingToDo(e, "fast");
  }
}

// A synchronisation cut short after the desktop file was written and before
// the state was (the state of the one before put back): the desktop's
// version of a conflict, appended to the handheld and written to the file,
// must be taken over by the next synchronisation, not appended again.
// The engine appends it imaged on the last record (whose phone labels of
// empty slots the card keeps); the next run images the same card afresh.
TEST_F(ExampleModel, AConflictCutShortBeforeItsStateIsTakenOverNotCopied) {
  const Example& e = kAddress;
  Begin(e);
  const std::uint32_t id = ItemId(e, Items(e, ReadFile(File(e))).at(0));
  auto edit_record = [&](const std::function<void(pdb::AddressRecord&)>& edit) {
    pdb::PdbDatabase hh = pdb::ReadPdbFile(Pdb(e));
    for (pdb::PdbRecord& r : hh.records) {
      if (r.unique_id != id) continue;
      pdb::AddressRecord a = pdb::DecodeAddressRecord(r.data);
      edit(a);
      r.data = pdb::EncodeAddressRecord(a);
      r.attributes |= kDirty;
    }
    pdb::WritePdbFileAtomically(Pdb(e), hh);
  };
  // The label of an empty phone slot (the first card has fewer than five).
  edit_record([](pdb::AddressRecord& a) { a.phone_labels[4] = 7; });
  ASSERT_TRUE(SyncToTheEnd(e.conduit));
  edit_record([](pdb::AddressRecord& a) { a.fields[pdb::kTitle] = "hconflict"; });
  DeskFile desk(ReadFile(File(e)));
  EditItem(e, desk, desk.Items(e.kind).at(0), 0, "dconflict", {});
  WriteFile(File(e), desk.Text());
  const fs::path state = Desktop() / e.folder / (e.database + ".sync-state");
  const std::string before = ReadFile(state);
  ASSERT_TRUE(SyncToTheEnd(e.conduit));
  WriteFile(state, before);
  ASSERT_TRUE(SyncToTheEnd(e.conduit, "slow"));
  TakeLog();
  const Views on_handheld = HandheldViews(e, pdb::ReadPdbFile(Pdb(e)));
  EXPECT_EQ(
      std::count_if(on_handheld.begin(), on_handheld.end(),
                    [](const auto& v) { return v.second.find("dconflict") != std::string::npos; }),
      1);
  EXPECT_TRUE(on_handheld == DesktopViews(e, ReadFile(File(e))));
}

}  // namespace
}  // namespace fernwick::testing
