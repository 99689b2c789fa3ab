#include "recorder/FrmGravarWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/MMWavIn.h"
#include "common/Convert.h"
#include "displays/MMConect.h"
#include "widgets/FrontPanel.h"
#include "widgets/Notifier.h"

namespace {

using FrontPanel::BigButton;
using FrontPanel::Caption;
using FrontPanel::kAqua;
using FrontPanel::kMakerUrl;
using FrontPanel::kYellow;
using FrontPanel::SmallButton;

// Frame n (0..7) of the recording icon: a red dot that swells and fades in turn.
QIcon DrawFrame(int n) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(40, 40, 40));
  p.setPen(QPen(QColor(120, 120, 120), 1.5));
  p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
  const double phase = std::sin(3.14159265 * n / 8.0);  // 0 at frame 1, full at frame 5
  const double r = 6 + 6 * phase;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150 + static_cast<int>(105 * phase), 0, 0));
  p.drawEllipse(QPointF(16, 16), r, r);
  return QIcon(pm);
}

}  // namespace

std::function<void(const std::string&)>& TFrmGravarWindow::MessageHook() {
  return Notifier::Hook();
}

TFrmGravarWindow::TFrmGravarWindow(const std::string& iniPath, CaptureBackend* backend,
                                   RecorderEnvironment env)
    : TFrontPanel(QSize(448, 398), kApplicationTitle) {
  session_ = std::make_unique<TFrmGravar>(iniPath, backend, this, std::move(env));
  for (int i = 0; i < 8; ++i) images_[static_cast<size_t>(i)] = DrawFrame(i);
  BuildWindow();
  BuildTray();
  timerIcone_.setInterval(300);
  QObject::connect(&timerIcone_, &QTimer::timeout, this, [this] { TimerIconeTimer(); });
  timerPopup_.setInterval(200);
  timerPopup_.setSingleShot(true);
  QObject::connect(&timerPopup_, &QTimer::timeout, this, [this] { TimerPopupTimer(); });
  timerInicio_.setInterval(1000);
  timerInicio_.setSingleShot(true);
  QObject::connect(&timerInicio_, &QTimer::timeout, this, [this] { TimerInicioTimer(); });
}

TFrmGravarWindow::~TFrmGravarWindow() {
  FormDestroy();
  session_.reset();  // its events still reach this view while it closes the devices
}

