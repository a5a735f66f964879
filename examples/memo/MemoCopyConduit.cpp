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
//   handheld has it, the file is renamed to Memos/<id>.txt, durable with the
//   engine's state (a synchronisation cut short before that adopts the memo
//   it appended, by its content, instead of adding it again).
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
#include <fstream>
#include <set>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace {

using namespace fernwick;
namespace fs = std::filesystem;

// A memo as its file holds it.
struct TMemo {
  fs::path source;   // the file it was read from; empty for one from the handheld
  std::string palm;  // its text in the handheld's character set
  std::string utf8;  // the file's text as read
};

// The text of file `path`; false with `why` said when it cannot be a memo.
bool ReadMemo(const fs::path& path, TMemo& memo, std::string& why) {
  // A memo record is the text and a NUL, in at most 65,535 bytes; UTF-8
  // takes at most 4 bytes for each of its characters.
  constexpr std::uintmax_t kMaxText = 65534;
  std::error_code error;
  why = !fs::is_regular_file(path, error) ? "it is not a regular file" : "";
#ifndef _WIN32
  // O_NONBLOCK: what is there now may not be what was checked above, and
  // opening a FIFO would wait for a writer.
  const int fd = why.empty() ? ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  struct stat st {};
  if (why.empty() && (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)))
    why = fd < 0 ? "it cannot be read" : "it is not a regular file";
  if (fd >= 0) ::close(fd);
#endif
  if (!why.empty()) return false;
  if (fs::file_size(path, error) > 4 * kMaxText) {
    why = "it is longer than a memo holds";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  memo.utf8.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) why = "it cannot be read";
  if (memo.utf8.find('\0') != std::string::npos) why = "it holds a NUL, which ends a memo";
  memo.palm = Utf8ToPalm(memo.utf8);
  if (why.empty() && memo.palm.size() > kMaxText)
    why = "it is longer than a memo holds (" + std::to_string(memo.palm.size()) +
          " bytes on the handheld, at most " + std::to_string(kMaxText) + ")";
  memo.source = path;
  return why.empty();
}

class TMemoFiles : public TDorvSyncAdapter {
 public:
  TMemoFiles(fs::path folder, TDorvConduit& conduit, TDorvConduitDb& db)
      : folder_(std::move(folder)), memos_(folder_ / "Memos"), conduit_(conduit), db_(db) {}

  std::vector<TDorvSyncItem> ReadDesktop() override {
    std::string names;
    for (const std::string& name : CategoryNames(db_.AppInfoFields()))
      if (!name.empty()) names += (names.empty() ? "" : ", ") + name;
    conduit_.AddLogEntry("Memo Pad categories: " + names);

    std::vector<TDorvSyncItem> items;
    std::error_code error;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(memos_, error)) files.push_back(entry.path());
    if (error && error != std::errc::no_such_file_or_directory)
      throw EDorvConduitError("Cannot read " + memos_.string() + ": " + error.message());
    const fs::path dropped = folder_ / "NewMemo.txt";
    if (fs::symlink_status(dropped, error).type() != fs::file_type::not_found)
      files.push_back(dropped);
    for (const fs::path& path : files) {
      const std::string name = path.filename().string();
      if (path.extension() != ".txt" || name[0] == '.' || name.ends_with(".archived.txt")) continue;
      const std::string stem = path.stem().string();
      const bool numbered = path.parent_path() == memos_ && stem.size() <= 8 &&
                            stem.find_first_not_of("0123456789") == std::string::npos;
      TMemo memo;
      std::string why;
      if (!ReadMemo(path, memo, why) && numbered)
        throw EDorvConduitError("Memo Pad: " + path.string() + " is no memo: " + why);
      if (!why.empty()) {
        conduit_.AddLogEntry("Memo Pad: " + name + " is not added, " + why +
                             "; it is left where it is");
        continue;
      }
      read_.push_back(path);
      items.push_back({numbered ? static_cast<std::uint32_t>(std::stoul(stem)) : 0u, {}, {}, memo});
    }
    return items;
  }

  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    fields.FieldByName("Text")->SetAsString(std::any_cast<const TMemo&>(item.value).palm);
  }

  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem*) override {
    const std::string palm = fields.FieldByName("Text")->GetAsString();
    return {0, {}, {}, TMemo{{}, palm, PalmToUtf8(palm)}};
  }

  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    writer.MakeFolders(memos_);
    const auto file = [&](const TDorvSyncItem& item, const char* ending) {
      return memos_ / (std::to_string(item.id) + ending);
    };
    std::set<fs::path> targets, moved;
    for (const TDorvSyncItem& item : live) targets.insert(file(item, ".txt"));
    // First the files of new memos: renamed to their id whole, so that no
    // moment shows a memo under two names (a run cut short after this adopts
    // the memo by its content); copied when the old name holds another memo
    // now (the handheld's version of a conflict).
    for (const TDorvSyncItem& item : live) {
      const TMemo& memo = std::any_cast<const TMemo&>(item.value);
      if (memo.source.empty() || memo.source == file(item, ".txt")) continue;
      if (targets.count(memo.source) != 0) {
        writer.Write(file(item, ".txt"), memo.utf8);
      } else {
        writer.Rename(memo.source, file(item, ".txt"));
        moved.insert(memo.source);
        if (memo.source == folder_ / "NewMemo.txt")
          conduit_.AddLogEntry("Memo Pad: added memo " + std::to_string(item.id) + " from NewMemo.txt");
      }
    }
    for (const TDorvSyncItem& item : live) {
      const TMemo& memo = std::any_cast<const TMemo&>(item.value);
      if (memo.source.empty()) writer.Write(file(item, ".txt"), memo.utf8);
    }
    for (const TDorvSyncItem& item : archived)
      writer.Write(file(item, ".archived.txt"), std::any_cast<const TMemo&>(item.value).utf8);
    // Last, the files of memos gone (NewMemo.txt only ever moves: a
    // stHHtoPC leaves it).
    for (const fs::path& path : read_)
      if (targets.count(path) == 0 && moved.count(path) == 0 && path != folder_ / "NewMemo.txt")
        writer.Remove(path);
  }

 private:
  fs::path folder_;
  fs::path memos_;
  TDorvConduit& conduit_;
  TDorvConduitDb& db_;
  std::vector<fs::path> read_;  // every file read as a memo
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
