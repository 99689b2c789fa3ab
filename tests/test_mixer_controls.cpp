// The controls bound to the mixer: the knob's arithmetic, the check box and the knob over a
// simulated card (what they show, what they write, what they leave alone), and pictures of
// both, enabled and disabled. It needs a widget application, hence a main of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "platform/CaptureBackend.h"
#include "platform/SimMixer.h"
#include "widgets/MMMixerCheckBox.h"
#include "widgets/MMMixerWheel.h"

namespace {

enum : unsigned { PVol = 1, PSw = 2, CVol = 4, CSw = 8 };

MixerElement El(const std::string& name, unsigned caps, unsigned channels, int group, long max) {
  MixerElement e;
  e.name = name;
  e.hasPlaybackVolume = caps & PVol;
  e.hasPlaybackSwitch = caps & PSw;
  e.hasCaptureVolume = caps & CVol;
  e.hasCaptureSwitch = caps & CSw;
  e.captureSwitchExclusive = group >= 0;
  e.captureGroup = group;
  e.playbackMax = max;
  e.captureMax = max;
  if (e.hasPlaybackVolume) e.playbackVolume.assign(channels, 0);
  if (e.hasPlaybackSwitch) e.playbackSwitch.assign(channels, true);
  if (e.hasCaptureVolume) e.captureVolume.assign(channels, 1000);
  if (e.hasCaptureSwitch) e.captureSwitch.assign(channels, false);
  return e;
}

void Pump() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

TEST(Knob, StepsOfTheMixerRange) {
  struct Case {
    int32_t max;
    uint32_t steps;
    int32_t knobMax;
  };
  // Extended precision: the quotient may fall just below the step count.
  const Case cases[] = {{65535, 31, 31}, {65535, 63, 62}, {65535, 7, 6},
                        {65535, 0, 32},  {31, 31, 31},    {0, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.max) + "/" + std::to_string(c.steps));
    const long double step = WheelStep(0, c.max, c.steps);
    EXPECT_EQ(WheelMaximum(0, c.max, step), c.knobMax);
  }
  const long double step = WheelStep(0, 65535, 31);
  EXPECT_NEAR(static_cast<double>(step), 2114.0322580645, 1e-9);
  EXPECT_EQ(WheelMixerValue(16, 0, step), 33825);
  EXPECT_EQ(WheelPosition(33825, 0, step), 16);
  EXPECT_EQ(WheelPosition(1000, 0, step), 0);
}

TEST(Knob, AnglesPointerDragAndKeys) {
  TMMCustomWheel k;  // 0 .. 10, 225° .. 315°
  struct AngleCase {
    int32_t value, angle;
  };
  for (const AngleCase& c : {AngleCase{0, 225}, AngleCase{10, 315}, AngleCase{5, 90}}) {
    k.SetValue(c.value);
    EXPECT_EQ(k.HandleAngle(), c.angle) << c.value;
  }
  struct PointerCase {
    double dx, dy;  // y upward
    int32_t value;
  };
  const PointerCase pointers[] = {
      {0, -1, 10},    // straight below, the middle of the dead zone: the maximum
      {-1, -1, 0},    // 225°: the minimum
      {1, -1, 10},    // 315°: the maximum
      {0, 1, 5},      // straight up: half way
      {-0.2, -1, 0},  // in the dead zone, nearer the start
      {0.2, -1, 10},  // nearer the end
      {-1, 0, 2},     // 180°: 45 of 270 degrees
  };
  for (const PointerCase& c : pointers)
    EXPECT_EQ(k.ValueAtPointer(c.dx, c.dy), c.value) << c.dx << "," << c.dy;
  k.SetValue(3);
  EXPECT_EQ(k.ValueAtPointer(0, 0), 3);       // the centre is no position
  EXPECT_EQ(k.DragValue(3, 100, 20), 3 + 5);  // 80 of 160 pixels up: half the range
  EXPECT_EQ(k.ValueAfterKey(TMMCustomWheel::kPageUp), 5);
  EXPECT_EQ(k.ValueAfterKey(TMMCustomWheel::kDown), 2);
  EXPECT_EQ(k.ValueAfterKey(TMMCustomWheel::kHome), 10);
  EXPECT_EQ(k.ValueAfterKey(TMMCustomWheel::kEnd), 0);
  EXPECT_FALSE(k.SetValue(99) && k.Value() != 10);
  EXPECT_EQ(k.Value(), 10);
  for (auto set : {&TMMCustomWheel::SetLineStep, &TMMCustomWheel::SetPageStep,
                   &TMMCustomWheel::SetScrollSize}) {
    try {
      (k.*set)(0);
      ADD_FAILURE();
    } catch (const EMMWheelError& e) {
      EXPECT_STREQ(e.what(), "This parameter should be greater then 0");
    }
  }
  EXPECT_EQ(k.LineStep(), 1);
}

class BoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimMixerConfig a;
    a.name = "Card A";
    a.elements = {
        El("Master", PVol | PSw, 2, -1, 31), El("Line", PVol | PSw | CVol | CSw, 2, 1, 65535),
        El("Mic", PVol | PSw | CVol | CSw, 1, 1, 65535), El("Aux", PVol | PSw, 2, -1, 31)};
    sim = std::make_unique<SimMixerBackend>(std::vector<SimMixerConfig>{a});
    layer = std::make_unique<BackendDeviceLayer>(NoCaptureDevices(), *sim);
    SetDeviceLayer(layer.get());
    form = std::make_unique<TComponent>();
    mixer = new TMMMixerDevice(form.get());
    mixer->SetActive(true);
    rec = Line(ctDstWaveIn);
    lineInRec = Line(ctSrcLine, rec);
    lineIn = Line(ctSrcLine);
    mux = new TMMMixerControl(form.get());
    mux->SetAudioLine(rec);
    mux->SetControlType(ctMux);
    mute = new TMMMixerControl(form.get());
    mute->SetAudioLine(lineIn);
    mute->SetControlType(ctMute);
    volumeRec = new TMMVolumeControl(form.get());
    volumeRec->SetAudioLine(lineInRec);
  }
  void TearDown() override {
    form.reset();
    SetDeviceLayer(nullptr);
  }
  TMMAudioLine* Line(TMMComponentType type, TMMAudioLine* dest = nullptr) {
    auto* l = new TMMAudioLine(form.get());
    l->SetMixer(mixer);
    l->SetComponentType(type);
    if (dest) l->SetDestLine(dest);
    return l;
  }
  MixerElement Element(const std::string& name) { return sim->Element(0, name, 0); }

  std::unique_ptr<SimMixerBackend> sim;
  std::unique_ptr<BackendDeviceLayer> layer;
  std::unique_ptr<TComponent> form;
  TMMMixerDevice* mixer = nullptr;
  TMMAudioLine *rec = nullptr, *lineInRec = nullptr, *lineIn = nullptr;
  TMMMixerControl *mux = nullptr, *mute = nullptr;
  TMMVolumeControl* volumeRec = nullptr;
};

TEST_F(BoundTest, SelectorBoxFollowsItsLine) {
  TMMMixerCheckBox box;
  box.SetControl(mux);
  box.SetItemLine(lineInRec);
  EXPECT_EQ(box.Item(), 0);
  EXPECT_TRUE(box.isEnabled());
  EXPECT_EQ(box.text(), "Line");
  EXPECT_FALSE(box.isChecked());
  box.setChecked(true);  // as a click does
  EXPECT_EQ(Element("Line").captureSwitch, (std::vector<bool>{true, true}));
  // The input switched to the microphone: the box shows the microphone's item.
  lineInRec->SetComponentType(ctSrcMicrophone);
  EXPECT_EQ(box.Item(), 1);
  EXPECT_FALSE(box.isChecked());
  box.setChecked(true);
  EXPECT_EQ(Element("Mic").captureSwitch, (std::vector<bool>{true}));
  EXPECT_EQ(Element("Line").captureSwitch, (std::vector<bool>{false, false}));
  Pump();
  EXPECT_TRUE(box.isChecked());

  // A line that is no source of the selector: no item, disabled, nothing written.
  TMMAudioLine* aux = Line(ctSrcAux);
  box.SetItemLine(aux);
  EXPECT_EQ(box.Item(), NoItem);
  EXPECT_FALSE(box.isEnabled());
  box.setChecked(false);
  EXPECT_EQ(Element("Mic").captureSwitch, (std::vector<bool>{true}));
}

TEST_F(BoundTest, MuteBoxShowsAndSetsTheMute) {
  TMMMixerCheckBox box;
  box.SetAutoCaption(false);
  box.setText("Desativar retorno");
  box.SetControl(mute);
  box.SetItemLine(lineIn);
  EXPECT_EQ(box.Item(), NoItem);
  EXPECT_TRUE(box.isEnabled());
  EXPECT_EQ(box.text(), "Desativar retorno");
  EXPECT_FALSE(box.isChecked());
  box.setChecked(true);
  EXPECT_EQ(Element("Line").playbackSwitch, (std::vector<bool>{false, false}));
  // Changed on the card: the box follows.
  sim->ChangeElement(0, "Line", 0, [](MixerElement& e) { e.playbackSwitch = {true, true}; });
  Pump();
  EXPECT_FALSE(box.isChecked());
  // Not allowed by the user: a click reverts to the mixer's state and writes nothing.
  box.SetEnabled(false);
  EXPECT_FALSE(box.isEnabled());
  box.setChecked(true);
  EXPECT_FALSE(box.isChecked());
  EXPECT_EQ(Element("Line").playbackSwitch, (std::vector<bool>{true, true}));
  // A control of the wrong class.
  EXPECT_THROW(box.SetControl(volumeRec), EMMMixerControlsError);
  EXPECT_EQ(box.Control(), mute);
}

