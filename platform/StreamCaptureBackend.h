#pragma once
// What the capture backends share: their openings, each a capture stream over a source of the
// backend's own kind, found by handle, with the buffer, start, stop, reset and close operations
// that only pass to the stream. A backend adds its devices and how it opens them.

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/CaptureBackend.h"
#include "platform/CaptureStream.h"

// Handles are unique across all backends of the process.
HWAVEIN NextCaptureHandle();

class StreamCaptureBackend : public CaptureBackend {
 public:
  ~StreamCaptureBackend() override;

  MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* hdr) override;
  MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* hdr) override;
  MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* hdr) override;
  MMRESULT Start(HWAVEIN handle) override;
  MMRESULT Stop(HWAVEIN handle) override;
  MMRESULT Reset(HWAVEIN handle) override;
  MMRESULT Close(HWAVEIN handle) override;

  // Openings made so far.
  int OpenCount();

 protected:
  enum class Operation { Prepare, AddBuffer, Start, Stop };

  // A new opening of device `id`: a stream over `source`, with a capture thread of its own or
  // stepped by the caller. The client is told that it opened, unless openNotice is false.
  HWAVEIN AddOpening(std::unique_ptr<CaptureSource> source, CaptureClient* client, TMMDeviceId id,
                     bool threaded, bool openNotice = true, bool closeNotice = true);
  // The result an operation on device `id` is refused with; none by default.
  virtual MMRESULT Refusal(TMMDeviceId /*id*/, Operation /*op*/) { return MMSYSERR_NOERROR; }
  // The stream reads no more from its source: the device may go, before the close notice.
  virtual void Released(CaptureSource& /*source*/) {}
  // The stream of an open handle, or none.
  CaptureStream* StreamOf(HWAVEIN handle);
  // The open handle of a device, or 0.
  HWAVEIN HandleOf(TMMDeviceId id);
  // Device of an open handle; false for none.
  bool DeviceOf(HWAVEIN handle, TMMDeviceId& id);

 private:
  struct Opening {
    std::unique_ptr<CaptureStream> stream;
    CaptureClient* client = nullptr;
    TMMDeviceId id = 0;
    bool closeNotice = true;
  };
  Opening* Find(HWAVEIN handle);

  std::mutex m_;
  std::map<HWAVEIN, std::unique_ptr<Opening>> open_;
  // Streams closed from a notice on their own thread, which still has to unwind.
  std::vector<std::unique_ptr<CaptureStream>> graveyard_;
  int openCount_ = 0;
};
