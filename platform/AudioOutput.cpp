#include "platform/AudioOutput.h"

#include <alsa/asoundlib.h>

#include <thread>

namespace {

class AlsaOutput final : public AudioOutput {
 public:
  explicit AlsaOutput(std::string device) : device_(std::move(device)) {}
  ~AlsaOutput() override { Close(); }

  bool Open(long rate, int channels) override {
    if (pcm_ && rate == rate_ && channels == channels_) return true;
    Close();
    if (snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, 0) < 0) {
      pcm_ = nullptr;
      return false;
    }
    // A quarter of a second queued: short enough that a seek or a pause is heard at once.
    if (snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                           static_cast<unsigned>(channels), static_cast<unsigned>(rate), 1,
                           250000) < 0) {
      Close();
      return false;
    }
    rate_ = rate;
    channels_ = channels;
    return true;
  }

  long Write(const int16_t* pcm, long frames) override {
    if (!pcm_) return -1;
    long done = 0;
    while (done < frames) {
      snd_pcm_sframes_t n = snd_pcm_writei(pcm_, pcm + done * channels_,
                                           static_cast<snd_pcm_uframes_t>(frames - done));
      if (n < 0) n = snd_pcm_recover(pcm_, static_cast<int>(n), 1);  // an underrun: go on
      if (n < 0) return done > 0 ? done : n;
      done += n;
    }
    return done;
  }

  long Delay() override {
    snd_pcm_sframes_t d = 0;
    if (!pcm_ || snd_pcm_delay(pcm_, &d) < 0 || d < 0) return 0;
    return static_cast<long>(d);
  }

  void Drop() override {
    if (!pcm_) return;
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
  }

  void Close() override {
    if (pcm_) {
      snd_pcm_drain(pcm_);
      snd_pcm_close(pcm_);
    }
    pcm_ = nullptr;
  }

 private:
  const std::string device_;
  snd_pcm_t* pcm_ = nullptr;
  long rate_ = 0;
  int channels_ = 0;
};

}  // namespace

std::unique_ptr<AudioOutput> MakeAlsaOutput(const std::string& device) {
  return std::make_unique<AlsaOutput>(device);
}

bool SilentOutput::Open(long rate, int channels) {
  std::lock_guard<std::mutex> lk(m_);
  rate_ = rate;
  channels_ = channels;
  return rate > 0 && channels > 0;
}

long SilentOutput::Write(const int16_t* pcm, long frames) {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (first_) {
      firstAt_ = std::chrono::steady_clock::now();
      first_ = false;
    }
    if (keep_) taken_.insert(taken_.end(), pcm, pcm + frames * channels_);
    framesTaken_ += frames;
  }
  if (speed_ > 0)
    std::this_thread::sleep_for(std::chrono::duration<double>(static_cast<double>(frames) /
                                                              static_cast<double>(rate_) / speed_));
  return frames;
}

long SilentOutput::Delay() {
  return 0;
}

void SilentOutput::Drop() {
  std::lock_guard<std::mutex> lk(m_);
  taken_.clear();
  first_ = true;
}

std::vector<int16_t> SilentOutput::Taken() {
  std::lock_guard<std::mutex> lk(m_);
  return taken_;
}

std::chrono::steady_clock::time_point SilentOutput::FirstTakenAt() {
  std::lock_guard<std::mutex> lk(m_);
  return firstAt_;
}

int64_t SilentOutput::FramesTaken() {
  std::lock_guard<std::mutex> lk(m_);
  return framesTaken_;
}
