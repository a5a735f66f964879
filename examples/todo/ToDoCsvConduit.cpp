// An example conduit that copies the To Do list to a CSV file (RFC 4180)
// that spreadsheets read: <desktop folder>/ToDo/ToDo.csv, one row per to-do
// item with a header row, and the archived items in ToDo-archive.csv.
//
// Columns: Id (the record id), Description, Note, Priority (1 to 5), Due
// (YYYY-MM-DD, empty without a due date), Completed (0 or 1), Category (its
// name), Private (1 for a secret record). Text is UTF-8; fields holding a
// comma, a quote or a line break are quoted, quotes doubled; lines end in
// CR LF. A text field that begins with '=', '+', '-', '@', a tab or a
// carriage return gets an apostrophe in front, as spreadsheets' own CSV
// exports write it, so that a spreadsheet opening the file takes it for
// text, never for a formula. A record whose due date is no day of the
// calendar is left out, with a line in the log naming it.
//
// Which records are copied follows the synchronisation type (see RunExport
// in examples/common/ExampleSupport.h).
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/ExampleSupport.h"
#include <fernwick/conduit/ConduitModule.h>

namespace {

using namespace fernwick;
using namespace fernwick::examples;

// One CSV field of text: an apostrophe before what a spreadsheet would
// read as a formula; quoted when it holds a comma, a quote or a line break.
std::string CsvField(std::string text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos)
    text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

class TToDoCsvModule : public TComponent {
 public:
  explicit TToDoCsvModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), todos_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("To Do");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) { Synchronise(); });

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
  std::string Row() {
    const std::int32_t priority = todos_->FieldByName("Priority")->GetAsInteger();
    TDorvPalmField* due = todos_->FieldByName("DueDate");
    std::string due_text;
    // A packed date reads back as a signed 16-bit value: "no date" (0xFFFF)
    // is -1.
    if (due->GetAsInteger() != -1) {
      const std::int32_t packed = due->GetAsInteger() & 0xFFFF;
      int year = 0, month = 0, day = 0;
      if (!DecodePalmDate(packed, year, month, day)) {
        char why[64];
        std::snprintf(why, sizeof why, "due date 0x%04X is no day of the calendar", packed);
        throw ERecordSkipped(why);
      }
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
      due_text = buf;
    }
    const bool secret = (todos_->GetAttributes() & eRecAttrSecret) != 0;
    const bool deleted = (todos_->GetAttributes() & eRecAttrDeleted) != 0;
    // An archived record keeps its category bits for the archive flag.
    const std::string category = deleted ? "" : categories_[todos_->CategoryId() & 0x0F];
    return std::to_string(todos_->GetRecordId()) + "," +
           CsvField(PalmToUtf8(todos_->FieldByName("Description")->GetAsString())) + "," +
           CsvField(PalmToUtf8(todos_->FieldByName("Note")->GetAsString())) + "," +
           std::to_string(priority & 0x7F) + "," + due_text + "," +
           ((priority & 0x80) != 0 ? "1" : "0") + "," + CsvField(category) + "," +
           (secret ? "1" : "0") + "\r\n";
  }

  static std::string Table(const std::vector<std::string>& rows) {
    std::string text = "Id,Description,Note,Priority,Due,Completed,Category,Private\r\n";
    for (const std::string& row : rows) text += row;
    return text;
  }

  void Synchronise() {
    const std::filesystem::path folder = std::filesystem::path(conduit_->PathName()) / "ToDo";
    TPieceStore store(folder / "Rows");
    TExport what;
    what.name = "To Do";
    what.read_app_info = [this] {
      todos_->ReadAppInfo();
      categories_ = CategoryNames(todos_->AppInfoFields());
    };
    what.render = [this] { return Row(); };
    what.assemble = [&folder](const std::vector<std::string>& live,
                              const std::vector<std::string>& archived) {
      WriteFileAtomically(folder / "ToDo.csv", Table(live));
      WriteFileAtomically(folder / "ToDo-archive.csv", Table(archived));
    };
    RunExport(*conduit_, *todos_, store, what);
  }

  TDorvConduit* conduit_;  // owned by this module
  TDorvConduitDb* todos_;  // owned by this module
  std::array<std::string, 16> categories_;
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TToDoCsvModule)
