#pragma once
// Wall-clock moments for the tests: local dates and times, and file modification times.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "common/WallClock.h"

inline WallTime AtDate(int year, int month, int day, int hour, int minute, int second = 0) {
  LocalTime l;
  l.year = year;
  l.month = month;
  l.day = day;
  l.hour = hour;
  l.minute = minute;
  l.second = second;
  return FromLocal(l);
}

// A moment of December 2026, the month the tests stand in.
inline WallTime At(int day, int hour, int minute, int second = 0) {
  return AtDate(2026, 12, day, hour, minute, second);
}

// Sets a file's access and modification times.
inline void SetModified(const std::string& path, WallTime t) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch());
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ns.count() / 1000000000);
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ns.count() % 1000000000);
  if (times[0].tv_nsec < 0) {
    times[0].tv_nsec = times[1].tv_nsec += 1000000000;
    times[0].tv_sec = --times[1].tv_sec;
  }
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}
