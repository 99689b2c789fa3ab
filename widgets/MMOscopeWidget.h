#pragma once
// Paints an oscilloscope: the marks its model lays out for the latest block (or the columns
// of its strip chart), the scales and grid, and the read-out while the left button is held.

#include <QColor>
#include <QPoint>
#include <QPolygon>
#include <functional>

#include "displays/MMOscope.h"
#include "widgets/DisplayWidget.h"

class TMMOscopeWidget : public TDisplayWidget {
 public:
  explicit TMMOscopeWidget(QWidget* parent = nullptr);
  TMMOscope& Oscope() const { return *static_cast<TMMOscope*>(Display()); }

  // A click (the read-out, when shown, goes first, until the button is released).
  std::function<void()> OnClick;
  // Fired after every picture.
  std::function<void()> OnPostPaint;
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
  void DrawMark(QPainter& p, const TOscopeMark& m) const;
  void DrawChart(QPainter& p);
  void DrawScales(QPainter& p);
  void DrawReadOut(QPainter& p);
  QPoint InPlot(QPoint widgetPoint) const;

  QColor scaleBackground_;
  QPolygon polyline_;  // kept: its storage serves every picture
  bool pressed_ = false;
  QPoint cursor_;
};
