// Cards through the printer wrapper on what real CUPS queues do: filters that turn pages, a
// server that restarts, non-square resolutions, papers that come in variants, queues without
// the card's size, and drivers that CUPS itself ships. Every test runs in the C locale and in
// pt_BR.UTF-8.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/linux/cups_spooler.h"
#include "platform/linux/paper_numbers.h"
#include "platform/services.h"
#include "report/base/errors.h"
#include "report/output/printer.h"
#include "report/output/printer_info.h"
#include "report/output/printer_list.h"
#include "tests/support/card_setup.h"
#include "tests/support/cups_server.h"

namespace parvel::report {
namespace {

using parvel::doubles::CupsEnvironment;
using parvel::doubles::CupsServer;
using parvel::doubles::kPointsPerMm;
using parvel::platform::linux_os::CupsSpooler;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

struct Label {
  double x_mm;  // the left edge, or the right one when `right_aligned`
  double y_mm;
  std::string text;
  bool right_aligned = false;
};

class PrintingOnCups : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool ready = false;
    if (ready) return;
    ready = true;
    CupsServer& server = Server();
    server.AddQueue("card", "card_cr80.ppd");
    server.AddQueue("card_600x300", "card_600x300.ppd");
    server.AddQueue("landscape_filtered", "card_landscape_filtered.ppd");
    server.AddQueue("portrait_filtered", "card_portrait_filtered.ppd");
    server.AddQueue("office", "office.ppd");
    server.AddQueue("photo", "photo.ppd");
    // Drivers that CUPS and cups-filters install, written by nobody here.
    server.AddModelQueue("zebra", "drv:///sample.drv/zebra.ppd");
    server.AddModelQueue("everywhere", "drv:///cupsfilters.drv/pwgrast.ppd");
    server.AddModelQueue("generic_pdf", "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd");
    // Their filters would turn the card into label or raster data: they hold their jobs.
    server.Pause("zebra");
    server.Pause("everywhere");
    PrinterList();  // built now, with every queue, from the spooler the platform installed
  }
  static CupsServer& Server() { return CupsEnvironment::Server(); }
  static CupsSpooler& Spooler() { return dynamic_cast<CupsSpooler&>(platform::Get<platform::Spooler>()); }

  // The card as the agent's stored layout has it: CR80 by name and by size, landscape.
  static void SetUpStoredCard(TppPrinterSetup& setup, const std::string& queue) {
    parvel::doubles::SetUpCard(setup, queue);
    setup.SetPaperWidth(85.7f);
    setup.SetPaperHeight(54.0f);
  }
  static void Select(TppPrinter& printer, const std::string& queue) {
    TppPrinterSetup setup;
    SetUpStoredCard(setup, queue);
    printer.SetPrinterSetup(setup);
  }

  // Prints one card with `labels` in DejaVu Sans 10 pt; answers the job id.
  static int PrintCard(TppPrinter& printer, const std::vector<Label>& labels) {
    printer.BeginDoc();
    printer.NewPage();
    printer.Canvas().SetFont(TppFont("DejaVu Sans", 10));
    for (const Label& l : labels) {
      int x = static_cast<int>(std::lround(l.x_mm / 25.4 * printer.PixelsPerInchX())) - printer.OffsetX();
      const int y =
          static_cast<int>(std::lround(l.y_mm / 25.4 * printer.PixelsPerInchY())) - printer.OffsetY();
      if (l.right_aligned) x -= printer.Canvas().TextExtent(l.text);
      printer.Canvas().TextRect({0, 0, 30000, 30000}, x, y, l.text);
    }
    printer.EndDoc();
    return printer.JobId();
  }

  static int PrintCardOn(const std::string& queue, const std::vector<Label>& labels) {
    TppPrinter printer;
    Select(printer, queue);
    return PrintCard(printer, labels);
  }

