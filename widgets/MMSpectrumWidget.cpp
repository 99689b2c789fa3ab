#include "widgets/MMSpectrumWidget.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QResizeEvent>
#include <QToolTip>

namespace {

QRect ToQRect(const TSpectrumRect& r) {
  return {r.x, r.y, r.w, r.h};
}

}  // namespace

TMMSpectrumWidget::TMMSpectrumWidget(QWidget* parent)
    : TDisplayWidget(std::make_unique<TMMSpectrum>(), parent),
      scaleBackground_(palette().color(QPalette::Window)) {}

void TMMSpectrumWidget::SetScaleBackground(const QColor& colour) {
  scaleBackground_ = colour;
  MarkStale();
  update();
}

void TMMSpectrumWidget::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Spectrum().SetSize(width(), height());
}

bool TMMSpectrumWidget::Stale() const {
  return pressed_;
}

// A dotted fill lights every other pixel row, like the dots of an LED column.
void TMMSpectrumWidget::FillDotted(QPainter& p, const QRect& r, const QColor& colour,
                                   bool dotted) const {
  if (!dotted) {
    p.fillRect(r, colour);
    return;
  }
  for (int y = r.top(); y <= r.bottom(); y += 2) p.fillRect(r.left(), y, r.width(), 1, colour);
}

// Every spot of every span in its zone's unlit colour, and again in its lit colour, drawn
// once per layout: a frame copies runs of lit spots out of the lit image.
void TMMSpectrumWidget::BuildImages(qreal dpr) {
  const TMMSpectrum& m = Spectrum();
  const QSize pixels = (QSizeF(m.PlotWidth(), m.PlotHeight()) * dpr).toSize();
  for (QImage* image : {&unlit_, &lit_}) {
    *image = QImage(pixels, QImage::Format_RGB32);
    image->setDevicePixelRatio(dpr);
    image->fill(ToQColor(m.Color()));
  }
  QPainter pu(&unlit_), pl(&lit_);
  for (int32_t i = 0; i < m.SpanCount(); ++i) {
    const QRect bar = ToQRect(m.BarRect(i));
    for (int32_t j = 1; j <= m.SpotCount(); ++j) {
      const QRect spot = bar.intersected(ToQRect(m.SpotRect(j)));
      FillDotted(pu, spot, ToQColor(m.UnlitColor(m.ZoneOf(j))), m.InactiveDoted());
      FillDotted(pl, spot, ToQColor(m.LitColor(m.ZoneOf(j))), m.ActiveDoted());
    }
  }
  imagesVersion_ = m.BackgroundVersion();
  imagesSpans_ = m.SpanCount();
  imagesEnabled_ = m.Enabled();
}

