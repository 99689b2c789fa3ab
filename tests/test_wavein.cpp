// The wave input over simulated devices: properties, the state table, every failure, the
// recording limit, stops from inside a delivery and the three delivery routes.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "TestStages.h"
#include "audio/MMWavIn.h"
#include "platform/SimCapture.h"

namespace {

std::vector<SimDeviceConfig> ThreeDevices() {
  std::vector<SimDeviceConfig> d(3);
  d[0].name = "Sim card A";
  d[1].name = "Sim card B";
  d[2].name = "Sim card C";
  return d;
}

class WaveInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<SimCaptureBackend>(ThreeDevices());
    Make();
  }
  void TearDown() override {
    SetApplicationErrorHandler(nullptr);
    sink.reset();
    w.reset();
  }
  // A recorder-like wave input: 4096-byte buffers of 44100 Hz 16-bit stereo into a sink.
  void Make() {
    sink.reset();
    w.reset();
    w = std::make_unique<TMMWaveIn>(nullptr, sim.get());
    w->SetBufferSize(4096);
    w->SetMode(mStereo);
    w->SetBitLength(b16Bit);
    w->SetSampleRate(44100);
    sink = std::make_unique<SinkStage>();
    w->SetOutput(sink.get());
    w->OnError = [this](TComponent*) { ++errors; };
    w->OnStop = [this](TComponent*) { ++stops; };
    w->OnStart = [this](TComponent*) { ++starts; };
  }
  // The device captures n bytes; the returned buffers are handled.
  void Step(uint32_t n) {
    size_t moved = sim->Step(w->Handle(), n);
    Pump();
    while (moved > 0) {  // buffers handed back meanwhile take what the device still holds
      moved = sim->Step(w->Handle(), 0);
      Pump();
    }
  }
  void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  std::string OpenError() {
    try {
      w->Open();
    } catch (const EMMWaveInError& e) {
      return e.what();
    }
    return "";
  }
  std::string StartError() {
    try {
      w->Start();
    } catch (const EMMWaveInError& e) {
      return e.what();
    }
    return "";
  }
  void ExpectClosed() {
    EXPECT_EQ(w->DeviceState(), dsClosed);
    EXPECT_EQ(w->Handle(), 0u);
    EXPECT_EQ(sim->HandleOf(0), 0u);
    EXPECT_FALSE(sink->IsOpened());
  }

  std::unique_ptr<SimCaptureBackend> sim;
  std::unique_ptr<TMMWaveIn> w;
  std::unique_ptr<SinkStage> sink;
  int errors = 0, stops = 0, starts = 0;
};

TEST_F(WaveInTest, NewInstanceDefaults) {
  TMMWaveIn fresh(nullptr, sim.get());
  EXPECT_EQ(fresh.BufferSize(), 2048);
  EXPECT_EQ(fresh.GetNumBuffers(), 10);
  EXPECT_EQ(fresh.Mode(), mMono);
  EXPECT_EQ(fresh.BitLength(), b8Bit);
  EXPECT_EQ(fresh.SampleRate(), 11025);
  EXPECT_EQ(fresh.TimeFormat(), tfByte);
  EXPECT_EQ(fresh.MaxRecordTime(), -1);
  EXPECT_EQ(fresh.MaxRecordBytes(), 2147483647);
  EXPECT_EQ(fresh.Priority(), tpHigher);
  EXPECT_EQ(fresh.GetCallBackMode(), cmWindow);
  EXPECT_EQ(fresh.GetDeviceID(), 0);
  EXPECT_EQ(fresh.GetProductName(), "Sim card A");
  EXPECT_EQ(fresh.DeviceState(), dsClosed);
  ASSERT_NE(fresh.WaveFormat(), nullptr);
  EXPECT_EQ(fresh.WaveFormat()->nSamplesPerSec, 11025u);
  EXPECT_EQ(fresh.WaveFormat()->nChannels, 1);
  EXPECT_EQ(fresh.WaveFormat()->wBitsPerSample, 8);
}

