#include <cmath>
#include <cstdint>

#include <fernwick/framework/DateTime.h>
#include <fernwick/framework/Exceptions.h>

// A TDateTime must be the same double on every build, so that values computed
// here compare equal to values computed by the caller or stored elsewhere.
// x87 arithmetic keeps 80-bit intermediates and breaks that.
#if (defined(__i386__) || defined(_M_IX86)) && defined(__GNUC__) && !defined(__SSE2_MATH__)
#error "Build for 32-bit x86 with -msse2 -mfpmath=sse (IEEE double arithmetic)"
#endif

namespace fernwick {

namespace {

constexpr std::int64_t kMSecsPerDay = 24LL * 60 * 60 * 1000;
// Days from 1 January 0001 to 30 December 1899, the origin of TDateTime.
constexpr std::int64_t kDateDelta = 693593;

// Days from 1 January 0001 to the given date (1 January 0001 is day 0).
std::int64_t DaysFromYearOne(int year, int month, int day) {
  static constexpr int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const std::int64_t y = year - 1;
  std::int64_t days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[month - 1] + day - 1;
  if (month > 2 && IsLeapYear(year)) ++days;
  return days;
}

// Whole milliseconds of `value` (rounded half to even), or false when the
// value is not a number or out of any useful range.
bool TotalMilliseconds(TDateTime value, std::int64_t& ms) {
  if (!std::isfinite(value) || std::fabs(value) > 4.0e6) return false;
  ms = static_cast<std::int64_t>(std::nearbyint(value * static_cast<double>(kMSecsPerDay)));
  return true;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<TDateTime>(DaysFromYearOne(year, month, day) - kDateDelta);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  year = month = day = 0;
  std::int64_t ms = 0;
  if (!TotalMilliseconds(value, ms)) return;
  // The whole part counts days, towards zero as the framework does.
  std::int64_t days = ms / kMSecsPerDay + kDateDelta;
  if (days < 0 || days > DaysFromYearOne(9999, 12, 31)) return;
  // 400-year cycles of 146097 days, then centuries, 4-year cycles and years.
  const std::int64_t n400 = days / 146097;
  days %= 146097;
  std::int64_t n100 = days / 36524;
  if (n100 == 4) n100 = 3;
  days -= n100 * 36524;
  const std::int64_t n4 = days / 1461;
  days %= 1461;
  std::int64_t n1 = days / 365;
  if (n1 == 4) n1 = 3;
  days -= n1 * 365;
  year = static_cast<int>(n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1);
  month = 1;
  while (days >= DaysInMonth(year, month)) {
    days -= DaysInMonth(year, month);
    ++month;
  }
  day = static_cast<int>(days) + 1;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    throw EConvertError("Invalid argument to time encode");
  const std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / static_cast<double>(kMSecsPerDay);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  hour = minute = second = millisecond = 0;
  std::int64_t ms = 0;
  if (!TotalMilliseconds(value, ms)) return;
  ms %= kMSecsPerDay;
  if (ms < 0) ms = -ms;
  millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  second = static_cast<int>(ms % 60);
  ms /= 60;
  minute = static_cast<int>(ms % 60);
  hour = static_cast<int>(ms / 60);
}

}  // namespace fernwick
