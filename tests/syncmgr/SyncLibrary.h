// Loads the emulator library (sync20) at run time from the test's folder, the
// way the component library does, and binds the 54 Sync Manager functions
// and the emulator's extra exports by name.
#pragma once

#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <fernwick/abi/Emulator.h>
#include <fernwick/abi/SyncApi.h>

namespace fernwick::testing {

class LoadedLibrary {
 public:
  // `base` is the name without prefix and suffix: "sync20" loads sync20.dll
  // on Windows and ./libsync20.so on POSIX.
  explicit LoadedLibrary(const std::string& base) {
#if defined(_WIN32)
    handle_ = LoadLibraryA((base + ".dll").c_str());
#else
    handle_ = dlopen(("./lib" + base + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (handle_ == nullptr) throw std::runtime_error("cannot load " + base);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // The address of `name`, or null when the library does not export it.
  void* Find(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }

  template <typename Fn>
  Fn Bind(const char* name) const {
    void* address = Find(name);
    if (address == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Fn>(address);
  }

 private:
  void* handle_ = nullptr;
};

// The emulator's functions, bound once per test program; the library stays
// loaded until the program ends.
struct SyncLibrary {
  explicit SyncLibrary(const LoadedLibrary& lib)
      :
#define FERNWICK_BIND(name, result, params) name(lib.Bind<T##name>(#name)),
        FERNWICK_SYNC_FUNCTIONS(FERNWICK_BIND)
#undef FERNWICK_BIND
            EmuAttachHandheld(lib.Bind<fernwick::TEmuAttachHandheld>("EmuAttachHandheld")),
        EmuDetachHandheld(lib.Bind<fernwick::TEmuDetachHandheld>("EmuDetachHandheld")),
        EmuInjectFault(lib.Bind<fernwick::TEmuInjectFault>("EmuInjectFault")),
        EmuClearFaults(lib.Bind<fernwick::TEmuClearFaults>("EmuClearFaults")),
        EmuGetLastMessage(lib.Bind<fernwick::TEmuGetLastMessage>("EmuGetLastMessage")),
        EmuSetLogSink(lib.Bind<fernwick::TEmuSetLogSink>("EmuSetLogSink")),
        EmuTimeCalls(lib.Bind<fernwick::TEmuTimeCalls>("EmuTimeCalls")),
        EmuGetCallTimes(lib.Bind<fernwick::TEmuGetCallTimes>("EmuGetCallTimes")) {
  }

#define FERNWICK_MEMBER(name, result, params) T##name name;
  FERNWICK_SYNC_FUNCTIONS(FERNWICK_MEMBER)
#undef FERNWICK_MEMBER
  fernwick::TEmuAttachHandheld EmuAttachHandheld;
  fernwick::TEmuDetachHandheld EmuDetachHandheld;
  fernwick::TEmuInjectFault EmuInjectFault;
  fernwick::TEmuClearFaults EmuClearFaults;
  fernwick::TEmuGetLastMessage EmuGetLastMessage;
  fernwick::TEmuSetLogSink EmuSetLogSink;
  fernwick::TEmuTimeCalls EmuTimeCalls;
  fernwick::TEmuGetCallTimes EmuGetCallTimes;

  std::string LastMessage() const {
    char buffer[512];
    EmuGetLastMessage(buffer, sizeof buffer);
    return buffer;
  }

  // The library, loaded once (with PalmCmn and Cmds21 as the component
  // library loads them).
  static SyncLibrary& Get() {
    static LoadedLibrary palm_cmn("PalmCmn");
    static LoadedLibrary cmds("Cmds21");
    static LoadedLibrary sync("sync20");
    static SyncLibrary library(sync);
    return library;
  }
};

}  // namespace fernwick::testing
