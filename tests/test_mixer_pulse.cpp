// The bound controls against a real ALSA mixer: the `pulse` control of a private PulseAudio
// daemon, through the ALSA mixer backend and the mixer model. The knob sets the recording
// level the sound server reports; volume and mute changed with pactl reach the knob and the
// check box. It needs a widget application, hence a main of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>

#include "PulseDevices.h"
#include "widgets/MMMixerCheckBox.h"
#include "widgets/MMMixerWheel.h"

namespace {

// Runs the event loop until `done`; the milliseconds it took, or -1 after `limitMs`.
qint64 PumpUntil(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limitMs) return -1;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return t.elapsed();
}

TEST(MixerPulse, KnobAndBoxFollowTheSoundServer) {
  pulse_test::PulseDevices real;
  PulseDaemon& pulse = real.pulse;
  ASSERT_EQ(pulse.Error(), "");
  const TMMDeviceId id = real.PulsePcm();
  ASSERT_GE(id, 0);

  TComponent form;
  auto* placa = new TMMMixerDevice(&form);
  placa->SetDeviceId(id);
  placa->SetActive(true);
  ASSERT_TRUE(placa->Active());
  auto line = [&](TMMComponentType type, TMMAudioLine* dest) {
    auto* l = new TMMAudioLine(&form);
    l->SetMixer(placa);
    l->SetComponentType(type);
    if (dest) l->SetDestLine(dest);
    return l;
  };
  // The pulse control has no line-in: its "Capture" stands for it among the recording
  // destination's sources, as the recorder asks for it. "Master" plays and is the first
  // source of undefined type.
  TMMAudioLine* rec = line(ctDstWaveIn, nullptr);
  TMMAudioLine* capture = line(ctSrcLine, rec);
  TMMAudioLine* master = line(ctSrcUndefined, nullptr);
  EXPECT_EQ(capture->LineInfo().Name, "Capture");
  EXPECT_EQ(master->LineInfo().Name, "Master");
  auto* volume = new TMMVolumeControl(&form);
  volume->SetAudioLine(capture);
  auto* mute = new TMMMixerControl(&form);
  mute->SetAudioLine(master);
  mute->SetControlType(ctMute);

  TMMMixerWheel wheel;
  wheel.SetControl(volume);
  TMMMixerCheckBox box;
  box.SetControl(mute);
  ASSERT_TRUE(wheel.isEnabled());
  ASSERT_TRUE(box.isEnabled());
  const TMMControlInfo& info = volume->ControlInfo();
  const long double step = wheel.Step();

  // The knob turned: the sound server records at that level.
  const int32_t position = wheel.Knob().Max() / 3;
  wheel.SetValue(position);
  const auto source = pulse.Pactl("get-source-volume @DEFAULT_SOURCE@");
  EXPECT_EQ(PactlVolume(source.second), WheelMixerValue(position, info.MinValue, step))
      << source.second;

  // Another program changes the level and the mute: knob and box follow. The bound is 2 s
  // so that a loaded machine passes; the time taken is printed.
  ASSERT_EQ(pulse.Pactl("set-source-volume @DEFAULT_SOURCE@ 80%").first, 0);
  const long level = PactlVolume(pulse.Pactl("get-source-volume @DEFAULT_SOURCE@").second);
  const int32_t expected = WheelPosition(static_cast<int32_t>(level), info.MinValue, step);
  const qint64 knobMs = PumpUntil([&] { return wheel.Value() == expected; }, 2000);
  EXPECT_GE(knobMs, 0) << "knob at " << wheel.Value() << ", expected " << expected;

  ASSERT_EQ(pulse.Pactl("set-sink-mute @DEFAULT_SINK@ 1").first, 0);
  const qint64 muteMs = PumpUntil([&] { return box.isChecked(); }, 2000);
  EXPECT_GE(muteMs, 0);
  ASSERT_EQ(pulse.Pactl("set-sink-mute @DEFAULT_SINK@ 0").first, 0);
  EXPECT_GE(PumpUntil([&] { return !box.isChecked(); }, 2000), 0);
  std::printf("knob followed in %lld ms, mute box in %lld ms\n", static_cast<long long>(knobMs),
              static_cast<long long>(muteMs));

  // The box clicked: the sound server mutes.
  box.setChecked(true);
  EXPECT_NE(pulse.Pactl("get-sink-mute @DEFAULT_SINK@").second.find("yes"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" TEST_ASOUNDRC, 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
