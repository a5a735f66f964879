// The database component: access to one handheld database during a HotSync
// synchronisation. This part holds the component's field lists and the record
// buffer codec, which maps the handheld's packed record bytes onto a field list
// and back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "db/DorvPalmFields.h"
#include "framework/Classes.h"

namespace fernwick {

class TDorvConduitDb;

// Asked per field element whether that element is present in the record being
// decoded or encoded. FieldExists holds true on entry; setting it to false
// declares the element absent: it takes no bytes and decodes as empty. A
// handler may read the values already decoded from the same record, but must
// not change the field list (add, delete or resize fields).
using TDorvFieldTestEvent = std::function<void(TDorvConduitDb& Sender, TDorvPalmField& Field,
                                               std::int32_t ArrayIndex, bool& FieldExists)>;

// The database component. It owns its three field lists: Fields (records),
// AppInfoFields (the application info block) and SortInfoFields (the sort
// info block).
class TDorvConduitDb : public TComponent {
 public:
  // The largest layout a record or info block can have (positions and
  // lengths of the handheld are 16-bit).
  static constexpr std::int32_t kMaxLayoutLength = 65535;

  explicit TDorvConduitDb(TComponent* owner);
  ~TDorvConduitDb() override;

  TDorvPalmFields& Fields() { return *fields_; }
  const TDorvPalmFields& Fields() const { return *fields_; }
  TDorvPalmFields& AppInfoFields() { return *app_info_fields_; }
  const TDorvPalmFields& AppInfoFields() const { return *app_info_fields_; }
  TDorvPalmFields& SortInfoFields() { return *sort_info_fields_; }
  const TDorvPalmFields& SortInfoFields() const { return *sort_info_fields_; }

  // Word alignment of the record and info-block layouts: when true, one
  // padding byte follows every element that ends at an odd position.
  // Default false.
  bool GetAlignOnWord() const { return align_on_word_; }
  void SetAlignOnWord(bool value) { align_on_word_ = value; }

  // Existence events; an empty function is not called.
  TDorvFieldTestEvent OnTestFieldExistsForRead;
  TDorvFieldTestEvent OnTestFieldExistsForWrite;

  // Sets every element of every field of `FieldList` from the record bytes
  // `Buffer[0 .. BufferLength)`. With `TestExists`, TestFieldExistsForRead is
  // asked for each element just before it is decoded (after the earlier
  // elements were stored), and an absent element becomes empty and takes no
  // bytes.
  //
  // Never reads at or past BufferLength (negative counts as 0, above 65535 as
  // 65535): a number or blob that does not fit entirely becomes empty, a
  // string stops at the end of the buffer. A blob element's value is the
  // location of its first byte inside `Buffer` (see DorvBlobBytes), valid while
  // the buffer holds these bytes.
  //
  // Raises EDorvConduitError, before changing any value, when a string or blob
  // field has a negative Size. An exception from the handler propagates; the
  // elements decoded before it keep their new values.
  void GetFieldValuesFromBuffer(const std::uint8_t* Buffer, std::int32_t BufferLength,
                                TDorvPalmFields& FieldList, bool TestExists);

  // Lays the values of `FieldList` out into `Buffer[0 .. BufferLength)` and
  // sets `UsedLength` to the number of bytes the layout takes (at most
  // BufferLength). With `TestExists`, TestFieldExistsForWrite is asked for
  // every element before any byte is written; absent elements take no bytes.
  // Bytes the layout skips (padding, blob regions, the tail of a fixed-size
  // string) are left as they are.
  //
  // Never writes at or past BufferLength (negative counts as 0, above 65535 as
  // 65535). A string that does not fit (all its Size bytes, for a fixed-size
  // string) is dropped without an error and takes no bytes. A number or blob
  // region that does not fit raises EDorvConduitError "Attempting to write
  // past end of record buffer". A value that does not convert to its field's
  // type raises EVariantError. A string or blob field with a negative Size
  // raises EDorvConduitError before anything is written. On any exception the
  // bytes of earlier elements are already in the buffer and UsedLength is not
  // assigned.
  void SetBufferFromFieldValues(std::uint8_t* Buffer, std::int32_t BufferLength,
                                TDorvPalmFields& FieldList, std::uint32_t& UsedLength,
                                bool TestExists);

  // True when OnTestFieldExistsForRead is empty; otherwise calls it with
  // FieldExists set to true and returns what it left there.
  bool TestFieldExistsForRead(TDorvPalmField& Field, std::int32_t ArrayIndex);
  // The same for OnTestFieldExistsForWrite.
  bool TestFieldExistsForWrite(TDorvPalmField& Field, std::int32_t ArrayIndex);

  std::string ClassName() const override { return "TDorvConduitDb"; }

  // The published properties in published order. Collections and events have
  // no text form (Get and Set are null).
  static std::span<const TPropertyInfo<TDorvConduitDb>> PublishedProperties();

 private:
  std::unique_ptr<TDorvPalmFields> fields_;
  std::unique_ptr<TDorvPalmFields> app_info_fields_;
  std::unique_ptr<TDorvPalmFields> sort_info_fields_;
  bool align_on_word_ = false;
};

// The bytes of a blob element decoded by GetFieldValuesFromBuffer: the
// location held by the value, or null for an empty value.
const std::uint8_t* DorvBlobBytes(const Variant& value);

}  // namespace fernwick
