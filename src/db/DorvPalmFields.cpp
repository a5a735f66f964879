#include <array>

#include <fernwick/db/DorvPalmFields.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/PropertyText.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

struct FieldTypeInfo {
  std::string_view name;
  int width;
  bool size_settable;
  bool serves_as_integer;
};

constexpr std::array<FieldTypeInfo, 11> kFieldTypes = {{
    {"pftUnknown", 0, false, false},
    {"pftByte", 1, false, true},
    {"pftSmallint", 2, false, true},
    {"pftLongint", 4, false, true},
    {"pftBoolean", 1, false, false},
    {"pftSingle", 4, false, false},
    {"pftDouble", 8, false, false},
    {"pftDate", 2, false, true},
    {"pftTime", 2, false, true},
    {"pftString", 0, true, false},
    {"pftBlob", 0, true, false},
}};

const FieldTypeInfo* TypeInfo(TDorvPalmFieldType type) {
  return type < kFieldTypes.size() ? &kFieldTypes[type] : nullptr;
}

bool ServesAsInteger(TDorvPalmFieldType type) {
  const FieldTypeInfo* info = TypeInfo(type);
  return info != nullptr && info->serves_as_integer;
}

const TDorvPalmField& AsField(const TPersistent& object) {
  return dynamic_cast<const TDorvPalmField&>(object);
}
TDorvPalmField& AsField(TPersistent& object) { return dynamic_cast<TDorvPalmField&>(object); }

constexpr TPropertyInfo kPublished[] = {
    {"FieldName", "string", "", false, false,
     [](const TPersistent& f) { return AsField(f).FieldName(); },
     [](TPersistent& f, std::string_view text) { AsField(f).SetFieldName(std::string(text)); }},
    {"DataType", "TDorvPalmFieldType", "pftString", true, false,
     [](const TPersistent& f) { return std::string(DorvPalmFieldTypeName(AsField(f).DataType())); },
     [](TPersistent& f, std::string_view text) {
       TDorvPalmFieldType type = pftUnknown;
       if (!DorvPalmFieldTypeFromName(text, type)) RaiseNotAValue(text, "TDorvPalmFieldType");
       AsField(f).SetDataType(type);
     }},
    {"Size", "Integer", "0", true, false,
     [](const TPersistent& f) { return IntegerToText(AsField(f).Size()); },
     [](TPersistent& f, std::string_view text) { AsField(f).SetSize(IntegerFromText(text)); }},
    {"ArraySize", "Integer", "1", false, false,
     [](const TPersistent& f) { return IntegerToText(AsField(f).ArraySize()); },
     [](TPersistent& f, std::string_view text) { AsField(f).SetArraySize(IntegerFromText(text)); }},
};

}  // namespace

int DorvPalmFieldTypeWidth(TDorvPalmFieldType type) noexcept {
  const FieldTypeInfo* info = TypeInfo(type);
  return info != nullptr ? info->width : 0;
}

std::string_view DorvPalmFieldTypeName(TDorvPalmFieldType type) noexcept {
  const FieldTypeInfo* info = TypeInfo(type);
  return info != nullptr ? info->name : std::string_view();
}

bool DorvPalmFieldTypeFromName(std::string_view name, TDorvPalmFieldType& type) noexcept {
  for (std::size_t i = 0; i < kFieldTypes.size(); ++i) {
    if (kFieldTypes[i].name == name) {
      type = static_cast<TDorvPalmFieldType>(i);
      return true;
    }
  }
  return false;
}

bool DecodePalmDate(std::int32_t packed, int& year, int& month, int& day) noexcept {
  year = ((packed >> 9) & 0x7F) + 1904;
  month = (packed >> 5) & 0x0F;
  day = packed & 0x1F;
  if (month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month)) return true;
  year = month = day = 0;
  return false;
}

bool IsValidPalmDate(std::int32_t packed) noexcept {
  int year = 0, month = 0, day = 0;
  return DecodePalmDate(packed, year, month, day);
}

// ---------------------------------------------------------------------------
// TDorvPalmField

TDorvPalmField::TDorvPalmField(TCollection* collection) : TCollectionItem(collection) {
  // DataType starts as pftString without SetDataType, so Size stays 0.
  SetArraySize(1);
}

std::span<const TPropertyInfo> TDorvPalmField::PublishedProperties() { return kPublished; }

void TDorvPalmField::SetFieldName(const std::string& value) {
  field_name_ = value;
  SetDisplayName(value);
}

void TDorvPalmField::SetDataType(TDorvPalmFieldType value) {
  data_type_ = value;
  size_ = DorvPalmFieldTypeWidth(value);
}

void TDorvPalmField::SetSize(std::int32_t value) {
  if (data_type_ == pftString || data_type_ == pftBlob) size_ = value;
}

