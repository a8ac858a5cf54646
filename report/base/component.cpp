#include "report/base/component.h"

#include <algorithm>

#include "report/base/errors.h"
#include "report/base/stream.h"

namespace parvel::report {

namespace {

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

}  // namespace

bool IsValidIdent(const std::string& text) {
  if (text.empty() || !IsIdentStart(text[0])) return false;
  return std::all_of(text.begin(), text.end(), IsIdentChar);
}

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  // Each component leaves the list before it is freed, so components that free others of this
  // list on their way out (a relative's children) find them still here and take them out.
  while (!components_.empty()) {
    std::unique_ptr<TComponent> component = std::move(components_.front());
    components_.erase(components_.begin());
    component->owner_ = nullptr;
    component.reset();
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name)) {
    throw EReportError("\"" + name + "\" is not a valid component name");
  }
  if (owner_ != nullptr && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this) {
      throw EReportError("A component named " + name + " already exists");
    }
  }
  name_ = name;
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) return nullptr;
  return components_[static_cast<size_t>(index)].get();
}

int TComponent::ComponentIndex(const TComponent* component) const {
  auto it =
      std::find_if(components_.begin(), components_.end(),
                   [component](const std::unique_ptr<TComponent>& held) { return held.get() == component; });
  return it == components_.end() ? -1 : static_cast<int>(it - components_.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (const std::unique_ptr<TComponent>& component : components_) {
    if (SameText(component->name_, name)) return component.get();
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component->owner_ == this) return;
  if (component->owner_ != nullptr) {
    throw EReportError("component " + component->name_ + " already has an owner");
  }
  if (FindComponent(component->name_) != nullptr) {
    throw EReportError("A component named " + component->name_ + " already exists");
  }
  components_.emplace_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  const int index = ComponentIndex(component);
  if (index < 0) return;
  auto it = components_.begin() + index;
  (void)it->release();  // not freed: whoever removed it holds it now
  components_.erase(it);
  component->owner_ = nullptr;
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  state_ |= csDestroying;
  for (const std::unique_ptr<TComponent>& component : components_) component->Destroying();
}

void TComponent::Loaded() { ExcludeState(csLoading); }

void TComponent::WriteProperties(TWriter& writer) const {
  if (tag_ != 0) {
    writer.WritePropName("Tag");
    writer.WriteInteger(tag_);
  }
}

bool TComponent::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "Tag") {
    tag_ = reader.ReadInt64();
    return true;
  }
  return false;
}

void TComponent::GetChildren(const std::function<void(TComponent&)>& /*proc*/) const {}

bool TComponent::AddStreamedChild(TComponent& /*child*/) { return false; }

void TComponent::ReadState(TReader& reader) { reader.ReadObjectBody(*this); }

std::weak_ptr<const void> TComponent::Liveness() const {
  if (!liveness_) liveness_ = std::make_shared<char>(0);
  return liveness_;
}

}  // namespace parvel::report
