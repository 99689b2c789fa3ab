#pragma once
// Text drawn as on a dot-matrix LED display of a hardware front panel: lit dots in the
// label's colour, unlit ones faintly, on black. A text longer than the visible characters
// scrolls.

#include <QColor>
#include <QString>
#include <QTimer>
#include <QWidget>

class TLedLabel : public QWidget {
 public:
  // `pitch`: distance of the dots in pixels; a character is 6 pitches wide, 9 high.
  explicit TLedLabel(QWidget* parent = nullptr, int visibleChars = 8,
                     QColor colour = QColor(255, 220, 0), int pitch = 3);
  void setText(const QString& text);
  const QString& text() const { return text_; }
  void setScrolling(bool on);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString text_;
  int visible_;
  QColor colour_;
  int pitch_;
  QTimer scroll_;
  int offset_ = 0;
  bool scrolling_ = false;
};
