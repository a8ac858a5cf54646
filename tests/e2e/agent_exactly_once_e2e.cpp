// Every card file becomes exactly one printed card, whatever goes wrong on the way: a document
// that never reaches CUPS, jobs that end unprinted or wait in a stopped queue, a card renamed
// over the one in print, the agent killed at any moment, a card it could not delete afterwards,
// a producer still writing, a spool folder that cannot be opened and a CUPS that fails every
// job. A card is counted as printed by the completed jobs whose kept document shows its words.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/agent_run.h"
#include "tests/e2e/agent_test.h"
#include "tests/e2e/printed_cards.h"
#include "tests/support/cups_faults.h"

namespace parvel::e2e {
namespace {

using doubles::CupsEnvironment;
using doubles::CupsServer;
using doubles::FaultPlan;
using doubles::QueueJob;
using doubles::StallProxy;

constexpr char kCards[] = "cards";          // prints every job at once
constexpr char kPaced[] = "paced";          // takes 0.3 s a card
constexpr char kHeld[] = "held";            // paused by the tests that use it
constexpr char kDoomed[] = "doomed";        // aborts the jobs of cards that show DOOMED
constexpr char kStopping[] = "stopping";    // stops while its flag file exists
constexpr char kBadFilter[] = "badfilter";  // its filter fails every job
constexpr char kClosed[] = "closed";        // rejects jobs while a test wants it to

fs::path StopFlag() { return CupsEnvironment::Server().Folder() / "out" / "stopping.flag"; }

std::string Describe(const std::vector<QueueJob>& jobs) {
  std::ostringstream text;
  text << jobs.size() << " job(s):";
  for (const QueueJob& job : jobs) {
    text << "\n  " << job.id << " state " << job.state << " documents " << job.documents << " ["
         << job.reasons << "] \"" << job.message << "\"";
    for (const std::string& word : job.words) text << " " << word;
  }
  return text.str();
}

class ExactlyOnce : public AgentTest {
 protected:
  ExactlyOnce() : AgentTest(kCards) {}

  static void SetUpTestSuite() {
    static const bool added = [] {
      CupsServer& server = CupsEnvironment::Server();
      FaultPlan paced;
      paced.seconds_per_job = 0.3;
      FaultPlan doomed;
      doomed.fail_on_word = "DOOMED";
      doomed.error_policy = "abort-job";
      FaultPlan stopping;
      stopping.fail_while = StopFlag();
      stopping.error_policy = "stop-printer";
      FaultPlan bad_filter;
      bad_filter.filter_fails = true;
      bad_filter.error_policy = "abort-job";
      AddFaultQueue(server, kPaced, paced);
      AddFaultQueue(server, kHeld, FaultPlan{});
      AddFaultQueue(server, kDoomed, doomed);
      AddFaultQueue(server, kStopping, stopping);
      AddFaultQueue(server, kBadFilter, bad_filter);
      AddFaultQueue(server, kClosed, FaultPlan{});
      EnsureCardQueue(kCards);
      return true;
    }();
    (void)added;
  }

  // The agent prints on `queue`; the queue is left enabled, accepting and empty at the end.
  void UseQueue(const std::string& queue) {
    ini.Set("IMPRESSORA", queue);
    queue_ = queue;
    since_ = doubles::LastJobId(queue);
  }
  // The agent reaches CUPS through a relay from its start on.
  StallProxy& Relay() {
    proxy_.emplace(CupsEnvironment::Server().Socket());
    agent.environment["CUPS_SERVER"] = proxy_->Socket();
    return *proxy_;
  }
  void TearDown() override {
    AgentTest::TearDown();
    std::error_code ignored;
    fs::remove(StopFlag(), ignored);
    if (queue_ != kCards) {
      CupsServer& server = CupsEnvironment::Server();
      server.CancelJobs(queue_);
      server.RejectJobs(queue_, false);
      server.Pause(queue_, false);
    }
  }

