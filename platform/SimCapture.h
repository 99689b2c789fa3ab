#pragma once
// Simulated recording devices for the tests: each produces a known signal (a counter ramp, a
// tone, or the samples of a WAV file) either paced in real time, through a ring like a real
// device's, or stepped by the test, so that every captured byte can be checked.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CaptureBackend.h"
#include "platform/CaptureStream.h"
#include "platform/StreamCaptureBackend.h"

enum class SimSignal { Ramp, Tone, WavFile };

struct SimDeviceConfig {
  std::string name = "Simulated input";
  uint32_t formats = WAVE_FORMAT_ALL_STANDARD;
  SimSignal signal = SimSignal::Ramp;
  double toneHz = 1000.0;
  double toneAmplitude = 0.5;  // of full scale
  std::string wavPath;         // WavFile: 16-bit or 8-bit PCM; silence after its end
  // Paced devices produce audio at `speed` times real time on a capture thread and keep at
  // most ringMs of it while no buffer is queued; stepped devices produce only what Step gives.
  bool paced = false;
  double speed = 1.0;
  uint32_t ringMs = 2000;
  // Paced devices: the signal position follows real time since the backend was created, so
  // that what plays while the device is closed is missed, as with a live input. Otherwise
  // the signal starts again at each opening.
  bool continuous = false;
  // Failure injection. While *unplugged is true the device fails as a pulled USB card does:
  // reads fail and it cannot be opened again; set back to false, it can be reopened.
  std::shared_ptr<std::atomic<bool>> unplugged;
  MMRESULT openResult = MMSYSERR_NOERROR;
  MMRESULT queryResult = MMSYSERR_NOERROR;
  MMRESULT prepareResult = MMSYSERR_NOERROR;
  MMRESULT addBufferResult = MMSYSERR_NOERROR;
  MMRESULT startResult = MMSYSERR_NOERROR;
  MMRESULT stopResult = MMSYSERR_NOERROR;
  MMRESULT capsResult = MMSYSERR_NOERROR;
  bool sendOpenNotice = true;
  bool sendCloseNotice = true;
};

class SimCaptureBackend : public StreamCaptureBackend {
 public:
  SimCaptureBackend();
  explicit SimCaptureBackend(std::vector<SimDeviceConfig> devices);
  ~SimCaptureBackend() override;

  // Devices 0..n-1; the mapper (-1) is device 0 under the name "Simulated mapper".
  std::vector<SimDeviceConfig>& Devices() { return devices_; }

  uint32_t GetNumDevs() override;
  MMRESULT GetDevCaps(TMMDeviceId id, WAVEINCAPS* caps) override;
  MMRESULT GetErrorText(MMRESULT error, char* text, uint32_t size) override;
  MMRESULT Open(HWAVEIN* handle, TMMDeviceId id, const WAVEFORMATEX* format, CaptureClient* client,
                uint32_t flags) override;

  // Stepped devices: the device captures `bytes` more bytes and fills the queued buffers with
  // what it holds, returning them on this thread. Returns the bytes moved into buffers.
  size_t Step(HWAVEIN handle, uint32_t bytes);
  // The open handle of a device, or 0.
  using StreamCaptureBackend::HandleOf;
  // Bytes a paced device lost because no buffer was queued for longer than its ring holds.
  uint64_t LostBytes(HWAVEIN handle);
  size_t QueuedBuffers(HWAVEIN handle);

 protected:
  MMRESULT Refusal(TMMDeviceId id, Operation op) override;

 private:
  const SimDeviceConfig* Config(TMMDeviceId id) const;

  std::vector<SimDeviceConfig> devices_;
  const std::chrono::steady_clock::time_point created_ = std::chrono::steady_clock::now();
};
