#include "tests/e2e/agent_run.h"

#include <fcntl.h>
#include <grp.h>
#include <langinfo.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef PARVEL_AGENT_PROGRAM
#error "PARVEL_AGENT_PROGRAM must name the built agent program"
#endif

extern char** environ;

namespace parvel::e2e {

namespace {

constexpr std::array<double, 8> kLayoutTops = {1.852, 7.144, 12.965, 18.256, 23.813, 28.575, 33.867, 38.894};
constexpr double kLayoutLeft = 8.731;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(25ms);
  }
  return true;
}

char AgentDecimalSeparator() {
  const locale_t locale = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, locale);
  const char separator = radix != nullptr && *radix != '\0' ? *radix : '.';
  freelocale(locale);
  return separator;
}

std::string Decimal(double mm) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", mm);  // the test itself runs in the C locale
  std::string result = text;
  std::replace(result.begin(), result.end(), '.', AgentDecimalSeparator());
  return result;
}

IniText::IniText(const fs::path& spool, const std::string& printer) {
  entries_ = {{"PATH", spool.string()}, {"TIME", "100"}, {"IMPRESSORA", printer}};
  for (size_t n = 1; n <= 8; ++n)
    entries_.emplace_back("TOP" + std::to_string(n), Decimal(kLayoutTops[n - 1]));
  for (size_t n = 1; n <= 8; ++n) entries_.emplace_back("LEFT" + std::to_string(n), Decimal(kLayoutLeft));
}

IniText& IniText::Set(const std::string& key, const std::string& value) {
  for (auto& [name, text] : entries_) {
    if (name == key) {
      text = value;
      return *this;
    }
  }
  entries_.emplace_back(key, value);
  return *this;
}

IniText& IniText::Remove(const std::string& key) {
  std::erase_if(entries_, [&](const auto& entry) { return entry.first == key; });
  return *this;
}

IniText& IniText::WithoutSection() {
  section_ = false;
  return *this;
}

std::string IniText::Text() const {
  std::string text = section_ ? "[TELA]\n" : "; no section\n";
  for (const auto& [key, value] : entries_) text.append(key).append("=").append(value).append("\n");
  return text;
}

std::string CardText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::vector<std::string> CardLines(const std::string& prefix) {
  std::vector<std::string> lines;
  for (int n = 1; n <= 8; ++n) lines.push_back(prefix + std::to_string(n));
  return lines;
}

void DropCard(const fs::path& file, const std::string& content) {
  const fs::path hidden = file.parent_path() / ("." + file.filename().string() + ".tmp");
  WriteAll(hidden, content);
  const timespec back[2] = {{time(nullptr) - 2, 0}, {time(nullptr) - 2, 0}};
  if (utimensat(AT_FDCWD, hidden.c_str(), back, 0) != 0)
    throw std::runtime_error("cannot date " + hidden.string());
  fs::rename(hidden, file);
}

AgentRun::AgentRun() {
  char pattern[] = "/tmp/parvel-e2e-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a scratch folder");
  folder_ = pattern;
  fs::copy_file(PARVEL_AGENT_PROGRAM, Program());
  fs::create_directory(Spool());
  const fs::path runtime = folder_ / "run";
  fs::create_directory(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  environment["QT_QPA_PLATFORM"] = "offscreen";
  environment["XDG_RUNTIME_DIR"] = runtime.string();
}

AgentRun::~AgentRun() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  CloseTerminal();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void AgentRun::WriteIni(const std::string& text) const { WriteAll(folder_ / "parvel.INI", text); }

