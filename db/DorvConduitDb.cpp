#include "db/DorvConduitDb.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/SysUtils.h"

namespace fernwick {

namespace {

std::string BoolText(bool value) { return value ? "True" : "False"; }

bool BoolFromText(std::string_view text) {
  if (CompareText(text, "True") == 0) return true;
  if (CompareText(text, "False") == 0) return false;
  throw EConvertError("'" + std::string(text) + "' is not a valid Boolean value");
}

// Published in this order, after FileName, CardNum and OpenMode and before the
// notification events of the database component.
std::string ByteText(std::uint8_t value) { return std::to_string(value); }

std::uint8_t ByteFromText(std::string_view text) {
  const std::string t(text);
  std::size_t used = 0;
  int value = -1;
  try {
    value = std::stoi(t, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != t.size() || value < 0 || value > 255) {
    throw EConvertError("'" + t + "' is not a valid byte value");
  }
  return static_cast<std::uint8_t>(value);
}

#define FERNWICK_DB_EVENT(name) \
  { #name, "TDorvConduitDbNotifyEvent", "", false, nullptr, nullptr }

constexpr TPropertyInfo<TDorvConduitDb> kPublished[] = {
    {"FileName", "string", "", false, [](const TDorvConduitDb& db) { return db.FileName(); },
     [](TDorvConduitDb& db, std::string_view text) { db.SetFileName(std::string(text)); }},
    {"CardNum", "Byte", "0", false, [](const TDorvConduitDb& db) { return ByteText(db.CardNum()); },
     [](TDorvConduitDb& db, std::string_view text) { db.SetCardNum(ByteFromText(text)); }},
    {"OpenMode", "Byte", "224", true,
     [](const TDorvConduitDb& db) { return ByteText(db.OpenMode()); },
     [](TDorvConduitDb& db, std::string_view text) { db.SetOpenMode(ByteFromText(text)); }},
    {"Fields", "TDorvPalmFields", "", false, nullptr, nullptr},
    {"AlignOnWord", "Boolean", "False", false,
     [](const TDorvConduitDb& db) { return BoolText(db.GetAlignOnWord()); },
     [](TDorvConduitDb& db, std::string_view text) { db.SetAlignOnWord(BoolFromText(text)); }},
    {"AppInfoFields", "TDorvPalmFields", "", false, nullptr, nullptr},
    {"SortInfoFields", "TDorvPalmFields", "", false, nullptr, nullptr},
    {"OnTestFieldExistsForRead", "TDorvFieldTestEvent", "", false, nullptr, nullptr},
    {"OnTestFieldExistsForWrite", "TDorvFieldTestEvent", "", false, nullptr, nullptr},
    FERNWICK_DB_EVENT(BeforeOpen),
    FERNWICK_DB_EVENT(AfterOpen),
    FERNWICK_DB_EVENT(BeforeClose),
    FERNWICK_DB_EVENT(AfterClose),
    FERNWICK_DB_EVENT(BeforeAppend),
    FERNWICK_DB_EVENT(AfterAppend),
    FERNWICK_DB_EVENT(BeforeEdit),
    FERNWICK_DB_EVENT(AfterEdit),
    FERNWICK_DB_EVENT(BeforePost),
    FERNWICK_DB_EVENT(AfterPost),
    FERNWICK_DB_EVENT(BeforeCancel),
    FERNWICK_DB_EVENT(AfterCancel),
    FERNWICK_DB_EVENT(BeforeDelete),
    FERNWICK_DB_EVENT(AfterDelete),
    FERNWICK_DB_EVENT(OnNewRecord),
};

#undef FERNWICK_DB_EVENT

}  // namespace

TDorvConduitDb::TDorvConduitDb(TComponent* owner)
    : TComponent(owner),
      fields_(std::make_unique<TDorvPalmFields>(this)),
      app_info_fields_(std::make_unique<TDorvPalmFields>(this)),
      sort_info_fields_(std::make_unique<TDorvPalmFields>(this)) {}

TDorvConduitDb::~TDorvConduitDb() = default;

void TDorvConduitDb::CopyFieldList(TDorvPalmFields& target, const TDorvPalmFields& source) {
  if (&target != &source) target.Assign(source);
}

std::span<const TPropertyInfo<TDorvConduitDb>> TDorvConduitDb::PublishedProperties() {
  return kPublished;
}

bool TDorvConduitDb::TestFieldExistsForRead(TDorvPalmField& Field, std::int32_t ArrayIndex) {
  bool exists = true;
  if (OnTestFieldExistsForRead) OnTestFieldExistsForRead(*this, Field, ArrayIndex, exists);
  return exists;
}

bool TDorvConduitDb::TestFieldExistsForWrite(TDorvPalmField& Field, std::int32_t ArrayIndex) {
  bool exists = true;
  if (OnTestFieldExistsForWrite) OnTestFieldExistsForWrite(*this, Field, ArrayIndex, exists);
  return exists;
}

void TDorvConduitDb::GetFieldValuesFromBuffer(const std::uint8_t* Buffer, std::int32_t BufferLength,
                                              TDorvPalmFields& FieldList, bool TestExists) {
  TDorvElementTest exists;
  if (TestExists) {
    exists = [this](TDorvPalmField& field, std::int32_t index) {
      return TestFieldExistsForRead(field, index);
    };
  }
  DorvDecodeRecord(Buffer, BufferLength, FieldList, align_on_word_, exists);
}

void TDorvConduitDb::SetBufferFromFieldValues(std::uint8_t* Buffer, std::int32_t BufferLength,
                                              TDorvPalmFields& FieldList, std::uint32_t& UsedLength,
                                              bool TestExists) {
  TDorvElementTest exists;
  if (TestExists) {
    exists = [this](TDorvPalmField& field, std::int32_t index) {
      return TestFieldExistsForWrite(field, index);
    };
  }
  DorvEncodeRecord(Buffer, BufferLength, FieldList, align_on_word_, UsedLength, exists);
}

}  // namespace fernwick
