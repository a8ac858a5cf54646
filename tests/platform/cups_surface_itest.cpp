// The CUPS spooler and the PDF drawing surface against a private cupsd.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "platform/linux/cups_spooler.h"
#include "platform/linux/paper_numbers.h"
#include "platform/linux/qt_drawing_surface.h"
#include "tests/support/cups_server.h"

namespace {

using namespace parvel::platform;
using namespace parvel::platform::linux_os;
using parvel::doubles::CupsEnvironment;
using parvel::doubles::CupsServer;
using parvel::doubles::kPointsPerMm;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

class CupsSurfaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CupsServer& server = CupsEnvironment::Server();
    server.AddQueue("card", "card_cr80.ppd");
    server.AddQueue("office", "office.ppd");
    server.AddQueue("card_landscape", "card_landscape.ppd");
  }
  static CupsServer& Server() { return CupsEnvironment::Server(); }

  // The card paper of the card printer, landscape, as the printer wrapper writes the record.
  static DeviceSettings CardLandscape(const PrinterCapabilities& caps) {
    DeviceSettings s;
    s.fields = DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize | DeviceSettings::fmCopies |
               DeviceSettings::fmDuplex;
    s.orientation = 2;
    s.paper_size = static_cast<int16_t>(caps.papers.at(0).number);
    return s;
  }

  CupsSpooler spooler;
  QtSurfaceFactory surfaces{spooler};
};

TEST_F(CupsSurfaceTest, ReportsQueuesWithTheirDevicePortAndLocality) {
  std::vector<PrinterEntry> printers = spooler.Printers();
  std::vector<std::string> names;
  for (const PrinterEntry& p : printers) names.push_back(p.name);
  EXPECT_NE(std::find(names.begin(), names.end(), "card"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "office"), names.end());
  for (const PrinterEntry& p : printers) {
    EXPECT_EQ(p.device, p.name);
    EXPECT_EQ(p.port, "file:" + Server().OutputOf(p.name).string());
    EXPECT_TRUE(p.is_local);
  }
}

TEST_F(CupsSurfaceTest, CardPrinterReportsPpdPapersInPortraitTermsWithMargins) {
  for (const char* device : {"card", "card_landscape"}) {
    SCOPED_TRACE(device);
    PrinterCapabilities caps = spooler.Capabilities(device);
    ASSERT_EQ(caps.papers.size(), 2u);
    EXPECT_EQ(caps.papers[0].name, "CR80 2.13 x 3.38 in");
    EXPECT_EQ(caps.papers[1].name, "CR79 2.05 x 3.30 in");
    EXPECT_EQ(caps.papers[0].key, "CR80");
    EXPECT_EQ(caps.papers[1].key, "CR79");
    // Not in the platform's table: numbered from the paper's own size name, so the number is the
    // same on every queue and in every run (stored layouts keep it).
    EXPECT_EQ(caps.papers[0].number, 24378);
    EXPECT_EQ(caps.papers[1].number, 14802);
    EXPECT_EQ(caps.papers[0].size, (PaperSize{540, 857}));
    EXPECT_EQ(caps.papers[1].size, (PaperSize{522, 840}));
    ASSERT_TRUE(caps.papers[0].area.has_value());
    EXPECT_NEAR(caps.papers[0].area->left_um, 2117, 1);
    EXPECT_NEAR(caps.papers[0].area->bottom_um, 2117, 1);
    ASSERT_EQ(caps.bins.size(), 2u);
    EXPECT_EQ(caps.bins[0].name, "Card Hopper");
    EXPECT_EQ(caps.bins[1].name, "Manual Card Feed");
    EXPECT_EQ(caps.bins[0].number, 7);
    EXPECT_EQ(caps.bins[1].number, 4);
    EXPECT_EQ(caps.bins[0].key, "auto");
    EXPECT_EQ(caps.bins[1].key, "manual");
    EXPECT_EQ(caps.dpi_x, 300);
    EXPECT_EQ(caps.dpi_y, 300);
    EXPECT_TRUE(caps.color);
  }
}

