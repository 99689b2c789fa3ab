// The player's playback: real recordings made by the encoder stage, played through the media
// control into a silent output. The chosen minute, the clock of what is heard, the next
// recording of the day, the end of the day, the slider, pause and stop, and how exactly and
// how fast a seek lands.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Mp3Decode.h"
#include "TestRecordings.h"
#include "audio/MMBlade.h"
#include "common/PrivateProfile.h"
#include "platform/AudioOutput.h"
#include "player/U_Toca.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

void Pump(std::chrono::milliseconds span) {
  QEventLoop loop;
  QTimer::singleShot(span, &loop, &QEventLoop::quit);
  loop.exec();
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    Pump(10ms);
  }
  return true;
}

LocalTime Day(int day) {
  LocalTime d;
  d.year = 2026;
  d.month = 12;
  d.day = day;
  return d;
}

class ClockView : public TFrmPlayView {
 public:
  std::vector<std::string> clocks;  // every change
  std::vector<std::string> messages;
  int slider = -1;
  bool playEnabled = true;
  void ShowClock(const std::string& t) override {
    if (clocks.empty() || clocks.back() != t) clocks.push_back(t);
  }
  void ShowSlider(int p) override { slider = p; }
  void EnablePlay(bool e) override { playEnabled = e; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root =
        fs::path(TEST_DATA_DIR) / ("player_" + std::to_string(getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "st1");
    PrivateProfile ini((root / "cfg.ini").string());
    ini.WriteString("Geral", "Emissoras", "1");
    ini.WriteString("LocalPlay", "R1", Folder());
  }
  void TearDown() override {
    player.reset();
    fs::remove_all(root);
  }
  std::string Folder() const { return (root / "st1").string(); }
  void Start(double speed = 1.0, bool keep = false) {
    auto out = std::make_unique<SilentOutput>(speed, keep);
    output = out.get();
    player = std::make_unique<TFrmPlay>((root / "cfg.ini").string(), std::move(out), &view);
    player->FormCreate();
  }
  // Plays the chosen minute; true once the recording is open and positioned.
  bool Play(int day, int hour, int minute) {
    player->BTocarClick(Day(day), hour, minute, Folder());
    return PumpUntil([&] { return player->FileOpened() && !player->UserStarted(); });
  }
  double Position() { return player->Media().CurrentPosition(); }

  fs::path root;
  ClockView view;
  SilentOutput* output = nullptr;
  std::unique_ptr<TFrmPlay> player;
};

// 15:37 in 1530a1540: seven minutes in, the clock at 15:37:00 and running; at the end the
// next recording opens and the clock goes on from 15:40:00 without a jump; after the last one
// of the day the clock reads 00:00:00.
TEST_F(PlayerTest, PlaysFromTheChosenMinuteAndGoesOnWithTheNextRecording) {
  WriteRecording(root / "st1" / "0812261530a0812261540.mp3", 10);
  WriteRecording(root / "st1" / "0812261540a0812261550.mp3", 10);
  Start();
  ASSERT_TRUE(Play(8, 15, 37));
  EXPECT_TRUE(player->Media().FileName().ends_with("0812261530a0812261540.mp3"));
  EXPECT_NEAR(Position(), 420.0, 0.1);
  EXPECT_FALSE(view.playEnabled);
  Pump(1300ms);
  ASSERT_GE(view.clocks.size(), 2u);
  EXPECT_EQ(view.clocks[0], "15:37:00");
  EXPECT_EQ(view.clocks[1], "15:37:01");

  // Near the end: the follow-on.
  view.clocks.clear();
  player->Media().SetCurrentPosition(player->Media().Duration() - 1.5);
  ASSERT_TRUE(
      PumpUntil([&] { return player->Media().FileName().ends_with("0812261540a0812261550.mp3"); }));
  ASSERT_TRUE(PumpUntil([&] { return player->FileOpened(); }));
  Pump(1300ms);
  EXPECT_NEAR(Position(), 1.3, 0.3);  // the next one plays from its start
  // The clock went 15:39:59, 15:40:00, 15:40:01: never back, never more than a second on.
  std::vector<int> seconds;
  for (const std::string& c : view.clocks)
    seconds.push_back(std::stoi(c.substr(0, 2)) * 3600 + std::stoi(c.substr(3, 2)) * 60 +
                      std::stoi(c.substr(6, 2)));
  ASSERT_GE(seconds.size(), 3u);
  for (size_t i = 1; i < seconds.size(); ++i) {
    EXPECT_GE(seconds[i] - seconds[i - 1], 0) << view.clocks[i];
    EXPECT_LE(seconds[i] - seconds[i - 1], 1) << view.clocks[i];
  }
  EXPECT_NE(std::find(view.clocks.begin(), view.clocks.end(), "15:40:00"), view.clocks.end());

  // The last of the day: nothing follows.
  player->Media().SetCurrentPosition(player->Media().Duration() - 1.0);
  ASSERT_TRUE(PumpUntil([&] { return !player->TimerMusica().isActive(); }));
  EXPECT_EQ(player->Clock(), "00:00:00");
  EXPECT_EQ(view.slider, 0);
  EXPECT_TRUE(view.playEnabled);
  EXPECT_TRUE(view.messages.empty());
}

// Positions land on the chosen minute itself: whole hours of the difference count, and a
// recording begun the day before is entered at the minute chosen after midnight.
TEST_F(PlayerTest, ThePositionIsTheChosenMinuteExactly) {
  WriteRecording(root / "st1" / "0812262355a0912260005.mp3", 10);
  WriteRecording(root / "st1" / "1012261000a1012261110.mp3", 70, br32);
  struct Case {
    const char* what;
    int day, hour, minute;
    double position;
    const char* clock;
  };
  const Case cases[] = {
      {"00:03 in a recording begun at 23:55 the day before", 9, 0, 3, 480.0, "00:03:00"},
      {"23:58 in the same recording", 8, 23, 58, 180.0, "23:58:00"},
      {"65 minutes into a recording of 70", 10, 11, 5, 3900.0, "11:05:00"},
  };
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.clocks.clear();
    ASSERT_TRUE(Play(c.day, c.hour, c.minute));
    EXPECT_NEAR(Position(), c.position, 0.1);
    Pump(250ms);
    ASSERT_FALSE(view.clocks.empty());
    EXPECT_EQ(view.clocks.front(), c.clock);
    player->BStopClick();
  }
}

