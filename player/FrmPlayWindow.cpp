#include "player/FrmPlayWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QTextCharFormat>
#include <QUrl>

#include "widgets/Notifier.h"

namespace {

using FrontPanel::BigButton;
using FrontPanel::Caption;
using FrontPanel::kAqua;
using FrontPanel::kMakerUrl;
using FrontPanel::kYellow;
using FrontPanel::SmallButton;

}  // namespace

TFrmPlayWindow::TFrmPlayWindow(const std::string& iniPath, std::unique_ptr<AudioOutput> output)
    : TFrontPanel(QSize(384, 536), kPlayerTitle) {
  logic_ = std::make_unique<TFrmPlay>(iniPath, std::move(output), this);
  BuildWindow();
}

TFrmPlayWindow::~TFrmPlayWindow() {
  logic_.reset();  // its events still reach this view while the media control ends
}

void TFrmPlayWindow::BuildWindow() {
  auto* product = new QLabel("Kravo Tralven Brindavoxel 2009 - Player", this);
  product->setStyleSheet("color:#f0f0f0;font:bold 15px;");
  product->setGeometry(16, 10, 352, 22);
  auto* maker = new QPushButton("Kravo Tralven Sistemas", this);
  maker->setFlat(true);
  maker->setStyleSheet(
      "QPushButton{color:#7fb2ff;font:10px;text-decoration:underline;border:none;"
      "text-align:left;}");
  maker->setGeometry(16, 32, 200, 14);
  maker->setCursor(Qt::PointingHandCursor);
  maker->setFocusPolicy(Qt::NoFocus);
  QObject::connect(maker, &QPushButton::clicked, this,
                   [] { QDesktopServices::openUrl(QUrl(kMakerUrl)); });

  Caption(this, "EMISSORA:")->setGeometry(16, 58, 80, 18);
  ledLabelRadios_ = new TLedLabel(this, 14, kAqua, 2);
  ledLabelRadios_->move(90, 56);
  ledLabelRadios_->setScrolling(true);
  spinRadio_ = new QSpinBox(this);
  spinRadio_->setGeometry(326, 56, 44, 22);
  spinRadio_->setRange(0, 0);
  spinRadio_->setStyleSheet(
      "QSpinBox{background:#111;color:#0ee;border:1px solid #555;}"
      "QSpinBox::up-button,QSpinBox::down-button{background:#5a5e66;width:12px;}");
  QObject::connect(spinRadio_, &QSpinBox::valueChanged, this,
                   [this](int v) { logic_->SpinRadioChange(v); });

  calendario_ = new QCalendarWidget(this);
  calendario_->setGeometry(16, 88, 352, 190);
  calendario_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  calendario_->setGridVisible(false);
  calendario_->setStyleSheet(
      "QCalendarWidget "
      "QWidget{background:#15171a;color:#dcdcdc;alternate-background-color:#1d2024;}"
      "QCalendarWidget QToolButton{color:#f0f0f0;background:#2b2e34;font:bold 11px;}"
      "QCalendarWidget QAbstractItemView:enabled{selection-background-color:#1d6e2a;"
      "selection-color:white;}"
      "QCalendarWidget QAbstractItemView:disabled{color:#555;}");

  Caption(this, "HORA:")->setGeometry(16, 292, 50, 18);
  ledHora_ = new TLedSpin(this, 0, 23);
  ledHora_->move(66, 290);
  Caption(this, "MINUTO:")->setGeometry(150, 292, 60, 18);
  ledMinuto_ = new TLedSpin(this, 0, 59);
  ledMinuto_->move(214, 290);

  Caption(this, "LOCAL:")->setGeometry(16, 326, 50, 18);
  diretorio_ = new QLineEdit(this);
  diretorio_->setGeometry(66, 324, 276, 22);
  diretorio_->setText(QString::fromStdString(TFrmPlay::DefaultFolder()));
  diretorio_->setStyleSheet("QLineEdit{background:#111;color:#0ee;border:1px solid #555;}");
  QObject::connect(diretorio_, &QLineEdit::editingFinished, this,
                   [this] { logic_->DiretorioExit(diretorio_->text().toStdString()); });
  browse_ = SmallButton(this, "...", "Procurar");
  browse_->setGeometry(346, 324, 22, 22);
  QObject::connect(browse_, &QPushButton::clicked, this, [this] {
    const QString folder =
        QFileDialog::getExistingDirectory(this, kPlayerTitle, diretorio_->text());
    if (folder.isEmpty()) return;
    diretorio_->setText(folder);
    logic_->DiretorioExit(folder.toStdString());
  });

  meMusica_ = new TLedLabel(this, 8, kYellow, 4);
  meMusica_->move((width() - meMusica_->sizeHint().width()) / 2, 360);
  meMusica_->setText("00:00:00");

  tbProgressMusica_ = new QSlider(Qt::Horizontal, this);
  tbProgressMusica_->setGeometry(16, 408, 352, 22);
  tbProgressMusica_->setRange(0, 100);
  tbProgressMusica_->setStyleSheet(
      "QSlider::groove:horizontal{height:6px;background:#111;border:1px solid #555;}"
      "QSlider::sub-page:horizontal{background:#1d6e2a;}"
      "QSlider::handle:horizontal{background:#c8c8c8;width:10px;margin:-5px 0;"
      "border-radius:3px;}");
  tbProgressMusica_->setToolTip("0%");
  QObject::connect(tbProgressMusica_, &QSlider::sliderPressed, this,
                   [this] { logic_->TBProgressMusicaTrack(); });
  QObject::connect(tbProgressMusica_, &QSlider::sliderReleased, this,
                   [this] { logic_->TBProgressMusicaTrackEnd(tbProgressMusica_->value()); });
  QObject::connect(tbProgressMusica_, &QSlider::valueChanged, this, [this](int v) {
    tbProgressMusica_->setToolTip(QString::fromStdString(TFrmPlay::TBProgressMusicaChange(v)));
  });

  bTocar_ = BigButton(this, "Play", "#1d6e2a", "#26883a");
  bPausa_ = BigButton(this, "Pause", "#4a4e57", "#5a5f69");
  bStop_ = BigButton(this, "Stop", "#8a1c1c", "#a52626");
  bTocar_->setGeometry(16, 446, 112, 36);
  bPausa_->setGeometry(136, 446, 112, 36);
  bStop_->setGeometry(256, 446, 112, 36);
  QObject::connect(bTocar_, &QPushButton::clicked, this, [this] { BTocarClick(); });
  QObject::connect(bPausa_, &QPushButton::clicked, this, [this] { logic_->BPausaClick(); });
  QObject::connect(bStop_, &QPushButton::clicked, this, [this] { logic_->BStopClick(); });
  bSair_ = SmallButton(this, "Fechar", "Fechar");
  bSair_->setGeometry(152, 496, 80, 22);
  QObject::connect(bSair_, &QPushButton::clicked, this, [this] { close(); });
}

