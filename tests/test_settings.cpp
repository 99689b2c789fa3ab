// The recorder's settings: cfg.ini as the recorder writes and reads it, the station chains it
// configures, the names it lists and normalises, and what it does with values it cannot use.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "audio/MMBlade.h"
#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "common/Convert.h"
#include "common/PrivateProfile.h"
#include "platform/SimCapture.h"
#include "recorder/StationChains.h"
#include "recorder/U_Grava.h"

namespace fs = std::filesystem;

namespace {

// Everything the session tells its window about the settings.
class SettingsView : public TFrmGravarView {
 public:
  std::vector<std::string> messages;
  std::vector<std::string> stationList;
  int stationListCalls = 0;
  int shownIndex = -1, shownLast = -1;
  std::string shownName = "<none>";
  std::string recordingSource = "<none>";
  std::string format;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void SetStationList(const std::vector<std::string>& names) override {
    stationList = names;
    ++stationListCalls;
  }
  void ShowStation(int index, const std::string& name, int lastIndex) override {
    shownIndex = index;
    shownName = name;
    shownLast = lastIndex;
  }
  void SelectRecordingSource(const std::string& controle) override { recordingSource = controle; }
  void SelectCard(const std::string& placa) override { card = placa; }
  std::string card = "<none>";
  void ShowFormat(const std::string& text) override { format = text; }
};

const std::string kBlanks(20, ' ');

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root =
        fs::path(TEST_DATA_DIR) / ("settings_" + std::to_string(getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
    sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(8));
  }
  void TearDown() override {
    frm.reset();
    fs::remove_all(root);
  }

