// The main form: start-up from the INI file, and the tick that takes one card from the spool
// folder, prints it through the print double and deletes it, or keeps it and reports why.
#include "app/agent/form.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/agent/card_journal.h"
#include "app/agent/config.h"
#include "platform/linux/qt_message_box.h"
#include "platform/message_box.h"
#include "platform/testing/doubles.h"
#include "tests/app/agent/agent_doubles.h"
#include "tests/support/scoped_printers.h"

namespace parvel::agent {
namespace {

namespace fs = std::filesystem;
using platform::doubles::MessageBoxDouble;
using platform::doubles::ScratchFolder;
using testing::EightLines;
using testing::PrintDouble;
using testing::TimerDouble;
using testing::WriteFile;

const char* const kPositions =
    "TOP1=1\nTOP2=2\nTOP3=3\nTOP4=4\nTOP5=5\nTOP6=6\nTOP7=7\nTOP8=8\n"
    "LEFT1=50\nLEFT2=10\nLEFT3=10\nLEFT4=50\nLEFT5=10\nLEFT6=10\nLEFT7=10\nLEFT8=-3\n";

class FormTest : public ::testing::Test {
 protected:
  FormTest() {
    Restart();
    spool = scratch.path() / "spool";
    fs::create_directory(spool);
  }

  // A new form, as after the agent's end and start: the old one goes first.
  void Restart() {
    form.reset();
    auto owned = std::make_unique<TimerDouble>();
    timer = owned.get();
    auto owned_job_timer = std::make_unique<TimerDouble>();
    job_timer = owned_job_timer.get();
    form = std::make_unique<TForm1>(std::move(owned), std::move(owned_job_timer), print);
    form->Clock = [this] { return clock; };
    form->OnTerminate = [this] { ++terminations; };
    form->OnHideMainForm = [this] { ++hides; };
  }

  fs::path Ini(const std::string& text, const std::string& name = "parvel.INI") {
    fs::path file = scratch.path() / name;
    WriteFile(file, text);
    return file;
  }
  // A complete configuration with `extra` lines in [TELA] ahead of the rest.
  void Configure(const std::string& extra = "") {
    form->FormCreate(Ini("[TELA]\n" + extra + "PATH=" + spool.string() + "\nTIME=100\n" + kPositions));
  }
  // A card file old enough to be taken at once.
  fs::path Card(const std::string& name, const std::string& bytes) {
    fs::path path = spool / name;
    WriteFile(path, bytes);
    testing::Age(path, 10);
    return path;
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> lines;
    for (const auto& box : boxes.boxes) lines.push_back(box.caption + ": " + box.text);
    return lines;
  }

