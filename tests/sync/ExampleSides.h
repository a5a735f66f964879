// The Address Book and Date Book examples seen from outside, for the tests
// that synchronise them through the runner (example_model_test.cpp,
// example_crash_test.cpp): what each side shows of an item as one line of
// text (its view, the same for a record and for its card or event when they
// agree), and the edits a handheld user and another desktop program make.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "RunnerChild.h"
#include "common/TextFormats.h"
#include "common/VObject.h"
#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/PdbFile.h"
#include <fernwick/db/PalmText.h>

namespace fernwick::testing {

using namespace fernwick::examples;

constexpr std::uint8_t kDeleted = 0x80;
constexpr std::uint8_t kDirty = 0x40;
constexpr std::uint8_t kSecret = 0x10;
constexpr std::uint8_t kArchived = 0x08;  // with kDeleted, in the file

struct Example {
  bool address;
  std::string conduit, database, folder, file, archive, kind;
};
inline const Example kAddress{true,          "libaddress_conduit.so", "AddressDB",
                              "AddressBook", "AddressBook.vcf",       "AddressBook-archive.vcf",
                              "VCARD"};
inline const Example kDatebook{false,          "libdatebook_conduit.so", "DatebookDB", "DateBook",
                               "DateBook.ics", "DateBook-archive.ics",   "VEVENT"};

// (record id, view) of every live item of one side, sorted; id 0 for a
// desktop item without one.
using Views = std::vector<std::pair<std::uint32_t, std::string>>;

inline std::multiset<std::string> Texts(const Views& views) {
  std::multiset<std::string> texts;
  for (const auto& [id, text] : views) texts.insert(text);
  return texts;
}

inline std::string Join(const std::vector<std::string>& parts, char with) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? std::string(1, with) : "") + parts[i];
  return text;
}

// The view of a handheld record; `names` the category names.
inline std::string RecordView(const Example& e, const pdb::PdbRecord& r,
                              const std::array<std::string, 16>& names) {
  const std::string secret = (r.attributes & kSecret) ? "|secret" : "";
  if (e.address) {
    const pdb::AddressRecord a = pdb::DecodeAddressRecord(r.data);
    const auto f = [&](int i) { return PalmToUtf8(a.fields[i].value_or("")); };
    std::vector<std::string> phones;
    for (int i = pdb::kPhone1; i <= pdb::kPhone5; ++i)
      if (!f(i).empty()) phones.push_back(f(i));
    std::sort(phones.begin(), phones.end());
    std::vector<std::string> address;
    for (int i = pdb::kAddress; i <= pdb::kCountry; ++i) address.push_back(f(i));
    return Join(
        {f(pdb::kLastName) + "," + f(pdb::kFirstName), f(pdb::kCompany), f(pdb::kTitle),
         f(pdb::kNote), Join(address, ','), Join(phones, ','), names[r.attributes & 0x0F] + secret},
        '|');
  }
  const pdb::DatebookRecord d = pdb::DecodeDatebookRecord(r.data);
  const pdb::Date day = pdb::UnpackDate(d.date);
  char when[40];
  std::snprintf(when, sizeof when, "%04d%02d%02d %02d%02d-%02d%02d", day.year, day.month, day.day,
                d.start_hour, d.start_minute, d.end_hour, d.end_minute);
  if (d.start_hour == 0xFF) when[8] = 0;
  static const char* kFreq[] = {"", "DAILY", "WEEKLY", "MONTHLY", "MONTHLY", "YEARLY"};
  return Join({when, PalmToUtf8(d.description.value_or("")), PalmToUtf8(d.note.value_or("")),
               d.repeat && d.repeat->type <= 5 ? kFreq[d.repeat->type] : ""},
              '|') +
         secret;
}

inline std::string Part(const TVProperty* p, std::size_t part) {
  if (!p) return "";
  const auto parts = p->Structured();
  return part < parts.size() ? Join(parts[part], ',') : "";
}
inline std::string Text(const TVComponent& c, const char* name) {
  const TVProperty* p = c.Find(name);
  return p ? p->Text() : "";
}

