#include "recorder/StatusModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "recorder/U_Grava.h"

using namespace std::chrono;

namespace {

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v % 100);
  return b;
}

}  // namespace

std::string FormatElapsed(milliseconds elapsed) {
  long long s = duration_cast<seconds>(elapsed).count();
  if (s < 0) s = 0;
  s %= 86400;
  return Two(static_cast<int>(s / 3600)) + ":" + Two(static_cast<int>(s / 60 % 60)) + ":" +
         Two(static_cast<int>(s % 60));
}

StatusModel::StatusModel(const StationChains& chains, const RecorderEnvironment& env,
                         TFrmGravarView& view)
    : chains_(chains), env_(env), view_(view) {}

bool StatusModel::Buffer(WallTime now) {
  lastSegmentElapsed_ = duration_cast<milliseconds>(now - segmentStart_);
  const milliseconds total = elapsedBefore_ + lastSegmentElapsed_;
  // The texts change once a second.
  const long long second = duration_cast<seconds>(total).count();
  if (second != elapsedSecond_) {
    elapsedSecond_ = second;
    elapsedText_ = FormatElapsed(total);
  }
  bool endOfDay = false;
  const auto wallSecond = time_point_cast<seconds>(now);
  if (wallSecond != clockSecond_) {
    clockSecond_ = wallSecond;
    const LocalTime clock = ToLocal(now);
    if (clock.hour == 23 && clock.minute == 59 && clock.second == 59 && !endOfDayDone_) {
      endOfDayDone_ = true;
      endOfDay = true;
    }
  }
  // A day of running time: counted, and the clock of the running time starts again. Past
  // it, too: a busy moment may skip the one second that reads 23:59:59.
  if (elapsedText_ == "23:59:59" || total >= hours(24)) {
    elapsedText_ = "23:59:59";
    ++dayCount_;
    segmentStart_ = now;
    elapsedBefore_ = milliseconds(0);
    lastSegmentElapsed_ = milliseconds(0);
    elapsedSecond_ = -1;
  }
  if (elapsedText_ != shownElapsed_ || dayCount_ != shownDays_) {
    shownElapsed_ = elapsedText_;
    shownDays_ = dayCount_;
    view_.ShowRunningTime(elapsedText_, dayCount_);
  }
  return endOfDay;
}

void StatusModel::RefreshDiskSpaceIfOld(int station, WallTime now) {
  // A query per buffer of every station would be hundreds a second.
  if (diskStation_ == station && now >= diskQueried_ && now - diskQueried_ < kDiskQueryAge) return;
  RefreshDiskSpace(station);
}

void StatusModel::RefreshDiskSpace(int station) {
  const StationSettings& s = chains_[station];
  DiskSpace space;
  diskQueried_ = env_.Now();
  diskStation_ = station;
  // An unreadable folder reads 0 MB, and no share is computed from a zero size.
  spaceKnown_ = !s.Local.empty() && env_.QueryDisk(s.Local, space);
  const int64_t freeMB = spaceKnown_ ? static_cast<int64_t>(space.freeBytes / 1024 / 1024) : 0;
  const int64_t totalMB = spaceKnown_ ? static_cast<int64_t>(space.totalBytes / 1024 / 1024) : 0;
  const int64_t used = std::max<int64_t>(totalMB - freeMB, 0);
  const int percent = totalMB > 0
                          ? static_cast<int>(std::nearbyint(static_cast<double>(used) * 100.0 /
                                                            static_cast<double>(totalMB)))
                          : -1;
  freeMB_ = freeMB;
  if (freeMB == shownFreeMB_ && used == shownUsedMB_ && percent == shownPercent_) return;
  shownFreeMB_ = freeMB;
  shownUsedMB_ = used;
  shownPercent_ = percent;
  view_.ShowDiskSpace(freeMB, used, percent);
}
