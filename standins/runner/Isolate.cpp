#include "standins/runner/Isolate.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <streambuf>
#include <thread>

#include "standins/runner/Installation.h"
#include "standins/runner/Runner.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fernwick::runner {

namespace {

namespace fs = std::filesystem;

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

// A frame of the report: the stream ('o' or 'e'), the length of the text
// (4 bytes, least significant first), the text.
constexpr std::size_t kFrameHeader = 5;

// Splits the report pipe's bytes into frames and hands their text on, piece
// by piece as it arrives: no frame is held whole.
class FrameReader {
 public:
  explicit FrameReader(const ReportSink& sink) : sink_(sink) {}

  void Feed(const char* data, std::size_t size) {
    while (size > 0) {
      if (left_ == 0) {
        header_[filled_++] = data[0];
        ++data;
        --size;
        if (filled_ == kFrameHeader) {
          filled_ = 0;
          left_ = 0;
          for (int i = 4; i >= 1; --i) left_ = (left_ << 8) | static_cast<std::uint8_t>(header_[i]);
        }
        continue;
      }
      const std::size_t take = std::min<std::size_t>(size, left_);
      sink_(header_[0], std::string_view(data, take));
      data += take;
      size -= take;
      left_ -= take;
    }
  }

 private:
  const ReportSink& sink_;
  char header_[kFrameHeader] = {};
  std::size_t filled_ = 0;
  std::uint32_t left_ = 0;
};

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

// An inheritable copy of a standard handle (null when there is none).
HANDLE InheritableStd(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Reads what the pipe holds now, without waiting. False once the pipe is
// broken (every writer gone) or unreadable.
bool ReadAvailable(HANDLE pipe, FrameReader& reader, bool& got_some) {
  got_some = false;
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
  if (available == 0) return true;
  char buffer[65536];
  DWORD read = 0;
  if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &read, nullptr)) {
    return false;
  }
  reader.Feed(buffer, read);
  got_some = read > 0;
  return true;
}

#else

