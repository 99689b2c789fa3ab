#include "displays/MMSpectrum.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

// Log units: 8192 per octave of power, so about 2721 per dB.
const float kLogScale = static_cast<float>(8192.0 / std::numbers::ln2);
const float kUnitsPerDB = static_cast<float>(std::numbers::ln10 * 819.2 / std::numbers::ln2);
// 10·log10 of the largest power a bin can carry: the top of the dB scale.
const float kFullScaleDB = static_cast<float>(20.0 * std::log10(32768.0));
constexpr float kDBRange = 60.0f;
constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
// Heights are scaled by a multiplier of at least this much and a shift.
constexpr float kScaleUnit = 4096.0f;
constexpr int32_t kMaxShift = 62;
// More blank frames in a row than any picture can show.
constexpr int32_t kBlankPicture = INT32_MAX / 2;

int32_t FloorToInt(float x) {
  return static_cast<int32_t>(std::floor(x));
}

int32_t PowerOfTwoAtMost(int32_t v) {
  int32_t p = 1;
  while (p * 2 <= v) p *= 2;
  return p;
}

int32_t Log2(int32_t v) {
  int32_t b = 0;
  while ((1 << b) < v) ++b;
  return b;
}

}  // namespace

TMMSpectrum::TMMSpectrum(TComponent* owner)
    : TMMDisplay(owner),
      windowTable_(kMaxFFTLength),
      frame_(kMaxFFTLength),
      spectrum_(kMaxFFTLength),
      binValue_(kMaxBins),
      logOffset_(kMaxBins),
      level_(kMaxBins),
      sum_(kMaxBins),
      ring_(static_cast<size_t>(kRingFrames) * kMaxBins) {
  BuildPlan();
  ComputeBlockBytes();
  timer_ = SharedTimer::Register(
      SharedTimer::kTickMs,
      [](SharedTimerClient*, void* self) { static_cast<TMMSpectrum*>(self)->PeakTick(); }, this);
  Layout();
}

TMMSpectrum::~TMMSpectrum() {
  Destroying();
  SharedTimer::Unregister(timer_);
  FreeFFTPlan(plan_);
}

void TMMSpectrum::Loaded() {
  TMMDisplay::Loaded();
  Layout();
}

// The connector's side -------------------------------------------------------------------------

void TMMSpectrum::SetPCMFormat(const WAVEFORMATEX* format) {
  if (!IsPCMFormat(format)) throw EMMSpectrumError("Invalid WaveFormat");
  SetSampleRate(static_cast<int32_t>(format->nSamplesPerSec));
  SetBitLength(static_cast<TMMBits>(format->wBitsPerSample / 8 - 1));
  SetMode(static_cast<TMMMode>(format->nChannels - 1));
}

void TMMSpectrum::ResetDisplay() {
  EndInfo();
  Reset();
  Repaint();
}

void TMMSpectrum::ProcessPCMBlock(const void* data) {
  if (!enabled_ || !Visible() || InfoMode() || !data || !plan_ || IsLoading()) return;
  ReadFrame(data);
  DoRealFFT(plan_, frame_.data());
  // Back to the 16-bit scale. A full-scale DC component, or a steep emphasis near the
  // Nyquist frequency, can leave the range: saturate rather than wrap, so an overdriven bin
  // shows as full instead of as some unrelated small value.
  const int32_t n = fftLength_;
  const float half = static_cast<float>(n / 2);
  for (int32_t j = 0; j < n; ++j) {
    const float q = frame_[static_cast<size_t>(j)] / half;
    int16_t s;
    if (q >= 32767.0f)
      s = 32767;
    else if (q <= -32768.0f)
      s = -32768;
    else
      s = static_cast<int16_t>(static_cast<int32_t>(q));
    spectrum_[static_cast<size_t>(j)] = s;
  }
  BinStage();
  const bool shows = ColumnStage();
  ++frames_;
  if (kind_ == skScroll) {
    scrollHead_ = scrollHead_ + 1 >= scrollDepth_ ? 0 : scrollHead_ + 1;
    int32_t* row = scroll_.data() + static_cast<size_t>(scrollHead_) * plotWidth_;
    const int32_t count = SpanCount();
    for (int32_t s = 0; s < count; ++s) row[s] = ScrollRise(records_[s].Value);
    scrollFrames_ = std::min(scrollFrames_ + 1, scrollDepth_);
  }
  // A blank frame over a picture that is already blank changes nothing; a landscape is
  // blank only once every line on it is.
  if (shows)
    blankFrames_ = 0;
  else if (blankFrames_ < kBlankPicture)
    ++blankFrames_;
  if (blankFrames_ <= (kind_ == skScroll ? scrollDepth_ : 1)) Repaint();
}