TEST_F(WaveInTest, PropertyClampsAndRefusals) {
  w->SetSampleRate(200000);
  EXPECT_EQ(w->SampleRate(), 100000);
  EXPECT_EQ(sink->WaveFormat()->nSamplesPerSec, 100000u);  // the new format reaches the chain
  w->SetSampleRate(5000);
  EXPECT_EQ(w->SampleRate(), 8000);
  w->SetNumBuffers(1);
  EXPECT_EQ(w->GetNumBuffers(), 10);
  w->SetNumBuffers(900);
  EXPECT_EQ(w->GetNumBuffers(), 500);
  w->SetBufferSize(10);
  EXPECT_EQ(w->BufferSize(), 32);
  w->SetMode(mMultiChannel);
  EXPECT_EQ(w->Mode(), mStereo);
  w->SetProductName("ignored");
  EXPECT_EQ(w->GetProductName(), "Sim card A");
}

TEST_F(WaveInTest, DeviceSelection) {
  w->SetDeviceID(5);
  EXPECT_EQ(w->GetDeviceID(), InvalidId);
  EXPECT_EQ(w->GetProductName(), "No wave audio recording device found");
  EXPECT_EQ(OpenError(), "Invalid DeviceID");
  ExpectClosed();
  w->SetDeviceID(-1);
  EXPECT_EQ(w->GetDeviceID(), MapperId);
  EXPECT_EQ(w->GetProductName(), "Simulated mapper");
  w->SetDeviceID(2);
  EXPECT_EQ(w->GetProductName(), "Sim card C");
  w->SetDeviceID(-7);
  EXPECT_EQ(w->GetDeviceID(), InvalidId);
}

TEST_F(WaveInTest, NoRecordingDevice) {
  sim = std::make_unique<SimCaptureBackend>();
  Make();
  EXPECT_EQ(w->DeviceCount(), 0);
  EXPECT_EQ(w->GetProductName(), "No wave audio recording device found");
  EXPECT_EQ(OpenError(), "No wave audio recording device found");
  EXPECT_EQ(StartError(), "No wave audio recording device found");
  EXPECT_EQ(w->DeviceState(), dsClosed);
}

// Each injected device failure: the message, and the device left closed.
TEST_F(WaveInTest, FailuresLeaveTheDeviceClosed) {
  struct Case {
    const char* what;
    void (*inject)(SimDeviceConfig&);
    bool atStart;  // fails in Start rather than in Open
    std::string message;
  };
  const std::string badFormat =
      "The specified format is not supported or cannot be translated.  Use the Capabilities "
      "function to determine the supported formats.";
  const std::string allocated =
      "The specified device is already in use.  Wait until it is free, and then try again.";
  const std::string error = "Undefined external error.";
  const Case cases[] = {
      {"format missing from the mask", [](SimDeviceConfig& d) { d.formats &= ~WAVE_FORMAT_4S16; },
       false, "WaveInOpen:\n\rThe actual device can't record this format"},
      {"driver refuses the format", [](SimDeviceConfig& d) { d.queryResult = WAVERR_BADFORMAT; },
       false, "WaveInOpen:\n\rThe actual device can't record this format"},
      {"capabilities unreadable", [](SimDeviceConfig& d) { d.capsResult = MMSYSERR_NODRIVER; },
       false, "WaveInOpen:\n\rThe actual device can't record this format"},
      {"device busy", [](SimDeviceConfig& d) { d.openResult = MMSYSERR_ALLOCATED; }, false,
       "WaveInOpen:\n\r" + allocated},
      {"unknown open error", [](SimDeviceConfig& d) { d.openResult = 999; }, false,
       "WaveInOpen:\n\rSpecified error number is out of range (unknown error)"},
      {"no open notice", [](SimDeviceConfig& d) { d.sendOpenNotice = false; }, false,
       "WaveInOpen:\n\rUnable to open device"},
      {"prepare fails", [](SimDeviceConfig& d) { d.prepareResult = MMSYSERR_NOMEM; }, false,
       "WaveInPrepareHeader:\n\rThere is not enough memory available for this task.  Quit one or "
       "more applications to increase available memory, and then try again."},
      {"add buffer fails", [](SimDeviceConfig& d) { d.addBufferResult = MMSYSERR_ERROR; }, true,
       "WaveInAddBuffer:\n\r" + error},
      {"start fails", [](SimDeviceConfig& d) { d.startResult = MMSYSERR_ERROR; }, true,
       "WaveInStart:\n\r" + error},
  };
  (void)badFormat;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim = std::make_unique<SimCaptureBackend>(ThreeDevices());
    c.inject(sim->Devices()[0]);
    Make();
    errors = 0;
    EXPECT_EQ(c.atStart ? StartError() : OpenError(), c.message);
    ExpectClosed();
    // Raised through RaiseError, then reported once more on the way out.
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(starts, 0);
  }
}

