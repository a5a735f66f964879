// `configure --choose ACTION [--default]`: drives the conduit's HotSync
// action dialog without a person. The runner hands the conduit library a
// dialog script through the environment variable FERNWICK_DIALOG_SCRIPT
// (control names clicked in order); the library's dialog then takes the same
// path as when a person clicks: the radio button, the check box, OK.
#pragma once

#include <optional>
#include <string>

namespace fernwick::runner {

// The script for ACTION: "sync" (or "fast"), "pctohh" (or "desktop"),
// "hhtopc" (or "handheld"), "donothing", each followed by OK, with
// "Set as default" ticked when `make_default`; "cancel" presses Cancel.
// Throws UsageError for any other action.
std::string DialogScriptFor(const std::string& action, bool make_default);

// Sets FERNWICK_DIALOG_SCRIPT for its lifetime and puts back the previous
// value (or none) when it ends.
class ScopedDialogScript {
 public:
  explicit ScopedDialogScript(const std::string& script);
  ~ScopedDialogScript();
  ScopedDialogScript(const ScopedDialogScript&) = delete;
  ScopedDialogScript& operator=(const ScopedDialogScript&) = delete;

 private:
  std::optional<std::string> previous_;
};

}  // namespace fernwick::runner
