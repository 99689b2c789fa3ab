#include "recorder/U_Grava.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "audio/MMBlade.h"
#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "common/Convert.h"
#include "displays/MMConect.h"
#include "platform/DiskSpace.h"
#include "platform/FileOps.h"
#include "platform/LockedFile.h"
#include "platform/MessageWindow.h"
#include "recorder/Retention.h"

using namespace std::chrono;

namespace {

constexpr int kBitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v % 100);
  return b;
}

}  // namespace

void TFrmGravarView::ShowMessage(const std::string& text) {
  ShowApplicationError(text);
}

void TFrmGravarView::ShowFault(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TFrmGravarView::LogLine(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

// A start, rotation or stop under way: commands that come meanwhile wait for its end.
class TFrmGravar::Routine {
 public:
  explicit Routine(TFrmGravar& f) : f_(f) { ++f_.busy_; }
  ~Routine() { f_.EndRoutine(); }
  Routine(const Routine&) = delete;
  Routine& operator=(const Routine&) = delete;

 private:
  TFrmGravar& f_;
};

std::string FormatElapsed(milliseconds elapsed) {
  long long s = duration_cast<seconds>(elapsed).count();
  if (s < 0) s = 0;
  s %= 86400;
  return Two(static_cast<int>(s / 3600)) + ":" + Two(static_cast<int>(s / 60 % 60)) + ":" +
         Two(static_cast<int>(s % 60));
}

TFrmGravar::TFrmGravar(std::string iniPath, CaptureBackend* backend, TFrmGravarView* view)
    : iniPath_(std::move(iniPath)),
      backend_(backend),
      view_(view ? view : &defaultView_),
      worker_(std::make_unique<FileWorker>()) {
  for (int i = 0; i < kMaxStations; ++i) {
    const std::string n = std::to_string(i + 1);
    auto* w = new TMMWaveIn(this, backend_);
    auto* v = new TMMVolume(this);
    auto* c = new TMMConnector(this);
    auto* e = new TMMMP3Encoder(this);
    w->SetName("WaveInR" + n);
    v->SetName("VolumeR" + n);
    c->SetName("ConnectorR" + n);
    e->SetName("MP3EncoderR" + n);
    w->SetBufferSize(4096);
    w->SetSampleRate(44100);
    w->SetMode(mStereo);
    w->SetBitLength(b16Bit);
    w->SetDeviceID(MapperId);
    w->OnStart = [this](TComponent* s) { WaveInR1Start(s); };
    w->OnStop = [this](TComponent* s) { WaveInR1Stop(s); };
    w->OnBufferReady = [this](TComponent* s, PWaveHdr b) { WaveInR1BufferReady(s, b); };
    w->OnDeviceFault = [this](TComponent* s, TMMDeviceFault f, uint64_t frames) {
      WaveInR1DeviceFault(s, f, frames);
    };
    e->OnWriteError = [this, i](TComponent*) { EncoderWriteError(i); };
    e->SetDurableFiles(worker_.get());
    c->SetEnterIdle(false);
    w->SetOutput(v);
    v->SetOutput(c);
    c->SetOutput(e);
  }
  timerRecord_.setInterval(602000);
  // Segments of whole minutes: a coarse timer may fire a few seconds early or late.
  timerRecord_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timerRecord_, &QTimer::timeout, this, [this] { TimerRecordTimer(); });
  faultWatch_.setInterval(1000);
  QObject::connect(&faultWatch_, &QTimer::timeout, this, [this] { FaultWatchTimer(); });
  timerMataArquivos_.setInterval(86400000);
  QObject::connect(&timerMataArquivos_, &QTimer::timeout, this,
                   [this] { TimerMataArquivosTimer(); });
  timerMataArquivos_.start();
}

TFrmGravar::~TFrmGravar() {
  timerRecord_.stop();
  timerMataArquivos_.stop();
  faultWatch_.stop();
  for (int i = 0; i < kMaxStations; ++i) {
    const std::string n = std::to_string(i + 1);
    auto* w = dynamic_cast<TMMWaveIn*>(FindComponent("WaveInR" + n));
    auto* e = dynamic_cast<TMMMP3Encoder*>(FindComponent("MP3EncoderR" + n));
    if (w) {
      w->OnStart = nullptr;
      w->OnStop = nullptr;
      w->OnBufferReady = nullptr;
      w->OnDeviceFault = nullptr;
      w->Close();
    }
    // The worker goes before the components do.
    if (e) {
      e->OnWriteError = nullptr;
      e->SetDurableFiles(nullptr);
    }
  }
}

void TFrmGravar::Report(const std::string& text) {
  view_->ShowMessage(text);
}

bool TFrmGravar::Bound(int i) const {
  return i >= 0 && i < stationCount_ && stations_[static_cast<size_t>(i)].Configured;
}

int TFrmGravar::StationOf(TComponent* sender) const {
  for (int i = 0; i < stationCount_; ++i)
    if (stations_[static_cast<size_t>(i)].WaveIn == sender) return i;
  return -1;
}

std::string TFrmGravar::StationLabel(int i) const {
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  const std::string n = "Emissora " + std::to_string(i + 1);
  return s.Emissoras.empty() ? n : n + " (" + s.Emissoras + ")";
}

uint64_t TFrmGravar::BytesWritten() const {
  uint64_t total = 0;
  for (const StationSettings& s : stations_)
    if (s.Encoder) total += s.Encoder->BytesWritten();
  return total;
}

bool TFrmGravar::WaitsForSpace(int i) const {
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  return Bound(i) && s.Encoder && s.Encoder->WriteFailed() && s.WaveIn->HasState(dsStarted);
}

void TFrmGravar::WaitFileWork() {
  worker_->Drain();
}

// Routines and the commands that wait for them ----------------------------------------------

bool TFrmGravar::Deferred(std::function<void()> routine) {
  if (busy_ == 0) return false;
  deferred_.push_back(std::move(routine));
  return true;
}

void TFrmGravar::RunCommand(std::function<void()> command) {
  if (Deferred(command)) return;
  command();
}

void TFrmGravar::EndRoutine() {
  if (--busy_ > 0 || draining_) return;
  draining_ = true;
  while (!deferred_.empty()) {
    std::function<void()> next = std::move(deferred_.front());
    deferred_.pop_front();
    try {
      next();
    } catch (const std::exception& e) {
      Report(e.what());
    }
  }
  draining_ = false;
}

bool TFrmGravar::IsRecording() const {
  for (int i = 0; i < stationCount_; ++i) {
    const StationSettings& s = stations_[static_cast<size_t>(i)];
    if (s.WaveIn && s.WaveIn->HasState(dsStarted)) return true;
  }
  return false;
}

void TFrmGravar::SetCurrentStation(int index) {
  if (index >= 0 && index < std::max(stationCount_, 1)) currentStation_ = index;
}

// Loading ------------------------------------------------------------------------------------

void TFrmGravar::LoadConfiguration() {
  PrivateProfile ini(iniPath_);
  if (!ini.Exists()) WriteDefaultConfiguration(ini);

  settings_.Formato = ini.ReadString("Gravacao", "Formato");
  settings_.AutoGravar = ini.ReadString("Geral", "AutoGravar");
  settings_.MBLivres = ini.ReadString("Geral", "MB Livres");
  settings_.DiasRec = ini.ReadString("Geral", "DiasRec");
  settings_.TempoRec = ini.ReadString("Geral", "TempoRec");
  settings_.Prioridade = ini.ReadString("Geral", "Prioridade");
  const std::string emissoras = ini.ReadString("Geral", "Emissoras");

  // A count that cannot be read still records station 1: a logger must keep what it can.
  int count = 1;
  try {
    count = StrToInt(emissoras, "Geral", "Emissoras");
  } catch (const EConvertError& e) {
    Report(e.what());
  }
  if (count < 1 || count > kMaxStations) {
    const int kept = std::clamp(count, 1, kMaxStations);
    Report("Número de emissoras inválido (" + std::to_string(count) + ", " +
           SettingName("Geral", "Emissoras") + "). Usando " + std::to_string(kept) + ".");
    count = kept;
  }
  stationCount_ = count;

  for (int n = 1; n <= kMaxStations; ++n) {
    StationSettings& s = stations_[static_cast<size_t>(n - 1)];
    s.Configured = false;
    const std::string key = StationKey(n);
    const std::string digit = std::to_string(n);
    s.WaveIn = dynamic_cast<TMMWaveIn*>(FindComponent("WaveInR" + digit));
    s.Volume = dynamic_cast<TMMVolume*>(FindComponent("VolumeR" + digit));
    s.Connector = dynamic_cast<TMMConnector*>(FindComponent("ConnectorR" + digit));
    s.Encoder = dynamic_cast<TMMMP3Encoder*>(FindComponent("MP3EncoderR" + digit));
    if (n > stationCount_) continue;
    s.Placa = ini.ReadString("Placa", key);
    s.Local = ini.ReadString("Local", key);
    s.Copia = ini.ReadString("Copia", key);
    s.LocalCopia = ini.ReadString("LocalCopia", key);
    s.Controle = ini.ReadString("Controle", key);
    s.Canal = ini.ReadString("Canal", key);
    s.Emissoras = ini.ReadString("Emissoras", key);
    // A station whose card or channel cannot be read is reported and does not record.
    try {
      ConfigureStationChain(s, n);
      s.Configured = true;
    } catch (const EConvertError& e) {
      Report(e.what());
    }
  }

  std::vector<std::string> names;
  for (int n = 1; n <= stationCount_; ++n)
    names.push_back(StationListName(stations_[static_cast<size_t>(n - 1)].Emissoras, n));
  view_->SetStationList(names);
  currentStation_ = 0;
  view_->ShowStation(0, stations_[0].Emissoras, stationCount_ - 1);
  view_->SelectRecordingSource(stations_[0].Controle);

  ApplyFormat(true);

  // Segments of at least a minute: a zero or negative length would rotate without end.
  int minutes = 10;
  try {
    minutes = StrToInt(settings_.TempoRec, "Geral", "TempoRec");
  } catch (const EConvertError& e) {
    Report(e.what());
  }
  if (minutes < 1) minutes = 1;
  timerRecord_.setInterval(minutes * 60000);

  // Told once here: the guard converts it at every buffer and takes no threshold from text
  // that is not a number.
  try {
    StrToInt(settings_.MBLivres, "Geral", "MB Livres");
  } catch (const EConvertError& e) {
    Report(std::string(e.what()) + ": sem limite de espaço livre");
  }

  if (settings_.Prioridade == "S" && RaiseOwnPriority) RaiseOwnPriority();
}

void TFrmGravar::ApplyFormat() {
  ApplyFormat(false);
}

void TFrmGravar::ApplyFormat(bool report) {
  std::string kbps;
  try {
    const int index = StrToInt(settings_.Formato, "Gravacao", "Formato");
    // An index outside the list never reaches an encoder; the label shows no bit rate.
    if (index >= 0 && index <= br320) {
      kbps = std::to_string(kBitrates[index]);
      for (int i = 0; i < stationCount_; ++i)
        if (stations_[static_cast<size_t>(i)].Encoder)
          stations_[static_cast<size_t>(i)].Encoder->SetBitrate(static_cast<TMMBitrates>(index));
    } else if (report) {
      Report("'" + settings_.Formato + "' não é um formato da lista, de 0 a 13 (" +
             SettingName("Gravacao", "Formato") + "): as emissoras gravam a " +
             std::to_string(
                 kBitrates[stations_[0].Encoder ? stations_[0].Encoder->Bitrate() : br128]) +
             " Kbps");
    }
  } catch (const EConvertError& e) {
    // Told once, at load: a box at every start would hold a rotation with every station
    // stopped until someone clicks.
    if (report) Report(e.what());
  }
  const TMMMP3Encoder* first = stations_[0].Encoder;
  const bool stereo = !first || first->ChannelMode() == cmStereo;
  formatText_ = std::string(20, ' ') + "MP3: " + kbps + " Kbps, " + (stereo ? "Stereo" : "Mono");
  view_->ShowFormat(formatText_);
}

// Leftovers and retention ------------------------------------------------------------------------

void TFrmGravar::RecoverInterruptedRecordings() {
  for (int i = 0; i < stationCount_; ++i) {
    if (!Bound(i)) continue;
    for (const FileEntry& f : ListFolder(stations_[static_cast<size_t>(i)].Local, "*.mp3"))
      if (!f.directory && IsInProgressName(f.name)) RecoverFile(i, f.name);
  }
}

void TFrmGravar::RecoverFile(int i, const std::string& name) {
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  const std::string path = JoinPath(s.Local, name);
  if (IsFileInUse(path)) return;  // being recorded
  WallTime modified{};
  if (!FileModified(path, modified)) return;  // gone meanwhile
  const std::string start = name.substr(0, 10);
  FinishFile(path, JoinPath(s.Local, start + "a" + SegmentStamp(modified) + ".mp3"));
}

bool TFrmGravar::FinishFile(const std::string& from, const std::string& to) {
  if (RenameNoReplace(from, to)) return true;
  // The finished name is taken (a stop, a start and a stop within one minute): raw CBR
  // streams concatenate, so the frames go behind the earlier file's and nothing is lost.
  if (!FileExists(from) || !FileExists(to) || IsFileInUse(from)) return false;
  if (!AppendFile(from, to)) return false;
  DeleteUnlessHeld(from);
  return true;
}

void TFrmGravar::PurgeOldRecordings() {
  std::vector<std::string> folders;
  for (int i = 0; i < stationCount_; ++i)
    folders.push_back(stations_[static_cast<size_t>(i)].Local);
  auto error = std::make_shared<std::string>();
  worker_->Post(
      [folders, diasRec = settings_.DiasRec, error] {
        try {
          ::PurgeOldRecordings(folders, diasRec);
        } catch (const EConvertError& e) {
          *error = e.what();
        }
      },
      [this, error] {
        if (!error->empty()) Report(*error);
      });
}

void TFrmGravar::TimerMataArquivosTimer() {
  PurgeOldRecordings();
  view_->ArmAutoStart();
}

// Start, rotation, stop
// ----------------------------------------------------------------------------

std::string TFrmGravar::SegmentPath(int i, const std::string& stamp) {
  const std::string name = stamp + ".mp3";
  const std::string path = JoinPath(stations_[static_cast<size_t>(i)].Local, name);
  // A file of that name left unfinished would be replaced by the new one: finish it first.
  if (FileExists(path)) RecoverFile(i, name);
  return path;
}

void TFrmGravar::PrepareSegmentFiles() {
  currentStamp_ = SegmentStamp(WallNow());
  for (int i = 0; i < stationCount_; ++i) {
    StationSettings& s = stations_[static_cast<size_t>(i)];
    if (!Bound(i) || !s.Encoder) continue;
    s.Encoder->SetFileName(SegmentPath(i, currentStamp_));
  }
  timerRecord_.stop();
  timerRecord_.start();
}

bool TFrmGravar::StartStation(int i, bool reportRepeats) {
  StationSettings& s = stations_[static_cast<size_t>(i)];
  StationRun& r = run_[static_cast<size_t>(i)];
  try {
    s.WaveIn->Open();
    s.WaveIn->Start();
    if (s.Encoder->StreamOpen()) r.stamp = currentStamp_;
    r.lastStartError.clear();
    return true;
  } catch (const std::exception& e) {
    std::string text = StationLabel(i) + ": " + e.what();
    // A device that cannot record: which one it is, and where another is chosen.
    if (dynamic_cast<const EMMWaveInError*>(&e))
      text += "\nDispositivo " + s.Placa + " (\"" + s.WaveIn->GetProductName() +
              "\"). Escolha outro dispositivo em " + SettingName("Placa", StationKey(i + 1)) +
              "; o programa list-devices mostra os números dos dispositivos.";
    // A station that fails at every rotation is told once, not every segment.
    if (reportRepeats || text != r.lastStartError) Report(text);
    r.lastStartError = text;
    return false;
  }
}

bool TFrmGravar::StartStations() {
  for (int i = 0; i < stationCount_; ++i) {
    StationSettings& s = stations_[static_cast<size_t>(i)];
    if (!Bound(i) || !s.Encoder || s.Encoder->FileName().empty()) continue;
    if (!StartStation(i, true)) return false;
  }
  return true;
}

void TFrmGravar::BGravarClick() {
  if (Deferred([this] { BGravarClick(); })) return;
  Routine routine(*this);
  // Read once per start: the guard looks at it for every buffer.
  try {
    guardThreshold_ = StrToInt(settings_.MBLivres);
  } catch (const EConvertError&) {
    guardThreshold_.reset();
  }
  segmentStart_ = WallNow();
  ApplyFormat();
  PrepareSegmentFiles();
  StartStations();
}

bool TFrmGravar::OpenStationFile(int i, const std::string& stamp) {
  StationSettings& s = stations_[static_cast<size_t>(i)];
  StationRun& r = run_[static_cast<size_t>(i)];
  try {
    s.Encoder->OpenFile(SegmentPath(i, stamp));
  } catch (const std::exception& e) {
    const std::string text = StationLabel(i) + ": " + e.what();
    if (text != r.lastStartError) Report(text);
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
void TFrmGravar::TimerRecordTimer() {
  // One that came during a stop has nothing left to rotate.
  if (Deferred([this] {
        if (timerRecord_.isActive()) TimerRecordTimer();
      }))
    return;
  Routine routine(*this);
  const WallTime now = WallNow();
  previousStamp_ = currentStamp_;
  endStamp_ = SegmentStamp(now);
  elapsedBefore_ += lastSegmentElapsed_;
  segmentStart_ = now;
  ApplyFormat();
  currentStamp_ = SegmentStamp(now);
  for (int i = 0; i < stationCount_; ++i) {
    if (!Bound(i) || !stations_[static_cast<size_t>(i)].Encoder) continue;
    StationSettings& s = stations_[static_cast<size_t>(i)];
    StationRun& r = run_[static_cast<size_t>(i)];
    if (!s.WaveIn->HasState(dsStarted)) {
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
      Report(StationLabel(i) + ": " + e.what());  // the file is closed all the same
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
  for (int i = 0; i < stationCount_; ++i)
    if (Bound(i)) FinishSegmentFiles(i);
}

void TFrmGravar::BStopClick() {
  if (Deferred([this] { BStopClick(); })) return;
  Routine routine(*this);
  elapsedBefore_ += lastSegmentElapsed_;
  timerRecord_.stop();
  UpdateRecordButtons();
  previousStamp_ = currentStamp_;
  endStamp_ = SegmentStamp(WallNow());
  userStop_ = true;
  for (int i = 0; i < stationCount_; ++i) {
    if (!Bound(i)) continue;
    StationRun& r = run_[static_cast<size_t>(i)];
    r.finishStamp = std::exchange(r.stamp, std::string());
    try {
      stations_[static_cast<size_t>(i)].WaveIn->Stop();
    } catch (const std::exception& e) {
      Report(e.what());  // the file is finished all the same
    }
    FinishSegmentFiles(i);
  }
  userStop_ = false;
  faultWatch_.stop();
}

void TFrmGravar::FinishSegmentFiles(int i) {
  const std::string start = std::exchange(run_[static_cast<size_t>(i)].finishStamp, std::string());
  if (start.empty()) return;
  FinishStationFile(i, start, endStamp_);
}

void TFrmGravar::FinishStationFile(int i, const std::string& start, const std::string& end) {
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  const std::string from = JoinPath(s.Local, start + ".mp3");
  const std::string finished = start + "a" + end + ".mp3";
  const std::string to = JoinPath(s.Local, finished);
  // A file that never got a byte (a disk full from its first write) holds nothing to keep.
  uint64_t size = 0;
  if (FileSize(from, size) && size == 0 && DeleteUnlessHeld(from)) return;
  if (!FinishFile(from, to)) return;
  // The finished name and the copy reach the disk on the worker: a copy of a segment to a
  // slow disk must not hold up the thread that carries the audio.
  const bool copy = s.Copia == "S";
  worker_->Post(
      [folder = s.Local, to, backup = JoinPath(s.LocalCopia, finished), copy, copier = BackupCopy] {
        SyncFolder(folder);
        // A failed copy is silent: the recording itself is safe.
        if (copy && FileExists(to) && copier) copier(to, backup);
      });
}

void TFrmGravar::UpdateRecordButtons() {
  const bool started = stations_[0].WaveIn && stations_[0].WaveIn->HasState(dsStarted);
  view_->ShowRecordButtons(!started, started);
}

// Wave input events -------------------------------------------------------------------------------

void TFrmGravar::WaveInR1Start(TComponent*) {
  view_->ShowRecordButtons(false, true);
  view_->StartIconAnimation();
}

void TFrmGravar::WaveInR1Stop(TComponent* sender) {
  if (!userStop_) {
    // An input that stopped by itself (an error in its chain, already shown): the other
    // stations record on, and this one starts again at the next rotation.
    const int i = StationOf(sender);
    if (i >= 0) StationStopped(i);
    if (IsRecording()) return;
  }
  view_->ShowRecordButtons(true, false);
  view_->StopIconAnimation();
  for (int i = 0; i < stationCount_; ++i)
    if (Bound(i)) stations_[static_cast<size_t>(i)].WaveIn->Close();
  view_->ShowIdleIcon();
}

void TFrmGravar::WaveInR1BufferReady(TComponent*, PWaveHdr) {
  const WallTime now = WallNow();
  lastSegmentElapsed_ = duration_cast<milliseconds>(now - segmentStart_);
  const milliseconds total = elapsedBefore_ + lastSegmentElapsed_;
  // Up to 350 buffers a second come here: the texts change once a second.
  const long long second = duration_cast<seconds>(total).count();
  if (second != elapsedSecond_) {
    elapsedSecond_ = second;
    elapsedText_ = FormatElapsed(total);
  }
  const auto wallSecond = time_point_cast<seconds>(now);
  if (wallSecond != clockSecond_) {
    clockSecond_ = wallSecond;
    const LocalTime clock = ToLocal(now);
    if (clock.hour == 23 && clock.minute == 59 && clock.second == 59 && !endOfDayDone_) {
      endOfDayDone_ = true;
      PurgeOldRecordings();
      view_->ArmAutoStart();
    }
  }
  // A day of running time: counted, and the clock of the running time starts again. Past
  // it, too: a busy moment may skip the one second that reads 23:59:59.
  if (elapsedText_ == "23:59:59" || total >= hours(24)) {
    elapsedText_ = "23:59:59";
    ++dayCount_;
    segmentStart_ = now;
    elapsedBefore_ = milliseconds(0);
    lastSegmentElapsed_ = milliseconds(0);
    elapsedSecond_ = -1;
  }
  if (elapsedText_ != shownElapsed_ || dayCount_ != shownDays_) {
    shownElapsed_ = elapsedText_;
    shownDays_ = dayCount_;
    view_->ShowRunningTime(elapsedText_, dayCount_);
  }
  if (stations_[0].WaveIn && stations_[0].WaveIn->HasState(dsStarted)) {
    // The figures of a query at most a quarter of a second old: a query per buffer of every
    // station would be hundreds a second.
    if (diskStation_ != currentStation_ || now < diskQueried_ ||
        now - diskQueried_ >= kDiskQueryAge)
      RefreshDiskSpace();
    LowSpaceCheck();
  }
}

void TFrmGravar::RefreshDiskSpace() {
  const StationSettings& s = stations_[static_cast<size_t>(currentStation_)];
  DiskSpace space;
  diskQueried_ = WallNow();
  diskStation_ = currentStation_;
  // An unreadable folder reads 0 MB, and no share is computed from a zero size.
  spaceKnown_ = !s.Local.empty() && QueryDiskSpace(s.Local, space);
  const int64_t freeMB = spaceKnown_ ? static_cast<int64_t>(space.freeBytes / 1024 / 1024) : 0;
  const int64_t totalMB = spaceKnown_ ? static_cast<int64_t>(space.totalBytes / 1024 / 1024) : 0;
  const int64_t used = std::max<int64_t>(totalMB - freeMB, 0);
  const int percent = totalMB > 0
                          ? static_cast<int>(std::nearbyint(static_cast<double>(used) * 100.0 /
                                                            static_cast<double>(totalMB)))
                          : -1;
  freeMB_ = freeMB;
  if (freeMB == shownFreeMB_ && used == shownUsedMB_ && percent == shownPercent_) return;
  shownFreeMB_ = freeMB;
  shownUsedMB_ = used;
  shownPercent_ = percent;
  view_->ShowDiskSpace(freeMB, used, percent);
}

// Runs after RefreshDiskSpace, on its figure. Deleting cannot bring space back that another
// program takes: the guard frees at most what the stations wrote since its last deletion (the
// first one is free), so a disk filled by someone else costs one recording, not the archive.
void TFrmGravar::LowSpaceCheck() {
  const StationSettings& s = stations_[static_cast<size_t>(currentStation_)];
  if (!guardThreshold_) return;  // no threshold, no deletion; told at load
  const int threshold = *guardThreshold_;
  if (!spaceKnown_ || freeMB_ >= threshold || guardBusy_) return;
  // At most four looks a second: a look per buffer of every station would flood the worker.
  const WallTime now = WallNow();
  if (now >= lastGuardRun_ && now - lastGuardRun_ < std::chrono::milliseconds(250)) return;
  lastGuardRun_ = now;
  const uint64_t written = BytesWritten();
  const uint64_t budget = guardDeleted_ ? written - writtenAtDeletion_ : UINT64_MAX;
  guardBusy_ = true;
  auto result = std::make_shared<GuardDeletion>();
  worker_->Post(
      [folder = s.Local, budget, result] { *result = DeleteOldestRecording(folder, budget); },
      [this, result, folder = s.Local, freeMB = freeMB_, threshold] {
        guardBusy_ = false;
        if (!result->deleted) return;
        guardDeleted_ = true;
        writtenAtDeletion_ = BytesWritten();
        view_->LogLine("Pouco espaço em disco (" + std::to_string(freeMB) + " MB livres, mínimo " +
                       std::to_string(threshold) + " MB): apagada a gravação mais antiga, " +
                       JoinPath(folder, result->name));
      });
}

// Faults ------------------------------------------------------------------------------------------

void TFrmGravar::WaveInR1DeviceFault(TComponent* sender, TMMDeviceFault fault, uint64_t frames) {
  const int i = StationOf(sender);
  if (i < 0) return;
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  const std::string device = "dispositivo " + s.Placa + " (\"" + s.WaveIn->GetProductName() + "\")";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(frames) / 44100.0);
  switch (fault) {
    case dfOverrun:
      view_->ShowFault(StationLabel(i) + ": o " + device + " descartou " + std::to_string(frames) +
                       " quadros de áudio (" + seconds + " s) por excesso de dados na captura");
      break;
    case dfDeviceLost:
      view_->ShowFault(StationLabel(i) + ": o " + device +
                       " falhou ou foi desconectado; a gravação espera por ele e o reabre a cada " +
                       std::to_string(CaptureStream::kReopenEveryMs / 1000) + " s");
      break;
    case dfDeviceBack:
      view_->ShowFault(StationLabel(i) + ": o " + device +
                       " voltou; a gravação continua no segmento atual");
      break;
  }
}

void TFrmGravar::EncoderWriteError(int i) {
  if (!Bound(i)) return;
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  const std::string stamp = run_[static_cast<size_t>(i)].stamp;
  view_->ShowFault(StationLabel(i) + ": disco cheio ou erro de escrita em " + s.Local +
                   "; o arquivo foi fechado e a gravação volta assim que houver espaço");
  // Inside the encoder's own buffer handling: the file is finished from the event loop.
  QTimer::singleShot(0, this, [this, i, stamp] { FinishFailedFile(i, stamp); });
  faultWatch_.start();
}

void TFrmGravar::StationStopped(int i) {
  const std::string stamp = run_[static_cast<size_t>(i)].stamp;
  QTimer::singleShot(0, this, [this, i, stamp] { FinishFailedFile(i, stamp); });
}

void TFrmGravar::FinishFailedFile(int i, const std::string& stamp) {
  StationRun& r = run_[static_cast<size_t>(i)];
  // A rotation or a stop that came first has finished it already.
  if (stamp.empty() || r.stamp != stamp) return;
  if (stations_[static_cast<size_t>(i)].Encoder->StreamOpen()) return;
  r.stamp.clear();
  FinishStationFile(i, stamp, SegmentStamp(WallNow()));
}

void TFrmGravar::FaultWatchTimer() {
  for (int i = 0; i < stationCount_; ++i) {
    // Its failed file is finished first.
    if (!WaitsForSpace(i) || !run_[static_cast<size_t>(i)].stamp.empty()) continue;
    const StationSettings& s = stations_[static_cast<size_t>(i)];
    DiskSpace space;
    if (!QueryDiskSpace(s.Local, space) || space.freeBytes < kResumeFreeBytes) continue;
    // A new segment of its own, finished with the others at the next rotation.
    const std::string stamp = SegmentStamp(WallNow());
    if (OpenStationFile(i, stamp))
      view_->ShowFault(StationLabel(i) + ": há espaço em disco de novo; gravando em " +
                       JoinPath(s.Local, stamp + ".mp3"));
  }
  for (int i = 0; i < stationCount_; ++i)
    if (WaitsForSpace(i)) return;
  faultWatch_.stop();
}
