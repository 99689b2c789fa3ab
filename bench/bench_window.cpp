// CPU share of the recorder with its window shown while eight stations record in real time:
// the real window (drawn offscreen), the real ALSA capture and LAME, as the program has them,
// but started by hand so that the window stays on screen. Prints the share of one core of the
// whole process and of its user-interface thread.
//
// Usage: bench_window <cfg.ini> <seconds> (run by bench/bench_recorder.sh)

#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/AlsaCapture.h"
#include "recorder/FrmGravarWindow.h"

namespace {

// utime + stime, in clock ticks, of /proc/self/stat or of one of its tasks.
long long Ticks(const std::string& statPath) {
  std::ifstream in(statPath);
  std::string line;
  std::getline(in, line);
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return utime + stime;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <cfg.ini> <seconds>\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  TFrmGravarWindow window(argv[1], &DefaultCaptureBackend());
  window.FormCreate();
  window.show();
  window.Session().BGravarClick();
  const int seconds = std::stoi(argv[2]);
  const std::string self = "/proc/self/stat";
  const std::string ui = "/proc/self/task/" + std::to_string(getpid()) + "/stat";
  long long p0 = 0, u0 = 0;
  auto t0 = std::chrono::steady_clock::now();
  // Measured once recording has settled.
  QTimer::singleShot(3000, [&] {
    p0 = Ticks(self);
    u0 = Ticks(ui);
    t0 = std::chrono::steady_clock::now();
    QTimer::singleShot(seconds * 1000, [&] {
      const double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
      std::printf("window shown: %.1f %% of one core (user-interface thread %.1f %%), %s\n",
                  100.0 * static_cast<double>(Ticks(self) - p0) / hz / wall,
                  100.0 * static_cast<double>(Ticks(ui) - u0) / hz / wall,
                  window.isVisible() && !window.isMinimized() ? "visible" : "NOT visible");
      window.Session().BStopClick();
      window.Session().WaitFileWork();
      QCoreApplication::quit();
    });
  });
  return app.exec();
}
