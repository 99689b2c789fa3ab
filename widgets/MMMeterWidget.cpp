#include "widgets/MMMeterWidget.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>

TMMMeterWidget::TMMMeterWidget(QWidget* parent)
    : TDisplayWidget(std::make_unique<TMMMeter>(), parent) {
  captionFont_ = font();
  captionFont_.setPixelSize(11);
  captionFont_.setBold(true);
  labelFont_ = font();
  labelFont_.setPixelSize(8);
}

void TMMMeterWidget::SetBackGroundDIB(const QImage& image) {
  face_ = image;
  builtVersion_ = UINT32_MAX;
  MarkStale();
  update();
}

void TMMMeterWidget::SetCaptionFont(const QFont& font) {
  captionFont_ = font;
  builtVersion_ = UINT32_MAX;
  MarkStale();
  update();
}

void TMMMeterWidget::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Meter().SetSize(width(), height());
}

TMMMeter::Measure TMMMeterWidget::MeasureIn(const QFont& font) const {
  const QFontMetrics fm(font);
  return [fm](const std::string& text, int32_t& w, int32_t& h) {
    w = fm.horizontalAdvance(QString::fromStdString(text));
    h = fm.height();
  };
}

void TMMMeterWidget::BuildDial(qreal dpr) {
  const TMMMeter& m = Meter();
  dial_ = QImage((QSizeF(size()) * dpr).toSize(), QImage::Format_RGB32);
  dial_.setDevicePixelRatio(dpr);
  QPainter p(&dial_);
  if (face_.isNull())
    p.fillRect(rect(), ToQColor(m.Color()));
  else
    p.drawImage(rect(), face_);
  p.setRenderHint(QPainter::Antialiasing);
  for (const TScaleLine& l : m.ScaleTicksLines()) {
    p.setPen(QPen(ToQColor(l.color), 1));
    p.drawLine(QPointF(l.x1 + 0.5, l.y1 + 0.5), QPointF(l.x2 + 0.5, l.y2 + 0.5));
  }
  p.setFont(labelFont_);
  for (const TScaleLabel& l : m.ScaleLabels(MeasureIn(labelFont_))) {
    p.setPen(ToQColor(l.color));
    p.drawText(QRect(l.x, l.y, l.w, l.h), Qt::AlignCenter, QString::fromStdString(l.text));
  }
  p.setFont(captionFont_);
  const TScaleLabel c = m.CaptionBox(MeasureIn(captionFont_));
  p.setPen(ToQColor(c.color));
  p.drawText(QRect(0, c.y, width(), c.h), Qt::AlignHCenter | Qt::AlignVCenter,
             QString::fromStdString(c.text));
  builtVersion_ = m.BackgroundVersion();
}

void TMMMeterWidget::Render(QPainter& p) {
  const TMMMeter& m = Meter();
  const qreal dpr = p.device()->devicePixelRatioF();
  if (builtVersion_ != m.BackgroundVersion() || dial_.devicePixelRatio() != dpr ||
      dial_.size() != (QSizeF(size()) * dpr).toSize())
    BuildDial(dpr);
  p.drawImage(0, 0, dial_);
  if (m.Enabled()) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(rect());
    const TPoint32 pivot = m.Pivot();
    auto needle = [&](TPoint32 tip, TColor colour) {
      QPen pen(ToQColor(colour), m.NeedleWidth());
      pen.setCapStyle(Qt::RoundCap);
      p.setPen(pen);
      p.drawLine(QPointF(pivot.x + 0.5, pivot.y + 0.5), QPointF(tip.x + 0.5, tip.y + 0.5));
    };
    if (m.ShowPeak()) needle(m.PeakTip(), m.PeakColor());
    needle(m.NeedleTip(), m.NeedleColor());
  }
  if (OnPostPaint) OnPostPaint();
}
