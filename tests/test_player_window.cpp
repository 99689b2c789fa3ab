// The player's window: its look offscreen (idle and playing), its size, and its controls
// wired to the logic: the station spin shows the station's name and folder, the folder field
// saves LocalPlay, "Play" looks up the calendar's day at the hour and minute fields. It needs a
// widget application, hence a main of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDate>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "TestRecordings.h"
#include "common/PrivateProfile.h"
#include "common/RecordingNames.h"
#include "platform/AudioOutput.h"
#include "player/FrmPlayWindow.h"
#include "widgets/Notifier.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void Pump(std::chrono::milliseconds span) {
  QEventLoop loop;
  QTimer::singleShot(span, &loop, &QEventLoop::quit);
  loop.exec();
}

// Share of the pixels of a picture that are not the panel's background.
double Drawn(const QImage& image) {
  int drawn = 0;
  const QRgb corner = image.pixel(image.width() / 2, 3);
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) drawn += image.pixel(x, y) != corner;
  return 4.0 * drawn / (image.width() * image.height());
}

class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::path(TEST_DATA_DIR) / ("playerwin_" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "um");
    fs::create_directories(root / "dois");
    PrivateProfile ini((root / "cfg.ini").string());
    ini.WriteString("Geral", "Emissoras", "2");
    ini.WriteString("Emissoras", "R1", "Rádio Um");
    ini.WriteString("LocalPlay", "R1", (root / "um").string());
    ini.WriteString("LocalPlay", "R2", (root / "dois").string());
    Notifier::Hook() = [this](const std::string& t) { messages.push_back(t); };
    win = std::make_unique<TFrmPlayWindow>((root / "cfg.ini").string(),
                                           std::make_unique<SilentOutput>(1.0));
    win->FormCreate();
    win->show();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    win.reset();
    Notifier::Hook() = nullptr;
    fs::remove_all(root);
  }

  fs::path root;
  std::unique_ptr<TFrmPlayWindow> win;
  std::vector<std::string> messages;
};

TEST_F(PlayerWindowTest, RendersIdleAndPlaying) {
  EXPECT_EQ(win->size(), QSize(384, 536));
  EXPECT_TRUE(win->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(win->windowTitle(), "Kravo Tralven Sorvantelique (Player)");
  EXPECT_EQ(win->Calendario()->selectedDate(), QDate::currentDate());
  EXPECT_EQ(win->LedHora()->value(), 0);
  EXPECT_EQ(win->LedMinuto()->value(), 0);
  EXPECT_EQ(win->MEMusica()->text(), "00:00:00");
  EXPECT_EQ(win->LedLabelRadios()->text(), "Rádio Um");
  const QImage idle = win->grab().toImage();
  EXPECT_EQ(idle.size(), QSize(384, 536));
  EXPECT_GT(Drawn(idle), 0.2);
  EXPECT_TRUE(idle.save(TEST_OUTPUT_DIR "/player_idle.png"));

  // A recording of today at 15:30: Play at 15:37.
  const QDate today = QDate::currentDate();
  LocalTime d;
  d.year = today.year();
  d.month = today.month();
  d.day = today.day();
  const std::string day = DayStamp(d);
  WriteRecording(root / "um" / (day + "1530a" + day + "1540.mp3"), 10);
  win->LedHora()->setValue(15);
  win->LedMinuto()->setValue(37);
  win->BTocarClick();
  Pump(1300ms);
  EXPECT_TRUE(messages.empty()) << messages[0];
  EXPECT_FALSE(win->BTocar()->isEnabled());
  EXPECT_EQ(win->MEMusica()->text().left(7), "15:37:0");
  EXPECT_GT(win->TBProgressMusica()->value(), 60);  // 7 minutes of 10
  const QImage playing = win->grab().toImage();
  EXPECT_TRUE(playing.save(TEST_OUTPUT_DIR "/player_playing.png"));
  EXPECT_GT(Drawn(playing), 0.2);
  EXPECT_NE(playing, idle);
}

// The station spin shows the station's name (blank when it has none) and its folder; leaving
// the folder field stores it as that station's LocalPlay; a missing folder is told.
TEST_F(PlayerWindowTest, StationSpinAndFolderField) {
  win->SpinRadio()->setValue(1);
  EXPECT_EQ(win->LedLabelRadios()->text(), "");
  EXPECT_EQ(win->Diretorio()->text().toStdString(), (root / "dois").string());
  win->Diretorio()->setText(QString::fromStdString((root / "outra").string()));
  emit win->Diretorio()->editingFinished();
  EXPECT_EQ(PrivateProfile((root / "cfg.ini").string()).ReadString("LocalPlay", "R2"),
            (root / "outra").string());
  win->BTocarClick();
  EXPECT_EQ(messages, std::vector<std::string>{"Local dos arquivos de áudio inexistente!"});
  win->SpinRadio()->setValue(0);
  EXPECT_EQ(win->LedLabelRadios()->text(), "Rádio Um");
  EXPECT_EQ(win->Diretorio()->text().toStdString(), (root / "um").string());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
