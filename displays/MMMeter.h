#pragma once
// The VU meter: a needle swinging over an arc scale in dB, with a held peak needle that
// sinks back, and a caption under the arc. It measures as the level bar does and maps the
// result onto a needle position from 0 to 32767. This is the model: the needle, the scale
// and the caption are laid out here; a widget paints them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/SharedTimer.h"
#include "displays/MMAmplitude.h"
#include "displays/MMColor.h"
#include "displays/MMConect.h"
#include "displays/MMScale.h"

class EMMMeterError : public EMMError {
 public:
  using EMMError::EMMError;
};

struct TPoint32 {
  int32_t x, y;
  bool operator==(const TPoint32&) const = default;
};

class TMMMeter : public TMMDisplay {
 public:
  using Measure = TMMLevelScale::Measure;

  explicit TMMMeter(TComponent* owner = nullptr);
  ~TMMMeter() override;

  void SetPCMFormat(const WAVEFORMATEX* format) override;
  int32_t BlockBytes() const override { return reading_.BlockBytes(); }
  void ProcessPCMBlock(const void* data) override;
  void ResetDisplay() override;

  // The peak tick (25 ms, on the shared timer's thread).
  void PeakTick();
  SharedTimerClient* TimerClient() const { return timer_; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // A new size shows 0.
  void SetSize(int32_t width, int32_t height);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TColor Scale1Color() const { return scaleColor_[0]; }
  TColor Scale2Color() const { return scaleColor_[1]; }
  TColor Scale3Color() const { return scaleColor_[2]; }
  void SetScaleColors(TColor zone1, TColor zone2, TColor zone3);
  TColor NeedleColor() const { return needleColor_; }
  TColor PeakColor() const { return peakColor_; }
  void SetNeedleColors(TColor needle, TColor peak);
  int32_t NeedleOffset() const { return needleOffset_; }
  void SetNeedleOffset(int32_t value);
  int32_t NeedleWidth() const { return needleWidth_; }
  void SetNeedleWidth(int32_t value);
  TMMScaleOrigin ScaleOrigin() const { return scaleOrigin_; }
  void SetScaleOrigin(TMMScaleOrigin value);
  int32_t ScaleHeight1() const { return scaleHeight1_; }
  int32_t ScaleHeight2() const { return scaleHeight2_; }
  void SetScaleHeights(int32_t shortTick, int32_t longTick);
  int32_t ScaleAngle() const { return scaleAngle_; }
  void SetScaleAngle(int32_t value);
  int32_t ScaleTicks() const { return scaleTicks_; }
  void SetScaleTicks(int32_t value);
  int32_t ScaleTicksEnlargeEvery() const { return enlargeEvery_; }
  void SetScaleTicksEnlargeEvery(int32_t value);
  int32_t ScaleTicksTextEvery() const { return textEvery_; }
  void SetScaleTicksTextEvery(int32_t value);
  bool DrawScale() const { return drawScale_; }
  void SetDrawScale(bool value);
  int32_t TopSpace() const { return topSpace_; }
  void SetTopSpace(int32_t value);
  int32_t Point1() const { return point1_; }
  void SetPoint1(int32_t value);
  int32_t Point2() const { return point2_; }
  void SetPoint2(int32_t value);
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
  void SetLogAmp(bool value);
  TMMDecayMode DecayMode() const { return smoothing_.Mode(); }
  void SetDecayMode(TMMDecayMode value) { smoothing_.SetMode(value); }
  int32_t Decay() const { return smoothing_.Decay(); }
  void SetDecay(int32_t value) { smoothing_.SetDecay(value); }
  bool ShowPeak() const { return showPeak_; }
  void SetShowPeak(bool value);
  int32_t PeakDelay() const { return peakDelay_; }
  void SetPeakDelay(int32_t value);
  int32_t PeakSpeed() const { return peakSpeed_; }
  void SetPeakSpeed(int32_t value);
  int32_t Value() const;
  void SetValue(int32_t percent);
  int32_t DCOffsetL() const { return reading_.DCOffsetL; }
  void SetDCOffsetL(int32_t value) { reading_.DCOffsetL = value; }
  int32_t DCOffsetR() const { return reading_.DCOffsetR; }
  void SetDCOffsetR(int32_t value) { reading_.DCOffsetR = value; }

  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;

  int32_t NeedleValue() const { return needleValue_; }
  int32_t PeakValue() const { return peakValue_; }
  int32_t PeakCountdown() const { return peakCountdown_; }
  bool RedrawPending() const { return redrawPending_; }

  // Geometry, in the client area.
  TPoint32 Pivot() const { return {width_ / 2, height_ + needleOffset_}; }
  int32_t Radius() const { return height_ + needleOffset_ - topSpace_; }
  // The point of value v (0..32767) at radius rho.
  TPoint32 PointAt(int32_t v, int32_t rho) const;
  TPoint32 NeedleTip() const { return PointAt(needleValue_, Radius()); }
  TPoint32 PeakTip() const { return PointAt(peakValue_, Radius()); }

  // The scale and caption, laid out for the font's measures. The background (scale,
  // caption, colour) changes only when BackgroundVersion does.
  uint32_t BackgroundVersion() const { return backgroundVersion_; }
  std::vector<TScaleLine> ScaleTicksLines() const;
  // Labels measured in the labels' font: the digits centred over the tick's outer end,
  // a minus to their left.
  std::vector<TScaleLabel> ScaleLabels(const Measure& measure) const;
  std::string LabelText(int32_t tick) const;
  // The caption's box: centred across the width, its bottom at H − H div 16.
  TScaleLabel CaptionBox(const Measure& measure) const;

 private:
  void ChangeLook();
  void UpdateTimer();
  void Show(int64_t amplitude);
  int32_t TickValue(int32_t i) const;
  TColor ZoneColor(int32_t v) const;

  TMMBlockReading reading_{b8Bit, mMono, chBoth, 50, 0, 0};
  TMMSmoothing smoothing_;
  bool enabled_ = true;
  int32_t width_ = 170, height_ = 90;
  std::string caption_ = "dB";
  TColor fontColor_ = clSilver;
  TColor color_ = clBlack;
  TColor scaleColor_[3] = {clGreen, clYellow, clRed};
  TColor needleColor_ = clWhite, peakColor_ = clRed;
  int32_t needleOffset_ = 30;
  int32_t needleWidth_ = 1;
  TMMScaleOrigin scaleOrigin_ = soInner;
  int32_t scaleHeight1_ = 4, scaleHeight2_ = 8;
  int32_t scaleAngle_ = 90;
  int32_t scaleTicks_ = 41;
  int32_t enlargeEvery_ = 4;
  int32_t textEvery_ = 8;
  bool drawScale_ = true;
  int32_t topSpace_ = 14;
  int32_t point1_ = 60, point2_ = 80;
  int32_t gain_ = 0;
  int32_t sensitivy_ = -50;
  bool logAmp_ = true;
  bool showPeak_ = true;
  int32_t peakDelay_ = 20;
  int32_t peakSpeed_ = 0;

  // Shared with the timer's thread, each a single word.
  std::atomic<int32_t> needleValue_{0};
  std::atomic<int32_t> peakValue_{0};
  std::atomic<int32_t> peakCountdown_{0};
  std::atomic<bool> redrawPending_{false};
  uint32_t backgroundVersion_ = 0;

  SharedTimerClient* timer_ = nullptr;
  bool timerSuspended_ = false;
};
