// link-check: shows the library binding a HotSync installation.
//
//   link-check FOLDER       bind the installation in FOLDER (POSIX), such as
//                           the folder of the stand-ins (the build's bin/)
//   link-check --current    bind the installation that the registry names
//
// On POSIX the first two write a registry file of their own (in a temporary
// folder) and name it in FERNWICK_REGISTRY; --current reads the registry file
// as the library would (FERNWICK_REGISTRY or ~/.fernwick/registry.reg). On
// Windows only --current is offered: the program never writes the registry.
//
// Prints the installation folder, each library asked for and whether it
// loaded, any message the start-up showed, and per function table how many
// of its functions were bound, naming only those that were not. Exits with
// 0 when both tables were bound, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <fernwick/FernwickVersion.h>
#include <fernwick/conduit/LibraryStartup.h>
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/framework/Registry.h>
#include <fernwick/link/DorvConduitApi.h>
#include <fernwick/link/DorvConduitLog.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fs = std::filesystem;
using namespace fernwick;

namespace {

#if !defined(_WIN32)
// Writes a registry file naming `folder` as the HotSync installation and
// points FERNWICK_REGISTRY at it. Returns the file.
fs::path WriteRegistryFor(const fs::path& folder) {
  const fs::path dir =
      fs::temp_directory_path() / ("fernwick-link-check-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "registry.reg";
  std::string value = (fs::absolute(folder) / "HotSync.exe").string();
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  std::ofstream out(file, std::ios::trunc);
  out << "Windows Registry Editor Version 5.00\n\n"
      << "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
      << "\"HotSyncPath\"=\"" << escaped << "\"\n";
  setenv("FERNWICK_REGISTRY", file.c_str(), 1);
  return file;
}
#endif

void PrintLibrary(const TLibraryLoadState& state) {
  std::printf("  %-8s %s", state.loaded ? "loaded" : "FAILED", state.file_name.c_str());
  const std::string platform = PlatformLibraryName(state.file_name);
  if (platform != state.file_name) std::printf("  (file %s)", platform.c_str());
  if (!state.error.empty()) std::printf("\n           %s", state.error.c_str());
  std::printf("\n");
}

// Names `entry` when it is not bound; a bound one is only counted.
template <typename Entry>
void PrintEntry(const Entry& entry, int& bound) {
  if (entry.IsBound()) {
    ++bound;
  } else {
    std::printf("    %-36s not bound\n", entry.Name());
  }
}

// The registry file written for this run, removed when the program ends.
fs::path temporary_registry;

constexpr const char* kUsage = R"(usage: link-check FOLDER | --current
       link-check --help | -h | --version

Runs the library's start-up against a HotSync installation and prints the
libraries loaded and how many functions of the Sync Manager and HotSync log
tables were bound, naming those that were not. FOLDER is the installation's folder (POSIX; such as
the folder of the stand-ins, beside fernwick-hotsync); --current binds the
installation that the registry names.

Exit status: 0 both tables bound (or --help, --version); 1 a table is not
fully bound; 2 the command line is wrong (no arguments, an unknown option,
more than one argument, FOLDER a file).
)";

int Run(int argc, char** argv) {
  const std::string arg = argc > 1 ? argv[1] : "";
  if (arg == "-h" || arg == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (arg == "--version") {
    std::printf("link-check %s\n", FERNWICK_VERSION);
    return 0;
  }
  if (argc != 2 || (arg.size() > 1 && arg[0] == '-' && arg != "--current")) {
    if (argc == 2) std::fprintf(stderr, "link-check: unknown option %s\n", arg.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }
#if defined(_WIN32)
  if (arg != "--current") {
    std::fprintf(
        stderr,
        "link-check: on Windows only --current is offered (the registry is never written)\n");
    return 2;
  }
#else
  if (arg != "--current") {
    const fs::path folder = arg;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      std::fprintf(stderr, "link-check: %s is %s\n", arg.c_str(),
                   fs::exists(folder, ec) ? "a file, not a folder" : "not a folder");
      return 2;
    }
    temporary_registry = WriteRegistryFor(folder);
  }
  std::printf("Registry file: %s\n", RegistryFileName().c_str());
#endif

  std::vector<std::string> shown;
  SetMessageDlgHook([&shown](const std::string& msg, TMsgDlgType, TMsgDlgButtons, int) {
    shown.push_back(msg);
    return mrOk;
  });

  std::printf("HotSync installation (PalmDllPath): \"%s\"\n", PalmDllPath().c_str());
  InitializeLibraryUnits();
  for (const std::string& msg : shown) std::printf("Message shown: %s\n", msg.c_str());

  std::printf("\nSync Manager side (DorvConduitSync): %s\n",
              SyncDllLoaded() ? "loaded" : "NOT loaded");
  for (const TLibraryLoadState& state : SyncDllLoadStates()) PrintLibrary(state);
  int sync_bound = 0;
#define FERNWICK_PRINT(name, result, params) PrintEntry(::fernwick::name, sync_bound);
  FERNWICK_SYNC_FUNCTIONS(FERNWICK_PRINT)
  std::printf("  %d of 54 Sync Manager functions bound\n", sync_bound);

  std::printf("\nHotSync log side (DorvConduitLog): %s\n",
              LogDllLoaded() ? "loaded" : "NOT loaded");
  PrintLibrary(LogDllLoadState());
  int log_bound = 0;
#undef FERNWICK_PRINT
#define FERNWICK_PRINT(name, result, params) PrintEntry(::fernwick::name, log_bound);
  FERNWICK_LOG_FUNCTIONS(FERNWICK_PRINT)
#undef FERNWICK_PRINT
  std::printf("  %d of 8 log functions bound\n", log_bound);

  const bool ok = SyncDllLoaded() && LogDllLoaded();
  FinalizeLibraryUnits();
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int status;
  try {
    status = Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "link-check: %s\n", e.what());
    status = 2;
  }
  if (!temporary_registry.empty()) {
    std::error_code ignored;
    fs::remove_all(temporary_registry.parent_path(), ignored);
  }
  return status;
}
