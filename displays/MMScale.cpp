#include "displays/MMScale.h"

#include <cmath>
#include <cstdlib>

std::string TMMLevelScale::LabelText(int32_t k) const {
  const int32_t n = scaleTicks_ - 1;
  if (LogAmp) return std::to_string(sensitivy_ * (n - k) / n);
  const double f = static_cast<double>(k) / n;
  const double x0 = kFullScale / std::pow(10.0, -sensitivy_ / 20.0);
  return std::to_string(RoundEven(20 * std::log10((x0 + (kFullScale - x0) * f) / kFullScale)));
}

TColor TMMLevelScale::ZoneColor(double fraction) const {
  if (fraction * 100 <= point1_) return Scale1Color;
  if (fraction * 100 <= point2_) return Scale2Color;
  return Scale3Color;
}

int32_t TMMLevelScale::LabelStep(int32_t size) const {
  const int32_t n = scaleTicks_ - 1;
  if (size <= 0) return 1;
  for (int32_t e = 1; e < n; ++e)
    if (Length() / ((n / e) * size) > 0) return e;
  return n;
}

std::vector<TScaleLabel> TMMLevelScale::Labels(const Measure& measure) const {
  std::vector<TScaleLabel> labels;
  const bool horizontal = Kind == lkHorizontal;
  const int32_t n = scaleTicks_ - 1;
  const int32_t length = Length(), across = Across();
  int32_t w = 0, h = 0;
  if (horizontal)
    measure(std::to_string(sensitivy_), w, h);
  else
    measure("W", w, h);
  const int32_t step = LabelStep(horizontal ? w : h);
  // Across the strip the labels take what the ticks leave.
  int32_t lo = 0, hi = across;
  if (Scale.Visible) {
    if (ScalePos != spBelowOrRight) lo += TickBand();
    if (ScalePos != spAboveOrLeft) hi -= TickBand();
  }
  // Places a label whose box runs along the strip from `from` over `size`; false when it
  // would stick out.
  auto place = [&](int32_t from, const std::string& text, double f) {
    int32_t tw = 0, th = 0;
    measure(text, tw, th);
    const int32_t size = horizontal ? tw : th;
    if (from < 0 || from + size > length) return;
    TScaleLabel l{0, 0, tw, th, text, ZoneColor(f)};
    if (horizontal) {
      l.x = from;
      l.y = lo + (hi - lo - th) / 2;
    } else {
      l.y = from;
      l.x = lo + (hi - lo - tw) / 2;
    }
    labels.push_back(std::move(l));
  };
  auto sizeOf = [&](const std::string& text) {
    int32_t tw = 0, th = 0;
    measure(text, tw, th);
    return horizontal ? tw : th;
  };
  for (int32_t k = 0; k <= n; ++k) {
    if ((n - k) % step != 0) continue;
    const double f = static_cast<double>(k) / n;
    const std::string text = LabelText(k);
    const int32_t size = sizeOf(text);
    if (Direction == dirSymetric) {
      // Both ends are low ends and the centre is the high end.
      const int32_t half = length / 2;
      const auto p = static_cast<int32_t>(RoundEven(f * half));
      // Left half (lower half when vertical), measured from the start of the strip.
      const int32_t near = horizontal ? p : length - p;
      place(near - size / 2, text, f);
      if (k < n) {
        const std::string mirrored = "+" + std::to_string(std::abs(std::stoi(text)));
        const int32_t msize = sizeOf(mirrored);
        place(length - near - msize / 2, mirrored, f);
      }
      continue;
    }
    const auto p = static_cast<int32_t>(RoundEven(f * length));
    const bool reversed = Direction == dirReversed;
    int32_t from;
    if (horizontal)
      from = reversed ? length - p : p - size;  // beside its position, on the low-end side
    else
      from = reversed ? p - size : length - p;
    place(from, text, f);
  }
  return labels;
}

std::vector<TScaleLine> TMMLevelScale::Ticks() const {
  std::vector<TScaleLine> lines;
  if (!Scale.Visible) return lines;
  const bool horizontal = Kind == lkHorizontal;
  const int32_t length = Length(), across = Across();
  const int32_t count = std::max(2, Scale.TickCount);
  const int32_t every = std::max(1, Scale.EnlargeEvery);
  const int32_t longTick = std::max(1, Scale.Size);
  const int32_t shortTick = std::max(1, longTick / 2);
  const bool reversed = Direction == dirReversed;
  for (int side = 0; side < 2; ++side) {
    if (side == 0 && ScalePos == spBelowOrRight) continue;
    if (side == 1 && ScalePos == spAboveOrLeft) continue;
    // Across the strip: the edge a tick hangs from and the direction it grows in.
    const int32_t edge = side == 0 ? 0 : across - 1;
    const int32_t inward = side == 0 ? 1 : -1;
    auto line = [&](int32_t a1, int32_t c1, int32_t a2, int32_t c2, TColor color) {
      if (horizontal)
        lines.push_back({a1, c1, a2, c2, color});
      else
        lines.push_back({c1, a1, c2, a2, color});
    };
    int32_t firstAt = 0, lastAt = 0;
    for (int32_t i = 0; i < count; ++i) {
      const double f = static_cast<double>(i) / (count - 1);
      int32_t at = static_cast<int32_t>(RoundEven(f * (length - 1)));
      if (horizontal == reversed) at = length - 1 - at;  // the low end is right or bottom
      const bool isLong = i % every == 0 || i == count - 1;
      const int32_t len = isLong ? longTick : shortTick;
      // Inner ticks share the edge next to the labels' band; outer ones the strip's edge.
      const int32_t from = Scale.Origin == soOuter ? edge : edge + inward * (longTick - 1);
      const int32_t to =
          Scale.Origin == soOuter ? edge + inward * (len - 1) : from - inward * (len - 1);
      line(at, from, at, to, ZoneColor(f));
      if (i == 0) firstAt = at;
      lastAt = at;
    }
    if (Scale.Connect) {
      const int32_t c = Scale.Origin == soOuter ? edge : edge + inward * (longTick - 1);
      line(firstAt, c, lastAt, c, Scale1Color);
    }
  }
  return lines;
}
