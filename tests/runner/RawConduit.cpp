// Conduits written against the raw entry points, misbehaving on purpose
// (chosen by RAW_CONDUIT_KIND when built):
//  1 "Leftover": registers with the Sync Manager and never unregisters;
//  2 "Crasher": crashes the process in OpenConduit;
//  3 "Looper": never returns from OpenConduit.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/SyncApi.h"

// The emulator's export, bound when the library is loaded (the runner has
// loaded the same sync20 already).
extern "C" std::int32_t FW_CDECL SyncRegisterConduit(std::uint32_t* handle);

#ifndef RAW_CONDUIT_KIND
#error "RAW_CONDUIT_KIND must be 1, 2 or 3"
#endif

namespace {

const char* Name() {
  switch (RAW_CONDUIT_KIND) {
    case 1:
      return "Leftover";
    case 2:
      return "Crasher";
    default:
      return "Looper";
  }
}

}  // namespace

extern "C" {

FW_EXPORT std::int32_t FW_CDECL OpenConduit(void*, void*) {
#if RAW_CONDUIT_KIND == 1
  std::uint32_t handle = 0;
  return SyncRegisterConduit(&handle) == 0 ? 0 : -1;
#elif RAW_CONDUIT_KIND == 2
  std::abort();
#else
  for (volatile bool forever = true; forever;) {
  }
  return 0;
#endif
}

FW_EXPORT std::int32_t FW_CDECL GetConduitName(char* name, std::uint16_t size) {
  if (name == nullptr || size == 0) return 0;
  std::strncpy(name, Name(), size - 1);
  name[size - 1] = '\0';
  return 0;
}

FW_EXPORT std::int32_t FW_CDECL GetConduitVersion() { return 0x100; }

FW_EXPORT std::int32_t FW_CDECL GetConduitInfo(std::uint32_t, void*, void*, std::uint32_t*) {
  return -1;
}

FW_EXPORT std::int32_t FW_CDECL ConfigureConduit(void*) { return -1; }

}  // extern "C"
