#include "common/Settings.h"

#include <cstdlib>

std::string DefaultStationFolder() {
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "") + "/Kravo/Tralven/Audios/Emissora1";
}

std::string StationKey(int number) {
  return "R" + std::to_string(number);
}

void WriteDefaultConfiguration(PrivateProfile& ini) {
  ini.WriteString("Gravacao", "Formato", "4");
  ini.WriteString("Geral", "AutoGravar", "S");
  ini.WriteString("Geral", "MB Livres", "200");
  ini.WriteString("Geral", "DiasRec", "30");
  ini.WriteString("Geral", "TempoRec", "10");
  ini.WriteString("Geral", "Prioridade", "N");
  ini.WriteString("Geral", "Emissoras", "1");
  ini.WriteString("Local", "R1", DefaultStationFolder());
  ini.WriteString("Placa", "R1", "0");
  ini.WriteString("Controle", "R1", "0");
  ini.WriteString("Canal", "R1", "0");
  ini.WriteString("Copia", "R1", "N");
  ini.WriteString("LocalCopia", "R1", "");
  ini.WriteString("Emissoras", "R1", "");
}

std::string StationListName(const std::string& name, int number) {
  if (!name.empty()) return name;
  return "Emissora " + std::to_string(number);
}

std::string NormalizeStationName(const std::string& text) {
  static const char* const kPairs[][2] = {
      {"à", "a"}, {"â", "a"}, {"á", "a"}, {"ã", "a"}, {"Ã", "A"}, {"Á", "A"}, {"Â", "A"},
      {"À", "A"}, {"é", "e"}, {"ê", "e"}, {"Ê", "E"}, {"É", "E"}, {"í", "i"}, {"Í", "I"},
      {"õ", "o"}, {"ô", "o"}, {"ó", "o"}, {"Õ", "O"}, {"Ó", "O"}, {"Ô", "O"}, {"ú", "u"},
      {"ü", "u"}, {"Ú", "U"}, {"Ü", "U"}, {"ç", "c"}, {"Ç", "C"}, {"º", "o"}, {"ª", "a"},
  };
  std::string s = text;
  for (const auto& p : kPairs) {
    const std::string from = p[0];
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
      s.replace(at, from.size(), p[1]);
  }
  return s;
}
