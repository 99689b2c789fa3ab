#pragma once
// Paints a spectrum analyser: the spans of its model's last frame in the chosen kind (bars of
// spots over a cached image of the unlit ones, held peaks, lines, dots or a scrolling
// landscape), the scales and grid, the label of the loudest column, and the read-out while
// the left button is held.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <functional>

#include "displays/MMSpectrum.h"
#include "widgets/DisplayWidget.h"

class TMMSpectrumWidget : public TDisplayWidget {
 public:
  explicit TMMSpectrumWidget(QWidget* parent = nullptr);
  TMMSpectrum& Spectrum() const { return *static_cast<TMMSpectrum*>(Display()); }

  // A click (the read-out, when shown, goes first, until the button is released).
  std::function<void()> OnClick;
  // The colour the scales stand on (the parent's).
  void SetScaleBackground(const QColor& colour);

 protected:
  void Render(QPainter& p) override;
  bool Stale() const override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  void FillDotted(QPainter& p, const QRect& r, const QColor& colour, bool dotted) const;
  void BuildImages(qreal dpr);
  void DrawBars(QPainter& p);
  void DrawVLines(QPainter& p);
  void DrawDots(QPainter& p);
  void DrawLines(QPainter& p);
  void DrawScroll(QPainter& p);
  void DrawGrid(QPainter& p);
  void DrawScales(QPainter& p);
  void DrawPeakLabel(QPainter& p);
  void DrawReadOut(QPainter& p);
  QPoint InPlot(QPoint widgetPoint) const;

  QColor scaleBackground_;
  QImage unlit_, lit_;
  uint32_t imagesVersion_ = UINT32_MAX;
  int32_t imagesSpans_ = -1;
  bool imagesEnabled_ = true;
  bool pressed_ = false;
  QPoint cursor_;
};
