// The card report printed through its own generation engine on the card queue of a private
// cupsd: one job "Report" of one CR80 page with the texts where the labels put them, twice in a
// row without the first card's texts on the second, and a failure inside generation that
// reaches the caller as a print error, sends no job, and leaves the next print working.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "report/base/errors.h"
#include "report/engine/engine.h"
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

class EngineCard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseCardQueue(); }

  EngineCard() {
    doubles::BuildCard(card, "cards");
    card.BeforePrint = [this](TComponent&) {
      for (int i = 0; i < 8; ++i) doubles::CardLabelAt(card, i).SetText(lines[static_cast<size_t>(i)]);
    };
  }

  std::vector<PdfPage> PrintCard() {
    const std::vector<int> before = CardJobIds();
    card.Print();
    const std::vector<int> after = CardJobIds();
    if (after.size() != before.size() + 1) {
      ADD_FAILURE() << "jobs before " << before.size() << ", after " << after.size();
      return {};
    }
    parvel::doubles::JobRecord record = CupsEnvironment::Server().WaitForJob(after.back());
    EXPECT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
    EXPECT_EQ(record.attributes["job-name"], "Report");
    return parvel::doubles::ReadPdf(CupsEnvironment::Server().OutputOf("cards"));
  }

  TppReport card;
  std::vector<std::string> lines = {"CARDONE", "CARD2", "CARD3", "CARDFOUR",
                                    "CARD5",   "CARD6", "CARD7", "CARD8"};
};

TEST_F(EngineCard, TwoCardsInARowEachOnePageWithItsOwnTexts) {
  ASSERT_NE(dynamic_cast<TppEngine*>(card.Engine()), nullptr);
  doubles::CardLabelAt(card, 0).SetLeft(50);
  doubles::CardLabelAt(card, 0).SetTop(10);
  doubles::CardLabelAt(card, 3).SetLeft(50);
  doubles::CardLabelAt(card, 3).SetTop(30);
  std::vector<PdfPage> pages = PrintCard();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NEAR(pages[0].width, Points(85700), kPrintTolerance);
  EXPECT_NEAR(pages[0].height, Points(54000), kPrintTolerance);
  const PdfWord* first = pages[0].Find("CARDONE");
  const PdfWord* fourth = pages[0].Find("CARDFOUR");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(fourth, nullptr);
  EXPECT_NEAR(first->x_min, Points(50000), kPrintTolerance);
  EXPECT_NEAR(fourth->x_max, Points(50000 + 11906), kPrintTolerance);
  for (const std::string& line : lines) EXPECT_NE(pages[0].Find(line), nullptr) << line;

  lines = {"SECOND1", "SECOND2", "SECOND3", "SECOND4", "SECOND5", "SECOND6", "SECOND7", "SECOND8"};
  pages = PrintCard();
  ASSERT_EQ(pages.size(), 1u);
  for (const std::string& line : lines) EXPECT_NE(pages[0].Find(line), nullptr) << line;
  EXPECT_EQ(pages[0].Find("CARDONE"), nullptr);
  EXPECT_EQ(pages[0].Find("CARD8"), nullptr);
}

TEST_F(EngineCard, AFailureInGenerationIsAPrintErrorAndTheNextPrintWorks) {
  card.GetBand(btDetail)->BeforeGenerate = [](TComponent&) { throw EDataError("campo ausente"); };
  const std::vector<int> jobs = CardJobIds();
  try {
    card.Print();
    FAIL() << "no error";
  } catch (const EPrintError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Nao foi possível gerar o relatório.", 0), 0u) << message;
    EXPECT_TRUE(message.ends_with("campo ausente")) << message;
  }
  EXPECT_EQ(CardJobIds(), jobs);
  card.GetBand(btDetail)->BeforeGenerate = nullptr;
  const std::vector<PdfPage> pages = PrintCard();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NE(pages[0].Find("CARD8"), nullptr);
}

}  // namespace
}  // namespace parvel::report
