#pragma once
// Simulated mixers for the tests: each is built from a list of card-like elements, and the
// test can change an element from outside, as another mixer program or a knob on the card
// would, so that the openings hear the same notices a real mixer sends.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MixerBackend.h"

struct SimMixerConfig {
  std::string name = "Simulated mixer";
  std::vector<MixerElement> elements;
  // False: a device without a control device, a mixer with no lines.
  bool hasControl = true;
  MMRESULT openResult = MMSYSERR_NOERROR;
};

class SimMixerBackend : public MixerBackend {
 public:
  explicit SimMixerBackend(std::vector<SimMixerConfig> mixers);
  ~SimMixerBackend() override;

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

  // Changes an element from outside the program; every opening of the mixer hears of each
  // control that now reads differently (and of lines whose element went). False for an
  // unknown mixer or element.
  bool ChangeElement(TMMDeviceId mixerId, const std::string& name, unsigned index,
                     const std::function<void(MixerElement&)>& change);
  // The element as the simulated card holds it now; empty name when there is none.
  MixerElement Element(TMMDeviceId mixerId, const std::string& name, unsigned index = 0);

 private:
  struct Mixer {
    SimMixerConfig config;
    MixerMap map;
  };
  struct Opening {
    TMMDeviceId mixer;
    MixerClient* client;
    std::unique_ptr<MixerRoute> route;
  };

  // Lock held. The mixer a query means, or a result code.
  MMRESULT Resolve(HMIXEROBJ object, uint32_t flags, Mixer** mixer);
  // Lock held. Tells every opening of the mixer what changed.
  void Notify(TMMDeviceId mixerId, const std::vector<uint32_t>& lines,
              const std::vector<uint32_t>& controls);
  // The client of an opening still open, or null.
  MixerClient* ClientOf(HMIXER handle);

  std::mutex m_;
  std::vector<Mixer> mixers_;
  std::map<HMIXER, Opening> openings_;
  HMIXER next_ = 0x5100;
};
