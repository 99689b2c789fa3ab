#include "recorder/SettingsPanel.h"

#include <QGroupBox>

#include "widgets/FrontPanel.h"

namespace {

const char* const kFormats[] = {"MP3:  32 kbps", "MP3:  40 kbps", "MP3:  48 kbps", "MP3:  56 kbps",
                                "MP3:  64 kbps", "MP3:  80 kbps", "MP3:  96 kbps", "MP3: 112 kbps",
                                "MP3: 128 kbps", "MP3: 160 kbps", "MP3: 192 kbps", "MP3: 224 kbps",
                                "MP3: 256 kbps", "MP3: 320 kbps"};

const char* const kTips[] = {"  MP3:  32 Kbps  -  10 GB / Mês", "  MP3:  40 Kbps  -  13 GB / Mês",
                             "  MP3:  48 Kbps  -  15 GB / Mês", "  MP3:  56 Kbps  -  17 GB / Mês",
                             "  MP3:  64 Kbps  -  20 GB / Mês", "  MP3:  80 Kbps  -  25 GB / Mês",
                             "  MP3:  96 Kbps  -  30 GB / Mês", "  MP3: 112 Kbps  -  35 GB / Mês",
                             "  MP3: 128 Kbps  -  40 GB / Mês", "  MP3: 160 Kbps  -  50 GB / Mês",
                             "  MP3: 192 Kbps  -  60 GB / Mês", "  MP3: 224 Kbps  -  75 GB / Mês",
                             "  MP3: 256 Kbps  -  85 GB / Mês", "  MP3: 320 Kbps  -  95 GB / Mês"};

// The panel's look: light text on the front panel's dark face, framed groups.
const char* const kStyle =
    "QWidget{color:#d8d8d8;font-size:11px;}"
    "QGroupBox{border:1px solid #5a5e66;border-radius:3px;margin-top:8px;padding-top:4px;}"
    "QGroupBox::title{subcontrol-origin:margin;left:8px;color:#f0f0f0;font-weight:bold;}"
    "QLineEdit,QComboBox{background:#16181b;border:1px solid #5a5e66;color:#7fe07f;"
    "padding:1px 3px;}"
    "QComboBox QAbstractItemView{background:#16181b;color:#d8d8d8;}"
    "QLineEdit:disabled{color:#6a6e74;}"
    "QPushButton,QToolButton{background:#4a4e56;border:1px solid #6a6e76;border-radius:2px;"
    "color:#f0f0f0;padding:1px 6px;}"
    "QPushButton:pressed,QToolButton:pressed{background:#2a2d32;}"
    "QScrollArea{border:none;background:transparent;}"
    "QScrollBar:vertical{background:#1c1e22;width:10px;margin:0;}"
    "QScrollBar::handle:vertical{background:#5a5e66;min-height:24px;border-radius:4px;}"
    "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical{height:0;}"
    "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:none;}"
    "QCheckBox::indicator{width:12px;height:12px;border:1px solid #8a8f98;background:#1c1e22;}"
    "QCheckBox::indicator:checked{background:#40e040;border:1px solid #8a8f98;}";

QLabel* Text(QWidget* parent, const char* text, int x, int y, int w = 80) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setGeometry(x, y, w, 20);
  return l;
}

QGroupBox* Group(QWidget* parent, const char* title, int y, int h) {
  auto* g = new QGroupBox(QString::fromUtf8(title), parent);
  g->setGeometry(4, y, 384, h);
  return g;
}

}  // namespace

TUpDown::TUpDown(QWidget* parent, QLineEdit* field, int min, int max)
    : QWidget(parent), field_(field), min_(min), max_(max) {
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  up_->setText(QString::fromUtf8("▲"));
  down_->setText(QString::fromUtf8("▼"));
  up_->setStyleSheet("font-size:6px;padding:0;");
  down_->setStyleSheet("font-size:6px;padding:0;");
  up_->setGeometry(0, 0, 14, 10);
  down_->setGeometry(0, 10, 14, 10);
  resize(14, 20);
  QObject::connect(up_, &QToolButton::clicked, this, [this] { Click(+1); });
  QObject::connect(down_, &QToolButton::clicked, this, [this] { Click(-1); });
}

void TUpDown::Click(int direction) {
  if (OnClick && !OnClick()) return;
  bool ok = false;
  int v = field_->text().toInt(&ok);
  if (!ok) v = min_;
  field_->setText(QString::number(std::clamp(v + direction, min_, max_)));
}

