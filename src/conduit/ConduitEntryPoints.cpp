#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include <fernwick/conduit/ConduitEntryPoints.h>
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Forms.h>
#include <fernwick/link/DorvConduitApi.h>
#include <fernwick/link/DorvConduitLog.h>

namespace fernwick {

namespace {

// Writes a line to the HotSync log when the log is bound; never raises.
void LogLine(const std::string& text, TActivity activity) noexcept {
  try {
    if (LogAddEntry.IsBound()) LogAddEntry(text.c_str(), activity, 0);
  } catch (...) {
  }
}

// Reports an exception that left the conduit the way OpenConduit reports an
// EDorvConduitError: its message as a plain line, then the conduit's name
// with activity 21.
void LogFailure(const std::string& message) noexcept {
  std::string name = kUnnamedConduit;
  try {
    if (TDorvConduit* conduit = ConduitReference()) name = conduit->ConduitName();
  } catch (...) {
  }
  LogLine(message, slText);
  LogLine(name, slSyncAborted);
}

// The message of the exception being handled. REQUIRES: called in a catch.
std::string CurrentExceptionMessage(const char* entry) noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    return ExceptionReport(e);
  } catch (...) {
    return std::string("Unknown exception in ") + entry;
  }
}

// Copies `name` into `buffer` of `size` bytes (size >= 1): at most size - 1
// characters, the rest of the `fill` bytes zero.
void CopyName(const std::string& name, char* buffer, std::size_t size, std::size_t fill) {
  std::size_t count = std::min(name.size(), size - 1);
  std::memset(buffer, 0, fill);
  std::memcpy(buffer, name.data(), count);
}

}  // namespace

std::int32_t EntryOpenConduit(void* /*ignored*/, const TSyncProperties* props) {
  try {
    if (const std::string* error = ConduitModuleError()) {
      LogFailure(*error);
      return kErrNoConduitModule;
    }
    TDorvConduit* conduit = ConduitReference();
    if (conduit == nullptr) return 0;
    if (props == nullptr) {
      LogFailure("OpenConduit called without a properties record");
      return kErrNullProperties;
    }
    return conduit->OpenConduit(*props);
  } catch (...) {
    LogFailure(CurrentExceptionMessage("OpenConduit"));
    return kErrUnexpectedException;
  }
}

std::int32_t EntryGetConduitName(char* buffer, std::uint16_t length) {
  try {
    TDorvConduit* conduit = ConduitReference();
    if (conduit == nullptr || buffer == nullptr || length == 0) return 0;
    CopyName(conduit->ConduitName(), buffer, length, length);
  } catch (...) {
  }
  return 0;
}

std::int32_t EntryGetConduitVersion() {
  TDorvConduit* conduit = ConduitReference();
  return conduit == nullptr ? 0 : conduit->GetConduitVersion();
}

std::int32_t EntryGetConduitInfo(std::uint32_t kind, const void* request, void* out,
                                 std::uint32_t* out_size) {
  if (out == nullptr) return kInfoNullOutput;
  if (out_size == nullptr) return kInfoNullOutputSize;
  TDorvConduit* conduit = ConduitReference();
  switch (kind) {
    case cieConduitName: {
      if (request == nullptr) return kInfoNullRequest;
      // Request record: 32-bit version, then 32-bit size; the rest is not read.
      std::uint32_t header[2];
      std::memcpy(header, request, sizeof header);
      if (header[0] != 1 || header[1] != 80) return kInfoBadRequest;
      if (*out_size == 0) return kInfoBadOutputSize;
      try {
        std::string name = conduit == nullptr ? kUnnamedConduit : conduit->ConduitName();
        std::size_t fill = std::min<std::size_t>(name.size() + 1, *out_size);
        CopyName(name, static_cast<char*>(out), fill, fill);
      } catch (...) {
        return kInfoBadOutputSize;
      }
      return kInfoOk;
    }
    case cieMfcVersion: {
      if (*out_size != 4) return kInfoBadOutputSize;
      std::uint32_t value = kConduitMfcVersion;
      std::memcpy(out, &value, 4);
      return kInfoOk;
    }
    case cieDefaultAction: {
      if (*out_size != 4) return kInfoBadOutputSize;
      std::uint32_t value = conduit == nullptr ? stFast : conduit->DefaultAction();
      std::memcpy(out, &value, 4);
      return kInfoOk;
    }
    default:
      return kInfoOk;
  }
}

std::int32_t EntryConfigureConduit(TSyncPreference* prefs) {
  std::int32_t result = -1;
  try {
    TDorvConduit* conduit = ConduitReference();
    if (conduit != nullptr && prefs != nullptr) result = conduit->ConfigureConduit(*prefs);
  } catch (...) {
    // No synchronisation ran, so there is no run to mark as failed: the
    // error is a plain line only.
    LogLine(CurrentExceptionMessage("ConfigureConduit"), slText);
    result = -1;
  }
  // Control goes back to the host's message loop: dialogs released during
  // the call are destroyed now.
  try {
    Application().ProcessReleases();
  } catch (...) {
  }
  return result;
}

}  // namespace fernwick