  parvel::doubles::CardAndWidePrinters printers;
  ScratchFolder scratch;
  MessageBoxDouble boxes;
  platform::ScopedInstall<platform::MessageBoxes> boxes_installed{&boxes};
  testing::JobsDouble jobs;
  platform::ScopedInstall<platform::PrintJobs> jobs_installed{&jobs};
  PrintDouble print;
  TimerDouble* timer = nullptr;
  TimerDouble* job_timer = nullptr;
  std::chrono::steady_clock::time_point clock = std::chrono::steady_clock::now();
  std::unique_ptr<TForm1> form;
  fs::path spool;
  int terminations = 0;
  int hides = 0;
};

TEST_F(FormTest, StartsPollingWithEverySetting) {
  Configure("IMPRESSORA=  Wide  \n");
  EXPECT_EQ(form->edtPath, spool.string());
  EXPECT_EQ(form->edtTime, "100");
  EXPECT_EQ(form->edtImpressora, "Wide");
  EXPECT_EQ(form->Tops[7], 8);
  EXPECT_EQ(form->Lefts[0], 50);
  EXPECT_EQ(form->Lefts[7], -3);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_TRUE(timer->Armed());
  EXPECT_EQ(timer->armed_interval, 100u);
  EXPECT_EQ(form->rParvel->PrinterSetup().PrinterName(), "Wide");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(terminations, 0);
}

TEST_F(FormTest, MissingConfigurationSaysSoAndEnds) {
  form->FormCreate(scratch.path() / "parvel.INI");
  EXPECT_TRUE(form->ConfigMissing());
  EXPECT_EQ(terminations, 1);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, platform::MessageKind::Error);
  EXPECT_EQ(boxes.boxes[0].buttons, platform::mbOK);
  EXPECT_EQ(boxes.boxes[0].caption, "Error");
  EXPECT_EQ(boxes.boxes[0].text,
            "O arquivo de configuração não foi encontrado!\rO gerênciador de impressão não irá funcionar "
            "corretamente!");
  EXPECT_FALSE(timer->Enabled());
}

TEST_F(FormTest, TakesAConfigurationNamedInAnotherCase) {
  form->FormCreate(Ini(std::string("[tela]\npath=x\ntime=$3E8\n") + kPositions, "PARVEL.ini"));
  EXPECT_FALSE(form->ConfigMissing());
  EXPECT_EQ(timer->armed_interval, 1000u);
  EXPECT_TRUE(Boxes().empty());
}

// Start-up stops at the first bad value, reports it captioned with the application title and
// keeps what it read before.
TEST_F(FormTest, ABadValueLeavesThePartlyConfiguredState) {
  const struct {
    const char* name;
    std::string ini;
    char separator;
    const char* report;
    bool polling;
  } cases[] = {
      {"no TELA", "[OTHER]\nTIME=100\n", '.', "Parvel: '' is not a valid floating point value.", false},
      {"point under a comma locale", "[TELA]\nTIME=100\nTOP1=8.731\n", ',',
       "Parvel: '8.731' is not a valid floating point value.", false},
      {"missing TIME", std::string("[TELA]\n") + kPositions, '.', "Parvel: '' is not a valid integer value.",
       false},
      {"hexadecimal TIME with blanks", std::string("[TELA]\nTIME=  $3E8 \n") + kPositions, '.', nullptr,
       true},
      {"negative TIME", std::string("[TELA]\nTIME=-5\n") + kPositions, '.',
       "Parvel: '-5' is not a valid polling interval.", false},
      {"TIME=0", std::string("[TELA]\nTIME=0\n") + kPositions, '.', nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::doubles::FixedRegionalSettings regional(c.separator);
    platform::ScopedInstall<platform::RegionalSettings> installed(&regional);
    auto owned = std::make_unique<TimerDouble>();
    TimerDouble* case_timer = owned.get();
    TForm1 fresh(std::move(owned), std::make_unique<TimerDouble>(), print);
    boxes.boxes.clear();
    fresh.FormCreate(Ini(c.ini));
    EXPECT_EQ(Boxes(), c.report ? std::vector<std::string>{c.report} : std::vector<std::string>{});
    EXPECT_EQ(case_timer->Armed(), c.polling);
    EXPECT_FALSE(fresh.ConfigMissing());
  }
}

TEST_F(FormTest, CommaSeparatorAndExponentsAreRead) {
  platform::doubles::FixedRegionalSettings comma(',');
  platform::ScopedInstall<platform::RegionalSettings> installed(&comma);
  form->FormCreate(
      Ini("[TELA]\nTIME=100\nTOP1=  8,731  \nTOP2=1,5E1\nTOP3=0\nTOP4=0\nTOP5=0\nTOP6=0\nTOP7=0\nTOP8=0\n"
          "LEFT1=0\nLEFT2=0\nLEFT3=0\nLEFT4=0\nLEFT5=0\nLEFT6=0\nLEFT7=0\nLEFT8=2e-1\n"));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_DOUBLE_EQ(form->Tops[0], 8.731);
  EXPECT_DOUBLE_EQ(form->Tops[1], 15);
  EXPECT_DOUBLE_EQ(form->Lefts[7], 0.2);
}

TEST_F(FormTest, EmptyPrinterKeepsTheDefaultAndRelativePathIsBesideTheIni) {
  form->FormCreate(Ini(std::string("[TELA]\nPATH=spool\nTIME=100\nIMPRESSORA=   \n") + kPositions));
  EXPECT_EQ(form->rParvel->PrinterSetup().PrinterName(), "Default");
  EXPECT_EQ(form->SpoolFolder(), scratch.path() / "spool");
  Card("a.car", EightLines("l"));
  form->Tick();
  EXPECT_EQ(print.cards.size(), 1u);
}

TEST_F(FormTest, PrintsOneCardPerTickInNameOrderAndDeletesIt) {
  Configure();
  Card("B.car", EightLines("B"));
  Card("a.car", EightLines("a"));
  Card("C.CAR", EightLines("C"));
  Card("x.car.txt", EightLines("x"));
  for (int tick = 0; tick < 4; ++tick) form->Tick();
  ASSERT_EQ(print.cards.size(), 3u);
  EXPECT_EQ(print.cards[0].texts[0], "a1");
  EXPECT_EQ(print.cards[1].texts[7], "B8");
  EXPECT_EQ(print.cards[2].texts[3], "C4");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(spool), {}),
            std::vector<fs::path>{spool / "x.car.txt"});
  EXPECT_EQ(hides, 4);
  EXPECT_TRUE(timer->Enabled());
}

