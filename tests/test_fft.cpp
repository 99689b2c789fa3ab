// The real FFT and the analysis windows: the Q15 window tables, the plan's tables, and the
// transform against a double-precision DFT for every frame length the analyser uses.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "displays/MMFFT.h"

namespace {

constexpr double kPi = std::numbers::pi;

std::vector<int32_t> Window(TMMFFTWindow w, int bits) {
  std::vector<int32_t> t(size_t{1} << bits, -1);
  MakeFFTWindow(t.data(), w, bits);
  return t;
}

// Bins 0..N/2 − 1 of the DFT of x, in double.
std::vector<std::complex<double>> ReferenceDFT(const std::vector<float>& x) {
  const size_t n = x.size();
  std::vector<std::complex<double>> root(n), out(n / 2);
  for (size_t i = 0; i < n; ++i) root[i] = std::polar(1.0, -2 * kPi * double(i) / double(n));
  for (size_t k = 0; k < n / 2; ++k) {
    std::complex<double> sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double(x[i]) * root[(i * k) & (n - 1)];
    out[k] = sum;
  }
  return out;
}

// The transform's output as N/2 complex bins.
std::vector<std::complex<double>> Transform(const std::vector<float>& x) {
  const int bits = std::countr_zero(x.size());
  FFTPlan* plan = CreateFFTPlan(bits);
  std::vector<float> frame = x;
  DoRealFFT(plan, frame.data());
  FreeFFTPlan(plan);
  std::vector<std::complex<double>> out(x.size() / 2);
  for (size_t k = 0; k < out.size(); ++k) out[k] = {frame[2 * k], frame[2 * k + 1]};
  return out;
}

TEST(FFTWindow, TablesForEightSamplesMatchTheReference) {
  struct Case {
    TMMFFTWindow window;
    std::vector<int32_t> entries;
  };
  const Case cases[] = {
      {fwRectangular, {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
      {fwHamming, {2621, 7036, 17694, 28352, 32767, 28352, 17694, 7036}},
      {fwHanning, {0, 4799, 16384, 27968, 32767, 27968, 16384, 4799}},
      {fwBlackman, {0, 2177, 11141, 25347, 32767, 25347, 11141, 2177}},
      {fwGaussian, {221, 1968, 9388, 23973, 32767, 23973, 9388, 1968}},
      {fwWelch, {6877, 18204, 26295, 31149, 32767, 31149, 26295, 18204}},
      {fwParzen, {3641, 10922, 18204, 25485, 32767, 25485, 18204, 10922}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("window " + std::to_string(c.window));
    EXPECT_EQ(Window(c.window, 3), c.entries);
  }
}

TEST(FFTWindow, UnknownOrdinalGivesTheRectangularTable) {
  for (int ordinal : {7, 200}) {
    SCOPED_TRACE(ordinal);
    const auto w = static_cast<TMMFFTWindow>(ordinal);
    EXPECT_EQ(Window(w, 3), std::vector<int32_t>(8, 32767));
    EXPECT_EQ(Window(w, 10), Window(fwRectangular, 10));
    EXPECT_EQ(FFTWindowValue(w, 3, 8), 1.0f);
  }
}

// Periodic windows centred on N/2: the peak is the Q15 value of 1.0, never more.
TEST(FFTWindow, EveryWindowPeaksAtFullScaleInTheMiddle) {
  for (int bits = 3; bits <= 12; ++bits) {
    for (int w = fwRectangular; w <= fwParzen; ++w) {
      SCOPED_TRACE("bits " + std::to_string(bits) + " window " + std::to_string(w));
      const auto t = Window(static_cast<TMMFFTWindow>(w), bits);
      EXPECT_EQ(t[t.size() / 2], 32767);
      EXPECT_EQ(*std::max_element(t.begin(), t.end()), 32767);
      EXPECT_GE(*std::min_element(t.begin(), t.end()), 0);
    }
  }
}

TEST(FFTWindow, ValuesAreSinglePrecisionOfTheFormula) {
  EXPECT_EQ(FFTWindowValue(fwHanning, 0, 1024), 0.0f);
  EXPECT_EQ(FFTWindowValue(fwHanning, 512, 1024), 1.0f);
  EXPECT_EQ(FFTWindowValue(fwHamming, 256, 1024), 0.54f);
  EXPECT_EQ(FFTWindowValue(fwWelch, 0, 8), static_cast<float>(1 - 64.0L / 81.0L));
  EXPECT_EQ(FFTWindowValue(fwParzen, 12, 16), static_cast<float>(1 - 8.0L / 17.0L));
  EXPECT_EQ(FFTWindowValue(fwGaussian, 0, 4096), static_cast<float>(std::exp(-5.0L)));
}

TEST(FFTBitReverse, ReversesTheLowBits) {
  std::vector<int32_t> t(4, -1);
  MakeBitReverseTable(t.data(), 2);
  EXPECT_EQ(t, (std::vector<int32_t>{0, 2, 1, 3}));

  int32_t one = -1;
  MakeBitReverseTable(&one, 0);
  EXPECT_EQ(one, 0);

  const int bits = 11;
  std::vector<int32_t> big(size_t{1} << bits, -1);
  MakeBitReverseTable(big.data(), bits);
  EXPECT_EQ(big[1], 1 << (bits - 1));
  EXPECT_EQ(big[0b10110000011], 0b11000001101);
  for (size_t i = 0; i < big.size(); ++i) {
    ASSERT_GE(big[i], 0);
    ASSERT_LT(size_t(big[i]), big.size());
    ASSERT_EQ(size_t(big[size_t(big[i])]), i) << "not an involution at " << i;
  }
}

TEST(FFTPlan, SizesOutsideOneToThirtyOneGiveNoPlan) {
  for (int bits : {-1, 0, 32, 40}) {
    SCOPED_TRACE(bits);
    EXPECT_EQ(CreateFFTPlan(bits), nullptr);
  }
}

TEST(FFTPlan, FreeClearsTheReferenceAndAcceptsACleared) {
  FFTPlan* plan = CreateFFTPlan(8);
  ASSERT_NE(plan, nullptr);
  FreeFFTPlan(plan);
  EXPECT_EQ(plan, nullptr);
  FreeFFTPlan(plan);
  EXPECT_EQ(plan, nullptr);
}

TEST(FFTPlan, TablesHoldTheirAnglesFromKEqualsOne) {
  for (int bits : {1, 2, 3, 4, 10, 12}) {
    SCOPED_TRACE(bits);
    FFTPlan* plan = CreateFFTPlan(bits);
    ASSERT_NE(plan, nullptr);
    const int n = 1 << bits, m = n / 2;
    EXPECT_EQ(plan->Bits, bits);
    EXPECT_EQ(plan->N, n);
    EXPECT_EQ(plan->Scale, 1.0f / float(n));

    std::vector<int32_t> rev(m);
    MakeBitReverseTable(rev.data(), bits - 1);
    EXPECT_TRUE(std::equal(rev.begin(), rev.end(), plan->BitReverse));

    const double tol = 2e-7;
    for (int k = 1; k <= n / 8; ++k) {
      const FFTTwiddle& t = plan->Twiddles[k - 1];
      const double a = 2 * kPi * k / m;
      ASSERT_NEAR(t.Re1, std::cos(a), tol) << k;
      ASSERT_NEAR(t.Im1, -std::sin(a), tol) << k;
      ASSERT_NEAR(t.Re3, std::cos(3 * a), tol) << k;
      ASSERT_NEAR(t.Im3, -std::sin(3 * a), tol) << k;
    }
    for (int k = 1; k <= n / 4; ++k) {
      const FFTSplit& s = plan->Split[k - 1];
      const double a = 2 * kPi * k / n;
      ASSERT_NEAR(s.first, 0.5 * std::cos(a), tol) << k;
      ASSERT_NEAR(s.second, 0.5 - 0.5 * std::sin(a), tol) << k;
    }
    FreeFFTPlan(plan);
  }
}

TEST(FFTTransform, MissingPlanOrFrameDoesNothing) {
  std::vector<float> frame = {1, 2, 3, 4, 5, 6, 7, 8};
  const auto before = frame;
  DoRealFFT(nullptr, frame.data());
  EXPECT_EQ(frame, before);
  FFTPlan* plan = CreateFFTPlan(3);
  DoRealFFT(plan, nullptr);
  FreeFFTPlan(plan);
}

TEST(FFTTransform, ReadsAndWritesOnlyNSamples) {
  FFTPlan* plan = CreateFFTPlan(6);
  std::vector<float> frame(64 + 16, 7.0f);
  DoRealFFT(plan, frame.data());
  FreeFFTPlan(plan);
  EXPECT_EQ(frame[0], 64 * 7.0f);
  for (size_t i = 64; i < frame.size(); ++i) EXPECT_EQ(frame[i], 7.0f) << i;
}

// Rounding error grows with the number of passes, about log2 N.
double Tolerance(int bits) {
  return 6e-8 * bits;
}

// Measured max abs error / max magnitude, seed 1 (GCC 12, x86-64): N = 8: 7.1e-8,
// 64: 9.7e-8, 512: 1.0e-7, 4096: 1.5e-7; the bound is 2.5 to 5 times that.
TEST(FFTTransform, RandomFramesMatchTheDFT) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> dist(-1, 1);
  for (int bits = 1; bits <= 12; ++bits) {
    SCOPED_TRACE("N = " + std::to_string(1 << bits));
    std::vector<float> x(size_t{1} << bits);
    for (float& v : x) v = dist(rng);
    const auto ref = ReferenceDFT(x);
    const auto got = Transform(x);
    EXPECT_EQ(got[0].imag(), 0.0);  // element 1
    double maxErr = 0, maxMag = 0;
    for (size_t k = 0; k < ref.size(); ++k) {
      maxErr = std::max(maxErr, std::abs(got[k] - ref[k]));
      maxMag = std::max(maxMag, std::abs(ref[k]));
    }
    EXPECT_LE(maxErr / maxMag, Tolerance(bits)) << "max error " << maxErr;
  }
}

TEST(FFTTransform, ConstantFrameGoesToBinZero) {
  for (int bits = 3; bits <= 12; ++bits) {
    SCOPED_TRACE("N = " + std::to_string(1 << bits));
    const float v = 0.3f;
    const auto got = Transform(std::vector<float>(size_t{1} << bits, v));
    const double n = double(size_t{1} << bits);
    EXPECT_NEAR(got[0].real(), n * v, n * v * 1e-7);
    EXPECT_EQ(got[0].imag(), 0.0);
    for (size_t k = 1; k < got.size(); ++k)
      ASSERT_LE(std::abs(got[k]), n * v * Tolerance(bits)) << "bin " << k;
  }
}

// A cosine on bin k, and on the Nyquist frequency, which is not kept: all of it falls away.
TEST(FFTTransform, CosineLandsOnItsBinOnly) {
  const double a = 0.75;
  for (int bits = 3; bits <= 12; ++bits) {
    const int n = 1 << bits;
    for (int bin : {1, 3, n / 8, n / 4, n / 4 + 1, n / 2 - 1, n / 2}) {
      SCOPED_TRACE("N = " + std::to_string(n) + " bin " + std::to_string(bin));
      std::vector<float> x(n);
      for (int i = 0; i < n; ++i)
        x[i] = static_cast<float>(a * std::cos(2 * kPi * double(bin) * i / n + 0.4));
      const auto got = Transform(x);
      const double peak = bin < n / 2 ? a * n / 2 : 0;
      const double tol = a * n * Tolerance(bits);
      for (int k = 0; k < n / 2; ++k) {
        if (k == bin) {
          ASSERT_NEAR(std::abs(got[k]), peak, tol);
          ASSERT_NEAR(std::arg(got[k]), 0.4, 1e-5);
        } else {
          ASSERT_LE(std::abs(got[k]), tol) << "bin " << k;
        }
      }
    }
  }
}

}  // namespace
