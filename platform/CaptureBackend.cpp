#include "platform/CaptureBackend.h"

#include <cstring>

bool CommonCaptureErrorText(MMRESULT error, const char*& text) {
  switch (error) {
    case MMSYSERR_NOERROR:
      text = "The command was carried out.";
      return true;
    case MMSYSERR_ERROR:
      text = "Undefined external error.";
      return true;
    case MMSYSERR_BADDEVICEID:
      text = "A device ID has been used that is out of range for your system.";
      return true;
    case MMSYSERR_ALLOCATED:
      text = "The specified device is already in use.  Wait until it is free, and then try again.";
      return true;
    case MMSYSERR_INVALHANDLE:
      text = "The specified device handle is invalid.";
      return true;
    case MMSYSERR_NODRIVER:
      text = "There is no driver installed on your system.";
      return true;
    case MMSYSERR_NOMEM:
      text =
          "There is not enough memory available for this task.  Quit one or more applications to "
          "increase available memory, and then try again.";
      return true;
    case MMSYSERR_INVALPARAM:
      text = "An invalid parameter was passed to a system function.";
      return true;
    case WAVERR_BADFORMAT:
      text =
          "The specified format is not supported or cannot be translated.  Use the Capabilities "
          "function to determine the supported formats.";
      return true;
    case WAVERR_STILLPLAYING:
      text =
          "Cannot perform this operation while media data is still playing.  Reset the device, or "
          "wait until the data is finished playing.";
      return true;
    case WAVERR_UNPREPARED:
      text =
          "The wave header was not prepared.  Use the Prepare function to prepare the header, and "
          "then try again.";
      return true;
    default:
      return false;
  }
}

namespace {

class NoDevices final : public CaptureBackend {
 public:
  uint32_t GetNumDevs() override { return 0; }
  MMRESULT GetDevCaps(TMMDeviceId, WAVEINCAPS*) override { return MMSYSERR_BADDEVICEID; }
  MMRESULT GetErrorText(MMRESULT error, char* text, uint32_t size) override {
    const char* t = nullptr;
    if (!text || size == 0 || !CommonCaptureErrorText(error, t)) return MMSYSERR_INVALPARAM;
    std::strncpy(text, t, size - 1);
    text[size - 1] = 0;
    return MMSYSERR_NOERROR;
  }
  MMRESULT Open(HWAVEIN*, TMMDeviceId, const WAVEFORMATEX*, CaptureClient*, uint32_t) override {
    return MMSYSERR_BADDEVICEID;
  }
  MMRESULT PrepareHeader(HWAVEIN, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT UnprepareHeader(HWAVEIN, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT AddBuffer(HWAVEIN, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT Start(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT Stop(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT Reset(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT Close(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
};

}  // namespace

CaptureBackend& NoCaptureDevices() {
  static NoDevices none;
  return none;
}
