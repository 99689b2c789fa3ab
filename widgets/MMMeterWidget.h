#pragma once
// Paints a VU meter: the dial with its scale and caption kept as an image, the needles
// drawn over it.

#include <QImage>
#include <functional>

#include "displays/MMMeter.h"
#include "widgets/DisplayWidget.h"

class TMMMeterWidget : public TDisplayWidget {
 public:
  explicit TMMMeterWidget(QWidget* parent = nullptr);
  TMMMeter& Meter() const { return *static_cast<TMMMeter*>(Display()); }

  // When not null, stretched over the client area as the dial's face.
  void SetBackGroundDIB(const QImage& image);
  void SetCaptionFont(const QFont& font);

  // Fired after every picture.
  std::function<void()> OnPostPaint;

 protected:
  void Render(QPainter& p) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  void BuildDial(qreal dpr);
  TMMMeter::Measure MeasureIn(const QFont& font) const;

  QImage face_;
  QImage dial_;
  QFont captionFont_;
  QFont labelFont_;
  uint32_t builtVersion_ = UINT32_MAX;
};
