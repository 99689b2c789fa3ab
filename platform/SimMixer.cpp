#include "platform/SimMixer.h"

#include <algorithm>
#include <cstring>

SimMixerBackend::SimMixerBackend(std::vector<SimMixerConfig> mixers) {
  for (size_t i = 0; i < mixers.size(); ++i) {
    SimMixerConfig& cfg = mixers[i];
    MixerMap map =
        cfg.hasControl ? MixerMap(cfg.elements, cfg.name, static_cast<TMMDeviceId>(i)) : MixerMap();
    mixers_.push_back({std::move(cfg), std::move(map)});
  }
}

SimMixerBackend::~SimMixerBackend() = default;

uint32_t SimMixerBackend::GetNumDevs() {
  std::lock_guard<std::mutex> lk(m_);
  return static_cast<uint32_t>(mixers_.size());
}

MMRESULT SimMixerBackend::GetDevCaps(TMMDeviceId mixerId, MIXERCAPS* caps) {
  std::lock_guard<std::mutex> lk(m_);
  if (mixerId < 0 || static_cast<size_t>(mixerId) >= mixers_.size()) return MMSYSERR_BADDEVICEID;
  if (!caps) return MMSYSERR_INVALPARAM;
  const Mixer& mx = mixers_[static_cast<size_t>(mixerId)];
  std::memset(caps, 0, sizeof(*caps));
  std::strncpy(caps->szPname, mx.config.name.c_str(), sizeof(caps->szPname) - 1);
  caps->cDestinations = mx.map.Destinations();
  return MMSYSERR_NOERROR;
}

MMRESULT SimMixerBackend::Open(HMIXER* handle, TMMDeviceId mixerId, MixerClient* client) {
  std::lock_guard<std::mutex> lk(m_);
  if (mixerId < 0 || static_cast<size_t>(mixerId) >= mixers_.size()) return MMSYSERR_BADDEVICEID;
  if (!handle) return MMSYSERR_INVALPARAM;
  const MMRESULT refused = mixers_[static_cast<size_t>(mixerId)].config.openResult;
  if (refused != MMSYSERR_NOERROR) return refused;
  *handle = next_++;
  openings_[*handle] = {mixerId, client, std::make_unique<MixerRoute>()};
  return MMSYSERR_NOERROR;
}

