// Test entry: the tests run with a Qt application object, as the programs do, so that
// message windows and timers work on the main thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  // Set here rather than by CTest, so that a test program run by hand sees the same: windows
  // render offscreen, and ALSA reads the test configuration with its file-backed inputs.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" TEST_ASOUNDRC, 1);
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
