// Conduits written against the raw entry points, misbehaving on purpose
// (chosen by RAW_CONDUIT_KIND when built):
//  1 "Leftover": registers with the Sync Manager and never unregisters;
//  2 "Crasher": crashes the process in OpenConduit;
//  3 "Looper": never returns from OpenConduit;
//  4 "Chatty": prints to stdout and stderr, and succeeds;
//  5 "Forker": starts a process that writes "forker.late" in the desktop
//    folder two seconds later (its process id is in "forker.pid"), then
//    never returns;
//  6 "Leaker": opens MemoDB and returns 0 without closing it;
//  7 "Stumbler": opens a database that is not there, then closes handle 1
//    that it never got, and fails.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/abi/SyncProperties.h>

#if RAW_CONDUIT_KIND == 5
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif
#endif

// The emulator's exports, bound when the library is loaded (the runner has
// loaded the same sync20 already).
extern "C" std::int32_t FW_CDECL SyncRegisterConduit(std::uint32_t* handle);
extern "C" std::int32_t FW_CDECL SyncOpenDB(const char* name, std::int32_t card_num,
                                            std::uint8_t* handle, std::uint8_t mode);
extern "C" std::int32_t FW_CDECL SyncCloseDB(std::uint8_t handle);

#ifndef RAW_CONDUIT_KIND
#error "RAW_CONDUIT_KIND must be 1 to 7"
#endif

namespace {

const char* Name() {
  switch (RAW_CONDUIT_KIND) {
    case 1:
      return "Leftover";
    case 2:
      return "Crasher";
    case 3:
      return "Looper";
    case 4:
      return "Chatty";
    case 5:
      return "Forker";
    case 6:
      return "Leaker";
    default:
      return "Stumbler";
  }
}

[[maybe_unused]] void Loop() {
  for (volatile bool forever = true; forever;) {
  }
}

#if RAW_CONDUIT_KIND == 5
void WriteText(const std::string& path, const std::string& text) {
  if (std::FILE* file = std::fopen(path.c_str(), "w")) {
    std::fputs(text.c_str(), file);
    std::fclose(file);
  }
}
#endif

}  // namespace

extern "C" {

FW_EXPORT std::int32_t FW_CDECL OpenConduit(void*, void* properties) {
  static_cast<void>(properties);
#if RAW_CONDUIT_KIND == 1
  std::uint32_t handle = 0;
  return SyncRegisterConduit(&handle) == 0 ? 0 : -1;
#elif RAW_CONDUIT_KIND == 2
  std::abort();
#elif RAW_CONDUIT_KIND == 3
  Loop();
  return 0;
#elif RAW_CONDUIT_KIND == 4
  std::printf("Chatty says hello on stdout\n");
  std::fprintf(stderr, "Chatty says hello on stderr\n");
  std::fflush(stdout);
  return 0;
#elif RAW_CONDUIT_KIND == 5
  const std::string desktop = static_cast<fernwick::TSyncProperties*>(properties)->PathName;
#ifdef _WIN32
  std::string command =
      "cmd.exe /c ping -n 3 127.0.0.1 >nul & echo late> " + desktop + "forker.late";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    WriteText(desktop + "forker.pid", std::to_string(process.dwProcessId));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
#else
  const pid_t started = fork();
  if (started == 0) {
    sleep(2);
    WriteText(desktop + "forker.late", "written after the runner went on\n");
    _exit(0);
  }
  if (started > 0) WriteText(desktop + "forker.pid", std::to_string(started));
#endif
  Loop();
  return 0;
#elif RAW_CONDUIT_KIND == 6
  std::uint8_t handle = 0;
  return SyncOpenDB("MemoDB", 0, &handle, fernwick::eDbRead | fernwick::eDbWrite);
#else
  std::uint8_t handle = 0;
  SyncOpenDB("NoSuchDB", 0, &handle, fernwick::eDbRead);
  SyncCloseDB(1);
  return -1;
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
