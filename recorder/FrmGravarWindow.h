#pragma once
// The recorder's main window: a borderless dark front panel of 448 x 398 pixels that shows
// the session's status, with the notification-area icon and its menu. The session logic
// (TFrmGravar) tells it what to show; it turns clicks, timers and the desktop's requests
// into the session's routines.

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QPushButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "mixer/MMMixerControl.h"
#include "recorder/SettingsPanel.h"
#include "recorder/U_Grava.h"
#include "widgets/FrontPanel.h"
#include "widgets/Gauge.h"
#include "widgets/LedLabel.h"
#include "widgets/MMLevelScaleWidget.h"
#include "widgets/MMLevelWidget.h"
#include "widgets/MMMeterWidget.h"
#include "widgets/MMOscopeWidget.h"
#include "widgets/MMSpectrumWidget.h"

constexpr const char* kApplicationTitle = "Kravo Tralven Brindavoxel 2009";

class TFrmGravarWindow : public TFrontPanel, public TFrmGravarView {
 public:
  TFrmGravarWindow(const std::string& iniPath, CaptureBackend* backend,
                   RecorderEnvironment env = {});
  ~TFrmGravarWindow() override;

  TFrmGravar& Session() { return *session_; }

  // Window events, in the order the program runs them.
  void FormCreate();
  void FormShow();
  void FormDestroy();

  // Timers, menu items and buttons.
  void TimerIconeTimer();
  void TimerPopupTimer();
  void TimerInicioTimer();
  void BGravarClick();
  void BStopClick();
  void Gravar1Click();
  void Parar1Click();
  void Maximizar1Click();
  void Minimizar1Click();
  void Fechar1Click();
  void BOcultarClick();
  void BMinimizarClick();
  void BSairClick();
  void MMLabel2Click();
  void SpinRadioChange(int value);
  // The display selector and the style of a display, stepped by clicks.
  void BEqualizadorClick();
  void MMOscope2Click();
  void MMSpectrum2Click();
  // The settings panel and the format tips.
  void BConfigClick();
  void BVoltarConfigClick();
  void BGravaConfigClick();
  void CBEmissoraSelect(int index);
  void SpeedButton2Click();
  void ComboPlacaChange();
  void PlacaDeviceChange();
  // Guards: false when the action is refused while station 1 records.
  bool EdLocalBeforeBrowse();
  bool UpDown2Click();
  void CBPrioridadeClick();
  void CBCopiaClick();
  void SpeedButton1Click();
  void BVoltarFormatosClick();
  void ToggleSettingsPanel();
  TSettingsPanel* PConfig() const { return pConfig_; }
  TFormatTips* PFormatos() const { return pFormatos_; }
  // The rename box's answer (the proposal when cancelled) and the folder picked by a browse
  // button (empty when cancelled); dialogs by default, tests put their own in place.
  std::function<std::string(const std::string& proposal)> AskStationName;
  std::function<std::string(const std::string& start)> AskFolder;
  // Tray icon clicks: left toggles the window, right opens the menu 200 ms later.
  void TrayActivated(QSystemTrayIcon::ActivationReason reason);

  // Logoff: false (refused) while recording, with the window shown and the message.
  bool QueryEndSession();
  // A termination request (SIGTERM and the like): stops a running recording, waits for the
  // backup copies, then quits; after a start, rotation or stop under way.
  void Terminate();

  // TFrmGravarView
  void ShowRecordButtons(bool gravarVisible, bool pararVisible) override;
  void StartIconAnimation() override;
  void StopIconAnimation() override;
  void ShowIdleIcon() override;
  void ShowFormat(const std::string& text) override;
  void ShowRunningTime(const std::string& elapsed, int days) override;
  void ShowDiskSpace(int64_t freeMB, int64_t usedMB, int percent) override;
  void SetStationList(const std::vector<std::string>& names) override;
  void ShowStation(int index, const std::string& name, int lastIndex) override;
  void SelectCard(const std::string& placa) override;
  void SelectRecordingSource(const std::string& controle) override;
  void ArmAutoStart() override;
  void ShowMessage(const std::string& text) override;
  void ShowFault(const std::string& text) override;

