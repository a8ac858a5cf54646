// The card report: every value of its layout, the label positions and the card lines that
// reach the labels' printed texts.
#include "app/agent/card_report.h"

#include <gtest/gtest.h>

#include "tests/app/agent/agent_doubles.h"
#include "tests/report/model/model_doubles.h"
#include "tests/support/scoped_printers.h"

namespace parvel::agent {
namespace {

using namespace report;

class CardReport : public ::testing::Test {
 protected:
  parvel::doubles::CardAndWidePrinters printers;
};

TEST_F(CardReport, HoldsTheCardLayout) {
  std::unique_ptr<TppReport> card = CreateCardReport();
  // What the model's tests check on the card built in code, and the agent's own names.
  report::doubles::ExpectCardLayout(*card);
  EXPECT_EQ(card->Name(), "rParvel");
  EXPECT_FALSE(card->SavePrinterSetup());
  EXPECT_EQ(card->Version(), "7.0");
  EXPECT_FALSE(card->Converted());
  EXPECT_EQ(card->DataPipeline(), nullptr);

  const char* const bands[] = {"ppHeaderBand1", "ppDetailBand1", "ppFooterBand1"};
  ASSERT_EQ(card->BandCount(), 3);
  for (int b = 0; b < 3; ++b) {
    EXPECT_EQ(card->Bands(b)->Name(), bands[b]);
    EXPECT_EQ(card->Bands(b)->mmBottomOffset(), 0);
    EXPECT_EQ(card->Bands(b)->mmPrintPosition(), 0);
  }
  ASSERT_EQ(card->GetBand(btDetail)->ObjectCount(), 8);
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(CardLabel(*card, n).Name(), "ppLabel" + std::to_string(n));
  }
}

TEST_F(CardReport, PlacesTheLabelsInMillimetresWithinThePage) {
  std::unique_ptr<TppReport> card = CreateCardReport();
  const double left[8] = {50, 8.731, 0.0004, 50, 85.7, 100, -3, 8.7315};
  const double top[8] = {1.852, 0, -1, 18.256, 23.8125, 53.9, 60, 38.894};
  PlaceLabels(*card, left, top);
  // 8.7315 narrowed to single precision lies below the half; 23.8125 rounds half to even.
  const int32_t mm_left[8] = {50000, 8731, 0, 50000, 85700, 85700, 0, 8731};
  const int32_t mm_top[8] = {1852, 0, 0, 18256, 23812, 53900, 60000, 38894};
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(CardLabel(*card, n).mmLeft(), mm_left[n - 1]) << n;
    EXPECT_EQ(CardLabel(*card, n).mmTop(), mm_top[n - 1]) << n;
    // The stored size stays: a right-justified label's text still ends 11.906 mm after Left.
    EXPECT_EQ(CardLabel(*card, n).mmWidth(), 11906) << n;
  }
}

TEST_F(CardReport, CardLinesBecomeThePrintedTextsAndLeaveTheCaptions) {
  std::unique_ptr<TppReport> card = CreateCardReport();
  FillLabels(*card, {"one", "two", "three", "four", "five", "six", "seven", "eight", "nine"});
  const char* texts[] = {"one", "two", "three", "four", "five", "six", "seven", "eight"};
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(CardLabel(*card, n).Text(), texts[n - 1]);
    EXPECT_EQ(CardLabel(*card, n).Caption(), "Label" + std::to_string(n));
    EXPECT_EQ(CardLabel(*card, n).mmWidth(), 11906);
    EXPECT_EQ(CardLabel(*card, n).mmHeight(), 4498);
  }
}

TEST_F(CardReport, TooFewLinesFailAtTheFirstMissingOne) {
  std::unique_ptr<TppReport> card = CreateCardReport();
  FillLabels(*card, {"a", "b", "c", "d", "e", "f", "g", "h"});
  for (size_t count : {0u, 3u, 7u}) {
    const std::vector<std::string> lines = {"1", "2", "3", "4", "5", "6", "7"};
    try {
      FillLabels(*card, std::vector<std::string>(lines.begin(), lines.begin() + count));
      ADD_FAILURE() << count << " lines filled the card";
    } catch (const EListError& e) {
      EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(count) + ")");
    }
    for (size_t n = 1; n <= count; ++n) EXPECT_EQ(CardLabel(*card, static_cast<int>(n)).Text(), lines[n - 1]);
  }
}

}  // namespace
}  // namespace parvel::agent
