// The --layout option of fernwick-pdbdump: decodes the records, the
// application info block and the sort info block of database files with a
// field layout file (fernwick/db/DorvLayoutFile.h), through the database component's
// own codec, so that a conduit author sees what a conduit using that layout
// would read, and where the layout does not fit the bytes.
//
//   fernwick-pdbdump --layout LAYOUT [--json] [--strict] FILE...
//
// Text output, per file: its name, then "appinfo" and "sortinfo" lines (when
// the layout describes the block) and one "record" line per record, each
// field as NAME=VALUE: numbers in decimal as the codec decodes them, dates
// as YYYY-MM-DD, times as HH:MM (both "none" for 0xFFFF and 0xNNNN for bits
// that are no date or time), strings quoted as by --decode, blobs in hex,
// arrays as [a,b], an element the layout's clauses left out as "-". A
// deleted record without data prints "empty". A record or block the layout
// does not fit exactly is followed by a line "record N: K leftover bytes" or
// "record N: fields past the end: A, B" ("appinfo: ...", "sortinfo: ...").
//
// --json prints one line per file, each a JSON document (JSON Lines), laid
// out in docs/programs.md: the same values, strings converted from the
// handheld's character set to UTF-8, dates and times as the same text.
//
// A file that does not fit is also named on standard error. Exit status 1
// when a file cannot be read or decoded, or with --strict when a record or
// block does not fit; 2 for a usage error or a layout file that cannot be
// read (its message names the line and the fault).
#include "LayoutDump.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <fernwick/db/PalmText.h>
#include "standins/pdb/DumpText.h"
#include "standins/pdb/PdbFile.h"
#include <fernwick/db/DorvLayoutFile.h>

namespace fernwick {
namespace {

// `text` (UTF-8) as a JSON string.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// A packed date as YYYY-MM-DD, "none" for 0xFFFF, 0xNNNN when the month or
// day cannot be.
std::string DateText(std::uint16_t packed) {
  if (packed == 0xFFFF) return "none";
  int year = 0, month = 0, day = 0;
  char buf[16];
  if (DecodePalmDate(packed, year, month, day)) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  } else {
    std::snprintf(buf, sizeof buf, "0x%04x", packed);
  }
  return buf;
}

// A packed time (hour byte, minute byte) as HH:MM, "none" for 0xFFFF, 0xNNNN
// when it is no time of day.
std::string TimeText(std::uint16_t packed) {
  if (packed == 0xFFFF) return "none";
  char buf[16];
  if ((packed >> 8) > 23 || (packed & 0xFF) > 59) {
    std::snprintf(buf, sizeof buf, "0x%04x", packed);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d", packed >> 8, packed & 0xFF);
  }
  return buf;
}

std::string Element(const TDorvPalmField& field, const Variant& value, bool json) {
  char buf[32];
  switch (field.DataType()) {
    case pftString:
      return json ? JsonString(PalmToUtf8(value.AsString()))
                  : pdb::QuoteText(value.AsString());
    case pftBlob: {
      const std::uint8_t* bytes = DorvBlobBytes(value);
      if (bytes == nullptr) return json ? "null" : "-";
      const std::string hex = pdb::HexText(
          std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(field.Size())));
      return json ? "\"" + hex + "\"" : hex;
    }
    case pftSingle:
    case pftDouble: {
      const double real = value.AsDouble();
      if (json && !std::isfinite(real)) return "null";
      std::snprintf(buf, sizeof buf, "%.9g", real);
      return buf;
    }
    case pftDate:
    case pftTime: {
      const auto packed = static_cast<std::uint16_t>(value.AsInteger());
      const std::string text = field.DataType() == pftDate ? DateText(packed) : TimeText(packed);
      return json ? JsonString(text) : text;
    }
    default:
      return std::to_string(value.AsInteger());
  }
}

// The decoded field list as " NAME=VALUE ..." or a JSON object.
std::string Fields(TDorvPalmFields& list, const std::vector<std::vector<bool>>& present,
                   bool json) {
  std::string out = json ? "{" : "";
  for (int f = 0; f < list.Count(); ++f) {
    const TDorvPalmField& field = *list.Items(f);
    const auto value = [&](std::int32_t i) {
      if (!present[f][i]) return std::string(json ? "null" : "-");
      return Element(field, field.ArraySize() == 1 ? field.Value() : field.GetArrayValue(i), json);
    };
    std::string text;
    if (field.ArraySize() == 1) {
      text = value(0);
    } else {
      text = "[";
      for (std::int32_t i = 0; i < field.ArraySize(); ++i) {
        if (i > 0) text += ',';
        text += value(i);
      }
      text += ']';
    }
    if (json) {
      if (f > 0) out += ',';
      out += JsonString(field.FieldName());
      out += ':';
    } else {
      out += ' ';
      out += field.FieldName();
      out += '=';
    }
    out += text;
  }
  return json ? out + "}" : out;
}

