// The mixer model over a simulated card: a mixer device by number or not at all, lines found
// by type, among a destination's sources or by number, controls found by type on them, values
// per channel and per item, the selector and the balance, change notices passed down the
// chain, and the errors of each misuse.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <string>
#include <vector>

#include "mixer/MMMixerControl.h"
#include "platform/CaptureBackend.h"
#include "platform/SimCapture.h"
#include "platform/SimMixer.h"

namespace {

enum : unsigned { PVol = 1, PSw = 2, CVol = 4, CSw = 8 };

// An element of a card; capture volumes run 0..65535 so that values pass unscaled.
MixerElement El(const std::string& name, unsigned caps, unsigned channels = 2, int group = -1) {
  MixerElement e;
  e.name = name;
  e.hasPlaybackVolume = caps & PVol;
  e.hasPlaybackSwitch = caps & PSw;
  e.hasCaptureVolume = caps & CVol;
  e.hasCaptureSwitch = caps & CSw;
  e.captureSwitchExclusive = group >= 0;
  e.captureGroup = group;
  e.playbackMax = 31;
  e.captureMax = 65535;
  if (e.hasPlaybackVolume) e.playbackVolume.assign(channels, 20);
  if (e.hasPlaybackSwitch) e.playbackSwitch.assign(channels, true);
  if (e.hasCaptureVolume) e.captureVolume.assign(channels, 1000);
  if (e.hasCaptureSwitch) e.captureSwitch.assign(channels, false);
  return e;
}

// A card whose line-in and microphone both play and record, the recording source chosen
// among line, microphone and CD.
std::vector<MixerElement> Card() {
  return {El("Master", PVol | PSw), El("Line", PVol | PSw | CVol | CSw, 2, 1),
          El("Mic", PVol | PSw | CVol | CSw, 1, 1), El("CD", PVol | PSw | CSw, 2, 1),
          El("Capture", CVol | CSw)};
}

void Pump() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class MixerTest : public ::testing::Test {
 protected:
  void Use(std::vector<SimMixerConfig> mixers) {
    sim = std::make_unique<SimMixerBackend>(std::move(mixers));
    layer = std::make_unique<BackendDeviceLayer>(NoCaptureDevices(), *sim);
    SetDeviceLayer(layer.get());
  }
  void SetUp() override {
    SimMixerConfig a;
    a.name = "Card A";
    a.elements = Card();
    Use({a});
  }
  void TearDown() override {
    form.reset();
    SetDeviceLayer(nullptr);
  }
  // The recorder's chain: the mixer, the recording destination, the chosen input among its
  // sources, the selector, and the input's recording volume.
  void BuildChain(TMMComponentType input = ctSrcLine) {
    form = std::make_unique<TComponent>();
    mixer = new TMMMixerDevice(form.get());
    mixer->SetActive(true);
    rec = new TMMAudioLine(form.get());
    rec->SetMixer(mixer);
    rec->SetComponentType(ctDstWaveIn);
    lineIn = new TMMAudioLine(form.get());
    lineIn->SetMixer(mixer);
    lineIn->SetComponentType(input);
    lineIn->SetDestLine(rec);
    mux = new TMMMixerControl(form.get());
    mux->SetAudioLine(rec);
    mux->SetControlType(ctMux);
    volume = new TMMVolumeControl(form.get());
    volume->SetAudioLine(lineIn);
  }
  MixerElement Element(const std::string& name) { return sim->Element(0, name, 0); }

  std::unique_ptr<SimMixerBackend> sim;
  std::unique_ptr<BackendDeviceLayer> layer;
  std::unique_ptr<TComponent> form;
  TMMMixerDevice* mixer = nullptr;
  TMMAudioLine *rec = nullptr, *lineIn = nullptr;
  TMMMixerControl* mux = nullptr;
  TMMVolumeControl* volume = nullptr;
};

TEST_F(MixerTest, TheInputIsFoundAmongTheRecordingDestinationsSources) {
  BuildChain();
  EXPECT_TRUE(mixer->Active());
  EXPECT_EQ(mixer->Destinations(), 2);
  ASSERT_NE(rec->LineId(), badLineId);
  EXPECT_FALSE(rec->LineInfo().Flags & cfSource);
  ASSERT_NE(lineIn->LineId(), badLineId);
  EXPECT_TRUE(lineIn->LineInfo().Flags & cfSource);
  EXPECT_EQ(lineIn->ComponentType(), ctSrcLine);

  // Without the destination the first line-in the card reports: the one that plays.
  TMMAudioLine plain(form.get());
  plain.SetMixer(mixer);
  plain.SetComponentType(ctSrcLine);
  ASSERT_NE(plain.LineId(), badLineId);
  EXPECT_NE(plain.LineId(), lineIn->LineId());

  // The recording volume is the line's capture volume: a write reaches the card's element.
  ASSERT_TRUE(volume->IsValid());
  EXPECT_EQ(volume->ChannelCount(), 2);
  volume->SetSigned(30000);
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{30000, 30000}));

  // The input switched to the microphone: the line and the volume on it follow.
  int lineIdChanges = 0;
  TMMObserver watch(nullptr, [&](TMMObserver*, const TMMNotification& n) {
    lineIdChanges += dynamic_cast<const TMMLineIdChange*>(&n) != nullptr;
  });
  lineIn->AddObserver(&watch);
  const TMMControlId lineVolume = volume->ControlId();
  lineIn->SetComponentType(ctSrcMicrophone);
  EXPECT_GE(lineIdChanges, 1);
  EXPECT_EQ(lineIn->ComponentType(), ctSrcMicrophone);
  ASSERT_TRUE(volume->IsValid());
  EXPECT_NE(volume->ControlId(), lineVolume);
  EXPECT_EQ(volume->ChannelCount(), 1);
  volume->SetSigned(1234);
  EXPECT_EQ(Element("Mic").captureVolume, (std::vector<long>{1234}));
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{30000, 30000}));
}

