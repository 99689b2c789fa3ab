// The spectrum analyser's model: the range rules, the format check and block size, reading
// and overflow of the samples, the frequency axis, heights on the linear and dB scales with
// and without emphasis, smoothing, the column stage and its events, held peaks on the timer's
// ticks, what clears what, spots and zones, scales, labels and the read-out, when a picture
// is asked for, and that a block allocates nothing.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AllocCounter.h"
#include "displays/MMSpectrum.h"

namespace {

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, bits, channels, rate);
  return f;
}

// 16-bit stereo frames: a sine of `hz` with the given peak on the chosen sides, plus uniform
// noise of ±noise on both.
std::vector<int16_t> Tone(int frames, double hz, double rate, double peak, bool left = true,
                          bool right = true, double noise = 0, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> jitter(-noise, noise);
  std::vector<int16_t> b(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const double s = peak * std::sin(2 * std::numbers::pi * hz * i / rate);
    const double l = (left ? s : 0) + (noise > 0 ? jitter(rng) : 0);
    const double r = (right ? s : 0) + (noise > 0 ? jitter(rng) : 0);
    b[2 * static_cast<size_t>(i)] =
        static_cast<int16_t>(std::lround(std::clamp(l, -32768.0, 32767.0)));
    b[2 * static_cast<size_t>(i) + 1] =
        static_cast<int16_t>(std::lround(std::clamp(r, -32768.0, 32767.0)));
  }
  return b;
}

// An analyser of 273 × 86 taking 16-bit stereo at 44100 Hz, with the shared timer kept out
// of the way: the tests tick it themselves.
struct Analyser {
  TMMSpectrum s;
  int gainOverflows = 0, pcmOverflows = 0, needData = 0;
  Analyser() {
    SharedTimer::Suspend(s.TimerClient());
    s.SetSize(273, 86);
    const WAVEFORMATEX f = Pcm(16, 2, 44100);
    s.SetPCMFormat(&f);
    s.OnGainOverflow = [this](TComponent*) { ++gainOverflows; };
    s.OnPcmOverflow = [this](TComponent*) { ++pcmOverflows; };
    s.OnNeedData = [this](TComponent*) { ++needData; };
  }
  ~Analyser() { SharedTimer::Resume(s.TimerClient()); }
  void Feed(const std::vector<int16_t>& b) { s.ProcessPCMBlock(b.data()); }
  // A tone on bin k exactly, on both channels.
  void BinTone(int k, double peak) {
    Feed(Tone(s.FFTLength(), k * static_cast<double>(s.SampleRate()) / s.FFTLength(),
              s.SampleRate(), peak));
  }
  void Silence() { Feed(std::vector<int16_t>(static_cast<size_t>(s.FFTLength()) * 2, 0)); }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) s.PeakTick();
  }
  // The span whose bins hold bin k, or -1.
  int SpanOfBin(int k) const {
    for (int i = 0; i < s.SpanCount(); ++i) {
      const int c = s.Span(i).Left;
      const int first = s.StartBin(c), end = std::max(s.EndBin(c), first + 1);
      if (first <= k && k < end) return i;
    }
    return -1;
  }
  int ValueAtBin(int k) const { return s.Span(SpanOfBin(k)).Value; }
};

// The recorder's analyser.
void RecorderSettings(TMMSpectrum& s) {
  s.SetFFTLength(64);
  s.SetWindow(fwRectangular);
  s.SetGain(sg12db);
  s.SetDecayMode(dmStepUp);
  s.SetDecay(7);
  s.SetVerticalScale(20);
  s.SetPoint2(75);
  s.SetShowInfo(false);
  s.SetBarColors(clLime, clYellow, clRed);
  s.SetInactiveColors(clBlack, clBlack, clBlack);
  s.SetInactiveDoted(true);
  s.SetSize(273, 86);
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  s.SetPCMFormat(&f);
}

// Plain heights: a rectangular window, no emphasis, no smoothing, linear scale at 100 %.
void Plain(TMMSpectrum& s, int fftLength) {
  s.SetFFTLength(fftLength);
  s.SetWindow(fwRectangular);
}

// Rules and format ---------------------------------------------------------------------------

TEST(SpectrumRules, Defaults) {
  TMMSpectrum s;
  EXPECT_TRUE(s.Enabled());
  EXPECT_EQ(s.Kind(), skBars);
  EXPECT_EQ(s.FFTLength(), 128);
  EXPECT_EQ(s.Window(), fwHamming);
  EXPECT_EQ(s.SampleRate(), 11025);
  EXPECT_EQ(s.BitLength(), b8Bit);
  EXPECT_EQ(s.Mode(), mMono);
  EXPECT_EQ(s.Channel(), chBoth);
  EXPECT_FALSE(s.LogAmp());
  EXPECT_FALSE(s.LogFreq());
  EXPECT_EQ(s.Gain(), sgNone);
  EXPECT_EQ(s.RefFreq(), 1000);
  EXPECT_EQ(s.VerticalScale(), 100);
  EXPECT_EQ(s.FrequencyScale(), 1);
  EXPECT_EQ(s.DecayMode(), dmNone);
  EXPECT_EQ(s.Decay(), 1);
  EXPECT_EQ(s.NumPeaks(), 1);
  EXPECT_EQ(s.PeakDelay(), 20);
  EXPECT_EQ(s.PeakSpeed(), 0);
  EXPECT_FALSE(s.DisplayPeak());
  EXPECT_TRUE(s.ShowInfo());
  EXPECT_FALSE(s.DrawFreqScale() || s.DrawAmpScale() || s.DrawGrid());
  EXPECT_EQ(s.Space(), 1);
  EXPECT_EQ(s.SpotSpace(), 1);
  EXPECT_EQ(s.SpotHeight(), 1);
  EXPECT_EQ(s.Point1(), 50);
  EXPECT_EQ(s.Point2(), 85);
  EXPECT_EQ(s.Bar1Color(), clAqua);
  EXPECT_EQ(s.Bar2Color(), clAqua);
  EXPECT_EQ(s.Bar3Color(), clRed);
  EXPECT_EQ(s.Inactive1Color(), clTeal);
  EXPECT_EQ(s.Inactive2Color(), clTeal);
  EXPECT_EQ(s.Inactive3Color(), clMaroon);
  EXPECT_TRUE(s.DrawInactive());
  EXPECT_FALSE(s.InactiveDoted() || s.ActiveDoted());
  EXPECT_EQ(s.ScaleTextColor(), clBlack);
  EXPECT_EQ(s.ScaleLineColor(), clBlack);
  EXPECT_EQ(s.GridColor(), clGray);
  EXPECT_EQ(s.Color(), clBlack);
  EXPECT_EQ(s.Width(), 194);
  EXPECT_EQ(s.Height(), 89);
  EXPECT_EQ(s.BlockBytes(), 128);
  EXPECT_EQ(s.PlotWidth(), 194);
  EXPECT_EQ(s.PlotHeight(), 89);
}

