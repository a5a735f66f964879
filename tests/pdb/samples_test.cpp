#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "samples/generator/SampleHandheld.h"
#include "standins/pdb/BuiltinRecords.h"

namespace fernwick::pdb {
namespace {

const std::filesystem::path kSamples =
    std::filesystem::path(FERNWICK_SOURCE_DIR) / "samples" / "handheld";

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SampleHandheld, CommittedFilesAreTheGeneratorsOutput) {
  for (const auto& [file, db] : samples::MakeSampleHandheld()) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(std::filesystem::exists(kSamples / file));
    EXPECT_TRUE(ReadBytes(kSamples / file) == SerializePdb(db))
        << "samples/handheld/" << file
        << " differs from the generator's output: rebuild it with fernwick-make-samples";
  }
}

TEST(SampleHandheld, DatabasesAreRealisticAndDecode) {
  auto sample = samples::MakeSampleHandheld();
  ASSERT_EQ(sample.size(), 4u);
  for (const auto& [file, db] : sample) {
    SCOPED_TRACE(file);
    const std::string creator = FourCCToString(db.creator);
    EXPECT_EQ(FourCCToString(db.type), "DATA");
    EXPECT_GE(db.records.size(), 24u);
    std::set<std::uint32_t> ids, categories;
    int deleted = 0, archived = 0, dirty = 0;
    for (const auto& r : db.records) {
      EXPECT_NE(r.unique_id, 0u);
      EXPECT_TRUE(ids.insert(r.unique_id).second) << "duplicate id " << r.unique_id;
      EXPECT_LT(r.unique_id, db.unique_id_seed);
      if (r.attributes & kRecDeleted) {
        if (r.attributes & kRecArchived) {
          ++archived;
          EXPECT_FALSE(r.data.empty());
        } else {
          ++deleted;
          EXPECT_TRUE(r.data.empty());
        }
        continue;
      }
      if (r.attributes & kRecDirty) ++dirty;
      categories.insert(r.attributes & kRecCategoryMask);
      if (creator == "memo") DecodeMemoRecord(r.data);
      if (creator == "todo") DecodeToDoRecord(r.data);
      if (creator == "addr") DecodeAddressRecord(r.data);
      if (creator == "date") DecodeDatebookRecord(r.data);
    }
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(archived, 1);
    EXPECT_GE(dirty, 1);
    ASSERT_TRUE(db.app_info.has_value());
    CategoryInfo cats = DecodeCategoryInfo(*db.app_info);
    EXPECT_EQ(cats.names[0], "Unfiled");
    for (auto c : categories) EXPECT_FALSE(cats.names[c].empty()) << "category " << c;
    // The Date Book keeps its records unfiled, as the application does.
    if (creator != "date") {
      EXPECT_GE(categories.size(), 3u);
    }
  }
}

}  // namespace
}  // namespace fernwick::pdb
