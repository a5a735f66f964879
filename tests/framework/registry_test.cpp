#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Registry.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fernwick {
namespace {

#if !defined(_WIN32)

// A registry file of the test's own, named by FERNWICK_REGISTRY while the
// object lives.
class RegistryFile {
 public:
  RegistryFile()
      : path_(std::filesystem::temp_directory_path() /
              ("fernwick-registry-" + std::to_string(::getpid()) + ".reg")) {
    setenv("FERNWICK_REGISTRY", path_.c_str(), 1);
  }
  ~RegistryFile() {
    unsetenv("FERNWICK_REGISTRY");
    std::filesystem::remove(path_);
  }
  void Write(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
  }

 private:
  std::filesystem::path path_;
};

constexpr const char* kCore = "Software\\U.S. Robotics\\Pilot Desktop\\Core";

TEST(RegistryFile, ReadsStringsWithEscapesAndIgnoresCase) {
  RegistryFile file;
  file.Write(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; HotSync\r\n"
      "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\r\n"
      "\"HotSyncPath\"=\"C:\\\\Palm\\\\HotSync.exe\"\r\n"
      "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
      "@=\"default\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\r\n"
      "\"HotSyncPath\"=\"elsewhere\"\r\n");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly("\\software\\u.s. robotics\\PILOT DESKTOP\\Core"));
  EXPECT_EQ(registry.ReadString("hotsyncpath"), "C:\\Palm\\HotSync.exe");
  EXPECT_EQ(registry.ReadString("Quoted"), "say \"hi\"");
  EXPECT_EQ(registry.ReadString(""), "default");
  EXPECT_EQ(registry.ReadString("Missing"), "");
  EXPECT_FALSE(registry.ValueExists("Missing"));
  // A key that has only subkeys exists; one that is not there does not.
  EXPECT_TRUE(registry.OpenKeyReadOnly("Software\\U.S. Robotics"));
  EXPECT_FALSE(registry.OpenKeyReadOnly("Software\\U.S. Robotics\\Pilot"));
  EXPECT_EQ(registry.ReadString("HotSyncPath"), "");
}

TEST(RegistryFile, NonStringValuesAreRecognisedAndRefusedAsStrings) {
  RegistryFile file;
  file.Write(
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
      "\"Number\"=dword:0000001f\n"
      "\"Bytes\"=hex:01,02,\\\n  03,04\n"
      "\"Expand\"=hex(2):25,50,41,4c,4d,25,00\n"
      "\"Multi\"=hex(7):61,00,00\n"
      "\"Later\"=\"x\"\n");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly(kCore));
  EXPECT_EQ(registry.GetDataType("Number"), rdInteger);
  EXPECT_EQ(registry.GetDataType("Bytes"), rdBinary);
  EXPECT_EQ(registry.GetDataType("Multi"), rdUnknown);
  EXPECT_EQ(registry.ReadString("Expand"), "%PALM%");
  EXPECT_EQ(registry.ReadString("Later"), "x");
  for (const char* name : {"Number", "Bytes", "Multi"}) {
    try {
      registry.ReadString(name);
      ADD_FAILURE() << name;
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), std::string("Invalid data type for '") + name + "'");
    }
  }
}

TEST(RegistryFile, RemovalLinesTakeEffectInOrder) {
  RegistryFile file;
  file.Write(
      "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
      "\"HotSyncPath\"=\"/a\"\n\"Other\"=\"b\"\n\"Other\"=-\n"
      "[HKEY_CURRENT_USER\\Software\\Gone\\Sub]\n\"x\"=\"y\"\n"
      "[-HKEY_CURRENT_USER\\Software\\Gone]\n");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly(kCore));
  EXPECT_TRUE(registry.ValueExists("HotSyncPath"));
  EXPECT_FALSE(registry.ValueExists("Other"));
  EXPECT_FALSE(registry.OpenKeyReadOnly("Software\\Gone\\Sub"));
}

