#include "ICalendar.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <limits>
#include <utility>

namespace fernwick::examples {

namespace {

constexpr const char* kWeekdays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

int Weekday(std::int64_t days) { return static_cast<int>(((days % 7) + 11) % 7); }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// A time's fields as seconds since 1970-01-01 00:00 of the same clock.
std::int64_t Seconds(const TICalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

void SetFromSeconds(TICalTime& t, std::int64_t seconds) {
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  CivilFromDays(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
}

// The day of the month of the n-th (from the end when negative) weekday;
// 0 when the month has none.
int NthWeekday(int y, int m, TWeekdayNum day) {
  const int last = DaysInMonth(y, m);
  if (day.ordinal >= 0) {
    const int first = Weekday(DaysFromCivil(y, m, 1));
    const int d = 1 + (day.weekday - first + 7) % 7 + (std::max(day.ordinal, 1) - 1) * 7;
    return d <= last ? d : 0;
  }
  const int last_weekday = Weekday(DaysFromCivil(y, m, last));
  const int d = last - (last_weekday - day.weekday + 7) % 7 + (-day.ordinal - 1) * 7;
  return d >= 1 ? d : 0;
}

bool ParseInt(std::string_view text, int& out, int low, int high) {
  if (text.empty() || text.size() > 9) return false;
  std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (i == text.size()) return false;
  long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (text[0] == '-') value = -value;
  if (value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

// Digits only, no sign.
bool ParseDigits(std::string_view text, int& out, int low, int high) {
  return !text.empty() && text[0] >= '0' && text[0] <= '9' && ParseInt(text, out, low, high);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

bool ParseWeekday(std::string_view text, TWeekdayNum& day) {
  if (text.size() < 2) return false;
  const std::string name = UpperAscii(text.substr(text.size() - 2));
  const auto found = std::find(std::begin(kWeekdays), std::end(kWeekdays), name);
  if (found == std::end(kWeekdays)) return false;
  day.weekday = static_cast<int>(found - std::begin(kWeekdays));
  day.ordinal = 0;
  const std::string_view ordinal = text.substr(0, text.size() - 2);
  return ordinal.empty() || (ParseInt(ordinal, day.ordinal, -53, 53) && day.ordinal != 0);
}

// "+0100", "-0530", "+013000" in seconds.
int ParseOffset(std::string_view text, int line) {
  int hours = 0, minutes = 0, seconds = 0;
  const bool ok = (text.size() == 5 || text.size() == 7) && (text[0] == '+' || text[0] == '-') &&
                  ParseInt(text.substr(1, 2), hours, 0, 23) &&
                  ParseInt(text.substr(3, 2), minutes, 0, 59) &&
                  (text.size() == 5 || ParseInt(text.substr(5, 2), seconds, 0, 59));
  if (!ok) throw EVObjectError(line, "\"" + std::string(text) + "\" is no UTC offset");
  const int value = hours * 3600 + minutes * 60 + seconds;
  return text[0] == '-' ? -value : value;
}

TICalTime TimeOf(const TVProperty& p) {
  return ParseICalTime(p.value, EqualsNoCase(p.Param("VALUE"), "DATE"), p.Param("TZID"), p.line);
}

TICalZone ReadZone(const TVComponent& component) {
  TICalZone zone;
  if (const TVProperty* tzid = component.Find("TZID")) zone.tzid = tzid->Text();
  if (zone.tzid.empty()) throw EVObjectError(component.line, "VTIMEZONE without TZID");
  for (const TVComponent& child : component.components) {
    if (child.name != "STANDARD" && child.name != "DAYLIGHT") continue;
    TICalZone::TObservance o;
    o.daylight = child.name == "DAYLIGHT";
    const TVProperty* start = child.Find("DTSTART");
    const TVProperty* from = child.Find("TZOFFSETFROM");
    const TVProperty* to = child.Find("TZOFFSETTO");
    if (start == nullptr || from == nullptr || to == nullptr)
      throw EVObjectError(child.line, child.name + " of " + zone.tzid +
                                          " lacks DTSTART, TZOFFSETFROM or TZOFFSETTO");
    o.start = ParseICalTime(start->value, false, "", start->line);
    o.offset_from = ParseOffset(from->value, from->line);
    o.offset_to = ParseOffset(to->value, to->line);
    if (const TVProperty* rrule = child.Find("RRULE")) {
      const TRRule rule = ParseRRule(rrule->value, rrule->line);
      if (rule.freq != TRRule::kYearly || rule.interval != 1 || rule.by_month.size() > 1 ||
          rule.by_day.size() > 1 || rule.by_month_day.size() > 1)
        throw EVObjectError(rrule->line, "a zone's rule other than once a year on one day");
      o.yearly = true;
      o.by_month = rule.by_month.empty() ? o.start.month : rule.by_month[0];
      o.has_by_day = !rule.by_day.empty();
      if (o.has_by_day) o.by_day = rule.by_day[0];
      o.by_month_day = rule.by_month_day.empty() ? o.start.day : rule.by_month_day[0];
      o.until = rule.until;
    }
    zone.observances.push_back(o);
  }
  if (zone.observances.empty())
    throw EVObjectError(component.line, "VTIMEZONE " + zone.tzid + " has no STANDARD or DAYLIGHT");
  return zone;
}

TICalEvent ReadEvent(const TVComponent& component) {
  TICalEvent event;
  const TVProperty* start = component.Find("DTSTART");
  if (start == nullptr) throw EVObjectError(component.line, "VEVENT without DTSTART");
  event.start = TimeOf(*start);
  for (const TVProperty& p : component.properties) {
    if (p.name == "UID") {
      event.uid = p.Text();
    } else if (p.name == "SUMMARY") {
      event.summary = p.Text();
    } else if (p.name == "DESCRIPTION") {
      event.description = p.Text();
    } else if (p.name == "LOCATION") {
      event.location = p.Text();
    } else if (p.name == "CLASS") {
      event.klass = UpperAscii(p.Text());
    } else if (p.name == "DTEND") {
      event.end = TimeOf(p);
    } else if (p.name == "DURATION") {
      event.duration = ParseDuration(p.value, p.line);
    } else if (p.name == "RRULE") {
      event.rrule = ParseRRule(p.value, p.line);
    } else if (p.name == "EXDATE") {
      const bool date_only = EqualsNoCase(p.Param("VALUE"), "DATE");
      for (std::string_view item : Split(p.value, ','))
        event.exdates.push_back(ParseICalTime(item, date_only, p.Param("TZID"), p.line));
    } else if (p.name == "CATEGORIES") {
      for (const std::string& category : p.List())
        if (!category.empty()) event.categories.push_back(category);
    }
  }
  for (const TVComponent& child : component.components) {
    if (child.name != "VALARM") continue;
    const TVProperty* trigger = child.Find("TRIGGER");
    if (trigger == nullptr) throw EVObjectError(child.line, "VALARM without TRIGGER");
    TICalAlarm alarm;
    if (EqualsNoCase(trigger->Param("VALUE"), "DATE-TIME")) {
      alarm.relative = false;
    } else {
      alarm.offset = ParseDuration(trigger->value, trigger->line);
      alarm.related_end = EqualsNoCase(trigger->Param("RELATED"), "END");
    }
    event.alarms.push_back(alarm);
  }
  event.source = component;
  return event;
}

// --- Zone files (TZif, RFC 8536); Windows has none, but reads them as well. --

// A POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3"), of the TZif footer.
struct TPosixRule {
  int std_offset = 0, dst_offset = 0;  // seconds east
  bool has_dst = false;
  struct TDate {
    enum Kind {
      kMonthWeek,  // Mm.w.d: weekday d of week w (5: the last) of month m
      kJulian,     // Jn: day n of 1 to 365, February 29 never counted
      kYearDay,    // n: day n of 0 to 365, February 29 counted
    };
    Kind kind = kMonthWeek;
    int month = 0, week = 0, weekday = 0;
    int day = 0;      // kJulian, kYearDay
    int time = 7200;  // seconds after the day's midnight: -167 to 167 hours
  } start, end;
};

bool ParsePosixOffset(std::string_view& s, int& seconds) {
  int sign = 1;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    sign = s[0] == '-' ? -1 : 1;
    s.remove_prefix(1);
  }
  static constexpr int kScale[] = {3600, 60, 1};
  int value = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t n = 0;
    while (n < s.size() && n < 3 && s[n] >= '0' && s[n] <= '9') ++n;
    int part = 0;
    if (n == 0 || !ParseInt(s.substr(0, n), part, 0, 167)) return false;
    value += part * kScale[i];
    s.remove_prefix(n);
    if (s.empty() || s[0] != ':') break;
    s.remove_prefix(1);
  }
  seconds = sign * value;
  return true;
}

bool SkipPosixName(std::string_view& s) {
  if (!s.empty() && s[0] == '<') {
    const std::size_t close = s.find('>');
    if (close == std::string_view::npos) return false;
    s.remove_prefix(close + 1);
    return true;
  }
  std::size_t n = 0;
  while (n < s.size() && ((s[n] >= 'A' && s[n] <= 'Z') || (s[n] >= 'a' && s[n] <= 'z'))) ++n;
  s.remove_prefix(n);
  return n >= 3;
}

bool ParsePosixDate(std::string_view& s, TPosixRule::TDate& date) {
  if (s.size() < 2 || s[0] != ',') return false;
  s.remove_prefix(1);
  const std::string_view fields_text = s.substr(0, s.find_first_of(",/"));
  if (s[0] == 'M') {
    const std::vector<std::string_view> fields = Split(fields_text.substr(1), '.');
    if (fields.size() != 3 || !ParseDigits(fields[0], date.month, 1, 12) ||
        !ParseDigits(fields[1], date.week, 1, 5) || !ParseDigits(fields[2], date.weekday, 0, 6))
      return false;
  } else if (s[0] == 'J') {
    date.kind = TPosixRule::TDate::kJulian;
    if (!ParseDigits(fields_text.substr(1), date.day, 1, 365)) return false;
  } else {
    date.kind = TPosixRule::TDate::kYearDay;
    if (!ParseDigits(fields_text, date.day, 0, 365)) return false;
  }
  s.remove_prefix(fields_text.size());
  if (!s.empty() && s[0] == '/') {
    s.remove_prefix(1);
    if (!ParsePosixOffset(s, date.time)) return false;
  }
  return true;
}

std::optional<TPosixRule> ParsePosixRule(std::string_view s) {
  TPosixRule rule;
  int west = 0;
  if (!SkipPosixName(s) || !ParsePosixOffset(s, west)) return std::nullopt;
  rule.std_offset = rule.dst_offset = -west;
  if (s.empty()) return rule;
  if (!SkipPosixName(s)) return std::nullopt;
  rule.has_dst = true;
  rule.dst_offset = rule.std_offset + 3600;
  if (!s.empty() && s[0] != ',') {
    if (!ParsePosixOffset(s, west)) return std::nullopt;
    rule.dst_offset = -west;
  }
  if (!ParsePosixDate(s, rule.start) || !ParsePosixDate(s, rule.end)) return std::nullopt;
  return rule;
}

// The UTC instant of a rule's change in `year`, its wall time read in
// `offset`.
std::int64_t PosixChange(const TPosixRule::TDate& date, int year, int offset) {
  std::int64_t day = DaysFromCivil(year, 1, 1);
  switch (date.kind) {
    case TPosixRule::TDate::kMonthWeek:
      day = DaysFromCivil(
          year, date.month,
          NthWeekday(year, date.month, {date.week == 5 ? -1 : date.week, date.weekday}));
      break;
    case TPosixRule::TDate::kJulian:
      day += date.day - 1 + (date.day >= 60 && DaysInMonth(year, 2) == 29 ? 1 : 0);
      break;
    case TPosixRule::TDate::kYearDay:
      day += date.day;
      break;
  }
  return day * 86400 + date.time - offset;
}

int PosixOffsetAt(const TPosixRule& rule, std::int64_t utc) {
  if (!rule.has_dst) return rule.std_offset;
  TICalTime local;
  SetFromSeconds(local, utc + rule.std_offset);
  // The latest change at or before `utc`. A change's time may carry it up
  // to a week from its day, into the year before or after: those years'
  // changes are looked at too. Of two at one instant the later year's
  // counts (all-year summer time ends at J365/25 as it starts again at 0/0).
  std::optional<std::int64_t> latest;
  bool dst = false;
  for (int year = local.year - 1; year <= local.year + 1; ++year) {
    const std::int64_t start = PosixChange(rule.start, year, rule.std_offset);
    const std::int64_t end = PosixChange(rule.end, year, rule.dst_offset);
    const std::pair<std::int64_t, bool> changes[2] = {
        start <= end ? std::pair{start, true} : std::pair{end, false},
        start <= end ? std::pair{end, false} : std::pair{start, true}};
    for (const auto& [at, to_dst] : changes) {
      if (at > utc || (latest && at < *latest)) continue;
      latest = at;
      dst = to_dst;
    }
  }
  return dst ? rule.dst_offset : rule.std_offset;
}

struct TZoneFile {
  std::vector<std::int64_t> transitions;
  std::vector<std::uint8_t> types;  // the ttinfo of each transition
  std::vector<int> offsets;         // utoff of each ttinfo
  std::optional<TPosixRule> footer;

  // The footer rules from the last transition on, and at every time when
  // there is none; before the first, the first time type.
  int OffsetAt(std::int64_t utc) const {
    const auto after = std::upper_bound(transitions.begin(), transitions.end(), utc);
    if (after == transitions.end() && footer) return PosixOffsetAt(*footer, utc);
    if (after == transitions.begin()) return offsets.empty() ? 0 : offsets[0];
    return offsets[types[static_cast<std::size_t>(after - transitions.begin() - 1)]];
  }
};

std::int64_t BigEndian(std::string_view bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  if (width == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  return static_cast<std::int64_t>(value);
}

// A TZif file's data: the 64-bit block of version 2 and later, else the
// 32-bit one. Empty when the bytes are no such file.
std::optional<TZoneFile> ParseZoneFile(std::string_view bytes) {
  // Header: "TZif", version, 15 reserved, then six 4-byte counts: isutcnt,
  // isstdcnt, leapcnt, timecnt, typecnt, charcnt. Data: timecnt times,
  // timecnt type indexes, typecnt ttinfos (utoff 4, isdst 1, desigidx 1),
  // charcnt designations, leapcnt leap records (time + 4), isstdcnt and
  // isutcnt indicators.
  const auto block = [&](std::size_t at, int time_width, TZoneFile* out) -> std::size_t {
    if (bytes.size() < at + 44 || bytes.substr(at, 4) != "TZif") return 0;
    std::int64_t counts[6];
    for (int i = 0; i < 6; ++i) {
      counts[i] = BigEndian(bytes, at + 20 + 4 * i, 4);
      if (counts[i] < 0 || counts[i] > 100000) return 0;
    }
    const std::int64_t isut = counts[0], isstd = counts[1], leap = counts[2];
    const std::int64_t timecnt = counts[3], typecnt = counts[4], charcnt = counts[5];
    const std::size_t size = static_cast<std::size_t>(
        timecnt * (time_width + 1) + typecnt * 6 + charcnt + leap * (time_width + 4) + isstd + isut);
    at += 44;
    if (bytes.size() < at + size || typecnt == 0) return 0;
    if (out != nullptr) {
      for (std::int64_t i = 0; i < timecnt; ++i)
        out->transitions.push_back(BigEndian(bytes, at + i * time_width, time_width));
      const std::size_t index_at = at + static_cast<std::size_t>(timecnt * time_width);
      for (std::int64_t i = 0; i < timecnt; ++i) {
        const auto type = static_cast<std::uint8_t>(bytes[index_at + i]);
        if (type >= typecnt) return 0;
        out->types.push_back(type);
      }
      const std::size_t info_at = index_at + static_cast<std::size_t>(timecnt);
      for (std::int64_t i = 0; i < typecnt; ++i)
        out->offsets.push_back(static_cast<int>(BigEndian(bytes, info_at + i * 6, 4)));
    }
    return at + size;
  };
  if (bytes.size() < 5) return std::nullopt;
  TZoneFile zone;
  if (bytes[4] == '\0') {
    if (block(0, 4, &zone) == 0) return std::nullopt;
    return zone;
  }
  const std::size_t second = block(0, 4, nullptr);
  if (second == 0) return std::nullopt;
  const std::size_t end = block(second, 8, &zone);
  if (end == 0) return std::nullopt;
  if (end < bytes.size() && bytes[end] == '\n') {
    const std::size_t close = bytes.find('\n', end + 1);
    if (close != std::string_view::npos)
      zone.footer = ParsePosixRule(bytes.substr(end + 1, close - end - 1));
  }
  return zone;
}

}  // namespace

TICalTime ParseICalTime(std::string_view value, bool date_only, const std::string& tzid, int line) {
  TICalTime t;
  const auto fail = [&]() -> TICalTime {
    throw EVObjectError(line, "\"" + std::string(value) + "\" is no " +
                                  (date_only ? "date" : "date or time"));
  };
  if (value.size() < 8 || !ParseDigits(value.substr(0, 4), t.year, 0, 9999) ||
      !ParseDigits(value.substr(4, 2), t.month, 1, 12) || !ParseDigits(value.substr(6, 2), t.day, 1, 31) ||
      t.day > DaysInMonth(t.year, t.month))
    return fail();
  if (value.size() == 8) {
    t.kind = TICalTime::kDate;
    return t;
  }
  if (date_only || (value.size() != 15 && value.size() != 16) || value[8] != 'T' ||
      !ParseDigits(value.substr(9, 2), t.hour, 0, 23) ||
      !ParseDigits(value.substr(11, 2), t.minute, 0, 59) ||
      !ParseDigits(value.substr(13, 2), t.second, 0, 60))
    return fail();
  if (value.size() == 16) {
    if (value[15] != 'Z' && value[15] != 'z') return fail();
    t.kind = TICalTime::kUtc;
  } else if (!tzid.empty()) {
    t.kind = TICalTime::kZoned;
    t.tzid = tzid;
  }
  return t;
}

TICalTime AddSeconds(const TICalTime& time, std::int64_t seconds) {
  TICalTime t = time;
  if (t.kind == TICalTime::kDate) seconds = seconds / 86400 * 86400;
  SetFromSeconds(t, Seconds(time) + seconds);
  return t;
}

std::int64_t ParseDuration(std::string_view value, int line) {
  const auto fail = [&]() -> std::int64_t {
    throw EVObjectError(line, "\"" + std::string(value) + "\" is no duration");
  };
  std::string_view s = value;
  int sign = 1;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    sign = s[0] == '-' ? -1 : 1;
    s.remove_prefix(1);
  }
  if (s.size() < 3 || s[0] != 'P') return fail();
  s.remove_prefix(1);
  std::int64_t total = 0;
  bool in_time = false;
  // Each unit once, in the order W D H M S: the total stays small.
  std::int64_t last_scale = std::numeric_limits<std::int64_t>::max();
  while (!s.empty()) {
    if (s[0] == 'T' && !in_time) {
      in_time = true;
      s.remove_prefix(1);
      if (s.empty()) return fail();
      continue;
    }
    std::size_t n = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
    int number = 0;
    if (n == s.size() || !ParseInt(s.substr(0, n), number, 0, 999999999)) return fail();
    const char unit = s[n];
    const std::int64_t scale = !in_time && unit == 'W' ? 604800
                               : !in_time && unit == 'D' ? 86400
                               : in_time && unit == 'H'  ? 3600
                               : in_time && unit == 'M'  ? 60
                               : in_time && unit == 'S'  ? 1
                                                         : 0;
    if (scale == 0 || scale >= last_scale) return fail();
    last_scale = scale;
    total += number * scale;
    s.remove_prefix(n + 1);
  }
  return sign * total;
}

TRRule ParseRRule(std::string_view value, int line) {
  TRRule rule;
  bool has_freq = false;
  const auto fail = [&](std::string_view part) {
    throw EVObjectError(line, "RRULE part \"" + std::string(part) + "\" is malformed");
  };
  for (std::string_view part : Split(value, ';')) {
    if (part.empty()) continue;
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) fail(part);
    const std::string name = UpperAscii(part.substr(0, eq));
    const std::string_view v = part.substr(eq + 1);
    if (name == "FREQ") {
      const std::string freq = UpperAscii(v);
      has_freq = true;
      rule.freq = freq == "DAILY"     ? TRRule::kDaily
                  : freq == "WEEKLY"  ? TRRule::kWeekly
                  : freq == "MONTHLY" ? TRRule::kMonthly
                  : freq == "YEARLY"  ? TRRule::kYearly
                                      : TRRule::kOther;
      if (rule.freq == TRRule::kOther && freq != "SECONDLY" && freq != "MINUTELY" &&
          freq != "HOURLY")
        fail(part);
    } else if (name == "INTERVAL") {
      if (!ParseInt(v, rule.interval, 1, 100000)) fail(part);
    } else if (name == "COUNT") {
      if (!ParseInt(v, rule.count, 1, 100000000)) fail(part);
    } else if (name == "UNTIL") {
      rule.until = ParseICalTime(v, false, "", line);
    } else if (name == "BYDAY") {
      for (std::string_view item : Split(v, ',')) {
        TWeekdayNum day;
        if (!ParseWeekday(item, day)) fail(part);
        rule.by_day.push_back(day);
      }
    } else if (name == "BYMONTHDAY" || name == "BYMONTH") {
      for (std::string_view item : Split(v, ',')) {
        int n = 0;
        const bool month = name == "BYMONTH";
        if (!ParseInt(item, n, month ? 1 : -31, month ? 12 : 31) || n == 0) fail(part);
        (month ? rule.by_month : rule.by_month_day).push_back(n);
      }
    } else if (name == "WKST") {
      TWeekdayNum day;
      if (!ParseWeekday(v, day) || day.ordinal != 0) fail(part);
      rule.week_start = day.weekday;
    } else {
      rule.other_parts.emplace_back(part);
    }
  }
  if (!has_freq) throw EVObjectError(line, "RRULE without FREQ");
  return rule;
}

bool HandheldCanHold(const TRRule& rule, const TICalTime& start, std::string* why) {
  const auto no = [&](const std::string& reason) {
    if (why != nullptr) *why = reason;
    return false;
  };
  if (rule.freq == TRRule::kOther) return no("repeats more often than daily");
  if (rule.count != 0) return no("ends after a count of occurrences (COUNT)");
  if (!rule.other_parts.empty()) return no("has " + rule.other_parts.front());
  // The record keeps the interval in one byte.
  if (rule.interval > 255) return no("repeats at an interval over 255");
  const int weekday = Weekday(DaysFromCivil(start.year, start.month, start.day));
  switch (rule.freq) {
    case TRRule::kDaily:
      if (!rule.by_day.empty() || !rule.by_month_day.empty() || !rule.by_month.empty())
        return no("a daily rule limited to some days");
      return true;
    case TRRule::kWeekly:
      if (!rule.by_month_day.empty() || !rule.by_month.empty())
        return no("a weekly rule limited to some months or dates");
      for (const TWeekdayNum& day : rule.by_day)
        if (day.ordinal != 0) return no("a weekly rule with an ordinal weekday");
      return true;
    case TRRule::kMonthly:
      if (!rule.by_month.empty()) return no("a monthly rule limited to some months");
      if (!rule.by_day.empty() && !rule.by_month_day.empty())
        return no("a monthly rule by both weekday and date");
      if (rule.by_month_day.size() > 1 || rule.by_day.size() > 1)
        return no("a monthly rule on several days");
      if (rule.by_month_day.size() == 1 && rule.by_month_day[0] != start.day)
        return no("a monthly rule on a date other than the start's");
      if (rule.by_day.size() == 1) {
        const TWeekdayNum day = rule.by_day[0];
        const bool last = start.day + 7 > DaysInMonth(start.year, start.month);
        if (day.weekday != weekday) return no("a monthly rule on a weekday other than the start's");
        if (day.ordinal == 0) return no("a monthly rule on every such weekday");
        if (!(day.ordinal == -1 && last) && day.ordinal != (start.day - 1) / 7 + 1)
          return no("a monthly rule on a week other than the start's");
        if (day.ordinal > 4) return no("a monthly rule in the fifth week");
      }
      return true;
    case TRRule::kYearly:
      if (!rule.by_day.empty()) return no("a yearly rule by weekday");
      if (rule.by_month.size() > 1 || rule.by_month_day.size() > 1)
        return no("a yearly rule on several days");
      if ((rule.by_month.size() == 1 && rule.by_month[0] != start.month) ||
          (rule.by_month_day.size() == 1 && rule.by_month_day[0] != start.day))
        return no("a yearly rule on a date other than the start's");
      return true;
    case TRRule::kOther:
      break;
  }
  return no("repeats more often than daily");
}

int TICalZone::OffsetAt(const TICalTime& local) const {
  const std::int64_t t = Seconds(local);
  std::optional<std::int64_t> best_onset;
  const TObservance* best = nullptr;
  const TObservance* earliest = nullptr;
  for (const TObservance& o : observances) {
    if (earliest == nullptr || Seconds(o.start) < Seconds(earliest->start)) earliest = &o;
    const std::int64_t first = Seconds(o.start);
    std::optional<std::int64_t> onset;
    if (!o.yearly) {
      if (first <= t) onset = first;
    } else {
      // The latest onset at or before t lies in t's year or the one
      // before, or, for a rule that has ended, in UNTIL's year.
      const int top = o.until ? std::min(local.year, o.until->year) : local.year;
      for (int year = top; year >= top - 1 && !onset; --year) {
        const int day = o.has_by_day ? NthWeekday(year, o.by_month, o.by_day)
                                     : std::min(o.by_month_day, DaysInMonth(year, o.by_month));
        if (day <= 0) continue;
        TICalTime when = o.start;
        when.year = year;
        when.month = o.by_month;
        when.day = day;
        const std::int64_t s = Seconds(when);
        // UNTIL is in UTC: its wall time in the offset before the change.
        if (s < first || s > t || (o.until && s > Seconds(*o.until) + o.offset_from)) continue;
        onset = s;
      }
    }
    if (onset && (!best_onset || *onset > *best_onset)) {
      best_onset = onset;
      best = &o;
    }
  }
  if (best != nullptr) return best->offset_to;
  return earliest != nullptr ? earliest->offset_from : 0;
}

TICalTime TICalEvent::End() const {
  if (end) return *end;
  if (duration) return AddSeconds(start, *duration);
  return start.kind == TICalTime::kDate ? AddSeconds(start, 86400) : start;
}

bool TICalEvent::SameFields(const TICalEvent& o) const {
  return uid == o.uid && summary == o.summary && description == o.description &&
         location == o.location && klass == o.klass && start == o.start && end == o.end &&
         duration == o.duration && rrule == o.rrule && exdates == o.exdates &&
         alarms == o.alarms && categories == o.categories;
}

const TICalZone* TICalendar::Zone(std::string_view tzid) const {
  for (const TICalZone& zone : zones)
    if (zone.tzid == tzid) return &zone;
  return nullptr;
}

TICalendar ReadICalendar(std::string_view text) {
  TICalendar calendar;
  for (TVComponent& top : ReadVObjects(text)) {
    if (top.name != "VCALENDAR")
      throw EVObjectError(top.line, top.name + " where a VCALENDAR was expected");
    for (const TVComponent& child : top.components) {
      if (child.name == "VTIMEZONE") calendar.zones.push_back(ReadZone(child));
      if (child.name == "VEVENT") calendar.events.push_back(ReadEvent(child));
    }
    calendar.source.push_back(std::move(top));
  }
  return calendar;
}

std::optional<int> ZoneFileOffsetAt(std::string_view tzif, const TICalTime& local) {
  const std::optional<TZoneFile> zone = ParseZoneFile(tzif);
  if (!zone) return std::nullopt;
  // The offset of the local time: that in force at the instant the local
  // time would be in the offset found for the local time read as UTC.
  const std::int64_t wall = Seconds(local);
  const int guess = zone->OffsetAt(wall);
  return zone->OffsetAt(wall - guess);
}

std::optional<int> IanaOffsetAt(const std::string& name, const TICalTime& local) {
#ifdef _WIN32
  (void)name;
  (void)local;
  return std::nullopt;
#else
  // Only a relative name below the zone folder: no "..", no absolute path.
  if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos ||
      name.size() > 255)
    return std::nullopt;
  std::ifstream in("/usr/share/zoneinfo/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > (1u << 20)) return std::nullopt;
  }
  return ZoneFileOffsetAt(bytes, local);
#endif
}

TICalTime ToDesktopLocal(const TICalTime& time, const TICalendar& calendar, std::string* note) {
  if (time.kind == TICalTime::kDate || time.kind == TICalTime::kFloating) return time;
  std::int64_t utc = Seconds(time);
  if (time.kind == TICalTime::kZoned) {
    std::optional<int> offset;
    if (const TICalZone* zone = calendar.Zone(time.tzid)) offset = zone->OffsetAt(time);
    if (!offset) offset = IanaOffsetAt(time.tzid, time);
    if (!offset) {
      if (note != nullptr)
        *note = "time zone \"" + time.tzid + "\" is unknown here: its times are taken as local";
      TICalTime floating = time;
      floating.kind = TICalTime::kFloating;
      floating.tzid.clear();
      return floating;
    }
    utc -= *offset;
  }
  const auto seconds = static_cast<std::time_t>(utc);
  std::tm tm{};
#ifdef _WIN32
  const bool ok = localtime_s(&tm, &seconds) == 0;
#else
  const bool ok = localtime_r(&seconds, &tm) != nullptr;
#endif
  TICalTime local;
  if (!ok) {
    // Beyond what the platform converts (before 1970 on Windows): UTC.
    SetFromSeconds(local, utc);
    if (note != nullptr) *note = "a time the system cannot convert is taken as UTC";
  } else {
    local.year = tm.tm_year + 1900;
    local.month = tm.tm_mon + 1;
    local.day = tm.tm_mday;
    local.hour = tm.tm_hour;
    local.minute = tm.tm_min;
    local.second = tm.tm_sec;
  }
  local.kind = TICalTime::kFloating;
  return local;
}

}  // namespace fernwick::examples
