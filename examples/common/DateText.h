// Handheld dates (pftDate) as text: ISO 8601 calendar dates, YYYY-MM-DD.
#pragma once

#include <cstdint>
#include <string>

namespace fernwick::examples {

// The text of the date packed in the low 16 bits of `packed`: YYYY-MM-DD;
// empty for FF FF (no date); "not a date (0xNNNN)" for bits that are no day
// of the calendar, so that a damaged date shows as what it is.
std::string DateText(std::int32_t packed);
// The packed date of `text`, which begins with a date written YYYY-MM-DD;
// -1 when it does not, or the date is no day of the calendar the handheld
// holds (1904 to 2031).
int PackedDate(const std::string& text);

}  // namespace fernwick::examples
