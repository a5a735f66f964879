// fernwick-pdbdump: prints a database file as text.
//
//   fernwick-pdbdump [--decode | --canonical] FILE...
//   fernwick-pdbdump --layout LAYOUT [--json] FILE...   (see PdbDumpHook.h)
//
// Without --decode: the header, the info blocks and every record or resource
// with its data in hex. With --decode, the records and application info of
// the built-in applications (creators memo, addr, todo, date) are printed
// field by field. The output is a canonical form: the interoperability check
// prints the same form from an independent reader and compares the two.
// With --canonical, prints "canonical FILE" when writing the database back
// gives the file's bytes exactly, and "not canonical FILE" otherwise.
// Strings are printed in double quotes with bytes outside 0x20-0x7E, the
// backslash and the quote written as \xNN. Exit status 1 when a file cannot
// be read.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "FernwickVersion.h"
#include "hotsync/pdb/BuiltinRecords.h"
#include "hotsync/pdb/DumpText.h"
#include "hotsync/pdb/PdbDumpHook.h"
#include "hotsync/pdb/PdbFile.h"

namespace fernwick::pdb {
namespace {

std::string Num(std::uint64_t v) { return std::to_string(v); }

std::string Hex8(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02x", v & 0xFF);
  return buf;
}

std::string DateText(std::uint16_t packed) {
  if (packed == kNoDate) return "none";
  Date d = UnpackDate(packed);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

void PrintHeader(const PdbDatabase& db) {
  char attrs[8];
  std::snprintf(attrs, sizeof attrs, "0x%04x", db.attributes);
  std::cout << "name " << QuoteText(db.name) << "\n"
            << "attributes " << attrs << "\n"
            << "version " << db.version << "\n"
            << "dates " << db.creation_date << " " << db.modification_date << " " << db.backup_date
            << "\n"
            << "modnum " << db.modification_number << "\n"
            << "type " << QuoteText(FourCCToString(db.type)) << " creator "
            << QuoteText(FourCCToString(db.creator)) << "\n"
            << "seed " << db.unique_id_seed << "\n";
}

void PrintRaw(const PdbDatabase& db) {
  auto block = [](const std::optional<std::vector<std::uint8_t>>& b) {
    return b ? HexText(*b) : std::string("none");
  };
  std::cout << "appinfo " << block(db.app_info) << "\n"
            << "sortinfo " << block(db.sort_info) << "\n";
  if (db.IsResourceDatabase()) {
    std::cout << "resources " << db.resources.size() << "\n";
    for (const auto& r : db.resources) {
      std::cout << "resource type=" << QuoteText(FourCCToString(r.type)) << " id=" << r.id
                << " data=" << HexText(r.data) << "\n";
    }
  } else {
    std::cout << "records " << db.records.size() << "\n";
    for (const auto& r : db.records) {
      std::cout << "record attr=" << Hex8(r.attributes) << " id=" << r.unique_id
                << " data=" << HexText(r.data) << "\n";
    }
  }
}

void PrintCategories(const CategoryInfo& c) {
  for (int i = 0; i < 16; ++i) {
    std::cout << "category " << i << " id=" << unsigned{c.ids[i]}
              << " renamed=" << ((c.renamed >> i) & 1) << " " << QuoteText(c.names[i]) << "\n";
  }
  std::cout << "last_unique_id " << unsigned{c.last_unique_id} << "\n";
}

std::string RecordPrefix(const PdbRecord& r) {
  return "record attr=" + Hex8(r.attributes) + " id=" + Num(r.unique_id);
}

void PrintDecoded(const PdbDatabase& db) {
  const std::string creator = FourCCToString(db.creator);
  const bool builtin = !db.IsResourceDatabase() && (creator == "memo" || creator == "todo" ||
                                                    creator == "addr" || creator == "date");
  if (!builtin) {
    PrintRaw(db);
    return;
  }
  if (!db.app_info) std::cout << "appinfo none\n";
  if (creator == "memo") {
    if (db.app_info) {
      auto info = DecodeMemoAppInfo(*db.app_info);
      PrintCategories(info.categories);
      std::cout << "memo sort_order=" << unsigned{info.sort_order} << "\n";
    }
    for (const auto& r : db.records) {
      if (r.data.empty()) {
        // A deleted record without an archived copy has no data to decode.
        std::cout << RecordPrefix(r) << " empty\n";
        continue;
      }
      std::cout << RecordPrefix(r) << " text=" << QuoteText(DecodeMemoRecord(r.data).text) << "\n";
    }
  } else if (creator == "todo") {
    if (db.app_info) {
      auto info = DecodeToDoAppInfo(*db.app_info);
      PrintCategories(info.categories);
      std::cout << "todo dirty=" << info.dirty
                << " sort_by_priority=" << unsigned{info.sort_by_priority} << "\n";
    }
    for (const auto& r : db.records) {
      if (r.data.empty()) {
        // A deleted record without an archived copy has no data to decode.
        std::cout << RecordPrefix(r) << " empty\n";
        continue;
      }
      auto t = DecodeToDoRecord(r.data);
      std::cout << RecordPrefix(r) << " due=" << DateText(t.due_date)
                << " priority=" << unsigned{t.priority} << " completed=" << t.completed
                << " description=" << QuoteText(t.description) << " note=" << QuoteText(t.note)
                << "\n";
    }
  } else if (creator == "addr") {
    if (db.app_info) {
      auto info = DecodeAddressAppInfo(*db.app_info);
      PrintCategories(info.categories);
      std::cout << "address dirty_labels=" << info.dirty_labels
                << " country=" << unsigned{info.country} << "\n";
      for (std::size_t i = 0; i < info.labels.size(); ++i) {
        std::cout << "label " << i << " " << QuoteText(info.labels[i]) << "\n";
      }
    }
    for (const auto& r : db.records) {
      if (r.data.empty()) {
        // A deleted record without an archived copy has no data to decode.
        std::cout << RecordPrefix(r) << " empty\n";
        continue;
      }
      auto a = DecodeAddressRecord(r.data);
      std::cout << RecordPrefix(r) << " labels=";
      for (int i = 0; i < 5; ++i) std::cout << (i ? "," : "") << unsigned{a.phone_labels[i]};
      std::cout << " shown=" << unsigned{a.shown_phone} << "\n";
      for (int i = 0; i < kAddressFieldCount; ++i) {
        if (a.fields[i]) std::cout << "field " << i << " " << QuoteText(*a.fields[i]) << "\n";
      }
    }
  } else if (creator == "date") {
    if (db.app_info) {
      auto info = DecodeDatebookAppInfo(*db.app_info);
      PrintCategories(info.categories);
      std::cout << "datebook start_of_week=" << unsigned{info.start_of_week} << "\n";
    }
    for (const auto& r : db.records) {
      if (r.data.empty()) {
        // A deleted record without an archived copy has no data to decode.
        std::cout << RecordPrefix(r) << " empty\n";
        continue;
      }
      auto d = DecodeDatebookRecord(r.data);
      std::cout << RecordPrefix(r) << " time=";
      if (d.start_hour == 0xFF) {
        std::cout << "untimed";
      } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02u:%02u-%02u:%02u", unsigned{d.start_hour},
                      unsigned{d.start_minute}, unsigned{d.end_hour}, unsigned{d.end_minute});
        std::cout << buf;
      }
      std::cout << " date=" << DateText(d.date) << " alarm=";
      if (d.alarm) {
        std::cout << int{d.alarm->advance} << "," << unsigned{d.alarm->unit};
      } else {
        std::cout << "none";
      }
      std::cout << " repeat=";
      if (d.repeat) {
        std::cout << unsigned{d.repeat->type} << "," << DateText(d.repeat->end_date) << ","
                  << unsigned{d.repeat->frequency} << "," << unsigned{d.repeat->repeat_on} << ","
                  << unsigned{d.repeat->start_of_week};
      } else {
        std::cout << "none";
      }
      std::cout << " exceptions=";
      if (d.exceptions.empty()) std::cout << "none";
      for (std::size_t i = 0; i < d.exceptions.size(); ++i) {
        std::cout << (i ? ";" : "") << DateText(d.exceptions[i]);
      }
      std::cout << " description=" << (d.description ? QuoteText(*d.description) : "none")
                << " note=" << (d.note ? QuoteText(*d.note) : "none") << "\n";
    }
  } else {
    PrintRaw(db);
  }
}

}  // namespace
}  // namespace fernwick::pdb

