// The recording session: start, rotation, stop, names, backup copies, leftovers, running
// time, end-of-day maintenance and the low-space guard, driven by simulated devices, a test
// clock and the real MP3 encoder; every recording written is decoded again.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "HookedBlade.h"
#include "Mp3Decode.h"
#include "TestTime.h"
#include "audio/MMBlade.h"
#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "displays/MMConect.h"
#include "platform/DiskSpace.h"
#include "platform/FileOps.h"
#include "platform/LockedFile.h"
#include "platform/SimCapture.h"
#include "recorder/U_Grava.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Everything the session shows, in order where order matters.
class RecordingView : public TFrmGravarView {
 public:
  std::vector<std::string> messages;
  std::vector<std::string> events;  // buttons and icon, in order
  std::pair<bool, bool> buttons{true, false};
  bool animating = false;
  int iconStarts = 0, iconStops = 0, idleIcons = 0;
  int armAutoStart = 0;
  int diskShows = 0;
  int64_t freeMB = -1;
  std::string elapsed = "<none>";
  int days = -1;
  std::function<void(const std::string&)> onMessage;  // runs where the modal box would

  std::vector<std::string> faults;    // status-line reports
  std::vector<std::string> logLines;  // journal only

  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    if (onMessage) onMessage(text);
  }
  void ShowFault(const std::string& text) override { faults.push_back(text); }
  void LogLine(const std::string& text) override { logLines.push_back(text); }
  void ShowRecordButtons(bool gravar, bool parar) override {
    buttons = {gravar, parar};
    events.push_back(std::string("buttons ") + (gravar ? "G" : "-") + (parar ? "P" : "-"));
  }
  void StartIconAnimation() override {
    animating = true;
    ++iconStarts;
    events.push_back("animate");
  }
  void StopIconAnimation() override {
    animating = false;
    ++iconStops;
    events.push_back("still");
  }
  void ShowIdleIcon() override {
    ++idleIcons;
    events.push_back("idle");
  }
  void ArmAutoStart() override { ++armAutoStart; }
  void ShowDiskSpace(int64_t free, int64_t /*used*/, int /*percent*/) override {
    ++diskShows;
    freeMB = free;
  }
  void ShowRunningTime(const std::string& e, int d) override {
    elapsed = e;
    days = d;
  }
};

void RunFor(std::chrono::milliseconds span) {
  QEventLoop loop;
  QTimer::singleShot(span, &loop, &QEventLoop::quit);
  loop.exec();
}

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

bool IsFinishedName(const std::string& n) {
  return n.size() == 25 && n[10] == 'a' && n.ends_with(".mp3");
}

// Every file of a tree: size, modification time and bytes.
using Snapshot = std::map<std::string, std::tuple<uintmax_t, long long, std::string>>;

