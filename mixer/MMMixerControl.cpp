#include "mixer/MMMixerControl.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::array<uint32_t, 30> kControlCodes = {
    0x00000000, 0x50030002, 0x50030004, 0x50030000, 0x50030003, 0x50030001, 0x71010001, 0x71010000,
    0x70010001, 0x70010000, 0x10010000, 0x10020001, 0x10020000, 0x10030000, 0x30040000, 0x30050000,
    0x30020000, 0x30030000, 0x40020001, 0x40020002, 0x40020000, 0x20010000, 0x21010000, 0x20010004,
    0x20010003, 0x20010002, 0x20010001, 0x20010005, 0x60030000, 0x61030000};

// A list control whose bits 24..27 are 0 selects one item.
bool SingleSelect(uint32_t code) {
  return ((code >> 24) & 0xF) == 0;
}

}  // namespace

uint32_t ControlTypeCode(TMMControlType type) {
  return kControlCodes[static_cast<size_t>(type)];
}

TMMControlType ControlTypeOf(uint32_t code) {
  for (size_t i = 0; i < kControlCodes.size(); ++i)
    if (kControlCodes[i] == code) return static_cast<TMMControlType>(i);
  return ctCustom;
}

TMMControlClass ControlClassOf(uint32_t code) {
  switch (code >> 28) {
    case 0x0:
      return ccCustom;
    case 0x1:
      return ccMeter;
    case 0x2:
      return ccSwitch;
    case 0x3:
      return ccNumber;
    case 0x4:
      return ccSlider;
    case 0x5:
      return ccFader;
    case 0x6:
      return ccTime;
    case 0x7:
      return ccList;
    default:
      throw EMMMixerServiceError("Undefined API control class");
  }
}

TMMCustomMixerControl::TMMCustomMixerControl(TComponent* owner) : TMMNonVisualComponent(owner) {
  lineObserver_.OnNotify = [this](TMMObserver*, const TMMNotification& n) { FromLine(n); };
}

TMMCustomMixerControl::~TMMCustomMixerControl() {
  Destroying();
}

void TMMCustomMixerControl::SetAudioLine(TMMAudioLine* line) {
  if (line != line_) {
    if (line_) {
      line_->RemoveObserver(&lineObserver_);
      RemoveFreeNotification(line_);
    }
    line_ = line;
    if (line_) {
      line_->AddObserver(&lineObserver_);
      FreeNotification(line_);
    }
  }
  ResolveControl();
}

void TMMCustomMixerControl::SetControlId(TMMControlId value) {
  byType_ = false;
  controlId_ = value;
  ResolveControl();
}

void TMMMixerControl::SetControlType(TMMControlType value) {
  byType_ = true;
  type_ = value;
  ResolveControl();
}

void TMMCustomMixerControl::Notification(TComponent* component, TOperation op) {
  TMMNonVisualComponent::Notification(component, op);
  if (op == TOperation::opRemove && component == line_ && !IsDestroying()) {
    line_ = nullptr;
    ResolveControl();
  }
}

bool TMMCustomMixerControl::AcceptsControl(uint32_t) const {
  return true;
}

void TMMCustomMixerControl::ResolveControl() {
  if (IsDestroying()) return;
  if (!IsLoading()) {
    if (line_ && line_->Usable()) {
      MIXERCONTROL c{};
      const bool found =
          line_->Mixer()->Valid() &&
          (byType_
               ? line_->Mixer()->GetLineControl(c, static_cast<uint32_t>(line_->LineId()),
                                                ControlTypeCode(type_), true)
               : controlId_ != badControlId && line_->Mixer()->GetLineControl(
                                                   c, 0, static_cast<uint32_t>(controlId_), false));
      if (found && AcceptsControl(c.dwControlType)) {
        controlId_ = static_cast<TMMControlId>(c.dwControlID);
        type_ = ControlTypeOf(c.dwControlType);
        info_.Flags = (c.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM ? cfUniform : 0) |
                      (c.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE ? cfMultiple : 0) |
                      (c.fdwControl & MIXERCONTROL_CONTROLF_DISABLED ? cfDisabled : 0);
        info_.MultipleItems = c.cMultipleItems;
        info_.ShortName = FixedText(c.szShortName, sizeof c.szShortName);
        info_.Name = FixedText(c.szName, sizeof c.szName);
        info_.MinValue = c.Bounds.lMinimum;
        info_.MaxValue = c.Bounds.lMaximum;
        info_.Steps = c.Metrics.cSteps;
      } else {
        controlId_ = badControlId;
        info_ = {};
      }
    }
  }
  controlClass_ = ControlClassOf(ControlTypeCode(type_));
  if (!IsLoading()) NotifyIdentityChange();
}

