// A stand-in for the Sync Manager library, for the binding tests: it exports
// the 54 functions, and each returns its own position in the binding order
// (SyncAddLogEntry 1, ..., SyncCloseDBEx 54), so that a test can tell which
// function an entry of the table reaches. Built a second time with
// FERNWICK_STUB_OLD_SYNC_MANAGER as an older Sync Manager that lacks the four
// newest functions.
#include <cstring>

#include <fernwick/abi/SyncApi.h>

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace {

constexpr const char* kNames[] = {
#define FERNWICK_STUB_NAME(name, result, params) #name,
    FERNWICK_SYNC_FUNCTIONS(FERNWICK_STUB_NAME)
#undef FERNWICK_STUB_NAME
};

int Position(const char* name) {
  for (std::size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
    if (std::strcmp(kNames[i], name) == 0) return static_cast<int>(i) + 1;
  }
  return 0;
}

}  // namespace

#if defined(FERNWICK_STUB_OLD_SYNC_MANAGER)
// Defined under other names, so that the library does not export these.
#define SyncFindDbByName SyncFindDbByName_absent
#define SyncFindDbByTypeCreator SyncFindDbByTypeCreator_absent
#define SyncReadOpenDbInfo SyncReadOpenDbInfo_absent
#define SyncCloseDBEx SyncCloseDBEx_absent
#endif

#define FERNWICK_STUB_DEFINE(name, result, params) \
  extern "C" FW_EXPORT result FW_CDECL name params { return static_cast<result>(Position(#name)); }
FERNWICK_SYNC_FUNCTIONS(FERNWICK_STUB_DEFINE)
#undef FERNWICK_STUB_DEFINE
