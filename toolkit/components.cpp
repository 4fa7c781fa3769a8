#include "toolkit/components.h"

#include <algorithm>

#include "toolkit/exceptions.h"

void TPropertyWriter::Object(const std::string& name, const TPersistent& object) {
  struct Prefixed : TPropertyWriter {
    TPropertyWriter& outer;
    const std::string& prefix;
    Prefixed(TPropertyWriter& o, const std::string& p) : outer(o), prefix(p) {}
    void Property(const std::string& n, const TPropValue& v) override { outer.Property(prefix + "." + n, v); }
  } prefixed(*this, name);
  object.WriteProperties(prefixed);
}

void TPersistent::Assign(const TPersistent& source) { source.AssignTo(*this); }

void TPersistent::AssignTo(TPersistent& dest) const { throw AssignError(ClassName(), dest.ClassName()); }

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Those who asked to be told get a last notification, so that no reference outlives us.
  auto notifies = freeNotifies_;
  freeNotifies_.clear();
  for (TComponent* c : notifies) {
    c->RemoveFreeNotification(this);
    c->Notification(this, TOperation::opRemove);
  }
  // Owned components go last to first, as they were created first to last.
  while (!components_.empty()) {
    TComponent* c = components_.back();
    delete c;  // its destructor removes it from components_
  }
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw ListIndexError(index);
  return components_[static_cast<size_t>(index)];
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
    freeNotifies_.push_back(other);
    other->FreeNotification(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  auto it = std::find(freeNotifies_.begin(), freeNotifies_.end(), other);
  if (it != freeNotifies_.end()) {
    freeNotifies_.erase(it);
    other->RemoveFreeNotification(this);
  }
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  // An owner passes the news on to everything it owns, so siblings learn of each other.
  if (operation == TOperation::opRemove && component != nullptr) RemoveFreeNotification(component);
  for (TComponent* c : std::vector<TComponent*>(components_))
    if (c != component) c->Notification(component, operation);
}

void TComponent::InsertComponent(TComponent* component) {
  component->owner_ = this;
  components_.push_back(component);
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it == components_.end()) return;
  components_.erase(it);
  component->owner_ = nullptr;
  if (!destroying_) Notification(component, TOperation::opRemove);
}

void TComponent::WriteProperties(TPropertyWriter& writer) const {
  if (!name_.empty()) writer.Property("Name", TPropValue::Str(name_));
  if (tag_ != 0) writer.Property("Tag", TPropValue::Int(tag_));
}

bool TComponent::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name == "Name") {
    name_ = value.text;
    return true;
  }
  if (name == "Tag") {
    tag_ = static_cast<intptr_t>(value.integer);
    return true;
  }
  return false;
}

int IdentIndex(const std::string& name, std::initializer_list<const char*> names) {
  int i = 0;
  for (const char* n : names) {
    if (name == n) return i;
    ++i;
  }
  return -1;
}
