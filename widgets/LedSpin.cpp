#include "widgets/LedSpin.h"

#include <QPushButton>
#include <QWheelEvent>

#include "widgets/LedLabel.h"

TLedSpin::TLedSpin(QWidget* parent, int minimum, int maximum)
    : QWidget(parent), minimum_(minimum), maximum_(maximum), value_(minimum) {
  led_ = new TLedLabel(this, 2, QColor(255, 215, 0), 3);
  led_->move(0, 0);
  const QSize led = led_->sizeHint();
  const QString style =
      "QPushButton{background:#3a3d44;color:#ddd;border:1px solid #666;border-radius:2px;"
      "font:bold 8px;} QPushButton:hover{background:#4b4f58;}";
  up_ = new QPushButton("▲", this);
  down_ = new QPushButton("▼", this);
  for (QPushButton* b : {up_, down_}) {
    b->setStyleSheet(style);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
  }
  const int h = led.height() / 2;
  up_->setGeometry(led.width() + 2, 0, 14, h);
  down_->setGeometry(led.width() + 2, h, 14, led.height() - h);
  setFixedSize(led.width() + 16, led.height());
  QObject::connect(up_, &QPushButton::clicked, this, [this] { Step(1); });
  QObject::connect(down_, &QPushButton::clicked, this, [this] { Step(-1); });
  setValue(minimum);
}

void TLedSpin::setValue(int value) {
  const int v = value < minimum_ ? minimum_ : value > maximum_ ? maximum_ : value;
  const bool changed = v != value_;
  value_ = v;
  led_->setText(QString("%1").arg(value_, 2, 10, QChar('0')));
  if (changed && onChange) onChange(value_);
}

void TLedSpin::Step(int by) {
  const int span = maximum_ - minimum_ + 1;
  setValue(minimum_ + ((value_ - minimum_ + by) % span + span) % span);
}

void TLedSpin::wheelEvent(QWheelEvent* e) {
  Step(e->angleDelta().y() > 0 ? 1 : -1);
  e->accept();
}