MMRESULT SimMixerBackend::Close(HMIXER handle) {
  std::unique_ptr<MixerRoute> route;
  {
    std::lock_guard<std::mutex> lk(m_);
    auto it = openings_.find(handle);
    if (it == openings_.end()) return MMSYSERR_INVALHANDLE;
    route = std::move(it->second.route);
    openings_.erase(it);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT SimMixerBackend::Resolve(HMIXEROBJ object, uint32_t flags, Mixer** mixer) {
  TMMDeviceId id = -1;
  const MMRESULT r = ResolveMixerObject(
      object, flags, static_cast<uint32_t>(mixers_.size()),
      [this](HMIXER h, TMMDeviceId* out) {
        auto it = openings_.find(h);
        if (it == openings_.end()) return false;
        *out = it->second.mixer;
        return true;
      },
      &id);
  if (r == MMSYSERR_NOERROR) *mixer = &mixers_[static_cast<size_t>(id)];
  return r;
}

MMRESULT SimMixerBackend::GetID(HMIXEROBJ object, TMMDeviceId* mixerId, uint32_t flags) {
  std::lock_guard<std::mutex> lk(m_);
  Mixer* mx = nullptr;
  const MMRESULT r = Resolve(object, flags, &mx);
  if (mixerId) *mixerId = mx ? static_cast<TMMDeviceId>(mx - mixers_.data()) : -1;
  return r;
}

MMRESULT SimMixerBackend::GetLineInfo(HMIXEROBJ object, MIXERLINE* line, uint32_t flags) {
  std::lock_guard<std::mutex> lk(m_);
  Mixer* mx = nullptr;
  const MMRESULT r = Resolve(object, flags, &mx);
  return r != MMSYSERR_NOERROR ? r : mx->map.GetLineInfo(line, flags);
}

MMRESULT SimMixerBackend::GetLineControls(HMIXEROBJ object, MIXERLINECONTROLS* controls,
                                          uint32_t flags) {
  std::lock_guard<std::mutex> lk(m_);
  Mixer* mx = nullptr;
  const MMRESULT r = Resolve(object, flags, &mx);
  return r != MMSYSERR_NOERROR ? r : mx->map.GetLineControls(controls, flags);
}

MMRESULT SimMixerBackend::GetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                            uint32_t flags) {
  std::lock_guard<std::mutex> lk(m_);
  Mixer* mx = nullptr;
  const MMRESULT r = Resolve(object, flags, &mx);
  return r != MMSYSERR_NOERROR ? r : mx->map.GetControlDetails(details, flags);
}

MMRESULT SimMixerBackend::SetControlDetails(HMIXEROBJ object, const MIXERCONTROLDETAILS* details,
                                            uint32_t flags) {
  std::lock_guard<std::mutex> lk(m_);
  Mixer* mx = nullptr;
  MMRESULT r = Resolve(object, flags, &mx);
  if (r != MMSYSERR_NOERROR) return r;
  // Written on a copy first, so that the openings hear what reads differently afterwards, the
  // writer's own opening included, as from a card.
  MixerMap written = mx->map;
  r = written.SetControlDetails(details, flags, nullptr);
  if (r != MMSYSERR_NOERROR) return r;
  std::vector<uint32_t> lines, controls;
  mx->map.Update(written.Elements(), &lines, &controls);
  Notify(static_cast<TMMDeviceId>(mx - mixers_.data()), lines, controls);
  return MMSYSERR_NOERROR;
}

bool SimMixerBackend::ChangeElement(TMMDeviceId mixerId, const std::string& name, unsigned index,
                                    const std::function<void(MixerElement&)>& change) {
  std::lock_guard<std::mutex> lk(m_);
  if (mixerId < 0 || static_cast<size_t>(mixerId) >= mixers_.size()) return false;
  Mixer& mx = mixers_[static_cast<size_t>(mixerId)];
  std::vector<MixerElement> elements =
      mx.config.hasControl ? mx.map.Elements() : mx.config.elements;
  auto it = std::find_if(elements.begin(), elements.end(),
                         [&](const MixerElement& e) { return e.name == name && e.index == index; });
  if (it == elements.end()) return false;
  change(*it);
  if (!mx.config.hasControl) {
    mx.config.elements = std::move(elements);
    return true;
  }
  std::vector<uint32_t> lines, controls;
  mx.map.Update(elements, &lines, &controls);
  Notify(mixerId, lines, controls);
  return true;
}

MixerElement SimMixerBackend::Element(TMMDeviceId mixerId, const std::string& name,
                                      unsigned index) {
  std::lock_guard<std::mutex> lk(m_);
  if (mixerId < 0 || static_cast<size_t>(mixerId) >= mixers_.size()) return {};
  const Mixer& mx = mixers_[static_cast<size_t>(mixerId)];
  for (const MixerElement& e : mx.config.hasControl ? mx.map.Elements() : mx.config.elements)
    if (e.name == name && e.index == index) return e;
  return {};
}

void SimMixerBackend::Notify(TMMDeviceId mixerId, const std::vector<uint32_t>& lines,
                             const std::vector<uint32_t>& controls) {
  for (auto& [handle, opening] : openings_) {
    if (opening.mixer != mixerId || !opening.client) continue;
    const HMIXER h = handle;
    for (uint32_t id : lines)
      opening.route->Post([this, h, id] {
        if (MixerClient* c = ClientOf(h)) c->LineChange(h, id);
      });
    for (uint32_t id : controls)
      opening.route->Post([this, h, id] {
        if (MixerClient* c = ClientOf(h)) c->ControlChange(h, id);
      });
  }
}

MixerClient* SimMixerBackend::ClientOf(HMIXER handle) {
  std::lock_guard<std::mutex> lk(m_);
  auto it = openings_.find(handle);
  return it == openings_.end() ? nullptr : it->second.client;
}
