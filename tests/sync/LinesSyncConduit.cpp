// A two-way test conduit on the mirror-sync engine: database "LinesDB" (one
// text field, the standard category block) against two desktop files of
// <PathName>/Lines/, one item per line "<id>\t<category>\t<text>":
//   Items.txt    the live items; an id 0 (or one the engine does not know)
//                makes a new item
//   Archive.txt  the archive, one line per id
// The kill -9 test (sync_crash_test.cpp) runs it through the runner.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace {

using namespace fernwick;

struct TLine {
  std::uint32_t id = 0;
  std::string category;
  std::string text;
};

std::vector<TLine> ReadLines(const std::filesystem::path& path) {
  std::vector<TLine> lines;
  std::ifstream in(path, std::ios::binary);
  if (!in && std::filesystem::exists(path)) throw EDorvConduitError("Cannot read " + path.string());
  std::string line;
  while (std::getline(in, line)) {
    const auto tab1 = line.find('\t');
    const auto tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) throw EDorvConduitError(path.string() + ": bad line " + line);
    lines.push_back({static_cast<std::uint32_t>(std::stoul(line.substr(0, tab1))),
                     line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)});
  }
  return lines;
}

std::string Lines(const std::vector<TLine>& lines) {
  std::ostringstream out;
  for (const TLine& l : lines) out << l.id << '\t' << l.category << '\t' << l.text << '\n';
  return out.str();
}

class TLinesAdapter : public TDorvSyncAdapter {
 public:
  explicit TLinesAdapter(std::filesystem::path folder) : folder_(std::move(folder)) {}

  std::vector<TDorvSyncItem> ReadDesktop() override {
    std::vector<TDorvSyncItem> items;
    for (TLine& l : ReadLines(folder_ / "Items.txt"))
      items.push_back({l.id, l.category, std::nullopt, std::move(l.text)});
    return items;
  }
  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    fields.FieldByName("Text")->SetAsString(std::any_cast<std::string>(item.value));
  }
  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem*) override {
    TDorvSyncItem item;
    item.value = fields.FieldByName("Text")->GetAsString();
    return item;
  }
  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    writer.MakeFolders(folder_);
    std::vector<TLine> lines;
    for (const TDorvSyncItem& i : live)
      lines.push_back({i.id, i.category.value_or(""), std::any_cast<std::string>(i.value)});
    writer.Write(folder_ / "Items.txt", Lines(lines));
    if (archived.empty()) return;
    std::map<std::uint32_t, TLine> archive;
    for (TLine& l : ReadLines(folder_ / "Archive.txt")) archive[l.id] = std::move(l);
    for (const TDorvSyncItem& i : archived)
      archive[i.id] = {i.id, i.category.value_or(""), std::any_cast<std::string>(i.value)};
    lines.clear();
    for (auto& [id, l] : archive) lines.push_back(l);
    writer.Write(folder_ / "Archive.txt", Lines(lines));
  }

 private:
  std::filesystem::path folder_;
};

class TLinesModule : public TComponent {
 public:
  explicit TLinesModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), db_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("Lines");
    db_->SetFileName("LinesDB");
    db_->AddField("Text", pftString, 0);
    AddCategoryFields(db_->AppInfoFields());
    conduit_->SetOnOpenConduit([this](std::int32_t&) {
      const std::filesystem::path folder = std::filesystem::path(conduit_->PathName()) / "Lines";
      std::filesystem::create_directories(folder);
      TLinesAdapter adapter(folder);
      TDorvMirrorSync(*db_, adapter, folder, "LinesDB").Run(*conduit_);
    });
  }

 private:
  TDorvConduit* conduit_;  // owned by this module
  TDorvConduitDb* db_;     // owned by this module
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TLinesModule)
