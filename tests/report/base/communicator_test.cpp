#include "report/base/communicator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "report/base/errors.h"

namespace parvel::report {
namespace {

// A communicator under another class name, with an optional listener sort key.
class TNamed : public TppCommunicator {
 public:
  TNamed(TComponent* owner, std::string className, const std::string& name = "", std::string sortKey = "")
      : TppCommunicator(owner), class_name_(std::move(className)), sort_key_(std::move(sortKey)) {
    SetName(name);
  }
  std::string ClassName() const override { return class_name_; }
  std::string EventListenerSortKey() const override { return sort_key_; }
  void DesignStateChanged() override { ++design_state_changes; }
  int design_state_changes = 0;

 private:
  std::string class_name_;
  std::string sort_key_;
};

std::vector<const TppCommunicator*> ListenersOf(const TppCommunicator& c) {
  std::vector<const TppCommunicator*> result;
  for (int i = 0; i < c.EventListenerCount(); ++i) result.push_back(c.EventListeners(i));
  return result;
}

// ---- links

TEST(CommunicatorLinks, LinkingTwiceKeepsOneLinkEachWayAndUnlinkEmptiesBoth) {
  TppCommunicator a;
  TppCommunicator b;
  a.Link(&b);
  a.Link(&b);
  b.Link(&a);
  EXPECT_EQ(a.LinkCount(), 1);
  EXPECT_EQ(b.LinkCount(), 1);
  EXPECT_TRUE(b.IsLinkedTo(&a));
  b.Unlink(&a);
  EXPECT_EQ(a.LinkCount(), 0);
  EXPECT_EQ(b.LinkCount(), 0);
  a.Link(&a);
  EXPECT_EQ(a.LinkCount(), 0);
}

TEST(CommunicatorLinks, FreeingAnObjectTakesItOutOfEveryLinkAndListenerList) {
  TppCommunicator sender;
  TppCommunicator other;
  std::vector<std::pair<TppCommunicator*, TppOperationType>> told;
  other.OnLinkNotify = [&](TppCommunicator* self, TppCommunicator* from, TppOperationType op) {
    EXPECT_EQ(self, &other);
    told.emplace_back(from, op);
  };
  auto doomed = std::make_unique<TppCommunicator>();
  TppCommunicator* doomedPtr = doomed.get();
  doomed->SetEventMask({1});
  sender.AddEventListener(doomed.get());
  doomed->AddEventListener(&other);
  other.Link(doomed.get());
  doomed.reset();
  EXPECT_EQ(sender.LinkCount(), 0);
  EXPECT_EQ(sender.EventListenerCount(), 0);
  EXPECT_EQ(other.LinkCount(), 0);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].first, doomedPtr);
  EXPECT_EQ(told[0].second, ppopRemove);
  sender.SendEvent(&sender, 1);  // nothing left to reach; ASan would catch a dangling entry
}

TEST(CommunicatorLinks, BroadcastRunsFromTheLastLinkToTheFirst) {
  TppCommunicator hub;
  TppCommunicator first;
  TppCommunicator second;
  TppCommunicator third;
  std::vector<TppCommunicator*> order;
  for (TppCommunicator* c : {&first, &second, &third}) {
    hub.Link(c);
    c->OnLinkNotify = [&order](TppCommunicator* self, TppCommunicator*, TppOperationType op) {
      EXPECT_EQ(op, ppopUserNameChange);
      order.push_back(self);
    };
  }
  // One receiver drops the one told after it: that one is not told.
  second.OnLinkNotify = [&](TppCommunicator* self, TppCommunicator*, TppOperationType) {
    order.push_back(self);
    hub.Unlink(&first);
  };
  hub.BroadcastToLinks(&hub, ppopUserNameChange);
  EXPECT_EQ(order, (std::vector<TppCommunicator*>{&third, &second}));
}

TEST(CommunicatorLinks, OtherOperationsKeepTheLinks) {
  TppCommunicator a;
  TppCommunicator b;
  a.Link(&b);
  b.LinkNotify(&a, ppopDataPipelineChange);
  EXPECT_TRUE(b.IsLinkedTo(&a));
  b.LinkNotify(&a, ppopRemove);
  EXPECT_FALSE(b.IsLinkedTo(&a));
  EXPECT_TRUE(a.IsLinkedTo(&b));  // operation 0 does not tell the sender
  a.Unlink(&b);
}

// ---- events

