#include "hotsync/runner/Isolate.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "hotsync/runner/Installation.h"
#include "hotsync/runner/Runner.h"
#include "hotsync/runner/Temporaries.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fernwick::runner {

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  auto absolute = fs::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

const char* SyncTypeArgument(TSyncTypes type) {
  static const char* const kNames[] = {"fast",    "slow",   "hhtopc",    "pctohh",
                                       "install", "backup", "donothing", "profileinstall"};
  const auto index = static_cast<std::size_t>(type);
  return index < 8 ? kNames[index] : "fast";
}

#ifdef _WIN32

// One argument as the C runtime's command-line parser reads it back.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

#endif

}  // namespace

ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& args,
                      int timeout_seconds) {
  ChildOutcome outcome;
  fs::path out_file, err_file;
  try {
    const fs::path folder = RunnerTemporaryFolder();
    std::string prefix = RunTemporaryPrefix("log");
    prefix += std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    out_file = folder / (prefix + ".out");
    err_file = folder / (prefix + ".err");
  } catch (const std::exception& e) {
    outcome.why = e.what();
    return outcome;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
#ifdef _WIN32
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out_handle = CreateFileW(out_file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err_handle = CreateFileW(err_file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::wstring command = Quoted(fs::path(program).wstring());
  for (const std::string& arg : args) command += L" " + Quoted(fs::path(arg).wstring());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_handle;
  startup.hStdError = err_handle;
  PROCESS_INFORMATION process{};
  const bool started = out_handle != INVALID_HANDLE_VALUE && err_handle != INVALID_HANDLE_VALUE &&
                       CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  if (out_handle != INVALID_HANDLE_VALUE) CloseHandle(out_handle);
  if (err_handle != INVALID_HANDLE_VALUE) CloseHandle(err_handle);
  if (!started) {
    const DWORD error = GetLastError();
    outcome.why = "cannot start ";
    outcome.why += program;
    outcome.why += " (Windows error ";
    outcome.why += std::to_string(error);
    outcome.why += ')';
  } else {
    const DWORD wait = timeout_seconds > 0 ? static_cast<DWORD>(timeout_seconds) * 1000 : INFINITE;
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      outcome.kind = ChildOutcome::Kind::kTimedOut;
    } else {
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      outcome.code = static_cast<int>(code);
      // An unhandled exception ends a process with its NTSTATUS code.
      outcome.kind =
          code >= 0xC0000000u ? ChildOutcome::Kind::kCrashed : ChildOutcome::Kind::kExited;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
#else
  const int out_fd = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err_fd = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = out_fd >= 0 && err_fd >= 0 ? fork() : -1;
  if (child == 0) {
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (out_fd >= 0) ::close(out_fd);
  if (err_fd >= 0) ::close(err_fd);
  if (child < 0) {
    outcome.why = "cannot start " + program;
  } else {
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(child, &status, timeout_seconds > 0 ? WNOHANG : 0);
      if (done == child) break;
      if (done < 0 && errno != EINTR) break;
      if (timeout_seconds > 0 && std::chrono::steady_clock::now() >= deadline) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        outcome.kind = ChildOutcome::Kind::kTimedOut;
        break;
      }
      if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (outcome.kind != ChildOutcome::Kind::kTimedOut) {
      if (WIFSIGNALED(status)) {
        outcome.kind = ChildOutcome::Kind::kCrashed;
        outcome.code = WTERMSIG(status);
      } else {
        outcome.kind = ChildOutcome::Kind::kExited;
        outcome.code = WEXITSTATUS(status);
      }
    }
  }
#endif
  (void)deadline;
  outcome.out = ReadAll(out_file);
  outcome.err = ReadAll(err_file);
  std::error_code ignored;
  fs::remove(out_file, ignored);
  fs::remove(err_file, ignored);
  return outcome;
}

std::vector<std::string> ChildArguments(const RunnerOptions& options, const std::string& conduit) {
  std::vector<std::string> args = {"--handheld", Absolute(options.handheld)};
  args.insert(args.end(), {"--desktop", Absolute(options.desktop.empty() ? "." : options.desktop)});
  if (options.user) args.insert(args.end(), {"--user", *options.user});
  if (!options.local_name.empty()) args.insert(args.end(), {"--local-name", options.local_name});
  // Without --sync-type the child takes the stored choice and uses up a
  // temporary one when its conduit ran, as a sync in one process does: only
  // it knows the conduit's name, which the choices are stored under.
  if (options.sync_type_given) {
    args.insert(args.end(), {"--sync-type", SyncTypeArgument(options.sync_type)});
  }
  args.insert(args.end(), {"--first-device", options.first_device == fsPC   ? "pc"
                                             : options.first_device == fsHH ? "hh"
                                                                            : "neither"});
  args.insert(args.end(), {"--connection", options.connection == ctModem ? "modem" : "cable"});
  if (!options.hotsync_dir.empty()) {
    args.insert(args.end(), {"--hotsync-dir", Absolute(options.hotsync_dir)});
  }
  if (options.quiet_log) args.push_back("--no-log");
  for (const auto& [function, status] : options.faults) {
    std::string fault = function;
    fault += '=';
    fault += std::to_string(status);
    args.insert(args.end(), {"--fault", fault});
  }
  args.insert(args.end(),
              {"sync", fs::path(conduit).is_relative() && fs::exists(conduit) ? Absolute(conduit)
                                                                              : conduit});
  return args;
}

int SyncIsolated(const RunnerOptions& options, std::ostream& out, std::ostream& err) {
#ifdef _WIN32
  const std::string program = ProgramFolder() + "fernwick-hotsync.exe";
#else
  const std::string program = ProgramFolder() + "fernwick-hotsync";
#endif
  int status = kExitOk;
  const std::size_t count = options.conduits.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& conduit = options.conduits[i];
    // Built by appending: GCC 12 warns falsely about "text" + std::to_string(...)
    // in the MinGW builds.
    std::string position = "[";
    position += std::to_string(i + 1);
    position += '/';
    position += std::to_string(count);
    position += "] ";
    const ChildOutcome child =
        RunChild(program, ChildArguments(options, conduit), options.timeout_seconds);
    std::string text = child.out;
    // The child numbers its one conduit [1/1].
    if (text.rfind("[1/1] ", 0) == 0) text.replace(0, 6, position);
    const bool reported = child.kind == ChildOutcome::Kind::kExited && child.code >= kExitOk &&
                          child.code <= kExitLoadFailed && text.rfind(position, 0) == 0;
    if (reported) {
      out << text;
      err << child.err;
      if (status == kExitOk) status = child.code;
      continue;
    }
    out << position << conduit << ": FAILED, ";
    switch (child.kind) {
      case ChildOutcome::Kind::kTimedOut:
        out << "stopped after " << options.timeout_seconds << " s\n";
        break;
      case ChildOutcome::Kind::kCrashed:
        out << "crashed (" << (child.code > 0xFFFF ? "exception " : "signal ") << child.code
            << ")\n";
        break;
      case ChildOutcome::Kind::kExited:
        out << "its process ended with status " << child.code << "\n";
        break;
      case ChildOutcome::Kind::kNotStarted:
        out << "not run: " << child.why << "\n";
        break;
    }
    out << child.out;
    err << child.err;
    err << "fernwick-hotsync: conduit " << conduit << " did not finish in its own process"
        << " (see above); the other conduits still run\n";
    if (status == kExitOk) status = kExitConduitFailed;
  }
  return status;
}

}  // namespace fernwick::runner
