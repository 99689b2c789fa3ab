// Prints the recording devices with the numbers a station's "Placa" setting uses.

#include <cstdio>

#include "platform/AlsaCapture.h"

int main() {
  AlsaCaptureBackend backend;
  const auto devices = backend.Devices();
  if (devices.empty()) std::printf("No recording device found.\n");
  for (size_t i = 0; i < devices.size(); ++i)
    std::printf("%2zu  %-31s  (ALSA %s)\n", i, devices[i].name.c_str(), devices[i].pcm.c_str());
  std::printf("-1  ALSA default device\n");
  return 0;
}
