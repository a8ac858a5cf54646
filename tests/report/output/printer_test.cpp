#include "report/output/printer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "report/base/errors.h"
#include "report/output/printer_list.h"
#include "tests/support/scoped_printers.h"

namespace parvel::report {
namespace {

using platform::DeviceSettings;

const char* kCr80 = "CR80 2.13 x 3.38 in";
const char* kA4 = "A4 210 x 297 mm";

class PrinterTest : public ::testing::Test {
 protected:
  PrinterTest() { printers.surfaces.log->next_job_id = 42; }
  const std::vector<std::string>& Log() { return printers.Calls(); }
  bool Logged(const std::string& line) { return std::count(Log().begin(), Log().end(), line) > 0; }

  doubles::OfficePrinters printers;
};

TEST_F(PrinterTest, SelectsByNameAndFallsBackToScreen) {
  struct Case {
    const char* given;
    const char* selected;
  } cases[] = {{"Card", "Card"}, {"Default", "Office"}, {"Not Installed", "Office"}, {"Screen", "Screen"}};
  for (const Case& c : cases) {
    TppPrinter printer;
    printer.SetPrinterName(c.given);
    EXPECT_EQ(printer.PrinterName(), c.selected) << c.given;
    EXPECT_NE(printer.Handle(), nullptr) << c.given;
  }
  // A printer whose measuring context cannot be made is marked and replaced by the screen.
  printers.spooler.Find("Empty")->fail_surfaces = true;
  TppPrinter printer;
  printer.SetPrinterName("Empty");
  ASSERT_NE(printer.Handle(), nullptr);
  EXPECT_EQ(printer.PrinterName(), "Screen");
  EXPECT_FALSE(PrinterList().GetPrinterInfo("Empty")->Valid());
  EXPECT_EQ(printer.PixelsPerInch(dirVertical), 96);
}

TEST_F(PrinterTest, DeviceMetricsGiveTheUnprintableMargins) {
  TppPrinter printer;
  printer.SetPrinterName("Office");
  const auto m = printer.PrintableMargins();
  EXPECT_EQ(m.left, 50);
  EXPECT_EQ(m.top, 60);
  EXPECT_EQ(m.right, 50);
  EXPECT_EQ(m.bottom, 60);
  EXPECT_EQ(printer.PixelsPerInch(dirHorizontal), 600);
  EXPECT_EQ(printer.PhysicalWidth(), 5100);
  EXPECT_TRUE(printer.IsColor());
  EXPECT_FALSE(printer.ShowPropertiesDialog());
}

TEST_F(PrinterTest, ApplySetupWritesTheSettingsRecord) {
  TppPrinter printer;
  TppPrinterSetup& s = printer.StoredPrinterSetup();
  s.SetPrinterName("Office");
  s.SetUnits(utMillimeters);
  s.SetPaperName(kA4);
  s.SetOrientation(poLandscape);
  s.SetCopies(3);
  s.SetDuplex(dpHorizontal);
  s.SetDocumentName("Report");
  const DeviceSettings* d = printer.DevMode();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->fields, DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize |
                           DeviceSettings::fmCopies | DeviceSettings::fmDuplex |
                           DeviceSettings::fmDefaultSource);
  EXPECT_EQ(d->orientation, 2);
  EXPECT_EQ(d->paper_size, 9);
  EXPECT_EQ(d->copies, 1);
  EXPECT_EQ(d->duplex, 2);
  EXPECT_EQ(d->default_source, 7);
  EXPECT_EQ(printer.Title(), "Report");
}

TEST_F(PrinterTest, CustomPaperTravelsInTenthsInPortraitTerms) {
  TppPrinter printer;
  TppPrinterSetup& s = printer.StoredPrinterSetup();
  s.SetPrinterName("Office");
  s.SetUnits(utMillimeters);
  s.SetOrientation(poLandscape);
  s.SetPaperWidth(85.7f);
  s.SetPaperHeight(54.0f);
  ASSERT_EQ(s.PaperName(), "Custom");
  EXPECT_EQ(printer.CustomPaperSizeTenths(), (std::pair<int32_t, int32_t>{540, 857}));
  const DeviceSettings* d = printer.DevMode();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->Has(DeviceSettings::fmPaperWidth) && d->Has(DeviceSettings::fmPaperLength));
  EXPECT_EQ(d->paper_size, 256);
  EXPECT_EQ(d->paper_width, 540);
  EXPECT_EQ(d->paper_length, 857);
}

