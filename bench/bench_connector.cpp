// The user-interface thread's CPU share while one connector feeds four displays from a
// real-time device: capture through the window route, the copy, and the feeding loop.
// Plain timer program: prints the share of one core over a run of several seconds.

#include <time.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "audio/MMWavIn.h"
#include "displays/MMConect.h"
#include "platform/SimCapture.h"

namespace {

// Stands in for a display: touches every sample of its block, as a meter would.
class FakeDisplay : public TMMOscopeDisplay {
 public:
  explicit FakeDisplay(int32_t block) : block_(block) {}
  void SetPCMFormat(const WAVEFORMATEX*) override {}
  int32_t BlockBytes() const override { return block_; }
  void ProcessPCMBlock(const void* data) override {
    const auto* s = static_cast<const int16_t*>(data);
    int32_t peak = 0;
    for (int32_t i = 0; i < block_ / 2; ++i) peak = std::max(peak, std::abs(int32_t{s[i]}));
    peak_ = peak;
    ++blocks;
  }
  void ResetDisplay() override {}
  bool Scroll() const override { return false; }
  bool Accelerate() const override { return false; }
  int32_t FFTLength() const override { return 128; }
  TMMBits BitLength() const override { return b16Bit; }
  TMMMode Mode() const override { return mStereo; }
  long blocks = 0;

 private:
  int32_t block_;
  volatile int32_t peak_ = 0;
};

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QCoreApplication app(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;

  SimDeviceConfig dev;
  dev.signal = SimSignal::Tone;
  dev.paced = true;
  SimCaptureBackend sim({dev});
  TMMWaveIn w(nullptr, &sim);
  w.SetBufferSize(4096);
  w.SetMode(mStereo);
  w.SetBitLength(b16Bit);
  w.SetSampleRate(44100);
  TMMConnector c;
  w.SetOutput(&c);
  FakeDisplay level(396), meter(80), scope(512), spectrum(256);
  c.SetLevel1(&level);
  c.SetMeter1(&meter);
  c.SetOscope1(&scope);
  c.SetSpectrum1(&spectrum);

  w.Start();
  using clock = std::chrono::steady_clock;
  const double cpu0 = ThreadCpuSeconds();
  const auto t0 = clock::now();
  while (std::chrono::duration<double>(clock::now() - t0).count() < seconds)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  const double cpu = ThreadCpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(clock::now() - t0).count();
  w.Stop();
  w.Close();
  std::printf(
      "user-interface thread: %.2f s CPU in %.2f s = %.1f %% of one core\n"
      "blocks fed: level %ld, meter %ld, scope %ld, spectrum %ld (%.1f s of audio)\n",
      cpu, wall, 100.0 * cpu / wall, level.blocks, meter.blocks, scope.blocks, spectrum.blocks,
      wall);
  return 0;
}