  // The jobs of the queue since the test began.
  std::vector<QueueJob> NewJobs() const { return doubles::QueueJobs(queue_, since_); }
  // Waits until every job since the test began has ended; answers them.
  std::vector<QueueJob> EndedJobs() const {
    std::vector<QueueJob> jobs;
    WaitUntil([&] {
      jobs = NewJobs();
      return doubles::AllEnded(jobs);
    });
    return jobs;
  }
  fs::path Card(const std::string& name) const { return agent.Spool() / name; }
  bool Gone(const std::string& name) const {
    return WaitUntil([&] { return !fs::exists(Card(name)); });
  }
  bool AnyCardLeft() const {
    for (const fs::directory_entry& entry : fs::directory_iterator(agent.Spool())) {
      if (entry.path().extension() == ".car") return true;
    }
    return false;
  }
  // How many report lines hold every one of `fragments`.
  size_t LinesWith(std::initializer_list<std::string> fragments) const {
    const std::vector<std::string> lines = agent.ErrorLines();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return std::all_of(fragments.begin(), fragments.end(), [&](const std::string& fragment) {
        return line.find(fragment) != std::string::npos;
      });
    }));
  }

  std::string queue_ = kCards;
  int since_ = doubles::LastJobId(kCards);
  std::optional<StallProxy> proxy_;
};

// --- A document that never reached CUPS ---

TEST_F(ExactlyOnce, ADocumentThatNeverReachedCupsIsReportedAndItsCardPrintsOnceItGetsThrough) {
  StallProxy& proxy = Relay();
  proxy.SetMode(StallProxy::Mode::kSwallowDocument);
  const std::vector<std::string> words = CardLines("STALLED");
  DropCard(Card("card.car"), CardText(words));
  Start();
  ASSERT_TRUE(WaitUntil([&] { return proxy.Swallowed() > 0; })) << agent.Errors();
  // The agent gives up on CUPS's answer after its timeout and says so.
  ASSERT_TRUE(WaitUntil([&] { return !agent.ErrorLines().empty() || !fs::exists(Card("card.car")); }));
  EXPECT_EQ(LinesWith({"did not reach"}), 1u) << agent.Errors();
  EXPECT_TRUE(fs::exists(Card("card.car")))
      << agent.Errors() << proxy.Requests(doubles::kCancelJob) << " Cancel-Job request(s)";
  // The job left without its document is cancelled.
  EXPECT_TRUE(WaitUntil([&] { return doubles::WaitingWithoutDocument(NewJobs()).empty(); }))
      << Describe(NewJobs());
  proxy.SetMode(StallProxy::Mode::kPass);
  EXPECT_TRUE(Gone("card.car")) << agent.Errors();
  const std::vector<QueueJob> jobs = EndedJobs();
  EXPECT_EQ(doubles::CompletedWith(jobs, words), 1u) << Describe(jobs);
  EXPECT_TRUE(doubles::WaitingWithoutDocument(jobs).empty()) << Describe(jobs);
}

// --- Jobs that ended unprinted ---

struct EndedCase {
  const char* name;
  const char* queue;
  bool operator_cancels;  // the queue is paused and the job cancelled there
  const char* state;      // the word the report gives for the job's end
  const char* reason;     // what CUPS said about it (the printer's state reasons)
  // Names the case in test listings.
  friend void PrintTo(const EndedCase& c, std::ostream* out) { *out << c.name; }
};

class AJobThatEndedUnprinted : public ExactlyOnce, public ::testing::WithParamInterface<EndedCase> {};

