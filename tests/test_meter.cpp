// The VU meter's model: the needle position of a block, the overflow events, the peak needle
// on the timer's ticks, the arc geometry with ScaleAngle, the scale's ticks, labels and
// colours, the caption's place, a resize, and when a picture is asked for.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "displays/MMMeter.h"

namespace {

struct Meter {
  TMMMeter meter;
  int gainOverflows = 0, pcmOverflows = 0;
  // The recorder's left meter, ticked by the test instead of the shared timer.
  Meter() {
    SharedTimer::Suspend(meter.TimerClient());
    meter.SetSize(138, 65);
    meter.SetBitLength(b16Bit);
    meter.SetMode(mStereo);
    meter.SetChannel(chLeft);
    meter.SetSamples(20);
    meter.SetNeedleOffset(50);
    meter.SetScaleAngle(80);
    meter.SetTopSpace(12);
    meter.SetScaleColors(clLime, clYellow, clRed);
    meter.OnGainOverflow = [this](TComponent*) { ++gainOverflows; };
    meter.OnPcmOverflow = [this](TComponent*) { ++pcmOverflows; };
  }
  ~Meter() { SharedTimer::Resume(meter.TimerClient()); }
  void Feed(int16_t left) {
    std::vector<int16_t> b(static_cast<size_t>(meter.Samples()) * 2, 0);
    b[4] = left;
    meter.ProcessPCMBlock(b.data());
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) meter.PeakTick();
  }
};

TEST(MeterNeedle, PositionOfAnAmplitude) {
  struct Case {
    int16_t amplitude;
    bool logAmp;
    int needle, pcmOverflows, gainOverflows;
  };
  const Case cases[] = {
      {3277, true, 19661, 0, 0},    // -20 dB is 60 % of the arc with Sensitivy -50
      {32767, true, 32767, 1, 1},   // the right end: both events
      {100, true, 0, 0, 0},         // below -50 dB
      {1036, true, 13106, 0, 0},    // -30 dB
      {16384, false, 16332, 0, 0},  // linear: (16384 − x0) / (32767 − x0), x0 = 103.6
  };
  for (const Case& c : cases) {
    Meter m;
    m.meter.SetLogAmp(c.logAmp);
    m.Feed(c.amplitude);
    SCOPED_TRACE(c.amplitude);
    EXPECT_EQ(m.meter.NeedleValue(), c.needle);
    EXPECT_EQ(m.pcmOverflows, c.pcmOverflows);
    EXPECT_EQ(m.gainOverflows, c.gainOverflows);
  }
  // Recorder's block: 2 × 2 × 20.
  EXPECT_EQ(Meter().meter.BlockBytes(), 80);
  // Value reads the needle back in percent of full scale.
  Meter v;
  v.meter.SetValue(10);
  EXPECT_EQ(v.meter.NeedleValue(), 19661);
  EXPECT_EQ(v.meter.Value(), 10);
}

TEST(MeterNeedle, PeakNeedleHoldsAndSinks) {
  // PeakSpeed 2 (the recorder's): held 41 ticks, then 500 lower every 2 ticks.
  {
    Meter m;
    m.meter.SetPeakSpeed(2);
    m.Feed(32767);
    m.Feed(0);
    EXPECT_EQ(m.meter.PeakValue(), 32767);
    m.Ticks(40);
    EXPECT_EQ(m.meter.PeakValue(), 32767);
    m.Ticks(1);
    EXPECT_EQ(m.meter.PeakValue(), 32267);
    m.Ticks(1);
    EXPECT_EQ(m.meter.PeakValue(), 32267);
    m.Ticks(1);
    EXPECT_EQ(m.meter.PeakValue(), 31767);
    // Never below the needle.
    m.meter.SetValue(90);
    const int needle = m.meter.NeedleValue();
    m.Ticks(200);
    EXPECT_EQ(m.meter.PeakValue(), needle);
  }
  // PeakSpeed 0: back onto the needle after the hold; while the needle is above 0 every tick
  // marks a picture, so every following block repaints.
  {
    Meter m;
    m.Feed(32767);
    m.Feed(3277);
    m.Ticks(41);
    EXPECT_EQ(m.meter.PeakValue(), 19661);
    const uint64_t before = m.meter.RepaintCount();
    for (int i = 0; i < 5; ++i) {
      m.Ticks(1);
      EXPECT_TRUE(m.meter.RedrawPending());
      m.Feed(3277);
    }
    EXPECT_EQ(m.meter.RepaintCount() - before, 5u);
  }
  // An equal value does not restart the hold.
  {
    Meter m;
    m.Feed(32767);
    m.Ticks(10);
    m.Feed(32767);
    EXPECT_EQ(m.meter.PeakCountdown(), 31);
  }
}

TEST(MeterNeedle, ResizeAndResetShowZero) {
  Meter m;
  m.Feed(16000);
  ASSERT_GT(m.meter.NeedleValue(), 0);
  m.meter.SetSize(170, 90);
  EXPECT_EQ(m.meter.NeedleValue(), 0);
  EXPECT_EQ(m.meter.PeakValue(), 0);
  m.Feed(16000);
  m.meter.ResetDisplay();
  EXPECT_EQ(m.meter.NeedleValue(), 0);
  // Silence on a needle at rest asks for no picture.
  const uint64_t before = m.meter.RepaintCount();
  for (int i = 0; i < 100; ++i) m.Feed(0);
  EXPECT_EQ(m.meter.RepaintCount(), before);
}

