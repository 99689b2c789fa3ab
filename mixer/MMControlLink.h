#pragma once
// The connection of a bound screen control to a mixer control: it hears the control's value
// and identity changes whatever its suspend counter says; the counter is the bound control's
// write lock, held while it takes over a state from the mixer so that it writes nothing back.

#include <functional>

#include "mixer/MMMixerControl.h"

class TMMControlLink : public TMMObserver {
 public:
  explicit TMMControlLink(TComponent* owner = nullptr);
  ~TMMControlLink() override;

  TMMCustomMixerControl* Control() const { return control_; }
  // Detaches from the previous control; a destroyed control unbinds itself.
  void SetControl(TMMCustomMixerControl* control);

  std::function<void(TMMCustomMixerControl* control)> OnValueChange;
  std::function<void()> OnIdentityChange;
  // Called when the bound control is destroyed, after the link let go of it.
  std::function<void()> OnControlGone;

 protected:
  bool Hears() const override { return true; }

 private:
  TFreeWatch watch_;
  TMMCustomMixerControl* control_ = nullptr;
};

// Whether a bound control can show `item` of `control`: a valid control, and an item of its
// list, or −1 for a plain control.
bool ItemUsable(const TMMCustomMixerControl* control, TMMItemIndex item);

// The write lock, held for a scope.
class TMMLinkLock {
 public:
  explicit TMMLinkLock(TMMControlLink& link) : link_(link) { link_.Suspend(); }
  ~TMMLinkLock() { link_.Resume(); }
  TMMLinkLock(const TMMLinkLock&) = delete;
  TMMLinkLock& operator=(const TMMLinkLock&) = delete;

 private:
  TMMControlLink& link_;
};
