#include "platform/CaptureBackend.h"

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
