#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LinkTesting.h"
#include "TestInstallation.h"
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/LibraryStartup.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/SysUtils.h>
#include <fernwick/link/DorvConduitLog.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {
namespace {

using testing::MessageRecorder;
using testing::TestInstallation;

// The entries of a table by name: their addresses.
std::map<std::string, void*> SyncAddresses() {
  std::map<std::string, void*> out;
#define FERNWICK_COLLECT(name, result, params) \
  out[#name] = reinterpret_cast<void*>(::fernwick::name.Address());
  FERNWICK_SYNC_FUNCTIONS(FERNWICK_COLLECT)
#undef FERNWICK_COLLECT
  return out;
}

std::map<std::string, void*> LogAddresses() {
  std::map<std::string, void*> out;
#define FERNWICK_COLLECT(name, result, params) \
  out[#name] = reinterpret_cast<void*>(::fernwick::name.Address());
  FERNWICK_LOG_FUNCTIONS(FERNWICK_COLLECT)
#undef FERNWICK_COLLECT
  return out;
}

int BoundCount(const std::map<std::string, void*>& table) {
  int n = 0;
  for (const auto& [name, address] : table) n += address != nullptr;
  return n;
}

// Every entry holds exactly what the library at `path` exports under the
// entry's name.
void ExpectTableMatches(const std::map<std::string, void*>& table, const std::string& path) {
  TLibHandle lib = LoadLibraryHandle(path);
  ASSERT_NE(lib, nullptr) << LastLibraryError();
  for (const auto& [name, address] : table) {
    EXPECT_EQ(address, GetLibraryProc(lib, name.c_str())) << name;
  }
  FreeLibraryHandle(lib);
}

struct LastLogEntry {
  std::string text;
  int activity;
  int flag;
  int count;
};

LastLogEntry ReadLastLogEntry(const std::string& hslog_path) {
  using Reader = std::int32_t(FW_CDECL*)(char*, std::int32_t, std::int32_t*, std::int32_t*);
  TLibHandle lib = LoadLibraryHandle(hslog_path);
  if (lib == nullptr) throw std::runtime_error(LastLibraryError());
  auto read = ProcAs<Reader>(GetLibraryProc(lib, "StubLastLogEntry"));
  char text[256];
  std::int32_t activity = 0, flag = 0;
  const int count = read(text, sizeof text, &activity, &flag);
  FreeLibraryHandle(lib);
  return {text, activity, flag, count};
}

class Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDorvConduitSyncForTesting();
    ResetDorvConduitLogForTesting();
  }
  void TearDown() override {
    ResetDorvConduitSyncForTesting();
    ResetDorvConduitLogForTesting();
  }

  // The name the binding asks for: the installation folder, the delimiter
  // and the Windows file name.
  std::string InFolder(const std::string& library) const {
    return install.Folder().string() + PathDelimiter() + library;
  }

  std::string Path(const std::string& library) const {
    return TestInstallation::PathOf(install.Folder(), library);
  }

  TestInstallation install;
  MessageRecorder messages;
};

TEST_F(Binding, CompleteInstallationBindsEveryEntryToItsOwnFunction) {
  install.AddAllLibraries();
  install.PointAt(install.Folder());

  InitializeLibraryUnits();

  EXPECT_TRUE(messages.shown.empty());
  ASSERT_TRUE(SyncDllLoaded());
  ASSERT_TRUE(LogDllLoaded());
  const auto sync = SyncAddresses();
  const auto log = LogAddresses();
  EXPECT_EQ(BoundCount(sync), 54);
  EXPECT_EQ(BoundCount(log), 8);
  ExpectTableMatches(sync, Path("sync20.dll"));
  ExpectTableMatches(log, Path("hslog20.dll"));

  // The libraries were asked for in load order, each from the installation.
  const auto states = SyncDllLoadStates();
  ASSERT_EQ(states.size(), 4u);
  EXPECT_EQ(states[0].file_name, InFolder("PalmCmn.dll"));
  EXPECT_EQ(states[1].file_name, InFolder("hslog20.dll"));
  EXPECT_EQ(states[2].file_name, InFolder("Cmds21.dll"));
  EXPECT_EQ(states[3].file_name, InFolder("sync20.dll"));
  for (const auto& s : states) EXPECT_TRUE(s.loaded) << s.file_name;

  // Calls go through: the stand-in answers with the function's position.
  std::uint8_t handle = 0;
  EXPECT_EQ(SyncOpenDB("MemoDB", 0, &handle, eDbRead), 5);
  EXPECT_EQ(SyncCloseDB(handle), 8);
  EXPECT_EQ(SyncRebootSystem(), 25);
  EXPECT_EQ(SyncHHToHostWord(0x1234), 47);
  EXPECT_EQ(SyncCloseDBEx(handle, 0), 54);

  FinalizeLibraryUnits();
  EXPECT_FALSE(SyncDllLoaded());
  EXPECT_FALSE(LogDllLoaded());
  EXPECT_EQ(BoundCount(SyncAddresses()), 0);
  EXPECT_EQ(BoundCount(LogAddresses()), 0);
  EXPECT_THROW(SyncCloseDB(1), EDorvConduitError);
}

TEST_F(Binding, MissingCmds21LeavesSyncTableEmptyAndLogSideBindsAlone) {
  install.AddLibrary("PalmCmn.dll");
  install.AddLibrary("hslog20.dll");
  install.AddLibrary("sync20.dll");
  install.PointAt(install.Folder());

  InitializeLibraryUnits();

  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].msg, "DorvConduit : Unable to load sync20.dll");
  EXPECT_EQ(messages.shown[0].type, mtError);
  EXPECT_EQ(messages.shown[0].buttons, MsgDlgButtons({mbOK}));
  EXPECT_EQ(messages.shown[0].help_ctx, 0);
  EXPECT_FALSE(SyncDllLoaded());
  EXPECT_EQ(BoundCount(SyncAddresses()), 0);
  EXPECT_TRUE(LogDllLoaded());
  EXPECT_EQ(BoundCount(LogAddresses()), 8);

  const auto states = SyncDllLoadStates();
  EXPECT_TRUE(states[0].loaded);
  EXPECT_TRUE(states[1].loaded);
  EXPECT_FALSE(states[2].loaded);
  EXPECT_FALSE(states[2].error.empty());
  EXPECT_TRUE(states[3].loaded);

  try {
    SyncGetAPIVersion(nullptr, nullptr);
    ADD_FAILURE() << "an empty entry was called";
  } catch (const EDorvConduitError& e) {
    EXPECT_EQ(e.Message(), "SyncGetAPIVersion is not bound");
    EXPECT_EQ(e.ErrorCode(), kErrFunctionNotBound);
  }

  // A later call repeats the whole load and succeeds once the file is there.
  install.AddLibrary("Cmds21.dll");
  LoadSyncDll();
  EXPECT_TRUE(SyncDllLoaded());
  EXPECT_EQ(BoundCount(SyncAddresses()), 54);
  FinalizeLibraryUnits();
}

