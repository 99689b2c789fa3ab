#pragma once
// The spectrum analyser: each block of PCM goes through one FFT and is shown as bars of
// spots, vertical lines, dots, a line graph or a scrolling landscape, on a linear or dB
// amplitude scale and a linear or logarithmic frequency axis; with a window function, an
// emphasis of 3 to 12 dB per octave, smoothing over time, held peaks that fall on the shared
// timer, scales, a grid, a read-out under the mouse and a label on the loudest column. This
// is the model: it does all the arithmetic and keeps plain state; a widget paints it.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/SharedTimer.h"
#include "displays/MMAmplitude.h"
#include "displays/MMColor.h"
#include "displays/MMConect.h"
#include "displays/MMFFT.h"

class EMMSpectrumError : public EMMError {
 public:
  using EMMError::EMMError;
};

enum TMMSpectrumKind { skDots, skLines, skVLines, skBars, skPeaks, skScroll };
// Emphasis per octave: the difference order is Gain div 2, the 3 dB tilt Gain mod 2.
enum TMMSpectrumGain { sgNone, sg3db, sg6db, sg9db, sg12db };

// A rectangle: left, top, width, height.
struct TSpectrumRect {
  int32_t x, y, w, h;
};

// One drawn span of plot columns Left..Right − 1 as the last frame left it. Value is the
// height in pixels (may exceed the plot); Spots the lit spots of skBars and skPeaks (pixels
// while OnDrawBar is assigned); Peak the held peak, in spots for skBars and skPeaks and in
// pixels for skLines.
struct TSpectrumSpan {
  int32_t Left, Right, Value, Spots, Peak;
};

// A scale label: the plot row (amplitude) or column (frequency) it belongs to, and its text.
struct TSpectrumLabel {
  int32_t at;
  std::string text;
};

class TMMSpectrum : public TMMDisplay {
 public:
  static constexpr int32_t kMaxFFTLength = 4096;
  static constexpr int32_t kMaxBins = kMaxFFTLength / 2;
  static constexpr int32_t kRingFrames = 32;
  // Pixels of the amplitude strips (each side) and of the frequency strip.
  static constexpr int32_t kAmpStrip = 32;
  static constexpr int32_t kFreqStrip = 40;

  explicit TMMSpectrum(TComponent* owner = nullptr);
  ~TMMSpectrum() override;

  // The connector's side.
  void SetPCMFormat(const WAVEFORMATEX* format) override;
  int32_t BlockBytes() const override { return blockBytes_; }
  void ProcessPCMBlock(const void* data) override;
  void ResetDisplay() override;

  // The peak tick (25 ms, on the shared timer's thread).
  void PeakTick();
  SharedTimerClient* TimerClient() const { return timer_; }

