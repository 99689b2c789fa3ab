#include "recorder/U_Grava.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/MMBlade.h"
#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "displays/MMConect.h"
#include "platform/DiskSpace.h"
#include "platform/FileOps.h"
#include "platform/LockedFile.h"
#include "platform/MessageWindow.h"
#include "recorder/Convert.h"
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

std::string SegmentStamp(WallTime t) {
  const LocalTime l = ToLocal(t);
  return Two(l.day) + Two(l.month) + Two(l.year) + Two(l.hour) + Two(l.minute);
}

std::string FormatElapsed(milliseconds elapsed) {
  long long s = duration_cast<seconds>(elapsed).count();
  if (s < 0) s = 0;
  s %= 86400;
  return Two(static_cast<int>(s / 3600)) + ":" + Two(static_cast<int>(s / 60 % 60)) + ":" +
         Two(static_cast<int>(s % 60));
}

TFrmGravar::TFrmGravar(std::string iniPath, CaptureBackend* backend, TFrmGravarView* view)
    : iniPath_(std::move(iniPath)), backend_(backend), view_(view ? view : &defaultView_) {
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
    c->SetEnterIdle(false);
    w->SetOutput(v);
    v->SetOutput(c);
    c->SetOutput(e);
  }
  timerRecord_.setInterval(602000);
  QObject::connect(&timerRecord_, &QTimer::timeout, this, [this] { TimerRecordTimer(); });
  timerMataArquivos_.setInterval(86400000);
  QObject::connect(&timerMataArquivos_, &QTimer::timeout, this,
                   [this] { TimerMataArquivosTimer(); });
  timerMataArquivos_.start();
}

TFrmGravar::~TFrmGravar() {
  timerRecord_.stop();
  timerMataArquivos_.stop();
  for (int i = 0; i < kMaxStations; ++i) {
    auto* w = dynamic_cast<TMMWaveIn*>(FindComponent("WaveInR" + std::to_string(i + 1)));
    if (!w) continue;
    w->OnStart = nullptr;
    w->OnStop = nullptr;
    w->OnBufferReady = nullptr;
    w->Close();
  }
}

void TFrmGravar::Report(const std::string& text) {
  view_->ShowMessage(text);
}

bool TFrmGravar::Bound(int i) const {
  return i >= 0 && i < stationCount_ && stations_[static_cast<size_t>(i)].Configured;
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
    count = StrToInt(emissoras);
  } catch (const EConvertError& e) {
    Report(e.what());
  }
  if (count < 1 || count > kMaxStations) {
    const int kept = std::clamp(count, 1, kMaxStations);
    Report("Número de emissoras inválido (" + std::to_string(count) + "). Usando " +
           std::to_string(kept) + ".");
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
      ConfigureStationChain(s);
      s.Configured = true;
    } catch (const EConvertError& e) {
      Report(e.what());
    }
  }

  std::vector<std::string> names;
  for (int n = 1; n <= stationCount_; ++n)
    names.push_back(StationListName(stations_[static_cast<size_t>(n - 1)], n));
  view_->SetStationList(names);
  currentStation_ = 0;
  view_->ShowStation(0, stations_[0].Emissoras, stationCount_ - 1);
  view_->SelectRecordingSource(stations_[0].Controle);

  ApplyFormat(true);

  // Segments of at least a minute: a zero or negative length would rotate without end.
  int minutes = 10;
  try {
    minutes = StrToInt(settings_.TempoRec);
  } catch (const EConvertError& e) {
    Report(e.what());
  }
  if (minutes < 1) minutes = 1;
  timerRecord_.setInterval(minutes * 60000);

  if (settings_.Prioridade == "S" && RaiseOwnPriority) RaiseOwnPriority();
}

void TFrmGravar::ApplyFormat() {
  ApplyFormat(false);
}

