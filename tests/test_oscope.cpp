// The oscilloscope's model: bytes per block for zoom and scroll, the column values of a
// block, the height mapping with gain and clipping, the overflow events, low-pass, what each
// kind draws (steps, spikes, effects, disabled), the strip chart, the scales and the
// read-out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "displays/MMOscope.h"

namespace {

// The recorder's oscilloscope: 16-bit stereo, 273 × 86, Gain 3, connected lines.
struct Scope {
  TMMOscope o;
  int gainOverflows = 0, pcmOverflows = 0;
  Scope() {
    o.SetSize(273, 86);
    o.SetBitLength(b16Bit);
    o.SetMode(mStereo);
    o.SetSampleRate(44100);
    o.SetGain(3);
    o.SetKind(okConLines);
    o.OnGainOverflow = [this](TComponent*) { ++gainOverflows; };
    o.OnPcmOverflow = [this](TComponent*) { ++pcmOverflows; };
  }
  // Frames of equal left and right, one per value.
  void Feed(const std::vector<int16_t>& values) {
    std::vector<int16_t> b(static_cast<size_t>(o.BlockBytes()) / 2 + 8, 0);
    for (size_t i = 0; i < values.size() && 2 * i + 1 < b.size(); ++i)
      b[2 * i] = b[2 * i + 1] = values[i];
    o.ProcessPCMBlock(b.data());
  }
  std::vector<TOscopeMark> Marks() const {
    std::vector<TOscopeMark> m;
    o.ForEachMark([&](const TOscopeMark& k) { m.push_back(k); });
    return m;
  }
};

TEST(OscopeBlock, BytesPerBlock) {
  struct Case {
    int zoom;
    bool scroll;
    int bytes;
  };
  const Case cases[] = {{1, false, 1092}, {-1, false, 548}, {2, false, 2184},
                        {-3, false, 276}, {9, false, 9828}, {1, true, 512}};
  for (const Case& c : cases) {
    Scope s;
    s.o.SetZoom(c.zoom);
    s.o.SetScroll(c.scroll);
    EXPECT_EQ(s.o.BlockBytes(), c.bytes) << c.zoom << (c.scroll ? " scroll" : "");
  }
  // Mono 8-bit halves and halves again.
  Scope m;
  m.o.SetBitLength(b8Bit);
  m.o.SetMode(mMono);
  EXPECT_EQ(m.o.BlockBytes(), 273);
}

TEST(OscopeBlock, HeightsGainAndClipping) {
  Scope s;
  // 32767 × 11 / 8 + 32767 over 65535 × 86 = 102: above the plot, both events, clipped.
  EXPECT_EQ(s.o.HeightOf(32767), 102);
  EXPECT_EQ(s.o.RowOf(0), 43);
  s.Feed(std::vector<int16_t>(273, 32767));
  EXPECT_EQ(s.pcmOverflows, 273);
  EXPECT_EQ(s.gainOverflows, 273);
  for (const TOscopeMark& m : s.Marks()) {
    EXPECT_EQ(m.y1, 0);
    EXPECT_EQ(m.y2, 0);
  }
  // Silence lies on row 43, a line across.
  Scope q;
  q.Feed(std::vector<int16_t>(273, 0));
  const auto marks = q.Marks();
  ASSERT_EQ(marks.size(), 272u);
  EXPECT_EQ(marks.front().x1, 0);
  EXPECT_EQ(marks.back().x2, 272);
  for (const TOscopeMark& m : marks) EXPECT_EQ(m.y2, 43);
  EXPECT_EQ(q.pcmOverflows + q.gainOverflows, 0);
}

TEST(OscopeBlock, ZoomChannelsAndLowPass) {
  std::vector<int16_t> ramp(600);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i * 10);
  // Zoom -1: each frame on two columns.
  Scope z;
  z.o.SetZoom(-1);
  z.Feed(ramp);
  EXPECT_EQ(z.o.ColumnSamples()[0], 0);
  EXPECT_EQ(z.o.ColumnSamples()[1], 0);
  EXPECT_EQ(z.o.ColumnSamples()[2], 10);
  EXPECT_EQ(z.o.ColumnSamples()[271], 1350);
  // Zoom 2: every second frame.
  Scope two;
  two.o.SetZoom(2);
  two.Feed(ramp);
  EXPECT_EQ(two.o.ColumnSamples()[1], 20);
  EXPECT_EQ(two.o.ColumnSamples()[272], 5440);
  // Channels: left, right, or both halved toward zero.
  std::vector<int16_t> block(2 * 273, 0);
  block[0] = 1001;
  block[1] = -2000;
  struct Case {
    TMMChannel channel;
    int value;
  };
  for (const Case& c : {Case{chLeft, 1001}, Case{chRight, -2000}, Case{chBoth, -499}}) {
    Scope s;
    s.o.SetChannel(c.channel);
    s.o.ProcessPCMBlock(block.data());
    EXPECT_EQ(s.o.ColumnSamples()[0], c.value) << c.channel;
  }
  // 8-bit: s × 256 − 32768; both channels as the unsigned sum shifted.
  Scope b8;
  b8.o.SetBitLength(b8Bit);
  std::vector<uint8_t> bytes(2 * 273, 128);
  bytes[0] = 255;
  bytes[1] = 0;
  b8.o.ProcessPCMBlock(bytes.data());
  EXPECT_EQ(b8.o.ColumnSamples()[0], 127 * 256 - 32768);
  EXPECT_EQ(b8.o.ColumnSamples()[1], 0);
  // Low-pass: a lone 4000 after zeros becomes 3000, the column after it 1000.
  Scope lp;
  lp.o.SetLowPass(true);
  std::vector<int16_t> spike(273, 0);
  spike[10] = 4000;
  lp.Feed(spike);
  EXPECT_EQ(lp.o.ColumnSamples()[9], 0);
  EXPECT_EQ(lp.o.ColumnSamples()[10], 3000);
  EXPECT_EQ(lp.o.ColumnSamples()[11], 1000);
  EXPECT_EQ(lp.o.ColumnSamples()[12], 0);
}

