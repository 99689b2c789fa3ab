#include "displays/MMFFT.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <numbers>
#include <utility>

namespace {

constexpr float kEighth = 0.70710677f;  // √2/2

// Two complex values (re, im, re, im) per vector. Generic vectors keep one code path: SSE on
// x86-64, NEON on ARM, plain scalars elsewhere.
using V4 = float __attribute__((vector_size(16)));
using V4i = int32_t __attribute__((vector_size(16)));

constexpr int32_t kSign = INT32_MIN;

inline V4 Load(const float* p) {
  V4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(float* p, V4 v) {
  std::memcpy(p, &v, sizeof v);
}
inline V4 FlipSigns(V4 v, V4i mask) {
  return reinterpret_cast<V4>(reinterpret_cast<V4i>(v) ^ mask);
}
inline V4 SwapReIm(V4 v) {
  return __builtin_shufflevector(v, v, 1, 0, 3, 2);
}
// (u, v) → (u + v, u − v) for the two complex values of one vector.
inline V4 SumDiff(V4 x) {
  return __builtin_shufflevector(x, x, 0, 1, 0, 1) +
         FlipSigns(__builtin_shufflevector(x, x, 2, 3, 2, 3), V4i{0, 0, kSign, kSign});
}
// u·w per lane, with wc = (c, c) and ws = (−s, s) for w = c + i·s.
inline V4 Mul(V4 u, V4 wc, V4 ws) {
  return u * wc + SwapReIm(u) * ws;
}

// Length 4: (a, b, c, d) → (a + b + c + d, a − b + c − d, (a − c) − i(b − d), (a − c) + i(b − d)),
// the L-shaped butterfly followed by the length-2 one on the even half.
inline void Leaf4(float* z) {
  const V4 x0 = Load(z), x1 = Load(z + 4);
  const V4 s = x0 + x1, t = x0 - x1;
  Store(z, SumDiff(s));
  Store(z + 4, __builtin_shufflevector(t, t, 0, 1, 0, 1) +
                   FlipSigns(__builtin_shufflevector(t, t, 3, 2, 3, 2), V4i{0, kSign, kSign, 0}));
}

// Length 8: one L-shaped butterfly whose W^1 and W^3 are eighth turns, then length 4 on the
// even half and length 2 on each quarter.
inline void Leaf8(float* z) {
  const V4i negIm = {0, kSign, 0, kSign};
  const V4 x0 = Load(z), x1 = Load(z + 4), x2 = Load(z + 8), x3 = Load(z + 12);
  Store(z, x0 + x2);
  Store(z + 4, x1 + x3);
  const V4 t1 = x0 - x2;
  const V4 t2 = FlipSigns(SwapReIm(x1 - x3), negIm);  // −i·(b − d)
  const V4 u = t1 + t2, v = t1 - t2;
  // Lane 0 is multiplied by 1; lane 1 of u by (1 − i)·√2/2 and of v by (−1 − i)·√2/2.
  const V4 u1 = u + FlipSigns(SwapReIm(u), negIm);  // (re + im, im − re)
  const V4 v1 = FlipSigns(SwapReIm(v), negIm) - v;  // (im − re, −re − im)
  const V4 scale = {1, 1, kEighth, kEighth};
  Store(z + 8, SumDiff(__builtin_shufflevector(u, u1, 0, 1, 6, 7) * scale));
  Store(z + 12, SumDiff(__builtin_shufflevector(v, v1, 0, 1, 6, 7) * scale));
  Leaf4(z);
}

// The L-shaped butterflies of a block of L ≥ 16 complex values, two neighbouring j per step;
// then the half and the two quarters in turn, depth first so that each block stays in cache.
void SplitRadixDIF(float* z, size_t L, const FFTTwiddle* tw, size_t M) {
  if (L <= 8) {
    if (L == 8) {
      Leaf8(z);
    } else if (L == 4) {
      Leaf4(z);
    } else if (L == 2) {
      Store(z, SumDiff(Load(z)));
    }
    return;
  }
  const size_t q = L / 4, stride = M / L;
  float* __restrict a = z;
  float* __restrict b = z + 2 * q;
  float* __restrict c = z + 4 * q;
  float* __restrict d = z + 6 * q;
  // e0, e1: the table entries (W^j, W^3j) of j and j + 1.
  const auto butterflies = [&](size_t j, V4 e0, V4 e1) {
    const V4i negRe = {kSign, 0, kSign, 0};
    const V4 c1 = __builtin_shufflevector(e0, e1, 0, 0, 4, 4);
    const V4 s1 = FlipSigns(__builtin_shufflevector(e0, e1, 1, 1, 5, 5), negRe);
    const V4 c3 = __builtin_shufflevector(e0, e1, 2, 2, 6, 6);
    const V4 s3 = FlipSigns(__builtin_shufflevector(e0, e1, 3, 3, 7, 7), negRe);
    const size_t o = 2 * j;
    const V4 x0 = Load(a + o), x1 = Load(b + o), x2 = Load(c + o), x3 = Load(d + o);
    Store(a + o, x0 + x2);
    Store(b + o, x1 + x3);
    const V4 t1 = x0 - x2;
    const V4 t2 = FlipSigns(SwapReIm(x1 - x3), V4i{0, kSign, 0, kSign});  // −i·(b − d)
    Store(c + o, Mul(t1 + t2, c1, s1));
    Store(d + o, Mul(t1 - t2, c3, s3));
  };
  const auto entry = [&](size_t j) { return Load(&tw[j * stride - 1].Re1); };  // k = 0 not stored
  // j = 0 multiplies by 1 and j = L/8 by eighth turns; both start a pair, as q ≥ 4.
  butterflies(0, V4{1, 0, 1, 0}, entry(1));
  for (size_t j = 2; j < q / 2; j += 2) butterflies(j, entry(j), entry(j + 1));
  butterflies(q / 2, V4{kEighth, -kEighth, -kEighth, -kEighth}, entry(q / 2 + 1));
  for (size_t j = q / 2 + 2; j < q; j += 2) butterflies(j, entry(j), entry(j + 1));
  SplitRadixDIF(z, L / 2, tw, M);
  SplitRadixDIF(z + L, L / 4, tw, M);
  SplitRadixDIF(z + L + L / 2, L / 4, tw, M);
}

// Swaps each element i with element rev[i] once, when i is below its partner. Writing
// i = (x, m, y) with top bit x and bottom bit y, its partner is (y, rev(m), x): the four
// elements of m and the four of rev(m) trade places as a 2×2 transpose of two-element
// vectors, so one pass over m < M/4 does every swap without per-element branches.
void BitReverseOrder(float* z, const int32_t* rev, size_t M) {
  if (M < 4) {
    for (size_t i = 0; i < M; ++i) {
      const size_t r = static_cast<size_t>(rev[i]);
      if (i < r) {
        std::swap(z[2 * i], z[2 * r]);
        std::swap(z[2 * i + 1], z[2 * r + 1]);
      }
    }
    return;
  }
  float* hi = z + M;  // elements with the top index bit set
  for (size_t m = 0; m < M / 4; ++m) {
    const size_t p = static_cast<size_t>(rev[2 * m]) >> 1;  // rev(m) on the middle bits
    if (m > p) continue;
    const V4 v0 = Load(z + 4 * m), v1 = Load(hi + 4 * m);
    const V4 w0 = m == p ? v0 : Load(z + 4 * p), w1 = m == p ? v1 : Load(hi + 4 * p);
    Store(z + 4 * m, __builtin_shufflevector(w0, w1, 0, 1, 4, 5));
    Store(hi + 4 * m, __builtin_shufflevector(w0, w1, 2, 3, 6, 7));
    Store(z + 4 * p, __builtin_shufflevector(v0, v1, 0, 1, 4, 5));
    Store(hi + 4 * p, __builtin_shufflevector(v0, v1, 2, 3, 6, 7));
  }
}

}  // namespace

FFTPlan* CreateFFTPlan(int Bits) {
  if (Bits <= 0 || Bits >= 32) return nullptr;
  const size_t N = size_t{1} << Bits;
  const size_t M = N / 2;
  auto plan = std::make_unique<FFTPlan>();
  plan->Bits = Bits;
  plan->N = static_cast<int32_t>(static_cast<uint32_t>(N));
  plan->Scale = 1.0f / static_cast<float>(N);
  std::unique_ptr<int32_t[]> bitReverse(new int32_t[M]());
  std::unique_ptr<FFTTwiddle[]> twiddles(new FFTTwiddle[N / 8]());
  std::unique_ptr<FFTSplit[]> split(new FFTSplit[N / 4]());

  MakeBitReverseTable(bitReverse.get(), Bits - 1);

  // Rotation recurrences in double from the exact first angle.
  const double pi = std::numbers::pi;
  {
    const double a1 = 2 * pi / static_cast<double>(M), a3 = 3 * a1;
    const double rc1 = std::cos(a1), rs1 = std::sin(a1);
    const double rc3 = std::cos(a3), rs3 = std::sin(a3);
    double c1 = rc1, s1 = rs1, c3 = rc3, s3 = rs3;
    for (size_t k = 0; k < N / 8; ++k) {
      twiddles[k] = {static_cast<float>(c1), static_cast<float>(-s1), static_cast<float>(c3),
                     static_cast<float>(-s3)};
      const double n1 = c1 * rc1 - s1 * rs1, n3 = c3 * rc3 - s3 * rs3;
      s1 = s1 * rc1 + c1 * rs1, s3 = s3 * rc3 + c3 * rs3;
      c1 = n1, c3 = n3;
    }
  }
  {
    const double a = 2 * pi / static_cast<double>(N);
    const double rc = std::cos(a), rs = std::sin(a);
    double c = rc, s = rs;
    for (size_t k = 0; k < N / 4; ++k) {
      split[k] = {static_cast<float>(0.5 * c), static_cast<float>(0.5 - 0.5 * s)};
      const double n = c * rc - s * rs;
      s = s * rc + c * rs, c = n;
    }
  }

  plan->BitReverse = bitReverse.release();
  plan->Twiddles = twiddles.release();
  plan->Split = split.release();
  return plan.release();
}

void FreeFFTPlan(FFTPlan*& plan) {
  if (!plan) return;
  delete[] plan->BitReverse;
  delete[] plan->Twiddles;
  delete[] plan->Split;
  delete plan;
  plan = nullptr;
}

void DoRealFFT(const FFTPlan* plan, float* frame) {
  if (!plan || !frame) return;
  const size_t M = size_t{1} << (plan->Bits - 1);
  SplitRadixDIF(frame, M, plan->Twiddles, M);

  BitReverseOrder(frame, plan->BitReverse, M);

  frame[0] += frame[1];
  frame[1] = 0;
  if (M < 2) return;
  // Bins k, k + 1 against their mirrors M − k, M − k − 1, two at a time; the odd one out is
  // k = N/4 − 1, done alone.
  const FFTSplit* sp = plan->Split - 1;  // entry k = 0 is not stored
  const V4i negRe = {kSign, 0, kSign, 0}, negIm = {0, kSign, 0, kSign};
  size_t k = 1;
  for (; k + 1 < M / 2; k += 2) {
    float* pa = frame + 2 * k;
    float* pb = frame + 2 * (M - k - 1);
    const V4 A = Load(pa);
    const V4 B0 = Load(pb);
    const V4 B = __builtin_shufflevector(B0, B0, 2, 3, 0, 1);
    const V4 cs = Load(&sp[k].first);
    const V4 c = FlipSigns(__builtin_shufflevector(cs, cs, 0, 0, 2, 2), negIm);
    const V4 sv = __builtin_shufflevector(cs, cs, 1, 1, 3, 3);
    const V4 de = A + FlipSigns(B, negRe);     // (Re A − Re B, Im A + Im B)
    const V4 ml = de * sv + SwapReIm(de) * c;  // (d·s + e·c, e·s − c·d)
    const V4 xk = ml + FlipSigns(B, negIm);
    const V4 xj = FlipSigns(A, negIm) + FlipSigns(ml, negRe);
    Store(pa, xk);
    Store(pb, __builtin_shufflevector(xj, xj, 2, 3, 0, 1));
  }
  for (; k < M / 2; ++k) {
    float* a = frame + 2 * k;
    float* b = frame + 2 * (M - k);
    const float c = sp[k].first, s = sp[k].second;
    const float ar = a[0], ai = a[1], br = b[0], bi = b[1];
    const float d = ar - br, e = ai + bi;
    const float m = d * s + e * c, l = e * s - c * d;
    a[0] = br + m, b[0] = ar - m;
    a[1] = l - bi, b[1] = l - ai;
  }
  frame[M + 1] = -frame[M + 1];
}

namespace {

// 64-bit i and N so that a table of 2^31 entries can be described too.
float WindowValue(TMMFFTWindow window, int64_t i, int64_t N) {
  using ld = long double;
  const ld pi = std::numbers::pi_v<ld>;
  const ld x = static_cast<ld>(i) / static_cast<ld>(N);
  const int64_t off = 2 * i - N;  // centred on i = N/2
  const ld rel = static_cast<ld>(off) / static_cast<ld>(N + 1);
  ld w;
  switch (window) {
    case fwHamming:
      w = 0.54L - 0.46L * std::cos(2 * pi * x);
      break;
    case fwHanning:
      w = 0.5L - 0.5L * std::cos(2 * pi * x);
      break;
    case fwBlackman:
      w = 0.42L - 0.5L * std::cos(2 * pi * x) + 0.08L * std::cos(4 * pi * x);
      break;
    case fwGaussian:
      w = std::exp(-5 * static_cast<ld>(off * off) / static_cast<ld>(N * N));
      break;
    case fwWelch:
      w = 1 - rel * rel;
      break;
    case fwParzen:
      w = 1 - std::fabs(rel);
      break;
    default:
      w = 1;
      break;
  }
  return static_cast<float>(w);
}

}  // namespace

float FFTWindowValue(TMMFFTWindow window, int i, int N) {
  return WindowValue(window, i, N);
}

void MakeFFTWindow(int32_t* table, TMMFFTWindow window, int Bits) {
  if (!table || Bits < 0 || Bits >= 32) return;
  const int64_t N = int64_t{1} << Bits;
  for (int64_t i = 0; i < N; ++i) {
    const double w = WindowValue(window, i, N);
    table[i] = static_cast<int32_t>(std::floor(w * 32767.0 + 0.5));
  }
}

void MakeBitReverseTable(int32_t* table, int Bits) {
  if (!table || Bits < 0 || Bits >= 32) return;
  const uint32_t n = uint32_t{1} << Bits;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t r = 0;
    for (uint32_t d = n >> 1; d; d >>= 1) {
      r >>= 1;
      if (i & d) r += n >> 1;
    }
    table[i] = static_cast<int32_t>(r);
  }
}
