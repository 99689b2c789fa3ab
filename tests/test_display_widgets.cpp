// The display widgets as the user sees them: each display rendered offscreen with silence, a
// tone at -6 dB and full scale, checked for size and for the expected colour where the
// picture must be lit; paints held to display rate however fast blocks come; a hidden widget
// takes its display off screen. Run at the screen's pixel ratio (once at 1x and once at 2x by
// CTest). It needs a widget application, hence a main of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <cmath>
#include <string>
#include <vector>

#include "widgets/MMLevelScaleWidget.h"
#include "widgets/MMLevelWidget.h"
#include "widgets/MMMeterWidget.h"
#include "widgets/MMOscopeWidget.h"
#include "widgets/MMSpectrumWidget.h"

namespace {

constexpr double kPi = 3.14159265358979;

struct Signal {
  const char* name;
  int16_t peak;  // amplitude of the sine
};
const Signal kSignals[] = {{"silence", 0}, {"minus6db", 16423}, {"fullscale", 32767}};

// Stereo 16-bit frames of a sine (1 kHz unless said) at 44100 Hz, both channels alike.
std::vector<int16_t> Sine(int frames, int16_t peak, int phase = 0, double hz = 1000) {
  std::vector<int16_t> b(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const auto v =
        static_cast<int16_t>(std::lround(peak * std::sin(2 * kPi * hz * (i + phase) / 44100)));
    b[2 * static_cast<size_t>(i)] = b[2 * static_cast<size_t>(i) + 1] = v;
  }
  return b;
}

std::string Suffix() {
  return qApp->devicePixelRatio() > 1.5 ? "_2x" : "_1x";
}

// The picture as the screen gets it, in device pixels.
QImage Shot(QWidget& w, const std::string& name) {
  QCoreApplication::processEvents();
  QTest::qWait(40);  // past the display-rate limit
  const QImage image = w.grab().toImage();
  image.save(
      QString::fromStdString(std::string(TEST_OUTPUT_DIR "/display_") + name + Suffix() + ".png"));
  return image;
}

// The colour at a logical point of the picture.
QColor At(const QImage& image, int x, int y) {
  const qreal dpr = image.devicePixelRatio();
  return image.pixelColor(static_cast<int>(x * dpr), static_cast<int>(y * dpr));
}

bool Near(const QColor& a, const QColor& b, int tolerance = 40) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

// Whether a thin (antialiased) line of about colour c passes within a pixel of a point.
bool NearLine(const QImage& image, int x, int y, const QColor& c, int tolerance) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (Near(At(image, x + dx, y + dy), c, tolerance)) return true;
  return false;
}

void SetUpBar(TMMLevel& l) {
  l.SetBitLength(b16Bit);
  l.SetMode(mStereo);
  l.SetChannel(chLeft);
  l.SetSamples(99);
  l.SetNumPeaks(2);
  l.SetPoint2(80);
  l.SetBarColors(clLime, clYellow, clRed);
  l.SetInactiveColors(clGray, clGray, clMaroon);
  l.SetInactiveDoted(true);
  l.SetActiveDoted(true);
}

TEST(DisplayPictures, LevelBar) {
  for (const Signal& s : kSignals) {
    TMMLevelWidget w;
    w.resize(254, 24);
    SetUpBar(w.Level());
    w.show();
    const auto block = Sine(99, s.peak);
    w.Level().ProcessPCMBlock(block.data());
    const QImage image = Shot(w, std::string("level_") + s.name);
    SCOPED_TRACE(s.name);
    EXPECT_EQ(image.size(), QSize(254, 24) * image.devicePixelRatio());
    const int lit = w.Level().LitSpots();
    // Spot i lies at x = 2 (i − 1); dots on the even rows.
    auto spot = [&](int i) { return At(image, 2 * (i - 1), 12); };
    if (s.peak == 0) {
      EXPECT_EQ(lit, 0);
      EXPECT_TRUE(Near(spot(10), Qt::gray));
      EXPECT_TRUE(Near(spot(120), QColor(128, 0, 0)));
    } else {
      EXPECT_EQ(lit, s.peak == 32767 ? 127 : 105);
      EXPECT_TRUE(Near(spot(10), Qt::green));
      EXPECT_TRUE(Near(spot(80), Qt::yellow));
      EXPECT_TRUE(Near(spot(lit), Qt::red));
      if (lit < 127) {
        EXPECT_TRUE(Near(spot(120), QColor(128, 0, 0)));
      }
    }
    // Between the dots the background shows.
    EXPECT_TRUE(Near(At(image, 1, 12), Qt::black));
  }
}