Snapshot TakeSnapshot(const fs::path& root) {
  Snapshot s;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    if (e.is_directory()) {
      s[rel + "/"] = {0, 0, ""};
      continue;
    }
    s[rel] = {e.file_size(), e.last_write_time().time_since_epoch().count(), ReadBytes(e.path())};
  }
  return s;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root =
        fs::path(TEST_DATA_DIR) / ("session_" + std::to_string(getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "r1");
    now = At(8, 15, 30);
    env.clock = [this] { return now; };
    SimDeviceConfig dev;
    dev.signal = SimSignal::Tone;
    sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(8, dev));
  }
  void TearDown() override {
    frm.reset();
    SetBladeLoader(nullptr);
    fs::remove_all(root);
  }

  void WriteIni(const std::string& text) { std::ofstream(root / "cfg.ini") << text; }
  // Counter-ramp inputs that run in real time whether or not they are read, as live ones do.
  SimDeviceConfig& UseLiveRampDevices() {
    SimDeviceConfig dev;
    dev.signal = SimSignal::Ramp;
    dev.paced = true;
    dev.continuous = true;
    sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(8, dev));
    return sim->Devices()[0];
  }
  // Stations 1..n recording both channels of cards 0..n-1 into r1..rn, 128 kbps.
  std::string BasicIni(int stations = 1) {
    std::string s =
        "[Gravacao]\nFormato=8\n[Geral]\nAutoGravar=N\nMB Livres=0\nDiasRec=30\n"
        "TempoRec=10\nPrioridade=N\nEmissoras=" +
        std::to_string(stations) + "\n";
    for (int n = 1; n <= stations; ++n) {
      fs::create_directories(root / ("r" + std::to_string(n)));
      s += "[Local]\nR" + std::to_string(n) + "=" + (root / ("r" + std::to_string(n))).string() +
           "\n[Placa]\nR" + std::to_string(n) + "=" + std::to_string(n - 1) + "\n[Canal]\nR" +
           std::to_string(n) + "=2\n[Controle]\nR" + std::to_string(n) + "=0\n";
    }
    return s;
  }
  static std::string With(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }
  void Load() {
    frm.reset();
    frm = std::make_unique<TFrmGravar>((root / "cfg.ini").string(), sim.get(), &view, env);
    frm->LoadConfiguration();
  }
  // Lets every recording station capture about `seconds` of audio, a buffer at a time.
  void Record(double seconds) {
    const int buffers = std::max(1, static_cast<int>(seconds * 176400 / 4096 + 0.5));
    for (int k = 0; k < buffers; ++k) {
      for (int i = 0; i < frm->StationCount(); ++i) {
        TMMWaveIn* w = frm->Station(i).WaveIn;
        if (w->HasState(dsStarted)) sim->Step(w->Handle(), 4096);
      }
      QCoreApplication::processEvents();
    }
  }
  // One station captures `buffers` whole buffers.
  void StepStation(int index, int buffers) {
    TMMWaveIn* w = frm->Station(index).WaveIn;
    for (int k = 0; k < buffers; ++k) {
      ASSERT_TRUE(w->HasState(dsStarted));
      sim->Step(w->Handle(), 4096);
      QCoreApplication::processEvents();
    }
  }
  std::vector<std::string> Files(const std::string& sub) {
    std::vector<std::string> out;
    if (!fs::exists(root / sub)) return out;
    for (const auto& e : fs::directory_iterator(root / sub)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
  // Every finished recording of the folder decodes to the end.
  void ExpectFinishedDecode(const std::string& sub) {
    int seen = 0;
    for (const std::string& name : Files(sub)) {
      if (!IsFinishedName(name)) continue;
      ++seen;
      const DecodedMp3 d = DecodeMp3(root / sub / name);
      EXPECT_GT(d.frames, 0) << sub << "/" << name;
      EXPECT_TRUE(d.clean) << sub << "/" << name << ": " << d.error;
    }
    EXPECT_GT(seen, 0) << sub;
  }

  fs::path root;
  WallTime now;
  std::unique_ptr<SimCaptureBackend> sim;
  RecordingView view;
  RecorderEnvironment env;
  std::unique_ptr<TFrmGravar> frm;
};

using Names = std::vector<std::string>;

TEST_F(SessionTest, StartRotateStopNamesTheSegments) {
  WriteIni(BasicIni(3));
  Load();
  frm->BGravarClick();
  EXPECT_TRUE(view.messages.empty()) << view.messages[0];
  EXPECT_TRUE(frm->TimerRecord().isActive());
  EXPECT_EQ(frm->TimerRecord().interval(), 600000);
  EXPECT_EQ(frm->CurrentStamp(), "0812261530");
  for (const char* r : {"r1", "r2", "r3"}) EXPECT_EQ(Files(r), Names{"0812261530.mp3"}) << r;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(frm->Station(i).WaveIn->HasState(dsStarted)) << i;
  Record(2);

  now = At(8, 15, 40);
  frm->TimerRecordTimer();
  for (const char* r : {"r1", "r2", "r3"})
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261540.mp3", "0812261540.mp3"})) << r;
  EXPECT_TRUE(frm->IsRecording());
  EXPECT_TRUE(frm->TimerRecord().isActive());
  Record(2);

  now = At(8, 15, 43);
  frm->BStopClick();
  for (const char* r : {"r1", "r2", "r3"}) {
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261540.mp3", "0812261540a0812261543.mp3"})) << r;
    ExpectFinishedDecode(r);
  }
  EXPECT_FALSE(frm->IsRecording());
  EXPECT_FALSE(frm->TimerRecord().isActive());
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(SessionTest, SegmentOverMidnightCarriesBothDates) {
  struct Case {
    WallTime start, end;
    const char* finished;
    const char* next;
  };
  const Case cases[] = {
      {At(8, 23, 55), At(9, 0, 5), "0812262355a0912260005.mp3", "0912260005.mp3"},
      {At(31, 23, 55), AtDate(2027, 1, 1, 0, 5), "3112262355a0101270005.mp3", "0101270005.mp3"},
  };
  WriteIni(BasicIni());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.finished);
    fs::remove_all(root / "r1");
    fs::create_directories(root / "r1");
    Load();
    now = c.start;
    frm->BGravarClick();
    Record(1);
    now = c.end;
    frm->TimerRecordTimer();
    Names expected{c.finished, c.next};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files("r1"), expected);
    Record(1);
    frm->BStopClick();
    ExpectFinishedDecode("r1");
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(SessionTest, BackupCopyOnlyForCapitalSAndOnlyIntoAnExistingFolder) {
  struct Case {
    const char* name;
    const char* copia;
    bool backupExists;
    bool staleCopy;  // the backup folder already holds a file of the first finished name
    bool copied;
  };
  const Case cases[] = {
      {"S copies", "S", true, false, true},
      {"S replaces a file of that name", "S", true, true, true},
      {"lower-case s", "s", true, false, false},
      {"N", "N", true, false, false},
      {"missing backup folder", "S", false, false, false},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string rec = "rec" + std::to_string(k), copy = "copy" + std::to_string(k);
    ++k;
    fs::create_directories(root / rec);
    if (c.backupExists) fs::create_directories(root / copy);
    if (c.staleCopy) WriteBytes(root / copy / "0812261530a0812261540.mp3", "stale");
    WriteIni(With(BasicIni(), (root / "r1").string(), (root / rec).string()) +
             "[Copia]\nR1=" + c.copia + "\n[LocalCopia]\nR1=" + (root / copy).string() + "\n");
    view = RecordingView();
    Load();
    now = At(8, 15, 30);
    frm->BGravarClick();
    Record(1);
    now = At(8, 15, 40);
    frm->TimerRecordTimer();
    Record(1);
    now = At(8, 15, 43);
    frm->BStopClick();
    frm->WaitFileWork();  // the copies are made on the worker
    EXPECT_TRUE(view.messages.empty());
    const Names finished{"0812261530a0812261540.mp3", "0812261540a0812261543.mp3"};
    EXPECT_EQ(Files(rec), finished);
    ExpectFinishedDecode(rec);
    if (c.copied) {
      EXPECT_EQ(Files(copy), finished);
      for (const std::string& f : finished)
        EXPECT_EQ(ReadBytes(root / copy / f), ReadBytes(root / rec / f)) << f;
    } else if (c.backupExists) {
      EXPECT_TRUE(Files(copy).empty());
    } else {
      EXPECT_FALSE(fs::exists(root / copy));  // never created
    }
  }
}

TEST_F(SessionTest, MissingStationFolderStopsTheStartAtThatStation) {
  WriteIni(BasicIni(3));
  fs::remove_all(root / "r2");
  Load();
  frm->BGravarClick();
  EXPECT_EQ(view.messages,
            Names{"Emissora 2: Unable to create file: " +
                  (root / "r2" / "0812261530.mp3").string() + " (No such file or directory)"});
  EXPECT_TRUE(frm->Station(0).WaveIn->HasState(dsStarted));
  EXPECT_FALSE(frm->Station(1).WaveIn->HasState(dsStarted));
  EXPECT_FALSE(frm->Station(2).WaveIn->HasState(dsStarted));  // later stations not started
  EXPECT_EQ(Files("r1"), Names{"0812261530.mp3"});
  EXPECT_TRUE(Files("r3").empty());
  EXPECT_FALSE(fs::exists(root / "r2"));
  frm->UpdateRecordButtons();
  EXPECT_EQ(view.buttons, std::make_pair(false, true));

  // Station 1 records on, and stops as usual.
  Record(1);
  now = At(8, 15, 43);
  frm->BStopClick();
  EXPECT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(Files("r1"), Names{"0812261530a0812261543.mp3"});
  ExpectFinishedDecode("r1");
  EXPECT_FALSE(frm->IsRecording());
}

TEST_F(SessionTest, StationWithUnreadableCardDoesNotRecordAndTheOthersDo) {
  WriteIni(With(BasicIni(3), "[Placa]\nR2=1", "[Placa]\nR2=um"));
  Load();
  EXPECT_EQ(view.messages, Names{"'um' is not a valid integer value (cfg.ini [Placa] R2)"});
  frm->BGravarClick();
  EXPECT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(Files("r1"), Names{"0812261530.mp3"});
  EXPECT_TRUE(Files("r2").empty());
  EXPECT_EQ(Files("r3"), Names{"0812261530.mp3"});
  EXPECT_FALSE(frm->Station(1).WaveIn->HasState(dsOpen));
  Record(1);
  now = At(8, 15, 40);
  frm->TimerRecordTimer();
  Record(1);
  now = At(8, 15, 41);
  frm->BStopClick();
  EXPECT_TRUE(Files("r2").empty());
  for (const char* r : {"r1", "r3"}) {
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261540.mp3", "0812261540a0812261541.mp3"})) << r;
    ExpectFinishedDecode(r);
  }
  EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(SessionTest, StopWhileIdleChangesNothingOnDisk) {
  WriteIni(BasicIni(2));
  WriteBytes(root / "r1" / "0812261500a0812261510.mp3", "older");
  Load();
  // Never started.
  Snapshot before = TakeSnapshot(root);
  frm->BStopClick();
  EXPECT_EQ(TakeSnapshot(root), before);
  // After a recording, again and again within the same minute and later.
  frm->BGravarClick();
  Record(1);
  now = At(8, 15, 31);
  frm->BStopClick();
  before = TakeSnapshot(root);
  frm->BStopClick();
  now = At(8, 15, 45);
  frm->BStopClick();
  EXPECT_EQ(TakeSnapshot(root), before);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.buttons, std::make_pair(true, false));
  EXPECT_FALSE(frm->IsRecording());
}

// A stop, a start and a stop within one minute give the finished name twice; the second
// recording goes behind the first, byte for byte.
TEST_F(SessionTest, NameClashAppendsAndLosesNoByte) {
  WriteIni(BasicIni(2) + "[Copia]\nR1=S\n[LocalCopia]\nR1=" + (root / "copy").string() + "\n");
  fs::create_directories(root / "copy");
  fs::create_directories(root / "links");
  Load();
  frm->BGravarClick();
  Record(1);
  now = At(8, 15, 30, 20);
  frm->BStopClick();
  const std::string finished = "0812261530a0812261530.mp3";
  std::map<std::string, std::string> expected;
  std::map<std::string, int64_t> frames;
  for (const char* r : {"r1", "r2"}) {
    ASSERT_EQ(Files(r), Names{finished}) << r;
    expected[r] = ReadBytes(root / r / finished);
    frames[r] = DecodeMp3(root / r / finished).frames;
  }

  const double lengths[] = {1.5, 0.5};
  int round = 0;
  for (double seconds : lengths) {
    SCOPED_TRACE(round);
    now += 10s;
    frm->BGravarClick();
    for (const char* r : {"r1", "r2"})
      ASSERT_EQ(Files(r), (Names{"0812261530.mp3", finished})) << r;
    Record(seconds);
    // A second name for the file being written keeps its bytes whatever becomes of this one.
    for (const char* r : {"r1", "r2"})
      fs::create_hard_link(root / r / "0812261530.mp3",
                           root / "links" / (std::string(r) + std::to_string(round)));
    now += 5s;
    frm->BStopClick();
    frm->WaitFileWork();
    for (const char* r : {"r1", "r2"}) {
      EXPECT_EQ(Files(r), Names{finished}) << r;  // the in-progress file is gone
      const fs::path link = root / "links" / (std::string(r) + std::to_string(round));
      const std::string added = ReadBytes(link);
      EXPECT_GT(added.size(), 0u);
      expected[r] += added;
      frames[r] += DecodeMp3(link).frames;
      EXPECT_EQ(ReadBytes(root / r / finished), expected[r]) << r;
      const DecodedMp3 d = DecodeMp3(root / r / finished);
      EXPECT_TRUE(d.clean) << d.error;
      EXPECT_EQ(d.frames, frames[r]) << r;
    }
    // The backup copy is the whole recording too.
    EXPECT_EQ(ReadBytes(root / "copy" / finished), expected["r1"]);
    ++round;
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(SessionTest, RecoveryFinishesLeftoversByTheirFileTime) {
  WriteIni(BasicIni(2));
  fs::create_directories(root / "r3");  // a station beyond the count
  struct File {
    const char* folder;
    const char* name;
    const char* bytes;
    WallTime mtime;
  };
  const File files[] = {
      {"r1", "0812261400.mp3", "A", At(8, 14, 10, 30)},
      {"r1", "0812262355.mp3", "B", At(9, 0, 3)},
      {"r2", "0712261000.mp3", "C", At(7, 10, 10)},
      {"r2", "0712261000a0712261010.mp3", "X", At(7, 10, 10)},  // the name is taken
      // Not in-progress recordings.
      {"r1", "081226140.mp3", "n1", At(8, 14, 0)},
      {"r1", "0812261400.wav", "n2", At(8, 14, 0)},
      {"r1", "notes.mp3", "n3", At(8, 14, 0)},
      {"r1", "08122614xx.mp3", "n4", At(8, 14, 0)},
      {"r1", "0812261300a0812261310.mp3", "n5", At(8, 13, 10)},
      {"r3", "0812261400.mp3", "n6", At(8, 14, 10)},
  };
  for (const File& f : files) {
    WriteBytes(root / f.folder / f.name, f.bytes);
    SetModified(root / f.folder / f.name, f.mtime);
  }
  fs::create_directories(root / "r1" / "0812261600.mp3");
  LockedFile held;  // being recorded by someone
  ASSERT_TRUE(held.Create((root / "r1" / "0812261500.mp3").string()));
  ASSERT_TRUE(held.Write("H", 1));

  Load();
  frm->RecoverInterruptedRecordings();
  const std::map<std::string, std::string> r1 = {
      {"0812261400a0812261410.mp3", "A"},
      {"0812262355a0912260003.mp3", "B"},
      {"081226140.mp3", "n1"},
      {"0812261400.wav", "n2"},
      {"notes.mp3", "n3"},
      {"08122614xx.mp3", "n4"},
      {"0812261300a0812261310.mp3", "n5"},
      {"0812261500.mp3", "H"},
      {"0812261600.mp3", ""},
  };
  Names names;
  for (const auto& [name, bytes] : r1) names.push_back(name);
  EXPECT_EQ(Files("r1"), names);
  for (const auto& [name, bytes] : r1)
    if (fs::is_regular_file(root / "r1" / name)) {
      EXPECT_EQ(ReadBytes(root / "r1" / name), bytes) << name;
    }
  EXPECT_TRUE(fs::is_directory(root / "r1" / "0812261600.mp3"));
  EXPECT_EQ(Files("r2"), Names{"0712261000a0712261010.mp3"});
  EXPECT_EQ(ReadBytes(root / "r2" / "0712261000a0712261010.mp3"), "XC");
  EXPECT_EQ(Files("r3"), Names{"0812261400.mp3"});
  EXPECT_TRUE(view.messages.empty());

  // Once let go, the held file is recovered like any other.
  held.Close();
  SetModified(root / "r1" / "0812261500.mp3", At(8, 15, 9));
  frm->RecoverInterruptedRecordings();
  EXPECT_EQ(ReadBytes(root / "r1" / "0812261500a0812261509.mp3"), "H");
  EXPECT_FALSE(fs::exists(root / "r1" / "0812261500.mp3"));
}

TEST_F(SessionTest, LeftoverOfTheNewSegmentsNameIsFinishedBeforeTheEncoderReplacesIt) {
  WriteIni(BasicIni());
  WriteBytes(root / "r1" / "0812261530.mp3", "leftover");
  SetModified(root / "r1" / "0812261530.mp3", At(8, 15, 30, 20));
  Load();
  now = At(8, 15, 30, 40);
  frm->BGravarClick();
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(Files("r1"), (Names{"0812261530.mp3", "0812261530a0812261530.mp3"}));
  EXPECT_EQ(ReadBytes(root / "r1" / "0812261530a0812261530.mp3"), "leftover");
  Record(1);
  now = At(8, 15, 31);
  frm->BStopClick();
  EXPECT_EQ(Files("r1"), (Names{"0812261530a0812261530.mp3", "0812261530a0812261531.mp3"}));
  EXPECT_EQ(ReadBytes(root / "r1" / "0812261530a0812261530.mp3"), "leftover");
  const DecodedMp3 d = DecodeMp3(root / "r1" / "0812261530a0812261531.mp3");
  EXPECT_GT(d.frames, 0);
  EXPECT_TRUE(d.clean) << d.error;
}

// The window shows reports in a modal box that waits for a click. A rotation must not wait
// on one while every station is stopped: an unattended logger would record nothing until
// someone answers.
TEST_F(SessionTest, RotationDoesNotReportWhileTheStationsAreStopped) {
  WriteIni(With(BasicIni(2), "Formato=8", "Formato=x"));
  Load();
  frm->BGravarClick();
  ASSERT_TRUE(frm->IsRecording());
  Record(0.5);
  std::vector<std::string> whileStopped;
  view.onMessage = [&](const std::string& text) {
    if (!frm->IsRecording()) whileStopped.push_back(text);
  };
  now = At(8, 15, 40);
  frm->TimerRecordTimer();
  EXPECT_TRUE(frm->IsRecording());
  EXPECT_TRUE(whileStopped.empty()) << whileStopped.size() << " report(s) with nothing recording, "
                                    << "the first: " << whileStopped[0];
  view.onMessage = nullptr;
  Record(0.5);
  frm->BStopClick();
  for (const char* r : {"r1", "r2"}) {
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261540.mp3", "0812261540a0812261540.mp3"})) << r;
    ExpectFinishedDecode(r);
  }
}

TEST_F(SessionTest, RunningTimeAccumulatesOverSegmentsStopsAndStarts) {
  WriteIni(BasicIni());
  Load();
  struct Step {
    enum { Buffer, Rotate, Start, Stop } what;
    WallTime at;
    const char* elapsed;  // shown after a buffer
  };
  const Step steps[] = {
      {Step::Start, At(8, 15, 30), nullptr},
      {Step::Buffer, At(8, 15, 30, 10), "00:00:10"},
      {Step::Buffer, At(8, 15, 39, 59), "00:09:59"},
      {Step::Rotate, At(8, 15, 40), nullptr},
      {Step::Buffer, At(8, 15, 40, 5), "00:10:04"},
      {Step::Buffer, At(8, 15, 43), "00:12:59"},
      {Step::Stop, At(8, 15, 43), nullptr},
      {Step::Start, At(8, 16, 0), nullptr},  // the pause is not running time
      {Step::Buffer, At(8, 16, 0, 30), "00:13:29"},
      {Step::Stop, At(8, 16, 0, 30), nullptr},
      // A stop while idle adds the last segment's time once more.
      {Step::Stop, At(8, 16, 10), nullptr},
      {Step::Start, At(8, 17, 0), nullptr},
      {Step::Buffer, At(8, 17, 0, 1), "00:14:00"},
      {Step::Buffer, At(8, 18, 30), "01:43:59"},
  };
  for (const Step& s : steps) {
    now = s.at;
    switch (s.what) {
      case Step::Start:
        frm->BGravarClick();
        break;
      case Step::Rotate:
        frm->TimerRecordTimer();
        break;
      case Step::Stop:
        frm->BStopClick();
        break;
      case Step::Buffer:
        StepStation(0, 1);
        EXPECT_EQ(frm->ElapsedText(), s.elapsed) << SegmentStamp(s.at);
        EXPECT_EQ(view.elapsed, s.elapsed);
        EXPECT_EQ(frm->DayCount(), 0);
        EXPECT_EQ(view.days, 0);
        break;
    }
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(SessionTest, DayOfRunningTimeIsCountedAtOrPast24Hours) {
  WriteIni(BasicIni());
  Load();
  now = At(8, 10, 0);
  frm->BGravarClick();
  struct Step {
    WallTime at;
    const char* elapsed;  // nullptr: not checked
    int days;
  };
  const Step steps[] = {
      {At(9, 9, 59, 58), "23:59:58", 0},
      {At(9, 9, 59, 59), "23:59:59", 1},  // counted; this buffer still shows 23:59:59
      {At(9, 10, 0, 0), "00:00:01", 1},
      {At(9, 10, 0, 30), "00:00:31", 1},
      // A busy day: no buffer while the running time read 23:59:59.
      {At(10, 10, 0, 5), nullptr, 2},
      {At(10, 10, 0, 15), "00:00:10", 2},
  };
  for (const Step& s : steps) {
    now = s.at;
    StepStation(0, 1);
    if (s.elapsed) {
      EXPECT_EQ(frm->ElapsedText(), s.elapsed) << SegmentStamp(s.at);
    }
    EXPECT_EQ(frm->DayCount(), s.days) << SegmentStamp(s.at);
    EXPECT_EQ(view.days, s.days);
  }
  frm->BStopClick();
}

TEST_F(SessionTest, EndOfDayMaintenanceRunsOnceAtTheFirstBufferOf235959) {
  WriteIni(BasicIni(2) + "[LocalCopia]\nR1=" + (root / "copy").string() + "\n");
  fs::create_directories(root / "copy");
  fs::create_directories(root / "r3");
  const WallTime night = At(8, 23, 59, 59);
  struct File {
    const char* path;
    WallTime mtime;
    bool kept;
  };
  const File files[] = {
      {"r1/old.mp3", night - 24h * 40, false},
      {"r1/0612261000a0612261010.mp3", night - 24h * 2, true},
      {"r2/0111261000a0111261010.mp3", night - 24h * 31, false},
      {"copy/0111261000a0111261010.mp3", night - 24h * 40, true},  // backups stay
      {"r3/0111261000a0111261010.mp3", night - 24h * 40, true},    // beyond the count
  };
  for (const File& f : files) {
    WriteBytes(root / f.path, "x");
    SetModified(root / f.path, f.mtime);
  }
  Load();
  now = At(8, 23, 59, 0);
  frm->BGravarClick();
  now = At(8, 23, 59, 58);
  Record(0.1);
  EXPECT_FALSE(frm->EndOfDayDone());
  EXPECT_EQ(view.armAutoStart, 0);
  for (const File& f : files) EXPECT_TRUE(fs::exists(root / f.path)) << f.path;

  // The recording itself looks old to the purge; it is held, so it stays.
  SetModified(root / "r1" / "0812262359.mp3", night - 24h * 40);
  now = night;
  StepStation(0, 1);
  frm->WaitFileWork();
  EXPECT_TRUE(frm->EndOfDayDone());
  EXPECT_EQ(view.armAutoStart, 1);
  for (const File& f : files) EXPECT_EQ(fs::exists(root / f.path), f.kept) << f.path;
  EXPECT_TRUE(fs::exists(root / "r1" / "0812262359.mp3"));
  EXPECT_TRUE(fs::exists(root / "r2" / "0812262359.mp3"));

  // More buffers in that second, and the next night: it never runs again in this run.
  Record(0.1);
  WriteBytes(root / "r1" / "old.mp3", "x");
  SetModified(root / "r1" / "old.mp3", night - 24h * 40);
  now = At(9, 23, 59, 59);
  Record(0.1);
  frm->WaitFileWork();
  EXPECT_EQ(view.armAutoStart, 1);
  EXPECT_TRUE(fs::exists(root / "r1" / "old.mp3"));
  EXPECT_TRUE(frm->EndOfDayDone());
  frm->BStopClick();
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(SessionTest, DailyTimerPurgesAndArmsTheAutomaticStart) {
  WriteIni(BasicIni());
  WriteBytes(root / "r1" / "old.mp3", "x");
  SetModified(root / "r1" / "old.mp3", now - 24h * 31);
  WriteBytes(root / "r1" / "new.mp3", "x");
  SetModified(root / "r1" / "new.mp3", now - 24h * 29);
  Load();
  EXPECT_TRUE(frm->TimerMataArquivos().isActive());
  EXPECT_EQ(frm->TimerMataArquivos().interval(), 86400000);
  frm->TimerMataArquivosTimer();
  frm->WaitFileWork();
  EXPECT_EQ(Files("r1"), Names{"new.mp3"});
  EXPECT_EQ(view.armAutoStart, 1);
  EXPECT_FALSE(frm->EndOfDayDone());
}

TEST_F(SessionTest, LowSpaceGuardDeletesTheOldestFinishedRecordingWhileSpaceIsShort) {
  WriteIni(With(BasicIni(2), "MB Livres=0", "MB Livres=200"));
  int64_t freeMb = 300;
  env.diskQuery = [&](const std::string&, DiskSpace& out) {
    out.freeBytes = static_cast<uint64_t>(freeMb) * 1024 * 1024;
    out.totalBytes = 1000ull * 1024 * 1024;
    return true;
  };
  // Oldest first by time; by name the order would differ (day first).
  const std::pair<const char*, WallTime> finished[] = {
      {"3011261000a3011261010.mp3", At(1, 10, 10) - 24h},
      {"0112261000a0112261010.mp3", At(1, 10, 10)},
      {"0512261000a0512261010.mp3", At(5, 10, 10)},
  };
  for (const auto& [name, t] : finished) {
    WriteBytes(root / "r1" / name, "x");
    SetModified(root / "r1" / name, t);
  }
  // Never candidates, however old.
  const char* others[] = {"notes.mp3", "0112260900.mp3", "old.wav",
                          "sub/0112260800a0112260810.mp3"};
  fs::create_directories(root / "r1" / "sub");
  for (const char* o : others) {
    WriteBytes(root / "r1" / o, "x");
    SetModified(root / "r1" / o, At(1, 0, 0) - 24h * 100);
  }
  LockedFile held;  // the oldest of all, being written
  ASSERT_TRUE(held.Create((root / "r1" / "2011261000a2011261010.mp3").string()));
  SetModified(root / "r1" / "2011261000a2011261010.mp3", At(1, 0, 0) - 24h * 100);
  fs::create_directories(root / "copy");
  WriteBytes(root / "copy" / "2011261000a2011261010.mp3", "x");
  WriteBytes(root / "r2" / "0212261000a0212261010.mp3", "x");
  SetModified(root / "r2" / "0212261000a0212261010.mp3", At(2, 10, 10));

  Load();
  frm->BGravarClick();
  EXPECT_EQ(view.diskShows, 0);  // only buffers look
  Record(1);                     // enough space yet: nothing goes
  frm->WaitFileWork();
  for (const auto& [name, t] : finished) EXPECT_TRUE(fs::exists(root / "r1" / name)) << name;
  const int showsBefore = view.diskShows;
  freeMb = 100;
  const auto exists = [&](const char* name) { return fs::exists(root / "r1" / name); };

  // A buffer of station 1 at a moment of the test clock; the guard's deletion is done on the
  // worker, and waited for here.
  const auto bufferAfter = [&](std::chrono::milliseconds step) {
    now += step;
    StepStation(0, 1);
    frm->WaitFileWork();
  };
  bufferAfter(1s);
  EXPECT_FALSE(exists(finished[0].first));
  EXPECT_TRUE(exists(finished[1].first));
  EXPECT_EQ(view.freeMB, 100);
  // At most four a second, whatever the number of buffers.
  bufferAfter(0ms);
  bufferAfter(100ms);
  EXPECT_TRUE(exists(finished[1].first));
  bufferAfter(200ms);
  EXPECT_FALSE(exists(finished[1].first));
  EXPECT_TRUE(exists(finished[2].first));

  freeMb = 200;  // space is back: nothing more goes
  for (int k = 0; k < 5; ++k) bufferAfter(300ms);
  EXPECT_TRUE(exists(finished[2].first));

  freeMb = 199;
  // The last one goes, then there is nothing the guard may take.
  for (int k = 0; k < 5; ++k) bufferAfter(300ms);
  EXPECT_FALSE(exists(finished[2].first));
  for (const char* o : others) EXPECT_TRUE(exists(o)) << o;
  EXPECT_TRUE(exists("2011261000a2011261010.mp3"));
  EXPECT_TRUE(exists("0812261530.mp3"));  // the recording
  EXPECT_TRUE(fs::exists(root / "copy" / "2011261000a2011261010.mp3"));
  EXPECT_TRUE(fs::exists(root / "r2" / "0212261000a0212261010.mp3"));

  // The guard looks at the current station's folder.
  frm->SetCurrentStation(1);
  bufferAfter(300ms);
  EXPECT_FALSE(fs::exists(root / "r2" / "0212261000a0212261010.mp3"));
  EXPECT_TRUE(fs::exists(root / "r2" / "0812261530.mp3"));

  // Each deletion is told once, on the journal, with the file.
  ASSERT_EQ(view.logLines.size(), 4u);
  EXPECT_NE(view.logLines[0].find((root / "r1" / finished[0].first).string()), std::string::npos)
      << view.logLines[0];
  EXPECT_NE(view.logLines[3].find((root / "r2" / "0212261000a0212261010.mp3").string()),
            std::string::npos)
      << view.logLines[3];

  // Not while station 1 is stopped.
  const int shows = view.diskShows;
  EXPECT_EQ(shows - showsBefore, 3);  // shown when the figure changed: 100, 200, 199 MB
  frm->BStopClick();
  EXPECT_EQ(view.diskShows, shows);
  EXPECT_TRUE(fs::exists(root / "r1" / "0812261530a0812261530.mp3"));
  EXPECT_TRUE(view.messages.empty());
}

// Every buffer of every station looks at the disk figures; they come from a query at most a
// quarter of a second old, are shown only when they change, and follow the watched station.
TEST_F(SessionTest, DiskFiguresComeFromAQueryAtMostAQuarterSecondOld) {
  WriteIni(BasicIni(3));
  uint64_t freeBytes = 300ull << 20;
  env.diskQuery = [&](const std::string& folder, DiskSpace& out) {
    out.freeBytes = folder == (root / "r2").string() ? (100ull << 20) : freeBytes;
    out.totalBytes = 1000ull << 20;
    return true;
  };
  Load();
  frm->BGravarClick();
  const auto rounds = [&](int n) {  // a buffer of each station per 23 ms of the clock
    for (int k = 0; k < n; ++k) {
      now += 23ms;
      Record(0.02);
    }
  };
  rounds(87);                    // 2 s, 261 buffers
  EXPECT_EQ(view.diskShows, 1);  // the same figures all along
  EXPECT_EQ(view.freeMB, 300);
  frm->SetCurrentStation(1);  // another station: its own figures at the next buffer
  rounds(1);
  EXPECT_EQ(view.freeMB, 100);
  frm->SetCurrentStation(0);  // and back, queried afresh now
  rounds(1);
  EXPECT_EQ(view.freeMB, 300);
  freeBytes = 250ull << 20;
  rounds(5);  // 115 ms: the figure of that query still stands
  EXPECT_EQ(view.freeMB, 300);
  rounds(6);  // 253 ms
  EXPECT_EQ(view.freeMB, 250);
  EXPECT_EQ(view.diskShows, 4);
  frm->BStopClick();
}

// Another program fills the disk: deleting recordings cannot bring the space back, so the
// guard frees no more than the stations write. Five old segments, a station that writes a few
// kilobytes: one goes, the archive stays. Once the stations have written as much as the next
// oldest holds, that one may go too.
TEST_F(SessionTest, GuardOnADiskFilledByAnotherProgramTakesOneRecordingNotTheArchive) {
  WriteIni(With(BasicIni(1), "MB Livres=0", "MB Livres=200"));
  env.diskQuery = [](const std::string&, DiskSpace& out) {
    out.freeBytes = 50ull * 1024 * 1024;  // always short of 200 MB
    out.totalBytes = 1000ull * 1024 * 1024;
    return true;
  };
  constexpr uintmax_t kSegmentBytes = 256 * 1024;  // 16 s at 128 kbit/s
  std::vector<std::string> old;
  for (int d = 1; d <= 5; ++d) {
    const std::string name =
        "0" + std::to_string(d) + "12261000a0" + std::to_string(d) + "12261010.mp3";
    WriteBytes(root / "r1" / name, "");
    fs::resize_file(root / "r1" / name, kSegmentBytes);
    SetModified(root / "r1" / name, At(d, 10, 10));
    old.push_back(name);
  }
  Load();
  frm->BGravarClick();
  const auto remaining = [&] {
    int n = 0;
    for (const std::string& name : old) n += fs::exists(root / "r1" / name) ? 1 : 0;
    return n;
  };
  // Three seconds of recording, buffer by buffer with the clock running along.
  const auto recordWithClock = [&](double seconds) {
    const int buffers = static_cast<int>(seconds * 176400 / 4096);
    for (int k = 0; k < buffers; ++k) {
      now += 23ms;
      StepStation(0, 1);
      frm->WaitFileWork();
    }
  };
  recordWithClock(3);
  EXPECT_EQ(remaining(), 4);
  EXPECT_FALSE(fs::exists(root / "r1" / old[0]));
  EXPECT_LT(frm->BytesWritten(), kSegmentBytes);

  // Once a segment's worth is written, the next oldest may go; no more.
  while (frm->BytesWritten() < kSegmentBytes + 16 * 1024) recordWithClock(1);
  EXPECT_EQ(remaining(), 3);
  EXPECT_FALSE(fs::exists(root / "r1" / old[1]));
  EXPECT_EQ(view.logLines.size(), 2u);
  frm->BStopClick();
}

TEST_F(SessionTest, ButtonsAndIconFollowTheInputs) {
  WriteIni(BasicIni(3));
  Load();
  frm->UpdateRecordButtons();
  EXPECT_EQ(view.buttons, std::make_pair(true, false));

  frm->BGravarClick();
  EXPECT_EQ(view.buttons, std::make_pair(false, true));
  EXPECT_TRUE(view.animating);
  EXPECT_EQ(view.iconStarts, 3);  // every station's start
  frm->UpdateRecordButtons();
  EXPECT_EQ(view.buttons, std::make_pair(false, true));
  Record(0.5);

  // A rotation stops nothing: the buttons and the icon stay as they are.
  now = At(8, 15, 40);
  view.events.clear();
  frm->TimerRecordTimer();
  EXPECT_EQ(view.buttons, std::make_pair(false, true));
  EXPECT_TRUE(view.animating);
  EXPECT_TRUE(view.events.empty()) << view.events.front();
  Record(0.5);

  view.events.clear();
  now = At(8, 15, 41);
  frm->BStopClick();
  EXPECT_EQ(view.buttons, std::make_pair(true, false));
  EXPECT_FALSE(view.animating);
  EXPECT_GE(view.iconStops, 1);
  ASSERT_FALSE(view.events.empty());
  EXPECT_EQ(view.events.back(), "idle");
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(frm->Station(i).WaveIn->HasState(dsStarted)) << i;
    EXPECT_TRUE(frm->Station(i).WaveIn->HasState(dsClosed)) << i;  // the stop event closes all
  }
  frm->UpdateRecordButtons();
  EXPECT_EQ(view.buttons, std::make_pair(true, false));
  EXPECT_TRUE(view.messages.empty());
}

// A level display that counts the blocks it is handed.
class CountingDisplay : public TMMDisplay {
 public:
  void SetPCMFormat(const WAVEFORMATEX*) override {}
  int32_t BlockBytes() const override { return 396; }
  void ProcessPCMBlock(const void*) override { ++blocks; }
  void ResetDisplay() override {}
  int blocks = 0;
};

// The connectors' feeding loop runs on the interface thread that carries every station's
// audio, so it must not spin: with no display attached it does nothing at all, with one it
// hands over each buffer's blocks as they come due and rests, and rotations leave it as the
// start left it.
TEST_F(SessionTest, DisplayFeedingLoopDoesOnlyWhatTheDisplaysNeed) {
  WriteIni(BasicIni(2));
  Load();
  int feeds = 0;  // rounds of the loop, as station 1's connector sees them
  frm->Station(0).Connector->OnTrigger = [&feeds](TComponent*) { ++feeds; };
  frm->BGravarClick();
  RunFor(50ms);  // the start's own round
  feeds = 0;
  Record(0.5);
  RunFor(100ms);
  EXPECT_EQ(feeds, 0) << "rounds with no display attached";

  CountingDisplay level;
  frm->Station(0).Connector->SetLevel1(&level);
  // One buffer of station 1: its ten whole blocks of 396 bytes, then rest.
  const auto oneBuffer = [&] {
    RunFor(100ms);  // the blocks of earlier buffers handed over
    feeds = 0;
    level.blocks = 0;
    StepStation(0, 1);
    RunFor(100ms);
    return level.blocks;
  };
  EXPECT_EQ(oneBuffer(), 10);
  EXPECT_LE(feeds, 12);  // a round per block, and the one that finds the end
  for (int k = 1; k <= 10; ++k) {
    now += 1min;
    frm->TimerRecordTimer();
    Record(0.05);
  }
  EXPECT_EQ(oneBuffer(), 10) << "after 10 rotations";
  EXPECT_LE(feeds, 12) << "after 10 rotations";
  feeds = 0;
  RunFor(100ms);
  EXPECT_EQ(feeds, 0) << "rounds with nothing new";
  frm->BStopClick();
  frm->Station(0).Connector->SetLevel1(nullptr);
  frm->Station(0).Connector->OnTrigger = nullptr;
}

// What reached a station's encoder, file by file: a tap at the encoder's input. A buffer
// belongs to the file the encoder was writing when it came; a file changes between buffers.
struct EncoderTap {
  std::vector<std::string> files;
  std::vector<std::vector<uint16_t>> samples;  // per file, interleaved

  void Attach(TMMMP3Encoder* e) {
    e->OnBufferReady = [this, e](TComponent*, PWaveHdr b) {
      if (files.empty() || files.back() != e->FileName()) {
        files.push_back(e->FileName());
        samples.emplace_back();
      }
      const auto* p = reinterpret_cast<const uint16_t*>(b->lpData);
      samples.back().insert(samples.back().end(), p, p + b->dwBytesRecorded / 2);
    };
  }
  size_t Total() const {
    size_t n = 0;
    for (const auto& v : samples) n += v.size();
    return n;
  }
  // Breaks of the counter ramp inside the files.
  size_t BreaksWithinFiles() const {
    size_t breaks = 0;
    for (const auto& v : samples)
      for (size_t i = 1; i < v.size(); ++i)
        if (static_cast<uint16_t>(v[i - 1] + 1) != v[i]) ++breaks;
    return breaks;
  }
  // Samples missing (positive) or repeated (negative) between the end of file k and the start
  // of file k + 1.
  long Seam(size_t k) const {
    const uint16_t last = samples[k].back(), first = samples[k + 1].front();
    const auto ahead = static_cast<uint16_t>(first - last - 1);
    return ahead < 32768 ? static_cast<long>(ahead) : static_cast<long>(ahead) - 65536;
  }
};

// A rotation ends each station's file and begins the next between two buffers, while the
// capture runs on: the files of a station hold the whole counter ramp, each sample once, in
// order. Stepped inputs fill buffers partly, so that rotations come with a buffer half full.
TEST_F(SessionTest, RotationKeepsEverySampleOfEveryStation) {
  SimDeviceConfig dev;
  dev.signal = SimSignal::Ramp;
  sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(8, dev));
  WriteIni(With(BasicIni(3), "TempoRec=10", "TempoRec=1"));
  Load();
  EncoderTap taps[3];
  for (int i = 0; i < 3; ++i) taps[i].Attach(frm->Station(i).Encoder);

  constexpr int kRotations = 4;
  constexpr uint32_t kStep = 3000;  // not a whole buffer
  uint64_t produced = 0;
  const auto record = [&](int steps) {
    for (int k = 0; k < steps; ++k) {
      for (int i = 0; i < 3; ++i) sim->Step(frm->Station(i).WaveIn->Handle(), kStep);
      produced += kStep;
      QCoreApplication::processEvents();
    }
  };
  frm->BGravarClick();
  for (int r = 0; r < kRotations; ++r) {
    record(40 + 7 * r);
    now += 1min;
    frm->TimerRecordTimer();
    EXPECT_TRUE(frm->IsRecording());
  }
  record(33);
  now += 1min;
  frm->BStopClick();
  frm->WaitFileWork();
  EXPECT_TRUE(view.messages.empty()) << view.messages[0];

  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("station " + std::to_string(i + 1));
    const EncoderTap& t = taps[i];
    ASSERT_EQ(t.files.size(), static_cast<size_t>(kRotations + 1));
    // Every byte captured reached a file, but for the partly filled buffer of the final stop,
    // which a wave input's stop has always let go.
    EXPECT_EQ(t.Total() * 2, produced / 4096 * 4096);
    EXPECT_EQ(t.samples[0].front(), 0);
    EXPECT_EQ(t.BreaksWithinFiles(), 0u);
    for (size_t k = 0; k + 1 < t.files.size(); ++k) EXPECT_EQ(t.Seam(k), 0) << "rotation " << k + 1;
    // Each file holds what its tap saw: decoding gives those frames plus the encoder's delay
    // and the padding of its last frame.
    const std::string folder = "r" + std::to_string(i + 1);
    const Names files = Files(folder);
    ASSERT_EQ(files.size(), t.files.size());
    for (size_t k = 0; k < files.size(); ++k) {
      const std::string stamp = fs::path(t.files[k]).stem().string();
      EXPECT_EQ(files[k].substr(0, 10), stamp);
      if (k + 1 < files.size()) {  // a chain of stamps: each file ends where the next begins
        EXPECT_EQ(files[k].substr(11, 10), files[k + 1].substr(0, 10));
      }
      const long n = static_cast<long>(t.samples[k].size() / 2);
      const long decoded = static_cast<long>(DecodeMp3(root / folder / files[k]).Samples());
      EXPECT_GE(decoded, n + 1152) << files[k];
      EXPECT_LE(decoded, n + 2303) << files[k];
    }
  }
  std::printf("stepped ramp, %d rotations x 3 stations: 0 samples lost, 0 repeated\n", kRotations);
}

// The same from live inputs that run in real time while the rotations come: the samples
// missing or repeated between one file's end and the next file's start, per rotation.
TEST_F(SessionTest, RotationGapFromLiveRampDevices) {
  UseLiveRampDevices();
  WriteIni(With(BasicIni(2), "TempoRec=10", "TempoRec=1"));
  Load();
  EncoderTap taps[2];
  for (int i = 0; i < 2; ++i) taps[i].Attach(frm->Station(i).Encoder);

  constexpr int kRotations = 4;
  frm->BGravarClick();
  for (int r = 0; r < kRotations; ++r) {
    RunFor(1200ms);
    now += 1min;
    frm->TimerRecordTimer();
  }
  RunFor(1200ms);
  uint64_t lostInDevices = 0;
  for (int i = 0; i < 2; ++i) lostInDevices += sim->LostBytes(frm->Station(i).WaveIn->Handle());
  now += 1min;
  frm->BStopClick();
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(view.faults.empty()) << view.faults[0];
  EXPECT_EQ(lostInDevices, 0u);

  long worstLost = 0, worstRepeated = 0;
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE("station " + std::to_string(i + 1));
    const EncoderTap& t = taps[i];
    ASSERT_EQ(t.files.size(), static_cast<size_t>(kRotations + 1));
    EXPECT_EQ(t.BreaksWithinFiles(), 0u);
    for (size_t k = 0; k + 1 < t.files.size(); ++k) {
      const long seam = t.Seam(k);
      EXPECT_EQ(seam, 0) << "rotation " << k + 1;
      worstLost = std::max(worstLost, seam);
      worstRepeated = std::max(worstRepeated, -seam);
    }
  }
  std::printf(
      "live ramp, %d rotations x 2 stations: at most %ld samples lost and %ld repeated "
      "at a rotation\n",
      kRotations, worstLost, worstRepeated);
  for (const char* r : {"r1", "r2"}) {
    EXPECT_EQ(Files(r).size(), static_cast<size_t>(kRotations + 1)) << r;
    ExpectFinishedDecode(r);
  }
}

// A backup copy to a slow disk takes five seconds; eight stations record from live inputs
// meanwhile, and a rotation comes while it runs. No station loses a sample.
TEST_F(SessionTest, SlowBackupCopyCostsNoStationASample) {
  UseLiveRampDevices();
  std::string ini = With(BasicIni(8), "TempoRec=10", "TempoRec=1");
  for (int n = 1; n <= 8; ++n) {
    fs::create_directories(root / ("copy" + std::to_string(n)));
    ini += "[Copia]\nR" + std::to_string(n) + "=S\n[LocalCopia]\nR" + std::to_string(n) + "=" +
           (root / ("copy" + std::to_string(n))).string() + "\n";
  }
  WriteIni(ini);
  std::atomic<int> slowCopies{0};
  env.backupCopy = [&slowCopies](const std::string& from, const std::string& to) {
    if (slowCopies++ == 0) std::this_thread::sleep_for(5s);
    return CopyReplacing(from, to);
  };
  Load();
  EncoderTap taps[8];
  for (int i = 0; i < 8; ++i) taps[i].Attach(frm->Station(i).Encoder);

  frm->BGravarClick();
  RunFor(1000ms);
  now += 1min;
  const auto t0 = std::chrono::steady_clock::now();
  frm->TimerRecordTimer();
  const double rotationMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  RunFor(3000ms);
  now += 1min;
  frm->TimerRecordTimer();  // its copies wait behind the slow one
  RunFor(3000ms);
  uint64_t lost = 0;
  for (int i = 0; i < 8; ++i) lost += sim->LostBytes(frm->Station(i).WaveIn->Handle());
  now += 1min;
  frm->BStopClick();
  frm->WaitFileWork();
  std::printf("rotation of 8 stations on the interface thread: %.1f ms, a copy of 5 s beside it\n",
              rotationMs);
  EXPECT_LT(rotationMs, 1000.0);  // not the copy's 5 s
  EXPECT_EQ(lost, 0u);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE("station " + std::to_string(i + 1));
    ASSERT_EQ(taps[i].files.size(), 3u);
    EXPECT_EQ(taps[i].BreaksWithinFiles(), 0u);
    EXPECT_EQ(taps[i].Seam(0), 0);
    EXPECT_EQ(taps[i].Seam(1), 0);
    const std::string n = std::to_string(i + 1);
    EXPECT_EQ(Files("copy" + n), Files("r" + n));
  }
  EXPECT_TRUE(view.messages.empty());
}

// A "Parar" that comes while a rotation runs (from a box or a wait inside it) is carried out
// after the rotation, not inside it: the new segment is finished once, and nothing starts
// again after the stop.
TEST_F(SessionTest, StopRequestedInsideARotationRunsAfterIt) {
  std::function<void()> hook;
  UseHookedLame(&hook);
  WriteIni(BasicIni(2));
  Load();
  frm->BGravarClick();
  Record(0.5);
  bool recordingInside = false;
  hook = [&] {
    frm->BStopClick();
    recordingInside = frm->IsRecording();
  };
  now = At(8, 15, 40);
  frm->TimerRecordTimer();
  EXPECT_TRUE(recordingInside);  // the stop waited
  EXPECT_FALSE(frm->IsRecording());
  EXPECT_FALSE(frm->TimerRecord().isActive());
  frm->WaitFileWork();
  for (const char* r : {"r1", "r2"}) {
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261540.mp3", "0812261540a0812261540.mp3"})) << r;
  }
  Record(0.5);  // nothing records any more
  for (const char* r : {"r1", "r2"}) EXPECT_EQ(Files(r).size(), 2u) << r;
  EXPECT_TRUE(view.messages.empty());
  SetBladeLoader(nullptr);
}

// The first start on a machine whose device cannot record says which station and device
// failed, what the device is and where another one is chosen.
TEST_F(SessionTest, StartOnADeviceThatCannotRecordNamesItAndTellsHowToChooseAnother) {
  sim->Devices()[0].queryResult = WAVERR_BADFORMAT;
  sim->Devices()[0].name = "JACK Audio Connection Kit";
  WriteIni(BasicIni(1));
  Load();
  frm->BGravarClick();
  EXPECT_EQ(view.messages,
            Names{"Emissora 1: WaveInOpen:\n\rThe actual device can't record this format\n"
                  "Dispositivo 0 (\"JACK Audio Connection Kit\"). Escolha outro dispositivo em "
                  "cfg.ini [Placa] R1; o programa list-devices mostra os números dos "
                  "dispositivos."});
  EXPECT_FALSE(frm->IsRecording());
  EXPECT_TRUE(Files("r1").empty());
}

// A station whose new file cannot be created at a rotation records nothing in that segment;
// the others rotate, and every old file gets its finished name. The next rotation tries again.
TEST_F(SessionTest, StationFailingAtARotationLeavesTheOthersAndTheOldFilesAlone) {
  WriteIni(BasicIni(3));
  Load();
  frm->BGravarClick();
  Record(1);
  fs::create_directories(root / "r2" / "0812261540.mp3");  // a folder where the file would go
  now = At(8, 15, 40);
  frm->TimerRecordTimer();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].rfind("Emissora 2: Unable to create file: ", 0), 0u)
      << view.messages[0];
  for (const char* r : {"r1", "r3"})
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261540.mp3", "0812261540.mp3"})) << r;
  EXPECT_EQ(Files("r2"), (Names{"0812261530a0812261540.mp3", "0812261540.mp3"}));
  EXPECT_TRUE(fs::is_directory(root / "r2" / "0812261540.mp3"));
  Record(1);
  now = At(8, 15, 50);
  frm->TimerRecordTimer();
  EXPECT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(Files("r2"), (Names{"0812261530a0812261540.mp3", "0812261540.mp3", "0812261550.mp3"}));
  Record(1);
  now = At(8, 15, 51);
  frm->BStopClick();
  EXPECT_EQ(Files("r2"),
            (Names{"0812261530a0812261540.mp3", "0812261540.mp3", "0812261550a0812261551.mp3"}));
  for (const char* r : {"r1", "r3"})
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261540.mp3", "0812261540a0812261550.mp3",
                               "0812261550a0812261551.mp3"}))
        << r;
}

