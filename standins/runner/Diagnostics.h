// What the runner tells the user beyond the HotSync log's own lines: the
// names of Sync Manager statuses and of conduit results.
#pragma once

#include <cstdint>
#include <string>

namespace fernwick::runner {

// "SYNCERR_NOT_FOUND (0x4003)" for a known Sync Manager status, else the
// number ("-5", "0x12345").
std::string StatusName(std::int32_t status);

// An OpenConduit result with its name: "-3 (kErrUnexpectedException)" for
// the library's own results (docs/programs.md says what each means), else the
// number alone (a code the conduit's handler set).
std::string ResultName(std::int32_t result);

}  // namespace fernwick::runner
