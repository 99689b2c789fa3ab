#pragma once
// A check box bound to a mixer switch (a mute) or to one item of a list (one source of the
// recording selector): it shows the mixer's state, writes the user's toggles, follows the
// control when it is found again, and disables itself when the control cannot be written.

#include <QCheckBox>
#include <memory>

#include "mixer/MMControlLink.h"

class EMMMixerControlsError : public EMMError {
 public:
  using EMMError::EMMError;
};

class TMMMixerCheckBox : public QCheckBox {
 public:
  explicit TMMMixerCheckBox(QWidget* parent = nullptr);
  ~TMMMixerCheckBox() override;

  TMMCustomMixerControl* Control() const { return link_.Control(); }
  // A list or switch control; "Invalid control class" for any other.
  void SetControl(TMMCustomMixerControl* control);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  TMMItemIndex Item() const { return item_; }
  void SetItem(TMMItemIndex value);
  TMMAudioLine* ItemLine() const { return itemLine_; }
  void SetItemLine(TMMAudioLine* line);
  bool AutoCaption() const { return autoCaption_; }
  void SetAutoCaption(bool value);
  bool Short() const { return short_; }
  void SetShort(bool value);
  // The user's permission; the box is enabled only when the mixer allows it too.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);

  void Refresh();
  TMMControlLink& Link() { return link_; }

 protected:
  // A front-panel switch: a dark square that lights green when checked.
  void paintEvent(QPaintEvent*) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
  QSize sizeHint() const override;

 private:
  bool ItemUsable() const;
  void Toggled(bool checked);

  TFreeWatch watch_;
  TMMControlLink link_;
  TMMObserver lineObserver_;
  TMMAudioLine* itemLine_ = nullptr;
  TMMChannel channel_ = chBoth;
  TMMItemIndex item_ = NoItem;
  bool autoCaption_ = true;
  bool short_ = true;
  bool enabled_ = true;
};
