#include "platform/AlsaCapture.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "platform/CaptureStream.h"

namespace {

// ALSA's negative error numbers become result codes above the common ones.
constexpr MMRESULT kAlsaErrorBase = 0x10000;
constexpr MMRESULT kAlsaErrorEnd = kAlsaErrorBase + 0x100000;  // beyond ALSA's own numbers too

MMRESULT AlsaResult(int err) {
  return kAlsaErrorBase + static_cast<MMRESULT>(-err);
}

constexpr const char* kDefaultPcm = "default";
constexpr const char* kMapperName = "ALSA default device";
constexpr unsigned kRingMs = 2000;
constexpr unsigned kPeriodUs = 100000;
// A split frame is kept between reads; no format the backend accepts has a larger frame.
constexpr uint32_t kMaxChannels = 32;
constexpr uint32_t kMaxFrameBytes = kMaxChannels * 2;

std::string Cut(std::string s) {
  if (s.size() > 31) s.resize(31);
  return s;
}

// Holds a string ALSA allocated with malloc.
struct AlsaString {
  char* p = nullptr;
  ~AlsaString() { std::free(p); }
  std::string Str() const { return p ? p : ""; }
};

// The first device of the card that records, or -1.
int FirstCaptureDevice(int card) {
  snd_ctl_t* ctl = nullptr;
  const std::string name = "hw:" + std::to_string(card);
  if (snd_ctl_open(&ctl, name.c_str(), 0) < 0) return -1;
  snd_pcm_info_t* info = nullptr;
  snd_pcm_info_alloca(&info);
  int found = -1;
  int dev = -1;
  while (found < 0 && snd_ctl_pcm_next_device(ctl, &dev) >= 0 && dev >= 0) {
    snd_pcm_info_set_device(info, static_cast<unsigned>(dev));
    snd_pcm_info_set_subdevice(info, 0);
    snd_pcm_info_set_stream(info, SND_PCM_STREAM_CAPTURE);
    if (snd_ctl_pcm_info(ctl, info) >= 0) found = dev;
  }
  snd_ctl_close(ctl);
  return found;
}

bool ExcludedPcm(const std::string& name) {
  // Per-card aliases carry a colon; the rest are no input of their own but wrap default.
  static const char* const kExcluded[] = {"default",   "null",  "lavrate", "samplerate",
                                          "speexrate", "speex", "upmix",   "vdownmix"};
  if (name.empty() || name.find(':') != std::string::npos) return true;
  return std::any_of(std::begin(kExcluded), std::end(kExcluded),
                     [&](const char* e) { return name == e; });
}

std::vector<AlsaCaptureBackend::DeviceInfo> Enumerate() {
  std::vector<AlsaCaptureBackend::DeviceInfo> out;
  int card = -1;
  while (snd_card_next(&card) >= 0 && card >= 0) {
    // Device 0 in the usual case; a card whose first recording device is another still records.
    const int dev = FirstCaptureDevice(card);
    if (dev < 0) continue;
    AlsaString name;
    std::string shown = "Card " + std::to_string(card);
    if (snd_card_get_name(card, &name.p) >= 0 && name.p) shown = name.Str();
    out.push_back({"plughw:" + std::to_string(card) + "," + std::to_string(dev), Cut(shown), card});
  }
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) >= 0 && hints) {
    for (void** h = hints; *h; ++h) {
      AlsaString name{snd_device_name_get_hint(*h, "NAME")};
      AlsaString desc{snd_device_name_get_hint(*h, "DESC")};
      AlsaString ioid{snd_device_name_get_hint(*h, "IOID")};
      if (ioid.p && std::strcmp(ioid.p, "Input") != 0) continue;
      const std::string pcm = name.Str();
      if (ExcludedPcm(pcm)) continue;
      std::string shown = desc.Str();
      shown = shown.substr(0, shown.find('\n'));
      if (shown.empty()) shown = pcm;
      out.push_back({pcm, Cut(shown), -1});
    }
    snd_device_name_free_hint(hints);
  }
  return out;
}

struct PcmFormat {
  snd_pcm_format_t format;
  unsigned channels;
  unsigned rate;
  uint32_t frameBytes;
};

bool ToPcmFormat(const WAVEFORMATEX& f, PcmFormat& out) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nChannels == 0 || f.nChannels > kMaxChannels || f.nSamplesPerSec == 0) return false;
  out.format = f.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
  out.channels = f.nChannels;
  out.rate = f.nSamplesPerSec;
  out.frameBytes = f.nChannels * f.wBitsPerSample / 8u;
  return true;
}