TEST(DisplayPictures, LevelScale) {
  TMMLevelScaleWidget w;
  w.resize(254, 12);
  w.Scale().SetPoint2(80);
  w.show();
  const QImage image = Shot(w, "level_scale");
  EXPECT_EQ(image.size(), QSize(254, 12) * image.devicePixelRatio());
  // Some white in the -30 label's place, some red in the 0 at the right end.
  auto has = [&](int x0, int x1, const QColor& c) {
    for (int x = x0; x < x1; ++x)
      for (int y = 0; y < 12; ++y)
        if (Near(At(image, x, y), c, 60)) return true;
    return false;
  };
  EXPECT_TRUE(has(10, 37, Qt::white));
  EXPECT_TRUE(has(244, 254, Qt::red));
}

TEST(DisplayPictures, VuMeter) {
  for (const Signal& s : kSignals) {
    TMMMeterWidget w;
    w.resize(203, 100);
    TMMMeter& m = w.Meter();
    m.SetBitLength(b16Bit);
    m.SetMode(mStereo);
    m.SetChannel(chLeft);
    m.SetSamples(20);
    m.SetScaleAngle(80);
    m.SetNeedleOffset(50);
    m.SetTopSpace(12);
    m.SetScaleColors(clLime, clYellow, clRed);
    m.SetShowPeak(false);
    w.show();
    // 20 frames of a 1 kHz sine reach its peak.
    const auto block = Sine(20, s.peak, 6);
    m.ProcessPCMBlock(block.data());
    const QImage image = Shot(w, std::string("meter_") + s.name);
    SCOPED_TRACE(s.name);
    EXPECT_EQ(image.size(), QSize(203, 100) * image.devicePixelRatio());
    // The needle: white at a point two thirds of the way to its tip.
    const TPoint32 pivot = m.Pivot(), tip = m.NeedleTip();
    const int x = pivot.x + (tip.x - pivot.x) * 5 / 6, y = pivot.y + (tip.y - pivot.y) * 5 / 6;
    EXPECT_TRUE(NearLine(image, x, y, Qt::white, 70)) << x << "," << y;
    const int expected = s.peak == 0 ? 0 : s.peak == 32767 ? 32767 : 28835;
    EXPECT_NEAR(m.NeedleValue(), expected, 60);
    // Away from the needle: a tick near the right end is red, one near the left lime.
    const auto ticks = m.ScaleTicksLines();
    const TScaleLine last = ticks[38], first = ticks[4];
    auto tinted = [&](const TScaleLine& l, auto main, auto other) {
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const QColor c = At(image, (l.x1 + l.x2) / 2 + dx, (l.y1 + l.y2) / 2 + dy);
          if ((c.*main)() > 90 && (c.*main)() > 2 * (c.*other)()) return true;
        }
      return false;
    };
    EXPECT_TRUE(tinted(last, &QColor::red, &QColor::green));
    EXPECT_TRUE(tinted(first, &QColor::green, &QColor::red));
  }
}

TEST(DisplayPictures, Oscilloscope) {
  for (const Signal& s : kSignals) {
    TMMOscopeWidget w;
    w.resize(273, 86);
    TMMOscope& o = w.Oscope();
    o.SetBitLength(b16Bit);
    o.SetMode(mStereo);
    o.SetKind(okConLines);
    TMMOscope::Colors c = o.Colours();
    c.Foreground = clLime;
    o.SetColours(c);
    o.SetGain(3);
    w.show();
    const auto block = Sine(273, s.peak);
    o.ProcessPCMBlock(block.data());
    const QImage image = Shot(w, std::string("oscope_") + s.name);
    SCOPED_TRACE(s.name);
    EXPECT_EQ(image.size(), QSize(273, 86) * image.devicePixelRatio());
    // Each column's point is green; a full-scale crest is clipped at the top row.
    for (int col : {0, 5, 11, 30}) {
      const int row = std::clamp(o.RowOf(o.ColumnSamples()[static_cast<size_t>(col)]), 0, 85);
      EXPECT_TRUE(Near(At(image, col, row), Qt::green, 80)) << col;
    }
    if (s.peak == 0) {
      EXPECT_TRUE(Near(At(image, 100, 20), Qt::black));
    }
    if (s.peak == 32767) {
      EXPECT_TRUE(Near(At(image, 11, 0), Qt::green, 80));
    }
  }
}

