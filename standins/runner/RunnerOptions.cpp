#include "standins/runner/RunnerOptions.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace fernwick::runner {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Parses a whole decimal (or 0x hexadecimal) number, or returns nullopt.
std::optional<std::int64_t> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 0);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return value;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool IsFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec);
}

std::string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string DefaultDesktopFolder() {
#if defined(_WIN32)
  const std::string app_data = FromEnvironment("APPDATA");
  if (app_data.empty()) throw UsageError("no --desktop given, and APPDATA is not set");
  if (!std::filesystem::path(app_data).is_absolute()) {
    throw UsageError("no --desktop given, and APPDATA (" + app_data +
                     ") is not an absolute path; it would name a folder below the current one");
  }
  return (std::filesystem::path(app_data) / "Fernwick" / "Desktop").string();
#else
  // A relative XDG_DATA_HOME is not valid, and is ignored as the XDG base
  // directory rules say: it would name a folder below the current one.
  if (std::string data = FromEnvironment("XDG_DATA_HOME"); !data.empty() && data[0] == '/') {
    return (std::filesystem::path(data) / "fernwick" / "desktop").string();
  }
  const std::string home = FromEnvironment("HOME");
  if (home.empty()) throw UsageError("no --desktop given, and HOME is not set");
  if (home[0] != '/') {
    throw UsageError("no --desktop given, and HOME (" + home +
                     ") is not an absolute path; it would name a folder below the current one");
  }
  return (std::filesystem::path(home) / ".local" / "share" / "fernwick" / "desktop").string();
#endif
}

TSyncTypes ParseSyncType(const std::string& text) {
  std::string wanted = Lower(text);
  if (wanted.rfind("st", 0) == 0) wanted = wanted.substr(2);
  for (std::uint32_t i = 0; SyncTypeName(i) != nullptr; ++i) {
    if (Lower(SyncTypeName(i) + 2) == wanted) return static_cast<TSyncTypes>(i);
  }
  if (auto number = ParseNumber(text); number && *number >= 0 && *number <= 7) {
    return static_cast<TSyncTypes>(*number);
  }
  throw UsageError("unknown sync type '" + text +
                   "' (fast, slow, hhtopc, pctohh, install, backup, donothing, profileinstall)");
}

RunnerOptions ParseOptions(const std::vector<std::string>& args) {
  RunnerOptions options;
  bool have_command = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // --name=value or --name value.
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0) {
      if (auto eq = arg.find('='); eq != std::string::npos) {
        name = arg.substr(0, eq);
        inline_value = arg.substr(eq + 1);
      }
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
      return args[++i];
    };

    if (name == "-h" || name == "--help") {
      options.command = Command::kHelp;
      return options;
    } else if (name == "--version") {
      options.command = Command::kVersion;
      return options;
    } else if (name == "--handheld") {
      options.handheld = value();
    } else if (name == "--desktop") {
      options.desktop = value();
      options.desktop_given = true;
      if (options.desktop.empty()) {
        throw UsageError(
            "--desktop is empty (an unset variable?); give a folder, '.' for the current one");
      }
    } else if (name == "--user") {
      options.user = value();
    } else if (name == "--local-name") {
      options.local_name = value();
    } else if (name == "--sync-type") {
      options.sync_type = ParseSyncType(value());
      options.sync_type_given = true;
    } else if (name == "--first-device") {
      std::string v = Lower(value());
      if (v == "neither") {
        options.first_device = fsNeither;
      } else if (v == "pc") {
        options.first_device = fsPC;
      } else if (v == "hh" || v == "handheld") {
        options.first_device = fsHH;
      } else {
        throw UsageError("unknown first device '" + v + "' (neither, pc, hh)");
      }
    } else if (name == "--connection") {
      std::string v = Lower(value());
      if (v == "cable") {
        options.connection = ctCable;
      } else if (v == "modem") {
        options.connection = ctModem;
      } else {
        throw UsageError("unknown connection '" + v + "' (cable, modem)");
      }
    } else if (name == "--hotsync-dir") {
      options.hotsync_dir = value();
    } else if (name == "--log") {
      options.log_file = value();
    } else if (name == "--no-log") {
      options.quiet_log = true;
    } else if (name == "--choose") {
      options.choose = value();
    } else if (name == "--default") {
      options.choose_default = true;
    } else if (name == "--fault") {
      std::string v = value();
      auto eq = v.find('=');
      auto status = eq == std::string::npos ? std::nullopt : ParseNumber(v.substr(eq + 1));
      if (!status || eq == 0) {
        throw UsageError("--fault needs FUNCTION=STATUS, such as SyncRegisterConduit=16385");
      }
      options.faults.emplace_back(v.substr(0, eq), static_cast<std::int32_t>(*status));
    } else if (name == "--isolate") {
      options.isolate = true;
    } else if (name == "--timings") {
      options.timings = true;
    } else if (name == "--timeout") {
      const std::string v = value();
      auto seconds = ParseNumber(v);
      if (!seconds || *seconds < 1 || *seconds > 86400) {
        throw UsageError("--timeout needs a number of seconds from 1 to 86400, not '" + v + "'");
      }
      options.timeout_seconds = static_cast<int>(*seconds);
      options.isolate = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else if (!have_command) {
      if (arg == "sync") {
        options.command = Command::kSync;
      } else if (arg == "info") {
        options.command = Command::kInfo;
      } else if (arg == "configure") {
        options.command = Command::kConfigure;
      } else if (arg == "help") {
        options.command = Command::kHelp;
        return options;
      } else {
        throw UsageError("unknown command '" + arg + "' (sync, info, configure)");
      }
      have_command = true;
    } else {
      options.conduits.push_back(arg);
    }
  }
  if (!have_command) throw UsageError("no command given (sync, info, configure)");
  if (options.conduits.empty()) throw UsageError("no conduit library given");
  if (options.command == Command::kConfigure && options.conduits.size() != 1) {
    throw UsageError("configure takes exactly one conduit library");
  }
  if (options.isolate && options.log_file) {
    throw UsageError(
        "--log cannot be combined with --isolate (each conduit's process prints its "
        "own HotSync log)");
  }
  if (options.timings && (options.isolate || options.command != Command::kSync)) {
    throw UsageError("--timings belongs to sync, without --isolate");
  }
  if ((options.choose || options.choose_default) && options.command != Command::kConfigure) {
    throw UsageError("--choose and --default belong to configure");
  }
  if (options.choose_default && !options.choose) throw UsageError("--default needs --choose");
  if (options.command == Command::kSync && options.handheld.empty()) {
    throw UsageError("sync needs the handheld folder: --handheld DIR");
  }
  if (IsFile(options.handheld)) {
    throw UsageError("--handheld " + options.handheld + " is a file, not a folder");
  }
  if (IsFile(options.desktop)) {
    throw UsageError("--desktop " + options.desktop + " is a file, not a folder");
  }
  for (const std::string& conduit : options.conduits) {
    if (IsFolder(conduit)) throw UsageError(conduit + " is a folder, not a conduit library");
  }
  return options;
}

