// Delivering buffers allocates nothing: not in the chain, not on the capture side, not on
// the way through the message window.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "AllocCounter.h"
#include "TestStages.h"
#include "audio/MMWavIn.h"
#include "platform/SimCapture.h"

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

}  // namespace
