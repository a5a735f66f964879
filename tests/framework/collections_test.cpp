#include <gtest/gtest.h>

#include <fernwick/framework/Collections.h>

namespace fernwick {
namespace {

class NamedItem : public TCollectionItem {
 public:
  explicit NamedItem(TCollection* collection) : TCollectionItem(collection) {}
  std::string name;
  std::string GetDisplayName() const override {
    return name.empty() ? TCollectionItem::GetDisplayName() : name;
  }
  void SetName(const std::string& value) {
    name = value;
    SetDisplayName(value);
  }
  void Assign(const TPersistent& source) override {
    if (auto* other = dynamic_cast<const NamedItem*>(&source)) {
      SetName(other->name);
    } else {
      TCollectionItem::Assign(source);
    }
  }
};

class WatchedCollection : public TOwnedCollection {
 public:
  explicit WatchedCollection(TPersistent* owner)
      : TOwnedCollection(owner, &MakeCollectionItem<NamedItem>) {}
  std::vector<TCollectionItem*> updates;

 protected:
  void Update(TCollectionItem* item) override { updates.push_back(item); }
};

NamedItem* AddNamed(TCollection& c, const std::string& name) {
  auto* item = static_cast<NamedItem*>(c.Add());
  item->SetName(name);
  return item;
}

std::string Names(const TCollection& c) {
  std::string out;
  for (int i = 0; i < c.Count(); ++i) out += c.Items(i)->DisplayName() + ",";
  return out;
}

TEST(TCollection, AddIndexMoveDeleteClear) {
  TComponent owner(nullptr);
  WatchedCollection c(&owner);
  EXPECT_EQ(c.GetOwner(), &owner);
  AddNamed(c, "a");
  NamedItem* b = AddNamed(c, "b");
  AddNamed(c, "c");
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(b->Collection(), &c);
  b->SetIndex(0);
  EXPECT_EQ(Names(c), "b,a,c,");
  b->SetIndex(99);
  EXPECT_EQ(Names(c), "a,c,b,");
  c.Delete(1);
  EXPECT_EQ(Names(c), "a,b,");
  delete b;  // an item destroyed first leaves its collection
  EXPECT_EQ(Names(c), "a,");
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
  EXPECT_THROW(c.Items(0), EListError);
}

TEST(TCollection, ChangeNotifications) {
  WatchedCollection c(nullptr);
  NamedItem* a = AddNamed(c, "");
  c.updates.clear();
  a->SetName("renamed");
  ASSERT_EQ(c.updates.size(), 1u);
  EXPECT_EQ(c.updates[0], a);
  c.updates.clear();
  c.BeginUpdate();
  AddNamed(c, "x");
  a->SetName("again");
  EXPECT_TRUE(c.updates.empty());
  c.EndUpdate();
  ASSERT_EQ(c.updates.size(), 1u);
  EXPECT_EQ(c.updates[0], nullptr);
}

TEST(TCollection, DisplayNameDefaultsToClassNameAndIdsAreUnique) {
  TCollection c(&MakeCollectionItem<NamedItem>);
  TCollectionItem* first = c.Add();
  TCollectionItem* second = c.Insert(0);
  EXPECT_EQ(first->DisplayName(), "TCollectionItem");
  EXPECT_NE(first->ID(), second->ID());
  EXPECT_EQ(c.FindItemID(first->ID()), first);
  EXPECT_EQ(c.Items(0), second);
}

TEST(TCollection, AssignCopiesEveryItem) {
  TCollection source(&MakeCollectionItem<NamedItem>);
  AddNamed(source, "one");
  AddNamed(source, "two");
  TCollection copy(&MakeCollectionItem<NamedItem>);
  AddNamed(copy, "old");
  copy.Assign(source);
  EXPECT_EQ(Names(copy), "one,two,");
  EXPECT_NE(copy.Items(0), source.Items(0));
  copy.SetItem(1, *source.Items(0));
  EXPECT_EQ(Names(copy), "one,one,");
  TComponent component(nullptr);
  EXPECT_THROW(copy.Assign(component), EConvertError);
}

}  // namespace
}  // namespace fernwick
