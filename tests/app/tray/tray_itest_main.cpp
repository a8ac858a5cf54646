#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "tests/app/tray/desktop_session.h"

// The tray's integration tests run on a private X server (and, for the StatusNotifierItem test,
// a private session bus with a watcher of ours), never on the user's desktop.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
  if (listing) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
  }
  std::optional<parvel::doubles::XServer> x;
  std::optional<parvel::doubles::SessionBus> bus;
  std::optional<parvel::doubles::ChildProcess> watcher;
  try {
    x.emplace();
#ifdef PARVEL_SNI_WATCHER
    bus.emplace();
    watcher.emplace(std::vector<std::string>{PARVEL_SNI_WATCHER}, /*quiet_stderr=*/false);
    if (watcher->ReadLine(std::chrono::seconds(60)) != "ready")
      throw std::runtime_error("the watcher did not start");
#else
    // No session bus: the X11 tray alone.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/parvel-no-bus", 1);
#endif
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot set up the private desktop: %s\n", e.what());
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  int result;
  {
    QApplication app(argc, argv);
    result = RUN_ALL_TESTS();
  }
  return result;
}
