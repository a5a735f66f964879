// What the runner tells the user beyond the HotSync log's own lines: the
// names of Sync Manager statuses.
#pragma once

#include <cstdint>
#include <string>

namespace fernwick::runner {

// "SYNCERR_NOT_FOUND (0x4003)" for a known Sync Manager status, else the
// number ("-5", "0x12345").
std::string StatusName(std::int32_t status);

}  // namespace fernwick::runner
