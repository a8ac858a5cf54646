#pragma once
// The component base of every report object: a name, an owner that frees it, a tag, the
// components it owns, the reading/loading state and the streaming of published properties.
//
// Ownership. An owner holds its components in an owning list and frees them in the order they
// were inserted. An object without owner is held by whoever created it (a std::unique_ptr),
// or, once it is a child of a relative, by that relative. Whatever frees an object, its
// destructor takes it out of its owner's list (and a relative's out of its parent's children),
// so an object that is both a component of an owner and a child of a relative is freed exactly
// once: by whichever of the two goes first.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"

namespace parvel::report {

class TReader;
class TWriter;

enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,  // the tree this object belongs to is being loaded from a stream
  csReading = 1u << 1,  // this object's own properties are being read
  csWriting = 1u << 2,
  csDestroying = 1u << 3,  // destruction has begun
};
using TComponentState = uint32_t;

// True for a Pascal-style identifier: a letter or "_", then letters, digits or "_" (ASCII).
bool IsValidIdent(const std::string& text);
// ASCII case-insensitive equality, the rule for names and user names.
using text::SameText;

class TComponent {
 public:
  // A non-null owner takes the new object into its components at once.
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // The name under which the class is registered for streaming ("TppLabel").
  virtual std::string ClassName() const { return "TComponent"; }

  const std::string& Name() const { return name_; }
  // An empty name or a valid identifier not borne by another component of the owner;
  // anything else throws EReportError and leaves the name unchanged.
  virtual void SetName(const std::string& name);

  int64_t Tag() const { return tag_; }
  void SetTag(int64_t tag) { tag_ = tag; }

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;                   // nullptr outside 0..count-1
  int ComponentIndex(const TComponent* component) const;     // -1 when not owned here
  TComponent* FindComponent(const std::string& name) const;  // ignoring case
  // Takes `component` (which must have no owner) into this owner's list; a name borne by
  // another component of this owner throws EReportError and changes nothing.
  void InsertComponent(TComponent* component);
  // Takes a component built by the caller into this owner's list and answers it. On failure
  // (see InsertComponent) the component is freed and the error leaves.
  template <class T>
  T& Add(std::unique_ptr<T> component) {
    T& added = *component;
    InsertComponent(component.get());
    (void)component.release();  // held by this owner's list from here on
    return added;
  }
  // Drops `component` from the list without freeing it: it is then without owner and freed by
  // its parent relative or by whoever removed it.
  void RemoveComponent(TComponent* component);

  TComponentState ComponentState() const { return state_; }
  bool IsReading() const { return (state_ & csReading) != 0; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }
  // The reader sets and clears reading and loading; tests may do the same.
  void IncludeState(TComponentState flags) { state_ |= flags; }
  void ExcludeState(TComponentState flags) { state_ &= ~flags; }
  // Marks this object and the components it owns as being destroyed.
  void Destroying();

  // The after-load step, run once on every object of a tree after the whole tree was read.
  // The base ends the loading state.
  virtual void Loaded();

  // Streaming. WriteProperties writes the published properties; ReadProperty reads the value
  // of the property `name` and answers false for a property the class does not know (the
  // reader reports that as a stream error).
  virtual void WriteProperties(TWriter& writer) const;
  virtual bool ReadProperty(const std::string& name, TReader& reader);
  // The objects streamed nested under this one, in stream order.
  virtual void GetChildren(const std::function<void(TComponent&)>& proc) const;
  // A child object read from the stream, before its own properties are read: answers true when
  // this object now holds it (as a relative's child, for instance).
  virtual bool AddStreamedChild(TComponent& child);
  // Reads this object's properties and nested objects up to its "end"; relatives override it
  // to put their children in order afterwards.
  virtual void ReadState(TReader& reader);

  // Expires when this object is freed; lets a holder tell whether the object still lives.
  std::weak_ptr<const void> Liveness() const;

 private:
  void DestroyComponents();

  std::string name_;
  int64_t tag_ = 0;
  TComponent* owner_ = nullptr;
  // Each entry is freed by this owner unless it was freed (or removed) before: a component
  // that goes first takes itself out, and the list lets go of it without freeing it again.
  std::vector<std::unique_ptr<TComponent>> components_;
  TComponentState state_ = 0;
  mutable std::shared_ptr<const void> liveness_;
};

}  // namespace parvel::report
