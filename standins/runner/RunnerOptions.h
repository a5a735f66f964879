// The command line of fernwick-hotsync: options, command and conduit
// libraries, parsed into RunnerOptions.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fernwick/abi/SyncProperties.h>

namespace fernwick::runner {

// A command line that cannot be run; the message says what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Command { kSync, kInfo, kConfigure, kHelp, kVersion };

struct RunnerOptions {
  Command command = Command::kHelp;
  std::vector<std::string> conduits;  // conduit library files, in run order
  std::string handheld;               // folder served as the handheld
  std::string desktop;                // PathName: the user's desktop folder
  bool desktop_given = false;         // false: DefaultDesktopFolder() was filled in
  std::optional<std::string> user;    // UserName; default: the handheld's user
  std::string local_name;             // LocalName
  TSyncTypes sync_type = stFast;      // SyncType
  bool sync_type_given = false;
  TFirstSync first_device = fsNeither;  // FirstDevice
  TConnType connection = ctCable;       // Connection
  std::string hotsync_dir;  // folder of sync20, hslog20, ...; default: beside the runner
  std::optional<std::string> log_file;                       // keep the HotSync log in this file
  bool quiet_log = false;                                    // do not print the HotSync log
  std::vector<std::pair<std::string, std::int32_t>> faults;  // function, status
  bool isolate = false;               // sync: each conduit in a child process
  int timeout_seconds = 0;            // with isolate: a conduit's time limit (0: none)
  bool timings = false;               // sync: print where each conduit's time went
  std::optional<std::string> choose;  // configure: the action the dialog script picks
  bool choose_default = false;        // configure: tick "Set as default" too
};

// Parses the arguments after the program name. Throws UsageError, also for
// a path of the wrong kind: --handheld or --desktop naming a file, or a
// conduit library that is a folder; and for an empty --desktop, which
// would be the current folder.
RunnerOptions ParseOptions(const std::vector<std::string>& args);

// The desktop folder used when --desktop is not given: a folder of the
// user's own, never the current folder. POSIX:
// $XDG_DATA_HOME/fernwick/desktop when XDG_DATA_HOME is an absolute path
// (a relative one is ignored), else ~/.local/share/fernwick/desktop;
// Windows: %APPDATA%\Fernwick\Desktop. Throws UsageError when the variable
// it is built from is not set or is not an absolute path.
std::string DefaultDesktopFolder();

// A sync type from its name: "fast", "slow", "hhtopc", "pctohh", "install",
// "backup", "donothing", "profileinstall" (or "stFast", ... or 0 to 7), any
// case. Throws UsageError.
TSyncTypes ParseSyncType(const std::string& text);

// The text of --help.
const char* HelpText();

}  // namespace fernwick::runner