void TDorvPalmField::SetArraySize(std::int32_t value) {
  if (value < 1) return;
  const bool list_replaced = array_size_ > 1 && !value_.IsArray();
  if (value == array_size_ && !list_replaced) return;
  if (value == 1) {
    value_ = Variant();
  } else if (list_replaced) {
    Variant list = Variant::Array(value);
    list.Element(0) = std::move(value_);
    value_ = std::move(list);
  } else if (array_size_ <= 1 || !value_.IsArray()) {
    value_ = Variant::Array(value);
  } else {
    value_.ResizeArray(value);
  }
  array_size_ = value;
}

std::string TDorvPalmField::GetDisplayName() const {
  return field_name_.empty() ? TCollectionItem::GetDisplayName() : field_name_;
}

void TDorvPalmField::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TDorvPalmField*>(&source);
  if (other == nullptr) {
    TCollectionItem::Assign(source);
    return;
  }
  if (other == this) return;
  value_ = other->value_;
  data_type_ = other->data_type_;
  size_ = other->size_;
  array_size_ = other->array_size_;
  SetFieldName(other->field_name_);
}

std::int32_t TDorvPalmField::GetAsInteger() const {
  if (!ServesAsInteger(data_type_)) return 0;
  std::int32_t result = 0;
  return value_.TryAsInteger(result) ? result : 0;
}

void TDorvPalmField::SetAsInteger(std::int32_t value) {
  if (ServesAsInteger(data_type_)) value_ = Variant(value);
}

std::string TDorvPalmField::GetAsString() const { return value_.AsString(); }

void TDorvPalmField::SetAsString(const std::string& value) { value_ = Variant(value); }

TDateTime TDorvPalmField::GetAsDateTime() const {
  if (data_type_ != pftDate && data_type_ != pftTime) return 0;
  const auto packed = static_cast<std::uint16_t>(value_.AsInteger());
  if (data_type_ == pftDate) {
    int year = 0, month = 0, day = 0;
    return DecodePalmDate(packed, year, month, day) ? EncodeDate(year, month, day) : 0;
  }
  try {
    return EncodeTime(packed >> 8, packed & 0xFF, 0, 0);
  } catch (const EConvertError&) {
    return 0;
  }
}

bool TDorvPalmField::IsValidDate() const {
  std::int32_t packed = 0;
  return data_type_ == pftDate && value_.TryAsInteger(packed) && IsValidPalmDate(packed);
}

void TDorvPalmField::SetAsDateTime(TDateTime value) {
  value_ = Variant(std::int32_t{0});
  if (data_type_ == pftDate) {
    int year = 0, month = 0, day = 0;
    DecodeDate(value, year, month, day);
    if (year < 1904 || year > 2031) throw EConvertError("Year outside Palm date range");
    value_ = Variant(((year - 1904) << 9) | (month << 5) | day);
  } else if (data_type_ == pftTime) {
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    DecodeTime(value, hour, minute, second, millisecond);
    value_ = Variant((hour << 8) | minute);
  }
}

Variant TDorvPalmField::GetArrayValue(std::int32_t index) const {
  const Variant* slot = ElementSlot(index);
  return slot != nullptr ? *slot : Variant::Null();
}

void TDorvPalmField::SetArrayValue(std::int32_t index, const Variant& value) {
  if (Variant* slot = ElementSlot(index)) *slot = value;
}

void TDorvPalmField::SetArrayValue(std::int32_t index, Variant&& value) {
  if (Variant* slot = ElementSlot(index)) *slot = std::move(value);
}

void TDorvPalmField::RebuildElementList() {
  if (array_size_ > 1 && (!value_.IsArray() || value_.ArrayLength() != array_size_))
    value_ = Variant::Array(array_size_);
}

// ---------------------------------------------------------------------------
// TDorvPalmFields

TDorvPalmFields::TDorvPalmFields(TPersistent* owner)
    : TOwnedCollection(owner, &MakeCollectionItem<TDorvPalmField>) {}

TDorvPalmField* TDorvPalmFields::Add() { return static_cast<TDorvPalmField*>(TCollection::Add()); }

TDorvPalmField* TDorvPalmFields::Items(int index) const {
  return static_cast<TDorvPalmField*>(TCollection::Items(index));
}

void TDorvPalmFields::SetItem(int index, const TDorvPalmField& value) {
  Items(index)->Assign(value);
}

TDorvPalmField* TDorvPalmFields::FindField(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    TDorvPalmField* field = Items(i);
    if (CompareText(field->FieldName(), name) == 0) return field;
  }
  return nullptr;
}

TDorvPalmField* TDorvPalmFields::FieldByName(const std::string& name) const {
  if (TDorvPalmField* field = FindField(name)) return field;
  throw EDorvConduitError("Field " + name + " does not exist");
}

}  // namespace fernwick
