// The level bar's model and its label strip: spot geometry and zones, the amplitude of a
// block, dB and linear spots, smoothing, the held peak on the timer's ticks, the overflow
// events, the range rules, the format check, what is lit in which colour, and when a picture
// is asked for.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "displays/MMLevel.h"
#include "displays/MMScale.h"

namespace {

// Frames of 16-bit stereo: every frame silent but one, which carries left and right.
std::vector<int16_t> Block(int frames, int16_t left, int16_t right = 0) {
  std::vector<int16_t> b(static_cast<size_t>(frames) * 2, 0);
  b[static_cast<size_t>(frames / 2) * 2] = left;
  b[static_cast<size_t>(frames / 2) * 2 + 1] = right;
  return b;
}

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, bits, channels, rate);
  return f;
}

// A bar set as the recorder's left bar, with the shared timer kept out of the way: the tests
// tick it themselves.
struct Bar {
  TMMLevel level;
  int gainOverflows = 0, pcmOverflows = 0;
  explicit Bar(int width = 254) {
    SharedTimer::Suspend(level.TimerClient());
    level.SetSize(width, 24);
    level.SetBitLength(b16Bit);
    level.SetMode(mStereo);
    level.SetChannel(chLeft);
    level.SetSamples(99);
    level.SetPoint2(80);
    level.OnGainOverflow = [this](TComponent*) { ++gainOverflows; };
    level.OnPcmOverflow = [this](TComponent*) { ++pcmOverflows; };
  }
  ~Bar() { SharedTimer::Resume(level.TimerClient()); }
  void Feed(int16_t left, int16_t right = 0) {
    const auto b = Block(level.Samples(), left, right);
    level.ProcessPCMBlock(b.data());
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) level.PeakTick();
  }
};

