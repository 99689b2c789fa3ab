#include "recorder/SegmentController.h"

#include <utility>

#include "audio/MMBlade.h"
#include "common/Convert.h"
#include "common/RecordingNames.h"
#include "platform/CaptureStream.h"
#include "platform/FileOps.h"
#include "platform/LockedFile.h"
#include "recorder/U_Grava.h"

// A start, rotation or stop under way: commands that come meanwhile wait for its end.
class SegmentController::Routine {
 public:
  explicit Routine(SegmentController& c) : c_(c) { ++c_.busy_; }
  ~Routine() { c_.EndRoutine(); }
  Routine(const Routine&) = delete;
  Routine& operator=(const Routine&) = delete;

 private:
  SegmentController& c_;
};

SegmentController::SegmentController(StationChains& chains, StatusModel& status,
                                     const RecorderSettings& settings,
                                     const RecorderEnvironment& env, FileWorker& worker,
                                     TFrmGravarView& view,
                                     std::function<void(const std::string&)> report)
    : chains_(chains),
      status_(status),
      settings_(settings),
      env_(env),
      worker_(worker),
      view_(view),
      report_(std::move(report)) {
  timerRecord_.setInterval(602000);
  // Segments of whole minutes: a coarse timer may fire a few seconds early or late.
  timerRecord_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timerRecord_, &QTimer::timeout, this, [this] { Rotate(); });
  faultWatch_.setInterval(1000);
  QObject::connect(&faultWatch_, &QTimer::timeout, this, [this] { FaultWatchTimer(); });
}

SegmentController::~SegmentController() {
  timerRecord_.stop();
  faultWatch_.stop();
}

// Routines and the commands that wait for them ----------------------------------------------

bool SegmentController::Deferred(std::function<void()> routine) {
  if (busy_ == 0) return false;
  deferred_.push_back(std::move(routine));
  return true;
}

void SegmentController::RunCommand(std::function<void()> command) {
  if (Deferred(command)) return;
  command();
}

void SegmentController::EndRoutine() {
  if (--busy_ > 0 || draining_) return;
  draining_ = true;
  while (!deferred_.empty()) {
    std::function<void()> next = std::move(deferred_.front());
    deferred_.pop_front();
    try {
      next();
    } catch (const std::exception& e) {
      report_(e.what());
    }
  }
  draining_ = false;
}

// Format ---------------------------------------------------------------------------------------

void SegmentController::ApplyFormat(bool report) {
  std::string kbps;
  try {
    const int index = StrToInt(settings_.Formato, "Gravacao", "Formato");
    // An index outside the list never reaches an encoder; the label shows no bit rate.
    if (index >= 0 && index <= br320) {
      kbps = std::to_string(kBitrateTable[index]);
      for (int i = 0; i < chains_.Count(); ++i)
        chains_[i].Encoder->SetBitrate(static_cast<TMMBitrates>(index));
    } else if (report) {
      report_("'" + settings_.Formato + "' não é um formato da lista, de 0 a 13 (" +
              SettingName("Gravacao", "Formato") + "): as emissoras gravam a " +
              std::to_string(kBitrateTable[chains_[0].Encoder->Bitrate()]) + " Kbps");
    }
  } catch (const EConvertError& e) {
    // Told once, at load: a box at every start would hold a rotation up until someone clicks.
    if (report) report_(e.what());
  }
  const bool stereo = chains_[0].Encoder->ChannelMode() == cmStereo;
  formatText_ = std::string(20, ' ') + "MP3: " + kbps + " Kbps, " + (stereo ? "Stereo" : "Mono");
  view_.ShowFormat(formatText_);
}

// Leftovers and finished names -------------------------------------------------------------------

void SegmentController::RecoverInterruptedRecordings() {
  for (int i = 0; i < chains_.Count(); ++i) {
    if (!chains_.Bound(i)) continue;
    for (const FileEntry& f : ListFolder(chains_[i].Local, "*.mp3"))
      if (!f.directory && IsInProgressName(f.name)) RecoverFile(i, f.name);
  }
}