// The view of a card or event: what a record holds of it.
inline std::string ItemView(const Example& e, const TVComponent& c) {
  if (e.address) {
    const TVProperty* adr = c.Find("ADR");
    std::vector<std::string> address;
    for (std::size_t i = 2; i <= 6; ++i) address.push_back(Part(adr, i));
    // The handheld holds the first five phones, fewer when the card says.
    const std::string held = Text(c, "X-FERNWICK-PHONES");
    std::size_t count = held.empty() ? 5 : std::strtoul(held.c_str(), nullptr, 10);
    std::vector<std::string> phones;
    for (const TVProperty& p : c.properties)
      if ((p.name == "TEL" || p.name == "EMAIL") && phones.size() < count)
        phones.push_back(p.Text());
    std::sort(phones.begin(), phones.end());
    const TVProperty* categories = c.Find("CATEGORIES");
    const std::string category =
        categories && !categories->List().empty() ? categories->List()[0] : "Unfiled";
    return Join({Part(c.Find("N"), 0) + "," + Part(c.Find("N"), 1), Part(c.Find("ORG"), 0),
                 Text(c, "TITLE"), Text(c, "NOTE"), Join(address, ','), Join(phones, ','),
                 category + (Text(c, "CLASS") == "PRIVATE" ? "|secret" : "")},
                '|');
  }
  const TVProperty* start = c.Find("DTSTART");
  const TVProperty* end = c.Find("DTEND");
  std::string when = start ? start->value.substr(0, 8) : "";
  if (start && start->value.size() >= 13 && end && end->value.size() >= 13)
    when += " " + start->value.substr(9, 4) + "-" + end->value.substr(9, 4);
  std::string freq = Text(c, "RRULE");
  freq = freq.empty() ? "" : freq.substr(5, freq.find(';') - 5);
  const std::string klass = Text(c, "CLASS");
  return Join({when, Text(c, "SUMMARY"), Text(c, "DESCRIPTION"), freq}, '|') +
         (klass == "PRIVATE" || klass == "CONFIDENTIAL" ? "|secret" : "");
}

// The record id a card or event carries: its UID "<id>@<database>", else
// its X-FERNWICK-ID; 0 without.
inline std::uint32_t ItemId(const Example& e, const TVComponent& c) {
  std::string id = Text(c, "UID");
  if (!id.ends_with("@" + e.database)) id = Text(c, "X-FERNWICK-ID");
  return static_cast<std::uint32_t>(std::strtoul(id.c_str(), nullptr, 10));
}

// The cards or events of a desktop file's text (events with a
// RECURRENCE-ID left out).
inline std::vector<TVComponent> Items(const Example& e, const std::string& text) {
  std::vector<TVComponent> items;
  for (TVComponent& c : ReadVObjects(text)) {
    if (c.name == e.kind) items.push_back(std::move(c));
    for (TVComponent& inner : c.components)
      if (inner.name == "VEVENT" && !inner.Find("RECURRENCE-ID")) items.push_back(std::move(inner));
  }
  return items;
}

inline Views DesktopViews(const Example& e, const std::string& text) {
  Views views;
  for (const TVComponent& c : Items(e, text)) views.emplace_back(ItemId(e, c), ItemView(e, c));
  std::sort(views.begin(), views.end());
  return views;
}

inline Views HandheldViews(const Example& e, const pdb::PdbDatabase& db) {
  const pdb::CategoryInfo names = pdb::DecodeCategoryInfo(*db.app_info);
  Views views;
  for (const pdb::PdbRecord& r : db.records)
    if ((r.attributes & kDeleted) == 0)
      views.emplace_back(r.unique_id, RecordView(e, r, names.names));
  std::sort(views.begin(), views.end());
  return views;
}

