// An example conduit that copies Memo Pad to the desktop.
//
// A fast synchronisation (stFast)
//  - logs the category names of MemoDB's application info block;
//  - writes every memo changed on the handheld since the last synchronisation
//    to <desktop folder>/Memos/<record id>.txt;
//  - marks the memos deleted on the handheld: an archived one moves to
//    <id>.archived.txt, one deleted outright leaves <id>.deleted behind;
//  - appends the text of <desktop folder>/NewMemo.txt, when the user dropped
//    one there, as a new memo in category Unfiled. A NewMemo.txt that is
//    not a regular file, holds a NUL, or is longer than a memo record holds
//    (65,534 bytes in the handheld's character set, and a NUL) is not
//    added: the log says why, the file stays where it is, and the
//    synchronisation goes on;
//  - purges the deleted and archived memos from the handheld, now that the
//    desktop holds what is to be kept of them, and resets the sync flags, so
//    the next synchronisation sees only new changes;
//  - once the database is closed (written back), renames NewMemo.txt to
//    NewMemo.txt.done so that it is added once.
// Every desktop file is written whole through a temporary file, readable by
// the user alone, and flushed to disk before anything on the handheld is
// purged or reset (see TDesktopWriter); when one cannot be
// written, the conduit fails before that.
// A slow one (stSlow) does the same with every memo, since the change flags
// cannot be trusted; a handheld-to-desktop copy (stHHtoPC) copies every memo
// with the database opened read-only and changes nothing on the handheld.
// Other sync types copy nothing.
//
// The desktop folder is the user's folder that HotSync Manager passes
// (PathName), with "MemoPad" below it. Desktop files are UTF-8; the
// handheld's character set is converted both ways (see
// examples/common/ExampleSupport.h).
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "common/ExampleSupport.h"
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/DorvConduitDb.h>

namespace {

using namespace fernwick;
namespace fs = std::filesystem;

class TMemoCopyModule : public TComponent {
 public:
  explicit TMemoCopyModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), memos_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("Memo Pad");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) { Synchronise(); });

    memos_->SetFileName("MemoDB");
    // A memo record is its text and a NUL.
    memos_->AddField("Text", pftString, 0);
    // The application info block starts with the standard category block.
    AddInfoField("Renamed", pftSmallint, 0, 1);
    AddInfoField("Categories", pftString, 16, 16);
    AddInfoField("CategoryIds", pftByte, 0, 16);
    AddInfoField("LastUniqueId", pftByte, 0, 1);
  }

 private:
  void AddInfoField(const char* name, TDorvPalmFieldType type, std::int32_t size,
                    std::int32_t count) {
    TDorvPalmField* field = memos_->AppInfoFields().Add();
    field->SetFieldName(name);
    field->SetDataType(type);
    field->SetSize(size);
    field->SetArraySize(count);
  }

  std::string Text() { return PalmToUtf8(memos_->FieldByName("Text")->GetAsString()); }

  // The text of the dropped memo `path` in the handheld's character set;
  // false with `why` said when it cannot be a memo.
  static bool ReadDroppedMemo(const fs::path& path, std::string& text, std::string& why) {
    // A memo record is the text and a NUL, in at most 65,535 bytes. The
    // UTF-8 file takes at most 4 bytes for each of its characters.
    constexpr std::uintmax_t kMaxText = 65534;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
      why = "it is not a regular file";
      return false;
    }
    std::string utf8;
#ifdef _WIN32
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    if (!in && !in.eof()) {
      why = "it cannot be read";
      return false;
    }
    utf8 = all.str();
    if (utf8.size() > 4 * kMaxText) {
      why = "it is longer than a memo holds";
      return false;
    }
#else
    // O_NONBLOCK: what is there now may not be what was checked above, and
    // opening a FIFO would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      why = fd < 0 ? "it cannot be read" : "it is not a regular file";
      return false;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > 4 * kMaxText) {
      ::close(fd);
      why = "it is longer than a memo holds";
      return false;
    }
    char buffer[16384];
    bool failed = false;
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      failed = got < 0;
      if (got <= 0) break;
      utf8.append(buffer, static_cast<std::size_t>(got));
      if (utf8.size() > 4 * kMaxText) break;
    }
    ::close(fd);
    if (failed) {
      why = "it cannot be read";
      return false;
    }
