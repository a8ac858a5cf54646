#include "report/base/component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "report/base/errors.h"

namespace parvel::report {
namespace {

std::vector<std::string> g_freed;

class TLogged : public TComponent {
 public:
  TLogged(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
  ~TLogged() override { g_freed.push_back(Name()); }
};

TEST(ComponentTest, OwnerFreesItsComponentsInInsertionOrder) {
  g_freed.clear();
  {
    TComponent owner;
    owner.Add(std::make_unique<TLogged>(nullptr, "b"));
    owner.Add(std::make_unique<TLogged>(nullptr, "a"));
    // Built with its owner: it joins the list at once, and Add finds it there.
    owner.Add(std::make_unique<TLogged>(&owner, "c"));
    ASSERT_EQ(owner.ComponentCount(), 3);
    EXPECT_EQ(owner.Components(1)->Name(), "a");
    EXPECT_EQ(owner.FindComponent("C"), owner.Components(2));
  }
  EXPECT_EQ(g_freed, (std::vector<std::string>{"b", "a", "c"}));
}

TEST(ComponentTest, ComponentFreedByItsHolderLeavesTheOwnersList) {
  g_freed.clear();
  TComponent owner;
  owner.Add(std::make_unique<TLogged>(nullptr, "kept"));
  auto held = std::make_unique<TLogged>(&owner, "held");
  ASSERT_EQ(owner.ComponentCount(), 2);
  held.reset();
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.FindComponent("held"), nullptr);
  EXPECT_EQ(g_freed, (std::vector<std::string>{"held"}));
}

TEST(ComponentTest, RemoveAndInsertMoveAComponentBetweenOwners) {
  TComponent first;
  TComponent second;
  auto* item = &first.Add(std::make_unique<TLogged>(nullptr, "item"));
  first.RemoveComponent(item);
  EXPECT_EQ(item->Owner(), nullptr);
  second.InsertComponent(item);
  EXPECT_EQ(item->Owner(), &second);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(second.ComponentIndex(item), 0);
}

TEST(ComponentTest, BadOrTakenNamesAreRefusedAndLeaveTheNameAsItWas) {
  TComponent owner;
  owner.Add(std::make_unique<TLogged>(nullptr, "Label1"));
  auto* other = &owner.Add(std::make_unique<TLogged>(nullptr, "Other"));
  for (const std::string bad : {"1abc", "a b", "a.b", "label1"}) {
    EXPECT_THROW(other->SetName(bad), EReportError) << bad;
    EXPECT_EQ(other->Name(), "Other") << bad;
  }
  other->SetName("");
  EXPECT_EQ(other->Name(), "");
  // A component whose name is taken cannot join the owner.
  TLogged stray(nullptr, "LABEL1");
  EXPECT_THROW(owner.InsertComponent(&stray), EReportError);
  EXPECT_EQ(stray.Owner(), nullptr);
  // One handed over is freed with the refusal, and the list stays as it was.
  g_freed.clear();
  EXPECT_THROW(owner.Add(std::make_unique<TLogged>(nullptr, "label1")), EReportError);
  EXPECT_EQ(g_freed, (std::vector<std::string>{"label1"}));
  EXPECT_EQ(owner.ComponentCount(), 2);
}

TEST(ComponentTest, StatesAndTagAndLoadedEndsLoading) {
  TComponent component;
  component.SetTag(-7);
  EXPECT_EQ(component.Tag(), -7);
  component.IncludeState(csReading | csLoading);
  EXPECT_TRUE(component.IsReading());
  EXPECT_TRUE(component.IsLoading());
  component.Loaded();
  EXPECT_FALSE(component.IsLoading());
  EXPECT_TRUE(component.IsReading());
  EXPECT_EQ(component.ClassName(), "TComponent");
}

TEST(ComponentTest, LivenessExpiresWithTheObject) {
  auto component = std::make_unique<TComponent>();
  std::weak_ptr<const void> alive = component->Liveness();
  EXPECT_FALSE(alive.expired());
  component.reset();
  EXPECT_TRUE(alive.expired());
}

}  // namespace
}  // namespace parvel::report
