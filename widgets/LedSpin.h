#pragma once
// A two-digit number on an LED display with small up and down buttons beside it, as the hour
// and minute fields of a hardware front panel: it counts within its range and wraps around.

#include <QWidget>
#include <functional>

class TLedLabel;
class QPushButton;

class TLedSpin : public QWidget {
 public:
  TLedSpin(QWidget* parent, int minimum, int maximum);
  int value() const { return value_; }
  void setValue(int value);
  // Called with the new value whenever it changes.
  std::function<void(int)> onChange;

 protected:
  void wheelEvent(QWheelEvent* e) override;

 private:
  void Step(int by);

  TLedLabel* led_;
  QPushButton* up_;
  QPushButton* down_;
  int minimum_, maximum_;
  int value_;
};
