// An example conduit that copies the Date Book to iCalendar (RFC 5545), the
// format desktop calendars import: <desktop folder>/DateBook/DateBook.ics
// with one VEVENT per event, and the archived events in
// DateBook-archive.ics.
//
// Times are the handheld's local time, written as floating times (no time
// zone). An untimed event is an all-day event (DTSTART;VALUE=DATE). A
// repeating event gets an RRULE (daily, weekly on its days, monthly by date
// or by weekday, yearly; UNTIL its end date) and EXDATEs for its
// exceptions, an alarm a VALARM, the note DESCRIPTION, a secret record
// CLASS:PRIVATE; UID is "<record id>@DatebookDB".
//
// A record holds its alarm, repeat, exceptions, description and note only
// when its flags say so; the existence handler answers from the flags
// decoded before them. The exception list's length is in the record: the
// Exception field is given room for it before the record is decoded again.
//
// A record that would give an invalid event is left out, with a line in
// the log naming it and why ("Date Book: record 7 skipped: date 0x0C5F is
// no day of the calendar"): a date or exception that is no day of the
// calendar, a time past 23:59, an end before the start, or more exceptions
// than the record holds. The other records are written as usual.
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include <fernwick/conduit/ConduitModule.h>
#include "common/ExampleSupport.h"
#include "common/TextFormats.h"

namespace {

using namespace fernwick;
using namespace fernwick::examples;

constexpr std::int32_t kAlarmFlag = 0x4000;
constexpr std::int32_t kRepeatFlag = 0x2000;
constexpr std::int32_t kNoteFlag = 0x1000;
constexpr std::int32_t kExceptionsFlag = 0x0800;
constexpr std::int32_t kDescriptionFlag = 0x0400;

constexpr std::array<const char*, 7> kDays = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// "YYYYMMDD" of a valid packed date (IsValidPalmDate).
std::string DateText(std::int32_t packed) {
  int year = 0, month = 0, day = 0;
  DecodePalmDate(packed, year, month, day);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", year, month, day);
  return buf;
}

// The day after a valid packed date, as "YYYYMMDD".
std::string NextDayText(std::int32_t packed) {
  int year = 0, month = 0, day = 0;
  DecodePalmDate(packed, year, month, day);
  DecodeDate(EncodeDate(year, month, day) + 1, year, month, day);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", year, month, day);
  return buf;
}

// "0x0C5F": a packed date or time as the log names it.
std::string Hex(std::int32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(value & 0xFFFF));
  return buf;
}

std::string TimeText(std::int32_t hour, std::int32_t minute) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "T%02d%02d00", hour, minute);
  return buf;
}

