#include "widgets/MMLevelWidget.h"

#include <QPainter>
#include <QResizeEvent>

TMMLevelWidget::TMMLevelWidget(QWidget* parent)
    : TDisplayWidget(std::make_unique<TMMLevel>(), parent) {}

void TMMLevelWidget::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Level().SetSize(width(), height());
}

void TMMLevelWidget::DrawSpot(QPainter& p, int32_t spot, const QColor& colour, bool dotted) const {
  const TSpotRect r = Level().SpotRect(spot);
  if (!dotted) {
    p.fillRect(r.x, r.y, r.w, r.h, colour);
    return;
  }
  // A dotted spot: every other pixel across the bar, like the dots of an LED column.
  if (Level().Kind() == lkHorizontal) {
    for (int32_t y = r.y; y < r.y + r.h; y += 2) p.fillRect(r.x, y, r.w, 1, colour);
  } else {
    for (int32_t x = r.x; x < r.x + r.w; x += 2) p.fillRect(x, r.y, 1, r.h, colour);
  }
}

void TMMLevelWidget::BuildImages(qreal dpr) {
  const TMMLevel& m = Level();
  const QSize pixels = (QSizeF(size()) * dpr).toSize();
  unlit_ = QImage(pixels, QImage::Format_RGB32);
  lit_ = QImage(pixels, QImage::Format_RGB32);
  unlit_.setDevicePixelRatio(dpr);
  lit_.setDevicePixelRatio(dpr);
  const QColor back = ToQColor(m.Color());
  unlit_.fill(back);
  lit_.fill(back);
  QPainter pu(&unlit_), pl(&lit_);
  for (int32_t i = 1; i <= m.SpotCount(); ++i) {
    DrawSpot(pu, i, ToQColor(m.UnlitColor(i)), m.InactiveDoted());
    DrawSpot(pl, i, ToQColor(m.LitColor(i)), m.ActiveDoted());
  }
  builtVersion_ = m.BackgroundVersion();
}

void TMMLevelWidget::Render(QPainter& p) {
  const TMMLevel& m = Level();
  if (OnPaint) OnPaint();
  if (OnDrawBar) {
    OnDrawBar(p, rect(), m.LitSpots(), m.PeakSpot());
    return;
  }
  const qreal dpr = p.device()->devicePixelRatioF();
  if (builtVersion_ != m.BackgroundVersion() || unlit_.devicePixelRatio() != dpr ||
      unlit_.size() != (QSizeF(size()) * dpr).toSize())
    BuildImages(dpr);
  p.drawImage(0, 0, unlit_);
  // Runs of spots in their zone colours come from the lit image in one copy each.
  int32_t first = 0, last = 0;
  auto flush = [&] {
    if (first == 0) return;
    const TSpotRect a = m.SpotRect(first), b = m.SpotRect(last);
    const QRect r = QRect(a.x, a.y, a.w, a.h).united(QRect(b.x, b.y, b.w, b.h));
    p.drawImage(r, lit_, QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
    first = 0;
  };
  m.ForEachLitSpot([&](int32_t spot, TColor colour) {
    if (colour != m.LitColor(spot)) {
      flush();
      DrawSpot(p, spot, ToQColor(colour), m.ActiveDoted());
      return;
    }
    if (first != 0 && (spot == last + 1 || spot == first - 1)) {
      first = std::min(first, spot);
      last = std::max(last, spot);
      return;
    }
    flush();
    first = last = spot;
  });
  flush();
}
