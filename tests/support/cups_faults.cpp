#include "tests/support/cups_faults.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <utility>

#ifndef PARVEL_FIXTURES_DIR
#error "PARVEL_FIXTURES_DIR must name tests/fixtures"
#endif

namespace parvel::doubles {
namespace fs = std::filesystem;
namespace {

// Beyond this a request's head is no HTTP the relay knows: the rest of the connection passes.
constexpr size_t kMaxHead = size_t{64} * 1024;
constexpr size_t kMaxConnections = 64;

int ConnectUnix(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Writes all of `data` unless the peer fails or `wake` tells the relay to end.
bool WriteAll(int fd, const char* data, size_t size, int wake) {
  while (size > 0) {
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// What becomes of one request.
enum class Action { kForward, kSwallow, kForwardThenHold };

// Splits the client's byte stream into HTTP requests (Content-Length or chunked bodies) and
// learns each IPP request's operation from the first four bytes of its body.
class RequestFramer {
 public:
  struct Output {
    std::string forward;       // what goes to the server now
    bool hold_answer = false;  // the request whose answer is held ended in this piece
  };
  explicit RequestFramer(std::function<Action(int)> decide) : decide_(std::move(decide)) {}

  Output Feed(const char* data, size_t size) {
    Output out;
    size_t at = 0;
    while (at < size) {
      if (raw_) {
        out.forward.append(data + at, size - at);
        break;
      }
      if (in_head_) {
        at = TakeHead(data, size, at, out);
      } else {
        at += TakeBody(data + at, size - at, out);
      }
    }
    return out;
  }

 private:
  enum class Chunk { kSize, kData, kDataEnd, kTrailer };

  size_t TakeHead(const char* data, size_t size, size_t at, Output& out) {
    const size_t before = pending_.size();
    pending_.append(data + at, size - at);
    const size_t end = pending_.find("\r\n\r\n", before >= 3 ? before - 3 : 0);
    if (end == std::string::npos) {
      if (pending_.size() > kMaxHead) {
        raw_ = true;
        out.forward += pending_;
        pending_.clear();
      }
      return size;
    }
    const size_t head_size = end + 4;
    const size_t body_bytes = pending_.size() - head_size;
    pending_.resize(head_size);
    StartBody(out);
    return size - body_bytes;
  }

  void StartBody(Output& out) {
    std::istringstream lines(pending_);
    std::string line;
    bool ipp = false;
    chunked_ = false;
    remaining_ = 0;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string name = Lower(line.substr(0, colon));
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      if (name == "content-length") remaining_ = std::strtoull(value.c_str(), nullptr, 10);
      if (name == "transfer-encoding" && Lower(value).find("chunked") != std::string::npos) chunked_ = true;
      if (name == "content-type" && Lower(value).starts_with("application/ipp")) ipp = true;
    }
    in_head_ = false;
    decided_ = false;
    peek_.clear();
    chunk_ = Chunk::kSize;
    line_.clear();
    if (!ipp) Decide(kNotIpp, out);
    if (!chunked_ && remaining_ == 0) Finish(out);
  }

  size_t TakeBody(const char* data, size_t size, Output& out) {
    if (!chunked_) {
      const size_t take = std::min<size_t>(size, remaining_);
      Body(data, take, out);
      remaining_ -= take;
      if (remaining_ == 0) Finish(out);
      return take;
    }
    switch (chunk_) {
      case Chunk::kData: {
        const size_t take = std::min<size_t>(size, remaining_);
        Body(data, take, out);
        remaining_ -= take;
        if (remaining_ == 0) {
          chunk_ = Chunk::kDataEnd;
          remaining_ = 2;
        }
        return take;
      }
      case Chunk::kDataEnd: {
        const size_t take = std::min<size_t>(size, remaining_);
        Raw(data, take, out);
        remaining_ -= take;
        if (remaining_ == 0) chunk_ = Chunk::kSize;
        return take;
      }
      case Chunk::kSize:
      case Chunk::kTrailer:
        break;
    }
    // A line: a chunk's size, or a trailer field (an empty one ends the request).
    Raw(data, 1, out);
    line_.push_back(data[0]);
    if (!line_.ends_with("\r\n")) return 1;
    if (chunk_ == Chunk::kSize) {
      remaining_ = std::strtoull(line_.c_str(), nullptr, 16);
      chunk_ = remaining_ == 0 ? Chunk::kTrailer : Chunk::kData;
    } else if (line_ == "\r\n") {
      Finish(out);
    }
    line_.clear();
    return 1;
  }

  // Body bytes as they came (`data`) are also the message's own bytes: chunked framing aside,
  // the IPP operation is in the first four of them.
  void Body(const char* data, size_t size, Output& out) {
    if (!decided_) {
      const size_t want = std::min<size_t>(size, 4 - peek_.size());
      peek_.append(data, want);
      if (peek_.size() == 4)
        Decide((static_cast<unsigned char>(peek_[2]) << 8) | static_cast<unsigned char>(peek_[3]), out);
    }
    Raw(data, size, out);
  }

  void Raw(const char* data, size_t size, Output& out) {
    if (!decided_) {
      pending_.append(data, size);
    } else if (action_ != Action::kSwallow) {
      out.forward.append(data, size);
    }
  }

  void Decide(int operation, Output& out) {
    decided_ = true;
    action_ = decide_(operation);
    if (action_ != Action::kSwallow) out.forward += pending_;
    pending_.clear();
  }

  void Finish(Output& out) {
    if (!decided_) Decide(kNotIpp, out);
    if (action_ == Action::kForwardThenHold) out.hold_answer = true;
    in_head_ = true;
    pending_.clear();
  }

  std::function<Action(int)> decide_;
  bool raw_ = false;
  bool in_head_ = true;
  std::string pending_;  // this request's bytes while its fate is open
  bool decided_ = false;
  Action action_ = Action::kForward;
  std::string peek_;
  bool chunked_ = false;
  size_t remaining_ = 0;
  Chunk chunk_ = Chunk::kSize;
  std::string line_;
};

}  // namespace

struct StallProxy::Connection {
  std::thread thread;
  std::atomic<bool> done{false};
};

StallProxy::StallProxy(std::string server_socket) : server_socket_(std::move(server_socket)) {
  char pattern[] = "/tmp/parvel-relay-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a folder for the relay");
  // The agent may run as another user: the socket is open to everyone, as cupsd's is.
  ::chmod(pattern, 0755);
  socket_ = std::string(pattern) + "/cups.sock";
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socket_.c_str(), sizeof addr.sun_path - 1);
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 16) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot listen on " + socket_ + ": " + std::strerror(errno));
  }
  ::chmod(socket_.c_str(), 0777);
  acceptor_ = std::thread([this] { Accept(); });
}

