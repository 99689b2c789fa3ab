#pragma once
// One opening of a recording device: the queue of buffers handed to the device, the filling
// of the front buffer from a source of captured audio, and the return of buffers through the
// client's Data notice. Shared by the real and the simulated backends.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/CaptureBackend.h"
#include "platform/FixedRing.h"

// Where the captured bytes come from.
class CaptureSource {
 public:
  virtual ~CaptureSource() = default;
  // Begins capturing; MMSYSERR_NOERROR or a result code.
  virtual MMRESULT Begin() = 0;
  // Halts capturing; audio the source has not handed out yet may be dropped.
  virtual void Halt() = 0;
  // Copies up to `bytes` captured bytes to dst, waiting at most timeoutMs for some to arrive.
  // Returns the count (0 when nothing arrived), or a negative value on a device error.
  virtual long Read(char* dst, uint32_t bytes, int timeoutMs) = 0;
  // From another thread: a Read that waits returns at once (a stop is coming).
  virtual void Interrupt() {}
  // Frames the device dropped in overruns since the last call.
  virtual uint64_t TakeOverrunFrames() { return 0; }
  // After a device error: opens the device again and begins capturing; false while it
  // cannot.
  virtual bool Reopen() { return false; }
};

class CaptureStream {
 public:
  static constexpr size_t kMaxBuffers = 512;
  // A failed device is tried again this often.
  static constexpr int kReopenEveryMs = 3000;
  // The longest a capture thread waits for audio before it looks again; a stop interrupts
  // the wait, so it costs no latency, and the thread wakes no more often than audio comes.
  static constexpr int kReadWaitMs = 250;

  // threaded: a capture thread of the stream fills buffers and sends the Data notices;
  // otherwise the caller steps the stream with Pump.
  CaptureStream(HWAVEIN handle, CaptureClient* client, std::unique_ptr<CaptureSource> source,
                bool threaded);
  ~CaptureStream();

  HWAVEIN Handle() const { return handle_; }
  MMRESULT AddBuffer(WAVEHDR* hdr);
  MMRESULT Start();
  MMRESULT Stop();
  MMRESULT Reset();
  // Ends the capture thread after it has sent every pending notice. STILLPLAYING while
  // buffers are still queued.
  MMRESULT Close();
  // Unthreaded streams: fills queued buffers with what the source has and sends the notices
  // on the calling thread. Returns the bytes moved.
  size_t Pump();
  size_t QueuedBuffers();
  CaptureSource& Source() { return *source_; }
  bool OnOwnThread() const { return thread_.get_id() == std::this_thread::get_id(); }

 private:
  void ThreadLoop();
  // Halts capture and waits until the capture thread is out of the source. Lock held.
  void HaltLocked(std::unique_lock<std::mutex>& lk);
  void ReturnFrontLocked();
  // Sends the Data notices of returned buffers, without the lock held while notifying.
  void FlushLocked(std::unique_lock<std::mutex>& lk);
  void Wake();
  // Tells the client of overruns the source saw. Lock not held.
  void ReportOverruns();
  // After a device error, the capture thread reopens the device every kReopenEveryMs.
  // Lock held on entry and exit.
  void RecoverLocked(std::unique_lock<std::mutex>& lk);

  const HWAVEIN handle_;
  CaptureClient* const client_;
  std::unique_ptr<CaptureSource> source_;
  const bool threaded_;

  std::mutex m_;
  std::condition_variable cv_;
  FixedRing<WAVEHDR*, kMaxBuffers> queue_;
  FixedRing<WAVEHDR*, kMaxBuffers> done_;
  bool running_ = false;
  bool busy_ = false;
  bool quit_ = false;
  bool flushing_ = false;
  bool lost_ = false;  // the device failed; capture thread only
  std::thread thread_;
};
