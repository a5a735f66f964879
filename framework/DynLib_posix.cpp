#include <dlfcn.h>

#include "framework/DynLib.h"
#include "framework/SysUtils.h"

namespace fernwick {

namespace {
thread_local std::string last_error;
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
    last_error = why != nullptr ? why : file + ": cannot be loaded";
  } else {
    last_error.clear();
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

std::string LastLibraryError() { return last_error; }

bool IsLoadedLibraryHandle(TLibHandle handle) { return handle != nullptr; }

}  // namespace fernwick
