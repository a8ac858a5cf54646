#include "report/output/printer_list.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "platform/testing/spooler_double.h"

namespace {

using namespace parvel::report;
using parvel::platform::BinRecord;
using parvel::platform::PaperRecord;
using parvel::platform::PaperSize;
using parvel::platform::PrinterCapabilities;
using parvel::platform::ScopedInstall;
using parvel::platform::Spooler;
using parvel::platform::doubles::CardPrinter;
using parvel::platform::doubles::DoublePrinter;
using parvel::platform::doubles::SilentPrinter;
using parvel::platform::doubles::SpoolerDouble;
using parvel::platform::doubles::WidePrinter;
using Names = std::vector<std::string>;

class PrinterListTest : public ::testing::Test {
 protected:
  PrinterListTest() {
    spooler.printers = {CardPrinter("Card"), WidePrinter("Wide")};
    spooler.default_device = "Wide";
  }
  SpoolerDouble spooler;
  ScopedInstall<Spooler> installed{&spooler};
};

TEST_F(PrinterListTest, ListsPseudoEntriesThenSpoolerPrintersInOrder) {
  TppPrinterList list(&spooler);
  EXPECT_EQ(list.PrinterNames(), (Names{"Default", "Screen", "Card", "Wide"}));
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.DefaultPrinterName(), "Wide");
  EXPECT_FALSE(list.Entry(0)->Device().has_value());
  EXPECT_EQ(list.Entry(1)->Device(), "Screen");
  EXPECT_EQ(list.Entry(2)->Port(), "file:/dev/null");
  EXPECT_TRUE(list.Entry(2)->IsLocal());
  EXPECT_FALSE(list.Entry(3)->IsLocal());
  EXPECT_TRUE(list.Entry(3)->Valid());
  EXPECT_EQ(list.Entry(4), nullptr);
}

TEST_F(PrinterListTest, WithoutPrintersTheDefaultIsScreenOrNothing) {
  struct Case {
    const char* what;
    bool unreachable;
    bool no_printers;
    std::string default_device;
    std::string expected_default;
  };
  for (const Case& c : {Case{"no printers, no default", false, true, "", "Screen"},
                        Case{"spooler unreachable", true, false, "", "Screen"},
                        Case{"default names a printer that is gone", false, true, "Gone", ""}}) {
    SCOPED_TRACE(c.what);
    spooler.unreachable = c.unreachable;
    if (c.no_printers) spooler.printers.clear();
    spooler.default_device = c.default_device;
    TppPrinterList list(&spooler);
    EXPECT_EQ(list.PrinterNames(), (Names{"Default", "Screen"}));
    EXPECT_EQ(list.DefaultPrinterName(), c.expected_default);
  }
  TppPrinterList without_spooler(nullptr);
  EXPECT_EQ(without_spooler.PrinterNames(), (Names{"Default", "Screen"}));
  EXPECT_EQ(without_spooler.DefaultPrinterName(), "Screen");
}

TEST_F(PrinterListTest, AListMadeWhileTheSpoolerDidNotAnswerTakesItsPrintersOnceItAnswers) {
  spooler.unreachable = true;
  spooler.default_device = "";
  TppPrinterList list(&spooler);
  TppPrinterInfo* screen = list.GetPrinterInfo("Screen");
  EXPECT_EQ(list.GetPrinterInfo("Card"), screen);  // the default while no printer is known
  EXPECT_EQ(list.PrinterNames(), (Names{"Default", "Screen"}));

  spooler.unreachable = false;
  spooler.default_device = "Wide";
  ASSERT_NE(list.GetPrinterInfo("Card"), nullptr);
  EXPECT_EQ(list.GetPrinterInfo("Card")->Name(), "Card");
  EXPECT_EQ(list.PrinterNames(), (Names{"Default", "Screen", "Card", "Wide"}));
  EXPECT_EQ(list.GetPrinterInfo("Screen"), screen);  // entries already handed out stay
  EXPECT_EQ(list.ReadDefaultPrinter(), "Wide");

  // Once it has answered, the list stands: a printer added later is not looked for.
  spooler.printers.push_back(CardPrinter("Later"));
  EXPECT_EQ(list.GetPrinterInfo("Later")->Name(), "Wide");
  EXPECT_EQ(list.Count(), 4);
}