TEST(OscopeDrawing, KindsStepsAndEffects) {
  std::vector<int16_t> wave(273);
  for (size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<int16_t>((i % 2 ? 1 : -1) * 8000);
  // Steps 3 joins columns 0, 3, 6, …, and the line runs on to the last column.
  Scope s;
  s.o.SetSteps(3);
  s.Feed(wave);
  const auto lines = s.Marks();
  ASSERT_EQ(lines.size(), 91u);
  EXPECT_EQ(lines[0].x1, 0);
  EXPECT_EQ(lines[0].x2, 3);
  EXPECT_EQ(lines[1].x2, 6);
  EXPECT_EQ(lines.back().x2, 272);
  // Dots: one per drawn column.
  s.o.SetKind(okDots);
  EXPECT_EQ(s.Marks().size(), 91u);
  // Spikes of a negative sample stand as high as those of its magnitude.
  Scope sp;
  sp.o.SetKind(okSpikes);
  std::vector<int16_t> pair(273, 0);
  pair[0] = -12000;
  pair[1] = 12000;
  sp.Feed(pair);
  const auto spikes = sp.Marks();
  EXPECT_EQ(spikes[0].y1, spikes[1].y1);
  EXPECT_EQ(spikes[0].y2, 85);  // from the bottom
  EXPECT_LT(spikes[0].y1, 85);
  // Vertical lines from the centre; mirrored lines span both sides equally.
  Scope v;
  v.o.SetKind(okVertLines);
  v.Feed(pair);
  auto marks = v.Marks();
  EXPECT_EQ(marks[0].y1, 43);  // below the centre: from the centre down
  EXPECT_GT(marks[0].y2, 43);
  EXPECT_EQ(marks[1].y2, 43);
  EXPECT_LT(marks[1].y1, 43);
  v.o.SetKind(okMirLines);
  marks = v.Marks();
  EXPECT_EQ(43 - marks[1].y1, marks[1].y2 - 43);
  // efPeak: heights outside the middle third in the effect colour.
  Scope e;
  e.o.SetKind(okDots);
  e.o.SetEffect(efPeak);
  std::vector<int16_t> levels(273, 0);
  levels[1] = 30000;
  e.Feed(levels);
  marks = e.Marks();
  EXPECT_EQ(marks[0].color, clAqua);
  EXPECT_EQ(marks[1].color, clRed);
  // A disabled oscilloscope draws only the centre line, from column 5 to W − 5.
  Scope d;
  d.o.SetEnabled(false);
  marks = d.Marks();
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0].x1, 5);
  EXPECT_EQ(marks[0].x2, 268);
  EXPECT_EQ(marks[0].color, clGray);
  d.Feed(levels);  // ignored
  EXPECT_EQ(d.o.ColumnSamples()[1], 0);
}

