#pragma once
// The level bar: a row of spots showing the peak of the latest block of one channel (or of
// both averaged) on a dB or linear scale, with smoothing, a held peak that falls after a
// delay, three colour zones and two overflow events. This is the model: it does all the
// arithmetic and keeps what a widget needs to paint the bar.

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "audio/SharedTimer.h"
#include "displays/MMAmplitude.h"
#include "displays/MMColor.h"
#include "displays/MMConect.h"

class EMMLevelError : public EMMError {
 public:
  using EMMError::EMMError;
};

enum TMMLevelKind { lkHorizontal, lkVertical };
enum TMMLevelDirection { dirNormal, dirReversed, dirSymetric };

// A rectangle in the client area: left, top, width, height.
struct TSpotRect {
  int32_t x, y, w, h;
};

class TMMLevel : public TMMDisplay {
 public:
  explicit TMMLevel(TComponent* owner = nullptr);
  ~TMMLevel() override;

  // The connector's side.
  void SetPCMFormat(const WAVEFORMATEX* format) override;
  int32_t BlockBytes() const override { return reading_.BlockBytes(); }
  void ProcessPCMBlock(const void* data) override;
  void ResetDisplay() override;

  // The peak-hold tick (25 ms, on the shared timer's thread).
  void PeakTick();
  SharedTimerClient* TimerClient() const { return timer_; }