TEST_F(CupsSurfaceTest, OfficePrinterNumbersKnownSizesAndTrays) {
  PrinterCapabilities caps = spooler.Capabilities("office");
  ASSERT_EQ(caps.papers.size(), 2u);
  EXPECT_EQ(caps.papers[0].name, "US Letter");
  EXPECT_EQ(caps.papers[1].name, "A4");
  EXPECT_EQ(caps.papers[0].number, 1);
  EXPECT_EQ(caps.papers[1].number, 9);
  EXPECT_EQ(caps.papers[1].size, (PaperSize{2099, 2970}));
  ASSERT_EQ(caps.bins.size(), 3u);
  const uint16_t numbers[] = {1, 2, DerivedNumber("bin/tray-3")};
  const char* const names[] = {"Tray 1", "Tray 2", "Tray 3"};
  const char* const keys[] = {"tray-1", "tray-2", "tray-3"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(caps.bins[i].name, names[i]);
    EXPECT_EQ(caps.bins[i].number, numbers[i]);
    EXPECT_EQ(caps.bins[i].key, keys[i]);
  }
  EXPECT_EQ(caps.dpi_x, 600);
  EXPECT_FALSE(caps.color);
  EXPECT_GT(caps.copies_max, 2);

  auto handle = spooler.OpenPrinter("office");
  ASSERT_NE(handle, nullptr);
  std::optional<DeviceSettings> defaults = spooler.DefaultSettings(*handle);
  ASSERT_TRUE(defaults.has_value());
  EXPECT_EQ(defaults->paper_size, 9);  // the PPD's default, A4
  EXPECT_EQ(defaults->default_source, 1);
  EXPECT_EQ(spooler.OpenPrinter("no-such-queue"), nullptr);
}

TEST_F(CupsSurfaceTest, InformationContextGivesCardMetricsInBothOrientations) {
  PrinterCapabilities caps = spooler.Capabilities("card");
  DeviceSettings landscape = CardLandscape(caps);
  auto ic = surfaces.CreateInformationContext("card", &landscape);
  ASSERT_NE(ic, nullptr);
  EXPECT_FALSE(ic->IsPrinting());
  SurfaceMetrics m = ic->Metrics();
  EXPECT_EQ(m.dpi_x, 300);
  EXPECT_EQ(m.physical_width, 1013);  // 243 pt
  EXPECT_EQ(m.physical_height, 638);  // 153 pt
  EXPECT_EQ(m.offset_x, 25);          // 6 pt
  EXPECT_EQ(m.offset_y, 25);
  EXPECT_EQ(m.printable_width, 1013 - 50);

  DeviceSettings portrait = landscape;
  portrait.orientation = 1;
  ic->Reset(portrait);
  EXPECT_EQ(ic->Metrics().physical_width, 638);
  EXPECT_EQ(ic->Metrics().physical_height, 1013);

  ic->SetFont(SurfaceFont{"DejaVu Sans", -38});
  SurfaceTextMetrics tm = ic->TextMetrics();
  EXPECT_GT(tm.ascent, 30);
  EXPECT_GT(tm.height, tm.ascent);
  int wide = ic->TextExtent("WWWW");
  EXPECT_GT(wide, ic->TextExtent("iiii"));
  EXPECT_EQ(ic->TabbedTextExtent("WWWW", {}) & 0xFFFF, static_cast<uint32_t>(wide));
  EXPECT_EQ(ic->TabbedTextExtent("a\tb", {200}) & 0xFFFF, 200u + static_cast<uint32_t>(ic->TextExtent("b")));
  EXPECT_EQ(ic->TabbedTextExtent("a", {}) >> 16, static_cast<uint32_t>(tm.height));
  // Justification spreads its extra pixels over the counted blanks, until it is reset.
  int plain = ic->TextExtent("a b c d");
  ic->SetTextJustification(30, 3);
  EXPECT_EQ(ic->TextExtent("a b c d"), plain + 30);
  ic->SetTextJustification(0, 0);
  EXPECT_EQ(ic->TextExtent("a b c d"), plain);
}