struct EventFixture : ::testing::Test {
  TppCommunicator sender;
  std::vector<std::string> received;
  void Listen(TppCommunicator& listener, const std::string& tag, std::initializer_list<int> mask) {
    listener.SetEventMask(mask);
    listener.OnEventReceived = [this, tag](TppCommunicator*, TppCommunicator* from, int id,
                                           TraParamList* params) {
      EXPECT_EQ(from, &sender);
      EXPECT_EQ(params, nullptr);
      received.push_back(tag + ":" + std::to_string(id));
    };
    sender.AddEventListener(&listener);
  }
};

TEST_F(EventFixture, EventsReachListenersWhoseMaskHoldsThem) {
  TppCommunicator a;
  TppCommunicator b;
  Listen(a, "a", {17, 255});
  Listen(b, "b", {17});
  sender.AddEventListener(&a);
  EXPECT_EQ(sender.EventListenerCount(), 2);
  EXPECT_TRUE(a.IsLinkedTo(&sender));
  sender.SendEvent(&sender, 17);
  sender.SendEvent(&sender, 255);
  sender.SendEvent(&sender, 18);
  sender.SendEvent(&sender, 300);
  sender.SendEvent(&sender, -1);
  EXPECT_EQ(received, (std::vector<std::string>{"a:17", "b:17", "a:255"}));
  EXPECT_TRUE(sender.IsEventListenedTo(255));
  EXPECT_FALSE(sender.IsEventListenedTo(18));
  EXPECT_FALSE(sender.IsEventListenedTo(300));
  sender.RemoveEventListener(&a);
  EXPECT_EQ(sender.EventListenerCount(), 1);
  EXPECT_FALSE(a.IsLinkedTo(&sender));
}

TEST_F(EventFixture, ListenersLeavingDuringDeliveryMakeNobodyMissOrRepeatTheEvent) {
  TppCommunicator a;
  TppCommunicator b;
  TppCommunicator c;
  auto d = std::make_unique<TppCommunicator>();
  Listen(a, "a", {5});
  Listen(b, "b", {5});
  Listen(c, "c", {5});
  Listen(*d, "d", {5});
  // b leaves itself, then c frees d, which stands behind it.
  b.OnEventReceived = [&](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
    received.push_back("b:" + std::to_string(id));
    sender.RemoveEventListener(&b);
  };
  c.OnEventReceived = [&](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
    received.push_back("c:" + std::to_string(id));
    d.reset();
  };
  sender.SendEvent(&sender, 5);
  EXPECT_EQ(received, (std::vector<std::string>{"a:5", "b:5", "c:5"}));
  EXPECT_EQ(ListenersOf(sender), (std::vector<const TppCommunicator*>{&a, &c}));
}

TEST_F(EventFixture, AListenerRemovingOneBehindItIsNotServedTwice) {
  TppCommunicator a;
  TppCommunicator b;
  TppCommunicator c;
  Listen(a, "a", {5});
  Listen(b, "b", {5});
  Listen(c, "c", {5});
  b.OnEventReceived = [&](TppCommunicator*, TppCommunicator*, int, TraParamList*) {
    received.push_back("b");
    sender.RemoveEventListener(&c);
  };
  sender.SendEvent(&sender, 5);
  EXPECT_EQ(received, (std::vector<std::string>{"a:5", "b"}));
}

TEST(CommunicatorEvents, ListenersWithSortKeysAreKeptInCaseInsensitiveKeyOrder) {
  TComponent owner;
  TppCommunicator sender;
  auto* keyedB = &owner.Add(std::make_unique<TNamed>(nullptr, "TppX", "", "beta"));
  auto* plain1 = &owner.Add(std::make_unique<TNamed>(nullptr, "TppX"));
  auto* keyedA = &owner.Add(std::make_unique<TNamed>(nullptr, "TppX", "", "Alpha"));
  auto* plain2 = &owner.Add(std::make_unique<TNamed>(nullptr, "TppX"));
  sender.AddEventListener(keyedB);
  sender.AddEventListener(plain1);  // an empty key is appended without sorting
  EXPECT_EQ(ListenersOf(sender), (std::vector<const TppCommunicator*>{keyedB, plain1}));
  sender.AddEventListener(keyedA);
  sender.AddEventListener(plain2);
  EXPECT_EQ(ListenersOf(sender), (std::vector<const TppCommunicator*>{plain1, keyedA, keyedB, plain2}));
}

// ---- user names

TEST(CommunicatorUserNames, DefaultUserNameFollowsTheClassNameRule) {
  struct Case {
    const char* className;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"TppLabel", "ppLabel3", "Label3"},   {"TppLabel", "Total", "Total"},
      {"TppLabel", "raLabel3", "raLabel3"}, {"TppLabel", "", "Label1"},  // no valid name: a unique one
      {"TppDBText", "pp", "DBText1"},                                    // "pp" leaves nothing valid
  };
  for (const Case& c : cases) {
    TComponent owner;
    TNamed object(&owner, c.className, c.name);
    EXPECT_EQ(object.UserName(), c.expected) << c.name;
    EXPECT_EQ(object.DefaultUserName(), c.expected) << c.name;
  }
}

