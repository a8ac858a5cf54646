#include "report/base/communicator.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "platform/text.h"
#include "report/base/errors.h"
#include "report/base/stream.h"

namespace parvel::report {

namespace {

bool Contains(const std::vector<TppCommunicator*>* list, const TppCommunicator* item) {
  return list != nullptr && std::find(list->begin(), list->end(), item) != list->end();
}

void Erase(std::unique_ptr<std::vector<TppCommunicator*>>& list, const TppCommunicator* item) {
  if (!list) return;
  std::erase(*list, item);
  if (list->empty()) list.reset();
}

// The number after `base` at the start of `name`, or 0 when there is none.
long PositiveSuffix(const std::string& name, const std::string& base) {
  if (name.size() <= base.size() || name.compare(0, base.size(), base) != 0) return 0;
  const std::string digits = name.substr(base.size());
  if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) return 0;
  return std::stol(digits);
}

}  // namespace

TppCommunicator::TppCommunicator(TComponent* owner) : TComponent(owner) {}

TppCommunicator::~TppCommunicator() { BeginDestruction(); }

void TppCommunicator::BeginDestruction() {
  if (destruction_begun_) return;
  destruction_begun_ = true;
  Destroying();
  BroadcastToLinks(this, ppopRemove);
  // Objects that did not drop us when told (a handler that kept the link) lose us here.
  if (links_) {
    std::vector<TppCommunicator*> remaining = *links_;
    for (TppCommunicator* other : remaining) other->RemoveFromLists(this);
  }
  links_.reset();
  listeners_.reset();
}

void TppCommunicator::RemoveFromLists(TppCommunicator* other) {
  Erase(links_, other);
  Erase(listeners_, other);
}

// ---- links

void TppCommunicator::Link(TppCommunicator* other) {
  if (other == nullptr || other == this) return;
  if (!links_) links_ = std::make_unique<std::vector<TppCommunicator*>>();
  if (!Contains(links_.get(), other)) links_->push_back(other);
  if (!other->links_) other->links_ = std::make_unique<std::vector<TppCommunicator*>>();
  if (!Contains(other->links_.get(), this)) other->links_->push_back(this);
}

void TppCommunicator::Unlink(TppCommunicator* other) {
  if (other == nullptr) return;
  Erase(links_, other);
  Erase(other->links_, this);
}

TppCommunicator* TppCommunicator::Links(int index) const {
  if (!links_ || index < 0 || index >= LinkCount()) return nullptr;
  return (*links_)[static_cast<size_t>(index)];
}

bool TppCommunicator::IsLinkedTo(const TppCommunicator* other) const { return Contains(links_.get(), other); }

void TppCommunicator::BroadcastToLinks(TppCommunicator* sender, TppOperationType operation) {
  // Last to first. A receiver may unlink itself or others, or free a linked object, on the
  // way: only those still linked when their turn comes are told.
  if (!links_) return;
  const std::vector<TppCommunicator*> snapshot = *links_;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    if (Contains(links_.get(), *it)) (*it)->LinkNotify(sender, operation);
  }
}

void TppCommunicator::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  if (OnLinkNotify) OnLinkNotify(this, sender, operation);
  if (operation == ppopRemove) RemoveFromLists(sender);
}

// ---- events

void TppCommunicator::AddEventListener(TppCommunicator* listener) {
  if (listener == nullptr || Contains(listeners_.get(), listener)) return;
  if (!listeners_) listeners_ = std::make_unique<std::vector<TppCommunicator*>>();
  listeners_->push_back(listener);
  Link(listener);
  if (listener->EventListenerSortKey().empty()) return;
  std::vector<std::pair<std::string, TppCommunicator*>> keyed;
  keyed.reserve(listeners_->size());
  for (TppCommunicator* item : *listeners_)
    keyed.emplace_back(text::Lower(item->EventListenerSortKey()), item);
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < keyed.size(); ++i) (*listeners_)[i] = keyed[i].second;
}

void TppCommunicator::RemoveEventListener(TppCommunicator* listener) {
  if (listener == nullptr) return;
  Erase(listeners_, listener);
  Unlink(listener);
}

