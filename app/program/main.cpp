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
#include <vector>

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

// SIGTERM and SIGINT (end: the card in progress finishes) and SIGHUP (read the INI file again)
// reach the message loop through a pipe, one byte each.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int signal) {
  const char byte = signal == SIGHUP ? 'H' : 'T';
  const int saved = errno;
  [[maybe_unused]] const ssize_t written = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

bool CatchSignals() {
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0 &&
         sigaction(SIGHUP, &action, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using parvel::agent::TCommandLine;
  const TCommandLine options =
      parvel::agent::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (options.action) {
    case TCommandLine::Action::Help:
      std::cout << parvel::agent::kUsage;
      return 0;
    case TCommandLine::Action::Version:
      std::cout << "parvel " << PARVEL_VERSION << "\n";
      return 0;
    case TCommandLine::Action::Error:
      std::cerr << "parvel: " << options.error << "\n" << parvel::agent::kUsage;
      return 2;
    case TCommandLine::Action::Run:
      break;
  }

  const bool desktop = parvel::agent::PrepareDisplay();
  QApplication app(argc, argv);
  // Closing a message box or the tray menu never ends the agent; "&Fechar" and Form1 do.
  QApplication::setQuitOnLastWindowClosed(false);
  if (!CatchSignals()) {
    std::cerr << "parvel: cannot catch SIGTERM: " << std::strerror(errno) << "\n";
    return 1;
  }
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
  const fs::path config = options.config ? *options.config : parvel::agent::ConfigFileFor(program);
  int status = 0;
  {
    parvel::agent::TMainWindow window(desktop, config);
    if (window.Form().ConfigMissing()) return 1;
    // A signal that came during start-up waits in the pipe and is handled once the loop runs.
    QSocketNotifier signal_notifier(g_signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(&signal_notifier, &QSocketNotifier::activated, &app, [&window] {
      bool end = false;
      bool reload = false;
      char buffer[16];
      for (ssize_t got = 0; (got = read(g_signal_pipe[0], buffer, sizeof buffer)) > 0;) {
        for (ssize_t i = 0; i < got; ++i) (buffer[i] == 'H' ? reload : end) = true;
      }
      if (end) {
        QCoreApplication::quit();
      } else if (reload) {
        window.Form().Reload();
      }
    });
    window.ShowMainForm();
    status = QApplication::exec();
  }
  return status;
}
