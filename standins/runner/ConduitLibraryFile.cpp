#include "standins/runner/ConduitLibraryFile.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace fernwick::runner {

ConduitLibraryFile::~ConduitLibraryFile() { FreeLibraryHandle(handle_); }

std::string ConduitLibraryFile::Load(const std::string& path) {
  file_ = path;
  std::error_code ec;
  if (!std::filesystem::exists(file_, ec)) {
    std::string mapped = PlatformLibraryName(path);
    if (mapped == path || !std::filesystem::exists(mapped, ec)) return path + ": file not found";
    file_ = mapped;
  }
  // A name without a folder would be searched for in the system's folders;
  // the user means the file in the current folder.
  std::filesystem::path file_path(file_);
  if (!file_path.has_parent_path()) file_ = (std::filesystem::path(".") / file_path).string();
  handle_ = LoadLibraryHandle(file_);
  if (handle_ == nullptr) {
    std::string why = LastLibraryError();
    return file_ + ": cannot be loaded: " + (why.empty() ? "the loader gave no reason" : why);
  }

  OpenConduit = ProcAs<TOpenConduitFn>(GetLibraryProc(handle_, "OpenConduit"));
  GetConduitName = ProcAs<TGetConduitNameFn>(GetLibraryProc(handle_, "GetConduitName"));
  GetConduitVersion = ProcAs<TGetConduitVersionFn>(GetLibraryProc(handle_, "GetConduitVersion"));
  GetConduitInfo = ProcAs<TGetConduitInfoFn>(GetLibraryProc(handle_, "GetConduitInfo"));
  ConfigureConduit = ProcAs<TConfigureConduitFn>(GetLibraryProc(handle_, "ConfigureConduit"));
  const std::pair<const char*, bool> entries[] = {
      {"OpenConduit", OpenConduit != nullptr},
      {"GetConduitName", GetConduitName != nullptr},
      {"GetConduitVersion", GetConduitVersion != nullptr},
      {"GetConduitInfo", GetConduitInfo != nullptr},
      {"ConfigureConduit", ConfigureConduit != nullptr},
  };
  std::vector<std::string> missing;
  for (const auto& [name, found] : entries) {
    if (!found) missing.push_back(name);
  }
  if (missing.size() == std::size(entries)) {
    return file_ +
           ": not a conduit library (it exports none of OpenConduit, GetConduitName, "
           "GetConduitVersion, GetConduitInfo, ConfigureConduit)";
  }
  if (!missing.empty()) {
    std::string list;
    for (const auto& name : missing) list += (list.empty() ? "" : ", ") + name;
    return file_ + ": entry point" + (missing.size() > 1 ? "s " : " ") + list + " missing";
  }
  return "";
}

}  // namespace fernwick::runner
