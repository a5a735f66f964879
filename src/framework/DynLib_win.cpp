#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include <fernwick/framework/DynLib.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

// A plain character array: a thread-local object with a destructor would keep
// the C library from unloading a conduit library that holds this code.
thread_local char last_error[1024];

void RememberError(const std::string& text) {
  const std::size_t n = std::min(text.size(), sizeof last_error - 1);
  std::memcpy(last_error, text.data(), n);
  last_error[n] = '\0';
}

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (n > 0 && text != nullptr) message.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + IntToStr(code) : message;
}

}  // namespace

std::string PlatformLibraryName(std::string_view name) { return std::string(name); }

TLibHandle LoadLibraryHandle(std::string_view name) {
  const std::string file(name);
  HMODULE handle = LoadLibraryA(file.c_str());
  if (handle == nullptr) {
    RememberError(file + ": " + SystemMessage(GetLastError()));
  } else {
    last_error[0] = '\0';
  }
  return reinterpret_cast<TLibHandle>(handle);
}

void* GetLibraryProc(TLibHandle handle, const char* name) {
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void FreeLibraryHandle(TLibHandle handle) {
  if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

std::string LastLibraryError() { return std::string(last_error); }

bool IsLoadedLibraryHandle(TLibHandle handle) {
  return reinterpret_cast<std::uintptr_t>(handle) >= 32;
}

std::uint32_t SetProcessErrorMode(std::uint32_t mode) { return SetErrorMode(mode); }

}  // namespace fernwick
