#include "hotsync/runner/Diagnostics.h"

#include <cstdio>

#include "link/SyncApi.h"

namespace fernwick::runner {

std::string StatusName(std::int32_t status) {
  struct Named {
    std::int32_t status;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {SYNCERR_NONE, "SYNCERR_NONE"},
      {SYNCERR_UNKNOWN, "SYNCERR_UNKNOWN"},
      {SYNCERR_MORE, "SYNCERR_MORE"},
      {SYNCERR_NOT_FOUND, "SYNCERR_NOT_FOUND"},
      {SYNCERR_FILE_NOT_OPEN, "SYNCERR_FILE_NOT_OPEN"},
      {SYNCERR_RECORD_BUSY, "SYNCERR_RECORD_BUSY"},
      {SYNCERR_RECORD_DELETED, "SYNCERR_RECORD_DELETED"},
      {SYNCERR_READ_ONLY, "SYNCERR_READ_ONLY"},
      {SYNCERR_FILE_ALREADY_EXIST, "SYNCERR_FILE_ALREADY_EXIST"},
      {SYNCERR_FILE_ALREADY_OPEN, "SYNCERR_FILE_ALREADY_OPEN"},
      {SYNCERR_NO_FILES_OPEN, "SYNCERR_NO_FILES_OPEN"},
      {SYNCERR_BAD_OPERATION, "SYNCERR_BAD_OPERATION"},
      {SYNCERR_REMOTE_BAD_ARG, "SYNCERR_REMOTE_BAD_ARG"},
      {SYNCERR_LOCAL_BUFF_TOO_SMALL, "SYNCERR_LOCAL_BUFF_TOO_SMALL"},
      {SYNCERR_REMOTE_NO_SPACE, "SYNCERR_REMOTE_NO_SPACE"},
      {SYNCERR_LOCAL_MEM, "SYNCERR_LOCAL_MEM"},
      {SYNCERR_BAD_ARG, "SYNCERR_BAD_ARG"},
      {SYNCERR_LIMIT_EXCEEDED, "SYNCERR_LIMIT_EXCEEDED"},
      {SYNCERR_UNKNOWN_REQUEST, "SYNCERR_UNKNOWN_REQUEST"},
      {SYNCERR_TOO_MANY_OPEN_FILES, "SYNCERR_TOO_MANY_OPEN_FILES"},
  };
  char number[16];
  if (status >= 0) {
    std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(status));
  } else {
    std::snprintf(number, sizeof number, "%d", static_cast<int>(status));
  }
  for (const Named& named : kNames) {
    if (named.status == status) return std::string(named.name) + " (" + number + ")";
  }
  return number;
}

}  // namespace fernwick::runner
