/// \file
/// The host framework's collections: an ordered list of items of one class that
/// the collection owns. Field lists of handheld records are collections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <fernwick/framework/Classes.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {

class TCollection;

/// An index outside a list's items.
class EListError : public Exception {
 public:
  /// Makes the exception with its message text.
  using Exception::Exception;
};

/// One item of a TCollection. An item constructed with a collection appends
/// itself to it and from then on belongs to it: the collection destroys it,
/// and destroying the item first removes it from its collection.
class TCollectionItem : public TPersistent {
 public:
  ///@{
  /// Appends the item to `collection` when it is not null.
  explicit TCollectionItem(TCollection* collection);
  ///@}
  /// Removes the item from its collection, if any.
  ~TCollectionItem() override;

  /// The collection holding this item, or null.
  TCollection* Collection() const { return collection_; }
  /// Moves the item into `collection` (null: into none), at its end.
  void SetCollection(TCollection* collection);

  /// Position of the item in its collection, -1 when it has none.
  int Index() const;
  /// Moves the item to position `index` of its collection (clamped to the
  /// valid positions); the other items keep their order.
  virtual void SetIndex(int index);

  /// A number unique within the collection, given when the item joins it.
  int ID() const { return id_; }

  ///@{
  /// The text shown for the item in lists; by default the class name.
  virtual std::string GetDisplayName() const { return ClassName(); }
  std::string DisplayName() const { return GetDisplayName(); }
  ///@}
  /// Tells the collection that the item's display text changed. Items that
  /// keep a name of their own store it first and then call this.
  virtual void SetDisplayName(const std::string& value);

  std::string ClassName() const override { return "TCollectionItem"; }

 protected:
  /// Notifies the collection that this item (or, with all_items, every item)
  /// changed.
  void Changed(bool all_items);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

/// An ordered list of items that it owns, all made by one item factory.
class TCollection : public TPersistent {
 public:
  /// Makes a new item of the collection's item class inside `collection`
  /// (the item's constructor appends it).
  using ItemFactory = TCollectionItem* (*)(TCollection& collection);

  /// An empty collection whose Add makes its items with `factory`.
  explicit TCollection(ItemFactory factory);
  /// Destroys every item.
  ~TCollection() override;

  /// Appends a new item made by the factory and returns it; the collection owns it.
  TCollectionItem* Add();
  ///@{
  /// Makes a new item and moves it to position `index`.
  TCollectionItem* Insert(int index);
  ///@}
  /// The number of items.
  int Count() const { return static_cast<int>(items_.size()); }
  /// The item at `index`; EListError "List index out of bounds (<index>)"
  /// outside 0 to Count() - 1.
  TCollectionItem* Items(int index) const;
  /// Assigns `value` into the existing item at `index` (the object stays).
  void SetItem(int index, const TPersistent& value);
  /// Destroys the item at `index`.
  void Delete(int index);
  /// Destroys every item.
  void Clear();
  /// The item with the given ID, or null.
  TCollectionItem* FindItemID(int id) const;

  /// Replaces the items by copies of those of another collection of the same
  /// item kind (each new item is assigned from its source).
  void Assign(const TPersistent& source) override;

  ///@{
  /// Change notifications are held back between BeginUpdate and the matching
  /// EndUpdate, which then reports one change of every item.
  void BeginUpdate() { ++update_count_; }
  void EndUpdate();
  int UpdateCount() const { return update_count_; }
  ///@}

  /// The persistent object this collection belongs to; none for a plain collection.
  virtual TPersistent* GetOwner() const { return nullptr; }

  std::string ClassName() const override { return "TCollection"; }

 protected:
  /// Called after an item changed (`item`) or after items were added, removed,
  /// moved or all changed (null). The default does nothing.
  virtual void Update(TCollectionItem* item);
  /// Reports a change unless updates are held back.
  void Changed(TCollectionItem* item);

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);
  void MoveItem(int from, int to);

  ItemFactory factory_;
  std::vector<TCollectionItem*> items_;
  int next_id_ = 0;
  int update_count_ = 0;
};

/// A collection that belongs to a persistent object, such as a component.
class TOwnedCollection : public TCollection {
 public:
  /// An empty collection belonging to `owner` (GetOwner answers it).
  TOwnedCollection(TPersistent* owner, ItemFactory factory) : TCollection(factory), owner_(owner) {}

  TPersistent* GetOwner() const override { return owner_; }
  std::string ClassName() const override { return "TOwnedCollection"; }

 private:
  TPersistent* owner_;
};

/// An item factory for item class T: MakeCollectionItem<TMyItem>.
template <class T>
TCollectionItem* MakeCollectionItem(TCollection& collection) {
  return new T(&collection);
}

}  // namespace fernwick