// A desktop file as another program edits it: one entry per content line,
// a folded line whole (its folds kept).
struct DeskFile {
  std::vector<std::string> lines;

  explicit DeskFile(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find('\n', at);
      while (end != std::string::npos && end + 1 < text.size() &&
             (text[end + 1] == ' ' || text[end + 1] == '\t'))
        end = text.find('\n', end + 1);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      if (line.ends_with('\r')) line.pop_back();
      lines.push_back(line);
      at = end + 1;
    }
  }
  std::string Text() const {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
  }
  // The [BEGIN, END] line indexes of each item of `kind`.
  std::vector<std::pair<std::size_t, std::size_t>> Items(const std::string& kind) const {
    std::vector<std::pair<std::size_t, std::size_t>> items;
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == "BEGIN:" + kind)
        items.emplace_back(
            i, std::find(lines.begin() + i, lines.end(), "END:" + kind) - lines.begin());
    return items;
  }
  // The index of the item's own line of property `name` (not one of an
  // inner component's), or 0.
  std::size_t Find(std::pair<std::size_t, std::size_t> item, const std::string& name) const {
    int depth = 0;
    for (std::size_t i = item.first + 1; i < item.second; ++i) {
      if (lines[i].starts_with("BEGIN:")) ++depth;
      if (lines[i].starts_with("END:")) --depth;
      if (depth == 0 && lines[i].starts_with(name) &&
          (lines[i][name.size()] == ':' || lines[i][name.size()] == ';'))
        return i;
    }
    return 0;
  }
  // Sets the item's property `name` to the whole line `line`.
  void Set(std::pair<std::size_t, std::size_t> item, const std::string& name,
           const std::string& line) {
    if (const std::size_t at = Find(item, name)) {
      lines[at] = line;
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(item.second), line);
    }
  }
  // The number of the item's own TEL and EMAIL lines.
  std::size_t Phones(std::pair<std::size_t, std::size_t> item) const {
    return static_cast<std::size_t>(std::count_if(
        lines.begin() + item.first, lines.begin() + item.second, [](const std::string& l) {
          return l.starts_with("TEL;") || l.starts_with("TEL:") || l.starts_with("EMAIL");
        }));
  }
};

// What text edits add to their token: characters of the handheld's
// character set beyond ASCII, the ones vCard and iCalendar escape, a line
// break.
inline const std::string kRich = " \xC3\xA9\xE2\x82\xAC, a;b\\c\nline 2";

// A new record of the example holding `token`.
inline std::vector<std::uint8_t> NewRecordData(const Example& e, const std::string& token,
                                               int serial) {
  if (e.address) {
    pdb::AddressRecord a;
    a.fields[pdb::kLastName] = token;
    a.fields[pdb::kPhone1] = "5" + token;
    a.fields[pdb::kNote] = "new";
    return pdb::EncodeAddressRecord(a);
  }
  pdb::DatebookRecord d;
  d.date = pdb::PackDate({2027, 1 + serial % 12, 1 + serial % 28});
  d.start_hour = static_cast<std::uint8_t>(8 + serial % 10);
  d.start_minute = 0;
  d.end_hour = static_cast<std::uint8_t>(d.start_hour + 1);
  d.end_minute = 30;
  d.description = token;
  return pdb::EncodeDatebookRecord(d);
}