void AgentRun::Start(const std::vector<std::string>& args) {
  if (pid_ > 0) throw std::logic_error("the agent runs already");
  // Everything the child needs is made before fork: after it, only exec-safe calls.
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : environment) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> env_texts;
  for (const auto& [name, value] : variables)
    env_texts.push_back(std::string(name).append("=").append(value));
  std::vector<char*> envp;
  for (std::string& text : env_texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  const std::string program = Program().string();
  std::vector<std::string> arg_texts = {program};
  arg_texts.insert(arg_texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& text : arg_texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const int out = open((folder_ / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = open((folder_ / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || err < 0 || in < 0) throw std::runtime_error("cannot open the agent's output files");
  int terminal = -1;
  if (terminal_) {
    if (openpty(&terminal_master_, &terminal, nullptr, nullptr, nullptr) != 0)
      throw std::runtime_error("cannot open a pseudo-terminal");
    fcntl(terminal_master_, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
  }
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // The agent goes with the test program, even when that one dies.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    if (terminal >= 0) {
      // A session of its own whose controlling terminal is the pseudo-terminal.
      if (setsid() < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0) _exit(127);
      dup2(terminal, STDIN_FILENO);
      dup2(terminal, STDOUT_FILENO);
      dup2(terminal, STDERR_FILENO);
    } else {
      dup2(in, STDIN_FILENO);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
    }
    if (run_as_ &&
        (setgroups(0, nullptr) != 0 || setresgid(run_as_->second, run_as_->second, run_as_->second) != 0 ||
         setresuid(run_as_->first, run_as_->first, run_as_->first) != 0)) {
      _exit(126);
    }
    // A change of user clears the parent-death signal.
    if (run_as_ && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in);
  close(out);
  if (terminal >= 0) {
    close(terminal);
    terminal_done_ = false;
    terminal_reader_ = std::thread(&AgentRun::ReadTerminal, this, err);
  } else {
    close(err);
  }
  status_.reset();
}

void AgentRun::ReadTerminal(int into) {
  std::array<char, 4096> buffer{};
  while (true) {
    pollfd ready{terminal_master_, POLLIN, 0};
    const int events = poll(&ready, 1, 50);
    if (events < 0 && errno != EINTR) break;
    if (events > 0) {
      const ssize_t size = read(terminal_master_, buffer.data(), buffer.size());
      if (size < 0 && errno == EINTR) continue;
      if (size <= 0) break;  // every writer has closed the terminal
      std::string text(buffer.data(), static_cast<size_t>(size));
      std::erase(text, '\r');
      for (size_t at = 0; at < text.size();) {
        const ssize_t written = write(into, text.data() + at, text.size() - at);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        at += static_cast<size_t>(written);
      }
      continue;
    }
    if (terminal_done_) break;  // the program has ended and nothing more came
  }
  close(into);
}

void AgentRun::CloseTerminal() {
  if (terminal_reader_.joinable()) {
    terminal_done_ = true;
    terminal_reader_.join();
  }
  if (terminal_master_ >= 0) {
    close(terminal_master_);
    terminal_master_ = -1;
  }
}

bool AgentRun::Running() {
  if (pid_ <= 0 || status_) return false;
  return !Wait(0ms).has_value();
}

std::optional<int> AgentRun::Wait(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      CloseTerminal();
      return status_;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
}

std::optional<int> AgentRun::Stop() {
  if (status_) return status_;
  if (pid_ <= 0) return std::nullopt;
  kill(pid_, SIGTERM);
  if (std::optional<int> status = Wait()) return status;
  kill(pid_, SIGKILL);
  Wait();
  return std::nullopt;
}

bool AgentRun::RunAs(const std::string& user) {
  const passwd* entry = getpwnam(user.c_str());
  if (entry == nullptr) return false;
  run_as_.emplace(entry->pw_uid, entry->pw_gid);
  for (const fs::path& own : {folder_, folder_ / "run"}) {
    if (chown(own.c_str(), entry->pw_uid, entry->pw_gid) != 0)
      throw std::runtime_error("cannot hand " + own.string() + " to " + user);
  }
  environment["HOME"] = folder_.string();
  environment["USER"] = user;
  environment["LOGNAME"] = user;
  return true;
}

std::optional<int> AgentRun::Kill(int signal) {
  if (status_) return status_;
  if (pid_ <= 0) return std::nullopt;
  kill(pid_, signal);
  return Wait();
}

void AgentRun::Restart(const std::vector<std::string>& args) {
  if (pid_ > 0 && !status_) throw std::logic_error("the agent still runs");
  earlier_errors_ += Errors();
  pid_ = -1;
  Start(args);
}

std::string AgentRun::Output() const { return ReadAll(folder_ / "stdout.txt"); }
std::string AgentRun::Errors() const { return ReadAll(folder_ / "stderr.txt"); }

std::vector<std::string> AgentRun::ErrorLines() const {
  const std::string text = Errors();
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

size_t AgentRun::Count(const std::string& line) const {
  const std::vector<std::string> lines = ErrorLines();
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool AgentRun::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Count(line) > 0; }, timeout);
}

}  // namespace parvel::e2e
