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
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

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

  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    if (onMessage) onMessage(text);
  }
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

// A full decode: frames decoded, and whether the decoder met anything but the stream's end.
struct Decoded {
  long frames = 0;
  bool error = false;
  std::string what;
};

Decoded DecodeMp3(const fs::path& path) {
  Decoded d;
  int err = MPG123_OK;
  mpg123_handle* mh = mpg123_new(nullptr, &err);
  if (!mh) return {0, true, "mpg123_new"};
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
    mpg123_delete(mh);
    return {0, true, "open"};
  }
  for (;;) {
    off_t num = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    const int r = mpg123_decode_frame(mh, &num, &audio, &bytes);
    if (r == MPG123_NEW_FORMAT) continue;
    if (r == MPG123_DONE) break;
    if (r != MPG123_OK) {
      d.error = true;
      d.what = mpg123_strerror(mh);
      break;
    }
    ++d.frames;
  }
  mpg123_close(mh);
  mpg123_delete(mh);
  return d;
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
    SetWallClock([this] { return now; });
    SimDeviceConfig dev;
    dev.signal = SimSignal::Tone;
    sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(8, dev));
  }
  void TearDown() override {
    frm.reset();
    SetWallClock(nullptr);
    SetDiskSpaceQuery(nullptr);
    fs::remove_all(root);
  }

  void WriteIni(const std::string& text) { std::ofstream(root / "cfg.ini") << text; }
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
    frm = std::make_unique<TFrmGravar>((root / "cfg.ini").string(), sim.get(), &view);
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
      const Decoded d = DecodeMp3(root / sub / name);
      EXPECT_GT(d.frames, 0) << sub << "/" << name;
      EXPECT_FALSE(d.error) << sub << "/" << name << ": " << d.what;
    }
    EXPECT_GT(seen, 0) << sub;
  }

  fs::path root;
  WallTime now;
  std::unique_ptr<SimCaptureBackend> sim;
  RecordingView view;
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
  EXPECT_EQ(view.messages, Names{"Unable to create file"});
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
  EXPECT_EQ(view.messages, Names{"'um' is not a valid integer value"});
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
  std::map<std::string, long> frames;
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
    for (const char* r : {"r1", "r2"}) {
      EXPECT_EQ(Files(r), Names{finished}) << r;  // the in-progress file is gone
      const fs::path link = root / "links" / (std::string(r) + std::to_string(round));
      const std::string added = ReadBytes(link);
      EXPECT_GT(added.size(), 0u);
      expected[r] += added;
      frames[r] += DecodeMp3(link).frames;
      EXPECT_EQ(ReadBytes(root / r / finished), expected[r]) << r;
      const Decoded d = DecodeMp3(root / r / finished);
      EXPECT_FALSE(d.error) << d.what;
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
  const Decoded d = DecodeMp3(root / "r1" / "0812261530a0812261531.mp3");
  EXPECT_GT(d.frames, 0);
  EXPECT_FALSE(d.error) << d.what;
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
  EXPECT_EQ(Files("r1"), Names{"new.mp3"});
  EXPECT_EQ(view.armAutoStart, 1);
  EXPECT_FALSE(frm->EndOfDayDone());
}

