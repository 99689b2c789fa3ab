#include "displays/MMAmplitude.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

int32_t TMMBlockReading::BlockBytes() const {
  return (static_cast<int32_t>(BitLength) + 1) * (static_cast<int32_t>(Mode) + 1) * Samples;
}

int64_t TMMBlockReading::Peak(const void* data) const {
  int64_t peak = 0;
  const bool stereo = Mode != mMono;
  // Stereo and multi-channel blocks are read as interleaved left/right pairs.
  const int32_t stride = stereo ? static_cast<int32_t>(Mode) + 1 : 1;
  const int64_t offL = DCOffsetL, offR = DCOffsetR;
  if (BitLength == b16Bit) {
    const auto* s = static_cast<const int16_t*>(data);
    for (int32_t i = 0; i < Samples; ++i, s += stride) {
      int64_t v;
      if (!stereo)
        v = s[0] - offL;
      else if (Channel == chLeft)
        v = s[0] - offL;
      else if (Channel == chRight)
        v = s[1] - offR;
      else
        v = ((s[0] - offL) + (s[1] - offR)) / 2;
      peak = std::max<int64_t>(peak, v < 0 ? -v : v);
    }
  } else {
    const auto* s = static_cast<const uint8_t*>(data);
    for (int32_t i = 0; i < Samples; ++i, s += stride) {
      int64_t b;
      if (!stereo)
        b = s[0] - offL;
      else if (Channel == chLeft)
        b = s[0] - offL;
      else if (Channel == chRight)
        b = s[1] - offR;
      else
        b = ((s[0] - offL) + (s[1] - offR)) / 2;
      peak = std::max<int64_t>(peak, std::abs((b - 128) * 256));
    }
  }
  return peak;
}

float DecayFactor(int32_t decay) {
  float f = 0.0001f;
  for (int32_t i = 0; i < decay; ++i) f = static_cast<float>(std::sqrt(static_cast<double>(f)));
  return f;
}

int32_t AverageLength(int32_t decay) {
  return std::clamp(2 * decay - 2, 1, 32);
}

void TMMSmoothing::SetMode(TMMDecayMode mode) {
  mode_ = mode;
  Clear();
}

void TMMSmoothing::SetDecay(int32_t decay) {
  decay_ = std::clamp(decay, 1, 16);
  factor_ = DecayFactor(decay_);
  length_ = AverageLength(decay_);
  if (mode_ == dmUniform) Clear();
}

void TMMSmoothing::Clear() {
  ring_.fill(0);
  position_ = 0;
  filled_ = 0;
  sum_ = 0;
  s_ = 0;
}

int64_t TMMSmoothing::Apply(int64_t x) {
  if (mode_ == dmNone) return x;
  position_ = position_ + 1 >= length_ ? 0 : position_ + 1;
  filled_ = std::min(filled_ + 1, length_);
  switch (mode_) {
    case dmStepUp:
      s_ = s_ * factor_;
      if (static_cast<float>(x) > s_) {
        s_ = static_cast<float>(x);
        return x;
      }
      return static_cast<int64_t>(s_);
    case dmExponential:
      s_ = s_ * factor_ + (1.0f - factor_) * static_cast<float>(x);
      return static_cast<int64_t>(std::floor(s_));
    case dmUniform:
      sum_ += x - ring_[static_cast<size_t>(position_)];
      ring_[static_cast<size_t>(position_)] = x;
      return sum_ / filled_;
    case dmNone:
      break;
  }
  return x;
}

int64_t RoundEven(double x) {
  return static_cast<int64_t>(std::nearbyint(x));
}
