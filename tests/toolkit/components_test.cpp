#include "toolkit/components.h"

#include <gtest/gtest.h>

#include "toolkit/exceptions.h"

namespace {

// Counts its own destruction and holds a non-owning reference that a removal must clear.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, int* destroyed) : TComponent(owner), destroyed_(destroyed) {}
  ~TProbe() override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }
  TComponent* ref = nullptr;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == ref) ref = nullptr;
  }

 private:
  int* destroyed_;
};

class TPoint : public TPersistent {
 public:
  const char* ClassName() const override { return "TPoint"; }
  int x = 0;

 protected:
  void AssignTo(TPersistent& dest) const override {
    if (auto* p = dynamic_cast<TPoint*>(&dest))
      p->x = x;
    else
      TPersistent::AssignTo(dest);
  }
};

class TColour : public TPersistent {
 public:
  const char* ClassName() const override { return "TColour"; }
};

}  // namespace

TEST(Components, OwnerDestroysWhatItOwns) {
  int destroyed = 0;
  auto* owner = new TProbe(nullptr, &destroyed);
  auto* a = new TProbe(owner, &destroyed);
  new TProbe(owner, &destroyed);
  new TProbe(a, &destroyed);  // owned by an owned component
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete owner->Components(1);  // a component freed early leaves its owner's list
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(destroyed, 1);
  delete owner;
  EXPECT_EQ(destroyed, 4);
}

TEST(Components, RemovalClearsReferences) {
  int destroyed = 0;
  TProbe owner(nullptr, &destroyed);
  // Unrelated components: only FreeNotification tells the holder.
  auto* holder = new TProbe(nullptr, nullptr);
  auto* target = new TProbe(nullptr, nullptr);
  holder->ref = target;
  target->FreeNotification(holder);
  delete target;
  EXPECT_EQ(holder->ref, nullptr);
  // The notification is mutual and ends with either side: freeing the holder first must leave
  // the target nothing to call.
  auto* second = new TProbe(nullptr, nullptr);
  holder->ref = second;
  second->FreeNotification(holder);
  delete holder;
  delete second;
  // Siblings hear of each other through their owner.
  auto* sibling = new TProbe(&owner, nullptr);
  auto* gone = new TProbe(&owner, nullptr);
  sibling->ref = gone;
  delete gone;
  EXPECT_EQ(sibling->ref, nullptr);
}

TEST(Components, AssignFromUnrelatedClassRaises) {
  TPoint a, b;
  a.x = 7;
  b.Assign(a);
  EXPECT_EQ(b.x, 7);
  TColour c;
  try {
    b.Assign(c);
    FAIL() << "no error";
  } catch (const EAssignError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TColour to a TPoint");
  }
}