// Restricts hw params to the format; false when the device cannot record it.
bool RestrictFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, const PcmFormat& f) {
  if (snd_pcm_hw_params_any(pcm, hw) < 0) return false;
  if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return false;
  if (snd_pcm_hw_params_set_format(pcm, hw, f.format) < 0) return false;
  if (snd_pcm_hw_params_set_channels(pcm, hw, f.channels) < 0) return false;
  unsigned rate = f.rate;
  if (snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr) < 0) return false;
  return rate == f.rate;
}

// A ring of at least kRingMs, so that a busy user interface delays buffers without losing
// audio; a device that cannot hold that much gets the largest ring it has.
int SetRing(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, unsigned rate) {
  snd_pcm_uframes_t want = static_cast<snd_pcm_uframes_t>(rate) * kRingMs / 1000;
  snd_pcm_uframes_t most = 0;
  int err = snd_pcm_hw_params_get_buffer_size_max(hw, &most);
  if (err < 0) return err;
  if (most >= want) {
    err = snd_pcm_hw_params_set_buffer_size_min(pcm, hw, &want);
    if (err < 0) return err;
    unsigned us = kRingMs * 1000 + kRingMs * 250;  // headroom over the minimum
    err = snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &us, nullptr);
  } else {
    err = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &most);
  }
  if (err < 0) return err;
  unsigned period = kPeriodUs;
  return snd_pcm_hw_params_set_period_time_near(pcm, hw, &period, nullptr);
}

// Opens the PCM for capture and sets it up for the format; WAVERR_BADFORMAT when the device
// cannot record it exactly.
MMRESULT OpenPcm(const std::string& name, const PcmFormat& f, snd_pcm_t** out,
                 snd_pcm_uframes_t* period, snd_pcm_uframes_t* ring = nullptr) {
  snd_pcm_t* pcm = nullptr;
  // Non-blocking: a device in use fails at once instead of holding up the caller.
  int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0) return AlsaResult(err);
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  MMRESULT r = MMSYSERR_NOERROR;
  if (!RestrictFormat(pcm, hw, f)) {
    r = WAVERR_BADFORMAT;
  } else if (period) {
    if ((err = SetRing(pcm, hw, f.rate)) < 0 || (err = snd_pcm_hw_params(pcm, hw)) < 0) {
      r = AlsaResult(err);
    } else {
      snd_pcm_uframes_t frames = 0;
      snd_pcm_sw_params_t* sw = nullptr;
      snd_pcm_sw_params_alloca(&sw);
      snd_pcm_uframes_t boundary = 0;
      // Started explicitly by Start, not by the first read.
      if ((err = snd_pcm_get_params(pcm, &frames, period)) < 0 ||
          (err = snd_pcm_sw_params_current(pcm, sw)) < 0 ||
          (err = snd_pcm_sw_params_get_boundary(sw, &boundary)) < 0 ||
          (err = snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary)) < 0 ||
          (err = snd_pcm_sw_params_set_avail_min(pcm, sw, *period)) < 0 ||
          (err = snd_pcm_sw_params(pcm, sw)) < 0)
        r = AlsaResult(err);
      if (ring) *ring = frames;
    }
  }
  if (r != MMSYSERR_NOERROR || !out) {
    snd_pcm_close(pcm);
  } else {
    *out = pcm;
  }
  return r;
}

class AlsaSource : public CaptureSource {
 public:
  AlsaSource(snd_pcm_t* pcm, std::string name, const PcmFormat& format, snd_pcm_uframes_t period,
             snd_pcm_uframes_t ring)
      : pcm_(pcm),
        name_(std::move(name)),
        format_(format),
        frameBytes_(format.frameBytes),
        period_(std::max<snd_pcm_uframes_t>(period, 1)),
        ring_(ring) {}
  ~AlsaSource() override {
    Release();
    if (interrupt_ >= 0) close(interrupt_);
  }

  void Interrupt() override {
    const uint64_t one = 1;
    if (interrupt_ >= 0) [[maybe_unused]]
      const ssize_t n = write(interrupt_, &one, sizeof one);
  }

  // Closes the device once the stream no longer reads from it.
  void Release() {
    if (pcm_) snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }

  uint64_t TakeOverrunFrames() override { return std::exchange(overrunFrames_, 0); }

  // The device went away (a USB card pulled, a sound server restarted): a fresh opening of
  // the same PCM, set up as before.
  bool Reopen() override {
    Release();
    carryPos_ = carryLen_ = 0;
    snd_pcm_t* pcm = nullptr;
    snd_pcm_uframes_t period = 0, ring = 0;
    if (OpenPcm(name_, format_, &pcm, &period, &ring) != MMSYSERR_NOERROR) return false;
    pcm_ = pcm;
    period_ = std::max<snd_pcm_uframes_t>(period, 1);
    ring_ = ring;
    return Begin() == MMSYSERR_NOERROR;
  }

