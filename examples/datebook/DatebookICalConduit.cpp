// An example two-way conduit: the Date Book as an iCalendar file (RFC 5545)
// that desktop calendars read and write, <desktop folder>/DateBook/
// DateBook.ics, one VEVENT per event, and the events archived on the
// handheld in DateBook-archive.ics (kept by id). The mirror-sync engine
// (<fernwick/sync/DorvMirrorSync.h>) does the synchronisation; this file is
// the mapping between an event and a record.
//
// Identity: an event's UID is "<record id>@DatebookDB". An event another
// program made keeps its own UID; its record id is kept beside it in an
// X-FERNWICK-ID property. An event with neither is new, and gets both.
//
// Reading (examples/common/ICalendar.h): DTSTART and DTEND or DURATION in
// any form, a zoned or UTC time brought to the desktop's local time (the
// handheld keeps local times only); an all-day event is untimed. SUMMARY is
// the description, DESCRIPTION the note, CLASS PRIVATE or CONFIDENTIAL the
// secret attribute. An RRULE the handheld can hold (daily, weekly on its
// days, monthly by date or by weekday including the last week, yearly; an
// INTERVAL; UNTIL or no end) becomes the repeat, the EXDATEs the
// exceptions, the first VALARM with a relative trigger the alarm. What the
// handheld cannot hold stays in the desktop file as it was: ATTENDEE,
// ORGANIZER, LOCATION, X- properties, other alarms, and a repeat rule it
// cannot express (COUNT, BYSETPOS, ...), for which the handheld gets the
// first occurrence only; an event longer than its day ends at 23:59 there.
// Each such change of meaning on the handheld gets a log line naming the
// event, at every synchronisation while it lasts.
//
// Writing: a record changed on the handheld updates its event in place:
// only the parts that changed (time, summary, note, alarm, repeat,
// exceptions, class) are written again, as floating local times; every
// other property and component stays as it was read, and so do the
// calendar's own properties, its VTIMEZONEs and its other components.
//
// A record that would give an invalid event (a date or exception that is
// no day of the calendar, a time past 23:59, an end before the start, more
// exceptions than the record holds) is left out of the file with a log line
// naming it ("Date Book: record 7 skipped: date 0x0C5F is no day of the
// calendar"); its id is listed in DateBook-skipped.txt, so that the next
// synchronisation sees it unchanged on the desktop and the handheld keeps
// it as it is. One archived that way, which the handheld then purges, is
// kept whole in DateBook-archive-skipped.txt, a line for each (by id):
// "<id>\t<why>\t<description>\t<note>\t<record>", the description and note
// with their tabs and line ends made spaces, the record its bytes as the
// handheld held them, two upper-case hex digits a byte.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "common/ICalendar.h"
#include "common/TextFormats.h"
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace {

using namespace fernwick;
using namespace fernwick::examples;
namespace fs = std::filesystem;

constexpr std::int32_t kAlarmFlag = 0x4000;
constexpr std::int32_t kRepeatFlag = 0x2000;
constexpr std::int32_t kNoteFlag = 0x1000;
constexpr std::int32_t kExceptionsFlag = 0x0800;
constexpr std::int32_t kDescriptionFlag = 0x0400;
constexpr std::int32_t kOurFlags = 0x7C00;
// The exceptions a record may hold here; one with more is skipped.
constexpr std::int32_t kMaxExceptions = 512;
constexpr const char* kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar.
std::int64_t DayNumber(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - static_cast<int>(era * 400);
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}
int Weekday(int y, int m, int d) {  // 0 Sunday
  return static_cast<int>(((DayNumber(y, m, d) % 7) + 11) % 7);
}
int Pack(int y, int m, int d) { return ((y - 1904) << 9) | (m << 5) | d; }
// The packed date of a time's day, or -1 outside the handheld's years.
int PackDay(const TICalTime& t) {
  return t.year < 1904 || t.year > 2031 ? -1 : Pack(t.year, t.month, t.day);
}
std::string DateText(int packed) {
  int y = 0, m = 0, d = 0;
  DecodePalmDate(packed, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}
// Handheld text as the desktop file holds it: line breaks as LF, other
// control characters but tab left out (EscapeText drops them too).
std::string Clean(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if ((c >= 0x20 && c != 0x7F) || c == '\n' || c == '\t') {
      out += text[i];
    }
  }
  return out;
}
std::string Hex(std::int32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(value & 0xFFFF));
  return buf;
}

// What a record holds of an event, compared part by part.
struct TMapped {
  int date = 0;  // packed
  bool untimed = true;
  int start_hour = 0, start_minute = 0, end_hour = 0, end_minute = 0;
  std::optional<std::string> summary, note;  // UTF-8
  std::optional<std::int64_t> alarm;         // seconds before the start (minus: after)
  struct TRepeat {
    int type = 0, end = 0xFFFF, frequency = 1, on = 0, start_of_week = 0;
    bool operator==(const TRepeat&) const = default;
  };
  std::optional<TRepeat> repeat;
  std::vector<int> exceptions;  // packed
  bool SameTime(const TMapped& o) const {
    return date == o.date && untimed == o.untimed &&
           (untimed || (start_hour == o.start_hour && start_minute == o.start_minute &&
                        end_hour == o.end_hour && end_minute == o.end_minute));
  }
};