TEST_F(WaveInTest, FailingStopStillClosesTheDevice) {
  w->Start();
  sim->Devices()[0].stopResult = MMSYSERR_ERROR;
  try {
    w->Stop();
    FAIL() << "Stop should raise";
  } catch (const EMMWaveInError& e) {
    EXPECT_EQ(std::string(e.what()), "WaveInStop:\n\rUndefined external error.");
  }
  ExpectClosed();
}

TEST_F(WaveInTest, PropertyChangeWhileOpen) {
  w->Open();
  const std::string msg = "Change to property while device was open";
  auto raises = [&](auto&& change) {
    try {
      change();
    } catch (const EMMWaveInError& e) {
      return std::string(e.what()) == msg;
    }
    return false;
  };
  EXPECT_TRUE(raises([&] { w->SetSampleRate(22050); }));
  EXPECT_FALSE(raises([&] { w->SetSampleRate(44100); }));
  EXPECT_TRUE(raises([&] { w->SetDeviceID(0); }));  // even the same number
  EXPECT_TRUE(raises([&] { w->SetCallBackMode(cmWindow); }));
  EXPECT_TRUE(raises([&] { w->SetMode(mMono); }));
  EXPECT_FALSE(raises([&] { w->SetMode(mStereo); }));
  EXPECT_TRUE(raises([&] { w->SetBitLength(b8Bit); }));
  EXPECT_TRUE(raises([&] { w->SetNumBuffers(20); }));
  EXPECT_FALSE(raises([&] { w->SetNumBuffers(10); }));
  EXPECT_TRUE(raises([&] { w->SetBufferSize(8192); }));
  EXPECT_FALSE(raises([&] { w->SetBufferSize(4096); }));
  EXPECT_EQ(w->SampleRate(), 44100);
  EXPECT_EQ(w->GetNumBuffers(), 10);
  EXPECT_EQ(w->DeviceState(), dsOpen);  // a refused change leaves the device as it was
}

TEST_F(WaveInTest, StateTableAndChainNotifications) {
  struct Step {
    void (TMMCustomWaveIn::*command)();
    uint8_t state;
  };
  const Step steps[] = {
      {&TMMCustomWaveIn::Open, dsOpen},
      {&TMMCustomWaveIn::Start, dsOpen | dsStarted},
      {&TMMCustomWaveIn::Start, dsOpen | dsStarted},  // a second Start does nothing
      {&TMMCustomWaveIn::Pause, dsOpen | dsStarted | dsPaused},
      {&TMMCustomWaveIn::Restart, dsOpen | dsStarted},
      {&TMMCustomWaveIn::Stop, dsOpen},
      {&TMMCustomWaveIn::Stop, dsOpen},
      {&TMMCustomWaveIn::Close, dsClosed},
      {&TMMCustomWaveIn::Close, dsClosed},
      {&TMMCustomWaveIn::Stop, dsClosed},
  };
  for (const Step& s : steps) {
    (w.get()->*s.command)();
    EXPECT_EQ(w->DeviceState(), s.state);
  }
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(stops, 1);
  const std::vector<std::string> expected = {"Opened",    "Started", "Paused",
                                             "Restarted", "Stopped", "Closed"};
  EXPECT_EQ(sink->log, expected);
  EXPECT_EQ(sink->bufferSizeAtOpen, 4096);
  EXPECT_EQ(w->RealBufferSize(), 4096);
}

TEST_F(WaveInTest, StartOpensAndOpenOnOpenDeviceReopensTheChain) {
  w->Start();
  EXPECT_EQ(w->DeviceState(), dsOpen | dsStarted);
  sink->log.clear();
  w->Open();
  EXPECT_EQ(w->DeviceState(), dsOpen);
  const std::vector<std::string> expected = {"Stopped", "Closed", "Opened"};
  EXPECT_EQ(sink->log, expected);
  EXPECT_EQ(sim->OpenCount(), 2);
}

TEST_F(WaveInTest, PausedBeforeStartQueuesWithoutStarting) {
  w->Pause();
  EXPECT_EQ(w->DeviceState(), dsOpen | dsPaused);
  w->Start();
  EXPECT_EQ(w->DeviceState(), dsOpen | dsStarted | dsPaused);
  EXPECT_EQ(sim->QueuedBuffers(w->Handle()), 10u);
  Step(8192);
  EXPECT_EQ(sink->total, 0u);  // not capturing yet
  w->Restart();
  Step(0);
  EXPECT_EQ(sink->total, 8192u);
}