void TMMCustomMixerControl::NotifyIdentityChange() {
  observable_.NotifyObservers(TMMControlIdChange());
}

void TMMCustomMixerControl::NotifyValueChange() {
  const TMMLineId line = line_ && line_->Usable() ? line_->LineId() : badLineId;
  observable_.NotifyObservers(TMMControlChange(line, controlId_));
  if (OnChange) OnChange(this);
}

void TMMCustomMixerControl::FromLine(const TMMNotification& n) {
  if (dynamic_cast<const TMMLineIdChange*>(&n)) {
    ResolveControl();
  } else if (const auto* c = dynamic_cast<const TMMControlChange*>(&n)) {
    if (line_ && c->LineId == line_->LineId() && c->ControlId == controlId_ &&
        controlId_ != badControlId)
      NotifyValueChange();
  }
}

bool TMMCustomMixerControl::IsValid() const {
  return line_ && line_->Usable() && line_->HasValidMixer() && controlId_ != badControlId;
}

int32_t TMMCustomMixerControl::ChannelCount() const {
  if (!line_ || !line_->Mixer()) return 0;
  if (info_.Flags & cfUniform) return 1;
  return static_cast<int32_t>(line_->LineInfo().Channels);
}

int32_t TMMCustomMixerControl::ItemCount() const {
  if (!line_ || !line_->Mixer()) return 0;
  return static_cast<int32_t>(info_.MultipleItems);
}

TMMCustomMixerControl::Transfer TMMCustomMixerControl::Plan(TMMChannel channel, TMMItemIndex item) {
  if (!line_ || !line_->HasValidMixer()) throw EMMDeviceError("Mixer required for this operation");
  if (controlId_ == badControlId) throw EMMDeviceError("Control not valid");
  const auto count = static_cast<uint32_t>(ChannelCount());
  Transfer t{};
  t.channels = channel == chBoth ? std::min<uint32_t>(count, 1) : count;
  if (item != NoItem) {
    if (item < 0 || item >= ItemCount()) throw EMMMixerControlError("Item index out of range");
    t.items = static_cast<uint32_t>(ItemCount());
  }
  const auto base = static_cast<size_t>(item == NoItem ? 0 : item);
  if (count <= 1 || channel == chBoth)
    t.entry = base;
  else
    t.entry = count * base + (channel == chRight ? 1 : 0);
  t.size = static_cast<size_t>(std::max<uint32_t>(t.items, 1)) * std::max<uint32_t>(t.channels, 1);
  return t;
}

void TMMCustomMixerControl::Read(const Transfer& t) {
  values_.assign(t.size, 0);
  line_->Mixer()->GetValues(controlId_, t.channels, t.items, values_.data());
}

int32_t TMMCustomMixerControl::GetSignedAt(TMMChannel channel, TMMItemIndex item) {
  const Transfer t = Plan(channel, item);
  Read(t);
  return values_[t.entry];
}

void TMMCustomMixerControl::SetSignedAt(TMMChannel channel, TMMItemIndex item, int32_t value) {
  const Transfer t = Plan(channel, item);
  Read(t);
  values_[t.entry] = value;
  line_->Mixer()->SetValues(controlId_, t.channels, t.items, values_.data());
}

uint32_t TMMCustomMixerControl::GetUnsignedAt(TMMChannel channel, TMMItemIndex item) {
  return static_cast<uint32_t>(TMMCustomMixerControl::GetSignedAt(channel, item));
}

void TMMCustomMixerControl::SetUnsignedAt(TMMChannel channel, TMMItemIndex item, uint32_t value) {
  TMMCustomMixerControl::SetSignedAt(channel, item, static_cast<int32_t>(value));
}

