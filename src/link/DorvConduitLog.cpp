#include "LinkTesting.h"
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/link/DorvConduitApi.h>
#include <fernwick/link/DorvConduitLog.h>

namespace fernwick {

#define FERNWICK_DEFINE_ENTRY(name, result, params) BoundFunction<T##name> name{#name};
FERNWICK_LOG_FUNCTIONS(FERNWICK_DEFINE_ENTRY)
#undef FERNWICK_DEFINE_ENTRY

namespace {

constexpr const char* kLogLibrary = "hslog20.dll";

TLibHandle handle = nullptr;
std::string path;
std::string error;
bool loaded = false;
int init_count = 0;

void BindTable(TLibHandle lib) {
#define FERNWICK_BIND_ENTRY(name, result, params) \
  name.Bind(ProcAs<T##name>(GetLibraryProc(lib, name.Name())));
  FERNWICK_LOG_FUNCTIONS(FERNWICK_BIND_ENTRY)
#undef FERNWICK_BIND_ENTRY
}

void ReleaseAll() {
#define FERNWICK_CLEAR_ENTRY(name, result, params) name.Bind(nullptr);
  FERNWICK_LOG_FUNCTIONS(FERNWICK_CLEAR_ENTRY)
#undef FERNWICK_CLEAR_ENTRY
  loaded = false;
  FreeLibraryHandle(handle);
  handle = nullptr;
}

}  // namespace

void LoadLogDll() {
  if (loaded) return;
#if defined(_WIN32)
  const TErrorModeScope error_mode(kSemNoOpenFileErrorBox);
#endif
  // A handle kept from an earlier, failed attempt is released first.
  FreeLibraryHandle(handle);
  handle = nullptr;
  path = PalmDllPath() + kLogLibrary;
  handle = LoadLibraryHandle(path);
  error = handle != nullptr ? std::string() : LastLibraryError();
  loaded = IsLoadedLibraryHandle(handle);
  if (loaded) BindTable(handle);
}

bool LogDllLoaded() { return loaded; }

TLibraryLoadState LogDllLoadState() { return {path, handle != nullptr, error}; }

std::int32_t LogAddFormattedEntry(const std::string& format, std::initializer_list<FormatArg> args,
                                  TActivity activity, bool timestamp) {
  const std::string line = Format(format, args);
  if (!LogAddEntry.IsBound()) return 0;
  return LogAddEntry(line.c_str(), activity, static_cast<std::uint8_t>(timestamp ? 1 : 0));
}

void InitializeDorvConduitLog() {
  if (init_count++ != 0) return;
  try {
    LoadLogDll();
  } catch (...) {
    ReleaseAll();
    --init_count;
    throw;
  }
  if (!loaded) {
    MessageDlg("DorvConduit : Unable to load hslog20.dll", mtError, MsgDlgButtons({mbOK}), 0);
  }
}

void FinalizeDorvConduitLog() {
  if (init_count == 0 || --init_count != 0) return;
  ReleaseAll();
}

void ResetDorvConduitLogForTesting() {
  ReleaseAll();
  path.clear();
  error.clear();
  init_count = 0;
}

}  // namespace fernwick
