#include "Csv.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>

#include <fernwick/framework/Exceptions.h>

namespace fernwick::examples {
namespace {

namespace fs = std::filesystem;

// The first characters that make a spreadsheet take a text for a formula.
constexpr std::string_view kFormula = "=+-@\t\r";

std::string Field(std::string text, bool guard) {
  if (guard && !text.empty() && kFormula.find(text[0]) != kFormula.npos) text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

TCsvTable::TCsvTable(std::vector<std::string> columns, std::set<std::string> texts)
    : columns_(std::move(columns)), texts_(std::move(texts)) {}

std::vector<TCsvRow> TCsvTable::Parse(std::string text, const std::string& name,
                                      const std::string& key) {
  header_.clear();
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<std::vector<std::string>> lines(1, std::vector<std::string>(1));
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string& cell = lines.back().back();
    if (text[i] == '"' && cell.empty()) {  // quoted, quotes doubled inside
      for (++i; i < text.size() && (text[i] != '"' || (i + 1 < text.size() && text[i + 1] == '"'));
           ++i)
        cell += text[i] == '"' ? text[++i] : text[i];
    } else if (text[i] == ',') {
      lines.back().emplace_back();
    } else if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back(1);
    } else {
      cell += text[i];
    }
  }
  std::vector<TCsvRow> rows;
  for (std::vector<std::string>& line : lines) {
    if (std::all_of(line.begin(), line.end(), [](auto& c) { return c.empty(); })) continue;
    if (header_.empty()) {
      header_ = line;
      continue;
    }
    TCsvRow& row = rows.emplace_back();
    for (std::size_t i = 0; i < header_.size() && i < line.size(); ++i) {
      std::string& cell = line[i];
      if (texts_.count(header_[i]) != 0 && cell.size() > 1 && cell[0] == '\'' &&
          kFormula.find(cell[1]) != kFormula.npos)
        cell.erase(0, 1);
      row.emplace(header_[i], std::move(cell));
    }
  }
  // Without ids every row would be new and every item deleted on the
  // desktop: the handheld's records would be replaced by copies.
  if (!key.empty() && !header_.empty() && !Has(key))
    throw EDorvConduitError(name + " has no " + key +
                            " column; give rows added on the desktop an empty " + key);
  return rows;
}

std::vector<TCsvRow> TCsvTable::Read(const fs::path& path, const std::string& key) {
  std::ifstream in(path, std::ios::binary);
  if (!in && fs::exists(path)) throw EDorvConduitError("Cannot read " + path.string());
  return Parse({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()},
               path.filename().string(), key);
}

bool TCsvTable::Has(const std::string& column) const {
  return std::find(header_.begin(), header_.end(), column) != header_.end();
}

std::string TCsvTable::Text(const std::vector<TCsvRow>& rows) const {
  std::vector<std::string> header = header_;
  for (const std::string& column : columns_)
    if (std::find(header.begin(), header.end(), column) == header.end()) header.push_back(column);
  std::string text;
  // Line by line: MinGW's GCC 12 takes a concatenation of the whole line
  // for an overlapping copy under -Werror=restrict.
  const auto line = [&](const auto& cell) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (i != 0) text += ',';
      text += cell(header[i]);
    }
    text += "\r\n";
  };
  line([](const std::string& column) { return Field(column, false); });
  for (const TCsvRow& row : rows) {
    line([&](const std::string& column) {
      const auto found = row.find(column);
      return Field(found == row.end() ? std::string() : found->second, texts_.count(column) != 0);
    });
  }
  return text;
}

}  // namespace fernwick::examples