TEST_P(AJobThatEndedUnprinted, IsReportedAndItsCardWaitsUntilItChangesWhileTheNextCardsPrint) {
  const EndedCase& c = GetParam();
  UseQueue(c.queue);
  if (c.operator_cancels) CupsEnvironment::Server().Pause(c.queue);
  const std::vector<std::string> first = CardLines("DOOMED");
  const std::vector<std::string> next = CardLines("NEXT");
  DropCard(Card("a.car"), CardText(first));
  DropCard(Card("b.car"), CardText(next));
  Start();
  std::vector<QueueJob> jobs;
  ASSERT_TRUE(WaitUntil([&] {
    jobs = NewJobs();
    return !jobs.empty();
  })) << agent.Errors();
  const int id = jobs.front().id;
  if (c.operator_cancels) {
    ASSERT_EQ(CupsServer::Run({"cancel", std::to_string(id)}), 0);
    CupsEnvironment::Server().Pause(c.queue, false);
  }
  ASSERT_TRUE(WaitUntil([&] { return LinesWith({"was not printed"}) > 0 || !fs::exists(Card("a.car")); }))
      << agent.Errors();
  EXPECT_TRUE(fs::exists(Card("a.car")));
  EXPECT_EQ(LinesWith({"was not printed", "job " + std::to_string(id), c.state, c.reason}), 1u)
      << agent.Errors() << Describe(NewJobs());
  EXPECT_TRUE(Gone("b.car")) << agent.Errors();
  EXPECT_FALSE(WaitUntil([&] { return NewJobs().size() > 2; }, kQuietWindow)) << Describe(NewJobs());
  jobs = EndedJobs();
  EXPECT_EQ(jobs.size(), 2u) << Describe(jobs);
  EXPECT_EQ(doubles::CompletedWith(jobs, first), 0u) << Describe(jobs);
  EXPECT_EQ(doubles::CompletedWith(jobs, next), 1u) << Describe(jobs);
  EXPECT_TRUE(fs::exists(Card("a.car")));
  // Written anew, it is a card to print again.
  DropCard(Card("a.car"), CardText(first));
  EXPECT_TRUE(WaitUntil([&] { return NewJobs().size() > 2; })) << agent.Errors();
  if (c.operator_cancels) {
    EXPECT_TRUE(Gone("a.car")) << agent.Errors();
    EXPECT_EQ(doubles::CompletedWith(EndedJobs(), first), 1u) << Describe(NewJobs());
  }
}

