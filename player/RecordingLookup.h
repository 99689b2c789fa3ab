#pragma once
// The player's knowledge of the recordings: the station table it reads from cfg.ini (names and
// its own folder per station, "LocalPlay"), and the lookup of the recording that covers a
// chosen moment, by file name alone. No window: tests drive it directly.

#include <string>
#include <vector>

#include "common/WallClock.h"

struct PlayerStation {
  std::string name;
  std::string folder;  // LocalPlay
};

// Seconds of a time of day.
using DaySeconds = int;

class RecordingLookup {
 public:
  enum class Result { Found, FolderMissing, NotFound };

  static constexpr const char* kFolderMissing = "Local dos arquivos de áudio inexistente!";
  static constexpr const char* kNotFound = "Arquivo de áudio não encontrado...";

  explicit RecordingLookup(std::string iniPath) : iniPath_(std::move(iniPath)) {}

  // Reads the station table. A missing cfg.ini is first created holding `defaultFolder` as
  // station 1's LocalPlay. Raises EConvertError when the station count cannot be read (the
  // table then stays empty).
  void LoadPlayerConfiguration(const std::string& defaultFolder);
  int StationCount() const { return static_cast<int>(stations_.size()); }
  const PlayerStation& Station(int index) const { return stations_[static_cast<size_t>(index)]; }
  // Writes the folder as the station's LocalPlay (index 0-based) and keeps it in the table.
  void SaveStationFolder(int index, const std::string& folder);

  // The names in the folder matching the mask (case-insensitive), dot-files left out, sorted
  // case-insensitively: a day's recordings come out in order of their start.
  static std::vector<std::string> ListMatchingFiles(const std::string& folder,
                                                    const std::string& mask);

  // mode 1: the recording of `TargetTime` (set from hour and minute); mode 0: the first one
  // that starts at or after the end of the one just played (TargetTime := FoundEnd). Leaves
  // FoundName as it was when none fits. Raises EConvertError, naming the file, for a matching
  // name whose hour or minute is not a number.
  void FindRecording(const std::string& folder, const std::string& mask, int mode);

  // "Play": the recording of the chosen day, hour and minute in the folder, with the two
  // midnight windows.
  Result Lookup(const std::string& folder, const LocalTime& day, int hour, int minute);
  // The recording that follows the one just played: the first of the day its predecessor
  // ended on that starts at or after that end, whatever day it ends (a recording that runs
  // past midnight is followed by the next day's).
  bool FollowOn(const std::string& folder);

  const std::string& FoundName() const { return foundName_; }
  DaySeconds TargetTime() const { return targetTime_; }
  DaySeconds FoundStart() const { return foundStart_; }
  DaySeconds FoundEnd() const { return foundEnd_; }
  bool MidnightSearch() const { return midnightSearch_; }
  void ClearMidnightSearch() { midnightSearch_ = false; }

 private:
  std::string iniPath_;
  std::vector<PlayerStation> stations_;
  std::string foundName_;
  DaySeconds targetTime_ = 0;
  DaySeconds foundStart_ = 0;
  DaySeconds foundEnd_ = 0;
  bool midnightSearch_ = false;
};

// The six characters ddMMyy of the day `offset` days after `day`.
std::string DayStampAfter(const LocalTime& day, int offset);
