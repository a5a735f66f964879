// The two-way examples run by the runner, in this process, against a copy
// of the sample handheld and a desktop disk too small for their files: the
// conduit fails and the handheld keeps its deleted records and change flags,
// since nothing may be purged or reset before the desktop files are on disk.
// (Linux only: needs a small tmpfs; skipped when mounting is not permitted.)
#include <gtest/gtest.h>

#include <string>

#include "RunnerFixture.h"
#include "standins/pdb/PdbFile.h"
#include "standins/runner/Runner.h"

namespace fernwick::runner {
namespace {

struct Example {
  const char* conduit;
  const char* database;
};

class FullDiskExample : public RunnerFixture, public ::testing::WithParamInterface<Example> {
 protected:
  pdb::PdbDatabase Database() {
    return pdb::ReadPdbFile(handheld_ / (std::string(GetParam().database) + ".pdb"));
  }
};

TEST_P(FullDiskExample, FullDesktopDiskPurgesNothing) {
  if (const std::string why = MountSmallDesktop("4k"); !why.empty()) GTEST_SKIP() << why;
  const pdb::PdbDatabase before = Database();
  EXPECT_EQ(RunOnFolders({"--sync-type", "fast", "sync", GetParam().conduit}),
            kExitConduitFailed)
      << out_.str();
  // The records (their change flags and the deleted ones among them) and
  // the category block are as they were; the engine may have written the
  // file back, with a new modification number, before the desktop failed.
  const pdb::PdbDatabase after = Database();
  EXPECT_EQ(after.records, before.records);
  EXPECT_EQ(after.app_info, before.app_info);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FullDiskExample,
    ::testing::Values(Example{"todo_conduit.dll", "ToDoDB"},
                      Example{"address_conduit.dll", "AddressDB"},
                      Example{"datebook_conduit.dll", "DatebookDB"}),
    [](const auto& param_info) { return std::string(param_info.param.database); });

}  // namespace
}  // namespace fernwick::runner
