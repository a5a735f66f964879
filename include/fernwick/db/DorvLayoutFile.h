/// \file
/// Field layouts written as text, so that a layout can be checked against
/// real database files (fernwick-pdbdump --layout) before a conduit is
/// written, and shipped beside it. One line per field:
///
/// ```
///   # the To Do list's records
///   align off
///   [record]
///   DueDate      pftDate    2 1
///   Priority     pftByte    1 1
///   Description  pftString  0 1
///   Note         pftString  0 1
///   [appinfo]
///   Renamed      pftSmallint 2 1
///   CategoryName pftString  16 16
///   ...
/// ```
///
/// A field line is NAME TYPE SIZE COUNT: the field's name (letters, digits
/// and '_', not starting with a digit), its data type as the library names it
/// (pftByte ... pftBlob), its Size (the type's width for numbers and dates;
/// 0 for a NUL-terminated string of any length, N for a string taking N
/// bytes; the byte count of a blob) and its ArraySize (1 to 65535; the
/// fields of one section hold at most 65535 elements in all). Sections
/// [record], [appinfo] and [sortinfo] say which field list the lines below
/// them fill; "align on" / "align off" sets AlignOnWord. '#' starts a
/// comment.
///
/// Optional clauses after COUNT say when an element is stored at all (an
/// absent element takes no bytes and decodes as empty); each names an
/// earlier integer field of the same section with COUNT 1:
///   if FIELD & MASK   stored when FIELD's value has a bit of MASK in common
///   bits FIELD        element i stored when bit i of FIELD is set
///   count FIELD       element i stored when i is below FIELD's value; the
///                     decoder gives the field room for that many elements
/// MASK is decimal or 0x-hexadecimal.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {

/// A layout text that cannot be read: the message names the line and the
/// fault, such as "line 4: pftSmallint is 2 bytes wide, not 4".
class EDorvLayoutError : public Exception {
 public:
  /// Makes the exception with its message text.
  using Exception::Exception;
};

/// The field lists a layout fills.
enum TDorvLayoutBlock : std::uint8_t { lbRecord = 0, lbAppInfo = 1, lbSortInfo = 2 };

/// A layout file read: the field lists of a database's records, application
/// info block and sort info block, with the clauses that make a field
/// conditional.
class TDorvLayout {
 public:
  /// One field line of a layout.
  struct Field {
    std::string name;                     ///< the field's FieldName
    TDorvPalmFieldType type = pftString;  ///< its DataType
    std::int32_t size = 0;                ///< its Size in bytes (a string of size 0: any length)
    std::int32_t array_size = 1;          ///< its ArraySize
    std::string if_field;                 ///< "if FIELD & MASK", empty without
    std::uint32_t if_mask = 0;            ///< the MASK of "if FIELD & MASK"
    std::string bits_field;               ///< "bits FIELD", empty without
    std::string count_field;              ///< "count FIELD", empty without
  };

  /// Reads a layout text. Raises EDorvLayoutError at the first fault.
  static TDorvLayout Parse(std::string_view text);
  /// Reads the layout file at `path`; the message of a fault starts with the
  /// path ("ToDoDB.layout line 4: ..."), and a file that cannot be read is a
  /// fault too.
  static TDorvLayout ReadFile(const std::string& path);

  /// True when the layout says "align on" (the database's AlignOnWord).
  bool AlignOnWord() const { return align_on_word_; }
  /// The fields of one block, in layout order.
  const std::vector<Field>& Fields(TDorvLayoutBlock block) const { return blocks_[block]; }

  /// Replaces the three field lists of `db` by the layout's, sets its
  /// AlignOnWord and its two existence events (which then answer the layout's
  /// clauses). `db` must outlive nothing of this object: the events keep
  /// what they need.
  void ApplyTo(TDorvConduitDb& db) const;

  /// What Decode found in one record or block.
  struct Decoding {
    /// Per field of the list, whether each element was stored.
    std::vector<std::vector<bool>> present;
    /// The bytes after the layout's last stored element (and its padding).
    std::size_t leftover = 0;
    /// The names of the fields, in layout order, with a stored element that
    /// does not lie wholly within the bytes (see TDorvDecodeFit). A conduit
    /// reads such a number as 0 and such a string up to the end.
    std::vector<std::string> past_end;

    /// The layout takes every byte and no field runs past the end.
    bool Fits() const { return leftover == 0 && past_end.empty(); }
  };

  /// Decodes `bytes` into the field list `block` of `db` (set up by ApplyTo)
  /// with the database component's codec, and says how the layout fitted
  /// them. A field with a count clause gets the layout's COUNT elements, or
  /// as many as its count field says when that is more (while the list holds
  /// at most 65535 elements in all).
  Decoding Decode(TDorvConduitDb& db, TDorvLayoutBlock block,
                  std::span<const std::uint8_t> bytes) const;

 private:
  bool align_on_word_ = false;
  std::array<std::vector<Field>, 3> blocks_;
};

}  // namespace fernwick
