// The state and journal files of the mirror-sync engine: what is written is
// read back, and a damaged or foreign file is a clear error, never a crash
// nor a state taken half.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvSyncState.h>

namespace fernwick {
namespace {

using Kind = TDorvSyncState::Kind;

TDorvSyncState Sample() {
  TDorvSyncState state;
  state.app_info = std::string("\x00\x01Unfiled\x00", 10);
  state.records.push_back({7, 1, false, std::string("milk\0", 5)});
  state.records.push_back({9, 15, true, ""});
  state.records.push_back({0x00FFFFFF, 0, false, std::string(300, '\xE9')});
  return state;
}

std::string ErrorOf(const std::string& bytes, Kind kind = Kind::kState) {
  try {
    TDorvSyncState::Decode(bytes, kind, "ToDoDB.sync-state");
  } catch (const EDorvConduitError& e) {
    return e.what();
  }
  return "";
}

TEST(SyncState, WrittenAndReadBackAsTheLastSyncLeftIt) {
  const TDorvSyncState state = Sample();
  const TDorvSyncState back = TDorvSyncState::Decode(state.Encode(Kind::kState), Kind::kState, "x");
  EXPECT_EQ(back.app_info, state.app_info);
  EXPECT_EQ(back.records, state.records);
  ASSERT_NE(back.Find(9), nullptr);
  EXPECT_TRUE(back.Find(9)->secret);
  EXPECT_EQ(back.Find(8), nullptr);
  // A journal holds appends not yet made: no ids, and not a state.
  const std::string journal = state.Encode(Kind::kJournal);
  EXPECT_EQ(TDorvSyncState::Decode(journal, Kind::kJournal, "x").records[2].id, 0u);
  EXPECT_NE(ErrorOf(journal).find("is not a Fernwick sync state file"), std::string::npos);

  const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) / "sync-state";
  std::filesystem::remove_all(folder);
  EXPECT_FALSE(TDorvSyncState::Load(folder / "ToDoDB.sync-state", Kind::kState).has_value());
  TDesktopWriter writer;
  state.Save(writer, folder / "ToDoDB.sync-state", Kind::kState);
  writer.Commit();
  const auto loaded = TDorvSyncState::Load(folder / "ToDoDB.sync-state", Kind::kState);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->records, state.records);
  std::filesystem::remove_all(folder);
}

TEST(SyncState, EveryCutAndEveryFlippedByteIsRefusedWithTheFileNamed) {
  const std::string bytes = Sample().Encode(Kind::kState);
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    const std::string error = ErrorOf(bytes.substr(0, length));
    EXPECT_NE(error.find("ToDoDB.sync-state"), std::string::npos) << "cut at " << length;
  }
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    std::string flipped = bytes;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x20);
    EXPECT_NE(ErrorOf(flipped), "") << "byte " << at;
  }
  EXPECT_NE(ErrorOf(bytes + "x").find("damaged"), std::string::npos);
  EXPECT_NE(ErrorOf("Id,Description\r\n").find("is not a Fernwick sync state file"),
            std::string::npos);
}

// A state whose records carry the adapter's fingerprints is a "FWSTATE2"
// file; one without any is written as before, and such older files are
// still read.
TEST(SyncState, FingerprintsAreKeptAndOlderFilesRead) {
  TDorvSyncState state = Sample();
  const std::string older = state.Encode(Kind::kState);
  EXPECT_EQ(older.substr(0, 8), "FWSTATE1");
  state.records[0].fingerprint = 0x0123456789ABCDEFu;
  state.records[2].fingerprint = 1;
  const std::string printed = state.Encode(Kind::kState);
  EXPECT_EQ(printed.substr(0, 8), "FWSTATE2");
  EXPECT_EQ(TDorvSyncState::Decode(printed, Kind::kState, "x").records, state.records);
  const TDorvSyncState back = TDorvSyncState::Decode(older, Kind::kState, "x");
  EXPECT_EQ(back.records.size(), 3u);
  EXPECT_EQ(back.records[0].fingerprint, 0u);
  // A journal never holds them.
  EXPECT_EQ(state.Encode(Kind::kJournal).substr(0, 8), "FWJRNL01");
  for (std::size_t length = 0; length < printed.size(); ++length)
    EXPECT_NE(ErrorOf(printed.substr(0, length)), "") << "cut at " << length;
}

// Rules the checksum alone would let through, in a file whose checksum is
// right: a huge record count, ids out of order, unknown attribute bits.
TEST(SyncState, ACheckedFileBreakingARuleIsDamaged) {
  TDorvSyncState state = Sample();
  std::swap(state.records[0], state.records[1]);
  EXPECT_NE(ErrorOf(state.Encode(Kind::kState)).find("ascending"), std::string::npos);

  auto with_checksum = [](std::string bytes) {
    bytes.resize(bytes.size() - 4);
    std::uint32_t hash = 2166136261u;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((hash >> (8 * i)) & 0xFF);
    return bytes;
  };
  std::string bytes = Sample().Encode(Kind::kState);
  bytes[8] = bytes[9] = bytes[10] = bytes[11] = '\xFF';
  EXPECT_NE(ErrorOf(with_checksum(bytes)).find("record count"), std::string::npos);
  bytes = Sample().Encode(Kind::kState);
  bytes[14 + 10 + 4] = '\x20';  // the first record's attributes
  EXPECT_NE(ErrorOf(with_checksum(bytes)).find("attributes"), std::string::npos);
}

}  // namespace
}  // namespace fernwick
