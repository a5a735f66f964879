// CSV files (RFC 4180) as spreadsheets and other programs read and write
// them: a header row naming the columns, then one row per item.
//
// Reading finds the columns by their header names, in any order, quoted or
// not, lines ending in LF or CR LF, after a UTF-8 byte order mark; a line of
// empty cells is skipped, and columns the program does not know are kept as
// they are. Writing puts the columns in the order read, the program's
// missing ones after them; text is UTF-8, fields holding a comma, a quote or
// a line break are quoted, quotes doubled, and lines end in CR LF.
//
// A text that begins with '=', '+', '-', '@', a tab or a carriage return
// gets an apostrophe in front, as spreadsheets' own CSV exports write it, so
// that a spreadsheet never takes it for a formula; reading takes that
// apostrophe off again. Only the columns named as texts get it: a number's
// minus sign stays as it is.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fernwick::examples {

// One row: its cells' text by column name. A column missing from the file,
// or from a line shorter than the header, has no cell.
using TCsvRow = std::map<std::string, std::string>;

// One CSV file: its header as read, and the rows under it.
class TCsvTable {
 public:
  // A table of the program's `columns`, of which `texts` hold text.
  TCsvTable(std::vector<std::string> columns, std::set<std::string> texts);

  // The rows of CSV `text` (file `name`, as errors say it); keeps its
  // header. With a `key` column (the rows' ids), raises EDorvConduitError
  // when the header lacks it.
  std::vector<TCsvRow> Parse(std::string text, const std::string& name,
                             const std::string& key = {});
  // The rows of file `path` (none when there is no file), as Parse reads
  // them. Raises EDorvConduitError naming `path` when it cannot be read.
  std::vector<TCsvRow> Read(const std::filesystem::path& path, const std::string& key = {});
  // Whether the header read names `column`.
  bool Has(const std::string& column) const;
  // The file of `rows` under the header read, the program's columns it
  // lacks added at its end; a row without a cell of a column leaves it
  // empty.
  std::string Text(const std::vector<TCsvRow>& rows) const;

 private:
  std::vector<std::string> columns_;
  std::set<std::string> texts_;
  std::vector<std::string> header_;  // as read; empty before a read or for an empty file
};

}  // namespace fernwick::examples