TppCommunicator* TppCommunicator::EventListeners(int index) const {
  if (!listeners_ || index < 0 || index >= EventListenerCount()) return nullptr;
  return (*listeners_)[static_cast<size_t>(index)];
}

void TppCommunicator::SendEvent(TppCommunicator* sender, int eventId, TraParamList* params) {
  if (eventId < 0 || eventId > 255) return;
  const auto bit = static_cast<size_t>(eventId);
  size_t index = 0;
  while (listeners_ && index < listeners_->size()) {
    TppCommunicator* listener = (*listeners_)[index];
    if (listener->event_mask_.test(bit)) listener->EventNotify(sender, eventId, params);
    // Move on only when the listener just served still stands at this index: when it left,
    // the next one has moved into its place. (Counting the list's length instead would serve
    // a listener twice when another one behind it leaves or a new one joins.)
    if (listeners_ && index < listeners_->size() && (*listeners_)[index] == listener) ++index;
  }
}

bool TppCommunicator::IsEventListenedTo(int eventId) const {
  if (eventId < 0 || eventId > 255 || !links_) return false;
  return std::any_of(links_->begin(), links_->end(), [eventId](const TppCommunicator* other) {
    return other->event_mask_.test(static_cast<size_t>(eventId));
  });
}

void TppCommunicator::SetEventMask(std::initializer_list<int> events) {
  event_mask_.reset();
  for (int event : events) {
    if (event >= 0 && event <= 255) event_mask_.set(static_cast<size_t>(event));
  }
}

void TppCommunicator::EventNotify(TppCommunicator* sender, int eventId, TraParamList* params) {
  if (OnEventReceived) OnEventReceived(this, sender, eventId, params);
}

// ---- user names

std::string TppCommunicator::UserName() const { return user_name_; }

void TppCommunicator::AssignUserName(const std::string& userName) {
  if (userName == user_name_) return;
  user_name_ = userName;
  BroadcastToLinks(this, ppopUserNameChange);
}

std::string TppCommunicator::DerivedFromName() const {
  const std::string className = ClassName();
  std::string result = Name();
  if (result.size() >= 2 && className.size() >= 3 && result.compare(0, 2, className, 1, 2) == 0) {
    result.erase(0, 2);
  }
  return result;
}

std::string TppCommunicator::DefaultUserName() const {
  std::string result = DerivedFromName();
  if (!IsUserNameValid(result)) result = MakeUniqueUserName(this);
  return result;
}

void TppCommunicator::SetUserName(const std::string& userName) {
  // While a tree is read the other objects may not be there yet: the stored value stands.
  if (IsReading() || IsLoading()) {
    user_name_ = userName;
    return;
  }
  if (!IsValidIdent(userName)) return;
  auto takenByOther = [this](const std::string& name) {
    const TppCommunicator* found = FindByUserName(name);
    return found != nullptr && found != this;
  };
  if (!takenByOther(userName)) {
    user_name_ = userName;
    BroadcastToLinks(this, ppopUserNameChange);
    return;
  }
  const char last = userName.back();
  if (last >= '1' && last <= '9') return;
  for (long n = 1;; ++n) {
    const std::string candidate = userName + std::to_string(n);
    if (!takenByOther(candidate)) {
      user_name_ = candidate;
      BroadcastToLinks(this, ppopUserNameChange);
      return;
    }
  }
}

bool TppCommunicator::IsUserNameValid(const std::string& userName) const {
  if (!IsValidIdent(userName)) return false;
  const TppCommunicator* found = FindByUserName(userName);
  return found == nullptr || found == this;
}

TppCommunicator* TppCommunicator::FindByUserName(const std::string& userName) const {
  if (TppCommunicator* parent = ParentCommunicator()) return parent->FindByUserName(userName);
  const TComponent* owner = Owner();
  if (owner == nullptr) return nullptr;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* communicator = dynamic_cast<TppCommunicator*>(owner->Components(i));
    if (communicator != nullptr && SameText(communicator->UserName(), userName)) return communicator;
  }
  return nullptr;
}

