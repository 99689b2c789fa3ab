#include "common/WallClock.h"

namespace {
std::function<WallTime()>& Override() {
  static std::function<WallTime()> clock;
  return clock;
}
}  // namespace

WallTime WallNow() {
  return Override() ? Override()() : std::chrono::system_clock::now();
}

void SetWallClock(std::function<WallTime()> clock) {
  Override() = std::move(clock);
}

LocalTime ToLocal(WallTime t) {
  using namespace std::chrono;
  const auto secs = time_point_cast<seconds>(t);
  const auto rest = t - secs;
  const std::time_t tt = system_clock::to_time_t(secs);
  std::tm tm{};
  localtime_r(&tt, &tm);
  LocalTime l;
  l.year = tm.tm_year + 1900;
  l.month = tm.tm_mon + 1;
  l.day = tm.tm_mday;
  l.hour = tm.tm_hour;
  l.minute = tm.tm_min;
  l.second = tm.tm_sec;
  l.millisecond = static_cast<int>(duration_cast<milliseconds>(rest).count());
  if (l.millisecond < 0) l.millisecond = 0;
  return l;
}

WallTime FromLocal(const LocalTime& l) {
  std::tm tm{};
  tm.tm_year = l.year - 1900;
  tm.tm_mon = l.month - 1;
  tm.tm_mday = l.day;
  tm.tm_hour = l.hour;
  tm.tm_min = l.minute;
  tm.tm_sec = l.second;
  tm.tm_isdst = -1;
  const std::time_t tt = mktime(&tm);
  return std::chrono::system_clock::from_time_t(tt) + std::chrono::milliseconds(l.millisecond);
}
