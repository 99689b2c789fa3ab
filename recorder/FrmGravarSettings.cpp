// The settings panel's handlers of the recorder's main window: open and close, the station
// selection with its card, the rename, the save, the guards while recording, the format tips.

#include <QFileDialog>
#include <QInputDialog>
#include <QScrollBar>

#include "audio/MMWavIn.h"
#include "recorder/FrmGravarWindow.h"
#include "recorder/U_Procs.h"

namespace {

const char* const kStopFirst = "É necessário parar a gravação para efetuar alterações!";

}  // namespace

void TFrmGravarWindow::BuildSettings() {
  // Everything of the status area the panel takes the place of.
  for (QObject* o : children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (w && w != lStatus_ && w->y() >= 60 && w->y() < 333) statusWidgets_.push_back(w);
  }
  pConfig_ = new TSettingsPanel(this);
  pConfig_->move(16, 58);
  pConfig_->hide();
  pFormatos_ = new TFormatTips(this);
  pFormatos_->move(16, 58);
  pFormatos_->hide();
  TSettingsPanel& p = *pConfig_;

  p.ComboPlaca->SetDevice(placaDevice_);
  p.ComboPlaca->OnChange = [this] { ComboPlacaChange(); };
  placaDevice_->OnChange = [this](TComponent*) { PlacaDeviceChange(); };
  p.CBLineInRec->SetControl(mixerLineInRec_);
  p.CBLineInRec->SetItemLine(audioLineInRec_);
  p.CBLineIn->SetControl(mixerLineIn_);
  p.CBLineIn->SetItemLine(audioLineIn_);
  p.VolumeRec->SetControl(controleVolumeRec_);
  p.VolumePlay->SetControl(controlVolume_);

  QObject::connect(p.BVoltarConfig, &QPushButton::clicked, this, [this] { BVoltarConfigClick(); });
  QObject::connect(p.BGravaConfig, &QPushButton::clicked, this, [this] { BGravaConfigClick(); });
  QObject::connect(p.CBEmissora, &QComboBox::activated, this,
                   [this](int i) { CBEmissoraSelect(i); });
  QObject::connect(p.SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
  QObject::connect(p.BLocal, &QPushButton::clicked, this, [this] {
    if (!EdLocalBeforeBrowse()) return;
    const std::string folder = AskFolder(pConfig_->EdLocal->text().toStdString());
    if (!folder.empty()) pConfig_->EdLocal->setText(QString::fromStdString(folder));
  });
  p.UpDown2->OnClick = [this] { return UpDown2Click(); };
  p.UpEmissoras->OnClick = [this] { return UpDown2Click(); };
  QObject::connect(p.CBPrioridade, &QCheckBox::clicked, this, [this] { CBPrioridadeClick(); });
  QObject::connect(p.CBCopia, &QCheckBox::clicked, this, [this] { CBCopiaClick(); });
  QObject::connect(p.SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
  QObject::connect(pFormatos_->BVoltarFormatos, &QPushButton::clicked, this,
                   [this] { BVoltarFormatosClick(); });

  AskStationName = [this](const std::string& proposal) {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(this, "Emissora", "Nome da Emissora", QLineEdit::Normal,
                              QString::fromStdString(proposal), &ok);
    return ok ? answer.toStdString() : proposal;
  };
  AskFolder = [this](const std::string& start) {
    return QFileDialog::getExistingDirectory(this, "Local", QString::fromStdString(start))
        .toStdString();
  };
}

bool TFrmGravarWindow::StationOneRecording() const {
  TMMWaveIn* w = session_->Station(0).WaveIn;
  return w && w->HasState(dsStarted);
}

void TFrmGravarWindow::ToggleSettingsPanel() {
  const bool open = pConfig_->isHidden();
  pConfig_->setVisible(open);
  for (QWidget* w : statusWidgets_) w->setVisible(!open);
  // The front display panel only: the others stay behind it.
  if (!open) ShowFrontPanel();
  pConfig_->Scroll->verticalScrollBar()->setValue(0);
  pFormatos_->hide();
}

void TFrmGravarWindow::BConfigClick() {
  ToggleSettingsPanel();
  TSettingsPanel& p = *pConfig_;
  const RecorderSettings& s = session_->Settings();
  bool ok = false;
  const int format = QString::fromStdString(s.Formato).toInt(&ok);
  p.CBFormato->setCurrentIndex(ok && format >= 0 && format < p.CBFormato->count() ? format : -1);
  const int station = session_->CurrentStation();
  p.CBEmissora->setCurrentIndex(station);
  CBEmissoraSelect(station);
  p.CBGravar->setChecked(s.AutoGravar == "S");
  p.DiasGravar->setText(QString::fromStdString(s.DiasRec));
  p.TempoGravar->setText(QString::fromStdString(s.TempoRec));
}

void TFrmGravarWindow::BVoltarConfigClick() {
  ToggleSettingsPanel();
}

void TFrmGravarWindow::CBEmissoraSelect(int index) {
  if (index < 0 || index >= session_->StationCount()) return;
  session_->SetCurrentStation(index);
  StationSettings& s = session_->Station(index);
  SelectCard(s.Placa);
  TSettingsPanel& p = *pConfig_;
  p.EdLocal->setText(QString::fromStdString(s.Local));
  p.EdLocalCopia->setText(QString::fromStdString(s.LocalCopia));
  p.CBControle->setCurrentIndex(s.Controle != "0" ? 1 : 0);
  bool ok = false;
  const int canal = QString::fromStdString(s.Canal).toInt(&ok);
  p.CBCanal->setCurrentIndex(ok && canal >= 0 && canal <= 2 ? canal : -1);
  p.CBCopia->setChecked(s.Copia == "S");
  p.EdLocalCopia->setEnabled(s.Copia == "S");
}

void TFrmGravarWindow::ComboPlacaChange() {
  placaDevice_->SetActive(false);
  for (TMMAudioLine* l : {audioGravacao_, audioSaida_, audioLineInRec_, audioLineIn_})
    l->SetMixer(nullptr);
}

void TFrmGravarWindow::PlacaDeviceChange() {
  for (TMMAudioLine* l : {audioGravacao_, audioSaida_, audioLineInRec_, audioLineIn_})
    l->SetMixer(placaDevice_);
  // A card without a mixer stays closed, its controls disabled.
  if (placaDevice_->Valid()) placaDevice_->SetActive(true);
}

void TFrmGravarWindow::SpeedButton2Click() {
  QComboBox* list = pConfig_->CBEmissora;
  const int k = list->currentIndex();
  if (k < 0 || k >= session_->StationCount()) return;
  const std::string name = NormalizeStationName(AskStationName(list->itemText(k).toStdString()));
  list->setItemText(k, QString::fromStdString(name));
  session_->Station(k).Emissoras = name;
  const int current = session_->CurrentStation();
  list->setCurrentIndex(current);
  {
    const QSignalBlocker quiet(spinRadio_);
    spinRadio_->setValue(current);
  }
  ledLabelRadios_->setText(QString::fromStdString(session_->Station(current).Emissoras));
}

TFrmGravar::SettingsForm TFrmGravarWindow::PanelForm() const {
  const TSettingsPanel& p = *pConfig_;
  TFrmGravar::SettingsForm f;
  f.Formato = p.CBFormato->currentIndex();
  f.AutoGravar = p.CBGravar->isChecked();
  f.Prioridade = p.CBPrioridade->isChecked();
  f.DiasRec = p.DiasGravar->text().trimmed().toStdString();
  f.TempoRec = p.TempoGravar->text().trimmed().toStdString();
  f.Emissoras = p.EdEmissoras->text().trimmed().toStdString();
  f.Station = p.CBEmissora->currentIndex();
  f.Name = p.CBEmissora->currentText().toStdString();
  f.Local = p.EdLocal->text().toStdString();
  // A box without entries (no card found now) keeps the card the station has.
  f.Placa = p.ComboPlaca->currentIndex();
  if (f.Placa < 0 && f.Station >= 0 && f.Station < session_->StationCount())
    f.Placa = QString::fromStdString(session_->Station(f.Station).Placa).toInt();
  f.Controle = p.CBControle->currentIndex();
  f.Canal = p.CBCanal->currentIndex();
  f.Copia = p.CBCopia->isChecked();
  f.LocalCopia = p.EdLocalCopia->text().toStdString();
  return f;
}

void TFrmGravarWindow::BGravaConfigClick() {
  session_->SaveAndApply(PanelForm());
}

bool TFrmGravarWindow::EdLocalBeforeBrowse() {
  if (!StationOneRecording()) return true;
  ShowMessage(kStopFirst);
  return false;
}

bool TFrmGravarWindow::UpDown2Click() {
  return EdLocalBeforeBrowse();
}

void TFrmGravarWindow::CBPrioridadeClick() {
  if (pConfig_->CBPrioridade->isChecked() && GetWindowsFamily() == "98") {
    ShowMessage("Opção válida somente para Windows XP!");
    pConfig_->CBPrioridade->setChecked(false);
  }
}

void TFrmGravarWindow::CBCopiaClick() {
  pConfig_->EdLocalCopia->setEnabled(pConfig_->CBCopia->isChecked());
}

void TFrmGravarWindow::SpeedButton1Click() {
  pFormatos_->show();
  pFormatos_->raise();
}

void TFrmGravarWindow::BVoltarFormatosClick() {
  pFormatos_->hide();
}
