#include "standins/runner/Runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standins/runner/ConduitLibraryFile.h"
#include "standins/runner/Diagnostics.h"
#include "standins/runner/DialogScript.h"
#include "standins/runner/RunLog.h"
#include "standins/runner/Installation.h"
#include "standins/runner/Isolate.h"
#include "standins/runner/StandIns.h"
#include "standins/runner/SyncChoices.h"
#include "standins/runner/Temporaries.h"
#include <fernwick/FernwickVersion.h>
#include <fernwick/abi/SyncProperties.h>

namespace fernwick::runner {

namespace {

constexpr const char* kDefaultUser = "HotSync User";
constexpr std::uint32_t kHkeyCurrentUser = 0x80000001u;

void SetText(char (&dest)[kSyncPathLength], const std::string& text) {
  std::memset(dest, 0, kSyncPathLength);
  std::memcpy(dest, text.data(), std::min(text.size(), kSyncPathLength));
}

// "" when `value` fits a field of kSyncPathLength characters with its NUL;
// otherwise the message that refuses it (a value is never cut: a cut path
// names another folder).
std::string CheckFits(const char* option, const char* field, const std::string& value) {
  if (value.size() < kSyncPathLength) return "";
  std::string why(option);
  why += " is ";
  why += std::to_string(value.size());
  why += " characters long; the ";
  why += field;
  why += " field holds at most ";
  why += std::to_string(kSyncPathLength - 1);
  return why;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

std::string ConduitName(ConduitLibraryFile& conduit) {
  char name[256] = {};
  conduit.GetConduitName(name, sizeof name - 1);
  return name;
}

// `prefix` followed by the decimal `value`. (Built by appending: GCC 12
// warns falsely about "text" + std::to_string(...) in the MinGW builds.)
std::string WithNumber(const char* prefix, long long value, const char* suffix = "") {
  std::string text(prefix);
  text += std::to_string(value);
  text += suffix;
  return text;
}

std::string SyncTypeText(std::uint32_t value) {
  const char* name = SyncTypeName(value);
  return name != nullptr ? name : WithNumber("unknown (", value, ")");
}

std::string Seconds(std::chrono::steady_clock::duration elapsed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", std::chrono::duration<double>(elapsed).count());
  return text;
}

std::string Milliseconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
  return text;
}

double SecondsOf(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

// One line of --timings: where a conduit's time went.
std::string TimingsLine(const std::string& name, double load, double run, const CallTimes& calls) {
  auto kind = [](const char* what, const CallTimes::Kind& k) {
    return std::string(what) + " " + Milliseconds(k.seconds) + " in " + std::to_string(k.calls) +
           (k.calls == 1 ? " call" : " calls");
  };
  return "timings: " + name + ": load " + Milliseconds(load) + "; run " + Milliseconds(run) +
         " = Sync Manager " + Milliseconds(calls.Total()) + " (" + kind("open", calls.open) + ", " +
         kind("reads", calls.reads) + ", " + kind("write-back", calls.write_back) + ", " +
         kind("other", calls.other) + ") + the conduit's own work " +
         Milliseconds(std::max(0.0, run - calls.Total())) + "\n";
}

// What every command needs: the HotSync installation pointing at the
// stand-ins, the emulator and the log loaded.
struct Session {
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::unique_ptr<HotSyncInstallation> installation;
  HandheldEmulator emulator;
  RunLog log;
  // The emulator's sink is the log library's function: cut before the log
  // library is unloaded.
  ~Session() {
    emulator.Detach();
    emulator.SetLogSink(nullptr);
  }
};

// Sets up a session; returns the reason on failure.
std::string OpenSession(const RunnerOptions& options, Session& session) {
  RemoveStaleRunTemporaries();
  std::string folder = WithTrailingDelimiter(
      options.hotsync_dir.empty() ? ProgramFolder() : Absolute(options.hotsync_dir));
  try {
    session.installation = std::make_unique<HotSyncInstallation>(folder);
  } catch (const std::exception& e) {
    return e.what();
  }
  if (std::string why = session.emulator.Load(folder); !why.empty()) return why;
  if (std::string why = session.log.Load(folder, options.log_file); !why.empty()) return why;
  session.emulator.SetLogSink(session.log.AddEntry());
  if (!options.handheld.empty()) {
    if (std::string why = session.emulator.Attach(Absolute(options.handheld)); !why.empty()) {
      return why;
    }
  }
  for (const auto& [function, status] : options.faults) {
    if (std::string why = session.emulator.InjectFault(function, status); !why.empty()) return why;
  }
  return "";
}

void PrintLog(const RunnerOptions& options, Session& session, std::ostream& out) {
  if (options.quiet_log) return;
  out << "--- HotSync log ---\n" << session.log.Text();
  out << "--- end of HotSync log ---\n";
}

// The handheld user the command acts for: --user, else the handheld's own.
std::string UserOf(const RunnerOptions& options, Session& session) {
  std::string user = options.user ? *options.user : session.emulator.UserName();
  return user.empty() ? kDefaultUser : user;
}

std::string DesktopOf(const RunnerOptions& options) {
  return WithTrailingDelimiter(
      Absolute(options.desktop.empty() ? std::string(".") : options.desktop));
}

int Sync(const RunnerOptions& options, Session& session, std::ostream& out, std::ostream& err) {
  std::string user = UserOf(options, session);
  std::string desktop = DesktopOf(options);
  for (const std::string& why : {CheckFits("--desktop (as an absolute path)", "PathName", desktop),
                                 CheckFits("--user", "UserName", user),
                                 CheckFits("--local-name", "LocalName", options.local_name)}) {
    if (!why.empty()) {
      err << "fernwick-hotsync: " << why << "\n";
      return kExitUsage;
    }
  }
  SyncChoices choices(SyncChoices::FileIn(desktop));
  if (std::string why = choices.Load(); !why.empty()) {
    err << "fernwick-hotsync: " << why << "\n";
    return kExitLoadFailed;
  }

  if (options.timings) {
    out << "timings: set-up "
        << Milliseconds(SecondsOf(std::chrono::steady_clock::now() - session.started))
        << " (the HotSync installation, the stand-ins, the handheld folder)\n";
  }
  int status = kExitOk;
  const std::size_t count = options.conduits.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& path = options.conduits[i];
    std::string position = WithNumber("[", static_cast<long long>(i + 1), "/");
    position += WithNumber("", static_cast<long long>(count), "] ");
    ConduitLibraryFile conduit;
    const auto load_start = std::chrono::steady_clock::now();
    if (std::string why = conduit.Load(path); !why.empty()) {
      out << position << path << ": not run\n";
      err << "fernwick-hotsync: " << why << "\n";
      status = kExitLoadFailed;
      continue;
    }
    std::string name = ConduitName(conduit);
    if (name.empty()) name = std::filesystem::path(conduit.FileName()).filename().string();

    const SyncChoice chosen = choices.Get(user, name);
    TSyncProperties props{};
    props.SyncType = options.sync_type_given ? options.sync_type : chosen.Next();
    SetText(props.PathName, desktop);
    SetText(props.LocalName, options.local_name);
    SetText(props.UserName, user);
    props.FirstDevice = options.first_device;
    props.Connection = options.connection;
    SetText(props.RegistryPath, "Software\\U.S. Robotics\\Pilot Desktop\\" + name);
    props.RegistryKey = kHkeyCurrentUser;

    session.log.BeginConduit();
    const std::string message_before = session.emulator.LastMessage();
    if (options.timings) session.emulator.StartTimingCalls();
    auto start = std::chrono::steady_clock::now();
    std::int32_t result = conduit.OpenConduit(nullptr, &props);
    auto elapsed = std::chrono::steady_clock::now() - start;
    const std::string timings = options.timings
                                    ? TimingsLine(name, SecondsOf(start - load_start),
                                                  SecondsOf(elapsed), session.emulator.TimedCalls())
                                    : std::string();
    bool aborted = session.log.ConduitAborted();
    if (session.emulator.EndRegistration()) {
      const std::string left = "conduit " + name + " left its SyncRegisterConduit registration " +
                               "behind; the runner ended it";
      session.log.AddWarning(left);
      err << "fernwick-hotsync: " << left << "\n";
    }
    // The handheld keeps every change it was given; a database left open
    // is closed here, not at the detach after the next conduits.
    bool left_open = false;
    for (const std::string& database : session.emulator.CloseLeftOpen()) {
      const std::string left = "conduit " + name + " left database \"" + database +
                               "\" open; the runner closed it, keeping its changes as the "
                               "handheld would";
      session.log.AddWarning(left);
      err << "fernwick-hotsync: " << left << "\n";
      left_open = true;
    }
    out << position << name << " (" << conduit.FileName() << "): ";
    if (result != 0 || aborted || left_open) {
      out << "FAILED";
      if (result != 0) out << ", result " << ResultName(result);
      out << ", " << Seconds(elapsed) << "\n";
      err << "fernwick-hotsync: conduit " << name << " failed"
          << (result != 0 ? WithNumber(" with result ", result) : std::string())
          << (session.log.ConduitWroteNothing()
                  ? " and wrote nothing to the HotSync log (see its message above)\n"
                  : " (see the HotSync log)\n");
      if (const std::string last = session.emulator.LastMessage(); last != message_before) {
        err << "fernwick-hotsync: the handheld's last message: " << last << " ["
            << StatusName(session.emulator.LastStatus()) << "]\n";
      }
      if (status == kExitOk) status = kExitConduitFailed;
    } else {
      out << "ok, " << Seconds(elapsed) << "\n";
      // A temporary choice has served its one synchronisation.
      bool dropped = false;
      if (!options.sync_type_given && chosen.temporary) {
        if (std::string why = choices.ConsumeTemporary(user, name, *chosen.temporary, dropped);
            !why.empty()) {
          err << "fernwick-hotsync: " << why << "\n";
          if (status == kExitOk) status = kExitConduitFailed;
        }
      }
    }
    out << timings;
  }
  const auto detach_start = std::chrono::steady_clock::now();
  if (std::string why = session.emulator.Detach(); !why.empty()) {
    err << "fernwick-hotsync: " << why << "\n";
    if (status == kExitOk) status = kExitConduitFailed;
  }
  if (options.timings) {
    out << "timings: detach "
        << Milliseconds(SecondsOf(std::chrono::steady_clock::now() - detach_start))
        << " (databases left open written back)\n";
  }
  PrintLog(options, session, out);
  return status;
}

int Info(const RunnerOptions& options, Session& session, std::ostream& out, std::ostream& err) {
  std::string user = UserOf(options, session);
  SyncChoices choices(SyncChoices::FileIn(DesktopOf(options)));
  if (std::string why = choices.Load(); !why.empty()) {
    err << "fernwick-hotsync: " << why << "\n";
    return kExitLoadFailed;
  }
  int status = kExitOk;
  for (const std::string& path : options.conduits) {
    ConduitLibraryFile conduit;
    if (std::string why = conduit.Load(path); !why.empty()) {
      err << "fernwick-hotsync: " << why << "\n";
      status = kExitLoadFailed;
      continue;
    }
    const std::string conduit_name = ConduitName(conduit);
    if (conduit_name.empty()) {
      // A conduit built with the library answers no name when its data
      // module could not be created; a raw one that names nothing is as
      // unusable to HotSync Manager.
      err << "fernwick-hotsync: " << conduit.FileName()
          << ": the conduit gives no name (its data module may have failed to start)\n";
      status = kExitLoadFailed;
      continue;
    }
    out << conduit.FileName() << "\n";
    out << "  Name:            " << conduit_name << "\n";
    std::int32_t version = conduit.GetConduitVersion();
    char version_text[48];
    std::snprintf(version_text, sizeof version_text, "%d.%d (0x%04X)", (version >> 8) & 0xFF,
                  version & 0xFF, static_cast<unsigned>(version));
    out << "  Version:         " << version_text << "\n";

    struct {
      std::uint32_t version = 1;
      std::uint32_t size = 80;
      std::uint8_t rest[72] = {};
    } request;
    char name[256] = {};
    std::uint32_t size = sizeof name;
    std::int32_t code = conduit.GetConduitInfo(cieConduitName, &request, name, &size);
    out << "  Info name:       " << (code == 0 ? std::string(name) : WithNumber("error ", code))
        << "\n";
    std::uint32_t value = 0;
    size = 4;
    code = conduit.GetConduitInfo(cieMfcVersion, nullptr, &value, &size);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", value);
    out << "  MFC version:     " << (code == 0 ? std::string(hex) : WithNumber("error ", code))
        << "\n";
    value = 0;
    size = 4;
    code = conduit.GetConduitInfo(cieDefaultAction, nullptr, &value, &size);
    out << "  Default action:  " << (code == 0 ? SyncTypeText(value) : WithNumber("error ", code))
        << "\n";
    out << "  Chosen action:   " << choices.Get(user, ConduitName(conduit)).Describe() << " for "
        << user << "\n";
  }
  return status;
}

int Configure(const RunnerOptions& options, Session& session, std::ostream& out,
              std::ostream& err) {
  std::string user = UserOf(options, session);
  const std::string desktop = DesktopOf(options);
  if (std::string why = CheckFits("--desktop (as an absolute path)", "PathName", desktop);
      !why.empty()) {
    err << "fernwick-hotsync: " << why << "\n";
    return kExitUsage;
  }
  SyncChoices choices(SyncChoices::FileIn(desktop));
  if (std::string why = choices.Load(); !why.empty()) {
    err << "fernwick-hotsync: " << why << "\n";
    return kExitLoadFailed;
  }
  ConduitLibraryFile conduit;
  if (std::string why = conduit.Load(options.conduits.front()); !why.empty()) {
    err << "fernwick-hotsync: " << why << "\n";
    return kExitLoadFailed;
  }
  std::string name = ConduitName(conduit);
  SyncChoice stored = choices.Get(user, name);
  TSyncPreference prefs{};
  SetText(prefs.PathName, desktop);
  SetText(prefs.RegistryPath, "Software\\U.S. Robotics\\Pilot Desktop\\" + name);
  prefs.RegistryKey = kHkeyCurrentUser;
  prefs.SyncPref = spNoPreference;
  if (options.sync_type_given) {
    prefs.SyncType = options.sync_type;
  } else if (stored.permanent || stored.temporary) {
    prefs.SyncType = stored.Next();
  } else {
    std::uint32_t action = stFast;
    std::uint32_t size = 4;
    conduit.GetConduitInfo(cieDefaultAction, nullptr, &action, &size);
    prefs.SyncType = static_cast<TSyncTypes>(action);
  }
  session.log.BeginConduit();
  std::int32_t result = 0;
  if (options.choose) {
    ScopedDialogScript script(DialogScriptFor(*options.choose, options.choose_default));
    result = conduit.ConfigureConduit(&prefs);
  } else {
    result = conduit.ConfigureConduit(&prefs);
  }
  if (result == 0) {
    const char* pref = prefs.SyncPref == spPermanentPreference   ? "permanent"
                       : prefs.SyncPref == spTemporaryPreference ? "temporary"
                                                                 : "no preference";
    out << name << ": accepted: sync type " << SyncTypeText(prefs.SyncType) << ", " << pref << "\n";
    if (SyncTypeName(prefs.SyncType) == nullptr) {
      err << "fernwick-hotsync: " << name << " chose an unknown sync type; not stored\n";
      return kExitConduitFailed;
    }
    if (std::string why = choices.Record(user, name, prefs.SyncType, prefs.SyncPref);
        !why.empty()) {
      err << "fernwick-hotsync: " << why << "\n";
      return kExitConduitFailed;
    }
    out << "  stored for " << user << ": " << choices.Get(user, name).Describe() << "\n";
    if (!options.user && options.handheld.empty()) {
      err << "fernwick-hotsync: no --user or --handheld given: the choice is stored for the "
          << "user \"" << user << "\", which a sync finds only for a handheld of that user; "
          << "give --user NAME (or --handheld DIR) to store it for the handheld's user\n";
    }
    return kExitOk;
  }
  // The HotSync log, deleted at the end unless --log names it, holds why:
  // the message of an exception from the conduit's handler or its dialog
  // (a plain line), or why the dialog could not be shown (a warning). The
  // user is here, so they are shown now.
  std::string failures, warnings;
  for (const std::string& line : session.log.ConduitLines()) {
    constexpr std::string_view kWarning = "Warning: ";
    const bool warning = line.compare(0, kWarning.size(), kWarning) == 0;
    std::string& to = warning ? warnings : failures;
    if (!to.empty()) to += "; ";
    to += warning ? line.substr(kWarning.size()) : line;
  }
  if (!failures.empty()) {
    out << name << ": failed (result " << result << "): " << failures << "\n";
  } else {
    out << name << ": cancelled (result " << result << ")" << (warnings.empty() ? "" : ": ")
        << warnings << "\n";
  }
  return kExitConduitFailed;
}

}  // namespace

int RunCommand(const RunnerOptions& options, std::ostream& out, std::ostream& err) {
  if (options.command == Command::kHelp) {
    out << HelpText();
    return kExitOk;
  }
  if (options.command == Command::kVersion) {
    out << "fernwick-hotsync " << FERNWICK_VERSION << "\n";
    return kExitOk;
  }
  if (options.command == Command::kSync && options.isolate) {
    RemoveStaleRunTemporaries();
    return SyncIsolated(options, out, err);
  }
  Session session;
  if (std::string why = OpenSession(options, session); !why.empty()) {
    err << "fernwick-hotsync: " << why << "\n";
    return kExitLoadFailed;
  }
  switch (options.command) {
    case Command::kSync:
      return Sync(options, session, out, err);
    case Command::kInfo:
      return Info(options, session, out, err);
    case Command::kConfigure:
      return Configure(options, session, out, err);
    case Command::kHelp:
    case Command::kVersion:
      break;
  }
  return kExitOk;
}

}  // namespace fernwick::runner
