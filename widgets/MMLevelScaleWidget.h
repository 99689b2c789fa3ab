#pragma once
// Paints the label strip of a level bar: the labels and ticks its model lays out.

#include <QWidget>

#include "displays/MMScale.h"

class TMMLevelScaleWidget : public QWidget {
 public:
  explicit TMMLevelScaleWidget(QWidget* parent = nullptr);
  TMMLevelScale& Scale() { return scale_; }
  // Call after changing the model: it repaints.
  void Changed();
  // The measures the labels are laid out with.
  TMMLevelScale::Measure Measure() const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  TMMLevelScale scale_;
};