TEST(MeterGeometry, TheArcAndItsAngle) {
  struct Case {
    int angle, stored;
  };
  for (const Case& c : {Case{30, 45}, Case{200, 180}, Case{80, 80}}) {
    TMMMeter m;
    m.SetScaleAngle(c.angle);
    EXPECT_EQ(m.ScaleAngle(), c.stored);
  }
  // 180°: a half circle from the left of the pivot over the top to its right.
  TMMMeter half;
  half.SetSize(170, 90);
  half.SetScaleAngle(180);
  const TPoint32 p = half.Pivot();
  const int r = half.Radius();
  EXPECT_EQ(p, (TPoint32{85, 120}));
  EXPECT_EQ(r, 106);
  EXPECT_EQ(half.PointAt(0, r), (TPoint32{85 - r, 120}));
  EXPECT_EQ(half.PointAt(32767, r), (TPoint32{85 + r, 120}));
  EXPECT_EQ(half.PointAt(16384, r).x, 85);
  EXPECT_EQ(half.PointAt(16384, r).y, 120 - r);
  // The recorder's 80° arc is symmetric about the vertical through the pivot.
  Meter m;
  const TPoint32 left = m.meter.PointAt(0, m.meter.Radius());
  const TPoint32 right = m.meter.PointAt(32767, m.meter.Radius());
  EXPECT_EQ(left.y, right.y);
  EXPECT_EQ(m.meter.Pivot().x - left.x, right.x - m.meter.Pivot().x);
  EXPECT_EQ(m.meter.NeedleTip(), left);  // at rest
}

void Measure(const std::string& text, int32_t& w, int32_t& h) {
  w = static_cast<int32_t>(text.size()) * 4;
  h = 7;
}

TEST(MeterScale, TicksLabelsAndColours) {
  Meter m;
  const auto ticks = m.meter.ScaleTicksLines();
  ASSERT_EQ(ticks.size(), 41u);
  // Lime up to and including the -20 dB tick (24), yellow up to the -10 dB tick (32).
  EXPECT_EQ(ticks[24].color, clLime);
  EXPECT_EQ(ticks[25].color, clYellow);
  EXPECT_EQ(ticks[32].color, clYellow);
  EXPECT_EQ(ticks[33].color, clRed);
  // Long ticks every 4th and the last; inner ends all at one radius.
  auto length = [](const TScaleLine& l) { return std::hypot(l.x2 - l.x1, l.y2 - l.y1); };
  EXPECT_NEAR(length(ticks[0]), 8, 1.01);
  EXPECT_NEAR(length(ticks[1]), 4, 1.01);
  EXPECT_NEAR(length(ticks[40]), 8, 1.01);
  const auto labels = m.meter.ScaleLabels(Measure);
  std::vector<std::string> texts;
  for (const auto& l : labels) texts.push_back(l.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"-50", "-40", "-30", "-20", "-10", "0"}));
  // Digits centred over the tick's outer end, the bottom 3 pixels above it.
  const TPoint32 end = m.meter.PointAt(32767, m.meter.Radius() - 2);
  EXPECT_EQ(labels.back().x, end.x - 2);
  EXPECT_EQ(labels.back().y + labels.back().h, end.y - 3);
  const TPoint32 end0 = m.meter.PointAt(0, m.meter.Radius() - 2);
  EXPECT_EQ(labels.front().x, end0.x - 4 - 4);  // "50" centred, the minus to its left
  // The caption in its band: bottom at H − H div 16, the height of a "W".
  const TScaleLabel caption = m.meter.CaptionBox(Measure);
  EXPECT_EQ(caption.text, "dB");
  EXPECT_EQ(caption.y + caption.h, 65 - 4);
  EXPECT_EQ(caption.x, (138 - 8) / 2);

  struct Case {
    int ticks, textEvery;
    size_t tickCount, labelCount;
  };
  for (const Case& c :
       {Case{1, 8, 0, 0}, Case{0, 8, 0, 0}, Case{41, 0, 41, 0}, Case{11, 5, 11, 3}}) {
    TMMMeter s;
    s.SetScaleTicks(c.ticks);
    s.SetScaleTicksTextEvery(c.textEvery);
    EXPECT_EQ(s.ScaleTicksLines().size(), c.tickCount) << c.ticks;
    EXPECT_EQ(s.ScaleLabels(Measure).size(), c.labelCount) << c.ticks;
  }
  TMMMeter none;
  none.SetDrawScale(false);
  EXPECT_TRUE(none.ScaleTicksLines().empty());
}

TEST(MeterRules, RangesAndFormat) {
  TMMMeter m;
  m.SetGain(40);
  EXPECT_EQ(m.Gain(), 0);
  m.SetSensitivy(-120);
  EXPECT_EQ(m.Sensitivy(), -90);
  m.SetPeakDelay(99);
  EXPECT_EQ(m.PeakDelay(), 50);
  m.SetNeedleOffset(-3);
  EXPECT_EQ(m.NeedleOffset(), 0);
  m.SetPoint1(0);
  EXPECT_EQ(m.Point1(), 1);
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, 24, 2, 44100);
  EXPECT_THROW(m.SetPCMFormat(&f), EMMMeterError);
  BuildPCMFormat(&f, 16, 2, 44100);
  m.SetPCMFormat(&f);
  EXPECT_EQ(m.BitLength(), b16Bit);
  EXPECT_EQ(m.Mode(), mStereo);
  // A disabled meter ignores blocks; enabling shows 0.
  Meter d;
  d.meter.SetEnabled(false);
  d.Feed(32767);
  EXPECT_EQ(d.meter.NeedleValue(), 0);
}

}  // namespace
