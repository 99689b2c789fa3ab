#include "mixer/MMObserver.h"

#include <algorithm>

TMMObserver::TMMObserver(TComponent* owner, Callback onNotify)
    : OnNotify(std::move(onNotify)), owner_(owner) {}

TMMObserver::~TMMObserver() {
  if (observable_) observable_->RemoveObserver(this);
}

void TMMObserver::Notify(const TMMNotification& notice) {
  if (Hears() && OnNotify) OnNotify(this, notice);
}

TMMObservable::~TMMObservable() {
  while (!observers_.empty()) RemoveObserver(observers_.back());
}

void TMMObservable::AddObserver(TMMObserver* observer) {
  if (!observer) return;
  if (observer->observable_) observer->observable_->RemoveObserver(observer);
  observers_.push_back(observer);
  observer->observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer) {
  if (!observer || observer->observable_ != this) return;
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
  observer->observable_ = nullptr;
}

void TMMObservable::NotifyObservers(const TMMNotification& notice) {
  // An observer may detach itself, or others, while it is told: walk by index from the last.
  for (size_t i = observers_.size(); i > 0; --i) {
    if (i > observers_.size()) continue;
    observers_[i - 1]->Notify(notice);
  }
}