TEST(RegistryFile, Utf16FileAsTheRegistryEditorWritesIt) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\r\n"
      "\"HotSyncPath\"=\"/opt/p\xC3\xA4lm/HotSync.exe\"\r\n";
  // Encode as UTF-16LE with a byte-order mark (the text's only non-ASCII
  // character is U+00E4).
  std::string utf16 = "\xFF\xFE";
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xC3) {
      utf16 += '\xE4';
      utf16 += '\0';
      ++i;
      continue;
    }
    utf16 += text[i];
    utf16 += '\0';
  }
  RegistryFile file;
  file.Write(utf16);
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly(kCore));
  EXPECT_EQ(registry.ReadString("HotSyncPath"), "/opt/p\xC3\xA4lm/HotSync.exe");
}

TEST(RegistryFile, MissingFileIsAnEmptyRegistryAndABadOneRaises) {
  RegistryFile file;  // not written yet
  TRegistry registry;
  EXPECT_FALSE(registry.OpenKeyReadOnly(kCore));
  for (const char* bad :
       {"[HKEY_CURRENT_USER\\Software]\n", "REGEDIT4\n\"Value\"=\"outside any key\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n\"Open=\"x\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n\"N\"=dword:123456789\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n\"N\"=hex:1,zz\n", ""}) {
    file.Write(bad);
    EXPECT_THROW(registry.OpenKeyReadOnly("Software"), ERegistryException) << bad;
  }
}

// A registry file that exists but cannot be read (here a folder) raises the
// registry's own error, not the stream library's.
TEST(RegistryFile, FolderInPlaceOfTheFileRaisesARegistryError) {
  const auto folder = std::filesystem::temp_directory_path() /
                      ("fernwick-registry-folder-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  setenv("FERNWICK_REGISTRY", folder.c_str(), 1);
  TRegistry registry;
  try {
    registry.OpenKeyReadOnly(kCore);
    ADD_FAILURE() << "a folder was read as a registry file";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message().rfind("Registry file " + folder.string() + " cannot be read", 0), 0u)
        << e.Message();
  }
  unsetenv("FERNWICK_REGISTRY");
  std::filesystem::remove(folder);
}

// A device or a FIFO in place of the file is refused at once: it is neither
// read without end nor waited on.
TEST(RegistryFile, DeviceOrFifoInPlaceOfTheFileRaisesARegistryError) {
  const auto fifo = std::filesystem::temp_directory_path() /
                    ("fernwick-registry-fifo-" + std::to_string(::getpid()));
  std::filesystem::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& file : {std::string("/dev/zero"), fifo.string()}) {
    setenv("FERNWICK_REGISTRY", file.c_str(), 1);
    TRegistry registry;
    try {
      registry.OpenKeyReadOnly(kCore);
      ADD_FAILURE() << file << " was read as a registry file";
    } catch (const ERegistryException& e) {
      EXPECT_NE(e.Message().find("not a regular file"), std::string::npos) << e.Message();
    }
  }
  unsetenv("FERNWICK_REGISTRY");
  std::filesystem::remove(fifo);
}

TEST(RegistryFile, DefaultLocationIsInTheUsersHome) {
  const char* home = std::getenv("HOME");
  if (home == nullptr) GTEST_SKIP() << "no HOME";
  unsetenv("FERNWICK_REGISTRY");
  EXPECT_EQ(RegistryFileName(), std::string(home) + "/.fernwick/registry.reg");
  setenv("FERNWICK_REGISTRY", "/tmp/x.reg", 1);
  EXPECT_EQ(RegistryFileName(), "/tmp/x.reg");
  unsetenv("FERNWICK_REGISTRY");
}

#else

TEST(Registry, ReadsTheCurrentUsersRegistry) {
  const char* key_path = "Software\\Fernwick\\RegistryTest";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const char text[] = "C:\\Palm\\HotSync.exe";
  const DWORD number = 7;
  RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                 sizeof number);
  RegCloseKey(key);

  {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKeyReadOnly(key_path));
    EXPECT_EQ(registry.ReadString("Text"), text);
    EXPECT_EQ(registry.ReadString("Missing"), "");
    EXPECT_EQ(registry.GetDataType("Number"), rdInteger);
    EXPECT_THROW(registry.ReadString("Number"), ERegistryException);
    EXPECT_FALSE(registry.OpenKeyReadOnly("Software\\Fernwick\\NoSuchKey"));
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, key_path);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Fernwick");
}

#endif

}  // namespace
}  // namespace fernwick
