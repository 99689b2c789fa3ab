#pragma once
// A control on a mixer line (a volume, a mute, the recording-source selector), found by its
// number or by its type on the line and found again when the line changes; its values read
// and written whole, per channel and per list item; its changes passed on to what is bound to
// it. The volume control adds a balance.

#include <string>

#include "audio/MMFormat.h"
#include "mixer/MMAudioLine.h"

class EMMMixerControlError : public EMMError {
 public:
  using EMMError::EMMError;
};

enum TMMControlType {
  ctCustom,
  ctBass,
  ctEqualizer,
  ctFader,
  ctTreble,
  ctVolume,
  ctMixer,
  ctMultipleSelect,
  ctMux,
  ctSingleSelect,
  ctBooleanMeter,
  ctPeakMeter,
  ctSignerMeter,
  ctUnsignedMeter,
  ctDecibels,
  ctPercent,
  ctSigned,
  ctUnsigned,
  ctPan,
  ctQSoundPan,
  ctSlider,
  ctBoolean,
  ctButton,
  ctLoudness,
  ctMono,
  ctMute,
  ctOnOff,
  ctStereoEnh,
  ctMicroTime,
  ctMilliTime
};

enum TMMControlClass { ccCustom, ccFader, ccList, ccMeter, ccNumber, ccSlider, ccSwitch, ccTime };

uint32_t ControlTypeCode(TMMControlType type);
// A code outside the list is a custom control.
TMMControlType ControlTypeOf(uint32_t code);
// From the top four bits; "Undefined API control class" outside the list.
TMMControlClass ControlClassOf(uint32_t code);

// Control flags, as bits.
constexpr uint32_t cfUniform = 1, cfMultiple = 2, cfDisabled = 4;

struct TMMControlInfo {
  uint32_t Flags = 0;  // cfUniform, cfMultiple, cfDisabled
  uint32_t MultipleItems = 0;
  std::string ShortName;
  std::string Name;
  int32_t MinValue = 0;
  int32_t MaxValue = 0;
  uint32_t Steps = 0;
};

struct TMMItemInfo {
  uint32_t Param1 = 0;  // selectors: the line id of the item's source
  uint32_t Param2 = 0;  // ... and its component type
  std::string Name;
};

using TMMItemIndex = int32_t;
constexpr TMMItemIndex NoItem = -1;

class TMMCustomMixerControl : public TMMNonVisualComponent {
 public:
  explicit TMMCustomMixerControl(TComponent* owner = nullptr);
  ~TMMCustomMixerControl() override;

  TMMAudioLine* AudioLine() const { return line_; }
  void SetAudioLine(TMMAudioLine* line);
  TMMControlId ControlId() const { return controlId_; }
  void SetControlId(TMMControlId value);
  TMMControlClass ControlClass() const { return controlClass_; }
  const TMMControlInfo& ControlInfo() const { return info_; }
  TNotifyEvent OnChange;

  void AddObserver(TMMObserver* o) { observable_.AddObserver(o); }
  void RemoveObserver(TMMObserver* o) { observable_.RemoveObserver(o); }

  virtual void ResolveControl();
  // The line is usable and the control was found.
  virtual bool IsValid() const;
  bool IsWritable() const { return IsValid() && !(info_.Flags & cfDisabled); }
  virtual bool AcceptsControl(uint32_t platformType) const;
  virtual int32_t ChannelCount() const;
  virtual int32_t ItemCount() const;

  // One value for all channels.
  bool GetBoolean() { return GetBooleanAt(chBoth, NoItem); }
  void SetBoolean(bool v) { SetBooleanAt(chBoth, NoItem, v); }
  virtual uint32_t GetUnsigned() { return GetUnsignedAt(chBoth, NoItem); }
  virtual void SetUnsigned(uint32_t v) { SetUnsignedAt(chBoth, NoItem, v); }
  virtual int32_t GetSigned() { return GetSignedAt(chBoth, NoItem); }
  virtual void SetSigned(int32_t v) { SetSignedAt(chBoth, NoItem, v); }
  // Per channel and list item (−1 for a plain control).
  virtual int32_t GetSignedAt(TMMChannel channel, TMMItemIndex item);
  virtual void SetSignedAt(TMMChannel channel, TMMItemIndex item, int32_t value);
  virtual uint32_t GetUnsignedAt(TMMChannel channel, TMMItemIndex item);
  virtual void SetUnsignedAt(TMMChannel channel, TMMItemIndex item, uint32_t value);
  virtual bool GetBooleanAt(TMMChannel channel, TMMItemIndex item);
  virtual void SetBooleanAt(TMMChannel channel, TMMItemIndex item, bool value);

  TMMItemInfo ItemInfo(TMMItemIndex index);
  // The item of a selector that stands for `line`; −1 when none.
  TMMItemIndex ItemOfLine(const TMMAudioLine* line);

 protected:
  virtual void NotifyValueChange();
  virtual void NotifyIdentityChange();
  void Loaded() override { ResolveControl(); }
  void Notification(TComponent* component, TOperation op) override;
  TMMControlType type_ = ctCustom;
  bool byType_ = false;

 private:
  struct Transfer {
    uint32_t channels, items;
    size_t entry, size;
  };
  Transfer Plan(TMMChannel channel, TMMItemIndex item);
  void Read(const Transfer& t);
  void FromLine(const TMMNotification& n);

  TMMAudioLine* line_ = nullptr;
  TMMControlId controlId_ = badControlId;
  TMMControlClass controlClass_ = ccCustom;
  TMMControlInfo info_;
  TMMObservable observable_;
  TMMObserver lineObserver_;
  std::vector<int32_t> values_;  // the platform array of the last transfer
};

class TMMMixerControl : public TMMCustomMixerControl {
 public:
  using TMMCustomMixerControl::TMMCustomMixerControl;
  TMMControlType ControlType() const { return type_; }
  void SetControlType(TMMControlType value);
};

// A volume with a balance: a write for both channels is scaled for each side.
class TMMVolumeControl : public TMMMixerControl {
 public:
  explicit TMMVolumeControl(TComponent* owner = nullptr);
  int32_t PanValue() const { return pan_; }
  void SetPanValue(int32_t value);
  bool AcceptsControl(uint32_t platformType) const override;
  void SetUnsigned(uint32_t v) override { SetUnsignedAt(chBoth, NoItem, v); }
  void SetSigned(int32_t v) override { SetSignedAt(chBoth, NoItem, v); }
  void SetSignedAt(TMMChannel channel, TMMItemIndex item, int32_t value) override;
  void SetUnsignedAt(TMMChannel channel, TMMItemIndex item, uint32_t value) override;

 private:
  double GainLeft() const { return pan_ < 1 ? 1.0 : (32767.0 - pan_) / 32767.0; }
  double GainRight() const { return pan_ >= 0 ? 1.0 : (pan_ + 32768.0) / 32768.0; }
  int32_t pan_ = 0;
};
