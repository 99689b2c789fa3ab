#include "widgets/MMMixerWheel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>

TMMMixerWheel::TMMMixerWheel(QWidget* parent) : QWidget(parent) {
  link_.OnValueChange = [this](TMMCustomMixerControl*) { Refresh(); };
  link_.OnIdentityChange = [this] { Refresh(); };
  link_.OnControlGone = [this] { Refresh(); };
  setFocusPolicy(Qt::StrongFocus);
  setEnabled(false);
}

void TMMMixerWheel::SetControl(TMMCustomMixerControl* control) {
  if (control) {
    const TMMControlClass c = control->ControlClass();
    if (c != ccFader && c != ccNumber && c != ccSlider && c != ccTime)
      throw EMMMixerControlsError("Invalid control class");
  }
  link_.SetControl(control);
  Refresh();
}

void TMMMixerWheel::SetChannel(TMMChannel value) {
  channel_ = value;
  Refresh();
}

void TMMMixerWheel::SetItem(TMMItemIndex value) {
  item_ = value;
  Refresh();
}

void TMMMixerWheel::SetEnabled(bool value) {
  enabled_ = value;
  Refresh();
}

bool TMMMixerWheel::ItemUsable() const {
  return ::ItemUsable(Control(), item_);
}

void TMMMixerWheel::Refresh() {
  TMMCustomMixerControl* c = Control();
  int32_t value = 0;
  TMMLinkLock lock(link_);
  if (!c) {
    setEnabled(false);
  } else {
    setEnabled(enabled_ && ItemUsable() && c->IsWritable());
    const TMMControlInfo& info = c->ControlInfo();
    step_ = WheelStep(info.MinValue, info.MaxValue, info.Steps);
    knob_.SetRange(0, WheelMaximum(info.MinValue, info.MaxValue, step_));
    if (ItemUsable() && step_ != 0 && knob_.Min() < knob_.Max())
      value = WheelPosition(c->GetSignedAt(channel_, item_), info.MinValue, step_);
  }
  SetValue(value);
}

void TMMMixerWheel::SetValue(int32_t value) {
  const bool moved = knob_.SetValue(value);
  if (moved) update();
  // A refresh fires OnChange too, even when the position stayed.
  if (moved || link_.Suspended()) Changed();
}

void TMMMixerWheel::Changed() {
  TMMCustomMixerControl* c = Control();
  if (!link_.Suspended() && c) {
    TMMLinkLock lock(link_);
    if (c->ControlInfo().Flags & cfDisabled)
      Refresh();
    else
      c->SetSignedAt(channel_, item_,
                     WheelMixerValue(knob_.Value(), c->ControlInfo().MinValue, step_));
  }
  if (OnChange) OnChange();
}

// Drawing ----------------------------------------------------------------------------------------

// A dark machined knob with a soft highlight, drawn once per size.
QImage TMMMixerWheel::Face(qreal dpr) const {
  const QSize pixels = (QSizeF(size()) * dpr).toSize();
  if (face_.size() == pixels && face_.devicePixelRatio() == dpr) return face_;
  face_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  face_.setDevicePixelRatio(dpr);
  face_.fill(Qt::transparent);
  QPainter p(&face_);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(width() / 2.0, height() / 2.0);
  const double r = std::min(width(), height()) / 2.0;
  // The tick ring between the two ends of the travel.
  const int ticks = std::max(2, TickCount);
  const double start = knob_.StartAngle();
  const double span =
      knob_.EndAngle() < knob_.StartAngle() ? 360.0 : knob_.StartAngle() - knob_.EndAngle() + 360.0;
  for (int i = 0; i < ticks; ++i) {
    const double a = (start - span * i / (ticks - 1)) * M_PI / 180.0;
    const bool big = EnlargeEvery > 0 && i % EnlargeEvery == 0;
    const double outer = r - 1, inner = big ? r - 6 : r - 4;
    p.setPen(QPen(Qt::white, big ? 1.4 : 1.0));
    p.drawLine(QPointF(c.x() + inner * std::cos(a), c.y() - inner * std::sin(a)),
               QPointF(c.x() + outer * std::cos(a), c.y() - outer * std::sin(a)));
  }
  const double body = r - 8;
  QRadialGradient g(c - QPointF(body / 3, body / 3), body * 1.6);
  g.setColorAt(0, QColor(0x8a, 0x8f, 0x98));
  g.setColorAt(0.5, QColor(0x4a, 0x4e, 0x56));
  g.setColorAt(1, QColor(0x1c, 0x1e, 0x22));
  p.setPen(QPen(QColor(0x10, 0x10, 0x12), 1));
  p.setBrush(g);
  p.drawEllipse(c, body, body);
  return face_;
}

void TMMMixerWheel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Face(devicePixelRatioF()));
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(width() / 2.0, height() / 2.0);
  const double a = knob_.HandleAngle() * M_PI / 180.0;
  const QPointF h(c.x() + Radius * std::cos(a), c.y() - Radius * std::sin(a));
  const QColor colour = !isEnabled() ? QColor(0x60, 0x60, 0x60)
                        : hasFocus() ? QColor(0xff, 0x30, 0x30)
                                     : QColor(0xb0, 0x10, 0x10);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(h, HandleSize / 2.0, HandleSize / 2.0);
}

// Operation --------------------------------------------------------------------------------------

void TMMMixerWheel::FollowPointer(QPointF at) {
  const QPointF d = at - QPointF(width() / 2.0, height() / 2.0);
  SetValue(knob_.ValueAtPointer(d.x(), -d.y()));
}

void TMMMixerWheel::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  setFocus();
  dragging_ = true;
  FollowPointer(e->position());
}

void TMMMixerWheel::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_) FollowPointer(e->position());
}

void TMMMixerWheel::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  FollowPointer(e->position());
}

void TMMMixerWheel::keyPressEvent(QKeyEvent* e) {
  static const std::pair<int, TMMCustomWheel::Key> keys[] = {
      {Qt::Key_PageUp, TMMCustomWheel::kPageUp}, {Qt::Key_PageDown, TMMCustomWheel::kPageDown},
      {Qt::Key_End, TMMCustomWheel::kEnd},       {Qt::Key_Home, TMMCustomWheel::kHome},
      {Qt::Key_Up, TMMCustomWheel::kUp},         {Qt::Key_Right, TMMCustomWheel::kRight},
      {Qt::Key_Left, TMMCustomWheel::kLeft},     {Qt::Key_Down, TMMCustomWheel::kDown}};
  for (const auto& [qt, key] : keys)
    if (e->key() == qt) {
      SetValue(knob_.ValueAfterKey(key));
      e->accept();
      return;
    }
  QWidget::keyPressEvent(e);
}
