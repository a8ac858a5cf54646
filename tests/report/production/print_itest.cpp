// The card report printed by the producer on the card queue of a private cupsd: the events in
// order, the texts where the labels put them in the PDF the queue wrote, everything put back
// afterwards; the warning for a printer that is not there, a failure before the job, and the
// width a label measures on the real surface against the width of its printed text.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "report/base/language.h"
#include "report/output/printer_list.h"
#include "tests/report/model/model_doubles.h"
#include "tests/support/cups_server.h"
#include "tests/support/cups_tests.h"

namespace parvel::report {
namespace {

using parvel::doubles::CardJobIds;
using parvel::doubles::CupsEnvironment;
using parvel::doubles::kPrintTolerance;
using parvel::doubles::PdfPage;
using parvel::doubles::PdfWord;
using parvel::doubles::Points;
using parvel::doubles::UseCardQueue;

class CardPrint : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseCardQueue(); }

  CardPrint() : engine(doubles::InstallEngine(card)) {
    doubles::BuildCard(card, "cards");
    card.BeforePrint = [this](TComponent&) {
      log.push_back("BeforePrint");
      for (int i = 0; i < 8; ++i) doubles::CardLabelAt(card, i).SetText(lines[static_cast<size_t>(i)]);
    };
    card.AfterPrint = [this](TComponent&) { log.push_back("AfterPrint"); };
    card.OnPrintingComplete = [this](TComponent&) { log.push_back("OnPrintingComplete"); };
    listener.SetEventMask({0, 1, 70, 71, 89});
    listener.OnEventReceived = [this](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
      log.push_back(std::to_string(id));
    };
    card.AddEventListener(&listener);
  }
  ~CardPrint() override { card.RemoveEventListener(&listener); }

  // Prints and answers the pages of the new job's PDF; none when no job came.
  std::vector<PdfPage> PrintCard() {
    const std::vector<int> before = CardJobIds();
    card.Print();
    const std::vector<int> after = CardJobIds();
    if (after.size() == before.size()) return {};
    parvel::doubles::JobRecord record = CupsEnvironment::Server().WaitForJob(after.back());
    EXPECT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
    EXPECT_EQ(record.attributes["job-name"], "Report");
    return parvel::doubles::ReadPdf(CupsEnvironment::Server().OutputOf("cards"));
  }

  TppReport card;
  doubles::OnePageEngine& engine;
  TppCommunicator listener;
  std::vector<std::string> log;
  // Short enough for the right-justified labels, whose text ends 20.6 mm from the card's left edge.
  std::vector<std::string> lines = {"CARDONE", "CARD2", "CARD3", "CARDFOUR",
                                    "CARD5",   "CARD6", "CARD7", "CARD8"};
};

TEST_F(CardPrint, OneCardWithItsEventsAndTextsWhereTheLabelsSay) {
  doubles::CardLabelAt(card, 0).SetLeft(50);
  doubles::CardLabelAt(card, 0).SetTop(10);
  doubles::CardLabelAt(card, 3).SetLeft(50);
  doubles::CardLabelAt(card, 3).SetTop(30);
  TppPrinterSetup before;
  before.Assign(card.PrinterSetup());

  const std::vector<PdfPage> pages = PrintCard();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(log, (std::vector<std::string>{"BeforePrint", "70", "1", "0", "AfterPrint", "OnPrintingComplete",
                                           "71", "89"}));
  EXPECT_EQ(engine.pages, 1);
  EXPECT_NEAR(pages[0].width, Points(85700), kPrintTolerance);
  EXPECT_NEAR(pages[0].height, Points(54000), kPrintTolerance);
  for (const std::string& line : lines) EXPECT_NE(pages[0].Find(line), nullptr) << line;

  const PdfWord* first = pages[0].Find("CARDONE");
  ASSERT_NE(first, nullptr);
  EXPECT_NEAR(first->x_min, Points(50000), kPrintTolerance);  // begins at LEFT1
  const PdfWord* fourth = pages[0].Find("CARDFOUR");
  ASSERT_NE(fourth, nullptr);
  EXPECT_NEAR(fourth->x_max, Points(50000 + 11906), kPrintTolerance);  // ends 11.906 mm right of LEFT4
  EXPECT_LT(first->y_min, fourth->y_min);

  EXPECT_TRUE(card.PrinterSetup().IsEqual(before));
  EXPECT_EQ(card.PrinterDevice(), nullptr);
  EXPECT_EQ(card.Publisher().DeviceCount(), 0);
  EXPECT_FALSE(card.Producing());
}

TEST_F(CardPrint, PrinterThatIsNotThereWarnsOnceAndSendsNoJob) {
  TppReport missing;
  doubles::BuildCard(missing, "NoSuchQueue");
  doubles::InstallEngine(missing);
  bool before_print = false;
  missing.BeforePrint = [&](TComponent&) { before_print = true; };

  const std::vector<int> jobs = CardJobIds();
  ::testing::internal::CaptureStderr();
  missing.Print();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Warning: " + LoadLanguageString(1020) + "\n");
  EXPECT_EQ(CardJobIds(), jobs);
  EXPECT_FALSE(before_print);
  EXPECT_TRUE(missing.PrinterRefused());
  EXPECT_EQ(missing.PrinterDevice(), nullptr);
}

TEST_F(CardPrint, FailureInBeforePrintLeavesNoJobAndTheNextPrintWorks) {
  card.BeforePrint = [this](TComponent&) {
    log.push_back("BeforePrint");
    throw std::out_of_range("List index out of bounds (5)");
  };
  const std::vector<int> jobs = CardJobIds();
  EXPECT_THROW(card.Print(), std::out_of_range);
  EXPECT_EQ(CardJobIds(), jobs);
  EXPECT_EQ(log, (std::vector<std::string>{"BeforePrint", "AfterPrint", "OnPrintingComplete", "89"}));
  EXPECT_EQ(card.PrinterDevice(), nullptr);

  card.BeforePrint = [this](TComponent&) {
    for (int i = 0; i < 8; ++i) doubles::CardLabelAt(card, i).SetText(lines[static_cast<size_t>(i)]);
  };
  const std::vector<PdfPage> pages = PrintCard();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NE(pages[0].Find("CARD8"), nullptr);
}

TEST_F(CardPrint, AutoSizedWidthMatchesThePrintedText) {
  TppLabel& label = doubles::CardLabelAt(card, 0);
  label.SetLeft(10);
  for (const std::string& caption :
       {std::string("MEASURED"), std::string("Wide Caption Text"), std::string("i")}) {
    SCOPED_TRACE(caption);
    label.SetCaption(caption);
    const int32_t width = label.mmWidth();
    lines[0] = caption;
    const std::vector<PdfPage> pages = PrintCard();
    ASSERT_EQ(pages.size(), 1u);
    // The words of the caption on the label's own line, from the first one's left to the last
    // one's right.
    double left = 1e9;
    double right = -1e9;
    for (const PdfWord& word : pages[0].words) {
      if (caption.find(word.text) == std::string::npos || word.y_min > Points(1852 + 4498)) continue;
      left = std::min(left, word.x_min);
      right = std::max(right, word.x_max);
    }
    ASSERT_LT(left, right);
    EXPECT_NEAR(left, Points(10000), kPrintTolerance);
    EXPECT_NEAR(right - left, Points(width), kPrintTolerance);
  }
}

}  // namespace
}  // namespace parvel::report
