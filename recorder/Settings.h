#pragma once
// The recorder's settings as loaded from cfg.ini: the general values and one record per
// station, all kept as the text read and converted where they are used.

#include <array>
#include <string>

#include "common/PrivateProfile.h"
#include "common/Settings.h"

class TMMWaveIn;
class TMMVolume;
class TMMConnector;
class TMMMP3Encoder;

struct StationSettings {
  std::string Placa;
  std::string Local;
  std::string Copia;
  std::string LocalCopia;
  std::string Controle;
  std::string Canal;
  std::string Emissoras;
  // The station's chain, bound at load.
  TMMWaveIn* WaveIn = nullptr;
  TMMVolume* Volume = nullptr;
  TMMConnector* Connector = nullptr;
  TMMMP3Encoder* Encoder = nullptr;
  // False when the station's settings could not be applied to its chain: it does not record.
  bool Configured = false;
};

// Device number from "Placa", panning from "Canal"; raises EConvertError for text that is not
// a number, naming the key of station `number` (1-based) when one is given.
void ConfigureStationChain(StationSettings& station, int number = 0);
