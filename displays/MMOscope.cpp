#include "displays/MMOscope.h"

#include <cstdio>

#include "audio/MMFormat.h"

std::vector<TMMOscope*>& TMMOscope::All() {
  static std::vector<TMMOscope*> all;
  return all;
}

TMMOscope::TMMOscope(TComponent* owner) : TMMOscopeDisplay(owner) {
  All().push_back(this);
  Resize();
}

TMMOscope::~TMMOscope() {
  Destroying();
  auto& all = All();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

// The connector's side -------------------------------------------------------------------------

void TMMOscope::SetPCMFormat(const WAVEFORMATEX* format) {
  if (!IsPCMFormat(format)) throw EMMOscopeError("Invalid WaveFormat");
  SetSampleRate(static_cast<int32_t>(format->nSamplesPerSec));
  SetBitLength(static_cast<TMMBits>(format->wBitsPerSample / 8 - 1));
  SetMode(static_cast<TMMMode>(format->nChannels - 1));
}

int32_t TMMOscope::FrameValue(const uint8_t* frame) const {
  if (bits_ == b16Bit) {
    const auto* s = reinterpret_cast<const int16_t*>(frame);
    if (mode_ == mMono) return s[0];
    if (channel_ == chLeft) return s[0];
    if (channel_ == chRight) return s[1];
    return (s[0] + s[1]) / 2;
  }
  int32_t s;
  if (mode_ == mMono || channel_ == chLeft)
    s = frame[0];
  else if (channel_ == chRight)
    s = frame[1];
  else
    s = (static_cast<uint32_t>(frame[0]) + frame[1]) >> 1;
  return s * 256 - 32768;
}

void TMMOscope::ProcessPCMBlock(const void* data) {
  if (!enabled_ || !Visible() || infoMode_ || !data) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (scroll_) {
    ScrollBlock(bytes);
    return;
  }
  const int32_t frame = FrameBytes();
  const int32_t z = zoom_ <= -1 ? -zoom_ + 1 : 0;
  int32_t previous = 0;
  for (int32_t i = 0; i < plotWidth_; ++i) {
    const int32_t f = z ? i / z : i * zoom_;
    int32_t v = FrameValue(bytes + static_cast<ptrdiff_t>(f) * frame);
    if (lowPass_) {
      const int32_t unfiltered = v;
      v = (previous + 3 * v) / 4;
      previous = unfiltered;
    }
    columns_[static_cast<size_t>(i)] = static_cast<int16_t>(v);
  }
  for (int32_t i = 0; i < plotWidth_; i += steps_) {
    int32_t v = columns_[static_cast<size_t>(i)];
    if (kind_ == okSpikes) v = std::abs(v);
    if (v > 32766 && OnPcmOverflow) OnPcmOverflow(this);
    if (HeightOf(v) > plotHeight_ && OnGainOverflow) OnGainOverflow(this);
  }
  Repaint();
}

void TMMOscope::ScrollBlock(const uint8_t* data) {
  // Per channel the smallest and largest sample, the earlier one first.
  const int32_t frame = FrameBytes();
  const int32_t channels = mode_ == mMono ? 1 : 2;
  const int32_t sampleBytes = bits_ == b16Bit ? 2 : 1;
  int32_t lo[2] = {INT32_MAX, INT32_MAX}, hi[2] = {INT32_MIN, INT32_MIN};
  int32_t loAt[2] = {0, 0}, hiAt[2] = {0, 0};
  for (int32_t n = 0; n < fftLength_; ++n) {
    for (int32_t c = 0; c < channels; ++c) {
      const uint8_t* p = data + static_cast<ptrdiff_t>(n) * frame + c * sampleBytes;
      const int32_t v = bits_ == b16Bit ? *reinterpret_cast<const int16_t*>(p) : *p * 256 - 32768;
      if (v < lo[c]) lo[c] = v, loAt[c] = n;
      if (v > hi[c]) hi[c] = v, hiAt[c] = n;
    }
  }
  int32_t first[2], second[2];
  for (int32_t c = 0; c < channels; ++c) {
    const bool lowFirst = loAt[c] <= hiAt[c];
    first[c] = lowFirst ? lo[c] : hi[c];
    second[c] = lowFirst ? hi[c] : lo[c];
  }
  ScrollColumn col;
  if (channels == 1 || channel_ == chLeft) {
    col = {static_cast<int16_t>(first[0]), static_cast<int16_t>(second[0])};
  } else if (channel_ == chRight) {
    col = {static_cast<int16_t>(first[1]), static_cast<int16_t>(second[1])};
  } else {
    col = {static_cast<int16_t>((first[0] + first[1]) / 2),
           static_cast<int16_t>((second[0] + second[1]) / 2)};
  }
  for (int16_t v : {col.first, col.second}) {
    const int32_t m = kind_ == okSpikes ? std::abs(static_cast<int32_t>(v)) : v;
    if (m > 32766 && OnPcmOverflow) OnPcmOverflow(this);
    if (HeightOf(m) > plotHeight_ && OnGainOverflow) OnGainOverflow(this);
  }
  ring_[columnsWritten_ % ring_.size()] = col;
  ++columnsWritten_;
  if (!ScrollFull()) ++writePosition_;
  Repaint();
}

void TMMOscope::ResetDisplay() {
  infoMode_ = false;
  std::fill(columns_.begin(), columns_.end(), 0);
  writePosition_ = -barWidth_;
  columnsWritten_ = 0;
  fullRepaint_ = true;
  Repaint();
}

void TMMOscope::FullRepaintDone() {
  fullRepaint_ = false;
  // Every other scrolling oscilloscope starts its chart again with its next block.
  for (TMMOscope* o : All())
    if (o != this && o->scroll_ && !o->fullRepaint_) {
      o->writePosition_ = -o->barWidth_;
      o->columnsWritten_ = 0;
      o->fullRepaint_ = true;
    }
}

// Geometry -------------------------------------------------------------------------------------

int32_t TMMOscope::HeightOf(int32_t v) const {
  const int64_t g = static_cast<int64_t>(v) * (gain_ + 8) / 8;
  return static_cast<int32_t>((g + ampOffset_) * plotHeight_ / ampRange_);
}

void TMMOscope::Resize() {
  plotWidth_ = std::max(4, width_ - (drawAmpScale_ ? 64 : 0));
  plotHeight_ = std::max(4, height_ - (drawTimeScale_ ? 40 : 0));
  columns_.assign(static_cast<size_t>(plotWidth_), 0);
  ring_.assign(static_cast<size_t>(plotWidth_), ScrollColumn{0, 0});
  writePosition_ = -barWidth_;
  columnsWritten_ = 0;
  fullRepaint_ = true;
  ComputeEffectBand();
  ComputeBlockBytes();
  ampDivisions_ = 10;
  while (plotHeight_ / ampDivisions_ < 10 && ampDivisions_ - 2 >= 2) ampDivisions_ -= 2;
  Repaint();
}

void TMMOscope::ComputeBlockBytes() {
  const int32_t f = FrameBytes(), w = plotWidth_;
  if (scroll_)
    blockBytes_ = f * fftLength_;
  else if (zoom_ >= 1)
    blockBytes_ = f * w * zoom_;
  else
    blockBytes_ = ((f * w) / (-zoom_ + 1) + 5) / 4 * 4;
}

void TMMOscope::ComputeEffectBand() {
  switch (effect_) {
    case efNone:
      effectLow_ = INT32_MIN;
      effectHigh_ = INT32_MAX;
      break;
    case efPeak:
      effectLow_ = plotHeight_ / 3;
      effectHigh_ = plotHeight_ - plotHeight_ / 3;
      break;
    case efSplit:
      effectLow_ = 0;
      effectHigh_ = Mid();
      break;
  }
}

// Scales ---------------------------------------------------------------------------------------

int32_t TMMOscope::TimeDivisions() const {
  int32_t d = 32;
  while (plotWidth_ / d < 10 && d > 1) d /= 2;
  return d;
}

int32_t TMMOscope::BlockMs() const {
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, bits_ == b16Bit ? 16 : 8, mode_ == mMono ? 1 : 2, sampleRate_);
  return BytesToMs(&f, blockBytes_);
}

