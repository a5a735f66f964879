// Fuzz target of the iCalendar reader (examples/common/ICalendar.h): the
// input is a file. A file read without error has every event's times
// brought to local time, its repeat rule judged, and is written back and
// read again: the events must come out the same; any other difference, or
// an exception other than EVObjectError, aborts. An input that begins with
// "TZif" is a zone file instead, asked for its offset at times across the
// calendar's range (for the sanitizers to watch).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/ICalendar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fernwick::examples;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (text.substr(0, 4) == "TZif") {
    for (const int year : {0, 1969, 1970, 2024, 2027, 2038, 2100, 9999}) {
      for (const int month : {1, 3, 12}) {
        TICalTime local;
        local.year = year;
        local.month = month;
        local.day = month == 3 ? 1 : 31;
        local.hour = 23;
        ZoneFileOffsetAt(text, local);
      }
    }
    return 0;
  }
  TICalendar calendar;
  try {
    calendar = ReadICalendar(text);
  } catch (const EVObjectError&) {
    return 0;
  }
  std::string note;
  for (const TICalEvent& event : calendar.events) {
    ToDesktopLocal(event.start, calendar, &note);
    ToDesktopLocal(event.End(), calendar, &note);
    if (event.rrule) HandheldCanHold(*event.rrule, event.start, &note);
  }
  std::string written;
  for (const TVComponent& top : calendar.source) written += WriteVObject(top);
  try {
    const TICalendar again = ReadICalendar(written);
    bool same = again.events.size() == calendar.events.size() &&
                again.zones.size() == calendar.zones.size();
    for (std::size_t i = 0; same && i < calendar.events.size(); ++i)
      same = again.events[i].SameFields(calendar.events[i]);
    if (!same) {
      std::fprintf(stderr, "iCalendar round trip changed the events\n");
      std::abort();
    }
  } catch (const EVObjectError& e) {
    std::fprintf(stderr, "iCalendar written back cannot be read: %s\n", e.what());
    std::abort();
  }
  return 0;
}
