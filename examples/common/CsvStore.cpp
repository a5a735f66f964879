#include "CsvStore.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <utility>

namespace fernwick::examples {
namespace {

std::uint32_t IdOf(TCsvRow& row) {
  return static_cast<std::uint32_t>(std::strtoul(row["Id"].c_str(), nullptr, 10));
}

// The rows of `items`, their Id, Category and Private cells as the items
// say.
std::vector<TCsvRow> Rows(const std::vector<TDorvSyncItem>& items, bool archive) {
  std::vector<TCsvRow> rows;
  for (const TDorvSyncItem& item : items) {
    TCsvRow& row = rows.emplace_back(std::any_cast<const TCsvRow&>(item.value));
    row["Id"] = std::to_string(item.id);
    // An archived record's category bits hold the archive flag.
    row["Category"] = archive ? std::string() : item.category.value_or(std::string());
    row["Private"] = std::string(item.secret.value_or(false) ? "1" : "0");
  }
  return rows;
}

}  // namespace

TCsvStore::TCsvStore(std::filesystem::path file, std::filesystem::path archive,
                     std::vector<std::string> columns, std::set<std::string> texts)
    : file_(std::move(file)),
      archive_(std::move(archive)),
      columns_(std::move(columns)),
      texts_(std::move(texts)),
      table_(columns_, texts_) {}

std::vector<TDorvSyncItem> TCsvStore::Read() {
  std::vector<TDorvSyncItem> items;
  for (TCsvRow& row : table_.Read(file_, "Id")) {
    TDorvSyncItem& item = items.emplace_back();
    item.id = IdOf(row);
    if (table_.Has("Category")) item.category = row["Category"];
    if (table_.Has("Private")) item.secret = row["Private"] == "1";
    item.value = std::move(row);
  }
  return items;
}

void TCsvStore::Write(const std::vector<TDorvSyncItem>& live,
                      const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) {
  writer.MakeFolders(file_.parent_path());
  writer.Write(file_, table_.Text(Rows(live, false)));
  // The archive keeps its rows by Id: a record archived again (a
  // synchronisation cut short before the purge) replaces its row.
  TCsvTable archive(columns_, texts_);
  std::map<std::uint32_t, TDorvSyncItem> rows;
  for (TCsvRow& row : archive.Read(archive_)) {
    const std::uint32_t id = IdOf(row);
    rows[id] = TDorvSyncItem{id, row["Category"], row["Private"] == "1", std::move(row)};
  }
  for (const TDorvSyncItem& item : archived) rows[item.id] = item;
  std::vector<TDorvSyncItem> all;
  for (auto& [id, item] : rows) all.push_back(std::move(item));
  writer.Write(archive_, archive.Text(Rows(all, true)));
}

}  // namespace fernwick::examples
