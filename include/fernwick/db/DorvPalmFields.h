/// \file
/// Field definitions of handheld records: the typed fields whose order is the
/// layout of a record, an application info block or a sort info block, and
/// the values the record codec (TDorvConduitDb) decodes into them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <fernwick/framework/Classes.h>
#include <fernwick/framework/Collections.h>
#include <fernwick/framework/DateTime.h>
#include <fernwick/framework/Variant.h>

namespace fernwick {

class TDorvPalmFields;
struct TDorvDecodeFit;

/// How a field is encoded. The ordinals are stored with designed modules and
/// never change.
///
/// ```
///   ordinal type         width  Size settable  AsInteger  AsDateTime
///   0       pftUnknown   0      no             no         no
///   1       pftByte      1      no             yes        no
///   2       pftSmallint  2      no             yes        no
///   3       pftLongint   4      no             yes        no
///   4       pftBoolean   1      no             no         no
///   5       pftSingle    4      no             no         no
///   6       pftDouble    8      no             no         no
///   7       pftDate      2      no             yes        date
///   8       pftTime      2      no             yes        time
///   9       pftString    0      yes            no         no
///   10      pftBlob      0      yes            no         no
/// ```
enum TDorvPalmFieldType : std::uint8_t {
  pftUnknown = 0,
  pftByte = 1,
  pftSmallint = 2,
  pftLongint = 3,
  pftBoolean = 4,
  pftSingle = 5,
  pftDouble = 6,
  pftDate = 7,
  pftTime = 8,
  pftString = 9,
  pftBlob = 10,
};

/// The width in the record that SetDataType gives to Size (0 for strings and
/// blobs, whose Size is set separately) and 0 for values outside the enumeration.
int DorvPalmFieldTypeWidth(TDorvPalmFieldType type) noexcept;
/// "pftLongint" for pftLongint, "" outside the enumeration.
std::string_view DorvPalmFieldTypeName(TDorvPalmFieldType type) noexcept;
/// The type named `name` (exact spelling); false when there is none.
bool DorvPalmFieldTypeFromName(std::string_view name, TDorvPalmFieldType& type) noexcept;

/// Whether the low 16 bits of `packed` are a handheld date that exists: month
/// 1 to 12 and day 1 to the last day of that month (every year 1904 to 2031
/// fits the bits). False for "no date" (FF FF, which a record reads back as
/// -1) and for dates such as 00 00 (month 0) that GetAsDateTime answers with
/// 0, the TDateTime of 30 December 1899.
bool IsValidPalmDate(std::int32_t packed) noexcept;

/// Splits the low 16 bits of `packed` into the calendar date it holds (bits
/// 15-9 the year since 1904, 8-5 the month, 4-0 the day) and returns true;
/// when they are no valid date (IsValidPalmDate), sets all three to 0 and
/// returns false.
bool DecodePalmDate(std::int32_t packed, int& year, int& month, int& day) noexcept;

/// One field of a record layout: name, data type, width (Size), number of
/// consecutive elements (ArraySize) and the current value or values.
///
/// The value is one Variant. With ArraySize 1 it is the single value
/// (element 0); with ArraySize above 1 it is a variant array of ArraySize
/// elements, indexed from 0. Values of any kind may be stored in a field of any
/// type; the record codec converts them to the field's type when it encodes.
///
/// Handheld date and time encodings, held as integers of which only the low
/// 16 bits count:
///   date: bits 15-9 year - 1904 (0..127), bits 8-5 month, bits 4-0 day
///   time: bits 15-8 hour, bits 7-0 minute (no seconds)
///
/// Choices this class makes where the field model leaves room:
/// - Assign copies ArraySize too, so a copy always has the shape its value has.
/// - GetAsInteger on a value that is not an integer returns the value converted
///   to an integer when it converts (text "42" gives 42, the real 2.5 gives 2,
///   as the encoder would write it), and 0 when it does not (text that is not
///   a number, Null, an element list). It never raises.
/// - AsInteger, AsString and AsDateTime setters on a field with ArraySize above
///   1 replace its element list by one plain value. SetArraySize then rebuilds
///   the element list, even to the same ArraySize, with that plain value as
///   element 0 and the others empty (SetArraySize(1) still clears the value).
///   Until then GetArrayValue yields Null and SetArrayValue does nothing.
/// - SetSize accepts any number, negative ones included, as the field model
///   asks; the record codec refuses a string or blob field with a negative Size.
class TDorvPalmField : public TCollectionItem {
 public:
  /// Constructs the field inside `collection` (appended at its end): a
  /// variable-length string field (DataType pftString, Size 0) with no name,
  /// ArraySize 1 and an empty value.
  explicit TDorvPalmField(TCollection* collection);

  /// The field's name, as FieldByName looks it up.
  const std::string& FieldName() const { return field_name_; }
  /// The field's type, which decides its width and encoding.
  TDorvPalmFieldType DataType() const { return data_type_; }
  /// Width in bytes: the type's for numbers and dates; for strings and
  /// blobs as SetSize stored it (0 for a variable-length string).
  std::int32_t Size() const { return size_; }
  /// The number of elements, 1 or more.
  std::int32_t ArraySize() const { return array_size_; }
  /// The whole value: the single value, or the element list when ArraySize > 1.
  const Variant& Value() const { return value_; }