TEST(LevelLayout, SpotsAndZones) {
  struct Case {
    int extent, spotWidth, spotSpace, point1, point2;
    TMMLevelKind kind;
    int spots, offset, p1, p2;
  };
  const Case cases[] = {
      {254, 1, 1, 50, 80, lkHorizontal, 127, 0, 63, 101},
      {253, 1, 1, 50, 80, lkHorizontal, 127, 0, 63, 101},
      {200, 1, 1, 50, 85, lkHorizontal, 100, 0, 50, 85},
      {200, 3, 2, 50, 85, lkHorizontal, 40, 1, 20, 34},
      {100, 2, 0, 50, 85, lkVertical, 50, 0, 25, 42},
      {2, 1, 1, 50, 85, lkHorizontal, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    TMMLevel level;
    if (c.kind == lkVertical) {
      level.SetKind(lkVertical);
      level.SetSize(17, c.extent);
    } else {
      level.SetSize(c.extent, 17);
    }
    level.SetSpotSpace(c.spotSpace);
    level.SetSpotWidth(c.spotWidth);
    level.SetPoint1(c.point1);
    level.SetPoint2(c.point2);
    SCOPED_TRACE(c.extent);
    EXPECT_EQ(level.SpotCount(), c.spots);
    EXPECT_EQ(level.FirstSpotOffset(), c.offset);
    EXPECT_EQ(level.Point1Spot(), c.p1);
    EXPECT_EQ(level.Point2Spot(), c.p2);
  }
  // The recorder's bar: zone 1 is spots 1..63, zone 2 64..101, zone 3 102..127.
  TMMLevel level;
  level.SetSize(254, 24);
  level.SetPoint2(80);
  EXPECT_EQ(level.ZoneOf(63), 1);
  EXPECT_EQ(level.ZoneOf(64), 2);
  EXPECT_EQ(level.ZoneOf(101), 2);
  EXPECT_EQ(level.ZoneOf(102), 3);
  // Spots step by two pixels from the left edge; a vertical bar starts at the bottom.
  EXPECT_EQ(level.SpotRect(1).x, 0);
  EXPECT_EQ(level.SpotRect(127).x, 252);
  EXPECT_EQ(level.SpotRect(127).h, 24);
  level.SetDirection(dirReversed);
  EXPECT_EQ(level.SpotRect(1).x, 253);
  level.SetDirection(dirNormal);
  level.SetKind(lkVertical);
  EXPECT_EQ(level.Width(), 24);  // the sides swap
  EXPECT_EQ(level.Height(), 254);
  EXPECT_EQ(level.SpotRect(1).y, 253);
}

TEST(LevelAmplitude, SpotsOfAPeak) {
  struct Case {
    int16_t left, right;
    TMMChannel channel;
    int spots, pcmOverflows, gainOverflows;
  };
  const Case cases[] = {
      {32767, 0, chLeft, 127, 1, 0},  // 0 dB: every spot, clipping reported, no gain overflow
      {590, 0, chLeft, 0, 0, 0},      // about -34.9 dB: nothing
      {600, 0, chLeft, 1, 0, 0},         {-600, 0, chLeft, 1, 0, 0},  // magnitudes
      {0, 32767, chLeft, 0, 0, 0},  // the other channel is not looked at
      {0, 32767, chRight, 127, 1, 0},    {-32768, 0, chLeft, 127, 1, 0},
      {32767, 32767, chBoth, 127, 1, 0}, {600, 600, chBoth, 1, 0, 0},
      {1200, 0, chBoth, 1, 0, 0},  // averaged: 600
  };
  for (const Case& c : cases) {
    Bar bar;
    bar.level.SetChannel(c.channel);
    bar.Feed(c.left, c.right);
    SCOPED_TRACE(std::to_string(c.left) + "/" + std::to_string(c.right));
    EXPECT_EQ(bar.level.LitSpots(), c.spots);
    EXPECT_EQ(bar.pcmOverflows, c.pcmOverflows);
    EXPECT_EQ(bar.gainOverflows, c.gainOverflows);
  }
}

TEST(LevelAmplitude, EightBitMonoAndOffsets) {
  TMMLevel level;
  level.SetSize(254, 24);
  const uint8_t silent[50] = {128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
                              128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
                              128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
                              128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128};
  level.ProcessPCMBlock(silent);
  EXPECT_EQ(level.LitSpots(), 0);
  uint8_t full[50];
  std::fill(std::begin(full), std::end(full), 128);
  full[10] = 0;  // -128 × 256 = full scale
  level.ProcessPCMBlock(full);
  EXPECT_EQ(level.LitSpots(), level.SpotCount());
  // An offset moves the zero: 128 - 28 - 128 = -28 → -7168, about -13 dB.
  TMMLevel shifted;
  shifted.SetSize(254, 24);
  shifted.SetDCOffsetL(28);
  shifted.ProcessPCMBlock(silent);
  EXPECT_GT(shifted.LitSpots(), 0);
}

TEST(LevelSmoothing, StepUpFallsByTheFactorPerSilentBlock) {
  Bar bar;
  bar.level.SetDecayMode(dmStepUp);
  bar.level.SetDecay(8);
  EXPECT_FLOAT_EQ(bar.level.Smoothing().Factor(), 0.9646616f);
  EXPECT_EQ(bar.level.Smoothing().Length(), 14);
  bar.Feed(32767);
  EXPECT_EQ(bar.level.LitSpots(), 127);
  double expected = 32767;
  for (int n = 1; n <= 40; ++n) {
    bar.Feed(0);
    expected *= 0.9646616;
    EXPECT_NEAR(bar.level.Smoothing().Level(), expected, expected * 1e-5) << n;
  }
  // 40 blocks × 0.31 dB: the bar shows about 12.5 dB below full scale.
  EXPECT_NEAR(bar.level.LitSpots(), 127 * (35 - 12.5) / 35, 1.5);
}

TEST(LevelSmoothing, FactorsAndModes) {
  struct Case {
    int decay;
    float factor;
    int length;
  };
  const Case cases[] = {{1, 0.01f, 1},        {7, 0.93058f, 12}, {8, 0.9646616f, 14},
                        {16, 0.9998595f, 30}, {0, 0.01f, 1},     {20, 0.9998595f, 30}};
  for (const Case& c : cases) {
    TMMSmoothing s;
    s.SetDecay(5);
    s.SetDecay(c.decay);
    EXPECT_NEAR(s.Factor(), c.factor, 1e-5) << c.decay;
    EXPECT_EQ(s.Length(), c.length) << c.decay;
  }
  // A new display starts with 0.0001 until Decay is set.
  EXPECT_FLOAT_EQ(TMMSmoothing().Factor(), 0.0001f);
  // The moving average over 2 × Decay − 2 values.
  TMMSmoothing avg;
  avg.SetMode(dmUniform);
  avg.SetDecay(3);  // length 4
  EXPECT_EQ(avg.Apply(400), 400);
  EXPECT_EQ(avg.Apply(0), 200);
  EXPECT_EQ(avg.Apply(0), 133);
  EXPECT_EQ(avg.Apply(0), 100);
  EXPECT_EQ(avg.Apply(0), 0);  // the 400 has left the ring
  // The exponential follower.
  TMMSmoothing expo;
  expo.SetMode(dmExponential);
  expo.SetDecay(1);  // factor 0.01
  EXPECT_EQ(expo.Apply(1000), 990);
  // Changing the mode clears; changing Decay clears only the moving average.
  TMMSmoothing step;
  step.SetMode(dmStepUp);
  step.SetDecay(8);
  step.Apply(1000);
  step.SetDecay(9);
  EXPECT_FLOAT_EQ(step.Level(), 1000.0f);
  step.SetMode(dmStepUp);
  EXPECT_FLOAT_EQ(step.Level(), 0.0f);
  avg.Apply(800);
  avg.SetDecay(4);
  EXPECT_EQ(avg.Apply(0), 0);
}

TEST(LevelPeak, HeldThenGoneOrFalling) {
  // Defaults: held 41 ticks, then gone with the next block.
  {
    Bar bar;
    bar.level.SetNumPeaks(2);
    bar.Feed(32767);
    bar.Feed(3000);  // lower: the peak stays at 127
    const int lit = bar.level.LitSpots();
    EXPECT_EQ(bar.level.PeakSpot(), 127);
    EXPECT_EQ(bar.level.PeakCountdown(), 41);
    bar.Ticks(40);
    EXPECT_EQ(bar.level.PeakSpot(), 127);
    EXPECT_FALSE(bar.level.RedrawPending());
    bar.Ticks(1);
    EXPECT_EQ(bar.level.PeakSpot(), 0);
    EXPECT_TRUE(bar.level.RedrawPending());
    // The tick never paints; the next block shows the change.
    const uint64_t before = bar.level.RepaintCount();
    bar.Feed(3000);
    EXPECT_EQ(bar.level.LitSpots(), lit);
    EXPECT_EQ(bar.level.RepaintCount(), before + 1);
    EXPECT_FALSE(bar.level.RedrawPending());
  }
  // PeakSpeed 2: after the hold one spot every 2 ticks.
  {
    Bar bar;
    bar.level.SetPeakSpeed(2);
    bar.Feed(32767);
    bar.Feed(0);
    bar.Ticks(41);
    EXPECT_EQ(bar.level.PeakSpot(), 126);
    bar.Ticks(2);
    EXPECT_EQ(bar.level.PeakSpot(), 125);
    bar.Ticks(1);
    EXPECT_EQ(bar.level.PeakSpot(), 125);
    bar.Ticks(1);
    EXPECT_EQ(bar.level.PeakSpot(), 124);
  }
  // A new peak equal to the held one restarts the hold; NumPeaks 0 holds nothing.
  {
    Bar bar;
    bar.Feed(32767);
    bar.Ticks(30);
    bar.Feed(32767);
    EXPECT_EQ(bar.level.PeakCountdown(), 41);
    bar.level.SetNumPeaks(0);
    Bar none;
    none.level.SetNumPeaks(0);
    none.Feed(32767);
    EXPECT_EQ(none.level.PeakSpot(), 0);
  }
}

TEST(LevelRules, RangesOfTheProperties) {
  TMMLevel level;
  struct IntCase {
    const char* name;
    void (TMMLevel::*set)(int32_t);
    int32_t (TMMLevel::*get)() const;
    int32_t value, stored;
  };
  const IntCase cases[] = {
      {"Gain 33 ignored", &TMMLevel::SetGain, &TMMLevel::Gain, 33, 0},
      {"Gain -9 ignored", &TMMLevel::SetGain, &TMMLevel::Gain, -9, 0},
      {"Gain 32", &TMMLevel::SetGain, &TMMLevel::Gain, 32, 32},
      {"Sensitivy -100", &TMMLevel::SetSensitivy, &TMMLevel::Sensitivy, -100, -90},
      {"Sensitivy 0", &TMMLevel::SetSensitivy, &TMMLevel::Sensitivy, 0, -9},
      {"Samples 0", &TMMLevel::SetSamples, &TMMLevel::Samples, 0, 1},
      {"NumPeaks 9", &TMMLevel::SetNumPeaks, &TMMLevel::NumPeaks, 9, 5},
      {"PeakDelay 60", &TMMLevel::SetPeakDelay, &TMMLevel::PeakDelay, 60, 50},
      {"PeakSpeed -1", &TMMLevel::SetPeakSpeed, &TMMLevel::PeakSpeed, -1, 0},
      {"Point1 0", &TMMLevel::SetPoint1, &TMMLevel::Point1, 0, 1},
      {"Point2 120", &TMMLevel::SetPoint2, &TMMLevel::Point2, 120, 100},
      {"SpotSpace 11", &TMMLevel::SetSpotSpace, &TMMLevel::SpotSpace, 11, 10},
      {"SpotWidth 100 on 200", &TMMLevel::SetSpotWidth, &TMMLevel::SpotWidth, 100, 66},
      {"Decay 17", &TMMLevel::SetDecay, &TMMLevel::Decay, 17, 16},
  };
  for (const IntCase& c : cases) {
    (level.*c.set)(c.value);
    EXPECT_EQ((level.*c.get)(), c.stored) << c.name;
  }
  // Gain −8 multiplies by nothing: every block shows an empty bar.
  Bar bar;
  bar.level.SetGain(-8);
  bar.Feed(32767);
  EXPECT_EQ(bar.level.LitSpots(), 0);
  EXPECT_EQ(bar.pcmOverflows, 1);
  // Gain 32 (× 5) overflows a -10 dB block.
  Bar loud;
  loud.level.SetGain(32);
  loud.Feed(10362);
  EXPECT_EQ(loud.level.LitSpots(), 127);
  EXPECT_EQ(loud.gainOverflows, 1);
  EXPECT_EQ(loud.pcmOverflows, 0);
  // The recorder's block: 2 × 2 × 99.
  EXPECT_EQ(bar.level.BlockBytes(), 396);
}

TEST(LevelRules, ValueAndLinearScale) {
  Bar bar;
  bar.level.SetLogAmp(false);
  bar.level.SetValue(50);
  const double x0 = 32767 / std::pow(10.0, 35 / 20.0);
  EXPECT_EQ(bar.level.LitSpots(), std::lround(127 * (16384 - x0) / (32767 - x0)));
  EXPECT_EQ(bar.level.Value(), std::lround(bar.level.LitSpots() * 100.0 / 127));
  bar.level.SetValue(140);  // clamped to 100
  EXPECT_EQ(bar.level.LitSpots(), 127);
  Bar db;
  db.level.SetValue(10);  // -20 dB
  EXPECT_EQ(db.level.LitSpots(), std::lround((35 - 20) * 127 / 35.0));
  EXPECT_NEAR(db.level.Value(), 10, 1);
  db.level.SetValue(0);
  EXPECT_EQ(db.level.Value(), 0);
}

TEST(LevelFormat, OnlyWhatItCanShow) {
  struct Case {
    int bits, channels, rate;
    bool accepted;
  };
  const Case cases[] = {{24, 2, 44100, false},  {16, 3, 44100, false}, {16, 2, 2000, false},
                        {16, 2, 100001, false}, {8, 1, 4000, true},    {16, 2, 100000, true}};
  for (const Case& c : cases) {
    TMMLevel level;
    level.SetBitLength(b16Bit);
    level.SetMode(mStereo);
    const WAVEFORMATEX f = Pcm(c.bits, c.channels, c.rate);
    if (c.accepted) {
      EXPECT_NO_THROW(level.SetPCMFormat(&f));
      EXPECT_EQ(level.BitLength(), c.bits == 8 ? b8Bit : b16Bit);
      EXPECT_EQ(level.Mode(), c.channels == 1 ? mMono : mStereo);
    } else {
      try {
        level.SetPCMFormat(&f);
        ADD_FAILURE() << c.bits << "/" << c.channels << "/" << c.rate << " accepted";
      } catch (const EMMLevelError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
      }
      EXPECT_EQ(level.BitLength(), b16Bit);
      EXPECT_EQ(level.Mode(), mStereo);
    }
  }
}

TEST(LevelPicture, LitSpotsInTheirZoneColours) {
  auto lit = [](const TMMLevel& l) {
    std::vector<std::pair<int, TColor>> spots;
    l.ForEachLitSpot([&](int32_t s, TColor c) { spots.emplace_back(s, c); });
    return spots;
  };
  Bar bar;
  bar.level.SetBarColors(clLime, clYellow, clRed);
  bar.level.SetNumPeaks(2);
  bar.Feed(32767);
  auto spots = lit(bar.level);
  ASSERT_EQ(spots.size(), 127u);
  EXPECT_EQ(spots[62].second, clLime);
  EXPECT_EQ(spots[63].second, clYellow);
  EXPECT_EQ(spots[101].second, clRed);
  // Lower now: 1..n lit, and the peak marker of two spots at 127 and 126, zone 3 red.
  bar.Feed(1036);  // -30 dB → round(5 × 127 / 35) = 18 spots
  spots = lit(bar.level);
  ASSERT_EQ(spots.size(), 18u + 2u);
  EXPECT_EQ(spots[17].first, 18);
  EXPECT_EQ(spots[18], std::make_pair(127, clRed));
  EXPECT_EQ(spots[19], std::make_pair(126, clRed));
  // Symmetric: five spots round the lit count (halved), all in its zone's colour.
  Bar sym;
  sym.level.SetBarColors(clLime, clYellow, clRed);
  sym.level.SetDirection(dirSymetric);
  sym.level.SetNumPeaks(0);
  sym.Feed(32767);
  EXPECT_EQ(sym.level.LitSpots(), 63);
  spots = lit(sym.level);
  ASSERT_EQ(spots.size(), 5u);
  EXPECT_EQ(spots.front().first, 61);
  EXPECT_EQ(spots.back().first, 65);
  for (const auto& s : spots) EXPECT_EQ(s.second, clLime);
  // A disabled bar shows nothing lit.
  bar.level.SetEnabled(false);
  EXPECT_TRUE(lit(bar.level).empty());
}

TEST(LevelPicture, RepaintsOnlyOnChange) {
  // Silence on an empty bar asks for no picture at all.
  Bar quiet;
  const uint64_t start = quiet.level.RepaintCount();
  for (int i = 0; i < 500; ++i) quiet.Feed(0);
  EXPECT_EQ(quiet.level.RepaintCount(), start);
  // A steady tone: at most one picture per block.
  Bar tone;
  tone.level.SetDecayMode(dmStepUp);
  tone.level.SetDecay(8);
  const uint64_t before = tone.level.RepaintCount();
  for (int i = 0; i < 500; ++i) tone.Feed(16384);
  EXPECT_LE(tone.level.RepaintCount() - before, 500u);
  EXPECT_GE(tone.level.RepaintCount() - before, 1u);
  // Without peak hold a steady tone is one picture.
  Bar plain;
  plain.level.SetNumPeaks(0);
  const uint64_t p0 = plain.level.RepaintCount();
  for (int i = 0; i < 100; ++i) plain.Feed(16384);
  EXPECT_EQ(plain.level.RepaintCount() - p0, 1u);
  // Off screen or disabled, blocks are not even looked at.
  Bar hidden;
  hidden.level.SetVisible(false);
  hidden.Feed(32767);
  EXPECT_EQ(hidden.level.LitSpots(), 0);
  EXPECT_EQ(hidden.pcmOverflows, 0);
}

TEST(LevelPicture, ResetEmptiesTheBar) {
  Bar bar;
  bar.level.SetDecayMode(dmStepUp);
  bar.level.SetDecay(8);
  bar.Feed(32767);
  bar.level.ResetDisplay();
  EXPECT_EQ(bar.level.LitSpots(), 0);
  EXPECT_EQ(bar.level.PeakSpot(), 0);
  EXPECT_FLOAT_EQ(bar.level.Smoothing().Level(), 0.0f);
  bar.Feed(0);
  EXPECT_EQ(bar.level.LitSpots(), 0);
}

// The label strip ------------------------------------------------------------------------------

// Each character 5 pixels wide, 8 high.
void FixedMeasure(const std::string& text, int32_t& w, int32_t& h) {
  w = static_cast<int32_t>(text.size()) * 5;
  h = 8;
}

std::vector<std::string> Texts(const std::vector<TScaleLabel>& labels) {
  std::vector<std::string> t;
  for (const auto& l : labels) t.push_back(l.text);
  return t;
}

TEST(LevelScale, LabelsLineUpWithTheBar) {
  TMMLevelScale s;
  s.Width = 200;
  s.Height = 12;
  // The low end's label would stick out: -30 ... 0.
  auto labels = s.Labels(FixedMeasure);
  EXPECT_EQ(Texts(labels),
            (std::vector<std::string>{"-30", "-25", "-20", "-15", "-10", "-5", "0"}));
  // Right-aligned to their positions: 0 ends at the right end, -30 at 200 / 7.
  EXPECT_EQ(labels.back().x + labels.back().w, 200);
  EXPECT_EQ(labels.front().x + labels.front().w, 29);
  EXPECT_EQ(labels.front().y, 2);  // centred across the strip
  // Colours by the fraction: white up to Point1 and Point2, red above.
  s.SetPoint2(80);
  s.Scale3Color = clRed;
  labels = s.Labels(FixedMeasure);
  EXPECT_EQ(labels[4].color, clWhite);  // -10 at 5/7 = 71 %
  EXPECT_EQ(labels[5].color, clRed);    // -5 at 86 %
  // Reversed: the low end at the right; the labels sit left-aligned to the left of it.
  s.Direction = dirReversed;
  labels = s.Labels(FixedMeasure);
  EXPECT_EQ(labels.back().text, "0");
  EXPECT_EQ(labels.back().x, 0);
  // Vertical, normal: the low end at the bottom, labels below their positions.
  TMMLevelScale v;
  v.Kind = lkVertical;
  v.Width = 20;
  v.Height = 200;
  labels = v.Labels(FixedMeasure);
  EXPECT_EQ(labels.back().text, "0");
  EXPECT_EQ(labels.back().y, 0);
  EXPECT_EQ(labels.front().text, "-30");
}

TEST(LevelScale, ThinningAndTexts) {
  struct Case {
    int width, ticks;
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases = {
      // 7 gaps × 15 pixels fit in 120: every label.
      {120, 8, {"-30", "-25", "-20", "-15", "-10", "-5", "0"}},
      // 7 × 15 do not fit in 100, 3 × 15 do: every second from the high end (-30 would stick
      // out).
      {100, 8, {"-20", "-10", "0"}},
      // Too short for any: the step is ScaleTicks − 1, only the high end.
      {10, 8, {"0"}},
      {200, 2, {"0"}},
      {200, 11, {"-31", "-28", "-24", "-21", "-17", "-14", "-10", "-7", "-3", "0"}},
  };
  for (const Case& c : cases) {
    TMMLevelScale s;
    s.Width = c.width;
    s.Height = 10;
    s.SetScaleTicks(c.ticks);
    EXPECT_EQ(Texts(s.Labels(FixedMeasure)), c.texts) << c.width << " " << c.ticks;
  }
  // Linear: the dB of the amplitude at each position.
  TMMLevelScale lin;
  lin.LogAmp = false;
  EXPECT_EQ(lin.LabelText(7), "0");
  EXPECT_EQ(lin.LabelText(0), "-35");
  EXPECT_EQ(lin.LabelText(4), "-5");
  // Symmetric: mirrored with a plus.
  TMMLevelScale sym;
  sym.Width = 400;
  sym.Height = 10;
  sym.Direction = dirSymetric;
  const auto t = Texts(sym.Labels(FixedMeasure));
  EXPECT_NE(std::find(t.begin(), t.end(), "+30"), t.end());
  EXPECT_EQ(std::count(t.begin(), t.end(), "0"), 1);
  // Ticks only when the scale object is visible, and then along both sides by default.
  TMMLevelScale ticks;
  ticks.Width = 200;
  ticks.Height = 30;
  EXPECT_TRUE(ticks.Ticks().empty());
  ticks.Scale.Visible = true;
  EXPECT_EQ(ticks.Ticks().size(), 22u);
  ticks.ScalePos = spAboveOrLeft;
  const auto above = ticks.Ticks();
  ASSERT_EQ(above.size(), 11u);
  EXPECT_EQ(above.front().x1, 0);
  EXPECT_EQ(above.back().x1, 199);
  EXPECT_EQ(std::abs(above[0].y2 - above[0].y1) + 1, 7);  // long
  EXPECT_EQ(std::abs(above[1].y2 - above[1].y1) + 1, 3);  // short
}

}  // namespace
