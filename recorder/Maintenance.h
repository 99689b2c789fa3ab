#pragma once
// The recorder's housekeeping on the file worker: the purge of old recordings (at start-up,
// daily and once near midnight) and the low-space guard. Both only ever delete files nobody
// holds; their results come back to the user-interface thread.

#include <functional>
#include <optional>
#include <string>

#include "platform/FileWorker.h"
#include "recorder/RecorderEnvironment.h"
#include "recorder/StationChains.h"

class TFrmGravarView;

class Maintenance {
 public:
  Maintenance(const StationChains& chains, const RecorderEnvironment& env, FileWorker& worker,
              TFrmGravarView& view, std::function<void(const std::string&)> report);

  // The guard's threshold in megabytes, from "MB Livres"; text that is not a number means no
  // guard (reported where the settings are loaded).
  void SetThreshold(const std::string& mbLivres);

  // Deletes the recordings of the counted stations older than `diasRec` days, on the worker; a
  // conversion error of the setting comes back as a report.
  void Purge(const std::string& diasRec);

  // After the watched station's disk figures: below the threshold, the oldest finished
  // recording of its folder goes — at most one look per 250 ms, one deletion at a time, and
  // never more bytes than the stations wrote since the previous deletion (the first is free),
  // so that a disk another program fills costs one recording, not the archive.
  void LowSpaceCheck(int station, bool spaceKnown, int64_t freeMB);

 private:
  const StationChains& chains_;
  const RecorderEnvironment& env_;
  FileWorker& worker_;
  TFrmGravarView& view_;
  std::function<void(const std::string&)> report_;

  std::optional<int> threshold_;
  WallTime lastLook_{};
  bool busy_ = false;
  bool deletedOnce_ = false;
  uint64_t writtenAtDeletion_ = 0;
};