// Steps 1 to 4 of a block: one value per sample, the overflow check, the emphasis by
// differencing, and the window in Q15 with a 64-bit product.
template <int32_t Divisor, class Read>
void TMMSpectrum::FillFrame(Read read, int32_t threshold, int32_t bias) {
  const int32_t n = fftLength_, d = D();
  const int32_t* w = windowTable_.data();
  float* out = frame_.data();
  const bool report = static_cast<bool>(OnPcmOverflow);
  // The samples before the first are taken equal to it.
  int32_t x1 = read(0), x2 = x1;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = read(i);
    if (x >= threshold && report) OnPcmOverflow(this);
    int32_t e;
    if (d == 0)
      e = x - bias;
    else if (d == 1)
      e = x - x1;
    else
      e = x - 2 * x1 + x2;
    x2 = x1;
    x1 = x;
    out[i] = static_cast<float>(static_cast<int64_t>(e) * w[i] / Divisor);
  }
}

void TMMSpectrum::ReadFrame(const void* data) {
  const bool stereo = mode_ != mMono;
  if (bits_ == b16Bit) {
    const auto* s = static_cast<const int16_t*>(data);
    if (!stereo) {
      FillFrame<32768>([s](int32_t i) -> int32_t { return s[i]; }, 32767, 0);
    } else if (channel_ == chLeft) {
      FillFrame<32768>([s](int32_t i) -> int32_t { return s[2 * i]; }, 32767, 0);
    } else if (channel_ == chRight) {
      FillFrame<32768>([s](int32_t i) -> int32_t { return s[2 * i + 1]; }, 32767, 0);
    } else {
      // The mean can reach only 32767 when both samples do; below the steepest emphasis
      // one short of it already counts.
      FillFrame<32768>([s](int32_t i) -> int32_t { return (s[2 * i] + s[2 * i + 1]) / 2; },
                       D() == 2 ? 32767 : 32766, 0);
    }
    return;
  }
  const auto* b = static_cast<const uint8_t*>(data);
  if (!stereo) {
    FillFrame<128>([b](int32_t i) -> int32_t { return b[i]; }, 255, 128);
  } else if (channel_ == chLeft) {
    FillFrame<128>([b](int32_t i) -> int32_t { return b[2 * i]; }, 255, 128);
  } else if (channel_ == chRight) {
    FillFrame<128>([b](int32_t i) -> int32_t { return b[2 * i + 1]; }, 255, 128);
  } else {
    FillFrame<128>([b](int32_t i) -> int32_t { return (b[2 * i] + b[2 * i + 1]) >> 1; }, 255, 128);
  }
}

void TMMSpectrum::BinStage() {
  const int32_t bins = fftLength_ / 2;
  const int16_t* x = spectrum_.data();
  int32_t* out = binValue_.data();
  // The power of bin k in 32 bits; only re = im = −32768 overflows, and counts as 0.
  auto power = [x](int32_t k) -> int32_t {
    const int32_t re = x[2 * k], im = x[2 * k + 1];
    const auto p =
        static_cast<int32_t>(static_cast<uint32_t>(re * re) + static_cast<uint32_t>(im * im));
    return p < 0 ? 0 : p;
  };
  if (decayMode_ == dmNone && logAmp_) {
    const int32_t* offset = logOffset_.data();
    for (int32_t k = 0; k < bins; ++k) {
      const int32_t p = power(k);
      int32_t v = 0;
      if (p > 0) {
        const float u = std::log(static_cast<float>(p)) * kLogScale - static_cast<float>(offset[k]);
        v = u > 0 ? static_cast<int32_t>(u) : 0;
      }
      out[k] = v;
    }
    return;
  }
  ringPosition_ = ringPosition_ + 1 >= averageLength_ ? 0 : ringPosition_ + 1;
  ringFilled_ = std::min(ringFilled_ + 1, averageLength_);
  auto magnitude = [&power](int32_t k) {
    return static_cast<int32_t>(16.0 * std::sqrt(static_cast<double>(power(k))));
  };
  const float f = decayFactor_;
  float* level = level_.data();
  switch (decayMode_) {
    case dmNone:
      for (int32_t k = 0; k < bins; ++k) out[k] = magnitude(k);
      break;
    case dmStepUp:
      for (int32_t k = 0; k < bins; ++k) {
        const int32_t m = magnitude(k);
        level[k] *= f;
        if (static_cast<float>(m) >= level[k]) {
          level[k] = static_cast<float>(m);
          out[k] = m;
        } else {
          out[k] = static_cast<int32_t>(level[k]);
        }
      }
      break;
    case dmExponential:
      for (int32_t k = 0; k < bins; ++k) {
        level[k] = level[k] * f + (1.0f - f) * static_cast<float>(magnitude(k));
        out[k] = FloorToInt(level[k]);
      }
      break;
    case dmUniform: {
      int32_t* ring = ring_.data() + static_cast<size_t>(ringPosition_) * kMaxBins;
      int32_t* sum = sum_.data();
      for (int32_t k = 0; k < bins; ++k) {
        const int32_t m = magnitude(k);
        sum[k] += m - ring[k];
        ring[k] = m;
        out[k] = sum[k] / ringFilled_;
      }
      break;
    }
  }
}