TEST_F(Binding, MissingHsLogFailsBothSidesWithOneMessageEach) {
  install.AddLibrary("PalmCmn.dll");
  install.AddLibrary("Cmds21.dll");
  install.AddLibrary("sync20.dll");
  install.PointAt(install.Folder());

  InitializeLibraryUnits();

  EXPECT_EQ(messages.Texts(),
            (std::vector<std::string>{"DorvConduit : Unable to load sync20.dll",
                                      "DorvConduit : Unable to load hslog20.dll"}));
  EXPECT_EQ(BoundCount(LogAddresses()), 0);
  EXPECT_THROW(LogAddEntry("x", -1, 0), EDorvConduitError);
  FinalizeLibraryUnits();
}

TEST_F(Binding, FunctionMissingFromSyncManagerLeavesOnlyItsEntryEmpty) {
  install.AddAllLibraries();
  install.AddLibrary("sync20.dll", /*old_sync_manager=*/true);
  install.PointAt(install.Folder());

  LoadSyncDll();

  EXPECT_TRUE(SyncDllLoaded());
  const auto sync = SyncAddresses();
  EXPECT_EQ(BoundCount(sync), 50);
  for (const char* absent :
       {"SyncFindDbByName", "SyncFindDbByTypeCreator", "SyncReadOpenDbInfo", "SyncCloseDBEx"}) {
    EXPECT_EQ(sync.at(absent), nullptr) << absent;
  }
  ExpectTableMatches(sync, Path("sync20.dll"));
  EXPECT_THROW(SyncCloseDBEx(1, 0), EDorvConduitError);
  EXPECT_EQ(SyncYieldCycles(10), 35);
}

