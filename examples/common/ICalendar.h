// The events of an iCalendar file (RFC 5545) as the Date Book side sees
// them: start and end in any of the four forms of time, the repeat rule
// parsed with an answer to whether the handheld can hold it, exceptions,
// relative alarms; and the time zones the file defines, to bring a zoned
// time to the desktop's local time (the handheld keeps local times only).
// Each event keeps its component as read (ATTENDEE, ORGANIZER, X- ...)
// for the writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/VObject.h"

namespace fernwick::examples {

struct TICalTime {
  enum Kind {
    kDate,      // VALUE=DATE: a day, no time
    kFloating,  // a local time of no zone, taken as the desktop's
    kUtc,       // ending in Z
    kZoned,     // with TZID
  };
  Kind kind = kFloating;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::string tzid;  // kZoned only
  bool operator==(const TICalTime&) const = default;
};

// A DATE or DATE-TIME value: "19970714", "19970714T173000",
// "19970714T173000Z"; `tzid` (from the TZID parameter) makes a local time
// kZoned. Throws EVObjectError (at `line`) when it is no such value or no
// day of the calendar.
TICalTime ParseICalTime(std::string_view value, bool date_only, const std::string& tzid, int line);

// The time `seconds` later (earlier when negative), in the same kind; a
// date moves by whole days.
TICalTime AddSeconds(const TICalTime& time, std::int64_t seconds);

// A DURATION value ("-PT15M", "P1D", "P1W", "PT1H30M") in seconds. Throws
// EVObjectError at `line` when it is none.
std::int64_t ParseDuration(std::string_view value, int line);

// A day of the week in BYDAY: 0 Sunday to 6 Saturday, with an ordinal
// (2MO: 2, -1SU: -1; 0 when none).
struct TWeekdayNum {
  int ordinal = 0;
  int weekday = 0;
  bool operator==(const TWeekdayNum&) const = default;
};

struct TRRule {
  enum Freq { kOther, kDaily, kWeekly, kMonthly, kYearly };
  Freq freq = kOther;  // kOther: SECONDLY, MINUTELY, HOURLY
  int interval = 1;
  int count = 0;  // 0 when not given
  std::optional<TICalTime> until;
  std::vector<TWeekdayNum> by_day;
  std::vector<int> by_month_day, by_month;
  int week_start = 1;  // WKST, 0 Sunday to 6 Saturday
  // Parts this reader does not map (BYSETPOS=-1, BYHOUR=9, ...) as written.
  std::vector<std::string> other_parts;
  bool operator==(const TRRule&) const = default;
};

// An RRULE value. Throws EVObjectError at `line` when FREQ is missing or a
// part is malformed (a number that is none or out of range, a day that is
// no weekday).
TRRule ParseRRule(std::string_view value, int line);

// Whether the handheld's repeat forms hold `rule` for an event that starts
// on `start`'s day without a change of meaning: daily; weekly on one or
// more days; monthly on the start's date, or on its weekday in its week
// (1st to 4th, or the last); yearly on the start's date; each with an
// INTERVAL, and an UNTIL or no end. Not held: COUNT, other frequencies,
// parts it cannot express (BYSETPOS, BYHOUR, several days of a month, a
// yearly rule by weekday, a day other than the start's). When not held
// and `why` is given, `*why` names what cannot be held.
bool HandheldCanHold(const TRRule& rule, const TICalTime& start, std::string* why = nullptr);

// A VTIMEZONE: its STANDARD and DAYLIGHT observances.
struct TICalZone {
  struct TObservance {
    bool daylight = false;
    TICalTime start;  // DTSTART: local time, in the offset before it
    int offset_from = 0, offset_to = 0;  // seconds east of UTC
    // A yearly RRULE: in by_month on by_day (with ordinal) or on
    // by_month_day; repeating absent: the onset is `start` alone.
    bool yearly = false;
    int by_month = 0, by_month_day = 0;
    TWeekdayNum by_day;
    bool has_by_day = false;
    std::optional<TICalTime> until;
  };
  std::string tzid;
  std::vector<TObservance> observances;

  // The offset from UTC (seconds east) in force at local time `local`
  // (its fields read as a wall-clock time of this zone): that of the
  // observance with the latest onset at or before it; before every onset,
  // the earliest observance's TZOFFSETFROM.
  int OffsetAt(const TICalTime& local) const;
};

struct TICalAlarm {
  bool relative = true;          // false: an absolute TRIGGER;VALUE=DATE-TIME
  bool related_end = false;      // TRIGGER;RELATED=END
  std::int64_t offset = 0;       // seconds from the start (or end): -900 is 15 minutes before
  bool operator==(const TICalAlarm&) const = default;
};

struct TICalEvent {
  std::string uid, summary, description, location, klass;  // klass: CLASS
  TICalTime start;
  std::optional<TICalTime> end;          // DTEND
  std::optional<std::int64_t> duration;  // DURATION, seconds
  std::optional<TRRule> rrule;
  std::vector<TICalTime> exdates;  // every EXDATE property's values in order
  std::vector<TICalAlarm> alarms;
  std::vector<std::string> categories;
  // The event as read; WriteVObject(event.source) writes it back unchanged.
  TVComponent source;

  // DTEND, or DTSTART + DURATION, or for a day without either the day
  // after, for a time the same time (RFC 5545 3.6.1).
  TICalTime End() const;
  // The mapped fields only.
  bool SameFields(const TICalEvent& other) const;
};

struct TICalendar {
  std::vector<TICalEvent> events;
  std::vector<TICalZone> zones;
  std::vector<TVComponent> source;  // the VCALENDAR components as read

  // The zone of that TZID defined in the file, or null.
  const TICalZone* Zone(std::string_view tzid) const;
};

// The VEVENTs and VTIMEZONEs of every VCALENDAR of a file. Throws
// EVObjectError for anything but VCALENDAR at the top, an event without
// DTSTART, and the malformed values above.
TICalendar ReadICalendar(std::string_view text);

// The offset from UTC (seconds east) at local time `local` of the zone
// whose zone file (TZif, RFC 8536, version 1 to 4) is `tzif`: from its
// transitions, and from its footer's POSIX TZ rule after the last of them
// or, when there are none, at every time (its days in the forms Mm.w.d, Jn
// and n, its times of change -167 to 167 hours). Empty when the bytes are
// no such file.
std::optional<int> ZoneFileOffsetAt(std::string_view tzif, const TICalTime& local);

// The offset from UTC (seconds east) of IANA zone `name` at local time
// `local`, from the system's zone files (/usr/share/zoneinfo/<name>, read
// by ZoneFileOffsetAt). Empty when there is no such zone file or it cannot
// be read, and always on Windows, which has no zone files.
std::optional<int> IanaOffsetAt(const std::string& name, const TICalTime& local);

// `time` in the desktop's local time, as kFloating (a kDate or kFloating
// time is returned as it is): a UTC time through the platform's local-time
// conversion (localtime_r; on Windows localtime_s, which follows the
// system's zone setting or TZ); a zoned one through the file's VTIMEZONE
// of that TZID, else the IANA zone of that name, then the same. When
// neither knows the TZID (on Windows every IANA name a file does not
// define) the time is taken as floating and `*note`, when given, says so
// for the log.
TICalTime ToDesktopLocal(const TICalTime& time, const TICalendar& calendar,
                         std::string* note = nullptr);

}  // namespace fernwick::examples
