#include "report/base/relative.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "report/base/errors.h"
#include "tests/report/base/model_test_classes.h"

namespace parvel::report {
namespace {

using doubles::FreedLog;
using doubles::TTestItem;

TTestItem* Item(TComponent* owner, const std::string& name, TppRelative* parent = nullptr) {
  auto made = std::make_unique<TTestItem>(nullptr);
  made->SetName(name);
  // Without an owner the item is held by its parent.
  TTestItem* item = owner != nullptr ? &owner->Add(std::move(made)) : made.release();
  if (parent != nullptr) item->SetParent(parent);
  return item;
}

std::vector<std::string> ChildNames(const TppRelative& parent) {
  std::vector<std::string> names;
  for (int i = 0; i < parent.ChildCount(); ++i) names.push_back(parent.Children(i)->Name());
  return names;
}

TEST(RelativeTest, ARelativeFreesItsChildrenLastToFirstWhileFreeingChildren) {
  FreedLog().clear();
  auto parent = std::make_unique<TTestItem>();
  parent->SetName("parent");
  std::vector<TTestItem*> kids;
  for (const char* name : {"a", "b", "c"}) kids.push_back(Item(nullptr, name, parent.get()));
  Item(nullptr, "grandchild", kids[0]);
  TTestItem* raw = parent.get();
  bool sawFreeing = false;
  kids[1]->on_free = [&] { sawFreeing = raw->FreeingChildren(); };
  EXPECT_FALSE(parent->FreeingChildren());
  parent.reset();
  EXPECT_TRUE(sawFreeing);
  // Each name is logged as its destruction begins, before it frees its own children.
  EXPECT_EQ(FreedLog(), (std::vector<std::string>{"parent", "c", "b", "a", "grandchild"}));
}

TEST(RelativeTest, AChildThatIsAlsoAComponentIsFreedOnceWhoeverGoesFirst) {
  FreedLog().clear();
  {  // the parent first: the owner's list loses the child as it goes
    TComponent owner;
    auto parent = std::make_unique<TTestItem>();
    parent->SetName("p");
    auto* child = Item(&owner, "c", parent.get());
    EXPECT_TRUE(child->Owner() == &owner && child->Parent() == parent.get());
    parent.reset();
    EXPECT_EQ(owner.ComponentCount(), 0);
  }
  EXPECT_EQ(FreedLog(), (std::vector<std::string>{"p", "c"}));
  FreedLog().clear();
  {  // the owner first, the child inserted before its parent: the child leaves the parent
    TComponent owner;
    auto* child = Item(&owner, "c");
    auto* parent = Item(&owner, "p");
    child->SetParent(parent);
  }
  EXPECT_EQ(FreedLog(), (std::vector<std::string>{"c", "p"}));
  FreedLog().clear();
  {  // the owner first, the parent inserted first: it frees the child, which leaves the owner
    TComponent owner;
    auto* parent = Item(&owner, "p");
    Item(&owner, "c", parent);
  }
  EXPECT_EQ(FreedLog(), (std::vector<std::string>{"p", "c"}));
}

TEST(RelativeTest, ParentsChildrenAndPositions) {
  TComponent owner;
  auto* first = Item(&owner, "first");
  auto* second = Item(&owner, "second");
  auto* a = Item(&owner, "a", first);
  auto* b = Item(&owner, "b", first);
  auto* c = Item(&owner, "c", first);
  EXPECT_EQ(first->ChildCount(), 3);
  EXPECT_EQ(first->AllChildCount(), 3);
  EXPECT_EQ(c->Position(), 2);
  EXPECT_EQ(second->Position(), -1);
  EXPECT_EQ(first->Children(3), nullptr);

  c->SetPosition(0);
  EXPECT_EQ(ChildNames(*first), (std::vector<std::string>{"c", "a", "b"}));
  c->SetPosition(99);  // clamped to the last index
  EXPECT_EQ(ChildNames(*first), (std::vector<std::string>{"a", "b", "c"}));
  c->SetPosition(-5);
  EXPECT_EQ(ChildNames(*first), (std::vector<std::string>{"c", "a", "b"}));

  a->SetParent(second);
  EXPECT_EQ(a->Parent(), second);
  EXPECT_EQ(ChildNames(*first), (std::vector<std::string>{"c", "b"}));
  second->InsertChild(0, b);
  EXPECT_EQ(ChildNames(*second), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(second->IndexOfChild(a), 1);
  second->RemoveChild(a);
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(a->Position(), -1);
  first->TakeOverChildren(*second);
  EXPECT_EQ(ChildNames(*first), (std::vector<std::string>{"c", "b"}));
  EXPECT_EQ(second->ChildCount(), 0);
}

TEST(RelativeTest, AnObjectWithoutAParentByNatureIgnoresSetParent) {
  struct TTopLevel : TppRelative {
    using TppRelative::TppRelative;
    bool IsTopLevel() const override { return true; }
  };
  TppRelative parent;
  TTopLevel top;
  top.SetParent(&parent);
  EXPECT_EQ(top.Parent(), nullptr);
  EXPECT_EQ(parent.ChildCount(), 0);
}

TEST(RelativeTest, ARelativeCannotBecomeItsOwnDescendant) {
  TComponent owner;
  auto* top = Item(&owner, "top");
  auto* middle = Item(&owner, "middle", top);
  EXPECT_THROW(top->SetParent(middle), EReportError);
  EXPECT_THROW(top->AddChild(top), EReportError);
  EXPECT_EQ(top->Parent(), nullptr);
  EXPECT_EQ(middle->Parent(), top);
}

TEST(RelativeTest, UserNamesAreAskedOfTheRootAndChangeOwnerTakesTheChildren) {
  TComponent first;
  TComponent second;
  auto* root = Item(&first, "root");
  auto* child = Item(&first, "child", root);
  auto* grandchild = Item(&first, "grandchild", child);
  auto* elsewhere = Item(&second, "elsewhere", child);  // another owner's object stays there
  EXPECT_EQ(grandchild->FindByUserName("ROOT"), root);
  EXPECT_EQ(elsewhere->FindByUserName("child"), child);

  root->ChangeOwner(&second);
  EXPECT_EQ(root->Owner(), &second);
  EXPECT_EQ(child->Owner(), &second);
  EXPECT_EQ(grandchild->Owner(), &second);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(second.ComponentCount(), 4);
  EXPECT_EQ(elsewhere->Parent(), child);
}

}  // namespace
}  // namespace parvel::report