// An item's value: the event as read or made, and what the record holds of
// it; or, with `skipped` set, a record the file leaves out.
struct TEvent {
  TVComponent vevent;
  TMapped mapped;
  std::string skipped;
  std::string words;  // of a skipped record: "\t<description>\t<note>"
  std::string bytes;  // of a skipped record: the record as the handheld held it
};

// The alarm of an advance of `seconds` before the start: the largest unit
// that holds it exactly, else the nearest the signed byte can hold.
constexpr std::int64_t kUnitSeconds[] = {60, 3600, 86400};
std::pair<int, int> Advance(std::int64_t seconds, bool& exact) {
  exact = true;
  const auto& units = kUnitSeconds;
  for (int unit = 2; unit >= 0; --unit) {
    if (seconds % units[unit] == 0 && std::abs(seconds / units[unit]) <= 127)
      return {static_cast<int>(seconds / units[unit]), unit};
  }
  exact = false;
  for (int unit = 0; unit <= 2; ++unit) {
    const std::int64_t n = (seconds + (seconds < 0 ? -1 : 1) * units[unit] / 2) / units[unit];
    if (std::abs(n) <= 127) return {static_cast<int>(n), unit};
  }
  return {seconds < 0 ? -127 : 127, 2};
}

// What the handheld can hold of `e`; each change of meaning goes to `notes`.
TMapped Map(const TICalEvent& e, const TICalendar& cal, std::vector<std::string>& notes) {
  TMapped m;
  std::string zone_note;
  TICalTime start = ToDesktopLocal(e.start, cal, &zone_note);
  if (!zone_note.empty()) notes.push_back(zone_note);
  if (PackDay(start) < 0) {
    notes.push_back(
        "its date is outside the handheld's years (1904 to 2031); the handheld "
        "shows it on the nearest day it holds");
    start.year = std::clamp(start.year, 1904, 2031);
    start.month = start.year == 1904 ? 1 : 12;
    start.day = start.year == 1904 ? 1 : 31;
  }
  m.date = PackDay(start);
  const TICalTime end = ToDesktopLocal(e.End(), cal);
  const std::int64_t day = DayNumber(start.year, start.month, start.day);
  const std::int64_t end_day = DayNumber(end.year, end.month, end.day);
  m.untimed = start.kind == TICalTime::kDate;
  if (m.untimed) {
    if (end_day > day + 1)
      notes.push_back("it lasts several days; the handheld shows its first day only");
  } else {
    m.start_hour = start.hour;
    m.start_minute = start.minute;
    m.end_hour = end.hour;
    m.end_minute = end.minute;
    if (end_day != day || end.hour * 60 + end.minute < start.hour * 60 + start.minute) {
      if (end_day > day || end_day < day)
        notes.push_back(
            "it does not end on the day it starts; the handheld shows it ending at "
            "23:59");
      m.end_hour = 23;
      m.end_minute = 59;
    }
  }
  // Text as the handheld holds it (its character set, no control
  // characters), so that a record read back compares equal.
  const auto text = [&](const char* name, const std::string& value) -> std::optional<std::string> {
    if (!e.source.Find(name)) return std::nullopt;
    std::string held = Clean(PalmToUtf8(Utf8ToPalm(value)));
    if (held != value)
      notes.push_back(std::string(name) + " holds characters the handheld cannot show");
    return held;
  };
  m.summary = text("SUMMARY", e.summary);
  m.note = text("DESCRIPTION", e.description);
  for (const TICalAlarm& alarm : e.alarms) {
    if (!alarm.relative) continue;
    std::int64_t before = -alarm.offset;
    if (alarm.related_end) {
      const std::int64_t length =
          (end_day - day) * 86400 +
          (m.untimed ? 0 : (end.hour - start.hour) * 3600 + (end.minute - start.minute) * 60);
      before -= length;
    }
    bool exact = true;
    const auto [advance, unit] = Advance(before, exact);
    m.alarm = advance * kUnitSeconds[unit];
    if (!exact) notes.push_back("its alarm is moved to the nearest time the handheld can hold");
    break;
  }
  if (e.rrule) {
    std::string why;
    const TRRule& r = *e.rrule;
    // The handheld repeats monthly on a weekday of a week whatever day it
    // starts on (its own records do), so that is held too.
    const bool by_weekday = r.freq == TRRule::kMonthly && r.count == 0 && r.other_parts.empty() &&
                            r.by_month.empty() && r.by_month_day.empty() && r.by_day.size() == 1 &&
                            r.by_day[0].ordinal != 0 && r.by_day[0].ordinal >= -1 &&
                            r.by_day[0].ordinal <= 4;
    if (!by_weekday && !HandheldCanHold(r, e.start, &why)) {
      notes.push_back("its repeat rule cannot be held on the handheld (" + why +
                      "); the handheld shows its first occurrence only");
    } else if (r.interval > 255) {
      notes.push_back(
          "its repeat interval is more than the handheld holds; the handheld shows "
          "its first occurrence only");
    } else {
      TMapped::TRepeat rep;
      rep.frequency = r.interval;
      const int weekday = Weekday(start.year, start.month, start.day);
      // A zone may move the day: the days of the week move with it.
      const int shift = static_cast<int>(
          ((day - DayNumber(e.start.year, e.start.month, e.start.day)) % 7 + 7) % 7);
      if (r.freq == TRRule::kDaily) {
        rep.type = 1;
      } else if (r.freq == TRRule::kWeekly) {
        rep.type = 2;
        rep.start_of_week = r.week_start;
        for (const TWeekdayNum& d : r.by_day) rep.on |= 1 << ((d.weekday + shift) % 7);
        if (r.by_day.empty()) rep.on = 1 << weekday;
      } else if (r.freq == TRRule::kMonthly && !r.by_day.empty()) {
        rep.type = 3;
        const int ordinal = r.by_day[0].ordinal;
        rep.on = (ordinal < 0 ? 4 : ordinal - 1) * 7 + (r.by_day[0].weekday + shift) % 7;
      } else {
        rep.type = r.freq == TRRule::kMonthly ? 4 : 5;
      }
      if (r.until) {
        const int until = PackDay(ToDesktopLocal(*r.until, cal));
        rep.end = until < 0 ? 0xFFFF : until;
      }
      m.repeat = rep;
      for (const TICalTime& x : e.exdates) {
        const int packed = PackDay(ToDesktopLocal(x, cal));
        if (packed >= 0) m.exceptions.push_back(packed);
      }
      if (m.exceptions.size() > static_cast<std::size_t>(kMaxExceptions)) {
        notes.push_back(
            "it has more exceptions than the handheld holds here; the handheld gets the first " +
            std::to_string(kMaxExceptions));
        m.exceptions.resize(static_cast<std::size_t>(kMaxExceptions));
      }
    }
  }
  return m;
}