const char* HelpText() {
  return R"(fernwick-hotsync: runs HotSync conduits the way HotSync Manager does, against a
handheld emulated from a folder of .pdb/.prc files.

Usage:
  fernwick-hotsync [options] sync CONDUIT...     synchronise, one conduit after another
  fernwick-hotsync [options] info CONDUIT...     show what each conduit says about itself
  fernwick-hotsync [options] configure CONDUIT   let the user choose the conduit's action
  fernwick-hotsync [options] configure --choose ACTION [--default] CONDUIT
                                                 choose it without a person
  fernwick-hotsync --help | -h | --version

CONDUIT is a conduit library file (example.dll on Windows, libexample.so here;
"example.dll" also finds libexample.so on Linux).

Options (for the record HotSync Manager passes to the conduit):
  --handheld DIR        the handheld: a folder of database files (required by sync)
  --desktop DIR         the user's desktop folder (PathName); default: a folder of
                        the user's own, printed when used ($XDG_DATA_HOME/fernwick/
                        desktop when XDG_DATA_HOME is absolute, else
                        ~/.local/share/fernwick/desktop; on Windows
                        %APPDATA%\Fernwick\Desktop), never the current folder
  --user NAME           the handheld user's name (UserName); default: the handheld's own
  --local-name NAME     the desktop file name (LocalName); default: empty
  --sync-type TYPE      fast (default), slow, hhtopc, pctohh, install, backup,
                        donothing or profileinstall
  --first-device WHICH  neither (default), pc or hh
  --connection HOW      cable (default) or modem

Options of configure:
  --choose ACTION       answer the HotSync action dialog as a person would: sync,
                        pctohh, hhtopc or donothing, then OK; or cancel
  --default             with --choose: tick "Set as default" (a permanent choice)

The action chosen with configure is kept per user and conduit in the file
fernwick-hotsync.state of the desktop folder: a temporary choice is used by the
next successful sync only, a permanent one by every sync; --sync-type overrides
both for one run. info shows the stored choice. When the conduit does not
accept, configure prints why from the HotSync log: "cancelled" alone, or with
why no dialog could be shown (it then counts as cancelled), or "failed" with
the message of the error that stopped it.

Options for the test bench:
  --hotsync-dir DIR     folder of the stand-ins (sync20, hslog20, PalmCmn, Cmds21);
                        default: the folder of this program
  --log FILE            keep the HotSync log in FILE
  --no-log              do not print the HotSync log
  --fault FN=STATUS     make the emulator's next call of Sync Manager function FN
                        answer STATUS (e.g. --fault SyncRegisterConduit=16385);
                        may be given more than once (with --isolate: for
                        every conduit)
  --isolate             run each conduit in a child process, so that one that
                        crashes is reported and the others still run
  --timeout SECONDS     with --isolate (implied): stop a conduit that runs
                        longer and report it
  --timings             after each conduit, print where its time went: loading
                        it, and running it, split into the Sync Manager's calls
                        (opening, reading, writing back, the rest) and the
                        conduit's own work (not with --isolate)

The runner points the HotSync installation path (registry value "HotSyncPath")
at the stand-ins while it runs, so that each conduit binds them as it would
bind the real libraries; on Windows the previous value is restored afterwards.

Example (from the build's bin folder; sync changes the handheld folder it is
given, so give it a copy, in a fresh folder of your own):
  try=$(mktemp -d) && cp -R ../../../samples/handheld "$try"/
  ./fernwick-hotsync --handheld "$try"/handheld \
      --desktop "$try"/desktop --user "Jo Palm" sync libminimal_conduit.so

Exit status: 0 all conduits ran (or --help, --version); 1 a conduit failed
(or, for configure, the user cancelled); 2 the command line is wrong (also
with no arguments, and for a file given where a folder is wanted or the
reverse); 3 a conduit or a stand-in could not be loaded.
)";
}

}  // namespace fernwick::runner
