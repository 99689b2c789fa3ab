#include "displays/MMLevel.h"

#include <algorithm>
#include <cmath>

TMMLevel::TMMLevel(TComponent* owner) : TMMDisplay(owner) {
  timer_ = SharedTimer::Register(
      SharedTimer::kTickMs,
      [](SharedTimerClient*, void* self) { static_cast<TMMLevel*>(self)->PeakTick(); }, this);
  Layout();
}

TMMLevel::~TMMLevel() {
  Destroying();
  SharedTimer::Unregister(timer_);
}

// The connector's side -------------------------------------------------------------------------

void TMMLevel::SetPCMFormat(const WAVEFORMATEX* format) {
  if (!IsPCMFormat(format)) throw EMMLevelError("Invalid WaveFormat");
  reading_.BitLength = static_cast<TMMBits>(format->wBitsPerSample / 8 - 1);
  reading_.Mode = static_cast<TMMMode>(format->nChannels - 1);
}

void TMMLevel::ProcessPCMBlock(const void* data) {
  if (!enabled_ || !Visible() || !data) return;
  const int64_t peak = reading_.Peak(data);
  if (peak >= kFullScale && OnPcmOverflow) OnPcmOverflow(this);
  Show(peak);
}

void TMMLevel::ResetDisplay() {
  peakSpot_ = 0;
  peakCountdown_ = 0;
  litSpots_ = 0;
  smoothing_.Clear();
  Repaint();
}

void TMMLevel::PeakTick() {
  if (peakSpot_ <= 0) return;
  if (--peakCountdown_ <= 0) {
    if (peakSpeed_ > 0) {
      --peakSpot_;
      peakCountdown_ = peakSpeed_;
    } else {
      peakSpot_ = 0;
      peakCountdown_ = 0;
    }
    redrawPending_ = true;
  }
}

// The value pipeline ---------------------------------------------------------------------------

int32_t TMMLevel::SpotsFor(int64_t g) const {
  double spots;
  if (logAmp_) {
    const float db = static_cast<float>(
        20.0 * std::log10(std::max(0.000001, static_cast<double>(g) / kFullScale)));
    spots = (static_cast<double>(db) - sensitivy_) * spotCount_ / -sensitivy_;
  } else {
    const float x0 = static_cast<float>(kFullScale / std::pow(10.0, -sensitivy_ / 20.0));
    spots = (static_cast<double>(g) - x0) * spotCount_ / (kFullScale - static_cast<double>(x0));
  }
  return static_cast<int32_t>(std::clamp<int64_t>(RoundEven(spots), 0, INT32_MAX));
}

void TMMLevel::Show(int64_t amplitude) {
  const int64_t x = amplitude < 0 ? -amplitude : amplitude;
  if (x == 0 && litSpots_ == 0 && !redrawPending_) return;
  const int64_t g = ApplyGain(smoothing_.Apply(x), gain_);
  int32_t spots = SpotsFor(g);
  if (direction_ == dirSymetric) spots /= 2;
  if (spots > spotCount_) {
    if (OnGainOverflow) OnGainOverflow(this);
    spots = spotCount_;
  }
  if (spots >= peakSpot_ && spots > 0 && numPeaks_ > 0) {
    peakSpot_ = spots;
    peakCountdown_ = 2 * peakDelay_ + 1;
    redrawPending_ = true;
  }
  if (spots == litSpots_ && !redrawPending_) return;
  redrawPending_ = false;
  litSpots_ = spots;
  if (enabled_ && Visible()) Repaint();
}

int32_t TMMLevel::Value() const {
  if (litSpots_ == 0) return 0;
  const double fraction = static_cast<double>(litSpots_) / spotCount_;
  if (!logAmp_) return static_cast<int32_t>(RoundEven(fraction * 100));
  const double db = sensitivy_ - sensitivy_ * fraction;
  return static_cast<int32_t>(RoundEven(std::pow(10.0, db / 20) * 8 / (gain_ + 8) * 100));
}

void TMMLevel::SetValue(int32_t percent) {
  percent = std::clamp(percent, 0, 100);
  Show(RoundEven(percent * static_cast<double>(kFullScale) / 100));
}

// Layout and look ------------------------------------------------------------------------------

void TMMLevel::Layout() {
  const int32_t extent = std::max(1, kind_ == lkHorizontal ? width_ : height_);
  spotWidth_ = std::max(1, spotWidth_);
  spotCount_ = std::max(1, (extent + spotSpace_) / (spotWidth_ + spotSpace_));
  firstOffset_ = (extent - (spotCount_ * (spotWidth_ + spotSpace_) - spotSpace_)) / 2;
  point1Spot_ = point1_ * spotCount_ / 100;
  point2Spot_ = point2_ * spotCount_ / 100;
  litSpots_ = 0;
  peakSpot_ = 0;
  ChangeLook();
}

