#include <array>

#include "LinkTesting.h"
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/link/DorvConduitApi.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {

#define FERNWICK_DEFINE_ENTRY(name, result, params) BoundFunction<T##name> name{#name};
FERNWICK_SYNC_FUNCTIONS(FERNWICK_DEFINE_ENTRY)
#undef FERNWICK_DEFINE_ENTRY

namespace {

// The libraries of the Sync Manager side, in load order. hslog20 is the
// unit's own handle, separate from the log side's.
enum LibraryIndex { kPalmCmn, kHsLog, kCmds, kSync, kLibraryCount };

struct LibrarySlot {
  explicit LibrarySlot(const char* file_name) : file(file_name) {}
  const char* file;
  TLibHandle handle = nullptr;
  std::string path;
  std::string error;
};

std::array<LibrarySlot, kLibraryCount> libraries = {
    LibrarySlot("PalmCmn.dll"), LibrarySlot("hslog20.dll"), LibrarySlot("Cmds21.dll"),
    LibrarySlot("sync20.dll")};
bool loaded = false;
int init_count = 0;

void BindTable(TLibHandle sync) {
#define FERNWICK_BIND_ENTRY(name, result, params) \
  name.Bind(ProcAs<T##name>(GetLibraryProc(sync, name.Name())));
  FERNWICK_SYNC_FUNCTIONS(FERNWICK_BIND_ENTRY)
#undef FERNWICK_BIND_ENTRY
}

void ClearTable() {
#define FERNWICK_CLEAR_ENTRY(name, result, params) name.Bind(nullptr);
  FERNWICK_SYNC_FUNCTIONS(FERNWICK_CLEAR_ENTRY)
#undef FERNWICK_CLEAR_ENTRY
}

void Release(LibrarySlot& slot) {
  FreeLibraryHandle(slot.handle);
  slot.handle = nullptr;
}

// Releases every library held, sync20 first, and leaves no entry pointing
// into them.
void ReleaseAll() {
  ClearTable();
  loaded = false;
  for (LibraryIndex i : {kSync, kPalmCmn, kCmds, kHsLog}) Release(libraries[i]);
}

}  // namespace

void LoadSyncDll() {
  if (loaded) return;
#if defined(_WIN32)
  const TErrorModeScope error_mode(kSemNoOpenFileErrorBox);
#endif
  bool all_loaded = true;
  for (LibrarySlot& slot : libraries) {
    // A library kept from an earlier, failed attempt is released before it
    // is loaded again, so that retries do not pile up references to it.
    Release(slot);
    slot.path = PalmDllPath() + slot.file;
    slot.handle = LoadLibraryHandle(slot.path);
    slot.error = slot.handle != nullptr ? std::string() : LastLibraryError();
    if (!IsLoadedLibraryHandle(slot.handle)) all_loaded = false;
  }
  loaded = all_loaded;
  if (loaded) BindTable(libraries[kSync].handle);
}

bool SyncDllLoaded() { return loaded; }

std::vector<TLibraryLoadState> SyncDllLoadStates() {
  std::vector<TLibraryLoadState> states;
  for (const LibrarySlot& slot : libraries) {
    states.push_back({slot.path, slot.handle != nullptr, slot.error});
  }
  return states;
}

void InitializeDorvConduitSync() {
  if (init_count++ != 0) return;
  try {
    LoadSyncDll();
  } catch (...) {
    ReleaseAll();
    --init_count;
    throw;
  }
  if (!loaded) {
    MessageDlg("DorvConduit : Unable to load sync20.dll", mtError, MsgDlgButtons({mbOK}), 0);
  }
}

void FinalizeDorvConduitSync() {
  if (init_count == 0 || --init_count != 0) return;
  ReleaseAll();
}

void TestSyncApi(const std::string& msg, std::int32_t code) {
  if (code != 0) throw EDorvConduitError(msg, code);
}

void ResetDorvConduitSyncForTesting() {
  ReleaseAll();
  for (LibrarySlot& slot : libraries) {
    slot.path.clear();
    slot.error.clear();
  }
  init_count = 0;
}

}  // namespace fernwick
