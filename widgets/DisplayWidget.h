#pragma once
// What every display widget shares: it tells its display model whether it is on screen,
// turns the model's requests for a new picture into paints at most at display rate, and
// keeps the picture in an image of the device's pixel ratio, drawn anew only when the model
// changed.

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "displays/MMColor.h"
#include "displays/MMConect.h"

inline QColor ToQColor(TColor c) {
  return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

class TDisplayWidget : public QWidget {
 public:
  // Pictures a second at most.
  static constexpr int kFrameMs = 16;

  // The widget owns its display; a connector only refers to it.
  TDisplayWidget(std::unique_ptr<TMMDisplay> display, QWidget* parent);
  ~TDisplayWidget() override;

  TMMDisplay* Display() const { return display_.get(); }
  // Paints done so far.
  uint64_t PaintCount() const { return paints_; }

 protected:
  // Draws the whole picture into `image` (logical coordinates).
  virtual void Render(QPainter& p) = 0;
  // Whether the image must be drawn anew though the model asked for nothing (a hover box,
  // a scrolling chart); false by default.
  virtual bool Stale() const { return false; }
  void MarkStale() { forceRender_ = true; }
  // Asks for a paint within the display-rate limit.
  void RequestPaint();

  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;

 private:
  std::unique_ptr<TMMDisplay> display_;
  QImage image_;
  uint64_t renderedAt_ = UINT64_MAX;  // the model's repaint count of the image
  bool forceRender_ = true;
  uint64_t paints_ = 0;
  QElapsedTimer sinceLastPaint_;
  QTimer frame_;
  bool scheduled_ = false;
};
