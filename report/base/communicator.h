#pragma once
// The base of every report object that others refer to: symmetric links through which each
// side learns when the other goes or is renamed, numbered events sent to listeners, and the
// user name shown to users.
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/base/component.h"

namespace parvel::report {

class TppDesigner;   // the report designer; none exists without a design surface
class TraParamList;  // the parameter list of runtime property access; callers pass nullptr

// Link notification operations (a byte).
using TppOperationType = uint8_t;
inline constexpr TppOperationType ppopRemove = 0;  // the sender is being freed
inline constexpr TppOperationType ppopDataPipelineChange = 2;
inline constexpr TppOperationType ppopUserNameChange = 3;
inline constexpr TppOperationType ppopTemplateLoading = 4;
inline constexpr TppOperationType ppopLanguageChange = 5;

// Designer states: a set of 16 flags that only the designer sets.
using TppDesignStates = uint16_t;
enum TppDesignState : uint16_t {
  dsDesigning = 1u << 0,
  dsTemplateLoading = 1u << 1,
  dsPasting = 1u << 2,
};

using TppEventMask = std::bitset<256>;

class TppCommunicator : public TComponent {
 public:
  using TppLinkNotifyEvent =
      std::function<void(TppCommunicator* self, TppCommunicator* sender, TppOperationType operation)>;
  using TppEventReceivedEvent =
      std::function<void(TppCommunicator* self, TppCommunicator* sender, int eventId, TraParamList* params)>;

  explicit TppCommunicator(TComponent* owner = nullptr);
  ~TppCommunicator() override;

  std::string ClassName() const override { return "TppCommunicator"; }
  void SetName(const std::string& name) override;
  void Loaded() override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

  // Virtual operations in their order.
  virtual std::string UserName() const;
  virtual void SetDesigner(TppDesigner* designer);
  virtual void DesignStateChanged() {}
  virtual void PropertyChange() {}
  virtual void SetUserName(const std::string& userName);
  virtual void ChangeOwner(TComponent* newOwner);
  // A component Name not borne by any component of the owner: the class name without its
  // "T" followed by the smallest free positive number ("ppLabel1").
  virtual std::string MakeUniqueName(const std::string& className) const;
  virtual void LinkNotify(TppCommunicator* sender, TppOperationType operation);
  virtual void EventNotify(TppCommunicator* sender, int eventId, TraParamList* params);
  virtual void RemoveDesignStates(TppDesignStates states);
  virtual void AddDesignStates(TppDesignStates states);
  virtual bool IsUserNameValid(const std::string& userName) const;
  virtual TppCommunicator* FindByUserName(const std::string& userName) const;
  virtual std::string MakeUniqueUserName(const TppCommunicator* object) const;
  virtual std::string EventListenerSortKey() const { return ""; }

  // The communicator that answers user-name questions for this one (a relative's parent).
  virtual TppCommunicator* ParentCommunicator() const { return nullptr; }
  // True for the classes that stream `UserName` among their published properties.
  virtual bool PublishesUserName() const { return false; }

  // Links.
  void Link(TppCommunicator* other);
  void Unlink(TppCommunicator* other);
  void BroadcastToLinks(TppCommunicator* sender, TppOperationType operation);
  int LinkCount() const { return links_ ? static_cast<int>(links_->size()) : 0; }
  TppCommunicator* Links(int index) const;
  bool IsLinkedTo(const TppCommunicator* other) const;

  // Events.
  void AddEventListener(TppCommunicator* listener);
  void RemoveEventListener(TppCommunicator* listener);
  int EventListenerCount() const { return listeners_ ? static_cast<int>(listeners_->size()) : 0; }
  TppCommunicator* EventListeners(int index) const;
  void SendEvent(TppCommunicator* sender, int eventId, TraParamList* params = nullptr);
  bool IsEventListenedTo(int eventId) const;
  const TppEventMask& EventMask() const { return event_mask_; }
  void SetEventMask(const TppEventMask& mask) { event_mask_ = mask; }
  void SetEventMask(std::initializer_list<int> events);

  // The user name this object gets by default: its Name, without the two letters after the
  // class name's "T" when it starts with them ("ppLabel3" of a TppLabel gives "Label3"), or a
  // unique one when that is not a valid, free user name.
  std::string DefaultUserName() const;

  TppDesignStates DesignState() const { return design_state_; }
  TppDesigner* Designer() const { return designer_; }

  // Published handlers: each is called before the numbered event or the base's own reaction.
  TppLinkNotifyEvent OnLinkNotify;
  TppEventReceivedEvent OnEventReceived;

 protected:
  // Stores a user name without the setter's checks and tells the links when it changed.
  void AssignUserName(const std::string& userName);
  // Destruction as a communicator: the destroying state, then every link is told (operation 0),
  // then the lists go. Runs once; a subclass whose linked objects must still see all of it
  // calls it first thing in its own destructor.
  void BeginDestruction();
  // The user name that `object` would get in `owner`'s components (the root rule).
  static std::string UniqueUserNameAmong(const TComponent* owner, const TppCommunicator* object);

 private:
  void RemoveFromLists(TppCommunicator* other);
  std::string DerivedFromName() const;

  std::string user_name_;
  std::unique_ptr<std::vector<TppCommunicator*>> links_;
  std::unique_ptr<std::vector<TppCommunicator*>> listeners_;
  TppEventMask event_mask_;
  TppDesignStates design_state_ = 0;
  TppDesigner* designer_ = nullptr;
  bool destruction_begun_ = false;
};

}  // namespace parvel::report