TEST_F(MixerTest, TheSelectorSwitchesExactlyOneSource) {
  BuildChain();
  ASSERT_TRUE(mux->IsValid());
  EXPECT_EQ(mux->ControlType(), ctMux);
  EXPECT_EQ(mux->ControlClass(), ccList);
  ASSERT_EQ(mux->ItemCount(), 3);
  // On writes 0, 1, 0 and off 0, 0, 0; a card's selector always records from one source, so
  // it keeps its choice when told none.
  struct Case {
    TMMItemIndex item;
    bool on;
    std::vector<bool> line, mic, cd;  // capture switches afterwards
    TMMItemIndex reads;               // the item that reads as on
  };
  const Case cases[] = {
      {1, true, {false, false}, {true}, {false, false}, 1},
      {0, true, {true, true}, {false}, {false, false}, 0},
      {0, false, {true, true}, {false}, {false, false}, 0},
      {2, true, {false, false}, {false}, {true, true}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.item) + (c.on ? " on" : " off"));
    mux->SetBooleanAt(chBoth, c.item, c.on);
    EXPECT_EQ(Element("Line").captureSwitch, c.line);
    EXPECT_EQ(Element("Mic").captureSwitch, c.mic);
    EXPECT_EQ(Element("CD").captureSwitch, c.cd);
    for (TMMItemIndex i = 0; i < 3; ++i) EXPECT_EQ(mux->GetBooleanAt(chBoth, i), i == c.reads);
  }
  // Items stand for the source lines.
  EXPECT_EQ(mux->ItemOfLine(lineIn), 0);
  EXPECT_EQ(mux->ItemInfo(0).Param1, static_cast<uint32_t>(lineIn->LineId()));
  EXPECT_EQ(mux->ItemInfo(1).Param2, ComponentTypeCode(ctSrcMicrophone));
  try {
    mux->SetBooleanAt(chBoth, 3, true);
    ADD_FAILURE();
  } catch (const EMMMixerControlError& e) {
    EXPECT_STREQ(e.what(), "Item index out of range");
  }
  try {
    volume->ItemInfo(0);
    ADD_FAILURE();
  } catch (const EMMMixerControlError& e) {
    EXPECT_STREQ(e.what(), "Item info requested from non-multiple control");
  }
  EXPECT_EQ(volume->ItemOfLine(lineIn), NoItem);
}

TEST_F(MixerTest, BalanceScalesWritesForBothChannels) {
  BuildChain();
  struct Case {
    int32_t pan;
    int32_t write;
    std::vector<long> sides;
  };
  const Case cases[] = {
      {16384, 40000, {19999, 40000}},
      {-16384, 40000, {40000, 20000}},
      {0, 40000, {40000, 40000}},
      {32767, 40000, {0, 40000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pan);
    volume->SetPanValue(c.pan);
    volume->SetSignedAt(chBoth, NoItem, c.write);
    EXPECT_EQ(Element("Line").captureVolume, c.sides);
  }
  // One side alone passes unchanged; a new balance writes the value again through it.
  volume->SetPanValue(0);
  volume->SetSignedAt(chRight, NoItem, 500);
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{40000, 500}));
  volume->SetSigned(10000);
  volume->SetPanValue(16384);
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{4999, 10000}));
}

