#pragma once
// Forward FFT of real frames whose length is a power of two, in single precision and in place,
// with every table built when the size is chosen; plus the analysis windows as Q15 tables.

#include <cstdint>

enum TMMFFTWindow : uint8_t {
  fwRectangular,
  fwHamming,
  fwHanning,
  fwBlackman,
  fwGaussian,
  fwWelch,
  fwParzen
};

// W^k and W^3k of the half-length transform, W = e^(−2πi/M): cos(2πk/M), −sin(2πk/M),
// cos(6πk/M), −sin(6πk/M).
struct FFTTwiddle {
  float Re1, Im1, Re3, Im3;
};

// 0.5·cos(2πk/N) and 0.5 − 0.5·sin(2πk/N) for the pass that splits the half-length result.
struct FFTSplit {
  float first, second;
};

struct FFTPlan {
  int32_t Bits;          // log2 N, 1..31
  int32_t N;             // real samples per frame
  float Scale;           // 1/N; the forward transform does not apply it
  int32_t* BitReverse;   // M = N/2 entries
  FFTTwiddle* Twiddles;  // N/8 entries, for k = 1..N/8 (k = 0 is 1, 0, 1, 0 and not stored)
  FFTSplit* Split;       // N/4 entries, for k = 1..N/4
};

// Returns nullptr when Bits <= 0 or Bits >= 32; throws std::bad_alloc when memory runs out.
FFTPlan* CreateFFTPlan(int Bits);
// Frees the plan and clears the reference; a cleared reference is ignored.
void FreeFFTPlan(FFTPlan*& plan);
// Transforms plan->N real samples in place into N/2 interleaved complex bins X[0..N/2 − 1],
// unscaled. Element 1 is 0 (X[0] is real); the Nyquist bin is not kept.
void DoRealFFT(const FFTPlan* plan, float* frame);

float FFTWindowValue(TMMFFTWindow window, int i, int N);
// Fills 2^Bits entries with floor(w(i) · 32767 + 0.5), w(i) rounded to single first.
void MakeFFTWindow(int32_t* table, TMMFFTWindow window, int Bits);
// Fills 2^Bits entries with the Bits-bit reversal of each index.
void MakeBitReverseTable(int32_t* table, int Bits);
