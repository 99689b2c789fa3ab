#include "platform/SimCapture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

// The data chunk of a PCM WAV file, or empty.
std::vector<char> LoadWavData(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (all.size() < 12 || std::memcmp(all.data(), "RIFF", 4) != 0 ||
      std::memcmp(all.data() + 8, "WAVE", 4) != 0)
    return {};
  size_t pos = 12;
  while (pos + 8 <= all.size()) {
    uint32_t size = 0;
    std::memcpy(&size, all.data() + pos + 4, 4);
    if (std::memcmp(all.data() + pos, "data", 4) == 0) {
      const size_t end = std::min(all.size(), pos + 8 + size);
      return std::vector<char>(all.begin() + pos + 8, all.begin() + end);
    }
    pos += 8 + size + (size & 1);
  }
  return {};
}

class SimSource : public CaptureSource {
 public:
  SimSource(const SimDeviceConfig& cfg, const WAVEFORMATEX& fmt,
            std::chrono::steady_clock::time_point origin)
      : cfg_(cfg), fmt_(fmt), origin_(origin) {
    if (cfg_.signal == SimSignal::WavFile) wav_ = LoadWavData(cfg_.wavPath);
    const uint32_t align = std::max<uint32_t>(fmt_.nBlockAlign, 1);
    ringBytes_ = static_cast<uint64_t>(fmt_.nAvgBytesPerSec) * cfg_.ringMs / 1000 / align * align;
  }

  MMRESULT Begin() override {
    if (cfg_.paced && cfg_.continuous) {
      // The signal went on while the device was not capturing: that part is never heard.
      start_ = origin_;
      base_ = 0;
      consumed_ = std::max(consumed_, Due());
    } else {
      start_ = std::chrono::steady_clock::now();
      base_ = consumed_;
    }
    running_ = true;
    return MMSYSERR_NOERROR;
  }
  void Halt() override { running_ = false; }

  long Read(char* dst, uint32_t bytes, int timeoutMs) override {
    if (Unplugged()) return -1;
    uint64_t avail = Available();
    if (avail == 0 && timeoutMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 5)));
      avail = Available();
    }
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(avail, bytes));
    Generate(dst, consumed_, n);
    consumed_ += n;
    return n;
  }

  uint64_t TakeOverrunFrames() override {
    const uint64_t lost = lost_.load();
    const uint64_t align = std::max<uint32_t>(fmt_.nBlockAlign, 1);
    const uint64_t frames = (lost - reported_) / align;
    reported_ += frames * align;
    return frames;
  }

  bool Reopen() override {
    if (Unplugged()) return false;
    // What played while the device was away is not heard.
    if (!cfg_.paced) consumed_ = stepped_.load();
    return Begin() == MMSYSERR_NOERROR;
  }

  void Produce(uint32_t bytes) { stepped_ += bytes; }
  uint64_t Lost() const { return lost_; }

 private:
  bool Unplugged() const { return cfg_.unplugged && cfg_.unplugged->load(); }

  uint64_t Available() {
    if (!cfg_.paced) return stepped_.load() - std::min(stepped_.load(), consumed_);
    if (!running_) return 0;
    const uint64_t due = Due();
    uint64_t avail = due > consumed_ ? due - consumed_ : 0;
    if (avail > ringBytes_) {  // the device's ring overflowed: the oldest audio is gone
      lost_ += avail - ringBytes_;
      consumed_ += avail - ringBytes_;
      avail = ringBytes_;
    }
    return avail;
  }

  // The stream position the paced signal has reached.
  uint64_t Due() const {
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const uint32_t align = std::max<uint32_t>(fmt_.nBlockAlign, 1);
    const auto due = static_cast<uint64_t>(secs * cfg_.speed * fmt_.nAvgBytesPerSec);
    return base_ + due / align * align;
  }

  void Generate(char* dst, uint64_t pos, uint32_t n) {
    const bool wide = fmt_.wBitsPerSample == 16;
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t p = pos + i;
      switch (cfg_.signal) {
        case SimSignal::Ramp: {
          const uint64_t s = wide ? p / 2 : p;
          const uint16_t v = static_cast<uint16_t>(s);
          dst[i] = static_cast<char>(wide ? ((p & 1) ? v >> 8 : v & 0xFF) : v & 0xFF);
          break;
        }
        case SimSignal::Tone: {
          const uint64_t frame = p / std::max<uint32_t>(fmt_.nBlockAlign, 1);
          const double x =
              cfg_.toneAmplitude *
              std::sin(2.0 * M_PI * cfg_.toneHz * static_cast<double>(frame) / fmt_.nSamplesPerSec);
          if (wide) {
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::lround(x * 32767.0)));
            dst[i] = static_cast<char>((p & 1) ? v >> 8 : v & 0xFF);
          } else {
            dst[i] = static_cast<char>(128 + std::lround(x * 127.0));
          }
          break;
        }
        case SimSignal::WavFile:
          dst[i] = p < wav_.size() ? wav_[p] : static_cast<char>(wide ? 0 : 128);
          break;
      }
    }
  }

  const SimDeviceConfig cfg_;
  const WAVEFORMATEX fmt_;
  const std::chrono::steady_clock::time_point origin_;
  std::vector<char> wav_;
  uint64_t ringBytes_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> stepped_{0};
  uint64_t base_ = 0;
  uint64_t consumed_ = 0;
  std::atomic<uint64_t> lost_{0};
  uint64_t reported_ = 0;
};

}  // namespace

