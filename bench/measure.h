#pragma once
// What the benchmarks share: the process's memory as /proc reports it, and a run of this same
// program in a fresh process, so that one variant's peak memory is not hidden by what another
// variant already made resident.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace parvel::bench {

// A field of /proc/self/status in kibibytes ("VmRSS", "VmHWM"); 0 when missing.
inline int64_t StatusKb(const std::string& field) {
  std::ifstream in("/proc/self/status");
  const std::string prefix = field + ":";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) return std::stoll(line.substr(prefix.size()));
  }
  return 0;
}

struct ChildRun {
  std::string output;      // what it wrote on standard output
  int64_t max_rss_kb = 0;  // its peak resident memory over its whole life
};

// Runs `program` with `argv` (argv[0] included), waits for it and answers its standard output
// and peak resident memory. Throws when it cannot start, and, with `must_succeed`, when it does
// not end with status 0.
inline ChildRun RunProgram(const char* program, std::vector<std::string> argv, bool must_succeed) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    // A pipeline's commands end by SIGPIPE once its reader is done, as in a terminal.
    signal(SIGPIPE, SIG_DFL);
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    execv(program, args.data());
    _exit(127);
  }
  close(fds[1]);
  ChildRun run;
  char buffer[4096];
  for (ssize_t n = 0; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
    run.output.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("lost the measuring run");
  if (must_succeed && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    throw std::runtime_error("the measuring run failed: " + run.output);
  }
  run.max_rss_kb = usage.ru_maxrss;
  return run;
}

// Runs this program again with `args` (see RunProgram); it must end with status 0.
inline ChildRun RunSelf(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"self"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram("/proc/self/exe", std::move(argv), true);
}

constexpr double kKbPerMb = 1024.0;

// A fresh folder under /tmp, removed with everything in it.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/parvel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a scratch folder");
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace parvel::bench
