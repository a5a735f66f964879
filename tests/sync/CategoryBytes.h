// The sync tests' handhelds: an application info block made of the
// standard category block alone.
#pragma once

#include <cstdint>
#include <vector>

#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>

namespace fernwick {

// The bytes of an application info block holding `block` and nothing else,
// encoded by the database component's own codec.
inline std::vector<std::uint8_t> EncodeCategories(const TDorvCategories& block) {
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

// The sync tests' category block: Unfiled, Business (1) and Personal (2).
inline TDorvCategories BusinessAndPersonal() {
  TDorvCategories block;
  block.names[0] = "Unfiled";
  block.names[1] = "Business";
  block.ids[1] = 1;
  block.names[2] = "Personal";
  block.ids[2] = 2;
  block.last_unique_id = 2;
  return block;
}

}  // namespace fernwick
