#include "platform/MixerBackend.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <type_traits>

namespace {

void CopyName(char* dst, size_t size, const std::string& src) {
  std::memset(dst, 0, size);
  std::strncpy(dst, src.c_str(), size - 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ElementLineName(const MixerElement& e) {
  return e.index == 0 ? e.name : e.name + " " + std::to_string(e.index);
}

uint32_t ChannelsOf(size_t a, size_t b) {
  return static_cast<uint32_t>(std::max<size_t>({a, b, 1}));
}

long MaxOf(const std::vector<long>& v, size_t from, size_t count) {
  long m = v[from];
  for (size_t i = 1; i < count; ++i) m = std::max(m, v[from + i]);
  return m;
}

constexpr uint32_t kPlayback = 0;
constexpr uint32_t kRecording = 1;

}  // namespace

uint32_t ComponentTypeOfElement(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "line") return MIXERLINE_COMPONENTTYPE_SRC_LINE;
  if (n == "mic" || n == "front mic" || n == "rear mic")
    return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
  if (n == "cd") return MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
  if (n == "aux") return MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY;
  if (n == "pcm") return MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
  return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}

MixerMap::MixerMap(std::vector<MixerElement> elements, const std::string& name, TMMDeviceId mixerId)
    : elements_(std::move(elements)), name_(name), mixerId_(mixerId) {
  for (uint32_t d : {kPlayback, kRecording}) {
    const uint32_t destIndex = static_cast<uint32_t>(lines_.size());
    dests_.push_back(destIndex);
    lines_.push_back(
        {d,
         d,
         0,
         -1,
         d == kPlayback ? MIXERLINE_COMPONENTTYPE_DST_SPEAKERS : MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
         {},
         {}});
    // Many cards (and every sound-server control) record whatever input is selected through
    // one "Capture" element and have no line-in or microphone of their own on the recording
    // side; that element then stands for the missing ones, so that a station's recording level
    // is reachable whichever input it names.
    std::vector<uint32_t> standIns;
    if (d == kRecording) {
      for (uint32_t type :
           {MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE})
        if (std::none_of(elements_.begin(), elements_.end(), [&](const MixerElement& e) {
              return e.HasCapture() && ComponentTypeOfElement(e.name) == type;
            }))
          standIns.push_back(type);
    }
    for (size_t i = 0; i < elements_.size(); ++i) {
      const MixerElement& e = elements_[i];
      if (d == kPlayback ? !e.HasPlayback() : !e.HasCapture()) continue;
      const bool standing = !standIns.empty() && e.index == 0 && Lower(e.name) == "capture";
      for (uint32_t type : standing ? standIns : std::vector{ComponentTypeOfElement(e.name)}) {
        const uint32_t source = static_cast<uint32_t>(lines_[destIndex].sources.size());
        const auto lineIndex = static_cast<uint32_t>(lines_.size());
        lines_[destIndex].sources.push_back(lineIndex);
        lines_.push_back({((source + 1) << 16) | d, d, source, static_cast<int>(i), type, {}, {}});
      }
      if (standing) standIns.clear();
    }
  }
  // Controls in line order, so that their ids follow from the element list alone.
  for (uint32_t li = 0; li < lines_.size(); ++li) {
    Line& line = lines_[li];
    auto add = [&](Control c) {
      c.id = static_cast<uint32_t>(controls_.size());
      c.line = li;
      line.controls.push_back(c.id);
      controls_.push_back(std::move(c));
    };
    if (line.element < 0) {
      if (line.dest != kRecording) continue;
      // The source selector: one exclusive group is a single-select list of its members;
      // otherwise each source with a capture switch is an item of its own.
      std::vector<int> groups;
      for (uint32_t s : line.sources) {
        const MixerElement& e = elements_[static_cast<size_t>(lines_[s].element)];
        if (e.hasCaptureSwitch && e.captureSwitchExclusive &&
            std::find(groups.begin(), groups.end(), e.captureGroup) == groups.end())
          groups.push_back(e.captureGroup);
      }
      Control sel{0, 0, Kind::Selector, -1, {}, {}, groups.size() == 1};
      for (uint32_t s : line.sources) {
        const auto ei = static_cast<size_t>(lines_[s].element);
        const MixerElement& e = elements_[ei];
        if (!e.hasCaptureSwitch) continue;
        // One item per switch: a stand-in pair shares its element's.
        if (std::find(sel.items.begin(), sel.items.end(), ei) != sel.items.end()) continue;
        if (sel.mux && !(e.captureSwitchExclusive && e.captureGroup == groups[0])) continue;
        sel.items.push_back(ei);
        sel.itemLines.push_back(lines_[s].id);
      }
      if (!sel.items.empty()) add(std::move(sel));
      continue;
    }
    const MixerElement& e = elements_[static_cast<size_t>(line.element)];
    if (line.dest == kPlayback) {
      if (e.hasPlaybackVolume) add({0, 0, Kind::PlaybackVolume, line.element, {}, {}, false});
      if (e.hasPlaybackSwitch) add({0, 0, Kind::PlaybackMute, line.element, {}, {}, false});
    } else if (e.hasCaptureVolume) {
      add({0, 0, Kind::CaptureVolume, line.element, {}, {}, false});
    }
  }
}

const MixerMap::Line* MixerMap::FindLine(uint32_t lineId) const {
  for (const Line& l : lines_)
    if (l.id == lineId) return &l;
  return nullptr;
}

const MixerMap::Control* MixerMap::FindControl(uint32_t controlId) const {
  return controlId < controls_.size() ? &controls_[controlId] : nullptr;
}

uint32_t MixerMap::LineChannels(const Line& line) const {
  if (line.element < 0) {
    uint32_t most = 1;
    for (uint32_t s : line.sources) most = std::max(most, LineChannels(lines_[s]));
    return most;
  }
  const MixerElement& e = elements_[static_cast<size_t>(line.element)];
  return line.dest == kPlayback ? ChannelsOf(e.playbackVolume.size(), e.playbackSwitch.size())
                                : ChannelsOf(e.captureVolume.size(), e.captureSwitch.size());
}

bool MixerMap::Uniform(const Control& c) const {
  if (c.kind == Kind::Selector) return true;
  const MixerElement& e = elements_[static_cast<size_t>(c.element)];
  switch (c.kind) {
    case Kind::PlaybackVolume:
      return e.playbackVolumeJoined || e.playbackVolume.size() <= 1;
    case Kind::PlaybackMute:
      return e.playbackSwitchJoined || e.playbackSwitch.size() <= 1;
    case Kind::CaptureVolume:
      return e.captureVolumeJoined || e.captureVolume.size() <= 1;
    case Kind::Selector:
      break;
  }
  return true;
}

uint32_t MixerMap::ControlChannels(const Control& c) const {
  return Uniform(c) ? 1 : LineChannels(lines_[c.line]);
}

std::vector<long> MixerMap::Values(const Control& c, const std::vector<MixerElement>& from) const {
  const uint32_t channels = ControlChannels(c);
  std::vector<long> out;
  if (c.kind == Kind::Selector) {
    for (size_t ei : c.items) {
      const auto& sw = from[ei].captureSwitch;
      out.push_back(std::find(sw.begin(), sw.end(), true) != sw.end() ? 1 : 0);
    }
    return out;
  }
  const MixerElement& e = from[static_cast<size_t>(c.element)];
  // A channel the element lacks reads as its first one; a uniform control as its largest.
  auto pick = [&](auto get, size_t size) {
    std::vector<long> all;
    for (size_t ch = 0; ch < std::max<size_t>(size, 1); ++ch) all.push_back(size ? get(ch) : 0);
    if (channels == 1) return std::vector<long>{MaxOf(all, 0, all.size())};
    all.resize(channels, all[0]);
    return all;
  };
  switch (c.kind) {
    case Kind::PlaybackVolume:
      return pick([&](size_t ch) { return e.playbackVolume[ch]; }, e.playbackVolume.size());
    case Kind::PlaybackMute:
      return pick([&](size_t ch) { return e.playbackSwitch[ch] ? 0L : 1L; },
                  e.playbackSwitch.size());
    case Kind::CaptureVolume:
      return pick([&](size_t ch) { return e.captureVolume[ch]; }, e.captureVolume.size());
    case Kind::Selector:
      break;
  }
  return out;
}

void MixerMap::FillLine(const Line& line, MIXERLINE* out) const {
  std::memset(out, 0, sizeof(*out));
  out->dwDestination = line.dest;
  out->dwLineID = line.id;
  out->dwComponentType = line.componentType;
  out->cChannels = LineChannels(line);
  out->cControls = static_cast<uint32_t>(line.controls.size());
  std::string name;
  if (line.element < 0) {
    out->fdwLine = MIXERLINE_LINEF_ACTIVE;
    out->cConnections = static_cast<uint32_t>(line.sources.size());
    name = line.dest == kPlayback ? "Playback" : "Recording";
    out->Target.dwType =
        line.dest == kPlayback ? MIXERLINE_TARGETTYPE_WAVEOUT : MIXERLINE_TARGETTYPE_WAVEIN;
    out->Target.dwDeviceID = static_cast<uint32_t>(mixerId_);
    CopyName(out->Target.szPname, sizeof(out->Target.szPname), name_);
  } else {
    const MixerElement& e = elements_[static_cast<size_t>(line.element)];
    out->dwSource = line.source;
    out->fdwLine =
        MIXERLINE_LINEF_SOURCE | (e.gone ? MIXERLINE_LINEF_DISCONNECTED : MIXERLINE_LINEF_ACTIVE);
    name = ElementLineName(e);
    out->Target.dwType = MIXERLINE_TARGETTYPE_UNDEFINED;
  }
  CopyName(out->szShortName, sizeof(out->szShortName), name);
  CopyName(out->szName, sizeof(out->szName), name);
}

void MixerMap::FillControl(const Control& c, MIXERCONTROL* out) const {
  std::memset(out, 0, sizeof(*out));
  out->dwControlID = c.id;
  out->fdwControl = Uniform(c) ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
  std::string shortName, name;
  if (c.kind == Kind::Selector) {
    out->dwControlType = c.mux ? MIXERCONTROL_CONTROLTYPE_MUX : MIXERCONTROL_CONTROLTYPE_MIXER;
    out->fdwControl |= MIXERCONTROL_CONTROLF_MULTIPLE;
    out->cMultipleItems = static_cast<uint32_t>(c.items.size());
    out->Bounds.dwMinimum = 0;
    out->Bounds.dwMaximum = 1;
    shortName = c.mux ? "Source" : "Sources";
    name = c.mux ? "Recording Source" : "Recording Sources";
  } else {
    const MixerElement& e = elements_[static_cast<size_t>(c.element)];
    if (e.gone) out->fdwControl |= MIXERCONTROL_CONTROLF_DISABLED;
    const std::string line = ElementLineName(e);
    if (c.kind == Kind::PlaybackMute) {
      out->dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
      out->Bounds.dwMinimum = 0;
      out->Bounds.dwMaximum = 1;
      shortName = "Mute";
      name = line + " Mute";
    } else {
      const bool play = c.kind == Kind::PlaybackVolume;
      const long lo = play ? e.playbackMin : e.captureMin;
      const long hi = play ? e.playbackMax : e.captureMax;
      out->dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
      out->Bounds.lMinimum = static_cast<int32_t>(lo);
      out->Bounds.lMaximum = static_cast<int32_t>(hi);
      out->Metrics.cSteps = static_cast<uint32_t>(std::max(hi - lo, 0L));
      shortName = "Volume";
      name = line + " Volume";
    }
  }
  CopyName(out->szShortName, sizeof(out->szShortName), shortName);
  CopyName(out->szName, sizeof(out->szName), name);
}

MMRESULT MixerMap::GetLineInfo(MIXERLINE* line, uint32_t query) const {
  if (!line) return MMSYSERR_INVALPARAM;
  switch (query & MIXER_GETLINEINFOF_QUERYMASK) {
    case MIXER_GETLINEINFOF_DESTINATION:
      if (line->dwDestination >= dests_.size()) return MIXERR_INVALLINE;
      FillLine(lines_[dests_[line->dwDestination]], line);
      return MMSYSERR_NOERROR;
    case MIXER_GETLINEINFOF_SOURCE: {
      if (line->dwDestination >= dests_.size()) return MIXERR_INVALLINE;
      const Line& dest = lines_[dests_[line->dwDestination]];
      if (line->dwSource >= dest.sources.size()) return MIXERR_INVALLINE;
      FillLine(lines_[dest.sources[line->dwSource]], line);
      return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINEINFOF_LINEID: {
      const Line* l = FindLine(line->dwLineID);
      if (!l) return MIXERR_INVALLINE;
      FillLine(*l, line);
      return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINEINFOF_COMPONENTTYPE:
      for (const Line& l : lines_)
        if (l.componentType == line->dwComponentType) {
          FillLine(l, line);
          return MMSYSERR_NOERROR;
        }
      return MIXERR_INVALLINE;
    case MIXER_GETLINEINFOF_TARGETTYPE: {
      const auto want = line->Target;
      for (const Line& l : lines_) {
        MIXERLINE filled;
        FillLine(l, &filled);
        const auto& t = filled.Target;
        if (t.dwType != MIXERLINE_TARGETTYPE_UNDEFINED && t.dwType == want.dwType &&
            t.wMid == want.wMid && t.wPid == want.wPid && t.vDriverVersion == want.vDriverVersion &&
            std::strncmp(t.szPname, want.szPname, sizeof(t.szPname)) == 0) {
          *line = filled;
          return MMSYSERR_NOERROR;
        }
      }
      return MIXERR_INVALLINE;
    }
    default:
      return MMSYSERR_INVALFLAG;
  }
}

MMRESULT MixerMap::GetLineControls(MIXERLINECONTROLS* mlc, uint32_t query) const {
  if (!mlc || !mlc->pamxctrl || mlc->cbmxctrl != sizeof(MIXERCONTROL)) return MMSYSERR_INVALPARAM;
  switch (query & MIXER_GETLINECONTROLSF_QUERYMASK) {
    case MIXER_GETLINECONTROLSF_ALL: {
      const Line* l = FindLine(mlc->dwLineID);
      if (!l) return MIXERR_INVALLINE;
      if (mlc->cControls != l->controls.size()) return MMSYSERR_INVALPARAM;
      for (size_t i = 0; i < l->controls.size(); ++i)
        FillControl(controls_[l->controls[i]], &mlc->pamxctrl[i]);
      return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINECONTROLSF_ONEBYID: {
      if (mlc->cControls != 1) return MMSYSERR_INVALPARAM;
      const Control* c = FindControl(mlc->dwControlID);
      if (!c) return MIXERR_INVALCONTROL;
      FillControl(*c, mlc->pamxctrl);
      mlc->dwLineID = lines_[c->line].id;
      return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINECONTROLSF_ONEBYTYPE: {
      if (mlc->cControls != 1) return MMSYSERR_INVALPARAM;
      const Line* l = FindLine(mlc->dwLineID);
      if (!l) return MIXERR_INVALLINE;
      for (uint32_t id : l->controls) {
        MIXERCONTROL mc;
        FillControl(controls_[id], &mc);
        if (mc.dwControlType == mlc->dwControlType) {
          *mlc->pamxctrl = mc;
          return MMSYSERR_NOERROR;
        }
      }
      return MIXERR_INVALCONTROL;
    }
    default:
      return MMSYSERR_INVALFLAG;
  }
}

MMRESULT MixerMap::GetControlDetails(MIXERCONTROLDETAILS* d, uint32_t query) const {
  if (!d) return MMSYSERR_INVALPARAM;
  const Control* c = FindControl(d->dwControlID);
  if (!c) return MIXERR_INVALCONTROL;
  const uint32_t channels = ControlChannels(*c);
  const auto items = static_cast<uint32_t>(c->items.size());
  if ((d->cChannels != 1 && d->cChannels != channels) || d->cMultipleItems != items ||
      !d->paDetails)
    return MMSYSERR_INVALPARAM;
  const uint32_t rows = std::max(items, 1u);
  switch (query & MIXER_GETCONTROLDETAILSF_QUERYMASK) {
    case MIXER_GETCONTROLDETAILSF_VALUE: {
      if (d->cbDetails != sizeof(int32_t)) return MMSYSERR_INVALPARAM;
      const std::vector<long> v = Values(*c, elements_);
      auto* out = static_cast<MIXERCONTROLDETAILS_SIGNED*>(d->paDetails);
      for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t ch = 0; ch < d->cChannels; ++ch) {
          const size_t at = static_cast<size_t>(r) * channels;
          const long value = d->cChannels == channels ? v[at + ch] : MaxOf(v, at, channels);
          out[r * d->cChannels + ch].lValue = static_cast<int32_t>(value);
        }
      return MMSYSERR_NOERROR;
    }
    case MIXER_GETCONTROLDETAILSF_LISTTEXT: {
      if (items == 0) return MMSYSERR_INVALPARAM;
      if (d->cbDetails != sizeof(MIXERCONTROLDETAILS_LISTTEXT)) return MMSYSERR_INVALPARAM;
      auto* out = static_cast<MIXERCONTROLDETAILS_LISTTEXT*>(d->paDetails);
      for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t ch = 0; ch < d->cChannels; ++ch) {
          MIXERCONTROLDETAILS_LISTTEXT& t = out[r * d->cChannels + ch];
          t.dwParam1 = c->itemLines[r];
          t.dwParam2 = FindLine(c->itemLines[r])->componentType;
          CopyName(t.szName, sizeof(t.szName), ElementLineName(elements_[c->items[r]]));
        }
      return MMSYSERR_NOERROR;
    }
    default:
      return MMSYSERR_INVALFLAG;
  }
}

MMRESULT MixerMap::SetControlDetails(const MIXERCONTROLDETAILS* d, uint32_t query,
                                     std::vector<ElementWrite>* writes) {
  if (!d) return MMSYSERR_INVALPARAM;
  if ((query & MIXER_SETCONTROLDETAILSF_QUERYMASK) != MIXER_SETCONTROLDETAILSF_VALUE)
    return MMSYSERR_INVALFLAG;
  const Control* c = FindControl(d->dwControlID);
  if (!c) return MIXERR_INVALCONTROL;
  const uint32_t channels = ControlChannels(*c);
  const auto items = static_cast<uint32_t>(c->items.size());
  if ((d->cChannels != 1 && d->cChannels != channels) || d->cMultipleItems != items ||
      !d->paDetails || d->cbDetails != sizeof(int32_t))
    return MMSYSERR_INVALPARAM;
  const auto* in = static_cast<const MIXERCONTROLDETAILS_SIGNED*>(d->paDetails);
  std::vector<ElementWrite> done;
  auto note = [&](size_t element, ElementPart part) {
    const ElementWrite w{element, part};
    if (std::find(done.begin(), done.end(), w) == done.end()) done.push_back(w);
  };

  if (c->kind == Kind::Selector) {
    auto setSwitch = [&](size_t ei, bool on) {
      auto& sw = elements_[ei].captureSwitch;
      for (size_t ch = 0; ch < sw.size(); ++ch)
        if (sw[ch] != on) {
          sw[ch] = on;
          note(ei, ElementPart::CaptureSwitch);
        }
    };
    if (c->mux) {
      // Exactly one source records; a list with none on leaves the choice as it is.
      const auto on = static_cast<size_t>(std::count_if(
          in, in + items, [](const MIXERCONTROLDETAILS_SIGNED& v) { return v.lValue; }));
      if (on > 1) return MMSYSERR_INVALPARAM;
      if (on == 1) {
        for (uint32_t i = 0; i < items; ++i)
          if (!in[i].lValue) setSwitch(c->items[i], false);
        for (uint32_t i = 0; i < items; ++i)
          if (in[i].lValue) setSwitch(c->items[i], true);
      }
    } else {
      for (uint32_t i = 0; i < items; ++i) setSwitch(c->items[i], in[i].lValue != 0);
    }
  } else {
    const auto ei = static_cast<size_t>(c->element);
    MixerElement& e = elements_[ei];
    auto setAll = [&](auto& values, auto convert, ElementPart part) {
      // One value for all channels when one is given or the control is uniform.
      for (size_t ch = 0; ch < values.size(); ++ch) {
        const size_t from = d->cChannels == 1 ? 0 : std::min<size_t>(ch, d->cChannels - 1);
        const auto v = convert(in[from].lValue);
        if (values[ch] != v) {
          values[ch] = v;
          note(ei, part);
        }
      }
    };
    switch (c->kind) {
      case Kind::PlaybackVolume:
        setAll(
            e.playbackVolume,
            [&](int32_t v) { return std::clamp<long>(v, e.playbackMin, e.playbackMax); },
            ElementPart::PlaybackVolume);
        break;
      case Kind::PlaybackMute:
        setAll(
            e.playbackSwitch, [](int32_t v) { return v == 0; }, ElementPart::PlaybackSwitch);
        break;
      case Kind::CaptureVolume:
        setAll(
            e.captureVolume,
            [&](int32_t v) { return std::clamp<long>(v, e.captureMin, e.captureMax); },
            ElementPart::CaptureVolume);
        break;
      case Kind::Selector:
        break;
    }
  }
  if (writes) *writes = std::move(done);
  return MMSYSERR_NOERROR;
}

void MixerMap::Update(const std::vector<MixerElement>& elements,
                      std::vector<uint32_t>* changedLines, std::vector<uint32_t>* changedControls) {
  if (elements.size() != elements_.size()) return;
  std::vector<MixerElement> next = elements;
  // The layout stays as built: a value list of another length is cut or padded to it.
  for (size_t i = 0; i < next.size(); ++i) {
    auto fit = [](auto& v, const auto& like) {
      using T = typename std::decay_t<decltype(v)>::value_type;
      if (like.empty()) {
        v.clear();
        return;
      }
      const T pad = v.empty() ? static_cast<T>(like[0]) : static_cast<T>(v[0]);
      v.resize(like.size(), pad);
    };
    fit(next[i].playbackVolume, elements_[i].playbackVolume);
    fit(next[i].playbackSwitch, elements_[i].playbackSwitch);
    fit(next[i].captureVolume, elements_[i].captureVolume);
    fit(next[i].captureSwitch, elements_[i].captureSwitch);
  }
  if (changedControls) {
    for (const Control& c : controls_)
      if (Values(c, elements_) != Values(c, next)) changedControls->push_back(c.id);
  }
  if (changedLines) {
    for (const Line& l : lines_)
      if (l.element >= 0 && elements_[static_cast<size_t>(l.element)].gone !=
                                next[static_cast<size_t>(l.element)].gone)
        changedLines->push_back(l.id);
  }
  elements_ = std::move(next);
}

MMRESULT ResolveMixerObject(HMIXEROBJ object, uint32_t flags, uint32_t mixerCount,
                            const std::function<bool(HMIXER, TMMDeviceId*)>& handleMixer,
                            TMMDeviceId* mixerId) {
  // Numbers arrive as 32-bit values: -1 (a mapper) reads the same from either width.
  const auto number = static_cast<int32_t>(static_cast<uint32_t>(object));
  *mixerId = -1;
  switch (flags & MIXER_OBJECTF_TYPEMASK) {
    case MIXER_OBJECTF_HMIXER:
      return handleMixer && handleMixer(object, mixerId) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    case MIXER_OBJECTF_MIXER:
      if (number < 0 || static_cast<uint32_t>(number) >= mixerCount) return MMSYSERR_BADDEVICEID;
      *mixerId = number;
      return MMSYSERR_NOERROR;
    case MIXER_OBJECTF_WAVEIN:
      // Mixer n belongs to recording device n; the mapper has none of its own.
      if (number == MapperId) return MMSYSERR_NODRIVER;
      if (number < 0 || static_cast<uint32_t>(number) >= mixerCount) return MMSYSERR_BADDEVICEID;
      *mixerId = number;
      return MMSYSERR_NOERROR;
    default:
      return MMSYSERR_NODRIVER;
  }
}

MixerRoute::MixerRoute() : context_(new QObject) {}

MixerRoute::~MixerRoute() {
  if (QThread::currentThread() == context_->thread())
    delete context_;
  else
    context_->deleteLater();
}

void MixerRoute::Post(std::function<void()> deliver) {
  QMetaObject::invokeMethod(context_, std::move(deliver), Qt::QueuedConnection);
}

namespace {

class NoMixers final : public MixerBackend {
 public:
  uint32_t GetNumDevs() override { return 0; }
  MMRESULT GetDevCaps(TMMDeviceId, MIXERCAPS*) override { return MMSYSERR_BADDEVICEID; }
  MMRESULT Open(HMIXER*, TMMDeviceId, MixerClient*) override { return MMSYSERR_BADDEVICEID; }
  MMRESULT Close(HMIXER) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT GetID(HMIXEROBJ object, TMMDeviceId* mixerId, uint32_t flags) override {
    TMMDeviceId id = -1;
    const MMRESULT r = ResolveMixerObject(object, flags, 0, nullptr, &id);
    if (mixerId) *mixerId = id;
    return r;
  }
  MMRESULT GetLineInfo(HMIXEROBJ object, MIXERLINE*, uint32_t flags) override {
    return Fail(object, flags);
  }
  MMRESULT GetLineControls(HMIXEROBJ object, MIXERLINECONTROLS*, uint32_t flags) override {
    return Fail(object, flags);
  }
  MMRESULT GetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS*, uint32_t flags) override {
    return Fail(object, flags);
  }
  MMRESULT SetControlDetails(HMIXEROBJ object, const MIXERCONTROLDETAILS*,
                             uint32_t flags) override {
    return Fail(object, flags);
  }

 private:
  static MMRESULT Fail(HMIXEROBJ object, uint32_t flags) {
    TMMDeviceId id = -1;
    return ResolveMixerObject(object, flags, 0, nullptr, &id);
  }
};

}  // namespace

MixerBackend& NoMixerDevices() {
  static NoMixers none;
  return none;
}
