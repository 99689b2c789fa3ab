#pragma once
// The player's window: a borderless dark front panel of 384 x 536 pixels, centred and dragged
// by any point: the station, the calendar, the hour and minute, the folder of the station's
// recordings, "Play", "Pause", "Stop", "Fechar", the clock of what is heard and the position
// slider. The logic (TFrmPlay) tells it what to show.

#include <QCalendarWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <memory>

#include "player/U_Toca.h"
#include "widgets/FrontPanel.h"
#include "widgets/LedLabel.h"
#include "widgets/LedSpin.h"

class TFrmPlayWindow : public TFrontPanel, public TFrmPlayView {
 public:
  TFrmPlayWindow(const std::string& iniPath, std::unique_ptr<AudioOutput> output);
  ~TFrmPlayWindow() override;

  TFrmPlay& Logic() { return *logic_; }
  void FormCreate();
  void BTocarClick();

  // TFrmPlayView
  void ShowStation(int index, const std::string& name, const std::string& folder,
                   int lastIndex) override;
  void ShowClock(const std::string& hhmmss) override;
  void ShowSlider(int percent) override;
  void EnablePlay(bool enabled) override;
  void ShowMessage(const std::string& text) override;

  // For tests and the screenshot.
  QCalendarWidget* Calendario() const { return calendario_; }
  TLedSpin* LedHora() const { return ledHora_; }
  TLedSpin* LedMinuto() const { return ledMinuto_; }
  QLineEdit* Diretorio() const { return diretorio_; }
  QSpinBox* SpinRadio() const { return spinRadio_; }
  TLedLabel* LedLabelRadios() const { return ledLabelRadios_; }
  TLedLabel* MEMusica() const { return meMusica_; }
  QSlider* TBProgressMusica() const { return tbProgressMusica_; }
  QPushButton* BTocar() const { return bTocar_; }
  QPushButton* BPausa() const { return bPausa_; }
  QPushButton* BStop() const { return bStop_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildWindow();

  std::unique_ptr<TFrmPlay> logic_;
  QSpinBox* spinRadio_ = nullptr;
  TLedLabel* ledLabelRadios_ = nullptr;
  QCalendarWidget* calendario_ = nullptr;
  TLedSpin* ledHora_ = nullptr;
  TLedSpin* ledMinuto_ = nullptr;
  QLineEdit* diretorio_ = nullptr;
  QPushButton* browse_ = nullptr;
  TLedLabel* meMusica_ = nullptr;
  QSlider* tbProgressMusica_ = nullptr;
  QPushButton* bTocar_ = nullptr;
  QPushButton* bPausa_ = nullptr;
  QPushButton* bStop_ = nullptr;
  QPushButton* bSair_ = nullptr;
};