  // The only page's word, as the queue wrote it.
  static parvel::doubles::PdfWord OnlyWord(const std::string& queue, int job, double* page_width = nullptr) {
    parvel::doubles::JobRecord record = Server().WaitForJob(job);
    EXPECT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
    std::vector<parvel::doubles::PdfPage> pages = parvel::doubles::ReadPdf(Server().OutputOf(queue));
    if (pages.size() != 1 || pages[0].words.size() != 1) {
      ADD_FAILURE() << queue << ": expected one page with one word";
      return {};
    }
    if (page_width != nullptr) *page_width = pages[0].width;
    return pages[0].words[0];
  }
};

TEST_F(PrintingOnCups, ACardReadsUprightWhateverWayTheQueueDeclaresIt) {
  // The queues hand on what CUPS's own PDF filter made of the job. A landscape-declared card
  // printer shows the card as it is; a portrait-declared one feeds it turned a quarter, with the
  // card's top along the left edge: the first line's start comes to the bottom left.
  for (const char* queue : {"landscape_filtered", "portrait_filtered"}) {
    SCOPED_TRACE(queue);
    const int job = PrintCardOn(queue, {{5, 4, "FULANO DE TAL"}});
    parvel::doubles::JobRecord record = Server().WaitForJob(job);
    ASSERT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
    parvel::doubles::Ink ink = parvel::doubles::InkOf(Server().OutputOf(queue));
    ASSERT_TRUE(ink.any);
    const bool landscape_declared = std::string(queue) == "landscape_filtered";
    if (landscape_declared) {
      EXPECT_NEAR(ink.page_width, 85.7 * kPointsPerMm, 2);
      EXPECT_NEAR(ink.page_height, 54.0 * kPointsPerMm, 2);
      EXPECT_NEAR(ink.left, 5 * kPointsPerMm, 1.5 * kPointsPerMm);
      EXPECT_LT(ink.bottom, ink.page_height / 3);  // the first line stays at the top
      EXPECT_GT(ink.right - ink.left, ink.bottom - ink.top);
    } else {
      EXPECT_NEAR(ink.page_width, 54.0 * kPointsPerMm, 2);
      EXPECT_NEAR(ink.page_height, 85.7 * kPointsPerMm, 2);
      EXPECT_LT(ink.right, ink.page_width / 3);
      EXPECT_NEAR(ink.bottom, ink.page_height - 5 * kPointsPerMm, 1.5 * kPointsPerMm);
      EXPECT_GT(ink.bottom - ink.top, ink.right - ink.left);
    }
  }
}

TEST_F(PrintingOnCups, NonSquareResolutionMeasuresAndDrawsAsTheSquareOneDoes) {
  const std::vector<Label> label{{80, 10, "WWWWWWWW", /*right_aligned=*/true}};
  const parvel::doubles::PdfWord square = OnlyWord("card", PrintCardOn("card", label));
  const parvel::doubles::PdfWord wide = OnlyWord("card_600x300", PrintCardOn("card_600x300", label));
  EXPECT_NEAR(square.x_max, 80 * kPointsPerMm, 0.2 * kPointsPerMm);
  EXPECT_NEAR(wide.x_max, 80 * kPointsPerMm, 0.2 * kPointsPerMm);
  EXPECT_NEAR(wide.x_max - wide.x_min, square.x_max - square.x_min, 0.2 * kPointsPerMm);
  EXPECT_NEAR(wide.y_max - wide.y_min, square.y_max - square.y_min, 0.2 * kPointsPerMm);
}

