#pragma once
// The volume stage: scales the samples passing through it in place, with one gain per channel
// from a volume and a panning. The recorder uses the panning to keep the left channel, the
// right one or both.

#include "audio/MMDSPObj.h"

class EMMVolumeError : public EMMError {
 public:
  using EMMError::EMMError;
};

class TMMVolume : public TMMDSPComponent {
 public:
  static constexpr int32_t kUnity = 16384;

  explicit TMMVolume(TComponent* owner = nullptr);
  ~TMMVolume() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  int32_t Volume() const { return volume_; }
  void SetVolume(int32_t value);  // 0 … 32768, 16384 = unity
  int32_t Panning() const { return panning_; }
  void SetPanning(int32_t value);  // −16384 (left only) … 16384 (right only)

  int32_t LeftGain() const { return leftGain_; }
  int32_t RightGain() const { return rightGain_; }
  bool FormatUsable() const { return formatUsable_; }

  void SetWaveFormat(const WAVEFORMATEX* Format) override;
  void Opened() override;
  void Closed() override;
  void BufferReady(PWaveHdr Buffer) override;
  void BufferLoad(PWaveHdr Buffer, bool& More) override;

 private:
  void UpdateGains();
  void Scale(PWaveHdr Buffer) const;

  bool enabled_ = true;
  int32_t volume_ = kUnity;
  int32_t panning_ = 0;
  int32_t leftGain_ = kUnity;
  int32_t rightGain_ = kUnity;
  bool formatUsable_ = false;
};

// Scales PCM in place: 16-bit samples by (s × g) >> 14, 8-bit ones about their 128 midpoint;
// both clamped. Bytes past the last whole frame stay as they are.
void ScalePCM(const WAVEFORMATEX& format, char* data, uint32_t bytes, int32_t leftGain,
              int32_t rightGain);
