#pragma once
// Retention of the recordings: the purge of old files from the station folders, and the
// guard that frees space when a station's disk runs short.

#include <cstdint>
#include <string>
#include <vector>

#include "common/RecordingNames.h"

// Deletes every "*.mp3" file (any case, hidden ones too) directly in each folder, in order,
// whose modification time is at or before the same local date and time `diasRec` days before
// `now`
// (calendar days: across a change of daylight saving time a day is 23 or 25 hours). Subfolders are
// not entered, a missing folder is skipped, held files (recordings being written) stay and failed
// deletions are silent. `diasRec` is converted at the first file examined: EConvertError
// when it is not a number, and only if some folder holds a file to examine.
void PurgeOldRecordings(const std::vector<std::string>& stationFolders, const std::string& diasRec,
                        WallTime now = WallNow());

// What the low-space guard did.
struct GuardDeletion {
  bool deleted = false;
  std::string name;         // the file deleted
  uint64_t bytes = 0;       // its size
  bool overBudget = false;  // the oldest is larger than the budget: nothing deleted
};

// Deletes the oldest finished recording ("ddMMyyHHmma" + "ddMMyyHHmm" + ".mp3") directly in
// the folder, by modification time and then by name, skipping held files, when it is no
// larger than `budget` bytes. Nothing else is ever touched: in-progress names, other files
// and subfolders stay.
GuardDeletion DeleteOldestRecording(const std::string& folder, uint64_t budget = UINT64_MAX);