TEST(CommunicatorUserNames, AUniqueUserNameSkipsNumbersOfNamesAndOfUserNames) {
  TComponent owner;
  TNamed first(&owner, "TppLabel", "ppLabel1");  // user name Label1
  TNamed shape(&owner, "TppShape", "Label2");    // another class bearing the user name Label2
  TNamed named(&owner, "TppLabel", "Label3");    // a same-class Name with number 3
  named.SetUserName("Custom");
  TNamed fresh(&owner, "TppLabel");
  EXPECT_EQ(first.UserName(), "Label1");
  EXPECT_EQ(fresh.UserName(), "Label4");
  EXPECT_EQ(fresh.MakeUniqueUserName(&fresh), "Label4");
}

TEST(CommunicatorUserNames, SettingATakenUserNameFollowsTheNumberRule) {
  TComponent owner;
  TNamed label(&owner, "TppLabel", "Label");
  TNamed label1(&owner, "TppLabel", "Label1");
  TNamed target(&owner, "TppLabel", "Target");
  std::vector<TppOperationType> ops;
  TppCommunicator watcher;
  watcher.Link(&target);
  watcher.OnLinkNotify = [&](TppCommunicator*, TppCommunicator* from, TppOperationType op) {
    EXPECT_EQ(from, &target);
    ops.push_back(op);
  };

  target.SetUserName("label");  // taken ignoring case, ends in a letter: next free number
  EXPECT_EQ(target.UserName(), "label2");
  target.SetUserName("Label1");  // taken, ends in 1: ignored
  EXPECT_EQ(target.UserName(), "label2");
  target.SetUserName("not valid");
  EXPECT_EQ(target.UserName(), "label2");
  target.SetUserName("Free");
  EXPECT_EQ(target.UserName(), "Free");
  EXPECT_EQ(ops, (std::vector<TppOperationType>{ppopUserNameChange, ppopUserNameChange}));
  EXPECT_TRUE(target.IsUserNameValid("Free"));
  EXPECT_FALSE(target.IsUserNameValid("LABEL"));
  EXPECT_EQ(target.FindByUserName("LABEL1"), &label1);
}

TEST(CommunicatorUserNames, RenamingRederivesOnlyADefaultUserName) {
  TComponent owner;
  TNamed label(&owner, "TppLabel", "ppLabel1");
  label.SetName("ppLabel7");
  EXPECT_EQ(label.UserName(), "Label7");
  label.SetUserName("Custom");
  label.SetName("ppLabel8");
  EXPECT_EQ(label.UserName(), "Custom");
  // While a stream is read the stored user name stands.
  TNamed read(&owner, "TppLabel", "ppLabel2");
  read.IncludeState(csReading | csLoading);
  read.SetName("ppLabel9");
  read.ExcludeState(csReading | csLoading);
  EXPECT_EQ(read.UserName(), "Label2");
}

TEST(CommunicatorUserNames, MakeUniqueNameAndChangeOwner) {
  TComponent first;
  TComponent second;
  TNamed a(&first, "TppLabel", "ppLabel1");
  EXPECT_EQ(a.MakeUniqueName("TppLabel"), "ppLabel2");
  TNamed clash(&second, "TppLabel", "Other");
  clash.SetUserName("Label1");
  a.ChangeOwner(&second);
  EXPECT_EQ(a.Owner(), &second);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_NE(a.UserName(), "Label1");
  EXPECT_TRUE(a.IsUserNameValid(a.UserName()));
  // A Name taken in the new owner refuses the move and leaves the object where it was.
  TNamed b(&first, "TppLabel", "Other");
  EXPECT_THROW(b.ChangeOwner(&second), EReportError);
  EXPECT_EQ(b.Owner(), &first);
}

TEST(CommunicatorDesignStates, TheHookRunsOnlyWhenTheSetChanges) {
  TNamed c(nullptr, "TppX");
  c.AddDesignStates(dsDesigning);
  c.AddDesignStates(dsDesigning);
  c.AddDesignStates(dsDesigning | dsPasting);
  c.RemoveDesignStates(dsTemplateLoading);
  c.RemoveDesignStates(dsDesigning | dsPasting);
  EXPECT_EQ(c.design_state_changes, 3);
  EXPECT_EQ(c.DesignState(), 0);
}

}  // namespace
}  // namespace parvel::report
