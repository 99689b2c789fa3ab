#include "recorder/Retention.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "common/Convert.h"
#include "common/RecordingNames.h"
#include "common/WallClock.h"
#include "platform/FileOps.h"

namespace {

// Days of the local calendar: the limit is the same local time of day `days` days ago, so
// that across a change of daylight saving time a file is judged by the dates people read.
// An absurd setting keeps (or deletes) everything instead of wrapping.
WallTime RetentionLimit(WallTime now, int days) {
  constexpr int kMostDays = 3650000;  // ten thousand years
  if (days > kMostDays) return WallTime::min();
  if (days < -kMostDays) return WallTime::max();
  LocalTime l = ToLocal(now);
  l.day -= days;  // normalised by the conversion back
  return FromLocal(l);
}

}  // namespace

void PurgeOldRecordings(const std::vector<std::string>& stationFolders, const std::string& diasRec,
                        WallTime now) {
  for (const std::string& folder : stationFolders) {
    for (const FileEntry& e : ListFolder(folder, "*.mp3")) {
      if (e.directory) continue;
      // Converted and taken per file, as the setting is text read at use: a bad value raises
      // only once there is something to judge.
      const WallTime limit = RetentionLimit(now, StrToInt(diasRec, "Geral", "DiasRec"));
      if (e.modified <= limit) DeleteUnlessHeld(JoinPath(folder, e.name));
    }
  }
}

GuardDeletion DeleteOldestRecording(const std::string& folder, uint64_t budget) {
  std::vector<FileEntry> candidates = ListFolder(folder, "??????????a??????????.mp3");
  std::erase_if(candidates,
                [](const FileEntry& e) { return e.directory || !IsFinishedRecordingName(e.name); });
  std::sort(candidates.begin(), candidates.end(), [](const FileEntry& a, const FileEntry& b) {
    return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
  });
  GuardDeletion result;
  // A held or undeletable file must not block the guard: the next oldest goes instead.
  for (const FileEntry& e : candidates) {
    if (e.size > budget) {
      result.overBudget = true;
      return result;
    }
    if (DeleteUnlessHeld(JoinPath(folder, e.name))) {
      result.deleted = true;
      result.name = e.name;
      result.bytes = e.size;
      return result;
    }
  }
  return result;
}
