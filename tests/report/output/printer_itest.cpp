// The printer wrapper against a private cupsd: a card job through BeginDoc/NewPage/EndDoc
// reaches the queue as it was set up, and a printer that goes away fails clearly.
#include <gtest/gtest.h>

#include <string>

#include "platform/services.h"
#include "report/base/errors.h"
#include "report/output/printer.h"
#include "report/output/printer_list.h"
#include "tests/support/card_setup.h"
#include "tests/support/cups_server.h"

namespace parvel::report {
namespace {

using parvel::doubles::CupsEnvironment;
using parvel::doubles::kPointsPerMm;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

class PrinterCupsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool ready = false;
    if (ready) return;
    ready = true;
    CupsEnvironment::Server().AddQueue("card", "card_cr80.ppd");
    CupsEnvironment::Server().AddQueue("gone", "card_cr80.ppd");
    PrinterList();  // built now, with both queues, from the spooler the platform installed
  }
};

TEST_F(PrinterCupsTest, CardJobReachesTheQueueWithItsSetupAndText) {
  TppPrinterSetup setup;
  parvel::doubles::SetUpCard(setup, "card");
  ASSERT_EQ(setup.PrinterName(), "card");

  TppPrinter printer;
  printer.SetPrinterSetup(setup);
  ASSERT_EQ(printer.PrinterName(), "card");
  // The card paper goes to the queue by its number, not as a custom size.
  ASSERT_NE(printer.DevMode(), nullptr);
  EXPECT_FALSE(printer.DevMode()->Has(platform::DeviceSettings::fmPaperWidth));
  printer.BeginDoc();
  printer.NewPage();
  printer.Canvas().SetFont(TppFont("DejaVu Sans", 10));
  const int x = 100;
  const int y = 150;
  printer.Canvas().TextRect({0, 0, 900, 500}, x, y, "PARVEL");
  printer.EndDoc();
  ASSERT_GT(printer.JobId(), 0);

  parvel::doubles::JobRecord record = CupsEnvironment::Server().WaitForJob(printer.JobId());
  EXPECT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
  EXPECT_EQ(record.attributes["job-name"], "Report");
  EXPECT_EQ(record.attributes["orientation-requested"], "");
  EXPECT_EQ(record.attributes["media"], "CR80");

  std::vector<parvel::doubles::PdfPage> pages =
      parvel::doubles::ReadPdf(CupsEnvironment::Server().OutputOf("card"));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NEAR(pages[0].width, 85.7 * kPointsPerMm, 0.2 * kPointsPerMm);
  EXPECT_NEAR(pages[0].height, 54.0 * kPointsPerMm, 0.2 * kPointsPerMm);
  ASSERT_EQ(pages[0].words.size(), 1u);
  EXPECT_EQ(pages[0].words[0].text, "PARVEL");
  // Device pixels count from the printable area's corner.
  auto points = [](int pixels) { return pixels * 72.0 / 300.0; };
  EXPECT_NEAR(pages[0].words[0].x_min, points(printer.OffsetX() + x), 0.2 * kPointsPerMm);
  EXPECT_NEAR(pages[0].words[0].y_min, points(printer.OffsetY() + y), 0.2 * kPointsPerMm);
}

TEST_F(PrinterCupsTest, PrinterDeletedAfterSelectionFailsAtTheJob) {
  TppPrinter printer;
  printer.SetPrinterName("gone");
  ASSERT_EQ(printer.PrinterName(), "gone");
  ASSERT_NE(printer.Handle(), nullptr);
  CupsEnvironment::Server().DeleteQueue("gone");
  EXPECT_THROW(
      {
        printer.BeginDoc();
        printer.NewPage();
        printer.Canvas().TextRect({0, 0, 100, 100}, 0, 0, "lost");
        printer.EndDoc();
      },
      EPrintError);
  EXPECT_FALSE(printer.Printing());
}

}  // namespace
}  // namespace parvel::report
