#pragma once
// Change notices between the device, mixer, line and control components and whatever is bound
// to them. An observer hears one observable at a time; a notice goes to every attached
// observer, the last attached first, and a suspended observer ignores it.

#include <functional>
#include <vector>

#include "platform/Component.h"

// A notice; its class says what happened.
class TMMNotification {
 public:
  virtual ~TMMNotification() = default;
};

// The identity of a device changed.
class TMMDeviceChange : public TMMNotification {};

class TMMObservable;

class TMMObserver {
 public:
  using Callback = std::function<void(TMMObserver* sender, const TMMNotification& notice)>;

  explicit TMMObserver(TComponent* owner = nullptr, Callback onNotify = {});
  TMMObserver(const TMMObserver&) = delete;
  TMMObserver& operator=(const TMMObserver&) = delete;

  virtual ~TMMObserver();
  TComponent* Owner() const { return owner_; }
  Callback OnNotify;
  TMMObservable* Observable() const { return observable_; }

  // Suspensions nest; notices reach the callback only at zero.
  void Suspend() { ++suspended_; }
  void Resume() {
    if (suspended_ > 0) --suspended_;
  }
  bool Suspended() const { return suspended_ > 0; }

 protected:
  // Whether a notice reaches the callback now.
  virtual bool Hears() const { return suspended_ == 0; }

 private:
  friend class TMMObservable;
  void Notify(const TMMNotification& notice);

  TComponent* owner_;
  int suspended_ = 0;
  TMMObservable* observable_ = nullptr;
};

class TMMObservable {
 public:
  TMMObservable() = default;
  ~TMMObservable();
  TMMObservable(const TMMObservable&) = delete;
  TMMObservable& operator=(const TMMObservable&) = delete;

  // Attaching moves the observer from the observable it heard before.
  void AddObserver(TMMObserver* observer);
  // Acts only when the observer is attached to this observable.
  void RemoveObserver(TMMObserver* observer);
  void NotifyObservers(const TMMNotification& notice);
  size_t ObserverCount() const { return observers_.size(); }

 private:
  std::vector<TMMObserver*> observers_;
};
