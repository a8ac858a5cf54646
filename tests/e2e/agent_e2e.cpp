// The agent program at the edges, in the locale it runs in (pt_BR.UTF-8): its command line and a
// missing INI file, INI settings that stop or change polling, card files that must print and
// card files that must stay, producers still writing or holding a lock, entries that are no
// card files, and a CUPS server that goes away while a card waits.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/agent_run.h"
#include "tests/e2e/agent_test.h"
#include "tests/e2e/printed_cards.h"

namespace parvel::e2e {
namespace {

using doubles::CupsEnvironment;
using doubles::PdfPage;
using doubles::PdfWord;

using namespace std::string_literals;

constexpr char kQueue[] = "cards";

class Agent : public AgentTest {
 protected:
  Agent() : AgentTest(kQueue) {}
  static void SetUpTestSuite() { EnsureCardQueue(kQueue); }

  bool Gone(const std::string& card) {
    return WaitUntil([&] { return !fs::exists(agent.Spool() / card, ignored_); });
  }
  // Watches for a while: the card stays, nothing is printed, the agent runs on.
  void ExpectKeptAndNothingPrinted(const std::string& card, const std::string& queue = kQueue) {
    EXPECT_FALSE(WaitUntil([&] { return !fs::exists(agent.Spool() / card); }, kQuietWindow)) << card;
    EXPECT_EQ(Jobs(queue).size(), jobs_before) << agent.Errors();
    EXPECT_TRUE(agent.Running()) << agent.Errors();
  }
  // Waits for the agent's next job on `queue` and reads the card printed for it.
  std::optional<PdfPage> NextCard(const std::string& queue = kQueue, size_t before = SIZE_MAX) {
    const std::optional<std::vector<int>> jobs =
        WaitForJobs(queue, (before == SIZE_MAX ? Jobs(queue).size() : before) + 1);
    if (!jobs) {
      ADD_FAILURE() << "no job on " << queue << "; the agent said: " << agent.Errors();
      return std::nullopt;
    }
    std::vector<PdfPage> pages = PrintedCard(queue, jobs->back());
    EXPECT_EQ(pages.size(), 1u);
    if (pages.empty()) return std::nullopt;
    return pages.front();
  }
  std::optional<PdfPage> FirstCard() { return NextCard(kQueue, jobs_before); }

  const size_t jobs_before = Jobs(kQueue).size();
  std::error_code ignored_;
};

// --- The command line and the INI file ---

struct CommandCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* output;  // the start of standard output
  const char* errors;  // a text on standard error
  // Names the case in test listings.
  friend void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.name; }
};

class CommandLine : public Agent, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandLine, AnswersAndEnds) {
  const CommandCase& param = GetParam();
  ends_by_itself = true;
  Start(param.args);
  EXPECT_EQ(agent.Wait(), std::optional<int>(param.status)) << agent.Errors();
  EXPECT_TRUE(agent.Output().starts_with(param.output)) << agent.Output();
  EXPECT_NE(agent.Errors().find(param.errors), std::string::npos) << agent.Errors();
}

INSTANTIATE_TEST_SUITE_P(
    Program, CommandLine,
    ::testing::Values(CommandCase{"Version", {"--version"}, 0, "parvel " PARVEL_VERSION "\n", ""},
                      CommandCase{"Help", {"--help"}, 0, "Usage: parvel [--config FILE]\n", ""},
                      CommandCase{
                          "UnknownArgument", {"--colour"}, 2, "", "parvel: unknown argument: --colour"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Agent, WithoutItsIniFileSaysSoAndEndsWithStatusOne) {
  DropCard(agent.Spool() / "card.car", CardText(CardLines("MISSING")));
  ends_by_itself = true;
  agent.Start();
  EXPECT_EQ(agent.Wait(), std::optional<int>(1));
  EXPECT_EQ(agent.ErrorLines(),
            std::vector<std::string>{"Error: O arquivo de configuração não foi encontrado! O gerênciador de "
                                     "impressão não irá funcionar corretamente!"});
  EXPECT_TRUE(fs::exists(agent.Spool() / "card.car"));
  EXPECT_EQ(Jobs(kQueue).size(), jobs_before);
}

TEST_F(Agent, WithoutSectionTelaReportsTheEmptyNumberAndNeverPolls) {
  ini.WithoutSection();
  DropCard(agent.Spool() / "card.car", CardText(CardLines("NOSECTION")));
  Start();
  ASSERT_TRUE(agent.WaitForLine("parvel: '' is not a valid floating point value.")) << agent.Errors();
  ExpectKeptAndNothingPrinted("card.car");
  EXPECT_EQ(agent.ErrorLines().size(), 1u) << agent.Errors();
}

TEST_F(Agent, TimeZeroNeverPolls) {
  ini.Set("TIME", "0");
  DropCard(agent.Spool() / "card.car", CardText(CardLines("ZERO")));
  Start();
  ExpectKeptAndNothingPrinted("card.car");
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

TEST_F(Agent, TimeInHexadecimalTicks) {
  ini.Set("TIME", "$3E8");
  DropCard(agent.Spool() / "card.car", CardText(CardLines("HEX")));
  Start();
  const std::optional<PdfPage> card = FirstCard();
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("HEX")));
  EXPECT_TRUE(Gone("card.car"));
}

TEST_F(Agent, WithoutAPrinterNamePrintsOnTheDefaultPrinter) {
  EnsureCardQueue("fallback");
  CupsEnvironment::Server().SetDefault("fallback");
  const size_t fallback_before = Jobs("fallback").size();
  ini.Set("IMPRESSORA", "");
  DropCard(agent.Spool() / "card.car", CardText(CardLines("DEFAULT")));
  Start();
  const std::optional<PdfPage> card = NextCard("fallback", fallback_before);
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("DEFAULT")));
  EXPECT_TRUE(Gone("card.car"));
  EXPECT_EQ(Jobs(kQueue).size(), jobs_before);
}