TEST(OscopeRules, RangesAndFormat) {
  Scope s;
  s.o.SetSteps(12);
  EXPECT_EQ(s.o.Steps(), 9);
  s.o.SetZoom(0);
  EXPECT_EQ(s.o.Zoom(), 1);
  s.o.SetZoom(-20);
  EXPECT_EQ(s.o.Zoom(), -9);
  s.o.SetZoom(1);
  s.o.SetGain(40);
  EXPECT_EQ(s.o.Gain(), 3);
  s.o.SetSampleRate(4000);
  EXPECT_EQ(s.o.SampleRate(), 8000);
  s.o.SetFFTLength(5000);
  EXPECT_EQ(s.o.FFTLength(), 4096);
  s.o.SetFFTLength(300);
  EXPECT_EQ(s.o.FFTLength(), 256);
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, 16, 3, 44100);
  EXPECT_THROW(s.o.SetPCMFormat(&f), EMMOscopeError);
  BuildPCMFormat(&f, 8, 1, 22050);
  s.o.SetPCMFormat(&f);
  EXPECT_EQ(s.o.SampleRate(), 22050);
  EXPECT_EQ(s.o.BlockBytes(), 273);
  // Scales take 32 pixels each side and 40 below.
  s.o.SetDrawAmpScale(true);
  s.o.SetDrawTimeScale(true);
  EXPECT_EQ(s.o.PlotWidth(), 273 - 64);
  EXPECT_EQ(s.o.PlotHeight(), 86 - 40);
}

TEST(OscopeScales, DivisionsLabelsAndReadOut) {
  Scope s;
  // 86 rows: 86 / 10 < 10, so 8 divisions.
  EXPECT_EQ(s.o.AmpDivisions(), 8);
  EXPECT_EQ(s.o.TimeDivisions(), 16);  // 273 / 32 < 10 → 16
  const auto amp = s.o.AmpLabels();
  EXPECT_EQ(amp.front().text, "0.00");
  EXPECT_EQ(amp.front().at, 43);
  EXPECT_EQ(amp[1].text, "+0.25");
  EXPECT_EQ(amp[1].at, 43 - 86 / 8);
  EXPECT_EQ(amp.back().text, "-1.00");
  // One block of 1092 bytes lasts 6 ms at 44100 Hz stereo.
  EXPECT_EQ(s.o.BlockMs(), 6);
  const auto time = s.o.TimeLabels();
  EXPECT_EQ(time.size(), 17u);
  EXPECT_EQ(time.back().text, " 6.0");
  EXPECT_EQ(time.back().at, 272);
  // The read-out: time at the column, volts at the row (gain not counted).
  EXPECT_EQ(s.o.InfoText(272, 0), " 6.0 ms 1.00 V");
  EXPECT_EQ(s.o.InfoText(0, 43), " 0.0 ms 0.00 V");
  // While the read-out shows, blocks are ignored; a reset leaves it.
  s.o.SetInfoMode(true);
  s.Feed(std::vector<int16_t>(273, 5000));
  EXPECT_EQ(s.o.ColumnSamples()[0], 0);
  s.o.ResetDisplay();
  EXPECT_FALSE(s.o.InfoMode());
}

TEST(OscopeScroll, OneColumnPerBlock) {
  Scope s;
  s.o.SetScroll(true);
  s.o.SetFFTLength(64);
  ASSERT_EQ(s.o.BlockBytes(), 256);
  std::vector<int16_t> block(128, 0);
  block[20] = block[21] = 9000;   // the high first
  block[80] = block[81] = -7000;  // then the low
  EXPECT_EQ(s.o.WritePosition(), -5);
  s.o.ProcessPCMBlock(block.data());
  EXPECT_EQ(s.o.ColumnsWritten(), 1u);
  EXPECT_EQ(s.o.WritePosition(), -4);
  const auto c = s.o.ColumnAt(0);
  EXPECT_EQ(c.first, 9000);
  EXPECT_EQ(c.second, -7000);
  for (int i = 0; i < 400; ++i) s.o.ProcessPCMBlock(block.data());
  EXPECT_TRUE(s.o.ScrollFull());
  EXPECT_EQ(s.o.WritePosition(), 272);
  // A full repaint of one scrolling oscilloscope starts every other one's chart again.
  Scope other;
  other.o.SetScroll(true);
  other.o.ProcessPCMBlock(std::vector<int16_t>(2 * 128, 0).data());
  other.o.FullRepaintDone();
  s.o.FullRepaintDone();
  EXPECT_TRUE(other.o.FullRepaintPending());
  EXPECT_EQ(other.o.ColumnsWritten(), 0u);
}

}  // namespace
