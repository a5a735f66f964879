// fernwick-hotsync: plays HotSync Manager for conduit libraries. See
// --help, or RunnerOptions.cpp.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "standins/runner/Isolate.h"
#ifndef _WIN32
#include <sys/stat.h>

#include <cerrno>
#endif

#include "standins/runner/Runner.h"
#include "standins/runner/RunnerOptions.h"

namespace {

// Makes `folder` and every missing folder above it, readable by the user
// alone (mode 0700 on POSIX systems): the desktop files hold the user's
// private records.
void MakePrivateFolders(const std::filesystem::path& folder) {
  if (folder.empty() || std::filesystem::is_directory(folder)) return;
  MakePrivateFolders(folder.parent_path());
#ifdef _WIN32
  std::filesystem::create_directory(folder);
#else
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::filesystem::filesystem_error("cannot create the desktop folder", folder,
                                            std::error_code(errno, std::generic_category()));
#endif
}

}  // namespace

int main(int argc, char** argv) {
  using namespace fernwick::runner;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << HelpText();
    return kExitUsage;
  }
  try {
    // A child of `sync --isolate` reports to its parent through a pipe.
    std::unique_ptr<ReportToParent> report;
    if (args.size() >= 2 && args[0] == kReportOption) {
      report = std::make_unique<ReportToParent>(args[1]);
      args.erase(args.begin(), args.begin() + 2);
    }
    RunnerOptions options = ParseOptions(args);
    if (options.command != Command::kHelp && options.command != Command::kVersion &&
        !options.desktop_given) {
      options.desktop = DefaultDesktopFolder();
      MakePrivateFolders(options.desktop);
      std::cout << "Desktop folder: " << options.desktop
                << " (the default; --desktop DIR for another)\n";
    }
    if (report) return RunCommand(options, report->Out(), report->Err());
    return RunCommand(options, std::cout, std::cerr);
  } catch (const UsageError& e) {
    std::cerr << "fernwick-hotsync: " << e.what() << "\n"
              << "Try 'fernwick-hotsync --help'.\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "fernwick-hotsync: " << e.what() << "\n";
    return kExitLoadFailed;
  }
}