TEST_F(PrintingOnCups, AServerThatRestartsFailsOnlyTheJobsWhileItIsAway) {
  TppPrinter kept;
  Select(kept, "card");
  // A list of our own, built while the server answers, whose entries are first asked later.
  TppPrinterList list(&Spooler());
  TppPrinterInfo* info = list.GetPrinterInfo("card");
  ASSERT_NE(info, nullptr);

  Server().Stop();
  Spooler().Forget();
  try {
    PrintCard(kept, {{5, 5, "AWAY"}});
    ADD_FAILURE() << "a job without a server looked printed";
  } catch (const EPrintError& e) {
    EXPECT_NE(std::string(e.what()).find("\"card\""), std::string::npos) << e.what();
  }
  EXPECT_FALSE(kept.Printing());
  EXPECT_THROW(PrintCardOn("card", {{5, 5, "AWAY"}}), EPrintError);
  EXPECT_EQ(info->GetCapabilities().PaperNames, (std::vector<std::string>{"Custom"}));
  EXPECT_TRUE(PrinterList().GetPrinterInfo("card")->Valid());
  EXPECT_TRUE(info->Valid());

  Server().Start();
  EXPECT_EQ(OnlyWord("card", PrintCard(kept, {{5, 5, "BACK"}})).text, "BACK");
  EXPECT_EQ(OnlyWord("card", PrintCardOn("card", {{5, 5, "FRESH"}})).text, "FRESH");
  EXPECT_EQ(kept.PrinterName(), "card");
  EXPECT_EQ(info->GetCapabilities().PaperNames.front(), "CR80 2.13 x 3.38 in");
}

TEST_F(PrintingOnCups, ACardAsksForThePrintersDetailsOnce) {
  // Settings, measuring, colour and the job each need the printer's details: one download of
  // its driver serves them all, so a stalled server costs one wait, not five.
  Spooler().Forget();
  const size_t before = Server().RequestsFor("GET /printers/card.ppd");
  EXPECT_EQ(OnlyWord("card", PrintCardOn("card", {{5, 5, "ONCE"}})).text, "ONCE");
  EXPECT_EQ(Server().RequestsFor("GET /printers/card.ppd") - before, 1u);
}

TEST_F(PrintingOnCups, APrinterDeletedAndAddedAgainIsUsableAgain) {
  Server().AddQueue("comeback", "card_cr80.ppd");
  TppPrinterList list(&Spooler());
  platform::ScopedInstall<platform::Spooler> same(&Spooler());
  TppPrinterInfo* info = list.GetPrinterInfo("comeback");
  ASSERT_NE(info, nullptr);
  Server().DeleteQueue("comeback");
  Spooler().Forget();
  info->SetValid(false);  // as the wrapper marks it when the spooler says it is gone
  EXPECT_FALSE(info->Revalidate());
  Server().AddQueue("comeback", "card_cr80.ppd");
  EXPECT_TRUE(info->Revalidate());
  EXPECT_EQ(info->GetCapabilities().PaperNames.front(), "CR80 2.13 x 3.38 in");
}

TEST_F(PrintingOnCups, PaperVariantsKeepTheirOwnNumbersAndKeys) {
  TppPrinterCapabilities& photo = PrinterList().GetPrinterInfo("photo")->GetCapabilities();
  TppPrinterCapabilities& office = PrinterList().GetPrinterInfo("office")->GetCapabilities();
  ASSERT_EQ(photo.PaperNames, (std::vector<std::string>{"US Letter", "A4", "A4 (Borderless)", "Custom"}));
  EXPECT_EQ(photo.Papers[1], "9");
  EXPECT_EQ(office.Papers, (std::vector<std::string>{"1", "9", "256"}));
  // The borderless A4 has a number of its own, made from the paper and not from its place.
  EXPECT_EQ(photo.Papers[2],
            std::to_string(platform::linux_os::DerivedNumber("iso_a4_210x297mm/borderless")));

  for (const char* paper : {"A4", "A4 (Borderless)"}) {
    SCOPED_TRACE(paper);
    TppPrinterSetup setup;
    setup.SetPrinterName("photo");
    setup.SetPaperName(paper);
    setup.SetDocumentName("Report");
    TppPrinter printer;
    printer.SetPrinterSetup(setup);
    EXPECT_EQ(printer.PrinterSetup().PaperName(), paper);
    parvel::doubles::JobRecord record = Server().WaitForJob(PrintCard(printer, {{20, 20, "x"}}));
    EXPECT_EQ(record.attributes["media"], std::string(paper) == "A4" ? "A4" : "A4.Fullbleed");
  }
}