bool TMMSpectrum::ColumnStage() {
  maxValue_ = 0;
  maxBin_ = 0;
  maxColumn_ = 0;
  const int32_t h = plotHeight_, count = SpanCount();
  const bool dbDecay = logAmp_ && decayMode_ != dmNone;
  const bool pixelBars = BarKind() && static_cast<bool>(OnDrawBar);
  const bool hold = NumPeaks() > 0 && PeakKind();
  const int32_t holdTicks = 2 * peakDelay_ + 1;
  const int32_t* value = binValue_.data();
  bool shows = false;
  for (int32_t s = 0; s < count; ++s) {
    ColumnRecord& r = records_[s];
    const auto c = static_cast<size_t>(r.Left);
    const int32_t first = startBin_[c], end = endBin_[c];
    int32_t a = value[first], kmax = first;
    for (int32_t k = first + 1; k < end; ++k)
      if (value[k] > a) {
        a = value[k];
        kmax = k;
      }
    int32_t v = 0;
    if (a > 0) {
      if (dbDecay) {
        // The smoothed magnitude back to log units: 2·ln(a/16) is ln P.
        const float u = (2.0f * std::log(static_cast<float>(a) / 16.0f) * kLogScale -
                         static_cast<float>(logOffset_[static_cast<size_t>(kmax)])) *
                        pixelsPerLogUnit_;
        v = u > 0 ? static_cast<int32_t>(std::min(u, 1e9f)) : 0;
      } else {
        const int64_t x = (static_cast<int64_t>(a) * columnScale_[c]) >> scaleShift_;
        v = static_cast<int32_t>(std::min<int64_t>(x, INT32_MAX));
      }
    }
    r.Value = v;
    r.Spots = pixelBars ? std::min(v, h) : SpotsFor(v);
    if (v > maxValue_) {
      maxValue_ = v;
      maxBin_ = first;
      maxColumn_ = r.Left;
    }
    if (v >= h && OnGainOverflow) OnGainOverflow(this);
    if (hold) {
      const int32_t current = BarKind() ? r.Spots : std::min(v, h - 1);
      if (current > 0 && current >= r.Peak.load(std::memory_order_relaxed)) {
        // The countdown first: a tick in between then only shortens the old hold.
        r.PeakCountdown.store(holdTicks, std::memory_order_relaxed);
        r.Peak.store(current, std::memory_order_relaxed);
      }
    }
    if (v > 0 || r.Peak.load(std::memory_order_relaxed) > 0) shows = true;
  }
  return shows;
}

void TMMSpectrum::PeakTick() {
  if (NumPeaks() <= 0 || InfoMode()) return;
  const int32_t speed = PeakSpeed();
  const int32_t count = SpanCount();
  for (int32_t s = 0; s < count; ++s) {
    ColumnRecord& r = records_[s];
    int32_t peak = r.Peak.load(std::memory_order_relaxed);
    if (peak <= 0) continue;
    if (r.PeakCountdown.fetch_sub(1, std::memory_order_relaxed) - 1 > 0) continue;
    // Only from the peak seen: a new one captured meanwhile on the other thread stands.
    if (r.Peak.compare_exchange_strong(peak, speed > 0 ? peak - 1 : 0, std::memory_order_relaxed))
      r.PeakCountdown.store(speed, std::memory_order_relaxed);
  }
}

// Reset and state --------------------------------------------------------------------------------

void TMMSpectrum::Reset() {
  if (IsLoading()) return;
  std::fill(spectrum_.begin(), spectrum_.end(), 0);
  std::fill(binValue_.begin(), binValue_.end(), 0);
  ClearRecords();
  maxValue_ = 0;
  maxBin_ = 0;
  maxColumn_ = 0;
  ClearSmoothing();
  scrollFrames_ = 0;
  scrollHead_ = 0;
  blankFrames_ = kBlankPicture;
  if (enabled_ && OnNeedData) OnNeedData(this);
}

void TMMSpectrum::ClearSmoothing() {
  std::fill(level_.begin(), level_.end(), 0.0f);
  std::fill(sum_.begin(), sum_.end(), 0);
  std::fill(ring_.begin(), ring_.end(), 0);
  ringPosition_ = 0;
  ringFilled_ = 0;
}

