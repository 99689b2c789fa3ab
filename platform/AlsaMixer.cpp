#include "platform/AlsaMixer.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// One simple element as this opening knows it. The element pointer goes null when ALSA
// removes the element; its last values are kept so that the line still answers.
struct ElemRecord {
  snd_mixer_elem_t* elem = nullptr;
  std::vector<snd_mixer_selem_channel_id_t> playback, capture;
  MixerElement last;
};

int ElemEvent(snd_mixer_elem_t* elem, unsigned int mask) {
  if (mask == SND_CTL_EVENT_MASK_REMOVE)
    if (auto* rec = static_cast<ElemRecord*>(snd_mixer_elem_get_callback_private(elem)))
      rec->elem = nullptr;
  return 0;
}

std::vector<snd_mixer_selem_channel_id_t> Channels(snd_mixer_elem_t* elem, bool capture) {
  std::vector<snd_mixer_selem_channel_id_t> out;
  for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
    const auto ch = static_cast<snd_mixer_selem_channel_id_t>(c);
    if (capture ? snd_mixer_selem_has_capture_channel(elem, ch)
                : snd_mixer_selem_has_playback_channel(elem, ch))
      out.push_back(ch);
  }
  return out;
}

MixerElement ReadElement(ElemRecord& rec) {
  if (!rec.elem) {
    MixerElement e = rec.last;
    e.gone = true;
    return e;
  }
  snd_mixer_elem_t* el = rec.elem;
  MixerElement e;
  e.name = snd_mixer_selem_get_name(el);
  e.index = snd_mixer_selem_get_index(el);
  e.hasPlaybackVolume = snd_mixer_selem_has_playback_volume(el);
  e.hasPlaybackSwitch = snd_mixer_selem_has_playback_switch(el);
  e.hasCaptureVolume = snd_mixer_selem_has_capture_volume(el);
  e.hasCaptureSwitch = snd_mixer_selem_has_capture_switch(el);
  e.playbackVolumeJoined = e.hasPlaybackVolume && snd_mixer_selem_has_playback_volume_joined(el);
  e.playbackSwitchJoined = e.hasPlaybackSwitch && snd_mixer_selem_has_playback_switch_joined(el);
  e.captureVolumeJoined = e.hasCaptureVolume && snd_mixer_selem_has_capture_volume_joined(el);
  e.captureSwitchJoined = e.hasCaptureSwitch && snd_mixer_selem_has_capture_switch_joined(el);
  if (e.hasCaptureSwitch && snd_mixer_selem_has_capture_switch_exclusive(el)) {
    e.captureSwitchExclusive = true;
    e.captureGroup = snd_mixer_selem_get_capture_group(el);
  }
  if (e.hasPlaybackVolume)
    snd_mixer_selem_get_playback_volume_range(el, &e.playbackMin, &e.playbackMax);
  if (e.hasCaptureVolume)
    snd_mixer_selem_get_capture_volume_range(el, &e.captureMin, &e.captureMax);
  for (auto ch : rec.playback) {
    long v = 0;
    int sw = 0;
    if (e.hasPlaybackVolume) {
      snd_mixer_selem_get_playback_volume(el, ch, &v);
      e.playbackVolume.push_back(v);
    }
    if (e.hasPlaybackSwitch) {
      snd_mixer_selem_get_playback_switch(el, ch, &sw);
      e.playbackSwitch.push_back(sw != 0);
    }
  }
  for (auto ch : rec.capture) {
    long v = 0;
    int sw = 0;
    if (e.hasCaptureVolume) {
      snd_mixer_selem_get_capture_volume(el, ch, &v);
      e.captureVolume.push_back(v);
    }
    if (e.hasCaptureSwitch) {
      snd_mixer_selem_get_capture_switch(el, ch, &sw);
      e.captureSwitch.push_back(sw != 0);
    }
  }
  rec.last = e;
  return e;
}

// The simple mixer of one device, with its elements in ALSA's order and their mapping.
struct Card {
  snd_mixer_t* mixer = nullptr;
  std::vector<std::unique_ptr<ElemRecord>> elems;
  MixerMap map;

  Card() = default;
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;
  ~Card() {
    if (mixer) snd_mixer_close(mixer);
  }

  std::vector<MixerElement> Read() {
    std::vector<MixerElement> out;
    for (auto& rec : elems) out.push_back(ReadElement(*rec));
    return out;
  }