// Changes what record `r` holds as a handheld user would: one mapped
// field (`what` picks which) takes `token`.
inline void EditRecord(const Example& e, pdb::PdbRecord& r, int what, const std::string& token,
                       const std::array<std::string, 16>& names) {
  if (e.address) {
    pdb::AddressRecord a = pdb::DecodeAddressRecord(r.data);
    std::vector<int> full, empty;
    for (int i = pdb::kPhone1; i <= pdb::kPhone5; ++i) (a.fields[i] ? full : empty).push_back(i);
    switch (what % 7) {
      case 0:
        a.fields[pdb::kNote] = Utf8ToPalm(token + kRich);
        break;
      case 1:
        a.fields[pdb::kTitle] = token;
        break;
      case 2:
        a.fields[pdb::kLastName] = token;
        break;
      case 3:
        a.fields[full.empty() ? pdb::kPhone1 : full[0]] = token;
        break;
      case 4:  // a phone deleted, or (none left) one added
        if (!full.empty()) {
          a.fields[full.back()].reset();
          a.fields[pdb::kCity] = token;
          break;
        }
        [[fallthrough]];
      case 5:
        a.fields[empty.empty() ? pdb::kPhone5 : empty[0]] = token;
        break;
      default: {
        std::vector<int> slots;
        for (int i = 0; i < 16; ++i)
          if (!names[i].empty()) slots.push_back(i);
        r.attributes =
            static_cast<std::uint8_t>((r.attributes & 0xF0) | slots[what % slots.size()]);
        a.fields[pdb::kTitle] = token;
      }
    }
    r.data = pdb::EncodeAddressRecord(a);
  } else {
    pdb::DatebookRecord d = pdb::DecodeDatebookRecord(r.data);
    switch (what % 4) {
      case 0:
        d.description = Utf8ToPalm(token + kRich);
        break;
      case 1:
        d.note = Utf8ToPalm(token + kRich);
        break;
      case 2:  // repeating daily, or no longer (and no exceptions then)
        d.repeat = d.repeat ? std::nullopt : std::optional(pdb::DatebookRepeat{1});
        if (!d.repeat) d.exceptions.clear();
        d.note = token;
        break;
      default:
        d.start_hour = static_cast<std::uint8_t>(7 + what % 12);
        d.start_minute = 15;
        d.end_hour = static_cast<std::uint8_t>(d.start_hour + 2);
        d.end_minute = 0;
        d.note = token;
    }
    r.data = pdb::EncodeDatebookRecord(d);
  }
  if (what % 4 == 3) r.attributes ^= kSecret;
  r.attributes |= kDirty;
}

// Changes a card or event as another program would: one mapped property
// (`what` picks which) takes `token`.
inline void EditItem(const Example& e, DeskFile& file, std::pair<std::size_t, std::size_t> item,
                     int what, const std::string& token, const std::vector<std::string>& names) {
  if (what % 4 == 3) {  // made private, or no longer
    if (const std::size_t at = file.Find(item, "CLASS")) {
      file.lines.erase(file.lines.begin() + static_cast<std::ptrdiff_t>(at));
      --item.second;
    } else {
      file.Set(item, "CLASS", "CLASS:PRIVATE");
      ++item.second;
    }
  }
  if (e.address) {
    switch (what % 6) {
      case 0:
        file.Set(item, "NOTE", "NOTE:" + EscapeText(token + kRich));
        break;
      case 1:
        file.Set(item, "TITLE", "TITLE:" + token);
        break;
      case 2:
        file.Set(item, "N", "N:" + token + ";;;;");
        file.Set(item, "FN", "FN:" + token);
        break;
      case 3:
        if (file.Phones(item) < 5) {  // one more
          file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(item.second),
                            "TEL;TYPE=HOME:5" + token);
        } else {
          const std::size_t tel = file.Find(item, "TEL");
          const std::string line = file.lines[tel ? tel : file.Find(item, "EMAIL")];
          file.Set(item, line.substr(0, line.find(':')),
                   line.substr(0, line.find(':') + 1) + token);
        }
        break;
      case 4:
        file.Set(item, "ADR", "ADR:;;" + token + " Street;Millbrook;;;");
        break;
      default: {  // now and then a category the handheld lacks (a few: slots run out)
        static const char* const kNew[] = {"Errands", "Garden", "Travel"};
        file.Set(item, "CATEGORIES",
                 std::string("CATEGORIES:") +
                     (what % 4 == 1 ? kNew[what % 3] : names[what % names.size()]));
        file.Set(item, "TITLE", "TITLE:" + token);
      }
    }
    return;
  }
  if (what % 5 == 1) {  // repeating weekly, or no longer
    if (const std::size_t rule = file.Find(item, "RRULE")) {
      file.lines.erase(file.lines.begin() + static_cast<std::ptrdiff_t>(rule));
      --item.second;
      while (const std::size_t x = file.Find(item, "EXDATE")) {
        file.lines.erase(file.lines.begin() + static_cast<std::ptrdiff_t>(x));
        --item.second;
      }
    } else {
      file.Set(item, "RRULE", "RRULE:FREQ=WEEKLY");
      ++item.second;
    }
  }
  const std::size_t start = file.Find(item, "DTSTART");
  if (what % 3 == 2 && start && !file.Find(item, "RRULE")) {
    const std::string day = file.lines[start].substr(file.lines[start].find(':') + 1, 8);
    const std::string hour = std::to_string(10 + what % 9);
    if (const std::size_t duration = file.Find(item, "DURATION")) {
      file.lines.erase(file.lines.begin() + static_cast<std::ptrdiff_t>(duration));
      --item.second;
    }
    file.Set(item, "DTSTART", "DTSTART:" + day + "T" + hour + "3000");
    file.Set(item, "DTEND", "DTEND:" + day + "T" + hour + "4500");
  }
  file.Set(item, what % 3 == 0 ? "SUMMARY" : "DESCRIPTION",
           (what % 3 == 0 ? "SUMMARY:" : "DESCRIPTION:") + EscapeText(token + kRich));
}

