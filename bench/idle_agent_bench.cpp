// The processor time of an idle agent: the program `parvel`, copied into a scratch folder with
// its parvel.INI beside it (a spool folder, TIME=100, the default printer, every position 1),
// runs headless (QT_QPA_PLATFORM=offscreen) for 60 seconds; its user plus system time is read
// from /proc/<pid>/stat before it is ended with SIGTERM, after which it must exit with status 0.
// Beside it, for the same 60 seconds, runs the least a poller of that folder needs: this program
// again (`--idle-loop DIR MS`), a QApplication on the same platform whose QTimer, at the same
// interval, opens and reads the folder. A private CUPS server is the only one either can reach.
//
// Two spool folders: an empty one, and one holding 100 000 files that are not cards (n.txt),
// which an agent that lists the folder at every tick pays for and one that reads the kernel's
// events does not. The goal there is under 1 % of a core: 0.6 s in 60 s.
//
// --idle_seconds=N runs each case N seconds in place of 60, --idle_time=MS sets TIME (100); a
// case so changed says so in its label.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "bench/measure.h"
#include "tests/support/cups_server.h"

#ifndef PARVEL_AGENT_PROGRAM
#error "PARVEL_AGENT_PROGRAM must name the agent's program file"
#endif

namespace {

namespace fs = std::filesystem;

// What the flags set.
int g_seconds = 60;
int g_time_ms = 100;

// A program started with its output in `log`, ended with SIGTERM when it goes out of scope.
class Process {
 public:
  Process(const std::vector<std::string>& args, const fs::path& log) {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      std::vector<std::string> owned = args;
      std::vector<char*> argv;
      for (std::string& arg : owned) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Process() {
    if (pid_ > 0) End();
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // User plus system time so far, in seconds; negative when the process has ended.
  double ProcessorSeconds() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The fields after the command name, which is in parentheses and may hold blanks.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    std::string field;
    for (char c : stat.substr(close + 2)) {
      if (c == ' ') {
        fields.push_back(field);
        field.clear();
      } else {
        field += c;
      }
    }
    // state is the first field here (the 3rd of the line); utime and stime the 12th and 13th.
    if (fields.size() < 13 || fields[0] == "Z") return -1;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
  }

  // Sends SIGTERM and answers the exit status (-1 when it did not exit by itself).
  int End() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `count` empty files n.txt, 0 <= n < count, in `folder`.
void MakeOtherFiles(const fs::path& folder, int count) {
  for (int n = 0; n < count; ++n) {
    const int fd =
        open((folder / (std::to_string(n) + ".txt")).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
      throw std::runtime_error("cannot make the files that are not cards: " + std::string(strerror(errno)));
    close(fd);
  }
}

void IdleAgent(benchmark::State& state, int other_files) {
  const parvel::bench::Scratch scratch;
  const fs::path spool = scratch.path() / "spool";
  fs::create_directory(spool);
  MakeOtherFiles(spool, other_files);
  const fs::path program = scratch.path() / "parvel";
  fs::copy_file(PARVEL_AGENT_PROGRAM, program);
  std::string ini =
      "[TELA]\nPATH=" + spool.string() + "\nTIME=" + std::to_string(g_time_ms) + "\nIMPRESSORA=\n";
  for (int n = 1; n <= 8; ++n) ini += "TOP" + std::to_string(n) + "=1\nLEFT" + std::to_string(n) + "=1\n";
  std::ofstream(scratch.path() / "parvel.INI") << ini;
  if (g_seconds != 60 || g_time_ms != 100) {
    state.SetLabel(std::to_string(g_seconds) + " s, TIME=" + std::to_string(g_time_ms));
  }

  for (auto _ : state) {
    Process agent({program.string()}, scratch.path() / "agent.log");
    Process baseline({"/proc/self/exe", "--idle-loop", spool.string(), std::to_string(g_time_ms)},
                     scratch.path() / "baseline.log");
    std::this_thread::sleep_for(std::chrono::seconds(g_seconds));
    const double agent_seconds = agent.ProcessorSeconds();
    const double baseline_seconds = baseline.ProcessorSeconds();
    const int agent_status = agent.End();
    baseline.End();
    if (agent_seconds < 0 || agent_status != 0) {
      const std::string why = agent_seconds < 0 ? "the agent ended before the time was up"
                                                : "the agent exited with " + std::to_string(agent_status);
      state.SkipWithError((why + "; it said: " + ReadFile(scratch.path() / "agent.log")).c_str());
      return;
    }
    if (baseline_seconds < 0) {
      state.SkipWithError("the baseline poller did not stay up");
      return;
    }
    state.counters["agent_cpu_s"] = agent_seconds;
    state.counters["poller_cpu_s"] = baseline_seconds;
  }
}

void BM_IdleAgentFor60Seconds(benchmark::State& state) { IdleAgent(state, 0); }
void BM_IdleAgentFor60SecondsAmong100000OtherFiles(benchmark::State& state) { IdleAgent(state, 100000); }

BENCHMARK(BM_IdleAgentFor60Seconds)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_IdleAgentFor60SecondsAmong100000OtherFiles)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The baseline poller: a QTimer every `interval_ms` that lists `folder`.
int IdleLoop(int argc, char** argv, const std::string& folder, int interval_ms) {
  QApplication app(argc, argv);
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&folder] {
    if (DIR* dir = opendir(folder.c_str())) {
      while (readdir(dir) != nullptr) {
      }
      closedir(dir);
    }
  });
  timer.start(interval_ms);
  std::signal(SIGTERM, [](int) { std::_Exit(0); });
  return QApplication::exec();
}

// Takes --idle_seconds=N and --idle_time=MS out of the arguments; false on a bad value.
bool TakeFlags(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    int* into = nullptr;
    std::string value;
    for (const auto& [flag, target] :
         {std::pair{"--idle_seconds=", &g_seconds}, std::pair{"--idle_time=", &g_time_ms}}) {
      if (arg.rfind(flag, 0) == 0) {
        into = target;
        value = arg.substr(std::strlen(flag));
      }
    }
    if (into == nullptr) {
      argv[kept++] = argv[i];
      continue;
    }
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number <= 0 || number > 24L * 3600 * 1000) {
      std::fprintf(stderr, "%s: not a positive number\n", arg.c_str());
      return false;
    }
    *into = static_cast<int>(number);
  }
  argc = kept;
  argv[argc] = nullptr;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--idle-loop") == 0) {
    return IdleLoop(argc, argv, argv[2], argc >= 4 ? std::atoi(argv[3]) : 100);
  }
  if (!TakeFlags(argc, argv)) return 2;
  // The only CUPS server the agent can reach, through CUPS_SERVER.
  parvel::doubles::CupsServer server;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
