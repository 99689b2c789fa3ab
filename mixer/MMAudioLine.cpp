#include "mixer/MMAudioLine.h"

#include <array>
#include <cstring>

namespace {

constexpr std::array<uint32_t, 20> kComponentCodes = {
    0x1,    0x5,    0x2,    0x3,    0x4,    0x6,    0x0,    0x8,    0x7,    0x100A,
    0x1009, 0x1005, 0x1001, 0x1002, 0x1003, 0x1007, 0x1004, 0x1006, 0x1000, 0x1008};

// Target type of a device kind.
uint32_t TargetType(TMMDeviceKind kind) {
  switch (kind) {
    case dkMidiIn:
      return MIXERLINE_TARGETTYPE_MIDIIN;
    case dkMidiOut:
      return MIXERLINE_TARGETTYPE_MIDIOUT;
    case dkWaveIn:
      return MIXERLINE_TARGETTYPE_WAVEIN;
    case dkWaveOut:
      return MIXERLINE_TARGETTYPE_WAVEOUT;
    case dkAux:
      return MIXERLINE_TARGETTYPE_AUX;
    case dkMixer:
      break;
  }
  return MIXERLINE_TARGETTYPE_UNDEFINED;
}

}  // namespace

uint32_t ComponentTypeCode(TMMComponentType type) {
  return kComponentCodes[static_cast<size_t>(type)];
}

TMMComponentType ComponentTypeOf(uint32_t code) {
  for (size_t i = 0; i < kComponentCodes.size(); ++i)
    if (kComponentCodes[i] == code) return static_cast<TMMComponentType>(i);
  throw EMMMixerServiceError("Undefined API component type");
}

TMMAudioLine::TMMAudioLine(TComponent* owner) : TMMNonVisualComponent(owner) {
  mixerObserver_.OnNotify = [this](TMMObserver*, const TMMNotification& n) { FromMixer(n); };
  targetObserver_.OnNotify = [this](TMMObserver*, const TMMNotification&) { Resolve(); };
  destObserver_.OnNotify = [this](TMMObserver*, const TMMNotification& n) {
    if (dynamic_cast<const TMMLineIdChange*>(&n)) Resolve();
  };
}

TMMAudioLine::~TMMAudioLine() {
  Destroying();
}

void TMMAudioLine::SetMixer(TMMMixerDevice* mixer) {
  if (mixer == mixer_) return;
  if (mixer_) {
    mixer_->RemoveMixerObserver(&mixerObserver_);
    RemoveFreeNotification(mixer_);
  }
  mixer_ = mixer;
  if (mixer_) {
    mixer_->AddMixerObserver(&mixerObserver_);
    FreeNotification(mixer_);
  }
  Resolve();
}

void TMMAudioLine::SetLineId(TMMLineId value) {
  by_ = By::Number;
  lineId_ = value;
  Resolve();
}

void TMMAudioLine::SetComponentType(TMMComponentType value) {
  by_ = By::Type;
  componentType_ = value;
  Resolve();
}

void TMMAudioLine::SetTarget(TMMCustomAudioDevice* device) {
  if (device && device->DeviceKind() == dkMixer) throw EMMMixerDeviceError("Can't target to mixer");
  by_ = By::Target;
  if (device != target_) {
    if (target_) {
      target_->RemoveObserver(&targetObserver_);
      RemoveFreeNotification(target_);
    }
    target_ = device;
    if (target_) {
      target_->AddObserver(&targetObserver_);
      FreeNotification(target_);
    }
  }
  Resolve();
}

void TMMAudioLine::SetDestLine(TComponent* line) {
  auto* dest = dynamic_cast<TMMAudioLine*>(line);
  if (line && !dest) throw EMMMixerDeviceError("DestLine should be TMMAudioLine");
  if (dest == destLine_) return;
  if (destLine_) {
    destLine_->RemoveObserver(&destObserver_);
    RemoveFreeNotification(destLine_);
  }
  destLine_ = dest;
  if (destLine_) {
    destLine_->AddObserver(&destObserver_);
    FreeNotification(destLine_);
  }
  Resolve();
}

void TMMAudioLine::Notification(TComponent* component, TOperation op) {
  TMMNonVisualComponent::Notification(component, op);
  if (op != TOperation::opRemove || IsDestroying()) return;
  bool changed = false;
  if (component == mixer_) {
    mixer_ = nullptr;
    changed = true;
  }
  if (component == target_) {
    target_ = nullptr;
    changed = true;
  }
  if (component == destLine_) {
    destLine_ = nullptr;
    changed = true;
  }
  if (changed) Resolve();
}

