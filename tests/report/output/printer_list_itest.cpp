// The engine's printer list over a private cupsd.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <cstdlib>
#include <string>

#include "platform/linux/cups_spooler.h"
#include "platform/linux/paper_numbers.h"
#include "platform/linux/qt_drawing_surface.h"
#include "platform/services.h"
#include "report/output/printer_list.h"
#include "tests/support/cups_server.h"

namespace {

using namespace parvel::report;
using parvel::doubles::CupsEnvironment;
using parvel::doubles::CupsServer;
using parvel::platform::ScopedInstall;
using parvel::platform::Spooler;
using parvel::platform::linux_os::CupsSpooler;
using parvel::platform::linux_os::DerivedNumber;
using Names = std::vector<std::string>;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

class PrinterListOnCups : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CupsServer& server = CupsEnvironment::Server();
    server.AddQueue("card", "card_cr80.ppd");
    server.AddQueue("office", "office.ppd");
    server.AddQueue("card_landscape", "card_landscape.ppd");
    server.AddQueue("bare", "");
    server.SetDefault("office");
  }
  static CupsServer& Server() { return CupsEnvironment::Server(); }

  CupsSpooler spooler;
  ScopedInstall<Spooler> installed{&spooler};
};

// The paper the card (85.7 by 54.0 mm, landscape) takes on a printer: by size within 1 mm.
std::string CardPaper(TppPrinterCapabilities& caps) {
  for (size_t i = 0; i < caps.PaperNames.size(); ++i) {
    if (std::abs(std::stoi(caps.PaperWidths[i]) - 540) <= 10 &&
        std::abs(std::stoi(caps.PaperHeights[i]) - 857) <= 10) {
      return caps.PaperNames[i];
    }
  }
  return "Custom";
}

TEST_F(PrinterListOnCups, ListsQueuesAndTheServersDefaultUnlessLpdestSaysOtherwise) {
  TppPrinterList list(&spooler);
  EXPECT_EQ(list.PrinterNames(), (Names{"Default", "Screen", "bare", "card", "card_landscape", "office"}));
  EXPECT_EQ(list.DefaultPrinterName(), "office");
  EXPECT_EQ(list.GetPrinterInfo("Default")->Name(), "office");
  EXPECT_EQ(list.GetPrinterInfo("CARD")->Name(), "card");

  setenv("LPDEST", "card", 1);
  TppPrinterList with_lpdest(&spooler);
  EXPECT_EQ(with_lpdest.DefaultPrinterName(), "card");
  EXPECT_EQ(list.ReadDefaultPrinter(), "card");
  unsetenv("LPDEST");
  EXPECT_EQ(list.ReadDefaultPrinter(), "office");
}

TEST_F(PrinterListOnCups, NormalisesPapersAndBinsAndMatchesTheCardBySize) {
  TppPrinterList list(&spooler);
  for (const char* name : {"card", "card_landscape"}) {
    SCOPED_TRACE(name);
    TppPrinterCapabilities& card = list.GetPrinterInfo(name)->GetCapabilities();
    EXPECT_EQ(card.PaperNames, (Names{"CR80 2.13 x 3.38 in", "CR79 2.05 x 3.30 in", "Custom"}));
    EXPECT_EQ(card.Papers, (Names{"24378", "14802", "256"}));
    EXPECT_EQ(card.PaperWidths, (Names{"540", "522", "0"}));
    EXPECT_EQ(card.PaperHeights, (Names{"857", "840", "0"}));
    EXPECT_EQ(card.BinNames, (Names{"Default", "Card Hopper", "Manual Card Feed"}));
    EXPECT_EQ(card.Bins, (Names{"7", "7", "4"}));
    EXPECT_EQ(CardPaper(card), "CR80 2.13 x 3.38 in");
  }
  TppPrinterCapabilities& office = list.GetPrinterInfo("office")->GetCapabilities();
  EXPECT_EQ(office.PaperNames, (Names{"US Letter", "A4", "Custom"}));
  EXPECT_EQ(office.Papers, (Names{"1", "9", "256"}));
  EXPECT_EQ(office.BinNames, (Names{"Default", "Tray 1", "Tray 2", "Tray 3"}));
  EXPECT_EQ(office.Bins, (Names{"7", "1", "2", std::to_string(DerivedNumber("bin/tray-3"))}));
  EXPECT_TRUE(office.SupportsCopies);
  EXPECT_EQ(CardPaper(office), "Custom");

  // A queue without a driver still offers the custom paper and the default bin.
  TppPrinterCapabilities& bare = list.GetPrinterInfo("bare")->GetCapabilities();
  EXPECT_EQ(bare.PaperNames.back(), "Custom");
  EXPECT_EQ(bare.BinNames.front(), "Default");
}

TEST_F(PrinterListOnCups, PrinterDeletedAfterTheListWasBuiltReportsNothing) {
  Server().AddQueue("fleeting", "office.ppd");
  TppPrinterList list(&spooler);
  Server().DeleteQueue("fleeting");
  TppPrinterInfo* gone = list.GetPrinterInfo("fleeting");
  ASSERT_NE(gone, nullptr);
  EXPECT_EQ(gone->Name(), "fleeting");
  EXPECT_EQ(gone->GetCapabilities().PaperNames, (Names{"Custom"}));
  EXPECT_EQ(gone->GetCapabilities().BinNames, (Names{"Default"}));
  parvel::platform::linux_os::QtSurfaceFactory surfaces(spooler);
  EXPECT_EQ(surfaces.CreatePrintingContext("fleeting", nullptr), nullptr);
}

TEST_F(PrinterListOnCups, WithoutAServerOnlyThePseudoEntriesRemainUntilItAnswers) {
  std::string missing = (Server().Folder() / "nobody.sock").string();
  cupsSetServer(missing.c_str());
  TppPrinterList list(&spooler);
  EXPECT_EQ(list.PrinterNames(), (Names{"Default", "Screen"}));
  EXPECT_EQ(list.DefaultPrinterName(), "Screen");
  EXPECT_EQ(list.GetPrinterInfo("office")->Name(), "Screen");
  cupsSetServer(Server().Socket().c_str());
  EXPECT_EQ(list.GetPrinterInfo("office")->Name(), "office");
}

}  // namespace