void TFrmGravarWindow::BuildWindow() {
  mmLabel1_ = new QLabel(kApplicationTitle, this);
  mmLabel1_->setStyleSheet("color:#f0f0f0;font:bold 15px;");
  mmLabel1_->setGeometry(16, 10, 300, 22);
  mmLabel2_ = new QPushButton("Kravo Tralven Sistemas", this);
  mmLabel2_->setFlat(true);
  mmLabel2_->setStyleSheet(
      "QPushButton{color:#7fb2ff;font:10px;text-decoration:underline;border:none;"
      "text-align:left;}");
  mmLabel2_->setGeometry(16, 32, 200, 14);
  mmLabel2_->setCursor(Qt::PointingHandCursor);
  mmLabel2_->setFocusPolicy(Qt::NoFocus);
  QObject::connect(mmLabel2_, &QPushButton::clicked, this, [this] { MMLabel2Click(); });

  bOcultar_ = SmallButton(this, "•", "Ocultar");
  bMinimizar_ = SmallButton(this, "_", "Minimizar");
  bSair_ = SmallButton(this, "×", "Fechar");
  bOcultar_->setGeometry(370, 10, 20, 18);
  bMinimizar_->setGeometry(394, 10, 20, 18);
  bSair_->setGeometry(418, 10, 20, 18);
  bConfig_ = SmallButton(this, "Config", "Configurações");
  bEqualizador_ = SmallButton(this, "Display", "Display");
  bConfig_->setGeometry(322, 34, 56, 18);
  bEqualizador_->setGeometry(382, 34, 56, 18);
  QObject::connect(bEqualizador_, &QPushButton::clicked, this, [this] { BEqualizadorClick(); });
  QObject::connect(bConfig_, &QPushButton::clicked, this, [this] { BConfigClick(); });
  QObject::connect(bOcultar_, &QPushButton::clicked, this, [this] { BOcultarClick(); });
  QObject::connect(bMinimizar_, &QPushButton::clicked, this, [this] { BMinimizarClick(); });
  QObject::connect(bSair_, &QPushButton::clicked, this, [this] { BSairClick(); });

  const int capX = 16, ledX = 176;
  Caption(this, "FORMATO:")->setGeometry(capX, 64, 150, 18);
  lFormato_ = new TLedLabel(this, 21, kAqua, 2);
  lFormato_->move(ledX, 64);
  lFormato_->setScrolling(true);

  Caption(this, "DURAÇÃO:")->setGeometry(capX, 88, 150, 18);
  lDias_ = new TLedLabel(this, 2, kYellow, 2);
  lDias_->move(ledX, 88);
  lDias_->setText("00");
  Caption(this, "Dias e")->setGeometry(ledX + 30, 88, 40, 18);
  lTempo_ = new TLedLabel(this, 8, kYellow, 2);
  lTempo_->move(ledX + 70, 88);
  lTempo_->setText("00:00:00");
  Caption(this, "Horas")->setGeometry(ledX + 172, 88, 40, 18);

  Caption(this, "ESPAÇO OCUPADO:")->setGeometry(capX, 112, 150, 18);
  lOcupado_ = new TLedLabel(this, 9, kYellow, 2);
  lOcupado_->move(ledX, 112);
  lOcupado_->setText("0 MB");
  Caption(this, "ESPAÇO LIVRE EM DISCO:")->setGeometry(capX, 136, 160, 18);
  lLivre_ = new TLedLabel(this, 9, kYellow, 2);
  lLivre_->move(ledX, 136);
  lLivre_->setText("0 MB");

  progressEspaco_ = new TGauge(this);
  progressEspaco_->setCaption("ESPAÇO OCUPADO");
  progressEspaco_->setGeometry(capX, 160, 416, 16);

  ledLabelRadios_ = new TLedLabel(this, 22, kAqua, 2);
  ledLabelRadios_->move(capX, 186);
  ledLabelRadios_->setScrolling(true);
  spinRadio_ = new QSpinBox(this);
  spinRadio_->setGeometry(capX + 22 * 12 + 12, 184, 44, 22);
  spinRadio_->setRange(0, 0);
  spinRadio_->setFocusPolicy(Qt::ClickFocus);
  spinRadio_->setStyleSheet(
      "QSpinBox{background:#111;color:#0ee;border:1px solid #555;}"
      "QSpinBox::up-button,QSpinBox::down-button{background:#5a5e66;width:12px;}"
      "QSpinBox::up-arrow{border-left:3px solid none;border-right:3px solid none;"
      "border-bottom:4px solid #ddd;width:0;height:0;}"
      "QSpinBox::down-arrow{border-left:3px solid none;border-right:3px solid none;"
      "border-top:4px solid #ddd;width:0;height:0;}");
  QObject::connect(spinRadio_, &QSpinBox::valueChanged, this,
                   [this](int v) { SpinRadioChange(v); });

  pEqualizadores_ = new QWidget(this);
  pEqualizadores_->setGeometry(capX, 214, 416, 118);
  pEqualizadores_->setObjectName("PEqualizadores");
  pEqualizadores_->setStyleSheet("#PEqualizadores{background:#050607;border:1px solid #444;}");
  pEqualizadores_->setAttribute(Qt::WA_StyledBackground);
  BuildDisplays();
  BuildMixer();
  BuildSettings();

  // The last fault of a station's recording, with its time; empty while all is well.
  lStatus_ = new QLabel(this);
  lStatus_->setGeometry(capX, 333, 416, 12);
  lStatus_->setStyleSheet("color:#ffb020;font:9px;");

  bGravar_ = BigButton(this, "Gravar", "#1d6e2a", "#26883a");
  bStop_ = BigButton(this, "Parar", "#8a1c1c", "#a52626");
  for (QPushButton* b : {bGravar_, bStop_}) b->setGeometry(164, 346, 120, 36);
  bStop_->hide();
  QObject::connect(bGravar_, &QPushButton::clicked, this, [this] { BGravarClick(); });
  QObject::connect(bStop_, &QPushButton::clicked, this, [this] { BStopClick(); });
}