// The lines of a new card or event holding `token`, with a UID of another
// program's or none.
inline std::vector<std::string> NewItem(const Example& e, const std::string& token, bool uid,
                                        int serial) {
  std::vector<std::string> lines{"BEGIN:" + e.kind};
  if (uid) lines.push_back("UID:other-" + token);
  if (e.address && serial % 3 == 0) {  // a company, no N, an e-mail address
    lines.insert(lines.end(), {"VERSION:3.0", "FN:" + token + " Ltd", "ORG:" + token + " Ltd;Sales",
                               "EMAIL;TYPE=INTERNET:" + token + "@example.org"});
  } else if (e.address) {
    lines.insert(lines.end(), {"VERSION:3.0", "N:" + token + ";Pat;;;", "FN:Pat " + token,
                               "TEL;TYPE=CELL:5" + token});
  } else {
    char day[16], next[16];
    std::snprintf(day, sizeof day, "2027%02d%02d", 1 + serial % 12, 1 + serial % 28);
    std::snprintf(next, sizeof next, "2027%02d%02d", 1 + serial % 12, 2 + serial % 28);
    lines.insert(lines.end(), {"DTSTAMP:20270101T000000Z", "SUMMARY:" + token});
    if (serial % 3 == 0) {  // all day
      lines.insert(lines.end(), {"DTSTART;VALUE=DATE:" + std::string(day),
                                 "DTEND;VALUE=DATE:" + std::string(next)});
    } else {
      lines.insert(lines.end(), {"DTSTART:" + std::string(day) + "T140000",
                                 "DTEND:" + std::string(day) + "T150000"});
    }
  }
  lines.push_back("END:" + e.kind);
  return lines;
}

// A property only the desktop holds, holding `token`: `what` picks a PHOTO
// (folded), an X- property, a sixth phone (when the card has five), an
// ATTENDEE.
inline std::string Extra(const Example& e, int what, const std::string& token, std::size_t phones) {
  if (e.address && what % 3 == 0) {
    std::string photo = "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ" + token;
    while (photo.size() < 150) photo += "AAQABAAD";
    for (std::size_t at = 75; at < photo.size(); at += 77) photo.insert(at, "\r\n ");
    return photo;
  }
  if (e.address && what % 3 == 1 && phones >= 5) return "TEL;TYPE=CAR:7" + token;
  if (!e.address && what % 2 == 0)
    return "ATTENDEE;CN=Pat " + token + ":mailto:" + token + "@example.org";
  return "X-OTHER-APP-NOTE:" + token;
}

