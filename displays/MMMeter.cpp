#include "displays/MMMeter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

TMMMeter::TMMMeter(TComponent* owner) : TMMDisplay(owner) {
  timer_ = SharedTimer::Register(
      SharedTimer::kTickMs,
      [](SharedTimerClient*, void* self) { static_cast<TMMMeter*>(self)->PeakTick(); }, this);
}

TMMMeter::~TMMMeter() {
  Destroying();
  SharedTimer::Unregister(timer_);
}

// The connector's side -------------------------------------------------------------------------

void TMMMeter::SetPCMFormat(const WAVEFORMATEX* format) {
  if (!IsPCMFormat(format)) throw EMMMeterError("Invalid WaveFormat");
  reading_.BitLength = static_cast<TMMBits>(format->wBitsPerSample / 8 - 1);
  reading_.Mode = static_cast<TMMMode>(format->nChannels - 1);
}

void TMMMeter::ProcessPCMBlock(const void* data) {
  if (!enabled_ || !Visible() || !data) return;
  const int64_t peak = reading_.Peak(data);
  if (peak >= kFullScale && OnPcmOverflow) OnPcmOverflow(this);
  Show(peak);
}

void TMMMeter::ResetDisplay() {
  needleValue_ = 0;
  peakValue_ = 0;
  peakCountdown_ = 0;
  smoothing_.Clear();
  Repaint();
}

void TMMMeter::PeakTick() {
  if (peakValue_ <= 0) return;
  if (--peakCountdown_ <= 0) {
    // Never below the needle.
    if (peakSpeed_ > 0) {
      peakValue_ = std::max<int32_t>(peakValue_ - 500, needleValue_);
      peakCountdown_ = peakSpeed_;
    } else {
      peakValue_ = needleValue_.load();
      peakCountdown_ = 0;
    }
    redrawPending_ = true;
  }
}

// The value pipeline ---------------------------------------------------------------------------

void TMMMeter::Show(int64_t amplitude) {
  const int64_t x = amplitude < 0 ? -amplitude : amplitude;
  if (x == 0 && needleValue_ == 0 && !redrawPending_) return;
  const int64_t g = ApplyGain(smoothing_.Apply(x), gain_);
  double v;
  if (logAmp_) {
    const float db = static_cast<float>(
        20.0 * std::log10(std::max(0.00001, static_cast<double>(g) / kFullScale)));
    v = (static_cast<double>(db) - sensitivy_) * kFullScale / -sensitivy_;
  } else {
    const float x0 = static_cast<float>(kFullScale / std::pow(10.0, -sensitivy_ / 20.0));
    v = (static_cast<double>(g) - x0) * kFullScale / (kFullScale - static_cast<double>(x0));
  }
  int64_t needle = std::max<int64_t>(0, RoundEven(v));
  if (needle >= kFullScale) {
    if (OnGainOverflow) OnGainOverflow(this);
    needle = kFullScale;
  }
  const auto n = static_cast<int32_t>(needle);
  if (n > peakValue_ && showPeak_) {
    peakValue_ = n;
    peakCountdown_ = 2 * peakDelay_ + 1;
    redrawPending_ = true;
  }
  if (n == needleValue_ && !redrawPending_) return;
  redrawPending_ = false;
  needleValue_ = n;
  if (enabled_ && Visible()) Repaint();
}

int32_t TMMMeter::Value() const {
  if (needleValue_ == 0) return 0;
  const double fraction = static_cast<double>(needleValue_) / kFullScale;
  if (!logAmp_) return static_cast<int32_t>(RoundEven(fraction * 100));
  const double db = sensitivy_ - sensitivy_ * fraction;
  return static_cast<int32_t>(RoundEven(std::pow(10.0, db / 20) * 8 / (gain_ + 8) * 100));
}

void TMMMeter::SetValue(int32_t percent) {
  percent = std::clamp(percent, 0, 100);
  Show(RoundEven(percent * static_cast<double>(kFullScale) / 100));
}