TEST_F(PrinterTest, BinsWriteTheDriversNumbersAndItsDefaultSource) {
  struct Case {
    const char* bin;
    int16_t source;
  } cases[] = {{"Default", 15}, {"Rear", 4}, {"Front", 1}};
  for (const Case& c : cases) {
    TppPrinter printer;
    TppPrinterSetup& s = printer.StoredPrinterSetup();
    s.SetPrinterName("Card");
    s.SetBinName("Rear");
    s.SetBinName(c.bin);
    ASSERT_NE(printer.DevMode(), nullptr);
    EXPECT_EQ(printer.DevMode()->default_source, c.source) << c.bin;
    EXPECT_EQ(printer.PrinterSetup().BinName(), c.bin);
  }
}

TEST_F(PrinterTest, ReadingBackANamedPaperGivesItsSizeInWholeMillimetres) {
  TppPrinter printer;
  printer.SetPrinterName("Card");
  TppPrinterSetup& quiet = printer.StoredPrinterSetup();
  quiet.SetActive(false);
  quiet.SetUnits(utMillimeters);
  quiet.SetActive(true);
  DeviceSettings d = *printer.DevMode();
  d.fields |= DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize;
  d.orientation = 2;
  d.paper_size = 120;
  printer.SetDevMode(d);
  TppPrinterSetup& s = printer.PrinterSetup();
  EXPECT_EQ(s.PrinterName(), "Card");
  EXPECT_EQ(s.Orientation(), poLandscape);
  EXPECT_EQ(s.StoredPaperName(), kCr80);
  EXPECT_FLOAT_EQ(s.PaperWidth(), 86.0f);
  EXPECT_FLOAT_EQ(s.PaperHeight(), 54.0f);
  EXPECT_TRUE(s.Active());
}

TEST_F(PrinterTest, CanvasFontFollowsTheResolutionAndTheColourRule) {
  struct Case {
    const char* printer;
    int size;
    TColor color;
    int height;
    TColor printed;
  } cases[] = {{"Card", 9, clBlack, -38, clBlack}, {"Office", 9, clBlack, -75, clBlack},
               {"Card", 9, clRed, -38, clBlack},   {"Card", 9, clWhite, -38, clWhite},
               {"Office", 9, clRed, -75, clRed},   {"Card", 12, clBlack, -50, clBlack}};
  for (const Case& c : cases) {
    TppPrinter printer;
    printer.SetPrinterName(c.printer);
    printer.Canvas().SetFont(TppFont("Arial", c.size, {fsBold}, c.color));
    EXPECT_EQ(printer.Canvas().ScaledFont().height, c.height) << c.printer << " " << c.size;
    EXPECT_EQ(printer.Canvas().ScaledFont().color, c.printed) << c.printer << " " << c.color;
    EXPECT_EQ(printer.Canvas().ScaledFont().weight, 700);
  }
}

TEST_F(PrinterTest, CanvasForwardsToTheSurfaceWithTheScaledFont) {
  TppPrinter printer;
  printer.SetPrinterName("Card");
  TppPrinterCanvas& canvas = printer.Canvas();
  canvas.SetFont(TppFont("Arial", 9));
  EXPECT_EQ(canvas.TextExtent("abc"), 30);
  EXPECT_EQ(canvas.TabbedTextExtent("abcd", {}), 40);  // the height in the high bits is dropped
  EXPECT_EQ(canvas.TextMetrics().height, 38);
  EXPECT_TRUE(Logged("SetFont Arial -38 w400 c0"));
  EXPECT_EQ(std::count_if(Log().begin(), Log().end(),
                          [](const std::string& l) { return l.rfind("SetFont", 0) == 0; }),
            1);
}