std::vector<TOscopeLabel> TMMOscope::AmpLabels() const {
  std::vector<TOscopeLabel> labels;
  const int32_t n = ampDivisions_;
  char text[32];
  if (kind_ == okSpikes) {
    for (int32_t r = 0; r <= n; ++r) {
      std::snprintf(text, sizeof text, "%4.2f", static_cast<double>(r) / n);
      labels.push_back({plotHeight_ - 1 - r * plotHeight_ / n, text});
    }
    return labels;
  }
  const int32_t mid = Mid();
  for (int32_t r = 0; r <= n / 2; ++r) {
    const int32_t off = r * plotHeight_ / n;
    const double value = 2.0 * r / n;
    if (r == 0) {
      std::snprintf(text, sizeof text, "%4.2f", value);
      labels.push_back({mid, text});
      continue;
    }
    std::snprintf(text, sizeof text, "+%4.2f", value);
    labels.push_back({mid - off, text});
    std::snprintf(text, sizeof text, "-%4.2f", value);
    labels.push_back({mid + off, text});
  }
  return labels;
}

std::vector<TOscopeLabel> TMMOscope::TimeLabels() const {
  std::vector<TOscopeLabel> labels;
  const int32_t d = TimeDivisions();
  const double t = BlockMs();
  char text[32];
  for (int32_t r = 0; r <= d; ++r) {
    std::snprintf(text, sizeof text, "%4.1f", r * t / d);
    labels.push_back({(plotWidth_ - 1) * r / d, text});
  }
  return labels;
}