namespace {

// The face of a VU meter: a dial lit from behind, warm in the middle and darker to the
// edges, on which the white needle, the silver labels and the coloured ticks still read.
QImage DialFace(QSize size) {
  QImage face(size, QImage::Format_RGB32);
  QPainter p(&face);
  QRadialGradient glow(QPointF(size.width() / 2.0, size.height() * 1.1), size.width() * 0.75);
  glow.setColorAt(0.0, QColor(104, 92, 66));
  glow.setColorAt(0.55, QColor(66, 58, 42));
  glow.setColorAt(1.0, QColor(22, 20, 16));
  p.fillRect(face.rect(), glow);
  p.setPen(QColor(10, 10, 10));
  p.drawRect(face.rect().adjusted(0, 0, -1, -1));
  return face;
}

}  // namespace

// The four stacked display panels with the recorder's settings of each display.
void TFrmGravarWindow::BuildDisplays() {
  const QRect area(1, 1, 414, 116);
  auto panel = [&](const char* name) {
    auto* w = new QWidget(pEqualizadores_);
    w->setObjectName(name);
    w->setGeometry(area);
    return w;
  };
  pOsciloscopio_ = panel("POsciloscopio");
  pSpectrum_ = panel("PSpectrum");
  pVU_ = panel("PVU");
  pLevel_ = panel("PLevel");
  panels_ = {pOsciloscopio_, pSpectrum_, pVU_, pLevel_};

  // Level bars: left above right, 127 spots each, and the dB strip under them.
  const int barX = 72;
  auto caption = [&](const char* text, int y) {
    auto* l = new QLabel(text, pLevel_);
    l->setStyleSheet("color:#d0d0d0;font:bold 11px;");
    l->setGeometry(barX - 16, y, 12, 24);
  };
  caption("L", 22);
  caption("R", 54);
  mmLevel1_ = new TMMLevelWidget(pLevel_);
  mmLevel1_->setGeometry(barX, 22, 254, 24);
  mmLevel2_ = new TMMLevelWidget(pLevel_);
  mmLevel2_->setGeometry(barX, 54, 253, 24);
  for (TMMLevelWidget* w : {mmLevel1_, mmLevel2_}) {
    TMMLevel& l = w->Level();
    l.SetBitLength(b16Bit);
    l.SetMode(mStereo);
    l.SetSamples(99);
    l.SetNumPeaks(2);
    l.SetDecayMode(dmStepUp);
    l.SetDecay(8);
    l.SetPoint2(80);
    l.SetBarColors(clLime, clYellow, clRed);
    l.SetInactiveColors(clGray, clGray, clMaroon);
    l.SetInactiveDoted(true);
    l.SetActiveDoted(true);
  }
  mmLevel1_->Level().SetChannel(chLeft);
  mmLevel2_->Level().SetChannel(chRight);
  mmLevelScale1_ = new TMMLevelScaleWidget(pLevel_);
  mmLevelScale1_->setGeometry(barX, 82, 254, 12);
  TMMLevelScale& scale = mmLevelScale1_->Scale();
  scale.SetPoint2(80);
  scale.Scale.TickCount = 11;
  scale.Scale.EnlargeEvery = 5;
  scale.Scale.Size = 7;
  scale.Scale.Origin = soInner;
  scale.Scale.Connect = false;
  auto* db = new QLabel("dB", pLevel_);
  db->setStyleSheet("color:#d0d0d0;font:bold 10px;");
  db->setGeometry(barX + 260, 81, 20, 14);

  // VU meters: left channel in the left half, right channel in the right half.
  mmMeter2_ = new TMMMeterWidget(pVU_);
  mmMeter1_ = new TMMMeterWidget(pVU_);
  mmMeter2_->setGeometry(2, 8, 203, 100);
  mmMeter1_->setGeometry(209, 8, 203, 100);
  QFont captionFont = font();
  captionFont.setPixelSize(11);
  captionFont.setBold(true);
  for (TMMMeterWidget* w : {mmMeter1_, mmMeter2_}) {
    TMMMeter& m = w->Meter();
    m.SetBitLength(b16Bit);
    m.SetMode(mStereo);
    m.SetCaption("dB");
    m.SetSamples(20);
    m.SetDecayMode(dmStepUp);
    m.SetDecay(8);
    m.SetPeakSpeed(2);
    m.SetScaleAngle(80);
    m.SetNeedleOffset(50);
    m.SetTopSpace(12);
    m.SetScaleColors(clLime, clYellow, clRed);
    m.SetFontColor(clSilver);
    w->SetCaptionFont(captionFont);
    w->SetBackGroundDIB(DialFace(w->size()));
  }
  mmMeter2_->Meter().SetChannel(chLeft);
  mmMeter1_->Meter().SetChannel(chRight);

  // Oscilloscope: fills its panel.
  mmOscope2_ = new TMMOscopeWidget(pOsciloscopio_);
  mmOscope2_->setGeometry(0, 0, area.width(), area.height());
  TMMOscope& o = mmOscope2_->Oscope();
  o.SetBitLength(b16Bit);
  o.SetMode(mStereo);
  o.SetSampleRate(44100);
  o.SetKind(okConLines);
  TMMOscope::Colors colours = o.Colours();
  colours.Foreground = clLime;
  o.SetColours(colours);
  o.SetGain(3);
  mmOscope2_->OnClick = [this] { MMOscope2Click(); };

  // Spectrum: fills its panel; bars of dotted spots over black, a 64-point transform.
  mmSpectrum2_ = new TMMSpectrumWidget(pSpectrum_);
  mmSpectrum2_->setGeometry(0, 0, area.width(), area.height());
  TMMSpectrum& sp = mmSpectrum2_->Spectrum();
  sp.SetBitLength(b16Bit);
  sp.SetMode(mStereo);
  sp.SetSampleRate(44100);
  sp.SetFFTLength(64);
  sp.SetWindow(fwRectangular);
  sp.SetGain(sg12db);
  sp.SetDecayMode(dmStepUp);
  sp.SetDecay(7);
  sp.SetVerticalScale(20);
  sp.SetPoint2(75);
  sp.SetShowInfo(false);
  sp.SetBarColors(clLime, clYellow, clRed);
  sp.SetInactiveColors(clBlack, clBlack, clBlack);
  sp.SetInactiveDoted(true);
  sp.SetActiveDoted(false);
  mmSpectrum2_->OnClick = [this] { MMSpectrum2Click(); };

  ShowFrontPanel();
  session_->AttachDisplays({&mmLevel1_->Level(), &mmLevel2_->Level(), &mmMeter1_->Meter(),
                            &mmMeter2_->Meter(), &mmOscope2_->Oscope(), &sp});
}