  // For tests and the screenshot.
  QAction* GravarItem() const { return gravar1_; }
  QAction* PararItem() const { return parar1_; }
  QMenu* TrayMenu() const { return popupMenu1_.get(); }
  QTimer& TimerInicio() { return timerInicio_; }
  QTimer& TimerIcone() { return timerIcone_; }
  bool GravarVisible() const { return !bGravar_->isHidden(); }
  bool TrayAvailable() const { return trayAvailable_; }
  int AnimationFrame() const { return animationFrame_; }
  const QIcon& CurrentIcon() const { return currentIcon_; }
  TLedLabel* LLivre() const { return lLivre_; }
  TLedLabel* LOcupado() const { return lOcupado_; }
  TLedLabel* LTempo() const { return lTempo_; }
  TLedLabel* LDias() const { return lDias_; }
  TLedLabel* LFormato() const { return lFormato_; }
  TLedLabel* LedLabelRadios() const { return ledLabelRadios_; }
  TGauge* ProgressEspaco() const { return progressEspaco_; }
  QLabel* LStatus() const { return lStatus_; }
  QPushButton* BEqualizador() const { return bEqualizador_; }
  QSpinBox* SpinRadio() const { return spinRadio_; }
  TMMLevelWidget* MMLevel1() const { return mmLevel1_; }
  TMMLevelWidget* MMLevel2() const { return mmLevel2_; }
  TMMLevelScaleWidget* MMLevelScale1() const { return mmLevelScale1_; }
  TMMMeterWidget* MMMeter1() const { return mmMeter1_; }
  TMMMeterWidget* MMMeter2() const { return mmMeter2_; }
  TMMOscopeWidget* MMOscope2() const { return mmOscope2_; }
  TMMSpectrumWidget* MMSpectrum2() const { return mmSpectrum2_; }
  // The sound card's mixer as the settings panel will show it: the card, the recording
  // destination, the chosen input among its sources, the selector and the input's recording
  // level; the same input as the card plays it, its mute and its level.
  TMMMixerDevice* PlacaDevice() const { return placaDevice_; }
  TMMAudioLine* AudioGravacao() const { return audioGravacao_; }
  TMMAudioLine* AudioLineInRec() const { return audioLineInRec_; }
  TMMMixerControl* MixerLineInRec() const { return mixerLineInRec_; }
  TMMVolumeControl* ControleVolumeRec() const { return controleVolumeRec_; }
  TMMAudioLine* AudioLineIn() const { return audioLineIn_; }
  TMMAudioLine* AudioSaida() const { return audioSaida_; }
  TMMMixerControl* MixerLineIn() const { return mixerLineIn_; }
  TMMVolumeControl* ControlVolume() const { return controlVolume_; }
  // The display panels from back to front; only the front one is shown.
  const std::array<QWidget*, 4>& DisplayPanels() const { return panels_; }
  // Sends a panel to the back of the stack.
  void SendPanelToBack(QWidget* panel);

  // Messages of the whole program go through here; tests capture them.
  static std::function<void(const std::string&)>& MessageHook();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void BuildWindow();
  void BuildTray();
  void BuildDisplays();
  void BuildMixer();
  void BuildSettings();
  bool StationOneRecording() const;
  TFrmGravar::SettingsForm PanelForm() const;
  void ShowFrontPanel();
  void SetIcon(const QIcon& icon);
  void HideWindow();
  void FollowVisibility();

  std::unique_ptr<TFrmGravar> session_;
  QPushButton* bGravar_ = nullptr;
  QPushButton* bStop_ = nullptr;
  QPushButton* bOcultar_ = nullptr;
  QPushButton* bMinimizar_ = nullptr;
  QPushButton* bSair_ = nullptr;
  QPushButton* bConfig_ = nullptr;
  QPushButton* bEqualizador_ = nullptr;
  QLabel* mmLabel1_ = nullptr;       // product
  QPushButton* mmLabel2_ = nullptr;  // maker
  TLedLabel* lFormato_ = nullptr;
  TLedLabel* lDias_ = nullptr;
  TLedLabel* lTempo_ = nullptr;
  TLedLabel* lOcupado_ = nullptr;
  TLedLabel* lLivre_ = nullptr;
  TGauge* progressEspaco_ = nullptr;
  TLedLabel* ledLabelRadios_ = nullptr;
  QSpinBox* spinRadio_ = nullptr;
  QWidget* pEqualizadores_ = nullptr;
  QWidget* pLevel_ = nullptr;
  QWidget* pVU_ = nullptr;
  QWidget* pSpectrum_ = nullptr;
  QWidget* pOsciloscopio_ = nullptr;
  std::array<QWidget*, 4> panels_{};  // back to front
  TMMLevelWidget* mmLevel1_ = nullptr;
  TMMLevelWidget* mmLevel2_ = nullptr;
  TMMLevelScaleWidget* mmLevelScale1_ = nullptr;
  TMMMeterWidget* mmMeter1_ = nullptr;
  TMMMeterWidget* mmMeter2_ = nullptr;
  TMMOscopeWidget* mmOscope2_ = nullptr;
  TMMSpectrumWidget* mmSpectrum2_ = nullptr;
  QLabel* lStatus_ = nullptr;
  TSettingsPanel* pConfig_ = nullptr;
  TFormatTips* pFormatos_ = nullptr;
  std::vector<QWidget*> statusWidgets_;     // what the settings panel takes the place of
  std::unique_ptr<TComponent> mixerParts_;  // owns the eight mixer components
  TMMMixerDevice* placaDevice_ = nullptr;
  TMMAudioLine* audioGravacao_ = nullptr;
  TMMAudioLine* audioLineInRec_ = nullptr;
  TMMMixerControl* mixerLineInRec_ = nullptr;
  TMMVolumeControl* controleVolumeRec_ = nullptr;
  TMMAudioLine* audioSaida_ = nullptr;
  TMMAudioLine* audioLineIn_ = nullptr;
  TMMMixerControl* mixerLineIn_ = nullptr;
  TMMVolumeControl* controlVolume_ = nullptr;
  int displayCounter_ = 0;
  int oscopeStyle_ = 1;
  int spectrumStyle_ = 1;

  std::array<QIcon, 8> images_;  // Image1..Image8; Image5 is also the idle icon
  QIcon currentIcon_;
  int animationFrame_ = 0;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> popupMenu1_;
  QAction* gravar1_ = nullptr;
  QAction* parar1_ = nullptr;
  bool trayAvailable_ = false;
  QTimer timerIcone_;
  QTimer timerPopup_;
  QTimer timerInicio_;
  bool closing_ = false;
};
