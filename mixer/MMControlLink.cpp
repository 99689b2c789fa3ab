#include "mixer/MMControlLink.h"

TMMControlLink::TMMControlLink(TComponent* owner)
    : TMMObserver(owner), watch_([this](TComponent* gone) {
        if (gone != control_) return;
        control_ = nullptr;
        if (OnControlGone) OnControlGone();
      }) {
  OnNotify = [this](TMMObserver*, const TMMNotification& n) {
    if (dynamic_cast<const TMMControlChange*>(&n)) {
      if (OnValueChange && control_) OnValueChange(control_);
    } else if (dynamic_cast<const TMMControlIdChange*>(&n)) {
      if (OnIdentityChange) OnIdentityChange();
    }
  };
}

TMMControlLink::~TMMControlLink() {
  if (control_) control_->RemoveObserver(this);
}

void TMMControlLink::SetControl(TMMCustomMixerControl* control) {
  if (control == control_) return;
  if (control_) control_->RemoveObserver(this);
  watch_.Move(control_, control);
  control_ = control;
  if (control_) control_->AddObserver(this);
}

bool ItemUsable(const TMMCustomMixerControl* control, TMMItemIndex item) {
  if (!control || !control->IsValid()) return false;
  if (control->ControlInfo().Flags & cfMultiple) return item >= 0 && item < control->ItemCount();
  return item == NoItem;
}