// The mixer components, bound as the settings panel uses them; the card follows station 1's
// at load.
void TFrmGravarWindow::BuildMixer() {
  mixerParts_ = std::make_unique<TComponent>();
  TComponent* f = mixerParts_.get();
  placaDevice_ = new TMMMixerDevice(f);
  placaDevice_->SetName("PlacaDevice");
  audioGravacao_ = new TMMAudioLine(f);
  audioGravacao_->SetMixer(placaDevice_);
  audioGravacao_->SetComponentType(ctDstWaveIn);
  audioLineInRec_ = new TMMAudioLine(f);
  audioLineInRec_->SetMixer(placaDevice_);
  audioLineInRec_->SetComponentType(ctSrcLine);
  audioLineInRec_->SetDestLine(audioGravacao_);
  mixerLineInRec_ = new TMMMixerControl(f);
  mixerLineInRec_->SetAudioLine(audioGravacao_);
  mixerLineInRec_->SetControlType(ctMux);
  controleVolumeRec_ = new TMMVolumeControl(f);
  controleVolumeRec_->SetAudioLine(audioLineInRec_);
  // The monitored input is looked for among the sources of the card's output: on a mixer
  // whose only line-in records (a sound server's), "Retorno" and "Desativar retorno" would
  // otherwise act on the recording itself.
  audioSaida_ = new TMMAudioLine(f);
  audioSaida_->SetMixer(placaDevice_);
  audioSaida_->SetComponentType(ctDstSpeakers);
  audioLineIn_ = new TMMAudioLine(f);
  audioLineIn_->SetMixer(placaDevice_);
  audioLineIn_->SetComponentType(ctSrcLine);
  audioLineIn_->SetDestLine(audioSaida_);
  mixerLineIn_ = new TMMMixerControl(f);
  mixerLineIn_->SetAudioLine(audioLineIn_);
  mixerLineIn_->SetControlType(ctMute);
  controlVolume_ = new TMMVolumeControl(f);
  controlVolume_->SetAudioLine(audioLineIn_);
}

