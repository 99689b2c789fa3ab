#pragma once
// The sound card's mixer as a device component: it follows another device's mixer or takes a
// number, opens the mixer to hear its change notices on the user-interface thread, and passes
// them on to its lines. Lookups and values go by the mixer number, open or not.

#include <functional>
#include <string>

#include "mixer/MMAudioDevice.h"
#include "platform/MixerBackend.h"

class EMMMixerDeviceError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMMixerServiceError : public EMMError {
 public:
  using EMMError::EMMError;
};

using TMMLineId = int32_t;
using TMMControlId = int32_t;
constexpr int32_t badLineId = -1;
constexpr int32_t badControlId = -1;

// A line's state changed.
class TMMLineChange : public TMMNotification {
 public:
  explicit TMMLineChange(TMMLineId line) : LineId(line) {}
  TMMLineId LineId;
};
// A control's value changed.
class TMMControlChange : public TMMNotification {
 public:
  TMMControlChange(TMMLineId line, TMMControlId control) : LineId(line), ControlId(control) {}
  TMMLineId LineId;
  TMMControlId ControlId;
};
// Sent after every resolution of a line or a control, whatever came of it.
class TMMLineIdChange : public TMMNotification {};
class TMMControlIdChange : public TMMNotification {};

class TMMMixerDevice : public TMMCustomAudioDevice, private MixerClient {
 public:
  explicit TMMMixerDevice(TComponent* owner = nullptr);
  ~TMMMixerDevice() override;

  // The device whose mixer this one follows; none for a mixer chosen by number.
  TMMCustomAudioDevice* Device() const { return device_; }
  void SetDevice(TMMCustomAudioDevice* device);
  // Destination lines; 0 for an invalid device.
  int32_t Destinations() const;
  std::function<void(TComponent* sender, TMMLineId line)> OnLineChange;
  std::function<void(TComponent* sender, TMMLineId line, TMMControlId control)> OnControlChange;

  void AddMixerObserver(TMMObserver* o) { lines_.AddObserver(o); }
  void RemoveMixerObserver(TMMObserver* o) { lines_.RemoveObserver(o); }

  // The object the platform is asked about (the mixer number); the current number first.
  HMIXEROBJ MixerObject();
  MixerBackend& Backend() const;
  TMMLineId LineIdOfControl(TMMControlId control);
  // Not-found results of the line and control queries give false; others raise.
  bool GetLineInfo(MIXERLINE& line, uint32_t query);
  bool GetLineControl(MIXERCONTROL& control, uint32_t lineId, uint32_t idOrType, bool byType);
  void GetValues(TMMControlId control, uint32_t channels, uint32_t items, void* values);
  void SetValues(TMMControlId control, uint32_t channels, uint32_t items, void* values);
  void GetListTexts(TMMControlId control, uint32_t channels, uint32_t items,
                    MIXERCONTROLDETAILS_LISTTEXT* texts);

  // What the platform's two notices do (called on the user-interface thread).
  void LineChange(HMIXER mixer, uint32_t lineId) override;
  void ControlChange(HMIXER mixer, uint32_t controlId) override;
  HMIXER Handle() const { return handle_; }

 protected:
  void OpenDevice() override;
  void CloseDevice() override;
  void RefreshDevice() override;
  void NotifyChange() override;
  void Notification(TComponent* component, TOperation op) override;

 private:
  // The number of the open handle; DeviceId follows it.
  void FollowHandle();

  TMMCustomAudioDevice* device_ = nullptr;
  TMMObserver deviceObserver_;
  TMMObservable lines_;
  HMIXER handle_ = 0;
};
