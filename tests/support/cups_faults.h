#pragma once
// Faults between the agent and the private CUPS server: a relay that loses a document or holds
// the answer to it, card queues whose filter or backend fails, stops or is slow, and the jobs a
// queue was given with the words of the document CUPS kept for each.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cups_server.h"

namespace parvel::doubles {

// IPP operations as the relay counts them.
inline constexpr int kPrintJob = 0x0002;
inline constexpr int kCreateJob = 0x0005;
inline constexpr int kSendDocument = 0x0006;
inline constexpr int kCancelJob = 0x0008;
inline constexpr int kNotIpp = 0;  // a request that carries no IPP message (GET of a PPD, ...)

// A relay on a Unix socket of its own between libcups clients and the server's socket, on
// threads of its own. Every request passes unless the mode says otherwise; the mode may change
// while clients are connected and applies from their next request.
class StallProxy {
 public:
  enum class Mode {
    kPass,
    // A Send-Document request is read whole and neither forwarded nor answered: the client waits
    // until its own timeout. The server never sees the document.
    kSwallowDocument,
    // A Send-Document request reaches the server, whose answer the client hears only after the
    // hold time.
    kHoldDocumentAnswer,
  };

  // Listens at once; `server_socket` is the server's (CupsServer::Socket).
  explicit StallProxy(std::string server_socket);
  // Closes every connection and joins every thread.
  ~StallProxy();
  StallProxy(const StallProxy&) = delete;
  StallProxy& operator=(const StallProxy&) = delete;

  // The path for CUPS_SERVER.
  const std::string& Socket() const { return socket_; }
  void SetMode(Mode mode, std::chrono::milliseconds hold = std::chrono::seconds(30));

  // Requests seen whose IPP operation is `operation` (kNotIpp for the others), passed or not.
  size_t Requests(int operation) const;
  // Send-Document requests read and dropped.
  size_t Swallowed() const { return swallowed_; }
  // Answers to Send-Document held back so far (counted when the hold begins).
  size_t Held() const { return held_; }

 private:
  struct Connection;
  void Accept();
  void Relay(int client, Connection& connection);
  void Count(int operation);

  std::string server_socket_;
  std::string socket_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};  // written once at the end: every loop polls its reading side
  std::atomic<Mode> mode_{Mode::kPass};
  std::atomic<int64_t> hold_ms_{30000};
  std::atomic<size_t> swallowed_{0};
  std::atomic<size_t> held_{0};
  mutable std::mutex mutex_;
  std::map<int, size_t> requests_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::thread acceptor_;
};

// How a card queue of the tests' own (a CR80 card printer, see AddFaultQueue) misbehaves. Its
// backend writes each job to the queue's output file (CupsServer::OutputOf), as the file:
// device does, unless it fails; when it fails it first sets the printer's reason media-empty.
struct FaultPlan {
  double seconds_per_job = 0;         // the backend takes this long for every job
  std::string fail_on_word;           // it fails for a document whose text holds this word
  std::filesystem::path fail_while;   // it fails while this file exists
  bool filter_fails = false;          // the queue's filter ends every job with status 1
  std::string error_policy;           // printer-error-policy ("abort-job", "stop-printer"), or
                                      // the server's default when empty
  std::string ppd = "card_cr80.ppd";  // the queue's driver, from tests/fixtures
  bool file_per_job = false;          // each job is written to the output file's name + ".<job id>"
};

// Adds the enabled queue `name` from the plan's PPD with the tests' backend (and filter) following
// `plan`; answers its output file.
std::filesystem::path AddFaultQueue(CupsServer& server, const std::string& name, const FaultPlan& plan);

// One job of a queue as the server reports it.
struct QueueJob {
  int id = 0;
  int state = 0;                   // IPP job-state: 3 pending ... 9 completed
  int documents = 0;               // number-of-documents
  std::string reasons;             // job-state-reasons, comma-separated
  std::string message;             // job-printer-state-message
  std::vector<std::string> words;  // the words of the document CUPS kept, sorted; empty without
};

// Every job of `queue` whose id is above `after`, oldest first, from the server libcups is
// pointed at; with `read_documents`, with the words of their documents (the test environment's
// server only).
std::vector<QueueJob> QueueJobs(const std::string& queue, int after = 0, bool read_documents = true);
// The highest job id of `queue` so far, 0 for none.
int LastJobId(const std::string& queue);
// How many of `jobs` completed with a document of exactly `words` (in any order).
size_t CompletedWith(const std::vector<QueueJob>& jobs, std::vector<std::string> words);
// How many of `jobs` had a document of exactly `words`, whatever became of them.
size_t SentWith(const std::vector<QueueJob>& jobs, std::vector<std::string> words);
// The ids of `jobs` that still wait (pending, held, processing, stopped) with no document.
std::vector<int> WaitingWithoutDocument(const std::vector<QueueJob>& jobs);
// Whether every job of `jobs` has ended (completed, aborted or canceled).
bool AllEnded(const std::vector<QueueJob>& jobs);

}  // namespace parvel::doubles
