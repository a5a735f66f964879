#include <dlfcn.h>

#include <algorithm>
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
}  // namespace

std::string PlatformLibraryName(std::string_view name) {
  constexpr std::string_view kDll = ".dll";
  if (name.size() <= kDll.size() ||
      CompareText(name.substr(name.size() - kDll.size()), kDll) != 0) {
    return std::string(name);
  }
  const std::string folder = ExtractFilePath(name);
  const std::string_view base =
      name.substr(folder.size(), name.size() - folder.size() - kDll.size());
  return folder + "lib" + std::string(base) + ".so";
}

TLibHandle LoadLibraryHandle(std::string_view name) {
  const std::string file = PlatformLibraryName(name);
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    RememberError(why != nullptr ? why : file + ": cannot be loaded");
  } else {
    last_error[0] = '\0';
  }
  return handle;
}

void* GetLibraryProc(TLibHandle handle, const char* name) {
  if (handle == nullptr) return nullptr;
  return dlsym(handle, name);
}

void FreeLibraryHandle(TLibHandle handle) {
  if (handle != nullptr) dlclose(handle);
}

std::string LastLibraryError() { return std::string(last_error); }

bool IsLoadedLibraryHandle(TLibHandle handle) { return handle != nullptr; }

}  // namespace fernwick
