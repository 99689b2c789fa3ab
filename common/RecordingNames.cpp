#include "common/RecordingNames.h"

#include <cstdio>

#include "platform/FileOps.h"

namespace {

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v % 100);
  return b;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string SegmentStamp(WallTime t) {
  const LocalTime l = ToLocal(t);
  return DayStamp(l) + Two(l.hour) + Two(l.minute);
}

std::string InProgressName(const std::string& stamp) {
  return stamp + ".mp3";
}

std::string FinishedName(const std::string& start, const std::string& end) {
  return start + "a" + end + ".mp3";
}

bool IsFinishedRecordingName(const std::string& name) {
  if (name.size() != 25 || name[10] != 'a') return false;
  for (size_t i = 0; i < 21; ++i)
    if (i != 10 && !IsDigit(name[i])) return false;
  return MatchesMask(name.substr(21), ".mp3");
}

bool IsInProgressName(const std::string& name) {
  if (name.size() != 14) return false;
  for (size_t i = 0; i < 10; ++i)
    if (!IsDigit(name[i])) return false;
  return MatchesMask(name.substr(10), ".mp3");
}

std::string DayStamp(const LocalTime& day) {
  return Two(day.day) + Two(day.month) + Two(day.year);
}

std::string DayMask(const std::string& startDay, const std::string& endDay) {
  return startDay + "*a" + endDay + "*.mp3";
}
