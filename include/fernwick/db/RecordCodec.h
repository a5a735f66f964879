/// \file
/// The record codec: maps the handheld's packed record bytes onto a field
/// list and back. It needs nothing but the field list and its options, so
/// the database component (fernwick/db/DorvConduitDb.h), the tests, the fuzzer and the
/// benchmarks all use this one unit; the component's GetFieldValuesFromBuffer
/// and SetBufferFromFieldValues forward to it with their AlignOnWord and
/// their existence events.
///
/// The byte layout is described beside the encoder and decoder in
/// src/db/RecordCodec.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <fernwick/db/DorvPalmFields.h>
#include <fernwick/framework/Variant.h>

namespace fernwick {

/// The largest layout a record or info block can have (positions and lengths
/// of the handheld are 16-bit).
constexpr std::int32_t kDorvMaxLayoutLength = 65535;

/// Answers whether element `ArrayIndex` of `Field` is present in the record
/// being decoded or encoded. An empty function counts every element present.
using TDorvElementTest = std::function<bool(TDorvPalmField& Field, std::int32_t ArrayIndex)>;

/// How a layout fitted the bytes DorvDecodeRecord decoded: it fits exactly
/// when Used is the buffer's length and PastEnd is empty.
struct TDorvDecodeFit {
  /// The bytes the stored elements and their padding took, at most the
  /// buffer's length as limited above (a padding byte after an element that
  /// ends at the buffer's end is not needed).
  std::int64_t Used = 0;
  /// The indexes in the field list, in order, of the fields with a stored
  /// element that does not lie wholly within the buffer: a number or blob
  /// that does not fit, a fixed-size string cut short, a variable-length
  /// string that meets the end without its zero byte.
  std::vector<int> PastEnd;
};

/// Sets every element of every field of `FieldList` from the record bytes
/// `Buffer[0, BufferLength)`. With `Exists`, it is asked for each element
/// just before that element is decoded (after the earlier elements were
/// stored), and an absent element becomes empty and takes no bytes. With
/// `AlignOnWord`, one padding byte follows every element that ends at an odd
/// position.
///
/// Never reads at or past BufferLength (negative counts as 0, above
/// kDorvMaxLayoutLength as kDorvMaxLayoutLength; a null Buffer as 0): a
/// number or blob that does not fit entirely becomes empty, a string stops at
/// the end of the buffer. A blob element's value is the location of its first
/// byte inside `Buffer` (see DorvBlobBytes), valid while the buffer holds
/// these bytes.
///
/// With `Fit`, it also says how the layout fitted the buffer (see
/// TDorvDecodeFit); that changes nothing in the decoding.
///
/// Raises EDorvConduitError, before changing any value, when a string or blob
/// field has a negative Size. An exception from `Exists` propagates; the
/// elements decoded before it keep their new values.
void DorvDecodeRecord(const std::uint8_t* Buffer, std::int32_t BufferLength,
                      TDorvPalmFields& FieldList, bool AlignOnWord,
                      const TDorvElementTest& Exists = {}, TDorvDecodeFit* Fit = nullptr);

/// Lays the values of `FieldList` out into `Buffer[0, BufferLength)` and
/// sets `UsedLength` to the number of bytes the layout takes (at most
/// BufferLength). With `Exists`, it is asked for every element before any
/// byte is written; absent elements take no bytes. Bytes the layout skips
/// (padding, blob regions, the tail of a fixed-size string) are left as they
/// are. A real stored as pftSingle is rounded to the nearest single; only a
/// magnitude at or beyond the rounding boundary above the largest single
/// becomes an infinity.
///
/// Never writes at or past BufferLength (limited as in DorvDecodeRecord). A
/// string that does not fit (all its Size bytes, for a fixed-size string) is
/// dropped without an error and takes no bytes. A number or blob region that
/// does not fit raises EDorvConduitError "Attempting to write past end of
/// record buffer". A value that does not convert to its field's type raises
/// EVariantError. A string or blob field with a negative Size raises
/// EDorvConduitError before anything is written. On any exception the bytes
/// of earlier elements are already in the buffer and UsedLength is not
/// assigned.
void DorvEncodeRecord(std::uint8_t* Buffer, std::int32_t BufferLength, TDorvPalmFields& FieldList,
                      bool AlignOnWord, std::uint32_t& UsedLength,
                      const TDorvElementTest& Exists = {});

/// The bytes of a blob element decoded by DorvDecodeRecord: the location held
/// by the value, or null for an empty value.
const std::uint8_t* DorvBlobBytes(const Variant& value);

}  // namespace fernwick
