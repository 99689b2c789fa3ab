#include "platform/DeviceLayer.h"

#include <cstring>

#include "platform/CaptureBackend.h"
#include "platform/MixerBackend.h"

namespace {

class EmptyLayer : public DeviceLayer {
 public:
  uint32_t GetNumDevs(TMMDeviceKind) override { return 0; }
  MMRESULT GetDevCaps(TMMDeviceKind, TMMDeviceId, DEVCAPSHEAD*) override {
    return MMSYSERR_BADDEVICEID;
  }
  MMRESULT MixerGetID(TMMDeviceId, int32_t*, uint32_t) override { return MMSYSERR_NODRIVER; }
  bool GetErrorText(MMRESULT, std::string&) override { return false; }
};

DeviceLayer* current = nullptr;

}  // namespace

MixerBackend& DeviceLayer::Mixers() {
  return NoMixerDevices();
}

DeviceLayer& NoDevices() {
  static EmptyLayer layer;
  return layer;
}

DeviceLayer& CurrentDeviceLayer() {
  return current ? *current : NoDevices();
}

void SetDeviceLayer(DeviceLayer* layer) {
  current = layer;
}

uint32_t BackendDeviceLayer::GetNumDevs(TMMDeviceKind kind) {
  switch (kind) {
    case dkWaveIn:
      return capture_.GetNumDevs();
    case dkMixer:
      return mixers_.GetNumDevs();
    default:
      return 0;
  }
}

MMRESULT BackendDeviceLayer::GetDevCaps(TMMDeviceKind kind, TMMDeviceId id, DEVCAPSHEAD* caps) {
  *caps = {};
  if (kind == dkWaveIn) {
    WAVEINCAPS wc{};
    const MMRESULT r = capture_.GetDevCaps(id, &wc);
    if (r == MMSYSERR_NOERROR) std::memcpy(caps->szPname, wc.szPname, sizeof caps->szPname);
    return r;
  }
  if (kind == dkMixer) {
    MIXERCAPS mc{};
    const MMRESULT r = mixers_.GetDevCaps(id, &mc);
    if (r == MMSYSERR_NOERROR) {
      caps->wMid = mc.wMid;
      caps->wPid = mc.wPid;
      caps->vDriverVersion = mc.vDriverVersion;
      std::memcpy(caps->szPname, mc.szPname, sizeof caps->szPname);
    }
    return r;
  }
  return MMSYSERR_BADDEVICEID;
}

MMRESULT BackendDeviceLayer::MixerGetID(TMMDeviceId id, int32_t* mixerId, uint32_t objectFlag) {
  return mixers_.GetID(static_cast<HMIXEROBJ>(static_cast<uint32_t>(id)), mixerId, objectFlag);
}

bool BackendDeviceLayer::GetErrorText(MMRESULT code, std::string& text) {
  char buffer[256] = {};
  if (capture_.GetErrorText(code, buffer, sizeof buffer) != MMSYSERR_NOERROR) return false;
  text = buffer;
  return true;
}
