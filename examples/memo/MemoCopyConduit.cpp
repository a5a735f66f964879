// An example two-way conduit: Memo Pad as text files, one per memo, in
// <desktop folder>/MemoPad/Memos/<record id>.txt (UTF-8). The mirror-sync
// engine (<fernwick/sync/DorvMirrorSync.h>) does the synchronisation; this
// file is the mapping between a file and a record.
//
// - A memo changed on the handheld rewrites its file; a file edited on the
//   desktop changes its memo; a memo deleted on either side goes on both.
// - A memo archived on the handheld moves to <id>.archived.txt.
// - A new .txt file of any other name in Memos/, and <desktop folder>/
//   MemoPad/NewMemo.txt, is a new memo (category Unfiled): once the
//   handheld has it, the file is renamed to Memos/<id>.txt, as
//   common/TextFolder.h describes.
// - A new file that cannot be a memo (not a regular file, holding a NUL, or
//   longer than a memo record holds: 65,534 bytes in the handheld's
//   character set, and a NUL) is left where it is with a line in the log; a
//   memo's own <id>.txt that cannot be one stops the synchronisation before
//   anything is written, since leaving it out would delete the memo.
//
// The log names the categories of MemoDB (memo files hold none: a memo keeps
// its category, a new one is Unfiled).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/TextFolder.h"
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace {

using namespace fernwick;
using namespace fernwick::examples;
namespace fs = std::filesystem;

// A memo as its file holds it.
struct TMemo {
  TTextFile file;    // the file it was read from (none for one from the handheld), its text
  std::string palm;  // its text in the handheld's character set
};

// The text of file `path`; false with `why` said when it cannot be a memo.
bool ReadMemo(const fs::path& path, TMemo& memo, std::string& why) {
  // A memo record is the text and a NUL, in at most 65,535 bytes; UTF-8
  // takes at most 4 bytes for each of its characters.
  constexpr std::uintmax_t kMaxText = 65534;
  if (!ReadTextFile(path, 4 * kMaxText, "it is longer than a memo holds", memo.file, why))
    return false;
  if (memo.file.text.find('\0') != std::string::npos) why = "it holds a NUL, which ends a memo";
  memo.palm = Utf8ToPalm(memo.file.text);
  if (why.empty() && memo.palm.size() > kMaxText)
    why = "it is longer than a memo holds (" + std::to_string(memo.palm.size()) +
          " bytes on the handheld, at most " + std::to_string(kMaxText) + ")";
  return why.empty();
}

class TMemoFiles : public TDorvSyncAdapter {
 public:
  TMemoFiles(const fs::path& folder, TDorvConduit& conduit, TDorvConduitDb& db)
      : memos_(folder / "Memos", folder / "NewMemo.txt"), conduit_(conduit), db_(db) {}

  std::vector<TDorvSyncItem> ReadDesktop() override {
    std::string names;
    for (const std::string& name : CategoryNames(db_.AppInfoFields()))
      if (!name.empty()) names += (names.empty() ? "" : ", ") + name;
    conduit_.AddLogEntry("Memo Pad categories: " + names);

    std::vector<TDorvSyncItem> items;
    for (const fs::path& path : memos_.List()) {
      const std::optional<std::uint32_t> id = memos_.IdOf(path);
      TMemo memo;
      std::string why;
      if (!ReadMemo(path, memo, why) && id)
        throw EDorvConduitError("Memo Pad: " + path.string() + " is no memo: " + why);
      if (!why.empty()) {
        conduit_.AddLogEntry("Memo Pad: " + path.filename().string() + " is not added, " + why +
                             "; it is left where it is");
        continue;
      }
      memos_.Taken(path);
      items.push_back({id.value_or(0), {}, {}, memo});
    }
    return items;
  }

  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    fields.FieldByName("Text")->SetAsString(std::any_cast<const TMemo&>(item.value).palm);
  }

  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem*) override {
    const std::string palm = fields.FieldByName("Text")->GetAsString();
    return {0, {}, {}, TMemo{{{}, PalmToUtf8(palm)}, palm}};
  }

  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    const auto file_of = [](const TDorvSyncItem& item) -> const TTextFile& {
      return std::any_cast<const TMemo&>(item.value).file;
    };
    const auto moved_in = [&](const TDorvSyncItem& item) {
      conduit_.AddLogEntry("Memo Pad: added memo " + std::to_string(item.id) + " from NewMemo.txt");
    };
    memos_.Write(live, archived, file_of, moved_in, writer);
  }

 private:
  TTextFolder memos_;
  TDorvConduit& conduit_;
  TDorvConduitDb& db_;
};

class TMemoCopyModule : public TComponent {
 public:
  explicit TMemoCopyModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), memos_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("Memo Pad");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) {
      const fs::path folder = fs::path(conduit_->PathName()) / "MemoPad";
      TMemoFiles files(folder, *conduit_, *memos_);
      TDorvMirrorSync(*memos_, files, folder, "MemoDB").Run(*conduit_);
    });

    memos_->SetFileName("MemoDB");
    // A memo record is its text and a NUL.
    memos_->AddField("Text", pftString, 0);
    // Application info: the category block, a reserved word, the sort order
    // and a pad byte.
    TDorvPalmFields& info = memos_->AppInfoFields();
    AddCategoryFields(info);
    for (const auto& [name, type] : {std::pair{"Reserved2", pftSmallint},
                                     std::pair{"SortOrder", pftByte}, std::pair{"Pad", pftByte}}) {
      TDorvPalmField* field = info.Add();
      field->SetFieldName(name);
      field->SetDataType(type);
    }
  }

 private:
  TDorvConduit* conduit_;  // owned by this module
  TDorvConduitDb* memos_;  // owned by this module
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TMemoCopyModule)
