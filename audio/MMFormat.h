#pragma once
// The PCM format record shared by every stage and display, with its helpers.

#include <cstdint>

#include "platform/MMSystem.h"

enum TMMBits { b8Bit, b16Bit };
enum TMMMode { mMono, mStereo, mMultiChannel };
enum TMMChannel { chBoth, chLeft, chRight };

bool IsPCMFormat(const WAVEFORMATEX* f);
void BuildPCMFormat(WAVEFORMATEX* f, int bits, int channels, int rate);
int WaveFormatSize(const WAVEFORMATEX* f);
// A new zero-filled copy sized by WaveFormatSize; free it with FreeWaveFormat.
// Throws std::bad_alloc when memory is exhausted.
WAVEFORMATEX* CopyWaveFormat(const WAVEFORMATEX* f);
void FreeWaveFormat(WAVEFORMATEX* f);

int32_t MulDivRound(int32_t a, int32_t b, int32_t c);
int32_t BytesToSamples(const WAVEFORMATEX* f, int32_t n);
int32_t BytesToMs(const WAVEFORMATEX* f, int32_t n);
int32_t SamplesToBytes(const WAVEFORMATEX* f, int32_t n);
int32_t MsToBytes(const WAVEFORMATEX* f, int32_t n);
