// Continuity: a minute of real-time capture through the window route while the
// user-interface thread is once kept busy for longer than the queued buffers last. The
// device's ring must bridge the stall: no sample missing, none repeated.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <thread>

#include "TestStages.h"
#include "audio/MMWavIn.h"
#include "platform/SimCapture.h"

namespace {

TEST(Continuity, SixtySecondsWithABusyInterfaceThread) {
  using clock = std::chrono::steady_clock;
  SimDeviceConfig dev;
  dev.name = "Ramp";
  dev.paced = true;  // real time, with a two-second ring like the real backend
  SimCaptureBackend sim({dev});
  TMMWaveIn w(nullptr, &sim);
  w.SetBufferSize(4096);
  w.SetMode(mStereo);
  w.SetBitLength(b16Bit);
  w.SetSampleRate(44100);
  SinkStage sink;
  sink.keepBytes = false;
  sink.checkRamp = true;
  w.SetOutput(&sink);
  int stops = 0;
  w.OnStop = [&](TComponent*) { ++stops; };

  const uint64_t target = 60ull * 176400;
  w.Start();
  const HWAVEIN h = w.Handle();
  const auto start = clock::now();
  bool stalled = false;
  double stallSeconds = 0;
  while (sink.total < target && clock::now() - start < std::chrono::seconds(120)) {
    QCoreApplication::processEvents();
    if (!stalled && clock::now() - start > std::chrono::seconds(10)) {
      // Busy, not sleeping: the thread does other work and handles no messages.
      const auto t0 = clock::now();
      while (clock::now() - t0 < std::chrono::milliseconds(1600)) {
      }
      stallSeconds = std::chrono::duration<double>(clock::now() - t0).count();
      stalled = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const uint64_t lost = sim.LostBytes(h);
  w.Stop();
  w.Close();

  const double secondsCaptured = static_cast<double>(sink.total) / 176400.0;
  std::printf(
      "continuity: %.2f s of audio (%llu samples per channel) in %llu buffers, "
      "one stall of %.2f s, %llu ramp breaks, %llu bytes lost at the device\n",
      secondsCaptured, static_cast<unsigned long long>(sink.total / 4),
      static_cast<unsigned long long>(sink.buffers), stallSeconds,
      static_cast<unsigned long long>(sink.rampErrors), static_cast<unsigned long long>(lost));
  EXPECT_TRUE(stalled);
  EXPECT_GE(stallSeconds, 1.5);
  EXPECT_GE(sink.total, target);
  EXPECT_EQ(sink.rampErrors, 0u);
  EXPECT_EQ(sink.last,
            static_cast<uint16_t>(sink.total / 2 - 1));  // nothing missing from the start
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(stops, 1);
}

}  // namespace