TEST_F(FormTest, LabelsTakeTheConfiguredPlacesAndTheCardsLines) {
  Configure();
  Card("a.car", "Jos\xE9\rS\xE3o Paulo\r3\r4\r5\r6\r7\r8\r9\r");
  form->Tick();
  ASSERT_EQ(print.cards.size(), 1u);
  const testing::PrintedCard& card = print.cards[0];
  EXPECT_EQ(card.texts,
            (std::vector<std::string>{"Jos\xC3\xA9", "S\xC3\xA3o Paulo", "3", "4", "5", "6", "7", "8"}));
  EXPECT_EQ(card.lefts, (std::vector<int32_t>{50000, 10000, 10000, 50000, 10000, 10000, 10000, 0}));
  EXPECT_EQ(card.tops, (std::vector<int32_t>{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000}));
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(CardLabel(*form->rParvel, n).Caption(), "Label" + std::to_string(n));
  EXPECT_EQ(form->ListBox1.size(), 8u);
}

TEST_F(FormTest, ReloadTakesTheNewSettingsTogetherBetweenTwoCards) {
  Configure("IMPRESSORA=Wide\n");
  const fs::path other = scratch.path() / "other";
  fs::create_directory(other);
  Card("a.car", EightLines("a"));
  const std::string changed = "[TELA]\nPATH=other\nTIME=$FA\nIMPRESSORA=\n" + std::string(kPositions);
  // SIGHUP while the card prints: the card keeps the settings it began with.
  print.during = [&] {
    WriteFile(scratch.path() / "parvel.INI", changed);
    EXPECT_TRUE(form->Reload());
    EXPECT_EQ(form->edtPath, spool.string());
    EXPECT_EQ(form->rParvel->PrinterSetup().PrinterName(), "Wide");
  };
  form->Tick();
  print.during = nullptr;
  ASSERT_EQ(print.cards.size(), 1u);
  EXPECT_EQ(form->SpoolFolder(), other);
  EXPECT_EQ(timer->armed_interval, 250u);
  EXPECT_TRUE(timer->Armed());
  EXPECT_EQ(form->rParvel->PrinterSetup().PrinterName(), "Default");  // the layout's own again

  Card("b.car", EightLines("b"));  // the old folder is no longer polled
  WriteFile(other / "c.car", EightLines("c"));
  testing::Age(other / "c.car", 10);
  form->Tick();
  ASSERT_EQ(print.cards.size(), 2u);
  EXPECT_EQ(print.cards[1].texts[0], "c1");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FormTest, AReloadThatFailsIsReportedAndKeepsEverySetting) {
  Configure("IMPRESSORA=Wide\n");
  const struct {
    std::string ini;
    std::string report;
  } reloads[] = {
      {"[TELA]\nPATH=/elsewhere\nTIME=5\nTOP1=1\n", "Parvel: '' is not a valid floating point value."},
      {"[TELA]\nPATH=/elsewhere\nTIME=-5\nIMPRESSORA=\n" + std::string(kPositions),
       "Parvel: '-5' is not a valid polling interval."},
  };
  for (const auto& reload : reloads) {
    SCOPED_TRACE(reload.ini);
    WriteFile(scratch.path() / "parvel.INI", reload.ini);
    EXPECT_FALSE(form->Reload());
    EXPECT_EQ(Boxes().back(), reload.report);
    EXPECT_EQ(form->edtPath, spool.string());
    EXPECT_EQ(form->Lefts[0], 50);
    EXPECT_EQ(timer->armed_interval, 100u);
    EXPECT_EQ(form->rParvel->PrinterSetup().PrinterName(), "Wide");
  }
  fs::remove(scratch.path() / "parvel.INI");
  EXPECT_FALSE(form->Reload());
  EXPECT_EQ(form->edtPath, spool.string());
}