TEST(SpectrumRules, ClampedIgnoredAndRounded) {
  struct Case {
    const char* name;
    std::function<void(TMMSpectrum&, int)> set;
    std::function<int(const TMMSpectrum&)> get;
    int value, expected;
  };
  auto fft = [](TMMSpectrum& s, int v) { s.SetFFTLength(v); };
  auto fftGet = [](const TMMSpectrum& s) { return s.FFTLength(); };
  auto fscale = [](TMMSpectrum& s, int v) { s.SetFrequencyScale(v); };
  auto fscaleGet = [](const TMMSpectrum& s) { return s.FrequencyScale(); };
  auto vscale = [](TMMSpectrum& s, int v) { s.SetVerticalScale(v); };
  auto vscaleGet = [](const TMMSpectrum& s) { return s.VerticalScale(); };
  auto ref = [](TMMSpectrum& s, int v) { s.SetRefFreq(v); };
  auto refGet = [](const TMMSpectrum& s) { return s.RefFreq(); };
  auto rate = [](TMMSpectrum& s, int v) { s.SetSampleRate(v); };
  auto rateGet = [](const TMMSpectrum& s) { return s.SampleRate(); };
  auto decay = [](TMMSpectrum& s, int v) { s.SetDecay(v); };
  auto decayGet = [](const TMMSpectrum& s) { return s.Decay(); };
  auto peaks = [](TMMSpectrum& s, int v) { s.SetNumPeaks(v); };
  auto peaksGet = [](const TMMSpectrum& s) { return s.NumPeaks(); };
  auto delay = [](TMMSpectrum& s, int v) { s.SetPeakDelay(v); };
  auto delayGet = [](const TMMSpectrum& s) { return s.PeakDelay(); };
  auto speed = [](TMMSpectrum& s, int v) { s.SetPeakSpeed(v); };
  auto speedGet = [](const TMMSpectrum& s) { return s.PeakSpeed(); };
  auto space = [](TMMSpectrum& s, int v) { s.SetSpace(v); };
  auto spaceGet = [](const TMMSpectrum& s) { return s.Space(); };
  auto spotSpace = [](TMMSpectrum& s, int v) { s.SetSpotSpace(v); };
  auto spotSpaceGet = [](const TMMSpectrum& s) { return s.SpotSpace(); };
  auto spotHeight = [](TMMSpectrum& s, int v) { s.SetSpotHeight(v); };
  auto spotHeightGet = [](const TMMSpectrum& s) { return s.SpotHeight(); };
  auto point1 = [](TMMSpectrum& s, int v) { s.SetPoint1(v); };
  auto point1Get = [](const TMMSpectrum& s) { return s.Point1(); };
  auto point2 = [](TMMSpectrum& s, int v) { s.SetPoint2(v); };
  auto point2Get = [](const TMMSpectrum& s) { return s.Point2(); };
  const Case cases[] = {
      // Clamped, then down to a power of two.
      {"FFTLength", fft, fftGet, 5000, 4096},
      {"FFTLength", fft, fftGet, 100, 64},
      {"FFTLength", fft, fftGet, 7, 8},
      {"FFTLength", fft, fftGet, 1023, 512},
      {"FrequencyScale", fscale, fscaleGet, 12, 8},
      {"FrequencyScale", fscale, fscaleGet, 0, 1},
      {"FrequencyScale", fscale, fscaleGet, 40, 16},
      // Clamped.
      {"VerticalScale", vscale, vscaleGet, 0, 1},
      {"VerticalScale", vscale, vscaleGet, 1000, 500},
      {"RefFreq", ref, refGet, 0, 1},
      {"RefFreq", ref, refGet, 50000, 44100},
      {"SampleRate", rate, rateGet, 4000, 8000},
      {"SampleRate", rate, rateGet, 200000, 100000},
      {"Decay", decay, decayGet, 0, 1},
      {"Decay", decay, decayGet, 17, 16},
      // Ignored outside their ranges (the default stays).
      {"NumPeaks", peaks, peaksGet, 6, 1},
      {"NumPeaks", peaks, peaksGet, -1, 1},
      {"NumPeaks", peaks, peaksGet, 5, 5},
      {"PeakDelay", delay, delayGet, 51, 20},
      {"PeakDelay", delay, delayGet, 0, 0},
      {"PeakSpeed", speed, speedGet, -1, 0},
      {"PeakSpeed", speed, speedGet, 50, 50},
      {"Space", space, spaceGet, 6, 1},
      {"Space", space, spaceGet, 5, 5},
      {"SpotSpace", spotSpace, spotSpaceGet, 11, 1},
      {"SpotSpace", spotSpace, spotSpaceGet, 0, 0},
      // Up to a third of the plot (89 pixels high: 29).
      {"SpotHeight", spotHeight, spotHeightGet, 0, 1},
      {"SpotHeight", spotHeight, spotHeightGet, 30, 1},
      {"SpotHeight", spotHeight, spotHeightGet, 29, 29},
      {"Point1", point1, point1Get, 0, 50},
      {"Point1", point1, point1Get, 101, 50},
      {"Point2", point2, point2Get, 100, 100},
  };
  for (const Case& c : cases) {
    TMMSpectrum s;
    c.set(s, c.value);
    EXPECT_EQ(c.get(s), c.expected) << c.name << " " << c.value;
  }
}

TEST(SpectrumRules, DecayFactorAndAverageLength) {
  TMMSpectrum s;
  // A new analyser starts with 0.0001, and setting the same Decay leaves it.
  EXPECT_FLOAT_EQ(s.DecayFactor(), 0.0001f);
  EXPECT_EQ(s.AverageLength(), 1);
  s.SetDecay(1);
  EXPECT_FLOAT_EQ(s.DecayFactor(), 0.0001f);
  // 0.0001 with seven square roots: 10^(−4/128).
  s.SetDecay(7);
  EXPECT_NEAR(s.DecayFactor(), 0.93058, 1e-5);
  EXPECT_FLOAT_EQ(s.DecayFactor(), static_cast<float>(std::pow(10.0, -4.0 / 128)));
  EXPECT_EQ(s.AverageLength(), 12);
  s.SetDecay(1);
  EXPECT_FLOAT_EQ(s.DecayFactor(), 0.01f);
  EXPECT_EQ(s.AverageLength(), 1);
  s.SetDecay(16);
  EXPECT_EQ(s.AverageLength(), 30);
}

