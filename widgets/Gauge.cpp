#include "widgets/Gauge.h"

#include <QPainter>
#include <algorithm>

void TGauge::setCaption(const QString& caption) {
  caption_ = caption;
  update();
}

void TGauge::setProgress(int percent) {
  percent = std::min(percent, 100);
  if (percent == progress_) return;  // set for every buffer: repaint only on a change
  progress_ = percent;
  update();
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  p.fillRect(r, Qt::black);
  if (progress_ > 0) {
    QRect bar = r.adjusted(1, 1, 0, 0);
    bar.setWidth(bar.width() * progress_ / 100);
    p.fillRect(bar, QColor(200, 0, 0));
  }
  p.setPen(QColor(90, 90, 90));
  p.drawRect(r);
  p.setPen(Qt::white);
  QFont f = font();
  f.setPixelSize(std::max(8, height() - 6));
  f.setBold(true);
  p.setFont(f);
  const QString text =
      progress_ >= 0 ? caption_ + "  " + QString::number(progress_) + "%" : caption_;
  p.drawText(r, Qt::AlignCenter, text);
}