void SegmentController::RecoverFile(int i, const std::string& name) {
  const StationSettings& s = chains_[i];
  const std::string path = JoinPath(s.Local, name);
  if (IsFileInUse(path)) return;  // being recorded
  WallTime modified{};
  if (!FileModified(path, modified)) return;  // gone meanwhile
  FinishFile(path, JoinPath(s.Local, FinishedName(name.substr(0, 10), SegmentStamp(modified))));
}

bool SegmentController::FinishFile(const std::string& from, const std::string& to) {
  if (RenameNoReplace(from, to)) return true;
  // The finished name is taken (a stop, a start and a stop within one minute): raw CBR
  // streams concatenate, so the frames go behind the earlier file's and nothing is lost.
  if (!FileExists(from) || !FileExists(to) || IsFileInUse(from)) return false;
  if (!AppendFile(from, to)) return false;
  DeleteUnlessHeld(from);
  return true;
}

void SegmentController::FinishSegmentFiles(int i) {
  const std::string start = std::exchange(run_[static_cast<size_t>(i)].finishStamp, std::string());
  if (start.empty()) return;
  FinishStationFile(i, start, endStamp_);
}

void SegmentController::FinishStationFile(int i, const std::string& start, const std::string& end) {
  const StationSettings& s = chains_[i];
  const std::string from = JoinPath(s.Local, InProgressName(start));
  const std::string finished = FinishedName(start, end);
  const std::string to = JoinPath(s.Local, finished);
  // A file that never got a byte (a disk full from its first write) holds nothing to keep.
  uint64_t size = 0;
  if (FileSize(from, size) && size == 0 && DeleteUnlessHeld(from)) return;
  if (!FinishFile(from, to)) return;
  // The finished name and the copy reach the disk on the worker: a copy of a segment to a
  // slow disk must not hold up the thread that carries the audio.
  worker_.Post([folder = s.Local, to, backup = JoinPath(s.LocalCopia, finished),
                copy = s.Copia == "S", env = env_] {
    SyncFolder(folder);
    // A failed copy is silent: the recording itself is safe.
    if (copy && FileExists(to)) env.Copy(to, backup);
  });
}

// Start, rotation, stop
// ----------------------------------------------------------------------------

std::string SegmentController::SegmentPath(int i, const std::string& stamp) {
  const std::string name = InProgressName(stamp);
  const std::string path = JoinPath(chains_[i].Local, name);
  // A file of that name left unfinished would be replaced by the new one: finish it first.
  if (FileExists(path)) RecoverFile(i, name);
  return path;
}

void SegmentController::PrepareSegmentFiles() {
  currentStamp_ = SegmentStamp(env_.Now());
  for (int i = 0; i < chains_.Count(); ++i)
    if (chains_.Bound(i)) chains_[i].Encoder->SetFileName(SegmentPath(i, currentStamp_));
  timerRecord_.stop();
  timerRecord_.start();
}

bool SegmentController::StartStation(int i, bool reportRepeats) {
  StationSettings& s = chains_[i];
  StationRun& r = run_[static_cast<size_t>(i)];
  try {
    s.WaveIn->Open();
    s.WaveIn->Start();
    if (s.Encoder->StreamOpen()) r.stamp = currentStamp_;
    r.lastStartError.clear();
    return true;
  } catch (const std::exception& e) {
    std::string text = chains_.Label(i) + ": " + e.what();
    // A device that cannot record: which one it is, and where another is chosen.
    if (dynamic_cast<const EMMWaveInError*>(&e))
      text += "\nDispositivo " + s.Placa + " (\"" + s.WaveIn->GetProductName() +
              "\"). Escolha outro dispositivo em " + SettingName("Placa", StationKey(i + 1)) +
              "; o programa list-devices mostra os números dos dispositivos.";
    // A station that fails at every rotation is told once, not every segment.
    if (reportRepeats || text != r.lastStartError) report_(text);
    r.lastStartError = text;
    return false;
  }
}