  // Published properties; setters apply the range rules.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMLevelKind Kind() const { return kind_; }
  void SetKind(TMMLevelKind value);
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  void SetSize(int32_t width, int32_t height);
  int32_t SpotSpace() const { return spotSpace_; }
  void SetSpotSpace(int32_t value);
  int32_t SpotWidth() const { return spotWidth_; }
  void SetSpotWidth(int32_t value);
  TColor Bar1Color() const { return barColor_[0]; }
  TColor Bar2Color() const { return barColor_[1]; }
  TColor Bar3Color() const { return barColor_[2]; }
  void SetBarColors(TColor zone1, TColor zone2, TColor zone3);
  TColor Inactive1Color() const { return inactiveColor_[0]; }
  TColor Inactive2Color() const { return inactiveColor_[1]; }
  TColor Inactive3Color() const { return inactiveColor_[2]; }
  void SetInactiveColors(TColor zone1, TColor zone2, TColor zone3);
  bool InactiveDoted() const { return inactiveDoted_; }
  void SetInactiveDoted(bool value);
  bool ActiveDoted() const { return activeDoted_; }
  void SetActiveDoted(bool value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  int32_t Point1() const { return point1_; }
  void SetPoint1(int32_t value);
  int32_t Point2() const { return point2_; }
  void SetPoint2(int32_t value);
  TMMLevelDirection Direction() const { return direction_; }
  void SetDirection(TMMLevelDirection value);
  TMMBits BitLength() const { return reading_.BitLength; }
  void SetBitLength(TMMBits value) { reading_.BitLength = value; }
  TMMChannel Channel() const { return reading_.Channel; }
  void SetChannel(TMMChannel value) { reading_.Channel = value; }
  TMMMode Mode() const { return reading_.Mode; }
  void SetMode(TMMMode value) { reading_.Mode = value; }
  int32_t Gain() const { return gain_; }
  void SetGain(int32_t value);
  int32_t Samples() const { return reading_.Samples; }
  void SetSamples(int32_t value);
  int32_t Sensitivy() const { return sensitivy_; }
  void SetSensitivy(int32_t value);
  bool LogAmp() const { return logAmp_; }
  void SetLogAmp(bool value) { logAmp_ = value; }
  int32_t NumPeaks() const { return numPeaks_; }
  void SetNumPeaks(int32_t value);
  int32_t PeakDelay() const { return peakDelay_; }
  void SetPeakDelay(int32_t value);
  int32_t PeakSpeed() const { return peakSpeed_; }
  void SetPeakSpeed(int32_t value);
  TMMDecayMode DecayMode() const { return smoothing_.Mode(); }
  void SetDecayMode(TMMDecayMode value) { smoothing_.SetMode(value); }
  int32_t Decay() const { return smoothing_.Decay(); }
  void SetDecay(int32_t value) { smoothing_.SetDecay(value); }
  int32_t Value() const;
  void SetValue(int32_t percent);
  int32_t DCOffsetL() const { return reading_.DCOffsetL; }
  void SetDCOffsetL(int32_t value) { reading_.DCOffsetL = value; }
  int32_t DCOffsetR() const { return reading_.DCOffsetR; }
  void SetDCOffsetR(int32_t value) { reading_.DCOffsetR = value; }

  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;

  // Run-time state.
  int32_t SpotCount() const { return spotCount_; }
  int32_t FirstSpotOffset() const { return firstOffset_; }
  int32_t Point1Spot() const { return point1Spot_; }
  int32_t Point2Spot() const { return point2Spot_; }
  int32_t LitSpots() const { return litSpots_; }
  int32_t PeakSpot() const { return peakSpot_; }
  int32_t PeakCountdown() const { return peakCountdown_; }
  bool RedrawPending() const { return redrawPending_; }
  const TMMSmoothing& Smoothing() const { return smoothing_; }

  // What is painted. The unlit bar changes only when this number does.
  uint32_t BackgroundVersion() const { return backgroundVersion_; }
  // Spot i (1 at the start edge) in the client area.
  TSpotRect SpotRect(int32_t spot) const;
  int32_t ZoneOf(int32_t spot) const;
  TColor LitColor(int32_t spot) const { return barColor_[ZoneOf(spot) - 1]; }
  TColor UnlitColor(int32_t spot) const { return inactiveColor_[ZoneOf(spot) - 1]; }
  // Calls f(spot, colour) for every spot drawn lit now, the peak marker included.
  template <class F>
  void ForEachLitSpot(F&& f) const;

 private:
  void Layout();
  void ChangeLook();
  void UpdateTimer();
  // The value pipeline for one magnitude.
  void Show(int64_t amplitude);
  int32_t SpotsFor(int64_t g) const;

  TMMBlockReading reading_{b8Bit, mMono, chBoth, 50, 0, 0};
  TMMSmoothing smoothing_;
  bool enabled_ = true;
  TMMLevelKind kind_ = lkHorizontal;
  int32_t width_ = 200, height_ = 17;
  int32_t spotSpace_ = 1;
  int32_t spotWidth_ = 1;
  TColor barColor_[3] = {clAqua, clAqua, clRed};
  TColor inactiveColor_[3] = {clTeal, clTeal, clMaroon};
  bool inactiveDoted_ = false;
  bool activeDoted_ = false;
  TColor color_ = clBlack;
  int32_t point1_ = 50, point2_ = 85;
  TMMLevelDirection direction_ = dirNormal;
  int32_t gain_ = 0;
  int32_t sensitivy_ = -35;
  bool logAmp_ = true;
  int32_t numPeaks_ = 1;
  int32_t peakDelay_ = 20;
  int32_t peakSpeed_ = 0;

  int32_t spotCount_ = 1;
  int32_t firstOffset_ = 0;
  int32_t point1Spot_ = 0, point2Spot_ = 0;
  int32_t litSpots_ = 0;
  // Shared with the timer's thread, each a single word.
  std::atomic<int32_t> peakSpot_{0};
  std::atomic<int32_t> peakCountdown_{0};
  std::atomic<bool> redrawPending_{false};
  uint32_t backgroundVersion_ = 0;

  SharedTimerClient* timer_ = nullptr;
  bool timerSuspended_ = false;
};

template <class F>
void TMMLevel::ForEachLitSpot(F&& f) const {
  if (!enabled_) return;
  const int32_t peak = peakSpot_;
  if (direction_ == dirSymetric) {
    const int32_t centre = std::clamp(litSpots_, 1, spotCount_);
    const TColor c = LitColor(centre);
    for (int32_t i = std::max(1, centre - 2); i <= std::min(spotCount_, centre + 2); ++i) f(i, c);
  } else {
    for (int32_t i = 1; i <= litSpots_; ++i) f(i, LitColor(i));
  }
  if (numPeaks_ > 0 && peak > litSpots_) {
    const int32_t first = direction_ == dirSymetric ? peak + 2 : peak;
    for (int32_t i = first; i > first - numPeaks_ && i >= 1; --i)
      if (i <= spotCount_) f(i, LitColor(i));
  }
}
