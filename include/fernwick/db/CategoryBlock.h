/// @file
/// The standard category block that begins the application info block of
/// most handheld databases (To Do, Memo Pad, Address Book, Date Book): 16
/// category names with their ids and the bits of the renamed ones.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <fernwick/db/DorvPalmFields.h>

namespace fernwick {

/// Appends the fields of the standard category block (276 bytes) and the two
/// reserved bytes after it to `fields`: Renamed, CategoryName[16],
/// CategoryId[16], LastUniqueId, CategoryPad, Reserved. A database whose
/// application info block begins with it describes the block this way
/// before opening, then adds its own fields after them.
void AddCategoryFields(TDorvPalmFields& fields);

/// The 16 category names of an application info block decoded with the
/// fields of AddCategoryFields, in UTF-8; all empty when `fields` has no
/// CategoryName field.
std::array<std::string, 16> CategoryNames(TDorvPalmFields& fields);

/// The standard category block as values: read from and written back to an
/// application info block described with AddCategoryFields. Names are UTF-8
/// here and the handheld's character set in the block (<fernwick/db/PalmText.h>).
///
/// Slot 0 is Unfiled. A slot whose name is empty is free. Bit `i` of
/// `renamed` says that the name of slot `i` was changed (or the slot was
/// made) since the last synchronisation.
struct TDorvCategories {
  /// The number of category slots.
  static constexpr int kCount = 16;
  /// The longest name a slot holds, in the handheld's bytes (15 and the NUL).
  static constexpr std::size_t kMaxNameBytes = 15;

  /// The names of the 16 slots, UTF-8.
  std::array<std::string, kCount> names{};
  /// The ids of the 16 slots.
  std::array<std::uint8_t, kCount> ids{};
  /// One bit per slot: renamed since the last synchronisation.
  std::uint16_t renamed = 0;
  /// The highest id the handheld has given.
  std::uint8_t last_unique_id = 0;

  /// Reads the block from `fields` (decoded with the fields of
  /// AddCategoryFields). Raises EDorvConduitError "Field <name> does not
  /// exist" when one of them is missing.
  static TDorvCategories Read(TDorvPalmFields& fields);
  /// Stores the block into `fields`, ready for TDorvConduitDb::WriteAppInfo.
  /// A name too long for its slot is cut to kMaxNameBytes of the handheld's
  /// bytes. Raises as Read.
  void Write(TDorvPalmFields& fields) const;

  /// The slot named `name` (compared after conversion to the handheld's
  /// character set, case-sensitive), or -1. An empty name is never found.
  int Find(const std::string& name) const;
  /// The slot named `name`; when there is none, makes one in the first free
  /// slot (name, a new id, its renamed bit) and returns it. -1 when `name`
  /// is empty or every slot is taken. An id made here lies in 128 to 255 and
  /// is used by no other slot: the handheld gives its own ids counting up
  /// from last_unique_id, below 128.
  int FindOrCreate(const std::string& name);
  /// Renames slot `index` (0 to 15) to `name` and sets its renamed bit.
  void Rename(int index, const std::string& name);
};

}  // namespace fernwick