bool SegmentController::StartStations() {
  for (int i = 0; i < chains_.Count(); ++i) {
    if (!chains_.Bound(i) || chains_[i].Encoder->FileName().empty()) continue;
    if (!StartStation(i, true)) return false;
  }
  return true;
}

void SegmentController::Start() {
  if (Deferred([this] { Start(); })) return;
  Routine routine(*this);
  status_.BeginSegment(env_.Now());
  ApplyFormat(false);
  PrepareSegmentFiles();
  StartStations();
}

bool SegmentController::OpenStationFile(int i, const std::string& stamp) {
  StationRun& r = run_[static_cast<size_t>(i)];
  try {
    chains_[i].Encoder->OpenFile(SegmentPath(i, stamp));
  } catch (const std::exception& e) {
    const std::string text = chains_.Label(i) + ": " + e.what();
    if (text != r.lastStartError) report_(text);
    r.lastStartError = text;
    return false;
  }
  r.stamp = stamp;
  r.lastStartError.clear();
  return true;
}

// The stations' captures keep running: each encoder ends its file and begins the next one
// between two buffers, so that the last sample of a segment is followed by the first of the
// next. A station that fails here does not keep the others from their new files, nor their
// old files from their finished names.
void SegmentController::Rotate() {
  // One that came during a stop has nothing left to rotate.
  if (Deferred([this] {
        if (timerRecord_.isActive()) Rotate();
      }))
    return;
  Routine routine(*this);
  const WallTime now = env_.Now();
  endStamp_ = SegmentStamp(now);
  status_.EndSegment();
  status_.BeginSegment(now);
  ApplyFormat(false);
  currentStamp_ = SegmentStamp(now);
  for (int i = 0; i < chains_.Count(); ++i) {
    if (!chains_.Bound(i)) continue;
    StationSettings& s = chains_[i];
    StationRun& r = run_[static_cast<size_t>(i)];
    if (!chains_.Started(i)) {
      // Not recording (its start failed, or its chain stopped on an error): it starts again.
      r.finishStamp = std::exchange(r.stamp, std::string());
      s.Encoder->SetFileName(SegmentPath(i, currentStamp_));
      StartStation(i, false);
      continue;
    }
    const bool hadFile = s.Encoder->StreamOpen();
    try {
      s.Encoder->CloseFile();
    } catch (const std::exception& e) {
      report_(chains_.Label(i) + ": " + e.what());  // the file is closed all the same
    }
    r.finishStamp = std::exchange(r.stamp, std::string());
    // Waiting for disk space: the fault watch gives it a new file once there is some.
    if (!hadFile && s.Encoder->WriteFailed()) continue;
    // The same name twice (a rotation within one minute): the old file takes its finished
    // name before the new one is created.
    if (r.finishStamp == currentStamp_) FinishSegmentFiles(i);
    OpenStationFile(i, currentStamp_);
  }
  timerRecord_.stop();
  timerRecord_.start();
  for (int i = 0; i < chains_.Count(); ++i)
    if (chains_.Bound(i)) FinishSegmentFiles(i);
}

void SegmentController::Stop() {
  if (Deferred([this] { Stop(); })) return;
  Routine routine(*this);
  status_.EndSegment();
  timerRecord_.stop();
  const bool started = chains_[0].WaveIn->HasState(dsStarted);
  view_.ShowRecordButtons(!started, started);
  endStamp_ = SegmentStamp(env_.Now());
  userStop_ = true;
  for (int i = 0; i < chains_.Count(); ++i) {
    if (!chains_.Bound(i)) continue;
    StationRun& r = run_[static_cast<size_t>(i)];
    r.finishStamp = std::exchange(r.stamp, std::string());
    try {
      chains_[i].WaveIn->Stop();
    } catch (const std::exception& e) {
      report_(e.what());  // the file is finished all the same
    }
    FinishSegmentFiles(i);
  }
  userStop_ = false;
  faultWatch_.stop();
}