TEST_F(FormTest, NoTickStartsWhileACardPrints) {
  Configure();
  Card("a.car", EightLines("a"));
  Card("b.car", EightLines("b"));
  print.during = [&] {
    EXPECT_FALSE(timer->Enabled());
    EXPECT_FALSE(timer->Armed());
  };
  form->Tick();
  EXPECT_TRUE(timer->Armed());
  EXPECT_EQ(print.cards.size(), 1u);
}

TEST_F(FormTest, ACardThatFailsIsKeptAndReportedOnceWhileNothingChanges) {
  Configure();
  const fs::path card = Card("a.car", testing::Bytes("1\n2\n3\0 4\n5\n6\n7\n8\n"));
  Card("b.car", EightLines("b"));
  for (int tick = 0; tick < 3; ++tick) form->Tick();
  // ")" sorts before ".", so no "." follows.
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Parvel: List index out of bounds (3)"});
  EXPECT_TRUE(fs::exists(card));
  EXPECT_TRUE(print.cards.empty());
  EXPECT_TRUE(timer->Armed());

  WriteFile(card, "");  // the producer rewrites it, still short
  testing::Age(card, 5);
  form->Tick();
  EXPECT_EQ(Boxes().back(), "Parvel: List index out of bounds (0)");
  EXPECT_EQ(Boxes().size(), 2u);

  WriteFile(card, "1\n2\n3\n4\n5\n6\n7\n\n");  // seven lines and two final breaks: eight
  testing::Age(card, 5);
  form->Tick();
  ASSERT_EQ(print.cards.size(), 1u);
  EXPECT_EQ(print.cards[0].texts[7], "");
  EXPECT_FALSE(fs::exists(card));
}

TEST_F(FormTest, AFailedPrintKeepsTheCardAndIsTriedAgainAfterGrowingWaits) {
  Configure();
  const fs::path card = Card("a.car", EightLines("a"));
  print.failure = "The printer is offline";
  std::vector<int> tried_at;
  int now_ms = 0;
  print.during = [&] { tried_at.push_back(now_ms); };
  const auto start = clock;
  for (now_ms = 0; now_ms <= 20000; now_ms += 500) {
    clock = start + std::chrono::milliseconds(now_ms);
    form->Tick();
  }
  // Waits of 2, 4 and 8 seconds: a failing printer is not asked at every tick.
  EXPECT_EQ(tried_at, (std::vector<int>{0, 2000, 6000, 14000}));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Parvel: The printer is offline."});
  EXPECT_TRUE(fs::exists(card));

  // A changed failure is news; the first success brings the normal pace back.
  print.failure = "The queue rejects jobs";
  clock = start + std::chrono::seconds(30);
  form->Tick();
  EXPECT_EQ(Boxes().back(), "Parvel: The queue rejects jobs.");
  print.failure.clear();
  clock += std::chrono::seconds(32);
  form->Tick();
  EXPECT_EQ(print.cards.size(), 1u);
  EXPECT_FALSE(fs::exists(card));
  Card("b.car", EightLines("b"));
  form->Tick();
  EXPECT_EQ(print.cards.size(), 2u);
  EXPECT_EQ(Boxes().size(), 2u);
}

TEST_F(FormTest, ACardWithoutAUsablePrinterIsKeptAndThePrintersWarningIsNotRepeated) {
  Configure();
  const fs::path card = Card("a.car", EightLines("a"));
  std::string warning = "No printer";
  // The print operation warns by itself when it finds no usable printer.
  print.during = [&] {
    if (print.outcome == TPrintOutcome::Refused) {
      platform::ShowMessageBox(platform::MessageKind::Warning, "Warning", warning, platform::mbOK);
    }
  };
  print.outcome = TPrintOutcome::Refused;
  for (int tick = 0; tick < 3; ++tick) form->Tick();
  EXPECT_TRUE(fs::exists(card));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Warning: No printer"});

  warning = "Another printer is missing";  // a different warning is shown
  form->Tick();
  EXPECT_EQ(Boxes().size(), 2u);

  print.outcome = TPrintOutcome::Printed;
  form->Tick();
  EXPECT_FALSE(fs::exists(card));
  // Once a card has printed, the printer going away again is news.
  Card("b.car", EightLines("b"));
  warning = "No printer";
  print.outcome = TPrintOutcome::Refused;
  form->Tick();
  EXPECT_EQ(Boxes().size(), 3u);
  EXPECT_TRUE(fs::exists(spool / "b.car"));
}

