#include "recorder/Settings.h"

#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "common/Convert.h"

void ConfigureStationChain(StationSettings& station, int number) {
  const auto convert = [number](const std::string& text, const char* section) {
    return number > 0 ? StrToInt(text, section, StationKey(number)) : StrToInt(text);
  };
  const int device = convert(station.Placa, "Placa");
  const int channel = convert(station.Canal, "Canal");
  if (station.WaveIn) station.WaveIn->SetDeviceID(device);
  if (!station.Volume) return;
  switch (channel) {
    case 0:
      station.Volume->SetPanning(-16384);  // left only
      break;
    case 1:
      station.Volume->SetPanning(16384);  // right only
      break;
    case 2:
      station.Volume->SetPanning(0);
      break;
    default:
      break;  // left as it was
  }
}
