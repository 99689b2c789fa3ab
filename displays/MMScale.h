#pragma once
// The label strip that goes beside a level bar: the dB values that line up with the bar's
// spots, in the bar's zone colours, and optional tick marks. It is passive: whoever places
// it beside a bar gives it the bar's Sensitivy, LogAmp, Point1 and Point2. This is the
// model; a widget paints what it lays out.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "displays/MMColor.h"
#include "displays/MMLevel.h"

enum TMMScaleOrigin { soInner, soOuter };
enum TMMScalePos { spAboveOrLeft, spBelowOrRight, spBoth };

// The tick marks of a strip.
struct TMMLevScale {
  bool Visible = false;
  int32_t TickCount = 11;    // at least 2
  int32_t EnlargeEvery = 5;  // at least 1
  int32_t Size = 7;          // length of a long tick, at least 1
  TMMScaleOrigin Origin = soInner;
  bool Connect = false;
};

// A label as laid out: its box in the strip, text and colour.
struct TScaleLabel {
  int32_t x, y, w, h;
  std::string text;
  TColor color;
};

// A tick mark or the line joining them: from (x1, y1) to (x2, y2).
struct TScaleLine {
  int32_t x1, y1, x2, y2;
  TColor color;
};

class TMMLevelScale {
 public:
  // Width and height of a text in the strip's font.
  using Measure = std::function<void(const std::string& text, int32_t& w, int32_t& h)>;

  int32_t ScaleTicks() const { return scaleTicks_; }
  void SetScaleTicks(int32_t value) { scaleTicks_ = std::max(2, value); }
  int32_t Point1() const { return point1_; }
  void SetPoint1(int32_t value) { point1_ = std::clamp(value, 1, 100); }
  int32_t Point2() const { return point2_; }
  void SetPoint2(int32_t value) { point2_ = std::clamp(value, 1, 100); }
  TColor Scale1Color = clWhite, Scale2Color = clWhite, Scale3Color = clRed;
  int32_t Sensitivy() const { return sensitivy_; }
  void SetSensitivy(int32_t value) { sensitivy_ = std::clamp(value, -90, -9); }
  bool LogAmp = true;
  TMMLevelKind Kind = lkHorizontal;
  TMMLevelDirection Direction = dirNormal;
  TMMScalePos ScalePos = spBoth;
  TColor Color = clBlack;
  TMMLevScale Scale;
  int32_t Width = 200, Height = 7;

  // The text of label position k (0 at the low end).
  std::string LabelText(int32_t k) const;
  TColor ZoneColor(double fraction) const;
  // Step between labelled positions for a label of `size` pixels along the strip.
  int32_t LabelStep(int32_t size) const;
  // The labels that fit in the strip, laid out with the font's measures.
  std::vector<TScaleLabel> Labels(const Measure& measure) const;
  std::vector<TScaleLine> Ticks() const;

 private:
  int32_t Length() const { return Kind == lkHorizontal ? Width : Height; }
  int32_t Across() const { return Kind == lkHorizontal ? Height : Width; }
  // Pixels across the strip that the ticks take on each side.
  int32_t TickBand() const { return Scale.Visible ? Scale.Size : 0; }

  int32_t scaleTicks_ = 8;
  int32_t point1_ = 50, point2_ = 85;
  int32_t sensitivy_ = -35;
};
