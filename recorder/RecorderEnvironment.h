#pragma once
// What the recorder's session takes from the world, in one object handed to it: the wall
// clock, the disk query, the encoder library's loader, the notifier, the file worker and the
// backup copy. The program leaves every member empty and gets the real ones; tests put theirs
// in.

#include <functional>
#include <string>

#include "audio/MMBlade.h"
#include "common/WallClock.h"
#include "platform/DiskSpace.h"
#include "platform/FileOps.h"

class FileWorker;

struct RecorderEnvironment {
  std::function<WallTime()> clock;
  DiskSpaceQuery diskQuery;
  // Installed for every encoder of the process (the library binding is one per process).
  BladeLoader encoderLoader;
  // Messages for the user; empty: the view's ShowMessage.
  std::function<void(const std::string&)> notify;
  // The session makes its own when none is given.
  FileWorker* worker = nullptr;
  // The backup copy of a finished recording, run on the worker.
  std::function<bool(const std::string& from, const std::string& to)> backupCopy;

  WallTime Now() const { return clock ? clock() : WallNow(); }
  bool QueryDisk(const std::string& folder, DiskSpace& out) const {
    return diskQuery ? diskQuery(folder, out) : QueryDiskSpace(folder, out);
  }
  bool Copy(const std::string& from, const std::string& to) const {
    return backupCopy ? backupCopy(from, to) : CopyReplacing(from, to);
  }
};
