#pragma once
// The questions every kind of multimedia device answers: how many there are, the head of a
// device's capability record (the mapper is −1), and which mixer serves a device. Components
// ask the current layer; the program sets one over its capture and mixer backends, tests set
// their own.

#include <cstdint>
#include <string>

#include "platform/MMSystem.h"

enum TMMDeviceKind { dkMidiIn, dkMidiOut, dkWaveIn, dkWaveOut, dkAux, dkMixer };

// The common head of every kind's capability record.
struct DEVCAPSHEAD {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  char szPname[32] = {};
};

class CaptureBackend;
class MixerBackend;

class DeviceLayer {
 public:
  virtual ~DeviceLayer() = default;
  virtual uint32_t GetNumDevs(TMMDeviceKind kind) = 0;
  virtual MMRESULT GetDevCaps(TMMDeviceKind kind, TMMDeviceId id, DEVCAPSHEAD* caps) = 0;
  // The mixer serving device `id` of the kind named by a MIXER_OBJECTF_ flag (MMSystem.h);
  // −1 for none.
  virtual MMRESULT MixerGetID(TMMDeviceId id, int32_t* mixerId, uint32_t objectFlag) = 0;
  // The text of a result code; false when the layer has none.
  virtual bool GetErrorText(MMRESULT code, std::string& text) = 0;
  // The mixers' own questions (lines, controls, values, change notices).
  virtual MixerBackend& Mixers();
};

// A layer without devices of any kind.
DeviceLayer& NoDevices();

// The layer of the programs: wave inputs from the capture backend, mixers from the mixer
// backend (mixer n belongs to wave input n); no devices of the other kinds.
class BackendDeviceLayer : public DeviceLayer {
 public:
  BackendDeviceLayer(CaptureBackend& capture, MixerBackend& mixers)
      : capture_(capture), mixers_(mixers) {}
  uint32_t GetNumDevs(TMMDeviceKind kind) override;
  MMRESULT GetDevCaps(TMMDeviceKind kind, TMMDeviceId id, DEVCAPSHEAD* caps) override;
  MMRESULT MixerGetID(TMMDeviceId id, int32_t* mixerId, uint32_t objectFlag) override;
  bool GetErrorText(MMRESULT code, std::string& text) override;
  MixerBackend& Mixers() override { return mixers_; }

 private:
  CaptureBackend& capture_;
  MixerBackend& mixers_;
};
// The layer components ask; NoDevices() until one is set. Set on the user-interface thread.
DeviceLayer& CurrentDeviceLayer();
// nullptr restores NoDevices().
void SetDeviceLayer(DeviceLayer* layer);