// The items that differ between the handheld (H) and the desktop (D).
inline std::string Difference(const Views& handheld, const Views& desktop) {
  std::string out;
  for (const auto& [side, views, other] :
       {std::tuple{"H ", &handheld, &desktop}, {"D ", &desktop, &handheld}})
    for (const auto& v : *views)
      if (std::find(other->begin(), other->end(), v) == other->end())
        out += "\n  " + std::string(side) + std::to_string(v.first) + " " + v.second;
  return out;
}

// What a line only the desktop holds belongs to.
struct Kept {
  std::uint32_t id;  // its record's, 0 until the item has one
  std::string token;
};

// A round of edits on both sides, and what the rules promise of it.
struct Edits {
  Views handheld, desktop;           // each side after the edits
  std::set<std::string> made;        // the versions made: each there once
  std::set<std::string> gone;        // deleted on one side, left alone on the other
  std::set<std::uint32_t> archived;  // the records archived on the handheld
  int conflicts = 0;                 // items changed on both sides
};

// A fixture synchronising the examples through the runner.
class ExampleSync : public RunnerChild {
 protected:
  ExampleSync(const std::string& tag, unsigned seed)
      : RunnerChild(tag), random_(Knob("FERNWICK_EXAMPLE_SEED", static_cast<int>(seed))) {}

  fs::path Pdb(const Example& e) const { return Handheld() / (e.database + ".pdb"); }
  fs::path File(const Example& e) const { return Desktop() / e.folder / e.file; }

  // The sample handheld's database of `e`, synchronised once.
  void Begin(const Example& e) {
    fs::copy_file(fs::path(FERNWICK_SOURCE_DIR) / "samples/handheld" / (e.database + ".pdb"),
                  Pdb(e));
    ASSERT_TRUE(SyncToTheEnd(e.conduit, "slow"));
    TakeLog();
  }
  // A synchronisation that must change nothing.
  void ExpectNothingToDo(const Example& e, const std::string& type) {
    const std::string file = ReadFile(File(e));
    const std::vector<pdb::PdbRecord> records = pdb::ReadPdbFile(Pdb(e)).records;
    ASSERT_TRUE(SyncToTheEnd(e.conduit, type));
    const std::string log = TakeLog();
    EXPECT_NE(log.find(": 0 to the desktop, 0 to the handheld, 0 deleted, 0 archived, 0 conflicts"),
              std::string::npos)
        << log;
    const std::string after = ReadFile(File(e));
    if (after != file) {
      const auto [old_end, new_end] =
          std::mismatch(file.begin(), file.end(), after.begin(), after.end());
      const std::size_t at = file.rfind('\n', static_cast<std::size_t>(old_end - file.begin()));
      const std::size_t from = at == std::string::npos ? 0 : at + 1;
      ADD_FAILURE() << "a second synchronisation rewrote the desktop file from:\n"
                    << file.substr(from, 300) << "\nto:\n"
                    << after.substr(from, 300);
    }
    EXPECT_TRUE(pdb::ReadPdbFile(Pdb(e)).records == records) << "and the handheld";
  }

  std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(random_() % n); }
  std::string Fresh(const char* side) { return side + std::to_string(++serial_) + "x"; }

  // Random edits on both sides of converged files (a few per side, each on
  // an item of its own), written to the files.
  Edits EditBothSides(const Example& e);
  // Checks the sides after a synchronisation of `type` ran to its end.
  void ExpectByTheRules(const Example& e, const Edits& edits, const std::string& type);

  std::mt19937 random_;
  int serial_ = 0;
  std::map<std::string, Kept> extras_;  // the lines only the desktop holds
};

