#include "widgets/MMMixerCheckBox.h"

#include <QPainter>

TMMMixerCheckBox::TMMMixerCheckBox(QWidget* parent)
    : QCheckBox(parent), watch_([this](TComponent* gone) {
        if (gone != itemLine_) return;
        itemLine_ = nullptr;
        Refresh();
      }) {
  link_.OnValueChange = [this](TMMCustomMixerControl*) { Refresh(); };
  link_.OnIdentityChange = [this] { Refresh(); };
  link_.OnControlGone = [this] { Refresh(); };
  lineObserver_.OnNotify = [this](TMMObserver*, const TMMNotification& n) {
    if (dynamic_cast<const TMMLineIdChange*>(&n)) Refresh();
  };
  QObject::connect(this, &QCheckBox::toggled, this, [this](bool on) { Toggled(on); });
  setEnabled(false);
}

TMMMixerCheckBox::~TMMMixerCheckBox() {
  if (itemLine_) itemLine_->RemoveObserver(&lineObserver_);
}

void TMMMixerCheckBox::SetControl(TMMCustomMixerControl* control) {
  if (control && control->ControlClass() != ccList && control->ControlClass() != ccSwitch)
    throw EMMMixerControlsError("Invalid control class");
  link_.SetControl(control);
  Refresh();
}

void TMMMixerCheckBox::SetChannel(TMMChannel value) {
  channel_ = value;
  Refresh();
}

void TMMMixerCheckBox::SetItem(TMMItemIndex value) {
  item_ = value;
  Refresh();
}

void TMMMixerCheckBox::SetItemLine(TMMAudioLine* line) {
  if (line != itemLine_) {
    if (itemLine_) itemLine_->RemoveObserver(&lineObserver_);
    watch_.Move(itemLine_, line);
    itemLine_ = line;
    if (itemLine_) itemLine_->AddObserver(&lineObserver_);
  }
  Refresh();
}

void TMMMixerCheckBox::SetAutoCaption(bool value) {
  autoCaption_ = value;
  Refresh();
}

void TMMMixerCheckBox::SetShort(bool value) {
  short_ = value;
  Refresh();
}

void TMMMixerCheckBox::SetEnabled(bool value) {
  enabled_ = value;
  Refresh();
}

bool TMMMixerCheckBox::ItemUsable() const {
  return ::ItemUsable(Control(), item_);
}

void TMMMixerCheckBox::Refresh() {
  TMMCustomMixerControl* c = Control();
  if (!c) {
    setEnabled(false);
    return;
  }
  if (itemLine_) item_ = c->ItemOfLine(itemLine_);
  const bool usable = ItemUsable();
  const bool on = enabled_ && usable && c->IsWritable();
  setEnabled(on);
  if (on && autoCaption_) {
    std::string caption;
    if (item_ != NoItem)
      caption = c->ItemInfo(item_).Name;
    else
      caption = short_ ? c->ControlInfo().ShortName : c->ControlInfo().Name;
    setText(QString::fromStdString(caption));
  }
  if (usable) {
    TMMLinkLock lock(link_);
    setChecked(c->GetBooleanAt(channel_, item_));
  }
}

void TMMMixerCheckBox::Toggled(bool checked) {
  if (link_.Suspended() || !Control()) return;
  {
    TMMLinkLock lock(link_);
    if (isEnabled() && ItemUsable())
      Control()->SetBooleanAt(channel_, item_, checked);
    else
      Refresh();
  }
}

QSize TMMMixerCheckBox::sizeHint() const {
  const QFontMetrics fm(font());
  return {14 + (text().isEmpty() ? 0 : 6 + fm.horizontalAdvance(text())),
          std::max(14, fm.height())};
}

void TMMMixerCheckBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const int side = 12;
  const QRectF box(0.5, (height() - side) / 2.0 + 0.5, side, side);
  p.setPen(QPen(isEnabled() ? QColor(0x8a, 0x8f, 0x98) : QColor(0x55, 0x58, 0x5e), 1));
  p.setBrush(QColor(0x1c, 0x1e, 0x22));
  p.drawRoundedRect(box, 2, 2);
  if (isChecked()) {
    const QColor lit = isEnabled() ? QColor(0x40, 0xe0, 0x40) : QColor(0x30, 0x78, 0x30);
    p.setPen(Qt::NoPen);
    p.setBrush(lit);
    p.drawRoundedRect(box.adjusted(3, 3, -3, -3), 1, 1);
  }
  if (hasFocus()) {
    p.setPen(QPen(QColor(0xd0, 0xd0, 0xd0), 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(box.adjusted(-1.5, -1.5, 1.5, 1.5));
  }
  if (!text().isEmpty()) {
    p.setPen(isEnabled() ? QColor(0xd0, 0xd0, 0xd0) : QColor(0x70, 0x74, 0x7a));
    p.drawText(QRect(side + 6, 0, width() - side - 6, height()), Qt::AlignLeft | Qt::AlignVCenter,
               text());
  }
}
