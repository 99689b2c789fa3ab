// Delivering 4096-byte buffers down a chain of four stages: time per buffer and
// allocations per buffer (which must be zero).
//
//   ./build/bench/bench_chain

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstring>

#include "AllocCounter.h"
#include "audio/MMWavIn.h"
#include "platform/SimCapture.h"

namespace {

class PassStage : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
};

// Touches every sample, as a stage working in place would.
class SumStage : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
  bool PublishesOutput() const override { return false; }
  int64_t sum = 0;
  void BufferReady(PWaveHdr b) override {
    const auto* s = reinterpret_cast<const int16_t*>(b->lpData);
    for (uint32_t i = 0; i < b->dwBytesRecorded / 2; ++i) sum += s[i];
    TMMDSPComponent::BufferReady(b);
  }
};

void ReportAllocations(benchmark::State& state, unsigned long long before) {
  state.counters["allocs_per_buffer"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
  state.SetBytesProcessed(state.iterations() * 4096);
}

// The bare chain: head, two pass-through stages and a last stage reading the samples.
void BM_ChainDelivery(benchmark::State& state) {
  PassStage head, a, b;
  SumStage last;
  head.SetOutput(&a);
  a.SetOutput(&b);
  b.SetOutput(&last);
  WAVEFORMATEX f;
  BuildPCMFormat(&f, 16, 2, 44100);
  head.SetWaveFormat(&f);
  alignas(16) static char block[sizeof(TMMChainBuffer) + 4096];
  auto* buf = reinterpret_cast<TMMChainBuffer*>(block);
  std::memset(block, 0, sizeof(block));
  buf->lpData = block + sizeof(TMMChainBuffer);
  buf->dwBufferLength = buf->dwBytesRecorded = 4096;
  const unsigned long long before = g_allocations.load();
  for (auto _ : state) {
    head.BufferReady(buf);
    benchmark::DoNotOptimize(last.sum);
  }
  ReportAllocations(state, before);
}
BENCHMARK(BM_ChainDelivery);

// The whole path of a buffer: the device fills it, the wave input hands it down its chain
// of three stages and gives it back. The simulated device's signal generation is included.
void BM_WaveInDelivery(benchmark::State& state) {
  const auto mode = static_cast<TMMCBMode>(state.range(0));
  SimCaptureBackend sim({SimDeviceConfig{}});
  TMMWaveIn w(nullptr, &sim);
  w.SetBufferSize(4096);
  w.SetMode(mStereo);
  w.SetBitLength(b16Bit);
  w.SetSampleRate(44100);
  w.SetCallBackMode(mode);
  PassStage a, b;
  SumStage last;
  w.SetOutput(&a);
  a.SetOutput(&b);
  b.SetOutput(&last);
  w.Start();
  for (int i = 0; i < 20; ++i) {
    sim.Step(w.Handle(), 4096);
    QCoreApplication::processEvents();
  }
  const unsigned long long before = g_allocations.load();
  for (auto _ : state) {
    sim.Step(w.Handle(), 4096);
    if (mode == cmWindow) QCoreApplication::processEvents();
  }
  ReportAllocations(state, before);
  w.Close();
}
BENCHMARK(BM_WaveInDelivery)->Arg(cmWindow)->ArgName("cmWindow");
BENCHMARK(BM_WaveInDelivery)->Arg(cmCallback)->ArgName("cmCallback");

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