inline Edits ExampleSync::EditBothSides(const Example& e) {
  pdb::PdbDatabase hh = pdb::ReadPdbFile(Pdb(e));
  const auto names = pdb::DecodeCategoryInfo(*hh.app_info).names;
  std::vector<std::string> used_names;
  for (const std::string& n : names)
    if (!n.empty()) used_names.push_back(n);
  DeskFile desk(ReadFile(File(e)));
  const Views start = HandheldViews(e, hh);
  const std::map<std::uint32_t, std::string> was(start.begin(), start.end());
  auto id_of = [&](std::pair<std::size_t, std::size_t> item) {
    std::string text;
    for (std::size_t i = item.first; i <= item.second; ++i) text += desk.lines[i] + "\r\n";
    return ItemId(e, ReadVObjects(text).at(0));
  };
  for (const auto& item : desk.Items(e.kind))  // new items have their ids now
    for (auto& [line, kept] : extras_)
      for (std::size_t i = item.first; kept.id == 0 && i < item.second; ++i)
        if (desk.lines[i] == line) kept.id = id_of(item);

  // The handheld's edits, each on a record of its own.
  std::set<std::uint32_t> hh_touched, archived;
  for (int n = static_cast<int>(Pick(4)); n > 0; --n) {
    std::vector<pdb::PdbRecord*> can;
    for (pdb::PdbRecord& r : hh.records)
      if ((r.attributes & kDeleted) == 0 && hh_touched.count(r.unique_id) == 0) can.push_back(&r);
    const std::size_t what = Pick(100);
    if (what < 25 || can.empty()) {
      pdb::PdbRecord r{kDirty, ++hh.unique_id_seed, NewRecordData(e, Fresh("hn"), serial_)};
      hh_touched.insert(r.unique_id);
      hh.records.push_back(r);
      continue;
    }
    pdb::PdbRecord& r = *can[Pick(can.size())];
    hh_touched.insert(r.unique_id);
    if (what < 70) {
      EditRecord(e, r, static_cast<int>(Pick(84)), Fresh("h"), names);
    } else if (what < 85) {
      r.attributes = kDeleted | kDirty;
    } else {
      r.attributes = static_cast<std::uint8_t>(kDeleted | kDirty | kArchived | (r.attributes & 7));
      archived.insert(r.unique_id);
    }
  }
  // The desktop's edits, each on an item of its own.
  std::set<std::uint32_t> desk_touched;
  for (int n = static_cast<int>(Pick(5)); n > 0; --n) {
    const auto items = desk.Items(e.kind);
    std::vector<std::pair<std::size_t, std::size_t>> can;
    for (const auto& item : items)
      if (const std::uint32_t id = id_of(item); id != 0 && desk_touched.count(id) == 0)
        can.push_back(item);
    std::vector<std::pair<std::size_t, std::size_t>> both;
    for (const auto& item : can)
      if (hh_touched.count(id_of(item)) != 0) both.push_back(item);
    if (!both.empty() && Pick(2) == 0) {
      can = both;  // conflicts, changed against deleted
    }
    const std::size_t what = Pick(100);
    if (what < 20 || can.empty()) {
      const auto lines = NewItem(e, Fresh("dn"), Pick(2) == 0, serial_);
      desk.lines.insert(e.address ? desk.lines.end() : desk.lines.end() - 1, lines.begin(),
                        lines.end());
      continue;
    }
    const auto item = can[Pick(can.size())];
    const std::uint32_t id = id_of(item);
    if (what < 60) {
      desk_touched.insert(id);
      EditItem(e, desk, item, static_cast<int>(Pick(60)), Fresh("d"), used_names);
    } else if (what < 75) {
      desk_touched.insert(id);
      std::erase_if(extras_, [&](const auto& x) { return x.second.id == id; });
      desk.lines.erase(desk.lines.begin() + static_cast<std::ptrdiff_t>(item.first),
                       desk.lines.begin() + static_cast<std::ptrdiff_t>(item.second) + 1);
    } else if (std::any_of(hh.records.begin(), hh.records.end(), [&](const pdb::PdbRecord& r) {
                 return r.unique_id == id && (r.attributes & kDeleted) == 0;
               })) {  // not on a record deleted on the handheld: that deletion wins
      const std::string token = Fresh("x");
      const std::string line = Extra(e, static_cast<int>(Pick(6)), token, desk.Phones(item));
      extras_[line] = {id, token};
      desk.lines.insert(desk.lines.begin() + static_cast<std::ptrdiff_t>(item.second), line);
    }
  }

  // What the rules promise of this round's edits.
  const Views hh_views = HandheldViews(e, hh);
  const Views desk_views = DesktopViews(e, desk.Text());
  const std::map<std::uint32_t, std::string> hh_now(hh_views.begin(), hh_views.end());
  std::map<std::uint32_t, std::string> desk_now;
  std::set<std::string> made, gone;
  for (const auto& [id, text] : desk_views) {
    if (id == 0 || was.count(id) == 0 || was.at(id) != text) made.insert(text);
    if (id != 0) desk_now[id] = text;
  }
  int conflicts = 0;
  for (const auto& [id, text] : was) {
    const bool hh_changed = hh_now.count(id) && hh_now.at(id) != text;
    const bool desk_changed = desk_now.count(id) && desk_now.at(id) != text;
    if (hh_changed) made.insert(hh_now.at(id));
    conflicts += hh_changed && desk_changed;
    if ((!hh_now.count(id) && !archived.count(id) && desk_now.count(id) && !desk_changed) ||
        (!desk_now.count(id) && hh_now.count(id) && !hh_changed))
      gone.insert(text);
  }
  for (const auto& [id, text] : hh_now)
    if (was.count(id) == 0) made.insert(text);
  pdb::WritePdbFileAtomically(Pdb(e), hh);
  WriteFile(File(e), desk.Text());
  return {hh_views, desk_views, made, gone, archived, conflicts};
}