  // Writes what a write on a copy of the map changed.
  MMRESULT Write(const MixerMap& written, const std::vector<ElementWrite>& writes) {
    int err = 0;
    auto keep = [&err](int r) {
      if (r < 0 && err == 0) err = r;
    };
    for (const ElementWrite& w : writes) {
      ElemRecord& rec = *elems[w.element];
      if (!rec.elem) continue;
      const MixerElement& e = written.Elements()[w.element];
      snd_mixer_elem_t* el = rec.elem;
      switch (w.part) {
        case ElementPart::PlaybackVolume:
          for (size_t i = 0; i < rec.playback.size() && i < e.playbackVolume.size(); ++i)
            keep(snd_mixer_selem_set_playback_volume(el, rec.playback[i], e.playbackVolume[i]));
          break;
        case ElementPart::PlaybackSwitch:
          for (size_t i = 0; i < rec.playback.size() && i < e.playbackSwitch.size(); ++i)
            keep(snd_mixer_selem_set_playback_switch(el, rec.playback[i], e.playbackSwitch[i]));
          break;
        case ElementPart::CaptureVolume:
          for (size_t i = 0; i < rec.capture.size() && i < e.captureVolume.size(); ++i)
            keep(snd_mixer_selem_set_capture_volume(el, rec.capture[i], e.captureVolume[i]));
          break;
        case ElementPart::CaptureSwitch:
          for (size_t i = 0; i < rec.capture.size() && i < e.captureSwitch.size(); ++i)
            keep(snd_mixer_selem_set_capture_switch(el, rec.capture[i], e.captureSwitch[i]));
          break;
      }
    }
    return err < 0 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
  }
};

// A card's own mixer, else the control device named like the PCM; a device whose control
// does not open is a mixer with no lines.
std::unique_ptr<Card> OpenCard(const AlsaCaptureBackend::DeviceInfo& dev, TMMDeviceId id) {
  auto card = std::make_unique<Card>();
  const std::string ctl = dev.card >= 0 ? "hw:" + std::to_string(dev.card) : dev.pcm;
  // Most PCMs have no control of their name: asked first, so that ALSA reports no error.
  snd_config_t* def = nullptr;
  if (snd_config_update() < 0 ||
      snd_config_search_definition(snd_config, "ctl", ctl.c_str(), &def) < 0)
    return card;
  snd_config_delete(def);
  snd_mixer_t* m = nullptr;
  if (snd_mixer_open(&m, 0) < 0) return card;
  if (snd_mixer_attach(m, ctl.c_str()) < 0 || snd_mixer_selem_register(m, nullptr, nullptr) < 0 ||
      snd_mixer_load(m) < 0) {
    snd_mixer_close(m);
    return card;
  }
  card->mixer = m;
  for (snd_mixer_elem_t* el = snd_mixer_first_elem(m); el; el = snd_mixer_elem_next(el)) {
    auto rec = std::make_unique<ElemRecord>();
    rec->elem = el;
    rec->playback = Channels(el, false);
    rec->capture = Channels(el, true);
    snd_mixer_elem_set_callback_private(el, rec.get());
    snd_mixer_elem_set_callback(el, ElemEvent);
    card->elems.push_back(std::move(rec));
  }
  card->map = MixerMap(card->Read(), dev.name, id);
  return card;
}

}  // namespace

struct AlsaMixerBackend::Impl {
  struct Opening {
    TMMDeviceId id = -1;
    std::string pcm;
    MixerClient* client = nullptr;
    std::unique_ptr<MixerRoute> route;
    std::unique_ptr<Card> card;
    // Declared last: they go before the mixer whose descriptors they watch.
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
  };

  explicit Impl(AlsaCaptureBackend& d) : devices(d) {}

  // Lock held. Takes in what ALSA has pending and tells the client of each change.
  void Sync(HMIXER handle, Opening& o) {
    if (!o.card->mixer) return;
    if (snd_mixer_handle_events(o.card->mixer) < 0) {
      // The card went away: its descriptors would only report the error again.
      for (auto& n : o.notifiers) n->setEnabled(false);
    }
    std::vector<uint32_t> lines, controls;
    o.card->map.Update(o.card->Read(), &lines, &controls);
    if (!o.client) return;
    for (uint32_t id : lines)
      o.route->Post([this, handle, id] {
        if (MixerClient* c = ClientOf(handle)) c->LineChange(handle, id);
      });
    for (uint32_t id : controls)
      o.route->Post([this, handle, id] {
        if (MixerClient* c = ClientOf(handle)) c->ControlChange(handle, id);
      });
  }

