#pragma once
// A drop-down list bound to a device component: it lists the device names (the mapper's
// first when asked for) and writes the user's choice back as the device number.

#include <QComboBox>
#include <functional>
#include <memory>

#include "mixer/MMAudioDevice.h"

class TMMDeviceComboBox : public QComboBox {
 public:
  explicit TMMDeviceComboBox(QWidget* parent = nullptr);
  ~TMMDeviceComboBox() override;

  TMMCustomAudioDevice* Device() const { return device_; }
  void SetDevice(TMMCustomAudioDevice* device);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool IncludeMapper() const { return includeMapper_; }
  void SetIncludeMapper(bool value);
  int ItemIndex() const { return currentIndex(); }
  // The owner's handler of a choice; runs before the choice is written to the device.
  std::function<void()> OnChange;

  // Lists the names again and selects the bound device's entry.
  void Refresh();
  // What a pick of entry `index` by the user does.
  void Choose(int index);

 private:
  TFreeWatch watch_;
  TMMCustomAudioDevice* device_ = nullptr;
  TMMObserver observer_;
  bool enabled_ = true;
  bool includeMapper_ = true;
  bool writing_ = false;
};