INSTANTIATE_TEST_SUITE_P(Cups, AJobThatEndedUnprinted,
                         ::testing::Values(EndedCase{"AbortedByTheBackend", kDoomed, false, "aborted",
                                                     "media-empty"},
                                           // CUPS 2.4.2 gives a cancelled job no reason of its own.
                                           EndedCase{"CanceledByTheOperator", kHeld, true, "canceled", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Jobs waiting in a stopped queue ---

struct WaitingCase {
  const char* name;
  const char* queue;
  bool stopped_by_backend;  // else paused by the operator
  // Names the case in test listings.
  friend void PrintTo(const WaitingCase& c, std::ostream* out) { *out << c.name; }
};

class AJobInAStoppedQueue : public ExactlyOnce, public ::testing::WithParamInterface<WaitingCase> {};

TEST_P(AJobInAStoppedQueue, WaitsThereOnceReportedAndPrintsWhenTheQueueIsResumed) {
  const WaitingCase& c = GetParam();
  UseQueue(c.queue);
  if (c.stopped_by_backend) {
    std::ofstream(StopFlag()) << "out of cards\n";
  } else {
    CupsEnvironment::Server().Pause(c.queue);
  }
  const std::vector<std::string> words = CardLines("WAITING");
  DropCard(Card("card.car"), CardText(words));
  Start();
  ASSERT_TRUE(WaitUntil([&] { return LinesWith({"waits"}) > 0 || !fs::exists(Card("card.car")); }))
      << agent.Errors() << Describe(NewJobs());
  // No second job goes out for the card meanwhile.
  EXPECT_FALSE(WaitUntil([&] { return NewJobs().size() > 1 || !fs::exists(Card("card.car")); }, kQuietWindow))
      << Describe(NewJobs());
  EXPECT_EQ(LinesWith({"waits"}), 1u) << agent.Errors();
  std::error_code ignored;
  fs::remove(StopFlag(), ignored);
  CupsEnvironment::Server().Pause(c.queue, false);
  EXPECT_TRUE(Gone("card.car")) << agent.Errors();
  const std::vector<QueueJob> jobs = EndedJobs();
  EXPECT_EQ(jobs.size(), 1u) << Describe(jobs);
  EXPECT_EQ(doubles::CompletedWith(jobs, words), 1u) << Describe(jobs);
}

INSTANTIATE_TEST_SUITE_P(Cups, AJobInAStoppedQueue,
                         ::testing::Values(WaitingCase{"PausedByTheOperator", kHeld, false},
                                           WaitingCase{"StoppedByItsBackend", kStopping, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- A card renamed over the one in print ---

TEST_F(ExactlyOnce, ACardRenamedOverTheOneInPrintStaysAndPrintsNext) {
  UseQueue(kHeld);
  CupsEnvironment::Server().Pause(kHeld);
  const std::vector<std::string> old_words = CardLines("OLD");
  const std::vector<std::string> new_words = CardLines("NEW");
  DropCard(Card("card.car"), CardText(old_words));
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !NewJobs().empty(); })) << agent.Errors();
  // Its job waits in the paused queue, and the card with it.
  EXPECT_FALSE(WaitUntil([&] { return !fs::exists(Card("card.car")); }, kQuietWindow));
  DropCard(Card("card.car"), CardText(new_words));
  CupsEnvironment::Server().Pause(kHeld, false);
  EXPECT_TRUE(WaitUntil([&] {
    return doubles::CompletedWith(NewJobs(), new_words) > 0 && !fs::exists(Card("card.car"));
  })) << agent.Errors()
      << Describe(NewJobs());
  EXPECT_FALSE(WaitUntil([&] { return NewJobs().size() > 2; }, kQuietWindow)) << Describe(NewJobs());
  const std::vector<QueueJob> jobs = EndedJobs();
  EXPECT_EQ(jobs.size(), 2u) << Describe(jobs);
  EXPECT_EQ(doubles::CompletedWith(jobs, old_words), 1u) << Describe(jobs);
  EXPECT_EQ(doubles::CompletedWith(jobs, new_words), 1u) << Describe(jobs);
}

// --- The agent killed ---

TEST_F(ExactlyOnce, KilledAtRandomMomentsItPrintsEveryCardExactlyOnce) {
  UseQueue(kPaced);
  std::vector<std::vector<std::string>> cards;
  for (int n = 0; n < 20; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "card%02d.car", n);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "K%02dW", n);
    cards.push_back(CardLines(prefix));
    DropCard(Card(name), CardText(cards.back()));
  }
  Start();
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> pause_ms(200, 1500);
  for (int kills = 0; kills < 15 && AnyCardLeft(); ++kills) {
    // Paces the kills; correctness is awaited below.
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    ASSERT_EQ(agent.Kill(SIGKILL), std::optional<int>(128 + SIGKILL)) << agent.Errors();
    agent.Restart();
  }
  EXPECT_TRUE(WaitUntil([&] { return !AnyCardLeft(); })) << agent.EarlierErrors() << agent.Errors();
  const std::vector<QueueJob> jobs = EndedJobs();
  for (const std::vector<std::string>& words : cards) {
    EXPECT_EQ(doubles::CompletedWith(jobs, words), 1u) << words.front() << "\n" << Describe(jobs);
  }
  EXPECT_TRUE(doubles::WaitingWithoutDocument(jobs).empty()) << Describe(jobs);
}

TEST_F(ExactlyOnce, KilledBeforeItHeardThatCupsHasTheDocumentItPrintsTheCardOnce) {
  StallProxy& proxy = Relay();
  proxy.SetMode(StallProxy::Mode::kHoldDocumentAnswer, std::chrono::seconds(30));
  const std::vector<std::string> words = CardLines("HELD");
  DropCard(Card("card.car"), CardText(words));
  Start();
  ASSERT_TRUE(WaitUntil([&] { return proxy.Held() > 0; })) << agent.Errors();
  ASSERT_EQ(agent.Kill(SIGKILL), std::optional<int>(128 + SIGKILL));
  proxy.SetMode(StallProxy::Mode::kPass);
  agent.Restart();
  EXPECT_TRUE(Gone("card.car")) << agent.EarlierErrors() << agent.Errors();
  EXPECT_FALSE(WaitUntil([&] { return NewJobs().size() > 1; }, kQuietWindow)) << Describe(NewJobs());
  const std::vector<QueueJob> jobs = EndedJobs();
  EXPECT_EQ(doubles::CompletedWith(jobs, words), 1u) << Describe(jobs);
  EXPECT_TRUE(doubles::WaitingWithoutDocument(jobs).empty()) << Describe(jobs);
}

// --- A card the agent cannot delete ---

TEST_F(ExactlyOnce, ACardItCouldNotDeleteIsNeverPrintedAndTheOthersAre) {
  // Root deletes anything: the agent runs as "nobody", and the card belongs to "daemon" in a
  // sticky folder.
  if (geteuid() != 0) GTEST_SKIP() << "only root can run the agent as another user and give a card away";
  // getpwnam answers in storage that its next call reuses.
  const passwd* user = getpwnam("nobody");
  if (user == nullptr) GTEST_SKIP() << "no user nobody to run the agent as";
  const uid_t agent_uid = user->pw_uid;
  const gid_t agent_gid = user->pw_gid;
  user = getpwnam("daemon");
  if (user == nullptr) GTEST_SKIP() << "no user daemon to own the card";
  const uid_t other_uid = user->pw_uid;
  const gid_t other_gid = user->pw_gid;
  ASSERT_TRUE(agent.RunAs("nobody"));
  fs::permissions(agent.Spool(), fs::perms::all | fs::perms::sticky_bit);
  const auto drop = [&](const std::string& name, const std::vector<std::string>& words, uid_t uid,
                        gid_t gid) {
    DropCard(Card(name), CardText(words));
    ASSERT_EQ(chown(Card(name).c_str(), uid, gid), 0) << name;
  };
  const std::vector<std::string> before = CardLines("BEFORE");
  const std::vector<std::string> kept = CardLines("KEPT");
  const std::vector<std::string> after = CardLines("AFTER");
  drop("a.car", before, agent_uid, agent_gid);
  drop("b.car", kept, other_uid, other_gid);
  drop("c.car", after, agent_uid, agent_gid);
  Start();
  EXPECT_TRUE(Gone("a.car")) << agent.Errors();
  EXPECT_TRUE(Gone("c.car")) << agent.Errors();
  EXPECT_FALSE(WaitUntil([&] { return NewJobs().size() > 2; }, kQuietWindow)) << Describe(NewJobs());
  EXPECT_EQ(LinesWith({"is not printed", "b.car"}), 1u) << agent.Errors();
  EXPECT_TRUE(fs::exists(Card("b.car")));
  // Nor after a restart: a card dropped then prints, and still nothing of the kept one.
  ASSERT_EQ(agent.Stop(), std::optional<int>(0)) << agent.Errors();
  agent.Restart();
  const std::vector<std::string> later = CardLines("LATER");
  drop("d.car", later, agent_uid, agent_gid);
  EXPECT_TRUE(Gone("d.car")) << agent.Errors();
  const std::vector<QueueJob> jobs = EndedJobs();
  EXPECT_EQ(jobs.size(), 3u) << Describe(jobs);
  for (const std::vector<std::string>& words : {before, after, later}) {
    EXPECT_EQ(doubles::CompletedWith(jobs, words), 1u) << words.front() << "\n" << Describe(jobs);
  }
  EXPECT_EQ(doubles::SentWith(jobs, kept), 0u) << Describe(jobs);
  EXPECT_TRUE(fs::exists(Card("b.car")));
}

// --- Producers ---

TEST_F(ExactlyOnce, ACardWrittenLineByLineWithPausesPrintsWholeOnce) {
  Start();
  const std::vector<std::string> words = CardLines("LINE");
  const int fd = open(Card("slow.car").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  for (const std::string& word : words) {
    const std::string line = word + "\n";
    ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    // Paces the producer: many ticks of TIME=100 see the same half card.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  close(fd);
  EXPECT_TRUE(Gone("slow.car")) << agent.Errors();
  const std::vector<QueueJob> jobs = EndedJobs();
  EXPECT_EQ(jobs.size(), 1u) << Describe(jobs);
  EXPECT_EQ(doubles::CompletedWith(jobs, words), 1u) << Describe(jobs);
  EXPECT_EQ(LinesWith({"List index out of bounds"}), 0u) << agent.Errors();
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

// --- A spool folder that cannot be opened ---

TEST_F(ExactlyOnce, ASpoolFolderThatCannotBeOpenedIsReportedOnce) {
  const fs::path plain = agent.Folder() / "plain";
  std::ofstream(plain) << "no folder\n";
  ini.Set("PATH", (plain / "spool").string());
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !agent.ErrorLines().empty(); })) << "nothing reported";
  EXPECT_FALSE(WaitUntil([&] { return agent.ErrorLines().size() > 1; }, kQuietWindow)) << agent.Errors();
  const std::vector<std::string> lines = agent.ErrorLines();
  ASSERT_EQ(lines.size(), 1u) << agent.Errors();
  EXPECT_TRUE(lines.front().starts_with("parvel: Cannot open the spool folder")) << lines.front();
  EXPECT_EQ(lines.front().find("served by another parvel"), std::string::npos) << lines.front();
  EXPECT_TRUE(agent.Running());
}

// --- A CUPS that fails every job ---

struct FailingCase {
  const char* name;
  const char* queue;
  bool rejects;  // the queue refuses jobs, else takes them and fails them
  // Names the case in test listings.
  friend void PrintTo(const FailingCase& c, std::ostream* out) { *out << c.name; }
};

class AFailingCups : public ExactlyOnce, public ::testing::WithParamInterface<FailingCase> {};

TEST_P(AFailingCups, GetsAFewJobsWithGrowingWaitsNotOneATick) {
  const FailingCase& c = GetParam();
  UseQueue(c.queue);
  if (c.rejects) CupsEnvironment::Server().RejectJobs(c.queue);
  StallProxy& proxy = Relay();
  const auto attempts = [&] {
    return proxy.Requests(doubles::kCreateJob) + proxy.Requests(doubles::kPrintJob);
  };
  DropCard(Card("card.car"), CardText(CardLines("FAILING")));
  Start();
  ASSERT_TRUE(WaitUntil([&] { return attempts() > 0; })) << agent.Errors();
  EXPECT_FALSE(
      WaitUntil([&] { return attempts() > 8 || !fs::exists(Card("card.car")); }, std::chrono::seconds(15)))
      << attempts() << " jobs asked for; " << agent.Errors();
  EXPECT_LE(attempts(), 8u);
  EXPECT_LE(NewJobs().size(), 8u) << Describe(NewJobs());
  EXPECT_TRUE(fs::exists(Card("card.car")));
  EXPECT_TRUE(agent.Running());
}

INSTANTIATE_TEST_SUITE_P(Cups, AFailingCups,
                         ::testing::Values(FailingCase{"FilterFailsEveryJob", kBadFilter, false},
                                           FailingCase{"QueueRejectsEveryJob", kClosed, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace parvel::e2e
