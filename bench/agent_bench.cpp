// The agent, each part next to a baseline in the same run:
//  - one card from the tick to the job accepted by CUPS: TForm1::Timer1Timer on a spool folder
//    holding one card file, printing through the report's own print operation on a card queue
//    of the private CUPS server, next to a bare libcups submission (cupsCreateJob,
//    cupsStartDocument, cupsWriteRequestData, cupsFinishDocument) of the PDF that very card
//    made, with the same media, on the same queue. The queue is paused: jobs are accepted and
//    held, so no filter competes for the processors; they are cancelled now and then outside
//    the measured time.
//  - finding the first card in a spool folder of 1 000, 10 000 and 100 000 card files: FirstCard,
//    and the whole tick with a print that refuses (so the first card is opened and read but
//    nothing prints), next to `find DIR -maxdepth 1 -iname '*.car' | sort -f | head -1` run
//    through /bin/sh.
//  - the resident memory after 10 000 cards minus that after 100, every card through the tick
//    and the report's print operation into the paused queue.
#include <benchmark/benchmark.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QApplication>
#include <QEvent>

#include "app/agent/card_print.h"
#include "app/agent/form.h"
#include "app/agent/spool.h"
#include "app/agent/timer.h"
#include "bench/measure.h"
#include "platform/linux/linux_platform.h"
#include "platform/message_box.h"
#include "platform/services.h"
#include "report/output/printer_list.h"
#include "tests/support/cups_server.h"

namespace {

namespace fs = std::filesystem;
using parvel::agent::TCardPrint;
using parvel::agent::TForm1;
using parvel::agent::TPrintOutcome;

constexpr const char* kQueue = "card";
// Held jobs are cancelled after this many, well below the server's limit of jobs it keeps.
constexpr int kJobsBetweenCancels = 100;

parvel::doubles::CupsServer* g_server = nullptr;

// The form's timer, never armed: the benchmark calls the tick itself.
class ManualTimer : public parvel::agent::TTimer {
 public:
  using TTimer::Fire;

 protected:
  void Arm(uint32_t /*interval*/) override {}
  void Disarm() override {}
};

// The reports of the held jobs let go of ("was not printed"): not written for every card.
class QuietBoxes : public parvel::platform::MessageBoxes {
 public:
  parvel::platform::MessageButton Show(parvel::platform::MessageKind /*kind*/, const std::string& /*caption*/,
                                       const std::string& /*text*/,
                                       parvel::platform::MessageButtons buttons) override {
    return parvel::platform::DefaultButton(buttons);
  }
  std::string ApplicationTitle() const override { return "Agent_bench"; }
};

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A card file of eight lines, its last write ten seconds ago so the tick takes it at once.
void DropCard(const fs::path& path, int number) {
  std::string text;
  for (int n = 1; n <= parvel::agent::kCardLines; ++n) {
    text += "CARD " + std::to_string(number) + " LINE " + std::to_string(n) + "\r\n";
  }
  WriteFile(path, text);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  now.tv_sec -= 10;
  const timespec times[2] = {now, now};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot age " + path.string());
}

// The agent as its program sets it up: a form with its INI file beside it, a spool folder,
// and a print operation.
class Agent {
 public:
  Agent(TCardPrint& print, const fs::path& spool)
      : job_timer(new ManualTimer),
        form(std::make_unique<ManualTimer>(), std::unique_ptr<ManualTimer>(job_timer), print) {
    std::string ini = "[TELA]\nPATH=" + spool.string() + "\nTIME=100\nIMPRESSORA=" + kQueue + "\n";
    const int tops[] = {2, 7, 13, 18, 24, 29, 34, 39};
    for (int n = 1; n <= parvel::agent::kCardLines; ++n) {
      ini += "TOP" + std::to_string(n) + "=" + std::to_string(tops[n - 1]) + "\n";
      ini += "LEFT" + std::to_string(n) + "=9\n";
    }
    WriteFile(scratch.path() / "parvel.INI", ini);
    form.FormCreate(scratch.path() / "parvel.INI");
    if (form.ConfigMissing() || form.SpoolFolder() != spool)
      throw std::runtime_error("the agent is not set up");
  }
  // The held job is let go: cancelled, the form sees it end, and its card is taken away.
  void Release(const fs::path& card) {
    g_server->CancelJobs(kQueue);
    for (int look = 0; look < 100 && form.Following(); ++look) job_timer->Fire();
    fs::remove(card);
  }
  parvel::bench::Scratch scratch;
  ManualTimer* job_timer;  // owned by the form
  TForm1 form;
};

fs::path Made(const fs::path& folder) {
  fs::create_directory(folder);
  return folder;
}

// A spool folder with one card at a time, and the agent printing through the report.
class CardAgent {
 public:
  CardAgent() : spool_(Made(scratch_.path() / "spool")), agent_(print_, spool_) {}