std::string TppCommunicator::UniqueUserNameAmong(const TComponent* owner, const TppCommunicator* object) {
  const std::string className = object->ClassName();
  const std::string base = className.size() > 3 ? className.substr(3) : className;
  std::set<long> taken;
  if (owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      const TComponent* other = owner->Components(i);
      if (other == object || other->ClassName() != className) continue;
      if (long n = PositiveSuffix(other->Name(), base); n > 0) taken.insert(n);
    }
  }
  // The numbers come from the Names, but a user name may have been set apart from its Name:
  // a number whose user name is borne by another object is skipped too.
  auto borneByOther = [owner, object](const std::string& name) {
    if (owner == nullptr) return false;
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<const TppCommunicator*>(owner->Components(i));
      if (other != nullptr && other != object && SameText(other->UserName(), name)) return true;
    }
    return false;
  };
  for (long n = 1;; ++n) {
    if (taken.count(n) == 0 && !borneByOther(base + std::to_string(n))) return base + std::to_string(n);
  }
}

std::string TppCommunicator::MakeUniqueUserName(const TppCommunicator* object) const {
  if (TppCommunicator* parent = ParentCommunicator()) return parent->MakeUniqueUserName(object);
  return UniqueUserNameAmong(object->Owner(), object);
}

std::string TppCommunicator::MakeUniqueName(const std::string& className) const {
  const std::string base = className.size() > 1 ? className.substr(1) : className;
  const TComponent* owner = Owner();
  for (long n = 1;; ++n) {
    std::string candidate = base + std::to_string(n);
    if (owner == nullptr || owner->FindComponent(candidate) == nullptr) return candidate;
  }
}

void TppCommunicator::SetName(const std::string& name) {
  const bool followsName =
      user_name_.empty() || user_name_ == DerivedFromName() || user_name_ == DefaultUserName();
  TComponent::SetName(name);
  const bool streaming = (IsReading() || IsLoading()) && (design_state_ & dsPasting) == 0;
  if (followsName && !streaming) AssignUserName(DefaultUserName());
}

void TppCommunicator::Loaded() {
  TComponent::Loaded();
  if (PublishesUserName() && user_name_.empty()) AssignUserName(DefaultUserName());
}

void TppCommunicator::ChangeOwner(TComponent* newOwner) {
  TComponent* oldOwner = Owner();
  if (newOwner == oldOwner) return;
  bool clash = false;
  if (newOwner != nullptr && !user_name_.empty()) {
    for (int i = 0; i < newOwner->ComponentCount() && !clash; ++i) {
      auto* other = dynamic_cast<const TppCommunicator*>(newOwner->Components(i));
      clash = other != nullptr && SameText(other->UserName(), user_name_);
    }
  }
  // Checked before leaving the old owner, so a refused move leaves the object where it was.
  if (newOwner != nullptr && newOwner->FindComponent(Name()) != nullptr) {
    throw EReportError("A component named " + Name() + " already exists");
  }
  if (oldOwner != nullptr) oldOwner->RemoveComponent(this);
  if (newOwner != nullptr) newOwner->InsertComponent(this);
  if (clash) AssignUserName(UniqueUserNameAmong(newOwner, this));
}

// ---- design states

void TppCommunicator::SetDesigner(TppDesigner* designer) { designer_ = designer; }

void TppCommunicator::AddDesignStates(TppDesignStates states) {
  const TppDesignStates before = design_state_;
  design_state_ = static_cast<TppDesignStates>(design_state_ | states);
  if (design_state_ != before) DesignStateChanged();
}

void TppCommunicator::RemoveDesignStates(TppDesignStates states) {
  const TppDesignStates before = design_state_;
  design_state_ = static_cast<TppDesignStates>(design_state_ & ~states);
  if (design_state_ != before) DesignStateChanged();
}

// ---- streaming

void TppCommunicator::WriteProperties(TWriter& writer) const {
  TComponent::WriteProperties(writer);
  if (PublishesUserName()) {
    writer.WritePropName("UserName");
    writer.WriteString(UserName());
  }
}

bool TppCommunicator::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "UserName" && PublishesUserName()) {
    SetUserName(reader.ReadString());
    return true;
  }
  return TComponent::ReadProperty(name, reader);
}

}  // namespace parvel::report