TEST_F(FormTest, ThePrinterNotChosenAtStartUpIsChosenAgainForTheCard) {
  Configure("IMPRESSORA=wide\n");
  // As when CUPS did not answer at start-up: the setup fell back to another printer.
  form->rParvel->PrinterSetup().SetPrinterName("Card");
  std::string printer;
  print.during = [&] { printer = form->rParvel->PrinterSetup().PrinterName(); };
  Card("a.car", EightLines("a"));
  form->Tick();
  EXPECT_EQ(printer, "Wide");
  EXPECT_EQ(print.cards.size(), 1u);
}

TEST_F(FormTest, AFileStillBeingWrittenWaitsInSilence) {
  Configure();
  const fs::path card = spool / "a.car";
  // The producer pauses between lines, longer than a tick, with the file open.
  const int writer = open(card.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(writer, 0);
  const std::string half = "1\n2\n3\n";
  ASSERT_EQ(write(writer, half.data(), half.size()), static_cast<ssize_t>(half.size()));
  for (int tick = 0; tick < 3; ++tick) {
    clock += std::chrono::milliseconds(500);
    form->Tick();
  }
  EXPECT_TRUE(print.cards.empty());
  const std::string rest = "4\n5\n6\n7\n8\n";
  ASSERT_EQ(write(writer, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
  close(writer);  // the kernel tells the agent that its writer is done
  form->Tick();
  ASSERT_EQ(print.cards.size(), 1u);
  EXPECT_EQ(print.cards[0].texts[7], "8");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FormTest, ALockedFileWaitsInSilence) {
  Configure();
  const fs::path card = Card("a.car", EightLines("a"));
  const int writer = open(card.c_str(), O_WRONLY);
  ASSERT_EQ(flock(writer, LOCK_EX), 0);
  form->Tick();
  EXPECT_TRUE(print.cards.empty());
  close(writer);
  form->Tick();
  EXPECT_EQ(print.cards.size(), 1u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FormTest, TheSpoolFolderIsLookedForAtEveryTick) {
  fs::remove(spool);
  Configure();
  EXPECT_TRUE(Boxes().empty());
  form->Tick();
  fs::create_directory(spool);
  Card("a.car", EightLines("a"));
  form->Tick();
  EXPECT_EQ(print.cards.size(), 1u);
}

TEST_F(FormTest, ASpoolFolderThatCannotBeReachedSaysWhy) {
  WriteFile(scratch.path() / "file", "");
  form->FormCreate(
      Ini("[TELA]\nPATH=" + (scratch.path() / "file" / "spool").string() + "\nTIME=100\n" + kPositions));
  form->Tick();
  form->Tick();
  EXPECT_EQ(Boxes(),
            std::vector<std::string>{"Parvel: Cannot open the spool folder \"" +
                                     (scratch.path() / "file" / "spool").string() + "\". Not a directory."});
}

TEST_F(FormTest, OneAgentServesASpoolFolder) {
  Configure();
  auto owned = std::make_unique<TimerDouble>();
  PrintDouble second_print;
  TForm1 second(std::move(owned), std::make_unique<TimerDouble>(), second_print);
  second.FormCreate(scratch.path() / "parvel.INI");
  Card("a.car", EightLines("a"));
  form->Tick();  // the first agent holds the folder from its first tick on
  Card("b.car", EightLines("b"));
  second.Tick();
  second.Tick();
  EXPECT_TRUE(second_print.cards.empty());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Parvel: The spool folder \"" + spool.string() +
                                              "\" is served by another parvel."});
  form.reset();  // the first agent ends: the second takes over
  second.Tick();
  ASSERT_EQ(second_print.cards.size(), 1u);
  EXPECT_EQ(second_print.cards[0].texts[0], "b1");
}

TEST_F(FormTest, ATooLargeCardIsReportedAndKept) {
  Configure();
  const fs::path card = Card("a.car", "1\n" + std::string(kCardByteLimit, 'x') + "\n3\n4\n5\n6\n7\n8\n");
  form->Tick();
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Parvel: The first 8 lines of file \"" + card.string() +
                                              "\" do not fit in 1 MiB; the file is kept."});
  EXPECT_TRUE(fs::exists(card));
}

