#include "recorder/U_Grava.h"

#include <algorithm>
#include <cstdio>

#include "audio/MMBlade.h"
#include "common/Convert.h"
#include "platform/FileOps.h"
#include "platform/MessageWindow.h"

void TFrmGravarView::ShowMessage(const std::string& text) {
  ShowApplicationError(text);
}

void TFrmGravarView::ShowFault(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TFrmGravarView::LogLine(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

namespace {

// The worker the session uses: the environment's, or one of its own.
FileWorker* WorkerOf(const RecorderEnvironment& env, std::unique_ptr<FileWorker>& own) {
  if (env.worker) return env.worker;
  own = std::make_unique<FileWorker>();
  return own.get();
}

}  // namespace

TFrmGravar::TFrmGravar(std::string iniPath, CaptureBackend* backend, TFrmGravarView* view,
                       RecorderEnvironment env)
    : iniPath_(std::move(iniPath)),
      view_(view ? view : &defaultView_),
      env_(std::move(env)),
      worker_(WorkerOf(env_, ownWorker_)),
      chains_(
          this, backend, worker_,
          {[this](TComponent* s) { WaveInR1Start(s); }, [this](TComponent* s) { WaveInR1Stop(s); },
           [this](TComponent* s, PWaveHdr b) { WaveInR1BufferReady(s, b); },
           [this](TComponent* s, TMMDeviceFault f, uint64_t frames) {
             WaveInR1DeviceFault(s, f, frames);
           },
           [this](int station) { segments_.EncoderWriteError(station); }}),
      status_(chains_, env_, *view_),
      maintenance_(chains_, env_, *worker_, *view_, [this](const std::string& t) { Report(t); }),
      segments_(chains_, status_, settings_, env_, *worker_, *view_,
                [this](const std::string& t) { Report(t); }) {
  if (env_.encoderLoader) SetBladeLoader(env_.encoderLoader);
  for (int i = 0; i < kMaxStations; ++i) chains_[i].Encoder->SetDiskSpaceQuery(env_.diskQuery);
  timerMataArquivos_.setInterval(86400000);
  QObject::connect(&timerMataArquivos_, &QTimer::timeout, this,
                   [this] { TimerMataArquivosTimer(); });
  timerMataArquivos_.start();
}

TFrmGravar::~TFrmGravar() {
  timerMataArquivos_.stop();
}

void TFrmGravar::Report(const std::string& text) {
  if (env_.notify)
    env_.notify(text);
  else
    view_->ShowMessage(text);
}

void TFrmGravar::SetCurrentStation(int index) {
  if (index >= 0 && index < std::max(StationCount(), 1)) currentStation_ = index;
}

namespace {

void SetDisplays(TMMConnector* c, const TFrmGravar::Displays& d) {
  if (!c) return;
  c->SetLevel1(d.Level1);
  c->SetLevel2(d.Level2);
  c->SetMeter1(d.Meter1);
  c->SetMeter2(d.Meter2);
  c->SetOscope1(d.Oscope1);
  c->SetSpectrum1(d.Spectrum1);
}

}  // namespace

void TFrmGravar::AttachDisplays(const Displays& d) {
  displays_ = d;
  watched_ = currentStation_;
  SetDisplays(chains_[watched_].Connector, d);
}

void TFrmGravar::WatchStation(int index) {
  SetDisplays(chains_[watched_].Connector, {});
  SetCurrentStation(index);
  watched_ = currentStation_;
  SetDisplays(chains_[watched_].Connector, displays_);
}

void TFrmGravar::WaitFileWork() {
  worker_->Drain();
}

void TFrmGravar::RunCommand(std::function<void()> command) {
  segments_.RunCommand(std::move(command));
}

bool TFrmGravar::Busy() const {
  return segments_.Busy();
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
  chains_.Load(ini, count, [this](const std::string& t) { Report(t); });

  std::vector<std::string> names;
  for (int n = 1; n <= count; ++n) names.push_back(StationListName(chains_[n - 1].Emissoras, n));
  view_->SetStationList(names);
  view_->SelectCard(chains_[0].Placa);
  currentStation_ = 0;
  view_->ShowStation(0, chains_[0].Emissoras, count - 1);
  view_->SelectRecordingSource(chains_[0].Controle);

  segments_.ApplyFormat(true);

  // Segments of at least a minute: a zero or negative length would rotate without end.
  int minutes = 10;
  try {
    minutes = StrToInt(settings_.TempoRec, "Geral", "TempoRec");
  } catch (const EConvertError& e) {
    Report(e.what());
  }
  if (minutes < 1) minutes = 1;
  segments_.TimerRecord().setInterval(minutes * 60000);

  // Read once: the guard looks at it for every buffer. Text that is not a number means no
  // guard, told here once.
  maintenance_.SetThreshold(settings_.MBLivres);
  try {
    StrToInt(settings_.MBLivres, "Geral", "MB Livres");
  } catch (const EConvertError& e) {
    Report(std::string(e.what()) + ": sem limite de espaço livre");
  }

  if (settings_.Prioridade == "S" && RaiseOwnPriority) RaiseOwnPriority();
}

void TFrmGravar::ApplyFormat() {
  segments_.ApplyFormat(false);
}

// Leftovers and retention ------------------------------------------------------------------------

void TFrmGravar::RecoverInterruptedRecordings() {
  segments_.RecoverInterruptedRecordings();
}

void TFrmGravar::PurgeOldRecordings() {
  maintenance_.Purge(settings_.DiasRec);
}

void TFrmGravar::TimerMataArquivosTimer() {
  PurgeOldRecordings();
  view_->ArmAutoStart();
}

// Start, rotation, stop
// ----------------------------------------------------------------------------

void TFrmGravar::PrepareSegmentFiles() {
  segments_.PrepareSegmentFiles();
}

void TFrmGravar::BGravarClick() {
  segments_.Start();
}

void TFrmGravar::TimerRecordTimer() {
  segments_.Rotate();
}

void TFrmGravar::BStopClick() {
  segments_.Stop();
}

void TFrmGravar::FinishSegmentFiles(int i) {
  segments_.FinishSegmentFiles(i);
}

void TFrmGravar::UpdateRecordButtons() {
  const bool started = chains_[0].WaveIn->HasState(dsStarted);
  view_->ShowRecordButtons(!started, started);
}

// Wave input events -------------------------------------------------------------------------------

void TFrmGravar::WaveInR1Start(TComponent*) {
  view_->ShowRecordButtons(false, true);
  view_->StartIconAnimation();
}

void TFrmGravar::WaveInR1Stop(TComponent* sender) {
  // An input that stopped by itself leaves the others recording.
  if (!segments_.InputStopped(sender) && IsRecording()) return;
  view_->ShowRecordButtons(true, false);
  view_->StopIconAnimation();
  chains_.CloseAll();
  view_->ShowIdleIcon();
}

void TFrmGravar::WaveInR1BufferReady(TComponent*, PWaveHdr) {
  const WallTime now = env_.Now();
  if (status_.Buffer(now)) {
    // The end-of-day maintenance, once per run.
    PurgeOldRecordings();
    view_->ArmAutoStart();
  }
  if (chains_.Started(0)) {
    status_.RefreshDiskSpaceIfOld(currentStation_, now);
    maintenance_.LowSpaceCheck(currentStation_, status_.SpaceKnown(), status_.FreeMB());
  }
}

void TFrmGravar::WaveInR1DeviceFault(TComponent* sender, TMMDeviceFault fault, uint64_t frames) {
  segments_.DeviceFault(sender, fault, frames);
}

void TFrmGravar::RefreshDiskSpace() {
  status_.RefreshDiskSpace(currentStation_);
}

// The settings panel's save ----------------------------------------------------------------------

namespace {

// A whole number within lo..hi, as typed.
bool NumberWithin(const std::string& text, int lo, int hi) {
  try {
    const int v = StrToInt(text);
    return v >= lo && v <= hi;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string TFrmGravar::CheckSettings(const SettingsForm& f) const {
  if (!NumberWithin(f.DiasRec, 0, 100))
    return "Tempo de gravação: informe de 0 a 100 dias (\"" + f.DiasRec + "\" não serve).";
  if (!NumberWithin(f.TempoRec, 10, 60))
    return "Gerar arquivos de: informe de 10 a 60 minutos (\"" + f.TempoRec + "\" não serve).";
  if (!NumberWithin(f.Emissoras, 1, 8))
    return "Nº de Emissoras: informe de 1 a 8 (\"" + f.Emissoras + "\" não serve).";
  if (f.Formato < 0 || f.Formato > 13) return "Formato: escolha um dos formatos da lista.";
  if (f.Canal < 0 || f.Canal > 2) return "Canal: escolha Esquerdo, Direito ou Estéreo.";
  if (f.Controle < 0 || f.Controle > 1) return "Controle: escolha Entrada de Linha ou Microfone.";
  if (f.Station < 0 || f.Station >= StationCount()) return "Escolha a emissora na lista.";
  if (Cp1252ToUtf8(Utf8ToCp1252(f.Name)) != f.Name)
    return "O nome da emissora \"" + f.Name + "\" tem caracteres que o arquivo cfg.ini não guarda.";
  if (!FolderWritable(f.Local))
    return "Local de gravação inexistente ou sem permissão de escrita: " + f.Local;
  if (f.Copia) {
    if (!FolderWritable(f.LocalCopia))
      return "Local da cópia de segurança inexistente ou sem permissão de escrita: " + f.LocalCopia;
    if (SameFolder(f.LocalCopia, f.Local))
      return "O local da cópia de segurança deve ser diferente do local de gravação.";
  }
  return {};
}

bool TFrmGravar::SaveConfiguration(const SettingsForm& f) {
  PrivateProfile ini(iniPath_);
  const std::string key = StationKey(f.Station + 1);
  std::vector<PrivateProfile::Entry> entries = {
      {"Gravacao", "Formato", std::to_string(f.Formato)},
      {"Geral", "AutoGravar", f.AutoGravar ? "S" : "N"},
      {"Geral", "Prioridade", f.Prioridade ? "S" : "N"},
      {"Geral", "DiasRec", f.DiasRec},
      {"Geral", "TempoRec", f.TempoRec},
      {"Geral", "Emissoras", f.Emissoras},
      {"Local", key, f.Local},
      {"Placa", key, std::to_string(f.Placa)},
      {"Controle", key, std::to_string(f.Controle)},
      {"Canal", key, std::to_string(f.Canal)},
      {"Emissoras", key, f.Name},
      {"Copia", key, f.Copia ? "S" : "N"},
  };
  if (f.Copia) entries.push_back({"LocalCopia", key, f.LocalCopia});
  if (!ini.WriteStrings(entries)) {
    Report("Unable to write " + iniPath_);
    return false;
  }
  try {
    if (StrToInt(f.Emissoras) != StationCount()) restartPending_ = true;
  } catch (const std::exception&) {
    restartPending_ = true;  // read again only at the next start
  }
  return true;
}

void TFrmGravar::ApplyStationSettings(const SettingsForm& f) {
  ApplyFormat();
  StationSettings& s = chains_[currentStation_];
  const bool started = s.WaveIn && s.WaveIn->HasState(dsStarted);
  if (!started) {
    s.Placa = std::to_string(f.Placa);
    s.Local = f.Local;
    s.Controle = std::to_string(f.Controle);
    s.Canal = std::to_string(f.Canal);
  }
  s.Copia = f.Copia ? "S" : "N";
  if (f.Copia) s.LocalCopia = f.LocalCopia;
  if (!started) {
    try {
      ConfigureStationChain(s, currentStation_ + 1);
    } catch (const std::exception& e) {
      Report(e.what());
    }
  }
  view_->SelectCard(s.Placa);
  if (!chains_[0].WaveIn || !chains_[0].WaveIn->HasState(dsStarted)) {
    try {
      segments_.TimerRecord().setInterval(StrToInt(settings_.TempoRec) * 60000);
    } catch (const std::exception&) {
      // The loaded value was checked at load.
    }
  }
  view_->SelectRecordingSource(s.Controle);
}

bool TFrmGravar::SaveAndApply(const SettingsForm& f) {
  const std::string problem = CheckSettings(f);
  if (!problem.empty()) {
    Report(problem);
    return false;
  }
  if (!SaveConfiguration(f)) return false;
  if (restartPending_)
    Report("Reinicie o Aplicativo para que as alterações tenham efeito");
  else
    ApplyStationSettings(f);
  return true;
}
