#include <string>
#include <string_view>

#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/PropertyText.h>

namespace fernwick {

namespace {

const TDorvConduitDb& AsDb(const TPersistent& object) {
  return dynamic_cast<const TDorvConduitDb&>(object);
}
TDorvConduitDb& AsDb(TPersistent& object) { return dynamic_cast<TDorvConduitDb&>(object); }

// An event property: its Get answers whether a handler is assigned.
#define FERNWICK_DB_EVENT(name, type)                                                   \
  {                                                                                     \
#name, #type, "", false, true,                                                      \
        [](const TPersistent& db) { return EventText(bool(AsDb(db).name())); }, nullptr \
  }

constexpr TPropertyInfo kPublished[] = {
    {"FileName", "string", "", false, false,
     [](const TPersistent& db) { return AsDb(db).FileName(); },
     [](TPersistent& db, std::string_view text) { AsDb(db).SetFileName(std::string(text)); }},
    {"CardNum", "Byte", "0", false, false,
     [](const TPersistent& db) { return ByteToText(AsDb(db).CardNum()); },
     [](TPersistent& db, std::string_view text) { AsDb(db).SetCardNum(ByteFromText(text)); }},
    {"OpenMode", "Byte", "224", true, false,
     [](const TPersistent& db) { return ByteToText(AsDb(db).OpenMode()); },
     [](TPersistent& db, std::string_view text) { AsDb(db).SetOpenMode(ByteFromText(text)); }},
    {"Fields", "TDorvPalmFields", "", false, false, nullptr, nullptr},
    {"AlignOnWord", "Boolean", "False", false, false,
     [](const TPersistent& db) { return BooleanToText(AsDb(db).AlignOnWord()); },
     [](TPersistent& db, std::string_view text) {
       AsDb(db).SetAlignOnWord(BooleanFromText(text));
     }},
    {"AppInfoFields", "TDorvPalmFields", "", false, false, nullptr, nullptr},
    {"SortInfoFields", "TDorvPalmFields", "", false, false, nullptr, nullptr},
    FERNWICK_DB_EVENT(OnTestFieldExistsForRead, TDorvFieldTestEvent),
    FERNWICK_DB_EVENT(OnTestFieldExistsForWrite, TDorvFieldTestEvent),
    FERNWICK_DB_EVENT(BeforeOpen, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(AfterOpen, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(BeforeClose, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(AfterClose, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(BeforeAppend, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(AfterAppend, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(BeforeEdit, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(AfterEdit, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(BeforePost, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(AfterPost, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(BeforeCancel, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(AfterCancel, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(BeforeDelete, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(AfterDelete, TDorvConduitDbNotifyEvent),
    FERNWICK_DB_EVENT(OnNewRecord, TDorvConduitDbNotifyEvent),
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

std::span<const TPropertyInfo> TDorvConduitDb::PublishedProperties() { return kPublished; }

bool TDorvConduitDb::TestFieldExistsForRead(TDorvPalmField& Field, std::int32_t ArrayIndex) {
  bool exists = true;
  if (on_test_field_exists_for_read_)
    on_test_field_exists_for_read_(*this, Field, ArrayIndex, exists);
  return exists;
}

bool TDorvConduitDb::TestFieldExistsForWrite(TDorvPalmField& Field, std::int32_t ArrayIndex) {
  bool exists = true;
  if (on_test_field_exists_for_write_)
    on_test_field_exists_for_write_(*this, Field, ArrayIndex, exists);
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
