#pragma once
// The real mixers, through ALSA's simple mixer. Mixer n belongs to recording device n of the
// capture backend it is given, so that a station's card number names the same device for
// both: for a sound card it is the card's mixer; for a PCM without a card the control device
// of the same name when one opens (for example the `pulse` control), otherwise a mixer with
// no lines. Element changes reach the openings as notices through the mixer's poll
// descriptors, watched on the thread that opened it.

#include <memory>

#include "platform/AlsaCapture.h"
#include "platform/MixerBackend.h"

class AlsaMixerBackend : public MixerBackend {
 public:
  explicit AlsaMixerBackend(AlsaCaptureBackend& devices);
  ~AlsaMixerBackend() override;

  uint32_t GetNumDevs() override;
  MMRESULT GetDevCaps(TMMDeviceId mixerId, MIXERCAPS* caps) override;
  MMRESULT Open(HMIXER* handle, TMMDeviceId mixerId, MixerClient* client) override;
  MMRESULT Close(HMIXER handle) override;
  MMRESULT GetID(HMIXEROBJ object, TMMDeviceId* mixerId, uint32_t flags) override;
  MMRESULT GetLineInfo(HMIXEROBJ object, MIXERLINE* line, uint32_t flags) override;
  MMRESULT GetLineControls(HMIXEROBJ object, MIXERLINECONTROLS* controls, uint32_t flags) override;
  MMRESULT GetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                             uint32_t flags) override;
  MMRESULT SetControlDetails(HMIXEROBJ object, const MIXERCONTROLDETAILS* details,
                             uint32_t flags) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The mixers of the programs: those of the default capture backend's devices.
MixerBackend& DefaultMixerBackend();
