#include "audio/MMFormat.h"

#include <cstdlib>
#include <cstring>
#include <new>

bool IsPCMFormat(const WAVEFORMATEX* f) {
  return f && f->wFormatTag == WAVE_FORMAT_PCM &&
         (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
         (f->nChannels == 1 || f->nChannels == 2) && f->nSamplesPerSec >= 4000 &&
         f->nSamplesPerSec <= 100000;
}

void BuildPCMFormat(WAVEFORMATEX* f, int bits, int channels, int rate) {
  f->wFormatTag = WAVE_FORMAT_PCM;
  f->nChannels = static_cast<uint16_t>(channels);
  f->nSamplesPerSec = static_cast<uint32_t>(rate);
  f->wBitsPerSample = static_cast<uint16_t>(bits);
  f->nBlockAlign = static_cast<uint16_t>((channels * bits) / 8);
  f->nAvgBytesPerSec = static_cast<uint32_t>(f->nBlockAlign) * static_cast<uint32_t>(rate);
  f->cbSize = 0;
}

int WaveFormatSize(const WAVEFORMATEX* f) {
  if (!f) return 0;
  if (f->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return sizeof(WAVEFORMATEX) + f->cbSize;
}

WAVEFORMATEX* CopyWaveFormat(const WAVEFORMATEX* f) {
  if (!f) return nullptr;
  const int size = WaveFormatSize(f);
  auto* copy = static_cast<WAVEFORMATEX*>(std::calloc(1, size));
  if (!copy) throw std::bad_alloc();
  std::memcpy(copy, f, size);
  if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
  return copy;
}

void FreeWaveFormat(WAVEFORMATEX* f) {
  std::free(f);
}

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;  // the platform's MulDiv answers -1 on a zero divisor
  const int64_t p = static_cast<int64_t>(a) * b;
  const int64_t q = p / c;
  const int64_t r = p % c;
  return static_cast<int32_t>(q + (2 * r) / c);
}

namespace {
int32_t RoundUpToBlock(const WAVEFORMATEX* f, int32_t v) {
  const uint32_t align = f->nBlockAlign ? f->nBlockAlign : 1;
  return static_cast<int32_t>(((static_cast<uint32_t>(v) + align - 1) / align) * align);
}
}  // namespace

int32_t BytesToSamples(const WAVEFORMATEX* f, int32_t n) {
  return MulDivRound(n, static_cast<int32_t>(f->nSamplesPerSec),
                     static_cast<int32_t>(f->nAvgBytesPerSec));
}

int32_t BytesToMs(const WAVEFORMATEX* f, int32_t n) {
  return MulDivRound(n, 1000, static_cast<int32_t>(f->nAvgBytesPerSec));
}

int32_t SamplesToBytes(const WAVEFORMATEX* f, int32_t n) {
  return RoundUpToBlock(f, MulDivRound(n, static_cast<int32_t>(f->nAvgBytesPerSec),
                                       static_cast<int32_t>(f->nSamplesPerSec)));
}

int32_t MsToBytes(const WAVEFORMATEX* f, int32_t n) {
  return RoundUpToBlock(f, MulDivRound(n, static_cast<int32_t>(f->nAvgBytesPerSec), 1000));
}
