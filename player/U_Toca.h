#pragma once
// The player's window logic, as the handlers its window names: loading the stations, the
// lookup of "Play", and the playback through the media control with its clock, slider, pause,
// stop and the follow-on to the next recording of the day. The window (pixels) is a view this
// logic tells what to show; tests drive it without one.

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "common/WallClock.h"
#include "platform/AudioOutput.h"
#include "platform/MediaPlayer.h"
#include "player/RecordingLookup.h"

constexpr const char* kPlayerTitle = "Kravo Tralven Sorvantelique (Player)";

// What the logic shows and asks of the window. Every member has a harmless default.
class TFrmPlayView {
 public:
  virtual ~TFrmPlayView() = default;
  // The selected station: its name as stored (blank when unnamed) and its folder.
  virtual void ShowStation(int /*index*/, const std::string& /*name*/,
                           const std::string& /*folder*/, int /*lastIndex*/) {}
  virtual void ShowClock(const std::string& /*hhmmss*/) {}
  virtual void ShowSlider(int /*percent*/) {}
  virtual void EnablePlay(bool /*enabled*/) {}
  // A message for the user: a box on a desktop, a line on standard error without one.
  virtual void ShowMessage(const std::string& text);
};

class TFrmPlay : public QObject {
 public:
  // `iniPath` is cfg.ini beside the executable; `output` where the sound goes.
  TFrmPlay(std::string iniPath, std::unique_ptr<AudioOutput> output, TFrmPlayView* view = nullptr);
  ~TFrmPlay() override;

  // The folder field's design default: the same tail under the user's home folder.
  static std::string DefaultFolder();

  void FormCreate();
  // Each time the window is shown (the view sets its calendar to today).
  void FormShow();
  void SpinRadioChange(int value);
  // Leaving the folder field: its text becomes the station's LocalPlay.
  void DiretorioExit(const std::string& folder);
  // "Play": the recording of that day, hour and minute in `folder` (the folder field).
  void BTocarClick(const LocalTime& day, int hour, int minute, const std::string& folder);
  void AM_MusicaOpenComplete();
  void TimerMusicaTimer();
  void BStopClick();
  void BPausaClick();
  void TBProgressMusicaTrack();
  void TBProgressMusicaTrackEnd(int position);
  // The slider's hint for a position: "50%".
  static std::string TBProgressMusicaChange(int position);

  // State, for the window and tests.
  MediaPlayer& Media() { return media_; }
  RecordingLookup& Lookup() { return lookup_; }
  QTimer& TimerMusica() { return timerMusica_; }
  int CurrentStation() const { return station_; }
  bool FileOpened() const { return fileOpened_; }
  bool UserStarted() const { return userStarted_; }
  bool PlaybackPaused() const { return playbackPaused_; }
  bool Dragging() const { return dragging_; }
  DaySeconds DisplayBase() const { return displayBase_; }
  const std::string& Clock() const { return clock_; }

 private:
  void ShowClock(const std::string& text);
  void Open(const std::string& path);

  std::string iniPath_;
  TFrmPlayView defaultView_;
  TFrmPlayView* view_;
  RecordingLookup lookup_;
  MediaPlayer media_;
  QTimer timerMusica_;

  int station_ = 0;
  std::string folder_;  // of the recording being played
  bool fileOpened_ = false;
  bool dragging_ = false;
  bool userStarted_ = false;
  bool playbackPaused_ = false;
  DaySeconds displayBase_ = 0;
  DaySeconds targetTime_ = 0;
  int hour_ = 0;
  std::string clock_ = "00:00:00";
};

// hh:mm:ss of a time of day; wraps after midnight.
std::string ClockText(long long seconds);
