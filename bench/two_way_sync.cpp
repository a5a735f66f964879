// Programs timed by bench/two-way-sync.sh: a two-way fast synchronisation of
// a To Do-like database through the mirror-sync engine, against a one-way
// export of the same database and the file-system floor. Library and
// emulator in one process, bound through a HotSync installation as a
// conduit binds them.
//
//   bench_two_way prepare WORK N   WORK/hh/ToDoDB.pdb of N records (due date,
//       priority, description, note, four categories), synchronised once
//       (slow) into WORK/desk; then every tenth record changed on the
//       handheld (dirty) and another tenth changed in WORK/desk/ToDo.csv
//   bench_two_way twoway WORK      the fast synchronisation (engine, adapter
//       shaped like the To Do CSV: Id,Description,Note,Priority,Due,
//       Completed,Category,Private)
//   bench_two_way oneway WORK      a one-way export: every record walked and
//       rendered to the same CSV, written durably, then the deleted records
//       purged and the flags reset (what a one-way CSV export does)
//   bench_two_way floor WORK       the bytes of WORK/desk/ToDo.csv written
//       durably to WORK/floor.csv (TDesktopWriter: temporary file, rename,
//       Commit)
//   bench_two_way open WORK        the database opened and closed only
//
// Each timed mode prints "seconds S rss_before KB peak_rss KB": the time of
// the step alone (binding and start-up excluded), the resident set before it
// and the process's peak.
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "standins/pdb/PdbFile.h"
#include <fernwick/abi/Emulator.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/framework/DesktopWriter.h>
#include <fernwick/link/DorvConduitSync.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace fernwick {
namespace {

namespace fs = std::filesystem;

const char* const kHeader = "Id,Description,Note,Priority,Due,Completed,Category,Private\r\n";

// The emulator bound as a conduit binds it, attached to `handheld`.
void Bind(const fs::path& work) {
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  const fs::path registry = work / "registry.reg";
  std::ofstream(registry) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot "
                             "Desktop\\Core]\n\"HotSyncPath\"=\""
                          << (bin / "HotSync").string() << "\"\n";
  setenv("FERNWICK_REGISTRY", registry.string().c_str(), 1);
  LoadSyncDll();
  if (!SyncDllLoaded()) throw std::runtime_error("the emulator was not bound");
  void* lib = dlopen((bin / "libsync20.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) throw std::runtime_error("libsync20.so is not loaded");
  auto attach = reinterpret_cast<TEmuAttachHandheld>(dlsym(lib, "EmuAttachHandheld"));
  if (attach == nullptr || attach((work / "hh").string().c_str()) != 0)
    throw std::runtime_error("the handheld was not attached");
}

long RssKb() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The To Do database component: record and application info fields.
void Describe(TDorvConduitDb& db) {
  db.SetFileName("ToDoDB");
  db.AddField("DueDate", pftDate, 0);
  db.AddField("Priority", pftByte, 0);
  db.AddField("Description", pftString, 0);
  db.AddField("Note", pftString, 0);
  AddCategoryFields(db.AppInfoFields());
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// The fields of one CSV line (quoted or not); the line without its CR LF.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

// Due: "YYYY-MM-DD" or empty, from and to a packed date (-1: none).
std::string DueText(std::int32_t packed) {
  if (packed == -1) return "";
  packed &= 0xFFFF;
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", ((packed >> 9) & 0x7F) + 1904,
                (packed >> 5) & 0x0F, packed & 0x1F);
  return text;
}

std::int32_t PackedDue(const std::string& text) {
  if (text.empty()) return -1;
  const int year = std::stoi(text.substr(0, 4));
  const int month = std::stoi(text.substr(5, 2));
  const int day = std::stoi(text.substr(8, 2));
  return static_cast<std::int16_t>(((year - 1904) << 9) | (month << 5) | day);
}

// One CSV row as the desktop item's value: Description, Note, Priority, Due,
// Completed (the category and Private go through the item's members).
using Row = std::vector<std::string>;

std::string Line(std::uint32_t id, const Row& row, const std::string& category, bool secret) {
  return std::to_string(id) + "," + CsvField(row[0]) + "," + CsvField(row[1]) + "," + row[2] + "," +
         row[3] + "," + row[4] + "," + CsvField(category) + "," + (secret ? "1" : "0") + "\r\n";
}

class TToDoAdapter : public TDorvSyncAdapter {
 public:
  explicit TToDoAdapter(fs::path folder) : folder_(std::move(folder)) {}

  std::vector<TDorvSyncItem> ReadDesktop() override {
    std::vector<TDorvSyncItem> items;
    std::ifstream in(folder_ / "ToDo.csv", std::ios::binary);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      std::vector<std::string> f = CsvFields(line);
      if (f.size() < 8) continue;
      TDorvSyncItem item;
      item.id = f[0].empty() ? 0 : static_cast<std::uint32_t>(std::stoul(f[0]));
      item.category = f[6];
      item.secret = f[7] == "1";
      item.value = Row{f[1], f[2], f[3], f[4], f[5]};
      items.push_back(std::move(item));
    }
    return items;
  }
  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    const Row& row = std::any_cast<const Row&>(item.value);
    fields.FieldByName("Description")->SetAsString(Utf8ToPalm(row[0]));
    fields.FieldByName("Note")->SetAsString(Utf8ToPalm(row[1]));
    fields.FieldByName("Priority")->SetAsInteger(std::stoi(row[2]) | (row[4] == "1" ? 0x80 : 0));
    fields.FieldByName("DueDate")->SetAsInteger(PackedDue(row[3]));
  }
  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem*) override {
    const std::int32_t priority = fields.FieldByName("Priority")->GetAsInteger();
    TDorvSyncItem item;
    item.value = Row{
        PalmToUtf8(fields.FieldByName("Description")->GetAsString()),
        PalmToUtf8(fields.FieldByName("Note")->GetAsString()), std::to_string(priority & 0x7F),
        DueText(fields.FieldByName("DueDate")->GetAsInteger()), (priority & 0x80) != 0 ? "1" : "0"};
    return item;
  }
  // The row's fields hashed (the category and Private are the item's own).
  std::uint64_t Fingerprint(const TDorvSyncItem& item) override {
    std::uint64_t print = 14695981039346656037u;
    for (const std::string& field : std::any_cast<const Row&>(item.value))
      print = (print ^ std::hash<std::string>()(field)) * 1099511628211u;
    return print != 0 ? print : 1;
  }
  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    std::string text = kHeader;
    for (const TDorvSyncItem& i : live)
      text += Line(i.id, std::any_cast<const Row&>(i.value), i.category.value_or(""),
                   i.secret.value_or(false));
    writer.Write(folder_ / "ToDo.csv", text);
    if (archived.empty()) return;
    std::string archive = kHeader;
    for (const TDorvSyncItem& i : archived)
      archive += Line(i.id, std::any_cast<const Row&>(i.value), i.category.value_or(""),
                      i.secret.value_or(false));
    writer.Write(folder_ / "ToDo-archive.csv", archive);
  }

 private:
  fs::path folder_;
};

