#include "standins/runner/Diagnostics.h"

#include <cstdio>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/abi/SyncProperties.h>

namespace fernwick::runner {

std::string StatusName(std::int32_t status) {
  char number[16];
  if (status >= 0) {
    std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(status));
  } else {
    std::snprintf(number, sizeof number, "%d", static_cast<int>(status));
  }
  const char* name = SyncStatusName(status);
  return name != nullptr ? std::string(name) + " (" + number + ")" : std::string(number);
}

std::string ResultName(std::int32_t result) {
  const char* name = ConduitResultName(result);
  return std::to_string(result) + (name != nullptr ? std::string(" (") + name + ")" : "");
}

}  // namespace fernwick::runner
