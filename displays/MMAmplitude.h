#pragma once
// What the level bars and the VU needles measure alike: the peak of a block of samples on
// the 16-bit scale, its smoothing over the blocks that follow, and the gain in eighths.

#include <array>
#include <cstdint>

#include "audio/MMFormat.h"

enum TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };

constexpr int32_t kFullScale = 32767;

// How a block is read: sample width, layout, channel shown and the DC offsets.
struct TMMBlockReading {
  TMMBits BitLength = b8Bit;
  TMMMode Mode = mMono;
  TMMChannel Channel = chBoth;
  int32_t Samples = 50;
  int32_t DCOffsetL = 0;
  int32_t DCOffsetR = 0;

  // (BitLength + 1) × (Mode + 1) × Samples.
  int32_t BlockBytes() const;
  // The largest magnitude over Samples frames, after the offsets and the channel choice.
  int64_t Peak(const void* data) const;
};

// 0.0001 with its square root taken `decay` times, each step a 32-bit float.
float DecayFactor(int32_t decay);
// 2 × decay − 2, within 1..32.
int32_t AverageLength(int32_t decay);

// The smoothing of one value stream: a rise at once and an exponential fall (dmStepUp), an
// exponential follower (dmExponential) or a moving average (dmUniform).
class TMMSmoothing {
 public:
  TMMDecayMode Mode() const { return mode_; }
  void SetMode(TMMDecayMode mode);  // clears the state
  int32_t Decay() const { return decay_; }
  void SetDecay(int32_t decay);  // clamped to 1..16; clears the state only under dmUniform
  float Factor() const { return factor_; }
  int32_t Length() const { return length_; }
  float Level() const { return s_; }
  void Clear();
  // The smoothed value of the magnitude x.
  int64_t Apply(int64_t x);

 private:
  TMMDecayMode mode_ = dmNone;
  int32_t decay_ = 1;
  float factor_ = 0.0001f;  // a new display starts so until Decay is set
  int32_t length_ = 1;
  std::array<int64_t, 32> ring_{};
  int32_t position_ = 0;
  int32_t filled_ = 0;
  int64_t sum_ = 0;
  float s_ = 0;
};

// value × (Gain + 8) div 8.
inline int64_t ApplyGain(int64_t value, int32_t gain) {
  return value * (gain + 8) / 8;
}

// Gain is taken only within −8..32.
inline bool GainAccepted(int32_t gain) {
  return gain >= -8 && gain <= 32;
}

// Round half to even, as every display rounds.
int64_t RoundEven(double x);
