#pragma once
// Wall-clock time of the programs: recording names, the 23:59:59 maintenance, file ages.
// One replaceable clock, so that tests can stand at any date and time.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "platform/WallTime.h"

WallTime WallNow();
// Tests set their own clock; an empty function restores the system clock.
void SetWallClock(std::function<WallTime()> clock);

// Broken-down local time of a moment.
struct LocalTime {
  int year = 0, month = 0, day = 0;  // month 1..12, day 1..31
  int hour = 0, minute = 0, second = 0;
  int millisecond = 0;
};
LocalTime ToLocal(WallTime t);
// The moment of a local date and time (DST resolved by the system).
WallTime FromLocal(const LocalTime& t);