  // Drops card `number` and runs one tick; false when no job of it waits in the paused queue.
  bool PrintOne(int number) {
    DropCard(Card(), number);
    return Tick();
  }
  bool Tick() {
    agent_.form.Timer1Timer();
    return agent_.form.Following();
  }
  // Lets go of the card's held job (the queue keeps every job paused).
  void Release() { agent_.Release(Card()); }
  fs::path Card() const { return spool_ / "card.car"; }
  TForm1& Form() { return agent_.form; }

 private:
  parvel::bench::Scratch scratch_;
  fs::path spool_;
  parvel::agent::TReportPrint print_;
  Agent agent_;
};

// The PDF one card made and the media its job asked for, from one card printed on the queue
// while it runs.
struct CardJob {
  std::string pdf;
  std::string media;
};
CardJob g_card_job;

CardJob PrintReferenceCard() {
  CardAgent agent;
  g_server->Pause(kQueue, false);
  if (!agent.PrintOne(1)) throw std::runtime_error("the reference card did not print");
  const std::vector<int> ids = parvel::doubles::CupsServer::JobIds(kQueue);
  if (ids.empty()) throw std::runtime_error("the reference card sent no job");
  const parvel::doubles::JobRecord record = g_server->WaitForJob(ids.back());
  agent.Release();
  g_server->Pause(kQueue);
  if (record.state != IPP_JSTATE_COMPLETED) throw std::runtime_error("the reference card's job failed");
  CardJob job{ReadFile(g_server->OutputOf(kQueue)),
              record.attributes.count("media") != 0U ? record.attributes.at("media") : ""};
  if (job.pdf.rfind("%PDF", 0) != 0) throw std::runtime_error("the reference card's output is no PDF");
  return job;
}

void CancelHeldJobs(benchmark::State& state, int64_t done) {
  if (done % kJobsBetweenCancels != 0) return;
  state.PauseTiming();
  g_server->CancelJobs(kQueue);
  state.ResumeTiming();
}

void BM_TickToAcceptedJob(benchmark::State& state) {
  CardAgent agent;
  int64_t done = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DropCard(agent.Card(), static_cast<int>(done));
    state.ResumeTiming();
    if (!agent.Tick()) {
      state.SkipWithError("the card was not printed");
      break;
    }
    state.PauseTiming();
    agent.Release();
    ++done;
    state.ResumeTiming();
  }
  g_server->CancelJobs(kQueue);
}

void BM_LibcupsSubmitsTheSamePdf(benchmark::State& state) {
  const std::string& pdf = g_card_job.pdf;
  int64_t done = 0;
  for (auto _ : state) {
    cups_option_t* options = nullptr;
    int count = 0;
    if (!g_card_job.media.empty())
      count = cupsAddOption(CUPS_MEDIA, g_card_job.media.c_str(), count, &options);
    const int job = cupsCreateJob(CUPS_HTTP_DEFAULT, kQueue, "Report", count, options);
    cupsFreeOptions(count, options);
    bool sent = job > 0 && cupsStartDocument(CUPS_HTTP_DEFAULT, kQueue, job, "Report", CUPS_FORMAT_PDF, 1) ==
                               HTTP_STATUS_CONTINUE;
    sent = sent && cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.data(), pdf.size()) == HTTP_STATUS_CONTINUE;
    sent = sent && cupsFinishDocument(CUPS_HTTP_DEFAULT, kQueue) <= IPP_STATUS_OK_EVENTS_COMPLETE;
    if (!sent) {
      state.SkipWithError(cupsLastErrorString());
      break;
    }
    CancelHeldJobs(state, ++done);
  }
  g_server->CancelJobs(kQueue);
}

BENCHMARK(BM_TickToAcceptedJob)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();
BENCHMARK(BM_LibcupsSubmitsTheSamePdf)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

