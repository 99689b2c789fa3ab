#pragma once
// A line of a mixer: a destination (the speakers, the recording input) or a source feeding one
// (line-in, microphone). It is described by its number, its component type or the device it
// stands for, or as a source of a given destination line, and found again whenever something
// it depends on changes; it passes its mixer's notices about it on to its controls.

#include <string>

#include "mixer/MMMixerDevice.h"

enum TMMComponentType {
  ctDstDigital,
  ctDstHeadPhones,
  ctDstLine,
  ctDstMonitor,
  ctDstSpeakers,
  ctDstTelephone,
  ctDstUndefined,
  ctDstVoiceIn,
  ctDstWaveIn,
  ctSrcAnalog,
  ctSrcAux,
  ctSrcCD,
  ctSrcDigital,
  ctSrcLine,
  ctSrcMicrophone,
  ctSrcPCSpeaker,
  ctSrcSynthesizer,
  ctSrcTelephone,
  ctSrcUndefined,
  ctSrcWaveOut
};

uint32_t ComponentTypeCode(TMMComponentType type);
// Raises "Undefined API component type" for a code outside the list.
TMMComponentType ComponentTypeOf(uint32_t code);

// Line flags, as bits.
constexpr uint32_t cfActive = 1, cfDisconnected = 2, cfSource = 4;

struct TMMLineInfo {
  uint32_t Flags = 0;  // cfActive, cfDisconnected, cfSource
  uint32_t Channels = 0;
  uint32_t Connections = 0;
  uint32_t Controls = 0;
  std::string ShortName;
  std::string Name;
};

class TMMAudioLine : public TMMNonVisualComponent {
 public:
  explicit TMMAudioLine(TComponent* owner = nullptr);
  ~TMMAudioLine() override;

  TMMMixerDevice* Mixer() const { return mixer_; }
  void SetMixer(TMMMixerDevice* mixer);
  TMMLineId LineId() const { return lineId_; }
  void SetLineId(TMMLineId value);
  TMMComponentType ComponentType() const { return componentType_; }
  void SetComponentType(TMMComponentType value);
  TMMCustomAudioDevice* Target() const { return target_; }
  void SetTarget(TMMCustomAudioDevice* device);
  TMMAudioLine* DestLine() const { return destLine_; }
  // "DestLine should be TMMAudioLine" for any other component.
  void SetDestLine(TComponent* line);
  const TMMLineInfo& LineInfo() const { return info_; }
  // The destination index of the line found; −1 for a source line or none.
  int32_t DestinationIndex() const { return destIndex_; }
  // A mixer that is a valid device.
  bool HasValidMixer() const { return mixer_ && mixer_->Valid(); }
  // It has a mixer and a number: its controls may be looked up.
  bool Usable() const { return mixer_ && lineId_ != badLineId; }

  TNotifyEvent OnChange;
  std::function<void(TComponent* sender, TMMLineId line, TMMControlId control)> OnControlChange;

  void AddObserver(TMMObserver* o) { observable_.AddObserver(o); }
  void RemoveObserver(TMMObserver* o) { observable_.RemoveObserver(o); }

  // Finds the line again by its description and tells its observers.
  void Resolve();

 protected:
  void Loaded() override { Resolve(); }
  void Notification(TComponent* component, TOperation op) override;

 private:
  enum class By { Number, Type, Target };
  bool LookUp(MIXERLINE& found);
  bool LookUpAmongSources(MIXERLINE& found);
  void Take(const MIXERLINE& found);
  void FromMixer(const TMMNotification& n);

  TMMMixerDevice* mixer_ = nullptr;
  TMMLineId lineId_ = badLineId;
  TMMComponentType componentType_ = ctDstDigital;
  TMMCustomAudioDevice* target_ = nullptr;
  TMMAudioLine* destLine_ = nullptr;
  By by_ = By::Type;
  TMMLineInfo info_;
  int32_t destIndex_ = -1;
  TMMObservable observable_;
  TMMObserver mixerObserver_, targetObserver_, destObserver_;
};
