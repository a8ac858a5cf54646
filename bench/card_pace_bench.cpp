// The pace of cards on a printer that takes a second a card: 30 card files through the agent
// program (a copy with its parvel.INI beside it, TIME=100, headless, as users run it) next to
// `lp` of the very 30 PDFs the agent sent, queued at once, on the same queue of a private CUPS
// server in the same run. Each total runs from the start (of the agent, of the first lp) to the
// last of its 30 jobs completed; the agent keeps the printer busy when its total is near lp's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/measure.h"
#include "tests/support/cups_faults.h"
#include "tests/support/cups_server.h"

#ifndef PARVEL_AGENT_PROGRAM
#error "PARVEL_AGENT_PROGRAM must name the agent's program file"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kQueue[] = "pace";
constexpr int kCards = 30;
constexpr auto kDeadline = std::chrono::minutes(5);

parvel::doubles::CupsServer* g_server = nullptr;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The agent program from a copy in `folder`, ended with SIGTERM when it goes out of scope.
class AgentProgram {
 public:
  explicit AgentProgram(const fs::path& folder) : folder_(folder) {
    const fs::path runtime = folder / "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const std::string program = (folder / "parvel").string();
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      const int fd = open((folder / "agent.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~AgentProgram() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  AgentProgram(const AgentProgram&) = delete;
  AgentProgram& operator=(const AgentProgram&) = delete;

  std::string Log() const { return ReadFile(folder_ / "agent.log"); }

 private:
  fs::path folder_;
  pid_t pid_ = -1;
};

// Waits until `queue` has completed `count` jobs after job `after`; answers their ids, or
// nothing on a failed job or on timeout.
std::vector<int> WaitForCompleted(int after, int count) {
  const Clock::time_point until = Clock::now() + kDeadline;
  while (Clock::now() < until) {
    std::vector<int> done;
    for (const parvel::doubles::QueueJob& job : parvel::doubles::QueueJobs(kQueue, after, false)) {
      if (job.state == 7 || job.state == 8) return {};
      if (job.state == 9) done.push_back(job.id);
    }
    if (static_cast<int>(done.size()) >= count) return done;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {};
}

double Seconds(Clock::duration took) { return std::chrono::duration<double>(took).count(); }

void BM_ThirtyCardsAgentNextToLp(benchmark::State& state) {
  const parvel::bench::Scratch scratch;
  const fs::path spool = scratch.path() / "spool";
  fs::create_directory(spool);
  fs::copy_file(PARVEL_AGENT_PROGRAM, scratch.path() / "parvel");
  std::string ini = "[TELA]\nPATH=" + spool.string() + "\nTIME=100\nIMPRESSORA=" + kQueue + "\n";
  for (int n = 1; n <= 8; ++n) {
    ini += "TOP" + std::to_string(n) + "=" + std::to_string(2 + 5 * (n - 1)) + "\n";
    ini += "LEFT" + std::to_string(n) + "=9\n";
  }
  WriteFile(scratch.path() / "parvel.INI", ini);

  for (auto _ : state) {
    // Written and dated ten seconds back: each card is ready at the first look.
    for (int card = 0; card < kCards; ++card) {
      char name[32];
      std::snprintf(name, sizeof name, "card%02d.car", card);
      std::string text;
      for (int line = 1; line <= 8; ++line)
        text += "CARD " + std::to_string(card) + " LINE " + std::to_string(line) + "\n";
      WriteFile(spool / name, text);
      const timespec back[2] = {{time(nullptr) - 10, 0}, {time(nullptr) - 10, 0}};
      utimensat(AT_FDCWD, (spool / name).c_str(), back, 0);
    }

    const int agent_since = parvel::doubles::LastJobId(kQueue);
    const Clock::time_point agent_start = Clock::now();
    std::vector<int> agent_jobs;
    {
      AgentProgram agent(scratch.path());
      agent_jobs = WaitForCompleted(agent_since, kCards);
      if (agent_jobs.empty()) {
        state.SkipWithError(("the agent's cards did not all print; it said: " + agent.Log()).c_str());
        return;
      }
    }
    const double agent_seconds = Seconds(Clock::now() - agent_start);

    std::vector<fs::path> pdfs;
    for (const int id : agent_jobs) {
      char name[32];
      std::snprintf(name, sizeof name, "d%05d-001", id);
      pdfs.push_back(scratch.path() / (std::string(name) + ".pdf"));
      fs::copy_file(g_server->Folder() / "spool" / name, pdfs.back());
    }
    const int lp_since = parvel::doubles::LastJobId(kQueue);
    const Clock::time_point lp_start = Clock::now();
    for (const fs::path& pdf : pdfs) {
      std::string log;
      if (parvel::doubles::CupsServer::Run({"lp", "-d", kQueue, "-t", "Report", pdf.string()}, &log) != 0) {
        state.SkipWithError(("lp failed: " + log).c_str());
        return;
      }
    }
    if (WaitForCompleted(lp_since, kCards).empty()) {
      state.SkipWithError("lp's cards did not all print");
      return;
    }
    const double lp_seconds = Seconds(Clock::now() - lp_start);

    state.counters["agent_s"] = agent_seconds;
    state.counters["lp_s"] = lp_seconds;
    state.counters["agent_per_lp"] = agent_seconds / lp_seconds;
  }
}

BENCHMARK(BM_ThirtyCardsAgentNextToLp)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // The only CUPS server the agent and lp can reach, through CUPS_SERVER.
  parvel::doubles::CupsServer server;
  g_server = &server;
  parvel::doubles::FaultPlan slow;
  slow.seconds_per_job = 1;
  parvel::doubles::AddFaultQueue(server, kQueue, slow);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