TVProperty Line(const std::string& name, const std::string& value,
                std::vector<TVParameter> params = {}) {
  TVProperty p;
  p.name = name;
  p.value = value;
  p.params = std::move(params);
  return p;
}
void Remove(TVComponent& c, std::initializer_list<const char*> names) {
  std::erase_if(c.properties, [&](const TVProperty& p) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return p.name == n; });
  });
}
void SetText(TVComponent& c, const char* name, const std::optional<std::string>& text) {
  TVProperty* p = c.Find(name);
  if (!text) {
    Remove(c, {name});
  } else if (p) {
    if (p->Text() != *text) p->SetText(*text);
  } else {
    c.properties.push_back(Line(name, EscapeText(*text)));
  }
}

// Writes the parts of `m` that differ from `old` (all of them without one)
// into `c`.
void Update(TVComponent& c, const TMapped& m, const TMapped* old) {
  const TVProperty* dtstart = c.Find("DTSTART");
  const bool floating = dtstart && dtstart->Param("TZID").empty() && !dtstart->value.ends_with('Z');
  const bool repeat_changed = !old || old->repeat != m.repeat;
  // A repeat rule the handheld does not hold (old and new without one) is
  // left as written, with its exceptions.
  const bool held = !old || old->repeat || m.repeat;
  const bool exceptions_changed = !old || old->exceptions != m.exceptions;
  // UNTIL and EXDATE take the form of DTSTART: with a time of a zone
  // rewritten, the time is rewritten too, as a local time.
  const bool time_changed =
      !old || !old->SameTime(m) || ((repeat_changed || exceptions_changed) && !floating);
  char time[16] = "";
  if (!m.untimed) std::snprintf(time, sizeof time, "T%02d%02d00", m.start_hour, m.start_minute);
  if (time_changed) {
    Remove(c, {"DTSTART", "DTEND", "DURATION"});
    const std::vector<TVParameter> date{{"VALUE", {"DATE"}}};
    if (m.untimed) {
      TICalTime t;
      t.kind = TICalTime::kDate;
      DecodePalmDate(m.date, t.year, t.month, t.day);
      t = AddSeconds(t, 86400);
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year, t.month, t.day);
      c.properties.push_back(Line("DTSTART", DateText(m.date), date));
      c.properties.push_back(Line("DTEND", buf, date));
    } else {
      char end[16];
      std::snprintf(end, sizeof end, "T%02d%02d00", m.end_hour, m.end_minute);
      c.properties.push_back(Line("DTSTART", DateText(m.date) + time));
      c.properties.push_back(Line("DTEND", DateText(m.date) + end));
    }
  }
  if (!old || old->summary != m.summary) SetText(c, "SUMMARY", m.summary);
  if (!old || old->note != m.note) SetText(c, "DESCRIPTION", m.note);
  if (repeat_changed || (time_changed && held)) {
    Remove(c, {"RRULE"});
    if (const auto& r = m.repeat; r && r->type >= 1 && r->type <= 5) {
      static const char* kFreq[] = {"", "DAILY", "WEEKLY", "MONTHLY", "MONTHLY", "YEARLY"};
      std::string rule = std::string("FREQ=") + kFreq[r->type] +
                         ";INTERVAL=" + std::to_string(std::max(1, r->frequency));
      if (r->type == 2) {
        std::string days;
        for (int d = 0; d < 7; ++d)
          if ((r->on >> d) & 1) days += std::string(days.empty() ? "" : ",") + kDays[d];
        if (!days.empty()) rule += ";BYDAY=" + days;
        rule += std::string(";WKST=") + kDays[r->start_of_week % 7];
      } else if (r->type == 3) {
        const int week = r->on / 7;
        rule += ";BYDAY=" + (week >= 4 ? std::string("-1") : std::to_string(week + 1)) +
                kDays[r->on % 7];
      }
      if (IsValidPalmDate(r->end))
        rule += ";UNTIL=" + DateText(r->end) + (m.untimed ? "" : "T235959");
      c.properties.push_back(Line("RRULE", rule));
    }
  }
  if (exceptions_changed || (time_changed && held)) {
    Remove(c, {"EXDATE"});
    for (const int x : m.exceptions) {
      c.properties.push_back(m.untimed ? Line("EXDATE", DateText(x), {{"VALUE", {"DATE"}}})
                                       : Line("EXDATE", DateText(x) + time));
    }
  }
  // A trigger related to the end moves with the time: it is written again,
  // related to the start, with the time.
  if (!old || old->alarm != m.alarm || time_changed) {
    // The first alarm with a relative trigger is the record's.
    auto found = std::find_if(c.components.begin(), c.components.end(), [](TVComponent& a) {
      const TVProperty* t = a.name == "VALARM" ? a.Find("TRIGGER") : nullptr;
      return t && t->Param("VALUE") != "DATE-TIME";
    });
    if (!m.alarm) {
      if (found != c.components.end()) c.components.erase(found);
    } else {
      bool exact = true;
      const auto [advance, unit] = Advance(*m.alarm, exact);
      const std::string amount = std::to_string(std::abs(advance));
      const std::string trigger = (advance > 0 ? "-" : "") + (unit == 2   ? "P" + amount + "D"
                                                              : unit == 1 ? "PT" + amount + "H"
                                                                          : "PT" + amount + "M");
      if (found == c.components.end()) {
        TVComponent alarm;
        alarm.name = "VALARM";
        alarm.properties = {Line("ACTION", "DISPLAY"),
                            Line("DESCRIPTION", EscapeText(m.summary.value_or("Reminder"))),
                            Line("TRIGGER", trigger)};
        c.components.push_back(std::move(alarm));
      } else {
        Remove(*found, {"TRIGGER"});
        found->properties.push_back(Line("TRIGGER", trigger));
      }
    }
  }
}

