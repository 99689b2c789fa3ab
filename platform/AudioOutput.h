#pragma once
// Where the player's sound goes: ALSA's playback (the `default` device, so that PipeWire and
// PulseAudio play it) or, for tests, a silent output that takes the audio at the real rate or
// as fast as it comes, and keeps what it was given.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Ready for interleaved 16-bit PCM of this rate and channel count; false when it cannot play
  // it. Called again for a file of another format.
  virtual bool Open(long rate, int channels) = 0;
  // Plays the frames, waiting while the device is full; the frames taken, or < 0 on an error.
  virtual long Write(const int16_t* pcm, long frames) = 0;
  // Frames taken but not heard yet.
  virtual long Delay() = 0;
  // Forgets what waits to be heard (a seek, a pause, a stop).
  virtual void Drop() = 0;
  virtual void Close() = 0;
};

// ALSA's playback device of that name.
std::unique_ptr<AudioOutput> MakeAlsaOutput(const std::string& device = "default");

// Plays nothing: takes audio at `speed` times the real rate (0: at once) and keeps the frames
// it took, for tests to compare with the file.
class SilentOutput : public AudioOutput {
 public:
  explicit SilentOutput(double speed = 1.0, bool keep = false) : speed_(speed), keep_(keep) {}
  bool Open(long rate, int channels) override;
  long Write(const int16_t* pcm, long frames) override;
  long Delay() override;
  void Drop() override;
  void Close() override {}

  // What it took since the last Drop (when keeping), interleaved, and when the first of it came.
  std::vector<int16_t> Taken();
  std::chrono::steady_clock::time_point FirstTakenAt();
  int64_t FramesTaken();

 private:
  const double speed_;
  const bool keep_;
  std::mutex m_;
  long rate_ = 44100;
  int channels_ = 2;
  std::vector<int16_t> taken_;
  int64_t framesTaken_ = 0;
  std::chrono::steady_clock::time_point firstAt_{};
  bool first_ = true;
};