namespace {

constexpr const char* kUsage = R"(usage: fernwick-pdbdump [--decode | --canonical] FILE...
       fernwick-pdbdump --layout LAYOUT [--json] FILE
       fernwick-pdbdump --help | -h | --version

Prints each database file FILE (.pdb/.prc) in a canonical text form: its
header and raw records, or with --decode the records of the built-in
applications decoded; --canonical says whether the file is exactly what the
writer would write; --layout decodes with a field layout file (layouts/).

Exit status: 0 every file printed (or --help, --version); 1 a file could not
be read or is not a database (a folder, a corrupt file); 2 the command line is
wrong (no arguments, an unknown option).
)";

// Answers --help, --version, no arguments and unknown options; -1 to go on.
int CheckCommandLine(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << kUsage;
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "fernwick-pdbdump " << FERNWICK_VERSION << "\n";
      return 0;
    }
    if (arg == "--layout") return -1;  // the layout option reads its own arguments
  }
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() > 1 && arg[0] == '-' && arg != "--decode" && arg != "--canonical") {
      std::cerr << "fernwick-pdbdump: unknown option " << arg << "\n" << kUsage;
      return 2;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace fernwick::pdb;
  if (const int status = CheckCommandLine(argc, argv); status >= 0) return status;
  if (const int status = RunLayoutOption(argc, argv); status >= 0) return status;
  bool decode = false;
  bool canonical = false;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--decode") {
      decode = true;
      continue;
    }
    if (arg == "--canonical") {
      canonical = true;
      continue;
    }
    try {
      std::error_code ec;
      if (std::filesystem::is_directory(arg, ec)) {
        throw std::runtime_error(arg + " is a folder, not a database file");
      }
      PdbDatabase db = ReadPdbFile(arg);
      if (canonical) {
        std::ifstream in(arg, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        std::cout << (SerializePdb(db) == bytes ? "canonical " : "not canonical ") << arg << "\n";
        continue;
      }
      PrintHeader(db);
      if (decode) {
        PrintDecoded(db);
      } else {
        PrintRaw(db);
      }
    } catch (const std::exception& e) {
      std::cout.flush();
      std::cerr << "fernwick-pdbdump: " << e.what() << "\n";
      status = 1;
    }
  }
  return status;
}
