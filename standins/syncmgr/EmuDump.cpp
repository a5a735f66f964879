// fernwick-emudump: prints one database of a handheld folder as the handheld
// emulator serves it, read only through the Sync Manager functions:
//
//   fernwick-emudump FOLDER DATABASE-NAME
//
// The output is the raw text form of fernwick-pdbdump (and of Perl's
// pdb-dump.pl), without the unique-id seed, which the Sync Manager does not
// report. Record attribute bytes are rebuilt from Attribs and CatId the way
// that form prints them: a deleted (0x80) or busy (0x20) record shows its
// archive bit instead of its category. Exit status 1 when a call fails.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "standins/pdb/DumpText.h"
#include "standins/pdb/PdbFile.h"
#include <fernwick/FernwickVersion.h>
#include <fernwick/abi/Emulator.h>
#include <fernwick/abi/SyncApi.h>

#define FERNWICK_IMPORT_DECL(name, result, params) extern "C" result FW_CDECL name params;
FERNWICK_SYNC_FUNCTIONS(FERNWICK_IMPORT_DECL)
#undef FERNWICK_IMPORT_DECL

namespace {

using namespace fernwick;

[[noreturn]] void Fail(const char* call, std::int32_t status) {
  char message[512];
  EmuGetLastMessage(message, sizeof message);
  std::fprintf(stderr, "fernwick-emudump: %s answered 0x%x: %s\n", call,
               static_cast<unsigned>(status), message);
  std::exit(1);
}

std::uint8_t g_buffer[65535];

std::string InfoBlock(std::uint8_t handle, bool app) {
  TDbGenInfo info{};
  info.TotalBytes = sizeof g_buffer;
  info.Bytes = g_buffer;
  const std::int32_t status =
      app ? SyncReadDBAppInfoBlock(handle, &info) : SyncReadDBSortInfoBlock(handle, &info);
  if (status == SYNCERR_NOT_FOUND) return "none";
  if (status != 0) Fail(app ? "SyncReadDBAppInfoBlock" : "SyncReadDBSortInfoBlock", status);
  return pdb::HexText(std::span<const std::uint8_t>(g_buffer, info.BytesRead));
}

}  // namespace

constexpr const char* kUsage = R"(usage: fernwick-emudump FOLDER DATABASE-NAME
       fernwick-emudump --help | -h | --version

Prints the database DATABASE-NAME (such as MemoDB) of the handheld folder
FOLDER as the emulator serves it through the Sync Manager functions.

Exit status: 0 printed (or --help, --version); 1 the emulator refused a call;
2 the command line is wrong (no arguments, an unknown option, FOLDER a file).
)";

int main(int argc, char** argv) {
  const std::string arg = argc > 1 ? argv[1] : "";
  if (arg == "--help" || arg == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (arg == "--version") {
    std::printf("fernwick-emudump %s\n", FERNWICK_VERSION);
    return 0;
  }
  if (arg.size() > 1 && arg[0] == '-') {
    std::fprintf(stderr, "fernwick-emudump: unknown option %s\n%s", arg.c_str(), kUsage);
    return 2;
  }
  if (argc != 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(arg, ec) && std::filesystem::exists(arg, ec)) {
    std::fprintf(stderr, "fernwick-emudump: %s is a file, not a folder\n", arg.c_str());
    return 2;
  }
  if (const std::int32_t s = EmuAttachHandheld(argv[1]); s != 0) Fail("EmuAttachHandheld", s);
  SyncFindDbByNameParams find{};
  find.pcDatabaseName = argv[2];
  SyncDatabaseInfoType info{};
  std::uint32_t card = 0;
  std::uint32_t local_id = 0;
  std::uint32_t open_ref = 0;
  if (const std::int32_t s = SyncFindDbByName(&find, &card, &local_id, &open_ref, &info); s != 0) {
    Fail("SyncFindDbByName", s);
  }
  std::uint8_t handle = 0;
  if (const std::int32_t s = SyncOpenDB(argv[2], 0, &handle, eDbRead | eDbShowSecret); s != 0)
    Fail("SyncOpenDB", s);

  std::printf("name %s\n", pdb::QuoteText(info.szName).c_str());
  std::printf("attributes 0x%04x\n", info.wAttributes);
  std::printf("version %u\n", info.wVersion);
  std::printf("dates %u %u %u\n", info.dwCreateDate, info.dwModDate, info.dwBackupDate);
  std::printf("modnum %u\n", info.dwModNumber);
  std::printf("type %s creator %s\n", pdb::QuoteText(pdb::FourCCToString(info.dwType)).c_str(),
              pdb::QuoteText(pdb::FourCCToString(info.dwCreator)).c_str());
  std::printf("appinfo %s\n", InfoBlock(handle, true).c_str());
  std::printf("sortinfo %s\n", InfoBlock(handle, false).c_str());
  std::uint16_t count = 0;
  if (const std::int32_t s = SyncGetDBRecordCount(handle, &count); s != 0)
    Fail("SyncGetDBRecordCount", s);
  const bool resources = (info.wAttributes & eDbAttrResDB) != 0;
  std::printf("%s %u\n", resources ? "resources" : "records", count);
  for (std::uint16_t i = 0; i < count; ++i) {
    TRawRecordInfo rec{};
    rec.FileHandle = handle;
    rec.RecIndex = i;
    rec.TotalBytes = sizeof g_buffer;
    rec.Bytes = g_buffer;
    if (resources) {
      if (const std::int32_t s = SyncReadResRecordByIndex(&rec, 1); s != 0)
        Fail("SyncReadResRecordByIndex", s);
      std::printf("resource type=%s id=%u data=%s\n",
                  pdb::QuoteText(pdb::FourCCToString(rec.RecId)).c_str(),
                  static_cast<unsigned>(static_cast<std::uint16_t>(rec.CatId)),
                  pdb::HexText(std::span<const std::uint8_t>(g_buffer, rec.RecSize)).c_str());
    } else {
      if (const std::int32_t s = SyncReadRecordByIndex(&rec); s != 0)
        Fail("SyncReadRecordByIndex", s);
      const std::uint8_t flags = rec.Attribs & pdb::kRecFlagsMask;
      std::uint8_t attr = flags;
      if ((flags & (eRecAttrDeleted | eRecAttrBusy)) != 0) {
        attr |= rec.Attribs & eRecAttrArchived;
      } else {
        attr |= static_cast<std::uint8_t>(rec.CatId & pdb::kRecCategoryMask);
      }
      std::printf("record attr=0x%02x id=%u data=%s\n", attr, static_cast<unsigned>(rec.RecId),
                  pdb::HexText(std::span<const std::uint8_t>(g_buffer, rec.RecSize)).c_str());
    }
  }
  if (const std::int32_t s = SyncCloseDB(handle); s != 0) Fail("SyncCloseDB", s);
  if (const std::int32_t s = EmuDetachHandheld(); s != 0) Fail("EmuDetachHandheld", s);
  return 0;
}
