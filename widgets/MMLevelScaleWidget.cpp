#include "widgets/MMLevelScaleWidget.h"

#include <QFontMetrics>
#include <QPainter>

#include "widgets/DisplayWidget.h"

TMMLevelScaleWidget::TMMLevelScaleWidget(QWidget* parent) : QWidget(parent) {
  QFont f = font();
  f.setPixelSize(9);
  setFont(f);
}

void TMMLevelScaleWidget::Changed() {
  update();
}

void TMMLevelScaleWidget::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  scale_.Width = width();
  scale_.Height = height();
}

TMMLevelScale::Measure TMMLevelScaleWidget::Measure() const {
  const QFontMetrics fm(font());
  return [fm](const std::string& text, int32_t& w, int32_t& h) {
    w = fm.horizontalAdvance(QString::fromStdString(text));
    h = fm.height();
  };
}

void TMMLevelScaleWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ToQColor(scale_.Color));
  for (const TScaleLine& l : scale_.Ticks()) {
    p.setPen(ToQColor(l.color));
    p.drawLine(l.x1, l.y1, l.x2, l.y2);
  }
  p.setFont(font());
  for (const TScaleLabel& l : scale_.Labels(Measure())) {
    p.setPen(ToQColor(l.color));
    p.drawText(QRect(l.x, l.y, l.w, l.h), Qt::AlignCenter, QString::fromStdString(l.text));
  }
}