TEST_F(WaveInTest, BuffersReachTheChainInOrderAndGoBackToTheDevice) {
  std::vector<PWaveHdr> seen;
  w->OnBufferReady = [&](TComponent* sender, PWaveHdr b) {
    EXPECT_EQ(sender, w.get());
    EXPECT_EQ(sink->buffers, seen.size());  // the hook runs before the chain
    seen.push_back(b);
  };
  w->Start();
  const uint32_t n = 4096 * 25 + 100;  // more than the ring of ten buffers
  Step(n);
  EXPECT_EQ(sink->total, 4096u * 25);
  EXPECT_EQ(sink->bytes, RampBytes(0, 4096 * 25));
  EXPECT_EQ(sim->QueuedBuffers(w->Handle()), 10u);
  EXPECT_EQ(w->BytesRecorded(), 4096 * 25);
  ASSERT_EQ(seen.size(), 25u);
  EXPECT_EQ(seen[0], seen[10]);  // ten buffers, reused in turn
  EXPECT_EQ(seen[0]->dwBufferLength, 4096u);
  w->Stop();
}

// The partly filled last buffer comes back while the stop resets the device: on the window
// route it is handled only after Resetting is set and is dropped; a driver callback delivers
// it at once.
TEST_F(WaveInTest, PartialLastBufferAtStop) {
  struct Case {
    TMMCBMode mode;
    uint64_t expected;
  };
  for (const Case c : {Case{cmWindow, 8192}, Case{cmCallback, 8192 + 1000}}) {
    SCOPED_TRACE(c.mode);
    Make();
    w->SetCallBackMode(c.mode);
    w->Start();
    Step(8192 + 1000);
    w->Stop();
    Pump();
    EXPECT_EQ(sink->total, c.expected);
    EXPECT_EQ(stops, 1);
    stops = 0;
  }
}

TEST_F(WaveInTest, MaxRecordTimeCutsExactly) {
  w->SetTimeFormat(tfMillisecond);
  w->SetMaxRecordTime(1000);
  EXPECT_EQ(w->MaxRecordBytes(), 176400);
  w->Start();
  Step(4096 * 50);
  Pump();
  EXPECT_EQ(sink->total, 176400u);
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(w->DeviceState(), dsOpen);
  EXPECT_EQ(w->BytesRecorded(), 176400);
}

TEST_F(WaveInTest, MaxRecordTimeUnits) {
  w->SetMaxRecordTime(176400);  // bytes
  EXPECT_EQ(w->MaxRecordBytes(), 176400);
  w->SetTimeFormat(tfMillisecond);
  EXPECT_EQ(w->MaxRecordTime(), 1000);
  w->SetTimeFormat(tfSample);
  EXPECT_EQ(w->MaxRecordTime(), 44100);
  EXPECT_EQ(w->MaxRecordBytes(), 176400);
  w->SetMaxRecordTime(3);  // samples
  EXPECT_EQ(w->MaxRecordBytes(), 12);
  w->SetTimeFormat(tfByte);
  w->SetMaxRecordTime(4097);  // cut down to whole frames
  EXPECT_EQ(w->MaxRecordBytes(), 4096);
  w->SetTimeFormat(tfMillisecond);
  w->SetMaxRecordTime(2000000000);  // does not fit: no limit
  EXPECT_EQ(w->MaxRecordBytes(), 2147483644);
}

TEST_F(WaveInTest, MaxRecordTimeZeroIsUnlimited) {
  w->SetMaxRecordTime(0);
  w->Start();
  Step(4096 * 60);
  EXPECT_EQ(sink->total, 4096u * 60);
  EXPECT_EQ(stops, 0);
  w->Stop();
}

TEST_F(WaveInTest, StopFromInsideOnBufferReady) {
  int calls = 0;
  w->OnBufferReady = [&](TComponent*, PWaveHdr) {
    if (++calls == 3) {
      w->Stop();
      EXPECT_EQ(w->DeviceState(), dsOpen | dsStarted);  // completes after the handler
      EXPECT_EQ(stops, 0);
    }
  };
  w->Start();
  Step(4096 * 8);
  Pump();
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(w->DeviceState(), dsOpen);
  EXPECT_EQ(sink->total, 4096u * 3);
  // The device can be started again afterwards.
  w->Start();
  Step(4096);
  EXPECT_EQ(sink->total, 4096u * 4);
  w->Close();
  EXPECT_EQ(stops, 2);
}