// Geometry -------------------------------------------------------------------------------------

TPoint32 TMMMeter::PointAt(int32_t v, int32_t rho) const {
  constexpr float pi = std::numbers::pi_v<float>;
  const float a0 = static_cast<float>(180 - scaleAngle_) * pi / 360.0f;
  const float theta = a0 + (pi - 2.0f * a0) * static_cast<float>(v) / kFullScale;
  return {width_ / 2 - static_cast<int32_t>(RoundEven(std::cos(theta) * static_cast<float>(rho))),
          height_ + needleOffset_ -
              static_cast<int32_t>(RoundEven(std::sin(theta) * static_cast<float>(rho)))};
}

int32_t TMMMeter::TickValue(int32_t i) const {
  return kFullScale * i / (scaleTicks_ - 1);
}

TColor TMMMeter::ZoneColor(int32_t v) const {
  if (v <= point1_ * static_cast<double>(kFullScale) / 100) return scaleColor_[0];
  if (v <= point2_ * static_cast<double>(kFullScale) / 100) return scaleColor_[1];
  return scaleColor_[2];
}

std::vector<TScaleLine> TMMMeter::ScaleTicksLines() const {
  std::vector<TScaleLine> lines;
  if (!drawScale_ || scaleTicks_ <= 1) return lines;
  const int32_t outer = Radius() - 2;
  const int32_t inner = outer - scaleHeight2_;
  const int32_t shortEnd = inner + scaleHeight1_;
  for (int32_t i = 0; i < scaleTicks_; ++i) {
    const bool isLong = enlargeEvery_ == 0 || i == scaleTicks_ - 1 || i % enlargeEvery_ == 0;
    const int32_t v = TickValue(i);
    int32_t from, to;
    if (scaleOrigin_ == soInner) {
      from = inner;
      to = isLong ? outer : shortEnd;
    } else {
      from = outer;
      to = isLong ? inner : shortEnd;
    }
    const TPoint32 a = PointAt(v, from), b = PointAt(v, to);
    lines.push_back({a.x, a.y, b.x, b.y, ZoneColor(v)});
  }
  return lines;
}

std::string TMMMeter::LabelText(int32_t tick) const {
  const int32_t n = scaleTicks_ - 1;
  if (logAmp_) return std::to_string((n - tick) * sensitivy_ / n);
  const double x0 = kFullScale / std::pow(10.0, -sensitivy_ / 20.0);
  const double f = static_cast<double>(tick) / n;
  return std::to_string(RoundEven(20 * std::log10((x0 + (kFullScale - x0) * f) / kFullScale)));
}

std::vector<TScaleLabel> TMMMeter::ScaleLabels(const Measure& measure) const {
  std::vector<TScaleLabel> labels;
  if (!drawScale_ || scaleTicks_ <= 1 || textEvery_ <= 0) return labels;
  for (int32_t i = 0; i < scaleTicks_; i += textEvery_) {
    const std::string text = LabelText(i);
    const std::string digits = text[0] == '-' ? text.substr(1) : text;
    int32_t tw = 0, th = 0, dw = 0, dh = 0;
    measure(text, tw, th);
    measure(digits, dw, dh);
    const TPoint32 end = PointAt(TickValue(i), Radius() - 2);
    labels.push_back({end.x - dw / 2 - (tw - dw), end.y - 3 - th, tw, th, text, fontColor_});
  }
  return labels;
}

TScaleLabel TMMMeter::CaptionBox(const Measure& measure) const {
  int32_t tw = 0, th = 0, ww = 0, wh = 0;
  measure(caption_, tw, th);
  measure("W", ww, wh);
  const int32_t bottom = height_ - height_ / 16;
  return {(width_ - tw) / 2, bottom - wh, tw, wh, caption_, fontColor_};
}

// Properties -----------------------------------------------------------------------------------

void TMMMeter::ChangeLook() {
  ++backgroundVersion_;
  Repaint();
}

