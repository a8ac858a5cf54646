// The producer's print road on the platform doubles: one card printed with its events in
// order and everything put back afterwards; the refusals, failures and cancels with their
// clean-up; the device type, the version conversion notice, dialogs and the message pump.
#include "report/production/producer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/testing/doubles.h"
#include "report/base/errors.h"
#include "report/base/language.h"
#include "report/base/stream.h"
#include "report/output/printer_list.h"
#include "tests/report/model/model_doubles.h"

namespace parvel::report {
namespace {

using doubles::BuildCard;
using doubles::CardLabelAt;

platform::doubles::MessageBoxDouble& Boxes() {
  return dynamic_cast<platform::doubles::MessageBoxDouble&>(platform::Get<platform::MessageBoxes>());
}

class ProducerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterReportClasses(); }

  ProducerTest() : engine(doubles::InstallEngine(card)) {
    BuildCard(card);
    card.PrinterSetup().SetPrinterName("Card");
    Boxes().boxes.clear();
    listener.SetEventMask({0, 1, 3, 7, 8, 70, 71, 89});
    listener.OnEventReceived = [this](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
      log.push_back(std::to_string(id));
    };
    card.AddEventListener(&listener);
    card.BeforePrint = [this](TComponent&) {
      log.push_back("BeforePrint");
      for (int i = 0; i < 8; ++i) CardLabelAt(card, i).SetText("Line " + std::to_string(i + 1));
    };
    card.AfterPrint = [this](TComponent&) { log.push_back("AfterPrint"); };
    card.OnPrintingComplete = [this](TComponent&) { log.push_back("OnPrintingComplete"); };
  }
  ~ProducerTest() override { card.RemoveEventListener(&listener); }

  std::vector<std::string> Calls(const std::string& kind) const { return printers.CallsOf(kind); }
  const std::vector<std::string>& Jobs() const { return printers.surfaces.log->jobs; }

  parvel::doubles::OneCardPrinter printers;  // before the report, which points into its list
  TppReport card;
  doubles::OnePageEngine& engine;
  TppCommunicator listener;
  std::vector<std::string> log;
};

TEST_F(ProducerTest, PrintsOneCardWithItsEventsInOrderAndPutsEverythingBack) {
  TppPrinterSetup before;
  before.Assign(card.PrinterSetup());
  card.Print();
  // The engine is reset when the setup is put back, which ends its generation (71).
  EXPECT_EQ(log, (std::vector<std::string>{"7", "3", "BeforePrint", "70", "1", "0", "AfterPrint",
                                           "OnPrintingComplete", "71", "89"}));
  EXPECT_EQ(Jobs(), std::vector<std::string>{"Report"});
  EXPECT_EQ(Calls("StartPage").size(), 1u);
  const std::vector<std::string> texts = Calls("TextOut");
  ASSERT_EQ(texts.size(), 8u);
  EXPECT_NE(texts[0].find("\"Line 1\""), std::string::npos);
  EXPECT_NE(texts[7].find("\"Line 8\""), std::string::npos);
  EXPECT_TRUE(Boxes().boxes.empty());
  EXPECT_EQ(card.PrinterDevice(), nullptr);
  EXPECT_FALSE(card.Producing());
  EXPECT_FALSE(card.PrinterRefused());
  EXPECT_TRUE(card.PrinterSetup().IsEqual(before));
  EXPECT_EQ(card.Publisher().DeviceCount(), 0);
  // The labels keep their stored size: only Text changed.
  EXPECT_EQ(CardLabelAt(card, 3).mmWidth(), 11906);
  EXPECT_EQ(CardLabelAt(card, 3).Caption(), "Label4");
  // A second print works the same way.
  card.Print();
  EXPECT_EQ(Jobs().size(), 2u);
}

TEST_F(ProducerTest, PrinterSetupIsRestoredUnlessSaved) {
  card.PrinterSetup().SetPrinterName("Default");  // the printer reads it back as "Card"
  card.Print();
  EXPECT_EQ(card.PrinterSetup().PrinterName(), "Default");
  card.SetSavePrinterSetup(true);
  card.Print();
  EXPECT_EQ(card.PrinterSetup().PrinterName(), "Card");
}