void TMMSpectrum::ClearRecords() {
  if (!records_) return;
  const int32_t count = SpanCount();
  for (int32_t s = 0; s < count; ++s) {
    ColumnRecord& r = records_[s];
    r.Value = 0;
    r.Spots = 0;
    r.Peak.store(0, std::memory_order_relaxed);
    r.PeakCountdown.store(0, std::memory_order_relaxed);
  }
}

void TMMSpectrum::ChangeLook() {
  ++backgroundVersion_;
  Repaint();
}

void TMMSpectrum::UpdateTimer() {
  const bool run = enabled_ && NumPeaks() > 0;
  if (run && timerSuspended_) {
    SharedTimer::Resume(timer_);
    timerSuspended_ = false;
  } else if (!run && !timerSuspended_) {
    SharedTimer::Suspend(timer_);
    timerSuspended_ = true;
  }
}

// Layout and tables ------------------------------------------------------------------------------

void TMMSpectrum::Layout() {
  plotWidth_ = std::max(4, width_ - (drawAmpScale_ ? 2 * kAmpStrip : 0));
  plotHeight_ = std::max(4, height_ - (drawFreqScale_ ? kFreqStrip : 0));
  if (IsLoading()) return;
  const auto w = static_cast<size_t>(plotWidth_);
  // No tick may walk the records while they are replaced.
  SharedTimer::Suspend(timer_);
  spanCount_.store(0, std::memory_order_relaxed);
  records_ = std::make_unique<ColumnRecord[]>(w + 1);
  SharedTimer::Resume(timer_);
  startBin_.assign(w, 0);
  endBin_.assign(w, 0);
  columnScale_.assign(w, 0);
  // A landscape line moves 2 rows a frame: this many frames fill the plot.
  scrollDepth_ = plotHeight_ / 2 + 1;
  scroll_.assign(static_cast<size_t>(scrollDepth_) * w, 0);
  BuildSpots();
  ComputeBlockBytes();
  BuildAxis();
  BuildAmplitude();
  Reset();
  ChangeLook();
}

void TMMSpectrum::BuildSpots() {
  const int32_t h = plotHeight_;
  spotCount_ = std::max(1, (h + spotSpace_) / (spotHeight_ + spotSpace_));
  firstOffset_ = (spotSpace_ + h - (spotHeight_ + spotSpace_) * spotCount_) / 2;
  const int32_t points[2] = {point1_, point2_};
  for (int z = 0; z < 2; ++z) {
    const double p = points[z];
    double limit;
    switch (kind_) {
      case skBars:
      case skPeaks:
        limit = p * spotCount_ / 100;
        break;
      case skDots:
        limit = h - p * h / 100;
        break;
      case skScroll:
        limit = p * h / 3 / 100;
        break;
      default:
        limit = p * h / 100;
        break;
    }
    zoneLimit_[z] = static_cast<int32_t>(RoundEven(limit));
  }
  ++backgroundVersion_;
}

void TMMSpectrum::BuildPlan() {
  const int32_t bits = Log2(fftLength_);
  FreeFFTPlan(plan_);
  plan_ = CreateFFTPlan(bits);
  MakeFFTWindow(windowTable_.data(), window_, bits);
}

void TMMSpectrum::ComputeBlockBytes() {
  blockBytes_ = (static_cast<int32_t>(bits_) + 1) * (static_cast<int32_t>(mode_) + 1) * fftLength_;
}

