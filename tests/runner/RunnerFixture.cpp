#include "RunnerFixture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#ifdef __linux__
#include <sys/mount.h>
#endif

#include "standins/pdb/AtomicFile.h"
#include "standins/runner/Runner.h"
#include "standins/runner/RunnerOptions.h"

#ifndef FERNWICK_SAMPLE_HANDHELD
#error "FERNWICK_SAMPLE_HANDHELD must name the sample handheld folder"
#endif

namespace fernwick::runner {

namespace fs = std::filesystem;

namespace {

// Sets the environment variable `name` to `value`, or removes it.
void SetVariable(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

}  // namespace

void RunnerFixture::SetUp() {
  static unsigned fixtures_made = 0;
  root_ = fs::temp_directory_path() /
          ("fernwick-runner-test-" + std::to_string(pdb::CurrentProcessId()) + "-" +
           std::to_string(++fixtures_made));
  handheld_ = root_ / "handheld";
  desktop_ = root_ / "desktop";
  const fs::path home = root_ / "home";
  fs::remove_all(root_);
  fs::create_directories(desktop_);
  fs::create_directories(home);
  fs::copy(FERNWICK_SAMPLE_HANDHELD, handheld_, fs::copy_options::recursive);
#if defined(_WIN32)
  const std::pair<const char*, std::optional<std::string>> own_environment[] = {
      {"APPDATA", home.string()}};
#else
  fs::create_directories(home / ".fernwick");
  std::ofstream(home / ".fernwick" / "registry.reg")
      << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
      << "\"HotSyncPath\"=\"" << kOwnHotSyncPath << "\"\n";
  const std::pair<const char*, std::optional<std::string>> own_environment[] = {
      {"HOME", home.string()},
      {"FERNWICK_REGISTRY", std::nullopt},
      {"XDG_DATA_HOME", std::nullopt}};
#endif
  for (const auto& [variable, value] : own_environment) {
    const char* old_value = std::getenv(variable);
    saved_environment_.emplace_back(
        variable, old_value != nullptr ? std::optional<std::string>(old_value) : std::nullopt);
    SetVariable(variable, value);
  }
}

void RunnerFixture::TearDown() {
#ifdef __linux__
  if (small_desktop_mounted_) ::umount(desktop_.c_str());
#endif
  small_desktop_mounted_ = false;
  for (const auto& [variable, value] : saved_environment_) SetVariable(variable, value);
  saved_environment_.clear();
  std::error_code ec;
  fs::remove_all(root_, ec);
}

int RunnerFixture::Run(const std::vector<std::string>& args) {
  out_.str("");
  err_.str("");
  return RunCommand(ParseOptions(args), out_, err_);
}

int RunnerFixture::RunOnFolders(const std::vector<std::string>& args) {
  return Run(Joined({"--handheld", handheld_.string(), "--desktop", desktop_.string()}, args));
}

std::string RunnerFixture::MountSmallDesktop(const char* size) {
#ifdef __linux__
  const std::string options = std::string("size=") + size;
  if (::mount("tmpfs", desktop_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    return std::string("cannot mount a small tmpfs here (needs root): ") + std::strerror(errno);
  }
  small_desktop_mounted_ = true;
  return "";
#else
  static_cast<void>(size);
  return "needs a small tmpfs (Linux)";
#endif
}

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace fernwick::runner
