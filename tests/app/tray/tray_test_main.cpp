#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/testing/doubles.h"

// Tray tests need an application for menus and icons; they run offscreen.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  parvel::platform::doubles::DefaultDoubles doubles;
  return RUN_ALL_TESTS();
}