SimCaptureBackend::SimCaptureBackend() = default;

SimCaptureBackend::SimCaptureBackend(std::vector<SimDeviceConfig> devices)
    : devices_(std::move(devices)) {}

SimCaptureBackend::~SimCaptureBackend() = default;

uint32_t SimCaptureBackend::GetNumDevs() {
  return static_cast<uint32_t>(devices_.size());
}

const SimDeviceConfig* SimCaptureBackend::Config(TMMDeviceId id) const {
  if (id == MapperId) id = 0;
  if (id < 0 || id >= static_cast<TMMDeviceId>(devices_.size())) return nullptr;
  return &devices_[id];
}

MMRESULT SimCaptureBackend::GetDevCaps(TMMDeviceId id, WAVEINCAPS* caps) {
  const SimDeviceConfig* cfg = Config(id);
  if (!cfg) return MMSYSERR_BADDEVICEID;
  if (cfg->capsResult != MMSYSERR_NOERROR) return cfg->capsResult;
  std::memset(caps, 0, sizeof(*caps));
  const std::string name = id == MapperId ? std::string("Simulated mapper") : cfg->name;
  std::strncpy(caps->szPname, name.c_str(), sizeof(caps->szPname) - 1);
  caps->dwFormats = cfg->formats;
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}

MMRESULT SimCaptureBackend::GetErrorText(MMRESULT error, char* text, uint32_t size) {
  const char* t = nullptr;
  if (!CommonCaptureErrorText(error, t) || size == 0) return MMSYSERR_BADDEVICEID;
  std::strncpy(text, t, size - 1);
  text[size - 1] = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT SimCaptureBackend::Open(HWAVEIN* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                                 CaptureClient* client, uint32_t flags) {
  const SimDeviceConfig* cfg = Config(id);
  if (!cfg) return MMSYSERR_BADDEVICEID;
  if (!format) return MMSYSERR_INVALPARAM;
  if (flags & WAVE_FORMAT_QUERY) return cfg->queryResult;
  if (cfg->openResult != MMSYSERR_NOERROR) return cfg->openResult;
  if (format->wFormatTag != WAVE_FORMAT_PCM) return WAVERR_BADFORMAT;
  *handle = AddOpening(std::make_unique<SimSource>(*cfg, *format, created_), client, id, cfg->paced,
                       cfg->sendOpenNotice, cfg->sendCloseNotice);
  return MMSYSERR_NOERROR;
}

MMRESULT SimCaptureBackend::Refusal(TMMDeviceId id, Operation op) {
  const SimDeviceConfig* cfg = Config(id);
  if (!cfg) return MMSYSERR_NOERROR;
  switch (op) {
    case Operation::Prepare:
      return cfg->prepareResult;
    case Operation::AddBuffer:
      return cfg->addBufferResult;
    case Operation::Start:
      return cfg->startResult;
    case Operation::Stop:
      return cfg->stopResult;
  }
  return MMSYSERR_NOERROR;
}

size_t SimCaptureBackend::Step(HWAVEIN handle, uint32_t bytes) {
  CaptureStream* stream = StreamOf(handle);
  TMMDeviceId id = 0;
  if (!stream || !DeviceOf(handle, id) || Config(id)->paced) return 0;
  static_cast<SimSource&>(stream->Source()).Produce(bytes);
  return stream->Pump();
}

uint64_t SimCaptureBackend::LostBytes(HWAVEIN handle) {
  CaptureStream* stream = StreamOf(handle);
  return stream ? static_cast<SimSource&>(stream->Source()).Lost() : 0;
}

size_t SimCaptureBackend::QueuedBuffers(HWAVEIN handle) {
  CaptureStream* stream = StreamOf(handle);
  return stream ? stream->QueuedBuffers() : 0;
}
