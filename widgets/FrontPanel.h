#pragma once
// The look both programs' windows share: a borderless window shaped and painted as a dark
// hardware front panel with rounded corners and screws, dragged by any point; and the small
// buttons, captions and large buttons placed on it.

#include <QColor>
#include <QLabel>
#include <QPoint>
#include <QPushButton>
#include <QWidget>

namespace FrontPanel {

inline const QColor kAqua(0, 230, 230);
inline const QColor kYellow(255, 215, 0);
// Where the maker label of both windows leads.
inline const char* const kMakerUrl = "https://example.org/kravo-tralven";

// A small grey button with a hint.
QPushButton* SmallButton(QWidget* parent, const QString& text, const QString& hint);
// A caption beside an LED display.
QLabel* Caption(QWidget* parent, const QString& text);
// A large coloured button ("Gravar", "Play").
QPushButton* BigButton(QWidget* parent, const QString& text, const QString& colour,
                       const QString& hover);

}  // namespace FrontPanel

class TFrontPanel : public QWidget {
 public:
  // Fixed at `size`, borderless, shaped to the panel.
  TFrontPanel(QSize size, const QString& title);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;

 private:
  QPoint dragFrom_;
};
