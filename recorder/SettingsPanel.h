#pragma once
// The settings panel ("Configurações") that takes the status area's place, and the format
// tips beside it: the controls, laid out top to bottom in a scrolling area, with their lists
// and ranges. The window's handlers give them their behaviour.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QWidget>
#include <functional>

#include "widgets/MMDeviceComboBox.h"
#include "widgets/MMMixerCheckBox.h"
#include "widgets/MMMixerWheel.h"

// A number field with arrows that keep it within a range; a guard may refuse a click.
class TUpDown : public QWidget {
 public:
  TUpDown(QWidget* parent, QLineEdit* field, int min, int max);
  int Min() const { return min_; }
  int Max() const { return max_; }
  // Asked before an arrow changes the field; false refuses the click.
  std::function<bool()> OnClick;
  // What the arrows do: +1 or −1, within the range.
  void Click(int direction);
  QToolButton* Up() const { return up_; }
  QToolButton* Down() const { return down_; }

 private:
  QLineEdit* field_;
  QToolButton* up_;
  QToolButton* down_;
  int min_, max_;
};

class TSettingsPanel : public QWidget {
 public:
  explicit TSettingsPanel(QWidget* parent);

  QScrollArea* Scroll = nullptr;
  QComboBox* CBFormato = nullptr;
  QPushButton* SpeedButton1 = nullptr;  // "Dicas de Formato"
  QLineEdit* DiasGravar = nullptr;
  TUpDown* UpDown1 = nullptr;
  QCheckBox* CBGravar = nullptr;
  QLineEdit* TempoGravar = nullptr;
  TUpDown* UpDown2 = nullptr;
  QComboBox* CBEmissora = nullptr;
  QPushButton* SpeedButton2 = nullptr;  // rename
  TMMDeviceComboBox* ComboPlaca = nullptr;
  QLineEdit* EdLocal = nullptr;
  QPushButton* BLocal = nullptr;  // browse
  QCheckBox* CBPrioridade = nullptr;
  QComboBox* CBControle = nullptr;
  TMMMixerCheckBox* CBLineIn = nullptr;
  TMMMixerCheckBox* CBLineInRec = nullptr;  // hidden
  TMMMixerWheel* VolumeRec = nullptr;
  TMMMixerWheel* VolumePlay = nullptr;
  QComboBox* CBCanal = nullptr;
  QCheckBox* CBCopia = nullptr;
  QLineEdit* EdLocalCopia = nullptr;
  QLineEdit* EdEmissoras = nullptr;
  TUpDown* UpEmissoras = nullptr;
  QPushButton* BVoltarConfig = nullptr;
  QPushButton* BGravaConfig = nullptr;
};

// "Formatos Sugeridos": the disk space one station needs a month, per format.
class TFormatTips : public QWidget {
 public:
  explicit TFormatTips(QWidget* parent);
  QListWidget* List = nullptr;
  QPushButton* BVoltarFormatos = nullptr;
};
