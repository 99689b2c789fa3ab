#include "widgets/FrontPanel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace FrontPanel {

QPushButton* SmallButton(QWidget* parent, const QString& text, const QString& hint) {
  auto* b = new QPushButton(text, parent);
  b->setToolTip(hint);
  b->setFocusPolicy(Qt::NoFocus);
  b->setStyleSheet(
      "QPushButton{background:#3a3d44;color:#ddd;border:1px solid #666;border-radius:3px;"
      "font:bold 10px;} QPushButton:hover{background:#4b4f58;}"
      "QPushButton:disabled{color:#777;}");
  return b;
}

QLabel* Caption(QWidget* parent, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setStyleSheet("color:#c8c8c8;font:bold 10px;");
  return l;
}

QPushButton* BigButton(QWidget* parent, const QString& text, const QString& colour,
                       const QString& hover) {
  auto* b = new QPushButton(text, parent);
  b->setStyleSheet(QString("QPushButton{color:white;font:bold 14px;border-radius:6px;"
                           "border:1px solid #222;background:%1;} "
                           "QPushButton:hover{background:%2;} "
                           "QPushButton:disabled{color:#999;background:#3a3d44;}")
                       .arg(colour, hover));
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

}  // namespace FrontPanel

TFrontPanel::TFrontPanel(QSize size, const QString& title)
    : QWidget(nullptr, Qt::FramelessWindowHint) {
  setWindowTitle(title);
  setFixedSize(size);
  setAutoFillBackground(false);
  // Shaped like the panel it paints: the corners outside it are not part of the window.
  QPainterPath shape;
  shape.addRoundedRect(QRectF(rect()), 10, 10);
  setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

void TFrontPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, QColor(54, 57, 64));
  g.setColorAt(1, QColor(28, 30, 34));
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
  p.fillPath(path, g);
  p.setPen(QPen(QColor(100, 104, 112), 1));
  p.drawPath(path);
  // Screws in the lower corners.
  p.setPen(QPen(QColor(20, 20, 20), 1));
  p.setBrush(QColor(140, 140, 140));
  for (QPointF c : {QPointF(8, height() - 10), QPointF(width() - 8, height() - 10)})
    p.drawEllipse(c, 3, 3);
}

// Dragged from any point of the window.
void TFrontPanel::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) dragFrom_ = e->globalPosition().toPoint() - pos();
}

void TFrontPanel::mouseMoveEvent(QMouseEvent* e) {
  if (e->buttons() & Qt::LeftButton) move(e->globalPosition().toPoint() - dragFrom_);
}