void TMMSpectrum::BuildAxis() {
  if (IsLoading() || startBin_.size() != static_cast<size_t>(plotWidth_)) return;
  const int32_t w = plotWidth_, n = fftLength_, bins = n / 2;
  const double fs = sampleRate_, f = frequencyScale_;
  // The requested start is kept; each axis clamps its own copy of it.
  double start = requestedStart_;
  if (!logFreq_) {
    start = std::max(start, 0.0);
    if (start + fs / (2 * f) > fs / 2) start = fs / 2 - fs / (2 * f);
  } else {
    start = std::clamp(start, fs / n, (fs / 2) / std::pow(static_cast<double>(bins), 1 / f));
  }
  startFrequency_ = static_cast<float>(start);
  const double sf = startFrequency_;
  int32_t* first = startBin_.data();
  int32_t* end = endBin_.data();
  if (OnGetXScale) {
    std::fill(startBin_.begin(), startBin_.end(), 0);
    std::fill(endBin_.begin(), endBin_.end(), 0);
    OnGetXScale(this, first, end);
    for (int32_t i = 0; i < w; ++i) {
      first[i] = std::clamp(first[i], 0, bins - 1);
      end[i] = std::clamp(end[i], 0, bins);
    }
  } else {
    const double logSpan = std::log((n + 1) / 2.0);
    for (int32_t i = 0; i < w; ++i) {
      double c;
      if (!logFreq_)
        c = std::floor(static_cast<double>(i) / w * n / 2 / f + sf / fs * n + 0.01);
      else
        c = std::floor(std::exp(logSpan * (i - 0.45) / w / f) * n * sf / fs + 0.51) - 1;
      first[i] = static_cast<int32_t>(std::clamp(c, 0.0, bins - 1.0));
      if (i > 0) end[i - 1] = first[i];
    }
    end[w - 1] = 0;
    for (int32_t i = 0; i < w; ++i)
      if (end[i] <= first[i] + 1) end[i] = 0;
  }
  // Columns that repeat their left neighbour's bin continue its span.
  for (int32_t i = w - 1; i >= 1; --i)
    if (first[i] == first[i - 1]) {
      first[i] = -1;
      end[i] = 0;
    }
  int32_t count = 0;
  for (int32_t i = 0; i < w; ++i) {
    if (first[i] == -1) continue;
    if (count > 0) records_[count - 1].Right = i;
    records_[count].Left = i;
    ++count;
  }
  records_[count - 1].Right = w;
  records_[count].Left = -1;
  spanCount_.store(count, std::memory_order_relaxed);
}

void TMMSpectrum::BuildAmplitude() {
  if (IsLoading() || columnScale_.size() != static_cast<size_t>(plotWidth_)) return;
  const float h = static_cast<float>(plotHeight_), fs = static_cast<float>(sampleRate_),
              fr = static_cast<float>(refFreq_), n = static_cast<float>(fftLength_);
  const int32_t d = D(), bins = fftLength_ / 2, w = plotWidth_;
  if (logAmp_) {
    float p = h / (kDBRange * kUnitsPerDB);
    pixelsPerLogUnit_ = p;
    // The bottom of the scale in log units; an emphasis is 0 dB at RefFreq, so it lowers
    // the full scale by its gain there.
    float top = kFullScaleDB;
    if (d > 0) top -= 20.0f * static_cast<float>(d) * std::log10(fs / (kTwoPi * fr));
    const float g = kUnitsPerDB * (top - kDBRange);
    for (int32_t k = 0; k < bins; ++k) {
      float o = g + 0.5f;
      if (T()) o -= kUnitsPerDB * 10.0f * std::log10(static_cast<float>(k + 1) * fs / n / fr);
      logOffset_[static_cast<size_t>(k)] = FloorToInt(o);
    }
    scaleShift_ = 0;
    while (p < kScaleUnit && scaleShift_ < kMaxShift) {
      p *= 2;
      ++scaleShift_;
    }
    std::fill(columnScale_.begin(), columnScale_.end(), FloorToInt(p + 0.5f));
    return;
  }
  // Linear: magnitudes are 16 × |X|, so the shift starts at 4.
  float e = h / (std::sqrt(fr) * (static_cast<float>(verticalScale_) / 100.0f) * 32768.0f);
  if (d == 1) e *= fs / (kTwoPi * fr);
  if (d == 2) e *= fs * fs / (kTwoPi * kTwoPi * fr * fr);
  scaleShift_ = 4;
  if (!T()) {
    float p = std::sqrt(fr) * e;
    while (p < kScaleUnit && scaleShift_ < kMaxShift) {
      p *= 2;
      ++scaleShift_;
    }
    const int32_t scale = FloorToInt(p + 0.5f);
    for (int32_t i = 0; i < w; ++i)
      columnScale_[static_cast<size_t>(i)] = StartBin(i) >= 0 ? scale : 0;
  } else {
    // 3 dB per octave: the multiplier grows with the square root of the span's frequency.
    const float nyquist = std::sqrt(fs / 2);
    while (nyquist * e < kScaleUnit && scaleShift_ < kMaxShift) {
      e *= 2;
      ++scaleShift_;
    }
    for (int32_t i = 0; i < w; ++i) {
      const int32_t b = StartBin(i);
      columnScale_[static_cast<size_t>(i)] =
          b >= 0 ? static_cast<int32_t>(
                       RoundEven(std::sqrt(static_cast<float>(b + 1) * fs / n) * e + 0.5f))
                 : 0;
    }
  }
  pixelsPerLogUnit_ = 0;
}

// Spans, spots and zones -----------------------------------------------------------------------

TSpectrumSpan TMMSpectrum::Span(int32_t index) const {
  const ColumnRecord& r = records_[index];
  return {r.Left, r.Right, r.Value, r.Spots, r.Peak.load(std::memory_order_relaxed)};
}