  std::string IniPath() const { return (root / "cfg.ini").string(); }
  void Put(const std::string& bytes) { std::ofstream(IniPath(), std::ios::binary) << bytes; }
  std::string Bytes() const {
    std::ifstream in(IniPath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // A complete file for `stations` stations, each with its own card and both channels.
  std::string Ini(int stations) {
    std::string s =
        "[Gravacao]\r\nFormato=4\r\n[Geral]\r\nAutoGravar=N\r\nMB Livres=200\r\n"
        "DiasRec=30\r\nTempoRec=10\r\nPrioridade=N\r\nEmissoras=" +
        std::to_string(stations) + "\r\n";
    for (int n = 1; n <= stations; ++n) {
      const std::string r = "R" + std::to_string(n);
      s += "[Local]\r\n" + r + "=" + (root / r).string() + "\r\n[Placa]\r\n" + r + "=" +
           std::to_string(n - 1) + "\r\n[Canal]\r\n" + r + "=2\r\n[Controle]\r\n" + r + "=0\r\n";
    }
    return s;
  }
  // The text with its one occurrence of `from` replaced.
  static std::string With(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }
  void Load() {
    frm = std::make_unique<TFrmGravar>(IniPath(), sim.get(), &view);
    frm->LoadConfiguration();
  }

  fs::path root;
  std::unique_ptr<SimCaptureBackend> sim;
  SettingsView view;
  std::unique_ptr<TFrmGravar> frm;
};

TEST_F(SettingsTest, MissingFileGetsTheDefaultTableInOrder) {
  Load();
  const std::string expected =
      "[Gravacao]\r\nFormato=4\r\n"
      "[Geral]\r\nAutoGravar=S\r\nMB Livres=200\r\nDiasRec=30\r\nTempoRec=10\r\n"
      "Prioridade=N\r\nEmissoras=1\r\n"
      "[Local]\r\nR1=" +
      DefaultStationFolder() +
      "\r\n"
      "[Placa]\r\nR1=0\r\n[Controle]\r\nR1=0\r\n[Canal]\r\nR1=0\r\n[Copia]\r\nR1=N\r\n"
      "[LocalCopia]\r\nR1=\r\n[Emissoras]\r\nR1=\r\n";
  EXPECT_EQ(Bytes(), expected);
  EXPECT_TRUE(DefaultStationFolder().ends_with("/Kravo/Tralven/Audios/Emissora1"));
  EXPECT_EQ(DefaultStationFolder().front(), '/');

  // And the recorder starts from it: one station, card 0, line input, left channel.
  EXPECT_TRUE(view.messages.empty());
  ASSERT_EQ(frm->StationCount(), 1);
  StationSettings& s = frm->Station(0);
  EXPECT_TRUE(s.Configured);
  EXPECT_EQ(s.Local, DefaultStationFolder());
  EXPECT_EQ(s.WaveIn->GetDeviceID(), 0);
  EXPECT_EQ(s.Volume->Panning(), -16384);
  EXPECT_EQ(s.Encoder->Bitrate(), br64);
  EXPECT_EQ(frm->Settings().AutoGravar, "S");
  EXPECT_EQ(frm->Settings().DiasRec, "30");
  EXPECT_EQ(frm->Settings().MBLivres, "200");
  EXPECT_EQ(frm->TimerRecord().interval(), 600000);
  EXPECT_FALSE(frm->TimerRecord().isActive());
  EXPECT_EQ(view.format, kBlanks + "MP3: 64 Kbps, Stereo");
  EXPECT_EQ(frm->FormatText(), view.format);
  EXPECT_EQ(view.stationList, std::vector<std::string>{"Emissora 1"});
  EXPECT_EQ(view.shownIndex, 0);
  EXPECT_EQ(view.shownName, "");
  EXPECT_EQ(view.shownLast, 0);
  EXPECT_EQ(view.recordingSource, "0");
  EXPECT_EQ(frm->CurrentStation(), 0);

  // A second load reads the file and leaves it as it is.
  frm.reset();
  Load();
  EXPECT_EQ(Bytes(), expected);
}

TEST_F(SettingsTest, KeysAndSectionsAreReadRegardlessOfCase) {
  Put("[GRAVACAO]\nformato=13\n[geral]\nautogravar=S\nmb livres=50\nDIASREC=7\ntemporec=3\n"
      "PRIORIDADE=N\nemissoras=2\n[local]\nr1=/srv/a\nR2=/srv/b\n[PLACA]\nr1=1\nr2=0\n"
      "[canal]\nR1=1\nr2=2\n[COPIA]\nr1=S\n[localcopia]\nR1=/srv/copy\n[controle]\nr1=1\n"
      "[EMISSORAS]\nr2=Dois\n");
  Load();
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(frm->Settings().Formato, "13");
  EXPECT_EQ(frm->Settings().AutoGravar, "S");
  EXPECT_EQ(frm->Settings().MBLivres, "50");
  EXPECT_EQ(frm->Settings().DiasRec, "7");
  EXPECT_EQ(frm->Settings().TempoRec, "3");
  ASSERT_EQ(frm->StationCount(), 2);
  EXPECT_EQ(frm->Station(0).Local, "/srv/a");
  EXPECT_EQ(frm->Station(1).Local, "/srv/b");
  EXPECT_EQ(frm->Station(0).Copia, "S");
  EXPECT_EQ(frm->Station(0).LocalCopia, "/srv/copy");
  EXPECT_EQ(frm->Station(0).Controle, "1");
  EXPECT_EQ(frm->Station(0).WaveIn->GetDeviceID(), 1);
  EXPECT_EQ(frm->Station(1).WaveIn->GetDeviceID(), 0);
  EXPECT_EQ(frm->Station(0).Volume->Panning(), 16384);
  EXPECT_EQ(frm->Station(1).Volume->Panning(), 0);
  EXPECT_EQ(frm->TimerRecord().interval(), 3 * 60000);
  EXPECT_EQ(view.format, kBlanks + "MP3: 320 Kbps, Stereo");
  EXPECT_EQ(view.stationList, (std::vector<std::string>{"Emissora 1", "Dois"}));
  EXPECT_EQ(view.recordingSource, "1");
}

TEST_F(SettingsTest, AccentedTextIsWindows1252InTheFileAndRoundTrips) {
  // As another program wrote it: single bytes.
  Put(Ini(1) +
      "[Emissoras]\r\nR1=R\xE1"
      "dio S\xE3o Jo\xE3o\r\n");
  Load();
  EXPECT_EQ(frm->Station(0).Emissoras, "Rádio São João");
  EXPECT_EQ(view.shownName, "Rádio São João");
  EXPECT_EQ(view.stationList, std::vector<std::string>{"Rádio São João"});

  // Written by us: single bytes again, and read back the same.
  PrivateProfile ini(IniPath());
  ini.WriteString("Emissoras", "R2", "Estúdio Nº 1 – Çé");
  ini.WriteString("Local", "R2", "/srv/Gravações/Emissora Ü");
  EXPECT_NE(Bytes().find("R2=Est\xFA"
                         "dio N\xBA 1 \x96 \xC7\xE9\r\n"),
            std::string::npos);
  EXPECT_NE(Bytes().find("R2=/srv/Grava\xE7\xF5"
                         "es/Emissora \xDC\r\n"),
            std::string::npos);
  EXPECT_EQ(ini.ReadString("Emissoras", "R2"), "Estúdio Nº 1 – Çé");
  EXPECT_EQ(ini.ReadString("Local", "R2"), "/srv/Gravações/Emissora Ü");
  EXPECT_EQ(ini.ReadString("Emissoras", "R1"), "Rádio São João");
}

TEST_F(SettingsTest, ChannelGivesPanningAndCardGivesDevice) {
  TMMWaveIn wave(nullptr, sim.get());
  TMMVolume volume(nullptr);
  struct Case {
    const char* canal;
    const char* placa;
    int panningBefore;
    int panning;
    int device;
  };
  const Case cases[] = {
      {"0", "0", 0, -16384, 0},     {"1", "3", 0, 16384, 3},   {"2", "1", -16384, 0, 1},
      {"2", "7", 16384, 0, 7},      {"5", "2", 1234, 1234, 2},  // not a channel: left as it was
      {"-1", "2", -4321, -4321, 2},                             //
      {"+1", "+2", 0, 16384, 2},  // a sign is part of a decimal number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("Canal ") + c.canal);
    volume.SetPanning(c.panningBefore);
    StationSettings s;
    s.WaveIn = &wave;
    s.Volume = &volume;
    s.Canal = c.canal;
    s.Placa = c.placa;
    ConfigureStationChain(s);
    EXPECT_EQ(volume.Panning(), c.panning);
    EXPECT_EQ(wave.GetDeviceID(), c.device);
  }
}

TEST_F(SettingsTest, UnreadableCardOrChannelChangesNothingAndRaises) {
  TMMWaveIn wave(nullptr, sim.get());
  TMMVolume volume(nullptr);
  struct Case {
    const char* placa;
    const char* canal;
    const char* message;
  };
  const Case cases[] = {
      {"x", "1", "'x' is not a valid integer value"},
      {"", "1", "'' is not a valid integer value"},
      {"1", "Direito", "'Direito' is not a valid integer value"},
      {"1", "", "'' is not a valid integer value"},
      {" 1", "1", "' 1' is not a valid integer value"},
      {"1", "1.0", "'1.0' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.placa) + "/" + c.canal);
    wave.SetDeviceID(5);
    volume.SetPanning(777);
    StationSettings s;
    s.WaveIn = &wave;
    s.Volume = &volume;
    s.Placa = c.placa;
    s.Canal = c.canal;
    try {
      ConfigureStationChain(s);
      ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(wave.GetDeviceID(), 5);
    EXPECT_EQ(volume.Panning(), 777);
  }
}

TEST_F(SettingsTest, EmptyNamesAreListedByNumberButShownBlank) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> listed;
  };
  const std::vector<Case> cases = {
      {{"Rádio Um", "Dois", ""}, {"Rádio Um", "Dois", "Emissora 3"}},
      {{"", "", "Três"}, {"Emissora 1", "Emissora 2", "Três"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listed[0]);
    std::string ini = Ini(3) + "[Emissoras]\r\n";
    for (size_t i = 0; i < c.names.size(); ++i)
      ini += "R" + std::to_string(i + 1) + "=" + Utf8ToCp1252(c.names[i]) + "\r\n";
    Put(ini);
    view = SettingsView();
    Load();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.stationList, c.listed);
    EXPECT_EQ(view.stationListCalls, 1);
    EXPECT_EQ(view.shownIndex, 0);
    EXPECT_EQ(view.shownName, c.names[0]);  // as stored, blank included
    EXPECT_EQ(view.shownLast, 2);
    for (int n = 1; n <= 3; ++n)
      EXPECT_EQ(StationListName(frm->Station(n - 1).Emissoras, n),
                c.listed[static_cast<size_t>(n - 1)]);
  }
}

TEST(NormalizeStationName, ReplacesEveryListedLetterAndNothingElse) {
  struct Case {
    const char* typed;
    const char* stored;
  };
  const Case cases[] = {
      {"Rádio São João", "Radio Sao Joao"},
      {"Nº 1", "No 1"},
      {"1ª Rádio", "1a Radio"},
      {"àâáã ÃÁÂÀ", "aaaa AAAA"},
      {"éê ÊÉ", "ee EE"},
      {"í Í", "i I"},
      {"õôó ÕÓÔ", "ooo OOO"},
      {"úü ÚÜ", "uu UU"},
      {"ç Ç", "c C"},
      {"º ª", "o a"},
      {"ããã ççç", "aaa ccc"},  // every occurrence
      // Letters outside the list pass unchanged.
      {"è ì ò ù È Ì Ò Ù", "è ì ò ù È Ì Ò Ù"},
      {"ñ Ñ ö ë ï", "ñ Ñ ö ë ï"},
      {"Rádio è São", "Radio è Sao"},
      {"", ""},
      {"Plain FM 99.1", "Plain FM 99.1"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeStationName(c.typed), c.stored) << c.typed;
}

// Values the recorder cannot use: each is reported, and the recorder goes on with what it can.
TEST_F(SettingsTest, UnusableGeneralValuesAreReportedAndReplaced) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> edits;  // of a file for 8 stations
    int stations;
    int intervalMs;
    std::vector<std::string> messages;  // exact texts; "*" for any text
  };
  const std::vector<Case> cases = {
      {"count not a number",
       {{"Emissoras=8", "Emissoras=x"}},
       1,
       600000,
       {"'x' is not a valid integer value (cfg.ini [Geral] Emissoras)"}},
      {"count empty",
       {{"Emissoras=8", "Emissoras="}},
       1,
       600000,
       {"'' is not a valid integer value (cfg.ini [Geral] Emissoras)"}},
      {"count too high", {{"Emissoras=8", "Emissoras=9"}}, 8, 600000, {"*"}},
      {"count zero", {{"Emissoras=8", "Emissoras=0"}}, 1, 600000, {"*"}},
      {"count negative", {{"Emissoras=8", "Emissoras=-2"}}, 1, 600000, {"*"}},
      {"TempoRec not a number",
       {{"Emissoras=8", "Emissoras=3"}, {"TempoRec=10", "TempoRec=dez"}},
       3,
       600000,
       {"'dez' is not a valid integer value (cfg.ini [Geral] TempoRec)"}},
      {"TempoRec empty",
       {{"TempoRec=10", "TempoRec="}},
       8,
       600000,
       {"'' is not a valid integer value (cfg.ini [Geral] TempoRec)"}},
      {"TempoRec zero", {{"TempoRec=10", "TempoRec=0"}}, 8, 60000, {}},
      {"TempoRec negative", {{"TempoRec=10", "TempoRec=-5"}}, 8, 60000, {}},
      {"TempoRec one", {{"TempoRec=10", "TempoRec=1"}}, 8, 60000, {}},
      {"Formato not a number",
       {{"Formato=4", "Formato=x"}},
       8,
       600000,
       {"'x' is not a valid integer value (cfg.ini [Gravacao] Formato)"}},
      {"MB Livres not a number",
       {{"MB Livres=200", "MB Livres=muito"}},
       8,
       600000,
       {"'muito' is not a valid integer value (cfg.ini [Geral] MB Livres): sem limite de espaço "
        "livre"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string ini = Ini(8);
    for (const auto& [from, to] : c.edits) ini = With(ini, from, to);
    Put(ini);
    view = SettingsView();
    Load();
    EXPECT_EQ(frm->StationCount(), c.stations);
    EXPECT_EQ(static_cast<int>(view.stationList.size()), c.stations);
    EXPECT_EQ(view.shownLast, c.stations - 1);
    EXPECT_EQ(frm->TimerRecord().interval(), c.intervalMs);
    ASSERT_EQ(view.messages.size(), c.messages.size());
    for (size_t i = 0; i < c.messages.size(); ++i) {
      if (c.messages[i] == "*")
        EXPECT_FALSE(view.messages[i].empty());
      else
        EXPECT_EQ(view.messages[i], c.messages[i]);
    }
    for (int i = 0; i < c.stations; ++i) EXPECT_TRUE(frm->Station(i).Configured) << i;
    for (int i = c.stations; i < kMaxStations; ++i) EXPECT_FALSE(frm->Station(i).Configured) << i;
  }
}

TEST_F(SettingsTest, FormatOutsideTheListNeverReachesAnEncoder) {
  struct Case {
    const char* formato;
    const char* label;  // after the twenty blanks
    TMMBitrates bitrate;
  };
  const Case cases[] = {
      {"0", "MP3: 32 Kbps, Stereo", br32},   {"4", "MP3: 64 Kbps, Stereo", br64},
      {"8", "MP3: 128 Kbps, Stereo", br128}, {"13", "MP3: 320 Kbps, Stereo", br320},
      {"14", "MP3:  Kbps, Stereo", br128},   {"-1", "MP3:  Kbps, Stereo", br128},
      {"99", "MP3:  Kbps, Stereo", br128},
  };
  const bool inList[] = {true, true, true, true, false, false, false};
  size_t k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formato);
    Put(With(Ini(3), "Formato=4", std::string("Formato=") + c.formato));
    view = SettingsView();
    Load();
    // A value outside the list is told, with the key and the rate the stations record at.
    if (inList[k++]) {
      EXPECT_TRUE(view.messages.empty());
    } else {
      EXPECT_EQ(view.messages,
                std::vector<std::string>{"'" + std::string(c.formato) +
                                         "' não é um formato da lista, de 0 a 13 (cfg.ini "
                                         "[Gravacao] Formato): as emissoras gravam a 128 Kbps"});
    }
    EXPECT_EQ(view.format, kBlanks + c.label);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(frm->Station(i).Encoder->Bitrate(), c.bitrate) << i;
    // Stations beyond the count are not bound: their encoders keep their own setting.
    EXPECT_EQ(frm->Station(3).Encoder->Bitrate(), br128);
  }
}

TEST_F(SettingsTest, StationWithUnreadableCardOrChannelIsReportedAndNotConfigured) {
  Put(With(With(Ini(3), "[Placa]\r\nR2=1", "[Placa]\r\nR2=um"), "[Canal]\r\nR3=2",
           "[Canal]\r\nR3="));
  Load();
  EXPECT_EQ(view.messages,
            (std::vector<std::string>{"'um' is not a valid integer value (cfg.ini [Placa] R2)",
                                      "'' is not a valid integer value (cfg.ini [Canal] R3)"}));
  EXPECT_EQ(frm->StationCount(), 3);
  EXPECT_TRUE(frm->Station(0).Configured);
  EXPECT_FALSE(frm->Station(1).Configured);
  EXPECT_FALSE(frm->Station(2).Configured);
  EXPECT_EQ(view.stationList.size(), 3u);  // still listed
}

TEST_F(SettingsTest, PriorityIsRaisedOnlyForCapitalS) {
  const std::pair<const char*, int> cases[] = {{"S", 1}, {"N", 0}, {"s", 0}, {"", 0}};
  for (const auto& [value, raised] : cases) {
    SCOPED_TRACE(value);
    Put(With(Ini(1), "Prioridade=N", std::string("Prioridade=") + value));
    int calls = 0;
    frm = std::make_unique<TFrmGravar>(IniPath(), sim.get(), &view);
    frm->RaiseOwnPriority = [&calls] { ++calls; };
    frm->LoadConfiguration();
    EXPECT_EQ(calls, raised);
  }
}

// The settings panel's save --------------------------------------------------------------------

class SaveTest : public SettingsTest {
 protected:
  // The form as the panel shows station `station` (0-based) of a loaded two-station file.
  TFrmGravar::SettingsForm Form(int station = 1) {
    TFrmGravar::SettingsForm f;
    f.Formato = 8;
    f.AutoGravar = true;
    f.Prioridade = false;
    f.DiasRec = "45";
    f.TempoRec = "15";
    f.Emissoras = "2";
    f.Station = station;
    f.Name = "Radio Nova";
    f.Local = (root / "novo").string();
    f.Placa = 1;
    f.Controle = 1;
    f.Canal = 0;
    f.Copia = true;
    f.LocalCopia = (root / "copia").string();
    fs::create_directories(f.Local);
    fs::create_directories(f.LocalCopia);
    return f;
  }
  void LoadTwo() {
    Put(Ini(2));
    fs::create_directories(root / "R1");
    fs::create_directories(root / "R2");
    Load();
    view.messages.clear();
  }
};

TEST_F(SaveTest, OneWriteOfTheGeneralKeysAndTheStationsOwn) {
  LoadTwo();
  frm->SetCurrentStation(1);
  const TFrmGravar::SettingsForm f = Form();
  ASSERT_TRUE(frm->SaveAndApply(f));
  EXPECT_TRUE(view.messages.empty()) << view.messages[0];
  PrivateProfile ini(IniPath());
  struct Key {
    const char *section, *key, *value;
  };
  const std::string local = f.Local, copy = f.LocalCopia, r1 = (root / "R1").string();
  const Key keys[] = {
      {"Gravacao", "Formato", "8"},  {"Geral", "AutoGravar", "S"},
      {"Geral", "Prioridade", "N"},  {"Geral", "DiasRec", "45"},
      {"Geral", "TempoRec", "15"},   {"Geral", "Emissoras", "2"},
      {"Geral", "MB Livres", "200"}, {"Local", "R2", local.c_str()},
      {"Placa", "R2", "1"},          {"Controle", "R2", "1"},
      {"Canal", "R2", "0"},          {"Emissoras", "R2", "Radio Nova"},
      {"Copia", "R2", "S"},          {"LocalCopia", "R2", copy.c_str()},
      {"Local", "R1", r1.c_str()},   {"Placa", "R1", "0"},
  };
  for (const Key& k : keys)
    EXPECT_EQ(ini.ReadString(k.section, k.key), k.value) << k.section << " " << k.key;
  // Applied to the idle station at once; general settings wait for the next start.
  EXPECT_FALSE(frm->RestartPending());
  EXPECT_EQ(frm->Station(1).Local, local);
  EXPECT_EQ(frm->Station(1).Placa, "1");
  EXPECT_EQ(frm->Station(1).Copia, "S");
  EXPECT_EQ(frm->Station(1).LocalCopia, copy);
  EXPECT_EQ(view.card, "1");
  EXPECT_EQ(view.recordingSource, "1");
  EXPECT_EQ(frm->TimerRecord().interval(), 10 * 60000);

  // The backup box unticked: "N", and the old backup folder stays in the file.
  TFrmGravar::SettingsForm g = f;
  g.Copia = false;
  g.LocalCopia = "/somewhere/else";
  ASSERT_TRUE(frm->SaveAndApply(g));
  EXPECT_EQ(ini.ReadString("Copia", "R2"), "N");
  EXPECT_EQ(ini.ReadString("LocalCopia", "R2"), copy);
}

TEST_F(SaveTest, ANewStationCountWaitsForARestart) {
  LoadTwo();
  TFrmGravar::SettingsForm f = Form(0);
  f.Emissoras = "3";
  ASSERT_TRUE(frm->SaveAndApply(f));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0], "Reinicie o Aplicativo para que as alterações tenham efeito");
  EXPECT_TRUE(frm->RestartPending());
  EXPECT_EQ(frm->StationCount(), 2);
  EXPECT_EQ(frm->Station(0).Local, (root / "R1").string());  // nothing applied
  EXPECT_EQ(PrivateProfile(IniPath()).ReadString("Geral", "Emissoras"), "3");
  // Pending for the rest of the run, even when the count is set back.
  f.Emissoras = "2";
  ASSERT_TRUE(frm->SaveAndApply(f));
  EXPECT_EQ(view.messages.size(), 2u);
}