  MMRESULT Begin() override {
    if (!pcm_) return MMSYSERR_INVALHANDLE;
    ClearInterrupt();  // a stop's, left from before
    int err = snd_pcm_prepare(pcm_);
    if (err >= 0) err = snd_pcm_start(pcm_);
    return err < 0 ? AlsaResult(err) : MMSYSERR_NOERROR;
  }

  void Halt() override {
    if (pcm_) snd_pcm_drop(pcm_);
  }

  long Read(char* dst, uint32_t bytes, int timeoutMs) override {
    if (!pcm_ || bytes == 0) return 0;
    uint32_t done = TakeCarry(dst, bytes);
    if (done == bytes) return done;
    dst += done;
    bytes -= done;
    if (bytes < frameBytes_) {
      // The buffer ends inside a frame: read the frame aside and hand out its head now,
      // its tail at the start of the next buffer.
      const long n = ReadFrames(carry_, 1, timeoutMs);
      if (n <= 0) return done > 0 ? static_cast<long>(done) : n;
      carryPos_ = 0;
      carryLen_ = frameBytes_;
      return done + TakeCarry(dst, bytes);
    }
    // One period at a time: Stop and Reset wait for a read in progress, which must stay
    // short even on a device that is not paced.
    const snd_pcm_uframes_t frames = std::min<snd_pcm_uframes_t>(bytes / frameBytes_, period_);
    const long n = ReadFrames(dst, frames, done > 0 ? 0 : timeoutMs);
    if (n <= 0) return done > 0 ? static_cast<long>(done) : n;
    return done + static_cast<uint32_t>(n) * frameBytes_;
  }

 private:
  uint32_t TakeCarry(char* dst, uint32_t bytes) {
    const uint32_t n = std::min(bytes, carryLen_ - carryPos_);
    std::memcpy(dst, carry_ + carryPos_, n);
    carryPos_ += n;
    if (carryPos_ == carryLen_) carryPos_ = carryLen_ = 0;
    return n;
  }

  void ClearInterrupt() {
    uint64_t count = 0;
    if (interrupt_ >= 0) [[maybe_unused]]
      const ssize_t n = read(interrupt_, &count, sizeof count);
  }

  // Until the device has a period or the stream interrupts: the device's own descriptors and
  // the interrupt's, polled together.
  void Wait(int timeoutMs) {
    constexpr int kMost = 15;
    pollfd fds[kMost + 1];
    const int count = std::clamp(snd_pcm_poll_descriptors_count(pcm_), 0, kMost);
    const int n = count > 0 ? snd_pcm_poll_descriptors(pcm_, fds, count) : 0;
    if (n <= 0 || interrupt_ < 0) {
      snd_pcm_wait(pcm_, std::min(timeoutMs, 10));
      return;
    }
    fds[n] = {interrupt_, POLLIN, 0};
    if (poll(fds, static_cast<nfds_t>(n + 1), timeoutMs) <= 0) return;
    if (fds[n].revents & POLLIN) ClearInterrupt();
    // Plugins keep state behind their descriptors: they are told what poll saw.
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm_, fds, static_cast<unsigned>(n), &revents);
  }

  // Frames read, 0 when none arrived in time or after an overrun, or a negative ALSA error.
  long ReadFrames(char* dst, snd_pcm_uframes_t frames, int timeoutMs) {
    snd_pcm_sframes_t n = snd_pcm_readi(pcm_, dst, frames);
    if (n == -EAGAIN) {
      if (timeoutMs <= 0) return 0;
      Wait(timeoutMs);
      n = snd_pcm_readi(pcm_, dst, frames);
      if (n == -EAGAIN) return 0;
    }
    if (n == -EPIPE || n == -ESTRPIPE) {
      // Overrun or suspend: the ring's audio is gone; capture on from now. A device that
      // cannot be restarted is gone itself (a sound server that ended reads as an overrun).
      const uint64_t lost = LostInOverrun();
      int err = snd_pcm_prepare(pcm_);
      if (err >= 0) err = snd_pcm_start(pcm_);
      if (err < 0) return err;
      overrunFrames_ += lost;
      return 0;
    }
    return static_cast<long>(n);
  }

  // What an overrun cost: the full ring, which a restart drops, and what played from the
  // overrun until now.
  uint64_t LostInOverrun() {
    uint64_t lost = ring_;
    snd_pcm_status_t* st = nullptr;
    snd_pcm_status_alloca(&st);
    if (snd_pcm_status(pcm_, st) >= 0) {
      snd_timestamp_t now{}, at{};
      snd_pcm_status_get_tstamp(st, &now);
      snd_pcm_status_get_trigger_tstamp(st, &at);
      const double since = static_cast<double>(now.tv_sec - at.tv_sec) +
                           static_cast<double>(now.tv_usec - at.tv_usec) / 1e6;
      if (since > 0 && since < 86400) lost += static_cast<uint64_t>(since * format_.rate);
    }
    return lost;
  }

  snd_pcm_t* pcm_;
  const int interrupt_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const std::string name_;
  const PcmFormat format_;
  const uint32_t frameBytes_;
  snd_pcm_uframes_t period_;
  snd_pcm_uframes_t ring_;
  uint64_t overrunFrames_ = 0;
  char carry_[kMaxFrameBytes] = {};
  uint32_t carryPos_ = 0;
  uint32_t carryLen_ = 0;
};

}  // namespace

