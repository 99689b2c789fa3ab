// The real FFT of one analysis frame: nanoseconds per transform for our split-radix plan and,
// in the same run, FFTW's single-precision real transform as the yardstick. Both copy a fresh
// frame in before each transform, as the analyser fills its frame from PCM each time.
//
//   ./build/bench/bench_fft

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstring>
#include <random>
#include <vector>

#include "AllocCounter.h"
#include "displays/MMFFT.h"

namespace {

std::vector<float> Signal(size_t n) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-1, 1);
  std::vector<float> x(n);
  for (float& v : x) v = dist(rng);
  return x;
}

int Bits(int64_t n) {
  int b = 0;
  while ((int64_t{1} << b) < n) ++b;
  return b;
}

void BM_DoRealFFT(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  FFTPlan* plan = CreateFFTPlan(Bits(state.range(0)));
  const std::vector<float> input = Signal(n);
  std::vector<float> frame(n);
  const unsigned long long before = g_allocations.load();
  for (auto _ : state) {
    std::memcpy(frame.data(), input.data(), n * sizeof(float));
    DoRealFFT(plan, frame.data());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.counters["allocs_per_transform"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
  FreeFFTPlan(plan);
}

// In place, planned with FFTW_MEASURE before timing starts.
void BM_FFTWRealFFT(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  auto* buf = static_cast<float*>(fftwf_malloc(sizeof(float) * (n + 2)));
  fftwf_plan p = fftwf_plan_dft_r2c_1d(static_cast<int>(n), buf,
                                       reinterpret_cast<fftwf_complex*>(buf), FFTW_MEASURE);
  const std::vector<float> input = Signal(n);
  for (auto _ : state) {
    std::memcpy(buf, input.data(), n * sizeof(float));
    fftwf_execute(p);
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
  fftwf_destroy_plan(p);
  fftwf_free(buf);
}

}  // namespace

// Ours and FFTW side by side for each size, so that both see the same machine load.
int main(int argc, char** argv) {
  for (int n : {64, 256, 1024, 4096}) {
    benchmark::RegisterBenchmark("BM_DoRealFFT", BM_DoRealFFT)->Arg(n);
    benchmark::RegisterBenchmark("BM_FFTWRealFFT", BM_FFTWRealFFT)->Arg(n);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
