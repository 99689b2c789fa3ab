#pragma once
// The oscilloscope: the waveform of each block, one value per plot column, as dots, a
// connected line, lines from the centre, lines mirrored about it or spikes from the bottom;
// with gain, zoom, colour bands, a simple low-pass, scales, a grid, a read-out under the
// mouse and a scrolling strip-chart mode. This is the model: it computes the column values
// and lays out every line and dot; a widget paints them.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "displays/MMColor.h"
#include "displays/MMConect.h"

class EMMOscopeError : public EMMError {
 public:
  using EMMError::EMMError;
};

enum TMMOscopeKind { okDots, okConLines, okVertLines, okMirLines, okSpikes };
enum TMMOscopeEffect { efNone, efPeak, efSplit };

// A dot (x1 = x2, y1 = y2) or a line in plot coordinates, both ends included.
struct TOscopeMark {
  int32_t x1, y1, x2, y2;
  TColor color;
};

// A scale label: the pixel it belongs to and its text.
struct TOscopeLabel {
  int32_t at;
  std::string text;
};

class TMMOscope : public TMMOscopeDisplay {
 public:
  explicit TMMOscope(TComponent* owner = nullptr);
  ~TMMOscope() override;

  void SetPCMFormat(const WAVEFORMATEX* format) override;
  int32_t BlockBytes() const override { return blockBytes_; }
  void ProcessPCMBlock(const void* data) override;
  void ResetDisplay() override;
  bool Scroll() const override { return scroll_; }
  bool Accelerate() const override { return accelerate_; }
  int32_t FFTLength() const override { return fftLength_; }
  TMMBits BitLength() const override { return bits_; }
  TMMMode Mode() const override { return mode_; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMOscopeKind Kind() const { return kind_; }
  void SetKind(TMMOscopeKind value);
  TMMOscopeEffect Effect() const { return effect_; }
  void SetEffect(TMMOscopeEffect value);
  void SetBitLength(TMMBits value);
  void SetMode(TMMMode value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(int32_t value);
  int32_t Gain() const { return gain_; }
  void SetGain(int32_t value);
  int32_t Zoom() const { return zoom_; }
  void SetZoom(int32_t value);
  int32_t Steps() const { return steps_; }
  void SetSteps(int32_t value);
  void SetFFTLength(int32_t value);
  void SetScroll(bool value);
  void SetAccelerate(bool value) { accelerate_ = value; }
  bool LowPass() const { return lowPass_; }
  void SetLowPass(bool value) { lowPass_ = value; }
  bool DrawMidLine() const { return drawMidLine_; }
  void SetDrawMidLine(bool value);
  bool DrawAmpScale() const { return drawAmpScale_; }
  void SetDrawAmpScale(bool value);
  bool DrawTimeScale() const { return drawTimeScale_; }
  void SetDrawTimeScale(bool value);
  bool DrawGrid() const { return drawGrid_; }
  void SetDrawGrid(bool value);
  bool ShowInfo() const { return showInfo_; }
  void SetShowInfo(bool value) { showInfo_ = value; }
  int32_t BarWidth() const { return barWidth_; }
  void SetBarWidth(int32_t value);
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  void SetSize(int32_t width, int32_t height);

  // Colours; a change repaints.
  struct Colors {
    TColor Foreground = clAqua, Inactive = clTeal, Effect = clRed, Disabled = clGray;
    TColor ScaleText = clBlack, ScaleLine = clBlack, Grid = clGray;
    TColor Bar = clGray, BarTick = clWhite, Background = clBlack;
  };
  const Colors& Colours() const { return colors_; }
  void SetColours(const Colors& value);

  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;

  // Plot geometry within the client area.
  int32_t PlotLeft() const { return drawAmpScale_ ? 32 : 0; }
  int32_t PlotWidth() const { return plotWidth_; }
  int32_t PlotHeight() const { return plotHeight_; }
  int32_t Mid() const { return plotHeight_ / 2; }
  const std::vector<int16_t>& ColumnSamples() const { return columns_; }
  // The height and plot row of a value (rows from the top; may lie outside the plot).
  int32_t HeightOf(int32_t v) const;
  int32_t RowOf(int32_t v) const { return plotHeight_ - HeightOf(v) - 1; }
  int32_t EffectLow() const { return effectLow_; }
  int32_t EffectHigh() const { return effectHigh_; }

  // The picture of the latest block, mark by mark, in plot coordinates and clipped to the
  // plot. Not in Scroll mode.
  template <class F>
  void ForEachMark(F&& f) const;

  // Scroll mode: the columns written so far (oldest first, at most the plot's width), each a
  // pair of values in time order; the write position and whether the chart is full.
  struct ScrollColumn {
    int16_t first, second;
  };
  int32_t WritePosition() const { return writePosition_; }
  bool ScrollFull() const { return writePosition_ >= plotWidth_ - 1; }
  uint64_t ColumnsWritten() const { return columnsWritten_; }
  ScrollColumn ColumnAt(uint64_t index) const { return ring_[index % ring_.size()]; }
  // Marks of one scroll column at plot column x, continuing from `previous` for lines.
  template <class F>
  void ForEachScrollMark(int32_t x, const ScrollColumn& c, const ScrollColumn* previous,
                         F&& f) const;
  // The whole chart must be drawn anew (a full repaint of any scrolling oscilloscope).
  bool FullRepaintPending() const { return fullRepaint_; }
  void FullRepaintDone();

  // Scales and grid.
  int32_t AmpDivisions() const { return ampDivisions_; }
  int32_t TimeDivisions() const;
  // Labels of the amplitude strips, `at` rows from the top of the plot.
  std::vector<TOscopeLabel> AmpLabels() const;
  // Labels of the time strip, `at` plot columns from the left.
  std::vector<TOscopeLabel> TimeLabels() const;
  // Grid lines: rows from the top, columns from the left.
  std::vector<int32_t> GridRows() const;
  std::vector<int32_t> GridColumns() const;
  // Milliseconds one block shows.
  int32_t BlockMs() const;

  // The read-out while the left button is held.
  bool InfoMode() const { return infoMode_; }
  void SetInfoMode(bool value) { infoMode_ = value; }
  std::string InfoText(int32_t plotX, int32_t plotY) const;

 private:
  void Resize();
  void ComputeBlockBytes();
  void ComputeEffectBand();
  void ChangeLook() { Repaint(); }
  int32_t FrameValue(const uint8_t* frame) const;
  int32_t FrameBytes() const {
    return (static_cast<int32_t>(bits_) + 1) * (static_cast<int32_t>(mode_) + 1);
  }
  TColor MarkColor(int32_t h) const {
    return h < effectLow_ || h > effectHigh_ ? colors_.Effect : colors_.Foreground;
  }
  int32_t Clip(int32_t row) const { return std::clamp(row, 0, plotHeight_ - 1); }
  void ScrollBlock(const uint8_t* data);
  static std::vector<TMMOscope*>& All();

  bool enabled_ = true;
  TMMOscopeKind kind_ = okDots;
  TMMOscopeEffect effect_ = efNone;
  TMMBits bits_ = b8Bit;
  TMMMode mode_ = mMono;
  TMMChannel channel_ = chBoth;
  int32_t sampleRate_ = 11025;
  int32_t gain_ = 0;
  int32_t zoom_ = 1;
  int32_t steps_ = 1;
  int32_t fftLength_ = 128;
  bool scroll_ = false;
  bool accelerate_ = true;
  bool lowPass_ = false;
  bool drawMidLine_ = false, drawAmpScale_ = false, drawTimeScale_ = false, drawGrid_ = false;
  bool showInfo_ = true;
  int32_t barWidth_ = 5;
  int32_t width_ = 194, height_ = 90;
  Colors colors_;

  int32_t plotWidth_ = 4, plotHeight_ = 4;
  std::vector<int16_t> columns_;
  int32_t blockBytes_ = 0;
  int32_t ampRange_ = 65535, ampOffset_ = 32767;
  int32_t effectLow_ = INT32_MIN, effectHigh_ = INT32_MAX;
  int32_t ampDivisions_ = 10;
  bool infoMode_ = false;

  int32_t writePosition_ = -5;
  uint64_t columnsWritten_ = 0;
  std::vector<ScrollColumn> ring_;
  bool fullRepaint_ = false;
};

template <class F>
void TMMOscope::ForEachMark(F&& f) const {
  const int32_t w = plotWidth_, mid = Mid();
  if (!enabled_) {
    f(TOscopeMark{5, mid, w - 5, mid, colors_.Disabled});
    return;
  }
  if (drawMidLine_) f(TOscopeMark{0, mid, w - 1, mid, colors_.Disabled});
  if (drawGrid_) {
    for (int32_t r : GridRows()) f(TOscopeMark{0, r, w - 1, r, colors_.Grid});
    for (int32_t c : GridColumns()) f(TOscopeMark{c, 0, c, plotHeight_ - 1, colors_.Grid});
  }
  const int32_t bottom = plotHeight_ - 1;
  int32_t px = 0, py = 0;
  bool havePrevious = false;
  auto column = [&](int32_t i) {
    const int32_t v = columns_[static_cast<size_t>(i)];
    const int32_t h = HeightOf(kind_ == okSpikes ? std::abs(v) : v);
    const int32_t row = Clip(plotHeight_ - h - 1);
    const TColor c = MarkColor(h);
    switch (kind_) {
      case okDots:
        f(TOscopeMark{i, row, i, row, c});
        break;
      case okConLines:
        if (havePrevious) f(TOscopeMark{px, py, i, row, c});
        px = i;
        py = row;
        havePrevious = true;
        break;
      case okVertLines:
      case okMirLines: {
        const int32_t d = row - mid;
        const int32_t top = kind_ == okMirLines ? Clip(mid - std::abs(d)) : std::min(row, mid);
        const int32_t low = kind_ == okMirLines ? Clip(mid + std::abs(d)) : std::max(row, mid);
        if (effect_ == efPeak && c == colors_.Effect) {
          // The line in the waveform's colour, its tip (or tips) in the effect colour.
          f(TOscopeMark{i, top, i, low, colors_.Foreground});
          if (kind_ == okMirLines || row <= mid)
            f(TOscopeMark{i, top, i, std::min(low, top + 4), c});
          if (kind_ == okMirLines || row > mid)
            f(TOscopeMark{i, std::max(top, low - 4), i, low, c});
        } else {
          f(TOscopeMark{i, top, i, low, c});
        }
        break;
      }
      case okSpikes:
        f(TOscopeMark{i, row, i, bottom, c});
        break;
    }
  };
  int32_t last = -1;
  for (int32_t i = 0; i < w; i += steps_) {
    column(i);
    last = i;
  }
  // The connected line runs on to the last column.
  if (kind_ == okConLines && last != w - 1 && w > 0) column(w - 1);
}

template <class F>
void TMMOscope::ForEachScrollMark(int32_t x, const ScrollColumn& c, const ScrollColumn* previous,
                                  F&& f) const {
  const int32_t h1 = HeightOf(kind_ == okSpikes ? std::abs(c.first) : c.first);
  const int32_t h2 = HeightOf(kind_ == okSpikes ? std::abs(c.second) : c.second);
  const int32_t r1 = Clip(plotHeight_ - h1 - 1), r2 = Clip(plotHeight_ - h2 - 1);
  switch (kind_) {
    case okDots:
      f(TOscopeMark{x, r1, x, r1, MarkColor(h1)});
      f(TOscopeMark{x, r2, x, r2, MarkColor(h2)});
      break;
    case okConLines: {
      const int32_t pr = previous ? Clip(plotHeight_ - HeightOf(previous->second) - 1) : r1;
      f(TOscopeMark{x > 0 ? x - 1 : x, pr, x, r1, MarkColor(h1)});
      f(TOscopeMark{x, r1, x, r2, MarkColor(h2)});
      break;
    }
    default: {
      // The larger magnitude, drawn as this kind draws a column.
      const int32_t v = std::abs(c.first) >= std::abs(c.second) ? c.first : c.second;
      const int32_t h = HeightOf(kind_ == okSpikes ? std::abs(v) : v);
      const int32_t row = Clip(plotHeight_ - h - 1), mid = Mid();
      if (kind_ == okSpikes)
        f(TOscopeMark{x, row, x, plotHeight_ - 1, MarkColor(h)});
      else if (kind_ == okMirLines)
        f(TOscopeMark{x, Clip(mid - std::abs(row - mid)), x, Clip(mid + std::abs(row - mid)),
                      MarkColor(h)});
      else
        f(TOscopeMark{x, std::min(row, mid), x, std::max(row, mid), MarkColor(h)});
      break;
    }
  }
}
