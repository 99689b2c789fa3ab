#include "mixer/MMMixerDevice.h"

#include <cstdio>
#include <exception>

TMMMixerDevice::TMMMixerDevice(TComponent* owner) : TMMCustomAudioDevice(owner) {
  deviceObserver_.OnNotify = [this](TMMObserver*, const TMMNotification&) { RefreshDevice(); };
  SetDeviceKind(dkMixer);
}

TMMMixerDevice::~TMMMixerDevice() {
  Destroying();
  SetDevice(nullptr);
  CloseDevice();
}

MixerBackend& TMMMixerDevice::Backend() const {
  return CurrentDeviceLayer().Mixers();
}

void TMMMixerDevice::SetDevice(TMMCustomAudioDevice* device) {
  if (device && device->DeviceKind() == dkMixer)
    throw EMMMixerDeviceError("Mixer can't reference mixer");
  if (device == device_) return;
  const bool wasActive = Active();
  CloseDevice();
  if (device_) {
    device_->RemoveObserver(&deviceObserver_);
    RemoveFreeNotification(device_);
  }
  device_ = device;
  if (device_) {
    device_->AddObserver(&deviceObserver_);
    FreeNotification(device_);
  }
  if (!IsDestroying()) {
    RefreshDevice();
    if (wasActive) SetActive(true);
  }
}

void TMMMixerDevice::Notification(TComponent* component, TOperation op) {
  TMMCustomAudioDevice::Notification(component, op);
  if (op == TOperation::opRemove && component == device_) {
    device_ = nullptr;
    if (!IsDestroying()) RefreshDevice();
  }
}

void TMMMixerDevice::RefreshDevice() {
  if (device_) TakeDeviceIdQuietly(device_->MixerIdOf());
  TMMCustomAudioDevice::RefreshDevice();
}

void TMMMixerDevice::NotifyChange() {
  lines_.NotifyObservers(TMMDeviceChange());
  TMMCustomAudioDevice::NotifyChange();
}

void TMMMixerDevice::OpenDevice() {
  if (!Valid()) throw EMMMixerDeviceError("Device not valid");
  HMIXER h = 0;
  // A mixer that does not open stays closed; its lines still work by number.
  if (Backend().Open(&h, DeviceId(), this) != MMSYSERR_NOERROR) return;
  handle_ = h;
  TMMCustomAudioDevice::OpenDevice();
}

void TMMMixerDevice::CloseDevice() {
  if (handle_) Backend().Close(handle_);
  handle_ = 0;
  TMMCustomAudioDevice::CloseDevice();
}

void TMMMixerDevice::FollowHandle() {
  if (!handle_) return;
  TMMDeviceId id = DeviceId();
  if (Backend().GetID(handle_, &id, MIXER_OBJECTF_HMIXER) != MMSYSERR_NOERROR) return;
  if (id != DeviceId()) {
    TakeDeviceIdQuietly(id);
    NotifyChange();
  }
}

HMIXEROBJ TMMMixerDevice::MixerObject() {
  FollowHandle();
  return static_cast<HMIXEROBJ>(static_cast<uint32_t>(DeviceId()));
}

int32_t TMMMixerDevice::Destinations() const {
  if (!Valid()) return 0;
  MIXERCAPS caps{};
  if (Backend().GetDevCaps(DeviceId(), &caps) != MMSYSERR_NOERROR) return 0;
  return static_cast<int32_t>(caps.cDestinations);
}

TMMLineId TMMMixerDevice::LineIdOfControl(TMMControlId control) {
  MIXERCONTROL c{};
  MIXERLINECONTROLS q{};
  q.dwControlID = static_cast<uint32_t>(control);
  q.cControls = 1;
  q.cbmxctrl = sizeof c;
  q.pamxctrl = &c;
  CheckResult(Backend().GetLineControls(MixerObject(), &q,
                                        MIXER_OBJECTF_MIXER | MIXER_GETLINECONTROLSF_ONEBYID));
  return static_cast<TMMLineId>(q.dwLineID);
}

