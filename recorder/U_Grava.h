#pragma once
// The recorder's main window logic: the eight station chains, the recording session with its
// segments, names and backup copies, the running time, retention and the low-space guard.
// The window itself (pixels, tray) is a view that this logic tells what to show; tests drive
// the logic without one.

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/CaptureBackend.h"
#include "platform/Component.h"
#include "platform/PrivateProfile.h"
#include "platform/WallClock.h"
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
  // A modal message box.
  virtual void ShowMessage(const std::string& text);
};

// The ten-character local stamp of a moment: ddMMyyHHmm.
std::string SegmentStamp(WallTime t);
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
  void PurgeOldRecordings();

  // The start, stop and rotation routines.
  void BGravarClick();
  void BStopClick();
  void TimerRecordTimer();
  void TimerMataArquivosTimer();

  // Shared handlers of the eight wave inputs.
  void WaveInR1Start(TComponent* Sender);
  void WaveInR1Stop(TComponent* Sender);
  void WaveInR1BufferReady(TComponent* Sender, PWaveHdr Buffer);

  void PrepareSegmentFiles();
  void FinishSegmentFiles(int station);
  void ApplyFormat();
  void UpdateRecordButtons();
  void RefreshDiskSpace();

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

  // Raises the recorder's own priority when "Prioridade" is "S"; set by the program.
  std::function<void()> RaiseOwnPriority;

 private:
  void Report(const std::string& text);
  void ApplyFormat(bool report);
  // True when the station takes part: counted, and its chain configured.
  bool Bound(int index) const;
  // Opens and starts every bound station; false when one failed (reported).
  bool StartStations();
  // Gives a leftover in-progress file its finished name, the end from its file time.
  void RecoverFile(int index, const std::string& name);
  // Renames to the finished name; when that name is taken, appends and removes the source.
  bool FinishFile(const std::string& from, const std::string& to);
  void LowSpaceCheck();

  std::string iniPath_;
  CaptureBackend* backend_;
  TFrmGravarView defaultView_;
  TFrmGravarView* view_;

  RecorderSettings settings_;
  std::array<StationSettings, kMaxStations> stations_{};
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
  WallTime lastGuardRun_{};

  QTimer timerRecord_;
  QTimer timerMataArquivos_;
};