StallProxy::~StallProxy() {
  [[maybe_unused]] const ssize_t woken = ::write(wake_[1], "x", 1);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::unique_ptr<Connection>& connection : connections_) connection->thread.join();
    connections_.clear();
  }
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
  std::error_code ignored;
  fs::remove_all(fs::path(socket_).parent_path(), ignored);
}

void StallProxy::SetMode(Mode mode, std::chrono::milliseconds hold) {
  hold_ms_ = hold.count();
  mode_ = mode;
}

size_t StallProxy::Requests(int operation) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = requests_.find(operation);
  return found == requests_.end() ? 0 : found->second;
}

void StallProxy::Count(int operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[operation];
}

void StallProxy::Accept() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& connection) {
      if (!connection->done) return false;
      connection->thread.join();
      return true;
    });
    if (connections_.size() >= kMaxConnections) {
      ::close(client);
      continue;
    }
    connections_.push_back(std::make_unique<Connection>());
    Connection& connection = *connections_.back();
    connection.thread = std::thread([this, client, &connection] {
      Relay(client, connection);
      connection.done = true;
    });
  }
}

void StallProxy::Relay(int client, Connection& /*connection*/) {
  const int server = ConnectUnix(server_socket_);
  if (server < 0) {
    ::close(client);
    return;
  }
  RequestFramer framer([this](int operation) {
    Count(operation);
    if (operation != kSendDocument) return Action::kForward;
    switch (mode_.load()) {
      case Mode::kPass:
        return Action::kForward;
      case Mode::kSwallowDocument:
        ++swallowed_;
        return Action::kSwallow;
      case Mode::kHoldDocumentAnswer:
        return Action::kForwardThenHold;
    }
    return Action::kForward;
  });
  using Clock = std::chrono::steady_clock;
  Clock::time_point hold_until = Clock::now();
  char buffer[64 * 1024];
  for (;;) {
    const Clock::time_point now = Clock::now();
    const bool holding = now < hold_until;
    const int timeout =
        holding ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(hold_until - now).count())
                : -1;
    pollfd fds[3] = {
        {client, POLLIN, 0}, {server, static_cast<short>(holding ? 0 : POLLIN), 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 3, timeout) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[2].revents != 0) break;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t got = ::read(client, buffer, sizeof buffer);
      if (got <= 0) break;
      const RequestFramer::Output out = framer.Feed(buffer, static_cast<size_t>(got));
      // The hold begins before the request's last bytes reach the server, so its answer cannot
      // slip through.
      if (out.hold_answer) {
        hold_until = Clock::now() + std::chrono::milliseconds(hold_ms_.load());
        ++held_;
      }
      if (!out.forward.empty() && !WriteAll(server, out.forward.data(), out.forward.size(), wake_[0])) break;
    }
    if (Clock::now() >= hold_until && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t got = ::read(server, buffer, sizeof buffer);
      if (got <= 0) break;
      if (!WriteAll(client, buffer, static_cast<size_t>(got), wake_[0])) break;
    }
  }
  ::close(server);
  ::close(client);
}