inline void ExampleSync::ExpectByTheRules(const Example& e, const Edits& edits,
                                          const std::string& type) {
  const Views on_handheld = HandheldViews(e, pdb::ReadPdbFile(Pdb(e)));
  const std::string text = ReadFile(File(e));
  const Views on_desktop = DesktopViews(e, text);
  ASSERT_TRUE(on_handheld == on_desktop)
      << "the sides differ:" << Difference(on_handheld, on_desktop);
  const std::multiset<std::string> texts = Texts(on_handheld);
  if (type == "fast" || type == "slow") {
    for (const std::string& t : edits.made) EXPECT_EQ(texts.count(t), 1u) << t;
    for (const std::string& t : edits.gone) EXPECT_EQ(texts.count(t), 0u) << t << " is back";
    std::multiset<std::uint32_t> archive;
    for (const TVComponent& c : Items(e, ReadFile(Desktop() / e.folder / e.archive)))
      archive.insert(ItemId(e, c));
    for (const std::uint32_t id : edits.archived)
      EXPECT_EQ(archive.count(id), 1u) << "record " << id << " in the archive";
  } else if (type == "pctohh") {
    EXPECT_EQ(texts, Texts(edits.desktop));
  } else {
    EXPECT_EQ(on_handheld, edits.handheld);
  }
  // What only the desktop holds stays there as it was, and off the handheld.
  std::set<std::uint32_t> ids;
  for (const auto& [id, view] : on_handheld) ids.insert(id);
  std::erase_if(extras_, [&](const auto& x) {
    return x.second.id == 0 ? type == "hhtopc" : ids.count(x.second.id) == 0;
  });
  std::string records;
  for (const pdb::PdbRecord& r : pdb::ReadPdbFile(Pdb(e)).records)
    records.append(r.data.begin(), r.data.end());
  for (const auto& [line, kept] : extras_) {
    EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos)
        << line << " of " << kept.id << "\n"
        << text.substr(text.rfind("BEGIN", text.find(std::to_string(kept.id))), 600);
    EXPECT_EQ(records.find(kept.token), std::string::npos) << line << " reached the handheld";
  }
}

}  // namespace fernwick::testing
