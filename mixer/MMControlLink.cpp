#include "mixer/MMControlLink.h"

// Hears the bound control go, so that the link never refers to a destroyed one.
class TMMControlLink::Watch : public TComponent {
 public:
  explicit Watch(TMMControlLink* link) : link_(link) {}

 protected:
  void Notification(TComponent* component, TOperation op) override {
    if (op == TOperation::opRemove && component == link_->control_) {
      link_->control_ = nullptr;
      if (link_->OnControlGone) link_->OnControlGone();
    }
  }

 private:
  TMMControlLink* link_;
};

TMMControlLink::TMMControlLink(TComponent* owner) : TMMObserver(owner), watch_(new Watch(this)) {
  OnNotify = [this](TMMObserver*, const TMMNotification& n) {
    if (dynamic_cast<const TMMControlChange*>(&n)) {
      if (OnValueChange && control_) OnValueChange(control_);
    } else if (dynamic_cast<const TMMControlIdChange*>(&n)) {
      if (OnIdentityChange) OnIdentityChange();
    }
  };
}

TMMControlLink::~TMMControlLink() {
  if (control_) {
    control_->RemoveObserver(this);
    watch_->RemoveFreeNotification(control_);
  }
  delete watch_;
}

void TMMControlLink::SetControl(TMMCustomMixerControl* control) {
  if (control == control_) return;
  if (control_) {
    control_->RemoveObserver(this);
    watch_->RemoveFreeNotification(control_);
  }
  control_ = control;
  if (control_) {
    control_->AddObserver(this);
    watch_->FreeNotification(control_);
  }
}

bool ItemUsable(const TMMCustomMixerControl* control, TMMItemIndex item) {
  if (!control || !control->IsValid()) return false;
  if (control->ControlInfo().Flags & cfMultiple) return item >= 0 && item < control->ItemCount();
  return item == NoItem;
}