// --- Fault queues ---

namespace {

constexpr char kBackend[] = "parvel-test";
constexpr char kFailingFilter[] = "parvel-test-fail";

// The device URI carries the plan: parvel-test:OUTPUT?seconds=S&failon=WORD&failwhile=FILE.
constexpr char kBackendScript[] = R"sh(#!/bin/sh
# The tests' card printer: writes each job to the file its device URI names (with "each", to that
# name followed by "." and the job's number), after the time the URI asks for; fails, with the hopper reported empty, for a document that holds the URI's word or
# while the URI's flag file exists.
if [ $# -eq 0 ]; then
  echo 'direct parvel-test "Unknown" "parvel test card printer"'
  exit 0
fi
uri=${DEVICE_URI#*:}
out=${uri%%\?*}
query=
case $uri in *\?*) query=${uri#*\?} ;; esac
seconds=0
failon=
failwhile=
each=
IFS='&'
for pair in $query; do
  case $pair in
    seconds=*) seconds=${pair#seconds=} ;;
    failon=*) failon=${pair#failon=} ;;
    failwhile=*) failwhile=${pair#failwhile=} ;;
    each) each=1 ;;
  esac
done
unset IFS
data=$(mktemp) || exit 1
if [ $# -ge 6 ]; then cat "$6" > "$data"; else cat > "$data"; fi
sleep "$seconds"
fail=
if [ -n "$failwhile" ] && [ -e "$failwhile" ]; then fail=1; fi
if [ -n "$failon" ] && pdftotext "$data" - 2>/dev/null | grep -q "$failon"; then fail=1; fi
if [ -n "$fail" ]; then
  rm -f "$data"
  echo "STATE: +media-empty" >&2
  echo "ERROR: The card hopper is empty" >&2
  exit 1
fi
echo "STATE: -media-empty" >&2
if [ -n "$each" ]; then out="$out.$1"; fi
cat "$data" > "$out"
status=$?
rm -f "$data"
exit $status
)sh";

constexpr char kFailingFilterScript[] = R"sh(#!/bin/sh
# A card driver that is broken for every job.
cat > /dev/null
echo "ERROR: The card filter failed" >&2
exit 1
)sh";

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

fs::path AddFaultQueue(CupsServer& server, const std::string& name, const FaultPlan& plan) {
  server.AddProgram("backend", kBackend, kBackendScript);
  fs::path ppd = fs::path(PARVEL_FIXTURES_DIR) / plan.ppd;
  if (plan.filter_fails) {
    server.AddProgram("filter", kFailingFilter, kFailingFilterScript);
    std::string text = ReadText(ppd);
    const std::string filter = "0 gziptoany\"";
    const size_t at = text.find(filter);
    if (at == std::string::npos) throw std::runtime_error(plan.ppd + " names no filter to replace");
    text.replace(at, filter.size(), std::string("0 ") + kFailingFilter + "\"");
    ppd = server.Folder() / (name + "-failing-filter.ppd");
    std::ofstream(ppd) << text;
  }
  fs::path output = server.OutputOf(name);
  std::string uri = std::string(kBackend) + ":" + output.string();
  std::vector<std::string> query;
  if (plan.seconds_per_job > 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", plan.seconds_per_job);
    query.push_back(std::string("seconds=") + seconds);
  }
  if (!plan.fail_on_word.empty()) query.push_back("failon=" + plan.fail_on_word);
  if (!plan.fail_while.empty()) query.push_back("failwhile=" + plan.fail_while.string());
  if (plan.file_per_job) query.push_back("each");
  for (size_t n = 0; n < query.size(); ++n) uri += (n == 0 ? "?" : "&") + query[n];
  std::vector<std::string> argv{"lpadmin", "-p", name, "-E", "-v", uri, "-P", ppd.string()};
  if (!plan.error_policy.empty()) {
    argv.push_back("-o");
    argv.push_back("printer-error-policy=" + plan.error_policy);
  }
  std::string log;
  if (CupsServer::Run(argv, &log) != 0) throw std::runtime_error("lpadmin failed for " + name + ": " + log);
  return output;
}

// --- The jobs of a queue ---

namespace {

// Job documents do not change once the server has them whole: read each only once.
std::vector<std::string> DocumentWords(int id) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, int>, std::vector<std::string>> known;
  const fs::path spool = CupsEnvironment::Server().Folder() / "spool";
  const std::pair<std::string, int> key{spool.string(), id};
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = known.find(key);
  if (found != known.end()) return found->second;
  char name[32];
  std::snprintf(name, sizeof name, "d%05d-001", id);
  std::vector<std::string> words;
  std::error_code ec;
  if (!fs::exists(spool / name, ec)) return words;
  try {
    for (const PdfPage& page : ReadPdf(spool / name)) {
      for (const PdfWord& word : page.words) words.push_back(word.text);
    }
  } catch (const std::runtime_error&) {
    return {"(unreadable document)"};
  }
  std::sort(words.begin(), words.end());
  known.emplace(key, words);
  return words;
}

}  // namespace