TEST_F(FormTest, ACardPutInPlaceOfTheOneInPrintStaysAndPrintsNext) {
  Configure();
  const fs::path card = Card("a.car", EightLines("old"));
  const fs::path newer = scratch.path() / "newer.car";
  WriteFile(newer, EightLines("new"));
  // Its producer renames a new card over the name while the old one prints.
  print.during = [&] {
    if (print.cards.empty()) fs::rename(newer, card);
  };
  form->Tick();
  ASSERT_TRUE(fs::exists(card));
  form->Tick();
  ASSERT_EQ(print.cards.size(), 2u);
  EXPECT_EQ(print.cards[0].texts[0], "old1");
  EXPECT_EQ(print.cards[1].texts[0], "new1");
  EXPECT_FALSE(fs::exists(card));
  EXPECT_TRUE(Boxes().empty());
}

// A card leaves the folder only when its job completed; the timer stays off while its job is
// followed.
TEST_F(FormTest, ACardIsDeletedOnlyOnceItsJobCompleted) {
  using State = platform::JobStatus::State;
  Configure();
  const fs::path card = Card("a.car", EightLines("a"));
  Card("b.car", EightLines("b"));
  jobs.states[1] = {testing::JobsDouble::With(State::kPending), testing::JobsDouble::With(State::kProcessing),
                    testing::JobsDouble::Completed()};
  form->Tick();
  EXPECT_TRUE(form->Following());
  EXPECT_TRUE(fs::exists(card));
  EXPECT_FALSE(timer->Enabled());
  EXPECT_TRUE(job_timer->Armed());
  EXPECT_EQ(job_timer->armed_interval, 10u);
  timer->Fire();  // no second card meanwhile
  EXPECT_EQ(print.cards.size(), 1u);
  job_timer->Fire();
  EXPECT_TRUE(fs::exists(card));
  job_timer->Fire();
  EXPECT_FALSE(fs::exists(card));
  EXPECT_FALSE(form->Following());
  EXPECT_TRUE(timer->Enabled());
  EXPECT_EQ(jobs.looks, (std::vector<std::pair<std::string, int>>{{"Card", 1}, {"Card", 1}, {"Card", 1}}));
  form->Tick();
  EXPECT_EQ(print.cards.size(), 2u);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(fs::exists(spool / kJournalName)) << "nothing left to remember";
}

// The looks at a job are few while it prints and close together about when the last card's
// job ended: the printer does not wait on the agent, nor CUPS on a stream of questions.
TEST_F(FormTest, LooksAtAJobGatherAboutTheTimeTheLastCardTook) {
  using State = platform::JobStatus::State;
  Configure();
  Card("a.car", EightLines("a"));
  const platform::JobStatus printing = testing::JobsDouble::With(State::kProcessing);
  jobs.states[1] = {printing, testing::JobsDouble::Completed()};
  form->Tick();
  EXPECT_EQ(job_timer->armed_interval, 10u);  // nothing known yet
  clock += std::chrono::milliseconds(1000);
  job_timer->Fire();
  ASSERT_FALSE(form->Following());

  Card("b.car", EightLines("b"));
  jobs.states[2] = {printing, printing, printing, testing::JobsDouble::Completed()};
  clock += std::chrono::milliseconds(100);
  form->Tick();
  EXPECT_EQ(job_timer->armed_interval, 900u);  // the last one took a second
  clock += std::chrono::milliseconds(900);
  job_timer->Fire();
  EXPECT_EQ(job_timer->armed_interval, 5u);  // about when it should end
  clock += std::chrono::milliseconds(500);
  job_timer->Fire();
  EXPECT_EQ(job_timer->armed_interval, 28u);  // later than that: a fiftieth of its age
  clock += std::chrono::milliseconds(28);
  job_timer->Fire();
  EXPECT_FALSE(form->Following());
}

