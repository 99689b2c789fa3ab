#include "platform/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Tell everyone who asked, then drop their interest in us and ours in them.
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    Unlink(other->freeNotifies_, this);
    other->Notification(this, TOperation::opRemove);
  }
  while (!components_.empty()) {
    TComponent* child = components_.back();
    delete child;  // removes itself from components_
  }
  if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  for (TComponent* c : components_)
    if (c->name_ == name) return c;
  return nullptr;
}

void TComponent::BeginLoading() {
  loading_ = true;
  for (TComponent* c : components_) c->loading_ = true;
}

void TComponent::EndLoading() {
  loading_ = false;
  for (TComponent* c : components_) c->loading_ = false;
  // Loaded may create or destroy components; walk a snapshot.
  const std::vector<TComponent*> snapshot = components_;
  for (TComponent* c : snapshot)
    if (std::find(components_.begin(), components_.end(), c) != components_.end()) c->Loaded();
  Loaded();
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
    freeNotifies_.push_back(other);
    other->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  Unlink(freeNotifies_, other);
  Unlink(other->freeNotifies_, this);
}

void TComponent::InsertComponent(TComponent* c) {
  components_.push_back(c);
  c->owner_ = this;
  c->loading_ = loading_;
}

void TComponent::RemoveComponent(TComponent* c) {
  Unlink(components_, c);
  c->owner_ = nullptr;
  // The owner and its other components learn that c is gone.
  Notification(c, TOperation::opRemove);
  const std::vector<TComponent*> snapshot = components_;
  for (TComponent* other : snapshot) other->Notification(c, TOperation::opRemove);
}

void TComponent::Unlink(std::vector<TComponent*>& list, TComponent* c) {
  list.erase(std::remove(list.begin(), list.end(), c), list.end());
}
