// A stand-in for PalmCmn and Cmds21, which the Sync Manager needs beside it:
// the binding only loads them.
#include <fernwick/abi/SyncApi.h>

extern "C" FW_EXPORT std::int32_t FW_CDECL FernwickStubLibraryVersion() { return 1; }
