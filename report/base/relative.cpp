#include "report/base/relative.h"

#include <algorithm>

#include "report/base/errors.h"
#include "report/base/stream.h"

namespace parvel::report {

TppRelative::TppRelative(TComponent* owner) : TppCommunicator(owner) {}

TppRelative::~TppRelative() {
  SetParent(nullptr);
  freeing_children_ = true;
  // The child leaves this list before it goes; its destructor takes it out of its owner's
  // components, so an owner that outlives us does not free it again.
  while (!children_.empty()) {
    TppRelative* child = children_.back();
    children_.pop_back();
    child->parent_ = nullptr;
    delete child;
  }
  freeing_children_ = false;
}

TppCommunicator* TppRelative::ParentCommunicator() const { return parent_; }

TppRelative* TppRelative::Children(int index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return children_[static_cast<size_t>(index)];
}

void TppRelative::SetParent(TppRelative* parent) {
  if (IsTopLevel() || parent == parent_) return;
  if (parent_ != nullptr) parent_->RemoveChild(this);
  if (parent != nullptr) parent->AddChild(this);
}

void TppRelative::AddChild(TppRelative* child) { InsertChild(ChildCount(), child); }

void TppRelative::InsertChild(int index, TppRelative* child) {
  if (child == nullptr) return;
  // A relative under its own descendant would own itself: freeing it could never end.
  for (const TppRelative* ancestor = this; ancestor != nullptr; ancestor = ancestor->parent_) {
    if (ancestor == child)
      throw EReportError("a relative cannot become a child of itself or its descendants");
  }
  if (child->parent_ == this) {
    MoveChild(child, index);
    return;
  }
  if (child->parent_ != nullptr) child->parent_->RemoveChild(child);
  index = std::clamp(index, 0, ChildCount());
  children_.insert(children_.begin() + index, child);
  child->parent_ = this;
  ChildrenChanged();
}

int TppRelative::IndexOfChild(const TppRelative* child) const {
  auto it = std::find(children_.begin(), children_.end(), child);
  return it == children_.end() ? -1 : static_cast<int>(it - children_.begin());
}

void TppRelative::RemoveChild(TppRelative* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return;
  children_.erase(it);
  child->parent_ = nullptr;
  ChildrenChanged();
}

void TppRelative::TakeOverChildren(TppRelative& other) {
  if (&other == this) return;
  while (other.ChildCount() > 0) AddChild(other.Children(0));
}

void TppRelative::MoveChild(TppRelative* child, int index) {
  const int from = IndexOfChild(child);
  if (from < 0 || ChildCount() == 0) return;
  index = std::clamp(index, 0, ChildCount() - 1);
  if (index == from) return;
  children_.erase(children_.begin() + from);
  children_.insert(children_.begin() + index, child);
  ChildrenChanged();
}

int32_t TppRelative::Position() const {
  if (IsReading()) return stored_position_;
  return parent_ != nullptr ? parent_->IndexOfChild(this) : -1;
}

void TppRelative::SetPosition(int32_t position) {
  if (IsReading()) {
    stored_position_ = position;
    return;
  }
  if (parent_ == nullptr) return;
  parent_->MoveChild(this, position);
  PropertyChange();
}

void TppRelative::ApplyStoredPositions() {
  std::vector<TppRelative*> placed;
  for (TppRelative* child : children_) {
    if (child->stored_position_ >= 0 && child->stored_position_ < ChildCount()) placed.push_back(child);
  }
  std::stable_sort(placed.begin(), placed.end(), [](const TppRelative* a, const TppRelative* b) {
    return a->stored_position_ < b->stored_position_;
  });
  for (TppRelative* child : placed) MoveChild(child, child->stored_position_);
}

void TppRelative::ChangeOwner(TComponent* newOwner) {
  TComponent* oldOwner = Owner();
  TppCommunicator::ChangeOwner(newOwner);
  if (Owner() == oldOwner) return;
  const std::vector<TppRelative*> children = children_;
  for (TppRelative* child : children) {
    if (child->Owner() == oldOwner) child->ChangeOwner(newOwner);
  }
}

void TppRelative::WriteProperties(TWriter& writer) const {
  TppCommunicator::WriteProperties(writer);
  if (ordered_children_) {
    writer.WritePropName("OrderedChildren");
    writer.WriteBoolean(true);
  }
  if (parent_ != nullptr && parent_->ordered_children_) {
    writer.WritePropName("Position");
    writer.WriteInteger(Position());
  }
}

bool TppRelative::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "Position") {
    SetPosition(reader.ReadInteger());
    return true;
  }
  if (name == "OrderedChildren") {
    ordered_children_ = reader.ReadBoolean();
    return true;
  }
  if (name == "ChildType") {
    child_type_ = reader.ReadInteger();
    return true;
  }
  return TppCommunicator::ReadProperty(name, reader);
}

void TppRelative::GetChildren(const std::function<void(TComponent&)>& proc) const {
  for (TppRelative* child : children_) proc(*child);
  GetExtraChildren(proc);
}

bool TppRelative::AddStreamedChild(TComponent& child) {
  auto* relative = dynamic_cast<TppRelative*>(&child);
  if (relative == nullptr) return false;
  relative->SetParent(this);
  return relative->parent_ == this;
}

void TppRelative::ReadState(TReader& reader) {
  TppCommunicator::ReadState(reader);
  if (ordered_children_ && !children_.empty()) ApplyStoredPositions();
}

}  // namespace parvel::report