TEST_F(Agent, ASpoolFolderMadeAfterStartUpIsPolledOnceItExists) {
  const fs::path later = agent.Folder() / "later";
  ini.Set("PATH", later.string());
  Start();
  // Some ticks find no folder.
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(agent.Running()) << agent.Errors();
  fs::create_directory(later);
  DropCard(later / "card.car", CardText(CardLines("LATER")));
  const std::optional<PdfPage> card = FirstCard();
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("LATER")));
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists(later / "card.car"); }));
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

// --- Card files ---

struct PrintedCase {
  const char* name;
  std::string content;
  std::vector<std::string> words;  // what the card shows
  // Names the case in test listings.
  friend void PrintTo(const PrintedCase& c, std::ostream* out) { *out << c.name; }
};

class CardFilesThatPrint : public Agent, public ::testing::WithParamInterface<PrintedCase> {};

TEST_P(CardFilesThatPrint, PrintOnceAndAreDeleted) {
  DropCard(agent.Spool() / "card.car", GetParam().content);
  Start();
  const std::optional<PdfPage> card = FirstCard();
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(GetParam().words));
  EXPECT_TRUE(Gone("card.car"));
  EXPECT_EQ(Jobs(kQueue).size(), jobs_before + 1);
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

INSTANTIATE_TEST_SUITE_P(Spool, CardFilesThatPrint,
                         ::testing::Values(
                             // The eighth line is the empty one between the two final breaks.
                             PrintedCase{"SevenLinesAndTwoFinalBreaks",
                                         "S1\nS2\nS3\nS4\nS5\nS6\nS7\n\n",
                                         {"S1", "S2", "S3", "S4", "S5", "S6", "S7"}},
                             PrintedCase{"CarriageReturnsOnly",
                                         "R1\rR2\rR3\rR4\rR5\rR6\rR7\rR8\r",
                                         {"R1", "R2", "R3", "R4", "R5", "R6", "R7", "R8"}},
                             PrintedCase{"TenLines",
                                         CardText(CardLines("T")) + "T9\nT10\n",
                                         {"T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8"}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FailingCase {
  const char* name;
  std::string content;
  const char* report;
  // Names the case in test listings.
  friend void PrintTo(const FailingCase& c, std::ostream* out) { *out << c.name; }
};

class CardFilesThatFail : public Agent, public ::testing::WithParamInterface<FailingCase> {};

TEST_P(CardFilesThatFail, AreKeptAndReportedOnce) {
  DropCard(agent.Spool() / "card.car", GetParam().content);
  Start();
  ASSERT_TRUE(agent.WaitForLine(GetParam().report)) << agent.Errors();
  // Tried again at every tick, reported only while the failure or the file changes.
  ExpectKeptAndNothingPrinted("card.car");
  EXPECT_EQ(agent.ErrorLines(), std::vector<std::string>{GetParam().report});
}

INSTANTIATE_TEST_SUITE_P(Spool, CardFilesThatFail,
                         ::testing::Values(FailingCase{"ZeroByteInLineThree",
                                                       "Z1\nZ2\nZ\0_3\nZ4\nZ5\nZ6\nZ7\nZ8\n"s,
                                                       "parvel: List index out of bounds (3)"},
                                           FailingCase{"Empty", "", "parvel: List index out of bounds (0)"}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Producers still at work ---

TEST_F(Agent, ACardWrittenAFewBytesAtATimePrintsWholeOnceComplete) {
  // Two ticks must see the same size and time before a young file is taken.
  ini.Set("TIME", "200");
  Start();
  const fs::path file = agent.Spool() / "slow.car";
  const std::string content = CardText(CardLines("SLOWLY"));
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  for (size_t at = 0; at < content.size(); at += 3) {
    const size_t size = std::min<size_t>(3, content.size() - at);
    ASSERT_EQ(write(fd, content.data() + at, size), static_cast<ssize_t>(size));
    std::this_thread::sleep_for(30ms);
  }
  close(fd);
  EXPECT_EQ(Jobs(kQueue).size(), jobs_before) << "printed before it was complete";
  const std::optional<PdfPage> card = FirstCard();
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("SLOWLY")));
  EXPECT_TRUE(Gone("slow.car"));
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

TEST_F(Agent, ACardHeldWithAnFlockLockWaitsForItsRelease) {
  DropCard(agent.Spool() / "locked.car", CardText(CardLines("LOCKED")));
  const int fd = open((agent.Spool() / "locked.car").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  Start();
  ExpectKeptAndNothingPrinted("locked.car");
  close(fd);
  const std::optional<PdfPage> card = FirstCard();
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("LOCKED")));
  EXPECT_TRUE(Gone("locked.car"));
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

// --- Entries that are no card files ---

TEST_F(Agent, AFifoAndASymbolicLinkAreNeverTakenAndTheNextCardPrints) {
  // First and second in the order, neither a regular file: the first regular card is c.car.
  ASSERT_EQ(mkfifo((agent.Spool() / "a.car").c_str(), 0644), 0);
  DropCard(agent.Folder() / "outside.car", CardText(CardLines("LINKED")));
  fs::create_symlink(agent.Folder() / "outside.car", agent.Spool() / "b.car");
  DropCard(agent.Spool() / "c.car", CardText(CardLines("REGULAR")));
  Start();
  const std::optional<PdfPage> card = FirstCard();
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("REGULAR")));
  EXPECT_TRUE(Gone("c.car"));
  // Nothing more is printed: the link's file is not a card of this folder.
  EXPECT_FALSE(WaitUntil([&] { return Jobs(kQueue).size() > jobs_before + 1; }, kQuietWindow));
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(agent.Spool() / "a.car")));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(agent.Spool() / "b.car")));
  EXPECT_TRUE(fs::exists(agent.Folder() / "outside.car"));
  EXPECT_TRUE(agent.Running());
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

