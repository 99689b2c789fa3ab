#include "mixer/MMAudioDevice.h"

#include <cstring>

namespace {

std::string ErrorMessage(MMRESULT code) {
  std::string text;
  if (CurrentDeviceLayer().GetErrorText(code, text) && !text.empty()) return text;
  return "MMSystem error: " + std::to_string(code);
}

uint32_t ObjectFlag(TMMDeviceKind kind) {
  switch (kind) {
    case dkMidiIn:
      return MIXER_OBJECTF_MIDIIN;
    case dkMidiOut:
      return MIXER_OBJECTF_MIDIOUT;
    case dkWaveIn:
      return MIXER_OBJECTF_WAVEIN;
    case dkWaveOut:
      return MIXER_OBJECTF_WAVEOUT;
    case dkAux:
      return MIXER_OBJECTF_AUX;
    case dkMixer:
      break;
  }
  return MIXER_OBJECTF_MIXER;
}

}  // namespace

EMMMCIError::EMMMCIError(MMRESULT code) : EMMError(ErrorMessage(code)), code_(code) {}

std::string FixedText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

bool CheckResult(MMRESULT result, std::initializer_list<MMRESULT> tolerated) {
  if (result == MMSYSERR_NOERROR) return true;
  for (MMRESULT t : tolerated)
    if (result == t) return false;
  throw EMMMCIError(result);
}

TMMCustomAudioDevice::TMMCustomAudioDevice(TComponent* owner) : TMMNonVisualComponent(owner) {
  try {
    ReadCaps();
  } catch (const EMMError&) {
    // A device that cannot be asked is no device.
    deviceId_ = InvalidId;
    caps_ = {};
  }
}

TMMCustomAudioDevice::~TMMCustomAudioDevice() {
  Destroying();
  // Not virtual here: a descendant closes what it opened in its own destructor.
  open_ = false;
}

int32_t TMMCustomAudioDevice::DeviceCount() const {
  return static_cast<int32_t>(CurrentDeviceLayer().GetNumDevs(kind_));
}

bool TMMCustomAudioDevice::Mapper() const {
  DEVCAPSHEAD head;
  return CheckResult(CurrentDeviceLayer().GetDevCaps(kind_, MapperId, &head),
                     {MMSYSERR_BADDEVICEID, MMSYSERR_INVALHANDLE});
}

void TMMCustomAudioDevice::ReadCaps() {
  caps_ = {};
  if (!Valid()) return;
  DEVCAPSHEAD head;
  CheckResult(CurrentDeviceLayer().GetDevCaps(kind_, deviceId_, &head));
  caps_.ManufacturerId = head.wMid;
  caps_.ProductId = head.wPid;
  caps_.VerMajor = static_cast<uint8_t>((head.vDriverVersion >> 8) & 0xFF);
  caps_.VerMinor = static_cast<uint8_t>(head.vDriverVersion & 0xFF);
  caps_.ProductName = FixedText(head.szPname, sizeof head.szPname - 1);
}

void TMMCustomAudioDevice::RefreshDevice() {
  ReadCaps();
  NotifyChange();
}

void TMMCustomAudioDevice::NotifyChange() {
  observable_.NotifyObservers(TMMDeviceChange());
  if (OnChange) OnChange(this);
}

void TMMCustomAudioDevice::SetDeviceId(TMMDeviceId value) {
  if (value != 0 && value != MapperId && value != InvalidId &&
      (value < 0 || value >= DeviceCount()))
    throw EMMDeviceError("Device id is out of range");
  if (value == deviceId_) return;
  const bool wasActive = open_;
  CloseDevice();
  deviceId_ = value;
  RefreshDevice();
  if (wasActive) SetActive(true);
}

void TMMCustomAudioDevice::SetActive(bool value) {
  if (IsLoading()) {
    activeLoaded_ = value;
    return;
  }
  if (value == open_) return;
  CloseDevice();
  if (value) OpenDevice();
}

void TMMCustomAudioDevice::Loaded() {
  SetActive(activeLoaded_);
}

void TMMCustomAudioDevice::SetDeviceKind(TMMDeviceKind kind) {
  if (kind == kind_) return;
  CloseDevice();
  kind_ = kind;
  deviceId_ = 0;
  // Done at creation: a device that cannot be asked is no device.
  try {
    ReadCaps();
  } catch (const EMMError&) {
    deviceId_ = InvalidId;
    caps_ = {};
  }
  NotifyChange();
}

void TMMCustomAudioDevice::ListDeviceNames(std::vector<std::string>& names,
                                           bool includeMapper) const {
  names.clear();
  DeviceLayer& layer = CurrentDeviceLayer();
  auto name = [&](TMMDeviceId id) {
    DEVCAPSHEAD head;
    CheckResult(layer.GetDevCaps(kind_, id, &head));
    return FixedText(head.szPname, sizeof head.szPname - 1);
  };
  if (includeMapper && Mapper()) names.push_back(name(MapperId));
  const int32_t count = DeviceCount();
  for (int32_t i = 0; i < count; ++i) names.push_back(name(i));
}

TMMDeviceId TMMCustomAudioDevice::MixerIdOf() const {
  int32_t mixer = InvalidId;
  if (!CheckResult(CurrentDeviceLayer().MixerGetID(deviceId_, &mixer, ObjectFlag(kind_)),
                   {MMSYSERR_NODRIVER}))
    return InvalidId;
  return mixer == -1 ? InvalidId : mixer;
}
