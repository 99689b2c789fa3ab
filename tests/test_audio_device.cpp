// Device components over a device layer the tests set up: numbers and their range, the
// mapper, capabilities, activation while loading, observers, mixer numbers, errors; and the
// device box bound to one. It needs a widget application, hence a main of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "mixer/MMAudioDevice.h"
#include "widgets/MMDeviceComboBox.h"

namespace {

// Devices by kind, by name; a mapper where asked.
class FakeLayer : public DeviceLayer {
 public:
  std::map<TMMDeviceKind, std::vector<std::string>> devices;
  std::map<TMMDeviceKind, std::string> mappers;
  MMRESULT capsFailure = MMSYSERR_NOERROR;  // for every device query
  MMRESULT mixerResult = MMSYSERR_NOERROR;
  int32_t mixerOf = 0;
  std::map<MMRESULT, std::string> texts;

  uint32_t GetNumDevs(TMMDeviceKind kind) override {
    return static_cast<uint32_t>(devices[kind].size());
  }
  MMRESULT GetDevCaps(TMMDeviceKind kind, TMMDeviceId id, DEVCAPSHEAD* caps) override {
    if (capsFailure) return capsFailure;
    std::string name;
    if (id == MapperId) {
      if (!mappers.count(kind)) return MMSYSERR_BADDEVICEID;
      name = mappers[kind];
    } else if (id >= 0 && static_cast<size_t>(id) < devices[kind].size()) {
      name = devices[kind][static_cast<size_t>(id)];
    } else {
      return MMSYSERR_BADDEVICEID;
    }
    *caps = {};
    caps->wMid = 1;
    caps->wPid = static_cast<uint16_t>(100 + id);
    caps->vDriverVersion = 0x0502;
    std::strncpy(caps->szPname, name.c_str(), sizeof caps->szPname - 1);
    return MMSYSERR_NOERROR;
  }
  MMRESULT MixerGetID(TMMDeviceId, int32_t* mixerId, uint32_t) override {
    if (mixerResult) return mixerResult;
    *mixerId = mixerOf;
    return MMSYSERR_NOERROR;
  }
  bool GetErrorText(MMRESULT code, std::string& text) override {
    if (!texts.count(code)) return false;
    text = texts[code];
    return true;
  }
};

// A device component of the mixer kind, as the mixer device makes itself.
class MixerKindDevice : public TMMCustomAudioDevice {
 public:
  explicit MixerKindDevice(TComponent* owner = nullptr) : TMMCustomAudioDevice(owner) {
    SetDeviceKind(dkMixer);
  }
  int opens = 0, closes = 0;

 protected:
  void OpenDevice() override {
    ++opens;
    TMMCustomAudioDevice::OpenDevice();
  }
  void CloseDevice() override {
    ++closes;
    TMMCustomAudioDevice::CloseDevice();
  }
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layer.devices[dkMixer] = {"Card A", "Card B"};
    layer.devices[dkWaveOut] = {"Out 1", "Out 2", "Out 3"};
    layer.mappers[dkWaveOut] = "Output mapper";
    SetDeviceLayer(&layer);
  }
  void TearDown() override { SetDeviceLayer(nullptr); }
  static std::vector<std::string> Items(const TMMDeviceComboBox& box) {
    std::vector<std::string> out;
    for (int i = 0; i < box.count(); ++i) out.push_back(box.itemText(i).toStdString());
    return out;
  }
  FakeLayer layer;
};

