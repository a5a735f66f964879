// An example two-way conduit: the To Do list as a CSV file (RFC 4180) that
// spreadsheets read and write, <desktop folder>/ToDo/ToDo.csv, one row per
// to-do item under a header row, and the items archived on the handheld in
// ToDo-archive.csv (kept by Id). The mirror-sync engine
// (<fernwick/sync/DorvMirrorSync.h>) does the synchronisation; this file is
// the mapping between a row and a record.
//
// Columns: Id (the record id; empty in a row added on the desktop, which
// gets the id the handheld gives it), Description, Note, Priority (1 to 5),
// Due (YYYY-MM-DD, empty without a due date), Completed (0 or 1), Category
// (its name), Private (1 for a secret record). The file is read back with
// its columns found by their header names, in any order, quoted or not,
// lines ending in LF or CR LF, after a UTF-8 byte order mark; other columns
// are kept as they are, and a column that is missing leaves its field as it
// was. Text is UTF-8; fields holding a comma, a quote or a line break are
// quoted, quotes doubled; lines end in CR LF. A text that begins with '=',
// '+', '-', '@', a tab or a carriage return gets an apostrophe in front, as
// spreadsheets' own CSV exports write it, so that a spreadsheet never takes
// it for a formula; reading takes that apostrophe off again.
//
// A due date on the handheld that is no day of the calendar is shown as
// "not a date (0xNNNN)" with a line in the log naming the record; a Due cell
// that is no date leaves the record's due date as it is, so the handheld
// keeps the damaged one until a date is written over it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace {

using namespace fernwick;
namespace fs = std::filesystem;
using TRow = std::map<std::string, std::string>;  // cell text by column name
const std::vector<std::string> kColumns = {"Id",  "Description", "Note",     "Priority",
                                           "Due", "Completed",   "Category", "Private"};
const std::string_view kFormula = "=+-@\t\r";

bool IsText(const std::string& column) {
  return column == "Description" || column == "Note" || column == "Category";
}