void TFrmGravar::ApplyFormat(bool report) {
  std::string kbps;
  try {
    const int index = StrToInt(settings_.Formato);
    // An index outside the list never reaches an encoder; the label shows no bit rate.
    if (index >= 0 && index <= br320) {
      kbps = std::to_string(kBitrates[index]);
      for (int i = 0; i < stationCount_; ++i)
        if (stations_[static_cast<size_t>(i)].Encoder)
          stations_[static_cast<size_t>(i)].Encoder->SetBitrate(static_cast<TMMBitrates>(index));
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
  try {
    ::PurgeOldRecordings(folders, settings_.DiasRec);
  } catch (const EConvertError& e) {
    Report(e.what());
  }
}

void TFrmGravar::TimerMataArquivosTimer() {
  PurgeOldRecordings();
  view_->ArmAutoStart();
}

// Start, rotation, stop
// ----------------------------------------------------------------------------

void TFrmGravar::PrepareSegmentFiles() {
  currentStamp_ = SegmentStamp(WallNow());
  for (int i = 0; i < stationCount_; ++i) {
    StationSettings& s = stations_[static_cast<size_t>(i)];
    if (!Bound(i) || !s.Encoder) continue;
    const std::string path = JoinPath(s.Local, currentStamp_ + ".mp3");
    // A file of that name left unfinished would be replaced by the new one: finish it first.
    if (FileExists(path)) RecoverFile(i, currentStamp_ + ".mp3");
    s.Encoder->SetFileName(path);
  }
  timerRecord_.stop();
  timerRecord_.start();
}

bool TFrmGravar::StartStations() {
  for (int i = 0; i < stationCount_; ++i) {
    StationSettings& s = stations_[static_cast<size_t>(i)];
    if (!Bound(i) || !s.Encoder || s.Encoder->FileName().empty()) continue;
    try {
      s.WaveIn->Open();
      s.WaveIn->Start();
    } catch (const std::exception& e) {
      Report(e.what());
      return false;
    }
  }
  return true;
}

void TFrmGravar::BGravarClick() {
  segmentStart_ = WallNow();
  ApplyFormat();
  PrepareSegmentFiles();
  StartStations();
}

void TFrmGravar::TimerRecordTimer() {
  previousStamp_ = currentStamp_;
  endStamp_ = SegmentStamp(WallNow());
  elapsedBefore_ += lastSegmentElapsed_;
  for (int i = 0; i < stationCount_; ++i)
    if (Bound(i)) stations_[static_cast<size_t>(i)].WaveIn->Stop();
  segmentStart_ = WallNow();
  ApplyFormat();
  PrepareSegmentFiles();
  if (!StartStations()) return;
  for (int i = 0; i < stationCount_; ++i)
    if (Bound(i)) FinishSegmentFiles(i);
}

void TFrmGravar::BStopClick() {
  elapsedBefore_ += lastSegmentElapsed_;
  timerRecord_.stop();
  UpdateRecordButtons();
  previousStamp_ = currentStamp_;
  endStamp_ = SegmentStamp(WallNow());
  for (int i = 0; i < stationCount_; ++i) {
    if (!Bound(i)) continue;
    try {
      stations_[static_cast<size_t>(i)].WaveIn->Stop();
    } catch (const std::exception& e) {
      Report(e.what());  // the file is finished all the same
    }
    FinishSegmentFiles(i);
  }
}

void TFrmGravar::FinishSegmentFiles(int i) {
  if (previousStamp_.empty()) return;
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  const std::string finished = previousStamp_ + "a" + endStamp_ + ".mp3";
  const std::string to = JoinPath(s.Local, finished);
  if (!FinishFile(JoinPath(s.Local, previousStamp_ + ".mp3"), to)) return;
  if (s.Copia == "S" && FileExists(to)) CopyReplacing(to, JoinPath(s.LocalCopia, finished));
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

void TFrmGravar::WaveInR1Stop(TComponent*) {
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
  elapsedText_ = FormatElapsed(total);
  const LocalTime clock = ToLocal(now);
  if (clock.hour == 23 && clock.minute == 59 && clock.second == 59 && !endOfDayDone_) {
    endOfDayDone_ = true;
    PurgeOldRecordings();
    view_->ArmAutoStart();
  }
  // A day of running time: counted, and the clock of the running time starts again. Past
  // it, too: a busy moment may skip the one second that reads 23:59:59.
  if (elapsedText_ == "23:59:59" || total >= hours(24)) {
    elapsedText_ = "23:59:59";
    ++dayCount_;
    segmentStart_ = now;
    elapsedBefore_ = milliseconds(0);
    lastSegmentElapsed_ = milliseconds(0);
  }
  view_->ShowRunningTime(elapsedText_, dayCount_);
  if (stations_[0].WaveIn && stations_[0].WaveIn->HasState(dsStarted)) {
    RefreshDiskSpace();
    LowSpaceCheck();
  }
}

void TFrmGravar::RefreshDiskSpace() {
  const StationSettings& s = stations_[static_cast<size_t>(currentStation_)];
  DiskSpace space;
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
  view_->ShowDiskSpace(freeMB, used, percent);
}

// Runs after RefreshDiskSpace, on its figure.
void TFrmGravar::LowSpaceCheck() {
  const StationSettings& s = stations_[static_cast<size_t>(currentStation_)];
  int threshold = 0;
  try {
    threshold = StrToInt(settings_.MBLivres);
  } catch (const EConvertError&) {
    return;  // no threshold, no deletion; told once at load would be enough, not per buffer
  }
  if (!spaceKnown_ || freeMB_ >= threshold) return;
  // At most four deletions a second: each frees a whole segment, far more than eight stations
  // write meanwhile, and a guard run per buffer of every station would take the interface
  // thread from the capture when a folder is large.
  const WallTime now = WallNow();
  if (now >= lastGuardRun_ && now - lastGuardRun_ < std::chrono::milliseconds(250)) return;
  lastGuardRun_ = now;
  DeleteOldestRecording(s.Local);
}