// A spool folder of `count` empty card files, made once for the run. Their names mix cases in
// both the name and the extension, and their order on disk is not their sorted order.
const fs::path& SpoolOf(int64_t count) {
  static parvel::bench::Scratch scratch;
  static std::map<int64_t, fs::path> folders;
  auto found = folders.find(count);
  if (found != folders.end()) return found->second;
  const fs::path folder = scratch.path() / std::to_string(count);
  fs::create_directory(folder);
  for (int64_t i = 0; i < count; ++i) {
    char name[64];
    const auto hash = static_cast<unsigned>((static_cast<uint64_t>(i) * 2654435761U) % 4294967291U);
    std::snprintf(name, sizeof name, "%s%08x.%s", (i % 2) != 0 ? "Card" : "card", hash,
                  (i % 3) != 0 ? "car" : "CAR");
    const int fd = open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) throw std::runtime_error("cannot make " + std::string(name));
    close(fd);
  }
  return folders.emplace(count, folder).first->second;
}

void BM_FirstCard(benchmark::State& state) {
  const fs::path& folder = SpoolOf(state.range(0));
  const parvel::agent::TNameOrder order;
  for (auto _ : state) {
    const std::optional<std::string> first = parvel::agent::FirstCard(folder, order);
    if (!first) {
      state.SkipWithError("no card found");
      break;
    }
    benchmark::DoNotOptimize(first);
  }
}

// A print operation that finds no usable printer: the card stays and nothing prints.
class RefusingPrint : public TCardPrint {
 public:
  TPrintOutcome Print(parvel::report::TppReport& /*card*/) override {
    ++calls;
    return TPrintOutcome::Refused;
  }
  int64_t calls = 0;
};

void BM_TickOnTheFolder(benchmark::State& state) {
  RefusingPrint print;
  Agent agent(print, SpoolOf(state.range(0)));
  // A file younger than a second is only remembered at the first look; from the second it is
  // read.
  agent.form.Timer1Timer();
  print.calls = 0;
  for (auto _ : state) agent.form.Timer1Timer();
  if (print.calls != state.iterations()) state.SkipWithError("the tick did not reach the print");
}

// Runs `command` through /bin/sh and answers its standard output.
std::string Shell(const std::string& command) {
  return parvel::bench::RunProgram("/bin/sh", {"sh", "-c", command}, false).output;
}

void BM_FindSortHeadThroughShell(benchmark::State& state) {
  const std::string command =
      "find '" + SpoolOf(state.range(0)).string() + "' -maxdepth 1 -iname '*.car' | sort -f | head -1";
  for (auto _ : state) {
    const std::string first = Shell(command);
    if (first.empty()) {
      state.SkipWithError("no card found");
      break;
    }
  }
}

BENCHMARK(BM_FirstCard)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TickOnTheFolder)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FindSortHeadThroughShell)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What the event loop does between ticks: posted events and deferred deletions.
void RunPostedEvents() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

void BM_ResidentGrowthOverCards(benchmark::State& state) {
  const int64_t cards = state.range(0);
  constexpr int64_t kEarly = 100;
  for (auto _ : state) {
    CardAgent agent;
    double early_kb = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int64_t n = 1; n <= cards; ++n) {
      if (!agent.PrintOne(static_cast<int>(n))) {
        state.SkipWithError("a card was not printed");
        return;
      }
      RunPostedEvents();
      agent.Release();
      if (n == kEarly) early_kb = static_cast<double>(parvel::bench::StatusKb("VmRSS"));
    }
    const double late_kb = static_cast<double>(parvel::bench::StatusKb("VmRSS"));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.counters["rss_100_MB"] = early_kb / parvel::bench::kKbPerMb;
    state.counters["rss_last_MB"] = late_kb / parvel::bench::kKbPerMb;
    state.counters["growth_MB"] = (late_kb - early_kb) / parvel::bench::kKbPerMb;
    state.counters["ms_per_card"] = took.count() * 1000 / static_cast<double>(cards);
  }
  g_server->CancelJobs(kQueue);
}

BENCHMARK(BM_ResidentGrowthOverCards)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  // As the agent runs: messages are let through while a card prints.
  parvel::platform::linux_os::LinuxPlatform platform(/*with_pump=*/true);
  parvel::doubles::CupsServer server;
  g_server = &server;
  server.AddQueue(kQueue, "card_cr80.ppd");
  try {
    g_card_job = PrintReferenceCard();
  } catch (const std::exception& failure) {
    std::cerr << "agent_bench: " << failure.what() << "\n";
    return 1;
  }
  server.Pause(kQueue);  // from now on jobs are accepted and held
  QuietBoxes quiet;
  const parvel::platform::ScopedInstall<parvel::platform::MessageBoxes> quieted(&quiet);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  parvel::report::FreeDefaultPrinter();
  return 0;
}
