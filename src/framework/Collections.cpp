#include <algorithm>

#include <fernwick/framework/Collections.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

TCollectionItem::TCollectionItem(TCollection* collection) { SetCollection(collection); }

TCollectionItem::~TCollectionItem() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection_ == collection) return;
  if (collection_ != nullptr) collection_->RemoveItem(this);
  if (collection != nullptr) collection->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  const auto& items = collection_->items_;
  const auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int index) {
  const int current = Index();
  if (current < 0) return;
  index = std::clamp(index, 0, collection_->Count() - 1);
  if (index == current) return;
  collection_->MoveItem(current, index);
}

void TCollectionItem::SetDisplayName(const std::string& /*value*/) { Changed(false); }

void TCollectionItem::Changed(bool all_items) {
  if (collection_ == nullptr) return;
  collection_->Changed(all_items ? nullptr : this);
}

TCollection::TCollection(ItemFactory factory) : factory_(factory) {}

TCollection::~TCollection() {
  ++update_count_;  // no notifications while tearing down
  Clear();
}

TCollectionItem* TCollection::Add() { return factory_(*this); }

TCollectionItem* TCollection::Insert(int index) {
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  return items_[static_cast<std::size_t>(index)];
}

void TCollection::SetItem(int index, const TPersistent& value) { Items(index)->Assign(value); }

void TCollection::Delete(int index) { delete Items(index); }

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty()) delete items_.back();
  EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* item : items_)
    if (item->id_ == id) return item;
  return nullptr;
}

void TCollection::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TCollection*>(&source);
  if (other == nullptr || other == this) {
    if (other == nullptr) TPersistent::Assign(source);
    return;
  }
  BeginUpdate();
  try {
    Clear();
    for (const TCollectionItem* item : other->items_) Add()->Assign(*item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed(nullptr);
}

void TCollection::Update(TCollectionItem* /*item*/) {}

void TCollection::Changed(TCollectionItem* item) {
  if (update_count_ == 0) Update(item);
}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = next_id_++;
  Changed(nullptr);
}

void TCollection::RemoveItem(TCollectionItem* item) {
  const auto it = std::find(items_.begin(), items_.end(), item);
  if (it != items_.end()) items_.erase(it);
  item->collection_ = nullptr;
  Changed(nullptr);
}

void TCollection::MoveItem(int from, int to) {
  TCollectionItem* item = items_[static_cast<std::size_t>(from)];
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, item);
  Changed(nullptr);
}

}  // namespace fernwick
