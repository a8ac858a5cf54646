#include "tests/app/tray/desktop_session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace parvel::doubles {

namespace {

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    const std::filesystem::path candidate = std::filesystem::path(folders.substr(start, end - start)) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  throw std::runtime_error(name + " is not installed (scripts/install-deps installs it)");
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool quiet_stderr) {
  // Everything the child needs is prepared before fork: after it, only exec-safe calls.
  const std::string program = FindProgram(argv.at(0));
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(pipe_fds[1], STDOUT_FILENO);
    if (quiet_stderr) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDERR_FILENO);
    }
    execv(program.c_str(), args.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  output_ = pipe_fds[0];
}

ChildProcess::~ChildProcess() {
  Stop();
  if (output_ >= 0) close(output_);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd fd{output_, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[256];
    const ssize_t got = read(output_, chunk, sizeof chunk);
    if (got <= 0) return std::nullopt;  // the child closed its output
    buffer_.append(chunk, static_cast<size_t>(got));
  }
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (ended_) return 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

void ChildProcess::Stop() {
  if (ended_ || pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (Wait(1s)) return;
  kill(pid_, SIGKILL);
  Wait(5s);
}

bool RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  ChildProcess command(argv, /*quiet_stderr=*/false);
  const std::optional<int> status = command.Wait(timeout);
  return status && *status == 0;
}

XServer::XServer()
    : process_({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset"}) {
  // Xvfb writes the number of the display it took once it accepts connections.
  const std::optional<std::string> number = process_.ReadLine(60s);
  if (!number || number->empty()) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + *number;
  setenv("DISPLAY", display_.c_str(), 1);
}

TrayHost::TrayHost()
    : process_({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                "--heighttype", "pixel", "--height", "24", "--SetDockType", "false", "--expand", "false"}) {}

SessionBus::SessionBus() {
  char folder[] = "/tmp/parvel-bus-XXXXXX";
  if (mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = folder;
  const std::string config = folder_ + "/session.conf";
  std::ofstream(config)
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>unix:dir="
      << folder_
      << "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
  process_.emplace(std::vector<std::string>{"dbus-daemon", "--config-file=" + config, "--nofork",
                                            "--nopidfile", "--print-address=1"});
  const std::optional<std::string> address = process_->ReadLine(60s);
  if (!address || address->empty()) throw std::runtime_error("dbus-daemon did not start");
  address_ = *address;
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

SessionBus::~SessionBus() {
  process_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace parvel::doubles
