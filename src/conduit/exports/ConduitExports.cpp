// The five entry points of a conduit library, exported under their C names
// with the C calling convention, and the library's lifetime object.
//
// This file is compiled into every conduit library by fernwick_add_conduit
// (it is not part of the static library, from which a linker would drop it
// as unreferenced). The library's export list (conduit.def on Windows,
// conduit.map elsewhere) exports these five names and nothing else.
#include <cstdint>
#include <memory>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/abi/SyncProperties.h>
#include <fernwick/conduit/ConduitEntryPoints.h>
#include <fernwick/conduit/ConduitModule.h>

// Defined by the conduit's FERNWICK_CONDUIT_MODULE line.
std::unique_ptr<fernwick::TComponent> FernwickCreateConduitModule();

namespace {

// Created on the first entry point call (not at load time; see
// ConduitModule.h); destroyed when the library is unloaded.
fernwick::ConduitLibrary& Library() {
  static fernwick::ConduitLibrary library(&FernwickCreateConduitModule);
  library.EnsureStarted();
  return library;
}

}  // namespace

extern "C" {

FW_EXPORT std::int32_t FW_CDECL OpenConduit(void* ignored, fernwick::TSyncProperties* props) {
  Library();
  return fernwick::EntryOpenConduit(ignored, props);
}

FW_EXPORT std::int32_t FW_CDECL GetConduitName(char* buffer, std::uint16_t length) {
  Library();
  return fernwick::EntryGetConduitName(buffer, length);
}

FW_EXPORT std::int32_t FW_CDECL GetConduitVersion() {
  Library();
  return fernwick::EntryGetConduitVersion();
}

FW_EXPORT std::int32_t FW_CDECL GetConduitInfo(std::uint32_t kind, void* request, void* out,
                                               std::uint32_t* out_size) {
  Library();
  return fernwick::EntryGetConduitInfo(kind, request, out, out_size);
}

FW_EXPORT std::int32_t FW_CDECL ConfigureConduit(fernwick::TSyncPreference* prefs) {
  Library();
  return fernwick::EntryConfigureConduit(prefs);
}

}  // extern "C"
