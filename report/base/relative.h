#pragma once
// A communicator with a parent and an ordered list of children, which it owns.
//
// A relative frees its children, last to first, when it goes. A child that also has an owner
// is freed by whichever of the two goes first (see component.h): the child's destructor takes
// it out of its parent's children and out of its owner's components. An object without owner
// that becomes a child is from then on held by its parent; whoever held it must let go.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report/base/communicator.h"

namespace parvel::report {

class TppRelative : public TppCommunicator {
 public:
  explicit TppRelative(TComponent* owner = nullptr);
  ~TppRelative() override;

  std::string ClassName() const override { return "TppRelative"; }
  TppCommunicator* ParentCommunicator() const override;
  void ChangeOwner(TComponent* newOwner) override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;
  void GetChildren(const std::function<void(TComponent&)>& proc) const override;
  bool AddStreamedChild(TComponent& child) override;
  void ReadState(TReader& reader) override;

  // Virtual operations in their order.
  // True for objects without a parent by nature (producers, data pipelines): SetParent does
  // nothing for them.
  virtual bool IsTopLevel() const { return false; }
  virtual void ChildrenChanged() {}
  virtual void SetParent(TppRelative* parent);
  virtual int AllChildCount() const { return ChildCount(); }
  virtual TppRelative* AllChildren(int index) const { return Children(index); }
  virtual void GetExtraChildren(const std::function<void(TComponent&)>& /*proc*/) const {}
  virtual void AddChild(TppRelative* child);
  virtual void InsertChild(int index, TppRelative* child);
  virtual int IndexOfChild(const TppRelative* child) const;
  virtual void RemoveChild(TppRelative* child);
  virtual void TakeOverChildren(TppRelative& other);

  TppRelative* Parent() const { return parent_; }
  int ChildCount() const { return static_cast<int>(children_.size()); }
  TppRelative* Children(int index) const;  // nullptr outside 0..count-1

  // While reading: the stored value. Otherwise: the index in the parent's children, -1
  // without parent.
  int32_t Position() const;
  void SetPosition(int32_t position);
  int32_t StoredPosition() const { return stored_position_; }

  bool OrderedChildren() const { return ordered_children_; }
  void SetOrderedChildren(bool ordered) { ordered_children_ = ordered; }
  bool FreeingChildren() const { return freeing_children_; }
  // A class of child, known only from old streams as an integer; never written.
  int32_t ChildType() const { return child_type_; }

 private:
  // Puts children back at their stored positions, in increasing position order.
  void ApplyStoredPositions();
  void MoveChild(TppRelative* child, int index);

  TppRelative* parent_ = nullptr;
  std::vector<TppRelative*> children_;
  int32_t stored_position_ = -1;
  bool ordered_children_ = false;
  bool freeing_children_ = false;
  int32_t child_type_ = 0;
};

}  // namespace parvel::report
