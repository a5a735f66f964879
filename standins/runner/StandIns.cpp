#include "standins/runner/StandIns.h"

#include <sstream>
#include <vector>

#include <fernwick/abi/Emulator.h>

namespace fernwick::runner {

namespace {

template <typename Fn>
Fn Proc(TLibHandle handle, const char* name) {
  return ProcAs<Fn>(GetLibraryProc(handle, name));
}

}  // namespace

HandheldEmulator::~HandheldEmulator() {
  Detach();
  SetLogSink(nullptr);
  // A fault that no call answered must not outlive this run in a process
  // that keeps the emulator loaded.
  if (auto clear = Proc<TEmuClearFaults>(handle_, "EmuClearFaults")) clear();
  FreeLibraryHandle(handle_);
}

std::string HandheldEmulator::Load(const std::string& folder) {
  std::string file = folder + "sync20.dll";
  handle_ = LoadLibraryHandle(file);
  if (handle_ == nullptr) {
    return PlatformLibraryName(file) + ": cannot load the handheld emulator: " + LastLibraryError();
  }
  if (GetLibraryProc(handle_, "EmuAttachHandheld") == nullptr) {
    return PlatformLibraryName(file) + ": not the handheld emulator (no EmuAttachHandheld)";
  }
  return "";
}

std::string HandheldEmulator::LastMessage() {
  auto get = Proc<TEmuGetLastMessage>(handle_, "EmuGetLastMessage");
  if (get == nullptr) return "no reason given";
  std::vector<char> text(1024, '\0');
  get(text.data(), static_cast<std::int32_t>(text.size()));
  return text.data();
}

std::string HandheldEmulator::Attach(const std::string& folder) {
  auto attach = Proc<TEmuAttachHandheld>(handle_, "EmuAttachHandheld");
  if (attach == nullptr) return "the handheld emulator is not loaded";
  if (attach(folder.c_str()) != 0)
    return "cannot attach the handheld " + folder + ": " + LastMessage();
  attached_ = true;
  return "";
}

std::string HandheldEmulator::Detach() {
  if (!attached_) return "";
  attached_ = false;
  auto detach = Proc<TEmuDetachHandheld>(handle_, "EmuDetachHandheld");
  if (detach == nullptr || detach() == 0) return "";
  std::string why = "writing back the handheld failed: ";
  why += LastMessage();
  return why;
}

std::string HandheldEmulator::InjectFault(const std::string& function, std::int32_t status) {
  auto inject = Proc<TEmuInjectFault>(handle_, "EmuInjectFault");
  if (inject == nullptr) return "the handheld emulator takes no faults";
  if (inject(function.c_str(), status) != 0) {
    return "cannot inject a fault into " + function + ": " + LastMessage();
  }
  return "";
}

std::string HandheldEmulator::UserName() {
  auto read = Proc<TSyncReadUserID>(handle_, "SyncReadUserID");
  if (read == nullptr) return "";
  TUserIDInfo info{};
  if (read(&info) != 0) return "";
  info.m_pName[sizeof info.m_pName - 1] = '\0';
  return info.m_pName;
}

void HandheldEmulator::SetLogSink(TLogAddEntry sink) {
  if (auto set = Proc<TEmuSetLogSink>(handle_, "EmuSetLogSink")) set(sink);
}

std::int32_t HandheldEmulator::LastStatus() {
  auto get = Proc<TEmuGetLastStatus>(handle_, "EmuGetLastStatus");
  return get == nullptr ? 0 : get();
}

bool HandheldEmulator::EndRegistration() {
  auto end = Proc<TEmuEndRegistration>(handle_, "EmuEndRegistration");
  return end != nullptr && end() != 0;
}

std::vector<std::string> HandheldEmulator::CloseLeftOpen() {
  auto close = Proc<TEmuCloseLeftOpen>(handle_, "EmuCloseLeftOpen");
  if (close == nullptr) return {};
  // Room for every handle's name: closing twice is not possible.
  std::vector<char> text(255 * 32 + 1, '\0');
  close(text.data(), static_cast<std::int32_t>(text.size()));
  std::vector<std::string> names;
  std::istringstream lines(text.data());
  for (std::string name; std::getline(lines, name);) names.push_back(name);
  return names;
}

void HandheldEmulator::StartTimingCalls() {
  if (auto time = Proc<TEmuTimeCalls>(handle_, "EmuTimeCalls")) time(1);
}

CallTimes HandheldEmulator::TimedCalls() {
  auto get = Proc<TEmuGetCallTimes>(handle_, "EmuGetCallTimes");
  if (get == nullptr) return {};
  std::vector<char> text(static_cast<std::size_t>(get(nullptr, 0)) + 1, '\0');
  get(text.data(), static_cast<std::int32_t>(text.size()));
  return CallTimes::FromText(text.data());
}

CallTimes CallTimes::FromText(const std::string& text) {
  CallTimes times;
  std::istringstream lines(text);
  std::string name;
  std::uint64_t calls = 0;
  std::uint64_t microseconds = 0;
  while (lines >> name >> calls >> microseconds) {
    Kind& kind = name == "SyncOpenDB" || name == "SyncCreateDB" ? times.open
                 : name.rfind("SyncRead", 0) == 0               ? times.reads
                 : name == "SyncCloseDB"                        ? times.write_back
                                                                : times.other;
    kind.calls += calls;
    kind.seconds += static_cast<double>(microseconds) / 1e6;
  }
  return times;
}

}  // namespace fernwick::runner
