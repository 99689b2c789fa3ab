#include "widgets/MMDeviceComboBox.h"

TMMDeviceComboBox::TMMDeviceComboBox(QWidget* parent)
    : QComboBox(parent), watch_([this](TComponent* gone) {
        // The bound device going: the box lets go of it.
        if (gone != device_) return;
        device_ = nullptr;
        Refresh();
      }) {
  observer_.OnNotify = [this](TMMObserver*, const TMMNotification&) { Refresh(); };
  QObject::connect(this, &QComboBox::activated, this, [this](int index) { Choose(index); });
  Refresh();
}

TMMDeviceComboBox::~TMMDeviceComboBox() {
  if (device_) device_->RemoveObserver(&observer_);
}

void TMMDeviceComboBox::SetDevice(TMMCustomAudioDevice* device) {
  if (device == device_) return;
  if (device_) device_->RemoveObserver(&observer_);
  watch_.Move(device_, device);
  device_ = device;
  if (device_) device_->AddObserver(&observer_);
  Refresh();
}

void TMMDeviceComboBox::SetEnabled(bool value) {
  enabled_ = value;
  Refresh();
}

void TMMDeviceComboBox::SetIncludeMapper(bool value) {
  includeMapper_ = value;
  Refresh();
}

void TMMDeviceComboBox::Refresh() {
  if (writing_ || (device_ && device_->IsLoading())) return;
  const bool on = enabled_ && device_;
  const QSignalBlocker quiet(this);
  clear();
  int index = -1;
  if (on) {
    std::vector<std::string> names;
    device_->ListDeviceNames(names, includeMapper_);
    for (const std::string& n : names) addItem(QString::fromStdString(n));
    const TMMDeviceId id = device_->DeviceId();
    if (includeMapper_ && device_->Mapper())
      index = id == MapperId ? 0 : id + 1;
    else
      index = id;
  }
  setCurrentIndex(index >= 0 && index < count() ? index : -1);
  setEnabled(on && count() > 0);
}

void TMMDeviceComboBox::Choose(int index) {
  if (index != currentIndex()) {
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
  }
  if (OnChange) OnChange();
  if (!device_ || index < 0) return;
  const TMMDeviceId id = includeMapper_ && device_->Mapper() ? index - 1 : index;
  writing_ = true;
  try {
    device_->SetDeviceId(id);
  } catch (...) {
    writing_ = false;
    throw;
  }
  writing_ = false;
}
