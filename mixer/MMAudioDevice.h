#pragma once
// One multimedia device of one kind, named by its number: how many devices of the kind there
// are, what the chosen one is called and who made it, whether it is active, which mixer serves
// it; observers hear when its identity changes.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/MMDSPObj.h"
#include "mixer/MMObserver.h"
#include "platform/DeviceLayer.h"

class EMMDeviceError : public EMMError {
 public:
  using EMMError::EMMError;
};

// A failed platform call: its code, and the platform's text or "MMSystem error: <code>".
class EMMMCIError : public EMMError {
 public:
  explicit EMMMCIError(MMRESULT code);
  MMRESULT Code() const { return code_; }

 private:
  MMRESULT code_;
};

// Raises EMMMCIError unless the result is 0 or one of `tolerated`; true when it was 0.
bool CheckResult(MMRESULT result, std::initializer_list<MMRESULT> tolerated = {});

// The text of a fixed-size name field of the platform's records, up to its first zero.
std::string FixedText(const char* field, size_t size);

struct TMMDeviceCaps {
  uint16_t ManufacturerId = 0;
  uint16_t ProductId = 0;
  uint8_t VerMajor = 0;
  uint8_t VerMinor = 0;
  std::string ProductName;  // at most 31 characters
};

class TMMCustomAudioDevice : public TMMNonVisualComponent {
 public:
  explicit TMMCustomAudioDevice(TComponent* owner = nullptr);
  ~TMMCustomAudioDevice() override;

  TMMDeviceKind DeviceKind() const { return kind_; }
  int32_t DeviceCount() const;
  const TMMDeviceCaps& DeviceCaps() const { return caps_; }
  // Whether the kind has a mapper device (−1).
  bool Mapper() const;
  bool Active() const { return IsLoading() ? activeLoaded_ : open_; }
  void SetActive(bool value);
  TMMDeviceId DeviceId() const { return deviceId_; }
  // 0, −1 and −2 always; others within 0 .. DeviceCount − 1, else "Device id is out of range".
  void SetDeviceId(TMMDeviceId value);
  // At least one device and a number other than −2.
  bool Valid() const { return DeviceCount() >= 1 && deviceId_ != InvalidId; }
  TNotifyEvent OnChange;

  void AddObserver(TMMObserver* observer) { observable_.AddObserver(observer); }
  void RemoveObserver(TMMObserver* observer) { observable_.RemoveObserver(observer); }
  // The mapper's name first when asked for and present, then every device's name in order.
  void ListDeviceNames(std::vector<std::string>& names, bool includeMapper) const;
  // The mixer serving this device; −2 when none.
  TMMDeviceId MixerIdOf() const;

 protected:
  virtual void OpenDevice() { open_ = true; }
  virtual void CloseDevice() { open_ = false; }
  // Capabilities read again, then the change told.
  virtual void RefreshDevice();
  virtual void NotifyChange();
  void Loaded() override;
  // For kinds fixed by a descendant at creation.
  void SetDeviceKind(TMMDeviceKind kind);
  // Sets the number without the range check or any notice.
  void TakeDeviceIdQuietly(TMMDeviceId value) { deviceId_ = value; }
  bool IsOpen() const { return open_; }
  TMMObservable& Observable() { return observable_; }

 private:
  void ReadCaps();

  TMMDeviceKind kind_ = dkWaveOut;
  TMMDeviceId deviceId_ = 0;
  TMMDeviceCaps caps_;
  bool open_ = false;
  bool activeLoaded_ = false;
  TMMObservable observable_;
};