// Audio the device had to drop (the interface thread held up longer than the device's ring
// lasts) is told, each overrun once, with the frames lost; the station records on.
TEST_F(SessionTest, OverrunIsToldWithTheFramesLost) {
  UseLiveRampDevices().ringMs = 100;
  WriteIni(BasicIni(1));
  Load();
  frm->BGravarClick();
  RunFor(300ms);
  std::this_thread::sleep_for(800ms);  // ten buffers and the ring are 330 ms
  RunFor(500ms);
  const uint64_t lostFrames = sim->LostBytes(frm->Station(0).WaveIn->Handle()) / 4;
  ASSERT_GT(lostFrames, 0u);
  // One report for the held-up moment (a busy machine may add one of its own): together they
  // tell every frame the device dropped.
  ASSERT_GE(view.faults.size(), 1u);
  const std::string prefix = "Emissora 1: o dispositivo 0 (\"Simulated input\") descartou ";
  uint64_t told = 0;
  for (const std::string& f : view.faults) {
    ASSERT_EQ(f.rfind(prefix, 0), 0u) << f;
    told += std::stoull(f.substr(prefix.size()));
    EXPECT_NE(f.find(" quadros de áudio ("), std::string::npos) << f;
  }
  EXPECT_EQ(told, lostFrames);
  EXPECT_TRUE(frm->IsRecording());
  frm->BStopClick();
  ExpectFinishedDecode("r1");
}