  /// Stores the name and notifies the owning collection of the change.
  void SetFieldName(const std::string& value);
  /// Stores the type and sets Size to its width (0 for strings and blobs). The
  /// value is not touched.
  void SetDataType(TDorvPalmFieldType value);
  /// Stores the width of a pftString field (bytes taken including the
  /// terminating zero; 0 for variable length) or of a pftBlob field. Ignored
  /// for every other type.
  void SetSize(std::int32_t value);
  /// Changes the number of elements. Ignored below 1 and when equal to the
  /// current ArraySize (unless the element list was replaced by a plain value,
  /// see above). To 1: the value becomes empty. From 1 to more: a new list of
  /// empty elements. From more to more: elements below the new size are kept,
  /// added ones are empty.
  void SetArraySize(std::int32_t value);

  /// FieldName, or the class name "TDorvPalmField" when it is empty.
  std::string GetDisplayName() const override;
  /// From another TDorvPalmField: copies FieldName, DataType, Size, ArraySize
  /// and the value (an element list is copied whole). Any other source is
  /// handed to the inherited Assign (EConvertError).
  void Assign(const TPersistent& source) override;

  /// For pftByte, pftSmallint, pftLongint, pftDate and pftTime: the value as an
  /// integer (0 for empty and for values that do not convert, see above). For
  /// the other types 0.
  std::int32_t GetAsInteger() const;
  /// For the types GetAsInteger serves, replaces the value by `value` (no range
  /// check: the encoder keeps the low bytes). Ignored for the other types.
  void SetAsInteger(std::int32_t value);

  /// The value as text (empty and Null give ""; a date or time field gives its
  /// packed integer in decimal). Raises EVariantError for an element list.
  std::string GetAsString() const;
  /// Replaces the value by the text, whatever the data type.
  void SetAsString(const std::string& value);

  /// pftDate: the packed date as a TDateTime; pftTime: the packed time as a
  /// time of day. 0 for an invalid packed date or time and for other types.
  /// Raises EVariantError when the value does not convert to an integer.
  TDateTime GetAsDateTime() const;
  /// True when the field is a pftDate field whose value is a date that exists
  /// (IsValidPalmDate), so GetAsDateTime reads a real date and not the 0 of
  /// "no date" or of a damaged date. False for other types, an empty value
  /// and a value that does not convert to an integer; never raises.
  bool IsValidDate() const;
  /// Sets the value to the integer 0, then for pftDate to the packed date of
  /// `value` (time of day ignored; EConvertError "Year outside Palm date range"
  /// outside 1904 to 2031, the value staying 0) and for pftTime to the packed
  /// hour and minute (date, seconds and milliseconds ignored).
  void SetAsDateTime(TDateTime value);

  /// A copy of element `index`; Null when there is no such element.
  Variant GetArrayValue(std::int32_t index) const;
  ///@{
  /// Replaces element `index` by `value`; ignored when there is no such element.
  void SetArrayValue(std::int32_t index, const Variant& value);
  void SetArrayValue(std::int32_t index, Variant&& value);
  ///@}

  std::string ClassName() const override { return "TDorvPalmField"; }

  /// The published properties in published order: FieldName, DataType, Size,
  /// ArraySize.
  static std::span<const TPropertyInfo> PublishedProperties();

 private:
  friend class TDorvConduitDb;
  friend void DorvDecodeRecord(const std::uint8_t* Buffer, std::int32_t BufferLength,
                               TDorvPalmFields& FieldList, bool AlignOnWord,
                               const std::function<bool(TDorvPalmField&, std::int32_t)>& Exists,
                               TDorvDecodeFit* Fit);
  friend void DorvEncodeRecord(std::uint8_t* Buffer, std::int32_t BufferLength,
                               TDorvPalmFields& FieldList, bool AlignOnWord,
                               std::uint32_t& UsedLength,
                               const std::function<bool(TDorvPalmField&, std::int32_t)>& Exists);
  ///@{
  /// The element `index` for the codec, or null when there is none.
  Variant* ElementSlot(std::int32_t index) {
    if (array_size_ == 1) return index == 0 ? &value_ : nullptr;
    if (!value_.IsArray() || index < 0 || index >= value_.ArrayLength()) return nullptr;
    return &value_.Element(index);
  }
  const Variant* ElementSlot(std::int32_t index) const {
    return const_cast<TDorvPalmField*>(this)->ElementSlot(index);
  }
  ///@}
  /// Gives the value the shape ArraySize says (the codec fills every element).
  void RebuildElementList();

  std::string field_name_;
  TDorvPalmFieldType data_type_ = pftString;
  Variant value_;
  std::int32_t size_ = 0;
  std::int32_t array_size_ = 0;
};

/// The ordered list of fields of one record layout. It is owned by the
/// database component that created it and owns its fields.
class TDorvPalmFields : public TOwnedCollection {
 public:
  /// An empty field list belonging to `owner` (GetOwner answers it).
  explicit TDorvPalmFields(TPersistent* owner);

  /// Appends a new field (see TDorvPalmField's constructor) and returns it.
  TDorvPalmField* Add();
  ///@{
  /// The field at `index`; EListError outside 0 to Count() - 1.
  TDorvPalmField* Items(int index) const;
  TDorvPalmField* GetItem(int index) const { return Items(index); }
  ///@}
  /// Assigns `value` into the existing field at `index`; the object stays.
  void SetItem(int index, const TDorvPalmField& value);

  /// The first field whose name equals `name`, ignoring the case of A to Z;
  /// nullptr without a match.
  TDorvPalmField* FindField(std::string_view name) const;
  /// As FindField, but raises EDorvConduitError "Field <name> does not exist"
  /// (ErrorCode 0) without a match, as TDorvConduitDb::FieldByName does. For
  /// the info block lists: AppInfoFields().FieldByName("SortOrder").
  TDorvPalmField* FieldByName(const std::string& name) const;

  std::string ClassName() const override { return "TDorvPalmFields"; }
};

}  // namespace fernwick