// A To Do record's bytes: packed due date, priority, description, note.
std::vector<std::uint8_t> RecordBytes(std::int32_t due, int priority, const std::string& what,
                                      const std::string& note) {
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>((due >> 8) & 0xFF),
                                     static_cast<std::uint8_t>(due & 0xFF),
                                     static_cast<std::uint8_t>(priority)};
  bytes.insert(bytes.end(), what.begin(), what.end());
  bytes.push_back(0);
  bytes.insert(bytes.end(), note.begin(), note.end());
  bytes.push_back(0);
  return bytes;
}

std::vector<std::uint8_t> CategoryBlock() {
  TDorvConduitDb db(nullptr);
  Describe(db);
  TDorvCategories block;
  const char* names[] = {"Unfiled", "Business", "Personal", "Errands"};
  for (int i = 0; i < 4; ++i) {
    block.names[i] = names[i];
    block.ids[i] = static_cast<std::uint8_t>(i);
  }
  block.last_unique_id = 3;
  block.Write(db.AppInfoFields());
  std::vector<std::uint8_t> bytes(400, 0);
  std::uint32_t used = 0;
  db.SetBufferFromFieldValues(bytes.data(), static_cast<std::int32_t>(bytes.size()),
                              db.AppInfoFields(), used, false);
  bytes.resize(used);
  return bytes;
}