// The recorder's analyser, filling its panel, fed a tone in the middle of bin 4 of its
// 64-point transform (4 × 44100 / 64 Hz: no leakage through the rectangular window). Its
// scale is steep (20 % of full scale at 1 kHz fills the plot, and more above it): a tone at
// -40 dB stands out of low bars, a full-scale one fills every column.
TEST(DisplayPictures, Spectrum) {
  const TMMSpectrumKind kinds[] = {skBars, skDots, skLines, skPeaks, skScroll, skVLines};
  const char* names[] = {"bars", "dots", "lines", "peaks", "scroll", "vlines"};
  const Signal levels[] = {{"silence", 0}, {"minus40db", 328}, {"fullscale", 32767}};
  for (size_t k = 0; k < std::size(kinds); ++k) {
    for (const Signal& s : levels) {
      TMMSpectrumWidget w;
      w.resize(414, 116);
      TMMSpectrum& m = w.Spectrum();
      m.SetBitLength(b16Bit);
      m.SetMode(mStereo);
      m.SetSampleRate(44100);
      m.SetFFTLength(64);
      m.SetWindow(fwRectangular);
      m.SetGain(sg12db);
      m.SetDecayMode(dmStepUp);
      m.SetDecay(7);
      m.SetVerticalScale(20);
      m.SetPoint2(75);
      m.SetShowInfo(false);
      m.SetBarColors(clLime, clYellow, clRed);
      m.SetInactiveColors(clBlack, clBlack, clBlack);
      m.SetInactiveDoted(true);
      m.SetKind(kinds[k]);
      w.show();
      const auto block = Sine(64, s.peak, 0, 4 * 44100.0 / 64);
      for (int i = 0; i < 3; ++i) m.ProcessPCMBlock(block.data());
      const std::string name = std::string("spectrum_") + names[k] + "_" + s.name;
      const QImage image = Shot(w, name);
      SCOPED_TRACE(name);
      EXPECT_EQ(image.size(), QSize(414, 116) * image.devicePixelRatio());
      // Bin 4 lies around column 58, bin 12 around column 161.
      auto span = [&](int x) {
        for (int32_t i = 0; i < m.SpanCount(); ++i)
          if (m.Span(i).Left <= x && x < m.Span(i).Right) return m.Span(i);
        return TSpectrumSpan{};
      };
      const TSpectrumSpan tone = span(58), away = span(161);
      // Lit pixels above the rows low bars and the zero lines of lines and landscape use.
      const int top = kinds[k] == skScroll ? m.ScrollBase() - 2 : 86;
      auto lit = [&](int x0, int x1) {
        int n = 0;
        for (int x = x0; x < x1; ++x)
          for (int y = 0; y < top; ++y) {
            const QColor c = At(image, x, y);
            n += Near(c, Qt::green, 60) || Near(c, Qt::yellow, 60) || Near(c, Qt::red, 60);
          }
        return n;
      };
      if (s.peak == 0) {
        EXPECT_EQ(tone.Value, 0);
        EXPECT_EQ(lit(0, 414), 0);
      } else if (s.peak < 1000) {
        EXPECT_GT(tone.Value, 4 * away.Value);
        EXPECT_GT(lit(tone.Left, tone.Right), 0);
        EXPECT_EQ(lit(150, 170), 0);
      } else {
        EXPECT_GE(tone.Value, 116);
        EXPECT_GE(away.Value, 116);
      }
      // Bars are green at the bottom; a full column is red at its top.
      if (s.peak != 0 && (kinds[k] == skBars || kinds[k] == skVLines)) {
        const int x = (tone.Left + tone.Right) / 2;
        EXPECT_TRUE(Near(At(image, x, kinds[k] == skBars ? m.SpotRect(1).y : 115), Qt::green, 60));
        if (s.peak > 1000) {
          const int y = kinds[k] == skBars ? m.SpotRect(m.SpotCount()).y : 0;
          EXPECT_TRUE(Near(At(image, x, y), Qt::red, 60));
        }
      }
    }
  }
}

TEST(DisplayPaints, AtMostDisplayRate) {
  TMMLevelWidget w;
  w.resize(254, 24);
  SetUpBar(w.Level());
  w.show();
  QCoreApplication::processEvents();
  const uint64_t before = w.PaintCount();
  QElapsedTimer clock;
  clock.start();
  int n = 0;
  // A block every half millisecond for 400 ms, each one changing the bar.
  while (clock.elapsed() < 400) {
    const auto block = Sine(99, static_cast<int16_t>(1000 + (n++ % 2) * 20000));
    w.Level().ProcessPCMBlock(block.data());
    QCoreApplication::processEvents();
    QTest::qWait(0);
  }
  QTest::qWait(40);
  const uint64_t paints = w.PaintCount() - before;
  EXPECT_GT(n, 300);
  EXPECT_GE(paints, 5u);
  EXPECT_LE(paints, static_cast<uint64_t>(clock.elapsed() / TDisplayWidget::kFrameMs + 2));
}

TEST(DisplayPaints, HiddenWidgetTakesItsDisplayOffScreen) {
  QWidget parent;
  auto* w = new TMMMeterWidget(&parent);
  EXPECT_FALSE(w->Display()->Visible());  // not shown yet
  parent.show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(w->Display()->Visible());
  parent.hide();
  EXPECT_FALSE(w->Display()->Visible());
  parent.show();
  w->hide();
  EXPECT_FALSE(w->Display()->Visible());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
