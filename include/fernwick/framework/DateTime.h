/// \file
/// The host framework's date and time: TDateTime counts days since
/// 30 December 1899 00:00; the fraction is the time of day.
#pragma once

namespace fernwick {

/// Days since 30 December 1899, 00:00 (so 1.5 is 31 December 1899, 12:00).
/// Before that date the whole part counts backwards and the fraction is still
/// the time of day (-1.25 is 29 December 1899, 06:00).
using TDateTime = double;

/// The TDateTime of midnight at the start of the given day. Raises
/// EConvertError "Invalid argument to date encode" unless 1 <= year <= 9999,
/// 1 <= month <= 12 and 1 <= day <= the number of days of that month.
TDateTime EncodeDate(int year, int month, int day);

/// Splits the date part of `value` into year, month and day. A value outside
/// the years 1 to 9999 (or not a number) gives 0, 0, 0.
void DecodeDate(TDateTime value, int& year, int& month, int& day);

/// The fraction of a day of the given time. Raises EConvertError "Invalid
/// argument to time encode" unless hour < 24, minute < 60, second < 60 and
/// millisecond < 1000 (none negative).
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);

/// Splits the time part of `value` into hour, minute, second and millisecond,
/// rounded to the nearest millisecond. A value that is not a number, or too
/// large to hold a time of day, gives 0, 0, 0, 0.
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

/// True for leap years of the Gregorian calendar.
bool IsLeapYear(int year);

/// Number of days in the given month (1 to 12) of `year`.
int DaysInMonth(int year, int month);

}  // namespace fernwick
