#pragma once
// The recorder's main window logic: the eight station chains, the recording session with its
// segments, names and backup copies, the running time, retention and the low-space guard.
// The window itself (pixels, tray) is a view that this logic tells what to show; tests drive
// the logic without one.

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/MMWavIn.h"
#include "common/PrivateProfile.h"
#include "common/RecordingNames.h"
#include "common/WallClock.h"
#include "platform/CaptureBackend.h"
#include "platform/CaptureStream.h"
#include "platform/Component.h"
#include "platform/FileOps.h"
#include "platform/FileWorker.h"
#include "recorder/Settings.h"

// What the session shows and asks of the window. Every member has a harmless default.
class TFrmGravarView {
 public:
  virtual ~TFrmGravarView() = default;
  virtual void ShowRecordButtons(bool /*gravarVisible*/, bool /*pararVisible*/) {}
  virtual void StartIconAnimation() {}
  virtual void StopIconAnimation() {}
  virtual void ShowIdleIcon() {}
  virtual void ShowFormat(const std::string& /*text*/) {}
  virtual void ShowRunningTime(const std::string& /*elapsed*/, int /*days*/) {}
  // Free and used space of the current station's file system in whole megabytes, and the
  // used share in percent; -1 when it cannot be computed.
  virtual void ShowDiskSpace(int64_t /*freeMB*/, int64_t /*usedMB*/, int /*percent*/) {}
  virtual void SetStationList(const std::vector<std::string>& /*names*/) {}
  virtual void ShowStation(int /*index*/, const std::string& /*name*/, int /*lastIndex*/) {}
  virtual void SelectRecordingSource(const std::string& /*controle*/) {}
  virtual void ArmAutoStart() {}
  // A message for the user: a box on a desktop, a line on standard error without one.
  virtual void ShowMessage(const std::string& text);
  // A fault of a station's recording that must not pass unnoticed (audio dropped, a device
  // lost or back, a full disk): a line on standard error (the journal of a service) and, on
  // a window, its status line. Told once per fault; it never waits for anyone.
  virtual void ShowFault(const std::string& text);
  // A line for the journal only.
  virtual void LogLine(const std::string& text);
};

// hh:mm:ss of a running time, the hours within a day.
std::string FormatElapsed(std::chrono::milliseconds elapsed);

class TFrmGravar : public QObject, public TComponent {
 public:
  // `iniPath` is cfg.ini beside the executable; `backend` the capture devices.
  TFrmGravar(std::string iniPath, CaptureBackend* backend, TFrmGravarView* view = nullptr);
  ~TFrmGravar() override;

  // Start-up of the session: settings, leftover recordings, purge.
  void LoadConfiguration();
  void RecoverInterruptedRecordings();
  // Hands the purge to the file worker; a conversion error of "DiasRec" comes back as a
  // message.
  void PurgeOldRecordings();

  // The start, stop and rotation routines. One called while another runs (from a message box
  // or a wait inside it) is carried out right after it.
  void BGravarClick();
  void BStopClick();
  void TimerRecordTimer();
  void TimerMataArquivosTimer();

  // Runs a command of the user or of the system (a click, a menu item, a signal, the logoff)
  // now or, while a start, rotation or stop is under way, right after it, in the order the
  // commands came.
  void RunCommand(std::function<void()> command);
  // True while a start, rotation or stop is under way.
  bool Busy() const { return busy_ > 0; }

  // Shared handlers of the eight wave inputs.
  void WaveInR1Start(TComponent* Sender);
  void WaveInR1Stop(TComponent* Sender);
  void WaveInR1BufferReady(TComponent* Sender, PWaveHdr Buffer);
  void WaveInR1DeviceFault(TComponent* Sender, TMMDeviceFault fault, uint64_t frames);

  void PrepareSegmentFiles();
  void FinishSegmentFiles(int station);
  void ApplyFormat();
  void UpdateRecordButtons();
  void RefreshDiskSpace();

  // Waits for the file work handed to the worker so far (backup copies, purges, the guard's
  // deletions) and takes in its results.
  void WaitFileWork();
  FileWorker& Worker() { return *worker_; }
  // The backup copy, run on the worker; tests put a slow one in.
  std::function<bool(const std::string& from, const std::string& to)> BackupCopy = CopyReplacing;

