// The spectrum analyser's model: nanoseconds per ProcessPCMBlock for 16-bit stereo blocks of a
// tone with noise, smoothed with dmStepUp, on the linear and the dB scale, for the smallest
// block the recorder uses (64 points) and the largest (4096). The blocks are the whole cost
// of a frame on the user-interface thread before the widget paints it.
//
//   ./build/bench/bench_spectrum

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "AllocCounter.h"
#include "displays/MMSpectrum.h"

namespace {

constexpr int kBlocks = 16;

// kBlocks blocks of frames: a 5 kHz tone at half scale with noise of ±2000, left and right
// alike, each block going on where the last ended.
std::vector<int16_t> Signal(int frames) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> noise(-2000, 2000);
  std::vector<int16_t> x(static_cast<size_t>(frames) * kBlocks * 2);
  for (size_t i = 0; i < x.size() / 2; ++i) {
    const double v =
        16384 * std::sin(2 * std::numbers::pi * 5000 * static_cast<double>(i) / 44100) + noise(rng);
    x[2 * i] = x[2 * i + 1] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
  }
  return x;
}

// The recorder's analyser with the block size and amplitude scale of the case.
void BM_ProcessPCMBlock(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool logAmp = state.range(1) != 0;
  TMMSpectrum s;
  SharedTimer::Suspend(s.TimerClient());
  s.SetSize(273, 86);
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, 16, 2, 44100);
  s.SetPCMFormat(&f);
  s.SetFFTLength(n);
  s.SetWindow(fwRectangular);
  s.SetGain(sg12db);
  s.SetDecayMode(dmStepUp);
  s.SetDecay(7);
  s.SetVerticalScale(20);
  s.SetLogAmp(logAmp);
  const std::vector<int16_t> signal = Signal(n);
  const size_t step = static_cast<size_t>(n) * 2;
  size_t block = 0;
  const unsigned long long before = g_allocations.load();
  for (auto _ : state) {
    s.ProcessPCMBlock(signal.data() + block * step);
    block = block + 1 == kBlocks ? 0 : block + 1;
    benchmark::DoNotOptimize(s.MaxValue());
  }
  state.counters["allocs_per_block"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
  state.SetItemsProcessed(state.iterations() * n);
  state.SetLabel(logAmp ? "dB" : "linear");
  SharedTimer::Resume(s.TimerClient());
}

}  // namespace

BENCHMARK(BM_ProcessPCMBlock)
    ->ArgNames({"points", "dB"})
    ->Args({64, 0})
    ->Args({64, 1})
    ->Args({4096, 0})
    ->Args({4096, 1});

BENCHMARK_MAIN();
