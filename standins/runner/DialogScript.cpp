#include "standins/runner/DialogScript.h"

#include <cctype>
#include <cstdlib>

#include "standins/runner/RunnerOptions.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fernwick::runner {

namespace {

// The variable the library's forms read their script from.
constexpr const char* kScriptVariable = "FERNWICK_DIALOG_SCRIPT";

std::optional<std::string> Get() {
#if defined(_WIN32)
  char buffer[1024];
  DWORD length = GetEnvironmentVariableA(kScriptVariable, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
#else
  const char* value = std::getenv(kScriptVariable);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
#endif
}

void Set(const std::optional<std::string>& value) {
#if defined(_WIN32)
  SetEnvironmentVariableA(kScriptVariable, value ? value->c_str() : nullptr);
#else
  if (value) {
    setenv(kScriptVariable, value->c_str(), 1);
  } else {
    unsetenv(kScriptVariable);
  }
#endif
}

}  // namespace

std::string DialogScriptFor(const std::string& action, bool make_default) {
  std::string wanted;
  for (char c : action)
    wanted.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (wanted.rfind("st", 0) == 0) wanted = wanted.substr(2);
  std::string radio;
  if (wanted == "sync" || wanted == "fast" || wanted == "synchronise") {
    radio = "SynchroniseRB";
  } else if (wanted == "pctohh" || wanted == "desktop") {
    radio = "DesktopRB";
  } else if (wanted == "hhtopc" || wanted == "handheld") {
    radio = "HandheldRB";
  } else if (wanted == "donothing" || wanted == "nothing") {
    radio = "DoNothingRB";
  } else if (wanted == "cancel") {
    return "CancelBtn";
  } else {
    throw UsageError("unknown action '" + action +
                     "' for --choose (sync, pctohh, hhtopc, donothing, cancel)");
  }
  return radio + (make_default ? " DefaultCB" : "") + " OkBtn";
}

ScopedDialogScript::ScopedDialogScript(const std::string& script) : previous_(Get()) {
  Set(script);
}

ScopedDialogScript::~ScopedDialogScript() { Set(previous_); }

}  // namespace fernwick::runner
