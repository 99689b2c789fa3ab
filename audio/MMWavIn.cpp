#include "audio/MMWavIn.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>
#include <thread>

namespace {
constexpr uint32_t CALLBACK_FUNCTION = 0x30000;
const char kChangeWhileOpen[] = "Change to property while device was open";

void Sleep10() {
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
}  // namespace

// Creation ---------------------------------------------------------------------------------

TMMCustomWaveIn::TMMCustomWaveIn(TComponent* owner, CaptureBackend* driver)
    : TMMCustomSoundComponent(owner) {
  BindDriver(driver);
  deviceCount_ = static_cast<int32_t>(driver_->GetNumDevs());
  RebuildFormat();
  deviceID_ = -3;  // forces the first selection to read the capabilities
  SetDeviceID(0);
  if (!IsDesigning()) CreateWindow();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
  Destroying();
  if (handle_) Close();
  StopDeliveryThread();
  if (thread_) thread_->WaitFor();
  thread_.reset();
  window_.reset();
  allocator_.FreeAll();
}

void TMMCustomWaveIn::CreateWindow() {
  window_ =
      std::make_unique<MessageWindow>([this](const WindowMessage& m) { return WindowProc(m); });
}

TMMWaveIn::TMMWaveIn(TComponent* owner, CaptureBackend* backend)
    : TMMCustomWaveIn(owner, backend ? backend : &NoCaptureDevices()) {}

// Errors ------------------------------------------------------------------------------------

void TMMCustomWaveIn::FireError() {
  if (OnError) OnError(this);
}

void TMMCustomWaveIn::RaiseError(const std::string& message) {
  FireError();
  throw EMMWaveInError(message);
}

std::string TMMCustomWaveIn::ErrorText(MMRESULT r) {
  char text[256] = {};
  if (driver_->GetErrorText(r, text, 255) != MMSYSERR_NOERROR)
    return "Specified error number is out of range (unknown error)";
  return text;
}

void TMMCustomWaveIn::Check(MMRESULT r, const char* prefix) {
  if (r != MMSYSERR_NOERROR) RaiseError(std::string(prefix) + ErrorText(r));
}

void TMMCustomWaveIn::CheckClosed(bool changed) {
  if (changed && HasState(dsOpen)) RaiseError(kChangeWhileOpen);
}

void TMMCustomWaveIn::Lock() {
  if (lockActive_) lock_.lock();
}

void TMMCustomWaveIn::Unlock() {
  if (lockActive_) lock_.unlock();
}

template <typename Done>
bool TMMCustomWaveIn::WaitSteps(Done done, bool pump, int steps) {
  for (int i = 0; i < steps; ++i) {
    if (done()) return true;
    if (pump && window_) window_->Drain();
    if (done()) return true;
    Sleep10();
  }
  return done();
}

// Properties --------------------------------------------------------------------------------

void TMMCustomWaveIn::SetDeviceID(int32_t value) {
  CheckClosed(true);
  productName_ = "No wave audio recording device found";
  if (deviceCount_ > 0 && value >= -1 && value < deviceCount_) {
    WAVEINCAPS caps{};
    if (driver_->GetDevCaps(value, &caps) == MMSYSERR_NOERROR)
      productName_ = std::string(caps.szPname, strnlen(caps.szPname, sizeof(caps.szPname)));
  }
  deviceID_ = (value < -1 || value >= deviceCount_) ? InvalidId : value;
}

void TMMCustomWaveIn::SetCallBackMode(TMMCBMode value) {
  CheckClosed(true);
  callBackMode_ = value;
}

void TMMCustomWaveIn::SetMode(TMMMode value) {
  if (value != mMono && value != mStereo) return;
  CheckClosed(value != mode_);
  if (value == mode_) return;
  mode_ = value;
  RebuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBits value) {
  CheckClosed(value != bitLength_);
  if (value == bitLength_) return;
  bitLength_ = value;
  RebuildFormat();
}

void TMMCustomWaveIn::SetSampleRate(int32_t value) {
  CheckClosed(value != sampleRate_);
  if (value == sampleRate_) return;
  sampleRate_ = std::clamp(value, 8000, 100000);
  RebuildFormat();
}

void TMMCustomWaveIn::SetNumBuffers(int32_t value) {
  CheckClosed(value != numBuffers_);
  if (value > 1 && value != numBuffers_) numBuffers_ = std::min(value, kMaxWaveInBuffers);
}

void TMMCustomWaveIn::SetBufferSize(int32_t value) {
  CheckClosed(value != bufferSize_);
  if (value == bufferSize_) return;
  allocator_.FreeAll();
  TMMCustomSoundComponent::SetBufferSize(std::max(value, 32));
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats value) {
  if (value == timeFormat_) return;
  if (maxRecordTime_ >= 0 && GetWaveFormat()) {
    const WAVEFORMATEX* f = GetWaveFormat();
    switch (value) {
      case tfMillisecond:
        maxRecordTime_ = BytesToMs(f, maxRecordBytes_);
        break;
      case tfSample:
        maxRecordTime_ = BytesToSamples(f, maxRecordBytes_);
        break;
      case tfByte:
        maxRecordTime_ = maxRecordBytes_;
        break;
    }
  }
  timeFormat_ = value;
}

void TMMCustomWaveIn::SetMaxRecordTime(int32_t value) {
  maxRecordTime_ = value;
  RecomputeMaxRecordBytes();
}

void TMMCustomWaveIn::SetPriority(TThreadPriority value) {
  priority_ = value;
  if (thread_) thread_->SetPriority(value);
}

void TMMCustomWaveIn::RebuildFormat() {
  BuildPCMFormat(&format_, (bitLength_ + 1) * 8, mode_ + 1, sampleRate_);
  SetWaveFormat(&format_);
}

void TMMCustomWaveIn::RecomputeMaxRecordBytes() {
  const WAVEFORMATEX* f = GetWaveFormat();
  int64_t bytes = INT32_MAX;
  if (maxRecordTime_ >= 0 && f && f->nAvgBytesPerSec > 0 && f->nSamplesPerSec > 0) {
    const int64_t t = maxRecordTime_;
    switch (timeFormat_) {
      case tfMillisecond:
        bytes = t * f->nAvgBytesPerSec / 1000;
        break;
      case tfSample:
        bytes = t * f->nAvgBytesPerSec / f->nSamplesPerSec;
        break;
      case tfByte:
        bytes = t;
        break;
    }
    // Past what fits, the conversion fails and the limit is none.
    if (bytes >= INT32_MAX - 2 * static_cast<int64_t>(f->nBlockAlign))
      bytes = INT32_MAX;
    else if (timeFormat_ == tfMillisecond)
      bytes = MsToBytes(f, maxRecordTime_);
    else if (timeFormat_ == tfSample)
      bytes = SamplesToBytes(f, maxRecordTime_);
  }
  if (f && f->nBlockAlign > 0) bytes -= bytes % f->nBlockAlign;
  maxRecordBytes_ = static_cast<int32_t>(bytes);
}

void TMMCustomWaveIn::SetWaveFormat(const WAVEFORMATEX* Format) {
  Close();
  if (IsPCMFormat(Format)) {
    sampleRate_ = static_cast<int32_t>(Format->nSamplesPerSec);
    bitLength_ = static_cast<TMMBits>(Format->wBitsPerSample / 8 - 1);
    mode_ = static_cast<TMMMode>(Format->nChannels - 1);
    BuildPCMFormat(&format_, Format->wBitsPerSample, Format->nChannels,
                   static_cast<int>(Format->nSamplesPerSec));
  }
  TMMCustomSoundComponent::SetWaveFormat(Format);
}

// Format check -------------------------------------------------------------------------------

bool TMMCustomWaveIn::QueryFormatSupport(TMMDeviceId id, const WAVEFORMATEX* format) {
  if (id < -1 || id >= deviceCount_ || !format) return false;
  HWAVEIN query = 0;
  if (driver_->Open(&query, id, format, nullptr, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
    return false;
  if (format->wFormatTag != WAVE_FORMAT_PCM) return true;
  WAVEINCAPS caps{};
  if (driver_->GetDevCaps(id, &caps) != MMSYSERR_NOERROR) return false;
  const int bits = format->wBitsPerSample, ch = format->nChannels;
  if ((bits != 8 && bits != 16) || (ch != 1 && ch != 2)) return true;
  const uint32_t rate = format->nSamplesPerSec;
  int band;
  if (rate >= 8000 && rate <= 11025)
    band = 0;
  else if (rate >= 11026 && rate <= 22050)
    band = 1;
  else if (rate >= 22051 && rate <= 48000)
    band = 2;
  else
    return true;
  const int column = (bits == 16 ? 2 : 0) + (ch == 2 ? 1 : 0);
  return (caps.dwFormats & (1u << (band * 4 + column))) != 0;
}

// Open -----------------------------------------------------------------------------------------

void TMMCustomWaveIn::Open() {
  if (deviceCount_ == 0) RaiseError("No wave audio recording device found");
  if (deviceID_ == InvalidId) RaiseError("Invalid DeviceID");
  if (!GetWaveFormat()) RaiseError("Invalid wave format");
  if (HasState(dsOpen)) Close();
  if (HasState(dsOpen) || closing_) return;
  closing_ = resetting_ = stopping_ = stopPosted_ = false;
  try {
    if (!QueryFormatSupport(deviceID_, GetWaveFormat()))
      RaiseError("WaveInOpen:\n\rThe actual device can't record this format");
    if (!window_) CreateWindow();
    handle_ = 0;
    closePending_ = false;
    lockActive_ = callBackMode_ != cmWindow;
    if (callBackMode_ == cmThread) StartDeliveryThread();
    Check(driver_->Open(&handle_, deviceID_, GetWaveFormat(), this, CALLBACK_FUNCTION),
          "WaveInOpen:\n\r");
    const uint8_t saved = deviceState_.exchange(dsClosed);
    try {
      Opened();
    } catch (...) {
      deviceState_ = saved;
      throw;
    }
    deviceState_ = saved;
    if (!WaitSteps([this] { return HasState(dsOpen); }, false, 99))
      RaiseError("WaveInOpen:\n\rUnable to open device");
    const int32_t size = RealBufferSize();
    if (size > 0) {
      for (int i = 0; i < numBuffers_; ++i) {
        if (!buffers_[i]) {
          void* block = allocator_.Acquire(0, sizeof(TMMChainBuffer) + size);
          if (!block) RaiseError("Unable to allocate memory for wave header");
          buffers_[i] = static_cast<TMMChainBuffer*>(block);
        }
        TMMChainBuffer* b = buffers_[i];
        std::memset(static_cast<void*>(b), 0, sizeof(TMMChainBuffer));
        b->lpData = reinterpret_cast<char*>(b) + sizeof(TMMChainBuffer);
        b->dwBufferLength = static_cast<uint32_t>(size);
      }
      for (int i = 0; i < numBuffers_; ++i)
        Check(driver_->PrepareHeader(handle_, buffers_[i]), "WaveInPrepareHeader:\n\r");
    }
    if (OnOpen) OnOpen(this);
  } catch (...) {
    FireError();
    deviceState_ = dsOpen;
    Close();
    deviceState_ = dsClosed;
    throw;
  }
}

void TMMCustomWaveIn::Opened() {
  TMMCustomSoundComponent::Opened();
}

// Start ----------------------------------------------------------------------------------------

void TMMCustomWaveIn::Start() {
  if (!HasState(dsOpen)) Open();
  if (!HasState(dsOpen) || HasState(dsStarted)) return;
  try {
    bytesRecorded_ = 0;
    deliveryDepth_ = 0;
    stopPending_ = stopping_ = resetting_ = stopPosted_ = false;
    queuedCount_ = 0;
    RecomputeMaxRecordBytes();
    for (int i = 0; i < numBuffers_; ++i)
      if (buffers_[i]) AddBuffer(buffers_[i]);
    Started();
  } catch (...) {
    FireError();
    deviceState_ |= dsStarted;
    Close();
    deviceState_ = dsClosed;
    throw;
  }
}

void TMMCustomWaveIn::AddBuffer(PWaveHdr B) {
  B->dwFlags = (B->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
  Check(driver_->AddBuffer(handle_, B), "WaveInAddBuffer:\n\r");
  Lock();
  ++queuedCount_;
  Unlock();
}

void TMMCustomWaveIn::Started() {
  const bool wasPaused = HasState(dsPaused);
  deviceState_ |= dsStarted;
  if (!wasPaused) Check(driver_->Start(handle_), "WaveInStart:\n\r");
  TMMCustomSoundComponent::Started();
  if (OnStart) OnStart(this);
}

// Buffer handling ----------------------------------------------------------------------------

void TMMCustomWaveIn::BufferDone(PWaveHdr B) {
  if (!HasState(dsStarted)) return;
  if (resetting_ || stopping_) {
    std::exception_ptr error;
    if (!resetting_ && B->dwBytesRecorded > 0) {
      ++deliveryDepth_;
      try {
        BufferReady(B);
      } catch (...) {
        FireError();
        error = std::current_exception();
      }
      --deliveryDepth_;
    }
    Lock();
    if (--queuedCount_ <= 0) {
      queuedCount_ = 0;
      resetting_ = false;
    }
    Unlock();
    // A stop asked for by this buffer's delivery still has to be completed.
    if (deliveryDepth_ == 0 && stopPending_ && !stopPosted_) {
      stopPosted_ = true;
      stopping_ = true;
      window_->Post(DeferredStopMessage, handle_, 0);
    }
    if (error) std::rethrow_exception(error);
    return;
  }
  std::exception_ptr error;
  ++deliveryDepth_;
  try {
    Lock();
    --queuedCount_;
    Unlock();
    BufferReady(B);
    // Under the lock, so that a stop on another thread either sees the buffer queued (and its
    // reset returns it) or keeps it from being queued again.
    std::unique_lock<std::recursive_mutex> guard(lock_, std::defer_lock);
    if (lockActive_) guard.lock();
    if (!stopPending_ && !stopping_) AddBuffer(B);
  } catch (...) {
    FireError();
    error = std::current_exception();
  }
  --deliveryDepth_;
  if (deliveryDepth_ == 0 && stopPending_ && !stopPosted_) {
    stopPosted_ = true;
    stopping_ = true;
    window_->Post(DeferredStopMessage, handle_, 0);
  }
  if (error) std::rethrow_exception(error);
}

void TMMCustomWaveIn::BufferReady(PWaveHdr Buffer) {
  bytesRecorded_ += Buffer->dwBytesRecorded;
  bool reached = false;
  if (maxRecordTime_ > 0 && bytesRecorded_ >= maxRecordBytes_) {
    const int64_t excess = bytesRecorded_ - maxRecordBytes_;
    Buffer->dwBytesRecorded -=
        static_cast<uint32_t>(std::min<int64_t>(excess, Buffer->dwBytesRecorded));
    bytesRecorded_ = maxRecordBytes_;
    reached = true;
  }
  TMMCustomSoundComponent::BufferReady(Buffer);
  if (reached) Stop();
}

// Stop -----------------------------------------------------------------------------------------

void TMMCustomWaveIn::Stop() {
  if (!HasState(dsStarted) && !HasState(dsPaused)) return;
  try {
    Lock();
    try {
      stopping_ = true;
      Check(driver_->Stop(handle_), "WaveInStop:\n\r");
      resetting_ = true;
      Check(driver_->Reset(handle_), "WaveInReset:\n\r");
    } catch (...) {
      Unlock();
      throw;
    }
    Unlock();
    if (deliveryDepth_ == 0) {
      const bool pump = callBackMode_ == cmWindow;
      WaitSteps(
          [this] {
            Lock();
            const bool empty = queuedCount_ <= 0;
            Unlock();
            return empty;
          },
          pump);
    }
    Stopped();
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMCustomWaveIn::Stopped() {
  if (!HasState(dsStarted) && !HasState(dsPaused)) return;
  if (deliveryDepth_ > 0) {
    stopPending_ = true;
    return;
  }
  deviceState_ &= static_cast<uint8_t>(~(dsStarted | dsPaused));
  queuedCount_ = 0;
  stopPending_ = false;
  TMMCustomSoundComponent::Stopped();
  if (!IsDestroying() && OnStop) OnStop(this);
  if (closePending_) Close();
}

// Pause and restart --------------------------------------------------------------------------

void TMMCustomWaveIn::Pause() {
  if (!HasState(dsOpen)) Open();
  if (!HasState(dsOpen) || HasState(dsPaused)) return;
  try {
    if (HasState(dsStarted)) Check(driver_->Stop(handle_), "WaveInPause:\n\r");
    Paused();
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMCustomWaveIn::Paused() {
  deviceState_ |= dsPaused;
  TMMCustomSoundComponent::Paused();
  if (OnPause) OnPause(this);
}

void TMMCustomWaveIn::Restart() {
  if (!HasState(dsStarted) || !HasState(dsPaused)) return;
  try {
    Check(driver_->Start(handle_), "WaveInRestart:\n\r");
    Restarted();
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMCustomWaveIn::Restarted() {
  deviceState_ &= static_cast<uint8_t>(~dsPaused);
  TMMCustomSoundComponent::Restarted();
  if (OnRestart) OnRestart(this);
}

// Close ----------------------------------------------------------------------------------------

void TMMCustomWaveIn::Close() {
  if (!HasState(dsOpen) || (closing_ && !closePending_)) return;
  try {
    closing_ = true;
    if (HasState(dsStarted) || HasState(dsPaused)) {
      // A stop that fails must not keep the device open: closing goes on without it.
      try {
        Stop();
      } catch (...) {
      }
    }
    if (stopPending_) {
      closePending_ = true;
      return;
    }
    closePending_ = false;
    bool noticeMissing = false;
    std::exception_ptr error;
    if (handle_) {
      driver_->Stop(handle_);
      driver_->Reset(handle_);
      try {
        for (int i = 0; i < numBuffers_; ++i) {
          TMMChainBuffer* b = buffers_[i];
          if (!b) continue;
          volatile uint32_t* flags = &b->dwFlags;
          for (int n = 0; n < 65000 && !(*flags & WHDR_DONE); ++n) {
          }
          if (!(b->dwFlags & WHDR_DONE)) b->dwFlags = WHDR_DONE;
          Check(driver_->UnprepareHeader(handle_, b), "WaveInUnprepareHeader:\n\r");
        }
        Check(driver_->Close(handle_), "WaveInClose:\n\r");
      } catch (...) {
        error = std::current_exception();
      }
      if (!error) noticeMissing = !WaitSteps([this] { return HasState(dsClosed); }, false);
    } else {
      deviceState_ = dsClosed;
    }
    if (error) std::rethrow_exception(error);
    ChainClosed();
    StopDeliveryThread();
    lockActive_ = false;
    ClosedNotification();
    if (noticeMissing) throw EMMWaveInError("WaveInClose:\n\rUnable to close device");
  } catch (...) {
    closing_ = false;
  }
}

void TMMCustomWaveIn::ChainClosed() {
  TMMCustomSoundComponent::Closed();
}

void TMMCustomWaveIn::ClosedNotification() {
  handle_ = 0;
  for (int i = 0; i < kMaxWaveInBuffers; ++i)
    if (buffers_[i]) allocator_.Release(buffers_[i]);
  closing_ = false;
  if (!IsDestroying() && OnClose) OnClose(this);
}

void TMMCustomWaveIn::Closed() {
  ChainClosed();
  ClosedNotification();
}

// Notices and messages ---------------------------------------------------------------------

void TMMCustomWaveIn::CaptureNotify(HWAVEIN handle, CaptureNotice notice, WAVEHDR* hdr) {
  switch (notice) {
    case CaptureNotice::Open:
      deviceState_ = dsOpen;
      return;
    case CaptureNotice::Close:
      deviceState_ = dsClosed;
      return;
    case CaptureNotice::Data:
      break;
  }
  switch (callBackMode_) {
    case cmWindow:
      window_->Post(MM_WIM_DATA, handle, reinterpret_cast<intptr_t>(hdr));
      break;
    case cmThread:
      if (thread_) thread_->Post(MM_WIM_DATA, handle, reinterpret_cast<intptr_t>(hdr));
      break;
    case cmCallback:
      if (handle != handle_) return;
      try {
        BufferDone(hdr);
      } catch (const std::exception& e) {
        Close();
        ShowApplicationError(e.what());
      } catch (...) {
        Close();
        ShowApplicationError("Unknown error");
      }
      break;
  }
}

void TMMCustomWaveIn::CaptureFaultNotify(HWAVEIN handle, CaptureFault fault, uint64_t frames) {
  // Told on the user-interface thread, whatever the delivery route: the handlers report.
  uint32_t msg = MM_WIM_OVERRUN;
  if (fault == CaptureFault::DeviceLost) msg = MM_WIM_DEVICE_LOST;
  if (fault == CaptureFault::DeviceBack) msg = MM_WIM_DEVICE_BACK;
  if (window_) window_->Post(msg, handle, static_cast<intptr_t>(frames));
}

bool TMMCustomWaveIn::WindowProc(const WindowMessage& m) {
  if (m.wParam != handle_ || handle_ == 0) return false;
  try {
    switch (m.msg) {
      case MM_WIM_OVERRUN:
        if (OnDeviceFault) OnDeviceFault(this, dfOverrun, static_cast<uint64_t>(m.lParam));
        return true;
      case MM_WIM_DEVICE_LOST:
        if (OnDeviceFault) OnDeviceFault(this, dfDeviceLost, 0);
        return true;
      case MM_WIM_DEVICE_BACK:
        if (OnDeviceFault) OnDeviceFault(this, dfDeviceBack, 0);
        return true;
      case MM_WIM_DATA:
        BufferDone(reinterpret_cast<PWaveHdr>(m.lParam));
        return true;
      case DeferredStopMessage:
        Stop();
        return true;
      default:
        return false;
    }
  } catch (const std::exception& e) {
    Close();
    ShowApplicationError(e.what());
  } catch (...) {
    Close();
    ShowApplicationError("Unknown error");
  }
  return true;
}

// Delivery thread ----------------------------------------------------------------------------

void TMMCustomWaveIn::StartDeliveryThread() {
  if (thread_) {  // an earlier thread that ended on an error
    thread_->WaitFor();
    thread_.reset();
  }
  try {
    thread_ = std::make_unique<TMMWaveInThread>(this);
  } catch (...) {
    RaiseError("WaveIn:\n\rCould not create thread");
  }
  thread_->SetPriority(priority_);
  thread_->Resume();
  if (!thread_->WaitReady(5000)) RaiseError("WaveIn:\n\rCould not create thread");
}

void TMMCustomWaveIn::StopDeliveryThread() {
  if (!thread_ || thread_->IsCurrentThread()) return;
  if (!thread_->Dead()) {
    thread_->SignalTerminate();
    thread_->WaitDone(5000);
  }
  thread_->WaitFor();
  thread_.reset();
}

void TMMCustomWaveIn::ThreadFailed(const std::string& text) {
  // The thread closes the device itself; the chain does not receive Closed.
  if (HasState(dsOpen)) {
    closing_ = true;
    try {
      Stop();
    } catch (...) {
    }
    if (handle_) {
      for (int i = 0; i < numBuffers_; ++i)
        if (buffers_[i]) {
          buffers_[i]->dwFlags |= WHDR_DONE;
          driver_->UnprepareHeader(handle_, buffers_[i]);
        }
      driver_->Close(handle_);
    }
    lockActive_ = false;
    ClosedNotification();
  }
  ShowApplicationError(text);
}

TMMWaveInThread::TMMWaveInThread(TMMCustomWaveIn* owner) : TMMDSPThread(owner) {}

TMMWaveInThread::~TMMWaveInThread() {
  SignalTerminate();
  WaitFor();
}

void TMMWaveInThread::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> lk(m_);
    queue_.Push({msg, wParam, lParam});
  }
  cv_.notify_all();
}

void TMMWaveInThread::SignalTerminate() {
  {
    std::lock_guard<std::mutex> lk(m_);
    terminate_ = true;
  }
  cv_.notify_all();
}

bool TMMWaveInThread::WaitReady(int timeoutMs) {
  std::unique_lock<std::mutex> lk(m_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return ready_; });
}

bool TMMWaveInThread::WaitDone(int timeoutMs) {
  std::unique_lock<std::mutex> lk(m_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

void TMMWaveInThread::Execute() {
  {
    std::lock_guard<std::mutex> lk(m_);
    ready_ = true;
  }
  cv_.notify_all();
  TMMCustomWaveIn* w = Owner();
  try {
    for (;;) {
      WindowMessage m{};
      {
        std::unique_lock<std::mutex> lk(m_);
        cv_.wait(lk, [this] { return terminate_ || !queue_.Empty(); });
        if (!queue_.Pop(m)) break;  // terminate with nothing waiting
      }
      if (m.msg == MM_WIM_DATA && m.wParam == w->handle_)
        w->BufferDone(reinterpret_cast<PWaveHdr>(m.lParam));
    }
  } catch (const std::exception& e) {
    dead_ = true;
    w->ThreadFailed(e.what());
  } catch (...) {
    dead_ = true;
    w->ThreadFailed("Unknown error");
  }
  {
    std::lock_guard<std::mutex> lk(m_);
    done_ = true;
  }
  cv_.notify_all();
}
