#pragma once
// What both programs know of cfg.ini: the stations' keys, the defaults of a new file, and the
// names the station lists show.

#include <string>

#include "common/PrivateProfile.h"

constexpr int kMaxStations = 8;

// The recorder's general settings as read: text, converted where they are used.
struct RecorderSettings {
  std::string Formato;
  std::string AutoGravar;
  std::string MBLivres;
  std::string DiasRec;
  std::string TempoRec;
  std::string Prioridade;
};

// The key of station n (1-based): "R1".."R8".
std::string StationKey(int number);
// The station folder written into a new cfg.ini: the same tail under the user's home folder.
std::string DefaultStationFolder();
// Writes the default keys, in order, creating the file.
void WriteDefaultConfiguration(PrivateProfile& ini);
// A station's entry in a station list: its name, or "Emissora " and its number (1-based).
std::string StationListName(const std::string& name, int number);
// Accented letters replaced by plain ones (UTF-8 text).
std::string NormalizeStationName(const std::string& text);
