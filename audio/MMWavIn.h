#pragma once
// The wave input: the device stage at the head of a station's chain. It owns a ring of
// capture buffers, hands them to the recording device, pushes every filled buffer down the
// chain and gives it back to the device, spreads open/start/pause/restart/stop/close along
// the chain, and stops by itself after a configured recording length.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/MMAlloc.h"
#include "audio/MMDSPObj.h"
#include "audio/MMThread.h"
#include "platform/CaptureBackend.h"
#include "platform/FixedRing.h"
#include "platform/MessageWindow.h"

class EMMWaveInError : public EMMError {
 public:
  using EMMError::EMMError;
};

enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

enum TMMDeviceStateFlag : uint8_t { dsClosed = 1, dsOpen = 2, dsStarted = 4, dsPaused = 8 };

// Messages of the stage's window and delivery thread.
constexpr uint32_t MM_WIM_DATA = 0x3C0;
constexpr uint32_t DeferredStopMessage = 0x8002;
// A fault of the running capture: lParam is the frame count of an overrun.
constexpr uint32_t MM_WIM_OVERRUN = 0x8003;
constexpr uint32_t MM_WIM_DEVICE_LOST = 0x8004;
constexpr uint32_t MM_WIM_DEVICE_BACK = 0x8005;

// What went wrong with a running device, as OnDeviceFault tells it.
enum TMMDeviceFault { dfOverrun, dfDeviceLost, dfDeviceBack };
using TMMDeviceFaultEvent =
    std::function<void(TComponent* Sender, TMMDeviceFault fault, uint64_t frames)>;

constexpr int kMaxWaveInBuffers = 500;

class TMMWaveInThread;

class TMMCustomWaveIn : public TMMCustomSoundComponent, private CaptureClient {
 public:
  ~TMMCustomWaveIn() override;

  // Commands. All but Close raise EMMWaveInError when they fail; a failing command leaves the
  // device closed.
  virtual void Open();
  virtual void Close();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();
  virtual void RaiseError(const std::string& message);

  bool QueryFormatSupport(TMMDeviceId id, const WAVEFORMATEX* format);

  bool PublishesInput() const override { return false; }