// The way a card change goes: the lines let go of the mixer, the card changes, the lines take
// it again and it opens. A card number out of range is reported and leaves the mixer without
// a card rather than stopping the recorder.
void TFrmGravarWindow::SelectCard(const std::string& placa) {
  ComboPlacaChange();
  try {
    placaDevice_->SetDeviceId(StrToInt(placa, "Placa", StationKey(session_->CurrentStation() + 1)));
  } catch (const std::exception& e) {
    ShowFault(e.what());
    placaDevice_->SetDeviceId(InvalidId);
  }
  // The same card again tells no change: take the lines back here.
  if (!audioGravacao_->Mixer()) PlacaDeviceChange();
}

void TFrmGravarWindow::SelectRecordingSource(const std::string& controle) {
  pConfig_->CBControle->setCurrentIndex(controle != "0" ? 1 : 0);
  const TMMComponentType type = controle != "0" ? ctSrcMicrophone : ctSrcLine;
  audioLineIn_->SetComponentType(type);
  audioLineInRec_->SetComponentType(type);
  // The chosen line becomes the card's recording source.
  pConfig_->CBLineInRec->setChecked(true);
}

// Panels lie in a stack; only the front one is seen, and the displays of the others get no
// blocks meanwhile.
void TFrmGravarWindow::ShowFrontPanel() {
  for (QWidget* p : panels_) p->setVisible(p == panels_.back());
}

// Each click sends the next panel of the start order to the back: from the start stack the
// VU meters, the spectrum, the oscilloscope and the level bars come to the front in turn.
void TFrmGravarWindow::BEqualizadorClick() {
  displayCounter_ = displayCounter_ % 4 + 1;
  const std::array<QWidget*, 4> order = {pLevel_, pVU_, pSpectrum_, pOsciloscopio_};
  SendPanelToBack(order[static_cast<size_t>(displayCounter_ - 1)]);
}

void TFrmGravarWindow::MMOscope2Click() {
  oscopeStyle_ = oscopeStyle_ % 5 + 1;
  static constexpr std::array<TMMOscopeKind, 5> kinds = {okConLines, okDots, okMirLines, okSpikes,
                                                         okVertLines};
  mmOscope2_->Oscope().SetKind(kinds[static_cast<size_t>(oscopeStyle_ - 1)]);
}

void TFrmGravarWindow::MMSpectrum2Click() {
  spectrumStyle_ = spectrumStyle_ % 6 + 1;
  static constexpr std::array<TMMSpectrumKind, 6> kinds = {skBars,  skDots,   skLines,
                                                           skPeaks, skScroll, skVLines};
  mmSpectrum2_->Spectrum().SetKind(kinds[static_cast<size_t>(spectrumStyle_ - 1)]);
}

void TFrmGravarWindow::SendPanelToBack(QWidget* panel) {
  auto it = std::find(panels_.begin(), panels_.end(), panel);
  if (it == panels_.end()) return;
  std::rotate(panels_.begin(), it, it + 1);
  ShowFrontPanel();
}

void TFrmGravarWindow::BuildTray() {
  popupMenu1_ = std::make_unique<QMenu>();
  gravar1_ = popupMenu1_->addAction("Gravar", [this] { Gravar1Click(); });
  parar1_ = popupMenu1_->addAction("Parar", [this] { Parar1Click(); });
  popupMenu1_->addSeparator();
  popupMenu1_->addAction("Restaurar", [this] { Maximizar1Click(); });
  popupMenu1_->addAction("Ocultar", [this] { Minimizar1Click(); });
  popupMenu1_->addSeparator();
  popupMenu1_->addAction("Fechar", [this] { Fechar1Click(); });
  gravar1_->setEnabled(false);
  parar1_->setEnabled(true);
  trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
}