int32_t TMMSpectrum::SpotsFor(int32_t v) const {
  const double spotPixels = static_cast<double>(plotHeight_) / spotCount_;
  return static_cast<int32_t>(std::clamp<int64_t>(RoundEven(v / spotPixels + 0.5), 0, spotCount_));
}

int32_t TMMSpectrum::ZoneOf(int32_t x) const {
  if (kind_ == skDots) {
    // Limits are rows from the top: at or above the upper line is zone 3.
    const int32_t row = RowOf(x);
    if (row <= zoneLimit_[1]) return 3;
    if (row > zoneLimit_[0]) return 1;
    return 2;
  }
  if (x > zoneLimit_[1]) return 3;
  if (x > zoneLimit_[0]) return 2;
  return 1;
}

TSpectrumRect TMMSpectrum::SpotRect(int32_t spot) const {
  const int32_t bottom = plotHeight_ - firstOffset_ - (spot - 1) * (spotHeight_ + spotSpace_);
  return {0, bottom - spotHeight_, plotWidth_, spotHeight_};
}

TSpectrumRect TMMSpectrum::BarRect(int32_t index) const {
  const ColumnRecord& r = records_[index];
  const int32_t width = r.Right - r.Left;
  if (space_ < width) return {r.Left + space_ / 2, 0, width - space_, plotHeight_};
  return {r.Left, 0, width, plotHeight_};
}

int32_t TMMSpectrum::RowOf(int32_t height) const {
  return plotHeight_ - 1 - std::clamp(height, 0, plotHeight_ - 1);
}

int32_t TMMSpectrum::ScrollRise(int32_t height) const {
  // The landscape has a third of the plot above its zero level.
  return std::clamp(height, 0, plotHeight_) / 3;
}

const int32_t* TMMSpectrum::ScrollRises(int32_t age) const {
  int32_t slot = scrollHead_ - age;
  if (slot < 0) slot += scrollDepth_;
  return scroll_.data() + static_cast<size_t>(slot) * plotWidth_;
}

// Scales, labels and the read-out ----------------------------------------------------------------

int32_t TMMSpectrum::AmpDivisions() const {
  int32_t n = logAmp_ ? 6 : 10;
  while (plotHeight_ / n < 10 && n > 1) --n;
  return n;
}

int32_t TMMSpectrum::FreqDivisions() const {
  int32_t d = 32;
  while (plotWidth_ / d < 10 && d > 1) d /= 2;
  return d;
}

std::vector<TSpectrumLabel> TMMSpectrum::AmpLabels(bool rightStrip) const {
  std::vector<TSpectrumLabel> labels;
  const int32_t n = AmpDivisions(), h = plotHeight_;
  const double top = verticalScale_ / 100.0;
  char text[32];
  for (int32_t r = 0; r <= n; ++r) {
    if (logAmp_) {
      const auto db = static_cast<int32_t>(RoundEven(-10.0 * 6 / n * r));
      std::snprintf(text, sizeof text, rightStrip ? "%2d" : "%d", db);
      labels.push_back({r * (h - 1) / n, text});
    } else {
      const auto up = static_cast<int32_t>(static_cast<int64_t>(r) * 32760 * h /
                                           (static_cast<int64_t>(32768) * n));
      std::snprintf(text, sizeof text, top <= 0.095 ? "%5.3f" : "%4.2f", top * r / n);
      labels.push_back({h - 1 - up, text});
    }
  }
  return labels;
}

std::vector<TSpectrumLabel> TMMSpectrum::FreqLabels() const {
  std::vector<TSpectrumLabel> labels;
  const int32_t d = FreqDivisions(), w = plotWidth_;
  const double fs = sampleRate_, f = frequencyScale_, sf = startFrequency_;
  char text[32];
  for (int32_t r = 0; r <= d; ++r) {
    double hz;
    if (!logFreq_)
      hz = sf + r * (fs / 2 - sf) / d / f;
    else
      hz = sf * std::pow(fftLength_ / 2.0, r / (d * f));
    std::snprintf(text, sizeof text, "%.0f", std::max(0.0, hz));
    labels.push_back({static_cast<int32_t>(RoundEven(static_cast<double>(w - 1) * r / d)), text});
  }
  return labels;
}

std::vector<int32_t> TMMSpectrum::GridRows() const {
  std::vector<int32_t> rows;
  for (const TSpectrumLabel& l : AmpLabels()) rows.push_back(l.at);
  return rows;
}

std::vector<int32_t> TMMSpectrum::GridColumns() const {
  std::vector<int32_t> cols;
  const int32_t d = FreqDivisions();
  for (int32_t r = 0; r <= d; ++r)
    cols.push_back(static_cast<int32_t>(RoundEven(static_cast<double>(plotWidth_ - 1) * r / d)));
  return cols;
}

