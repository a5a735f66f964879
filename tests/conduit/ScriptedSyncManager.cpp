#include "ScriptedSyncManager.h"

#include <fernwick/link/DorvConduitLog.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick::testing {

namespace {

std::int32_t FW_CDECL FakeGetAPIVersion(std::uint32_t* major, std::uint32_t* minor) {
  Script().calls.push_back("SyncGetAPIVersion");
  if (Script().api_status != 0) return Script().api_status;
  *major = Script().api_major;
  *minor = Script().api_minor;
  return 0;
}

std::int32_t FW_CDECL FakeRegisterConduit(std::uint32_t* handle) {
  Script().calls.push_back("SyncRegisterConduit");
  if (Script().register_status != 0) return Script().register_status;
  *handle = Script().handle;
  return 0;
}

std::int32_t FW_CDECL FakeUnRegisterConduit(std::uint32_t handle) {
  std::string call = "SyncUnRegisterConduit ";
  call += std::to_string(handle);
  Script().calls.push_back(call);
  return 0;
}

std::int32_t FW_CDECL FakeYieldCycles(std::uint16_t max_milliseconds) {
  std::string call = "SyncYieldCycles ";
  call += std::to_string(max_milliseconds);
  Script().calls.push_back(call);
  return Script().yield_status;
}

std::int32_t FW_CDECL FakeLogAddEntry(const char* text, TActivity activity,
                                      std::uint8_t timestamp) {
  Script().log.push_back({text, activity});
  Script().log_flags.push_back(timestamp);
  return 0;
}

}  // namespace

SyncScript& Script() {
  static SyncScript script;
  return script;
}

void BindScriptedSyncManager() {
  Script() = SyncScript{};
  SyncGetAPIVersion.Bind(&FakeGetAPIVersion);
  SyncRegisterConduit.Bind(&FakeRegisterConduit);
  SyncUnRegisterConduit.Bind(&FakeUnRegisterConduit);
  SyncYieldCycles.Bind(&FakeYieldCycles);
  LogAddEntry.Bind(&FakeLogAddEntry);
}

void UnbindScriptedSyncManager() {
  SyncGetAPIVersion.Bind(nullptr);
  SyncRegisterConduit.Bind(nullptr);
  SyncUnRegisterConduit.Bind(nullptr);
  SyncYieldCycles.Bind(nullptr);
  LogAddEntry.Bind(nullptr);
}

}  // namespace fernwick::testing