std::vector<int32_t> TMMOscope::GridRows() const {
  std::vector<int32_t> rows;
  const int32_t n = ampDivisions_;
  for (int32_t r = 0; r <= n; ++r) {
    const auto up = static_cast<int32_t>(static_cast<int64_t>(r) * 32760 * plotHeight_ /
                                         (static_cast<int64_t>(32768) * n));
    rows.push_back(plotHeight_ - 1 - up);
  }
  return rows;
}

std::vector<int32_t> TMMOscope::GridColumns() const {
  std::vector<int32_t> cols;
  const int32_t d = TimeDivisions();
  for (int32_t r = 0; r <= d; ++r) cols.push_back((plotWidth_ - 1) * r / d);
  return cols;
}

std::string TMMOscope::InfoText(int32_t x, int32_t y) const {
  const double ms = static_cast<double>(BlockMs()) * (x + 1) / plotWidth_;
  double volts;
  if (kind_ == okSpikes) {
    volts = static_cast<double>(plotHeight_ - y - 1) / (plotHeight_ - 1);
  } else {
    double c = plotHeight_ / 2.0 - y;
    if (c < 0) c -= 1;
    volts = 2 * c / plotHeight_;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%4.1f ms %4.2f V", ms, volts);
  return text;
}

// Properties -----------------------------------------------------------------------------------

void TMMOscope::SetEnabled(bool value) {
  enabled_ = value;
  ChangeLook();
}

void TMMOscope::SetKind(TMMOscopeKind value) {
  kind_ = value;
  ampRange_ = value == okSpikes ? 32767 : 65535;
  ampOffset_ = value == okSpikes ? 0 : 32767;
  ChangeLook();
}

void TMMOscope::SetEffect(TMMOscopeEffect value) {
  effect_ = value;
  ComputeEffectBand();
  ChangeLook();
}

void TMMOscope::SetBitLength(TMMBits value) {
  bits_ = value;
  ComputeBlockBytes();
}

void TMMOscope::SetMode(TMMMode value) {
  mode_ = value;
  ComputeBlockBytes();
}

void TMMOscope::SetChannel(TMMChannel value) {
  channel_ = value;
  ComputeBlockBytes();
}

void TMMOscope::SetSampleRate(int32_t value) {
  sampleRate_ = std::clamp(value, 8000, 88200);
}

void TMMOscope::SetGain(int32_t value) {
  if (value < -8 || value > 32) return;
  gain_ = value;
  ChangeLook();
}

void TMMOscope::SetZoom(int32_t value) {
  if (value == 0) return;
  zoom_ = std::clamp(value, -9, 9);
  ComputeBlockBytes();
  ChangeLook();
}

void TMMOscope::SetSteps(int32_t value) {
  steps_ = std::clamp(value, 1, 9);
  ChangeLook();
}

void TMMOscope::SetFFTLength(int32_t value) {
  value = std::clamp(value, 1, 4096);
  int32_t p = 1;
  while (p * 2 <= value) p *= 2;
  fftLength_ = p;
  ComputeBlockBytes();
}

void TMMOscope::SetScroll(bool value) {
  scroll_ = value;
  Resize();
}

void TMMOscope::SetDrawMidLine(bool value) {
  drawMidLine_ = value;
  ChangeLook();
}

void TMMOscope::SetDrawAmpScale(bool value) {
  drawAmpScale_ = value;
  Resize();
}

void TMMOscope::SetDrawTimeScale(bool value) {
  drawTimeScale_ = value;
  Resize();
}

void TMMOscope::SetDrawGrid(bool value) {
  drawGrid_ = value;
  ChangeLook();
}

void TMMOscope::SetBarWidth(int32_t value) {
  barWidth_ = std::max(1, value);
}

void TMMOscope::SetSize(int32_t width, int32_t height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Resize();
}

void TMMOscope::SetColours(const Colors& value) {
  colors_ = value;
  ChangeLook();
}