void Prepare(const fs::path& work, int count) {
  fs::create_directories(work / "hh");
  fs::create_directories(work / "desk");
  pdb::PdbDatabase db;
  db.name = "ToDoDB";
  db.type = pdb::FourCC("DATA");
  db.creator = pdb::FourCC("todo");
  db.app_info = CategoryBlock();
  for (int i = 0; i < count; ++i) {
    const std::int32_t due =
        i % 3 == 0 ? 0xFFFF : (((90 + i % 20) << 9) | ((1 + i % 12) << 5) | (1 + i % 28));
    pdb::PdbRecord r;
    r.unique_id = static_cast<std::uint32_t>(i + 1);
    r.attributes = static_cast<std::uint8_t>(i % 4);
    r.data = RecordBytes(due, 1 + i % 5 + (i % 7 == 0 ? 0x80 : 0),
                         "Task " + std::to_string(i) + ": call the office about the order",
                         i % 2 == 0 ? "" : "bring the papers");
    db.records.push_back(std::move(r));
  }
  db.unique_id_seed = static_cast<std::uint32_t>(count + 1);
  pdb::WritePdbFileAtomically(work / "hh" / "ToDoDB.pdb", db);

  Bind(work);
  {
    TDorvConduitDb todos(nullptr);
    Describe(todos);
    TToDoAdapter adapter(work / "desk");
    TDorvMirrorSync(todos, adapter, work / "desk", "ToDoDB").Run(stSlow, [](const std::string&) {});
  }
  // A tenth changed on the handheld, another tenth on the desktop.
  db = pdb::ReadPdbFile(work / "hh" / "ToDoDB.pdb");
  for (std::size_t i = 0; i < db.records.size(); i += 10) {
    pdb::PdbRecord& r = db.records[i];
    r.data = RecordBytes(0xFFFF, 2, "Task " + std::to_string(i) + ": changed on the handheld", "");
    r.attributes = static_cast<std::uint8_t>(r.attributes | 0x40);
  }
  pdb::WritePdbFileAtomically(work / "hh" / "ToDoDB.pdb", db);
  std::ifstream in(work / "desk" / "ToDo.csv", std::ios::binary);
  std::string line, text;
  std::getline(in, line);
  text = line + "\n";
  while (std::getline(in, line)) {
    // Not the handheld's tenth (ids 1, 11, 21, ...): no conflicts.
    if (std::vector<std::string> f = CsvFields(line); std::stoul(f[0]) % 10 == 6) {
      line = f[0] + ",Changed on the desktop " + f[0] + "," + f[2] + "," + f[3] + "," + f[4] + "," +
             f[5] + "," + f[6] + "," + f[7] + "\r";
    }
    text += line + "\n";
  }
  WriteFileAtomically(work / "desk" / "ToDo.csv", text);
}

// What a one-way CSV export does: every record walked and rendered, both
// files written durably, then the deleted records purged and the flags reset.
void OneWay(const fs::path& work) {
  TDorvConduitDb todos(nullptr);
  Describe(todos);
  todos.SetOpenMode(eDbRead | eDbWrite | eDbExclusive);
  todos.Open();
  todos.ReadAppInfo();
  const std::array<std::string, 16> names = CategoryNames(todos.AppInfoFields());
  std::string live = kHeader, archived = kHeader;
  for (todos.First(); !todos.Eof(); todos.Next()) {
    const std::uint8_t attributes = todos.GetAttributes();
    const bool deleted = (attributes & eRecAttrDeleted) != 0;
    if (deleted && (attributes & eRecAttrArchived) == 0) continue;
    const std::int32_t priority = todos.FieldByName("Priority")->GetAsInteger();
    const Row row = {
        PalmToUtf8(todos.FieldByName("Description")->GetAsString()),
        PalmToUtf8(todos.FieldByName("Note")->GetAsString()), std::to_string(priority & 0x7F),
        DueText(todos.FieldByName("DueDate")->GetAsInteger()), (priority & 0x80) != 0 ? "1" : "0"};
    (deleted ? archived : live) +=
        Line(todos.GetRecordId(), row, deleted ? "" : names[todos.CategoryId() & 0x0F],
             (attributes & eRecAttrSecret) != 0);
  }
  TDesktopWriter writer;
  writer.Write(work / "desk" / "ToDo.csv", live);
  writer.Write(work / "desk" / "ToDo-archive.csv", archived);
  writer.Commit();
  todos.PurgeDeletedRecords();
  todos.ResetSyncFlags();
  todos.Close();
}

int Main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_two_way prepare WORK N | twoway|oneway|floor|open WORK\n");
    return 2;
  }
  const std::string mode = argv[1];
  const fs::path work = argv[2];
  if (mode == "prepare") {
    Prepare(work, argc > 3 ? std::atoi(argv[3]) : 65535);
    return 0;
  }
  std::string floor_text;
  if (mode == "floor") {
    std::ifstream in(work / "desk" / "ToDo.csv", std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    floor_text = all.str();
  } else {
    Bind(work);
  }
  const long before = RssKb();
  const auto start = std::chrono::steady_clock::now();
  if (mode == "twoway") {
    TDorvConduitDb todos(nullptr);
    Describe(todos);
    TToDoAdapter adapter(work / "desk");
    TDorvMirrorSync(todos, adapter, work / "desk", "ToDoDB").Run(stFast, [](const std::string&) {});
  } else if (mode == "oneway") {
    OneWay(work);
  } else if (mode == "floor") {
    TDesktopWriter writer;
    writer.Write(work / "floor.csv", floor_text);
    writer.Commit();
  } else if (mode == "open") {
    TDorvConduitDb todos(nullptr);
    Describe(todos);
    todos.Open();
    todos.Close();
  } else {
    std::fprintf(stderr, "bench_two_way: unknown mode %s\n", mode.c_str());
    return 2;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds %.6f rss_before %ld peak_rss %ld\n", seconds, before, PeakRssKb());
  return 0;
}

}  // namespace
}  // namespace fernwick

int main(int argc, char** argv) {
  try {
    return fernwick::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_two_way: %s\n", e.what());
    return 1;
  }
}