TEST_F(PrinterListTest, GetPrinterInfoResolvesNames) {
  TppPrinterList list(&spooler);
  struct Case {
    std::string name;
    std::string entry;
  };
  for (const Case& c : {Case{"Default", "Wide"}, Case{"Not Installed", "Wide"}, Case{"default", "Default"},
                        Case{"card", "Card"}, Case{"Card on LPT1:", "Card"}, Case{"Nope on LPT1:", "Wide"},
                        Case{"Screen", "Screen"}}) {
    SCOPED_TRACE(c.name);
    TppPrinterInfo* info = list.GetPrinterInfo(c.name);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Name(), c.entry);
  }
  EXPECT_EQ(list.PrinterNameForDevice("Card"), "Card");
  EXPECT_EQ(list.PrinterNameForDevice("card"), "");  // devices compare exactly

  spooler.default_device = "Gone";
  EXPECT_EQ(list.ReadDefaultPrinter(), "");
  EXPECT_EQ(list.GetPrinterInfo("Not Installed"), nullptr);
  EXPECT_EQ(list.GetPrinterInfo("Default"), nullptr);
  spooler.default_device = "Card";
  EXPECT_EQ(list.ReadDefaultPrinter(), "Card");
  EXPECT_EQ(list.GetPrinterInfo("Default")->Name(), "Card");
}

TEST_F(PrinterListTest, APrinterNamedByItsAddressJoinsTheListRatherThanGivingTheDefault) {
  spooler.addresses = {"ipp://card.local/ipp/print"};
  TppPrinterList list(&spooler);
  TppPrinterInfo* info = list.GetPrinterInfo("ipp://card.local/ipp/print");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Name(), "ipp://card.local/ipp/print");
  ASSERT_TRUE(info->Device().has_value());
  EXPECT_EQ(*info->Device(), "ipp://card.local/ipp/print");
  EXPECT_FALSE(info->IsLocal());
  // Asked again, the same entry; an address the spooler does not take is any unknown name.
  EXPECT_EQ(list.GetPrinterInfo("ipp://card.local/ipp/print"), info);
  EXPECT_EQ(list.GetPrinterInfo("ipp://other/ipp/print")->Name(), "Wide");
}

// A paper as a driver reports it, without a keyword or an area.
PaperRecord Paper(std::string name, uint16_t number, std::optional<PaperSize> size = std::nullopt) {
  return PaperRecord{std::move(name), std::string(), number, size, std::nullopt};
}

// The capabilities a driver with these raw lists ends up with.
TppPrinterCapabilities Normalised(SpoolerDouble& spooler, PrinterCapabilities raw) {
  DoublePrinter p = SilentPrinter("P");
  p.capabilities = std::move(raw);
  spooler.printers = {p};
  TppPrinterList list(&spooler);
  return list.GetPrinterInfo("P")->GetCapabilities();
}

