// The recorder's main window: its look offscreen, start-up with the automatic start, the
// tray menu, the guards against ending while recording, the disk-space figures, the tray
// animation and the station switch. Driven with simulated devices and a test clock; it needs
// a widget application, hence a main of its own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "HookedBlade.h"
#include "PulseDevices.h"
#include "TestTime.h"
#include "audio/MMWavIn.h"
#include "common/PrivateProfile.h"
#include "common/WallClock.h"
#include "displays/MMConect.h"
#include "mixer/MMWheel.h"
#include "platform/DeviceLayer.h"
#include "platform/DiskSpace.h"
#include "platform/SimCapture.h"
#include "platform/SimMixer.h"
#include "recorder/FrmGravarWindow.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Names = std::vector<std::string>;

const char* const kRefuseClose = "É necessário parar a gravação antes de finalizar o sistema!";
const char* const kRefuseLogoff = "É necessário parar a gravação antes de desligar o Windows!";

// Pumps events until `done` holds or a generous deadline passes; true when it held.
bool PumpUntil(const std::function<bool()>& done, int limitMs = 5000) {
  QDeadlineTimer deadline(limitMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Runs the application's loop with `action` as its first event. Returns the loop's exit code:
// 0 when the action (or what it starts) quit the application, 99 when nothing did.
int RunLoop(QObject* context, const std::function<void()>& action) {
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  guard.start(1500);
  QTimer::singleShot(0, context, action);
  return QCoreApplication::exec();
}

QImage IconImage(const QIcon& icon) {
  return icon.pixmap(QSize(32, 32)).toImage();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root =
        fs::path(TEST_DATA_DIR) / ("window_" + std::to_string(getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
    now = At(8, 15, 30);
    env.clock = [this] { return now; };
    SimDeviceConfig dev;
    dev.signal = SimSignal::Tone;
    sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(8, dev));
    TFrmGravarWindow::MessageHook() = [this](const std::string& t) { messages.push_back(t); };
  }
  void TearDown() override {
    win.reset();
    TFrmGravarWindow::MessageHook() = nullptr;
    fs::remove_all(root);
  }

  // Stations 1..n recording both channels of cards 0..n-1 into r1..rn at 128 kbps; the
  // names are written as cfg.ini holds them (Windows-1252).
  void WriteIni(int stations, const std::string& autoGravar,
                const std::vector<std::string>& names = {}) {
    std::string s = "[Gravacao]\nFormato=8\n[Geral]\nAutoGravar=" + autoGravar +
                    "\nMB Livres=0\nDiasRec=30\nTempoRec=10\nPrioridade=N\nEmissoras=" +
                    std::to_string(stations) + "\n";
    for (int n = 1; n <= stations; ++n) {
      const std::string r = "R" + std::to_string(n);
      fs::create_directories(Folder(n));
      s += "[Local]\n" + r + "=" + Folder(n).string() + "\n[Placa]\n" + r + "=" +
           std::to_string(n - 1) + "\n[Canal]\n" + r + "=2\n[Controle]\n" + r + "=0\n";
      if (static_cast<size_t>(n) <= names.size())
        s += "[Emissoras]\n" + r + "=" + names[static_cast<size_t>(n - 1)] + "\n";
    }
    std::ofstream(root / "cfg.ini", std::ios::binary) << s;
  }
  fs::path Folder(int n) const { return root / ("r" + std::to_string(n)); }

  // Replaces the first `from` in cfg.ini by `to`.
  void EditIni(const std::string& from, const std::string& to) {
    std::ifstream in(root / "cfg.ini", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_NE(text.find(from), std::string::npos) << from;
    text.replace(text.find(from), from.size(), to);
    std::ofstream(root / "cfg.ini", std::ios::binary) << text;
  }

  // The window as the program starts it, on the simulated devices unless told otherwise.
  void Start(CaptureBackend* devices = nullptr) {
    win = std::make_unique<TFrmGravarWindow>((root / "cfg.ini").string(),
                                             devices ? devices : sim.get(), env);
    win->FormCreate();
    win->show();
    QCoreApplication::processEvents();
  }
  TFrmGravar& Session() { return win->Session(); }

  // Lets every recording station capture about `seconds` of audio while the clock runs on.
  void Record(int seconds) {
    for (int s = 0; s < seconds; ++s) {
      now += 1s;
      for (int k = 0; k < 43; ++k) {  // 43 buffers of 4096 bytes: one second of audio
        for (int i = 0; i < Session().StationCount(); ++i) {
          TMMWaveIn* w = Session().Station(i).WaveIn;
          if (w->HasState(dsStarted)) sim->Step(w->Handle(), 4096);
        }
        QCoreApplication::processEvents();
      }
    }
  }
  // A fresh installation of `stations` stations that has recorded two seconds since 15:30.
  void FreshRecording(int stations) {
    win.reset();
    fs::remove_all(root);
    fs::create_directories(root);
    messages.clear();
    now = At(8, 15, 30);
    WriteIni(stations, "N");
    Start();
    ASSERT_NO_FATAL_FAILURE(StartRecording());
    Record(2);
  }
  void StartRecording() {
    Session().BGravarClick();
    ASSERT_TRUE(PumpUntil([this] { return !win->GravarVisible(); }));
    ASSERT_TRUE(Session().IsRecording());
  }
  bool AllStationsRecording() {
    for (int i = 0; i < Session().StationCount(); ++i)
      if (!Session().Station(i).WaveIn->HasState(dsStarted)) return false;
    return Session().StationCount() > 0;
  }
  Names Files(int station) const {
    Names out;
    for (const auto& e : fs::directory_iterator(Folder(station)))
      out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
  QPushButton* Button(const QString& text) const {
    // The window's own, not the settings panel's "Gravar".
    for (QPushButton* b : win->findChildren<QPushButton*>())
      if (b->text() == text && !win->PConfig()->isAncestorOf(b)) return b;
    return nullptr;
  }
  // A left click in the middle of a widget, as the mouse gives it.
  static void Click(QWidget* w) {
    const QPoint local(w->width() / 2, w->height() / 2);
    const QPoint global = w->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(w, &release);
  }
  QAction* MenuItem(const QString& text) const {
    for (QAction* a : win->TrayMenu()->actions())
      if (a->text() == text) return a;
    return nullptr;
  }

  fs::path root;
  WallTime now;
  std::unique_ptr<SimCaptureBackend> sim;
  RecorderEnvironment env;
  std::unique_ptr<TFrmGravarWindow> win;
  Names messages;
};

// Look ---------------------------------------------------------------------------------------

// Share of the pixels of a rectangle whose colour differs between two pictures.
double ChangedShare(const QImage& a, const QImage& b, const QRect& r) {
  int changed = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) changed += a.pixel(x, y) != b.pixel(x, y);
  return static_cast<double>(changed) / (r.width() * r.height());
}

TEST_F(WindowTest, RendersIdleAndRecording) {
  WriteIni(2, "N", {"Radio Central FM"});
  env.diskQuery = [](const std::string&, DiskSpace& out) {
    out.totalBytes = 107374182400ull;
    out.freeBytes = 26843545600ull;
    return true;
  };
  Start();

  const QImage idle = win->grab().toImage();
  ASSERT_FALSE(idle.isNull());
  EXPECT_EQ(idle.size(), QSize(448, 398));
  EXPECT_TRUE(idle.save(TEST_OUTPUT_DIR "/window_idle.png"));
  std::set<QRgb> colours;
  for (int y = 0; y < idle.height(); y += 2)
    for (int x = 0; x < idle.width(); x += 2) colours.insert(idle.pixel(x, y));
  EXPECT_GT(colours.size(), 10u);  // panel, LEDs, gauge, buttons: not a blank window
  EXPECT_TRUE(Button("Gravar")->isVisible());
  EXPECT_FALSE(Button("Parar")->isVisible());
  EXPECT_EQ(win->LTempo()->text(), "00:00:00");
  EXPECT_EQ(win->LDias()->text(), "00");

  ASSERT_NO_FATAL_FAILURE(StartRecording());
  Record(5);
  const QImage recording = win->grab().toImage();
  ASSERT_FALSE(recording.isNull());
  EXPECT_EQ(recording.size(), QSize(448, 398));
  EXPECT_TRUE(recording.save(TEST_OUTPUT_DIR "/window_recording.png"));
  EXPECT_FALSE(Button("Gravar")->isVisible());
  EXPECT_TRUE(Button("Parar")->isVisible());
  EXPECT_EQ(win->LTempo()->text(), "00:00:05");

  // "Parar" is drawn where "Gravar" was, and the running time changed on the panel.
  const QRect button = Button("Parar")->geometry();
  EXPECT_EQ(button, Button("Gravar")->geometry());
  EXPECT_GT(ChangedShare(idle, recording, button), 0.5);
  const QColor idleButton = idle.pixelColor(button.left() + 6, button.center().y());
  const QColor recButton = recording.pixelColor(button.left() + 6, button.center().y());
  EXPECT_GT(idleButton.green(), idleButton.red());
  EXPECT_GT(recButton.red(), recButton.green());
  EXPECT_GT(ChangedShare(idle, recording, win->LTempo()->geometry()), 0.0);
  EXPECT_TRUE(messages.empty()) << messages[0];
}

// The panel has rounded corners: the window must be shaped to them, by a mask or a
// transparent background, or the desktop shows light specks at the four corners.
TEST_F(WindowTest, ShapedToItsRoundedCorners) {
  WriteIni(1, "N");
  Start();
  const QImage image = win->grab().toImage();
  for (QPoint corner : {QPoint(0, 0), QPoint(447, 0), QPoint(0, 397), QPoint(447, 397)}) {
    SCOPED_TRACE(testing::Message() << corner.x() << "," << corner.y());
    const bool masked = !win->mask().isEmpty() && !win->mask().contains(corner);
    const bool transparent =
        win->testAttribute(Qt::WA_TranslucentBackground) && qAlpha(image.pixel(corner)) == 0;
    EXPECT_TRUE(masked || transparent)
        << "corner drawn as " << QColor(image.pixel(corner)).name().toStdString();
  }
  EXPECT_TRUE(win->mask().isEmpty() || win->mask().contains(QPoint(224, 199)));
}

TEST_F(WindowTest, BorderlessFixedCentredAndDraggedFromAnyPoint) {
  WriteIni(1, "N");
  Start();
  EXPECT_TRUE(win->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(win->minimumSize(), QSize(448, 398));
  EXPECT_EQ(win->maximumSize(), QSize(448, 398));
  EXPECT_EQ(win->windowTitle(), kApplicationTitle);
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((win->geometry().center() - centre).manhattanLength(), 2);

  // Pressed on the panel itself, on a caption and on an LED display: the window follows.
  QWidget* caption = win->childAt(20, 72);
  ASSERT_NE(caption, nullptr);
  for (QWidget* target :
       {static_cast<QWidget*>(win.get()), caption, static_cast<QWidget*>(win->LTempo())}) {
    SCOPED_TRACE(target->metaObject()->className());
    const QPoint from = win->pos();
    const QPoint local(5, 5);
    const QPoint global = target->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent move(QEvent::MouseMove, local + QPoint(30, 20), global + QPoint(30, 20),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + QPoint(30, 20), global + QPoint(30, 20),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
    EXPECT_EQ(win->pos(), from + QPoint(30, 20));
  }
}

// Start-up -------------------------------------------------------------------------------------

TEST_F(WindowTest, StartUpLoadsPurgesAndArmsTheAutomaticStart) {
  struct Case {
    const char* autoGravar;
    bool recordsByHandFirst;
    bool records;
    bool minimised;
  };
  const Case cases[] = {
      {"S", false, true, true},
      {"S", true, true, true},  // already recording: not started twice, still hidden
      {"N", false, false, false},
      {"s", false, false, false},  // exactly "S"
      {"", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("AutoGravar=\"") + c.autoGravar + "\"" +
                 (c.recordsByHandFirst ? " recording by hand" : ""));
    win.reset();
    fs::remove_all(root);
    fs::create_directories(root);
    messages.clear();
    WriteIni(3, c.autoGravar, {"Radio Um"});
    // The purge runs with the settings just loaded: 30 days.
    std::ofstream(Folder(1) / "0101260000a0101260010.mp3") << "old";
    std::ofstream(Folder(1) / "0101260010a0101260020.mp3") << "recent";
    SetModified(Folder(1) / "0101260000a0101260010.mp3", now - 24h * 40);
    SetModified(Folder(1) / "0101260010a0101260020.mp3", now - 24h * 5);
    Start();
    Session().WaitFileWork();  // the purge runs on the worker

    EXPECT_EQ(Files(1), Names{"0101260010a0101260020.mp3"});
    EXPECT_EQ(win->LedLabelRadios()->text(), "Radio Um");
    EXPECT_EQ(win->LFormato()->text().trimmed(), "MP3: 128 Kbps, Stereo");
    EXPECT_FALSE(win->TrayAvailable());
    EXPECT_FALSE(win->GravarItem()->isEnabled());
    EXPECT_TRUE(win->PararItem()->isEnabled());
    EXPECT_TRUE(win->TimerInicio().isActive());
    EXPECT_EQ(win->TimerInicio().interval(), 1000);
    EXPECT_FALSE(Session().IsRecording());  // not before the tick

    if (c.recordsByHandFirst) {
      ASSERT_NO_FATAL_FAILURE(StartRecording());
      now += 1min;  // a second start would open a file of a new name
    }
    ASSERT_TRUE(PumpUntil([this] { return !win->TimerInicio().isActive(); }));
    QCoreApplication::processEvents();

    EXPECT_EQ(AllStationsRecording(), c.records);
    EXPECT_EQ(Session().IsRecording(), c.records);
    EXPECT_EQ(win->GravarVisible(), !c.records);
    for (int n = 1; n <= 3; ++n) {
      Names expected;
      if (c.records) expected.push_back("0812261530.mp3");
      if (n == 1) expected.push_back("0101260010a0101260020.mp3");
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Files(n), expected) << "station " << n;
    }
    // No notification area offscreen: the window is minimised rather than stranded hidden.
    EXPECT_EQ(win->isMinimized(), c.minimised);
    EXPECT_TRUE(win->isVisible());
    // The automatic start leaves the tray items alone.
    EXPECT_FALSE(win->GravarItem()->isEnabled());
    EXPECT_TRUE(win->PararItem()->isEnabled());
    EXPECT_TRUE(messages.empty()) << messages[0];
    if (Session().IsRecording()) Session().BStopClick();
  }
}

TEST_F(WindowTest, TrayMenuOrder) {
  WriteIni(1, "N");
  Start();
  QStringList items;
  for (QAction* a : win->TrayMenu()->actions()) items.append(a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(items, QStringList({"Gravar", "Parar", "-", "Restaurar", "Ocultar", "-", "Fechar"}));
}

TEST_F(WindowTest, AutomaticStartIsNotArmedAtMidnight) {
  struct Case {
    int hour, minute, second;
    bool armed;
  };
  const Case cases[] = {
      {0, 0, 0, false}, {0, 0, 59, false}, {0, 1, 0, true}, {23, 59, 59, true}, {12, 0, 0, true},
  };
  WriteIni(1, "S");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hour << ":" << c.minute << ":" << c.second);
    now = At(8, c.hour, c.minute, c.second);
    win.reset();
    Start();
    EXPECT_EQ(win->TimerInicio().isActive(), c.armed);
    // The daily maintenance arms it by the same rule.
    win->TimerInicio().stop();
    Session().TimerMataArquivosTimer();
    EXPECT_EQ(win->TimerInicio().isActive(), c.armed);
    win->TimerInicio().stop();
  }
  EXPECT_TRUE(messages.empty()) << messages[0];
}

// Tray menu and buttons ------------------------------------------------------------------------

TEST_F(WindowTest, RecordingItemsToggleOnlyThroughEachOther) {
  WriteIni(2, "N");
  Start();
  // The window's own buttons leave the items as they are.
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  EXPECT_FALSE(win->GravarItem()->isEnabled());
  EXPECT_TRUE(win->PararItem()->isEnabled());

  MenuItem("Parar")->trigger();
  ASSERT_TRUE(PumpUntil([this] { return win->GravarVisible(); }));
  EXPECT_FALSE(Session().IsRecording());
  EXPECT_TRUE(win->GravarItem()->isEnabled());
  EXPECT_FALSE(win->PararItem()->isEnabled());
  for (int n = 1; n <= 2; ++n) EXPECT_EQ(Files(n), Names{"0812261530a0812261530.mp3"});

  now = At(8, 15, 35);
  MenuItem("Gravar")->trigger();
  ASSERT_TRUE(PumpUntil([this] { return !win->GravarVisible(); }));
  EXPECT_TRUE(AllStationsRecording());
  EXPECT_FALSE(win->GravarItem()->isEnabled());
  EXPECT_TRUE(win->PararItem()->isEnabled());

  Session().BStopClick();
  ASSERT_TRUE(PumpUntil([this] { return win->GravarVisible(); }));
  EXPECT_FALSE(win->GravarItem()->isEnabled());
  EXPECT_TRUE(win->PararItem()->isEnabled());
  EXPECT_TRUE(messages.empty()) << messages[0];
}

TEST_F(WindowTest, HidingAndRestoringNeverStopsTheRecording) {
  WriteIni(1, "N");
  Start();
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  for (const char* hide : {"button", "tray item"}) {
    SCOPED_TRACE(hide);
    if (std::string(hide) == "button")
      win->BOcultarClick();
    else
      MenuItem("Ocultar")->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(win->isMinimized());
    EXPECT_TRUE(Session().IsRecording());
    EXPECT_TRUE(TMMConnector::FeedingPaused());  // nobody sees the displays
    MenuItem("Restaurar")->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(win->isVisible());
    EXPECT_FALSE(win->isMinimized());
    EXPECT_TRUE(Session().IsRecording());
    EXPECT_FALSE(TMMConnector::FeedingPaused());
  }
  Session().BStopClick();
}

// Guards ---------------------------------------------------------------------------------------

TEST_F(WindowTest, FecharButtonRefusedWhileRecording) {
  WriteIni(2, "N");
  Start();
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  Record(1);

  EXPECT_EQ(RunLoop(win.get(), [this] { win->BSairClick(); }), 99);
  EXPECT_EQ(messages, Names{kRefuseClose});
  EXPECT_TRUE(win->isVisible());
  EXPECT_TRUE(AllStationsRecording());
  for (int n = 1; n <= 2; ++n) EXPECT_EQ(Files(n), Names{"0812261530.mp3"});

  // Once stopped, the same button ends the program.
  Session().BStopClick();
  ASSERT_TRUE(PumpUntil([this] { return win->GravarVisible(); }));
  messages.clear();
  EXPECT_EQ(RunLoop(win.get(), [this] { win->BSairClick(); }), 0);
  EXPECT_TRUE(messages.empty()) << messages[0];
  EXPECT_FALSE(win->isVisible());
}

TEST_F(WindowTest, EndingFromTheTrayOrByTheSystemStopsFirst) {
  struct Case {
    const char* name;
    bool hidden;  // as from the notification area, where the window is usually hidden
    std::function<void()> end;
  };
  const Case cases[] = {
      {"tray menu item", false, [this] { MenuItem("Fechar")->trigger(); }},
      {"tray menu item, window hidden", true, [this] { MenuItem("Fechar")->trigger(); }},
      {"Fechar1Click", false, [this] { win->Fechar1Click(); }},
      {"termination request", false, [this] { win->Terminate(); }},
      {"termination request, window hidden", true, [this] { win->Terminate(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(FreshRecording(2));
    now = At(8, 15, 43);
    if (c.hidden) win->hide();

    EXPECT_EQ(RunLoop(win.get(), c.end), 0);
    EXPECT_FALSE(Session().IsRecording());
    for (int n = 1; n <= 2; ++n) {
      const Names files = Files(n);
      EXPECT_EQ(files, Names{"0812261530a0812261543.mp3"}) << "station " << n;
      for (const std::string& f : files) {
        EXPECT_EQ(f.size(), 25u) << f;
        EXPECT_GT(fs::file_size(Folder(n) / f), 0u) << f;
      }
    }
    EXPECT_TRUE(messages.empty()) << messages[0];
  }
}

// A request to stop or to end that comes while a rotation runs (from every route: the button,
// the tray, the logoff, a termination signal) is carried out after the rotation, never inside
// it: every segment is finished once, and nothing starts again after the stop.
TEST_F(WindowTest, RequestsDuringARotationAreCarriedOutAfterIt) {
  std::function<void()> hook;
  UseHookedLame(&hook);
  struct Case {
    const char* name;
    std::function<void()> request;
    bool stops;
    bool quits;
  };
  const Case cases[] = {
      {"Parar button", [this] { Button("Parar")->click(); }, true, false},
      {"tray Parar", [this] { MenuItem("Parar")->trigger(); }, true, false},
      {"tray Fechar", [this] { MenuItem("Fechar")->trigger(); }, true, true},
      {"termination signal", [this] { win->Terminate(); }, true, true},
      {"logoff", [this] { EXPECT_FALSE(win->QueryEndSession()); }, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(FreshRecording(2));
    now = At(8, 15, 40);
    bool recordingWhenAsked = false;
    hook = [&] {
      c.request();
      recordingWhenAsked = Session().IsRecording();
    };
    const int exit = RunLoop(win.get(), [this] { Session().TimerRecordTimer(); });
    EXPECT_FALSE(hook);  // the request came inside the rotation
    EXPECT_TRUE(recordingWhenAsked);
    EXPECT_EQ(exit, c.quits ? 0 : 99);
    EXPECT_EQ(Session().IsRecording(), !c.stops);
    Session().WaitFileWork();
    const Names expected = c.stops ? Names{"0812261530a0812261540.mp3", "0812261540a0812261540.mp3"}
                                   : Names{"0812261530a0812261540.mp3", "0812261540.mp3"};
    for (int n = 1; n <= 2; ++n) EXPECT_EQ(Files(n), expected) << "station " << n;
    Record(1);  // nothing starts again
    for (int n = 1; n <= 2; ++n) EXPECT_EQ(Files(n), expected) << "station " << n;
    EXPECT_EQ(messages, c.stops ? Names{} : Names{kRefuseLogoff});
    if (!c.stops) Session().BStopClick();
  }
  SetBladeLoader(nullptr);
}

// Without a screen (a service) a fault goes to the journal; on a window it also shows in the
// status line, with its time.
TEST_F(WindowTest, FaultsShowInTheStatusLine) {
  WriteIni(1, "N");
  Start();
  EXPECT_TRUE(win->LStatus()->text().isEmpty());
  win->ShowFault("Emissora 1: disco cheio");
  EXPECT_EQ(win->LStatus()->text(), "15:30:00 Emissora 1: disco cheio");
  const QImage image = win->grab().toImage();
  EXPECT_TRUE(image.save(TEST_OUTPUT_DIR "/window_fault.png"));
}

TEST_F(WindowTest, LogoffRefusedWhileRecording) {
  WriteIni(1, "N");
  Start();
  EXPECT_TRUE(win->QueryEndSession());  // idle: the logoff may proceed
  EXPECT_FALSE(Session().IsRecording());

  ASSERT_NO_FATAL_FAILURE(StartRecording());
  win->BOcultarClick();
  QCoreApplication::processEvents();
  ASSERT_TRUE(win->isMinimized());
  messages.clear();

  EXPECT_FALSE(win->QueryEndSession());
  QCoreApplication::processEvents();
  EXPECT_TRUE(win->isVisible());
  EXPECT_FALSE(win->isMinimized());
  EXPECT_EQ(messages, Names{kRefuseLogoff});
  EXPECT_TRUE(Session().IsRecording());
  Session().BStopClick();
}

// Disk space -----------------------------------------------------------------------------------

TEST_F(WindowTest, DiskSpaceFiguresFollowTheCurrentStation) {
  constexpr uint64_t MB = 1024 * 1024;
  struct Answer {
    bool ok;
    uint64_t total, free;
  };
  struct Case {
    const char* name;
    Answer answer;
    const char* livre;
    const char* ocupado;
    int percent;  // negative: no figure
  };
  const Case cases[] = {
      {"100 GiB with a quarter free",
       {true, 107374182400ull, 26843545600ull},
       "25600 MB",
       "76800 MB",
       75},
      {"unreadable folder", {false, 0, 0}, "0 MB", "0 MB", -1},
      {"zero-size file system", {true, 0, 0}, "0 MB", "0 MB", -1},
      {"whole megabytes only",
       {true, 10 * MB + 512 * 1024, 2 * MB + 1023 * 1024},
       "2 MB",
       "8 MB",
       80},
      {"rounded to the nearest", {true, 3 * MB, 1 * MB}, "1 MB", "2 MB", 67},
      {"rounded down below a half", {true, 3 * MB, 2 * MB}, "2 MB", "1 MB", 33},
      {"full", {true, 100 * MB, 0}, "0 MB", "100 MB", 100},
      {"empty", {true, 100 * MB, 100 * MB}, "100 MB", "0 MB", 0},
  };
  WriteIni(3, "N");
  std::map<std::string, Answer> answers;
  std::vector<std::string> asked;
  env.diskQuery = [&](const std::string& folder, DiskSpace& out) {
    asked.push_back(folder);
    const auto it = answers.find(folder);
    if (it == answers.end() || !it->second.ok) return false;
    out.totalBytes = it->second.total;
    out.freeBytes = it->second.free;
    return true;
  };
  Start();
  EXPECT_EQ(win->LLivre()->text(), "0 MB");  // nothing answered yet

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answers.clear();
    answers[Folder(3).string()] = c.answer;
    answers[Folder(1).string()] = {true, 100 * MB, 50 * MB};

    win->SpinRadioChange(2);
    asked.clear();
    Session().RefreshDiskSpace();
    EXPECT_EQ(asked, Names{Folder(3).string()});
    EXPECT_EQ(win->LLivre()->text(), c.livre);
    EXPECT_EQ(win->LOcupado()->text(), c.ocupado);
    if (c.percent >= 0)
      EXPECT_EQ(win->ProgressEspaco()->progress(), c.percent);
    else
      EXPECT_LT(win->ProgressEspaco()->progress(), 0);

    // Back on station 1, showing the window refreshes the figures for that station.
    win->SpinRadioChange(0);
    win->hide();
    win->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(win->LLivre()->text(), "50 MB");
    EXPECT_EQ(win->ProgressEspaco()->progress(), 50);
  }
}

TEST_F(WindowTest, MissingFolderReadsZeroThroughTheRealQuery) {
  WriteIni(2, "N");
  fs::remove_all(Folder(2));
  Start();
  win->SpinRadioChange(1);
  Session().RefreshDiskSpace();
  EXPECT_EQ(win->LLivre()->text(), "0 MB");
  EXPECT_EQ(win->LOcupado()->text(), "0 MB");
  EXPECT_LT(win->ProgressEspaco()->progress(), 0);

  // An existing folder reads a real file system.
  win->SpinRadioChange(0);
  Session().RefreshDiskSpace();
  EXPECT_NE(win->LLivre()->text(), "0 MB");
  EXPECT_GE(win->ProgressEspaco()->progress(), 0);
  EXPECT_LE(win->ProgressEspaco()->progress(), 100);
}

// Tray icon ------------------------------------------------------------------------------------

TEST_F(WindowTest, IconAnimationCyclesEightFramesAndKeepsItsCountAcrossRecordings) {
  WriteIni(1, "N");
  Start();
  const QImage idle = IconImage(win->CurrentIcon());
  ASSERT_FALSE(idle.isNull());
  EXPECT_EQ(win->AnimationFrame(), 0);
  EXPECT_EQ(win->TimerIcone().interval(), 300);
  EXPECT_FALSE(win->TimerIcone().isActive());

  std::vector<int> frames;
  std::vector<QImage> images;
  for (int k = 0; k < 16; ++k) {
    win->TimerIconeTimer();
    frames.push_back(win->AnimationFrame());
    images.push_back(IconImage(win->CurrentIcon()));
  }
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8}));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(images[k], images[k + 8]) << "frame " << k + 1;
  EXPECT_EQ(images[4], idle);  // Image5 is the idle icon
  EXPECT_NE(images[0], images[4]);
  int differentFromNext = 0;
  for (int k = 0; k < 8; ++k) differentFromNext += images[k] != images[(k + 1) % 8];
  EXPECT_GE(differentFromNext, 6);  // it moves from frame to frame

  // Recording animates; the stop shows the idle icon and keeps the count.
  for (int k = 0; k < 2; ++k) win->TimerIconeTimer();  // frame 2
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  EXPECT_TRUE(win->TimerIcone().isActive());
  win->TimerIcone().stop();  // the test ticks by hand from here
  win->TimerIconeTimer();
  ASSERT_EQ(win->AnimationFrame(), 3);
  Session().BStopClick();
  ASSERT_TRUE(PumpUntil([this] { return win->GravarVisible(); }));
  EXPECT_FALSE(win->TimerIcone().isActive());
  EXPECT_EQ(IconImage(win->CurrentIcon()), idle);
  EXPECT_EQ(win->AnimationFrame(), 3);

  now = At(8, 15, 35);
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  win->TimerIcone().stop();
  EXPECT_EQ(win->AnimationFrame(), 3);
  win->TimerIconeTimer();
  EXPECT_EQ(win->AnimationFrame(), 4);
  EXPECT_EQ(IconImage(win->CurrentIcon()), images[3]);
  Session().BStopClick();
}

// Displays -------------------------------------------------------------------------------------

// Pixels of a region that are mostly of one hue: green (lime), for instance.
int Greenish(const QImage& image, const QRect& r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      n += c.green() > 150 && c.red() < 100 && c.blue() < 100;
    }
  return n;
}

TEST_F(WindowTest, DisplaysShowStationOnesSignalPanelByPanel) {
  WriteIni(2, "N");
  Start();
  // The six slots of station 1's connector hold the window's displays; station 2 has none.
  TMMConnector* c1 = Session().Station(0).Connector;
  EXPECT_EQ(c1->Level1(), &win->MMLevel1()->Level());
  EXPECT_EQ(c1->Level2(), &win->MMLevel2()->Level());
  EXPECT_EQ(c1->Meter1(), &win->MMMeter1()->Meter());
  EXPECT_EQ(c1->Meter2(), &win->MMMeter2()->Meter());
  EXPECT_EQ(c1->Oscope1(), &win->MMOscope2()->Oscope());
  EXPECT_EQ(c1->Spectrum1(), &win->MMSpectrum2()->Spectrum());
  EXPECT_EQ(Session().Station(1).Connector->Level1(), nullptr);
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  auto watch = [&] {
    Record(1);
    PumpUntil([] { return false; }, 120);
    return win->grab().toImage();
  };
  auto inPanel = [&](QWidget* w) { return QRect(w->mapTo(win.get(), QPoint(0, 0)), w->size()); };

  // Level bars in front: the -6 dB tone lights 105 of 127 spots; the hidden displays get
  // nothing.
  QImage image = watch();
  EXPECT_TRUE(image.save(TEST_OUTPUT_DIR "/window_level.png"));
  EXPECT_NEAR(win->MMLevel1()->Level().LitSpots(), 105, 1);
  EXPECT_NEAR(win->MMLevel2()->Level().LitSpots(), 105, 1);
  EXPECT_GT(Greenish(image, inPanel(win->MMLevel1())), 500);
  EXPECT_EQ(win->MMMeter1()->Meter().NeedleValue(), 0);

  // "Display" sends the level bars back: the needles.
  win->BEqualizador()->click();
  EXPECT_EQ(win->DisplayPanels().back()->objectName(), "PVU");
  image = watch();
  EXPECT_TRUE(image.save(TEST_OUTPUT_DIR "/window_vu.png"));
  EXPECT_NEAR(win->MMMeter1()->Meter().NeedleValue(), 28835, 300);
  EXPECT_NEAR(win->MMMeter2()->Meter().NeedleValue(), 28835, 300);
  EXPECT_FALSE(win->MMLevel1()->isVisible());

  // The spectrum: the 1 kHz tone lies in bin 1 of the 64-point transform, and leaks into bin
  // 2 (it is not a whole number of periods of the frame) about as strongly.
  win->BEqualizador()->click();
  EXPECT_EQ(win->DisplayPanels().back()->objectName(), "PSpectrum");
  image = watch();
  EXPECT_TRUE(image.save(TEST_OUTPUT_DIR "/window_spectrum.png"));
  const TMMSpectrum& sp = win->MMSpectrum2()->Spectrum();
  EXPECT_GT(sp.FrameCount(), 0u);
  EXPECT_GE(sp.MaxBin(), 1);
  EXPECT_LE(sp.MaxBin(), 2);
  EXPECT_GT(Greenish(image, inPanel(win->MMSpectrum2())), 300);

  // The oscilloscope.
  win->BEqualizador()->click();
  EXPECT_EQ(win->DisplayPanels().back()->objectName(), "POsciloscopio");
  image = watch();
  EXPECT_TRUE(image.save(TEST_OUTPUT_DIR "/window_scope.png"));
  EXPECT_GT(Greenish(image, inPanel(win->MMOscope2())), 300);

  // A stop resets every display of the connector.
  Session().BStopClick();
  EXPECT_EQ(win->MMLevel1()->Level().LitSpots(), 0);
  EXPECT_EQ(win->MMMeter1()->Meter().NeedleValue(), 0);
  EXPECT_TRUE(messages.empty()) << messages[0];
}

// Station switch -------------------------------------------------------------------------------

TEST_F(WindowTest, DisplaySelectorAndStyleClicksCycle) {
  WriteIni(1, "N");
  Start();
  // From the start stack each click on "Display" brings the next panel to the front.
  const char* fronts[] = {"PVU", "PSpectrum", "POsciloscopio", "PLevel", "PVU"};
  for (const char* front : fronts) {
    SCOPED_TRACE(front);
    win->BEqualizador()->click();
    EXPECT_EQ(win->DisplayPanels().back()->objectName(), front);
    for (QWidget* p : win->DisplayPanels()) EXPECT_EQ(p->isVisible(), p->objectName() == front);
  }

  // Clicks on the spectrum and on the oscilloscope step their kinds, the first one to dots,
  // round and back.
  const TMMSpectrumKind spectra[] = {skDots, skLines, skPeaks, skScroll, skVLines, skBars, skDots};
  EXPECT_EQ(win->MMSpectrum2()->Spectrum().Kind(), skBars);
  while (win->DisplayPanels().back()->objectName() != "PSpectrum") win->BEqualizador()->click();
  for (TMMSpectrumKind kind : spectra) {
    Click(win->MMSpectrum2());
    EXPECT_EQ(win->MMSpectrum2()->Spectrum().Kind(), kind);
  }
  const TMMOscopeKind kinds[] = {okDots, okMirLines, okSpikes, okVertLines, okConLines, okDots};
  EXPECT_EQ(win->MMOscope2()->Oscope().Kind(), okConLines);
  while (win->DisplayPanels().back()->objectName() != "POsciloscopio") win->BEqualizador()->click();
  for (TMMOscopeKind kind : kinds) {
    Click(win->MMOscope2());
    EXPECT_EQ(win->MMOscope2()->Oscope().Kind(), kind);
  }
}

TEST_F(WindowTest, SpinMovesTheDisplaysToTheWatchedStationsConnector) {
  // Station 1 hears silence, station 3 a -6 dB tone.
  std::vector<SimDeviceConfig> devices(8);
  for (size_t i = 0; i < devices.size(); ++i) {
    devices[i].signal = SimSignal::Tone;
    devices[i].toneAmplitude = i == 2 ? 0.5 : 0.0;
  }
  sim = std::make_unique<SimCaptureBackend>(devices);
  WriteIni(3, "N", {"Um", "Dois", "Tres"});
  Start();
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  Record(1);
  EXPECT_EQ(win->MMLevel1()->Level().LitSpots(), 0);

  win->SpinRadio()->setValue(2);
  EXPECT_EQ(Session().CurrentStation(), 2);
  EXPECT_EQ(win->LedLabelRadios()->text(), "Tres");
  TMMConnector* c1 = Session().Station(0).Connector;
  TMMConnector* c3 = Session().Station(2).Connector;
  for (TMMDisplay* d : {c1->Level1(), c1->Level2(), c1->Meter1(), c1->Meter2(),
                        static_cast<TMMDisplay*>(c1->Oscope1()), c1->Spectrum1()})
    EXPECT_EQ(d, nullptr);
  EXPECT_EQ(c3->Level1(), &win->MMLevel1()->Level());
  EXPECT_EQ(c3->Level2(), &win->MMLevel2()->Level());
  EXPECT_EQ(c3->Meter1(), &win->MMMeter1()->Meter());
  EXPECT_EQ(c3->Meter2(), &win->MMMeter2()->Meter());
  EXPECT_EQ(c3->Oscope1(), &win->MMOscope2()->Oscope());
  EXPECT_EQ(c3->Spectrum1(), &win->MMSpectrum2()->Spectrum());

  // The bars now show station 3's tone; every station records on.
  Record(1);
  PumpUntil([] { return false; }, 120);
  EXPECT_NEAR(win->MMLevel1()->Level().LitSpots(), 105, 1);
  EXPECT_TRUE(AllStationsRecording());

  // And back: silence again.
  win->SpinRadio()->setValue(0);
  EXPECT_EQ(c3->Level1(), nullptr);
  EXPECT_EQ(c1->Level1(), &win->MMLevel1()->Level());
  for (int s = 0; s < 5 && win->MMLevel1()->Level().LitSpots() > 0; ++s) {
    Record(1);
    PumpUntil([] { return false; }, 120);
  }
  EXPECT_EQ(win->MMLevel1()->Level().LitSpots(), 0);
  EXPECT_TRUE(AllStationsRecording());
  Session().BStopClick();
  EXPECT_TRUE(messages.empty()) << messages[0];
}

// The mixer components bound to station 1's card: its recording input among the recording
// destination's sources, the selector, the levels and the mute; the source line from
// "Controle". Without a mixer they stay unresolved, and nothing is said.
TEST_F(WindowTest, MixerComponentsFollowStationOnesCard) {
  auto element = [](const std::string& name, bool plays, unsigned channels) {
    MixerElement e;
    e.name = name;
    e.hasPlaybackVolume = e.hasPlaybackSwitch = plays;
    e.hasCaptureVolume = e.hasCaptureSwitch = true;
    e.captureSwitchExclusive = true;
    e.captureGroup = 1;
    e.playbackMax = e.captureMax = 31;
    if (plays) e.playbackVolume.assign(channels, 10), e.playbackSwitch.assign(channels, true);
    e.captureVolume.assign(channels, 10);
    e.captureSwitch.assign(channels, false);
    return e;
  };
  SimMixerConfig card;
  card.name = "Card 1";
  card.elements = {element("Line", true, 2), element("Mic", true, 1)};
  SimMixerBackend mixers({card, card});
  BackendDeviceLayer layer(*sim, mixers);
  SetDeviceLayer(&layer);
  struct Case {
    const char* controle;
    TMMComponentType input;
    int channels;
  };
  for (const Case& c : {Case{"0", ctSrcLine, 2}, Case{"1", ctSrcMicrophone, 1}}) {
    SCOPED_TRACE(c.controle);
    win.reset();
    WriteIni(2, "N");
    EditIni("[Controle]\nR1=0", std::string("[Controle]\nR1=") + c.controle);
    Start();
    EXPECT_TRUE(win->PlacaDevice()->Active());
    EXPECT_EQ(win->PlacaDevice()->DeviceId(), 0);
    EXPECT_EQ(win->AudioGravacao()->ComponentType(), ctDstWaveIn);
    EXPECT_NE(win->AudioGravacao()->LineId(), badLineId);
    EXPECT_EQ(win->AudioSaida()->ComponentType(), ctDstSpeakers);
    EXPECT_NE(win->AudioSaida()->LineId(), badLineId);
    for (TMMAudioLine* l : {win->AudioLineInRec(), win->AudioLineIn()}) {
      EXPECT_EQ(l->ComponentType(), c.input);
      EXPECT_NE(l->LineId(), badLineId);
    }
    EXPECT_NE(win->AudioLineInRec()->LineId(), win->AudioLineIn()->LineId());
    EXPECT_TRUE(win->MixerLineInRec()->IsValid());
    EXPECT_EQ(win->MixerLineInRec()->ItemOfLine(win->AudioLineInRec()), c.channels == 2 ? 0 : 1);
    EXPECT_TRUE(win->ControleVolumeRec()->IsValid());
    EXPECT_EQ(win->ControleVolumeRec()->ChannelCount(), c.channels);
    EXPECT_TRUE(win->MixerLineIn()->IsValid());
    EXPECT_TRUE(win->ControlVolume()->IsValid());
    EXPECT_TRUE(messages.empty()) << messages[0];
  }
  win.reset();
  SetDeviceLayer(nullptr);
  WriteIni(1, "N");
  Start();
  EXPECT_FALSE(win->PlacaDevice()->Active());
  EXPECT_FALSE(win->ControleVolumeRec()->IsValid());
  EXPECT_FALSE(win->MixerLineIn()->IsValid());
  EXPECT_TRUE(messages.empty()) << messages[0];
}

// Settings panel -------------------------------------------------------------------------------

TEST_F(WindowTest, SettingsPanelOpensOnTheWatchedStationAndShowsTheLoadedValues) {
  SimMixerConfig card;
  SimMixerBackend mixers({card, card, card});
  BackendDeviceLayer layer(*sim, mixers);
  SetDeviceLayer(&layer);
  WriteIni(3, "N", {"Um", "Dois", "Tres"});
  Start();
  win->SpinRadioChange(2);
  win->BConfigClick();
  TSettingsPanel& p = *win->PConfig();
  EXPECT_TRUE(p.isVisible());
  EXPECT_FALSE(win->LTempo()->isVisible());
  EXPECT_FALSE(win->DisplayPanels().back()->isVisible());
  EXPECT_EQ(p.CBFormato->currentIndex(), 8);
  EXPECT_EQ(p.CBFormato->count(), 14);
  EXPECT_EQ(p.CBFormato->itemText(0), "MP3:  32 kbps");
  EXPECT_FALSE(p.CBGravar->isChecked());
  EXPECT_EQ(p.DiasGravar->text(), "30");
  EXPECT_EQ(p.TempoGravar->text(), "10");
  EXPECT_EQ(p.EdEmissoras->text(), "3");
  EXPECT_EQ(p.CBEmissora->currentIndex(), 2);
  EXPECT_EQ(p.CBEmissora->currentText(), "Tres");
  EXPECT_EQ(p.EdLocal->text().toStdString(), Folder(3).string());
  EXPECT_EQ(p.CBCanal->currentIndex(), 2);
  EXPECT_EQ(p.CBControle->currentIndex(), 0);
  EXPECT_FALSE(p.CBCopia->isChecked());
  EXPECT_FALSE(p.EdLocalCopia->isEnabled());
  EXPECT_EQ(win->PlacaDevice()->DeviceId(), 2);  // station 3's card
  // Another station in the list: its fields and its card.
  p.CBEmissora->setCurrentIndex(1);
  win->CBEmissoraSelect(1);
  EXPECT_EQ(Session().CurrentStation(), 1);
  EXPECT_EQ(p.EdLocal->text().toStdString(), Folder(2).string());
  EXPECT_EQ(win->PlacaDevice()->DeviceId(), 1);
  // The displays stay on the station they watch.
  EXPECT_EQ(Session().WatchedStation(), 2);
  // The backup box enables its folder; the tips show and hide; "Voltar" brings the status
  // area back.
  p.CBCopia->click();
  EXPECT_TRUE(p.EdLocalCopia->isEnabled());
  win->SpeedButton1Click();
  EXPECT_TRUE(win->PFormatos()->isVisible());
  EXPECT_EQ(win->PFormatos()->List->count(), 14);
  EXPECT_EQ(win->PFormatos()->List->item(8)->text(), "  MP3: 128 Kbps  -  40 GB / Mês");
  win->BVoltarFormatosClick();
  EXPECT_FALSE(win->PFormatos()->isVisible());
  win->BVoltarConfigClick();
  EXPECT_FALSE(p.isVisible());
  EXPECT_TRUE(win->LTempo()->isVisible());
  EXPECT_TRUE(win->DisplayPanels().back()->isVisible());
  EXPECT_FALSE(win->DisplayPanels().front()->isVisible());
  EXPECT_TRUE(messages.empty()) << messages[0];
  win.reset();
  SetDeviceLayer(nullptr);
}

TEST_F(WindowTest, SettingsPanelRenamesSavesAndAppliesTheStation) {
  WriteIni(2, "N", {"Um", "Dois"});
  Start();
  win->BConfigClick();
  TSettingsPanel& p = *win->PConfig();
  p.CBEmissora->setCurrentIndex(1);
  win->CBEmissoraSelect(1);
  win->AskStationName = [](const std::string& proposal) {
    EXPECT_EQ(proposal, "Dois");
    return std::string("Rádio Nova");
  };
  win->SpeedButton2Click();
  EXPECT_EQ(p.CBEmissora->itemText(1), "Radio Nova");
  EXPECT_EQ(PrivateProfile((root / "cfg.ini").string()).ReadString("Emissoras", "R2"), "Dois");
  const fs::path folder = root / "novo";
  fs::create_directories(folder);
  p.EdLocal->setText(QString::fromStdString(folder.string()));
  p.TempoGravar->setText("15");
  p.CBCanal->setCurrentIndex(0);
  Button("Configurações");  // the button exists
  p.BGravaConfig->click();
  EXPECT_TRUE(messages.empty()) << messages[0];
  PrivateProfile ini((root / "cfg.ini").string());
  EXPECT_EQ(ini.ReadString("Emissoras", "R2"), "Radio Nova");
  EXPECT_EQ(ini.ReadString("Local", "R2"), folder.string());
  EXPECT_EQ(ini.ReadString("Geral", "TempoRec"), "15");
  EXPECT_EQ(ini.ReadString("Canal", "R2"), "0");
  EXPECT_EQ(ini.ReadString("Placa", "R2"), "1");  // no card in the box: the station's kept
  EXPECT_EQ(ini.ReadString("Local", "R1"), Folder(1).string());
  EXPECT_EQ(Session().Station(1).Local, folder.string());     // applied: not recording
  EXPECT_EQ(Session().TimerRecord().interval(), 10 * 60000);  // at the next start

  // A new station count: the restart message and nothing applied.
  p.EdEmissoras->setText("3");
  p.EdLocal->setText(QString::fromStdString(Folder(2).string()));
  p.BGravaConfig->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Reinicie o Aplicativo para que as alterações tenham efeito");
  EXPECT_EQ(Session().Station(1).Local, folder.string());
  EXPECT_EQ(Session().StationCount(), 2);
}

TEST_F(WindowTest, SettingsGuardsWhileStationOneRecords) {
  WriteIni(2, "N");
  Start();
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  win->BConfigClick();
  TSettingsPanel& p = *win->PConfig();
  bool browsed = false;
  win->AskFolder = [&](const std::string&) {
    browsed = true;
    return std::string("/tmp");
  };
  p.BLocal->click();
  p.UpDown2->Up()->click();
  p.UpEmissoras->Up()->click();
  EXPECT_FALSE(browsed);
  EXPECT_EQ(p.TempoGravar->text(), "10");
  EXPECT_EQ(p.EdEmissoras->text(), "2");
  ASSERT_EQ(messages.size(), 3u);
  for (const std::string& m : messages)
    EXPECT_EQ(m, "É necessário parar a gravação para efetuar alterações!");

  // Saved while recording: the file changes, the running station takes only the backup.
  messages.clear();
  p.CBEmissora->setCurrentIndex(1);
  win->CBEmissoraSelect(1);
  const fs::path copy = root / "copia";
  fs::create_directories(copy);
  p.CBCopia->click();
  p.EdLocalCopia->setText(QString::fromStdString(copy.string()));
  p.CBCanal->setCurrentIndex(0);
  p.BGravaConfig->click();
  EXPECT_TRUE(messages.empty()) << messages[0];
  EXPECT_EQ(Session().Station(1).Canal, "2");
  EXPECT_EQ(Session().Station(1).Copia, "S");
  EXPECT_EQ(Session().Station(1).LocalCopia, copy.string());
  EXPECT_EQ(PrivateProfile((root / "cfg.ini").string()).ReadString("Canal", "R2"), "0");
  EXPECT_TRUE(AllStationsRecording());
  Session().BStopClick();
  // Idle again: the arrows work.
  messages.clear();
  p.UpDown2->Up()->click();
  EXPECT_EQ(p.TempoGravar->text(), "11");
  EXPECT_TRUE(messages.empty());
}

// Every control of the panel changed and saved; after a restart the panel shows each value
// again and the stations record as configured.
TEST_F(WindowTest, SettingsRoundTripThroughARestart) {
  SimMixerConfig card;
  SimMixerBackend mixers({card, card});
  BackendDeviceLayer layer(*sim, mixers);
  SetDeviceLayer(&layer);
  WriteIni(2, "N", {"Um", "Dois"});
  Start();
  win->BConfigClick();
  TSettingsPanel& p = *win->PConfig();
  p.CBEmissora->setCurrentIndex(1);
  win->CBEmissoraSelect(1);
  const fs::path folder = root / "novo", copy = root / "copia";
  fs::create_directories(folder);
  fs::create_directories(copy);
  p.CBFormato->setCurrentIndex(10);
  p.DiasGravar->setText("45");
  p.CBGravar->setChecked(true);
  p.TempoGravar->setText("20");
  win->AskStationName = [](const std::string&) { return std::string("Rádio Nova"); };
  win->SpeedButton2Click();
  p.ComboPlaca->Choose(0);
  p.EdLocal->setText(QString::fromStdString(folder.string()));
  p.CBControle->setCurrentIndex(1);
  p.CBCanal->setCurrentIndex(1);
  p.CBCopia->click();
  p.EdLocalCopia->setText(QString::fromStdString(copy.string()));
  p.BGravaConfig->click();
  EXPECT_TRUE(messages.empty()) << messages[0];

  win.reset();
  Start();
  win->BConfigClick();
  TSettingsPanel& q = *win->PConfig();
  q.CBEmissora->setCurrentIndex(1);
  win->CBEmissoraSelect(1);
  EXPECT_EQ(q.CBFormato->currentIndex(), 10);
  EXPECT_EQ(q.DiasGravar->text(), "45");
  EXPECT_TRUE(q.CBGravar->isChecked());
  EXPECT_EQ(q.TempoGravar->text(), "20");
  EXPECT_EQ(q.CBEmissora->currentText(), "Radio Nova");
  EXPECT_EQ(q.ComboPlaca->currentIndex(), 0);
  EXPECT_EQ(q.EdLocal->text().toStdString(), folder.string());
  EXPECT_EQ(q.CBControle->currentIndex(), 1);
  EXPECT_EQ(q.CBCanal->currentIndex(), 1);
  EXPECT_TRUE(q.CBCopia->isChecked());
  EXPECT_EQ(q.EdLocalCopia->text().toStdString(), copy.string());
  EXPECT_EQ(Session().TimerRecord().interval(), 20 * 60000);
  // The station records from card 0 into the new folder.
  win->BVoltarConfigClick();
  ASSERT_NO_FATAL_FAILURE(StartRecording());
  EXPECT_EQ(Session().Station(1).WaveIn->GetDeviceID(), 0);
  Record(1);
  EXPECT_FALSE(fs::is_empty(folder));
  Session().BStopClick();
  EXPECT_TRUE(messages.empty()) << messages[0];
  win.reset();
  SetDeviceLayer(nullptr);
}

TEST_F(WindowTest, SettingsPanelPictures) {
  WriteIni(2, "N", {"Um", "Dois"});
  Start();
  win->BConfigClick();
  QCoreApplication::processEvents();
  QImage top = win->grab().toImage();
  EXPECT_TRUE(top.save(TEST_OUTPUT_DIR "/window_settings_top.png"));
  QScrollBar* bar = win->PConfig()->Scroll->verticalScrollBar();
  bar->setValue(bar->maximum());
  QCoreApplication::processEvents();
  QImage bottom = win->grab().toImage();
  EXPECT_TRUE(bottom.save(TEST_OUTPUT_DIR "/window_settings_bottom.png"));
  EXPECT_NE(top, bottom);
  win->SpeedButton1Click();
  QCoreApplication::processEvents();
  EXPECT_TRUE(win->grab().toImage().save(TEST_OUTPUT_DIR "/window_format_tips.png"));
  EXPECT_EQ(top.size(), QSize(448, 398) * top.devicePixelRatio());
}

// The panel's knobs on a real ALSA mixer: the `pulse` control of a private sound server,
// whose "Capture" is the station's input whichever line "Controle" names; it has no monitor
// path, so "Retorno" and "Desativar retorno" stay off rather than touch the recording.
TEST_F(WindowTest, SettingsKnobsOnTheSoundServersMixer) {
  pulse_test::PulseDevices real;
  pulse_test::PulseDaemon& pulse = real.pulse;
  ASSERT_EQ(pulse.Error(), "");
  // The window goes before the devices it records from, however the test ends.
  const std::shared_ptr<void> closeFirst(nullptr, [this](void*) { win.reset(); });
  const int id = real.PulsePcm();
  ASSERT_GE(id, 0);
  auto sourceVolume = [&] {
    return pulse_test::PactlVolume(pulse.Pactl("get-source-volume @DEFAULT_SOURCE@").second);
  };
  WriteIni(1, "N");
  EditIni("[Placa]\nR1=0", "[Placa]\nR1=" + std::to_string(id));
  Start(&real.devices);

  win->BConfigClick();
  TSettingsPanel& p = *win->PConfig();
  EXPECT_EQ(p.ComboPlaca->currentIndex(), id);
  ASSERT_TRUE(p.VolumeRec->isEnabled());
  EXPECT_FALSE(p.VolumePlay->isEnabled());
  EXPECT_FALSE(p.CBLineIn->isEnabled());
  const TMMControlInfo& info = win->ControleVolumeRec()->ControlInfo();

  // "Gravação" turned: the sound server records at that level.
  const int32_t position = p.VolumeRec->Knob().Max() / 3;
  p.VolumeRec->SetValue(position);
  EXPECT_EQ(sourceVolume(), WheelMixerValue(position, info.MinValue, p.VolumeRec->Step()));

  // Another program changes the level: the knob follows.
  ASSERT_EQ(pulse.Pactl("set-source-volume @DEFAULT_SOURCE@ 80%").first, 0);
  const int32_t expected =
      WheelPosition(static_cast<int32_t>(sourceVolume()), info.MinValue, p.VolumeRec->Step());
  EXPECT_TRUE(PumpUntil([&] { return p.VolumeRec->Value() == expected; }, 2000))
      << "knob at " << p.VolumeRec->Value() << ", expected " << expected;

  // "Microfone" saved and applied: the knob is still the recording level.
  p.CBControle->setCurrentIndex(1);
  p.BGravaConfig->click();
  EXPECT_EQ(win->AudioLineInRec()->ComponentType(), ctSrcMicrophone);
  ASSERT_TRUE(p.VolumeRec->isEnabled());
  p.VolumeRec->SetValue(position / 2);
  EXPECT_EQ(sourceVolume(), WheelMixerValue(position / 2, info.MinValue, p.VolumeRec->Step()));
  EXPECT_TRUE(messages.empty()) << messages[0];
}

TEST_F(WindowTest, SpinShowsTheWatchedStationsName) {
  // Station 3's name as cfg.ini stores it, in Windows-1252.
  WriteIni(4, "N",
           {"Radio Um", "",
            "R\xE1"
            "dio Tr\xEAs",
            "Quatro"});
  Start();
  EXPECT_EQ(win->LedLabelRadios()->text(), "Radio Um");
  ASSERT_NO_FATAL_FAILURE(StartRecording());

  struct Case {
    int value;
    const char* shown;  // UTF-8
  };
  const Case cases[] = {
      {2, "Rádio Três"}, {1, ""}, {3, "Quatro"}, {0, "Radio Um"}, {2, "Rádio Três"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    win->SpinRadioChange(c.value);
    EXPECT_EQ(Session().CurrentStation(), c.value);
    EXPECT_EQ(win->LedLabelRadios()->text(), QString::fromUtf8(c.shown));
    EXPECT_TRUE(AllStationsRecording());  // watching another station never touches recording
  }
  Session().BStopClick();
  EXPECT_TRUE(messages.empty()) << messages[0];
}

}  // namespace

int main(int argc, char** argv) {
  // Set here rather than by CTest, so that the program run by hand sees the same.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" TEST_ASOUNDRC, 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  // As the program: closing the window is not what ends it.
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
