// The standard category block (<fernwick/db/CategoryBlock.h>) through the
// record codec: what is written back is what the handheld reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>

namespace fernwick {
namespace {

// The block's 278 bytes encoded from `block` and decoded again.
TDorvCategories RoundTrip(const TDorvCategories& block, std::uint32_t* used = nullptr) {
  TDorvConduitDb db(nullptr);
  AddCategoryFields(db.AppInfoFields());
  block.Write(db.AppInfoFields());
  std::uint8_t bytes[400] = {};
  std::uint32_t length = 0;
  db.SetBufferFromFieldValues(bytes, sizeof bytes, db.AppInfoFields(), length, false);
  if (used) *used = length;
  TDorvConduitDb again(nullptr);
  AddCategoryFields(again.AppInfoFields());
  again.GetFieldValuesFromBuffer(bytes, static_cast<std::int32_t>(length), again.AppInfoFields(),
                                 false);
  return TDorvCategories::Read(again.AppInfoFields());
}

TEST(CategoryBlock, NamesIdsAndRenamedBitsSurviveTheCodec) {
  TDorvCategories block;
  block.names[0] = "Unfiled";
  block.ids[0] = 0;
  block.names[1] = "Caf\xc3\xa9";  // UTF-8 here, one byte on the handheld
  block.ids[1] = 1;
  block.names[2] = "Personal";
  block.ids[2] = 2;
  block.last_unique_id = 17;
  std::uint32_t used = 0;
  TDorvCategories back = RoundTrip(block, &used);
  EXPECT_EQ(used, 278u);
  EXPECT_EQ(back.names, block.names);
  EXPECT_EQ(back.ids, block.ids);
  EXPECT_EQ(back.renamed, 0);
  EXPECT_EQ(back.last_unique_id, 17);
  TDorvConduitDb db(nullptr);
  AddCategoryFields(db.AppInfoFields());
  back.Write(db.AppInfoFields());
  EXPECT_EQ(CategoryNames(db.AppInfoFields()), block.names);
}

TEST(CategoryBlock, CreatedInAFreeSlotWithAnUnusedDesktopIdElseRefused) {
  TDorvCategories block;
  block.names[0] = "Unfiled";
  block.names[1] = "Business";
  block.ids[1] = 1;
  block.names[2] = "Old";
  block.ids[2] = 128;  // a desktop id already given
  EXPECT_EQ(block.FindOrCreate("Business"), 1);
  EXPECT_EQ(block.renamed, 0);
  const int made = block.FindOrCreate("Caf\xc3\xa9");
  EXPECT_EQ(made, 3);
  EXPECT_EQ(block.ids[3], 129);
  EXPECT_EQ(block.renamed, 1 << 3);
  EXPECT_EQ(block.Find("Caf\xc3\xa9"), 3);
  EXPECT_EQ(block.FindOrCreate(""), -1);
  // A name longer than a slot is cut as the handheld stores it, and found
  // again under its long name.
  const int cut = block.FindOrCreate("A very long category name");
  EXPECT_EQ(block.names[cut], "A very long cat");
  EXPECT_EQ(block.FindOrCreate("A very long category name"), cut);
  for (int i = 0; i < TDorvCategories::kCount; ++i)
    if (block.names[i].empty()) block.names[i] = "Slot " + std::to_string(i);
  EXPECT_EQ(block.FindOrCreate("No room"), -1);

  block.renamed = 0;
  block.Rename(1, "Work");
  EXPECT_EQ(block.renamed, 1 << 1);
  const TDorvCategories back = RoundTrip(block);
  EXPECT_EQ(back.names[1], "Work");
  EXPECT_EQ(back.renamed, 1 << 1);
  EXPECT_EQ(back.ids[3], 129);
}

}  // namespace
}  // namespace fernwick