void TFrmGravarWindow::SetIcon(const QIcon& icon) {
  currentIcon_ = icon;
  setWindowIcon(icon);
  QApplication::setWindowIcon(icon);
  if (tray_) tray_->setIcon(icon);
}

// Window events ----------------------------------------------------------------------------------

void TFrmGravarWindow::FormCreate() {
  ArmAutoStart();
  SetIcon(images_[4]);
  if (trayAvailable_) {
    tray_ = std::make_unique<QSystemTrayIcon>(currentIcon_);
    tray_->setToolTip(kApplicationTitle);
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason r) { TrayActivated(r); });
    tray_->show();
  }
  session_->UpdateRecordButtons();
  session_->LoadConfiguration();
  // Leftovers of a run that ended without stopping get their names before anything records.
  session_->RecoverInterruptedRecordings();
  session_->PurgeOldRecordings();
  // Centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TFrmGravarWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  FollowVisibility();
  FormShow();
}

void TFrmGravarWindow::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  FollowVisibility();
}

void TFrmGravarWindow::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange) FollowVisibility();
}

// Nobody sees the displays of a hidden or minimised window: they are not fed meanwhile.
void TFrmGravarWindow::FollowVisibility() {
  TMMConnector::SetFeedingPaused(!isVisible() || isMinimized());
}

void TFrmGravarWindow::FormShow() {
  session_->RefreshDiskSpace();
}

void TFrmGravarWindow::FormDestroy() {
  if (tray_) tray_->hide();
  tray_.reset();
}

void TFrmGravarWindow::closeEvent(QCloseEvent* e) {
  if (closing_) {
    e->accept();
    return;
  }
  // Inside a start, rotation or stop: closed right after it.
  if (session_->Busy()) {
    e->ignore();
    session_->RunCommand([this] { close(); });
    return;
  }
  closing_ = true;
  // Every running segment gets its final name and backup copy before the program ends.
  if (session_->IsRecording()) session_->BStopClick();
  session_->WaitFileWork();
  e->accept();
  QCoreApplication::quit();
}

// Tray
// ----------------------------------------------------------------------------------------------

void TFrmGravarWindow::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger) {
    if (isVisible())
      HideWindow();
    else
      Maximizar1Click();
  } else if (reason == QSystemTrayIcon::Context) {
    timerPopup_.start();
  }
}

void TFrmGravarWindow::TimerPopupTimer() {
  timerPopup_.stop();
  popupMenu1_->popup(QCursor::pos());
}

void TFrmGravarWindow::TimerIconeTimer() {
  animationFrame_ = animationFrame_ % 8 + 1;
  SetIcon(images_[static_cast<size_t>(animationFrame_ - 1)]);
}

void TFrmGravarWindow::Gravar1Click() {
  gravar1_->setEnabled(false);
  parar1_->setEnabled(true);
  session_->BGravarClick();
}

void TFrmGravarWindow::Parar1Click() {
  gravar1_->setEnabled(true);
  parar1_->setEnabled(false);
  session_->BStopClick();
}

void TFrmGravarWindow::Maximizar1Click() {
  showNormal();
  raise();
  activateWindow();
}

void TFrmGravarWindow::Minimizar1Click() {
  HideWindow();
}

void TFrmGravarWindow::Fechar1Click() {
  close();
}

// Without a notification area a hidden window could never come back: it is minimised.
void TFrmGravarWindow::HideWindow() {
  if (trayAvailable_)
    hide();
  else
    showMinimized();
}

void TFrmGravarWindow::BOcultarClick() {
  HideWindow();
}

void TFrmGravarWindow::BMinimizarClick() {
  showMinimized();
}

void TFrmGravarWindow::BSairClick() {
  const StationSettings& s1 = session_->Station(0);
  if (s1.WaveIn && s1.WaveIn->HasState(dsStarted)) {
    ShowMessage("É necessário parar a gravação antes de finalizar o sistema!");
    return;
  }
  close();
}

void TFrmGravarWindow::MMLabel2Click() {
  QDesktopServices::openUrl(QUrl(kMakerUrl));
}

void TFrmGravarWindow::SpinRadioChange(int value) {
  session_->WatchStation(value);
  ledLabelRadios_->setText(
      QString::fromStdString(session_->Station(session_->CurrentStation()).Emissoras));
}