// Reads what the (non-blocking) pipe holds now. False at its end or on an
// error.
bool ReadAvailable(int pipe, FrameReader& reader, bool& got_some) {
  got_some = false;
  char buffer[65536];
  const ssize_t n = ::read(pipe, buffer, sizeof buffer);
  if (n > 0) {
    reader.Feed(buffer, static_cast<std::size_t>(n));
    got_some = true;
    return true;
  }
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

#endif

}  // namespace

ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& args,
                      int timeout_seconds, const ReportSink& sink) {
  ChildOutcome outcome;
  FrameReader reader(sink);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  auto past_deadline = [&] {
    return timeout_seconds > 0 && std::chrono::steady_clock::now() >= deadline;
  };
#ifdef _WIN32
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE report_read = nullptr;
  HANDLE report_write = nullptr;
  if (!CreatePipe(&report_read, &report_write, &inherit, 0)) {
    outcome.why = "cannot make a pipe (Windows error " + std::to_string(GetLastError()) + ")";
    return outcome;
  }
  SetHandleInformation(report_read, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = Quoted(fs::path(program).wstring());
  command += L" ";
  command += Quoted(fs::path(kReportOption).wstring());
  command += L" ";
  command += std::to_wstring(reinterpret_cast<std::uintptr_t>(report_write));
  for (const std::string& arg : args) command += L" " + Quoted(fs::path(arg).wstring());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritableStd(STD_INPUT_HANDLE);
  startup.hStdOutput = InheritableStd(STD_OUTPUT_HANDLE);
  startup.hStdError = InheritableStd(STD_ERROR_HANDLE);
  // The job holds the child and whatever it starts: ending the job ends
  // them all, and closing its last handle (also when this runner dies) too.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
      CloseHandle(job);
      job = nullptr;
    }
  }
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  const DWORD start_error = GetLastError();
  for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError, report_write}) {
    if (h != nullptr) CloseHandle(h);
  }
  if (!started) {
    outcome.why = "cannot start ";
    outcome.why += program;
    outcome.why += " (Windows error ";
    outcome.why += std::to_string(start_error);
    outcome.why += ')';
  } else {
    if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
      CloseHandle(job);
      job = nullptr;
    }
    ResumeThread(process.hThread);
    auto end_all = [&] {
      if (job != nullptr) TerminateJobObject(job, 1);
    };
    bool pipe_open = true;
    for (;;) {
      bool got_some = false;
      if (pipe_open) pipe_open = ReadAvailable(report_read, reader, got_some);
      if (WaitForSingleObject(process.hProcess, got_some ? 0 : 10) == WAIT_OBJECT_0) break;
      if (past_deadline()) {
        end_all();
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        outcome.kind = ChildOutcome::Kind::kTimedOut;
        break;
      }
    }
    // What the child started and left running goes with it.
    end_all();
    for (bool got_some = true; pipe_open && got_some;) {
      pipe_open = ReadAvailable(report_read, reader, got_some);
    }
    if (outcome.kind != ChildOutcome::Kind::kTimedOut) {
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
  if (job != nullptr) CloseHandle(job);
  CloseHandle(report_read);
#else
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    outcome.why = std::string("cannot make a pipe: ") + std::strerror(errno);
    return outcome;
  }
  std::vector<std::string> argv_text = {program, kReportOption, std::to_string(report[1])};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    // A process group of its own, which a timeout kills whole.
    ::setpgid(0, 0);
    ::fcntl(report[1], F_SETFD, 0);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  ::close(report[1]);
  if (child < 0) {
    outcome.why = "cannot start " + program + ": " + std::strerror(errno);
    ::close(report[0]);
    return outcome;
  }
  // Also here: the group must exist before a timeout can kill it.
  ::setpgid(child, child);
  ::fcntl(report[0], F_SETFL, ::fcntl(report[0], F_GETFL) | O_NONBLOCK);
  auto end_all = [&] {
    ::kill(-child, SIGKILL);
    ::kill(child, SIGKILL);
  };
  bool pipe_open = true;
  for (;;) {
    bool got_some = false;
    if (pipe_open) {
      pollfd ready{report[0], POLLIN, 0};
      ::poll(&ready, 1, 10);
      pipe_open = ReadAvailable(report[0], reader, got_some);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Ended, but not reaped: its process id, the group's id, stays taken
    // until the group's leftovers are killed below.
    siginfo_t ended{};
    if (::waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        ended.si_pid == child) {
      break;
    }
    if (past_deadline()) {
      outcome.kind = ChildOutcome::Kind::kTimedOut;
      break;
    }
  }
  // A timeout ends the whole group; a child that ended leaves nothing
  // running behind it either.
  end_all();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  for (bool got_some = true; pipe_open && got_some;) {
    pipe_open = ReadAvailable(report[0], reader, got_some);
  }
  ::close(report[0]);
  if (outcome.kind != ChildOutcome::Kind::kTimedOut) {
    if (WIFSIGNALED(status)) {
      outcome.kind = ChildOutcome::Kind::kCrashed;
      outcome.code = WTERMSIG(status);
    } else {
      outcome.kind = ChildOutcome::Kind::kExited;
      outcome.code = WEXITSTATUS(status);
    }
  }
#endif
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

namespace {

// Prints a child's report: its progress lines numbered as in the whole run
// (the child numbers its one conduit [1/1]), its error lines to `err`.
class ReportPrinter {
 public:
  ReportPrinter(std::ostream& out, std::ostream& err, std::string position)
      : out_(out), err_(err), position_(std::move(position)) {}

  void Put(char stream, std::string_view text) {
    if (stream != 'o') {
      err_ << text;
      return;
    }
    while (!text.empty()) {
      if (at_line_start_) {
        // Holds back at most the few bytes that may begin "[1/1] ".
        pending_ += text.front();
        text.remove_prefix(1);
        if (kChildPosition.compare(0, pending_.size(), pending_) == 0) {
          if (pending_.size() == kChildPosition.size()) {
            out_ << position_;
            reported_ = true;
            pending_.clear();
            at_line_start_ = false;
          }
          continue;
        }
        out_ << pending_;
        at_line_start_ = pending_.back() == '\n';
        pending_.clear();
        continue;
      }
      const std::size_t end = text.find('\n');
      const std::size_t take = end == std::string_view::npos ? text.size() : end + 1;
      out_ << text.substr(0, take);
      text.remove_prefix(take);
      at_line_start_ = end != std::string_view::npos;
    }
  }

  // Prints what is held back; true when the child reported its conduit.
  bool Finish() {
    out_ << pending_;
    pending_.clear();
    out_.flush();
    err_.flush();
    return reported_;
  }

 private:
  static constexpr std::string_view kChildPosition = "[1/1] ";
  std::ostream& out_;
  std::ostream& err_;
  std::string position_;
  std::string pending_;
  bool at_line_start_ = true;
  bool reported_ = false;
};

}  // namespace

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
    // What this runner printed comes before what the conduit prints.
    out.flush();
    err.flush();
    ReportPrinter printer(out, err, position);
    const ChildOutcome child =
        RunChild(program, ChildArguments(options, conduit), options.timeout_seconds,
                 [&printer](char stream, std::string_view text) { printer.Put(stream, text); });
    const bool reported_conduit = printer.Finish();
    if (child.kind == ChildOutcome::Kind::kExited && child.code >= kExitOk &&
        child.code <= kExitLoadFailed && reported_conduit) {
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
    err << "fernwick-hotsync: conduit " << conduit << " did not finish in its own process"
        << " (see above); the other conduits still run\n";
    if (status == kExitOk) status = kExitConduitFailed;
  }
  return status;
}

