#pragma once
// The names of the recordings, which the recorder gives and the player reads back. A file being
// recorded is named by its start stamp and ".mp3" (14 characters); a finished one by its start
// stamp, the letter a, its end stamp and ".mp3" (25 characters). A stamp is the local day,
// month, two-digit year, hour and minute: ddMMyyHHmm.

#include <string>

#include "common/WallClock.h"

// The ten-character stamp of a moment.
std::string SegmentStamp(WallTime t);
// "0812261530.mp3"
std::string InProgressName(const std::string& stamp);
// "0812261530a0812261540.mp3"
std::string FinishedName(const std::string& start, const std::string& end);
// Whether a bare file name has the form of a finished recording (".mp3" in any case).
bool IsFinishedRecordingName(const std::string& name);
// Whether a bare file name has the form of a recording being written.
bool IsInProgressName(const std::string& name);
// The six characters ddMMyy of a day.
std::string DayStamp(const LocalTime& day);
// The mask of the finished recordings that start on one day and end on another (or the same):
// "081226*a081226*.mp3".
std::string DayMask(const std::string& startDay, const std::string& endDay);
