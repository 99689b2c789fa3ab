#include "widgets/MMOscopeWidget.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolTip>

TMMOscopeWidget::TMMOscopeWidget(QWidget* parent)
    : TDisplayWidget(std::make_unique<TMMOscope>(), parent),
      scaleBackground_(palette().color(QPalette::Window)) {}

void TMMOscopeWidget::SetScaleBackground(const QColor& colour) {
  scaleBackground_ = colour;
  MarkStale();
  update();
}

void TMMOscopeWidget::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Oscope().SetSize(width(), height());
}

bool TMMOscopeWidget::Stale() const {
  return pressed_;
}

void TMMOscopeWidget::DrawMark(QPainter& p, const TOscopeMark& m) const {
  const QColor c = ToQColor(m.color);
  if (m.x1 == m.x2 && m.y1 == m.y2) {
    p.fillRect(m.x1, m.y1, 1, 1, c);
  } else if (m.x1 == m.x2) {
    p.fillRect(m.x1, std::min(m.y1, m.y2), 1, std::abs(m.y2 - m.y1) + 1, c);
  } else if (m.y1 == m.y2) {
    p.fillRect(std::min(m.x1, m.x2), m.y1, std::abs(m.x2 - m.x1) + 1, 1, c);
  } else {
    p.setPen(QPen(c, 1));
    p.drawLine(m.x1, m.y1, m.x2, m.y2);
  }
}

void TMMOscopeWidget::DrawChart(QPainter& p) {
  TMMOscope& o = Oscope();
  if (o.FullRepaintPending()) o.FullRepaintDone();
  const uint64_t written = o.ColumnsWritten();
  const int32_t w = o.PlotWidth();
  const uint64_t shown = std::min<uint64_t>(written, static_cast<uint64_t>(w));
  // The newest column stands at the write position until the chart is full, then at the
  // right edge, and the older ones to its left.
  const int32_t newestAt = o.ScrollFull() ? w - 1 : o.WritePosition();
  const TMMOscope::ScrollColumn* previous = nullptr;
  TMMOscope::ScrollColumn prev{};
  for (uint64_t k = written - shown; k < written; ++k) {
    const int32_t x = newestAt - static_cast<int32_t>(written - 1 - k);
    const TMMOscope::ScrollColumn c = o.ColumnAt(k);
    if (x >= 0) o.ForEachScrollMark(x, c, previous, [&](const TOscopeMark& m) { DrawMark(p, m); });
    prev = c;
    previous = &prev;
  }
  if (!o.ScrollFull()) {
    // The marker bar ahead of the write position, with dots at the amplitude rows.
    const TMMOscope::Colors& col = o.Colours();
    const int32_t from = std::max(0, o.WritePosition() + 1);
    const int32_t to = std::min(w - 1, o.WritePosition() + o.BarWidth());
    if (from <= to) {
      p.fillRect(from, 0, to - from + 1, o.PlotHeight(), ToQColor(col.Bar));
      for (int32_t r : o.GridRows()) p.fillRect(from, r, to - from + 1, 1, ToQColor(col.BarTick));
    }
  }
}

void TMMOscopeWidget::DrawScales(QPainter& p) {
  const TMMOscope& o = Oscope();
  const TMMOscope::Colors& col = o.Colours();
  QFont f = font();
  f.setPixelSize(10);
  p.setFont(f);
  const QFontMetrics fm(f);
  const int32_t left = o.PlotLeft(), w = o.PlotWidth(), h = o.PlotHeight();
  if (o.DrawAmpScale()) {
    for (const TOscopeLabel& l : o.AmpLabels()) {
      p.setPen(ToQColor(col.ScaleLine));
      p.drawLine(left - 4, l.at, left - 1, l.at);
      p.drawLine(left + w, l.at, left + w + 3, l.at);
      p.setPen(ToQColor(col.ScaleText));
      const QString t = QString::fromStdString(l.text);
      p.drawText(QRect(0, l.at - fm.height() / 2, left - 5, fm.height()),
                 Qt::AlignRight | Qt::AlignVCenter, t);
      p.drawText(QRect(left + w + 5, l.at - fm.height() / 2, 32 - 5, fm.height()),
                 Qt::AlignLeft | Qt::AlignVCenter, t);
    }
  }
  if (o.DrawTimeScale()) {
    for (const TOscopeLabel& l : o.TimeLabels()) {
      p.setPen(ToQColor(col.ScaleLine));
      p.drawLine(left + l.at, h, left + l.at, h + 3);
      p.setPen(ToQColor(col.ScaleText));
      p.save();
      p.translate(left + l.at + fm.height() / 2, h + 5);
      p.rotate(90);
      p.drawText(QPoint(0, 0), QString::fromStdString(l.text));
      p.restore();
    }
  }
  if (o.DrawAmpScale() && o.DrawTimeScale()) {
    p.setPen(ToQColor(col.ScaleText));
    p.drawText(QRect(0, height() - fm.height(), 32, fm.height()), Qt::AlignCenter, "V");
    p.drawText(QRect(left + w, height() - fm.height(), 32, fm.height()), Qt::AlignCenter, "V");
    p.drawText(QRect(left + w - 30, height() - fm.height(), 30, fm.height()), Qt::AlignRight, "mS");
  }
}

