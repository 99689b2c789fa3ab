#pragma once
// Paints a level bar: the unlit bar kept as an image and the lit spots and the peak marker
// copied over it from an image of the bar fully lit.

#include <QImage>
#include <functional>

#include "displays/MMLevel.h"
#include "widgets/DisplayWidget.h"

class TMMLevelWidget : public TDisplayWidget {
 public:
  explicit TMMLevelWidget(QWidget* parent = nullptr);
  TMMLevel& Level() const { return *static_cast<TMMLevel*>(Display()); }

  // Fired at the start of every picture.
  std::function<void()> OnPaint;
  // When set, draws the whole bar instead: the canvas, the client rectangle, the spots lit
  // and the peak spot.
  std::function<void(QPainter& canvas, const QRect& rect, int nSpots, int peak)> OnDrawBar;

 protected:
  void Render(QPainter& p) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  void BuildImages(qreal dpr);
  void DrawSpot(QPainter& p, int32_t spot, const QColor& colour, bool dotted) const;

  QImage unlit_, lit_;
  uint32_t builtVersion_ = UINT32_MAX;
};
