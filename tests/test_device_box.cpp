// The card box of the real program: over ALSA's capture devices and their mixers (the test
// asoundrc's inputs), it lists the same names, in the same order, as `list-devices` prints
// with the numbers a station's card setting uses.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "mixer/MMMixerDevice.h"
#include "platform/AlsaCapture.h"
#include "platform/AlsaMixer.h"
#include "widgets/MMDeviceComboBox.h"

namespace {

// The names `list-devices` prints before the line of the default device.
std::vector<std::string> ListedNames() {
  std::vector<std::string> names;
  FILE* out = popen(LIST_DEVICES, "r");
  if (!out) return names;
  char line[512];
  int expected = 0;
  while (std::fgets(line, sizeof line, out)) {
    int number = -1;
    // "%2zu  %-31s  (ALSA pcm)": the name is 31 characters wide, padded.
    if (std::sscanf(line, "%d", &number) != 1 || number != expected) continue;
    const std::string text(line);
    const size_t at = text.find_first_not_of(' ', text.find_first_not_of(" 0123456789"));
    const size_t end = text.find("  (ALSA ");
    if (at == std::string::npos || end == std::string::npos) continue;
    std::string n = text.substr(at, end - at);
    while (!n.empty() && n.back() == ' ') n.pop_back();
    names.push_back(n);
    ++expected;
  }
  pclose(out);
  return names;
}

TEST(DeviceBox, ListsWhatListDevicesPrints) {
  AlsaCaptureBackend capture;
  AlsaMixerBackend mixers(capture);
  BackendDeviceLayer layer(capture, mixers);
  SetDeviceLayer(&layer);
  {
    TMMMixerDevice placa;
    TMMDeviceComboBox box;
    box.SetDevice(&placa);
    const std::vector<std::string> listed = ListedNames();
    ASSERT_FALSE(listed.empty());
    std::vector<std::string> shown;
    for (int i = 0; i < box.count(); ++i) shown.push_back(box.itemText(i).toStdString());
    EXPECT_EQ(shown, listed);
    // The entry of a station's card number is that number.
    box.Choose(static_cast<int>(listed.size()) - 1);
    EXPECT_EQ(placa.DeviceId(), static_cast<int>(listed.size()) - 1);
  }
  SetDeviceLayer(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" TEST_ASOUNDRC, 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
