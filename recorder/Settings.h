#pragma once
// The recorder's settings as loaded from cfg.ini: the general values and one record per
// station, all kept as the text read and converted where they are used.

#include <array>
#include <string>

#include "platform/PrivateProfile.h"

class TMMWaveIn;
class TMMVolume;
class TMMConnector;
class TMMMP3Encoder;

constexpr int kMaxStations = 8;

struct RecorderSettings {
  std::string Formato;
  std::string AutoGravar;
  std::string MBLivres;
  std::string DiasRec;
  std::string TempoRec;
  std::string Prioridade;
};

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

// The station folder written into a new cfg.ini: the same tail under the user's home folder.
std::string DefaultStationFolder();
// Writes the default keys, in order, creating the file.
void WriteDefaultConfiguration(PrivateProfile& ini);
// Device number from "Placa", panning from "Canal"; raises EConvertError for text that is not
// a number, naming the key of station `number` (1-based) when one is given.
void ConfigureStationChain(StationSettings& station, int number = 0);
// The station's entry in the station list: its name, or "Emissora " and its number (1-based).
std::string StationListName(const StationSettings& station, int number);
// Accented letters replaced by plain ones (UTF-8 text).
std::string NormalizeStationName(const std::string& text);
// The key of station n (1-based): "R1".."R8".
std::string StationKey(int number);
