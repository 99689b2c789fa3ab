#pragma once
// A horizontal gauge, red on black, with a caption and its percentage.

#include <QWidget>

class TGauge : public QWidget {
 public:
  explicit TGauge(QWidget* parent = nullptr) : QWidget(parent) {}
  void setCaption(const QString& caption);
  // 0..100; a negative value shows the gauge empty and without a figure.
  void setProgress(int percent);
  int progress() const { return progress_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString caption_;
  int progress_ = 0;
};