TEST(SpectrumFormat, InvalidWaveFormat) {
  struct Case {
    int bits, channels, rate;
  };
  for (const Case& c : {Case{24, 2, 44100}, Case{16, 3, 44100}, Case{16, 2, 2000}}) {
    TMMSpectrum s;
    const WAVEFORMATEX f = Pcm(c.bits, c.channels, c.rate);
    try {
      s.SetPCMFormat(&f);
      ADD_FAILURE() << "accepted " << c.bits << "/" << c.channels << "/" << c.rate;
    } catch (const EMMSpectrumError& e) {
      EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    EXPECT_EQ(s.SampleRate(), 11025);
    EXPECT_EQ(s.BitLength(), b8Bit);
    EXPECT_EQ(s.Mode(), mMono);
  }
  WAVEFORMATEX adpcm = Pcm(16, 2, 44100);
  adpcm.wFormatTag = 2;
  TMMSpectrum s;
  EXPECT_THROW(s.SetPCMFormat(&adpcm), EMMSpectrumError);
  EXPECT_THROW(s.SetPCMFormat(nullptr), EMMSpectrumError);
  // Accepted: the sample rate goes through its setter, so 4000 Hz becomes 8000.
  const WAVEFORMATEX low = Pcm(16, 2, 4000);
  s.SetPCMFormat(&low);
  EXPECT_EQ(s.SampleRate(), 8000);
  EXPECT_EQ(s.BitLength(), b16Bit);
  EXPECT_EQ(s.Mode(), mStereo);
}

TEST(SpectrumFormat, BlockBytes) {
  struct Case {
    int fftLength;
    TMMBits bits;
    TMMMode mode;
    int bytes;
  };
  const Case cases[] = {{128, b8Bit, mMono, 128},
                        {64, b16Bit, mStereo, 256},
                        {4096, b16Bit, mMono, 8192},
                        {64, b16Bit, mMultiChannel, 384},
                        {8, b8Bit, mStereo, 16}};
  for (const Case& c : cases) {
    TMMSpectrum s;
    s.SetFFTLength(c.fftLength);
    s.SetBitLength(c.bits);
    s.SetMode(c.mode);
    EXPECT_EQ(s.BlockBytes(), c.bytes) << c.fftLength;
  }
  // The recorder's analyser takes 256 bytes per block.
  TMMSpectrum r;
  RecorderSettings(r);
  EXPECT_EQ(r.BlockBytes(), 256);
  EXPECT_EQ(r.PlotWidth(), 273);
  EXPECT_EQ(r.PlotHeight(), 86);
}

// Reading a block ----------------------------------------------------------------------------

TEST(SpectrumBlock, PcmOverflowThresholds) {
  struct Case {
    const char* name;
    TMMBits bits;
    TMMMode mode;
    TMMChannel channel;
    TMMSpectrumGain gain;
    int left, right;  // the loud frame; 8-bit values are raw bytes
    int events;
  };
  const Case cases[] = {
      // The mean of 32767 and 32765 is 32766: enough below the steepest emphasis only.
      {"mean, no emphasis", b16Bit, mStereo, chBoth, sgNone, 32767, 32765, 1},
      {"mean, 3 dB", b16Bit, mStereo, chBoth, sg3db, 32767, 32765, 1},
      {"mean, 6 dB", b16Bit, mStereo, chBoth, sg6db, 32767, 32765, 1},
      {"mean, 12 dB", b16Bit, mStereo, chBoth, sg12db, 32767, 32765, 0},
      {"mean full, 12 dB", b16Bit, mStereo, chBoth, sg12db, 32767, 32767, 1},
      {"mean 32765", b16Bit, mStereo, chBoth, sgNone, 32765, 32765, 0},
      {"left", b16Bit, mStereo, chLeft, sgNone, 32767, 0, 1},
      {"left 32766", b16Bit, mStereo, chLeft, sgNone, 32766, 32767, 0},
      {"right", b16Bit, mStereo, chRight, sgNone, 0, 32767, 1},
      {"negative peak", b16Bit, mStereo, chLeft, sgNone, -32768, 0, 0},
      {"mono", b16Bit, mMono, chBoth, sgNone, 32767, 0, 1},
      {"mono 32766", b16Bit, mMono, chBoth, sgNone, 32766, 0, 0},
      {"8-bit mono", b8Bit, mMono, chBoth, sgNone, 255, 128, 1},
      {"8-bit mono 254", b8Bit, mMono, chBoth, sgNone, 254, 128, 0},
      {"8-bit mean", b8Bit, mStereo, chBoth, sgNone, 255, 255, 1},
      {"8-bit mean 254", b8Bit, mStereo, chBoth, sg12db, 255, 254, 0},
  };
  for (const Case& c : cases) {
    Analyser a;
    a.s.SetFFTLength(64);
    a.s.SetBitLength(c.bits);
    a.s.SetMode(c.mode);
    a.s.SetChannel(c.channel);
    a.s.SetGain(c.gain);
    std::vector<uint8_t> block(static_cast<size_t>(a.s.BlockBytes()));
    const int channels = c.mode == mMono ? 1 : 2;
    if (c.bits == b8Bit) {
      std::fill(block.begin(), block.end(), 128);
      block[10 * channels] = static_cast<uint8_t>(c.left);
      if (channels == 2) block[10 * channels + 1] = static_cast<uint8_t>(c.right);
    } else {
      auto* s = reinterpret_cast<int16_t*>(block.data());
      s[10 * channels] = static_cast<int16_t>(c.left);
      if (channels == 2) s[10 * channels + 1] = static_cast<int16_t>(c.right);
    }
    a.s.ProcessPCMBlock(block.data());
    EXPECT_EQ(a.pcmOverflows, c.events) << c.name;
  }
  // One event per value at the threshold.
  Analyser a;
  a.s.SetFFTLength(64);
  a.Feed(std::vector<int16_t>(128, 32767));
  EXPECT_EQ(a.pcmOverflows, 64);
}

TEST(SpectrumBlock, SilenceShowsNothing) {
  struct Case {
    const char* name;
    bool logAmp, logFreq;
    TMMDecayMode decay;
    TMMBits bits;
  };
  const Case cases[] = {{"linear", false, false, dmNone, b16Bit},
                        {"dB", true, false, dmNone, b16Bit},
                        {"dB smoothed, log axis", true, true, dmStepUp, b16Bit},
                        {"recorder", false, false, dmStepUp, b16Bit},
                        {"8-bit at 128", false, false, dmNone, b8Bit}};
  for (const Case& c : cases) {
    Analyser a;
    RecorderSettings(a.s);
    a.s.SetGain(sgNone);
    a.s.SetLogAmp(c.logAmp);
    a.s.SetLogFreq(c.logFreq);
    a.s.SetDecayMode(c.decay);
    a.s.SetBitLength(c.bits);
    const uint8_t fill = c.bits == b8Bit ? 128 : 0;
    const std::vector<uint8_t> block(static_cast<size_t>(a.s.BlockBytes()), fill);
    for (int i = 0; i < 3; ++i) a.s.ProcessPCMBlock(block.data());
    for (int j = 0; j < a.s.FFTLength(); ++j) ASSERT_EQ(a.s.SpectrumValue(j), 0) << c.name;
    for (int k = 0; k < a.s.FFTLength() / 2; ++k) ASSERT_EQ(a.s.BinValue(k), 0) << c.name;
    for (int i = 0; i < a.s.SpanCount(); ++i) {
      ASSERT_EQ(a.s.Span(i).Value, 0) << c.name;
      ASSERT_EQ(a.s.Span(i).Spots, 0) << c.name;
    }
    EXPECT_EQ(a.s.MaxValue(), 0) << c.name;
    EXPECT_EQ(a.gainOverflows + a.pcmOverflows, 0) << c.name;
    EXPECT_EQ(a.s.FrameCount(), 3u) << c.name;
  }
}

TEST(SpectrumBlock, ChannelsAndSampleWidths) {
  struct Case {
    const char* name;
    TMMBits bits;
    TMMMode mode;
    TMMChannel channel;
    bool toneLeft, toneRight;
    bool lit;
  };
  const Case cases[] = {
      {"left of left", b16Bit, mStereo, chLeft, true, false, true},
      {"left of right", b16Bit, mStereo, chLeft, false, true, false},
      {"right of right", b16Bit, mStereo, chRight, false, true, true},
      {"both of one", b16Bit, mStereo, chBoth, false, true, true},
      {"mono", b16Bit, mMono, chBoth, true, true, true},
      {"8-bit right", b8Bit, mStereo, chRight, false, true, true},
      {"8-bit left of right", b8Bit, mStereo, chLeft, false, true, false},
      {"8-bit mono", b8Bit, mMono, chBoth, true, true, true},
  };
  for (const Case& c : cases) {
    Analyser a;
    Plain(a.s, 64);
    a.s.SetBitLength(c.bits);
    a.s.SetMode(c.mode);
    a.s.SetChannel(c.channel);
    std::vector<int16_t> tone = Tone(64, 8 * 44100.0 / 64, 44100, 16000, c.toneLeft, c.toneRight);
    if (c.mode == mMono)
      for (size_t i = 0; i < 64; ++i) tone[i] = tone[2 * i];  // 64 samples of the tone
    if (c.bits == b16Bit) {
      a.Feed(tone);
    } else {
      std::vector<uint8_t> bytes(tone.size());
      for (size_t i = 0; i < tone.size(); ++i) bytes[i] = static_cast<uint8_t>(128 + tone[i] / 256);
      a.s.ProcessPCMBlock(bytes.data());
    }
    if (c.lit) {
      EXPECT_EQ(a.s.MaxBin(), a.s.StartBin(a.s.Span(a.SpanOfBin(8)).Left)) << c.name;
      EXPECT_GT(a.s.MaxValue(), 10) << c.name;
    } else {
      EXPECT_EQ(a.s.MaxValue(), 0) << c.name;
    }
  }
}

// The frequency axis --------------------------------------------------------------------------

TEST(SpectrumAxis, LinearStartsAtDC) {
  struct Case {
    int fftLength, frequencyScale;
    int lastStartBin;
    float startFrequency;
  };
  // With FrequencyScale 1 the start is lowered to 0 Hz; zoomed in, 1 Hz stands.
  const Case cases[] = {{64, 1, 31, 0.0f},
                        {4096, 1, 2040, 0.0f},  // 2048 bins on 273 columns: several each
                        {64, 2, 15, 1.0f},
                        {1024, 8, 63, 1.0f}};
  for (const Case& c : cases) {
    Analyser a;
    a.s.SetFFTLength(c.fftLength);
    a.s.SetFrequencyScale(c.frequencyScale);
    SCOPED_TRACE(c.fftLength);
    EXPECT_EQ(a.s.StartBin(0), 0);
    EXPECT_FLOAT_EQ(a.s.StartFrequency(), c.startFrequency);
    const TSpectrumSpan last = a.s.Span(a.s.SpanCount() - 1);
    EXPECT_EQ(a.s.StartBin(last.Left), c.lastStartBin);
    EXPECT_EQ(last.Right, 273);
    EXPECT_EQ(a.s.EndBin(272), 0);
  }
  // Fewer bins than columns: every bin is a span, in order, and a span is a run of columns.
  Analyser a;
  a.s.SetFFTLength(64);
  ASSERT_EQ(a.s.SpanCount(), 32);
  for (int i = 0; i < 32; ++i) {
    const TSpectrumSpan s = a.s.Span(i);
    EXPECT_EQ(a.s.StartBin(s.Left), i);
    EXPECT_EQ(a.s.EndBin(s.Left), 0);  // one bin each
    for (int c = s.Left + 1; c < s.Right; ++c) EXPECT_EQ(a.s.StartBin(c), -1);
    if (i > 0) {
      EXPECT_EQ(s.Left, a.s.Span(i - 1).Right);
    }
  }
  // More bins than columns: a span covers StartBin up to EndBin − 1.
  a.s.SetFFTLength(4096);
  EXPECT_EQ(a.s.SpanCount(), 273);
  EXPECT_EQ(a.s.EndBin(0), a.s.StartBin(1));
  EXPECT_GT(a.s.EndBin(0), a.s.StartBin(0) + 1);
}

TEST(SpectrumAxis, LogFoldsRepeatedBins) {
  for (int n : {64, 1024, 4096}) {
    Analyser a;
    a.s.SetFFTLength(n);
    a.s.SetLogFreq(true);
    SCOPED_TRACE(n);
    EXPECT_FLOAT_EQ(a.s.StartFrequency(), 44100.0f / n);
    EXPECT_LE(a.s.StartBin(0), 1);
    // The lowest bins are wide: several columns fold into one span.
    EXPECT_GT(a.s.Span(0).Right - a.s.Span(0).Left, 1);
    int previous = -1;
    for (int i = 0; i < a.s.SpanCount(); ++i) {
      const TSpectrumSpan s = a.s.Span(i);
      const int first = a.s.StartBin(s.Left), end = a.s.EndBin(s.Left);
      EXPECT_GT(first, previous);
      EXPECT_TRUE(end == 0 || end > first + 1);
      for (int c = s.Left + 1; c < s.Right; ++c) ASSERT_EQ(a.s.StartBin(c), -1);
      previous = first;
    }
    // The top column ends near the last bin (the axis runs to ln((N + 1) / 2)).
    if (n == 64)
      EXPECT_EQ(previous, 31);
    else
      EXPECT_GT(previous, n / 2 * 9 / 10);
  }
}

TEST(SpectrumAxis, OwnScaleFromTheEvent) {
  Analyser a;
  Plain(a.s, 64);
  // Two halves: bins 3..31 and bin 10 alone; wild values are kept within the bins.
  a.s.OnGetXScale = [](TComponent*, int32_t* first, int32_t* end) {
    for (int i = 0; i < 273; ++i) first[i] = i < 136 ? 3 : 10;
    end[0] = 3000;
  };
  a.s.SetLogFreq(true);  // a rebuild of the axis
  ASSERT_EQ(a.s.SpanCount(), 2);
  EXPECT_EQ(a.s.EndBin(0), 32);
  EXPECT_EQ(a.s.Span(0).Right, 136);
  EXPECT_EQ(a.s.StartBin(136), 10);
  a.BinTone(20, 16000);
  EXPECT_GT(a.s.Span(0).Value, 10);
  EXPECT_EQ(a.s.Span(1).Value, 0);
}

// Heights -------------------------------------------------------------------------------------

// A tone lights the span whose bins hold it, and far-away spans stay low.
TEST(SpectrumHeights, ToneLightsItsColumn) {
  struct Case {
    int fftLength;
    bool logFreq, logAmp;
  };
  const Case cases[] = {{64, false, false},  {64, true, false},   {1024, false, false},
                        {1024, true, true},  {4096, false, true}, {4096, true, false},
                        {1024, false, true}, {64, true, true}};
  for (const Case& c : cases) {
    Analyser a;
    a.s.SetFFTLength(c.fftLength);
    a.s.SetWindow(fwHanning);
    a.s.SetLogFreq(c.logFreq);
    a.s.SetLogAmp(c.logAmp);
    a.Feed(Tone(c.fftLength, 5000, 44100, 20000, true, true, 20));
    SCOPED_TRACE(testing::Message()
                 << c.fftLength << (c.logFreq ? " log" : " lin") << (c.logAmp ? " dB" : ""));
    const double bin = 5000.0 * c.fftLength / 44100;  // 7.26 of 64, 116.1 of 1024
    const int at = a.SpanOfBin(static_cast<int>(std::lround(bin)));
    ASSERT_GE(at, 0);
    EXPECT_EQ(a.s.MaxColumn(), a.s.Span(at).Left);
    EXPECT_EQ(a.s.MaxBin(), a.s.StartBin(a.s.Span(at).Left));
    EXPECT_EQ(a.s.MaxValue(), a.s.Span(at).Value);
    EXPECT_GT(a.s.MaxValue(), 20);
    for (int i = 0; i < a.s.SpanCount(); ++i) {
      const int c0 = a.s.Span(i).Left;
      const int first = a.s.StartBin(c0), last = std::max(a.s.EndBin(c0) - 1, first);
      if (last < bin - 4 || first > bin + 4) {
        EXPECT_LT(a.s.Span(i).Value, a.s.MaxValue() / 2) << "span at bins " << first;
      }
    }
  }
}

TEST(SpectrumHeights, LinearAndDBScales) {
  // A tone exactly on bin 8 of 64 with a rectangular window: |X| is its peak.
  struct Case {
    bool logAmp;
    int verticalScale;
    double peak;
    double height;  // expected pixels of 86
  };
  const double dbFloor = 20 * std::log10(32768.0) - 60;
  auto db = [&](double peak) { return (20 * std::log10(peak) - dbFloor) / 60 * 86; };
  const Case cases[] = {
      {false, 100, 16384, 16384.0 * 86 / 32768},  // half the plot
      {false, 100, 4000, 4000.0 * 86 / 32768},
      {false, 20, 3000, 3000.0 * 86 / (0.2 * 32768)},
      {false, 500, 30000, 30000.0 * 86 / (5 * 32768)},
      {true, 100, 1036, db(1036)},  // about half of 60 dB
      {true, 100, 20000, db(20000)},
      {true, 100, 100, db(100)},
      {true, 7, 100, db(100)},  // VerticalScale is the linear scale's only
  };
  for (const Case& c : cases) {
    Analyser a;
    Plain(a.s, 64);
    a.s.SetLogAmp(c.logAmp);
    a.s.SetVerticalScale(c.verticalScale);
    a.BinTone(8, c.peak);
    EXPECT_NEAR(a.ValueAtBin(8), c.height, 1.0) << c.peak << (c.logAmp ? " dB" : "");
    EXPECT_EQ(a.gainOverflows, 0);
  }
}

TEST(SpectrumHeights, EmphasisIsZeroAtRefFreqAndRisesPerOctave) {
  // 32000 Hz and 1024 points: 1000 Hz is bin 32 and 2000 Hz bin 64, both exact.
  struct Case {
    TMMSpectrumGain gain;
    double dbPerOctave;
  };
  const Case cases[] = {{sgNone, 0}, {sg3db, 3}, {sg6db, 6}, {sg9db, 9}, {sg12db, 12}};
  for (bool logAmp : {false, true}) {
    // Unemphasised, about 20 pixels linear or 51 on the dB scale.
    const double peak = logAmp ? 2000 : 7620;
    const double base = logAmp ? (20 * std::log10(peak) - (20 * std::log10(32768.0) - 60)) / 60 * 86
                               : peak * 86 / 32768;
    auto heights = [&](TMMSpectrumGain gain) {
      Analyser a;
      Plain(a.s, 1024);
      a.s.SetSampleRate(32000);
      a.s.SetLogAmp(logAmp);
      a.s.SetGain(gain);
      a.BinTone(32, peak);
      const int atRef = a.ValueAtBin(32);
      a.BinTone(64, peak);
      return std::pair<int, int>(atRef, a.ValueAtBin(64));
    };
    for (const Case& c : cases) {
      const auto h = heights(c.gain);
      SCOPED_TRACE(testing::Message() << c.dbPerOctave << (logAmp ? " dB" : " linear"));
      EXPECT_NEAR(h.first, base, 1.5);
      if (logAmp) {
        EXPECT_NEAR(h.second, base + c.dbPerOctave * 86 / 60, 1.5);
      } else {
        EXPECT_NEAR(h.second, base * std::pow(10.0, c.dbPerOctave / 20), 2.0);
      }
    }
  }
}

TEST(SpectrumHeights, GainOverflowPerSpan) {
  Analyser a;
  Plain(a.s, 64);
  a.s.SetVerticalScale(1);
  a.Feed(Tone(64, 5000, 44100, 8000, true, true, 3000));
  int tall = 0;
  for (int i = 0; i < a.s.SpanCount(); ++i) tall += a.s.Span(i).Value >= 86;
  EXPECT_GT(tall, 1);
  EXPECT_EQ(a.gainOverflows, tall);
  // Exactly the plot's height counts (VerticalScale 50: 86 pixels near half of full scale).
  Analyser b;
  Plain(b.s, 64);
  b.s.SetVerticalScale(50);
  int peak = 20000;
  for (; peak > 0; peak -= 5) {
    b.BinTone(8, peak);
    if (b.ValueAtBin(8) == 86) break;
    if (b.ValueAtBin(8) < 86) {
      peak = 0;
      break;
    }
  }
  ASSERT_GT(peak, 0) << "no tone gave 86 pixels";
  b.gainOverflows = 0;
  b.BinTone(8, peak);
  EXPECT_EQ(b.gainOverflows, 1);
}

TEST(SpectrumHeights, SaturatesOutOfRangeBins) {
  // Full-scale DC: X[0] is about N × 32767, twice the 16-bit range after division by N/2.
  Analyser a;
  Plain(a.s, 64);
  a.Feed(std::vector<int16_t>(128, 32767));
  EXPECT_EQ(a.s.SpectrumValue(0), 32767);
  EXPECT_EQ(a.s.SpectrumValue(1), 0);
  EXPECT_EQ(a.s.MaxBin(), 0);
  // The 12 dB emphasis of a full-scale tone near the Nyquist frequency: about four times full
  // scale.
  Analyser b;
  Plain(b.s, 64);
  b.s.SetGain(sg12db);
  b.BinTone(30, 32767);
  int saturated = 0;
  for (int j = 0; j < 64; ++j)
    saturated += b.s.SpectrumValue(j) == 32767 || b.s.SpectrumValue(j) == -32768;
  EXPECT_GT(saturated, 0);
}

// Smoothing -----------------------------------------------------------------------------------

TEST(SpectrumSmoothing, ModesOverBlocks) {
  // The unsmoothed magnitude of the tone.
  Analyser ref;
  Plain(ref.s, 64);
  ref.BinTone(8, 16000);
  const int m = ref.s.BinValue(8);
  ASSERT_GT(m, 200000);

  // dmStepUp: up at once, then down by the factor each block.
  Analyser step;
  Plain(step.s, 64);
  step.s.SetDecayMode(dmStepUp);
  step.s.SetDecay(7);
  step.BinTone(8, 16000);
  EXPECT_EQ(step.s.BinValue(8), m);
  float level = static_cast<float>(m);
  for (int n = 0; n < 5; ++n) {
    step.Silence();
    level *= step.s.DecayFactor();
    EXPECT_EQ(step.s.BinValue(8), static_cast<int>(level)) << n;
  }

  // dmExponential: follows by (1 − factor) of the step.
  Analyser expo;
  Plain(expo.s, 64);
  expo.s.SetDecayMode(dmExponential);
  expo.s.SetDecay(3);
  const float f = expo.s.DecayFactor();
  expo.BinTone(8, 16000);
  float s = (1.0f - f) * static_cast<float>(m);
  EXPECT_EQ(expo.s.BinValue(8), static_cast<int>(std::floor(s)));
  expo.BinTone(8, 16000);
  s = s * f + (1.0f - f) * static_cast<float>(m);
  EXPECT_EQ(expo.s.BinValue(8), static_cast<int>(std::floor(s)));

  // dmUniform over 2 × 3 − 2 = 4 blocks: the tone counts until it leaves the ring.
  Analyser avg;
  Plain(avg.s, 64);
  avg.s.SetDecayMode(dmUniform);
  avg.s.SetDecay(3);
  avg.BinTone(8, 16000);
  EXPECT_EQ(avg.s.BinValue(8), m);
  for (int divisor : {2, 3, 4}) {
    avg.Silence();
    EXPECT_EQ(avg.s.BinValue(8), m / divisor);
  }
  avg.Silence();
  EXPECT_EQ(avg.s.BinValue(8), 0);
}

TEST(SpectrumSmoothing, WhatClearsIt) {
  struct Case {
    const char* name;
    TMMDecayMode mode;
    std::function<void(TMMSpectrum&)> change;
    bool cleared;
  };
  const Case cases[] = {
      {"Decay under dmStepUp", dmStepUp, [](TMMSpectrum& s) { s.SetDecay(8); }, false},
      {"Decay under dmExponential", dmExponential, [](TMMSpectrum& s) { s.SetDecay(8); }, false},
      {"Decay under dmUniform", dmUniform, [](TMMSpectrum& s) { s.SetDecay(8); }, true},
      {"DecayMode", dmStepUp, [](TMMSpectrum& s) { s.SetDecayMode(dmExponential); }, true},
      {"same DecayMode", dmStepUp, [](TMMSpectrum& s) { s.SetDecayMode(dmStepUp); }, false},
      {"Kind", dmStepUp, [](TMMSpectrum& s) { s.SetKind(skLines); }, false},
      {"ResetDisplay", dmStepUp, [](TMMSpectrum& s) { s.ResetDisplay(); }, true},
  };
  for (const Case& c : cases) {
    Analyser a;
    Plain(a.s, 64);
    a.s.SetDecayMode(c.mode);
    a.s.SetDecay(7);
    a.BinTone(8, 16000);
    a.BinTone(8, 16000);
    c.change(a.s);
    a.Silence();
    if (c.cleared)
      EXPECT_EQ(a.s.BinValue(8), 0) << c.name;
    else
      EXPECT_GT(a.s.BinValue(8), 1000) << c.name;
  }
}

TEST(SpectrumSmoothing, DBHeightsAgreeWithAndWithoutSmoothing) {
  // The first block of dmStepUp is the block itself; on the dB scale it takes the other route
  // to a height, through the logarithm of the magnitude.
  for (TMMSpectrumGain gain : {sgNone, sg3db, sg12db}) {
    for (double peak : {300.0, 3000.0, 25000.0}) {
      Analyser plain, smooth;
      for (Analyser* a : {&plain, &smooth}) {
        Plain(a->s, 1024);
        a->s.SetLogAmp(true);
        a->s.SetGain(gain);
      }
      smooth.s.SetDecayMode(dmStepUp);
      plain.BinTone(100, peak);
      smooth.BinTone(100, peak);
      EXPECT_NEAR(smooth.ValueAtBin(100), plain.ValueAtBin(100), 1) << gain << " " << peak;
      EXPECT_GT(plain.ValueAtBin(100), 0);
    }
  }
}

// Peaks and the timer ---------------------------------------------------------------------------

TEST(SpectrumPeaks, HeldThenGoneOrFalling) {
  struct Case {
    int delay, speed;
    int ticks, peakDrop;  // after that many ticks, the peak is this much lower (-1: gone)
  };
  const Case cases[] = {
      {20, 0, 40, 0}, {20, 0, 41, -1},                  // held 41 ticks, then gone
      {20, 2, 41, 1}, {20, 2, 42, 1},  {20, 2, 43, 2},  // then a spot every 2 ticks
      {0, 0, 0, 0},   {0, 0, 1, -1},                    // no delay: one tick
      {5, 1, 11, 1},  {5, 1, 14, 4},                    // 2 × 5 + 1, then one per tick
  };
  for (const Case& c : cases) {
    Analyser a;
    Plain(a.s, 64);
    a.s.SetPeakDelay(c.delay);
    a.s.SetPeakSpeed(c.speed);
    a.BinTone(8, 30000);
    const int span = a.SpanOfBin(8);
    const int held = a.s.Span(span).Peak;
    ASSERT_EQ(held, a.s.Span(span).Spots);
    ASSERT_GT(held, 5);
    a.Silence();  // the bar drops; the peak stays
    EXPECT_EQ(a.s.Span(span).Spots, 0);
    a.Ticks(c.ticks);
    const int expected = c.peakDrop < 0 ? 0 : held - c.peakDrop;
    EXPECT_EQ(a.s.Span(span).Peak, expected) << c.delay << "/" << c.speed << " " << c.ticks;
  }
}

TEST(SpectrumPeaks, CapturedByKind) {
  struct Case {
    TMMSpectrumKind kind;
    bool held;
    bool inPixels;
  };
  const Case cases[] = {{skBars, true, false},  {skPeaks, true, false},   {skLines, true, true},
                        {skDots, false, false}, {skVLines, false, false}, {skScroll, false, false}};
  for (const Case& c : cases) {
    Analyser a;
    Plain(a.s, 64);
    a.s.SetKind(c.kind);
    a.BinTone(8, 20000);
    const TSpectrumSpan s = a.s.Span(a.SpanOfBin(8));
    if (!c.held)
      EXPECT_EQ(s.Peak, 0) << c.kind;
    else
      EXPECT_EQ(s.Peak, c.inPixels ? std::min(s.Value, 85) : s.Spots) << c.kind;
  }
  // Counted in pixels while the widget draws bars itself.
  Analyser own;
  Plain(own.s, 64);
  own.s.OnDrawBar = [](TComponent*, void*, const TSpectrumRect&, int32_t, int32_t) {};
  own.BinTone(8, 20000);
  const TSpectrumSpan s = own.s.Span(own.SpanOfBin(8));
  EXPECT_EQ(s.Spots, s.Value);
  EXPECT_EQ(s.Peak, s.Value);
}

TEST(SpectrumPeaks, EqualPeakRestartsTheHold) {
  Analyser a;
  Plain(a.s, 64);
  a.BinTone(8, 20000);
  const int span = a.SpanOfBin(8);
  const int held = a.s.Span(span).Peak;
  a.Ticks(30);
  a.BinTone(8, 20000);  // the same height again
  a.Ticks(40);
  EXPECT_EQ(a.s.Span(span).Peak, held);
  a.Ticks(1);
  EXPECT_EQ(a.s.Span(span).Peak, 0);
  // A lower one does not.
  a.BinTone(8, 20000);
  a.Ticks(30);
  a.BinTone(8, 8000);
  a.Ticks(11);
  EXPECT_EQ(a.s.Span(span).Peak, 0);
}

TEST(SpectrumPeaks, NumPeaksEnabledAndInfoModeStopTheTick) {
  Analyser a;  // its own Suspend makes 1
  SharedTimerClient* timer = a.s.TimerClient();
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(SharedTimer::SuspendCountOf(timer), 1);
  a.s.SetNumPeaks(0);
  EXPECT_EQ(SharedTimer::SuspendCountOf(timer), 2);
  a.s.SetEnabled(false);  // already suspended: no second time
  EXPECT_EQ(SharedTimer::SuspendCountOf(timer), 2);
  a.s.SetEnabled(true);
  EXPECT_EQ(SharedTimer::SuspendCountOf(timer), 2);
  a.s.SetNumPeaks(3);
  EXPECT_EQ(SharedTimer::SuspendCountOf(timer), 1);
  a.s.SetEnabled(false);
  EXPECT_EQ(SharedTimer::SuspendCountOf(timer), 2);
  a.s.SetEnabled(true);
  EXPECT_EQ(SharedTimer::SuspendCountOf(timer), 1);

  // NumPeaks 0: nothing held.
  Plain(a.s, 64);
  a.s.SetNumPeaks(0);
  a.BinTone(8, 20000);
  EXPECT_EQ(a.s.Span(a.SpanOfBin(8)).Peak, 0);
  // InfoMode: the peak stands still and blocks are not analysed.
  a.s.SetNumPeaks(1);
  a.BinTone(8, 20000);
  const int span = a.SpanOfBin(8);
  const int held = a.s.Span(span).Peak;
  ASSERT_GT(held, 0);
  ASSERT_TRUE(a.s.BeginInfo());
  const uint64_t frames = a.s.FrameCount();
  a.Ticks(100);
  a.Silence();
  EXPECT_EQ(a.s.Span(span).Peak, held);
  EXPECT_EQ(a.s.FrameCount(), frames);
  a.s.EndInfo();
  a.Ticks(41);
  EXPECT_EQ(a.s.Span(span).Peak, 0);
}

// The timer's own thread against blocks and resizes; for the thread checker.
TEST(SpectrumPeaks, RealTimerAlongsideBlocks) {
  TMMSpectrum s;
  RecorderSettings(s);
  s.SetPeakDelay(0);
  s.SetPeakSpeed(1);
  const auto loud = Tone(64, 5000, 44100, 20000, true, true, 500);
  const std::vector<int16_t> quiet(128, 0);
  for (int i = 0; i < 120; ++i) {
    s.ProcessPCMBlock((i % 3 ? quiet : loud).data());
    if (i % 40 == 39) s.SetSize(i % 80 ? 200 : 273, 86);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  SharedTimer::Suspend(s.TimerClient());
  for (int i = 0; i < s.SpanCount(); ++i) {
    EXPECT_GE(s.Span(i).Peak, 0);
    EXPECT_LE(s.Span(i).Peak, s.SpotCount());
  }
  SharedTimer::Resume(s.TimerClient());
}

// What clears what ------------------------------------------------------------------------------

TEST(SpectrumState, ChangesClearRecordsOrReset) {
  enum Effect { Keeps, ClearsRecords, Resets };
  struct Case {
    const char* name;
    std::function<void(TMMSpectrum&)> change;
    Effect effect;
  };
  const Case cases[] = {
      {"Kind", [](TMMSpectrum& s) { s.SetKind(skPeaks); }, ClearsRecords},
      {"Gain", [](TMMSpectrum& s) { s.SetGain(sg6db); }, ClearsRecords},
      {"RefFreq", [](TMMSpectrum& s) { s.SetRefFreq(500); }, ClearsRecords},
      {"VerticalScale", [](TMMSpectrum& s) { s.SetVerticalScale(50); }, ClearsRecords},
      {"Space", [](TMMSpectrum& s) { s.SetSpace(2); }, ClearsRecords},
      {"SpotSpace", [](TMMSpectrum& s) { s.SetSpotSpace(2); }, ClearsRecords},
      {"SpotHeight", [](TMMSpectrum& s) { s.SetSpotHeight(2); }, ClearsRecords},
      {"NumPeaks", [](TMMSpectrum& s) { s.SetNumPeaks(2); }, ClearsRecords},
      {"PeakDelay", [](TMMSpectrum& s) { s.SetPeakDelay(10); }, ClearsRecords},
      {"PeakSpeed", [](TMMSpectrum& s) { s.SetPeakSpeed(3); }, ClearsRecords},
      {"FFTLength", [](TMMSpectrum& s) { s.SetFFTLength(128); }, Resets},
      {"SampleRate", [](TMMSpectrum& s) { s.SetSampleRate(22050); }, Resets},
      {"LogFreq", [](TMMSpectrum& s) { s.SetLogFreq(true); }, Resets},
      {"LogAmp", [](TMMSpectrum& s) { s.SetLogAmp(true); }, Resets},
      {"FrequencyScale", [](TMMSpectrum& s) { s.SetFrequencyScale(2); }, Resets},
      {"size", [](TMMSpectrum& s) { s.SetSize(300, 90); }, Resets},
      {"DrawAmpScale", [](TMMSpectrum& s) { s.SetDrawAmpScale(true); }, Resets},
      {"DrawFreqScale", [](TMMSpectrum& s) { s.SetDrawFreqScale(true); }, Resets},
      {"ResetDisplay", [](TMMSpectrum& s) { s.ResetDisplay(); }, Resets},
      {"Point1", [](TMMSpectrum& s) { s.SetPoint1(40); }, Keeps},
      {"Window", [](TMMSpectrum& s) { s.SetWindow(fwHanning); }, Keeps},
      {"colours", [](TMMSpectrum& s) { s.SetBarColors(clLime, clYellow, clRed); }, Keeps},
      {"DrawGrid", [](TMMSpectrum& s) { s.SetDrawGrid(true); }, Keeps},
      {"same Gain", [](TMMSpectrum& s) { s.SetGain(sgNone); }, Keeps},
  };
  for (const Case& c : cases) {
    Analyser a;
    Plain(a.s, 64);
    a.BinTone(8, 20000);
    const int span = a.SpanOfBin(8);
    ASSERT_GT(a.s.Span(span).Peak, 0);
    a.needData = 0;
    c.change(a.s);
    SCOPED_TRACE(c.name);
    const TSpectrumSpan s = a.s.Span(span);
    if (c.effect == Keeps) {
      EXPECT_GT(s.Value, 0);
      EXPECT_GT(s.Peak, 0);
    } else {
      EXPECT_EQ(s.Value, 0);
      EXPECT_EQ(s.Peak, 0);
    }
    EXPECT_EQ(a.needData, c.effect == Resets ? 1 : 0);
    EXPECT_EQ(a.s.MaxValue() == 0, c.effect == Resets);
    EXPECT_EQ(a.s.BinValue(8) == 0, c.effect == Resets);
  }
}

TEST(SpectrumState, EnabledAndVisible) {
  Analyser a;
  Plain(a.s, 64);
  a.BinTone(8, 20000);
  a.needData = 0;
  a.s.SetEnabled(false);  // reset, but no data asked of a disabled analyser
  EXPECT_EQ(a.needData, 0);
  EXPECT_EQ(a.s.MaxValue(), 0);
  EXPECT_EQ(a.s.LitColor(3), clTeal);  // drawn in Inactive1Color
  a.BinTone(8, 20000);
  EXPECT_EQ(a.s.FrameCount(), 1u);
  EXPECT_FALSE(a.s.BeginInfo());
  a.s.SetEnabled(true);
  EXPECT_EQ(a.needData, 1);
  EXPECT_EQ(a.s.LitColor(3), clRed);
  a.s.SetVisible(false);
  a.BinTone(8, 20000);
  EXPECT_EQ(a.s.FrameCount(), 1u);
  a.s.SetVisible(true);
  a.BinTone(8, 20000);
  EXPECT_EQ(a.s.FrameCount(), 2u);
}

TEST(SpectrumState, LoadingDefersTheRebuild) {
  TComponent form;
  auto* s = new TMMSpectrum(&form);  // the form owns it
  SharedTimer::Suspend(s->TimerClient());
  int needData = 0;
  s->OnNeedData = [&](TComponent*) { ++needData; };
  form.BeginLoading();
  s->SetSize(273, 86);
  s->SetFFTLength(64);
  s->SetLogFreq(true);
  EXPECT_EQ(needData, 0);
  EXPECT_EQ(s->Span(s->SpanCount() - 1).Right, 194);  // still the old layout
  form.EndLoading();
  EXPECT_EQ(needData, 1);
  EXPECT_EQ(s->PlotWidth(), 273);
  EXPECT_EQ(s->Span(s->SpanCount() - 1).Right, 273);
  EXPECT_EQ(s->StartBin(s->Span(s->SpanCount() - 1).Left), 31);
  SharedTimer::Resume(s->TimerClient());
}

// Pictures --------------------------------------------------------------------------------------

TEST(SpectrumRepaint, OncePerFrameButNotOverABlankPicture) {
  Analyser a;
  Plain(a.s, 64);
  a.s.SetNumPeaks(0);
  uint64_t before = a.s.RepaintCount();
  a.Silence();
  a.Silence();
  EXPECT_EQ(a.s.RepaintCount(), before);
  a.BinTone(8, 20000);
  a.BinTone(8, 20000);
  EXPECT_EQ(a.s.RepaintCount(), before + 2);
  a.Silence();  // the bars drop: one picture
  a.Silence();
  EXPECT_EQ(a.s.RepaintCount(), before + 3);

  // A held peak keeps the picture alive until a tick takes it.
  a.s.SetNumPeaks(1);
  a.BinTone(8, 20000);
  before = a.s.RepaintCount();
  a.Silence();
  a.Silence();
  EXPECT_EQ(a.s.RepaintCount(), before + 2);
  a.Ticks(41);  // the tick itself asks for nothing
  EXPECT_EQ(a.s.RepaintCount(), before + 2);
  a.Silence();  // shows the peak gone
  a.Silence();
  EXPECT_EQ(a.s.RepaintCount(), before + 3);

  // A landscape is blank only when its last line has slid off.
  a.s.SetKind(skScroll);
  a.BinTone(8, 20000);
  before = a.s.RepaintCount();
  for (int i = 0; i < 100; ++i) a.Silence();
  EXPECT_EQ(a.s.RepaintCount(), before + a.s.ScrollDepth());
}

TEST(SpectrumScroll, HistoryNewestFirst) {
  Analyser a;
  Plain(a.s, 64);
  a.s.SetKind(skScroll);
  EXPECT_EQ(a.s.ScrollDepth(), 86 / 2 + 1);
  a.BinTone(8, 30000);
  a.BinTone(8, 10000);
  a.Silence();
  ASSERT_EQ(a.s.ScrollFrames(), 3);
  const int span = a.SpanOfBin(8);
  EXPECT_EQ(a.s.ScrollRises(0)[span], 0);
  EXPECT_GT(a.s.ScrollRises(1)[span], 0);
  EXPECT_GT(a.s.ScrollRises(2)[span], a.s.ScrollRises(1)[span]);
  EXPECT_LE(a.s.ScrollRises(2)[span], 86 / 3);  // a third of the plot above the zero level
  EXPECT_EQ(a.s.ScrollBase(), 28);
  for (int i = 0; i < 60; ++i) a.Silence();
  EXPECT_EQ(a.s.ScrollFrames(), a.s.ScrollDepth());
  a.s.SetKind(skLines);
  EXPECT_EQ(a.s.ScrollFrames(), 0);
}

TEST(SpectrumDrawing, SpotsAndZones) {
  struct Case {
    TMMSpectrumKind kind;
    int height, spotHeight, spotSpace, point1, point2;
    int spots, offset, limit1, limit2;
  };
  const Case cases[] = {
      {skBars, 86, 1, 1, 50, 75, 43, 0, 22, 32},   // 21.5 rounds up to the even 22
      {skBars, 89, 1, 1, 50, 85, 45, 0, 22, 38},   // 22.5 rounds down to the even 22
      {skPeaks, 86, 3, 2, 50, 85, 17, 1, 8, 14},   // 8.5 → 8, 14.45 → 14
      {skBars, 20, 6, 0, 50, 85, 3, 1, 2, 3},      // 1.5 → 2, 2.55 → 3
      {skLines, 86, 1, 1, 50, 75, 43, 0, 43, 64},  // pixels from the bottom; 64.5 → 64
      {skVLines, 86, 1, 1, 50, 85, 43, 0, 43, 73},
      {skDots, 86, 1, 1, 50, 75, 43, 0, 43, 22},    // rows from the top; 21.5 → 22
      {skScroll, 86, 1, 1, 50, 75, 43, 0, 14, 22},  // a third of the plot; 21.5 → 22
  };
  for (const Case& c : cases) {
    Analyser a;
    a.s.SetSize(273, c.height);
    a.s.SetKind(c.kind);
    a.s.SetSpotSpace(c.spotSpace);
    a.s.SetSpotHeight(c.spotHeight);
    a.s.SetPoint1(c.point1);
    a.s.SetPoint2(c.point2);
    SCOPED_TRACE(testing::Message() << c.kind << " " << c.height);
    EXPECT_EQ(a.s.SpotCount(), c.spots);
    EXPECT_EQ(a.s.FirstSpotOffset(), c.offset);
    EXPECT_EQ(a.s.ZoneLimit1(), c.limit1);
    EXPECT_EQ(a.s.ZoneLimit2(), c.limit2);
  }
  // The zone of a spot or height, by kind (86 high, Point1 50, Point2 75).
  struct Zone {
    TMMSpectrumKind kind;
    int at, zone;
  };
  const Zone zones[] = {{skBars, 1, 1},    {skBars, 22, 1},   {skBars, 23, 2},  {skBars, 32, 2},
                        {skBars, 33, 3},   {skLines, 43, 1},  {skLines, 44, 2}, {skLines, 65, 3},
                        {skDots, 41, 1},   {skDots, 42, 2},   {skDots, 62, 2},  {skDots, 63, 3},
                        {skScroll, 14, 1}, {skScroll, 15, 2}, {skScroll, 23, 3}};
  for (const Zone& z : zones) {
    Analyser a;
    a.s.SetPoint2(75);
    a.s.SetKind(z.kind);
    EXPECT_EQ(a.s.ZoneOf(z.at), z.zone) << z.kind << " at " << z.at;
  }
}

TEST(SpectrumDrawing, SpotsOfAHeight) {
  // 86 pixels and 43 spots: a spot is 2 pixels; v / 2 + 0.5 rounds half to even.
  struct Case {
    int v, spots;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {2, 2},   {3, 2},   {4, 2},
                        {5, 3}, {6, 4}, {84, 42}, {86, 43}, {1000, 43}};
  Analyser a;
  for (const Case& c : cases) EXPECT_EQ(a.s.SpotsFor(c.v), c.spots) << c.v;
  // Any positive height below one spot lights one, whatever the spot size.
  a.s.SetSpotSpace(2);
  a.s.SetSpotHeight(4);  // 14 spots of about 6.1 pixels
  for (int v = 1; v < 86 / 14; ++v) EXPECT_EQ(a.s.SpotsFor(v), 1) << v;
}

TEST(SpectrumDrawing, BarsSpotsAndPeakMarker) {
  Analyser a;
  RecorderSettings(a.s);
  a.s.SetGain(sgNone);
  a.s.SetDecayMode(dmNone);
  a.s.SetVerticalScale(100);
  a.s.SetNumPeaks(2);
  a.BinTone(8, 30000);
  a.BinTone(8, 18000);
  const int span = a.SpanOfBin(8);
  const TSpectrumSpan s = a.s.Span(span);
  ASSERT_GT(s.Peak, s.Spots + 2);
  ASSERT_GT(s.Peak, 32);  // in zone 3
  std::vector<std::pair<int, TColor>> lit;
  a.s.ForEachLitSpot(span, [&](int j, TColor c) { lit.emplace_back(j, c); });
  ASSERT_EQ(lit.size(), static_cast<size_t>(s.Spots + 2));
  for (int j = 1; j <= s.Spots; ++j)
    EXPECT_EQ(lit[j - 1].second, j <= 22 ? clLime : j <= 32 ? clYellow : clRed) << j;
  EXPECT_EQ(lit[s.Spots].first, s.Peak);
  EXPECT_EQ(lit[s.Spots + 1].first, s.Peak - 1);
  EXPECT_EQ(lit[s.Spots].second, clRed);
  // skPeaks: the top lit spot and the marker.
  a.s.SetKind(skPeaks);
  a.s.SetNumPeaks(2);
  a.BinTone(8, 30000);
  a.BinTone(8, 18000);
  lit.clear();
  a.s.ForEachLitSpot(span, [&](int j, TColor c) { lit.emplace_back(j, c); });
  ASSERT_EQ(lit.size(), 3u);
  EXPECT_EQ(lit[0].first, a.s.Span(span).Spots);
  // Spot geometry: the lowest spot on the bottom row, then every 2 rows up.
  EXPECT_EQ(a.s.SpotRect(1).y, 85);
  EXPECT_EQ(a.s.SpotRect(43).y, 1);
  EXPECT_EQ(a.s.SpotRect(1).h, 1);
  // A bar leaves Space between neighbours, half on each side.
  const TSpectrumSpan wide = a.s.Span(span);
  const TSpectrumRect bar = a.s.BarRect(span);
  EXPECT_EQ(bar.x, wide.Left);
  EXPECT_EQ(bar.w, wide.Right - wide.Left - 1);
  a.s.SetSpace(3);
  EXPECT_EQ(a.s.BarRect(span).x, wide.Left + 1);
  EXPECT_EQ(a.s.BarRect(span).w, wide.Right - wide.Left - 3);
}

TEST(SpectrumDrawing, Geometry) {
  struct Case {
    int width, height;
    bool amp, freq;
    int left, plotWidth, plotHeight;
  };
  const Case cases[] = {{273, 86, false, false, 0, 273, 86},
                        {273, 86, true, false, 32, 209, 86},
                        {273, 86, false, true, 0, 273, 46},
                        {273, 86, true, true, 32, 209, 46},
                        {50, 30, true, true, 32, 4, 4}};
  for (const Case& c : cases) {
    TMMSpectrum s;
    s.SetSize(c.width, c.height);
    s.SetDrawAmpScale(c.amp);
    s.SetDrawFreqScale(c.freq);
    EXPECT_EQ(s.PlotLeft(), c.left);
    EXPECT_EQ(s.PlotWidth(), c.plotWidth);
    EXPECT_EQ(s.PlotHeight(), c.plotHeight);
    EXPECT_EQ(s.Span(s.SpanCount() - 1).Right, c.plotWidth);
    EXPECT_EQ(s.UnitsShown(), c.amp && c.freq);
  }
}

TEST(SpectrumDrawing, PeakLabel) {
  struct Case {
    bool logFreq;
    int bin;
    double peak;
    const char* text;
  };
  const Case cases[] = {
      {false, 8, 2100, ""},             // 5 pixels: no label
      {false, 8, 2400, "5857.0 Hz"},    // (8 + 0.5) × 44100 / 64
      {true, 8, 2400, "5512.5 Hz"},     // 8 × 44100 / 64
      {true, 1, 2400, "861.3 Hz"},      // (1 + 0.25) × 44100 / 64
      {false, 30, 2400, "21016.4 Hz"},  // (30 + 0.5) × 44100 / 64
  };
  for (const Case& c : cases) {
    Analyser a;
    Plain(a.s, 64);
    a.s.SetLogFreq(c.logFreq);
    a.s.SetDisplayPeak(true);
    a.BinTone(c.bin, c.peak);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(a.s.MaxBin(), c.bin);
    if (*c.text == 0) {
      EXPECT_LE(a.s.MaxValue(), 5);
      EXPECT_GT(a.s.MaxValue(), 0);
    } else {
      EXPECT_GT(a.s.MaxValue(), 5);
      EXPECT_LE(a.s.MaxValue(), 8);
    }
    EXPECT_EQ(a.s.PeakLabelText(), c.text);
    a.s.SetDisplayPeak(false);
    EXPECT_EQ(a.s.PeakLabelText(), "");
  }
}

TEST(SpectrumScales, AmplitudeLabels) {
  struct Case {
    bool logAmp;
    int height, verticalScale;
    std::vector<int> rows;
    std::vector<std::string> left, right;
  };
  const Case cases[] = {
      {true,
       50,
       100,
       {0, 9, 19, 29, 39, 49},
       {"0", "-12", "-24", "-36", "-48", "-60"},
       {" 0", "-12", "-24", "-36", "-48", "-60"}},
      {true,
       86,
       100,
       {0, 14, 28, 42, 56, 70, 85},
       {"0", "-10", "-20", "-30", "-40", "-50", "-60"},
       {}},
      {true, 20, 100, {0, 9, 19}, {"0", "-30", "-60"}, {}},
      {false,
       100,
       100,
       {99, 90, 80, 70, 60, 50, 40, 30, 20, 10, 0},
       {"0.00", "0.10", "0.20", "0.30", "0.40", "0.50", "0.60", "0.70", "0.80", "0.90", "1.00"},
       {}},
      {false,
       100,
       5,
       {99, 90, 80, 70, 60, 50, 40, 30, 20, 10, 0},
       {"0.000", "0.005", "0.010", "0.015", "0.020", "0.025", "0.030", "0.035", "0.040", "0.045",
        "0.050"},
       {}},
      {false, 20, 200, {19, 10, 0}, {"0.00", "1.00", "2.00"}, {}},
  };
  for (const Case& c : cases) {
    TMMSpectrum s;
    s.SetSize(273, c.height);
    s.SetLogAmp(c.logAmp);
    s.SetVerticalScale(c.verticalScale);
    SCOPED_TRACE(testing::Message() << (c.logAmp ? "dB " : "linear ") << c.height);
    EXPECT_EQ(s.AmpDivisions(), static_cast<int>(c.rows.size()) - 1);
    const auto labels = s.AmpLabels();
    ASSERT_EQ(labels.size(), c.rows.size());
    for (size_t r = 0; r < labels.size(); ++r) {
      EXPECT_EQ(labels[r].at, c.rows[r]) << r;
      EXPECT_EQ(labels[r].text, c.left[r]) << r;
    }
    if (!c.right.empty()) {
      const auto right = s.AmpLabels(true);
      for (size_t r = 0; r < right.size(); ++r) EXPECT_EQ(right[r].text, c.right[r]) << r;
    }
    EXPECT_EQ(s.GridRows(), c.rows);
    EXPECT_EQ(s.AmpUnitText(), c.logAmp ? "db" : "V");
  }
}

TEST(SpectrumScales, FrequencyLabels) {
  struct Case {
    int width, fftLength, frequencyScale;
    bool logFreq;
    int divisions;
    std::vector<std::pair<int, std::string>> some;  // (tick, text)
  };
  const Case cases[] = {
      {273, 64, 1, false, 16, {{0, "0"}, {1, "1378"}, {16, "22050"}}},
      {273, 64, 1, true, 16, {{0, "689"}, {8, "3898"}, {16, "22050"}}},
      {273, 64, 2, false, 16, {{0, "1"}, {8, "5513"}}},
      {500, 1024, 1, false, 32, {{0, "0"}, {32, "22050"}}},
      {20, 64, 1, false, 2, {{1, "11025"}}},
  };
  for (const Case& c : cases) {
    Analyser a;
    a.s.SetSize(c.width, 86);
    a.s.SetFFTLength(c.fftLength);
    a.s.SetFrequencyScale(c.frequencyScale);
    a.s.SetLogFreq(c.logFreq);
    SCOPED_TRACE(testing::Message() << c.width << " " << c.fftLength << (c.logFreq ? " log" : ""));
    EXPECT_EQ(a.s.FreqDivisions(), c.divisions);
    const auto labels = a.s.FreqLabels();
    ASSERT_EQ(labels.size(), static_cast<size_t>(c.divisions + 1));
    EXPECT_EQ(labels.front().at, 0);
    EXPECT_EQ(labels.back().at, c.width - 1);
    for (const auto& [tick, text] : c.some) EXPECT_EQ(labels[tick].text, text) << tick;
    const auto columns = a.s.GridColumns();
    for (size_t r = 0; r < labels.size(); ++r) EXPECT_EQ(columns[r], labels[r].at);
  }
  TMMSpectrum s;
  EXPECT_EQ(s.FreqUnitText(), "Hz");
}

TEST(SpectrumScales, ReadOut) {
  struct Case {
    bool logAmp, logFreq;
    TMMSpectrumKind kind;
    int verticalScale;
    int x, y;
    const char* text;
  };
  const Case cases[] = {
      {true, false, skBars, 100, 0, 0, "0.000 KHz 0.0 dB"},
      {true, false, skBars, 100, 272, 85, "22.050 KHz -60.0 dB"},
      {true, false, skBars, 100, 136, 17, "11.025 KHz -12.0 dB"},
      {false, false, skBars, 20, 0, 0, "0.000 KHz 0.20 V"},
      {false, false, skBars, 20, 0, 85, "0.000 KHz 0.00 V"},
      {false, false, skBars, 5, 0, 0, "0.000 KHz 0.050 V"},
      {false, false, skBars, 500, 0, 0, "0.000 KHz 5.00 V"},
      {false, true, skBars, 100, 0, 85, "0.689 KHz 0.00 V"},
      {false, true, skBars, 100, 272, 0, "22.050 KHz 1.00 V"},
      {true, true, skScroll, 100, 272, 40, "22.050 KHz"},
  };
  for (const Case& c : cases) {
    Analyser a;
    a.s.SetFFTLength(64);
    a.s.SetLogAmp(c.logAmp);
    a.s.SetLogFreq(c.logFreq);
    a.s.SetKind(c.kind);
    a.s.SetVerticalScale(c.verticalScale);
    EXPECT_EQ(a.s.InfoText(c.x, c.y), c.text);
  }
}

TEST(SpectrumScales, InfoModeBeginsOnlyWhenShown) {
  Analyser a;
  RecorderSettings(a.s);  // ShowInfo off
  EXPECT_FALSE(a.s.BeginInfo());
  EXPECT_FALSE(a.s.InfoMode());
  a.s.SetShowInfo(true);
  EXPECT_TRUE(a.s.BeginInfo());
  EXPECT_TRUE(a.s.InfoMode());
  a.needData = 0;
  a.s.ResetDisplay();  // as if the button were released
  EXPECT_FALSE(a.s.InfoMode());
  EXPECT_EQ(a.needData, 1);
}

// No allocation per block -------------------------------------------------------------------------

TEST(SpectrumAlloc, BlocksAllocateNothing) {
  struct Case {
    int fftLength;
    bool logAmp, logFreq;
    TMMDecayMode decay;
    TMMSpectrumKind kind;
  };
  const Case cases[] = {{64, false, false, dmStepUp, skBars},
                        {4096, true, true, dmNone, skLines},
                        {4096, true, false, dmUniform, skScroll},
                        {1024, false, true, dmExponential, skPeaks}};
  for (const Case& c : cases) {
    Analyser a;
    RecorderSettings(a.s);
    a.s.SetFFTLength(c.fftLength);
    a.s.SetLogAmp(c.logAmp);
    a.s.SetLogFreq(c.logFreq);
    a.s.SetDecayMode(c.decay);
    a.s.SetKind(c.kind);
    a.s.SetDisplayPeak(true);
    const auto tone = Tone(c.fftLength, 3000, 44100, 32767, true, true, 2000);
    const std::vector<int16_t> silence(tone.size(), 0);
    a.Feed(tone);  // warm-up
    g_mallocs = 0;
    g_countMallocs = true;
    const unsigned long long before = g_allocations.load();
    for (int i = 0; i < 50; ++i) {
      a.Feed(i % 5 ? tone : silence);
      a.s.PeakTick();
    }
    g_countMallocs = false;
    const unsigned long long during = g_allocations.load() - before;
    SCOPED_TRACE(c.fftLength);
    EXPECT_EQ(during, 0u);
    if (kMallocCounted) {
      EXPECT_EQ(g_mallocs.load(), 0u);
    }
    EXPECT_GT(a.pcmOverflows, 0);  // the events fired without allocating either
  }
}

}  // namespace