TEST_F(CupsSurfaceTest, JobReachesQueueWithItsSettingsAndTextWhereDrawn) {
  PrinterCapabilities caps = spooler.Capabilities("card");
  DeviceSettings landscape = CardLandscape(caps);
  auto dc = surfaces.CreatePrintingContext("card", &landscape);
  ASSERT_NE(dc, nullptr);
  ASSERT_TRUE(dc->IsPrinting());
  dc->StartDoc("Report");
  dc->StartPage();
  dc->SetFont(SurfaceFont{"DejaVu Sans", -40});
  int ascent = dc->TextMetrics().ascent;
  dc->TextOut(100, 50, SurfaceRect{0, 0, 900, 500}, "PARVEL");
  dc->TextOut(400, 300, SurfaceRect{0, 0, 900, 500}, "CARD");
  dc->EndPage();
  int job = dc->EndDoc();
  ASSERT_GT(job, 0);

  parvel::doubles::JobRecord record = Server().WaitForJob(job);
  EXPECT_EQ(record.state, 9) << record.attributes["job-state-reasons"];
  EXPECT_EQ(record.attributes["job-name"], "Report");
  EXPECT_EQ(record.attributes["media"], "CR80");  // the driver's own name of the paper
  // The page has the card's landscape shape already; asking for landscape too turns it twice.
  EXPECT_EQ(record.attributes["orientation-requested"], "");
  EXPECT_EQ(record.attributes["copies"], "1");

  std::vector<parvel::doubles::PdfPage> pages = parvel::doubles::ReadPdf(Server().OutputOf("card"));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NEAR(pages[0].width, 243.0, 0.2 * kPointsPerMm);
  EXPECT_NEAR(pages[0].height, 153.0, 0.2 * kPointsPerMm);
  ASSERT_EQ(pages[0].words.size(), 2u);
  // Pixels from the printable area's corner, shifted by the 25-pixel offsets, at 300 dpi.
  auto points = [](int pixels) { return pixels * 72.0 / 300.0; };
  const auto& parvel_word = pages[0].words[0];
  EXPECT_EQ(parvel_word.text, "PARVEL");
  EXPECT_NEAR(parvel_word.x_min, points(125), 0.2 * kPointsPerMm);
  EXPECT_NEAR(parvel_word.y_min, points(75), 0.2 * kPointsPerMm) << "ascent " << ascent;
  EXPECT_EQ(pages[0].words[1].text, "CARD");
  EXPECT_NEAR(pages[0].words[1].x_min, points(425), 0.2 * kPointsPerMm);
  EXPECT_NEAR(pages[0].words[1].y_min, points(325), 0.2 * kPointsPerMm);
}

// Draws one line on one page and ends the document.
int PrintOnePage(DrawingSurface& dc) {
  dc.StartDoc("Report");
  dc.StartPage();
  dc.TextOut(10, 10, SurfaceRect{0, 0, 500, 100}, "x");
  dc.EndPage();
  return dc.EndDoc();
}

TEST_F(CupsSurfaceTest, RefusedJobRaisesWithCupsMessage) {
  Server().RejectJobs("office");
  auto dc = surfaces.CreatePrintingContext("office", nullptr);
  ASSERT_NE(dc, nullptr);
  try {
    PrintOnePage(*dc);
    ADD_FAILURE() << "a refused job was reported as printed";
  } catch (const SpoolerError& e) {
    // CUPS's own words, in the locale's language; a closed queue may open again.
    EXPECT_NE(std::string(e.what()).find("\"office\""), std::string::npos) << e.what();
    EXPECT_EQ(e.kind(), SpoolerError::Kind::kUnavailable) << e.what();
  }
  Server().RejectJobs("office", false);
  EXPECT_GT(PrintOnePage(*dc), 0);  // the surface is usable again after a refusal
}

