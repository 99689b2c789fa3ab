#include "platform/CaptureStream.h"

#include <chrono>

CaptureStream::CaptureStream(HWAVEIN handle, CaptureClient* client,
                             std::unique_ptr<CaptureSource> source, bool threaded)
    : handle_(handle), client_(client), source_(std::move(source)), threaded_(threaded) {
  if (threaded_) thread_ = std::thread([this] { ThreadLoop(); });
}

CaptureStream::~CaptureStream() {
  {
    std::unique_lock<std::mutex> lk(m_);
    quit_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) {
    if (OnOwnThread())
      thread_.detach();  // only at process teardown; the backend keeps such streams alive
    else
      thread_.join();
  }
}

MMRESULT CaptureStream::AddBuffer(WAVEHDR* hdr) {
  if (!hdr || !hdr->lpData) return MMSYSERR_INVALPARAM;
  if (!(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  {
    std::lock_guard<std::mutex> lk(m_);
    hdr->dwFlags &= ~WHDR_DONE;
    hdr->dwBytesRecorded = 0;
    if (!queue_.Push(hdr)) return MMSYSERR_NOMEM;
  }
  Wake();
  return MMSYSERR_NOERROR;
}

MMRESULT CaptureStream::Start() {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!running_) {
      const MMRESULT r = source_->Begin();
      if (r != MMSYSERR_NOERROR) return r;
      running_ = true;
    }
  }
  Wake();
  return MMSYSERR_NOERROR;
}

void CaptureStream::HaltLocked(std::unique_lock<std::mutex>& lk) {
  const bool wasRunning = running_;
  running_ = false;
  if (busy_) source_->Interrupt();
  cv_.wait(lk, [this] { return !busy_; });
  if (wasRunning) source_->Halt();
}

void CaptureStream::ReturnFrontLocked() {
  WAVEHDR* h = nullptr;
  if (!queue_.Pop(h)) return;
  h->dwFlags |= WHDR_DONE;
  done_.Push(h);
}

MMRESULT CaptureStream::Stop() {
  std::unique_lock<std::mutex> lk(m_);
  HaltLocked(lk);
  if (!queue_.Empty() && queue_.Front()->dwBytesRecorded > 0) ReturnFrontLocked();
  if (threaded_) {
    cv_.notify_all();
  } else {
    FlushLocked(lk);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT CaptureStream::Reset() {
  std::unique_lock<std::mutex> lk(m_);
  HaltLocked(lk);
  while (!queue_.Empty()) ReturnFrontLocked();
  if (threaded_) {
    cv_.notify_all();
  } else {
    FlushLocked(lk);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT CaptureStream::Close() {
  {
    std::unique_lock<std::mutex> lk(m_);
    if (!queue_.Empty()) return WAVERR_STILLPLAYING;
    HaltLocked(lk);
    quit_ = true;
    if (!threaded_) FlushLocked(lk);
  }
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  return MMSYSERR_NOERROR;
}

size_t CaptureStream::QueuedBuffers() {
  std::lock_guard<std::mutex> lk(m_);
  return queue_.Size();
}

void CaptureStream::FlushLocked(std::unique_lock<std::mutex>& lk) {
  // A notice may re-enter (a client queueing the buffer again, or stopping): the outer flush
  // keeps the order, the inner one returns at once.
  if (flushing_) return;
  flushing_ = true;
  WAVEHDR* h = nullptr;
  while (done_.Pop(h)) {
    lk.unlock();
    client_->CaptureNotify(handle_, CaptureNotice::Data, h);
    lk.lock();
  }
  flushing_ = false;
}

void CaptureStream::Wake() {
  cv_.notify_all();
}

size_t CaptureStream::Pump() {
  std::unique_lock<std::mutex> lk(m_);
  size_t moved = 0;
  if (lost_ && running_ && source_->Reopen()) {
    lost_ = false;
    lk.unlock();
    client_->CaptureFaultNotify(handle_, CaptureFault::DeviceBack, 0);
    lk.lock();
  }
  bool failed = false;
  while (running_ && !lost_ && !queue_.Empty()) {
    WAVEHDR* h = queue_.Front();
    const long n =
        source_->Read(h->lpData + h->dwBytesRecorded, h->dwBufferLength - h->dwBytesRecorded, 0);
    if (n < 0) failed = lost_ = true;
    if (n <= 0) break;
    h->dwBytesRecorded += static_cast<uint32_t>(n);
    moved += static_cast<size_t>(n);
    if (h->dwBytesRecorded >= h->dwBufferLength) ReturnFrontLocked();
  }
  lk.unlock();
  ReportOverruns();
  if (failed) client_->CaptureFaultNotify(handle_, CaptureFault::DeviceLost, 0);
  lk.lock();
  FlushLocked(lk);
  return moved;
}

void CaptureStream::ReportOverruns() {
  const uint64_t frames = source_->TakeOverrunFrames();
  if (frames > 0) client_->CaptureFaultNotify(handle_, CaptureFault::Overrun, frames);
}

void CaptureStream::RecoverLocked(std::unique_lock<std::mutex>& lk) {
  // Not more often than this: a missing device must not be hammered. A stop or a close ends
  // the wait.
  cv_.wait_for(lk, std::chrono::milliseconds(kReopenEveryMs),
               [this] { return quit_ || !running_; });
  if (quit_ || !running_) return;
  busy_ = true;
  lk.unlock();
  const bool back = source_->Reopen();
  lk.lock();
  busy_ = false;
  cv_.notify_all();
  if (!back) return;
  lost_ = false;
  lk.unlock();
  client_->CaptureFaultNotify(handle_, CaptureFault::DeviceBack, 0);
  lk.lock();
}

void CaptureStream::ThreadLoop() {
  std::unique_lock<std::mutex> lk(m_);
  for (;;) {
    FlushLocked(lk);
    if (quit_) break;
    if (!running_ || queue_.Empty()) {
      cv_.wait_for(lk, std::chrono::milliseconds(50),
                   [this] { return quit_ || !done_.Empty() || (running_ && !queue_.Empty()); });
      continue;
    }
    if (lost_) {
      // The queued buffers wait for the device: what it captures after its return goes on
      // behind what it captured before.
      RecoverLocked(lk);
      continue;
    }
    WAVEHDR* h = queue_.Front();
    busy_ = true;
    lk.unlock();
    const long n = source_->Read(h->lpData + h->dwBytesRecorded,
                                 h->dwBufferLength - h->dwBytesRecorded, kReadWaitMs);
    ReportOverruns();
    lk.lock();
    busy_ = false;
    cv_.notify_all();
    if (n > 0) {
      h->dwBytesRecorded += static_cast<uint32_t>(n);
      if (h->dwBytesRecorded >= h->dwBufferLength) ReturnFrontLocked();
    } else if (n < 0) {
      // A device error the source could not recover from by itself.
      lost_ = true;
      lk.unlock();
      client_->CaptureFaultNotify(handle_, CaptureFault::DeviceLost, 0);
      lk.lock();
    }
  }
}