TEST_F(MixerTest, MuteReadsAsOneValueAndFollowsTheCard) {
  BuildChain();
  TMMAudioLine monitor(form.get());
  monitor.SetMixer(mixer);
  monitor.SetComponentType(ctSrcLine);
  TMMMixerControl mute(form.get());
  mute.SetAudioLine(&monitor);
  mute.SetControlType(ctMute);
  ASSERT_TRUE(mute.IsValid());
  EXPECT_EQ(mute.ControlClass(), ccSwitch);
  EXPECT_FALSE(mute.GetBooleanAt(chBoth, NoItem));  // the switch is on: not muted
  mute.SetBoolean(true);
  EXPECT_EQ(Element("Line").playbackSwitch, (std::vector<bool>{false, false}));
  Pump();  // the card tells of our own change too

  // A change on the card reaches the mute control, and nothing else of the chain.
  int muteChanges = 0, volumeChanges = 0, mixerChanges = 0;
  mute.OnChange = [&](TComponent*) { ++muteChanges; };
  volume->OnChange = [&](TComponent*) { ++volumeChanges; };
  mixer->OnControlChange = [&](TComponent*, TMMLineId, TMMControlId) { ++mixerChanges; };
  sim->ChangeElement(0, "Line", 0, [](MixerElement& e) { e.playbackSwitch = {true, true}; });
  Pump();
  EXPECT_EQ(muteChanges, 1);
  EXPECT_EQ(volumeChanges, 0);
  EXPECT_FALSE(mute.GetBoolean());
  // A control of another line: only the mixer hears of it.
  sim->ChangeElement(0, "Master", 0, [](MixerElement& e) { e.playbackVolume = {3, 3}; });
  Pump();
  EXPECT_EQ(muteChanges, 1);
  EXPECT_EQ(volumeChanges, 0);
  EXPECT_EQ(mixerChanges, 2);
  // The recording volume changed on the card.
  sim->ChangeElement(0, "Line", 0, [](MixerElement& e) { e.captureVolume = {7, 7}; });
  Pump();
  EXPECT_EQ(volumeChanges, 1);
  EXPECT_EQ(volume->GetSignedAt(chLeft, NoItem), 7);
}

TEST_F(MixerTest, WithoutAMixerControlsAreInvalidAndSaySo) {
  BuildChain();
  ASSERT_TRUE(volume->IsValid());
  lineIn->SetMixer(nullptr);
  EXPECT_FALSE(volume->IsValid());
  try {
    volume->GetSigned();
    ADD_FAILURE();
  } catch (const EMMDeviceError& e) {
    EXPECT_STREQ(e.what(), "Mixer required for this operation");
  }
  // An unresolved control on a good line.
  TMMMixerControl none(form.get());
  none.SetAudioLine(rec);
  none.SetControlType(ctBass);
  EXPECT_EQ(none.ControlId(), badControlId);
  try {
    none.GetSigned();
    ADD_FAILURE();
  } catch (const EMMDeviceError& e) {
    EXPECT_STREQ(e.what(), "Control not valid");
  }
  // The mixer component removed: the line lets go of it.
  lineIn->SetMixer(mixer);
  ASSERT_TRUE(volume->IsValid());
  delete mixer;
  EXPECT_EQ(lineIn->Mixer(), nullptr);
  EXPECT_FALSE(volume->IsValid());
}

TEST_F(MixerTest, AMachineWithoutMixers) {
  Use({});
  TComponent stored;
  auto* m = new TMMMixerDevice(&stored);
  stored.BeginLoading();
  m->SetActive(true);
  try {
    stored.EndLoading();
    ADD_FAILURE();
  } catch (const EMMMixerDeviceError& e) {
    EXPECT_STREQ(e.what(), "Device not valid");
  }
  TMMAudioLine line(&stored);
  line.SetMixer(m);
  line.SetComponentType(ctDstWaveIn);
  EXPECT_EQ(line.LineId(), badLineId);
  EXPECT_EQ(m->Destinations(), 0);
}