void TFrmPlayWindow::FormCreate() {
  logic_->FormCreate();
  // Centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TFrmPlayWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  calendario_->setSelectedDate(QDate::currentDate());
  logic_->FormShow();
}

void TFrmPlayWindow::closeEvent(QCloseEvent* e) {
  e->accept();
  QCoreApplication::quit();
}

void TFrmPlayWindow::BTocarClick() {
  const QDate d = calendario_->selectedDate();
  LocalTime day;
  day.year = d.year();
  day.month = d.month();
  day.day = d.day();
  logic_->BTocarClick(day, ledHora_->value(), ledMinuto_->value(),
                      diretorio_->text().toStdString());
}

void TFrmPlayWindow::ShowStation(int index, const std::string& name, const std::string& folder,
                                 int lastIndex) {
  spinRadio_->blockSignals(true);
  spinRadio_->setRange(0, std::max(lastIndex, 0));
  spinRadio_->setValue(index);
  spinRadio_->blockSignals(false);
  ledLabelRadios_->setText(QString::fromStdString(name));
  diretorio_->setText(QString::fromStdString(folder));
}

void TFrmPlayWindow::ShowClock(const std::string& hhmmss) {
  meMusica_->setText(QString::fromStdString(hhmmss));
}

void TFrmPlayWindow::ShowSlider(int percent) {
  tbProgressMusica_->setValue(percent);
}

void TFrmPlayWindow::EnablePlay(bool enabled) {
  bTocar_->setEnabled(enabled);
}

void TFrmPlayWindow::ShowMessage(const std::string& text) {
  Notifier::Say(text, this);
}
