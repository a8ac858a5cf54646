#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>

#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
  // Integration tests draw offscreen unless a test run asks for a display of its own.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  parvel::platform::linux_os::LinuxPlatform platform(/*with_pump=*/false);
  return RUN_ALL_TESTS();
}