  void Activated(HMIXER handle) {
    std::lock_guard<std::mutex> lk(m);
    auto it = openings.find(handle);
    if (it == openings.end() || !it->second.card->mixer) return;
    snd_mixer_t* mixer = it->second.card->mixer;
    // Plugins keep state behind their descriptors: they are told what poll saw.
    const int count = snd_mixer_poll_descriptors_count(mixer);
    if (count > 0) {
      std::vector<pollfd> fds(static_cast<size_t>(count));
      const int n = snd_mixer_poll_descriptors(mixer, fds.data(), static_cast<unsigned>(count));
      if (n > 0) {
        poll(fds.data(), static_cast<nfds_t>(n), 0);
        unsigned short revents = 0;
        snd_mixer_poll_descriptors_revents(mixer, fds.data(), static_cast<unsigned>(n), &revents);
      }
    }
    Sync(handle, it->second);
  }

  MixerClient* ClientOf(HMIXER handle) {
    std::lock_guard<std::mutex> lk(m);
    auto it = openings.find(handle);
    return it == openings.end() ? nullptr : it->second.client;
  }

  // Runs `use` on the mixer a query means: an opening's (brought up to date), else one opened
  // for this query alone.
  MMRESULT Use(HMIXEROBJ object, uint32_t flags, const std::function<MMRESULT(Card&)>& use) {
    const auto devs = devices.Devices();
    std::lock_guard<std::mutex> lk(m);
    Opening* opening = nullptr;
    HMIXER handle = 0;
    TMMDeviceId id = -1;
    const MMRESULT r = ResolveMixerObject(
        object, flags, static_cast<uint32_t>(devs.size()),
        [&](HMIXER h, TMMDeviceId* out) {
          auto it = openings.find(h);
          if (it == openings.end()) return false;
          opening = &it->second;
          handle = h;
          *out = it->second.id;
          return true;
        },
        &id);
    if (r != MMSYSERR_NOERROR) return r;
    if (!opening) {
      for (auto& [h, o] : openings)
        if (o.pcm == devs[static_cast<size_t>(id)].pcm) {
          opening = &o;
          handle = h;
          break;
        }
    }
    if (opening) {
      Sync(handle, *opening);
      return use(*opening->card);
    }
    const auto card = OpenCard(devs[static_cast<size_t>(id)], id);
    return use(*card);
  }

  AlsaCaptureBackend& devices;
  std::mutex m;
  std::map<HMIXER, Opening> openings;
  HMIXER next = 0x6100;
};

AlsaMixerBackend::AlsaMixerBackend(AlsaCaptureBackend& devices)
    : impl_(std::make_unique<Impl>(devices)) {}

AlsaMixerBackend::~AlsaMixerBackend() = default;

uint32_t AlsaMixerBackend::GetNumDevs() {
  return static_cast<uint32_t>(impl_->devices.Devices().size());
}

MMRESULT AlsaMixerBackend::GetDevCaps(TMMDeviceId mixerId, MIXERCAPS* caps) {
  const auto devs = impl_->devices.Devices();
  if (mixerId < 0 || static_cast<size_t>(mixerId) >= devs.size()) return MMSYSERR_BADDEVICEID;
  if (!caps) return MMSYSERR_INVALPARAM;
  std::memset(caps, 0, sizeof(*caps));
  const auto& dev = devs[static_cast<size_t>(mixerId)];
  std::strncpy(caps->szPname, dev.name.c_str(), sizeof(caps->szPname) - 1);
  return impl_->Use(static_cast<HMIXEROBJ>(mixerId), MIXER_OBJECTF_MIXER, [caps](Card& card) {
    caps->cDestinations = card.map.Destinations();
    return MMSYSERR_NOERROR;
  });
}

