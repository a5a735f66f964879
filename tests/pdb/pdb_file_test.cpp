#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "TestDatabases.h"
#include "standins/pdb/PdbFile.h"

namespace fernwick::pdb {
namespace {

using testing::DamagedFiles;
using testing::ExerciseRecordDatabase;
using testing::ExerciseResourceDatabase;
using testing::Get32;

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// True when `path` takes less room on the disk than its size: a sparse
// file. Only tried where the file system says so.
bool IsSparse(const std::filesystem::path& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  struct stat st {};
  return stat(path.c_str(), &st) == 0 &&
         static_cast<std::uintmax_t>(st.st_blocks) * 512 < static_cast<std::uintmax_t>(st.st_size);
#endif
}

unsigned ProcessId() {
#ifdef _WIN32
  return static_cast<unsigned>(_getpid());
#else
  return static_cast<unsigned>(getpid());
#endif
}

class TempDir {
 public:
  TempDir() {
    static int n = 0;
    // Unique per process: several builds may run this test at once.
    path_ = std::filesystem::temp_directory_path() /
            ("fernwick-pdb-test-" + std::to_string(ProcessId()) + "-" + std::to_string(n++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

TEST(PdbFile, RecordDatabaseRoundTripsThroughBytes) {
  const PdbDatabase db = ExerciseRecordDatabase();
  const auto bytes = SerializePdb(db);
  const PdbDatabase back = ParsePdb(bytes, "exercise.pdb");
  EXPECT_EQ(back, db);
  EXPECT_EQ(SerializePdb(back), bytes);
}

TEST(PdbFile, ResourceDatabaseRoundTripsThroughBytes) {
  const PdbDatabase db = ExerciseResourceDatabase();
  const auto bytes = SerializePdb(db);
  const PdbDatabase back = ParsePdb(bytes, "exercise.prc");
  EXPECT_TRUE(back.IsResourceDatabase());
  EXPECT_TRUE(back.records.empty());
  EXPECT_EQ(back, db);
  EXPECT_EQ(SerializePdb(back), bytes);
}

TEST(PdbFile, CanonicalLayoutPutsGapThenBlocksInOrder) {
  PdbDatabase db;
  db.name = "Layout";
  db.type = FourCC("DATA");
  db.creator = FourCC("test");
  db.app_info = std::vector<std::uint8_t>{0xA1, 0xA2, 0xA3};
  db.sort_info = std::vector<std::uint8_t>{0x51};
  db.records.push_back(PdbRecord{0x41, 0x010203, {0xD0, 0xD1}});
  db.records.push_back(PdbRecord{0x02, 7, {0xE0}});
  const auto b = SerializePdb(db);
  ASSERT_EQ(b.size(), 78u + 16 + 2 + 3 + 1 + 2 + 1);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 7), std::string("Layout\0", 7));
  EXPECT_EQ(b[76], 0);
  EXPECT_EQ(b[77], 2);
  EXPECT_EQ(Get32(b, 72), 0u);    // next record list id
  EXPECT_EQ(Get32(b, 52), 96u);   // application info after the gap
  EXPECT_EQ(Get32(b, 56), 99u);   // sort info
  EXPECT_EQ(Get32(b, 78), 100u);  // record 0
  EXPECT_EQ(b[82], 0x41);         // attributes
  EXPECT_EQ((std::vector<std::uint8_t>{b[83], b[84], b[85]}),
            (std::vector<std::uint8_t>{1, 2, 3}));  // 24-bit id
  EXPECT_EQ(Get32(b, 86), 102u);                    // record 1
  EXPECT_EQ(b[94], 0);
  EXPECT_EQ(b[95], 0);  // the gap
  EXPECT_EQ(b[96], 0xA1);
  EXPECT_EQ(b.back(), 0xE0);
}

TEST(PdbFile, EmptyBlocksAtSharedOffsetsReadBackEmpty) {
  PdbDatabase db;
  db.name = "Empties";
  db.app_info = std::vector<std::uint8_t>{};
  db.sort_info = std::vector<std::uint8_t>{};
  db.records.push_back(PdbRecord{0, 1, {}});
  db.records.push_back(PdbRecord{0, 2, {}});
  db.records.push_back(PdbRecord{0, 3, {9, 9}});
  db.records.push_back(PdbRecord{0, 4, {}});
  const auto bytes = SerializePdb(db);
  EXPECT_EQ(ParsePdb(bytes, "empties.pdb"), db);

  PdbDatabase only_app;
  only_app.name = "Only app info";
  only_app.app_info = std::vector<std::uint8_t>{};
  EXPECT_EQ(ParsePdb(SerializePdb(only_app), "x.pdb"), only_app);
}

TEST(PdbFile, SurvivesQuirksOfRealFiles) {
  const PdbDatabase db = ExerciseRecordDatabase();
  EXPECT_EQ(ParsePdb(testing::WithoutGap(db), "nogap.pdb"), db);
  EXPECT_EQ(ParsePdb(testing::WithoutGap(ExerciseResourceDatabase()), "nogap.prc"),
            ExerciseResourceDatabase());
  const PdbDatabase full = testing::ExerciseWithoutEmptyRecords();
  const auto reversed = testing::OffsetsOutOfOrder(full);
  ASSERT_GT(Get32(reversed, 78), Get32(reversed, 78 + 8));  // really out of order
  EXPECT_EQ(ParsePdb(reversed, "reversed.pdb"), full);

  // Bytes between the gap and the first block are not part of any block.
  auto padded = SerializePdb(db);
  const std::size_t list_end = 78 + 8 * db.records.size();
  padded.insert(padded.begin() + static_cast<std::ptrdiff_t>(list_end + 2), 5, 0xEE);
  for (std::size_t pos : {std::size_t{52}, std::size_t{56}}) {
    testing::Put32(padded, pos, Get32(padded, pos) + 5);
  }
  for (std::size_t i = 0; i < db.records.size(); ++i) {
    testing::Put32(padded, 78 + 8 * i, Get32(padded, 78 + 8 * i) + 5);
  }
  EXPECT_EQ(ParsePdb(padded, "padded.pdb"), db);
}

TEST(PdbFile, IndexPointsAtTheBytesParseCopies) {
  for (const auto& bytes :
       {testing::OffsetsOutOfOrder(testing::ExerciseWithoutEmptyRecords()),
        testing::WithoutGap(ExerciseRecordDatabase()), SerializePdb(ExerciseResourceDatabase())}) {
    const PdbDatabase parsed = ParsePdb(bytes, "x.pdb");
    const PdbIndex index = IndexPdb(bytes, "x.pdb");
    auto slice = [&](const PdbExtent& e) {
      return std::vector<std::uint8_t>(bytes.begin() + e.offset,
                                       bytes.begin() + e.offset + e.length);
    };
    PdbDatabase rebuilt = index.db;
    if (index.app_info) rebuilt.app_info = slice(*index.app_info);
    if (index.sort_info) rebuilt.sort_info = slice(*index.sort_info);
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
      EXPECT_TRUE(
          (parsed.IsResourceDatabase() ? index.db.resources[i].data : index.db.records[i].data)
              .empty());
      (parsed.IsResourceDatabase() ? rebuilt.resources[i].data : rebuilt.records[i].data) =
          slice(index.entries[i]);
    }
    EXPECT_EQ(rebuilt, parsed);
  }
  EXPECT_THROW(IndexPdb(DamagedFiles()[4].bytes, "x.pdb"), PdbFormatError);
}

TEST(PdbFile, NameBytesAfterTheNulAreIgnored) {
  auto bytes = SerializePdb(ExerciseRecordDatabase());
  bytes[30] = 'x';
  EXPECT_EQ(ParsePdb(bytes, "junk.pdb").name, "Fernwick exercise");
}

TEST(PdbFile, RefusesDamagedFilesNamingFileAndFault) {
  for (const auto& damaged : DamagedFiles()) {
    SCOPED_TRACE(damaged.name);
    try {
      ParsePdb(damaged.bytes, damaged.name + ".pdb");
      ADD_FAILURE() << "accepted a damaged file";
    } catch (const PdbFormatError& e) {
      EXPECT_EQ(e.Message().rfind(damaged.name + ".pdb: ", 0), 0u) << e.Message();
      EXPECT_NE(e.Message().find(damaged.message), std::string::npos) << e.Message();
    }
  }
}

TEST(PdbFile, EveryTruncationIsRefusedOrReadWithinBounds) {
  // Cutting a file short anywhere must give a clear error or, when only the
  // tail of the last block is lost, a database; never anything else.
  const auto bytes = SerializePdb(ExerciseRecordDatabase());
  int refused = 0;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    try {
      PdbDatabase db = ParsePdb(cut, "cut.pdb");
      EXPECT_EQ(db.records.size(), 20u);
    } catch (const PdbFormatError&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(PdbFile, WriterRefusesDatabasesItCannotLayOut) {
  PdbDatabase db = ExerciseRecordDatabase();
  db.name = std::string(32, 'n');
  EXPECT_THROW(SerializePdb(db), PdbError);
  db.name = std::string(31, 'n');
  EXPECT_NO_THROW(SerializePdb(db));
  db.records[0].unique_id = 0x1000000;
  EXPECT_THROW(SerializePdb(db), PdbError);

  PdbDatabase mixed = ExerciseResourceDatabase();
  mixed.records.push_back(PdbRecord{});
  EXPECT_THROW(SerializePdb(mixed), PdbError);

  PdbDatabase many;
  many.name = "Many";
  many.records.resize(65536);
  EXPECT_THROW(SerializePdb(many), PdbError);
  many.records.resize(65535);
  EXPECT_EQ(ParsePdb(SerializePdb(many), "many.pdb").records.size(), 65535u);
}

TEST(PdbFile, FourCharacterCodes) {
  EXPECT_EQ(FourCC("DATA"), 0x44415441u);
  EXPECT_EQ(FourCCToString(0x6D656D6Fu), "memo");
  EXPECT_EQ(FourCCToString(FourCC("\xff\x01 z")), "\xff\x01 z");
}

TEST(PdbFile, DatesInBothEpochs) {
  // 1 January 2003 00:00, as seconds since 1904 and since 1970.
  EXPECT_EQ(PalmDateToUnix(3124224000u), 1041379200);
  EXPECT_EQ(UnixToPalmDate(1041379200), 3124224000u);
  // A value with the top bit clear would date from before 1972 as a
  // 1904-based date: it is taken as seconds since 1970.
  EXPECT_EQ(PalmDateToUnix(1000000000u), 1000000000);
  EXPECT_EQ(PalmDateToUnix(0x7FFFFFFFu), 0x7FFFFFFF);
  EXPECT_EQ(PalmDateToUnix(0x80000000u), 0x80000000LL - 2082844800LL);
  EXPECT_EQ(PalmDateToUnix(0xFFFFFFFFu), 0xFFFFFFFFLL - 2082844800LL);
  // Out-of-range Unix times clamp to the field.
  EXPECT_EQ(UnixToPalmDate(-2082844800LL - 10), 0u);
  EXPECT_EQ(UnixToPalmDate(5000000000LL), 0xFFFFFFFFu);
  for (std::uint32_t stored : {0x80000000u, 3124224000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(UnixToPalmDate(PalmDateToUnix(stored)), stored);
  }
}

TEST(PdbFile, ReadsFilesAndNamesThemInErrors) {
  TempDir dir;
  const auto path = dir.path() / "quirky.pdb";
  WriteBytes(path, testing::OffsetsOutOfOrder(testing::ExerciseWithoutEmptyRecords()));
  EXPECT_EQ(ReadPdbFile(path), testing::ExerciseWithoutEmptyRecords());
  WriteBytes(path, testing::WithoutGap(ExerciseResourceDatabase()));
  EXPECT_EQ(ReadPdbFile(path), ExerciseResourceDatabase());

  for (const auto& damaged : DamagedFiles()) {
    SCOPED_TRACE(damaged.name);
    WriteBytes(path, damaged.bytes);
    try {
      ReadPdbFile(path);
      ADD_FAILURE() << "accepted a damaged file";
    } catch (const PdbFormatError& e) {
      EXPECT_EQ(e.Message().rfind(path.string() + ": ", 0), 0u) << e.Message();
      EXPECT_NE(e.Message().find(damaged.message), std::string::npos) << e.Message();
    }
  }
  try {
    ReadPdbFile(dir.path() / "missing.pdb");
    ADD_FAILURE();
  } catch (const PdbError& e) {
    EXPECT_NE(e.Message().find("missing.pdb"), std::string::npos);
  }
}

// Small files are read into memory and large ones mapped: either way the
// file reads as its bytes parse, and damage past the header is found.
TEST(PdbFile, SmallAndLargeFilesReadAlike) {
  TempDir dir;
  const auto path = dir.path() / "sized.pdb";
  for (const std::size_t size :
       {std::size_t{65535}, std::size_t{65536}, std::size_t{65537}, std::size_t{300000}}) {
    SCOPED_TRACE(size);
    PdbDatabase db = ExerciseRecordDatabase();
    const std::size_t rest = SerializePdb(db).size();
    ASSERT_LT(rest, size);
    db.records.back().data.resize(db.records.back().data.size() + size - rest, 0x5A);
    const std::vector<std::uint8_t> bytes = SerializePdb(db);
    ASSERT_EQ(bytes.size(), size);
    WriteBytes(path, bytes);
    EXPECT_EQ(ReadPdbFile(path), db);

    // The last record's offset moved past the end of the file.
    std::vector<std::uint8_t> damaged = bytes;
    const std::size_t last = kPdbHeaderSize + (db.records.size() - 1) * kPdbRecordEntrySize;
    damaged[last] = 0x7F;
    WriteBytes(path, damaged);
    try {
      ReadPdbFile(path);
      ADD_FAILURE() << "accepted a damaged file";
    } catch (const PdbFormatError& e) {
      EXPECT_NE(e.Message().find("starts past the end of the file"), std::string::npos)
          << e.Message();
    }
  }
}

TEST(PdbFile, HeaderReaderAgreesWithTheFileReader) {
  TempDir dir;
  const auto path = dir.path() / "header.pdb";
  const PdbDatabase db = ExerciseRecordDatabase();
  WritePdbFileAtomically(path, db);
  const PdbFileHeader header = ReadPdbHeader(path);
  EXPECT_EQ(static_cast<const PdbHeader&>(header), static_cast<const PdbHeader&>(db));
  EXPECT_EQ(header.entry_count, db.records.size());
  EXPECT_EQ(header.file_size, std::filesystem::file_size(path));

  // Whatever the header reader refuses, the file reader refuses in the same
  // words (a name without its NUL among them).
  int refused = 0;
  for (const auto& damaged : DamagedFiles()) {
    SCOPED_TRACE(damaged.name);
    WriteBytes(path, damaged.bytes);
    try {
      ReadPdbHeader(path);
    } catch (const PdbFormatError& e) {
      ++refused;
      EXPECT_NE(e.Message().find(damaged.message), std::string::npos) << e.Message();
    }
  }
  EXPECT_EQ(refused, 6);  // too short (2), entry list (2), chained list, name
}

TEST(PdbFile, FilesTooLargeForThirtyTwoBitOffsetsAreRefused) {
  // A database whose last record would run past 4 GiB: its length used to
  // be cut to 32 bits and the record read short, as if nothing were wrong.
  TempDir dir;
  const auto path = dir.path() / "huge.pdb";
  PdbDatabase db;
  db.name = "Huge";
  db.records.push_back(PdbRecord{0, 1, {'a', 'b', 'c'}});
  WritePdbFileAtomically(path, db);
  const std::uintmax_t huge = (std::uintmax_t{1} << 32) + 16;
#ifdef _WIN32
  // Without a sparse-file flag NTFS (and wine) fill the 4 GiB with zeros,
  // which takes minutes; the length arithmetic checked here is the same code
  // on every build.
  GTEST_SKIP() << "a sparse file of 4 GiB is not made on Windows";
#endif
  std::error_code ec;
  std::filesystem::resize_file(path, huge, ec);
  if (ec || std::filesystem::space(dir.path()).available < (std::uintmax_t{1} << 20) ||
      !IsSparse(path)) {
    GTEST_SKIP() << "the temporary folder cannot hold a sparse file of 4 GiB ("
                 << (ec ? ec.message() : "the file would take real space") << ")";
  }
  for (auto read : {+[](const std::filesystem::path& p) { ReadPdbFile(p); },
                    +[](const std::filesystem::path& p) { ReadPdbHeader(p); }}) {
    try {
      read(path);
      ADD_FAILURE() << "a file of 4 GiB + 16 bytes was read";
    } catch (const PdbFormatError& e) {
      EXPECT_NE(e.Message().find("the file is too large for a database (4294967312 bytes"),
                std::string::npos)
          << e.Message();
    }
  }
}

TEST(PdbFile, AtomicWriteReplacesTheFileAndLeavesNoTemporary) {
  TempDir dir;
  const auto path = dir.path() / "Exercise.pdb";
  WritePdbFileAtomically(path, ExerciseRecordDatabase());
  EXPECT_EQ(ReadBytes(path), SerializePdb(ExerciseRecordDatabase()));
  WritePdbFileAtomically(path, ExerciseResourceDatabase());
  EXPECT_EQ(ReadBytes(path), SerializePdb(ExerciseResourceDatabase()));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Exercise.pdb"});
}

TEST(PdbFile, FailedAtomicWriteKeepsTheOldFile) {
  TempDir dir;
  const auto path = dir.path() / "Keep.pdb";
  WritePdbFileAtomically(path, ExerciseRecordDatabase());
  const auto before = ReadBytes(path);

  PdbDatabase bad = ExerciseRecordDatabase();
  bad.records.back().unique_id = 0x1000000;
  EXPECT_THROW(WritePdbFileAtomically(path, bad), PdbError);
  EXPECT_EQ(ReadBytes(path), before);

  // A failure while the temporary file is being written.
  EXPECT_THROW(WriteFileAtomically(path,
                                   [](AtomicFileWriter& out) {
                                     std::uint8_t b[3] = {1, 2, 3};
                                     out.Put(b, 3);
                                     throw PdbError("producer failed");
                                   }),
               PdbError);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Keep.pdb"});

  try {
    WritePdbFileAtomically(dir.path() / "no such folder" / "x.pdb", ExerciseRecordDatabase());
    ADD_FAILURE();
  } catch (const PdbError& e) {
    EXPECT_NE(e.Message().find("no such folder"), std::string::npos) << e.Message();
  }
}

// Another user who can write to the folder plants links at the names a
// writer might pick; none is written through or removed, and the write
// still lands. A new file is the owner's alone unless asked otherwise; a
// replaced one keeps its permissions; a link at the path itself is replaced.
TEST(PdbFile, AtomicWriteFollowsNoPlantedNameAndKeepsNewFilesPrivate) {
  TempDir dir;
  const auto victim = dir.path() / "victim";
  WriteBytes(victim, {'v'});
  const auto path = dir.path() / "State";
#ifndef _WIN32
  for (int n = 0; n < 1000; ++n) {
    std::filesystem::create_symlink(victim, dir.path() / (".State." + std::to_string(ProcessId()) +
                                                          "-" + std::to_string(n) + ".fwtmp"));
  }
#endif
  WriteFileAtomically(path, std::string_view("new"));
  EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
  EXPECT_EQ(ReadBytes(victim), std::vector<std::uint8_t>{'v'});
#ifndef _WIN32
  EXPECT_EQ(dir.Entries().size(), 1002u);
  using std::filesystem::perms;
  auto mode = [](const std::filesystem::path& p) {
    return std::filesystem::symlink_status(p).permissions() & perms::all;
  };
  EXPECT_EQ(mode(path), perms::owner_read | perms::owner_write);
  const mode_t umask_before = ::umask(022);
  WriteFileAtomically(dir.path() / "Shared", [](AtomicFileWriter&) {}, {.new_file_mode = 0644});
  ::umask(umask_before);
  EXPECT_EQ(mode(dir.path() / "Shared"),
            perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
  std::filesystem::permissions(path, perms::owner_all);
  WriteFileAtomically(path, std::string_view("again"));
  EXPECT_EQ(mode(path), perms::owner_all);

  const auto link = dir.path() / "Link";
  std::filesystem::create_symlink(victim, link);
  WriteFileAtomically(link, std::string_view("x"));
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(victim), std::vector<std::uint8_t>{'v'});
  EXPECT_EQ(mode(link), perms::owner_read | perms::owner_write);
#endif
}

TEST(PdbFile, RecognisesTemporaryFileNames) {
  EXPECT_TRUE(IsTemporaryFileName(".MemoDB.pdb.1234-0.fwtmp"));
  EXPECT_TRUE(IsTemporaryFileName(std::filesystem::path("dir") / ".x.12-3.fwtmp"));
  EXPECT_FALSE(IsTemporaryFileName("MemoDB.pdb"));
  EXPECT_FALSE(IsTemporaryFileName("notes.fwtmp"));
}

// Real files written by another program (Debian's imgvtopgm package): they
// leave out the two-byte gap.
TEST(PdbFile, ReadsRealFilesFromAnotherWriter) {
  const std::filesystem::path folder = "/usr/share/doc/imgvtopgm/examples";
  if (!std::filesystem::is_directory(folder)) {
    GTEST_SKIP() << folder << " is missing: install the Debian package imgvtopgm "
                 << "(scripts/install-deps.sh does)";
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".pdb") continue;
    SCOPED_TRACE(entry.path().string());
    ++files;
    const PdbDatabase db = ReadPdbFile(entry.path());
    EXPECT_EQ(FourCCToString(db.type), "vIMG");
    EXPECT_EQ(FourCCToString(db.creator), "View");
    ASSERT_FALSE(db.records.empty());
    // The image record starts with the image's name, as in the header.
    const auto& first = db.records[0].data;
    EXPECT_EQ(
        std::string(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(db.name.size())),
        db.name);
    const auto bytes = ReadBytes(entry.path());
    EXPECT_EQ(ParsePdb(bytes, entry.path().string()), db);
    EXPECT_EQ(ParsePdb(SerializePdb(db), "rewritten"), db);
  }
  EXPECT_EQ(files, 8);
}

}  // namespace
}  // namespace fernwick::pdb
