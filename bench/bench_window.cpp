// CPU share of the recorder with its window shown while eight stations record in real time:
// the real window (drawn offscreen), the real ALSA capture and LAME, as the program has them,
// but started by hand so that the window stays on screen. Prints the share of one core of the
// whole process and of its user-interface thread with each display panel in front, and with
// the window hidden, in one run; the difference is what the displays cost.
//
// Usage: bench_window <cfg.ini> <seconds of each phase> (run by bench/bench_recorder.sh)

#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

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

  // Each panel in front in turn, alternating with the window hidden, several times over: the
  // same process and inputs throughout, so that a shown phase and the hidden phase next to it
  // differ only by what is drawn, and the machine's drift over the run cancels out.
  struct Panel {
    const char* name;
    const char* object;
    std::function<uint64_t()> paints;  // of the displays in front
  };
  const std::vector<Panel> panels = {
      {"level bars", "PLevel",
       [&] { return window.MMLevel1()->PaintCount() + window.MMLevel2()->PaintCount(); }},
      {"VU needles", "PVU",
       [&] { return window.MMMeter1()->PaintCount() + window.MMMeter2()->PaintCount(); }},
      {"spectrum", "PSpectrum", [&] { return window.MMSpectrum2()->PaintCount(); }},
      {"oscilloscope", "POsciloscopio", [&] { return window.MMOscope2()->PaintCount(); }},
  };
  const int rounds = 3;
  struct Phase {
    size_t panel;
    bool shown;
  };
  std::vector<Phase> phases;
  for (size_t p = 0; p < panels.size(); ++p)
    for (int r = 0; r < rounds; ++r) {
      phases.push_back({p, true});
      phases.push_back({p, false});
    }
  struct Sum {
    double shown = 0, hidden = 0, uiShown = 0, uiHidden = 0, pictures = 0;
  };
  std::vector<Sum> sums(panels.size());
  size_t index = 0;
  long long p0 = 0, u0 = 0;
  uint64_t paints0 = 0;
  auto t0 = std::chrono::steady_clock::now();
  std::function<void()> next;
  next = [&] {
    if (index == phases.size()) {
      for (size_t p = 0; p < panels.size(); ++p) {
        const Sum& s = sums[p];
        std::printf(
            "%-13s window shown %.1f %% of one core (user-interface thread %.1f %%), hidden %.1f "
            "%% (%.1f %%): the displays take %.1f %%, %.0f pictures/s\n",
            panels[p].name, s.shown / rounds, s.uiShown / rounds, s.hidden / rounds,
            s.uiHidden / rounds, (s.shown - s.hidden) / rounds, s.pictures / rounds);
      }
      window.Session().BStopClick();
      window.Session().WaitFileWork();
      QCoreApplication::quit();
      return;
    }
    const Phase ph = phases[index];
    if (ph.shown) {
      window.show();
      while (window.DisplayPanels().back()->objectName() != panels[ph.panel].object)
        window.SendPanelToBack(window.DisplayPanels().back());
    } else {
      window.hide();
    }
    // Measured once the phase has settled.
    QTimer::singleShot(1000, [&] {
      p0 = Ticks(self);
      u0 = Ticks(ui);
      paints0 = panels[phases[index].panel].paints();
      t0 = std::chrono::steady_clock::now();
      QTimer::singleShot(seconds * 1000, [&] {
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
        const double all = 100.0 * static_cast<double>(Ticks(self) - p0) / hz / wall;
        const double uiShare = 100.0 * static_cast<double>(Ticks(ui) - u0) / hz / wall;
        const Phase done = phases[index];
        Sum& s = sums[done.panel];
        (done.shown ? s.shown : s.hidden) += all;
        (done.shown ? s.uiShown : s.uiHidden) += uiShare;
        if (done.shown)
          s.pictures += static_cast<double>(panels[done.panel].paints() - paints0) / wall;
        ++index;
        next();
      });
    });
  };
  // Recording settles first.
  QTimer::singleShot(3000, [&] { next(); });
  return app.exec();
}