class TDateBookFiles : public TDorvSyncAdapter {
 public:
  TDateBookFiles(fs::path folder, TDorvConduit& conduit, TDorvPalmField& exceptions)
      : folder_(std::move(folder)), log_(conduit), exceptions_(exceptions) {}

  std::vector<TDorvSyncItem> ReadDesktop() override {
    // The records left out: "<id>\t<why>\t<description>\t<note>".
    std::map<std::uint32_t, TEvent> skipped;
    std::ifstream in(folder_ / "DateBook-skipped.txt");
    for (std::string line; std::getline(in, line);) {
      const std::size_t tab = line.find('\t');
      const auto id = static_cast<std::uint32_t>(std::strtoul(line.c_str(), nullptr, 10));
      if (id == 0 || tab == std::string::npos) continue;
      TEvent& e = skipped[id];
      e.skipped = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
      e.words = line.substr(std::min(line.size(), tab + 1 + e.skipped.size()));
    }
    std::vector<TDorvSyncItem> items;
    // The archive is read now, before anything is written: one that cannot
    // be read stops the synchronisation while both sides are untouched.
    archive_ = Read(folder_ / "DateBook-archive.ics");
    const TICalendar cal = Read(folder_ / "DateBook.ics");
    calendar_ = cal.source;
    overrides_.clear();
    for (const TICalEvent& e : cal.events) {
      // A changed occurrence of a repeating event shares its UID: it stays
      // on the desktop, beside its event.
      if (e.source.Find("RECURRENCE-ID")) {
        overrides_.push_back(e.source);
        continue;
      }
      TDorvSyncItem& item = items.emplace_back();
      item.id = Id(e.source);
      item.secret = e.klass == "PRIVATE" || e.klass == "CONFIDENTIAL";
      std::vector<std::string> notes;
      TEvent value{e.source, Map(e, cal, notes), {}, {}, {}};
      // The event of a record left out stays as it is until the record
      // can be read again.
      if (const auto found = skipped.find(item.id); item.id != 0 && found != skipped.end()) {
        value.skipped = found->second.skipped;
        value.words = found->second.words;
        skipped.erase(found);
        notes.clear();
      }
      for (const std::string& note : notes)
        log_.AddLogEntry("Date Book: event \"" + e.summary + "\" (" + e.uid + "): " + note +
                         "; the desktop keeps it as written");
      item.value = std::move(value);
    }
    for (auto& [id, e] : skipped) items.push_back(TDorvSyncItem{id, {}, {}, std::move(e)});
    return items;
  }

  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    const TEvent& e = std::any_cast<const TEvent&>(item.value);
    if (!e.skipped.empty()) return;  // the record stays as the handheld has it
    const bool fresh = fields.FieldByName("Date")->Value().IsEmpty();
    TMapped old;
    if (!fresh && Decode(fields, old).empty()) {
      Write(fields, e.mapped, &old);
    } else {
      Write(fields, e.mapped, nullptr);
    }
  }

  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem* previous) override {
    TEvent e;
    e.skipped = Decode(fields, e.mapped);
    if (!e.skipped.empty()) {
      // Its words go with it into the skipped lists, one line each.
      const std::int32_t flags = fields.FieldByName("Flags")->GetAsInteger();
      for (const auto& [name, flag] :
           {std::pair{"Description", kDescriptionFlag}, std::pair{"Note", kNoteFlag}}) {
        std::string text =
            (flags & flag) != 0 ? Clean(PalmToUtf8(fields.FieldByName(name)->GetAsString())) : "";
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\n' || c == '\t'; }, ' ');
        e.words += "\t" + text;
      }
      // The whole record, for the archive: the handheld purges it.
      e.bytes = RecordBytes();
      // The event it had stays as it was.
      if (const TEvent* old = previous ? std::any_cast<TEvent>(&previous->value) : nullptr) {
        e.vevent = old->vevent;
        e.mapped = old->mapped;
      }
      return TDorvSyncItem{0, {}, {}, std::move(e)};
    }
    const TEvent* old = previous ? std::any_cast<TEvent>(&previous->value) : nullptr;
    if (old && !old->vevent.name.empty()) {
      e.vevent = old->vevent;
      Update(e.vevent, e.mapped, &old->mapped);
    } else {
      e.vevent.name = "VEVENT";
      e.vevent.properties.push_back(Line("DTSTAMP", Stamp()));
      Update(e.vevent, e.mapped, nullptr);
    }
    return TDorvSyncItem{0, {}, {}, std::move(e)};
  }

  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    writer.MakeFolders(folder_);
    // The engine gives the events in the file's order, new ones after them.
    std::vector<const TDorvSyncItem*> events;
    for (const TDorvSyncItem& item : live) events.push_back(&item);
    std::string skipped;
    writer.Write(folder_ / "DateBook.ics", Calendar(calendar_, events, skipped, false));
    writer.Write(folder_ / "DateBook-skipped.txt", skipped);
    if (archived.empty()) return;
    // The archive keeps its events by id: a record archived again (a
    // synchronisation cut short before the purge) replaces its event.
    TICalendar& old = archive_;
    std::map<std::uint32_t, TDorvSyncItem> by_id;
    std::vector<TDorvSyncItem> all;  // events of no id first, as they are
    for (TICalEvent& e : old.events) {
      const std::uint32_t id = Id(e.source);
      TDorvSyncItem item{id, {}, {}, TEvent{e.source, {}, {}, {}, {}}};
      if (id == 0) {
        all.push_back(std::move(item));
      } else {
        by_id[id] = std::move(item);
      }
    }
    for (const TDorvSyncItem& item : archived) by_id[item.id] = item;
    for (auto& [id, item] : by_id) all.push_back(std::move(item));
    std::vector<const TDorvSyncItem*> in_archive;
    for (const TDorvSyncItem& item : all) in_archive.push_back(&item);
    std::string lines;
    writer.Write(folder_ / "DateBook-archive.ics", Calendar(old.source, in_archive, lines, true));
    if (lines.empty()) return;
    // Its list of records left out, by id as well.
    std::map<unsigned long, std::string> listed;
    std::ifstream in(folder_ / "DateBook-archive-skipped.txt", std::ios::binary);
    for (std::string line; std::getline(in, line);)
      listed[std::strtoul(line.c_str(), nullptr, 10)] = line;
    std::istringstream added(lines);
    for (std::string line; std::getline(added, line);)
      listed[std::strtoul(line.c_str(), nullptr, 10)] = line;
    lines.clear();
    for (const auto& [id, line] : listed) lines += line + "\n";
    writer.Write(folder_ / "DateBook-archive-skipped.txt", lines);
  }

 private:
  static TICalendar Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in && fs::exists(path)) throw EDorvConduitError("Cannot read " + path.string());
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    try {
      return ReadICalendar(text);
    } catch (const EVObjectError& error) {
      throw EDorvConduitError(path.string() + " line " + std::to_string(error.Line()) + ": " +
                              error.what());
    }
  }

  // The record id an event carries: from its UID "<id>@DatebookDB", else
  // its X-FERNWICK-ID; 0 when none.
  static std::uint32_t Id(const TVComponent& c) {
    const TVProperty* uid = c.Find("UID");
    std::string text = uid ? uid->Text() : "";
    if (!text.ends_with("@DatebookDB")) {
      const TVProperty* mine = c.Find("X-FERNWICK-ID");
      text = mine ? mine->Text() : "";
    }
    if (text.empty() || text[0] < '1' || text[0] > '9') return 0;
    return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  }

  static std::string Stamp() {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    if (utc == nullptr || std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", utc) == 0)
      return "19700101T000000Z";
    return stamp;
  }

  // The file of `items` in the calendar read as `source` (its properties
  // and components other than events kept). Records left out are logged
  // and added to `skipped`.
  std::string Calendar(const std::vector<TVComponent>& source,
                       const std::vector<const TDorvSyncItem*>& items, std::string& skipped,
                       bool archive) {
    TVComponent cal;
    cal.name = "VCALENDAR";
    for (const TVComponent& c : source) {
      if (c.name != "VCALENDAR") continue;
      if (cal.properties.empty()) cal.properties = c.properties;
      for (const TVComponent& inner : c.components)
        if (inner.name != "VEVENT") cal.components.push_back(inner);
    }
    if (cal.properties.empty())
      cal.properties = {Line("VERSION", "2.0"),
                        Line("PRODID", "-//Fernwick//Date Book example//EN")};
    std::set<std::string> uids;
    for (const TDorvSyncItem* each : items) {
      const TDorvSyncItem& item = *each;
      const TEvent& e = std::any_cast<const TEvent&>(item.value);
      if (!e.skipped.empty()) {
        log_.AddLogEntry("Date Book: record " + std::to_string(item.id) + " skipped: " + e.skipped +
                         (archive ? " (archived: listed in DateBook-archive-skipped.txt)" : ""));
        skipped += std::to_string(item.id) + "\t" + e.skipped + e.words;
        if (archive) {
          skipped += '\t';
          for (const char c : e.bytes) {
            skipped += "0123456789ABCDEF"[(c >> 4) & 0x0F];
            skipped += "0123456789ABCDEF"[c & 0x0F];
          }
        }
        skipped += '\n';
        if (e.vevent.name.empty()) continue;
        log_.AddLogEntry("Date Book: record " + std::to_string(item.id) +
                         ": its event stays in the file as it was");
      }
      TVComponent v = e.vevent;
      if (item.id == 0) {  // an archived event of another program's, as it was
        cal.components.push_back(std::move(v));
        continue;
      }
      const std::string ours = std::to_string(item.id) + "@DatebookDB";
      TVProperty* uid = v.Find("UID");
      // A UID met twice (the desktop's version of a conflict) is made ours;
      // so is one of ours naming another record (an event changed on the
      // desktop whose record the handheld deleted comes back as a new
      // record): read back, it would name the old one, and be new again.
      if (uid && (uids.count(uid->Text()) != 0 ||
                  (uid->Text().ends_with("@DatebookDB") && uid->Text() != ours))) {
        Remove(v, {"UID"});
        uid = nullptr;
      }
      if (!uid) v.properties.insert(v.properties.begin(), Line("UID", ours));
      uid = v.Find("UID");
      uids.insert(uid->Text());
      // Left where it is when it already says so: moved to the end behind
      // a property added after it (CLASS), it would rewrite the file at a
      // synchronisation with nothing to do.
      const std::string mine = uid->Text() != ours ? std::to_string(item.id) : "";
      if (const TVProperty* id = v.Find("X-FERNWICK-ID"); (id ? id->Text() : "") != mine) {
        Remove(v, {"X-FERNWICK-ID"});
        if (!mine.empty()) v.properties.push_back(Line("X-FERNWICK-ID", mine));
      }
      const TVProperty* klass = v.Find("CLASS");
      const bool secret = klass && (klass->Text() == "PRIVATE" || klass->Text() == "CONFIDENTIAL");
      if (item.secret && *item.secret != secret) {
        Remove(v, {"CLASS"});
        if (*item.secret) v.properties.push_back(Line("CLASS", "PRIVATE"));
      }
      cal.components.push_back(std::move(v));
    }
    if (!archive) {
      for (const TVComponent& o : overrides_) {
        const TVProperty* uid = o.Find("UID");
        if (uid && uids.count(uid->Text()) != 0) {
          cal.components.push_back(o);
        } else {
          log_.AddLogEntry("Date Book: a changed occurrence of event " +
                           (uid ? uid->Text() : std::string("without UID")) +
                           " goes with its event, deleted");
        }
      }
    }
    return WriteVObject(cal);
  }

  // Decodes the record in `fields` into `m`; the reason it cannot make a
  // valid event, or empty.
  std::string Decode(TDorvPalmFields& fields, TMapped& m) {
    const auto num = [&](const char* name) {
      return fields.FieldByName(name)->GetAsInteger() & 0xFFFF;
    };
    const std::int32_t flags = num("Flags");
    m.date = num("Date");
    if (!IsValidPalmDate(m.date)) return "date " + Hex(m.date) + " is no day of the calendar";
    m.untimed = num("StartHour") == 0xFF;
    if (!m.untimed) {
      m.start_hour = num("StartHour");
      m.start_minute = num("StartMinute");
      m.end_hour = num("EndHour");
      m.end_minute = num("EndMinute");
      if (m.start_hour > 23 || m.start_minute > 59)
        return "start time " + Hex((m.start_hour << 8) | m.start_minute) + " is no time of day";
      if (m.end_hour > 23 || m.end_minute > 59)
        return "end time " + Hex((m.end_hour << 8) | m.end_minute) + " is no time of day";
      if (m.end_hour * 60 + m.end_minute < m.start_hour * 60 + m.start_minute)
        return "it ends before it starts";
    }
    if ((flags & kDescriptionFlag) != 0)
      m.summary = Clean(PalmToUtf8(fields.FieldByName("Description")->GetAsString()));
    if ((flags & kNoteFlag) != 0)
      m.note = Clean(PalmToUtf8(fields.FieldByName("Note")->GetAsString()));
    if ((flags & kAlarmFlag) != 0)
      m.alarm = static_cast<std::int8_t>(num("AlarmAdvance")) * kUnitSeconds[num("AlarmUnit") % 3];
    if ((flags & kRepeatFlag) != 0) {
      TMapped::TRepeat r;
      r.type = num("RepeatType");
      r.end = num("RepeatEnd");
      r.frequency = std::max(1, num("RepeatFrequency"));
      if (r.end != 0xFFFF && !IsValidPalmDate(r.end))
        return "repeat end date " + Hex(r.end) + " is no day of the calendar";
      if (r.type == 2 || r.type == 3) r.on = num("RepeatOn") & (r.type == 2 ? 0x7F : 0xFF);
      if (r.type == 2) r.start_of_week = num("RepeatStartOfWeek") % 7;
      if (r.type >= 1 && r.type <= 5) m.repeat = r;
    }
    if ((flags & kExceptionsFlag) != 0) {
      const std::int32_t count = num("ExceptionCount");
      if (count > kMaxExceptions)
        return "its exception count (" + std::to_string(count) +
               ") is more than the record holds or this conduit reads (" +
               std::to_string(kMaxExceptions) + ")";
      for (std::int32_t i = 0; i < count; ++i) {
        const Variant value = exceptions_.GetArrayValue(i);
        if (value.IsEmpty())
          return "its exception count (" + std::to_string(count) +
                 ") is more than the record holds";
        const std::int32_t packed = value.AsInteger() & 0xFFFF;
        if (!IsValidPalmDate(packed))
          return "exception " + std::to_string(i + 1) + ", " + Hex(packed) +
                 ", is no day of the calendar";
        m.exceptions.push_back(packed);
      }
    }
    return {};
  }

  // Sets the parts of `m` that differ from `old` (every field without one).
  void Write(TDorvPalmFields& fields, const TMapped& m, const TMapped* old) {
    const auto set = [&](const char* name, int value) {
      fields.FieldByName(name)->SetAsInteger(value);
    };
    std::int32_t flags = old ? fields.FieldByName("Flags")->GetAsInteger() & ~kOurFlags : 0;
    if (!old || !old->SameTime(m)) {
      set("Date", m.date);
      set("StartHour", m.untimed ? 0xFF : m.start_hour);
      set("StartMinute", m.untimed ? 0xFF : m.start_minute);
      set("EndHour", m.untimed ? 0xFF : m.end_hour);
      set("EndMinute", m.untimed ? 0xFF : m.end_minute);
    }
    // A text read back as the desktop holds it (see Clean) is left as the
    // handheld has it.
    const auto text = [&](const char* name, const std::optional<std::string>& value,
                          const std::optional<std::string>* before, std::int32_t flag) {
      if (!value) return;
      flags |= flag;
      if (!before || *before != value) fields.FieldByName(name)->SetAsString(Utf8ToPalm(*value));
    };
    text("Description", m.summary, old ? &old->summary : nullptr, kDescriptionFlag);
    text("Note", m.note, old ? &old->note : nullptr, kNoteFlag);
    if (m.alarm) {
      flags |= kAlarmFlag;
      if (!old || old->alarm != m.alarm) {
        bool exact = true;
        const auto [advance, unit] = Advance(*m.alarm, exact);
        set("AlarmAdvance", advance & 0xFF);
        set("AlarmUnit", unit);
      }
    }
    if (m.repeat) {
      flags |= kRepeatFlag;
      if (!old || old->repeat != m.repeat) {
        set("RepeatType", m.repeat->type);
        set("RepeatPad", 0);
        set("RepeatEnd", m.repeat->end);
        set("RepeatFrequency", m.repeat->frequency);
        set("RepeatOn", m.repeat->on);
        set("RepeatStartOfWeek", m.repeat->start_of_week);
        set("RepeatPad2", 0);
      }
    }
    if (!m.exceptions.empty()) flags |= kExceptionsFlag;
    set("Flags", flags);
    set("ExceptionCount", static_cast<std::int32_t>(m.exceptions.size()));
    for (std::size_t i = 0; i < m.exceptions.size(); ++i)
      exceptions_.SetArrayValue(static_cast<std::int32_t>(i),
                                Variant(static_cast<std::int32_t>(m.exceptions[i])));
  }

  fs::path folder_;
  TDorvConduit& log_;
  TDorvPalmField& exceptions_;
  TICalendar archive_;  // the archive, as read
  std::vector<TVComponent> calendar_;
  std::vector<TVComponent> overrides_;           // events with RECURRENCE-ID, as read
};

