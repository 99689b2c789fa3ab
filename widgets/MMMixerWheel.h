#pragma once
// A round knob bound to a mixer fader, slider, number or time control (a volume): knob
// positions map onto the control's range in its own steps; the knob follows the mixer and
// writes the user's turns; drawn as a front-panel knob with a tick ring.

#include <QImage>
#include <QWidget>
#include <functional>

#include "mixer/MMControlLink.h"
#include "mixer/MMWheel.h"
#include "widgets/MMMixerCheckBox.h"

class TMMMixerWheel : public QWidget {
 public:
  explicit TMMMixerWheel(QWidget* parent = nullptr);

  TMMCustomMixerControl* Control() const { return link_.Control(); }
  // A fader, number, slider or time control; "Invalid control class" for any other.
  void SetControl(TMMCustomMixerControl* control);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  TMMItemIndex Item() const { return item_; }
  void SetItem(TMMItemIndex value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  std::function<void()> OnChange;

  TMMCustomWheel& Knob() { return knob_; }
  int32_t Value() const { return knob_.Value(); }
  // As the user or the program turns it: the mixer is written unless the link is held.
  void SetValue(int32_t value);
  long double Step() const { return step_; }
  // The handle's path and size, and the tick ring.
  int32_t Radius = 11;
  int32_t HandleSize = 5;
  int32_t TickCount = 11;
  int32_t EnlargeEvery = 5;

  void Refresh();
  TMMControlLink& Link() { return link_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;

 private:
  bool ItemUsable() const;
  void Changed();
  void FollowPointer(QPointF at);
  QImage Face(qreal dpr) const;

  TMMControlLink link_;
  TMMCustomWheel knob_;
  TMMChannel channel_ = chBoth;
  TMMItemIndex item_ = NoItem;
  bool enabled_ = true;
  long double step_ = 0;
  bool dragging_ = false;
  mutable QImage face_;
};
