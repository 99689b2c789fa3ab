#pragma once
// The recording-device interface the wave input drives: device count and capabilities,
// open (also query-only) with a notification client, buffer preparation and queueing,
// start, stop, reset, close and error texts; and the three notices opened, closed and
// buffer done.

#include <cstdint>

#include "platform/MMSystem.h"

struct WAVEINCAPS {
  char szPname[32];    // device name, at most 31 characters, zero-terminated
  uint32_t dwFormats;  // mask of the standard formats the device records
  uint16_t wChannels;
};

// A handle names one opening of a device; handles are never reused within a process, so a
// notice that arrives late for an earlier opening can be told apart.
using HWAVEIN = uintptr_t;

enum class CaptureNotice { Open, Close, Data };

// Faults of a running capture, told once each: an overrun (audio the device dropped, with the
// number of frames), the device failing or going away, and the device capturing again after
// the stream reopened it by itself.
enum class CaptureFault { Overrun, DeviceLost, DeviceBack };

// Receives the notices. Open and Close arrive on the thread that calls Open and Close; Data
// (a returned buffer, with WHDR_DONE set and dwBytesRecorded filled) arrives on the
// backend's delivery thread, or on the stepping thread of a stepped simulated device.
class CaptureClient {
 public:
  virtual ~CaptureClient() = default;
  virtual void CaptureNotify(HWAVEIN handle, CaptureNotice notice, WAVEHDR* hdr) = 0;
  // On the thread that captures; must neither block nor allocate.
  virtual void CaptureFaultNotify(HWAVEIN /*handle*/, CaptureFault /*fault*/, uint64_t /*frames*/) {
  }
};

class CaptureBackend {
 public:
  virtual ~CaptureBackend() = default;
  virtual uint32_t GetNumDevs() = 0;
  // id -1 addresses the mapper.
  virtual MMRESULT GetDevCaps(TMMDeviceId id, WAVEINCAPS* caps) = 0;
  // Text for a result code into `text` (at most size - 1 characters); non-zero for an unknown code.
  virtual MMRESULT GetErrorText(MMRESULT error, char* text, uint32_t size) = 0;
  // With WAVE_FORMAT_QUERY in flags only asks whether the format can be recorded; no handle.
  virtual MMRESULT Open(HWAVEIN* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                        CaptureClient* client, uint32_t flags) = 0;
  virtual MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* hdr) = 0;
  virtual MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* hdr) = 0;
  virtual MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* hdr) = 0;
  virtual MMRESULT Start(HWAVEIN handle) = 0;
  // Halts capture; the buffer being filled comes back with the bytes it holds.
  virtual MMRESULT Stop(HWAVEIN handle) = 0;
  // Halts capture; every queued buffer comes back.
  virtual MMRESULT Reset(HWAVEIN handle) = 0;
  virtual MMRESULT Close(HWAVEIN handle) = 0;
};

// Texts of the common result codes; false for a code it does not know.
bool CommonCaptureErrorText(MMRESULT error, const char*& text);

// A backend without devices: what a wave input records from when it is given none.
CaptureBackend& NoCaptureDevices();