TEST_F(Binding, SecondLoadAfterSuccessChangesNothing) {
  install.AddAllLibraries();
  install.PointAt(install.Folder());
  LoadSyncDll();
  LoadLogDll();
  const auto sync = SyncAddresses();
  const auto log = LogAddresses();
  const auto states = SyncDllLoadStates();

  // Even with the registry now naming another, complete installation.
  for (const char* library : {"PalmCmn.dll", "hslog20.dll", "Cmds21.dll", "sync20.dll"}) {
    install.AddLibrary(library, false, install.OtherFolder());
  }
  install.PointAt(install.OtherFolder());
  LoadSyncDll();
  LoadLogDll();

  EXPECT_EQ(SyncAddresses(), sync);
  EXPECT_EQ(LogAddresses(), log);
  const auto after = SyncDllLoadStates();
  for (std::size_t i = 0; i < states.size(); ++i)
    EXPECT_EQ(after[i].file_name, states[i].file_name);
  EXPECT_EQ(LogDllLoadState().file_name, InFolder("hslog20.dll"));
}

TEST_F(Binding, NoRegistryValueLoadsByBareName) {
  install.AddAllLibraries();
  for (int variant = 0; variant < 2; ++variant) {
    if (variant == 0) {
      install.RemoveKey();
    } else {
      install.SetKeyWithoutValue();
    }
    ResetDorvConduitSyncForTesting();
    ResetDorvConduitLogForTesting();
    LoadSyncDll();
    LoadLogDll();
    const auto states = SyncDllLoadStates();
    EXPECT_EQ(states[0].file_name, "PalmCmn.dll");
    EXPECT_EQ(states[1].file_name, "hslog20.dll");
    EXPECT_EQ(states[2].file_name, "Cmds21.dll");
    EXPECT_EQ(states[3].file_name, "sync20.dll");
    EXPECT_EQ(LogDllLoadState().file_name, "hslog20.dll");
  }
}

TEST_F(Binding, InitialisationIsCountedAndReleasesOnTheLast) {
  install.AddAllLibraries();
  install.PointAt(install.Folder());
  InitializeDorvConduitSync();
  InitializeDorvConduitSync();
  InitializeDorvConduitLog();
  InitializeDorvConduitLog();
  FinalizeDorvConduitSync();
  FinalizeDorvConduitLog();
  EXPECT_TRUE(SyncDllLoaded());
  EXPECT_TRUE(LogDllLoaded());
  FinalizeDorvConduitSync();
  FinalizeDorvConduitLog();
  EXPECT_FALSE(SyncDllLoaded());
  EXPECT_FALSE(LogDllLoaded());
  for (const auto& s : SyncDllLoadStates()) EXPECT_FALSE(s.loaded);
  // A finalisation too many is harmless.
  FinalizeDorvConduitSync();
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Binding, RegistryErrorPassesOutAndLeavesUnitsUninitialised) {
  install.AddAllLibraries();
  install.SetHotSyncPathNumber();
  EXPECT_THROW(InitializeLibraryUnits(), ERegistryException);
  EXPECT_THROW(LoadLogDll(), ERegistryException);
  EXPECT_FALSE(SyncDllLoaded());
  EXPECT_TRUE(messages.shown.empty());

  // The failed start-up left nothing counted: a good start-up works fully.
  install.PointAt(install.Folder());
  InitializeLibraryUnits();
  EXPECT_TRUE(SyncDllLoaded());
  FinalizeLibraryUnits();
  EXPECT_FALSE(SyncDllLoaded());
}

