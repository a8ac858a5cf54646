// parvel: the card print agent. It polls the spool folder named in its INI file and prints one
// card per tick; with a desktop it shows an icon in the notification area, without one it runs
// headless and writes its reports on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include <QApplication>
#include <QSocketNotifier>

#include "app/agent/config.h"
#include "app/program/desktop.h"
#include "app/program/main_window.h"
#include "app/tray/linux_notification_area.h"
#include "platform/linux/linux_platform.h"
#include "platform/services.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUsage =
    "usage: parvel [--config FILE]\n"
    "       parvel --help | --version\n"
    "\n"
    "Prints one CR80 card per card file (*.car) dropped into the spool folder named in its\n"
    "INI file, then deletes the file. The INI file lies beside the program file (parvel.INI for\n"
    "the program parvel); --config names another one. Without a display the agent runs headless\n"
    "and writes its messages on standard error. SIGTERM and SIGINT end it after the card in\n"
    "progress.\n"
    "\n"
    "Exit status: 0 when ended, 1 when the INI file is missing, 2 on a wrong command line.\n";

struct Options {
  std::optional<fs::path> config;
  bool help = false;
  bool version = false;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--config" && i + 1 < argc) {
      options.config = argv[++i];
    } else if (arg.starts_with("--config=")) {
      options.config = std::string(arg.substr(9));
    } else {
      std::cerr << "parvel: unknown argument '" << arg << "'\n" << kUsage;
      return std::nullopt;
    }
  }
  return options;
}

// SIGTERM and SIGINT reach the message loop through a pipe, so the card in progress finishes.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int /*signal*/) {
  const char byte = 1;
  const int saved = errno;
  [[maybe_unused]] const ssize_t written = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

bool CatchEndSignals() {
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) return 2;
  if (options->help) {
    std::cout << kUsage;
    return 0;
  }
  if (options->version) {
    std::cout << "parvel " << PARVEL_VERSION << "\n";
    return 0;
  }

  const bool desktop = parvel::agent::PrepareDisplay();
  QApplication app(argc, argv);
  // Closing a message box or the tray menu never ends the agent; "&Fechar" and Form1 do.
  QApplication::setQuitOnLastWindowClosed(false);
  if (!CatchEndSignals()) {
    std::cerr << "parvel: cannot catch SIGTERM: " << std::strerror(errno) << "\n";
    return 1;
  }
  QSocketNotifier end_signal(g_signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(&end_signal, &QSocketNotifier::activated, &app, [] {
    char buffer[16];
    while (read(g_signal_pipe[0], buffer, sizeof buffer) > 0) {
    }
    QCoreApplication::quit();
  });

  parvel::platform::linux_os::LinuxPlatform platform(/*with_pump=*/true);
  std::optional<parvel::tray::LinuxNotificationArea> area;
  std::optional<parvel::platform::ScopedInstall<parvel::tray::NotificationArea>> area_installed;
  if (desktop) {
    area.emplace();
    area_installed.emplace(&*area);
  }

  std::error_code ec;
  fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (ec) program = fs::absolute(argv[0]);
  const fs::path config = options->config ? *options->config : parvel::agent::ConfigFileFor(program);
  int status = 0;
  {
    parvel::agent::TMainWindow window(desktop, config);
    if (window.Form().ConfigMissing()) return 1;
    window.ShowMainForm();
    status = QApplication::exec();
  }
  return status;
}