// A device that goes away while recording (a USB card pulled) is told once; the capture
// reopens it by itself every few seconds, and once it is back the station records on into the
// same segment, told once more.
TEST_F(SessionTest, DeviceLostAndBackRecordsOnIntoTheSameSegment) {
  auto unplugged = std::make_shared<std::atomic<bool>>(false);
  UseLiveRampDevices().unplugged = unplugged;
  WriteIni(BasicIni(1));
  Load();
  EncoderTap tap;
  tap.Attach(frm->Station(0).Encoder);
  frm->BGravarClick();
  RunFor(500ms);
  *unplugged = true;
  RunFor(3000ms);
  ASSERT_EQ(view.faults.size(), 1u);
  EXPECT_NE(view.faults[0].find("Emissora 1: o dispositivo 0 (\"Simulated input\") falhou ou foi "
                                "desconectado"),
            std::string::npos)
      << view.faults[0];
  EXPECT_TRUE(frm->IsRecording());
  *unplugged = false;
  const auto back = std::chrono::steady_clock::now() + 8s;
  while (view.faults.size() < 2 && std::chrono::steady_clock::now() < back) RunFor(100ms);
  ASSERT_EQ(view.faults.size(), 2u);
  EXPECT_NE(view.faults[1].find("voltou; a gravação continua no segmento atual"), std::string::npos)
      << view.faults[1];
  const size_t before = tap.Total();
  RunFor(500ms);
  EXPECT_GT(tap.Total(), before + 30000u);  // audio again, into the same file
  ASSERT_EQ(tap.files.size(), 1u);
  // One break in the ramp: the time the device was away.
  EXPECT_EQ(tap.BreaksWithinFiles(), 1u);
  now += 1min;
  frm->BStopClick();
  EXPECT_EQ(Files("r1"), Names{"0812261530a0812261531.mp3"});
  ExpectFinishedDecode("r1");
  EXPECT_TRUE(view.messages.empty());
}