TEST_F(Binding, StartupObjectShowsARegistryErrorInsteadOfRaising) {
  install.SetHotSyncPathNumber();
  {
    TLibraryStartup startup;
    EXPECT_FALSE(startup.Initialized());
  }
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].msg, "Invalid data type for 'HotSyncPath'");
}

std::unique_ptr<TComponent> CreateEmptyModule() { return std::make_unique<TComponent>(nullptr); }

// The lazy start-up of a conduit library at its first entry point call: a
// registry that cannot be read leaves nothing bound, not even the log, so
// the error is shown to the user with MessageDlg, once.
TEST_F(Binding, LazyStartUpShowsARegistryErrorOnce) {
  install.AddAllLibraries();
  install.SetHotSyncPathNumber();
  {
    ConduitLibrary library(&CreateEmptyModule);
    library.EnsureStarted();
    library.EnsureStarted();
    EXPECT_EQ(library.Module(), nullptr);
    EXPECT_FALSE(SyncDllLoaded());
  }
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Invalid data type for 'HotSyncPath'"});
  SetConduitModuleError(nullptr);
#if !defined(_WIN32)
  // A registry file that cannot be read (here: a folder).
  const char* saved = std::getenv("FERNWICK_REGISTRY");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("FERNWICK_REGISTRY", install.Folder().c_str(), 1);
  {
    ConduitLibrary library(&CreateEmptyModule);
    library.EnsureStarted();
  }
  if (saved != nullptr) {
    setenv("FERNWICK_REGISTRY", previous.c_str(), 1);
  } else {
    unsetenv("FERNWICK_REGISTRY");
  }
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].msg.rfind("Registry file ", 0), 0u) << messages.shown[1].msg;
  EXPECT_NE(messages.shown[1].msg.find("cannot be read"), std::string::npos);
  EXPECT_EQ(messages.shown[1].type, mtError);
  SetConduitModuleError(nullptr);
#endif
}

TEST_F(Binding, LogAddFormattedEntryFormatsAndPassesActivityAndFlag) {
  install.AddAllLibraries();
  install.PointAt(install.Folder());
  LoadLogDll();
  ASSERT_TRUE(LogDllLoaded());
  const std::string hslog = Path("hslog20.dll");

  EXPECT_EQ(LogAddFormattedEntry("Record %d of %s", {3, "MemoDB"}, -1, false), 1);
  LastLogEntry entry = ReadLastLogEntry(hslog);
  EXPECT_EQ(entry.text, "Record 3 of MemoDB");
  EXPECT_EQ(entry.activity, -1);
  EXPECT_EQ(entry.flag, 0);

  EXPECT_EQ(LogAddFormattedEntry("%s", {"done"}, 21, true), 2);
  entry = ReadLastLogEntry(hslog);
  EXPECT_EQ(entry.activity, 21);
  EXPECT_EQ(entry.flag, 1);

  EXPECT_THROW(LogAddFormattedEntry("Record %d", {"three"}, -1, false), EConvertError);
  EXPECT_THROW(LogAddFormattedEntry("Record %d of %s", {3}, -1, false), EConvertError);
  EXPECT_EQ(ReadLastLogEntry(hslog).count, 2);
}

}  // namespace
}  // namespace fernwick