// A job that ends without printing keeps its card, says why in CUPS's words once, and does
// not print it again until its file changes; the cards after it go on.
TEST_F(FormTest, AJobThatEndsWithoutPrintingKeepsAndHoldsItsCard) {
  using State = platform::JobStatus::State;
  Configure();
  const fs::path card = Card("a.car", EightLines("a"));
  platform::JobStatus aborted = testing::JobsDouble::With(State::kAborted);
  aborted.job_reasons = {"job-aborted-by-system"};
  aborted.printer_reasons = {"media-empty-error"};
  aborted.printer_message = "Out of cards";
  jobs.states[1] = {aborted};
  form->Tick();
  EXPECT_EQ(Boxes(),
            std::vector<std::string>{
                "Parvel: The card \"" + card.string() +
                "\" was not printed: job 1 on \"Card\" was aborted (job: job-aborted-by-system; printer: "
                "media-empty-error, Out of cards). The card is kept and prints again once its file is "
                "changed or replaced."});
  Card("b.car", EightLines("b"));
  form->Tick();
  form->Tick();
  ASSERT_EQ(print.cards.size(), 2u);
  EXPECT_EQ(print.cards[1].texts[0], "b1");
  EXPECT_TRUE(fs::exists(card));

  // Held across a restart too, until the file changes.
  Restart();
  Configure();
  form->Tick();
  EXPECT_EQ(print.cards.size(), 2u);
  testing::Age(card, 3);
  form->Tick();
  ASSERT_EQ(print.cards.size(), 3u);
  EXPECT_EQ(print.cards[2].texts[0], "a1");
  EXPECT_FALSE(fs::exists(card));
}

TEST_F(FormTest, AJobWaitingInAStoppedQueueIsReportedOnceAndFollowedUntilItPrints) {
  using State = platform::JobStatus::State;
  Configure();
  const fs::path card = Card("a.car", EightLines("a"));
  platform::JobStatus stopped = testing::JobsDouble::With(State::kPending);
  stopped.printer_stopped = true;
  stopped.printer_message = "Paused";
  jobs.states[1] = {stopped, stopped, stopped, testing::JobsDouble::Completed()};
  form->Tick();
  job_timer->Fire();
  job_timer->Fire();
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Parvel: The card \"" + card.string() +
                                              "\" waits: job 1 on \"Card\" is pending (printer: stopped, "
                                              "Paused); it prints once the printer is resumed."});
  EXPECT_TRUE(fs::exists(card));
  job_timer->Fire();
  EXPECT_FALSE(fs::exists(card));
  EXPECT_EQ(print.cards.size(), 1u) << "sent once";
}

// The document of a job that did not reach the spooler: the job is cancelled, the card kept.
TEST_F(FormTest, AJobWithoutItsDocumentIsCancelledAndTheCardTriedAgain) {
  using State = platform::JobStatus::State;
  Configure();
  const fs::path card = Card("a.car", EightLines("a"));
  print.failure_after_job = "The document did not reach the printer";
  jobs.states[1] = {testing::JobsDouble::With(State::kHeld, 0)};
  form->Tick();
  EXPECT_EQ(jobs.cancelled, std::vector<int>{1});
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Parvel: The document did not reach the printer."});
  EXPECT_TRUE(fs::exists(card));
  print.failure_after_job.clear();
  clock += std::chrono::seconds(3);
  form->Tick();
  EXPECT_FALSE(fs::exists(card));
  EXPECT_EQ(print.cards.size(), 1u);
}

