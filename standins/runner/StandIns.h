// The runner's own handles of the stand-in libraries in the HotSync folder:
// the handheld emulator (sync20) and the HotSync log library (hslog20). A
// conduit loaded afterwards binds the same loaded libraries, so what the
// runner sets here (the attached handheld, injected faults, the log) is what
// the conduit sees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/framework/DynLib.h>

namespace fernwick::runner {

// Time spent in the Sync Manager's functions, by what they do for a
// synchronisation.
struct CallTimes {
  struct Kind {
    std::uint64_t calls = 0;
    double seconds = 0;
  };
  Kind open;        // SyncOpenDB, SyncCreateDB: reading database files
  Kind reads;       // SyncRead...: records and blocks handed to the conduit
  Kind write_back;  // SyncCloseDB: writing changed databases back
  Kind other;       // every other call
  double Total() const { return open.seconds + reads.seconds + write_back.seconds + other.seconds; }

  // Sums the emulator's lines "<function> <calls> <microseconds>".
  static CallTimes FromText(const std::string& text);
};

class HandheldEmulator {
 public:
  HandheldEmulator() = default;
  HandheldEmulator(const HandheldEmulator&) = delete;
  HandheldEmulator& operator=(const HandheldEmulator&) = delete;
  // Detaches the handheld (writing back open databases) and unloads.
  ~HandheldEmulator();

  // Loads sync20 from `folder` (with a trailing delimiter). Returns "" or
  // one line saying why not.
  std::string Load(const std::string& folder);

  // Serves the handheld in `folder`. Returns "" or the emulator's reason.
  std::string Attach(const std::string& folder);

  // Writes back and detaches the handheld. Returns "" or the reason.
  std::string Detach();

  // Makes the next call of `function` answer `status`. Returns "" or why not.
  std::string InjectFault(const std::string& function, std::int32_t status);

  // The user name stored on the attached handheld, or "" when unknown.
  std::string UserName();

  // Sends the emulator's warnings (damaged files, files left out, failed
  // write-backs, SyncAddLogEntry text) to `sink`; null stops them.
  void SetLogSink(TLogAddEntry sink);

  // The emulator's last message, or "no reason given".
  std::string LastMessage();

  // The status of the emulator's last failed call (0: none yet).
  std::int32_t LastStatus();

  // Ends a registration a conduit left behind; true when there was one.
  bool EndRegistration();

  // Closes the databases a conduit left open (writing back their changes,
  // as the handheld keeps them); returns their names.
  std::vector<std::string> CloseLeftOpen();

  // Starts counting the Sync Manager calls and their time, from zero.
  void StartTimingCalls();

  // The counts since StartTimingCalls, summed by kind of call.
  CallTimes TimedCalls();

 private:
  TLibHandle handle_ = nullptr;
  bool attached_ = false;
};

}  // namespace fernwick::runner