  // Properties.
  void SetBufferSize(int32_t value) override;
  void SetNumBuffers(int32_t value) override;
  int32_t GetNumBuffers() const override { return numBuffers_; }
  void SetDeviceID(int32_t value) override;
  int32_t GetDeviceID() const override { return deviceID_; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() const override { return productName_; }
  void SetCallBackMode(TMMCBMode value) override;
  TMMCBMode GetCallBackMode() const override { return callBackMode_; }
  void SetMode(TMMMode value);
  TMMMode Mode() const { return mode_; }
  void SetBitLength(TMMBits value);
  TMMBits BitLength() const { return bitLength_; }
  void SetSampleRate(int32_t value);
  int32_t SampleRate() const { return sampleRate_; }
  void SetTimeFormat(TMMTimeFormats value);
  TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetMaxRecordTime(int32_t value);
  int32_t MaxRecordTime() const { return maxRecordTime_; }
  void SetPriority(TThreadPriority value);
  TThreadPriority Priority() const { return priority_; }

  // State.
  uint8_t DeviceState() const { return deviceState_.load(); }
  bool HasState(TMMDeviceStateFlag f) const { return (deviceState_.load() & f) != 0; }
  int32_t DeviceCount() const { return deviceCount_; }
  int64_t BytesRecorded() const { return bytesRecorded_; }
  int32_t MaxRecordBytes() const { return maxRecordBytes_; }
  HWAVEIN Handle() const { return handle_; }
  TMMAllocator& Allocator() { return allocator_; }
  // The buffer in table slot i, or none.
  TMMChainBuffer* BufferAt(int i) const { return buffers_[i]; }

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;
  // On the user-interface thread: audio dropped by the device (frames), the device failed or
  // went away (the capture reopens it by itself every few seconds), the device records again.
  TMMDeviceFaultEvent OnDeviceFault;

  // Chain operations.
  void SetWaveFormat(const WAVEFORMATEX* Format) override;
  void BufferReady(PWaveHdr Buffer) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;

 protected:
  TMMCustomWaveIn(TComponent* owner, CaptureBackend* driver);
  // Fills the device function table; the concrete wave input chooses the driver.
  void BindDriver(CaptureBackend* driver) { driver_ = driver; }

 private:
  friend class TMMWaveInThread;

  void CaptureNotify(HWAVEIN handle, CaptureNotice notice, WAVEHDR* hdr) override;
  void CaptureFaultNotify(HWAVEIN handle, CaptureFault fault, uint64_t frames) override;
  bool WindowProc(const WindowMessage& m);
  void BufferDone(PWaveHdr B);
  void AddBuffer(PWaveHdr B);
  void RebuildFormat();
  void RecomputeMaxRecordBytes();
  void CheckClosed(bool changed);
  std::string ErrorText(MMRESULT r);
  void Check(MMRESULT r, const char* prefix);
  void FireError();
  void CreateWindow();
  void StartDeliveryThread();
  void StopDeliveryThread();
  void ChainClosed();
  void ClosedNotification();
  void ThreadFailed(const std::string& text);
  void Lock();
  void Unlock();
  // Waits in 10 ms steps until done() or 100 steps passed; handles this input's own messages
  // meanwhile if asked (never anything else: no user command runs inside a wait).
  template <typename Done>
  bool WaitSteps(Done done, bool pump, int steps = 100);

  CaptureBackend* driver_ = nullptr;
  HWAVEIN handle_ = 0;
  std::atomic<uint8_t> deviceState_{dsClosed};
  TMMChainBuffer* buffers_[kMaxWaveInBuffers] = {};
  TMMAllocator allocator_;
  int32_t deviceCount_ = 0;
  WAVEFORMATEX format_{};

  int32_t numBuffers_ = 10;
  int32_t deviceID_ = 0;
  std::string productName_;
  TMMCBMode callBackMode_ = cmWindow;
  TMMMode mode_ = mMono;
  TMMBits bitLength_ = b8Bit;
  int32_t sampleRate_ = 11025;
  TMMTimeFormats timeFormat_ = tfByte;
  int32_t maxRecordTime_ = -1;
  TThreadPriority priority_ = tpHigher;

  // Counted in 64 bits: a long segment passes 2^31 bytes after about 3.4 hours.
  int64_t bytesRecorded_ = 0;
  int32_t maxRecordBytes_ = 2147483647;
  // Shared with the delivery thread in cmCallback and cmThread modes.
  int32_t queuedCount_ = 0;  // under the lock
  std::atomic<int32_t> deliveryDepth_{0};
  std::atomic<bool> stopping_{false}, resetting_{false}, stopPending_{false}, stopPosted_{false};
  std::atomic<bool> closing_{false}, closePending_{false};

  std::unique_ptr<MessageWindow> window_;
  std::recursive_mutex lock_;
  bool lockActive_ = false;
  std::unique_ptr<TMMWaveInThread> thread_;
};

// The wave input of the programs: records from the backend the program's entry hands down
// (ALSA's devices, or simulated ones in tests); with none it has no devices.
class TMMWaveIn : public TMMCustomWaveIn {
 public:
  explicit TMMWaveIn(TComponent* owner = nullptr, CaptureBackend* backend = nullptr);
};

// The cmThread delivery thread: handles the returned buffers of its wave input.
class TMMWaveInThread : public TMMDSPThread {
 public:
  explicit TMMWaveInThread(TMMCustomWaveIn* owner);
  ~TMMWaveInThread() override;

  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam);
  void SignalTerminate();
  // Waits for the ready signal; false after timeoutMs.
  bool WaitReady(int timeoutMs);
  bool WaitDone(int timeoutMs);
  bool Dead() const { return dead_; }

 protected:
  void Execute() override;

 private:
  std::mutex m_;
  std::condition_variable cv_;
  FixedRing<WindowMessage, 1024> queue_;
  bool terminate_ = false, ready_ = false, done_ = false;
  std::atomic<bool> dead_{false};
};
