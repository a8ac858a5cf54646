#include "tests/support/cups_server.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef PARVEL_FIXTURES_DIR
#error "PARVEL_FIXTURES_DIR must name tests/fixtures"
#endif

namespace parvel::doubles {
namespace fs = std::filesystem;
namespace {

std::unique_ptr<CupsServer> g_server;

void Write(const fs::path& file, const std::string& text) {
  std::ofstream out(file);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

// Gives no password and notes that one was asked for.
const char* NoPassword(const char* /*prompt*/, http_t* /*http*/, const char* /*method*/,
                       const char* /*resource*/, void* asked) {
  *static_cast<bool*>(asked) = true;
  return nullptr;
}

// The server's configuration: its socket, a TCP port when not 0, and a password for everything
// when `passwords`.
std::string CupsdConf(const std::string& socket, int port, bool passwords) {
  const std::string auth = passwords ? "AuthType Basic\n    Require user @SYSTEM\n    " : "";
  std::string conf = "Listen " + socket + "\n";
  if (port != 0) conf += "Listen 127.0.0.1:" + std::to_string(port) + "\n";
  conf +=
      "LogLevel warn\nAccessLogLevel all\nWebInterface No\nBrowsing No\nBrowseLocalProtocols none\n"
      "DefaultAuthType " +
      std::string(passwords ? "Basic" : "None") +
      "\nMaxJobTime 60\nIdleExitTimeout 0\n"
      "<Location />\n  " +
      auth +
      "Order allow,deny\n  Allow all\n</Location>\n"
      "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
      "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
      "  <Limit All>\n    " +
      auth + "Order deny,allow\n  </Limit>\n</Policy>\n";
  return conf;
}

}  // namespace

int CupsServer::Run(const std::vector<std::string>& argv, std::string* out) {
  int pipe_fd[2];
  if (::pipe(pipe_fd) != 0) return -1;
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::dup2(pipe_fd[1], 1);
    ::dup2(pipe_fd[1], 2);
    ::close(pipe_fd[0]);
    ::close(pipe_fd[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipe_fd[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(pipe_fd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(pipe_fd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CupsServer::CupsServer() {
  char pattern[] = "/tmp/parvel-cups-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a folder for cupsd");
  root_ = pattern;
  // Filters and the backend run as "lp": the folders must be open to it.
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  for (const char* sub : {"conf", "conf/ppd", "spool", "spool/tmp", "cache", "state", "log"}) {
    fs::create_directories(root_ / sub);
  }
  fs::create_directories(root_ / "out");
  fs::permissions(root_ / "out", fs::perms::all);
  fs::permissions(root_ / "spool/tmp", fs::perms::all | fs::perms::sticky_bit);
  socket_ = (root_ / "cups.sock").string();
  Write(root_ / "conf/cupsd.conf", CupsdConf(socket_, 0, false));
  Write(root_ / "conf/cups-files.conf",
        "ServerRoot " + (root_ / "conf").string() + "\nRequestRoot " + (root_ / "spool").string() +
            "\nTempDir " + (root_ / "spool/tmp").string() + "\nCacheDir " + (root_ / "cache").string() +
            "\nStateDir " + (root_ / "state").string() + "\nErrorLog " + (root_ / "log/error_log").string() +
            "\nAccessLog " + (root_ / "log/access_log").string() + "\nPageLog " +
            (root_ / "log/page_log").string() + "\nFileDevice Yes\nSandboxing Relaxed\n");
  Start();
}

void CupsServer::Start() {
  if (pid_ > 0) return;
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("cannot start cupsd");
  if (pid_ == 0) {
    // The server goes with the test program, even when that one dies.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    std::string conf = (root_ / "conf/cupsd.conf").string();
    std::string files = (root_ / "conf/cups-files.conf").string();
    ::execlp("cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!SocketAnswers(socket_)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("cupsd ended at start; see " + (root_ / "log/error_log").string());
    }
    if (std::chrono::steady_clock::now() > until) {
      Stop();
      throw std::runtime_error("cupsd does not answer on " + socket_);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // libcups keeps the server it found first; both the environment (for the command-line tools)
  // and the library are pointed here.
  ::setenv("CUPS_SERVER", socket_.c_str(), 1);
  cupsSetServer(socket_.c_str());
}

CupsServer::~CupsServer() {
  Stop();
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void CupsServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

size_t CupsServer::RequestsFor(const std::string& what) const {
  std::ifstream in(root_ / "log/access_log");
  size_t count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(what) != std::string::npos) ++count;
  }
  return count;
}

fs::path CupsServer::OutputOf(const std::string& name) const { return root_ / "out" / (name + ".pdf"); }

fs::path CupsServer::AddQueue(const std::string& name, const std::string& ppd) {
  fs::path output = OutputOf(name);
  std::string log;
  std::vector<std::string> argv{"lpadmin", "-p", name, "-E", "-v", "file:" + output.string()};
  if (!ppd.empty()) {
    argv.push_back("-P");
    argv.push_back(std::string(PARVEL_FIXTURES_DIR) + "/" + ppd);
  }
  int rc = Run(argv, &log);
  if (rc != 0) throw std::runtime_error("lpadmin failed for " + name + ": " + log);
  return output;
}

void CupsServer::AddClass(const std::string& name, const std::vector<std::string>& members) {
  std::string log;
  for (const std::string& member : members) {
    if (Run({"lpadmin", "-p", member, "-c", name}, &log) != 0) {
      throw std::runtime_error("lpadmin -c failed for " + name + ": " += log);
    }
  }
  if (Run({"cupsenable", name}, &log) != 0 || Run({"cupsaccept", name}, &log) != 0) {
    throw std::runtime_error("the class " + name + " cannot be enabled: " += log);
  }
}

void CupsServer::SetDefault(const std::string& name) {
  std::string log;
  if (Run({"lpadmin", "-d", name}, &log) != 0) throw std::runtime_error("lpadmin -d failed: " + log);
}

void CupsServer::RejectJobs(const std::string& name, bool reject) {
  std::string log;
  if (Run({reject ? "cupsreject" : "cupsaccept", "-r", "parvel test queue closed", name}, &log) != 0) {
    if (Run({reject ? "cupsreject" : "cupsaccept", name}, &log) != 0) {
      throw std::runtime_error("cupsreject failed: " + log);
    }
  }
}

void CupsServer::DeleteQueue(const std::string& name) {
  std::string log;
  if (Run({"lpadmin", "-x", name}, &log) != 0) throw std::runtime_error("lpadmin -x failed: " + log);
}

std::vector<int> CupsServer::JobIds(const std::string& queue) {
  std::string out;
  Run({"lpstat", "-W", "all", "-o", queue}, &out);
  std::vector<int> ids;
  std::istringstream lines(out);
  std::string line;
  const std::string prefix = queue + "-";
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) == 0) ids.push_back(std::stoi(line.substr(prefix.size())));
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

JobRecord CupsServer::WaitForJob(int job_id, double seconds) const {
  JobRecord record;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (true) {
    http_t* http =
        httpConnect2(socket_.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (http != nullptr) {
      ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
      std::string uri = "ipp://localhost/jobs/" + std::to_string(job_id);
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
      ipp_t* response = cupsDoRequest(http, request, "/");
      record.attributes.clear();
      if (response != nullptr) {
        for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
          if (ippGetName(a) == nullptr) continue;
          char value[2048];
          ippAttributeString(a, value, sizeof value);
          record.attributes[ippGetName(a)] = value;
        }
        if (ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) {
          record.state = ippGetInteger(state, 0);
        }
        ippDelete(response);
      }
      httpClose(http);
    }
    if (record.state >= IPP_JSTATE_CANCELED || std::chrono::steady_clock::now() > until) return record;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

fs::path CupsServer::AddModelQueue(const std::string& name, const std::string& model) {
  fs::path output = OutputOf(name);
  std::string log;
  if (Run({"lpadmin", "-p", name, "-E", "-v", "file:" + output.string(), "-m", model}, &log) != 0) {
    throw std::runtime_error("lpadmin -m " + model + " failed for " + name + ": " + log);
  }
  return output;
}

void CupsServer::Pause(const std::string& name, bool pause) {
  std::string log;
  if (Run({pause ? "cupsdisable" : "cupsenable", name}, &log) != 0) {
    throw std::runtime_error("cupsdisable failed: " + log);
  }
}

fs::path CupsServer::AddProgram(const std::string& kind, const std::string& name, const std::string& script) {
  if (kind != "backend" && kind != "filter") throw std::invalid_argument("no program kind " + kind);
  if (server_bin_.empty()) {
    // cupsd runs only programs that root owns and nobody else may change, in folders alike.
    const fs::path bin = root_ / "bin";
    const fs::path system = "/usr/lib/cups";
    fs::create_directory(bin);
    for (const fs::directory_entry& entry : fs::directory_iterator(system)) {
      const std::string sub = entry.path().filename().string();
      if (sub != "backend" && sub != "filter") {
        fs::create_directory_symlink(entry.path(), bin / sub);
        continue;
      }
      fs::create_directory(bin / sub);
      for (const fs::directory_entry& program : fs::directory_iterator(entry.path())) {
        fs::create_symlink(program.path(), bin / sub / program.path().filename());
      }
    }
    std::ofstream files(root_ / "conf/cups-files.conf", std::ios::app);
    files << "ServerBin " << bin.string() << "\n";
    if (!files) throw std::runtime_error("cannot name the server's program folder");
    files.close();
    server_bin_ = bin;
    Stop();
    Start();
  }
  fs::path file = server_bin_ / kind / name;
  std::error_code ignored;
  fs::remove(file, ignored);
  Write(file, script);
  fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  return file;
}

int CupsServer::ListenOnTcp() {
  const int port = FreePort();
  Write(root_ / "conf/cupsd.conf", CupsdConf(socket_, port, false));
  Stop();
  Start();
  return port;
}

int CupsServer::AskForPasswords() {
  const int port = FreePort();
  Write(root_ / "conf/cupsd.conf", CupsdConf(socket_, port, true));
  Stop();
  Start();
  // Every listener is open once the socket answers.
  http_t* http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (http == nullptr) throw std::runtime_error("cupsd does not answer on 127.0.0.1:" + std::to_string(port));
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  bool asked = false;
  cupsSetPasswordCB2(NoPassword, &asked);
  ipp_t* answer = cupsDoRequest(http, request, "/");
  const ipp_status_t status = cupsLastError();
  cupsSetPasswordCB2(nullptr, nullptr);  // the library's own again
  const bool refused = answer == nullptr;
  ippDelete(answer);
  httpClose(http);
  if (!asked || !refused) {
    throw std::runtime_error("cupsd on 127.0.0.1:" + std::to_string(port) +
                             " does not ask for a password: " + ippErrorString(status));
  }
  return port;
}

void CupsServer::CancelJobs(const std::string& name) {
  std::string log;
  Run({"cancel", "-a", name}, &log);
}

namespace {
// pdftotext writes numbers with a point whatever the locale.
double Number(const std::string& text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}
}  // namespace

std::vector<PdfPage> ReadPdf(const fs::path& pdf) {
  std::string html;
  if (CupsServer::Run({"pdftotext", "-bbox", pdf.string(), "-"}, &html) != 0) {
    throw std::runtime_error("pdftotext cannot read " + pdf.string() + ": " + html);
  }
  std::vector<PdfPage> pages;
  static const std::regex page_re(R"re(<page width="([0-9.]+)" height="([0-9.]+)">)re");
  static const std::regex word_re(
      R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">([^<]*)</word>)re");
  std::istringstream lines(html);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, m, page_re)) {
      pages.push_back(PdfPage{Number(m[1]), Number(m[2]), {}});
    } else if (!pages.empty() && std::regex_search(line, m, word_re)) {
      pages.back().words.push_back(PdfWord{Number(m[1]), Number(m[2]), Number(m[3]), Number(m[4]), m[5]});
    }
  }
  return pages;
}

Ink InkOf(const fs::path& pdf) {
  const fs::path prefix = pdf.parent_path() / (pdf.stem().string() + "-ink");
  std::string log;
  if (CupsServer::Run({"pdftoppm", "-r", "72", "-gray", "-singlefile", "-f", "1", "-l", "1", pdf.string(),
                       prefix.string()},
                      &log) != 0) {
    throw std::runtime_error("pdftoppm cannot render " + pdf.string() + ": " + log);
  }
  std::ifstream in(prefix.string() + ".pgm", std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  in.get();
  if (magic != "P5" || width <= 0 || height <= 0 || maxval != 255) {
    throw std::runtime_error("unexpected rendering of " + pdf.string());
  }
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  Ink ink;
  ink.page_width = width;  // 72 dpi: one pixel a point
  ink.page_height = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] >= 128)
        continue;
      if (!ink.any) {
        ink.left = ink.right = x;
        ink.top = ink.bottom = y;
        ink.any = true;
      }
      ink.left = std::min<double>(ink.left, x);
      ink.right = std::max<double>(ink.right, x + 1);
      ink.top = std::min<double>(ink.top, y);
      ink.bottom = std::max<double>(ink.bottom, y + 1);
    }
  }
  return ink;
}

void CupsEnvironment::SetUp() { g_server = std::make_unique<CupsServer>(); }
void CupsEnvironment::TearDown() { g_server.reset(); }
CupsServer& CupsEnvironment::Server() {
  if (!g_server) throw std::runtime_error("the private CUPS server is not running");
  return *g_server;
}

bool SocketAnswers(const std::string& socket_path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socket_path.c_str(), sizeof addr.sun_path - 1);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("cannot open a socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0;
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot find a free TCP port");
  return ntohs(addr.sin_port);
}

}  // namespace parvel::doubles