TSettingsPanel::TSettingsPanel(QWidget* parent) : QWidget(parent) {
  setObjectName("PConfig");
  setStyleSheet(kStyle);
  auto* title = new QLabel(QString::fromUtf8("Configurações"), this);
  title->setStyleSheet("font:bold 13px;color:#f0f0f0;");
  title->setGeometry(4, 0, 200, 20);

  Scroll = new QScrollArea(this);
  Scroll->setGeometry(0, 22, 416, 220);
  Scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* c = new QWidget;
  c->setObjectName("PConfigContent");
  c->resize(394, 470);
  c->setStyleSheet("#PConfigContent{background:#2b2e33;}");

  QGroupBox* g = Group(c, "Formato: ", 0, 52);
  CBFormato = new QComboBox(g);
  for (const char* f : kFormats) CBFormato->addItem(f);
  CBFormato->setGeometry(10, 20, 140, 22);
  SpeedButton1 = new QPushButton("Dicas de Formato", g);
  SpeedButton1->setGeometry(160, 20, 120, 22);

  g = Group(c, "Tempo de Gravação: ", 56, 78);
  DiasGravar = new QLineEdit("30", g);
  DiasGravar->setGeometry(10, 20, 40, 22);
  UpDown1 = new TUpDown(g, DiasGravar, 0, 100);
  UpDown1->move(51, 21);
  Text(g, "Dias", 70, 21, 40);
  CBGravar = new QCheckBox("Auto-Gravar", g);
  CBGravar->setGeometry(160, 21, 120, 20);
  Text(g, "Gerar arquivos de", 10, 48, 110);
  TempoGravar = new QLineEdit("10", g);
  TempoGravar->setGeometry(120, 47, 40, 22);
  UpDown2 = new TUpDown(g, TempoGravar, 10, 60);
  UpDown2->move(161, 48);
  Text(g, "Min.", 180, 48, 40);

  g = Group(c, "Personalizar Emissora: ", 138, 240);
  Text(g, "Emissora:", 10, 20, 60);
  CBEmissora = new QComboBox(g);
  CBEmissora->setGeometry(74, 19, 220, 22);
  SpeedButton2 = new QPushButton("Renomear", g);
  SpeedButton2->setGeometry(298, 19, 78, 22);
  Text(g, "Placa:", 10, 46, 60);
  ComboPlaca = new TMMDeviceComboBox(g);
  ComboPlaca->SetIncludeMapper(false);
  ComboPlaca->setGeometry(74, 45, 302, 22);
  Text(g, "Local:", 10, 72, 60);
  EdLocal = new QLineEdit(g);
  EdLocal->setGeometry(74, 71, 270, 22);
  BLocal = new QPushButton("...", g);
  BLocal->setGeometry(348, 71, 28, 22);
  CBPrioridade = new QCheckBox("Definir como prioridade", g);
  CBPrioridade->setGeometry(74, 96, 200, 20);
  Text(g, "Controle:", 10, 120, 60);
  CBControle = new QComboBox(g);
  CBControle->addItems({"Entrada de Linha", "Microfone"});
  CBControle->setGeometry(74, 119, 140, 22);
  CBLineIn = new TMMMixerCheckBox(g);
  CBLineIn->SetAutoCaption(false);
  CBLineIn->setText("Desativar retorno");
  CBLineIn->setGeometry(224, 120, 150, 20);
  CBLineInRec = new TMMMixerCheckBox(g);
  CBLineInRec->SetAutoCaption(false);
  CBLineInRec->hide();
  Text(g, "Volume: ", 10, 150, 60);
  VolumeRec = new TMMMixerWheel(g);
  VolumeRec->setGeometry(80, 146, 52, 52);
  Text(g, "Gravação", 76, 198, 60)->setAlignment(Qt::AlignHCenter);
  VolumePlay = new TMMMixerWheel(g);
  VolumePlay->setGeometry(160, 146, 52, 52);
  Text(g, "Retorno", 156, 198, 60)->setAlignment(Qt::AlignHCenter);
  Text(g, "Canal:", 240, 160, 50);
  CBCanal = new QComboBox(g);
  CBCanal->addItems({"Esquerdo", "Direito", "Estéreo"});
  CBCanal->setGeometry(284, 159, 92, 22);

  g = Group(c, "Cópia de Segurança: ", 382, 52);
  CBCopia = new QCheckBox("Gravar cópia de segurança", g);
  CBCopia->setGeometry(10, 20, 190, 20);
  Text(g, "Local:", 200, 20, 40);
  EdLocalCopia = new QLineEdit(g);
  EdLocalCopia->setGeometry(240, 19, 136, 22);
  EdLocalCopia->setEnabled(false);

  Text(c, "Nº de Emissoras:", 14, 442, 110);
  EdEmissoras = new QLineEdit("1", c);
  EdEmissoras->setGeometry(124, 441, 40, 22);
  UpEmissoras = new TUpDown(c, EdEmissoras, 1, 8);
  UpEmissoras->move(165, 442);

  Scroll->setWidget(c);
  BVoltarConfig = new QPushButton("Voltar", this);
  BGravaConfig = new QPushButton("Gravar", this);
  BVoltarConfig->setGeometry(236, 248, 84, 24);
  BGravaConfig->setGeometry(328, 248, 84, 24);
  resize(416, 276);
}

TFormatTips::TFormatTips(QWidget* parent) : QWidget(parent) {
  setObjectName("PFormatos");
  setStyleSheet(kStyle);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0x2b, 0x2e, 0x33));
  setPalette(pal);
  auto* title = new QLabel("Formatos Sugeridos", this);
  title->setStyleSheet("font:bold 13px;color:#f0f0f0;");
  title->setGeometry(4, 0, 200, 20);
  List = new QListWidget(this);
  for (const char* t : kTips) List->addItem(QString::fromUtf8(t));
  List->setSelectionMode(QAbstractItemView::NoSelection);
  List->setFocusPolicy(Qt::NoFocus);
  List->setStyleSheet("background:#16181b;color:#7fe07f;font-family:monospace;");
  List->setGeometry(0, 22, 416, 220);
  BVoltarFormatos = new QPushButton("Voltar", this);
  BVoltarFormatos->setGeometry(328, 248, 84, 24);
  resize(416, 276);
}