class TDatebookICalModule : public TComponent {
 public:
  explicit TDatebookICalModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), events_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("Date Book");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) {
      const fs::path folder = fs::path(conduit_->PathName()) / "DateBook";
      TDateBookFiles files(folder, *conduit_, *exceptions_);
      TDorvMirrorSync(*events_, files, folder, "DatebookDB").Run(*conduit_);
    });

    events_->SetFileName("DatebookDB");
    // Record: start and end time (0xFF in all four bytes: untimed), the
    // packed date, the flags, then each part only with its flag.
    for (const char* name : {"StartHour", "StartMinute", "EndHour", "EndMinute"})
      events_->AddField(name, pftByte, 0);
    events_->AddField("Date", pftDate, 0);
    flags_ = events_->AddField("Flags", pftSmallint, 0);
    Group(events_->AddField("AlarmAdvance", pftByte, 0), kAlarmFlag);
    Group(events_->AddField("AlarmUnit", pftByte, 0), kAlarmFlag);
    Group(events_->AddField("RepeatType", pftByte, 0), kRepeatFlag);
    Group(events_->AddField("RepeatPad", pftByte, 0), kRepeatFlag);
    Group(events_->AddField("RepeatEnd", pftDate, 0), kRepeatFlag);
    Group(events_->AddField("RepeatFrequency", pftByte, 0), kRepeatFlag);
    Group(events_->AddField("RepeatOn", pftByte, 0), kRepeatFlag);
    Group(events_->AddField("RepeatStartOfWeek", pftByte, 0), kRepeatFlag);
    Group(events_->AddField("RepeatPad2", pftByte, 0), kRepeatFlag);
    exception_count_ = events_->AddField("ExceptionCount", pftSmallint, 0);
    Group(exception_count_, kExceptionsFlag);
    exceptions_ = events_->AddField("Exception", pftDate, 0);
    exceptions_->SetArraySize(kMaxExceptions);
    Group(exceptions_, kExceptionsFlag);
    Group(events_->AddField("Description", pftString, 0), kDescriptionFlag);
    Group(events_->AddField("Note", pftString, 0), kNoteFlag);
    // The same parts exist for the decoder and the encoder.
    const auto test = [this](TDorvConduitDb&, TDorvPalmField& field, std::int32_t index,
                             bool& exists) {
      for (const auto& [member, flag] : groups_) {
        if (member != &field) continue;
        exists = (flags_->GetAsInteger() & flag) != 0;
        if (&field == exceptions_) exists = exists && index < exception_count_->GetAsInteger();
      }
    };
    events_->SetOnTestFieldExistsForRead(test);
    events_->SetOnTestFieldExistsForWrite(test);

    // Application info: the category block, the first day of the week and a
    // pad byte.
    AddCategoryFields(events_->AppInfoFields());
    for (const char* name : {"StartOfWeek", "Pad"}) {
      TDorvPalmField* field = events_->AppInfoFields().Add();
      field->SetFieldName(name);
      field->SetDataType(pftByte);
    }
  }

 private:
  void Group(TDorvPalmField* field, std::int32_t flag) { groups_.push_back({field, flag}); }

  TDorvConduit* conduit_;            // owned by this module
  TDorvConduitDb* events_;           // owned by this module
  TDorvPalmField* flags_;            // owned by events_
  TDorvPalmField* exception_count_;  // owned by events_
  TDorvPalmField* exceptions_;       // owned by events_
  std::vector<std::pair<TDorvPalmField*, std::int32_t>> groups_;
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TDatebookICalModule)