TEST_F(MixerTest, AMixerThatWillNotOpenStillServesItsLines) {
  SimMixerConfig a;
  a.elements = Card();
  a.openResult = MMSYSERR_ALLOCATED;
  Use({a});
  BuildChain();
  EXPECT_FALSE(mixer->Active());
  ASSERT_TRUE(volume->IsValid());
  volume->SetSigned(2000);
  EXPECT_EQ(Element("Line").captureVolume, (std::vector<long>{2000, 2000}));
}

TEST_F(MixerTest, MisuseIsRefused) {
  BuildChain();
  TMMMixerDevice other(form.get());
  EXPECT_THROW(mixer->SetDevice(&other), EMMMixerDeviceError);
  EXPECT_THROW(lineIn->SetTarget(&other), EMMMixerDeviceError);
  TComponent notALine;
  try {
    lineIn->SetDestLine(&notALine);
    ADD_FAILURE();
  } catch (const EMMMixerDeviceError& e) {
    EXPECT_STREQ(e.what(), "DestLine should be TMMAudioLine");
  }
}

// A wave input as a device component: what a mixer follows and a line may stand for.
class WaveInDevice : public TMMCustomAudioDevice {
 public:
  explicit WaveInDevice(TComponent* owner = nullptr) : TMMCustomAudioDevice(owner) {
    SetDeviceKind(dkWaveIn);
  }
};

TEST_F(MixerTest, FollowsAWaveInputAndFindsALineByItsTarget) {
  SimDeviceConfig in;
  std::vector<SimDeviceConfig> inputs(2, in);
  inputs[0].name = "Card A";
  inputs[1].name = "Card B";
  SimCaptureBackend capture(inputs);
  SimMixerConfig a, b;
  a.name = "Card A";
  b.name = "Card B";
  a.elements = b.elements = Card();
  sim = std::make_unique<SimMixerBackend>(std::vector<SimMixerConfig>{a, b});
  layer = std::make_unique<BackendDeviceLayer>(capture, *sim);
  SetDeviceLayer(layer.get());

  form = std::make_unique<TComponent>();
  auto* wave = new WaveInDevice(form.get());
  mixer = new TMMMixerDevice(form.get());
  int changes = 0;
  mixer->OnChange = [&](TComponent*) { ++changes; };
  mixer->SetDevice(wave);
  EXPECT_EQ(mixer->DeviceId(), 0);
  wave->SetDeviceId(1);  // the mixer follows the input to its card
  EXPECT_EQ(mixer->DeviceId(), 1);
  EXPECT_EQ(mixer->DeviceCaps().ProductName, "Card B");
  EXPECT_GE(changes, 1);

  // The line that stands for the input: the recording destination of its card.
  auto* line = new TMMAudioLine(form.get());
  line->SetMixer(mixer);
  line->SetTarget(wave);
  ASSERT_NE(line->LineId(), badLineId);
  EXPECT_EQ(line->ComponentType(), ctDstWaveIn);
  EXPECT_EQ(line->DestinationIndex(), 1);
  // The input gone: the mixer keeps its number and the line looks again.
  delete wave;
  EXPECT_EQ(mixer->Device(), nullptr);
  EXPECT_EQ(line->Target(), nullptr);
  form.reset();  // before the capture backend the layer asks goes
  SetDeviceLayer(nullptr);
}

TEST(MixerCodes, TypesAndClasses) {
  struct Case {
    uint32_t code;
    TMMControlType type;
    TMMControlClass cls;
  };
  const Case cases[] = {
      {0x50030001, ctVolume, ccFader},    {0x20010002, ctMute, ccSwitch},
      {0x70010001, ctMux, ccList},        {0x71010001, ctMixer, ccList},
      {0x10020001, ctPeakMeter, ccMeter}, {0x61030000, ctMilliTime, ccTime},
      {0x30040000, ctDecibels, ccNumber}, {0x40020001, ctPan, ccSlider},
      {0x12345678, ctCustom, ccMeter},    {0x00000007, ctCustom, ccCustom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(ControlTypeOf(c.code), c.type);
    EXPECT_EQ(ControlClassOf(c.code), c.cls);
  }
  EXPECT_THROW(ControlClassOf(0x90000000), EMMMixerServiceError);
  EXPECT_EQ(ComponentTypeOf(0x1003), ctSrcMicrophone);
  EXPECT_EQ(ComponentTypeCode(ctDstWaveIn), 0x7u);
  try {
    ComponentTypeOf(0x77);
    ADD_FAILURE();
  } catch (const EMMMixerServiceError& e) {
    EXPECT_STREQ(e.what(), "Undefined API component type");
  }
}

}  // namespace