// A gap before the next recording: it plays from its start, with the clock at its start.
TEST_F(PlayerTest, AfterAGapTheNextRecordingPlaysFromItsStart) {
  WriteRecording(root / "st1" / "0812261530a0812261540.mp3", 10);
  WriteRecording(root / "st1" / "0812261545a0812261555.mp3", 10);
  Start();
  ASSERT_TRUE(Play(8, 15, 39));
  player->Media().SetCurrentPosition(player->Media().Duration() - 0.5);
  ASSERT_TRUE(
      PumpUntil([&] { return player->Media().FileName().ends_with("0812261545a0812261555.mp3"); }));
  ASSERT_TRUE(PumpUntil([&] { return player->FileOpened(); }));
  view.clocks.clear();
  Pump(300ms);
  ASSERT_FALSE(view.clocks.empty());
  EXPECT_EQ(view.clocks.front(), "15:45:00");
  EXPECT_LT(Position(), 1.0);
}

// The slider: dragged to 50 on a ten-minute file, the seek comes on release, not while the
// thumb moves, and the timer leaves the thumb alone meanwhile; its hint is the percentage.
// Pause, Stop, Play, Pause: the first Pause after the new Play resumes.
TEST_F(PlayerTest, SliderPauseAndStop) {
  WriteRecording(root / "st1" / "0812261530a0812261540.mp3", 10);
  Start();
  ASSERT_TRUE(Play(8, 15, 30));
  player->TBProgressMusicaTrack();
  view.slider = 77;  // where the user holds it
  Pump(300ms);
  EXPECT_EQ(view.slider, 77);
  EXPECT_LT(Position(), 5.0);
  player->TBProgressMusicaTrackEnd(50);
  EXPECT_FALSE(player->Dragging());
  ASSERT_TRUE(PumpUntil([&] { return Position() > 290; }));
  EXPECT_NEAR(Position(), player->Media().SelectionEnd() / 2, 1.0);
  Pump(200ms);
  EXPECT_EQ(view.slider, 50);
  EXPECT_EQ(TFrmPlay::TBProgressMusicaChange(50), "50%");

  player->BPausaClick();
  EXPECT_TRUE(player->PlaybackPaused());
  const double held = Position();
  Pump(400ms);
  EXPECT_NEAR(Position(), held, 0.05);  // paused
  player->BStopClick();
  EXPECT_TRUE(player->PlaybackPaused());  // kept by Stop
  EXPECT_EQ(player->Clock(), "00:00:00");
  ASSERT_TRUE(Play(8, 15, 30));
  player->BPausaClick();  // resumes
  EXPECT_FALSE(player->PlaybackPaused());
  Pump(300ms);
  EXPECT_GT(Position(), 0.2);
  player->BPausaClick();  // pauses
  EXPECT_TRUE(player->PlaybackPaused());
}