TEST_F(BoundTest, WheelTurnsTheVolumeAndFollowsTheCard) {
  TMMMixerWheel wheel;
  int changes = 0;
  wheel.OnChange = [&] { ++changes; };
  wheel.SetControl(volumeRec);
  ASSERT_TRUE(wheel.isEnabled());
  const TMMControlInfo& info = volumeRec->ControlInfo();
  const long double step = WheelStep(info.MinValue, info.MaxValue, info.Steps);
  EXPECT_EQ(wheel.Knob().Max(), WheelMaximum(info.MinValue, info.MaxValue, step));
  // The card's 1000 shows as its knob position, and is not written back.
  EXPECT_EQ(wheel.Value(), WheelPosition(1000, info.MinValue, step));
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{1000, 1000}));
  EXPECT_GE(changes, 1);
  // A turn writes both channels.
  wheel.SetValue(wheel.Knob().Max() / 2);
  const long expected = WheelMixerValue(wheel.Knob().Max() / 2, info.MinValue, step);
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{expected, expected}));
  // A change on the card: the knob moves, OnChange fires, nothing is written back.
  changes = 0;
  sim->ChangeElement(0, "Line", 0, [](MixerElement& e) { e.captureVolume = {777, 777}; });
  Pump();
  EXPECT_EQ(wheel.Value(), WheelPosition(777, info.MinValue, step));
  EXPECT_GE(changes, 1);
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{777, 777}));
  // The line gone from the mixer: disabled, at 0.
  lineInRec->SetMixer(nullptr);
  EXPECT_FALSE(wheel.isEnabled());
  EXPECT_EQ(wheel.Value(), 0);
  EXPECT_THROW(wheel.SetControl(mute), EMMMixerControlsError);
}

TEST_F(BoundTest, ControlsGoneUnbind) {
  TMMMixerWheel wheel;
  TMMMixerCheckBox box;
  wheel.SetControl(volumeRec);
  box.SetControl(mute);
  delete volumeRec;
  delete mute;
  EXPECT_EQ(wheel.Control(), nullptr);
  EXPECT_EQ(box.Control(), nullptr);
  EXPECT_FALSE(wheel.isEnabled());
  EXPECT_FALSE(box.isEnabled());
}

// The knob and the box as the settings panel will show them, on its dark face.
TEST_F(BoundTest, Pictures) {
  for (bool on : {true, false}) {
    QWidget panel;
    panel.setStyleSheet("background:#2b2e33;color:#e0e0e0;");
    panel.resize(160, 64);
    auto* wheel = new TMMMixerWheel(&panel);
    wheel->setGeometry(4, 6, 52, 52);
    wheel->SetControl(volumeRec);
    wheel->SetValue(wheel->Knob().Max() * 3 / 4);
    auto* box = new TMMMixerCheckBox(&panel);
    box->setGeometry(64, 20, 92, 20);
    box->SetControl(mute);
    box->SetItemLine(lineIn);
    box->setChecked(true);
    wheel->SetEnabled(on);
    box->SetEnabled(on);
    panel.show();
    Pump();
    const QImage image = panel.grab().toImage();
    const std::string name =
        std::string(TEST_OUTPUT_DIR "/mixer_controls_") + (on ? "enabled" : "disabled") + ".png";
    EXPECT_TRUE(image.save(QString::fromStdString(name)));
    EXPECT_EQ(image.size(), QSize(160, 64) * image.devicePixelRatio());
    EXPECT_EQ(wheel->isEnabled(), on);
    // The handle: red when enabled, grey when not, where the knob's angle puts it.
    const double a = wheel->Knob().HandleAngle() * M_PI / 180.0;
    const int x = 4 + 26 + static_cast<int>(std::lround(wheel->Radius * std::cos(a)));
    const int y = 6 + 26 - static_cast<int>(std::lround(wheel->Radius * std::sin(a)));
    const QColor c = image.pixelColor(static_cast<int>(x * image.devicePixelRatio()),
                                      static_cast<int>(y * image.devicePixelRatio()));
    if (on)
      EXPECT_GT(c.red(), 2 * c.green()) << x << "," << y;
    else
      EXPECT_LT(std::abs(c.red() - c.green()), 30) << x << "," << y;
    // The box: its square lit green when checked (the mute set), dark when not.
    const QColor inside = image.pixelColor(static_cast<int>((64 + 6) * image.devicePixelRatio()),
                                           static_cast<int>((20 + 10) * image.devicePixelRatio()));
    EXPECT_EQ(inside.green() > 2 * inside.red(), box->isChecked()) << inside.name().toStdString();
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
