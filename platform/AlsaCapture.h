#pragma once
// The real recording devices, through ALSA. Devices 0..n-1 are first the sound cards that can
// capture, opened as plughw:CARD,0, then the capture PCMs that ALSA's configuration names
// (other than per-card aliases, default, null and the converters that only wrap default);
// the mapper (-1) is ALSA's default device. Each opening has a capture thread and an ALSA
// ring of at least two seconds.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CaptureBackend.h"
#include "platform/StreamCaptureBackend.h"

class AlsaCaptureBackend : public StreamCaptureBackend {
 public:
  AlsaCaptureBackend();
  ~AlsaCaptureBackend() override;

  uint32_t GetNumDevs() override;
  MMRESULT GetDevCaps(TMMDeviceId id, WAVEINCAPS* caps) override;
  MMRESULT GetErrorText(MMRESULT error, char* text, uint32_t size) override;
  MMRESULT Open(HWAVEIN* handle, TMMDeviceId id, const WAVEFORMATEX* format, CaptureClient* client,
                uint32_t flags) override;

  struct DeviceInfo {
    std::string pcm;   // ALSA PCM name to open
    std::string name;  // shown name, at most 31 characters
    int card = -1;     // ALSA card number, -1 for a PCM without a card
  };
  // The device list, enumerated at the first need and again by Rescan.
  std::vector<DeviceInfo> Devices();
  void Rescan();

 protected:
  void Released(CaptureSource& source) override;

 private:
  struct Impl;
  // The device behind an id, the mapper included; false for a bad id.
  bool Lookup(TMMDeviceId id, DeviceInfo& out);

  std::unique_ptr<Impl> impl_;
};

// The backend the programs record from: the process's ALSA backend.
CaptureBackend& DefaultCaptureBackend();