class TDatebookICalModule : public TComponent {
 public:
  explicit TDatebookICalModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), events_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("Date Book");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) { Synchronise(); });

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
    exceptions_->SetArraySize(8);
    Group(exceptions_, kExceptionsFlag);
    Group(events_->AddField("Description", pftString, 0), kDescriptionFlag);
    Group(events_->AddField("Note", pftString, 0), kNoteFlag);
    events_->SetOnTestFieldExistsForRead([this](TDorvConduitDb&, TDorvPalmField& field,
                                               std::int32_t index, bool& exists) {
      for (const auto& [member, flag] : groups_) {
        if (member != &field) continue;
        exists = (flags_->GetAsInteger() & flag) != 0;
        if (&field == exceptions_) exists = exists && index < ExceptionCount();
      }
    });

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
  std::int32_t ExceptionCount() const {
    return (flags_->GetAsInteger() & kExceptionsFlag) != 0 ? exception_count_->GetAsInteger() : 0;
  }
  std::int32_t Int(const char* name) { return events_->FieldByName(name)->GetAsInteger(); }
  std::string Text(const char* name) {
    return PalmToUtf8(events_->FieldByName(name)->GetAsString());
  }

  // Raises ERecordSkipped when the record just read would not make a valid
  // event.
  void Check() {
    const auto skip = [](const std::string& why) { throw ERecordSkipped(why); };
    const std::int32_t flags = flags_->GetAsInteger();
    const std::int32_t date = Int("Date") & 0xFFFF;
    if (!IsValidPalmDate(date)) skip("date " + Hex(date) + " is no day of the calendar");
    if (Int("StartHour") != 0xFF) {
      const std::int32_t start = Int("StartHour") * 60 + Int("StartMinute");
      const std::int32_t end = Int("EndHour") * 60 + Int("EndMinute");
      if (Int("StartHour") > 23 || Int("StartMinute") > 59)
        skip("start time " + Hex((Int("StartHour") << 8) | Int("StartMinute")) +
             " is no time of day");
      if (Int("EndHour") > 23 || Int("EndMinute") > 59)
        skip("end time " + Hex((Int("EndHour") << 8) | Int("EndMinute")) + " is no time of day");
      if (end < start) skip("it ends before it starts");
    }
    if ((flags & kRepeatFlag) != 0) {
      const std::int32_t end = Int("RepeatEnd") & 0xFFFF;
      if (end != 0xFFFF && !IsValidPalmDate(end))
        skip("repeat end date " + Hex(end) + " is no day of the calendar");
    }
    // The exceptions follow the fixed part (8 bytes), the alarm (2), the
    // repeat (8) and their count (2), 2 bytes each.
    const std::int32_t before =
        8 + ((flags & kAlarmFlag) != 0 ? 2 : 0) + ((flags & kRepeatFlag) != 0 ? 8 : 0) + 2;
    const std::int32_t room =
        std::max<std::int32_t>(0, static_cast<std::int32_t>(events_->RecordSize()) - before) / 2;
    if (ExceptionCount() < 0 || ExceptionCount() > room)
      skip("its exception count (" + std::to_string(ExceptionCount()) +
           ") is more than the record holds");
  }

  std::string Event() {
    Check();
    // More exceptions than the field has room for: make room, decode again.
    if (ExceptionCount() > exceptions_->ArraySize()) {
      exceptions_->SetArraySize(ExceptionCount());
      events_->GetFieldValuesFromBuffer(events_->GetCurrentRecord(),
                                        static_cast<std::int32_t>(events_->RecordSize()),
                                        events_->Fields(), true);
    }
    const std::int32_t flags = flags_->GetAsInteger();
    const std::int32_t date = Int("Date") & 0xFFFF;
    const bool untimed = Int("StartHour") == 0xFF;
    const std::string start_time = untimed ? "" : TimeText(Int("StartHour"), Int("StartMinute"));

    TContentLines event;
    event.Add("BEGIN:VEVENT");
    event.Add("UID:" + std::to_string(events_->GetRecordId()) + "@DatebookDB");
    event.Add("DTSTAMP:" + stamp_);
    if (untimed) {
      event.Add("DTSTART;VALUE=DATE:" + DateText(date));
      event.Add("DTEND;VALUE=DATE:" + NextDayText(date));
    } else {
      event.Add("DTSTART:" + DateText(date) + start_time);
      event.Add("DTEND:" + DateText(date) + TimeText(Int("EndHour"), Int("EndMinute")));
    }
    if ((flags & kDescriptionFlag) != 0) event.Add("SUMMARY:" + EscapeText(Text("Description")));
    if ((flags & kNoteFlag) != 0) event.Add("DESCRIPTION:" + EscapeText(Text("Note")));
    if ((events_->GetAttributes() & eRecAttrSecret) != 0) event.Add("CLASS:PRIVATE");
    if ((flags & kRepeatFlag) != 0) AddRepeat(event, untimed);
    for (std::int32_t i = 0; i < ExceptionCount(); ++i) {
      const std::int32_t packed = exceptions_->GetArrayValue(i).AsInteger() & 0xFFFF;
      if (!IsValidPalmDate(packed)) {
        throw ERecordSkipped("exception " + std::to_string(i + 1) + ", " + Hex(packed) +
                             ", is no day of the calendar");
      }
      const std::string day = DateText(packed);
      event.Add(untimed ? "EXDATE;VALUE=DATE:" + day : "EXDATE:" + day + start_time);
    }
    if ((flags & kAlarmFlag) != 0) {
      // The advance is a signed byte: a negative one rings after the start.
      const auto advance = static_cast<std::int8_t>(Int("AlarmAdvance"));
      const std::int32_t unit = Int("AlarmUnit");
      const std::string amount = std::to_string(advance < 0 ? -advance : advance);
      event.Add("BEGIN:VALARM");
      event.Add("ACTION:DISPLAY");
      event.Add("DESCRIPTION:" + EscapeText(Text("Description")));
      event.Add(std::string("TRIGGER:") + (advance > 0 ? "-" : "") +
                (unit == 2   ? "P" + amount + "D"
                 : unit == 1 ? "PT" + amount + "H"
                             : "PT" + amount + "M"));
      event.Add("END:VALARM");
    }
    event.Add("END:VEVENT");
    return event.Text();
  }

  void AddRepeat(TContentLines& event, bool untimed) {
    static const std::array<const char*, 6> kFrequencies = {"",        "DAILY",   "WEEKLY",
                                                            "MONTHLY", "MONTHLY", "YEARLY"};
    const std::int32_t type = Int("RepeatType");
    if (type < 1 || type > 5) return;
    std::string rule = std::string("RRULE:FREQ=") + kFrequencies[type] +
                       ";INTERVAL=" + std::to_string(std::max(1, Int("RepeatFrequency")));
    const std::int32_t on = Int("RepeatOn");
    if (type == 2) {
      std::string days;
      for (int d = 0; d < 7; ++d) {
        if ((on >> d) & 1) days += std::string(days.empty() ? "" : ",") + kDays[d];
      }
      if (!days.empty()) rule += ";BYDAY=" + days;
      rule += std::string(";WKST=") + kDays[Int("RepeatStartOfWeek") % 7];
    } else if (type == 3) {
      // Week 0 to 3 is the first to the fourth, week 4 the last.
      const std::int32_t week = on / 7;
      rule += ";BYDAY=" + std::string(week >= 4 ? "-1" : std::to_string(week + 1)) + kDays[on % 7];
    }
    const std::int32_t end = Int("RepeatEnd") & 0xFFFF;
    // "No date" (0xFFFF) repeats forever; so does a damaged end date.
    if (IsValidPalmDate(end)) rule += ";UNTIL=" + DateText(end) + (untimed ? "" : "T235959");
    event.Add(rule);
  }

  void Synchronise() {
    const std::filesystem::path folder = std::filesystem::path(conduit_->PathName()) / "DateBook";
    TPieceStore store(folder / "Events");
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    if (utc == nullptr || std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", utc) == 0)
      std::snprintf(stamp, sizeof stamp, "19700101T000000Z");
    stamp_ = stamp;
    TExport what;
    what.name = "Date Book";
    what.read_app_info = [this] { events_->ReadAppInfo(); };
    what.render = [this] { return Event(); };
    what.assemble = [&folder](const std::vector<std::string>& live,
                              const std::vector<std::string>& archived) {
      auto calendar = [](const std::vector<std::string>& vevents) {
        TContentLines head;
        head.Add("BEGIN:VCALENDAR");
        head.Add("VERSION:2.0");
        head.Add("PRODID:-//Fernwick//Date Book example//EN");
        std::string text = head.Text();
        for (const std::string& vevent : vevents) text += vevent;
        return text + "END:VCALENDAR\r\n";
      };
      WriteFileAtomically(folder / "DateBook.ics", calendar(live));
      WriteFileAtomically(folder / "DateBook-archive.ics", calendar(archived));
    };
    RunExport(*conduit_, *events_, store, what);
  }

  TDorvConduit* conduit_;            // owned by this module
  TDorvConduitDb* events_;           // owned by this module
  TDorvPalmField* flags_;            // owned by events_
  TDorvPalmField* exception_count_;  // owned by events_
  TDorvPalmField* exceptions_;       // owned by events_
  std::vector<std::pair<TDorvPalmField*, std::int32_t>> groups_;
  std::string stamp_;
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TDatebookICalModule)
