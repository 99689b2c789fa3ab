#pragma once
// The recording's segments: the start of every station, the rotation every "TempoRec"
// minutes, the stop, the finished names and backup copies, the recovery of recordings a crash
// left unfinished, and what a station does when its device or its disk fails. A command that
// comes while a start, rotation or stop runs is carried out right after it.

#include <QObject>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <string>

#include "audio/MMWavIn.h"
#include "common/Settings.h"
#include "platform/FileWorker.h"
#include "recorder/RecorderEnvironment.h"
#include "recorder/StationChains.h"
#include "recorder/StatusModel.h"

class TFrmGravarView;

class SegmentController : public QObject {
 public:
  SegmentController(StationChains& chains, StatusModel& status, const RecorderSettings& settings,
                    const RecorderEnvironment& env, FileWorker& worker, TFrmGravarView& view,
                    std::function<void(const std::string&)> report);
  ~SegmentController() override;

  // The start, rotation and stop routines. One that comes while another runs (from a box or a
  // wait inside it) is carried out right after it; a rotation queued behind a stop is dropped.
  void Start();
  void Rotate();
  void Stop();
  // Runs a command of the user or of the system now, or after the routine under way.
  void RunCommand(std::function<void()> command);
  bool Busy() const { return busy_ > 0; }

  // Names every bound station's file after a new stamp and restarts the segment timer.
  void PrepareSegmentFiles();
  // Gives the station's ended file its finished name, and hands the copy to the worker.
  void FinishSegmentFiles(int station);
  // Shows the format and gives every bound encoder its bit rate; `report` tells of a value
  // that is no format (done once, at load).
  void ApplyFormat(bool report);
  // Leftover files of a run that ended without stopping get their finished names.
  void RecoverInterruptedRecordings();

  // The stop event of a station's input. True when it is the user's stop, which closes every
  // station; false when an input stopped by itself (its chain failed): the others record on.
  bool InputStopped(TComponent* sender);
  void DeviceFault(TComponent* sender, TMMDeviceFault fault, uint64_t frames);
  void EncoderWriteError(int station);

  QTimer& TimerRecord() { return timerRecord_; }
  const std::string& CurrentStamp() const { return currentStamp_; }
  const std::string& FormatText() const { return formatText_; }

  // Free space a station needs before it records again after a full disk.
  static constexpr uint64_t kResumeFreeBytes = 2 * 1024 * 1024;

 private:
  class Routine;
  // What a station is doing now, beyond its settings.
  struct StationRun {
    std::string stamp;        // stamp of the file its encoder writes; empty: none
    std::string finishStamp;  // the file the next FinishSegmentFiles gives its finished name
    std::string lastStartError;
  };

  bool Deferred(std::function<void()> routine);
  void EndRoutine();
  // Opens and starts every bound station; false when one failed (reported).
  bool StartStations();
  bool StartStation(int index, bool reportRepeats);
  // The path of the station's file of `stamp`; a leftover of that name is finished first.
  std::string SegmentPath(int index, const std::string& stamp);
  // The station's encoder goes on in a file of `stamp`, between two buffers.
  bool OpenStationFile(int index, const std::string& stamp);
  void RecoverFile(int index, const std::string& name);
  // Renames to the finished name; when that name is taken, appends and removes the source.
  bool FinishFile(const std::string& from, const std::string& to);
  void FinishStationFile(int index, const std::string& start, const std::string& end);
  // Finishes the file of `stamp` if it is still the station's current one.
  void FinishFailedFile(int index, const std::string& stamp);
  // Every second while a station waits for disk space: it records again once there is some.
  void FaultWatchTimer();

  StationChains& chains_;
  StatusModel& status_;
  const RecorderSettings& settings_;
  const RecorderEnvironment& env_;
  FileWorker& worker_;
  TFrmGravarView& view_;
  std::function<void(const std::string&)> report_;

  std::array<StationRun, kMaxStations> run_{};
  std::string currentStamp_, endStamp_;
  std::string formatText_;
  int busy_ = 0;
  bool draining_ = false;
  bool userStop_ = false;
  std::deque<std::function<void()>> deferred_;
  QTimer timerRecord_;
  QTimer faultWatch_;
};
