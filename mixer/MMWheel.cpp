#include "mixer/MMWheel.h"

#include <algorithm>
#include <cmath>

namespace {

int32_t RoundEven(long double v) {
  return static_cast<int32_t>(std::nearbyint(v));  // the default mode rounds half to even
}

void AtLeastOne(int32_t value) {
  if (value < 1) throw EMMWheelError("This parameter should be greater then 0");
}

}  // namespace

void TMMCustomWheel::SetRange(int32_t min, int32_t max) {
  min_ = min;
  max_ = std::max(min, max);
  value_ = std::clamp(value_, min_, max_);
}

bool TMMCustomWheel::SetValue(int32_t value) {
  value = std::clamp(value, min_, max_);
  if (value == value_) return false;
  value_ = value;
  return true;
}

void TMMCustomWheel::SetAngles(int32_t start, int32_t end) {
  start_ = std::clamp(start, 0, 360);
  end_ = std::clamp(end, 0, 360);
}

void TMMCustomWheel::SetScrollSize(int32_t value) {
  AtLeastOne(value);
  scrollSize_ = value;
}

void TMMCustomWheel::SetLineStep(int32_t value) {
  AtLeastOne(value);
  lineStep_ = value;
}

void TMMCustomWheel::SetPageStep(int32_t value) {
  AtLeastOne(value);
  pageStep_ = value;
}

int32_t TMMCustomWheel::HandleAngle() const {
  const double f = max_ > min_ ? static_cast<double>(value_ - min_) / (max_ - min_) : 0.0;
  const double span = end_ < start_ ? 360.0 : start_ - end_ + 360.0;
  int32_t a = static_cast<int32_t>(std::lround(start_ - f * span));
  if (a < 0) a += 360;
  return a;
}

int32_t TMMCustomWheel::ValueAtPointer(double dx, double dy) const {
  if (dx == 0 && dy == 0) return value_;
  double a = std::atan2(dy, dx) * 180.0 / M_PI;
  if (a < 0) a += 360.0;
  const double s = start_;
  const double e = end_ < start_ ? start_ : end_;
  // The dead zone between the ends snaps to the nearer one; its middle to the maximum.
  if (s < a && a < e) a = (e - s) / 2 > a - s ? s : e;
  const double turned = std::fmod(s - a + 720.0, 360.0);
  const double total = 360.0 - e + s;
  return min_ + RoundEven(turned / total * (max_ - min_));
}

int32_t TMMCustomWheel::DragValue(int32_t startValue, int32_t startY, int32_t y) const {
  return startValue + RoundEven(static_cast<long double>(max_ - min_) * (startY - y) / scrollSize_);
}

int32_t TMMCustomWheel::ValueAfterKey(Key key) const {
  switch (key) {
    case kPageUp:
      return value_ + pageStep_;
    case kPageDown:
      return value_ - pageStep_;
    case kEnd:
      return min_;
    case kHome:
      return max_;
    case kUp:
    case kRight:
      return value_ + lineStep_;
    case kLeft:
    case kDown:
      return value_ - lineStep_;
  }
  return value_;
}

long double WheelStep(int32_t minValue, int32_t maxValue, uint32_t steps) {
  return static_cast<long double>(static_cast<int64_t>(maxValue) - minValue) /
         static_cast<long double>(steps ? steps : 32);
}

int32_t WheelMaximum(int32_t minValue, int32_t maxValue, long double step) {
  if (step == 0) return 1;
  return static_cast<int32_t>(static_cast<long double>(static_cast<int64_t>(maxValue) - minValue) /
                              step);
}

int32_t WheelPosition(int32_t mixerValue, int32_t minValue, long double step) {
  return RoundEven((static_cast<long double>(mixerValue) - minValue) / step);
}

int32_t WheelMixerValue(int32_t position, int32_t minValue, long double step) {
  return RoundEven(position * step + minValue);
}