// After a crash the journal names the card in print: its job is looked up, not sent again.
TEST_F(FormTest, ACardInPrintAtACrashIsLookedUpBeforeItIsSentAgain) {
  using State = platform::JobStatus::State;
  const fs::path card = spool / "a.car";
  const struct {
    const char* name;
    int job_id;
    std::deque<platform::JobStatus> states;
    size_t printed;  // cards sent afterwards
    bool kept;
    std::vector<int> cancelled;
  } cases[] = {
      {"completed", 7, {testing::JobsDouble::Completed()}, 0, false, {}},
      {"still printing",
       7,
       {testing::JobsDouble::With(State::kProcessing), testing::JobsDouble::Completed()},
       0,
       false,
       {}},
      {"created without its document", 7, {testing::JobsDouble::With(State::kPending, 0)}, 1, false, {7}},
      {"stopped before the job existed", 0, {}, 1, false, {41, 42}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Card("a.car", EightLines("a"));
    const std::optional<TFileStamp> now = StampOf(spool, "a.car");
    ASSERT_TRUE(now);
    TCardJournal journal;
    journal.Open(spool);
    journal.Begin(TCardInPrint{TCardIdentity{"a.car", *now}, "Card", 0, 0});
    if (c.job_id > 0) journal.SetJob(c.job_id, "Card");
    jobs.states[c.job_id] = c.states;
    jobs.cancelled.clear();
    jobs.empty_jobs = {41, 42};
    const size_t before = print.cards.size();
    Restart();
    Configure();
    form->Tick();
    if (form->Following()) job_timer->Fire();
    if (c.printed > 0) form->Tick();
    EXPECT_EQ(print.cards.size() - before, c.printed);
    EXPECT_EQ(fs::exists(card), c.kept);
    EXPECT_EQ(jobs.cancelled, c.cancelled);
    EXPECT_TRUE(Boxes().empty());
    fs::remove(card);
  }
}

// A modal report lets the loop run; the timer ticks on, but no card starts until it is closed.
TEST_F(FormTest, NoCardStartsWhileAReportIsOpen) {
  class ReentrantBoxes : public MessageBoxDouble {
   public:
    platform::MessageButton Show(platform::MessageKind kind, const std::string& caption,
                                 const std::string& text, platform::MessageButtons buttons) override {
      if (while_open) while_open();
      return MessageBoxDouble::Show(kind, caption, text, buttons);
    }
    std::function<void()> while_open;
  } reentrant;
  platform::ScopedInstall<platform::MessageBoxes> installed(&reentrant);
  Configure();
  Card("a.car", "short\n");
  Card("b.car", EightLines("b"));
  int ticks_inside = 0;
  reentrant.while_open = [&] {
    ++ticks_inside;
    timer->Fire();
    timer->Fire();
  };
  timer->Fire();
  EXPECT_EQ(ticks_inside, 1);
  EXPECT_TRUE(print.cards.empty());
  ASSERT_EQ(reentrant.boxes.size(), 1u);
  EXPECT_EQ(reentrant.boxes[0].text, "List index out of bounds (1)");
}

}  // namespace
}  // namespace parvel::agent

namespace parvel::agent {
namespace {

// Without a display the reports are the lines on standard error, and nothing waits for a person.
TEST(FormReports, AreOneLineEachOnTheLogWithoutADisplay) {
  parvel::doubles::CardAndWidePrinters printers;
  ScratchFolder scratch;
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  platform::linux_os::QtMessageBoxes real(platform::linux_os::QtMessageBoxes::Display::Detect, log);
  platform::ScopedInstall<platform::MessageBoxes> installed(&real);
  PrintDouble print;
  {
    TForm1 missing(std::make_unique<TimerDouble>(), std::make_unique<TimerDouble>(), print);
    missing.FormCreate(scratch.path() / "parvel.INI");
  }
  {
    TForm1 partly(std::make_unique<TimerDouble>(), std::make_unique<TimerDouble>(), print);
    WriteFile(scratch.path() / "parvel.INI", "[TELA]\nTOP1=8.731.5\n");
    partly.FormCreate(scratch.path() / "parvel.INI");
  }
  std::rewind(log);
  std::string written;
  for (int c = std::fgetc(log); c != EOF; c = std::fgetc(log)) written.push_back(static_cast<char>(c));
  std::fclose(log);
  const std::string title =
      platform::linux_os::TitleOfProgramFile(fs::read_symlink("/proc/self/exe").filename());
  EXPECT_EQ(
      written,
      "Error: O arquivo de configuração não foi encontrado! O gerênciador de impressão não irá funcionar "
      "corretamente!\n" +
          title + ": '8.731.5' is not a valid floating point value.\n");
  EXPECT_EQ(title, "form_test");  // the program file is form_test
}

}  // namespace
}  // namespace parvel::agent
