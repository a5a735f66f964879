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
// (its name), Private (1 for a secret record). The files are read and
// written as common/Csv.h and common/CsvStore.h describe: columns found by
// their header names, other columns kept, the formula apostrophe on the
// texts; a column that is missing leaves its field as it was.
//
// A due date on the handheld that is no day of the calendar is shown as
// "not a date (0xNNNN)" with a line in the log naming the record; a Due cell
// that is no date leaves the record's due date as it is, so the handheld
// keeps the damaged one until a date is written over it.
#include <cstdint>
#include <string>

#include "common/CsvStore.h"
#include "common/DateText.h"
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace {

using namespace fernwick;
using namespace fernwick::examples;
namespace fs = std::filesystem;

class TToDoFiles : public TDorvSyncAdapter {
 public:
  TToDoFiles(const fs::path& folder, TDorvConduit& conduit)
      : store_(folder / "ToDo.csv", folder / "ToDo-archive.csv",
               {"Id", "Description", "Note", "Priority", "Due", "Completed", "Category", "Private"},
               {"Description", "Note", "Category"}),
        log_(conduit) {}

  std::vector<TDorvSyncItem> ReadDesktop() override { return store_.Read(); }

  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    const TCsvRow& row = std::any_cast<const TCsvRow&>(item.value);
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
    const std::string* text = cell("Due");
    if (due->Value().IsEmpty() || (text && text->empty())) due->SetAsInteger(0xFFFF);
    if (const int packed = text ? PackedDate(*text) : -1; packed >= 0) due->SetAsInteger(packed);
  }

  // Rows the desktop left as they were written need no conversion.
  std::uint64_t Fingerprint(const TDorvSyncItem& item) override { return store_.Fingerprint(item); }

  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem* previous) override {
    TCsvRow row = previous ? std::any_cast<const TCsvRow&>(previous->value) : TCsvRow();
    for (const char* column : {"Description", "Note"})
      row[column] = PalmToUtf8(fields.FieldByName(column)->GetAsString());
    const int priority = fields.FieldByName("Priority")->GetAsInteger();
    row["Priority"] = std::to_string(priority & 0x7F);
    // A std::string: MinGW's GCC 12 takes the assignment of the literal for
    // an overlapping copy (-Werror=restrict).
    row["Completed"] = std::string((priority & 0x80) != 0 ? "1" : "0");
    row["Due"] = DateText(fields.FieldByName("DueDate")->GetAsInteger());
    return TDorvSyncItem{0, {}, {}, std::move(row)};
  }

  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    for (const TDorvSyncItem& item : live) {
      const TCsvRow& row = std::any_cast<const TCsvRow&>(item.value);
      const auto due = row.find("Due");
      if (due != row.end() && due->second.rfind("not a date", 0) == 0)
        log_.AddLogEntry("To Do: record " + std::to_string(item.id) + ": its due date is " +
                         due->second +
                         "; the handheld keeps it until a date is written in its Due cell");
    }
    store_.Write(live, archived, writer);
  }

 private:
  TCsvStore store_;
  TDorvConduit& log_;
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