TEST_F(ProducerTest, UnusablePrinterShowsTheWarningAndPrintsNothing) {
  struct Case {
    const char* what;
    std::function<void()> break_printer;
  } cases[] = {
      // Marked as not valid, and the spooler does not have it back yet.
      {"printer marked as not valid",
       [this] {
         PrinterList().GetPrinterInfo("Card")->SetValid(false);
         printers.spooler.printers[0].entry.device = "Gone";
       }},
      {"no context can be made", [this] { printers.spooler.printers[0].fail_surfaces = true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    Boxes().boxes.clear();
    c.break_printer();
    card.Print();
    card.Print();
    printers.spooler.printers[0].fail_surfaces = false;
    printers.spooler.printers[0].entry.device = "Card";

    ASSERT_EQ(Boxes().boxes.size(), 2u);  // once per print
    const platform::doubles::RecordedBox& box = Boxes().boxes[0];
    EXPECT_EQ(box.kind, platform::MessageKind::Warning);
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.text, LoadLanguageString(1020));
    EXPECT_EQ(box.buttons, platform::mbOK);
    EXPECT_TRUE(Jobs().empty());
    EXPECT_TRUE(Calls("StartDoc").empty());
    EXPECT_EQ(log, (std::vector<std::string>{"7", "89", "7", "89"}));
    EXPECT_TRUE(card.PrinterRefused());
    EXPECT_EQ(card.PrinterDevice(), nullptr);
    EXPECT_FALSE(card.Producing());
  }
  log.clear();
  card.Print();
  EXPECT_EQ(Jobs(), std::vector<std::string>{"Report"});
  EXPECT_FALSE(card.PrinterRefused());
}

TEST_F(ProducerTest, FailureInBeforePrintOpensNoJobAndReachesTheCaller) {
  card.BeforePrint = [this](TComponent&) {
    log.push_back("BeforePrint");
    throw std::out_of_range("List index out of bounds (3)");
  };
  try {
    card.Print();
    FAIL() << "the failure did not reach the caller";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (3)");
  }
  EXPECT_EQ(log,
            (std::vector<std::string>{"7", "3", "BeforePrint", "AfterPrint", "OnPrintingComplete", "89"}));
  EXPECT_TRUE(Calls("StartDoc").empty());
  EXPECT_EQ(engine.runs, 0);
  EXPECT_EQ(card.PrinterDevice(), nullptr);
  EXPECT_FALSE(card.Producing());

  card.BeforePrint = nullptr;
  card.Print();
  EXPECT_EQ(Jobs(), std::vector<std::string>{"Report"});
}

TEST_F(ProducerTest, FailureDuringGenerationBecomesAPrintErrorAfterTheCleanUp) {
  engine.fail = [] { throw EDataError("the pipeline cannot be opened"); };
  try {
    card.Print();
    FAIL() << "the failure did not reach the caller";
  } catch (const EPrintError& e) {
    EXPECT_EQ(std::string(e.what()), LoadLanguageString(1023) + "\r\n\r\nthe pipeline cannot be opened");
  }
  // The device cancels its job before any page was printed.
  EXPECT_TRUE(Calls("StartPage").empty());
  EXPECT_TRUE(Calls("TextOut").empty());
  EXPECT_EQ(card.PrinterDevice(), nullptr);
  EXPECT_EQ(log.back(), "89");

  engine.fail = nullptr;
  printers.surfaces.log->calls.clear();
  card.Print();
  EXPECT_EQ(Calls("TextOut").size(), 8u);
}

TEST_F(ProducerTest, CancelDuringGenerationCancelsTheJobAndStillEnds) {
  engine.fail = [this] { card.Cancel(); };
  card.Print();
  EXPECT_TRUE(engine.cancelled);
  EXPECT_TRUE(card.Cancelled());
  EXPECT_TRUE(Calls("StartPage").empty());
  EXPECT_EQ(log, (std::vector<std::string>{"7", "3", "BeforePrint", "70", "1", "0", "AfterPrint",
                                           "OnPrintingComplete", "71", "89"}));
  EXPECT_EQ(card.PrinterDevice(), nullptr);
}

TEST_F(ProducerTest, SettingsAreFrozenWhilePrinting) {
  engine.fail = [this] {
    EXPECT_TRUE(card.Printing());
    card.SetShowPrintDialog(true);
    card.SetTextFileName("frozen.txt");
    card.SetLanguage(lgGerman);
  };
  card.Print();
  EXPECT_FALSE(card.ShowPrintDialog());
  EXPECT_EQ(card.TextFileName(), "");
  EXPECT_EQ(card.Language(), lgDefault);
  card.SetShowPrintDialog(true);
  EXPECT_TRUE(card.ShowPrintDialog());
}

TEST_F(ProducerTest, DeviceTypeTakesOnlyKnownDevices) {
  struct Case {
    const char* set;
    const char* stands;
  } cases[] = {{"printer", "printer"}, {"Fax", "printer"}, {"Printer", "Printer"}, {"", "Printer"}};
  for (const Case& c : cases) {
    card.SetDeviceType(c.set);
    EXPECT_EQ(card.DeviceType(), c.stands) << c.set;
  }
  struct Number {
    int number;
    const char* type;
  } numbers[] = {{1, "Screen"}, {2, "TextFile"}, {3, "ArchiveFile"}, {0, "Printer"}, {4, "Printer"}};
  for (const Number& n : numbers) {
    card.SetDeviceByNumber(n.number);
    EXPECT_EQ(card.DeviceType(), n.type) << n.number;
  }
}

TEST_F(ProducerTest, DeviceTypeChoosesTheRoad) {
  struct Case {
    const char* type;
    size_t jobs;
  } cases[] = {
      {"printer", 1},     {"screen", 1},  // no preview: only "Screen" written so opens it
      {"Screen", 0},                      // the preview, which this program has not: nothing is produced
      {"TextFile", 0},                    // no file device is built: nothing goes to the printer instead
      {"ArchiveFile", 0},
  };
  for (const Case& c : cases) {
    printers.surfaces.log->jobs.clear();
    card.SetDeviceType(c.type);
    ASSERT_EQ(card.DeviceType(), c.type);
    card.Print();
    EXPECT_EQ(Jobs().size(), c.jobs) << c.type;
    EXPECT_FALSE(card.Producing()) << c.type;
    EXPECT_EQ(card.PrinterDevice(), nullptr) << c.type;
  }
  TppReport fresh;
  EXPECT_EQ(fresh.DeviceType(), "Screen");
}

TEST_F(ProducerTest, OlderReportPrintsAfterTheConversionNotice) {
  std::unique_ptr<TComponent> read = ReadComponentText(WriteComponentText(card));
  ASSERT_NE(read, nullptr);
  // Stored by a 3.52 version.
  std::string text = WriteComponentText(*read);
  text.replace(text.find("Version = '7.0'"), 15, "Version = '3.52'");
  read = ReadComponentText(text);
  auto& old = dynamic_cast<TppReport&>(*read);
  ASSERT_TRUE(old.ConvertedFromPre40());
  doubles::InstallEngine(old);
  const auto start = std::chrono::steady_clock::now();
  old.Print();
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(Boxes().boxes.size(), 1u);
  EXPECT_EQ(Boxes().boxes[0].kind, platform::MessageKind::None);
  EXPECT_EQ(Boxes().boxes[0].caption, "Parvel");
  EXPECT_EQ(Boxes().boxes[0].text, kConversionNotice);
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  EXPECT_FALSE(old.ConvertedFromPre40());
  EXPECT_EQ(Jobs().size(), 1u);
}

TEST_F(ProducerTest, DialogCreateEventsComeOnEveryRunWithoutDialogs) {
  int print_dialogs = 0;
  int cancel_dialogs = 0;
  int closes = 0;
  card.OnPrintDialogCreate = [&](TComponent&) { ++print_dialogs; };
  card.OnCancelDialogCreate = [&](TComponent&) { ++cancel_dialogs; };
  card.OnPrintDialogClose = [&](TComponent&) { ++closes; };
  card.Print();
  card.Print();
  EXPECT_EQ(print_dialogs, 2);
  EXPECT_EQ(cancel_dialogs, 2);
  EXPECT_EQ(closes, 0);
}

TEST(FormClasses, RegisterReplaceAndUnregister) {
  ASSERT_NE(FindFormClass("TppCustomPrintDialog"), nullptr);
  EXPECT_EQ(FindFormClass("TppCustomPrintDialog")->class_name, "TppPrintDialog");
  EXPECT_EQ(FindFormClass("TppCustomNoDataDialog")->class_name, "TppNoDataDialog");
  EXPECT_EQ(FindFormClass("TppCustomSomethingElse"), nullptr);
  const TppFormClass* original = FindFormClass("TppCustomCancelDialog");
  const TppFormClass mine{"TMyCancelDialog"};
  RegisterFormClass("TppCustomCancelDialog", &mine);
  EXPECT_EQ(FindFormClass("TppCustomCancelDialog"), &mine);
  UnregisterFormClass("TppCustomCancelDialog");
  EXPECT_EQ(FindFormClass("TppCustomCancelDialog"), nullptr);
  RegisterFormClass("TppCustomCancelDialog", original);
}

TEST(MessagePump, RunsOnlyWhenEnabled) {
  platform::doubles::CountingPump pump;
  platform::ScopedInstall<platform::MessagePump> installed(&pump);
  TppReport report;
  report.PumpMessages();
  EXPECT_EQ(pump.calls, 1);
  report.SetEnableProcessMessages(false);
  report.PumpMessages();
  EXPECT_EQ(pump.calls, 1);
}

}  // namespace
}  // namespace parvel::report