TEST_F(CupsSurfaceTest, PrinterDeletedBeforeTheJobEndsRaisesNamingIt) {
  Server().AddQueue("doomed", "card_cr80.ppd");
  auto dc = surfaces.CreatePrintingContext("doomed", nullptr);
  ASSERT_NE(dc, nullptr);
  Server().DeleteQueue("doomed");
  try {
    PrintOnePage(*dc);
    ADD_FAILURE() << "a job for a deleted printer was reported as printed";
  } catch (const SpoolerError& e) {
    EXPECT_NE(std::string(e.what()).find("\"doomed\""), std::string::npos) << e.what();
  }
  EXPECT_EQ(surfaces.CreatePrintingContext("doomed", nullptr), nullptr);
  EXPECT_EQ(surfaces.CreateInformationContext("doomed", nullptr), nullptr);
  EXPECT_THROW(spooler.Capabilities("doomed"), SpoolerError);
}

TEST_F(CupsSurfaceTest, EachPageTakesItsOwnPaperSize) {
  PrinterCapabilities caps = spooler.Capabilities("office");
  DeviceSettings letter;
  letter.fields = DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize | DeviceSettings::fmDuplex;
  letter.paper_size = 1;
  letter.duplex = 2;
  auto dc = surfaces.CreatePrintingContext("office", &letter);
  ASSERT_NE(dc, nullptr);
  dc->StartDoc("Two sizes");
  dc->StartPage();
  dc->EndPage();
  DeviceSettings a4 = letter;
  a4.paper_size = 9;
  dc->Reset(a4);
  dc->StartPage();
  dc->EndPage();
  int job = dc->EndDoc();
  parvel::doubles::JobRecord record = Server().WaitForJob(job);
  EXPECT_EQ(record.state, 9);
  EXPECT_EQ(record.attributes["media"], "A4");
  EXPECT_EQ(record.attributes["sides"], "two-sided-long-edge");
  EXPECT_EQ(record.attributes["media-source"], "");  // CUPS names no default source
  auto pages = parvel::doubles::ReadPdf(Server().OutputOf("office"));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_NEAR(pages[0].width, 612, 0.5);
  EXPECT_NEAR(pages[0].height, 792, 0.5);
  EXPECT_NEAR(pages[1].width, 595, 0.5);
  EXPECT_NEAR(pages[1].height, 842, 0.5);
}

}  // namespace

namespace {

TEST(KeptAnswer, AQueuesAnswerServesUntilItsConfigurationChanges) {
  CupsServer& server = CupsEnvironment::Server();
  server.AddQueue("kept", "card_cr80.ppd");
  // CUPS counts changes in whole seconds: an answer from the second of a change is not kept.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  CupsSpooler spooler(std::chrono::seconds(10), std::chrono::milliseconds(0));
  const std::string ppd = "GET /printers/kept.ppd";
  EXPECT_EQ(spooler.ReadDetail("kept").capabilities.papers.at(0).key, "CR80");
  const size_t asked = server.RequestsFor(ppd);
  for (int n = 0; n < 3; ++n) EXPECT_EQ(spooler.ReadDetail("kept").capabilities.papers.at(0).key, "CR80");
  EXPECT_EQ(server.RequestsFor(ppd), asked) << "the unchanged queue was asked for its driver again";

  // Another driver: the next answer is the new one.
  std::string log;
  ASSERT_EQ(CupsServer::Run({"lpadmin", "-p", "kept", "-P", std::string(PARVEL_FIXTURES_DIR) + "/office.ppd"},
                            &log),
            0)
      << log;
  EXPECT_EQ(spooler.ReadDetail("kept").capabilities.papers.at(0).key, "Letter");
  EXPECT_GT(server.RequestsFor(ppd), asked);
  // A queue that is gone is gone at once, kept answer or not.
  server.DeleteQueue("kept");
  EXPECT_EQ(spooler.OpenPrinter("kept"), nullptr);
}

}  // namespace