std::string CsvField(std::string text, bool guard) {
  if (guard && !text.empty() && kFormula.find(text[0]) != kFormula.npos) text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// The header and rows of CSV file `path` (none when there is no file).
std::vector<TRow> ReadTable(const fs::path& path, std::vector<std::string>& header) {
  std::ifstream in(path, std::ios::binary);
  if (!in && fs::exists(path)) throw EDorvConduitError("Cannot read " + path.string());
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
  std::vector<TRow> rows;
  for (std::vector<std::string>& line : lines) {
    if (std::all_of(line.begin(), line.end(), [](auto& c) { return c.empty(); })) continue;
    if (header.empty()) {
      header = line;
      continue;
    }
    TRow& row = rows.emplace_back();
    for (std::size_t i = 0; i < header.size() && i < line.size(); ++i) {
      std::string& cell = line[i];
      if (IsText(header[i]) && cell.size() > 1 && cell[0] == '\'' &&
          kFormula.find(cell[1]) != kFormula.npos)
        cell.erase(0, 1);
      row.emplace(header[i], std::move(cell));
    }
  }
  return rows;
}

class TToDoFiles : public TDorvSyncAdapter {
 public:
  TToDoFiles(fs::path folder, TDorvConduit& conduit) : folder_(std::move(folder)), log_(conduit) {}

  std::vector<TDorvSyncItem> ReadDesktop() override {
    std::vector<TDorvSyncItem> items;
    std::vector<TRow> rows = ReadTable(folder_ / "ToDo.csv", header_);
    // Without ids every row would be new and every record deleted on the
    // desktop: the handheld's records would be replaced by copies.
    if (!header_.empty() && !Has("Id"))
      throw EDorvConduitError("ToDo.csv has no Id column; give rows added on the desktop an empty Id");
    for (TRow& row : rows) {
      TDorvSyncItem& item = items.emplace_back();
      item.id = static_cast<std::uint32_t>(std::strtoul(row["Id"].c_str(), nullptr, 10));
      if (Has("Category")) item.category = row["Category"];
      if (Has("Private")) item.secret = row["Private"] == "1";
      item.value = std::move(row);
    }
    return items;
  }

  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    const TRow& row = std::any_cast<const TRow&>(item.value);
    const auto cell = [&](const char* column) {
      const auto found = row.find(column);
      return found == row.end() ? nullptr : &found->second;
    };
    for (const char* column : {"Description", "Note"})
      if (const std::string* text = cell(column))
        fields.FieldByName(column)->SetAsString(Utf8ToPalm(*text));
    TDorvPalmField* priority = fields.FieldByName("Priority");
    int bits = priority->Value().IsEmpty() ? 1 : priority->GetAsInteger() & 0xFF;
    if (const std::string* p = cell("Priority");
        p && p->size() == 1 && (*p)[0] >= '1' && (*p)[0] <= '5')
      bits = (bits & 0x80) | ((*p)[0] - '0');
    if (const std::string* c = cell("Completed"); c && (*c == "0" || *c == "1"))
      bits = (bits & 0x7F) | (*c == "1" ? 0x80 : 0);
    priority->SetAsInteger(bits);
    TDorvPalmField* due = fields.FieldByName("DueDate");
    int year = 0, month = 0, day = 0;
    const std::string* text = cell("Due");
    if (due->Value().IsEmpty() || (text && text->empty())) due->SetAsInteger(0xFFFF);
    if (text && std::sscanf(text->c_str(), "%4d-%2d-%2d", &year, &month, &day) == 3 &&
        year >= 1904 && year <= 2031 && month >= 1 && month < 16 && day >= 1 && day < 32) {
      const int packed = ((year - 1904) << 9) | (month << 5) | day;
      if (DecodePalmDate(packed, year, month, day)) due->SetAsInteger(packed);
    }
  }

  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem* previous) override {
    TRow row = previous ? std::any_cast<const TRow&>(previous->value) : TRow();
    for (const char* column : {"Description", "Note"})
      row[column] = PalmToUtf8(fields.FieldByName(column)->GetAsString());
    const int priority = fields.FieldByName("Priority")->GetAsInteger();
    row["Priority"] = std::to_string(priority & 0x7F);
    row["Completed"] = (priority & 0x80) != 0 ? "1" : "0";
    const int packed = fields.FieldByName("DueDate")->GetAsInteger() & 0xFFFF;
    int year = 0, month = 0, day = 0;
    char due[32] = "";
    if (packed == 0xFFFF) {
    } else if (DecodePalmDate(packed, year, month, day)) {
      std::snprintf(due, sizeof due, "%04d-%02d-%02d", year, month, day);
    } else {
      std::snprintf(due, sizeof due, "not a date (0x%04X)", packed);
    }
    row["Due"] = due;
    return TDorvSyncItem{0, {}, {}, std::move(row)};
  }

  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    writer.MakeFolders(folder_);
    for (const TDorvSyncItem& item : live) {
      const TRow& row = std::any_cast<const TRow&>(item.value);
      const auto due = row.find("Due");
      if (due != row.end() && due->second.rfind("not a date", 0) == 0)
        log_.AddLogEntry("To Do: record " + std::to_string(item.id) + ": its due date is " +
                         due->second +
                         "; the handheld keeps it until a date is written in its Due cell");
    }
    writer.Write(folder_ / "ToDo.csv", Table(header_, live, false));
    // The archive keeps its rows by Id: a record archived again (a
    // synchronisation cut short before the purge) replaces its row.
    std::vector<std::string> header;
    std::map<std::uint32_t, TDorvSyncItem> rows;
    for (TRow& row : ReadTable(folder_ / "ToDo-archive.csv", header)) {
      const auto id = static_cast<std::uint32_t>(std::strtoul(row["Id"].c_str(), nullptr, 10));
      rows[id] = TDorvSyncItem{id, row["Category"], row["Private"] == "1", std::move(row)};
    }
    for (const TDorvSyncItem& item : archived) rows[item.id] = item;
    std::vector<TDorvSyncItem> all;
    for (auto& [id, item] : rows) all.push_back(std::move(item));
    writer.Write(folder_ / "ToDo-archive.csv", Table(header, all, true));
  }

 private:
  bool Has(const std::string& column) const {
    return std::find(header_.begin(), header_.end(), column) != header_.end();
  }

  // The file of `items` under `header` (as read, with the missing columns
  // added at its end).
  static std::string Table(std::vector<std::string> header, const std::vector<TDorvSyncItem>& items,
                           bool archive) {
    for (const std::string& column : kColumns)
      if (std::find(header.begin(), header.end(), column) == header.end()) header.push_back(column);
    std::string text;
    const auto line = [&](const auto& cell) {
      for (std::size_t i = 0; i < header.size(); ++i) {
        if (i != 0) text += ',';
        text += cell(header[i]);
      }
      text += "\r\n";
    };
    line([](const std::string& column) { return CsvField(column, false); });
    for (const TDorvSyncItem& item : items) {
      TRow row = std::any_cast<const TRow&>(item.value);
      row["Id"] = std::to_string(item.id);
      // An archived record's category bits hold the archive flag.
      row["Category"] = archive ? std::string() : item.category.value_or(std::string());
      row["Private"] = std::string(item.secret.value_or(false) ? "1" : "0");
      line([&](const std::string& column) { return CsvField(row[column], IsText(column)); });
    }
    return text;
  }

  fs::path folder_;
  TDorvConduit& log_;
  std::vector<std::string> header_;
};

class TToDoCsvModule : public TComponent {
 public:
  explicit TToDoCsvModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), todos_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("To Do");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) {
      const fs::path folder = fs::path(conduit_->PathName()) / "ToDo";
      TToDoFiles files(folder, *conduit_);
      TDorvMirrorSync(*todos_, files, folder, "ToDoDB").Run(*conduit_);
    });

    todos_->SetFileName("ToDoDB");
    // Record: packed due date (0xFFFF: none), priority byte (0x80:
    // completed), description and note, each ending in a NUL.
    todos_->AddField("DueDate", pftDate, 0);
    todos_->AddField("Priority", pftByte, 0);
    todos_->AddField("Description", pftString, 0);
    todos_->AddField("Note", pftString, 0);
    // Application info: the category block, then the dirty word, the sort
    // order and a pad byte.
    TDorvPalmFields& info = todos_->AppInfoFields();
    AddCategoryFields(info);
    for (const auto& [name, type] :
         {std::pair{"Dirty", pftSmallint}, std::pair{"SortByPriority", pftByte},
          std::pair{"Pad", pftByte}}) {
      TDorvPalmField* field = info.Add();
      field->SetFieldName(name);
      field->SetDataType(type);
    }
  }

 private:
  TDorvConduit* conduit_;  // owned by this module
  TDorvConduitDb* todos_;  // owned by this module
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TToDoCsvModule)