TEST_F(PrintingOnCups, ABinChosenByNameReadsBackAsItself) {
  TppPrinterSetup setup;
  SetUpStoredCard(setup, "card");
  TppPrinter printer;
  for (const char* bin : {"Card Hopper", "Default", "Manual Card Feed"}) {
    setup.SetBinName(bin);
    printer.SetPrinterSetup(setup);
    EXPECT_EQ(printer.PrinterSetup().BinName(), bin);
  }
}

TEST_F(PrintingOnCups, TheDefaultBinSendsNoSourceWhereTheDriverNamesNone) {
  // The photo driver lists three trays and no default one: "Default" means the queue's own.
  TppPrinterSetup setup;
  setup.SetPrinterName("photo");
  setup.SetPaperName("A4");
  setup.SetBinName("Default");
  TppPrinter printer;
  printer.SetPrinterSetup(setup);
  parvel::doubles::JobRecord record = Server().WaitForJob(PrintCard(printer, {{20, 20, "x"}}));
  EXPECT_EQ(record.state, 9);
  EXPECT_EQ(record.attributes["media-source"], "");

  setup.SetBinName("Tray 2");
  printer.SetPrinterSetup(setup);
  record = Server().WaitForJob(PrintCard(printer, {{20, 20, "x"}}));
  EXPECT_EQ(record.attributes["media-source"], "tray-2");
}

TEST_F(PrintingOnCups, ACardOnAQueueWithoutItsSizeTakesTheQueuesDefaultPaper) {
  // The office printer has neither the card's size nor custom sizes: its default paper, A4, in
  // every locale, and no media option, so the queue uses it too.
  const int job = PrintCardOn("office", {{5, 5, "CARD"}});
  parvel::doubles::JobRecord record = Server().WaitForJob(job);
  EXPECT_EQ(record.state, 9);
  EXPECT_EQ(record.attributes["media"], "");
  std::vector<parvel::doubles::PdfPage> pages = parvel::doubles::ReadPdf(Server().OutputOf("office"));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NEAR(std::max(pages[0].width, pages[0].height), 842, 1);  // A4, turned for the card
  EXPECT_NEAR(std::min(pages[0].width, pages[0].height), 595, 1);

  // CUPS's generic PDF driver: its default paper is the one CUPS chose for the server's locale.
  TppPrinter generic;
  Select(generic, "generic_pdf");
  const platform::DeviceSettings defaults = *Spooler().DefaultSettings(*Spooler().OpenPrinter("generic_pdf"));
  const auto& caps = *generic.Capabilities();
  const auto at = std::find(caps.Papers.begin(), caps.Papers.end(), std::to_string(defaults.paper_size));
  ASSERT_NE(at, caps.Papers.end());
  const size_t i = static_cast<size_t>(at - caps.Papers.begin());
  record = Server().WaitForJob(PrintCard(generic, {{5, 5, "CARD"}}));
  EXPECT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
  EXPECT_EQ(record.attributes["media"], "");
  parvel::doubles::Ink ink = parvel::doubles::InkOf(Server().OutputOf("generic_pdf"));
  EXPECT_NEAR(std::min(ink.page_width, ink.page_height), std::stoi(caps.PaperWidths[i]) / 10.0 * kPointsPerMm,
              2);
  EXPECT_NEAR(std::max(ink.page_width, ink.page_height),
              std::stoi(caps.PaperHeights[i]) / 10.0 * kPointsPerMm, 2);
}

TEST_F(PrintingOnCups, DriversThatTakeCustomSizesGetTheCardsOwnSize) {
  // Zebra's label driver and the IPP Everywhere driver take any size: the card goes as itself,
  // in portrait terms, its numbers written the same in every locale.
  for (const char* queue : {"zebra", "everywhere"}) {
    SCOPED_TRACE(queue);
    const int job = PrintCardOn(queue, {{5, 5, "CARD"}});
    parvel::doubles::JobRecord record = Server().WaitForJob(job, 0);
    EXPECT_EQ(record.attributes["media"], "custom_54x85.7mm");
    EXPECT_EQ(record.attributes["orientation-requested"], "");
    Server().CancelJobs(queue);
  }
}

}  // namespace
}  // namespace parvel::report