// Automatic start --------------------------------------------------------------------------------

void TFrmGravarWindow::ArmAutoStart() {
  const LocalTime now = ToLocal(session_->Environment().Now());
  if (now.hour == 0 && now.minute == 0) return;
  timerInicio_.start();
}

void TFrmGravarWindow::TimerInicioTimer() {
  timerInicio_.stop();
  if (session_->Settings().AutoGravar != "S") return;
  if (GravarVisible()) session_->BGravarClick();
  if (isVisible() && !isMinimized()) BOcultarClick();
}

// Guards -----------------------------------------------------------------------------------------

bool TFrmGravarWindow::QueryEndSession() {
  if (!bStop_->isHidden()) {
    Maximizar1Click();
    ShowMessage("É necessário parar a gravação antes de desligar o Windows!");
    return false;
  }
  return true;
}

void TFrmGravarWindow::Terminate() {
  // After a start, rotation or stop under way, never inside it.
  session_->RunCommand([this] {
    if (session_->IsRecording()) session_->BStopClick();
    session_->WaitFileWork();
    closing_ = true;
    QCoreApplication::quit();
  });
}

void TFrmGravarWindow::BGravarClick() {
  session_->BGravarClick();
}

void TFrmGravarWindow::BStopClick() {
  session_->BStopClick();
}

// What the session shows
// ---------------------------------------------------------------------------

void TFrmGravarWindow::ShowRecordButtons(bool gravarVisible, bool pararVisible) {
  bGravar_->setVisible(gravarVisible);
  bStop_->setVisible(pararVisible);
}

void TFrmGravarWindow::StartIconAnimation() {
  timerIcone_.start();
}

void TFrmGravarWindow::StopIconAnimation() {
  timerIcone_.stop();
}

void TFrmGravarWindow::ShowIdleIcon() {
  SetIcon(images_[4]);
}

void TFrmGravarWindow::ShowFormat(const std::string& text) {
  lFormato_->setText(QString::fromStdString(text));
}

void TFrmGravarWindow::ShowRunningTime(const std::string& elapsed, int days) {
  lTempo_->setText(QString::fromStdString(elapsed));
  lDias_->setText(QString("%1").arg(days % 100, 2, 10, QChar('0')));
}

void TFrmGravarWindow::ShowDiskSpace(int64_t freeMB, int64_t usedMB, int percent) {
  lLivre_->setText(QString::number(freeMB) + " MB");
  lOcupado_->setText(QString::number(usedMB) + " MB");
  progressEspaco_->setProgress(percent);
}

void TFrmGravarWindow::SetStationList(const std::vector<std::string>& names) {
  QComboBox* list = pConfig_->CBEmissora;
  const QSignalBlocker quiet(list);
  list->clear();
  for (const std::string& n : names) list->addItem(QString::fromStdString(n));
  list->setCurrentIndex(0);
  pConfig_->CBPrioridade->setChecked(session_->Settings().Prioridade == "S");
}

void TFrmGravarWindow::ShowStation(int index, const std::string& name, int lastIndex) {
  spinRadio_->blockSignals(true);
  spinRadio_->setRange(0, std::max(lastIndex, 0));
  spinRadio_->setValue(index);
  spinRadio_->blockSignals(false);
  ledLabelRadios_->setText(QString::fromStdString(name));
  pConfig_->EdEmissoras->setText(QString::number(lastIndex + 1));
}

void TFrmGravarWindow::ShowMessage(const std::string& text) {
  Notifier::Say(text, this);
}

void TFrmGravarWindow::ShowFault(const std::string& text) {
  TFrmGravarView::ShowFault(text);
  const LocalTime t = ToLocal(session_->Environment().Now());
  const QString line = QString("%1:%2:%3 ")
                           .arg(t.hour, 2, 10, QChar('0'))
                           .arg(t.minute, 2, 10, QChar('0'))
                           .arg(t.second, 2, 10, QChar('0')) +
                       QString::fromStdString(text);
  lStatus_->setToolTip(line);
  lStatus_->setText(lStatus_->fontMetrics().elidedText(line, Qt::ElideRight, lStatus_->width()));
}