TEST_F(SaveTest, InputThatWouldStopAStationIsRefusedAndNothingWritten) {
  LoadTwo();
  const std::string before = Bytes();
  fs::create_directories(root / "locked");
  fs::permissions(root / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const bool rootUser = geteuid() == 0;  // root writes anywhere
  struct Case {
    const char* what;
    std::function<void(TFrmGravar::SettingsForm&)> change;
    const char* message;  // its start
  };
  const Case cases[] = {
      {"days", [](auto& f) { f.DiasRec = "abc"; }, "Tempo de gravação"},
      {"days out of range", [](auto& f) { f.DiasRec = "101"; }, "Tempo de gravação"},
      {"minutes", [](auto& f) { f.TempoRec = "5"; }, "Gerar arquivos de"},
      {"minutes", [](auto& f) { f.TempoRec = "61"; }, "Gerar arquivos de"},
      {"stations", [](auto& f) { f.Emissoras = "9"; }, "Nº de Emissoras"},
      {"stations", [](auto& f) { f.Emissoras = ""; }, "Nº de Emissoras"},
      {"channel", [](auto& f) { f.Canal = -1; }, "Canal"},
      {"source line", [](auto& f) { f.Controle = 2; }, "Controle"},
      {"name", [](auto& f) { f.Name = "Rádio \u20ac\u4e2d"; }, "O nome da emissora"},
      {"no folder", [this](auto& f) { f.Local = (root / "missing").string(); },
       "Local de gravação inexistente"},
      {"backup missing", [this](auto& f) { f.LocalCopia = (root / "gone").string(); },
       "Local da cópia de segurança inexistente"},
      {"backup is the folder", [](auto& f) { f.LocalCopia = f.Local + "/."; },
       "O local da cópia de segurança deve ser diferente"},
      {"locked folder", [this](auto& f) { f.Local = (root / "locked").string(); },
       "Local de gravação inexistente"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (rootUser && std::string(c.what) == "locked folder") continue;
    TFrmGravar::SettingsForm f = Form();
    c.change(f);
    view.messages.clear();
    EXPECT_FALSE(frm->SaveAndApply(f));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].rfind(c.message, 0), 0u) << view.messages[0];
    EXPECT_EQ(Bytes(), before);
    EXPECT_FALSE(frm->RestartPending());
  }
  // The euro sign is a Windows-1252 letter: accepted.
  TFrmGravar::SettingsForm f = Form();
  f.Name = "Rádio \u20ac";
  EXPECT_TRUE(frm->SaveAndApply(f));
  EXPECT_EQ(PrivateProfile(IniPath()).ReadString("Emissoras", "R2"), "Rádio \u20ac");
  fs::permissions(root / "locked", fs::perms::owner_all);
}

TEST_F(SaveTest, WhileRecordingOnlyTheBackupReachesTheRunningStation) {
  LoadTwo();
  frm->BGravarClick();
  for (int i = 0; i < 200 && !frm->IsRecording(); ++i) QCoreApplication::processEvents();
  ASSERT_TRUE(frm->IsRecording());
  frm->SetCurrentStation(1);
  const std::string local = frm->Station(1).Local;
  const TFrmGravar::SettingsForm f = Form();
  ASSERT_TRUE(frm->SaveAndApply(f));
  EXPECT_EQ(frm->Station(1).Local, local);
  EXPECT_EQ(frm->Station(1).Placa, "1");  // as loaded: station 2 has card 1
  EXPECT_EQ(frm->Station(1).Controle, "0");
  EXPECT_EQ(frm->Station(1).Copia, "S");
  EXPECT_EQ(frm->Station(1).LocalCopia, f.LocalCopia);
  EXPECT_EQ(PrivateProfile(IniPath()).ReadString("Local", "R2"), f.Local);
  frm->BStopClick();
  for (int i = 0; i < 200 && frm->IsRecording(); ++i) QCoreApplication::processEvents();
}

}  // namespace
