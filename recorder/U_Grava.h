#pragma once
// The recorder's main window logic, as the handlers its window names: loading the settings,
// the start, rotation and stop routines, the shared handlers of the eight wave inputs and the
// maintenance timer. The work itself is done by its parts: the station chains, the segment
// controller, the status model and the housekeeping. The window (pixels, tray) is a view that
// this logic tells what to show; tests drive the logic without one.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/MMWavIn.h"
#include "common/RecordingNames.h"
#include "common/Settings.h"
#include "displays/MMConect.h"
#include "platform/CaptureBackend.h"
#include "platform/Component.h"
#include "platform/FileWorker.h"
#include "recorder/Maintenance.h"
#include "recorder/RecorderEnvironment.h"
#include "recorder/SegmentController.h"
#include "recorder/StationChains.h"
#include "recorder/StatusModel.h"

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
  // Station 1's card for the mixer components, then its source line ("0" line input).
  virtual void SelectCard(const std::string& /*placa*/) {}
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

class TFrmGravar : public QObject, public TComponent {
 public:
  // `iniPath` is cfg.ini beside the executable; `backend` the capture devices; `env` what the
  // session takes from the world (empty members: the real ones).
  TFrmGravar(std::string iniPath, CaptureBackend* backend, TFrmGravarView* view = nullptr,
             RecorderEnvironment env = {});
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
  bool Busy() const;

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
  const RecorderEnvironment& Environment() const { return env_; }

  // Settings and state, for the window and tests.
  const RecorderSettings& Settings() const { return settings_; }
  StationSettings& Station(int index) { return chains_[index]; }
  int StationCount() const { return chains_.Count(); }
  int CurrentStation() const { return currentStation_; }
  void SetCurrentStation(int index);
  bool IsRecording() const { return chains_.IsRecording(); }
  bool EndOfDayDone() const { return status_.EndOfDayDone(); }
  int DayCount() const { return status_.DayCount(); }
  const std::string& ElapsedText() const { return status_.ElapsedText(); }
  const std::string& CurrentStamp() const { return segments_.CurrentStamp(); }
  QTimer& TimerRecord() { return segments_.TimerRecord(); }
  QTimer& TimerMataArquivos() { return timerMataArquivos_; }
  const std::string& FormatText() const { return segments_.FormatText(); }
  int64_t FreeMB() const { return status_.FreeMB(); }
  // MP3 bytes all stations have written since start-up.
  uint64_t BytesWritten() const { return chains_.BytesWritten(); }
  // A station waits for disk space after a failed write.
  bool WaitsForSpace(int station) const { return chains_.WaitsForSpace(station); }

  // The window's displays: the connector of the station being watched (station 1 at start)
  // feeds them. The window owns them; the connector only refers to them.
  struct Displays {
    TMMDisplay* Level1 = nullptr;
    TMMDisplay* Level2 = nullptr;
    TMMDisplay* Meter1 = nullptr;
    TMMDisplay* Meter2 = nullptr;
    TMMOscopeDisplay* Oscope1 = nullptr;
    TMMDisplay* Spectrum1 = nullptr;
  };
  void AttachDisplays(const Displays& displays);
  // The station switch: the displays leave the connector of the station watched so far for
  // that of `index`, which becomes the current station. Every recording goes on untouched.
  void WatchStation(int index);
  int WatchedStation() const { return watched_; }

  // What the settings panel holds when "Gravar" is pressed.
  struct SettingsForm {
    int Formato = 0;  // position in the format list, 0..13
    bool AutoGravar = false;
    bool Prioridade = false;
    std::string DiasRec, TempoRec, Emissoras;  // as typed
    int Station = 0;                           // position in the station list
    std::string Name;                          // its entry's text
    std::string Local;
    int Placa = 0, Controle = 0, Canal = 0;
    bool Copia = false;
    std::string LocalCopia;
  };
  // What would keep a station from recording at its next start, as a message; empty when the
  // form may be saved.
  std::string CheckSettings(const SettingsForm& form) const;
  // cfg.ini in one write: the general settings and the form's station. A station count that
  // differs from the loaded one makes a restart pending. False when the file could not be
  // written (reported).
  bool SaveConfiguration(const SettingsForm& form);
  bool RestartPending() const { return restartPending_; }
  // The current station's saved settings, as far as a running station can take them.
  void ApplyStationSettings(const SettingsForm& form);
  // "Gravar": checked, saved, then the restart message or the station's settings applied.
  // False when nothing was saved.
  bool SaveAndApply(const SettingsForm& form);

  // Raises the recorder's own priority when "Prioridade" is "S"; set by the program.
  std::function<void()> RaiseOwnPriority;

  static constexpr uint64_t kResumeFreeBytes = SegmentController::kResumeFreeBytes;

 private:
  void Report(const std::string& text);

  std::string iniPath_;
  TFrmGravarView defaultView_;
  TFrmGravarView* view_;
  RecorderEnvironment env_;
  std::unique_ptr<FileWorker> ownWorker_;
  FileWorker* worker_;

  RecorderSettings settings_;
  int currentStation_ = 0;
  int watched_ = 0;  // the station whose connector feeds the displays
  bool restartPending_ = false;
  Displays displays_;

  // In this order: the chains close (and tell the worker of their last files) before the
  // parts that use them go.
  StationChains chains_;
  StatusModel status_;
  Maintenance maintenance_;
  SegmentController segments_;
  QTimer timerMataArquivos_;
};
