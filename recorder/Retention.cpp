#include "recorder/Retention.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/FileOps.h"
#include "platform/WallClock.h"
#include "recorder/Convert.h"

namespace {

// "Days" are 24-hour periods of the wall clock: across a change of daylight saving time the
// limit is an hour off the same local time of day, which a retention of weeks does not feel.
// Saturated, so that an absurd setting keeps (or deletes) everything instead of wrapping.
WallTime RetentionLimit(WallTime now, int days) {
  using Rep = WallTime::rep;
  constexpr Rep kDay =
      std::chrono::duration_cast<WallTime::duration>(std::chrono::hours(24)).count();
  Rep span = 0;
  Rep limit = 0;
  if (__builtin_mul_overflow(static_cast<Rep>(days), kDay, &span) ||
      __builtin_sub_overflow(now.time_since_epoch().count(), span, &limit))
    return days > 0 ? WallTime::min() : WallTime::max();
  return WallTime(WallTime::duration(limit));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

void PurgeOldRecordings(const std::vector<std::string>& stationFolders,
                        const std::string& diasRec) {
  for (const std::string& folder : stationFolders) {
    for (const FileEntry& e : ListFolder(folder, "*.mp3")) {
      if (e.directory) continue;
      // Converted and taken per file, as the setting is text read at use: a bad value raises
      // only once there is something to judge.
      const WallTime limit = RetentionLimit(WallNow(), StrToInt(diasRec));
      if (e.modified <= limit) DeleteUnlessHeld(JoinPath(folder, e.name));
    }
  }
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

bool DeleteOldestRecording(const std::string& folder) {
  std::vector<FileEntry> candidates = ListFolder(folder, "??????????a??????????.mp3");
  std::erase_if(candidates,
                [](const FileEntry& e) { return e.directory || !IsFinishedRecordingName(e.name); });
  std::sort(candidates.begin(), candidates.end(), [](const FileEntry& a, const FileEntry& b) {
    return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
  });
  // A held or undeletable file must not block the guard: the next oldest goes instead.
  for (const FileEntry& e : candidates)
    if (DeleteUnlessHeld(JoinPath(folder, e.name))) return true;
  return false;
}