struct AlsaCaptureBackend::Impl {
  std::mutex m;
  bool scanned = false;
  std::vector<DeviceInfo> devices;

  // Lock held.
  const std::vector<DeviceInfo>& Scanned() {
    if (!scanned) {
      devices = Enumerate();
      scanned = true;
    }
    return devices;
  }
};

AlsaCaptureBackend::AlsaCaptureBackend() : impl_(std::make_unique<Impl>()) {}

AlsaCaptureBackend::~AlsaCaptureBackend() = default;

std::vector<AlsaCaptureBackend::DeviceInfo> AlsaCaptureBackend::Devices() {
  std::lock_guard<std::mutex> lk(impl_->m);
  return impl_->Scanned();
}

void AlsaCaptureBackend::Rescan() {
  auto devices = Enumerate();
  std::lock_guard<std::mutex> lk(impl_->m);
  impl_->devices = std::move(devices);
  impl_->scanned = true;
}

bool AlsaCaptureBackend::Lookup(TMMDeviceId id, DeviceInfo& out) {
  if (id == MapperId) {
    out = {kDefaultPcm, kMapperName, -1};
    return true;
  }
  std::lock_guard<std::mutex> lk(impl_->m);
  const auto& devices = impl_->Scanned();
  if (id < 0 || id >= static_cast<TMMDeviceId>(devices.size())) return false;
  out = devices[static_cast<size_t>(id)];
  return true;
}

uint32_t AlsaCaptureBackend::GetNumDevs() {
  std::lock_guard<std::mutex> lk(impl_->m);
  return static_cast<uint32_t>(impl_->Scanned().size());
}

MMRESULT AlsaCaptureBackend::GetDevCaps(TMMDeviceId id, WAVEINCAPS* caps) {
  DeviceInfo dev;
  if (!Lookup(id, dev)) return MMSYSERR_BADDEVICEID;
  if (!caps) return MMSYSERR_INVALPARAM;
  std::memset(caps, 0, sizeof(*caps));
  std::strncpy(caps->szPname, dev.name.c_str(), sizeof(caps->szPname) - 1);
  // The plug layers convert any standard format.
  caps->dwFormats = WAVE_FORMAT_ALL_STANDARD;
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}

MMRESULT AlsaCaptureBackend::GetErrorText(MMRESULT error, char* text, uint32_t size) {
  if (!text || size == 0) return MMSYSERR_INVALPARAM;
  const char* t = nullptr;
  if (error >= kAlsaErrorBase && error < kAlsaErrorEnd) {
    t = snd_strerror(-static_cast<int>(error - kAlsaErrorBase));
  } else if (!CommonCaptureErrorText(error, t)) {
    return MMSYSERR_INVALPARAM;
  }
  std::strncpy(text, t, size - 1);
  text[size - 1] = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT AlsaCaptureBackend::Open(HWAVEIN* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                                  CaptureClient* client, uint32_t flags) {
  DeviceInfo dev;
  if (!Lookup(id, dev)) return MMSYSERR_BADDEVICEID;
  if (!format) return MMSYSERR_INVALPARAM;
  PcmFormat f{};
  if (!ToPcmFormat(*format, f)) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return OpenPcm(dev.pcm, f, nullptr, nullptr);
  if (!handle || !client) return MMSYSERR_INVALPARAM;
  snd_pcm_t* pcm = nullptr;
  snd_pcm_uframes_t period = 0, ring = 0;
  const MMRESULT r = OpenPcm(dev.pcm, f, &pcm, &period, &ring);
  if (r != MMSYSERR_NOERROR) return r;
  *handle =
      AddOpening(std::make_unique<AlsaSource>(pcm, dev.pcm, f, period, ring), client, id, true);
  return MMSYSERR_NOERROR;
}

void AlsaCaptureBackend::Released(CaptureSource& source) {
  static_cast<AlsaSource&>(source).Release();
}

CaptureBackend& DefaultCaptureBackend() {
  static AlsaCaptureBackend backend;
  return backend;
}