double TMMSpectrum::PeakLabelFrequency() const {
  const double binHz = static_cast<double>(sampleRate_) / fftLength_;
  if (!logFreq_) return (maxBin_ + 0.5) * binHz;
  // The lowest bins of a log axis sit left of their centres.
  return maxBin_ > 1 ? maxBin_ * binHz : (maxBin_ + 0.25) * binHz;
}

std::string TMMSpectrum::PeakLabelText() const {
  if (!displayPeak_ || IsDesigning() || maxValue_ <= 5) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%7.1f Hz", PeakLabelFrequency());
  const char* p = text;
  while (*p == ' ') ++p;
  return p;
}

bool TMMSpectrum::BeginInfo() {
  if (!showInfo_ || !enabled_ || IsDesigning()) return false;
  infoMode_.store(true, std::memory_order_relaxed);
  return true;
}

void TMMSpectrum::EndInfo() {
  infoMode_.store(false, std::memory_order_relaxed);
}

double TMMSpectrum::InfoFrequency(int32_t x) const {
  const double fs = sampleRate_, f = frequencyScale_, sf = startFrequency_;
  const double last = plotWidth_ - 1;
  double hz;
  if (!logFreq_)
    hz = sf + x * (fs / 2 - sf) / last / f;
  else
    hz = sf * std::exp(x * std::log(fftLength_ / 2.0) / (last * f));
  return std::max(0.0, hz);
}

std::string TMMSpectrum::InfoText(int32_t x, int32_t y) const {
  char text[64];
  int len = std::snprintf(text, sizeof text, "%2.3f KHz", InfoFrequency(x) / 1000);
  const double last = plotHeight_ - 1;
  if (kind_ != skScroll) {
    if (logAmp_) {
      // 0.0 − …, so that the top row reads 0.0 and not −0.0.
      std::snprintf(text + len, sizeof text - len, " %2.1f dB", 0.0 - 60.0 * y / last);
    } else {
      const double volts = (last - y) / last * verticalScale_ / 100;
      std::snprintf(text + len, sizeof text - len, verticalScale_ < 10 ? " %5.3f V" : " %4.2f V",
                    volts);
    }
  }
  return text;
}

// Properties -----------------------------------------------------------------------------------

void TMMSpectrum::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (!value) EndInfo();
  Reset();
  UpdateTimer();
  ChangeLook();
}

void TMMSpectrum::SetKind(TMMSpectrumKind value) {
  if (value == kind_) return;
  kind_ = value;
  BuildSpots();
  ClearRecords();
  scrollFrames_ = 0;
  ChangeLook();
}

void TMMSpectrum::SetFFTLength(int32_t value) {
  value = PowerOfTwoAtMost(std::clamp(value, 8, kMaxFFTLength));
  if (value == fftLength_) return;
  fftLength_ = value;
  BuildPlan();
  ComputeBlockBytes();
  BuildAxis();
  BuildAmplitude();
  Reset();
  ChangeLook();
}

void TMMSpectrum::SetWindow(TMMFFTWindow value) {
  if (value == window_) return;
  window_ = value;
  MakeFFTWindow(windowTable_.data(), window_, Log2(fftLength_));
}

void TMMSpectrum::SetSampleRate(int32_t value) {
  value = std::clamp(value, 8000, 100000);
  if (value == sampleRate_) return;
  sampleRate_ = value;
  BuildAxis();
  BuildAmplitude();
  Reset();
  ChangeLook();
}

void TMMSpectrum::SetBitLength(TMMBits value) {
  bits_ = value;
  ComputeBlockBytes();
}

void TMMSpectrum::SetMode(TMMMode value) {
  mode_ = value;
  ComputeBlockBytes();
}

void TMMSpectrum::SetLogAmp(bool value) {
  if (value == logAmp_) return;
  logAmp_ = value;
  BuildAmplitude();
  Reset();
  ChangeLook();
}

void TMMSpectrum::SetLogFreq(bool value) {
  if (value == logFreq_) return;
  logFreq_ = value;
  BuildAxis();
  BuildAmplitude();
  Reset();
  ChangeLook();
}

void TMMSpectrum::SetGain(TMMSpectrumGain value) {
  if (value == gain_) return;
  gain_ = value;
  BuildAmplitude();
  ClearRecords();
  ChangeLook();
}

void TMMSpectrum::SetRefFreq(int32_t value) {
  value = std::clamp(value, 1, 44100);
  if (value == refFreq_) return;
  refFreq_ = value;
  BuildAmplitude();
  ClearRecords();
  ChangeLook();
}

void TMMSpectrum::SetVerticalScale(int32_t value) {
  value = std::clamp(value, 1, 500);
  if (value == verticalScale_) return;
  verticalScale_ = value;
  BuildAmplitude();
  ClearRecords();
  ChangeLook();
}

