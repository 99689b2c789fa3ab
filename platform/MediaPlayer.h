#pragma once
// The player's media control: a recording opened by name and played on a thread of its own,
// decoded by libmpg123 into an audio output. It starts by itself once the file is open and
// tells so on the user-interface thread; the position of what is being heard is read and set
// in seconds, exact to the sample.

#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/AudioOutput.h"

class MediaPlayer : public QObject {
 public:
  explicit MediaPlayer(std::unique_ptr<AudioOutput> output);
  ~MediaPlayer() override;
  MediaPlayer(const MediaPlayer&) = delete;
  MediaPlayer& operator=(const MediaPlayer&) = delete;

  // Opens the file and plays it from its start; OnOpenComplete comes once it is open, OnError
  // when it cannot be opened. Empty until a file is given.
  void SetFileName(const std::string& path);
  const std::string& FileName() const { return fileName_; }
  // Seconds into the file of what is being heard; writing it seeks.
  double CurrentPosition() const;
  void SetCurrentPosition(double seconds);
  // Length of the open file in seconds; the play range ends there.
  double Duration() const;
  double SelectionEnd() const { return Duration(); }
  void Run();
  void Pause();
  void Stop();
  bool Playing() const { return state_ == State::Playing; }

  // On the user-interface thread.
  std::function<void()> OnOpenComplete;
  std::function<void(const std::string&)> OnError;

 private:
  enum class State { Idle, Opened, Playing, Paused, Stopped, Ended };
  struct Decoder;

  void Loop();
  // On the player's thread.
  bool OpenFile(const std::string& path);
  void SeekTo(int64_t frame);
  void Post(std::function<void()> f);

  std::unique_ptr<AudioOutput> output_;
  std::unique_ptr<Decoder> decoder_;
  std::string fileName_;

  mutable std::mutex m_;
  std::condition_variable cv_;
  bool quit_ = false;
  std::string openPath_;
  bool openPending_ = false;
  int64_t seekFrame_ = -1;
  bool pausePending_ = false;
  bool stopPending_ = false;

  // Read by the user-interface thread.
  std::atomic<State> state_{State::Idle};
  std::atomic<long> rate_{44100};
  std::atomic<int64_t> length_{0};     // frames
  std::atomic<int64_t> written_{0};    // frames handed to the output
  std::atomic<int64_t> delay_{0};      // of them, not heard yet at the last write
  std::atomic<int64_t> writtenAt_{0};  // steady clock, ns, of the last write

  std::thread thread_;
};
