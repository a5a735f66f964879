// Record and application info formats of the handheld's four built-in
// applications (Memo, Address, To Do, Date Book) and the standard category
// block at the start of their application info blocks. Encoders lay data out
// exactly as the applications do; decoders read from a checked view and
// throw PdbFormatError (naming the kind of block and the fault) for bytes
// that do not fit the format. The layouts are tabled in BuiltinRecords.cpp
// and in docs/handheld-files.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"

namespace fernwick::pdb {

// Packed date: bits 15-9 years since 1904, bits 8-5 month, bits 4-0 day.
inline constexpr std::uint16_t kNoDate = 0xFFFF;
struct Date {
  int year = 1904;  // 1904 to 2031
  int month = 1;    // 1 to 12
  int day = 1;      // 1 to 31
  bool operator==(const Date&) const = default;
};
// Throws PdbError for a year outside 1904-2031, a month outside 1-12 or a
// day outside 1-31.
std::uint16_t PackDate(const Date& date);
// The fields as stored (month and day are not range-checked; 0xFFFF is
// "no date" and is not passed here).
Date UnpackDate(std::uint16_t packed);

// The standard category block: 276 bytes.
struct CategoryInfo {
  std::uint16_t renamed = 0;           // bit i: category i was renamed
  std::array<std::string, 16> names;   // at most 15 characters each
  std::array<std::uint8_t, 16> ids{};  // category unique ids
  std::uint8_t last_unique_id = 0;
  bool operator==(const CategoryInfo&) const = default;
};
inline constexpr std::size_t kCategoryInfoSize = 276;
// "Unfiled" at index 0 with id 0, then `names` at 1, 2, ... with ids 1, 2, ...;
// last_unique_id is the highest id given.
CategoryInfo MakeCategories(const std::vector<std::string>& names);

// Memo Pad. Record: the text and a NUL.
struct MemoRecord {
  std::string text;
  bool operator==(const MemoRecord&) const = default;
};
struct MemoAppInfo {  // 282 bytes
  CategoryInfo categories;
  std::uint16_t reserved = 0;
  std::uint8_t sort_order = 0;  // 0 manual, 1 alphabetic
  bool operator==(const MemoAppInfo&) const = default;
};

// To Do list.
struct ToDoRecord {
  std::uint16_t due_date = kNoDate;  // packed date or kNoDate
  std::uint8_t priority = 1;         // 1 to 5 (low 7 bits)
  bool completed = false;            // bit 0x80 of the priority byte
  std::string description;
  std::string note;
  bool operator==(const ToDoRecord&) const = default;
};
struct ToDoAppInfo {  // 282 bytes
  CategoryInfo categories;
  std::uint16_t dirty = 0;
  std::uint8_t sort_by_priority = 0;
  bool operator==(const ToDoAppInfo&) const = default;
};

// Address book. Field indexes of AddressRecord::fields and of the labels.
enum AddressField : int {
  kLastName = 0,
  kFirstName,
  kCompany,
  kPhone1,
  kPhone2,
  kPhone3,
  kPhone4,
  kPhone5,
  kAddress,
  kCity,
  kState,
  kZip,
  kCountry,
  kTitle,
  kCustom1,
  kCustom2,
  kCustom3,
  kCustom4,
  kNote,
  kAddressFieldCount
};
// Phone labels: 0 Work, 1 Home, 2 Fax, 3 Other, 4 E-mail, 5 Main, 6 Pager,
// 7 Mobile.
struct AddressRecord {
  std::array<std::uint8_t, 5> phone_labels{0, 1, 2, 3, 4};  // of phones 1-5
  std::uint8_t shown_phone = 0;                             // 0-4: the phone shown in the list
  std::uint8_t label_reserved = 0;                          // top byte of the label word, kept
  std::array<std::optional<std::string>, kAddressFieldCount> fields;
  bool operator==(const AddressRecord&) const = default;
};
struct AddressAppInfo {  // 638 bytes
  CategoryInfo categories;
  std::uint32_t dirty_labels = 0;
  std::array<std::string, 22> labels;  // 19 field labels, then Main, Pager, Mobile
  std::uint8_t country = 0;
  std::uint8_t reserved = 0;
  std::uint8_t sort_by_company = 0;
  bool operator==(const AddressAppInfo&) const = default;
};
// The labels the application ships with ("Last name", ..., "Mobile").
std::array<std::string, 22> DefaultAddressLabels();

// Date Book.
struct DatebookAlarm {
  std::int8_t advance = 5;
  std::uint8_t unit = 0;  // 0 minutes, 1 hours, 2 days
  bool operator==(const DatebookAlarm&) const = default;
};
struct DatebookRepeat {
  std::uint8_t type = 0;             // 0 none, 1 daily, 2 weekly, 3 monthly by day,
                                     // 4 monthly by date, 5 yearly
  std::uint16_t end_date = kNoDate;  // packed; kNoDate = forever
  std::uint8_t frequency = 1;
  std::uint8_t repeat_on = 0;  // weekly: bit per weekday; monthly by day: week*7+day
  std::uint8_t start_of_week = 0;
  bool operator==(const DatebookRepeat&) const = default;
};
struct DatebookRecord {
  // 0xFF in all four for an untimed event.
  std::uint8_t start_hour = 0xFF, start_minute = 0xFF, end_hour = 0xFF, end_minute = 0xFF;
  std::uint16_t date = 0;         // packed
  std::uint16_t other_flags = 0;  // flag bits other than the five below, kept
  std::optional<DatebookAlarm> alarm;
  std::optional<DatebookRepeat> repeat;
  std::vector<std::uint16_t> exceptions;  // packed dates; flag set when non-empty
  std::optional<std::string> description;
  std::optional<std::string> note;
  bool operator==(const DatebookRecord&) const = default;
};
inline constexpr std::uint16_t kDatebookAlarm = 0x4000;
inline constexpr std::uint16_t kDatebookRepeat = 0x2000;
inline constexpr std::uint16_t kDatebookNote = 0x1000;
inline constexpr std::uint16_t kDatebookExceptions = 0x0800;
inline constexpr std::uint16_t kDatebookDescription = 0x0400;
struct DatebookAppInfo {  // 280 bytes
  CategoryInfo categories;
  std::uint8_t start_of_week = 0;
  bool operator==(const DatebookAppInfo&) const = default;
};

std::vector<std::uint8_t> EncodeCategoryInfo(const CategoryInfo& info);
CategoryInfo DecodeCategoryInfo(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> EncodeMemoRecord(const MemoRecord& record);
MemoRecord DecodeMemoRecord(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> EncodeMemoAppInfo(const MemoAppInfo& info);
MemoAppInfo DecodeMemoAppInfo(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> EncodeToDoRecord(const ToDoRecord& record);
ToDoRecord DecodeToDoRecord(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> EncodeToDoAppInfo(const ToDoAppInfo& info);
ToDoAppInfo DecodeToDoAppInfo(std::span<const std::uint8_t> bytes);

// Empty strings are stored as absent fields, as the application does.
std::vector<std::uint8_t> EncodeAddressRecord(const AddressRecord& record);
AddressRecord DecodeAddressRecord(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> EncodeAddressAppInfo(const AddressAppInfo& info);
AddressAppInfo DecodeAddressAppInfo(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> EncodeDatebookRecord(const DatebookRecord& record);
DatebookRecord DecodeDatebookRecord(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> EncodeDatebookAppInfo(const DatebookAppInfo& info);
DatebookAppInfo DecodeDatebookAppInfo(std::span<const std::uint8_t> bytes);

}  // namespace fernwick::pdb