// Faults ------------------------------------------------------------------------------------------

bool SegmentController::InputStopped(TComponent* sender) {
  if (userStop_) return true;
  // An input that stopped by itself (an error in its chain, already shown): it starts again
  // at the next rotation; its file is finished from the event loop, outside the stop.
  const int i = chains_.IndexOf(sender);
  if (i >= 0) {
    const std::string stamp = run_[static_cast<size_t>(i)].stamp;
    QTimer::singleShot(0, this, [this, i, stamp] { FinishFailedFile(i, stamp); });
  }
  return false;
}

void SegmentController::DeviceFault(TComponent* sender, TMMDeviceFault fault, uint64_t frames) {
  const int i = chains_.IndexOf(sender);
  if (i < 0) return;
  const StationSettings& s = chains_[i];
  const std::string device = "dispositivo " + s.Placa + " (\"" + s.WaveIn->GetProductName() + "\")";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(frames) / 44100.0);
  switch (fault) {
    case dfOverrun:
      view_.ShowFault(chains_.Label(i) + ": o " + device + " descartou " + std::to_string(frames) +
                      " quadros de áudio (" + seconds + " s) por excesso de dados na captura");
      break;
    case dfDeviceLost:
      view_.ShowFault(chains_.Label(i) + ": o " + device +
                      " falhou ou foi desconectado; a gravação espera por ele e o reabre a cada " +
                      std::to_string(CaptureStream::kReopenEveryMs / 1000) + " s");
      break;
    case dfDeviceBack:
      view_.ShowFault(chains_.Label(i) + ": o " + device +
                      " voltou; a gravação continua no segmento atual");
      break;
  }
}

void SegmentController::EncoderWriteError(int i) {
  if (!chains_.Bound(i)) return;
  const std::string stamp = run_[static_cast<size_t>(i)].stamp;
  view_.ShowFault(chains_.Label(i) + ": disco cheio ou erro de escrita em " + chains_[i].Local +
                  "; o arquivo foi fechado e a gravação volta assim que houver espaço");
  // Inside the encoder's own buffer handling: the file is finished from the event loop.
  QTimer::singleShot(0, this, [this, i, stamp] { FinishFailedFile(i, stamp); });
  faultWatch_.start();
}

void SegmentController::FinishFailedFile(int i, const std::string& stamp) {
  StationRun& r = run_[static_cast<size_t>(i)];
  // A rotation or a stop that came first has finished it already.
  if (stamp.empty() || r.stamp != stamp) return;
  if (chains_[i].Encoder->StreamOpen()) return;
  r.stamp.clear();
  FinishStationFile(i, stamp, SegmentStamp(env_.Now()));
}

void SegmentController::FaultWatchTimer() {
  for (int i = 0; i < chains_.Count(); ++i) {
    // Its failed file is finished first.
    if (!chains_.WaitsForSpace(i) || !run_[static_cast<size_t>(i)].stamp.empty()) continue;
    const StationSettings& s = chains_[i];
    DiskSpace space;
    if (!env_.QueryDisk(s.Local, space) || space.freeBytes < kResumeFreeBytes) continue;
    // A new segment of its own, finished with the others at the next rotation.
    const std::string stamp = SegmentStamp(env_.Now());
    if (OpenStationFile(i, stamp))
      view_.ShowFault(chains_.Label(i) + ": há espaço em disco de novo; gravando em " +
                      JoinPath(s.Local, InProgressName(stamp)));
  }
  for (int i = 0; i < chains_.Count(); ++i)
    if (chains_.WaitsForSpace(i)) return;
  faultWatch_.stop();
}
