#include "platform/MediaPlayer.h"

#include <mpg123.h>

#include <QMetaObject>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr long kChunkFrames = 1152;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::once_flag g_mpg123Init;

}  // namespace

struct MediaPlayer::Decoder {
  mpg123_handle* mh = nullptr;
  long rate = 0;
  int channels = 0;
  ~Decoder() {
    if (mh) {
      mpg123_close(mh);
      mpg123_delete(mh);
    }
  }
};

MediaPlayer::MediaPlayer(std::unique_ptr<AudioOutput> output) : output_(std::move(output)) {
  std::call_once(g_mpg123Init, [] { mpg123_init(); });
  thread_ = std::thread([this] { Loop(); });
}

MediaPlayer::~MediaPlayer() {
  {
    std::lock_guard<std::mutex> lk(m_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
  decoder_.reset();
  if (output_) output_->Close();
}

void MediaPlayer::Post(std::function<void()> f) {
  // Dropped when the control is gone by then.
  QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void MediaPlayer::SetFileName(const std::string& path) {
  fileName_ = path;
  {
    std::lock_guard<std::mutex> lk(m_);
    openPath_ = path;
    openPending_ = true;
    seekFrame_ = -1;
    pausePending_ = stopPending_ = false;
  }
  cv_.notify_all();
}

double MediaPlayer::Duration() const {
  const long rate = rate_;
  return rate > 0 ? static_cast<double>(length_) / static_cast<double>(rate) : 0.0;
}

double MediaPlayer::CurrentPosition() const {
  const long rate = rate_;
  if (rate <= 0) return 0.0;
  const int64_t written = written_;
  int64_t heard = written - delay_;
  if (state_ == State::Playing || state_ == State::Ended) {
    // The output plays on between two writes.
    const int64_t since = NowNs() - writtenAt_;
    heard += static_cast<int64_t>(static_cast<double>(since) * 1e-9 * static_cast<double>(rate));
    heard = std::min(heard, written);
  }
  return static_cast<double>(std::max<int64_t>(heard, 0)) / static_cast<double>(rate);
}

void MediaPlayer::SetCurrentPosition(double seconds) {
  const long rate = rate_;
  const int64_t frame =
      std::clamp<int64_t>(std::llround(seconds * static_cast<double>(rate)), 0, length_.load());
  {
    std::lock_guard<std::mutex> lk(m_);
    seekFrame_ = frame;
    // Read back at once, as the position asked for, while the thread gets there.
    written_ = frame;
    delay_ = 0;
    writtenAt_ = NowNs();
  }
  cv_.notify_all();
}

void MediaPlayer::Run() {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (state_ == State::Paused || state_ == State::Stopped) state_ = State::Playing;
  }
  cv_.notify_all();
}

void MediaPlayer::Pause() {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (state_ == State::Playing) pausePending_ = true;
  }
  cv_.notify_all();
}

void MediaPlayer::Stop() {
  {
    std::lock_guard<std::mutex> lk(m_);
    stopPending_ = true;
    openPending_ = false;
  }
  cv_.notify_all();
}

bool MediaPlayer::OpenFile(const std::string& path) {
  decoder_.reset();
  auto d = std::make_unique<Decoder>();
  int err = MPG123_OK;
  d->mh = mpg123_new(nullptr, &err);
  if (!d->mh) return false;
  // No gapless trimming: the length and every position count the stream's own samples.
  mpg123_param(d->mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
  mpg123_param(d->mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  mpg123_format_none(d->mh);
  const long* rates = nullptr;
  size_t count = 0;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i)
    mpg123_format(d->mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  int encoding = 0;
  // The scan reads the whole file once: the exact length, and the index that makes seeks
  // exact and fast.
  if (mpg123_open(d->mh, path.c_str()) != MPG123_OK || mpg123_scan(d->mh) != MPG123_OK ||
      mpg123_getformat(d->mh, &d->rate, &d->channels, &encoding) != MPG123_OK || d->channels < 1 ||
      d->channels > 2)
    return false;
  const off_t length = mpg123_length(d->mh);
  if (length < 0 || !output_->Open(d->rate, d->channels)) return false;
  output_->Drop();
  rate_ = d->rate;
  length_ = length;
  written_ = 0;
  delay_ = 0;
  writtenAt_ = NowNs();
  decoder_ = std::move(d);
  return true;
}

void MediaPlayer::SeekTo(int64_t frame) {
  if (!decoder_) return;
  output_->Drop();
  const off_t at = mpg123_seek(decoder_->mh, static_cast<off_t>(frame), SEEK_SET);
  written_ = at >= 0 ? at : 0;
  delay_ = 0;
  writtenAt_ = NowNs();
}

void MediaPlayer::Loop() {
  std::vector<int16_t> pcm(static_cast<size_t>(kChunkFrames) * 2);
  std::unique_lock<std::mutex> lk(m_);
  for (;;) {
    cv_.wait_for(lk, std::chrono::milliseconds(state_ == State::Ended ? 20 : 1000), [this] {
      return quit_ || openPending_ || seekFrame_ >= 0 || pausePending_ || stopPending_ ||
             (state_ == State::Playing && decoder_);
    });
    if (quit_) break;
    if (openPending_) {
      const std::string path = openPath_;
      openPending_ = false;
      state_ = State::Idle;
      lk.unlock();
      const bool ok = OpenFile(path);
      lk.lock();
      if (ok) {
        // It starts by itself, once the open has been told: a position set on hearing of it
        // is where the first sound comes from, with no blip of the file's start before.
        state_ = State::Opened;
        Post([this] {
          if (OnOpenComplete) OnOpenComplete();
          {
            std::lock_guard<std::mutex> lk(m_);
            if (state_ == State::Opened) state_ = State::Playing;
          }
          cv_.notify_all();
        });
      } else {
        Post([this, path] {
          if (OnError) OnError("Unable to open " + path);
        });
      }
      continue;
    }
    if (stopPending_) {
      stopPending_ = false;
      state_ = State::Stopped;
      lk.unlock();
      SeekTo(0);
      lk.lock();
      continue;
    }
    if (seekFrame_ >= 0) {
      const int64_t frame = seekFrame_;
      seekFrame_ = -1;
      if (state_ == State::Ended) state_ = State::Playing;
      lk.unlock();
      SeekTo(frame);
      lk.lock();
      continue;
    }
    if (pausePending_) {
      pausePending_ = false;
      state_ = State::Paused;
      // Kept where the listener is: what waited in the output is played again on Run.
      const int64_t heard = written_ - output_->Delay();
      lk.unlock();
      SeekTo(std::max<int64_t>(heard, 0));
      lk.lock();
      continue;
    }
    if (state_ == State::Ended) {
      // The output plays out what it holds; then the position stands at the end.
      lk.unlock();
      delay_ = output_->Delay();
      writtenAt_ = NowNs();
      lk.lock();
      continue;
    }
    if (state_ != State::Playing || !decoder_) continue;
    lk.unlock();
    size_t bytes = 0;
    const int r = mpg123_read(decoder_->mh, reinterpret_cast<unsigned char*>(pcm.data()),
                              pcm.size() * sizeof(int16_t), &bytes);
    const long frames = static_cast<long>(bytes / sizeof(int16_t)) / decoder_->channels;
    if (frames > 0 && output_->Write(pcm.data(), frames) > 0) {
      written_ += frames;
      delay_ = output_->Delay();
      writtenAt_ = NowNs();
    }
    lk.lock();
    if (r == MPG123_DONE || (r != MPG123_OK && r != MPG123_NEW_FORMAT && frames == 0)) {
      written_ = length_.load();
      state_ = State::Ended;
    }
  }
}