#endif
    if (utf8.find('\0') != std::string::npos) {
      why = "it holds a NUL, which ends a memo";
      return false;
    }
    text = Utf8ToPalm(utf8);
    if (text.size() > kMaxText) {
      why = "it is longer than a memo holds (" + std::to_string(text.size()) +
            " bytes on the handheld, at most " + std::to_string(kMaxText) + ")";
      return false;
    }
    return true;
  }

  void Synchronise() {
    try {
      Copy();
    } catch (...) {
      try {
        memos_->Close();
      } catch (const EDorvConduitError&) {
      }
      try {
        throw;
      } catch (const fs::filesystem_error& e) {
        throw EDorvConduitError(std::string("Memo Pad: ") + e.what());
      }
    }
  }

  void Copy() {
    const fs::path folder = fs::path(conduit_->PathName()) / "MemoPad";
    const fs::path memo_folder = folder / "Memos";
    TDesktopWriter desktop;
    desktop.MakeFolders(memo_folder);

    const TSyncTypes type = conduit_->SyncType();
    if (type != stFast && type != stSlow && type != stHHtoPC) {
      conduit_->AddLogEntry(std::string("Memo Pad: nothing to copy for ") + SyncTypeName(type));
      return;
    }
    const bool everything = type != stFast;
    const bool read_only = type == stHHtoPC;
    memos_->SetOpenMode(read_only ? eDbRead : eDbRead | eDbWrite | eDbExclusive);
    memos_->Open();
    memos_->ReadAppInfo();
    TDorvPalmField* categories = memos_->AppInfoFields().FieldByName("Categories");
    std::string names;
    for (std::int32_t i = 0; i < 16; ++i) {
      const std::string name = categories->GetArrayValue(i).AsString();
      if (name.empty()) continue;
      names += (names.empty() ? "" : ", ") + name;
    }
    conduit_->AddLogEntry("Memo Pad categories: " + names);

    int copied = 0, archived = 0, deleted = 0;
    auto copy = [&] {
      const std::string id = std::to_string(memos_->GetRecordId());
      const std::uint8_t attributes = memos_->GetAttributes();
      if ((attributes & eRecAttrDeleted) == 0) {
        desktop.Write(memo_folder / (id + ".txt"), Text());
        ++copied;
      } else if ((attributes & eRecAttrArchived) != 0) {
        desktop.Write(memo_folder / (id + ".archived.txt"), Text());
        desktop.Remove(memo_folder / (id + ".txt"));
        ++archived;
      } else {
        desktop.Write(memo_folder / (id + ".deleted"), "");
        desktop.Remove(memo_folder / (id + ".txt"));
        ++deleted;
      }
    };
    if (everything) {
      for (memos_->First(); !memos_->Eof(); memos_->Next()) copy();
    } else {
      while (memos_->NextModified()) copy();
    }

    const fs::path dropped = folder / "NewMemo.txt";
    bool added = false;
    std::error_code unknown;  // a status that cannot be read: ReadDroppedMemo says why
    const bool dropped_there =
        !read_only && fs::symlink_status(dropped, unknown).type() != fs::file_type::not_found;
    std::string text, why;
    if (dropped_there && !ReadDroppedMemo(dropped, text, why)) {
      conduit_->AddLogEntry("Memo Pad: NewMemo.txt is not added, " + why +
                            "; it is left where it is");
    } else if (dropped_there) {
      // The file was closed in ReadDroppedMemo, before the rename below:
      // Windows renames no open file.
      memos_->Append();
      memos_->FieldByName("Text")->SetAsString(text);
      memos_->SetCategoryId(0);
      memos_->Post();
      conduit_->AddLogEntry("Memo Pad: added memo " + std::to_string(memos_->GetRecordId()) +
                            " from NewMemo.txt");
      added = true;
    }

    desktop.Commit();
    if (!read_only) {
      memos_->PurgeDeletedRecords();
      memos_->ResetSyncFlags();
    }
    memos_->Close();
    if (added) {
      std::error_code error;
      fs::rename(dropped, folder / "NewMemo.txt.done", error);
      if (error) {
        throw EDorvConduitError("Memo Pad: the memo of NewMemo.txt is on the handheld, but " +
                                dropped.string() + " cannot be renamed: " + error.message());
      }
    }
    conduit_->AddLogEntry("Memo Pad: " + std::to_string(copied) + " copied, " +
                          std::to_string(archived) + " archived, " + std::to_string(deleted) +
                          " deleted");
  }

  TDorvConduit* conduit_;  // owned by this module
  TDorvConduitDb* memos_;  // owned by this module
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TMemoCopyModule)
