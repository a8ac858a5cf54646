#pragma once
// A private CUPS server for integration tests: its own folders under a temporary folder, a Unix
// socket only, queues from the PPDs in tests/fixtures writing each job to a file. It never
// touches the machine's own CUPS.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace parvel::doubles {

struct JobRecord {
  int state = 0;                                  // IPP job-state: 9 completed, 8 aborted, 7 canceled
  std::map<std::string, std::string> attributes;  // job-name, media, orientation-requested, ...
};

struct PdfWord {
  double x_min = 0, y_min = 0, x_max = 0, y_max = 0;  // points from the page's top-left
  std::string text;
};

struct PdfPage {
  double width = 0, height = 0;  // points
  std::vector<PdfWord> words;

  // The first word that reads `text`, or nullptr.
  const PdfWord* Find(const std::string& text) const {
    for (const PdfWord& word : words) {
      if (word.text == text) return &word;
    }
    return nullptr;
  }
};

class CupsServer {
 public:
  // Starts cupsd and points libcups (CUPS_SERVER, cupsSetServer) at it; throws on failure.
  CupsServer();
  ~CupsServer();
  CupsServer(const CupsServer&) = delete;
  CupsServer& operator=(const CupsServer&) = delete;

  const std::string& Socket() const { return socket_; }
  const std::filesystem::path& Folder() const { return root_; }

  // Adds an enabled queue from tests/fixtures/<ppd> (a raw queue for an empty name); answers the file its
  // jobs are written to.
  std::filesystem::path AddQueue(const std::string& name, const std::string& ppd);
  // Adds a queue from a driver that CUPS itself offers ("drv:///sample.drv/zebra.ppd").
  std::filesystem::path AddModelQueue(const std::string& name, const std::string& model);
  // Puts queues already added into a class `name` (made by the first of them), enabled and
  // accepting; CUPS gives each of its jobs to one of them.
  void AddClass(const std::string& name, const std::vector<std::string>& members);
  // A paused queue takes jobs and holds them, so their attributes can be read before any filter.
  void Pause(const std::string& name, bool pause = true);
  void CancelJobs(const std::string& name);
  // How many requests so far the access log shows whose line holds `what`
  // ("GET /printers/card.ppd").
  size_t RequestsFor(const std::string& what) const;
  // Stops the server as a restart would; Start brings it back on the same socket with its queues.
  void Stop();
  void Start();
  void SetDefault(const std::string& name);
  void RejectJobs(const std::string& name, bool reject = true);
  void DeleteQueue(const std::string& name);
  std::filesystem::path OutputOf(const std::string& name) const;

  // The ids of every job the queue has seen, oldest first.
  static std::vector<int> JobIds(const std::string& queue);

  // Waits (at most `seconds`) until the job has ended and answers its attributes.
  JobRecord WaitForJob(int job_id, double seconds = 20) const;

  // Runs a program with the server's environment; answers its exit code, output in `out`.
  static int Run(const std::vector<std::string>& argv, std::string* out = nullptr);

  // Adds a backend or a filter of the tests' own (`kind` "backend" or "filter", `script` the
  // program's text, run as "lp") beside the system's; answers its file. The first call gives the
  // server a program folder of its own (links to everything in /usr/lib/cups, plus these) and
  // restarts it there, keeping its queues and jobs. Programs must be added before the queues
  // that use them.
  std::filesystem::path AddProgram(const std::string& kind, const std::string& name,
                                   const std::string& script);

  // From now on the server asks every client for a password (Basic authentication, for every
  // resource and every operation) and listens on TCP 127.0.0.1 too, at a free port that it
  // answers; it restarts, keeping its queues and jobs. Over its Unix socket the test program
  // (root) still gets in by its peer credentials, as lpadmin does. Throws unless a request over
  // TCP without a password is refused after libcups was asked for one.
  int AskForPasswords();
  // From now on the server listens on TCP 127.0.0.1 too, at a free port that it answers, as a
  // print server of a site does; it restarts, keeping its queues and jobs.
  int ListenOnTcp();

 private:
  std::filesystem::path root_;
  std::filesystem::path server_bin_;  // empty while the server runs the system's programs
  std::string socket_;
  pid_t pid_ = -1;
};

// The words and page sizes of a PDF as `pdftotext -bbox` reads them.
std::vector<PdfPage> ReadPdf(const std::filesystem::path& pdf);

// The first page of a PDF as a viewer shows it (its rotation applied) and the box around its
// ink, in points from the top-left corner.
struct Ink {
  double page_width = 0, page_height = 0;
  double left = 0, top = 0, right = 0, bottom = 0;
  bool any = false;
};
Ink InkOf(const std::filesystem::path& pdf);

// One server for the whole test program, started before the first test and always stopped.
class CupsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  static CupsServer& Server();
};

// A TCP port on 127.0.0.1 that nothing listens on now.
int FreePort();
// Whether something accepts connections on the Unix socket at `socket_path`.
bool SocketAnswers(const std::string& socket_path);

constexpr double kPointsPerMm = 72.0 / 25.4;

// Thousandths of a millimetre as PDF points.
constexpr double Points(int32_t thousandths) { return thousandths / 1000.0 * kPointsPerMm; }

}  // namespace parvel::doubles