MMRESULT AlsaMixerBackend::Open(HMIXER* handle, TMMDeviceId mixerId, MixerClient* client) {
  const auto devs = impl_->devices.Devices();
  if (mixerId < 0 || static_cast<size_t>(mixerId) >= devs.size()) return MMSYSERR_BADDEVICEID;
  if (!handle) return MMSYSERR_INVALPARAM;
  auto card = OpenCard(devs[static_cast<size_t>(mixerId)], mixerId);
  std::lock_guard<std::mutex> lk(impl_->m);
  const HMIXER h = impl_->next++;
  Impl::Opening& o = impl_->openings[h];
  o.id = mixerId;
  o.pcm = devs[static_cast<size_t>(mixerId)].pcm;
  o.client = client;
  o.route = std::make_unique<MixerRoute>();
  o.card = std::move(card);
  if (o.card->mixer) {
    const int count = snd_mixer_poll_descriptors_count(o.card->mixer);
    std::vector<pollfd> fds(static_cast<size_t>(std::max(count, 0)));
    const int n = count > 0 ? snd_mixer_poll_descriptors(o.card->mixer, fds.data(),
                                                         static_cast<unsigned>(count))
                            : 0;
    Impl* impl = impl_.get();
    for (int i = 0; i < n; ++i) {
      const auto& fd = fds[static_cast<size_t>(i)];
      for (auto [bits, type] :
           {std::pair{POLLIN, QSocketNotifier::Read}, std::pair{POLLOUT, QSocketNotifier::Write}}) {
        if (!(fd.events & bits)) continue;
        auto notifier = std::make_unique<QSocketNotifier>(fd.fd, type);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                         [impl, h] { impl->Activated(h); });
        o.notifiers.push_back(std::move(notifier));
      }
    }
  }
  *handle = h;
  return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixerBackend::Close(HMIXER handle) {
  Impl::Opening closing;
  {
    std::lock_guard<std::mutex> lk(impl_->m);
    auto it = impl_->openings.find(handle);
    if (it == impl_->openings.end()) return MMSYSERR_INVALHANDLE;
    closing = std::move(it->second);
    impl_->openings.erase(it);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixerBackend::GetID(HMIXEROBJ object, TMMDeviceId* mixerId, uint32_t flags) {
  const auto devs = impl_->devices.Devices();
  std::lock_guard<std::mutex> lk(impl_->m);
  TMMDeviceId id = -1;
  const MMRESULT r = ResolveMixerObject(
      object, flags, static_cast<uint32_t>(devs.size()),
      [&](HMIXER h, TMMDeviceId* out) {
        auto it = impl_->openings.find(h);
        if (it == impl_->openings.end()) return false;
        // The device list may have been read again since: the number it has now.
        *out = it->second.id;
        for (size_t i = 0; i < devs.size(); ++i)
          if (devs[i].pcm == it->second.pcm) *out = static_cast<TMMDeviceId>(i);
        return true;
      },
      &id);
  if (mixerId) *mixerId = id;
  return r;
}

MMRESULT AlsaMixerBackend::GetLineInfo(HMIXEROBJ object, MIXERLINE* line, uint32_t flags) {
  return impl_->Use(object, flags, [&](Card& card) { return card.map.GetLineInfo(line, flags); });
}

MMRESULT AlsaMixerBackend::GetLineControls(HMIXEROBJ object, MIXERLINECONTROLS* controls,
                                           uint32_t flags) {
  return impl_->Use(object, flags,
                    [&](Card& card) { return card.map.GetLineControls(controls, flags); });
}

MMRESULT AlsaMixerBackend::GetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                             uint32_t flags) {
  return impl_->Use(object, flags,
                    [&](Card& card) { return card.map.GetControlDetails(details, flags); });
}

MMRESULT AlsaMixerBackend::SetControlDetails(HMIXEROBJ object, const MIXERCONTROLDETAILS* details,
                                             uint32_t flags) {
  return impl_->Use(object, flags, [&](Card& card) {
    // The card is written; the map takes the new values, and the openings hear of them, when
    // ALSA reports them back.
    MixerMap written = card.map;
    std::vector<ElementWrite> writes;
    const MMRESULT r = written.SetControlDetails(details, flags, &writes);
    return r != MMSYSERR_NOERROR ? r : card.Write(written, writes);
  });
}

MixerBackend& DefaultMixerBackend() {
  static AlsaCaptureBackend own;
  auto* alsa = dynamic_cast<AlsaCaptureBackend*>(&DefaultCaptureBackend());
  static AlsaMixerBackend backend(alsa ? *alsa : own);
  return backend;
}
