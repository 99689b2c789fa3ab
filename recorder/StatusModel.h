#pragma once
// What the window's status area shows while stations record: the running time (hours, minutes
// and seconds of the day, and whole days) and the disk figures of the watched station. Every
// buffer of every station comes here, up to 350 a second: the figures are computed when their
// second or their query changes, and the view is told only what changed.

#include <chrono>
#include <cstdint>
#include <string>

#include "recorder/RecorderEnvironment.h"
#include "recorder/StationChains.h"

class TFrmGravarView;

// hh:mm:ss of a running time, the hours within a day.
std::string FormatElapsed(std::chrono::milliseconds elapsed);

class StatusModel {
 public:
  StatusModel(const StationChains& chains, const RecorderEnvironment& env, TFrmGravarView& view);

  // A segment starts: its running time counts from now.
  void BeginSegment(WallTime now) { segmentStart_ = now; }
  // A segment ends (rotation or stop): its time joins the time of the earlier ones.
  void EndSegment() { elapsedBefore_ += lastSegmentElapsed_; }

  // A buffer of any station at `now`: the running time, and the day roll-over. True for the
  // first buffer that comes while the clock reads 23:59:59 (the end-of-day maintenance's).
  bool Buffer(WallTime now);

  // The watched station's disk figures, queried now.
  void RefreshDiskSpace(int station);
  // The same unless the last query, of that station, is younger than a quarter of a second.
  void RefreshDiskSpaceIfOld(int station, WallTime now);

  const std::string& ElapsedText() const { return elapsedText_; }
  int DayCount() const { return dayCount_; }
  bool EndOfDayDone() const { return endOfDayDone_; }
  int64_t FreeMB() const { return freeMB_; }
  bool SpaceKnown() const { return spaceKnown_; }

  static constexpr std::chrono::milliseconds kDiskQueryAge{250};

 private:
  const StationChains& chains_;
  const RecorderEnvironment& env_;
  TFrmGravarView& view_;

  WallTime segmentStart_{};
  std::chrono::milliseconds lastSegmentElapsed_{0};
  std::chrono::milliseconds elapsedBefore_{0};
  int dayCount_ = 0;
  bool endOfDayDone_ = false;
  std::string elapsedText_ = "00:00:00";
  long long elapsedSecond_ = -1;
  std::chrono::time_point<std::chrono::system_clock, std::chrono::seconds> clockSecond_{};
  std::string shownElapsed_;
  int shownDays_ = -1;

  int64_t freeMB_ = 0;
  bool spaceKnown_ = false;
  WallTime diskQueried_{};
  int diskStation_ = -1;
  int64_t shownFreeMB_ = -1, shownUsedMB_ = -1;
  int shownPercent_ = -2;
};
