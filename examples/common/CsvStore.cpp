#include "CsvStore.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string_view>
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
      table_(columns_, texts_),
      archive_table_(columns_, texts_) {}

std::vector<TDorvSyncItem> TCsvStore::Read() {
  std::vector<TDorvSyncItem> items;
  for (TCsvRow& row : table_.Read(file_, "Id")) {
    TDorvSyncItem& item = items.emplace_back();
    item.id = IdOf(row);
    if (table_.Has("Category")) item.category = row["Category"];
    if (table_.Has("Private")) item.secret = row["Private"] == "1";
    item.value = std::move(row);
  }
  // Read now, not when writing: the archive is rewritten after the handheld
  // was, and one saved without its Id column would have lost every row
  // then (all read as id 0, one kept).
  archive_rows_ = archive_table_.Read(archive_, "Id");
  return items;
}

std::uint64_t TCsvStore::Fingerprint(const TDorvSyncItem& item) const {
  const TCsvRow& row = std::any_cast<const TCsvRow&>(item.value);
  std::uint64_t print = 14695981039346656037u;
  const auto add = [&](std::string_view text) {
    for (const char c : text) print = (print ^ static_cast<unsigned char>(c)) * 1099511628211u;
  };
  for (const std::string& column : columns_) {
    if (column == "Id" || column == "Category" || column == "Private") continue;
    // A missing cell leaves the record's field as it is, an empty one
    // empties it: they differ.
    const auto cell = row.find(column);
    add(cell == row.end() ? std::string_view("\0", 1) : std::string_view("\1", 1));
    if (cell != row.end()) add(cell->second);
    add(std::string_view("\0", 1));
  }
  return print != 0 ? print : 1;
}

void TCsvStore::Write(const std::vector<TDorvSyncItem>& live,
                      const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) {
  writer.MakeFolders(file_.parent_path());
  writer.Write(file_, table_.Text(Rows(live, false)));
  if (archived.empty()) return;
  // The archive keeps its rows by Id: a record archived again (a
  // synchronisation cut short before the purge) replaces its row; the newly
  // archived ones follow in id order.
  std::map<std::uint32_t, const TDorvSyncItem*> fresh;
  for (const TDorvSyncItem& item : archived) fresh[item.id] = &item;
  std::vector<TDorvSyncItem> all;
  for (TCsvRow& row : archive_rows_) {
    const std::uint32_t id = IdOf(row);
    if (auto it = fresh.find(id); id != 0 && it != fresh.end()) {
      if (it->second != nullptr) all.push_back(*it->second);
      it->second = nullptr;  // a second row of that id goes
      continue;
    }
    all.push_back(TDorvSyncItem{id, row["Category"], row["Private"] == "1", std::move(row)});
  }
  for (auto& [id, item] : fresh)
    if (item != nullptr) all.push_back(*item);
  writer.Write(archive_, archive_table_.Text(Rows(all, true)));
}

}  // namespace fernwick::examples