TEST_F(PrinterTest, JobRunsThroughBracketsAndSettingsChangeAtTheNextPage) {
  TppPrinter printer;
  printer.SetPrinterName("Card");
  printer.SetTitle("Report");
  printer.Canvas().SetFont(TppFont("Arial", 9));
  printer.BeginDoc();
  EXPECT_TRUE(printer.Printing());
  printer.NewPage();
  printer.Canvas().TextRect({0, 0, 100, 40}, 10, 20, "Hello");
  DeviceSettings d = *printer.DevMode();
  d.orientation = 2;
  printer.SetDevMode(d);
  EXPECT_TRUE(printer.SettingsChanged());
  printer.SetPrinterName("Office");  // ignored while printing
  printer.EndPage();
  printer.NewPage();
  EXPECT_EQ(printer.PageNumber(), 2);
  EXPECT_EQ(printer.PhysicalWidth(), 638);  // metrics read again after the reset
  printer.EndDoc();
  EXPECT_FALSE(printer.Printing());
  EXPECT_EQ(printer.PageNumber(), 0);
  EXPECT_EQ(printer.JobId(), 42);
  EXPECT_EQ(printer.PrinterName(), "Card");
  const std::vector<std::string> expected = {"CreatePrintingContext Card",
                                             "StartDoc Report",
                                             "StartPage",
                                             "SetFont Arial -38 w400 c0",
                                             "TextOut 10,20 clip (0,0,100,40) \"Hello\"",
                                             "EndPage",
                                             "Reset orientation 2",
                                             "StartPage",
                                             "EndPage",
                                             "EndDoc"};
  std::vector<std::string> job(std::find(Log().begin(), Log().end(), "CreatePrintingContext Card"),
                               Log().end());
  EXPECT_EQ(job, expected);
}

TEST_F(PrinterTest, JobFailuresAreErrorsAndLeaveThePrinterIdle) {
  {
    TppPrinter printer;
    printer.SetPrinterName("Screen");
    try {
      printer.BeginDoc();
      FAIL() << "the screen printed";
    } catch (const EPrintError& e) {
      EXPECT_STREQ(e.what(), "A impressora \"Screen\" não imprime.");
    }
    EXPECT_FALSE(printer.Printing());
  }
  {
    TppPrinter printer;
    printer.SetPrinterName("Card");
    printer.BeginDoc();
    printer.NewPage();
    printers.surfaces.log->refuse_jobs = true;
    try {
      printer.EndDoc();
      FAIL() << "a refused job looked sent";
    } catch (const EPrintError& e) {
      EXPECT_NE(std::string(e.what()).find("not accepting jobs"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(printer.Printing());
    EXPECT_EQ(printer.JobId(), 0);
  }
  {
    // A printer that can measure but no longer print: the job does not start at all.
    TppPrinter printer;
    printer.SetPrinterName("Card");
    ASSERT_NE(printer.Handle(), nullptr);
    printers.spooler.Find("Card")->fail_surfaces = true;
    EXPECT_THROW(printer.BeginDoc(), EPrintError);
    EXPECT_FALSE(printer.Printing());
  }
}

TEST_F(PrinterTest, SetPrinterSetupTakesOverOnlyADifferentSetup) {
  TppPrinterSetup report;
  report.SetPrinterName("Card");
  report.SetUnits(utMillimeters);
  report.SetPaperName(kCr80);
  report.SetOrientation(poLandscape);
  report.SetDocumentName("Report");
  TppPrinter printer;
  printer.SetPrinterSetup(report);
  EXPECT_EQ(printer.PrinterName(), "Card");
  EXPECT_TRUE(printer.StoredPrinterSetup().IsEqual(report));
  EXPECT_TRUE(printer.StoredPrinterSetup().Active());
  ASSERT_NE(printer.DevMode(), nullptr);
  EXPECT_EQ(printer.DevMode()->paper_size, 120);
  EXPECT_EQ(printer.DevMode()->orientation, 2);
  // An equal setup leaves a hand-made record alone.
  DeviceSettings d = *printer.DevMode();
  d.copies = 9;
  printer.SetDevMode(d);
  printer.SetPrinterSetup(report);
  EXPECT_EQ(printer.DevMode()->copies, 9);
}

TEST_F(PrinterTest, SharedDefaultPrinterAndPrinterPixels) {
  TppPrinter* shared = DefaultPrinter();
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared, DefaultPrinter());
  TppPrinterSetup setup;
  setup.SetUnits(utPrinterPixels);
  // The default printer is the 600 dpi office printer: 215.9 mm is 5100 pixels.
  EXPECT_FLOAT_EQ(setup.PaperWidth(), 5100.0f);
  TppPrinter card;
  card.SetPrinterName("Card");
  setup.OnGetPrinter = [&](TppPrinterSetup&) -> TppCustomPrinter* { return &card; };
  EXPECT_FLOAT_EQ(setup.PaperWidth(), 2550.0f);
}

}  // namespace
}  // namespace parvel::report