void TMMLevel::ChangeLook() {
  ++backgroundVersion_;
  Repaint();
}

TSpotRect TMMLevel::SpotRect(int32_t spot) const {
  const int32_t step = spotWidth_ + spotSpace_;
  const int32_t along = firstOffset_ + (spot - 1) * step;  // from the start edge
  const bool fromFar = direction_ != dirNormal;
  if (kind_ == lkHorizontal) {
    const int32_t x = fromFar ? width_ - along - spotWidth_ : along;
    return {x, 0, spotWidth_, height_};
  }
  // Vertical bars start at the bottom (normal) or the top.
  const int32_t y = fromFar ? along : height_ - along - spotWidth_;
  return {0, y, width_, spotWidth_};
}

int32_t TMMLevel::ZoneOf(int32_t spot) const {
  if (spot <= point1Spot_) return 1;
  if (spot <= point2Spot_) return 2;
  return 3;
}

void TMMLevel::UpdateTimer() {
  const bool run = enabled_ && numPeaks_ > 0;
  if (run && timerSuspended_) {
    SharedTimer::Resume(timer_);
    timerSuspended_ = false;
  } else if (!run && !timerSuspended_) {
    SharedTimer::Suspend(timer_);
    timerSuspended_ = true;
  }
}

// Properties -----------------------------------------------------------------------------------

void TMMLevel::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (!value) {
    ResetDisplay();
  } else {
    Layout();
  }
  UpdateTimer();
  Repaint();
}

void TMMLevel::SetKind(TMMLevelKind value) {
  if (value == kind_) return;
  kind_ = value;
  if ((value == lkHorizontal && height_ > width_) || (value == lkVertical && width_ > height_))
    std::swap(width_, height_);
  Layout();
}

void TMMLevel::SetSize(int32_t width, int32_t height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Layout();
}

void TMMLevel::SetSpotSpace(int32_t value) {
  spotSpace_ = std::clamp(value, 0, 10);
  Layout();
}

void TMMLevel::SetSpotWidth(int32_t value) {
  const int32_t extent = std::max(1, kind_ == lkHorizontal ? width_ : height_);
  spotWidth_ = std::max(1, std::min(value, extent / 3));
  Layout();
}

void TMMLevel::SetBarColors(TColor zone1, TColor zone2, TColor zone3) {
  barColor_[0] = zone1;
  barColor_[1] = zone2;
  barColor_[2] = zone3;
  ChangeLook();
}

void TMMLevel::SetInactiveColors(TColor zone1, TColor zone2, TColor zone3) {
  inactiveColor_[0] = zone1;
  inactiveColor_[1] = zone2;
  inactiveColor_[2] = zone3;
  ChangeLook();
}

void TMMLevel::SetInactiveDoted(bool value) {
  inactiveDoted_ = value;
  ChangeLook();
}

void TMMLevel::SetActiveDoted(bool value) {
  activeDoted_ = value;
  ChangeLook();
}

void TMMLevel::SetColor(TColor value) {
  color_ = value;
  ChangeLook();
}

void TMMLevel::SetPoint1(int32_t value) {
  point1_ = std::clamp(value, 1, 100);
  Layout();
}

void TMMLevel::SetPoint2(int32_t value) {
  point2_ = std::clamp(value, 1, 100);
  Layout();
}

void TMMLevel::SetDirection(TMMLevelDirection value) {
  direction_ = value;
  ChangeLook();
}

void TMMLevel::SetGain(int32_t value) {
  if (GainAccepted(value)) gain_ = value;
}

void TMMLevel::SetSamples(int32_t value) {
  reading_.Samples = std::max(1, value);
}

void TMMLevel::SetSensitivy(int32_t value) {
  sensitivy_ = std::clamp(value, -90, -9);
}

void TMMLevel::SetNumPeaks(int32_t value) {
  numPeaks_ = std::clamp(value, 0, 5);
  peakCountdown_ = 0;
  UpdateTimer();
}

void TMMLevel::SetPeakDelay(int32_t value) {
  peakDelay_ = std::clamp(value, 0, 50);
  peakCountdown_ = 0;
}

void TMMLevel::SetPeakSpeed(int32_t value) {
  peakSpeed_ = std::clamp(value, 0, 50);
  peakCountdown_ = 0;
}