TEST_F(DeviceTest, NumbersWithinRangeAndTheSpecialOnes) {
  TMMCustomAudioDevice out;  // wave output kind
  EXPECT_EQ(out.DeviceKind(), dkWaveOut);
  EXPECT_EQ(out.DeviceCount(), 3);
  EXPECT_TRUE(out.Mapper());
  EXPECT_EQ(out.DeviceCaps().ProductName, "Out 1");
  EXPECT_EQ(out.DeviceCaps().VerMajor, 5);
  EXPECT_EQ(out.DeviceCaps().VerMinor, 2);

  struct Case {
    TMMDeviceId id;
    bool accepted;
    const char* name;  // of the device afterwards
  };
  const Case cases[] = {
      {2, true, "Out 3"},          {5, false, "Out 3"}, {3, false, "Out 3"}, {-3, false, "Out 3"},
      {-1, true, "Output mapper"}, {-2, true, ""},      {0, true, "Out 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const TMMDeviceId before = out.DeviceId();
    if (c.accepted) {
      out.SetDeviceId(c.id);
      EXPECT_EQ(out.DeviceId(), c.id);
    } else {
      try {
        out.SetDeviceId(c.id);
        ADD_FAILURE() << "accepted";
      } catch (const EMMDeviceError& e) {
        EXPECT_STREQ(e.what(), "Device id is out of range");
      }
      EXPECT_EQ(out.DeviceId(), before);
    }
    EXPECT_EQ(out.DeviceCaps().ProductName, c.name);
  }
  out.SetDeviceId(-2);
  EXPECT_FALSE(out.Valid());
  EXPECT_EQ(out.DeviceCaps().ProductId, 0);
}

TEST_F(DeviceTest, WithoutDevicesOnlyZeroIsAcceptedAndNothingIsValid) {
  SetDeviceLayer(nullptr);
  MixerKindDevice m;
  EXPECT_EQ(m.DeviceCount(), 0);
  EXPECT_FALSE(m.Mapper());
  m.SetDeviceId(0);
  EXPECT_FALSE(m.Valid());
  EXPECT_THROW(m.SetDeviceId(1), EMMDeviceError);
  EXPECT_EQ(m.MixerIdOf(), InvalidId);
}

TEST_F(DeviceTest, AChangeTellsObserversLastFirstThenTheOwner) {
  MixerKindDevice m;
  std::vector<std::string> heard;
  TMMObserver a(nullptr, [&](TMMObserver*, const TMMNotification& n) {
    if (dynamic_cast<const TMMDeviceChange*>(&n)) heard.push_back("a");
  });
  TMMObserver b(nullptr, [&](TMMObserver*, const TMMNotification&) { heard.push_back("b"); });
  m.AddObserver(&a);
  m.AddObserver(&b);
  m.OnChange = [&](TComponent*) { heard.push_back("owner"); };
  m.SetDeviceId(1);
  EXPECT_EQ(heard, (std::vector<std::string>{"b", "a", "owner"}));

  // The same number again: nothing. A suspended observer hears nothing.
  heard.clear();
  m.SetDeviceId(1);
  EXPECT_TRUE(heard.empty());
  b.Suspend();
  m.SetDeviceId(0);
  EXPECT_EQ(heard, (std::vector<std::string>{"a", "owner"}));
}

TEST_F(DeviceTest, AnObserverHearsOneSourceAndLeavesCleanly) {
  MixerKindDevice first, second;
  int heard = 0;
  TMMObserver o(nullptr, [&](TMMObserver*, const TMMNotification&) { ++heard; });
  first.AddObserver(&o);
  second.AddObserver(&o);  // moves
  first.SetDeviceId(1);
  EXPECT_EQ(heard, 0);
  first.RemoveObserver(&o);  // not attached there: no effect
  second.SetDeviceId(1);
  EXPECT_EQ(heard, 1);
  {
    auto gone = std::make_unique<MixerKindDevice>();
    gone->AddObserver(&o);
  }
  EXPECT_EQ(o.Observable(), nullptr);
  {
    TMMObserver shortLived;
    second.AddObserver(&shortLived);
  }
  second.SetDeviceId(0);  // the destroyed observer is no longer in the list
  EXPECT_EQ(heard, 1);
}

TEST_F(DeviceTest, ActiveWhileLoadingWaitsForTheStoredNumber) {
  TComponent form;
  auto* m = new MixerKindDevice(&form);
  form.BeginLoading();
  m->SetActive(true);
  EXPECT_TRUE(m->Active());  // remembered
  EXPECT_EQ(m->opens, 0);
  m->SetDeviceId(1);
  form.EndLoading();
  EXPECT_EQ(m->opens, 1);
  EXPECT_TRUE(m->Active());
  EXPECT_EQ(m->DeviceId(), 1);
  // Changing the number of an active device closes it and opens it again.
  const int closes = m->closes;
  m->SetDeviceId(0);
  EXPECT_EQ(m->opens, 2);
  EXPECT_GT(m->closes, closes);
  m->SetActive(false);
  EXPECT_FALSE(m->Active());
}

TEST_F(DeviceTest, NamesMixerNumbersAndErrors) {
  TMMCustomAudioDevice out;
  std::vector<std::string> names;
  out.ListDeviceNames(names, true);
  EXPECT_EQ(names, (std::vector<std::string>{"Output mapper", "Out 1", "Out 2", "Out 3"}));
  out.ListDeviceNames(names, false);
  EXPECT_EQ(names.size(), 3u);

  layer.mixerOf = 1;
  EXPECT_EQ(out.MixerIdOf(), 1);
  layer.mixerOf = -1;
  EXPECT_EQ(out.MixerIdOf(), InvalidId);
  layer.mixerResult = MMSYSERR_NODRIVER;
  EXPECT_EQ(out.MixerIdOf(), InvalidId);
  layer.mixerResult = MMSYSERR_NOMEM;
  layer.texts[MMSYSERR_NOMEM] = "Out of memory";
  try {
    out.MixerIdOf();
    ADD_FAILURE();
  } catch (const EMMMCIError& e) {
    EXPECT_EQ(e.Code(), MMSYSERR_NOMEM);
    EXPECT_STREQ(e.what(), "Out of memory");
  }
  layer.mixerResult = 77;
  try {
    out.MixerIdOf();
    ADD_FAILURE();
  } catch (const EMMMCIError& e) {
    EXPECT_STREQ(e.what(), "MMSystem error: 77");
  }
  // A layer that cannot say whether there is a mapper fails loudly; "no mapper" does not.
  layer.capsFailure = MMSYSERR_INVALHANDLE;
  EXPECT_FALSE(out.Mapper());
  layer.capsFailure = MMSYSERR_NOMEM;
  EXPECT_THROW(out.Mapper(), EMMMCIError);
  // A device that cannot be asked at creation is no device.
  MixerKindDevice broken;
  EXPECT_EQ(broken.DeviceId(), InvalidId);
}

TEST_F(DeviceTest, BoxOfTwoMixersWithoutMapper) {
  MixerKindDevice m;
  TMMDeviceComboBox box;
  box.SetDevice(&m);
  EXPECT_EQ(Items(box), (std::vector<std::string>{"Card A", "Card B"}));
  EXPECT_EQ(box.ItemIndex(), 0);
  EXPECT_TRUE(box.isEnabled());
  m.SetDeviceId(1);
  EXPECT_EQ(box.ItemIndex(), 1);
  box.Choose(0);
  EXPECT_EQ(m.DeviceId(), 0);
  EXPECT_EQ(box.ItemIndex(), 0);
}

TEST_F(DeviceTest, BoxWithAMapperShiftsEveryEntryByOne) {
  TMMCustomAudioDevice out;
  TMMDeviceComboBox box;
  box.SetDevice(&out);
  EXPECT_EQ(Items(box).front(), "Output mapper");
  out.SetDeviceId(2);
  EXPECT_EQ(box.ItemIndex(), 3);
  box.Choose(0);
  EXPECT_EQ(out.DeviceId(), MapperId);
  EXPECT_EQ(box.ItemIndex(), 0);
  box.SetIncludeMapper(false);
  EXPECT_EQ(box.count(), 3);
  EXPECT_EQ(box.ItemIndex(), -1);  // the mapper has no entry then
  box.Choose(1);
  EXPECT_EQ(out.DeviceId(), 1);
}

TEST_F(DeviceTest, ReselectingTheCurrentEntryRunsOnlyTheOwnersHandler) {
  MixerKindDevice m;
  TMMDeviceComboBox box;
  box.SetDevice(&m);
  std::vector<std::string> order;
  box.OnChange = [&] { order.push_back("owner"); };
  m.OnChange = [&](TComponent*) { order.push_back("device"); };
  box.Choose(0);
  EXPECT_EQ(order, (std::vector<std::string>{"owner"}));
  order.clear();
  box.Choose(1);
  EXPECT_EQ(order, (std::vector<std::string>{"owner", "device"}));
}

TEST_F(DeviceTest, BoxEmptyAndDisabledWhenThereIsNothingToChoose) {
  TMMDeviceComboBox box;
  EXPECT_FALSE(box.isEnabled());  // no device bound
  auto m = std::make_unique<MixerKindDevice>();
  box.SetDevice(m.get());
  m->SetDeviceId(-2);
  EXPECT_EQ(box.ItemIndex(), -1);
  box.SetEnabled(false);
  EXPECT_EQ(box.count(), 0);
  EXPECT_FALSE(box.isEnabled());
  box.SetEnabled(true);
  EXPECT_TRUE(box.isEnabled());
  // The bound device goes: the box lets go of it.
  m.reset();
  EXPECT_EQ(box.Device(), nullptr);
  EXPECT_EQ(box.count(), 0);
  EXPECT_FALSE(box.isEnabled());
  // A machine without mixers.
  SetDeviceLayer(nullptr);
  MixerKindDevice none;
  box.SetDevice(&none);
  EXPECT_EQ(box.count(), 0);
  EXPECT_FALSE(box.isEnabled());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