bool TMMCustomMixerControl::GetBooleanAt(TMMChannel channel, TMMItemIndex item) {
  return TMMCustomMixerControl::GetSignedAt(channel, item) != 0;
}

void TMMCustomMixerControl::SetBooleanAt(TMMChannel channel, TMMItemIndex item, bool value) {
  const Transfer t = Plan(channel, item);
  Read(t);
  if (ItemCount() > 0 && SingleSelect(ControlTypeCode(type_))) {
    // Exactly the chosen item: the others of the same channel selection go off first.
    const auto count = static_cast<size_t>(ChannelCount());
    const size_t offset = count <= 1 || channel == chBoth ? 0 : (channel == chRight ? 1 : 0);
    const size_t stride = count <= 1 || channel == chBoth ? 1 : count;
    for (size_t e = offset; e < t.size; e += stride) values_[e] = 0;
  }
  values_[t.entry] = value ? 1 : 0;
  line_->Mixer()->SetValues(controlId_, t.channels, t.items, values_.data());
}

TMMItemInfo TMMCustomMixerControl::ItemInfo(TMMItemIndex index) {
  if (!(info_.Flags & cfMultiple))
    throw EMMMixerControlError("Item info requested from non-multiple control");
  if (index < 0 || index >= ItemCount()) throw EMMMixerControlError("Item index out of range");
  if (!line_ || !line_->HasValidMixer()) throw EMMDeviceError("Mixer required for this operation");
  const auto channels = static_cast<uint32_t>(ChannelCount());
  const auto items = static_cast<uint32_t>(ItemCount());
  std::vector<MIXERCONTROLDETAILS_LISTTEXT> texts(static_cast<size_t>(items) *
                                                  std::max<uint32_t>(channels, 1));
  line_->Mixer()->GetListTexts(controlId_, channels, items, texts.data());
  const MIXERCONTROLDETAILS_LISTTEXT& e =
      texts[static_cast<size_t>(index) * std::max<uint32_t>(channels, 1)];
  return {e.dwParam1, e.dwParam2, FixedText(e.szName, sizeof e.szName)};
}

TMMItemIndex TMMCustomMixerControl::ItemOfLine(const TMMAudioLine* line) {
  if (!line || line->LineId() == badLineId || !IsValid() || !(info_.Flags & cfMultiple) ||
      (type_ != ctMixer && type_ != ctMux))
    return NoItem;
  for (TMMItemIndex i = 0; i < ItemCount(); ++i)
    if (ItemInfo(i).Param1 == static_cast<uint32_t>(line->LineId())) return i;
  return NoItem;
}

// Volume --------------------------------------------------------------------------------------

TMMVolumeControl::TMMVolumeControl(TComponent* owner) : TMMMixerControl(owner) {
  byType_ = true;
  type_ = ctVolume;
}

bool TMMVolumeControl::AcceptsControl(uint32_t platformType) const {
  return platformType == ControlTypeCode(ctVolume);
}

void TMMVolumeControl::SetSignedAt(TMMChannel channel, TMMItemIndex item, int32_t value) {
  if (channel != chBoth) {
    TMMMixerControl::SetSignedAt(channel, item, value);
    return;
  }
  TMMMixerControl::SetSignedAt(chLeft, item, static_cast<int32_t>(value * GainLeft()));
  TMMMixerControl::SetSignedAt(chRight, item, static_cast<int32_t>(value * GainRight()));
}

void TMMVolumeControl::SetUnsignedAt(TMMChannel channel, TMMItemIndex item, uint32_t value) {
  if (channel != chBoth) {
    TMMMixerControl::SetUnsignedAt(channel, item, value);
    return;
  }
  TMMMixerControl::SetUnsignedAt(chLeft, item, static_cast<uint32_t>(value * GainLeft()));
  TMMMixerControl::SetUnsignedAt(chRight, item, static_cast<uint32_t>(value * GainRight()));
}

void TMMVolumeControl::SetPanValue(int32_t value) {
  if (value == pan_) return;
  pan_ = value;
  if (IsValid()) SetSigned(GetSigned());
}
