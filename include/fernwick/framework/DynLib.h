/// \file
/// Loading outside libraries at run time: LoadLibraryA, GetProcAddress and
/// FreeLibrary on Windows; dlopen, dlsym and dlclose on POSIX systems.
///
/// Library names are given as on Windows ("sync20.dll", or a folder followed
/// by it). On POSIX a name ending in ".dll" (any case) stands for the same
/// library under the platform's name in the same folder: "sync20.dll" becomes
/// "libsync20.so", "/opt/palm/PalmCmn.dll" becomes "/opt/palm/libPalmCmn.so".
/// A name without a folder is looked up in the system's search order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fernwick {

/// A loaded library (HMODULE on Windows, dlopen's handle on POSIX), or
/// nullptr.
using TLibHandle = void*;

/// The file name under which `name` is loaded on this platform (see above).
std::string PlatformLibraryName(std::string_view name);

/// Loads a library. Returns nullptr on failure; LastLibraryError() then says
/// why. Each successful call must be matched by one FreeLibraryHandle.
TLibHandle LoadLibraryHandle(std::string_view name);

/// The address of the exported function `name`, or nullptr when the library
/// does not export it.
void* GetLibraryProc(TLibHandle handle, const char* name);

/// Releases one load of the library. A nullptr handle is ignored.
void FreeLibraryHandle(TLibHandle handle);

/// The loader's text for the last failed LoadLibraryHandle on this thread
/// ("" when there is none), for messages.
std::string LastLibraryError();

/// True when a handle counts as a loaded library: on Windows a module handle
/// of 32 or greater (smaller values are the error codes of old loaders); on
/// POSIX any handle that is not null.
bool IsLoadedLibraryHandle(TLibHandle handle);

#if defined(_WIN32)
/// SEM_NOOPENFILEERRORBOX: the system shows no message box for a file that
/// cannot be opened.
constexpr std::uint32_t kSemNoOpenFileErrorBox = 0x8000;

/// Sets the process error mode (SetErrorMode) and returns the previous one.
std::uint32_t SetProcessErrorMode(std::uint32_t mode);

/// Sets the process error mode for the lifetime of the object and restores
/// the previous mode when it ends, also when an exception leaves the scope.
class TErrorModeScope {
 public:
  explicit TErrorModeScope(std::uint32_t mode) : saved_(SetProcessErrorMode(mode)) {}
  ~TErrorModeScope() { SetProcessErrorMode(saved_); }
  TErrorModeScope(const TErrorModeScope&) = delete;
  TErrorModeScope& operator=(const TErrorModeScope&) = delete;

 private:
  std::uint32_t saved_;
};
#endif

/// What became of one library that a unit tried to load, for diagnostics.
struct TLibraryLoadState {
  std::string file_name;  ///< the name asked for, such as "C:\Palm\sync20.dll"
  bool loaded = false;    ///< the unit holds a handle of it
  std::string error;      ///< the loader's text when the last load failed
};

/// Converts a function address from GetLibraryProc to its function pointer
/// type.
template <typename Fn>
Fn ProcAs(void* address) {
  return reinterpret_cast<Fn>(address);
}

}  // namespace fernwick
