// The exporting example conduit (Address Book) run by the
// runner, in this process, against a copy of the sample handheld: what each
// sync type copies, the summary line, and that a second synchronisation
// finds nothing new. (Its output is read by an independent parser in
// tests/examples.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "RunnerFixture.h"
#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/PdbFile.h"
#include "standins/runner/Runner.h"
#include "standins/runner/RunnerOptions.h"

namespace fernwick::runner {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

struct Example {
  const char* conduit;
  const char* database;
  const char* name;      // as the summary line shows it
  const char* output;    // the assembled file, below the desktop folder
  const char* per_item;  // what the output holds once per record
  const char* archive;   // the assembled archive
  const char* pieces;    // the folder of per-record pieces
};

class ExportExample : public RunnerFixture, public ::testing::WithParamInterface<Example> {
 protected:
  int Sync(const char* type) {
    return RunOnFolders({"--sync-type", type, "sync", GetParam().conduit});
  }
  pdb::PdbDatabase Database() {
    return pdb::ReadPdbFile(handheld_ / (std::string(GetParam().database) + ".pdb"));
  }
  std::string Summary(std::size_t exported, int archived, int deleted, const char* type) {
    return std::string(GetParam().name) + ": " + std::to_string(exported) + " exported, " +
           std::to_string(archived) + " archived, " + std::to_string(deleted) + " deleted (" +
           type + ")";
  }
  static std::size_t Count(const pdb::PdbDatabase& db, std::uint8_t mask, std::uint8_t value) {
    std::size_t n = 0;
    for (const pdb::PdbRecord& r : db.records) n += (r.attributes & mask) == value;
    return n;
  }
};

TEST_P(ExportExample, FastCopiesTheChangesThenNothingNew) {
  const pdb::PdbDatabase before = Database();
  const std::size_t changed = Count(before, 0xC0, 0x40);
  ASSERT_EQ(Sync("fast"), kExitOk) << err_.str() << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr(Summary(changed, 1, 1, "stFast")));
  EXPECT_EQ(CountOf(ReadText(desktop_ / GetParam().output), GetParam().per_item),
            static_cast<int>(changed));
  // The deleted records are purged and no flag is left set.
  const pdb::PdbDatabase after = Database();
  EXPECT_EQ(after.records.size(), before.records.size() - 2);
  EXPECT_EQ(Count(after, 0xC0, 0), after.records.size());

  ASSERT_EQ(Sync("fast"), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr(Summary(0, 0, 0, "stFast")));
  EXPECT_EQ(CountOf(ReadText(desktop_ / GetParam().output), GetParam().per_item),
            static_cast<int>(changed));
}

TEST_P(ExportExample, SlowAndHandheldToDesktopCopyEverything) {
  const pdb::PdbDatabase before = Database();
  const std::size_t live = Count(before, 0x80, 0);
  ASSERT_EQ(Sync("hhtopc"), kExitOk) << err_.str() << out_.str();
  EXPECT_THAT(out_.str(), HasSubstr(Summary(live, 1, 1, "stHHtoPC")));
  EXPECT_EQ(CountOf(ReadText(desktop_ / GetParam().output), GetParam().per_item),
            static_cast<int>(live));
  EXPECT_EQ(Database(), before);  // opened read-only and left as it was

  ASSERT_EQ(Sync("slow"), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr(Summary(live, 1, 1, "stSlow")));
  EXPECT_EQ(CountOf(ReadText(desktop_ / GetParam().output), GetParam().per_item),
            static_cast<int>(live));
}

TEST_P(ExportExample, ACopyOfEverythingKeepsTheArchiveAndDropsWhatIsGone) {
  ASSERT_EQ(Sync("fast"), kExitOk) << err_.str();  // archives one record and purges it
  const fs::path stray = desktop_ / GetParam().pieces / "99.part";
  std::ofstream(stray) << GetParam().per_item;  // a record no longer on the handheld
  const std::size_t live = Count(Database(), 0x80, 0);

  ASSERT_EQ(Sync("slow"), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(), HasSubstr(Summary(live, 0, 0, "stSlow")));
  EXPECT_FALSE(fs::exists(stray));
  EXPECT_EQ(CountOf(ReadText(desktop_ / GetParam().output), GetParam().per_item),
            static_cast<int>(live));
  // The archived record is on the desktop only now: it stays there.
  const std::string archive = ReadText(desktop_ / GetParam().archive);
  EXPECT_EQ(CountOf(archive, GetParam().per_item), 1) << archive;
}

TEST_P(ExportExample, DoNothingAndDesktopToHandheldCopyNothing) {
  ASSERT_EQ(Sync("donothing"), kExitOk) << err_.str();
  ASSERT_EQ(Sync("pctohh"), kExitOk) << err_.str();
  EXPECT_THAT(out_.str(),
              HasSubstr(std::string(GetParam().name) + ": nothing to copy for stPCtoHH"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("exported")));
  EXPECT_FALSE(fs::exists(desktop_ / GetParam().output));
}

// A desktop disk too small for the export: the conduit fails and the
// handheld keeps its deleted records and change flags. (Linux only: needs a
// small tmpfs; skipped when mounting is not permitted.)
TEST_P(ExportExample, FullDesktopDiskPurgesNothing) {
  if (const std::string why = MountSmallDesktop("4k"); !why.empty()) GTEST_SKIP() << why;
  const pdb::PdbDatabase before = Database();
  EXPECT_EQ(Sync("fast"), kExitConduitFailed) << out_.str();
  EXPECT_EQ(Database(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExportExample,
    ::testing::Values(Example{"address_conduit.dll", "AddressDB", "Address Book",
                              "AddressBook/AddressBook.vcf", "BEGIN:VCARD",
                              "AddressBook/AddressBook-archive.vcf", "AddressBook/Cards"}),
    [](const auto& param_info) { return std::string(param_info.param.database); });

}  // namespace
}  // namespace fernwick::runner
