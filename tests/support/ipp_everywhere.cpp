#include "tests/support/ipp_everywhere.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace parvel::doubles {
namespace fs = std::filesystem;
namespace {

using namespace std::chrono_literals;

constexpr char kMakeAndModel[] = "Parvel CR80 Card Printer";

void Write(const fs::path& file, const std::string& text) {
  std::ofstream out(file);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Starts `argv` as the leader of a process group of its own, its standard input /dev/null, its
// standard output and error appended to `log`, no other descriptor of this process open in it
// (a daemon that kept the test's output pipes would hold up whoever reads them), `environment`
// added to this process's. It gets SIGTERM when this process ends.
pid_t Spawn(const std::vector<std::string>& argv, const fs::path& log,
            const std::map<std::string, std::string>& environment = {}) {
  // Everything the child needs is made before fork: after it, only async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    if (!environment.contains(variable.substr(0, variable.find('=')))) variables.push_back(variable);
  }
  for (const auto& [name, value] : environment) {
    std::string variable = name;
    variable.append("=").append(value);
    variables.push_back(std::move(variable));
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const std::string log_name = log.string();
  const long max_fd = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot start " + argv.front());
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    const int log_fd = ::open(log_name.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (null_fd < 0 || log_fd < 0) ::_exit(126);
    ::dup2(null_fd, 0);
    ::dup2(log_fd, 1);
    ::dup2(log_fd, 2);
    for (int fd = 3; fd < max_fd; ++fd) ::close(fd);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also from here, so that the group exists before anyone signals it
  return pid;
}

// Whether the process `pid` has ended (and is reaped).
bool Ended(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

// Ends the process group led by `pid`: SIGTERM, then SIGKILL after five seconds; reaps the leader
// and leaves no member of the group behind.
void StopGroup(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(-pid, SIGTERM);
  const auto until = std::chrono::steady_clock::now() + 5s;
  bool ended = false;
  while (!(ended = Ended(pid)) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
  ::kill(-pid, SIGKILL);  // the leader's children, if any outlived it, and the leader if it hangs
  if (!ended) {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  pid = -1;
}

// A D-Bus system bus that anyone may use for anything, on a socket of its own.
std::string BusConfig(const fs::path& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>system</type>\n"
         "  <listen>unix:path=" +
         socket.string() +
         "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow user=\"*\"/>\n"
         "    <allow own=\"*\"/>\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow receive_sender=\"*\"/>\n"
         "    <allow send_type=\"method_call\"/>\n"
         "    <allow send_type=\"signal\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

// The card's media-size: portrait, as IPP gives sizes.
std::string CardSize() {
  return "{ MEMBER integer x-dimension " + std::to_string(IppEverywherePrinter::kCardWidth) +
         " MEMBER integer y-dimension " + std::to_string(IppEverywherePrinter::kCardLength) + " }";
}

// One media-col value of the card, borderless; `extra` adds members.
std::string CardMediaCol(const std::string& extra = "") {
  return "{ MEMBER collection media-size " + CardSize() + " MEMBER keyword media-size-name " +
         IppEverywherePrinter::kCardMedia +
         " MEMBER integer media-bottom-margin 0 MEMBER integer media-left-margin 0"
         " MEMBER integer media-right-margin 0 MEMBER integer media-top-margin 0" +
         extra + " }";
}

// The printer's attributes in ipptool's attribute-file syntax (man ipptoolfile), as ippeveprinter
// -a reads them: everything an IPP Everywhere client asks about, since with -a ippeveprinter adds
// only what every printer has (operations, URIs, states, ...). It also adds, from its built-in
// list of formats, a second document-format-supported (application/octet-stream,
// image/pwg-raster, image/urf) and document-format-default after this file's, as "-f" may not be
// given with "-a". Clients (libcups, cupsd, and ippeveprinter's own checks) read the first of
// them: the printer takes PDF, and a CUPS queue made for it passes PDF through rather than
// rendering PWG raster. Enums are written as numbers: ippeveprinter reads "finishings none" as 0.
std::string Attributes() {
  const std::string card = IppEverywherePrinter::kCardMedia;
  const std::string loaded =
      CardMediaCol(" MEMBER keyword media-source main MEMBER keyword media-type cardstock");
  const std::vector<std::string> attributes = {
      "text printer-make-and-model \"" + std::string(kMakeAndModel) + "\"",
      "text printer-device-id \"MFG:Parvel;MDL:CR80 Card Printer;CMD:PDF;\"",
      "mimeMediaType document-format-supported application/pdf",
      "mimeMediaType document-format-default application/pdf",
      "keyword media-supported " + card,
      "keyword media-default " + card,
      "keyword media-ready " + card,
      "collection media-col-database " + CardMediaCol(),
      "collection media-col-default " + loaded,
      "collection media-col-ready " + loaded,
      "collection media-size-supported " + CardSize(),
      "integer media-bottom-margin-supported 0",
      "integer media-left-margin-supported 0",
      "integer media-right-margin-supported 0",
      "integer media-top-margin-supported 0",
      "keyword media-source-supported main",
      "keyword media-type-supported cardstock",
      "boolean color-supported false",
      "integer copies-default 1",
      "rangeOfInteger copies-supported 1-1",
      "enum finishings-default 3",                     // none
      "enum finishings-supported 3",                   // none
      "enum orientation-requested-default 3",          // portrait
      "enum orientation-requested-supported 3,4,5,6",  // portrait, landscape, reverse-landscape, -portrait
      "keyword output-bin-default face-up",
      "keyword output-bin-supported face-up",
      "boolean page-ranges-supported false",
      "integer pages-per-minute 10",
      "keyword print-color-mode-default monochrome",
      "keyword print-color-mode-supported monochrome",
      "keyword print-content-optimize-default auto",
      "keyword print-content-optimize-supported auto",
      "enum print-quality-default 4",    // normal
      "enum print-quality-supported 4",  // normal
      "keyword print-rendering-intent-default auto",
      "keyword print-rendering-intent-supported auto",
      "keyword print-scaling-default auto",
      "keyword print-scaling-supported auto,fit,fill,none",
      "resolution printer-resolution-default 300dpi",
      "resolution printer-resolution-supported 300dpi",
      "keyword sides-default one-sided",
      "keyword sides-supported one-sided",
  };
  std::string text = "# A driverless CR80 card printer: one ISO/IEC 7810 ID-1 card, borderless, PDF only.\n";
  for (const std::string& attribute : attributes) text += "ATTR " + attribute + "\n";
  return text;
}

// The print command: notes the job's attributes as ippeveprinter hands them over (IPP_*
// variables) in jobs/JOBID.env, written under another name and renamed, so a file there is
// complete. It writes nothing on standard output, which ippeveprinter keeps as JOBID-NAME.prn.
std::string PrintCommand(const fs::path& jobs) {
  const std::string folder = jobs.string();
  return "#!/bin/sh\n"
         "env | grep -E '^(IPP_[A-Z0-9_]*|CONTENT_TYPE)=' > '" +
         folder + "/.'\"$IPP_JOB_ID\" && mv '" + folder + "/.'\"$IPP_JOB_ID\" '" + folder +
         "/'\"$IPP_JOB_ID\".env\n";
}

// An IPP name from an environment variable's: IPP_MEDIA_COL -> media-col.
std::string AttributeName(std::string variable) {
  variable.erase(0, 4);
  for (char& c : variable) {
    c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return variable;
}

// The media-supported values of the queue `uri` on `server`, as one text; empty when it does not
// answer.
std::string QueueMedia(const CupsServer& server, const std::string& uri) {
  std::string media;
  http_t* http =
      httpConnect2(server.Socket().c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (http == nullptr) return media;
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "media-supported");
  ipp_t* response = cupsDoRequest(http, request, "/");
  if (ipp_attribute_t* a = ippFindAttribute(response, "media-supported", IPP_TAG_ZERO)) {
    char value[4096];
    ippAttributeString(a, value, sizeof value);
    media = value;
  }
  ippDelete(response);
  httpClose(http);
  return media;
}

}  // namespace

IppEverywherePrinter::IppEverywherePrinter() {
  char pattern[] = "/tmp/parvel-ippeve-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a folder for ippeveprinter");
  root_ = pattern;
  try {
    for (const char* sub : {"spool", "jobs", "ssl"}) fs::create_directory(root_ / sub);
    WriteFiles();
    StartBus();
    // "localhost" makes it listen on 127.0.0.1 and ::1 only; where ::1 cannot be had it ends at
    // start, and then listens on every address under the machine's name.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
      started = StartPrinter("localhost") || StartPrinter("");
    }
    if (!started) throw std::runtime_error("ippeveprinter does not start: " + Log());
  } catch (...) {
    StopGroup(printer_pid_);
    StopGroup(bus_pid_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    throw;
  }
}

IppEverywherePrinter::~IppEverywherePrinter() {
  StopGroup(printer_pid_);
  StopGroup(bus_pid_);
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void IppEverywherePrinter::WriteFiles() const {
  Write(root_ / "bus.conf", BusConfig(root_ / "system_bus_socket"));
  Write(root_ / "card.conf", Attributes());
  Write(root_ / "print-command", PrintCommand(root_ / "jobs"));
  fs::permissions(root_ / "print-command", fs::perms::owner_all | fs::perms::group_read |
                                               fs::perms::group_exec | fs::perms::others_read |
                                               fs::perms::others_exec);
}

void IppEverywherePrinter::StartBus() {
  const fs::path socket = root_ / "system_bus_socket";
  bus_address_ = "unix:path=" + socket.string();
  bus_pid_ = Spawn(
      {"/usr/bin/dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + (root_ / "bus.conf").string()},
      root_ / "dbus.log");
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (!SocketAnswers(socket.string())) {
    if (Ended(bus_pid_)) {
      bus_pid_ = -1;
      throw std::runtime_error("dbus-daemon ended at start: " + Read(root_ / "dbus.log"));
    }
    if (std::chrono::steady_clock::now() > until) {
      throw std::runtime_error("dbus-daemon does not answer on " + socket.string());
    }
    std::this_thread::sleep_for(10ms);
  }
}

bool IppEverywherePrinter::StartPrinter(const std::string& hostname) {
  port_ = FreePort();
  uri_ = "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print";
  std::vector<std::string> argv{"/usr/sbin/ippeveprinter",
                                "-r",
                                "off",  // no DNS-SD advertisement: there is no avahi-daemon on the bus
                                "-p",
                                std::to_string(port_),
                                "-a",
                                (root_ / "card.conf").string(),
                                "-c",
                                (root_ / "print-command").string(),
                                "-d",
                                (root_ / "spool").string(),
                                "-k",  // keep the documents
                                "-K",
                                (root_ / "ssl").string()};
  if (!hostname.empty()) {
    argv.emplace_back("-n");
    argv.push_back(hostname);
  }
  argv.emplace_back("Parvel CR80");
  printer_pid_ = Spawn(
      argv, root_ / "ippeveprinter.log",
      {{"DBUS_SYSTEM_BUS_ADDRESS", bus_address_}, {"HOME", root_.string()}, {"TMPDIR", root_.string()}});
  const auto until = std::chrono::steady_clock::now() + 15s;
  while (!PrinterAnswers()) {
    if (Ended(printer_pid_)) {
      printer_pid_ = -1;
      return false;
    }
    if (std::chrono::steady_clock::now() > until) {
      StopGroup(printer_pid_);
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

bool IppEverywherePrinter::PrinterAnswers() const {
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 1000, nullptr);
  if (http == nullptr) return false;
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-state");
  ipp_t* response = cupsDoRequest(http, request, "/ipp/print");
  const bool ok = response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
  ippDelete(response);
  httpClose(http);
  return ok;
}

std::string IppEverywherePrinter::Log() const { return Read(root_ / "ippeveprinter.log"); }

int IppEverywherePrinter::JobIdOf(const fs::path& document) {
  const std::string name = document.filename().string();
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string::npos) return 0;
  if (!std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(dash),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
    return 0;
  }
  return std::stoi(name.substr(0, dash));
}

std::vector<fs::path> IppEverywherePrinter::Documents() const {
  std::vector<fs::path> documents;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_ / "spool", ec)) {
    // JOBID-NAME.prn is what the print command wrote, not a document.
    if (entry.is_regular_file() && entry.path().extension() != ".prn" && JobIdOf(entry.path()) > 0) {
      documents.push_back(entry.path());
    }
  }
  std::sort(documents.begin(), documents.end(),
            [](const fs::path& a, const fs::path& b) { return JobIdOf(a) < JobIdOf(b); });
  return documents;
}

bool IppEverywherePrinter::WaitForDocuments(size_t count, std::chrono::milliseconds timeout) const {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const std::vector<fs::path> documents = Documents();
    const size_t processed =
        static_cast<size_t>(std::count_if(documents.begin(), documents.end(), [&](const fs::path& document) {
          return fs::exists(root_ / "jobs" / (std::to_string(JobIdOf(document)) + ".env"));
        }));
    if (processed >= count) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(25ms);
  }
}

std::map<std::string, std::string> IppEverywherePrinter::JobAttributes(int job_id) const {
  std::map<std::string, std::string> attributes;
  std::ifstream in(root_ / "jobs" / (std::to_string(job_id) + ".env"));
  for (std::string line; std::getline(in, line);) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos || !line.starts_with("IPP_")) continue;
    attributes.emplace(AttributeName(line.substr(0, equals)), line.substr(equals + 1));
  }
  return attributes;
}

std::vector<JobRecord> IppEverywherePrinter::Jobs() const {
  std::vector<std::pair<int, JobRecord>> jobs;
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (http == nullptr) return {};
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
  ipp_t* response = cupsDoRequest(http, request, "/ipp/print");
  if (response != nullptr) {
    bool in_job = false;
    for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr; a = ippNextAttribute(response)) {
      if (ippGetGroupTag(a) != IPP_TAG_JOB || ippGetName(a) == nullptr) {
        in_job = false;  // a separator between two jobs, or another group
        continue;
      }
      if (!in_job) jobs.emplace_back(0, JobRecord{});
      in_job = true;
      JobRecord& job = jobs.back().second;
      char value[4096];
      ippAttributeString(a, value, sizeof value);
      job.attributes[ippGetName(a)] = value;
      if (std::strcmp(ippGetName(a), "job-id") == 0) jobs.back().first = ippGetInteger(a, 0);
      if (std::strcmp(ippGetName(a), "job-state") == 0) job.state = ippGetInteger(a, 0);
    }
    ippDelete(response);
  }
  httpClose(http);
  std::sort(jobs.begin(), jobs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<JobRecord> records;
  for (auto& job : jobs) records.push_back(std::move(job.second));
  return records;
}

std::string IppEverywherePrinter::AddEverywhereQueue(const CupsServer& server,
                                                     const std::string& name) const {
  std::string log;
  if (CupsServer::Run({"lpadmin", "-p", name, "-E", "-v", uri_, "-m", "everywhere"}, &log) != 0) {
    throw std::runtime_error("lpadmin -m everywhere failed for " + name + ": " + log);
  }
  // cupsd answers lpadmin at once and asks the printer for its attributes in the background,
  // then writes the PPD file and loads it: the queue is ready once it offers the card.
  const fs::path ppd = server.Folder() / "conf" / "ppd" / (name + ".ppd");
  const std::string queue_uri = "ipp://localhost/printers/" + name;
  // CUPS knows no PWG name for the card and calls it by its size: PageSize "53.98x85.6mm.Borderless",
  // media "custom_53.98x85.6mm_53.98x85.6mm".
  const std::string card = "53.98x85.6mm";
  std::string media;
  std::string text;
  const auto offered = [&] {
    media = QueueMedia(server, queue_uri);
    text = Read(ppd);
    return media.find(card) != std::string::npos && text.find("*PageSize " + card) != std::string::npos;
  };
  const auto until = std::chrono::steady_clock::now() + 30s;
  bool ready = offered();
  while (!ready && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(50ms);
    ready = offered();
  }
  if (!ready) {
    throw std::runtime_error("the queue " + name + " does not offer the card " + card + " of " + uri_ +
                             " (media-supported: " + media + "); cupsd says: " +
                             Read(server.Folder() / "log" / "error_log") + "; the printer says: " + Log());
  }
  return text;
}

}  // namespace parvel::doubles