void TMMSpectrumWidget::DrawBars(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  const qreal dpr = p.device()->devicePixelRatioF();
  if (imagesVersion_ != m.BackgroundVersion() || imagesSpans_ != m.SpanCount() ||
      imagesEnabled_ != m.Enabled() || unlit_.devicePixelRatio() != dpr ||
      unlit_.size() != (QSizeF(m.PlotWidth(), m.PlotHeight()) * dpr).toSize())
    BuildImages(dpr);
  if (m.DrawInactive()) p.drawImage(0, 0, unlit_);
  for (int32_t i = 0; i < m.SpanCount(); ++i) {
    const QRect bar = ToQRect(m.BarRect(i));
    // Adjacent lit spots (the bar, a peak marker) come from the lit image in one copy.
    int32_t low = 0, high = 0;
    auto flush = [&] {
      if (low == 0) return;
      const int top = m.SpotRect(high).y, bottom = m.SpotRect(low).y + m.SpotRect(low).h;
      const QRect r(bar.left(), top, bar.width(), bottom - top);
      p.drawImage(r, lit_, QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
      low = 0;
    };
    m.ForEachLitSpot(i, [&](int32_t spot, TColor) {
      if (low != 0 && (spot == high + 1 || spot == low - 1)) {
        low = std::min(low, spot);
        high = std::max(high, spot);
        return;
      }
      flush();
      low = high = spot;
    });
    flush();
  }
}

// A bar from the bottom to the span's height, in the colours of the zones it passes.
void TMMSpectrumWidget::DrawVLines(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  const int32_t h = m.PlotHeight();
  const int32_t limits[3] = {m.ZoneLimit1(), m.ZoneLimit2(), h};
  for (int32_t i = 0; i < m.SpanCount(); ++i) {
    const TSpectrumSpan s = m.Span(i);
    if (s.Value <= 0) continue;
    const QRect bar = ToQRect(m.BarRect(i));
    const int32_t top = std::min(s.Value, h - 1);
    int32_t from = 0;  // heights from..to of a zone, both included
    for (int z = 0; z < 3 && from <= top; ++z) {
      const int32_t to = std::min(top, limits[z]);
      if (to >= from)
        p.fillRect(bar.left(), m.RowOf(to), bar.width(), to - from + 1,
                   ToQColor(m.LitColor(z + 1)));
      from = to + 1;
    }
  }
}

void TMMSpectrumWidget::DrawDots(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  for (int32_t i = 0; i < m.SpanCount(); ++i) {
    const TSpectrumSpan s = m.Span(i);
    p.fillRect(s.Left, m.RowOf(s.Value), std::max(1, s.Right - s.Left), 1,
               ToQColor(m.LitColor(m.ZoneOf(s.Value))));
  }
}

void TMMSpectrumWidget::DrawLines(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  const int32_t n = m.SpanCount();
  if (n == 0) return;
  QPolygon line(n), peaks(n);
  for (int32_t i = 0; i < n; ++i) {
    const TSpectrumSpan s = m.Span(i);
    const int32_t x = (s.Left + s.Right - 1) / 2;
    line.setPoint(i, x, m.RowOf(s.Value));
    peaks.setPoint(i, x, m.RowOf(std::max(s.Peak, s.Value)));
  }
  p.setPen(QPen(ToQColor(m.LitColor(1)), 1));
  p.drawPolyline(line);
  if (m.NumPeaks() > 0) p.drawPolyline(peaks);
}

// The landscape: each older frame two rows below the next, the newest on top.
void TMMSpectrumWidget::DrawScroll(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  const int32_t n = m.SpanCount();
  if (n == 0) return;
  const int32_t base = m.ScrollBase();
  const int32_t frames = std::min(m.ScrollFrames(), m.ScrollDepth());
  for (int32_t age = frames - 1; age >= 0; --age) {
    const int32_t zero = base + 2 * age;
    if (zero - m.PlotHeight() / 3 >= m.PlotHeight()) continue;
    const int32_t* rises = m.ScrollRises(age);
    int32_t px = 0, py = 0, prise = 0;
    for (int32_t i = 0; i < n; ++i) {
      const TSpectrumSpan s = m.Span(i);
      const int32_t x = (s.Left + s.Right - 1) / 2;
      const int32_t rise = rises[i];
      const int32_t y = zero - rise;
      if (i > 0) {
        p.setPen(QPen(ToQColor(m.LitColor(m.ZoneOf(std::max(rise, prise)))), 1));
        p.drawLine(px, py, x, y);
      }
      px = x;
      py = y;
      prise = rise;
    }
  }
}

void TMMSpectrumWidget::DrawGrid(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  const QColor c = ToQColor(m.GridColor());
  for (int32_t r : m.GridRows()) p.fillRect(0, r, m.PlotWidth(), 1, c);
  for (int32_t x : m.GridColumns()) p.fillRect(x, 0, 1, m.PlotHeight(), c);
}

void TMMSpectrumWidget::DrawScales(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  QFont f = font();
  f.setFamily("Arial");
  f.setPixelSize(10);
  p.setFont(f);
  const QFontMetrics fm(f);
  const int32_t left = m.PlotLeft(), w = m.PlotWidth(), h = m.PlotHeight();
  const int32_t strip = TMMSpectrum::kAmpStrip;
  const QColor line = ToQColor(m.ScaleLineColor()), text = ToQColor(m.ScaleTextColor());
  if (m.DrawAmpScale()) {
    const std::vector<TSpectrumLabel> l = m.AmpLabels(false), r = m.AmpLabels(true);
    for (size_t k = 0; k < l.size(); ++k) {
      const int32_t y = l[k].at;
      p.setPen(line);
      p.drawLine(left - 4, y, left - 1, y);
      p.drawLine(left + w, y, left + w + 3, y);
      p.setPen(text);
      p.drawText(QRect(0, y - fm.height() / 2, left - 5, fm.height()),
                 Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(l[k].text));
      p.drawText(QRect(left + w + 5, y - fm.height() / 2, strip - 5, fm.height()),
                 Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(r[k].text));
    }
  }
  if (m.DrawFreqScale()) {
    for (const TSpectrumLabel& l : m.FreqLabels()) {
      p.setPen(line);
      p.drawLine(left + l.at, h, left + l.at, h + 3);
      p.setPen(text);
      p.save();
      p.translate(left + l.at + fm.ascent() / 2, h + 5);
      p.rotate(90);
      p.drawText(QPoint(0, 0), QString::fromStdString(l.text));
      p.restore();
    }
  }
  if (m.UnitsShown()) {
    p.setPen(text);
    const QString unit = QString::fromStdString(m.AmpUnitText());
    p.drawText(QRect(0, height() - fm.height(), strip, fm.height()), Qt::AlignCenter, unit);
    p.drawText(QRect(left + w, height() - fm.height(), strip, fm.height()), Qt::AlignCenter, unit);
    p.drawText(QRect(left + w - 30, height() - fm.height(), 30, fm.height()), Qt::AlignRight,
               QString::fromStdString(m.FreqUnitText()));
  }
}

void TMMSpectrumWidget::DrawPeakLabel(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  const std::string label = m.PeakLabelText();
  if (label.empty()) return;
  QFont f = font();
  f.setPointSize(8);
  f.setBold(true);
  p.setFont(f);
  const QFontMetrics fm(f);
  const QString text = QString::fromStdString(label);
  QRect box(0, 0, fm.horizontalAdvance(text), fm.height());
  box.moveBottomLeft(QPoint(m.MaxColumn(), m.RowOf(m.MaxValue()) - 1));
  box.moveLeft(std::clamp(box.left(), 0, std::max(0, m.PlotWidth() - box.width())));
  box.moveTop(std::clamp(box.top(), 0, std::max(0, m.PlotHeight() - box.height())));
  p.setPen(Qt::white);
  p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
}

QPoint TMMSpectrumWidget::InPlot(QPoint widgetPoint) const {
  const TMMSpectrum& m = Spectrum();
  return {std::clamp(widgetPoint.x() - m.PlotLeft(), 0, m.PlotWidth() - 1),
          std::clamp(widgetPoint.y() - m.PlotTop(), 0, m.PlotHeight() - 1)};
}

void TMMSpectrumWidget::DrawReadOut(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  const QPoint at = InPlot(cursor_);
  const QString text = QString::fromStdString(m.InfoText(at.x(), at.y()));
  QFont f = font();
  f.setPointSize(8);
  p.setFont(f);
  const QFontMetrics fm(f);
  QRect box(0, 0, fm.horizontalAdvance(text) + 8, fm.height() + 2);
  box.moveTopLeft(QPoint(at.x(), at.y() + 15));
  if (box.bottom() >= m.PlotHeight()) box.translate(0, -40);
  if (box.right() >= m.PlotWidth()) box.moveRight(m.PlotWidth() - 1);
  box.moveLeft(std::max(0, box.left()));
  p.fillRect(box, Qt::white);
  p.setPen(Qt::black);
  p.drawRect(box.adjusted(0, 0, -1, -1));
  p.drawText(box, Qt::AlignCenter, text);
}

void TMMSpectrumWidget::Render(QPainter& p) {
  const TMMSpectrum& m = Spectrum();
  if (m.DrawAmpScale() || m.DrawFreqScale()) {
    p.fillRect(rect(), scaleBackground_);
    DrawScales(p);
  }
  p.save();
  p.translate(m.PlotLeft(), m.PlotTop());
  p.setClipRect(0, 0, m.PlotWidth(), m.PlotHeight());
  const bool bars = m.Kind() == skBars || m.Kind() == skPeaks;
  if (!(bars && m.DrawInactive()))
    p.fillRect(0, 0, m.PlotWidth(), m.PlotHeight(), ToQColor(m.Color()));
  if (bars) DrawBars(p);
  if (m.DrawGrid() && m.Kind() != skScroll) DrawGrid(p);
  switch (m.Kind()) {
    case skVLines:
      DrawVLines(p);
      break;
    case skDots:
      DrawDots(p);
      break;
    case skLines:
      DrawLines(p);
      break;
    case skScroll:
      DrawScroll(p);
      break;
    default:
      break;
  }
  DrawPeakLabel(p);
  if (pressed_) DrawReadOut(p);
  p.restore();
}

void TMMSpectrumWidget::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  // The picture stands still while the read-out shows.
  if (Spectrum().BeginInfo()) {
    pressed_ = true;
    cursor_ = e->position().toPoint();
    QToolTip::hideText();
    update();
  }
}

void TMMSpectrumWidget::mouseMoveEvent(QMouseEvent* e) {
  if (!pressed_) return;
  cursor_ = e->position().toPoint();
  update();
}

void TMMSpectrumWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  if (pressed_) {
    pressed_ = false;
    Spectrum().EndInfo();
    MarkStale();
    update();
  }
  if (rect().contains(e->position().toPoint()) && OnClick) OnClick();
}
