// A conduit library loaded by the runner, with its five entry points.
#pragma once

#include <cstdint>
#include <string>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/abi/SyncProperties.h>
#include <fernwick/framework/DynLib.h>

namespace fernwick::runner {

// The entry points, as a conduit library exports them.
using TOpenConduitFn = std::int32_t(FW_CDECL*)(void*, TSyncProperties*);
using TGetConduitNameFn = std::int32_t(FW_CDECL*)(char*, std::uint16_t);
using TGetConduitVersionFn = std::int32_t(FW_CDECL*)();
using TGetConduitInfoFn = std::int32_t(FW_CDECL*)(std::uint32_t, void*, void*, std::uint32_t*);
using TConfigureConduitFn = std::int32_t(FW_CDECL*)(TSyncPreference*);

class ConduitLibraryFile {
 public:
  ConduitLibraryFile() = default;
  ConduitLibraryFile(const ConduitLibraryFile&) = delete;
  ConduitLibraryFile& operator=(const ConduitLibraryFile&) = delete;
  // Unloads the library (its data module is destroyed then).
  ~ConduitLibraryFile();

  // Loads `path` and looks up the five entry points. Returns "" on success,
  // otherwise one line saying why not: the file does not exist, the loader
  // refused it (with the loader's own message), it is not a conduit library
  // (none of the entry points), or which entry points are missing.
  std::string Load(const std::string& path);

  // The file actually loaded (on POSIX "x.dll" stands for "libx.so").
  const std::string& FileName() const { return file_; }

  TOpenConduitFn OpenConduit = nullptr;
  TGetConduitNameFn GetConduitName = nullptr;
  TGetConduitVersionFn GetConduitVersion = nullptr;
  TGetConduitInfoFn GetConduitInfo = nullptr;
  TConfigureConduitFn ConfigureConduit = nullptr;

 private:
  TLibHandle handle_ = nullptr;
  std::string file_;
};

}  // namespace fernwick::runner