void TMMSpectrum::SetFrequencyScale(int32_t value) {
  value = PowerOfTwoAtMost(std::clamp(value, 1, 16));
  if (value == frequencyScale_) return;
  frequencyScale_ = value;
  BuildAxis();
  BuildAmplitude();
  Reset();
  ChangeLook();
}

void TMMSpectrum::SetDecayMode(TMMDecayMode value) {
  if (value == decayMode_) return;
  decayMode_ = value;
  ClearSmoothing();
}

void TMMSpectrum::SetDecay(int32_t value) {
  value = std::clamp(value, 1, 16);
  if (value == decay_) return;
  decay_ = value;
  decayFactor_ = ::DecayFactor(value);
  averageLength_ = ::AverageLength(value);
  if (decayMode_ == dmUniform) ClearSmoothing();
}

void TMMSpectrum::SetNumPeaks(int32_t value) {
  if (value < 0 || value > 5 || value == NumPeaks()) return;
  numPeaks_.store(value, std::memory_order_relaxed);
  ClearRecords();
  UpdateTimer();
  Repaint();
}

void TMMSpectrum::SetPeakDelay(int32_t value) {
  if (value < 0 || value > 50 || value == peakDelay_) return;
  peakDelay_ = value;
  ClearRecords();
  Repaint();
}

void TMMSpectrum::SetPeakSpeed(int32_t value) {
  if (value < 0 || value > 50 || value == PeakSpeed()) return;
  peakSpeed_.store(value, std::memory_order_relaxed);
  ClearRecords();
  Repaint();
}

void TMMSpectrum::SetDisplayPeak(bool value) {
  displayPeak_ = value;
  Repaint();
}

void TMMSpectrum::SetDrawFreqScale(bool value) {
  if (value == drawFreqScale_) return;
  drawFreqScale_ = value;
  Layout();
}

void TMMSpectrum::SetDrawAmpScale(bool value) {
  if (value == drawAmpScale_) return;
  drawAmpScale_ = value;
  Layout();
}

void TMMSpectrum::SetDrawGrid(bool value) {
  drawGrid_ = value;
  Repaint();
}

void TMMSpectrum::SetSpace(int32_t value) {
  if (value < 0 || value > 5 || value == space_) return;
  space_ = value;
  ClearRecords();
  ChangeLook();
}

void TMMSpectrum::SetSpotSpace(int32_t value) {
  if (value < 0 || value > 10 || value == spotSpace_) return;
  spotSpace_ = value;
  BuildSpots();
  ClearRecords();
  ChangeLook();
}

void TMMSpectrum::SetSpotHeight(int32_t value) {
  if (value < 1 || value > plotHeight_ / 3 || value == spotHeight_) return;
  spotHeight_ = value;
  BuildSpots();
  ClearRecords();
  ChangeLook();
}

void TMMSpectrum::SetPoint1(int32_t value) {
  if (value < 1 || value > 100) return;
  point1_ = value;
  BuildSpots();
  ChangeLook();
}

void TMMSpectrum::SetPoint2(int32_t value) {
  if (value < 1 || value > 100) return;
  point2_ = value;
  BuildSpots();
  ChangeLook();
}

void TMMSpectrum::SetBarColors(TColor zone1, TColor zone2, TColor zone3) {
  barColor_[0] = zone1;
  barColor_[1] = zone2;
  barColor_[2] = zone3;
  ChangeLook();
}

void TMMSpectrum::SetInactiveColors(TColor zone1, TColor zone2, TColor zone3) {
  inactiveColor_[0] = zone1;
  inactiveColor_[1] = zone2;
  inactiveColor_[2] = zone3;
  ChangeLook();
}

void TMMSpectrum::SetDrawInactive(bool value) {
  drawInactive_ = value;
  ChangeLook();
}

void TMMSpectrum::SetInactiveDoted(bool value) {
  inactiveDoted_ = value;
  ChangeLook();
}

void TMMSpectrum::SetActiveDoted(bool value) {
  activeDoted_ = value;
  ChangeLook();
}

void TMMSpectrum::SetScaleTextColor(TColor value) {
  scaleTextColor_ = value;
  ChangeLook();
}

void TMMSpectrum::SetScaleLineColor(TColor value) {
  scaleLineColor_ = value;
  ChangeLook();
}

void TMMSpectrum::SetGridColor(TColor value) {
  gridColor_ = value;
  ChangeLook();
}

void TMMSpectrum::SetColor(TColor value) {
  color_ = value;
  ChangeLook();
}

void TMMSpectrum::SetSize(int32_t width, int32_t height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Layout();
}
