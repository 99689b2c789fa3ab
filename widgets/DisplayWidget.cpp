#include "widgets/DisplayWidget.h"

#include <QPainter>

TDisplayWidget::TDisplayWidget(std::unique_ptr<TMMDisplay> display, QWidget* parent)
    : QWidget(parent), display_(std::move(display)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  frame_.setSingleShot(true);
  frame_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&frame_, &QTimer::timeout, this, [this] { update(); });
  display_->OnRepaint = [this] { RequestPaint(); };
  // Off screen until shown: nobody sees its blocks.
  display_->SetVisible(false);
}

TDisplayWidget::~TDisplayWidget() {
  display_->OnRepaint = nullptr;
  display_->SetVisible(false);
}

void TDisplayWidget::RequestPaint() {
  if (scheduled_ || !isVisible()) return;
  scheduled_ = true;
  const qint64 since = sinceLastPaint_.isValid() ? sinceLastPaint_.elapsed() : kFrameMs;
  if (since >= kFrameMs)
    update();
  else
    frame_.start(static_cast<int>(kFrameMs - since));
}

void TDisplayWidget::paintEvent(QPaintEvent*) {
  scheduled_ = false;
  sinceLastPaint_.start();
  ++paints_;
  const qreal dpr = devicePixelRatioF();
  const QSize pixels = (QSizeF(size()) * dpr).toSize();
  if (image_.size() != pixels || image_.devicePixelRatio() != dpr) {
    image_ = QImage(pixels, QImage::Format_RGB32);
    image_.setDevicePixelRatio(dpr);
    forceRender_ = true;
  }
  if (forceRender_ || Stale() || renderedAt_ != display_->RepaintCount()) {
    renderedAt_ = display_->RepaintCount();
    forceRender_ = false;
    QPainter ip(&image_);
    Render(ip);
  }
  QPainter p(this);
  p.drawImage(0, 0, image_);
}

void TDisplayWidget::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  display_->SetVisible(true);
  forceRender_ = true;
}

void TDisplayWidget::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  display_->SetVisible(false);
}
