// The Address Book and Date Book examples' synchronisations killed with
// SIGKILL, as sync_crash_test kills the engine's own test conduit: each
// round edits both sides as example_model_test does, starts a fast
// synchronisation through the runner and kills it, at a random moment
// within one whole run or right after it is seen to write one of its files
// (the journal, the state, the desktop file or its archive, the handheld's
// database). A synchronisation then runs to its end, and the sides must
// agree by the rules: every version made there once, the deleted ones gone,
// the archived ones in the archive, what only the desktop holds kept; no
// journal left, no record still flagged; a further synchronisation changes
// nothing. POSIX only (fork).
//
// FERNWICK_SYNC_CRASH_KILLS (default 120 per example) and
// FERNWICK_SYNC_CRASH_SECONDS (default 4 per example) set how many kills and
// for how long, for longer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "ExampleSides.h"
#include "RunnerChild.h"

namespace fernwick::testing {
namespace {

class ExampleCrash : public ExampleSync {
 protected:
  ExampleCrash() : ExampleSync("example-crash", 20261210) {}
  void Kills(const Example& e);
};

void ExampleCrash::Kills(const Example& e) {
  Begin(e);
  const auto timed = std::chrono::steady_clock::now();  // a whole run, for the random kills
  ASSERT_TRUE(SyncToTheEnd(e.conduit));
  const auto run_us = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - timed)
                          .count();
  TakeLog();
  const fs::path folder = Desktop() / e.folder;
  const std::vector<fs::path> watched = {folder / (e.database + ".sync-journal"),
                                         folder / (e.database + ".sync-state"), File(e),
                                         folder / e.archive, Pdb(e)};
  const int wanted = Knob("FERNWICK_SYNC_CRASH_KILLS", 120);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(Knob("FERNWICK_SYNC_CRASH_SECONDS", 4));
  int kills = 0;
  int finished_first = 0;  // runs that ended before their kill
  for (; kills < wanted && std::chrono::steady_clock::now() < deadline && !HasFailure(); ++kills) {
    SCOPED_TRACE("round " + std::to_string(kills));
    const Edits edits = EditBothSides(e);
    finished_first += StartAndKill(e.conduit, random_, run_us, kills % 2 == 0, watched);
    const std::string killed_log = TakeLog();
    SCOPED_TRACE("the killed run's log:\n" + killed_log);
    ASSERT_TRUE(SyncToTheEnd(e.conduit));
    TakeLog();
    ExpectByTheRules(e, edits, "fast");
    EXPECT_FALSE(fs::exists(watched[0]));
    for (const pdb::PdbRecord& r : pdb::ReadPdbFile(Pdb(e)).records)
      EXPECT_EQ(r.attributes & (kDeleted | kDirty), 0) << "record " << r.unique_id;
    ExpectNothingToDo(e, "fast");
  }
  RecordProperty("kills", kills);
  RecordProperty("finished_before_the_kill", finished_first);
  EXPECT_GE(kills, std::min(wanted, 10));
}

TEST_F(ExampleCrash, KilledAddressBookSyncsLoseNothingAndConverge) { Kills(kAddress); }

TEST_F(ExampleCrash, KilledDateBookSyncsLoseNothingAndConverge) { Kills(kDatebook); }

}  // namespace
}  // namespace fernwick::testing
