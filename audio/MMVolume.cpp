#include "audio/MMVolume.h"

#include <algorithm>

namespace {

inline int16_t Scale16(int16_t s, int32_t g) {
  // >> on a negative int is an arithmetic shift in C++20: division rounding towards −∞.
  return static_cast<int16_t>(std::clamp((s * g) >> 14, -32768, 32767));
}

inline uint8_t Scale8(uint8_t b, int32_t g) {
  return static_cast<uint8_t>(std::clamp(((b - 128) * g) >> 14, -128, 127) + 128);
}

}  // namespace

void ScalePCM(const WAVEFORMATEX& f, char* data, uint32_t bytes, int32_t lg, int32_t rg) {
  constexpr int32_t unity = TMMVolume::kUnity;
  const bool stereo = f.nChannels == 2;
  if (f.wBitsPerSample == 16) {
    auto* s = reinterpret_cast<int16_t*>(data);
    if (stereo) {
      if (lg == unity && rg == unity) return;
      const uint32_t frames = bytes / 4;
      for (uint32_t i = 0; i < frames; ++i) {
        s[2 * i] = Scale16(s[2 * i], lg);
        s[2 * i + 1] = Scale16(s[2 * i + 1], rg);
      }
    } else {
      if (lg == unity) return;
      const uint32_t n = bytes / 2;
      for (uint32_t i = 0; i < n; ++i) s[i] = Scale16(s[i], lg);
    }
  } else if (f.wBitsPerSample == 8) {
    auto* b = reinterpret_cast<uint8_t*>(data);
    if (stereo) {
      if (lg == unity && rg == unity) return;
      const uint32_t frames = bytes / 2;
      for (uint32_t i = 0; i < frames; ++i) {
        b[2 * i] = Scale8(b[2 * i], lg);
        b[2 * i + 1] = Scale8(b[2 * i + 1], rg);
      }
    } else {
      if (lg == unity) return;
      for (uint32_t i = 0; i < bytes; ++i) b[i] = Scale8(b[i], lg);
    }
  }
}

TMMVolume::TMMVolume(TComponent* owner) : TMMDSPComponent(owner) {}

TMMVolume::~TMMVolume() {
  formatUsable_ = false;
}

void TMMVolume::SetVolume(int32_t value) {
  if (value == volume_) return;
  volume_ = std::clamp(value, 0, 2 * kUnity);
  UpdateGains();
}

void TMMVolume::SetPanning(int32_t value) {
  if (value == panning_) return;
  panning_ = std::clamp(value, -kUnity, kUnity);
  UpdateGains();
}

void TMMVolume::UpdateGains() {
  constexpr int32_t D = kUnity;
  if (panning_ <= 0) {
    leftGain_ = volume_;
    rightGain_ = MulDivRound(D + panning_, volume_, D);
  } else {
    leftGain_ = MulDivRound(D - panning_, volume_, D);
    rightGain_ = volume_;
  }
}

void TMMVolume::SetWaveFormat(const WAVEFORMATEX* Format) {
  if (Format && !IsDesigning() && !IsPCMFormat(Format)) throw EMMVolumeError("Invalid WaveFormat");
  TMMDSPComponent::SetWaveFormat(Format);
}

void TMMVolume::Opened() {
  formatUsable_ = IsPCMFormat(GetWaveFormat());
  TMMDSPComponent::Opened();
}

void TMMVolume::Closed() {
  formatUsable_ = false;
  TMMDSPComponent::Closed();
}

void TMMVolume::Scale(PWaveHdr Buffer) const {
  // Read once per buffer: the settings may change from the user-interface thread.
  if (!enabled_ || !formatUsable_ || !Buffer || !Buffer->lpData) return;
  const WAVEFORMATEX* f = GetWaveFormat();
  if (f) ScalePCM(*f, Buffer->lpData, Buffer->dwBytesRecorded, leftGain_, rightGain_);
}

void TMMVolume::BufferReady(PWaveHdr Buffer) {
  Scale(Buffer);
  TMMDSPComponent::BufferReady(Buffer);
}

void TMMVolume::BufferLoad(PWaveHdr Buffer, bool& More) {
  TMMDSPComponent::BufferLoad(Buffer, More);
  Scale(Buffer);
}