QPoint TMMOscopeWidget::InPlot(QPoint widgetPoint) const {
  const TMMOscope& o = Oscope();
  return {std::clamp(widgetPoint.x() - o.PlotLeft(), 0, o.PlotWidth() - 1),
          std::clamp(widgetPoint.y(), 0, o.PlotHeight() - 1)};
}

void TMMOscopeWidget::DrawReadOut(QPainter& p) {
  const TMMOscope& o = Oscope();
  const QPoint at = InPlot(cursor_);
  const QString text = QString::fromStdString(o.InfoText(at.x(), at.y()));
  QFont f = font();
  f.setPixelSize(11);
  p.setFont(f);
  const QFontMetrics fm(f);
  QRect box(0, 0, fm.horizontalAdvance(text) + 6, fm.height() + 2);
  box.moveTopLeft(QPoint(at.x(), at.y() + 15));
  if (box.bottom() >= o.PlotHeight()) box.translate(0, -40);
  if (box.right() >= o.PlotWidth()) box.moveRight(o.PlotWidth() - 1);
  box.moveLeft(std::max(0, box.left()));
  p.fillRect(box, Qt::white);
  p.setPen(Qt::black);
  p.drawRect(box.adjusted(0, 0, -1, -1));
  p.drawText(box, Qt::AlignCenter, text);
}

void TMMOscopeWidget::Render(QPainter& p) {
  TMMOscope& o = Oscope();
  const TMMOscope::Colors& col = o.Colours();
  // Without scales the plot covers the whole picture.
  if (o.DrawAmpScale() || o.DrawTimeScale()) {
    p.fillRect(rect(), scaleBackground_);
    DrawScales(p);
  }
  p.save();
  p.translate(o.PlotLeft(), 0);
  p.setClipRect(0, 0, o.PlotWidth(), o.PlotHeight());
  p.fillRect(0, 0, o.PlotWidth(), o.PlotHeight(), ToQColor(col.Background));
  if (o.Scroll() && o.Enabled()) {
    DrawChart(p);
  } else {
    // A connected line goes out as one polyline per colour run, not a line per column.
    polyline_.clear();
    TColor colour = 0;
    auto flush = [&] {
      if (polyline_.size() > 1) {
        p.setPen(QPen(ToQColor(colour), 1));
        p.drawPolyline(polyline_);
      }
      polyline_.clear();
    };
    o.ForEachMark([&](const TOscopeMark& m) {
      const bool line = m.x1 != m.x2 || m.y1 != m.y2;
      if (line && !polyline_.isEmpty() && m.color == colour &&
          polyline_.back() == QPoint(m.x1, m.y1)) {
        polyline_.append(QPoint(m.x2, m.y2));
        return;
      }
      flush();
      if (line && o.Kind() == okConLines) {
        colour = m.color;
        polyline_.append(QPoint(m.x1, m.y1));
        polyline_.append(QPoint(m.x2, m.y2));
      } else {
        DrawMark(p, m);
      }
    });
    flush();
  }
  if (pressed_) DrawReadOut(p);
  p.restore();
  if (OnPostPaint) OnPostPaint();
}

void TMMOscopeWidget::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  TMMOscope& o = Oscope();
  if (o.ShowInfo() && o.Enabled()) {
    // The picture stays as it is while the read-out shows.
    pressed_ = true;
    cursor_ = e->position().toPoint();
    o.SetInfoMode(true);
    QToolTip::hideText();
    update();
  }
}

void TMMOscopeWidget::mouseMoveEvent(QMouseEvent* e) {
  if (!pressed_) return;
  cursor_ = e->position().toPoint();
  update();
}

void TMMOscopeWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  if (pressed_) {
    pressed_ = false;
    Oscope().SetInfoMode(false);
    MarkStale();
    update();
  }
  if (rect().contains(e->position().toPoint()) && OnClick) OnClick();
}
