// The CUPS spooler against a server that takes connections and never answers.
#include <cups/cups.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/cups_spooler.h"

namespace {

using namespace parvel::platform;
using namespace parvel::platform::linux_os;
using namespace std::chrono_literals;

// Listens on a socket of its own, accepts every connection and never writes a byte.
class StalledServer {
 public:
  StalledServer() {
    char folder[] = "/tmp/parvel-stalled-XXXXXX";
    folder_ = mkdtemp(folder);
    path_ = folder_ + "/cups.sock";
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path_.copy(addr.sun_path, sizeof addr.sun_path - 1);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 16) != 0) {
      ADD_FAILURE() << "cannot listen on " << path_;
    }
    thread_ = std::thread([this] {
      for (;;) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        held_.push_back(fd);
        ++connections_;
      }
    });
  }
  ~StalledServer() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
    for (int fd : held_) close(fd);
    std::filesystem::remove_all(folder_);
  }
  const std::string& Path() const { return path_; }
  int Connections() const { return connections_; }

 private:
  std::string folder_;
  std::string path_;
  int listener_ = -1;
  std::vector<int> held_;
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// Points libcups at another server for one test.
class ScopedServer {
 public:
  explicit ScopedServer(const std::string& server) : previous_(cupsServer()) {
    cupsSetServer(server.c_str());
  }
  ~ScopedServer() { cupsSetServer(previous_.c_str()); }

 private:
  std::string previous_;
};

TEST(CupsSilence, AServerThatDoesNotAnswerCostsAPrintOneTimeoutNotOnePerQuestion) {
  StalledServer stalled;
  ScopedServer use(stalled.Path());
  CupsSpooler spooler(300ms);

  // The first question waits one timeout and fails as a passing trouble, not a missing printer.
  try {
    spooler.Capabilities("card");
    ADD_FAILURE() << "a silent server answered";
  } catch (const SpoolerError& e) {
    EXPECT_FALSE(e.NoSuchPrinter()) << e.what();
  }
  EXPECT_EQ(stalled.Connections(), 1);

  // The rest of the print fails at once, without asking the server again.
  EXPECT_THROW(spooler.OpenPrinter("card"), SpoolerError);
  EXPECT_THROW(spooler.Capabilities("card"), SpoolerError);
  EXPECT_THROW(spooler.Printers(), SpoolerError);
  EXPECT_EQ(spooler.DefaultPrinterDevice(), "");
  EXPECT_EQ(stalled.Connections(), 1);

  // Once as long again has passed, the server is asked afresh.
  std::this_thread::sleep_for(400ms);
  EXPECT_THROW(spooler.Capabilities("card"), SpoolerError);
  EXPECT_EQ(stalled.Connections(), 2);
}

}  // namespace
