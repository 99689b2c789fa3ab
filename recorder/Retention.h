#pragma once
// Retention of the recordings: the purge of old files from the station folders, and the
// guard that frees space when a station's disk runs short.

#include <string>
#include <vector>

// Deletes every "*.mp3" file (any case, hidden ones too) directly in each folder, in order,
// whose modification time is `diasRec` days or more before now. Subfolders are not entered,
// a missing folder is skipped, held files (recordings being written) stay and failed
// deletions are silent. `diasRec` is converted at the first file examined: EConvertError
// when it is not a number, and only if some folder holds a file to examine.
void PurgeOldRecordings(const std::vector<std::string>& stationFolders, const std::string& diasRec);

// Deletes the oldest finished recording ("ddMMyyHHmma" + "ddMMyyHHmm" + ".mp3") directly in
// the folder, by modification time and then by name, skipping held files. Nothing else is
// ever touched: in-progress names, other files and subfolders stay. True when a file went.
bool DeleteOldestRecording(const std::string& folder);

// Whether a bare file name has the form of a finished recording.
bool IsFinishedRecordingName(const std::string& name);
// Whether a bare file name has the form of a recording being written ("ddMMyyHHmm.mp3").
bool IsInProgressName(const std::string& name);
