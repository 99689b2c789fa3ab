#include "player/U_Toca.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/Convert.h"
#include "platform/FileOps.h"
#include "platform/MessageWindow.h"

void TFrmPlayView::ShowMessage(const std::string& text) {
  ShowApplicationError(text);
}

std::string ClockText(long long seconds) {
  seconds %= 86400;
  if (seconds < 0) seconds += 86400;
  char b[16];
  std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return b;
}

std::string TFrmPlay::DefaultFolder() {
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "") + "/Studio/Tralven/Audio";
}

TFrmPlay::TFrmPlay(std::string iniPath, std::unique_ptr<AudioOutput> output, TFrmPlayView* view)
    : iniPath_(std::move(iniPath)),
      view_(view ? view : &defaultView_),
      lookup_(iniPath_),
      media_(std::move(output)) {
  timerMusica_.setInterval(100);
  QObject::connect(&timerMusica_, &QTimer::timeout, this, [this] { TimerMusicaTimer(); });
  media_.OnOpenComplete = [this] { AM_MusicaOpenComplete(); };
  media_.OnError = [this](const std::string& text) { view_->ShowMessage(text); };
}

TFrmPlay::~TFrmPlay() {
  timerMusica_.stop();
  media_.OnOpenComplete = nullptr;
  media_.OnError = nullptr;
}

void TFrmPlay::ShowClock(const std::string& text) {
  clock_ = text;
  view_->ShowClock(text);
}

// Window events -----------------------------------------------------------------------------

void TFrmPlay::FormCreate() {
  try {
    lookup_.LoadPlayerConfiguration(DefaultFolder());
  } catch (const EConvertError& e) {
    // The window opens without station data.
    view_->ShowMessage(e.what());
  }
  SpinRadioChange(0);
}

void TFrmPlay::FormShow() {
  lookup_.ClearMidnightSearch();
}

void TFrmPlay::SpinRadioChange(int value) {
  station_ = value;
  const int last = std::max(lookup_.StationCount() - 1, 0);
  if (value >= 0 && value < lookup_.StationCount()) {
    const PlayerStation& s = lookup_.Station(value);
    view_->ShowStation(value, s.name, s.folder, last);
  } else {
    view_->ShowStation(value, "", "", last);
  }
}

void TFrmPlay::DiretorioExit(const std::string& folder) {
  lookup_.SaveStationFolder(station_, folder);
}

// Lookup ------------------------------------------------------------------------------------

void TFrmPlay::Open(const std::string& path) {
  media_.SetFileName(path);
}

void TFrmPlay::BTocarClick(const LocalTime& day, int hour, int minute, const std::string& folder) {
  userStarted_ = true;
  RecordingLookup::Result result;
  try {
    result = lookup_.Lookup(folder, day, hour, minute);
  } catch (const EConvertError& e) {
    view_->ShowMessage(e.what());  // a name whose hour or minute is no number
    return;
  }
  switch (result) {
    case RecordingLookup::Result::FolderMissing:
      view_->ShowMessage(RecordingLookup::kFolderMissing);
      return;
    case RecordingLookup::Result::NotFound:
      view_->ShowMessage(RecordingLookup::kNotFound);
      return;
    case RecordingLookup::Result::Found:
      break;
  }
  folder_ = folder;
  targetTime_ = lookup_.TargetTime();
  hour_ = hour;
  Open(JoinPath(folder, lookup_.FoundName()));
}

// Playback -----------------------------------------------------------------------------------

// The recording plays from the chosen minute exactly (not from the minute field of the
// difference, which dropped whole hours and started a minute early at midnight), and the clock
// shows the time of day being heard: the recording's start plus the position.
void TFrmPlay::AM_MusicaOpenComplete() {
  fileOpened_ = true;
  timerMusica_.start();
  view_->EnablePlay(false);
  displayBase_ = lookup_.FoundStart();
  if (!userStarted_) return;  // the next recording plays from its start
  DaySeconds offset = targetTime_ - lookup_.FoundStart();
  if (lookup_.MidnightSearch()) {
    // Begun the day before: the chosen minute lies after midnight.
    if (hour_ == 0) offset = 86400 - lookup_.FoundStart() + targetTime_;
    lookup_.ClearMidnightSearch();
  }
  media_.SetCurrentPosition(std::max(offset, 0));
  userStarted_ = false;
}

void TFrmPlay::TimerMusicaTimer() {
  const double selectionEnd = std::nearbyint(media_.SelectionEnd());
  const double position = std::nearbyint(media_.CurrentPosition());
  // A recording too short to measure gets no percentage.
  if (!dragging_)
    view_->ShowSlider(selectionEnd > 0
                          ? static_cast<int>(100 - (selectionEnd - position) * 100 / selectionEnd)
                          : 0);
  const auto p = static_cast<long long>(position);
  ShowClock(ClockText(p + displayBase_));
  if (position != std::nearbyint(media_.Duration()) || !fileOpened_) return;
  // The recording has ended: the next one that starts when it ended, or the stop.
  fileOpened_ = false;
  timerMusica_.stop();
  displayBase_ = static_cast<DaySeconds>((p + displayBase_) % 86400);
  bool found = false;
  try {
    found = lookup_.FollowOn(folder_);
  } catch (const EConvertError& e) {
    view_->ShowMessage(e.what());
  }
  if (found) {
    media_.Stop();
    Open(JoinPath(folder_, lookup_.FoundName()));
  } else {
    BStopClick();
  }
  view_->ShowSlider(0);
}

void TFrmPlay::BStopClick() {
  if (!media_.FileName().empty()) {
    media_.Stop();
    view_->EnablePlay(true);
  }
  timerMusica_.stop();
  ShowClock("00:00:00");
  view_->ShowSlider(0);
}

void TFrmPlay::BPausaClick() {
  if (!timerMusica_.isActive()) return;
  if (playbackPaused_) {
    media_.Run();
    playbackPaused_ = false;
  } else {
    media_.Pause();
    playbackPaused_ = true;
  }
}

void TFrmPlay::TBProgressMusicaTrack() {
  dragging_ = true;
}

void TFrmPlay::TBProgressMusicaTrackEnd(int position) {
  if (timerMusica_.isActive()) media_.SetCurrentPosition(position * media_.SelectionEnd() / 100);
  dragging_ = false;
}

std::string TFrmPlay::TBProgressMusicaChange(int position) {
  return std::to_string(position) + "%";
}