// A seek lands on the sample asked for: what reaches the output from minute m on is the file's
// own audio from m x 60 s. The delay from the request to the first sample at the output is
// printed.
TEST_F(PlayerTest, SeeksLandOnTheSampleAndComeQuickly) {
  WriteRecording(root / "st1" / "0812261530a0812261540.mp3", 10);
  const DecodedMp3 whole = DecodeMp3((root / "st1" / "0812261530a0812261540.mp3").string());
  ASSERT_TRUE(whole.clean);
  Start(1.0, true);
  ASSERT_TRUE(Play(8, 15, 30));
  double worstMs = 0;
  long worstOffset = 0;
  for (int m : {1, 3, 6, 9}) {
    SCOPED_TRACE(m);
    const auto asked = Clock::now();
    player->Media().SetCurrentPosition(m * 60.0);
    ASSERT_TRUE(PumpUntil(
        [&] { return output->FirstTakenAt() > asked && output->Taken().size() >= 8192; }));
    const double ms =
        std::chrono::duration<double, std::milli>(output->FirstTakenAt() - asked).count();
    worstMs = std::max(worstMs, ms);
    // Where in the whole decode the first 4096 frames taken stand.
    const std::vector<int16_t> taken = output->Taken();
    const long expected = m * 60L * 44100L;
    long found = -1;
    for (long at = expected - 2 * 1152; at <= expected + 2 * 1152 && found < 0; ++at) {
      bool same = true;
      for (long i = 0; i < 4096 && same; ++i)
        same = taken[static_cast<size_t>(2 * i)] == whole.pcm[static_cast<size_t>(2 * (at + i))];
      if (same) found = at;
    }
    ASSERT_GE(found, 0) << "the audio after the seek is not the file's near minute " << m;
    EXPECT_LE(std::labs(found - expected), 1152L);
    worstOffset = std::max(worstOffset, std::labs(found - expected));
  }
  std::printf(
      "seeks: the first sample at most %ld samples from the minute asked for, at the "
      "output at most %.1f ms after the request\n",
      worstOffset, worstMs);
}

// A recording being written (its in-progress name) is never opened; a finished file another
// program holds open opens normally.
TEST_F(PlayerTest, RecordingBeingWrittenIsNeverOpened) {
  WriteRecording(root / "st1" / "0812261530.mp3", 1);
  Start();
  player->BTocarClick(Day(8), 15, 30, Folder());
  EXPECT_EQ(view.messages, std::vector<std::string>{"Arquivo de áudio não encontrado..."});
  EXPECT_TRUE(player->Media().FileName().empty());
  WriteRecording(root / "st1" / "0812261520a0812261530.mp3", 10);
  std::ifstream held(root / "st1" / "0812261520a0812261530.mp3");  // another reader
  ASSERT_TRUE(Play(8, 15, 25));
  EXPECT_NEAR(Position(), 300.0, 0.1);
}

}  // namespace