TEST_F(SessionTest, LowSpaceGuardDeletesTheOldestFinishedRecordingWhileSpaceIsShort) {
  WriteIni(With(BasicIni(2), "MB Livres=0", "MB Livres=200"));
  int64_t freeMb = 100;
  SetDiskSpaceQuery([&](const std::string&, DiskSpace& out) {
    out.freeBytes = static_cast<uint64_t>(freeMb) * 1024 * 1024;
    out.totalBytes = 1000ull * 1024 * 1024;
    return true;
  });
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
  const auto exists = [&](const char* name) { return fs::exists(root / "r1" / name); };

  // A buffer of station 1 at a moment of the test clock.
  const auto bufferAfter = [&](std::chrono::milliseconds step) {
    now += step;
    StepStation(0, 1);
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

  // Not while station 1 is stopped.
  const int shows = view.diskShows;
  EXPECT_EQ(shows, 15);  // one per buffer of station 1
  frm->BStopClick();
  EXPECT_EQ(view.diskShows, shows);
  EXPECT_TRUE(fs::exists(root / "r1" / "0812261530a0812261530.mp3"));
  EXPECT_TRUE(view.messages.empty());
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

  now = At(8, 15, 40);
  view.events.clear();
  frm->TimerRecordTimer();
  EXPECT_EQ(view.buttons, std::make_pair(false, true));
  EXPECT_TRUE(view.animating);
  ASSERT_FALSE(view.events.empty());
  EXPECT_EQ(view.events.front(), "buttons G-");  // the stop event came first
  EXPECT_EQ(view.events.back(), "animate");
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

// The connectors' feeding loop runs on the interface thread, with a 1 ms pause per round;
// a rotation must leave it as the start left it, or a logger running for weeks ends up doing
// nothing else and the gap of every rotation grows.
TEST_F(SessionTest, RotationsDoNotMultiplyTheDisplayFeedingLoop) {
  WriteIni(BasicIni(2));
  Load();
  int feeds = 0;
  frm->Station(0).Connector->OnTrigger = [&feeds](TComponent*) { ++feeds; };
  // Feeding passes of station 1's connector in 50 rounds of the event loop.
  const auto feedsPer50 = [&feeds] {
    feeds = 0;
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    return feeds;
  };
  frm->BGravarClick();
  Record(0.2);
  const int atStart = feedsPer50();
  ASSERT_GT(atStart, 0);
  for (int k = 1; k <= 10; ++k) {
    now += 1min;
    frm->TimerRecordTimer();
    Record(0.05);
  }
  EXPECT_EQ(feedsPer50(), atStart) << "after 10 rotations";
  frm->BStopClick();
  EXPECT_EQ(feedsPer50(), 0);
  frm->Station(0).Connector->OnTrigger = nullptr;
}

// The audio lost at each rotation, measured with live counter-ramp inputs: the samples that
// play between the last one of a segment and the first one of the next.
TEST_F(SessionTest, RotationGapFromLiveRampDevices) {
  SimDeviceConfig dev;
  dev.signal = SimSignal::Ramp;
  dev.paced = true;
  dev.continuous = true;
  sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(8, dev));
  WriteIni(BasicIni(2));  // both channels: the volume stage leaves the samples as they are
  Load();

  std::vector<std::vector<uint16_t>> segments;
  TMMWaveIn* wave = frm->Station(0).WaveIn;
  const TNotifyEvent started = wave->OnStart;
  wave->OnStart = [&segments, started](TComponent* s) {
    segments.emplace_back();
    started(s);
  };
  frm->Station(0).Volume->OnBufferReady = [&segments](TComponent*, PWaveHdr b) {
    if (segments.empty()) return;
    const auto* p = reinterpret_cast<const uint16_t*>(b->lpData);
    segments.back().insert(segments.back().end(), p, p + b->dwBytesRecorded / 2);
  };
  const auto runFor = [](std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
  };

  constexpr int kRotations = 4;
  frm->BGravarClick();
  for (int r = 0; r < kRotations; ++r) {
    runFor(1200ms);
    now += 1min;
    frm->TimerRecordTimer();
  }
  runFor(1200ms);
  now += 1min;
  frm->BStopClick();
  wave->OnStart = started;
  frm->Station(0).Volume->OnBufferReady = nullptr;
  EXPECT_TRUE(view.messages.empty());
  ASSERT_EQ(segments.size(), static_cast<size_t>(kRotations + 1));

  // Within a segment every sample follows the one before: nothing repeated, reordered or lost.
  for (size_t s = 0; s < segments.size(); ++s) {
    const std::vector<uint16_t>& v = segments[s];
    ASSERT_GT(v.size(), 2u) << s;
    EXPECT_EQ(v.size() % 2, 0u) << s;
    EXPECT_EQ(v.front() % 2, 0) << s;  // starts on a left sample
    size_t breaks = 0;
    for (size_t i = 1; i < v.size(); ++i)
      if (static_cast<uint16_t>(v[i - 1] + 1) != v[i]) ++breaks;
    EXPECT_EQ(breaks, 0u) << "segment " << s;
  }

  // Frames missing at each rotation (the ramp counts 16-bit samples, two to a frame).
  double sum = 0, worst = 0;
  for (size_t s = 0; s + 1 < segments.size(); ++s) {
    const uint16_t last = segments[s].back(), first = segments[s + 1].front();
    const double frames = static_cast<uint16_t>(first - last - 1) / 2.0;
    std::printf("rotation %zu: %.0f frames (%.1f ms) missing\n", s + 1, frames,
                frames * 1000.0 / 44100.0);
    sum += frames;
    worst = std::max(worst, frames);
  }
  const double mean = sum / kRotations;
  std::printf("audio lost per rotation: mean %.0f frames (%.1f ms), max %.0f frames (%.1f ms)\n",
              mean, mean * 1000.0 / 44100.0, worst, worst * 1000.0 / 44100.0);

  for (const char* r : {"r1", "r2"}) {
    EXPECT_EQ(Files(r).size(), static_cast<size_t>(kRotations + 1)) << r;
    ExpectFinishedDecode(r);
  }
}

}  // namespace
