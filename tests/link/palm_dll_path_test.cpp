#include <gtest/gtest.h>

#include "TestInstallation.h"
#include <fernwick/framework/Exceptions.h>
#include <fernwick/link/DorvConduitApi.h>

namespace fernwick {
namespace {

using testing::TestInstallation;

TEST(PalmDllPath, EmptyWithoutKeyValueOrText) {
  TestInstallation install;
  EXPECT_EQ(PalmDllPath(), "");
  install.SetKeyWithoutValue();
  EXPECT_EQ(PalmDllPath(), "");
  install.SetHotSyncPath("");
  EXPECT_EQ(PalmDllPath(), "");
}

TEST(PalmDllPath, NonStringValueRaises) {
  TestInstallation install;
  install.SetHotSyncPathNumber();
  EXPECT_THROW(PalmDllPath(), ERegistryException);
}

#if defined(_WIN32)

TEST(PalmDllPath, FolderOfTheFileWithBackslashAndColonRules) {
  TestInstallation install;
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Palm\\HotSync.exe", "C:\\Palm\\"},
      {"C:\\Palm", "C:\\"},
      {"C:HotSync.exe", "C:\\"},
      {"HotSync.exe", ""},
      {"C:/Palm/HotSync.exe", "C:\\"},
      {"\\\\server\\share\\Palm\\HotSync.exe", "\\\\server\\share\\Palm\\"},
  };
  for (const auto& [value, expected] : cases) {
    install.SetHotSyncPath(value);
    EXPECT_EQ(PalmDllPath(), expected) << value;
  }
}

#else

TEST(PalmDllPath, FolderOfTheFileWithSlashRules) {
  TestInstallation install;
  const std::pair<const char*, const char*> cases[] = {
      {"/opt/palm/HotSync.exe", "/opt/palm/"},
      {"/opt/palm", "/opt/"},
      {"/opt/palm/", "/opt/palm/"},
      {"HotSync.exe", ""},
      {"/HotSync.exe", "/"},
      // Backslashes and colons are ordinary characters of a POSIX name.
      {"C:\\Palm\\HotSync.exe", ""},
      {"/opt/we\"ird\\dir/HotSync.exe", "/opt/we\"ird\\dir/"},
  };
  for (const auto& [value, expected] : cases) {
    install.SetHotSyncPath(value);
    EXPECT_EQ(PalmDllPath(), expected) << value;
  }
}

#endif

}  // namespace
}  // namespace fernwick
