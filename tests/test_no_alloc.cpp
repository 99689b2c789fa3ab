// Delivering buffers allocates nothing: not in the chain, not on the capture side, not on
// the way through the message window; and not in the recorder's own chains and buffer event.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AllocCounter.h"
#include "TestStages.h"
#include "audio/MMBlade.h"
#include "audio/MMWavIn.h"
#include "platform/SimCapture.h"
#include "recorder/U_Grava.h"

namespace {

class PassStage : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
};

TEST(NoAllocation, PerBufferOnEveryRoute) {
  for (TMMCBMode mode : {cmWindow, cmCallback}) {
    SCOPED_TRACE(mode);
    SimCaptureBackend sim({SimDeviceConfig{}});
    TMMWaveIn w(nullptr, &sim);
    w.SetBufferSize(4096);
    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    w.SetSampleRate(44100);
    w.SetCallBackMode(mode);
    PassStage a, b;
    SinkStage sink;
    sink.keepBytes = false;
    w.SetOutput(&a);
    a.SetOutput(&b);
    b.SetOutput(&sink);
    uint64_t hooked = 0;
    w.OnBufferReady = [&](TComponent*, PWaveHdr p) { hooked += p->dwBytesRecorded; };
    w.Start();
    auto run = [&](int buffers) {
      for (int i = 0; i < buffers; ++i) {
        sim.Step(w.Handle(), 4096);
        QCoreApplication::processEvents();
      }
    };
    run(50);  // warm-up: queues and pools reach their size
    const unsigned long long before = g_allocations.load();
    ASSERT_GT(before, 0u);  // the counter sees the allocations of setting up
    run(1000);
    const unsigned long long during = g_allocations.load() - before;
    w.Stop();
    w.Close();
    EXPECT_EQ(sink.total, 1050u * 4096);
    EXPECT_EQ(hooked, 1050u * 4096);
    EXPECT_EQ(during, 0u) << "allocations while delivering 1000 buffers";
  }
}

// An encoder library that allocates nothing itself: a small frame per chunk.
class StandInEncoder : public BladeEncoderApi {
 public:
  uint32_t beInitStream(const BE_CONFIG*, uint32_t* samples, uint32_t* bufferSize,
                        HBE_STREAM* stream) override {
    *samples = 2304;
    *bufferSize = 1024;
    *stream = 1;
    return BE_ERR_SUCCESSFUL;
  }
  uint32_t beEncodeChunk(HBE_STREAM, uint32_t, const int16_t* pcm, uint8_t* output,
                         uint32_t* written) override {
    output[0] = 0xFF;
    output[1] = static_cast<uint8_t>(pcm[0]);
    *written = 2;
    return BE_ERR_SUCCESSFUL;
  }
  uint32_t beDeinitStream(HBE_STREAM, uint8_t*, uint32_t* written) override {
    *written = 0;
    return BE_ERR_SUCCESSFUL;
  }
  uint32_t beCloseStream(HBE_STREAM) override { return BE_ERR_SUCCESSFUL; }
  void beVersion(BE_VERSION*) override {}
};

// The recorder's own chains (wave input, volume, connector, encoder writing its file) and its
// buffer event (running time, disk figures, the low-space check) over three stations: nothing
// allocated per buffer, with malloc counted as well as operator new.
TEST(NoAllocation, RecorderChainsAndBufferEvent) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(TEST_DATA_DIR) / ("noalloc_" + std::to_string(getpid()));
  fs::remove_all(root);
  std::string ini =
      "[Gravacao]\nFormato=8\n[Geral]\nAutoGravar=N\nMB Livres=1\nDiasRec=30\nTempoRec=10\n"
      "Prioridade=N\nEmissoras=3\n";
  for (int n = 1; n <= 3; ++n) {
    const std::string r = "R" + std::to_string(n);
    fs::create_directories(root / r);
    ini += "[Local]\n" + r + "=" + (root / r).string() + "\n[Placa]\n" + r + "=" +
           std::to_string(n - 1) + "\n[Canal]\n" + r + "=0\n";
  }
  std::ofstream(root / "cfg.ini") << ini;
  SimDeviceConfig dev;
  dev.signal = SimSignal::Tone;
  SimCaptureBackend sim(std::vector<SimDeviceConfig>(3, dev));
  RecorderEnvironment env;
  env.encoderLoader = [] { return std::make_unique<StandInEncoder>(); };
  WallTime now = std::chrono::system_clock::now();
  env.clock = [&now] { return now; };
  {
    TFrmGravar frm((root / "cfg.ini").string(), &sim, nullptr, env);
    frm.LoadConfiguration();
    frm.BGravarClick();
    ASSERT_TRUE(frm.IsRecording());
    // Buffers of every station, the clock running on: the running time's text changes every
    // second, the disk figures are queried afresh every quarter of a second.
    auto run = [&](int rounds) {
      for (int k = 0; k < rounds; ++k) {
        now += std::chrono::milliseconds(23);
        for (int i = 0; i < 3; ++i) sim.Step(frm.Station(i).WaveIn->Handle(), 4096);
        QCoreApplication::processEvents();
      }
    };
    run(100);  // warm-up
    // The flushing thread takes up the new files in its own time (a loaded machine delays
    // it): that is once per file, not per buffer.
    QDeadlineTimer deadline(10000);
    while (frm.Worker().Watched() < 3 && !deadline.hasExpired())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(frm.Worker().Watched(), 3u);
    g_mallocs = 0;
    g_countMallocs = true;
    if (kMallocCounted) {  // the counter sees a malloc
      void* p = std::malloc(64);
      std::free(p);
      ASSERT_EQ(g_mallocs.load(), 1u);
      g_mallocs = 0;
    }
    const unsigned long long before = g_allocations.load();
    run(400);  // 1200 buffers, 9 s of the clock
    g_countMallocs = false;
    const unsigned long long during = g_allocations.load() - before;
    EXPECT_EQ(during, 0u) << "operator new while the recorder took 1200 buffers";
    if (kMallocCounted) {
      EXPECT_EQ(g_mallocs.load(), 0u) << "malloc while it took 1200 buffers";
    }
    EXPECT_GT(frm.BytesWritten(), 0u);
    EXPECT_EQ(frm.ElapsedText(), "00:00:11");
    frm.BStopClick();
  }
  SetBladeLoader(nullptr);
  fs::remove_all(root);
}

}  // namespace
