#pragma once
// The private desktop of the tray's integration tests: an X server of their own (Xvfb on a free
// display), a tray host (trayer), a D-Bus session bus, and xdotool as the mouse. Every process is
// started here, killed by its pid when its owner goes, and dies with the test program.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace parvel::doubles {

using namespace std::chrono_literals;

// One child process; its standard output can be read line by line.
class ChildProcess {
 public:
  // Starts `argv` (argv[0] found on PATH); a missing program throws std::runtime_error.
  explicit ChildProcess(const std::vector<std::string>& argv, bool quiet_stderr = true);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of its output without the line break, or nothing when none comes in time.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  // Waits for its end; answers its exit status, or nothing when it did not end in time.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // SIGTERM, then SIGKILL when it has not ended within a second; waits for it.
  void Stop();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffer_;
  bool ended_ = false;
};

// Runs a short command to its end (xdotool); false when it fails or takes longer than `timeout`.
bool RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 30s);

// An Xvfb on the first free display; sets DISPLAY for the process.
class XServer {
 public:
  XServer();
  const std::string& display() const { return display_; }

 private:
  ChildProcess process_;
  std::string display_;
};

// trayer on the current display, at the top of the screen.
class TrayHost {
 public:
  TrayHost();

 private:
  ChildProcess process_;
};

// A dbus-daemon with a configuration of its own in a scratch folder; sets
// DBUS_SESSION_BUS_ADDRESS for the process.
class SessionBus {
 public:
  SessionBus();
  ~SessionBus();
  const std::string& address() const { return address_; }

 private:
  std::string folder_;
  std::optional<ChildProcess> process_;
  std::string address_;
};

}  // namespace parvel::doubles
