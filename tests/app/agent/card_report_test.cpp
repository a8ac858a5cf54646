// The card report: every value of its layout, the label positions and the card lines that
// reach the labels' printed texts.
#include "app/agent/card_report.h"

#include <gtest/gtest.h>

#include "tests/app/agent/agent_doubles.h"

namespace parvel::agent {
namespace {

using namespace report;

auto& printers = testing::PrinterEnvironment::Get();

TEST(CardReport, HoldsTheCardLayout) {
  std::unique_ptr<TppReport> card = CreateCardReport();
  EXPECT_EQ(card->Name(), "rParvel");
  EXPECT_EQ(card->Units(), utMillimeters);
  EXPECT_EQ(card->DeviceType(), "Printer");
  EXPECT_FALSE(card->ShowPrintDialog());
  EXPECT_FALSE(card->ShowCancelDialog());
  EXPECT_FALSE(card->SavePrinterSetup());
  EXPECT_EQ(card->mmColumnWidth(), 0);
  EXPECT_EQ(card->Version(), "7.0");
  EXPECT_FALSE(card->Converted());
  EXPECT_EQ(card->DataPipeline(), nullptr);

  const TppPrinterSetup& setup = card->PrinterSetup();
  EXPECT_EQ(setup.BinName(), "Default");
  EXPECT_EQ(setup.DocumentName(), "Report");
  EXPECT_EQ(setup.Orientation(), poLandscape);
  EXPECT_EQ(setup.PaperName(), "CR80 2.13 x 3.38 in");
  EXPECT_EQ(setup.PrinterName(), "Default");
  EXPECT_EQ(setup.PageDef().mmWidth(), 85700);
  EXPECT_EQ(setup.PageDef().mmHeight(), 54000);
  EXPECT_EQ(setup.PageDef().mmPrintableRect(), (TppMMRect{0, 0, 85700, 54000}));

  const struct {
    const char* name;
    const char* class_name;
    int32_t height;
  } bands[] = {{"ppHeaderBand1", "TppHeaderBand", 0},
               {"ppDetailBand1", "TppDetailBand", 52388},
               {"ppFooterBand1", "TppFooterBand", 0}};
  ASSERT_EQ(card->BandCount(), 3);
  for (int b = 0; b < 3; ++b) {
    EXPECT_EQ(card->Bands(b)->Name(), bands[b].name);
    EXPECT_EQ(card->Bands(b)->ClassName(), bands[b].class_name);
    EXPECT_EQ(card->Bands(b)->mmHeight(), bands[b].height);
    EXPECT_EQ(card->Bands(b)->mmBottomOffset(), 0);
    EXPECT_EQ(card->Bands(b)->mmPrintPosition(), 0);
  }

  const struct {
    int32_t top;
    TppTextAlignment alignment;
  } labels[] = {{1852, taLeftJustified},   {7144, taLeftJustified},   {12965, taLeftJustified},
                {18256, taRightJustified}, {23813, taRightJustified}, {28575, taRightJustified},
                {33867, taRightJustified}, {38894, taRightJustified}};
  ASSERT_EQ(card->GetBand(btDetail)->ObjectCount(), 8);
  for (int n = 1; n <= 8; ++n) {
    const TppLabel& label = CardLabel(*card, n);
    const std::string user_name = "Label" + std::to_string(n);
    SCOPED_TRACE(user_name);
    EXPECT_EQ(label.Name(), "pp" + user_name);
    EXPECT_EQ(label.UserName(), user_name);
    EXPECT_EQ(label.Caption(), user_name);
    EXPECT_EQ(label.TextAlignment(), labels[n - 1].alignment);
    EXPECT_EQ(label.Font(), TppFont("Arial Black", 9));
    EXPECT_TRUE(label.Transparent());
    EXPECT_TRUE(label.AutoSize());
    EXPECT_FALSE(label.WordWrap());
    EXPECT_TRUE(label.Visible());
    EXPECT_EQ(label.BandType(), btDetail);
    EXPECT_EQ(label.mmLeft(), 8731);
    EXPECT_EQ(label.mmTop(), labels[n - 1].top);
    EXPECT_EQ(label.mmWidth(), 11906);
    EXPECT_EQ(label.mmHeight(), 4498);
  }
}

TEST(CardReport, PlacesTheLabelsInMillimetresWithinThePage) {
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

TEST(CardReport, CardLinesBecomeThePrintedTextsAndLeaveTheCaptions) {
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

TEST(CardReport, TooFewLinesFailAtTheFirstMissingOne) {
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