  // Published properties; setters apply the range rules.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMSpectrumKind Kind() const { return kind_; }
  void SetKind(TMMSpectrumKind value);
  int32_t FFTLength() const { return fftLength_; }
  void SetFFTLength(int32_t value);
  TMMFFTWindow Window() const { return window_; }
  void SetWindow(TMMFFTWindow value);
  int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(int32_t value);
  TMMBits BitLength() const { return bits_; }
  void SetBitLength(TMMBits value);
  TMMMode Mode() const { return mode_; }
  void SetMode(TMMMode value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value) { channel_ = value; }
  bool LogAmp() const { return logAmp_; }
  void SetLogAmp(bool value);
  bool LogFreq() const { return logFreq_; }
  void SetLogFreq(bool value);
  TMMSpectrumGain Gain() const { return gain_; }
  void SetGain(TMMSpectrumGain value);
  int32_t RefFreq() const { return refFreq_; }
  void SetRefFreq(int32_t value);
  int32_t VerticalScale() const { return verticalScale_; }
  void SetVerticalScale(int32_t value);
  int32_t FrequencyScale() const { return frequencyScale_; }
  void SetFrequencyScale(int32_t value);
  TMMDecayMode DecayMode() const { return decayMode_; }
  void SetDecayMode(TMMDecayMode value);
  int32_t Decay() const { return decay_; }
  void SetDecay(int32_t value);
  int32_t NumPeaks() const { return numPeaks_.load(std::memory_order_relaxed); }
  void SetNumPeaks(int32_t value);
  int32_t PeakDelay() const { return peakDelay_; }
  void SetPeakDelay(int32_t value);
  int32_t PeakSpeed() const { return peakSpeed_.load(std::memory_order_relaxed); }
  void SetPeakSpeed(int32_t value);
  bool DisplayPeak() const { return displayPeak_; }
  void SetDisplayPeak(bool value);
  bool ShowInfo() const { return showInfo_; }
  void SetShowInfo(bool value) { showInfo_ = value; }
  bool DrawFreqScale() const { return drawFreqScale_; }
  void SetDrawFreqScale(bool value);
  bool DrawAmpScale() const { return drawAmpScale_; }
  void SetDrawAmpScale(bool value);
  bool DrawGrid() const { return drawGrid_; }
  void SetDrawGrid(bool value);
  int32_t Space() const { return space_; }
  void SetSpace(int32_t value);
  int32_t SpotSpace() const { return spotSpace_; }
  void SetSpotSpace(int32_t value);
  int32_t SpotHeight() const { return spotHeight_; }
  void SetSpotHeight(int32_t value);
  int32_t Point1() const { return point1_; }
  void SetPoint1(int32_t value);
  int32_t Point2() const { return point2_; }
  void SetPoint2(int32_t value);
  TColor Bar1Color() const { return barColor_[0]; }
  TColor Bar2Color() const { return barColor_[1]; }
  TColor Bar3Color() const { return barColor_[2]; }
  void SetBarColors(TColor zone1, TColor zone2, TColor zone3);
  TColor Inactive1Color() const { return inactiveColor_[0]; }
  TColor Inactive2Color() const { return inactiveColor_[1]; }
  TColor Inactive3Color() const { return inactiveColor_[2]; }
  void SetInactiveColors(TColor zone1, TColor zone2, TColor zone3);
  bool DrawInactive() const { return drawInactive_; }
  void SetDrawInactive(bool value);
  bool InactiveDoted() const { return inactiveDoted_; }
  void SetInactiveDoted(bool value);
  bool ActiveDoted() const { return activeDoted_; }
  void SetActiveDoted(bool value);
  TColor ScaleTextColor() const { return scaleTextColor_; }
  void SetScaleTextColor(TColor value);
  TColor ScaleLineColor() const { return scaleLineColor_; }
  void SetScaleLineColor(TColor value);
  TColor GridColor() const { return gridColor_; }
  void SetGridColor(TColor value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  void SetSize(int32_t width, int32_t height);

  // Fills the first and last bin of every plot column (PlotWidth entries each) in place of
  // the built-in axis, from the next rebuild of the axis on; values are kept within the bins.
  std::function<void(TComponent* sender, int32_t* pX1, int32_t* pX2)> OnGetXScale;
  // Called on every reset of an enabled analyser.
  TNotifyEvent OnNeedData;
  // The widget's replacements for drawing a span of skBars and skPeaks and for clearing the
  // picture; `canvas` is whatever the widget paints with. While OnDrawBar is assigned, bar
  // heights and peaks count pixels instead of spots.
  std::function<void(TComponent* sender, void* canvas, const TSpectrumRect& rect, int32_t nSpots,
                     int32_t peak)>
      OnDrawBar;
  std::function<void(TComponent* sender, void* canvas, const TSpectrumRect& rect)>
      OnClearBackground;
  // Fired per span whose height reaches the plot's, and per input value at full scale.
  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;

  // Geometry, in the client area.
  int32_t PlotLeft() const { return drawAmpScale_ ? kAmpStrip : 0; }
  int32_t PlotTop() const { return 0; }
  int32_t PlotWidth() const { return plotWidth_; }
  int32_t PlotHeight() const { return plotHeight_; }
  TSpectrumRect PlotRect() const { return {PlotLeft(), PlotTop(), plotWidth_, plotHeight_}; }

  // The spans of the last frame, from the left.
  int32_t SpanCount() const { return spanCount_.load(std::memory_order_relaxed); }
  TSpectrumSpan Span(int32_t index) const;
  int32_t MaxValue() const { return maxValue_; }
  int32_t MaxBin() const { return maxBin_; }
  int32_t MaxColumn() const { return maxColumn_; }
  // Frames analysed since creation.
  uint64_t FrameCount() const { return frames_; }

  // Spots and colour zones. Zone limits count spots (skBars, skPeaks), pixels from the
  // bottom (skLines, skVLines, a third of the plot for skScroll) or rows from the top
  // (skDots).
  int32_t SpotCount() const { return spotCount_; }
  int32_t FirstSpotOffset() const { return firstOffset_; }
  int32_t ZoneLimit1() const { return zoneLimit_[0]; }
  int32_t ZoneLimit2() const { return zoneLimit_[1]; }
  // Lit spots for a height of v pixels.
  int32_t SpotsFor(int32_t v) const;
  // The zone (1..3) of spot j for skBars and skPeaks, of a height in pixels for skLines,
  // skVLines and skDots, and of a rise above the zero level for skScroll.
  int32_t ZoneOf(int32_t heightOrSpot) const;
  // Lit and unlit colour of a zone; a disabled analyser draws in Inactive1Color.
  TColor LitColor(int32_t zone) const { return enabled_ ? barColor_[zone - 1] : inactiveColor_[0]; }
  TColor UnlitColor(int32_t zone) const { return inactiveColor_[zone - 1]; }
  // Spot j (1 = lowest) across the plot's full width, in plot coordinates.
  TSpectrumRect SpotRect(int32_t spot) const;
  // The columns a bar of span `index` covers: the span less Space, half on each side.
  TSpectrumRect BarRect(int32_t index) const;
  // The plot row of a height in pixels (clamped into the plot).
  int32_t RowOf(int32_t height) const;
  // Row of the zero level of skScroll, and how far above it a height rises.
  int32_t ScrollBase() const { return plotHeight_ / 3; }
  int32_t ScrollRise(int32_t height) const;
  // Calls f(spot, colour) for every lit spot of span `index` (skBars, skPeaks), the peak
  // marker included.
  template <class F>
  void ForEachLitSpot(int32_t index, F&& f) const;
  // The unlit image changes only when this number does.
  uint32_t BackgroundVersion() const { return backgroundVersion_; }

  // skScroll: how far each span rose above the zero level in the latest frames, newest first
  // (age 0), each frame drawn 2 rows below the one after it; SpanCount() values per frame.
  int32_t ScrollDepth() const { return scrollDepth_; }
  int32_t ScrollFrames() const { return scrollFrames_; }
  const int32_t* ScrollRises(int32_t age) const;

  // Scales and grid.
  int32_t AmpDivisions() const;
  int32_t FreqDivisions() const;
  // Labels of the amplitude strips, `at` rows from the top of the plot; the right strip
  // writes the dB values two wide.
  std::vector<TSpectrumLabel> AmpLabels(bool rightStrip = false) const;
  // Labels of the frequency strip, `at` plot columns from the left (text turned 90°).
  std::vector<TSpectrumLabel> FreqLabels() const;
  std::vector<int32_t> GridRows() const;
  std::vector<int32_t> GridColumns() const;
  // Units in the lower corners of the amplitude strips and at the right of the frequency
  // strip, shown when both scales are.
  bool UnitsShown() const { return drawAmpScale_ && drawFreqScale_; }
  std::string AmpUnitText() const { return logAmp_ ? "db" : "V"; }
  std::string FreqUnitText() const { return "Hz"; }
  // The frequency label over the loudest column; empty when none is shown.
  std::string PeakLabelText() const;
  double PeakLabelFrequency() const;

  // The read-out while the left button is held. While InfoMode is set no block is analysed
  // and no peak falls. BeginInfo is refused (false) unless ShowInfo and Enabled.
  bool InfoMode() const { return infoMode_.load(std::memory_order_relaxed); }
  bool BeginInfo();
  void EndInfo();
  double InfoFrequency(int32_t plotX) const;
  std::string InfoText(int32_t plotX, int32_t plotY) const;

  // The analysis as it stands, for tests and figures.
  float StartFrequency() const { return startFrequency_; }
  float DecayFactor() const { return decayFactor_; }
  int32_t AverageLength() const { return averageLength_; }
  int32_t StartBin(int32_t column) const { return startBin_[static_cast<size_t>(column)]; }
  int32_t EndBin(int32_t column) const { return endBin_[static_cast<size_t>(column)]; }
  int32_t ColumnScale(int32_t column) const { return columnScale_[static_cast<size_t>(column)]; }
  int32_t ScaleShift() const { return scaleShift_; }
  float PixelsPerLogUnit() const { return pixelsPerLogUnit_; }
  int32_t LogOffset(int32_t bin) const { return logOffset_[static_cast<size_t>(bin)]; }
  int32_t BinValue(int32_t bin) const { return binValue_[static_cast<size_t>(bin)]; }
  // Element j of the last spectrum: real and imaginary parts of bin j / 2.
  int16_t SpectrumValue(int32_t j) const { return spectrum_[static_cast<size_t>(j)]; }
  const int32_t* WindowTable() const { return windowTable_.data(); }

 protected:
  void Loaded() override;

 private:
  struct ColumnRecord {
    int32_t Left = -1, Right = 0;
    int32_t Value = 0, Spots = 0;
    // Shared with the timer's thread.
    std::atomic<int32_t> Peak{0};
    std::atomic<int32_t> PeakCountdown{0};
  };

  int32_t D() const { return static_cast<int32_t>(gain_) / 2; }
  bool T() const { return static_cast<int32_t>(gain_) % 2 != 0; }
  bool BarKind() const { return kind_ == skBars || kind_ == skPeaks; }
  bool PeakKind() const { return BarKind() || kind_ == skLines; }

  void Layout();
  void BuildSpots();
  void BuildPlan();
  void BuildAxis();
  void BuildAmplitude();
  void ComputeBlockBytes();
  void Reset();
  void ClearSmoothing();
  void ClearRecords();
  void ChangeLook();
  void UpdateTimer();

  template <int32_t Divisor, class Read>
  void FillFrame(Read read, int32_t threshold, int32_t bias);
  void ReadFrame(const void* data);
  void BinStage();
  // Returns whether the frame shows anything (a height or a peak).
  bool ColumnStage();

  bool enabled_ = true;
  TMMSpectrumKind kind_ = skBars;
  int32_t fftLength_ = 128;
  TMMFFTWindow window_ = fwHamming;
  int32_t sampleRate_ = 11025;
  TMMBits bits_ = b8Bit;
  TMMMode mode_ = mMono;
  TMMChannel channel_ = chBoth;
  bool logAmp_ = false;
  bool logFreq_ = false;
  TMMSpectrumGain gain_ = sgNone;
  int32_t refFreq_ = 1000;
  int32_t verticalScale_ = 100;
  int32_t frequencyScale_ = 1;
  TMMDecayMode decayMode_ = dmNone;
  int32_t decay_ = 1;
  std::atomic<int32_t> numPeaks_{1};
  int32_t peakDelay_ = 20;
  std::atomic<int32_t> peakSpeed_{0};
  bool displayPeak_ = false;
  bool showInfo_ = true;
  bool drawFreqScale_ = false, drawAmpScale_ = false, drawGrid_ = false;
  int32_t space_ = 1;
  int32_t spotSpace_ = 1;
  int32_t spotHeight_ = 1;
  int32_t point1_ = 50, point2_ = 85;
  TColor barColor_[3] = {clAqua, clAqua, clRed};
  TColor inactiveColor_[3] = {clTeal, clTeal, clMaroon};
  bool drawInactive_ = true;
  bool inactiveDoted_ = false, activeDoted_ = false;
  TColor scaleTextColor_ = clBlack, scaleLineColor_ = clBlack, gridColor_ = clGray;
  TColor color_ = clBlack;
  int32_t width_ = 194, height_ = 89;

  // Geometry.
  int32_t plotWidth_ = 4, plotHeight_ = 4;
  int32_t blockBytes_ = 128;

  // Analysis buffers, sized once for the largest transform.
  FFTPlan* plan_ = nullptr;
  std::vector<int32_t> windowTable_;
  std::vector<float> frame_;
  std::vector<int16_t> spectrum_;
  std::vector<int32_t> binValue_;
  std::vector<int32_t> logOffset_;
  std::vector<float> level_;
  std::vector<int32_t> sum_;
  std::vector<int32_t> ring_;    // kRingFrames frames of kMaxBins values
  float decayFactor_ = 0.0001f;  // until Decay is set to another value
  int32_t averageLength_ = 1;
  int32_t ringPosition_ = 0;
  int32_t ringFilled_ = 0;

  // Frequency axis and amplitude tables, per plot column.
  // The start asked for; each axis clamps a copy of it into startFrequency_.
  float requestedStart_ = 1.0f;
  float startFrequency_ = 1.0f;
  std::vector<int32_t> startBin_, endBin_, columnScale_;
  int32_t scaleShift_ = 0;
  float pixelsPerLogUnit_ = 0;

  // Spots and zones.
  int32_t spotCount_ = 1;
  int32_t firstOffset_ = 0;
  int32_t zoneLimit_[2] = {0, 0};

  // The spans: room for PlotWidth records and the terminator.
  std::unique_ptr<ColumnRecord[]> records_;
  std::atomic<int32_t> spanCount_{0};
  int32_t maxValue_ = 0, maxBin_ = 0, maxColumn_ = 0;
  uint64_t frames_ = 0;
  // Frames in a row that showed nothing; a blank frame over a blank picture is not painted.
  int32_t blankFrames_ = 0;

  // skScroll history: scrollDepth_ frames of PlotWidth heights.
  std::vector<int32_t> scroll_;
  int32_t scrollDepth_ = 1;
  int32_t scrollFrames_ = 0;
  int32_t scrollHead_ = 0;

  std::atomic<bool> infoMode_{false};
  uint32_t backgroundVersion_ = 0;
  SharedTimerClient* timer_ = nullptr;
  bool timerSuspended_ = false;
};

template <class F>
void TMMSpectrum::ForEachLitSpot(int32_t index, F&& f) const {
  const TSpectrumSpan s = Span(index);
  const int32_t lit = std::min(s.Spots, spotCount_);
  const int32_t from = kind_ == skPeaks ? std::max(1, lit) : 1;
  for (int32_t j = from; j <= lit; ++j) f(j, LitColor(ZoneOf(j)));
  const int32_t peaks = NumPeaks();
  if (peaks > 0 && s.Peak > lit)
    for (int32_t j = std::min(s.Peak, spotCount_); j > s.Peak - peaks && j > lit; --j)
      f(j, LitColor(ZoneOf(j)));
}