TEST_F(PrinterListTest, PapersAreNormalised) {
  struct Case {
    const char* what;
    PrinterCapabilities raw;
    Names names, numbers, widths, heights;
  };
  PrinterCapabilities own_names;
  own_names.papers = {Paper("Custom Size", 256, PaperSize{}), Paper("Letter", 1, PaperSize{2159, 2794}),
                      Paper("A4", 9, PaperSize{2100, 2970})};
  PrinterCapabilities numbers_only;
  numbers_only.papers = {Paper("", 1, PaperSize{2159, 2794}), Paper("", 999, PaperSize{540, 856})};
  PrinterCapabilities no_sizes;
  no_sizes.papers = {Paper("", 9), Paper("", 1), Paper("", 1000)};
  PrinterCapabilities zero_and_user;
  zero_and_user.papers = {Paper("Empty", 300, PaperSize{}), Paper("User defined", 301, PaperSize{}),
                          Paper("A5", 11, PaperSize{1480, 2100})};
  PrinterCapabilities one_unnamed;  // one paper without a name: every name is the table's
  one_unnamed.papers = {Paper("Letter", 1, PaperSize{2159, 2794}), Paper("", 999, PaperSize{540, 856})};
  const Case cases[] = {
      {"own names, custom number first",
       own_names,
       {"Letter", "A4", "Custom"},
       {"1", "9", "256"},
       {"2159", "2100", "0"},
       {"2794", "2970", "0"}},
      {"numbers without names",
       numbers_only,
       {"Letter 8 1/2 x 11 in", "54 x 85 mm", "Custom"},
       {"1", "999", "256"},
       {"2159", "540", "0"},
       {"2794", "856", "0"}},
      {"one paper without a name",
       one_unnamed,
       {"Letter 8 1/2 x 11 in", "54 x 85 mm", "Custom"},
       {"1", "999", "256"},
       {"2159", "540", "0"},
       {"2794", "856", "0"}},
      {"numbers without sizes",
       no_sizes,
       {"A4 210 x 297 mm", "Letter 8 1/2 x 11 in", "Custom"},
       {"9", "1", "256"},
       {"2100", "2159", "0"},
       {"2970", "2794", "0"}},
      {"sizeless papers go, a user paper is the custom one",
       zero_and_user,
       {"A5", "Custom"},
       {"11", "301"},
       {"1480", "0"},
       {"2100", "0"}},
      {"a driver that reports nothing", PrinterCapabilities{}, {"Custom"}, {"256"}, {"0"}, {"0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TppPrinterCapabilities caps = Normalised(spooler, c.raw);
    EXPECT_EQ(caps.PaperNames, c.names);
    EXPECT_EQ(caps.Papers, c.numbers);
    EXPECT_EQ(caps.PaperWidths, c.widths);
    EXPECT_EQ(caps.PaperHeights, c.heights);
    EXPECT_EQ(caps.PrinterName, "P");
  }
}

TEST_F(PrinterListTest, BinsAreNormalised) {
  PrinterCapabilities two_bins;  // a bin without a name is dropped
  two_bins.bins = {BinRecord{"Upper", "upper", 1}, BinRecord{"Manual", "manual", 4},
                   BinRecord{"", "rear", 9}};
  TppPrinterCapabilities caps = Normalised(spooler, two_bins);
  EXPECT_EQ(caps.BinNames, (Names{"Default", "Upper", "Manual"}));
  EXPECT_EQ(caps.Bins, (Names{"7", "1", "4"}));

  PrinterCapabilities own_default;
  own_default.bins = {BinRecord{"Tray", "tray", 15}, BinRecord{"Default", "auto", 1}};
  caps = Normalised(spooler, own_default);
  EXPECT_EQ(caps.BinNames, (Names{"Tray", "Default"}));
  EXPECT_EQ(caps.Bins, (Names{"15", "1"}));

  caps = Normalised(spooler, PrinterCapabilities{});
  EXPECT_EQ(caps.BinNames, (Names{"Default"}));
  EXPECT_EQ(caps.Bins, (Names{"7"}));
  EXPECT_FALSE(caps.SupportsCopies);
}

TEST_F(PrinterListTest, CapabilitiesAreReadOnceAndFailuresCountAsNothingUntilTheyPass) {
  spooler.printers[0].fail_capabilities = true;
  TppPrinterList list(&spooler);
  TppPrinterCapabilities& failing = list.GetPrinterInfo("Card")->GetCapabilities();
  EXPECT_EQ(failing.PaperNames, (Names{"Custom"}));
  EXPECT_EQ(failing.BinNames, (Names{"Default"}));
  // A printer that did not answer is asked again, and the lists are refilled where they stand.
  spooler.printers[0].fail_capabilities = false;
  EXPECT_EQ(&list.GetPrinterInfo("Card")->GetCapabilities(), &failing);
  EXPECT_GT(failing.PaperNames.size(), 1u);

  TppPrinterInfo* wide = list.GetPrinterInfo("Wide");
  int before = spooler.capability_queries;
  TppPrinterCapabilities& caps = wide->GetCapabilities();
  EXPECT_EQ(&wide->GetCapabilities(), &caps);
  EXPECT_EQ(spooler.capability_queries, before + 1);
  EXPECT_TRUE(caps.SupportsCopies);
  EXPECT_EQ(caps.PaperNames, (Names{"US Letter", "A4", "Custom"}));
  EXPECT_EQ(caps.BinNames, (Names{"Default", "Tray 1", "Tray 2", "Tray 3"}));
}

TEST_F(PrinterListTest, AListBuiltFromTheInstalledSpoolerAsksTheOneInstalledNow) {
  TppPrinterList list;  // as the shared list is built; the spooler it was built with may go
  EXPECT_EQ(list.DefaultPrinterName(), "Wide");
  {
    SpoolerDouble other;
    other.printers = spooler.printers;
    other.default_device = "Card";
    ScopedInstall<Spooler> now(&other);
    EXPECT_EQ(list.ReadDefaultPrinter(), "Card");
  }
  EXPECT_EQ(list.ReadDefaultPrinter(), "Wide");
}

TEST_F(PrinterListTest, DriverTextsAreCutLikeFixedFields) {
  PrinterCapabilities raw;
  raw.papers = {Paper(std::string(70, 'p'), 9, PaperSize{2100, 2970})};
  raw.bins = {BinRecord{std::string(30, 'b'), "upper", 1},
              BinRecord{std::string("Tray\0junk", 9), "lower", 2}};
  TppPrinterCapabilities caps = Normalised(spooler, raw);
  EXPECT_EQ(caps.PaperNames[0], std::string(64, 'p'));
  EXPECT_EQ(caps.BinNames[1], std::string(24, 'b'));
  EXPECT_EQ(caps.BinNames[2], "Tray");
}

TEST_F(PrinterListTest, ScreenHasFixedListsWithoutAskingTheSpooler) {
  TppPrinterList list(&spooler);
  int before = spooler.capability_queries;
  TppPrinterCapabilities& caps = list.GetPrinterInfo("Screen")->GetCapabilities();
  EXPECT_EQ(spooler.capability_queries, before);
  EXPECT_EQ(caps.Papers,
            (Names{"256", "1", "5", "8", "8", "9", "17", "39", "40", "19", "20", "21", "22", "23"}));
  EXPECT_EQ(caps.PaperNames.front(), "Custom");
  EXPECT_EQ(caps.PaperNames[5], "A4 210 x 297 mm");
  EXPECT_EQ(caps.PaperWidths[5], "2100");
  EXPECT_EQ(caps.PaperHeights[1], "2794");
  EXPECT_EQ(caps.Bins, (Names{"7"}));
  EXPECT_EQ(caps.BinNames, (Names{"Default"}));
  EXPECT_FALSE(caps.SupportsCopies);
}

TEST(BuiltInPaperTable, KeepsItsIrregularNamesAndSizes) {
  EXPECT_EQ(BuiltInPaperName(50), "Letter Extra 9 \\275 x 12 in");
  EXPECT_EQ(BuiltInPaperName(54), "Letter Transverse 8 \\275 x 11 in");
  EXPECT_EQ(BuiltInPaperName(56), "Letter Extra Transverse 9\\275 x 12 in");
  EXPECT_EQ(BuiltInPaperName(29), " Envelope C3  324 x 458 mm");
  EXPECT_EQ(BuiltInPaperName(5), "Legal 8 12 x 14 in");
  EXPECT_EQ(BuiltInPaperName(118), "DMPAPER_A3_EXTRA_TRANSVERSE");
  EXPECT_EQ(BuiltInPaperName(256), "Custom");
  EXPECT_EQ(BuiltInPaperName(48), "Unknown");
  EXPECT_EQ(BuiltInPaperSize(9), std::make_pair(2100, 2970));
  EXPECT_EQ(BuiltInPaperSize(1), std::make_pair(2159, 2794));  // 816 by 1056 screen pixels
  EXPECT_EQ(BuiltInPaperSize(48), std::make_pair(0, 0));
}

TEST(SharedPrinterObjects, AreBuiltOnceAndKept) {
  SpoolerDouble spooler;
  spooler.printers = {CardPrinter("Card")};
  ScopedInstall<Spooler> installed(&spooler);
  int released = 0;
  SetDefaultPrinterReleaser([&] { ++released; });
  TppPrinterList& list = PrinterList();
  spooler.printers.push_back(WidePrinter("Wide"));
  EXPECT_EQ(&PrinterList(), &list);
  EXPECT_EQ(list.PrinterNames(), (Names{"Default", "Screen", "Card"}));  // printers added later are not seen
  EXPECT_EQ(released, 1);
  SetDefaultPrinterReleaser(nullptr);

  TppPrinterInfo& none = NoPrinterInstalledInfo();
  EXPECT_EQ(&NoPrinterInstalledInfo(), &none);
  EXPECT_EQ(none.Name(), "No Printer Installed");
  EXPECT_EQ(none.Device(), "None");
  EXPECT_EQ(none.Driver(), "None");
  EXPECT_EQ(none.Port(), "");
  EXPECT_EQ(none.GetCapabilities().PaperNames, (Names{"Custom"}));
}

}  // namespace
