#pragma once
// The real ALSA devices over a private sound server, as the programs see them: the daemon, this
// process's ALSA plugins pointed at it, and the capture and mixer backends installed as the
// device layer until the end of the scope.

#include <cstdlib>

#include "PulseDaemon.h"
#include "platform/AlsaCapture.h"
#include "platform/AlsaMixer.h"
#include "platform/DeviceLayer.h"

namespace pulse_test {

class PulseDevices {
 public:
  PulseDevices() { SetDeviceLayer(&layer); }
  ~PulseDevices() { SetDeviceLayer(nullptr); }
  PulseDevices(const PulseDevices&) = delete;
  PulseDevices& operator=(const PulseDevices&) = delete;

  // The device number of the `pulse` PCM, or -1.
  int PulsePcm() {
    const auto list = devices.Devices();
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i].pcm == "pulse") return static_cast<int>(i);
    return -1;
  }

  PulseDaemon pulse;

 private:
  struct ServerVariable {
    explicit ServerVariable(const PulseDaemon& p) { setenv("PULSE_SERVER", p.Server().c_str(), 1); }
    ~ServerVariable() { unsetenv("PULSE_SERVER"); }
  } server_{pulse};

 public:
  AlsaCaptureBackend devices;
  AlsaMixerBackend mixers{devices};
  BackendDeviceLayer layer{devices, mixers};
};

}  // namespace pulse_test