bool TMMAudioLine::LookUp(MIXERLINE& found) {
  found = {};
  switch (by_) {
    case By::Type:
      found.dwComponentType = ComponentTypeCode(componentType_);
      return mixer_->GetLineInfo(found, MIXER_GETLINEINFOF_COMPONENTTYPE);
    case By::Target: {
      if (!target_) return false;
      const TMMDeviceCaps& caps = target_->DeviceCaps();
      found.Target.dwType = TargetType(target_->DeviceKind());
      found.Target.wMid = caps.ManufacturerId;
      found.Target.wPid = caps.ProductId;
      found.Target.vDriverVersion = static_cast<uint32_t>(caps.VerMajor) << 8 | caps.VerMinor;
      std::strncpy(found.Target.szPname, caps.ProductName.c_str(), sizeof found.Target.szPname - 1);
      return mixer_->GetLineInfo(found, MIXER_GETLINEINFOF_TARGETTYPE);
    }
    case By::Number:
      if (lineId_ == badLineId) return false;
      found.dwLineID = static_cast<uint32_t>(lineId_);
      return mixer_->GetLineInfo(found, MIXER_GETLINEINFOF_LINEID);
  }
  return false;
}

bool TMMAudioLine::LookUpAmongSources(MIXERLINE& found) {
  TMMAudioLine& d = *destLine_;
  if (d.IsLoading() || !d.HasValidMixer() || d.LineId() == badLineId ||
      (d.LineInfo().Flags & cfSource))
    return false;
  if (!LookUp(found)) return false;
  if (d.LineId() >= 0 && found.dwDestination == static_cast<uint32_t>(d.LineId())) return true;
  if (by_ == By::Number) return false;
  const TMMDeviceCaps* caps = by_ == By::Target && target_ ? &target_->DeviceCaps() : nullptr;
  for (uint32_t s = 0; s < d.LineInfo().Connections; ++s) {
    MIXERLINE src{};
    src.dwDestination = static_cast<uint32_t>(d.DestinationIndex());
    src.dwSource = s;
    if (!mixer_->GetLineInfo(src, MIXER_GETLINEINFOF_SOURCE)) continue;
    bool match;
    if (by_ == By::Type) {
      match = src.dwComponentType == ComponentTypeCode(componentType_);
    } else {
      match = caps && src.Target.dwType == TargetType(target_->DeviceKind()) &&
              src.Target.wMid == caps->ManufacturerId && src.Target.wPid == caps->ProductId &&
              (src.Target.vDriverVersion & 0xFFFF) ==
                  (static_cast<uint32_t>(caps->VerMajor) << 8 | caps->VerMinor) &&
              FixedText(src.Target.szPname, sizeof src.Target.szPname) == caps->ProductName;
    }
    if (match) {
      found = src;
      return true;
    }
  }
  return false;
}

void TMMAudioLine::Take(const MIXERLINE& found) {
  lineId_ = static_cast<TMMLineId>(found.dwLineID);
  componentType_ = ComponentTypeOf(found.dwComponentType);
  info_.Flags = (found.fdwLine & MIXERLINE_LINEF_ACTIVE ? cfActive : 0) |
                (found.fdwLine & MIXERLINE_LINEF_DISCONNECTED ? cfDisconnected : 0) |
                (found.fdwLine & MIXERLINE_LINEF_SOURCE ? cfSource : 0);
  info_.Channels = found.cChannels;
  info_.Connections = found.cConnections;
  info_.Controls = found.cControls;
  info_.ShortName = FixedText(found.szShortName, sizeof found.szShortName);
  info_.Name = FixedText(found.szName, sizeof found.szName);
  destIndex_ = info_.Flags & cfSource ? -1 : static_cast<int32_t>(found.dwDestination);
}

void TMMAudioLine::Resolve() {
  if (IsLoading() || IsDestroying()) return;
  destIndex_ = -1;
  if (HasValidMixer()) {
    MIXERLINE found{};
    bool ok;
    if (destLine_)
      ok = destLine_->Mixer() == mixer_ && LookUpAmongSources(found);
    else
      ok = LookUp(found);
    if (ok) {
      Take(found);
    } else {
      lineId_ = badLineId;
      info_ = {};
    }
  }
  observable_.NotifyObservers(TMMLineIdChange());
}

void TMMAudioLine::FromMixer(const TMMNotification& n) {
  if (dynamic_cast<const TMMDeviceChange*>(&n)) {
    Resolve();
  } else if (const auto* l = dynamic_cast<const TMMLineChange*>(&n)) {
    if (l->LineId != lineId_ || lineId_ == badLineId) return;
    observable_.NotifyObservers(TMMLineChange(lineId_));
    if (OnChange) OnChange(this);
  } else if (const auto* c = dynamic_cast<const TMMControlChange*>(&n)) {
    if (c->LineId != lineId_ || lineId_ == badLineId) return;
    observable_.NotifyObservers(TMMControlChange(lineId_, c->ControlId));
    if (OnControlChange) OnControlChange(this, lineId_, c->ControlId);
  }
}
