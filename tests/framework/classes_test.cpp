#include <gtest/gtest.h>

#include <fernwick/framework/Classes.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {
namespace {

class Probe : public TComponent {
 public:
  Probe(TComponent* owner, int* destroyed) : TComponent(owner), destroyed_(destroyed) {}
  ~Probe() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(TComponent, OwnerDestroysOwnedComponents) {
  int destroyed = 0;
  auto* module = new TComponent(nullptr);
  new Probe(module, &destroyed);
  new Probe(module, &destroyed);
  EXPECT_EQ(module->ComponentCount(), 2);
  delete module;
  EXPECT_EQ(destroyed, 2);
}

TEST(TComponent, ComponentDestroyedFirstLeavesItsOwner) {
  int destroyed = 0;
  TComponent module(nullptr);
  auto* probe = new Probe(&module, &destroyed);
  delete probe;
  EXPECT_EQ(module.ComponentCount(), 0);
  EXPECT_EQ(destroyed, 1);
}

TEST(TPersistent, AssignBetweenUnrelatedClassesRaises) {
  TComponent a(nullptr), b(nullptr);
  EXPECT_THROW(a.Assign(b), EConvertError);
}

}  // namespace
}  // namespace fernwick
