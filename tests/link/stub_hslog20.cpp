// A stand-in for the HotSync log library, for the binding tests. LogAddEntry
// remembers the last line with its activity code and flag; the tests read
// them back through StubLastLogEntry.
#include <algorithm>
#include <cstring>
#include <string>

#include <fernwick/abi/SyncApi.h>

namespace {
std::string last_text;
int last_activity = 0;
int last_flag = 0;
std::int32_t entry_count = 0;
}  // namespace

extern "C" {

FW_EXPORT std::int32_t FW_CDECL LogInit() { return 0; }
FW_EXPORT std::int32_t FW_CDECL LogUnInit() { return 0; }

// Returns the number of lines added so far, this one included.
FW_EXPORT std::int32_t FW_CDECL LogAddEntry(const char* text, fernwick::TActivity activity,
                                            std::uint8_t timestamp) {
  last_text = text != nullptr ? text : "<null>";
  last_activity = activity;
  last_flag = timestamp;
  return ++entry_count;
}

FW_EXPORT std::int32_t FW_CDECL LogSaveLog(const char*) { return 0; }
FW_EXPORT std::int32_t FW_CDECL LogGetWorkFileName(char* file_name) {
  if (file_name != nullptr) file_name[0] = '\0';
  return 0;
}
FW_EXPORT std::int32_t FW_CDECL LogBuildRemoteLog(char* buffer, std::int32_t size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  return 0;
}
FW_EXPORT std::int32_t FW_CDECL LogTestCounters() { return 0; }
FW_EXPORT std::int32_t FW_CDECL LogCloseLog() { return 0; }

// Copies the last line (cut to `size` - 1 characters) and returns the number
// of lines added so far.
FW_EXPORT std::int32_t FW_CDECL StubLastLogEntry(char* text, std::int32_t size,
                                                 std::int32_t* activity, std::int32_t* flag) {
  if (size > 0) {
    const std::size_t n = std::min(last_text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(text, last_text.data(), n);
    text[n] = '\0';
  }
  *activity = last_activity;
  *flag = last_flag;
  return entry_count;
}
}