// --- The CUPS server goes away ---

// Brings the private server back however the test ends.
struct CupsOutage {
  CupsOutage() { CupsEnvironment::Server().Stop(); }
  ~CupsOutage() { CupsEnvironment::Server().Start(); }
  CupsOutage(const CupsOutage&) = delete;
  CupsOutage& operator=(const CupsOutage&) = delete;
};

TEST_F(Agent, ACardWaitingWhileCupsIsDownIsKeptAndPrintsOnceItIsBack) {
  // One card first: the agent has started and found its printer.
  DropCard(agent.Spool() / "first.car", CardText(CardLines("FIRST")));
  Start();
  ASSERT_TRUE(FirstCard());
  ASSERT_TRUE(Gone("first.car"));
  {
    CupsOutage outage;
    DropCard(agent.Spool() / "second.car", CardText(CardLines("OUTAGE")));
    ASSERT_TRUE(WaitUntil([&] { return !agent.ErrorLines().empty(); })) << "no failure reported";
    EXPECT_TRUE(agent.ErrorLines().front().starts_with("parvel: ")) << agent.Errors();
    EXPECT_TRUE(fs::exists(agent.Spool() / "second.car"));
  }
  EXPECT_TRUE(Gone("second.car")) << agent.Errors();
  const std::optional<PdfPage> card = NextCard(kQueue, jobs_before + 1);
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("OUTAGE")));
  EXPECT_EQ(Jobs(kQueue).size(), jobs_before + 2);
  EXPECT_TRUE(agent.Running());
}

TEST_F(Agent, StartedWhileCupsIsDownItPrintsOnItsPrinterOnceCupsIsBack) {
  DropCard(agent.Spool() / "card.car", CardText(CardLines("BOOT")));
  {
    CupsOutage outage;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return !agent.ErrorLines().empty(); })) << "no failure reported";
    EXPECT_TRUE(fs::exists(agent.Spool() / "card.car"));
  }
  EXPECT_TRUE(Gone("card.car")) << agent.Errors();
  const std::optional<PdfPage> card = FirstCard();
  ASSERT_TRUE(card);
  EXPECT_EQ(SortedWords(*card), Sorted(CardLines("BOOT")));
  EXPECT_EQ(Jobs(kQueue).size(), jobs_before + 1);
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace parvel::e2e