// How a record or block fitted the layout: the text line that follows it
// (empty when it fits), or the JSON members "leftover" and "past_end".
std::string Fit(const std::string& what, const TDorvLayout::Decoding& decoding, bool json) {
  std::string names;
  for (const std::string& name : decoding.past_end) {
    if (!names.empty()) names += json ? "," : ", ";
    names += json ? JsonString(name) : name;
  }
  if (json)
    return ",\"leftover\":" + std::to_string(decoding.leftover) + ",\"past_end\":[" + names + "]";
  if (decoding.leftover != 0) {
    return what + ": " + std::to_string(decoding.leftover) +
           (decoding.leftover == 1 ? " leftover byte\n" : " leftover bytes\n");
  }
  return names.empty() ? "" : what + ": fields past the end: " + names + "\n";
}

// Prints one file; returns what did not fit ("the appinfo block, 3 of 20
// records"), empty when everything did.
std::string DumpFile(const TDorvLayout& layout, const std::string& file, bool json) {
  const pdb::PdbDatabase db = pdb::ReadPdbFile(file);
  if (db.IsResourceDatabase())
    throw EDorvLayoutError(file + ": a resource database has no records to decode");
  TDorvConduitDb component(nullptr);
  layout.ApplyTo(component);
  std::vector<std::string> misfits;

  const auto block = [&](TDorvLayoutBlock which, const std::string& name,
                         const std::optional<std::vector<std::uint8_t>>& bytes) {
    if (layout.Fields(which).empty()) return std::string();
    TDorvPalmFields& list =
        which == lbAppInfo ? component.AppInfoFields() : component.SortInfoFields();
    if (!bytes) return json ? ",\"" + name + "\":null" : name + " none\n";
    const TDorvLayout::Decoding decoding = layout.Decode(component, which, *bytes);
    if (!decoding.Fits()) misfits.push_back("the " + name + " block");
    if (json) {
      return ",\"" + name + "\":{\"fields\":" + Fields(list, decoding.present, true) +
             Fit(name, decoding, true) + "}";
    }
    return name + Fields(list, decoding.present, false) + "\n" + Fit(name, decoding, false);
  };

  std::string out = json ? "{\"file\":" + JsonString(file) +
                               ",\"name\":" + JsonString(PalmToUtf8(db.name))
                         : "name " + pdb::QuoteText(db.name) + "\n";
  out += block(lbAppInfo, "appinfo", db.app_info);
  out += block(lbSortInfo, "sortinfo", db.sort_info);
  out += json ? ",\"records\":[" : "records " + std::to_string(db.records.size()) + "\n";
  std::size_t misfit_records = 0;
  for (std::size_t i = 0; i < db.records.size(); ++i) {
    const pdb::PdbRecord& r = db.records[i];
    std::string fields, fit;
    if (r.data.empty() && (r.attributes & 0x80) != 0) {
      fields = json ? "null" : " empty";
      fit = json ? Fit("", {}, true) : "";
    } else {
      const TDorvLayout::Decoding decoding = layout.Decode(component, lbRecord, r.data);
      if (!decoding.Fits()) ++misfit_records;
      fields = Fields(component.Fields(), decoding.present, json);
      fit = Fit("record " + std::to_string(i), decoding, json);
    }
    if (json) {
      out += std::string(i ? "," : "") + "{\"index\":" + std::to_string(i) +
             ",\"id\":" + std::to_string(r.unique_id) +
             ",\"attributes\":" + std::to_string(r.attributes) + ",\"fields\":" + fields + fit +
             "}";
    } else {
      char attributes[8];
      std::snprintf(attributes, sizeof attributes, "0x%02x", r.attributes);
      out += "record " + std::to_string(i) + " attr=" + attributes +
             " id=" + std::to_string(r.unique_id) + fields + "\n" + fit;
    }
  }
  if (json) out += "]}\n";
  std::cout << out;
  if (misfit_records != 0) {
    misfits.push_back(std::to_string(misfit_records) + " of " + std::to_string(db.records.size()) +
                      " records");
  }
  std::string summary;
  for (const std::string& misfit : misfits) summary += (summary.empty() ? "" : ", ") + misfit;
  return summary;
}

}  // namespace

int RunLayoutDump(int argc, char** argv) {
  std::string layout_file;
  bool json = false;
  bool strict = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--layout") {
      if (i + 1 >= argc) {
        std::cerr << "fernwick-pdbdump: --layout needs a layout file\n";
        return 2;
      }
      layout_file = argv[++i];
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--strict") {
      strict = true;
    } else if (arg.rfind("--", 0) == 0) {
      std::cerr << "fernwick-pdbdump: " << arg << " does not go with --layout\n";
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::cerr << "fernwick-pdbdump: --layout needs a database file to decode\n";
    return 2;
  }
  TDorvLayout layout;
  try {
    layout = TDorvLayout::ReadFile(layout_file);
  } catch (const std::exception& e) {
    std::cerr << "fernwick-pdbdump: " << e.what() << "\n";
    return 2;
  }
  int status = 0;
  for (const std::string& file : files) {
    try {
      const std::string misfits = DumpFile(layout, file, json);
      if (!misfits.empty()) {
        std::cout.flush();
        std::cerr << "fernwick-pdbdump: " << file << " does not fit the layout " << layout_file
                  << " exactly: " << misfits << "\n";
        if (strict) status = 1;
      }
    } catch (const std::exception& e) {
      std::cout.flush();
      std::cerr << "fernwick-pdbdump: " << e.what() << "\n";
      status = 1;
    }
  }
  return status;
}

}  // namespace fernwick
