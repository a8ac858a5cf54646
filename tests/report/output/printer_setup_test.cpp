#include "report/output/printer_setup.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "platform/testing/doubles.h"
#include "report/base/component.h"
#include "tests/support/scoped_printers.h"

namespace parvel::report {
namespace {

class PrinterSetupTest : public ::testing::Test {
 protected:
  doubles::OfficePrinters printers;
};

const char* kCr80 = "CR80 2.13 x 3.38 in";
const char* kLetter = "Letter 8 1/2 x 11 in";
const char* kA4 = "A4 210 x 297 mm";
const char* kEnvelope = "Envelope #10 4 18 x 9 1/2";

TEST_F(PrinterSetupTest, InitialGeometryFollowsTheDecimalSeparator) {
  struct Case {
    char separator;
    int32_t width, height;
  } cases[] = {{'.', 215900, 279401}, {',', 210000, 297000}};
  for (const Case& c : cases) {
    platform::doubles::FixedRegionalSettings regional(c.separator);
    platform::ScopedInstall<platform::RegionalSettings> install(&regional);
    TppPrinterSetup setup;
    const TppPageDef& p = setup.PageDef();
    EXPECT_EQ(p.mmWidth(), c.width) << c.separator;
    EXPECT_EQ(p.mmHeight(), c.height) << c.separator;
    EXPECT_EQ(p.mmMarginLeft(), 6350);
    EXPECT_EQ(p.mmMarginRight(), 6350);
    EXPECT_EQ(p.mmMarginTop(), 6350);
    EXPECT_EQ(p.mmMarginBottom(), 6350);
    EXPECT_EQ(setup.PrinterName(), "Default");
    EXPECT_EQ(setup.PrinterDescription(), "Office");
    EXPECT_EQ(setup.BinName(), "Default");
    EXPECT_EQ(setup.Units(), utInches);
  }
}

TEST_F(PrinterSetupTest, BadValuesAreIgnoredWithoutEvents) {
  TppPrinterSetup setup;
  int changes = 0;
  setup.OnChange = [&](TppPrinterSetup&) { ++changes; };
  setup.OnPageDefChange = [&](TppPrinterSetup&) { ++changes; };
  setup.SetCopies(4);
  EXPECT_EQ(changes, 1);
  for (int bad : {0, -3, 4}) setup.SetCopies(bad);
  EXPECT_EQ(setup.Copies(), 4);
  const TppPageDef before = setup.PageDef();
  setup.SetMarginTop(-1);
  setup.SetPaperWidth(-2);
  EXPECT_EQ(setup.PageDef(), before);
  EXPECT_EQ(changes, 1);
}

TEST_F(PrinterSetupTest, OrientationExchangesTheSizeOnce) {
  TppPrinterSetup setup;
  int changes = 0;
  setup.OnPageDefChange = [&](TppPrinterSetup&) { ++changes; };
  setup.SetOrientation(poLandscape);
  EXPECT_EQ(setup.PageDef().mmWidth(), 279401);
  EXPECT_EQ(setup.PageDef().mmHeight(), 215900);
  setup.SetOrientation(poLandscape);
  EXPECT_EQ(setup.PageDef().mmWidth(), 279401);
  EXPECT_EQ(changes, 1);
}

TEST_F(PrinterSetupTest, RefusedGeometryChangesNothingButEnvelopesTurnLandscape) {
  TppPrinterSetup setup;
  int proposals = 0;
  setup.OnValidatePageDef = [&](TppPrinterSetup&, const TppPageDef&, bool& accept) {
    ++proposals;
    accept = false;
  };
  setup.OnPageDefChange = [](TppPrinterSetup&) { FAIL() << "refused change was announced"; };
  const TppPageDef before = setup.PageDef();
  setup.SetPaperWidth(3);
  setup.SetMarginLeft(1);
  setup.SetOrientation(poLandscape);
  EXPECT_EQ(setup.PageDef(), before);
  EXPECT_EQ(setup.Orientation(), poPortrait);
  setup.SetPaperName(kEnvelope);
  EXPECT_EQ(proposals, 4);
  EXPECT_EQ(setup.Orientation(), poLandscape);
  EXPECT_EQ(setup.PageDef(), before);
  EXPECT_EQ(setup.StoredPaperName(), "Custom");
}

TEST_F(PrinterSetupTest, PaperNameTakesThePrintersSize) {
  TppPrinterSetup setup;
  setup.SetUnits(utMillimeters);
  setup.SetPaperName(kA4);
  EXPECT_EQ(setup.PaperName(), kA4);
  EXPECT_EQ(setup.PageDef().mmWidth(), 210000);
  EXPECT_EQ(setup.PageDef().mmHeight(), 297000);
  EXPECT_EQ(setup.GetPaperNumber(), 9);
  // A size of no printer paper is "Custom", which is the printer's paper 256.
  setup.SetPaperWidth(100);
  EXPECT_EQ(setup.PaperName(), "Custom");
  EXPECT_EQ(setup.GetPaperNumber(), 256);
}

TEST_F(PrinterSetupTest, PrinterNamesResolveToInstalledPrinters) {
  struct Case {
    const char* given;
    const char* name;
    const char* description;
  } cases[] = {{"Current", "Default", "Office"},
               {"Card", "Card", "Card"},
               {"card", "Card", "Card"},
               {"Not Installed", "Office", "Office"},
               {"Default", "Default", "Office"}};
  for (const Case& c : cases) {
    TppPrinterSetup setup;
    setup.SetPrinterName("Card");
    int changes = 0;
    setup.OnChange = [&](TppPrinterSetup&) { ++changes; };
    setup.SetPrinterName(c.given);
    EXPECT_EQ(setup.PrinterName(), c.name) << c.given;
    EXPECT_EQ(setup.PrinterDescription(), c.description) << c.given;
    EXPECT_EQ(changes, 1) << c.given;
  }
}

TEST_F(PrinterSetupTest, ChangingPrinterKeepsThePaperByNumberOrSize) {
  TppPrinterSetup setup;
  setup.SetUnits(utMillimeters);
  setup.SetPaperName(kLetter);
  const TppPageDef before = setup.PageDef();
  setup.SetPrinterName("Card");  // no Letter there: the size decides, and nothing matches
  EXPECT_EQ(setup.StoredPaperName(), "Custom");
  EXPECT_EQ(setup.PageDef(), before);
  setup.SetPrinterName("Office");  // the number went with the name: the size finds Letter again
  EXPECT_EQ(setup.StoredPaperName(), kLetter);
}

TEST_F(PrinterSetupTest, PaperNameForSizeMatchesWithinOneMillimetre) {
  TppPrinterSetup setup;
  setup.SetPrinterName("Card");
  setup.SetUnits(utMillimeters);
  setup.SetOrientation(poLandscape);
  struct Case {
    float width, height;
    const char* name;
  } cases[] = {
      {85.7f, 54.0f, kCr80}, {85.6f, 53.0f, kCr80}, {85.7f, 52.9f, "Custom"}, {54.0f, 85.7f, "Custom"}};
  for (const Case& c : cases)
    EXPECT_EQ(setup.PaperNameForSize(c.width, c.height), c.name) << c.width << "x" << c.height;
  setup.SetOrientation(poPortrait);
  EXPECT_EQ(setup.PaperNameForSize(54.0f, 85.7f), kCr80);
}

TEST_F(PrinterSetupTest, FirstPaperOfTheListIsCheckedAgainstTheSize) {
  TppPrinterSetup setup;
  setup.SetUnits(utMillimeters);
  setup.SetPaperName(kA4);
  {
    // Letter is first in the printer's list: the A4 size decides the number.
    TppPrinterSetup quiet;
    quiet.Assign(setup);
    quiet.SetActive(false);
    quiet.SetPaperName(kLetter);
    EXPECT_EQ(quiet.GetPaperNumber(), 9);
  }
  setup.SetActive(false);
  setup.SetPaperName(kEnvelope);  // later in the list: the name decides
  EXPECT_EQ(setup.GetPaperNumber(), 20);
}

TEST_F(PrinterSetupTest, UnitsSnapANamedPaperToWholeMillimetres) {
  TppPrinterSetup setup;
  setup.SetPaperName(kLetter);
  int changes = 0;
  setup.OnPageDefChange = [&](TppPrinterSetup&) { ++changes; };
  setup.SetUnits(utMillimeters);
  EXPECT_EQ(setup.PageDef().mmWidth(), 216000);
  EXPECT_EQ(setup.PageDef().mmHeight(), 279000);
  EXPECT_EQ(changes, 1);
  EXPECT_FLOAT_EQ(setup.PaperWidth(), 216.0f);
}

TEST_F(PrinterSetupTest, WhileTheOwnerReadsValuesAreStoredPlainly) {
  TComponent owner;
  TppPrinterSetup setup(&owner);
  setup.OnChange = [](TppPrinterSetup&) { FAIL() << "event while reading"; };
  setup.OnPageDefChange = setup.OnChange;
  setup.OnValidatePageDef = [](TppPrinterSetup&, const TppPageDef&, bool&) {
    FAIL() << "validated while reading";
  };
  owner.IncludeState(csReading | csLoading);
  EXPECT_FALSE(setup.Active());
  setup.SetPaperWidth(8.5f);
  setup.SetPaperHeight(5.0f);
  setup.SetPaperName(kA4);
  setup.SetPrinterName("Card");
  EXPECT_EQ(setup.PageDef().mmWidth(), 215900);
  EXPECT_EQ(setup.PageDef().mmHeight(), 279401);
  EXPECT_EQ(setup.StoredPaperName(), kA4);
  EXPECT_EQ(setup.PrinterName(), "Card");
  owner.ExcludeState(csReading | csLoading);
  setup.OnPageDefChange = nullptr;
  setup.OnValidatePageDef = nullptr;
  setup.SetPaperWidth(8.0f);
  setup.ConvertLegacyPaperSize();
  EXPECT_EQ(setup.PageDef().mmWidth(), 215900);
  EXPECT_EQ(setup.PageDef().mmHeight(), 127000);
}

TEST_F(PrinterSetupTest, AssignEqualityAndSamePaper) {
  TppPrinterSetup a;
  a.SetPrinterName("Card");
  a.SetUnits(utMillimeters);
  a.SetPaperName(kCr80);
  a.SetOrientation(poLandscape);
  a.SetDocumentName("Report");
  a.SetDuplex(dpVertical);
  TppPrinterSetup b;
  b.Assign(a);
  EXPECT_TRUE(b.IsEqual(a));
  EXPECT_TRUE(b.IsSamePaper(a));
  EXPECT_EQ(b.PrinterInfo(), a.PrinterInfo());
  EXPECT_EQ(b.Units(), utMillimeters);
  b.SetCopies(2);
  EXPECT_FALSE(b.IsEqual(a));
  EXPECT_TRUE(b.IsSamePaper(a));
  b.SetOrientation(poPortrait);
  EXPECT_FALSE(b.IsSamePaper(a));
  EXPECT_EQ(a.PageDef().mmPrintableRect(), (TppMMRect{6350, 6350, 86000 - 6350, 54000 - 6350}));
}

}  // namespace
}  // namespace parvel::report
