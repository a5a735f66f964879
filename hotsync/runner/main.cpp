// fernwick-hotsync: plays HotSync Manager for conduit libraries. See
// --help, or RunnerOptions.cpp.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "hotsync/runner/Isolate.h"
#include "hotsync/runner/Runner.h"
#include "hotsync/runner/RunnerOptions.h"

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
      std::filesystem::create_directories(options.desktop);
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