namespace {

// Writes everything to the report pipe, in frames; gives up quietly when
// the parent has gone.
class FrameWriter : public std::streambuf {
 public:
  FrameWriter(char stream, std::uintptr_t pipe) : stream_(stream), pipe_(pipe) {}

 protected:
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    for (std::streamsize done = 0; done < size;) {
      const auto piece =
          static_cast<std::uint32_t>(std::min<std::streamsize>(size - done, 1 << 20));
      const char header[kFrameHeader] = {
          stream_, static_cast<char>(piece & 0xFF), static_cast<char>((piece >> 8) & 0xFF),
          static_cast<char>((piece >> 16) & 0xFF), static_cast<char>((piece >> 24) & 0xFF)};
      Write(header, kFrameHeader);
      Write(text + done, piece);
      done += piece;
    }
    return size;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char one = traits_type::to_char_type(c);
    xsputn(&one, 1);
    return c;
  }

 private:
  void Write(const char* data, std::size_t size) {
    while (size > 0 && !broken_) {
#ifdef _WIN32
      DWORD written = 0;
      if (!WriteFile(reinterpret_cast<HANDLE>(pipe_), data,
                     static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20)), &written, nullptr) ||
          written == 0) {
        broken_ = true;
        return;
      }
#else
      const ssize_t written = ::write(static_cast<int>(pipe_), data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        broken_ = true;
        return;
      }
#endif
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  }

  char stream_;
  std::uintptr_t pipe_;
  bool broken_ = false;
};

}  // namespace

struct ReportToParent::Streams {
  explicit Streams(std::uintptr_t pipe) : out_buffer('o', pipe), err_buffer('e', pipe) {}
  FrameWriter out_buffer;
  FrameWriter err_buffer;
  std::ostream out{&out_buffer};
  std::ostream err{&err_buffer};
};

ReportToParent::ReportToParent(const std::string& pipe_text) {
  std::uintptr_t pipe = 0;
  bool digits = !pipe_text.empty() && pipe_text.size() <= 20;
  for (const char c : pipe_text) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) pipe = pipe * 10 + static_cast<std::uintptr_t>(c - '0');
  }
#ifdef _WIN32
  if (!digits || !SetHandleInformation(reinterpret_cast<HANDLE>(pipe), HANDLE_FLAG_INHERIT, 0)) {
    throw UsageError(std::string(kReportOption) + " needs the pipe a parent runner gave");
  }
#else
  if (!digits || pipe > 65535 || ::fcntl(static_cast<int>(pipe), F_SETFD, FD_CLOEXEC) != 0) {
    throw UsageError(std::string(kReportOption) + " needs the pipe a parent runner gave");
  }
  // A parent that has gone must not end the sync half way.
  ::signal(SIGPIPE, SIG_IGN);
#endif
  streams_ = std::make_unique<Streams>(pipe);
}

ReportToParent::~ReportToParent() = default;

std::ostream& ReportToParent::Out() { return streams_->out; }
std::ostream& ReportToParent::Err() { return streams_->err; }

}  // namespace fernwick::runner