TEST_F(WaveInTest, CloseFromInsideOnBufferReadyWaitsForTheDeferredStop) {
  w->OnBufferReady = [&](TComponent*, PWaveHdr) { w->Close(); };
  w->Start();
  Step(4096);
  Pump();
  EXPECT_EQ(stops, 1);
  ExpectClosed();
}

TEST_F(WaveInTest, StageErrorDuringOpenFailsTheOpen) {
  sink->throwOnOpen = "Unable to load encoder library";
  try {
    w->Open();
    FAIL();
  } catch (const EMMError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to load encoder library");
  }
  ExpectClosed();
}

TEST_F(WaveInTest, StageErrorInsideDeliveryClosesAndIsShown) {
  std::vector<std::string> shown;
  SetApplicationErrorHandler([&](const std::string& t) { shown.push_back(t); });
  w->Start();
  sink->throwOnBuffer = "Disk write failed";
  Step(4096);
  Pump();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Disk write failed");
  EXPECT_EQ(w->DeviceState(), dsClosed);
}

// Where the chain runs: the user-interface thread on the window route, the device's own
// thread with a driver callback, the stage's delivery thread in cmThread mode.
TEST_F(WaveInTest, DeliveryThreads) {
  enum Where { kMain, kDevice, kDelivery };
  struct Case {
    TMMCBMode mode;
    Where where;
  };
  const auto mainThread = std::this_thread::get_id();
  for (const Case c :
       {Case{cmWindow, kMain}, Case{cmCallback, kDevice}, Case{cmThread, kDelivery}}) {
    SCOPED_TRACE(c.mode);
    sim = std::make_unique<SimCaptureBackend>(ThreeDevices());
    sim->Devices()[0].paced = true;
    sim->Devices()[0].speed = 20;
    Make();
    w->SetCallBackMode(c.mode);
    w->SetPriority(tpNormal);
    std::mutex m;
    std::set<std::thread::id> threads;
    size_t count = 0;
    w->OnBufferReady = [&](TComponent*, PWaveHdr) {
      std::lock_guard<std::mutex> lk(m);
      threads.insert(std::this_thread::get_id());
      ++count;
    };
    w->Start();
    if (c.mode == cmThread) {
      EXPECT_EQ(TMMDSPThread::Instances().size(), 1u);
    }
    for (int i = 0; i < 2000; ++i) {
      Pump();
      {
        std::lock_guard<std::mutex> lk(m);
        if (count >= 30) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(sim->LostBytes(w->Handle()), 0u);
    w->Close();
    // A stop that met a delivery on another thread completes through the window.
    for (int i = 0; i < 500 && w->DeviceState() != dsClosed; ++i) {
      Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(w->DeviceState(), dsClosed);
    ASSERT_GE(sink->total, 4096u * 29);
    EXPECT_EQ(sink->bytes, RampBytes(0, sink->total));
    ASSERT_EQ(threads.size(), 1u);  // one delivery thread for the whole run
    EXPECT_EQ(*threads.begin() == mainThread, c.where == kMain);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(TMMDSPThread::Instances().empty());
    stops = 0;
  }
}

TEST_F(WaveInTest, DestroyingAnOpenInputClosesItsDevice) {
  w->Start();
  const HWAVEIN h = w->Handle();
  ASSERT_NE(h, 0u);
  sink->log.clear();
  w.reset();
  EXPECT_EQ(sim->HandleOf(0), 0u);
  EXPECT_EQ(sink->Input(), nullptr);
  EXPECT_EQ(sink->WaveFormat(), nullptr);
}

TEST_F(WaveInTest, BuffersArePooledAcrossOpenings) {
  w->Open();
  TMMChainBuffer* first = w->BufferAt(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->SyncBuffer, nullptr);
  w->Close();
  EXPECT_EQ(w->BufferAt(0), nullptr);
  w->Open();
  EXPECT_EQ(w->BufferAt(0), first);
  EXPECT_EQ(w->Allocator().EntryCount(), 10u);
  w->Close();
}

}  // namespace
