#include "DateText.h"

#include <cstdio>

#include <fernwick/db/DorvPalmFields.h>

namespace fernwick::examples {

std::string DateText(std::int32_t packed) {
  packed &= 0xFFFF;
  int year = 0, month = 0, day = 0;
  char text[32] = "";
  if (packed == 0xFFFF) {
  } else if (DecodePalmDate(packed, year, month, day)) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  } else {
    std::snprintf(text, sizeof text, "not a date (0x%04X)", static_cast<unsigned>(packed));
  }
  return text;
}

int PackedDate(const std::string& text) {
  int year = 0, month = 0, day = 0;
  // Checked before packing: a month or day out of range would spill into
  // the bits of the next.
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d", &year, &month, &day) != 3 || year < 1904 ||
      year > 2031 || month < 1 || month >= 16 || day < 1 || day >= 32)
    return -1;
  const int packed = ((year - 1904) << 9) | (month << 5) | day;
  return DecodePalmDate(packed, year, month, day) ? packed : -1;
}

}  // namespace fernwick::examples
