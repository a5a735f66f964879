// fernwick-pdbdump: prints a database file as text.
//
//   fernwick-pdbdump [--decode | --canonical] FILE...
//   fernwick-pdbdump --layout LAYOUT [--json] [--strict] FILE...
//                                                       (see LayoutDump.h)
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
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>

#include "LayoutDump.h"
#include "standins/pdb/BuiltinRecords.h"
#include "standins/pdb/DumpText.h"
#include "standins/pdb/PdbFile.h"
#include <fernwick/FernwickVersion.h>

namespace fernwick::pdb {
namespace {

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

// How the database of one built-in application is printed: its application
// info block, and the text that follows the prefix of a record with data
// (decoded before anything of the record is printed).
struct BuiltinPrinter {
  const char* creator;
  void (*print_app_info)(std::span<const std::uint8_t>);
  std::string (*record_text)(std::span<const std::uint8_t>);
};

void PrintMemoAppInfo(std::span<const std::uint8_t> bytes) {
  auto info = DecodeMemoAppInfo(bytes);
  PrintCategories(info.categories);
  std::cout << "memo sort_order=" << unsigned{info.sort_order} << "\n";
}

std::string MemoText(std::span<const std::uint8_t> bytes) {
  std::ostringstream out;
  out << " text=" << QuoteText(DecodeMemoRecord(bytes).text) << "\n";
  return out.str();
}

void PrintToDoAppInfo(std::span<const std::uint8_t> bytes) {
  auto info = DecodeToDoAppInfo(bytes);
  PrintCategories(info.categories);
  std::cout << "todo dirty=" << info.dirty
            << " sort_by_priority=" << unsigned{info.sort_by_priority} << "\n";
}

std::string ToDoText(std::span<const std::uint8_t> bytes) {
  auto t = DecodeToDoRecord(bytes);
  std::ostringstream out;
  out << " due=" << DateText(t.due_date) << " priority=" << unsigned{t.priority}
      << " completed=" << t.completed << " description=" << QuoteText(t.description)
      << " note=" << QuoteText(t.note) << "\n";
  return out.str();
}

void PrintAddressAppInfo(std::span<const std::uint8_t> bytes) {
  auto info = DecodeAddressAppInfo(bytes);
  PrintCategories(info.categories);
  std::cout << "address dirty_labels=" << info.dirty_labels << " country=" << unsigned{info.country}
            << "\n";
  for (std::size_t i = 0; i < info.labels.size(); ++i) {
    std::cout << "label " << i << " " << QuoteText(info.labels[i]) << "\n";
  }
}

std::string AddressText(std::span<const std::uint8_t> bytes) {
  auto a = DecodeAddressRecord(bytes);
  std::ostringstream out;
  out << " labels=";
  for (int i = 0; i < 5; ++i) out << (i ? "," : "") << unsigned{a.phone_labels[i]};
  out << " shown=" << unsigned{a.shown_phone} << "\n";
  for (int i = 0; i < kAddressFieldCount; ++i) {
    if (a.fields[i]) out << "field " << i << " " << QuoteText(*a.fields[i]) << "\n";
  }
  return out.str();
}

void PrintDatebookAppInfo(std::span<const std::uint8_t> bytes) {
  auto info = DecodeDatebookAppInfo(bytes);
  PrintCategories(info.categories);
  std::cout << "datebook start_of_week=" << unsigned{info.start_of_week} << "\n";
}

std::string DatebookText(std::span<const std::uint8_t> bytes) {
  auto d = DecodeDatebookRecord(bytes);
  std::ostringstream out;
  out << " time=";
  if (d.start_hour == 0xFF) {
    out << "untimed";
  } else {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u-%02u:%02u", unsigned{d.start_hour},
                  unsigned{d.start_minute}, unsigned{d.end_hour}, unsigned{d.end_minute});
    out << buf;
  }
  out << " date=" << DateText(d.date) << " alarm=";
  if (d.alarm) {
    out << int{d.alarm->advance} << "," << unsigned{d.alarm->unit};
  } else {
    out << "none";
  }
  out << " repeat=";
  if (d.repeat) {
    out << unsigned{d.repeat->type} << "," << DateText(d.repeat->end_date) << ","
        << unsigned{d.repeat->frequency} << "," << unsigned{d.repeat->repeat_on} << ","
        << unsigned{d.repeat->start_of_week};
  } else {
    out << "none";
  }
  out << " exceptions=";
  if (d.exceptions.empty()) out << "none";
  for (std::size_t i = 0; i < d.exceptions.size(); ++i) {
    out << (i ? ";" : "") << DateText(d.exceptions[i]);
  }
  out << " description=" << (d.description ? QuoteText(*d.description) : "none")
      << " note=" << (d.note ? QuoteText(*d.note) : "none") << "\n";
  return out.str();
}

constexpr BuiltinPrinter kBuiltinPrinters[] = {
    {"memo", PrintMemoAppInfo, MemoText},
    {"todo", PrintToDoAppInfo, ToDoText},
    {"addr", PrintAddressAppInfo, AddressText},
    {"date", PrintDatebookAppInfo, DatebookText},
};

void PrintDecoded(const PdbDatabase& db) {
  const std::string creator = FourCCToString(db.creator);
  const BuiltinPrinter* printer = nullptr;
  for (const auto& p : kBuiltinPrinters) {
    if (!db.IsResourceDatabase() && creator == p.creator) printer = &p;
  }
  if (printer == nullptr) {
    PrintRaw(db);
    return;
  }
  if (db.app_info) {
    printer->print_app_info(*db.app_info);
  } else {
    std::cout << "appinfo none\n";
  }
  for (const auto& r : db.records) {
    // A deleted record without an archived copy has no data to decode.
    const std::string text = r.data.empty() ? " empty\n" : printer->record_text(r.data);
    std::cout << "record attr=" << Hex8(r.attributes) << " id=" << r.unique_id << text;
  }
}

}  // namespace
}  // namespace fernwick::pdb

namespace {

constexpr const char* kUsage = R"(usage: fernwick-pdbdump [--decode | --canonical] FILE...
       fernwick-pdbdump --layout LAYOUT [--json] [--strict] FILE...
       fernwick-pdbdump --help | -h | --version

Prints each database file FILE (.pdb/.prc) in a canonical text form: its
header and raw records, or with --decode the records of the built-in
applications decoded; --canonical says whether the file is exactly what the
writer would write.

--layout decodes the records and info blocks with a field layout file
(layouts/). A record or block the layout does not fit exactly is followed by
"record N: K leftover bytes" or "record N: fields past the end: A, B", and
the file is named on standard error. --json prints one JSON document per
line, one line per FILE (docs/programs.md). --strict: exit status 1 when a
record or block does not fit.

Exit status: 0 every file printed (or --help, --version); 1 a file could not
be read or is not a database (a folder, a corrupt file), or with --strict a
layout did not fit; 2 the command line is wrong (no arguments, an unknown
option) or the layout file is.
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
  for (int i = 1; i < argc; ++i) {
    // The layout option reads its own arguments.
    if (std::string(argv[i]) == "--layout") return fernwick::RunLayoutDump(argc, argv);
  }
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