bool TMMMixerDevice::GetLineInfo(MIXERLINE& line, uint32_t query) {
  return CheckResult(Backend().GetLineInfo(MixerObject(), &line, MIXER_OBJECTF_MIXER | query),
                     {MIXERR_INVALLINE, MMSYSERR_NODRIVER, MMSYSERR_INVALPARAM});
}

bool TMMMixerDevice::GetLineControl(MIXERCONTROL& control, uint32_t lineId, uint32_t idOrType,
                                    bool byType) {
  control = {};
  MIXERLINECONTROLS q{};
  q.dwLineID = lineId;
  q.dwControlID = idOrType;  // or the type: the same word
  q.cControls = 1;
  q.cbmxctrl = sizeof control;
  q.pamxctrl = &control;
  const uint32_t how = byType ? MIXER_GETLINECONTROLSF_ONEBYTYPE : MIXER_GETLINECONTROLSF_ONEBYID;
  return CheckResult(Backend().GetLineControls(MixerObject(), &q, MIXER_OBJECTF_MIXER | how),
                     {MIXERR_INVALCONTROL, MIXERR_INVALLINE, MMSYSERR_NODRIVER});
}

namespace {

MIXERCONTROLDETAILS Details(TMMControlId control, uint32_t channels, uint32_t items,
                            uint32_t entrySize, void* data) {
  MIXERCONTROLDETAILS d{};
  d.dwControlID = static_cast<uint32_t>(control);
  d.cChannels = channels;
  d.cMultipleItems = items;
  d.cbDetails = entrySize;
  d.paDetails = data;
  return d;
}

}  // namespace

void TMMMixerDevice::GetValues(TMMControlId control, uint32_t channels, uint32_t items,
                               void* values) {
  MIXERCONTROLDETAILS d = Details(control, channels, items, 4, values);
  CheckResult(Backend().GetControlDetails(MixerObject(), &d,
                                          MIXER_OBJECTF_MIXER | MIXER_GETCONTROLDETAILSF_VALUE));
}

void TMMMixerDevice::SetValues(TMMControlId control, uint32_t channels, uint32_t items,
                               void* values) {
  const MIXERCONTROLDETAILS d = Details(control, channels, items, 4, values);
  CheckResult(Backend().SetControlDetails(MixerObject(), &d,
                                          MIXER_OBJECTF_MIXER | MIXER_SETCONTROLDETAILSF_VALUE));
}

void TMMMixerDevice::GetListTexts(TMMControlId control, uint32_t channels, uint32_t items,
                                  MIXERCONTROLDETAILS_LISTTEXT* texts) {
  MIXERCONTROLDETAILS d =
      Details(control, channels, items, sizeof(MIXERCONTROLDETAILS_LISTTEXT), texts);
  CheckResult(Backend().GetControlDetails(MixerObject(), &d,
                                          MIXER_OBJECTF_MIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT));
}

namespace {

// A notice's handling must not take the program down: report and go on.
template <class F>
void Guarded(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
}

}  // namespace

void TMMMixerDevice::LineChange(HMIXER mixer, uint32_t lineId) {
  if (mixer != handle_ || !handle_) return;
  Guarded([&] {
    const auto line = static_cast<TMMLineId>(lineId);
    lines_.NotifyObservers(TMMLineChange(line));
    if (OnLineChange) OnLineChange(this, line);
  });
}

void TMMMixerDevice::ControlChange(HMIXER mixer, uint32_t controlId) {
  if (mixer != handle_ || !handle_) return;
  Guarded([&] {
    const auto control = static_cast<TMMControlId>(controlId);
    const TMMLineId line = LineIdOfControl(control);
    lines_.NotifyObservers(TMMControlChange(line, control));
    if (OnControlChange) OnControlChange(this, line, control);
  });
}