void TMMMeter::UpdateTimer() {
  const bool run = enabled_ && showPeak_;
  if (run && timerSuspended_) {
    SharedTimer::Resume(timer_);
    timerSuspended_ = false;
  } else if (!run && !timerSuspended_) {
    SharedTimer::Suspend(timer_);
    timerSuspended_ = true;
  }
}

void TMMMeter::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  ResetDisplay();
  UpdateTimer();
  ChangeLook();
}

void TMMMeter::SetSize(int32_t width, int32_t height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  ++backgroundVersion_;
  ResetDisplay();
}

void TMMMeter::SetCaption(const std::string& value) {
  caption_ = value;
  ChangeLook();
}

void TMMMeter::SetFontColor(TColor value) {
  fontColor_ = value;
  ChangeLook();
}

void TMMMeter::SetColor(TColor value) {
  color_ = value;
  ChangeLook();
}

void TMMMeter::SetScaleColors(TColor zone1, TColor zone2, TColor zone3) {
  scaleColor_[0] = zone1;
  scaleColor_[1] = zone2;
  scaleColor_[2] = zone3;
  ChangeLook();
}

void TMMMeter::SetNeedleColors(TColor needle, TColor peak) {
  needleColor_ = needle;
  peakColor_ = peak;
  Repaint();
}

void TMMMeter::SetNeedleOffset(int32_t value) {
  needleOffset_ = std::max(0, value);
  ChangeLook();
}

void TMMMeter::SetNeedleWidth(int32_t value) {
  needleWidth_ = std::max(0, value);
  Repaint();
}

void TMMMeter::SetScaleOrigin(TMMScaleOrigin value) {
  scaleOrigin_ = value;
  ChangeLook();
}

void TMMMeter::SetScaleHeights(int32_t shortTick, int32_t longTick) {
  scaleHeight1_ = std::max(0, shortTick);
  scaleHeight2_ = std::max(0, longTick);
  ChangeLook();
}

void TMMMeter::SetScaleAngle(int32_t value) {
  scaleAngle_ = std::clamp(value, 45, 180);
  ChangeLook();
}

void TMMMeter::SetScaleTicks(int32_t value) {
  scaleTicks_ = value;
  ChangeLook();
}

void TMMMeter::SetScaleTicksEnlargeEvery(int32_t value) {
  enlargeEvery_ = std::max(0, value);
  ChangeLook();
}

void TMMMeter::SetScaleTicksTextEvery(int32_t value) {
  textEvery_ = std::max(0, value);
  ChangeLook();
}

void TMMMeter::SetDrawScale(bool value) {
  drawScale_ = value;
  ChangeLook();
}

void TMMMeter::SetTopSpace(int32_t value) {
  topSpace_ = value;
  ChangeLook();
}

void TMMMeter::SetPoint1(int32_t value) {
  point1_ = std::clamp(value, 1, 100);
  ChangeLook();
}

void TMMMeter::SetPoint2(int32_t value) {
  point2_ = std::clamp(value, 1, 100);
  ChangeLook();
}

void TMMMeter::SetGain(int32_t value) {
  if (GainAccepted(value)) gain_ = value;
}

void TMMMeter::SetSamples(int32_t value) {
  reading_.Samples = std::max(1, value);
}

void TMMMeter::SetSensitivy(int32_t value) {
  sensitivy_ = std::clamp(value, -90, -9);
  ChangeLook();
}

void TMMMeter::SetLogAmp(bool value) {
  logAmp_ = value;
  ChangeLook();
}

void TMMMeter::SetShowPeak(bool value) {
  showPeak_ = value;
  peakCountdown_ = 0;
  UpdateTimer();
  Repaint();
}

void TMMMeter::SetPeakDelay(int32_t value) {
  peakDelay_ = std::clamp(value, 0, 50);
  peakCountdown_ = 0;
}

void TMMMeter::SetPeakSpeed(int32_t value) {
  peakSpeed_ = std::clamp(value, 0, 50);
  peakCountdown_ = 0;
}