  // Settings and state, for the window and tests.
  const RecorderSettings& Settings() const { return settings_; }
  StationSettings& Station(int index) { return stations_[static_cast<size_t>(index)]; }
  int StationCount() const { return stationCount_; }
  int CurrentStation() const { return currentStation_; }
  void SetCurrentStation(int index);
  bool IsRecording() const;
  bool EndOfDayDone() const { return endOfDayDone_; }
  int DayCount() const { return dayCount_; }
  const std::string& ElapsedText() const { return elapsedText_; }
  const std::string& CurrentStamp() const { return currentStamp_; }
  QTimer& TimerRecord() { return timerRecord_; }
  QTimer& TimerMataArquivos() { return timerMataArquivos_; }
  const std::string& FormatText() const { return formatText_; }
  int64_t FreeMB() const { return freeMB_; }
  // MP3 bytes all stations have written since start-up.
  uint64_t BytesWritten() const;
  // A station waits for disk space after a failed write.
  bool WaitsForSpace(int station) const;

  // Raises the recorder's own priority when "Prioridade" is "S"; set by the program.
  std::function<void()> RaiseOwnPriority;

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

  void Report(const std::string& text);
  void ApplyFormat(bool report);
  // True when the station takes part: counted, and its chain configured.
  bool Bound(int index) const;
  int StationOf(TComponent* sender) const;
  // "Emissora 2 (Rádio X)": how messages name a station.
  std::string StationLabel(int index) const;
  // A routine that comes while another runs is queued; true when it was.
  bool Deferred(std::function<void()> routine);
  void EndRoutine();
  // Opens and starts every bound station; false when one failed (reported).
  bool StartStations();
  // Opens and starts one station; false, reported, when it fails.
  bool StartStation(int index, bool reportRepeats);
  // The path of the station's file of `stamp`; a leftover of that name is finished first.
  std::string SegmentPath(int index, const std::string& stamp);
  // The station's encoder goes on in a file of `stamp`, between two buffers.
  bool OpenStationFile(int index, const std::string& stamp);
  // Gives a leftover in-progress file its finished name, the end from its file time.
  void RecoverFile(int index, const std::string& name);
  // Renames to the finished name; when that name is taken, appends and removes the source.
  bool FinishFile(const std::string& from, const std::string& to);
  // Gives the station's file of `start` its finished name with `end` and hands the backup
  // copy and the flushing of the names to the worker. An empty file is removed instead.
  void FinishStationFile(int index, const std::string& start, const std::string& end);
  void LowSpaceCheck();
  // The station's encoder could not write; its file is closed.
  void EncoderWriteError(int index);
  // The station's input stopped by itself (an error of its chain).
  void StationStopped(int index);
  // Finishes the file of `stamp` if it is still the station's current one.
  void FinishFailedFile(int index, const std::string& stamp);
  // Every second while a station waits for disk space: it records again once there is some.
  void FaultWatchTimer();

  std::string iniPath_;
  CaptureBackend* backend_;
  TFrmGravarView defaultView_;
  TFrmGravarView* view_;

  RecorderSettings settings_;
  std::array<StationSettings, kMaxStations> stations_{};
  std::array<StationRun, kMaxStations> run_{};
  int stationCount_ = 0;
  int currentStation_ = 0;

  std::string currentStamp_, previousStamp_, endStamp_;
  WallTime segmentStart_{};
  std::chrono::milliseconds lastSegmentElapsed_{0};
  std::chrono::milliseconds elapsedBefore_{0};
  int dayCount_ = 0;
  bool endOfDayDone_ = false;
  std::string elapsedText_ = "00:00:00";
  std::string formatText_;
  int64_t freeMB_ = 0;
  bool spaceKnown_ = false;
  // The buffer event's figures: what was shown last, the second it stood for, and when the
  // disk was queried for which station.
  long long elapsedSecond_ = -1;
  std::chrono::time_point<std::chrono::system_clock, std::chrono::seconds> clockSecond_{};
  std::string shownElapsed_;
  int shownDays_ = -1;
  WallTime diskQueried_{};
  int diskStation_ = -1;
  int64_t shownFreeMB_ = -1, shownUsedMB_ = -1;
  int shownPercent_ = -2;
  static constexpr std::chrono::milliseconds kDiskQueryAge{250};
  std::optional<int> guardThreshold_;

  // Routines under way, and the commands that came meanwhile.
  int busy_ = 0;
  bool draining_ = false;
  bool userStop_ = false;
  std::deque<std::function<void()>> deferred_;

  // The low-space guard: one deletion at a time, paced by what the stations write.
  WallTime lastGuardRun_{};
  bool guardBusy_ = false;
  bool guardDeleted_ = false;
  uint64_t writtenAtDeletion_ = 0;

  std::unique_ptr<FileWorker> worker_;
  QTimer timerRecord_;
  QTimer timerMataArquivos_;
  QTimer faultWatch_;
};
