// A scripted Sync Manager and HotSync log for the conduit's unit tests: the
// function-table entries the conduit uses are bound to functions of the test
// that record every call and answer the statuses the test chose.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <fernwick/abi/SyncApi.h>

namespace fernwick::testing {

struct LogLine {
  std::string text;
  int activity;
  bool operator==(const LogLine&) const = default;
};

struct SyncScript {
  // Answers.
  std::int32_t api_status = 0;
  std::uint32_t api_major = 2;
  std::uint32_t api_minor = 1;
  std::int32_t register_status = 0;
  std::uint32_t handle = 42;
  std::int32_t yield_status = 0;
  // Records.
  std::vector<std::string> calls;  // "SyncRegisterConduit", "SyncUnRegisterConduit 42", ...
  std::vector<LogLine> log;
  std::vector<std::uint8_t> log_flags;
};

// The script the bound functions answer from. Reset by BindScriptedSyncManager.
SyncScript& Script();

// Binds SyncGetAPIVersion, SyncRegisterConduit, SyncUnRegisterConduit,
// SyncYieldCycles and LogAddEntry to the scripted functions, with a fresh
// script.
void BindScriptedSyncManager();

// Empties those entries again.
void UnbindScriptedSyncManager();

}  // namespace fernwick::testing