std::vector<QueueJob> QueueJobs(const std::string& queue, int after, bool read_documents) {
  http_t* http = httpConnect2(cupsServer(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (http == nullptr) throw std::runtime_error("the private CUPS server does not answer");
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  const std::string uri = "ipp://localhost/printers/" + queue;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  static const char* const kWanted[] = {"job-id", "job-state", "job-state-reasons",
                                        "job-printer-state-message", "number-of-documents"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(std::size(kWanted)), nullptr, kWanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  httpClose(http);
  if (response == nullptr) throw std::runtime_error(std::string("Get-Jobs failed: ") + cupsLastErrorString());
  std::vector<QueueJob> jobs;
  QueueJob job;
  const auto close_job = [&] {
    if (job.id > after) jobs.push_back(job);
    job = QueueJob{};
  };
  for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr; a = ippNextAttribute(response)) {
    if (ippGetName(a) == nullptr) {
      close_job();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    const std::string name = ippGetName(a);
    char value[2048];
    ippAttributeString(a, value, sizeof value);
    if (name == "job-id") job.id = ippGetInteger(a, 0);
    if (name == "job-state") job.state = ippGetInteger(a, 0);
    if (name == "number-of-documents") job.documents = ippGetInteger(a, 0);
    if (name == "job-state-reasons") job.reasons = value;
    if (name == "job-printer-state-message") job.message = value;
  }
  close_job();
  ippDelete(response);
  std::sort(jobs.begin(), jobs.end(), [](const QueueJob& a, const QueueJob& b) { return a.id < b.id; });
  for (QueueJob& each : jobs) {
    if (read_documents && each.documents > 0) each.words = DocumentWords(each.id);
  }
  return jobs;
}

int LastJobId(const std::string& queue) {
  const std::vector<int> ids = CupsServer::JobIds(queue);
  return ids.empty() ? 0 : ids.back();
}

size_t CompletedWith(const std::vector<QueueJob>& jobs, std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  return static_cast<size_t>(std::count_if(jobs.begin(), jobs.end(), [&](const QueueJob& job) {
    return job.state == IPP_JSTATE_COMPLETED && job.words == words;
  }));
}

size_t SentWith(const std::vector<QueueJob>& jobs, std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  return static_cast<size_t>(
      std::count_if(jobs.begin(), jobs.end(), [&](const QueueJob& job) { return job.words == words; }));
}

std::vector<int> WaitingWithoutDocument(const std::vector<QueueJob>& jobs) {
  std::vector<int> ids;
  for (const QueueJob& job : jobs) {
    if (job.state < IPP_JSTATE_CANCELED && job.documents == 0) ids.push_back(job.id);
  }
  return ids;
}

bool AllEnded(const std::vector<QueueJob>& jobs) {
  return std::all_of(jobs.begin(), jobs.end(),
                     [](const QueueJob& job) { return job.state >= IPP_JSTATE_CANCELED; });
}

}  // namespace parvel::doubles
