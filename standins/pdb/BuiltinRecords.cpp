#include "standins/pdb/BuiltinRecords.h"

#include <algorithm>

#include "standins/pdb/BigEndian.h"

namespace fernwick::pdb {

namespace {

// Standard category block (start of every built-in application info block):
//   OFFSET  SIZE  FIELD
//        0     2  renamed-categories bit mask
//        2   256  16 names of 16 bytes, NUL-terminated, index 0 "Unfiled"
//      258    16  16 category unique ids, one byte each
//      274     1  last unique id
//      275     1  pad
// The applications keep two more bytes (276-277); their own fields start at
// 278.
//
// Memo application info (282): category block, 2 reserved (276), 2 reserved
//   (278), sort order (280), pad (281).
// Memo record: text, NUL.
//
// To Do application info (282): category block, 2 reserved, dirty word
//   (278), sort by priority (280), pad (281).
// To Do record:
//        0     2  due date, packed (0xFFFF none)
//        2     1  priority (low 7 bits), 0x80 completed
//        3     .  description, NUL; note, NUL
//
// Address application info (638): category block, 2 reserved, dirty-label
//   mask (278, 4), 22 labels of 16 bytes (282), country (634), reserved
//   (635), sort by company (636), pad (637).
// Address record:
//        0     4  phone label word: nibble i (from the least significant) is
//                 the label of phone i+1 for i = 0..4, nibble 5 the phone
//                 shown in the list, the top byte reserved
//        4     4  present-fields mask, bit i for field i (AddressField)
//        8     1  company offset: 0 without a company, else 1 + the offset of
//                 the company string from byte 9
//        9     .  one NUL-terminated string per present field, in bit order
//
// Date Book application info (280): category block, 2 reserved, start of
//   week (278), pad (279).
// Date Book record:
//        0     4  start hour, start minute, end hour, end minute (all 0xFF
//                 for an untimed event)
//        4     2  date, packed
//        6     2  flags: 0x4000 alarm, 0x2000 repeat, 0x1000 note,
//                 0x0800 exceptions, 0x0400 description
//   then, each only with its flag, in this order:
//                 alarm (2): advance (signed), unit (0 min, 1 hours, 2 days)
//                 repeat (8): type, pad, end date (2, 0xFFFF forever),
//                   frequency, repeat-on, start of week, pad
//                 exceptions: count (2), that many packed dates
//                 description, NUL
//                 note, NUL
constexpr std::size_t kAppFieldsStart = 278;
constexpr std::size_t kCategoryNameSize = 16;
constexpr std::size_t kAddressLabelSize = 16;

using Reader = BigEndianReader;

// Lays a block out into its own byte vector.
class Writer : public BigEndianWriter<VectorSink> {
 public:
  Writer() : BigEndianWriter(sink_) { bytes_.reserve(256); }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
  VectorSink sink_{bytes_};
};

void WriteCategories(Writer& w, const CategoryInfo& info) {
  w.U16(info.renamed);
  for (const auto& name : info.names) w.FixedString(name, kCategoryNameSize);
  for (auto id : info.ids) w.U8(id);
  w.U8(info.last_unique_id);
  w.Zeros(1);
  w.Zeros(kAppFieldsStart - kCategoryInfoSize);
}

CategoryInfo ReadCategories(Reader& r) {
  CategoryInfo info;
  info.renamed = r.U16();
  for (auto& name : info.names) name = r.FixedString(kCategoryNameSize);
  for (auto& id : info.ids) id = r.U8();
  info.last_unique_id = r.U8();
  r.Skip(1);
  return info;
}

// The application info layout Memo Pad and To Do share (282 bytes): the
// category block, a word at 278, a byte at 280, a pad byte.
struct WordByteAppInfo {
  CategoryInfo categories;
  std::uint16_t word = 0;
  std::uint8_t byte = 0;
};

std::vector<std::uint8_t> EncodeWordByteAppInfo(const WordByteAppInfo& info) {
  Writer w;
  WriteCategories(w, info.categories);
  w.U16(info.word);
  w.U8(info.byte);
  w.Zeros(1);
  return w.Take();
}

WordByteAppInfo DecodeWordByteAppInfo(std::span<const std::uint8_t> bytes, const char* what) {
  Reader r(bytes, what);
  WordByteAppInfo info;
  info.categories = ReadCategories(r);
  r.Skip(2);
  info.word = r.U16();
  info.byte = r.U8();
  return info;
}

}  // namespace

std::uint16_t PackDate(const Date& date) {
  if (date.year < 1904 || date.year > 2031 || date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > 31) {
    throw PdbError("date " + std::to_string(date.year) + "-" + std::to_string(date.month) + "-" +
                   std::to_string(date.day) + " cannot be stored as a handheld date");
  }
  return static_cast<std::uint16_t>((date.year - 1904) << 9 | date.month << 5 | date.day);
}

Date UnpackDate(std::uint16_t packed) {
  return Date{1904 + (packed >> 9), (packed >> 5) & 0x0F, packed & 0x1F};
}

CategoryInfo MakeCategories(const std::vector<std::string>& names) {
  CategoryInfo info;
  info.names[0] = "Unfiled";
  for (std::size_t i = 0; i < names.size() && i + 1 < info.names.size(); ++i) {
    info.names[i + 1] = names[i];
    info.ids[i + 1] = static_cast<std::uint8_t>(i + 1);
    info.last_unique_id = static_cast<std::uint8_t>(i + 1);
  }
  return info;
}

std::vector<std::uint8_t> EncodeCategoryInfo(const CategoryInfo& info) {
  Writer w;
  WriteCategories(w, info);
  auto bytes = w.Take();
  bytes.resize(kCategoryInfoSize);
  return bytes;
}

CategoryInfo DecodeCategoryInfo(std::span<const std::uint8_t> bytes) {
  Reader r(bytes, "category block");
  return ReadCategories(r);
}

std::vector<std::uint8_t> EncodeMemoRecord(const MemoRecord& record) {
  Writer w;
  w.CString(record.text);
  return w.Take();
}

MemoRecord DecodeMemoRecord(std::span<const std::uint8_t> bytes) {
  Reader r(bytes, "memo record");
  return MemoRecord{r.CString("text")};
}

std::vector<std::uint8_t> EncodeMemoAppInfo(const MemoAppInfo& info) {
  return EncodeWordByteAppInfo({info.categories, info.reserved, info.sort_order});
}

MemoAppInfo DecodeMemoAppInfo(std::span<const std::uint8_t> bytes) {
  const WordByteAppInfo info = DecodeWordByteAppInfo(bytes, "memo application info");
  return MemoAppInfo{info.categories, info.word, info.byte};
}

std::vector<std::uint8_t> EncodeToDoRecord(const ToDoRecord& record) {
  Writer w;
  w.U16(record.due_date);
  w.U8((record.priority & 0x7F) | (record.completed ? 0x80 : 0));
  w.CString(record.description);
  w.CString(record.note);
  return w.Take();
}

ToDoRecord DecodeToDoRecord(std::span<const std::uint8_t> bytes) {
  Reader r(bytes, "to do record");
  ToDoRecord record;
  record.due_date = r.U16();
  std::uint8_t priority = r.U8();
  record.priority = priority & 0x7F;
  record.completed = (priority & 0x80) != 0;
  record.description = r.CString("description");
  record.note = r.CString("note");
  return record;
}

std::vector<std::uint8_t> EncodeToDoAppInfo(const ToDoAppInfo& info) {
  return EncodeWordByteAppInfo({info.categories, info.dirty, info.sort_by_priority});
}

ToDoAppInfo DecodeToDoAppInfo(std::span<const std::uint8_t> bytes) {
  const WordByteAppInfo info = DecodeWordByteAppInfo(bytes, "to do application info");
  return ToDoAppInfo{info.categories, info.word, info.byte};
}

std::vector<std::uint8_t> EncodeAddressRecord(const AddressRecord& record) {
  Writer w;
  std::uint32_t labels = 0;
  for (int i = 0; i < 5; ++i) labels |= std::uint32_t{record.phone_labels[i] & 0x0Fu} << (4 * i);
  labels |= std::uint32_t{record.shown_phone & 0x0Fu} << 20;
  labels |= std::uint32_t{record.label_reserved} << 24;
  w.U32(labels);
  std::uint32_t present = 0;
  for (int i = 0; i < kAddressFieldCount; ++i) {
    if (record.fields[i] && !record.fields[i]->empty()) present |= 1u << i;
  }
  w.U32(present);
  std::size_t company_offset = 0;
  if (present & (1u << kCompany)) {
    company_offset = 1;
    for (int i = 0; i < kCompany; ++i) {
      if (present & (1u << i)) company_offset += record.fields[i]->size() + 1;
    }
    if (company_offset > 0xFF) company_offset = 0;  // too far to point at; the offset is a hint
  }
  w.U8(static_cast<std::uint32_t>(company_offset));
  for (int i = 0; i < kAddressFieldCount; ++i) {
    if (present & (1u << i)) w.CString(*record.fields[i]);
  }
  return w.Take();
}

AddressRecord DecodeAddressRecord(std::span<const std::uint8_t> bytes) {
  Reader r(bytes, "address record");
  AddressRecord record;
  std::uint32_t labels = r.U32();
  for (int i = 0; i < 5; ++i) record.phone_labels[i] = (labels >> (4 * i)) & 0x0F;
  record.shown_phone = (labels >> 20) & 0x0F;
  record.label_reserved = static_cast<std::uint8_t>(labels >> 24);
  std::uint32_t present = r.U32();
  r.U8();  // company offset: derived from the fields
  static const char* const kNames[kAddressFieldCount] = {
      "last name", "first name", "company",  "phone 1",  "phone 2",  "phone 3", "phone 4",
      "phone 5",   "address",    "city",     "state",    "zip code", "country", "title",
      "custom 1",  "custom 2",   "custom 3", "custom 4", "note"};
  for (int i = 0; i < kAddressFieldCount; ++i) {
    if (present & (1u << i)) record.fields[i] = r.CString(kNames[i]);
  }
  return record;
}

std::array<std::string, 22> DefaultAddressLabels() {
  return {"Last name", "First name", "Company",  "Work",     "Home",     "Fax",
          "Other",     "E-mail",     "Address",  "City",     "State",    "Zip Code",
          "Country",   "Title",      "Custom 1", "Custom 2", "Custom 3", "Custom 4",
          "Note",      "Main",       "Pager",    "Mobile"};
}

std::vector<std::uint8_t> EncodeAddressAppInfo(const AddressAppInfo& info) {
  Writer w;
  WriteCategories(w, info.categories);
  w.U32(info.dirty_labels);
  for (const auto& label : info.labels) w.FixedString(label, kAddressLabelSize);
  w.U8(info.country);
  w.U8(info.reserved);
  w.U8(info.sort_by_company);
  w.Zeros(1);
  return w.Take();
}

AddressAppInfo DecodeAddressAppInfo(std::span<const std::uint8_t> bytes) {
  Reader r(bytes, "address application info");
  AddressAppInfo info;
  info.categories = ReadCategories(r);
  r.Skip(2);
  info.dirty_labels = r.U32();
  for (auto& label : info.labels) label = r.FixedString(kAddressLabelSize);
  info.country = r.U8();
  info.reserved = r.U8();
  info.sort_by_company = r.U8();
  return info;
}

std::vector<std::uint8_t> EncodeDatebookRecord(const DatebookRecord& record) {
  Writer w;
  w.U8(record.start_hour);
  w.U8(record.start_minute);
  w.U8(record.end_hour);
  w.U8(record.end_minute);
  w.U16(record.date);
  std::uint16_t flags = record.other_flags & ~(kDatebookAlarm | kDatebookRepeat | kDatebookNote |
                                               kDatebookExceptions | kDatebookDescription);
  if (record.alarm) flags |= kDatebookAlarm;
  if (record.repeat) flags |= kDatebookRepeat;
  if (record.note) flags |= kDatebookNote;
  if (!record.exceptions.empty()) flags |= kDatebookExceptions;
  if (record.description) flags |= kDatebookDescription;
  w.U16(flags);
  if (record.alarm) {
    w.U8(static_cast<std::uint8_t>(record.alarm->advance));
    w.U8(record.alarm->unit);
  }
  if (record.repeat) {
    w.U8(record.repeat->type);
    w.Zeros(1);
    w.U16(record.repeat->end_date);
    w.U8(record.repeat->frequency);
    w.U8(record.repeat->repeat_on);
    w.U8(record.repeat->start_of_week);
    w.Zeros(1);
  }
  if (!record.exceptions.empty()) {
    if (record.exceptions.size() > 0xFFFF) {
      throw PdbError("date book record: too many exceptions (" +
                     std::to_string(record.exceptions.size()) + ")");
    }
    w.U16(static_cast<std::uint32_t>(record.exceptions.size()));
    for (auto d : record.exceptions) w.U16(d);
  }
  if (record.description) w.CString(*record.description);
  if (record.note) w.CString(*record.note);
  return w.Take();
}

DatebookRecord DecodeDatebookRecord(std::span<const std::uint8_t> bytes) {
  Reader r(bytes, "date book record");
  DatebookRecord record;
  record.start_hour = r.U8();
  record.start_minute = r.U8();
  record.end_hour = r.U8();
  record.end_minute = r.U8();
  record.date = r.U16();
  std::uint16_t flags = r.U16();
  record.other_flags = flags & ~(kDatebookAlarm | kDatebookRepeat | kDatebookNote |
                                 kDatebookExceptions | kDatebookDescription);
  if (flags & kDatebookAlarm) {
    DatebookAlarm alarm;
    alarm.advance = static_cast<std::int8_t>(r.U8());
    alarm.unit = r.U8();
    record.alarm = alarm;
  }
  if (flags & kDatebookRepeat) {
    DatebookRepeat repeat;
    repeat.type = r.U8();
    r.Skip(1);
    repeat.end_date = r.U16();
    repeat.frequency = r.U8();
    repeat.repeat_on = r.U8();
    repeat.start_of_week = r.U8();
    r.Skip(1);
    record.repeat = repeat;
  }
  if (flags & kDatebookExceptions) {
    std::uint16_t count = r.U16();
    record.exceptions.reserve(std::min<std::size_t>(count, r.Rest().size() / 2));
    for (std::uint16_t i = 0; i < count; ++i) record.exceptions.push_back(r.U16());
  }
  if (flags & kDatebookDescription) record.description = r.CString("description");
  if (flags & kDatebookNote) record.note = r.CString("note");
  return record;
}

std::vector<std::uint8_t> EncodeDatebookAppInfo(const DatebookAppInfo& info) {
  Writer w;
  WriteCategories(w, info.categories);
  w.U8(info.start_of_week);
  w.Zeros(1);
  return w.Take();
}

DatebookAppInfo DecodeDatebookAppInfo(std::span<const std::uint8_t> bytes) {
  Reader r(bytes, "date book application info");
  DatebookAppInfo info;
  info.categories = ReadCategories(r);
  r.Skip(2);
  info.start_of_week = r.U8();
  return info;
}

}  // namespace fernwick::pdb