// A full disk closes the station's file (told once); rotations while it lasts leave no empty
// files behind; once space is back the station records again at once, in a segment of its own
// that the next rotation finishes with the others.
TEST_F(SessionTest, FullDiskIsToldAndTheStationResumesWhenSpaceIsBack) {
  WriteIni(BasicIni(2));
  bool full = false;
  env.diskQuery = [&full](const std::string&, DiskSpace& out) {
    out.freeBytes = full ? 5000 : (uint64_t{1} << 33);
    out.totalBytes = uint64_t{1} << 34;
    return true;
  };
  Load();
  frm->BGravarClick();
  Record(1);
  now = At(8, 15, 31);
  frm->TimerRecordTimer();
  full = true;  // the new segments' first writes fail
  Record(1);
  QCoreApplication::processEvents();
  EXPECT_EQ(view.faults.size(), 2u);  // one per station
  EXPECT_NE(view.faults[0].find("Emissora 1: disco cheio ou erro de escrita em " +
                                (root / "r1").string()),
            std::string::npos)
      << view.faults[0];
  EXPECT_TRUE(frm->WaitsForSpace(0));
  for (const char* r : {"r1", "r2"})  // the empty files are gone, not finished
    EXPECT_EQ(Files(r), Names{"0812261530a0812261531.mp3"}) << r;
  for (int k = 2; k <= 3; ++k) {
    now = At(8, 15, 30 + k);
    frm->TimerRecordTimer();
    Record(1);
  }
  for (const char* r : {"r1", "r2"}) EXPECT_EQ(Files(r), Names{"0812261530a0812261531.mp3"}) << r;
  EXPECT_EQ(view.faults.size(), 2u);

  full = false;
  now = At(8, 15, 33, 30);
  RunFor(1500ms);  // the fault watch looks every second
  EXPECT_FALSE(frm->WaitsForSpace(0));
  ASSERT_EQ(view.faults.size(), 4u);
  EXPECT_NE(view.faults[2].find("há espaço em disco de novo; gravando em " +
                                (root / "r1" / "0812261533.mp3").string()),
            std::string::npos)
      << view.faults[2];
  Record(1);
  now = At(8, 15, 34);
  frm->TimerRecordTimer();
  Record(1);
  now = At(8, 15, 35);
  frm->BStopClick();
  for (const char* r : {"r1", "r2"}) {
    EXPECT_EQ(Files(r), (Names{"0812261530a0812261531.mp3", "0812261533a0812261534.mp3",
                               "0812261534a0812261535.mp3"}))
        << r;
    ExpectFinishedDecode(r);
  }
  EXPECT_TRUE(view.messages.empty());
}

}  // namespace
