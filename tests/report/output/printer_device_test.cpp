#include "report/output/printer_device.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/testing/doubles.h"
#include "report/base/errors.h"
#include "report/base/stream.h"
#include "report/output/printer.h"
#include "tests/report/output/pages_doubles.h"
#include "tests/support/scoped_printers.h"

namespace parvel::report {
namespace {

using parvel::doubles::CardSetup;
using parvel::doubles::PageGenerator;

class RecordingDialog : public TppStatusDialog {
 public:
  std::string StatusText() const override { return text; }
  void SetStatusText(const std::string& t) override {
    text = t;
    shown.push_back(t);
  }
  std::string text;
  std::vector<std::string> shown;
};

// A kind of command no device knows.
class TppDrawSticker : public TppDrawCommand {
 public:
  using TppDrawCommand::TppDrawCommand;
  std::string ClassName() const override { return "TppDrawSticker"; }
};

class PrinterDeviceTest : public ::testing::Test {
 protected:
  explicit PrinterDeviceTest(int pages = 2) : generator(publisher, pages) {
    CardSetup(setup);
    setup.SetPaperWidth(53975);
    setup.SetPaperHeight(85725);
    generator.setup = &setup;
    device.Printer().SetPrinterSetup(setup);
    device.SetPublisher(&publisher);
  }

  void UseCopies(int copies, bool collation) {
    setup.SetCopies(copies);
    setup.SetCollation(collation);
    device.Printer().SetPrinterSetup(setup);
  }

  // The producer's part of a print run.
  void Run() {
    publisher.Reset();
    device.Reset();
    try {
      publisher.StartJob();
      publisher.RequestPages();
    } catch (...) {
      publisher.EndJob();
      throw;
    }
    publisher.EndJob();
  }

  // The next job starts with an empty log, on a printer that is there and takes it.
  void Fresh() {
    log.Clear();
    log.refuse_jobs = false;
    log.printer_gone = false;
  }

  // The texts drawn, in order.
  std::vector<std::string> Drawn() const {
    std::vector<std::string> out;
    for (const std::string& call : printers.CallsOf("TextOut")) {
      const size_t quote = call.find('"');
      out.push_back(call.substr(quote + 1, call.rfind('"') - quote - 1));
    }
    return out;
  }
  size_t Count(const std::string& kind) const { return printers.CallsOf(kind).size(); }

  doubles::CardAndWidePrinters printers;
  platform::doubles::SurfaceLog& log = *printers.surfaces.log;
  TppPrinterSetup setup;
  TppPublisher publisher;
  TppPrinterDevice device;
  PageGenerator generator;
};

TEST(DeviceClassTest, PrinterIsFoundWithoutRegardToCase) {
  for (const char* name : {"Printer", "printer", "PRINTER"}) {
    EXPECT_EQ(DeviceClassForName(name), &TppPrinterDevice::DeviceClass()) << name;
  }
  EXPECT_EQ(DeviceClassForName("Screen"), nullptr);
  EXPECT_TRUE(IsClassRegistered("TppPrinterDevice"));
  std::unique_ptr<TppDevice> made(DeviceClassForName("printer")->create(nullptr));
  EXPECT_EQ(made->DeviceName(), "Printer");
  EXPECT_NE(dynamic_cast<TppPrinterDevice*>(made.get()), nullptr);
}

TEST(DeviceClassTest, RegisteredClassesAreListedOnceAndCanLeave) {
  static const TppDeviceClass archive{"TppArchiveDevice", "Archive", [](TComponent* owner) -> TppDevice* {
                                        return new TppRasterDevice(owner);
                                      }};
  RegisterDeviceClass(&archive);
  RegisterDeviceClass(&archive);
  EXPECT_EQ(DeviceClassForName("archive"), &archive);
  EXPECT_TRUE(IsClassRegistered("TppArchiveDevice"));
  UnregisterDeviceClass(&archive);
  EXPECT_EQ(DeviceClassForName("Archive"), nullptr);
  EXPECT_EQ(DeviceClassForName("Printer"), &TppPrinterDevice::DeviceClass());
}

TEST_F(PrinterDeviceTest, PrintsEveryPageInOneDocument) {
  Run();
  EXPECT_EQ(Count("StartDoc"), 1u);
  EXPECT_EQ(Count("StartPage"), 2u);
  EXPECT_EQ(Count("EndPage"), 2u);
  EXPECT_EQ(Count("EndDoc"), 1u);
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"Page 1", "Page 2"}));
  EXPECT_EQ(log.jobs, std::vector<std::string>{"Cards"});
  EXPECT_FALSE(device.InJob());
  EXPECT_EQ(device.DeviceCanvas(), nullptr);
}

TEST_F(PrinterDeviceTest, DeviceRectangleComesFromTheSummedThousandths) {
  TppDrawText* text = nullptr;
  generator.fill = [&](TppPage& page, int) {
    text = &page.Add(std::make_unique<TppDrawText>());
    text->SetLeft(8731);
    text->SetTop(8772);
    text->SetWidth(8800);
    text->SetHeight(8772);
    text->SetText("x");
    text->SetTransparent(true);
  };
  Run();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(device.OriginX(), -25);
  EXPECT_EQ(device.OriginY(), -25);
  EXPECT_EQ(text->DeviceLeft(), 78);  // 103 - 25
  EXPECT_EQ(text->DeviceTop(), 79);   // 103.6 pixels
  EXPECT_EQ(text->DeviceRight(), 207 - 25);
  // 17544 thousandths are 207.2 pixels: 207, where 104 + 104 would have given 208.
  EXPECT_EQ(text->DeviceBottom(), 207 - 25);
}

TEST_F(PrinterDeviceTest, CopiesWithoutCollationRepeatEachPage) {
  UseCopies(3, false);
  Run();
  EXPECT_EQ(generator.runs, 1);
  EXPECT_EQ(Count("StartDoc"), 1u);
  EXPECT_EQ(Count("StartPage"), 6u);
  EXPECT_EQ(Count("EndPage"), 6u);
  EXPECT_EQ(Count("EndDoc"), 1u);
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"Page 1", "Page 1", "Page 1", "Page 2", "Page 2", "Page 2"}));
}

TEST_F(PrinterDeviceTest, CopiesWithCollationRunTheWholeSetAgain) {
  UseCopies(3, true);
  Run();
  EXPECT_EQ(generator.runs, 3);
  EXPECT_EQ(Count("StartDoc"), 1u);
  EXPECT_EQ(Count("StartPage"), 6u);
  EXPECT_EQ(Count("EndDoc"), 1u);
  EXPECT_EQ(log.jobs.size(), 1u);
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"Page 1", "Page 2", "Page 1", "Page 2", "Page 1", "Page 2"}));
  EXPECT_EQ(device.CopiesLeft(), 1);
  EXPECT_FALSE(device.InJob());

  // The next job starts from one pass again.
  Fresh();
  UseCopies(1, true);
  Run();
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"Page 1", "Page 2"}));
}

TEST_F(PrinterDeviceTest, EveryCollatedPassWantsTheListedPagesAgain) {
  UseCopies(2, true);
  TppPageRequest request;
  request.SetPageSetting(psPageList);
  request.SetPageList({"2", "5"});  // page 5 never comes
  device.SetDeviceRequest(request);
  publisher.StartJob();
  publisher.RequestPages();
  publisher.EndJob();
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"Page 2", "Page 2"}));
  EXPECT_EQ(Count("EndDoc"), 1u);  // a pass that never completes does not leave the job open
  EXPECT_FALSE(device.InJob());
}

TEST_F(PrinterDeviceTest, ASinglePageRequestPrintsOnlyThatPage) {
  PageGenerator three(publisher, 3);
  three.setup = &setup;
  TppPageRequest request;
  request.SetPageSetting(psSinglePage);
  request.SetPageRequested(2);
  std::vector<bool> awaiting;
  device.OnReceivePage = [&](TppDevice& d, TppPage&) { awaiting.push_back(d.AwaitingPages()); };
  publisher.StartJob();
  device.SetDeviceRequest(request);
  publisher.RequestPages();
  EXPECT_FALSE(device.AwaitingPages());
  publisher.EndJob();
  EXPECT_EQ(Drawn(), std::vector<std::string>{"Page 2"});
  EXPECT_EQ(Count("StartPage"), 1u);
  EXPECT_EQ(three.pages_made, 2);  // nothing more was generated once page 2 had come
  EXPECT_EQ(awaiting, (std::vector<bool>{true, true, true, true}));  // the flag drops after the last call
}

TEST_F(PrinterDeviceTest, UnfinishedPagesOnlyShowAStatus) {
  RecordingDialog dialog;
  dialog.text = "Calculando";
  device.SetStatusDialog(&dialog);
  platform::doubles::CountingPump pump;
  platform::ScopedInstall<platform::MessagePump> installed(&pump);
  publisher.StartJob();
  TppPage page;
  page.SetPrinterSetup(&setup);
  page.SetAbsolutePageNo(1);
  page.Add(std::make_unique<TppDrawText>());
  page.SetCalculation(true);
  publisher.ReceivePage(page);
  page.SetCalculation(false);
  page.SetFinal(false);
  publisher.ReceivePage(page);
  EXPECT_EQ(Count("StartPage"), 0u);
  EXPECT_EQ(dialog.shown, std::vector<std::string>{"Acessando os dados..."});
  EXPECT_EQ(device.StatusText(), "Acessando os dados...");  // the dialog's own text stands
  EXPECT_EQ(pump.calls, 1);
  publisher.EndJob();
}

TEST_F(PrinterDeviceTest, StatusTextsNameThePageAndThePrinter) {
  UseCopies(2, true);
  RecordingDialog dialog;
  device.SetStatusDialog(&dialog);
  Run();
  EXPECT_EQ(dialog.shown, (std::vector<std::string>{
                              "Acessando os dados...",
                              "Imprimindo a página 1 do Relatório Cards em Card",
                              "Imprimindo a página 2 do Relatório Cards em Card",
                              // In the second pass the publisher knows the last page.
                              "Imprimindo a Página 1 de 2 do Relatório Cards em Card",
                              "Imprimindo a Página 2 de 2 do Relatório Cards em Card",
                          }));
}

TEST_F(PrinterDeviceTest, CommandsBeyondThePaperOrOfUnknownKindAreSkipped) {
  generator.fill = [](TppPage& page, int) {
    auto add = [&](std::unique_ptr<TppDrawCommand> made, int32_t left, int32_t top, const char* text) {
      TppDrawCommand* command = &page.Add(std::move(made));
      command->SetLeft(left);
      command->SetTop(top);
      command->SetWidth(10000);
      command->SetHeight(10000);
      if (auto* t = dynamic_cast<TppDrawText*>(command)) t->SetText(text);
    };
    add(std::make_unique<TppDrawText>(), 1000, 90000, "below");
    add(std::make_unique<TppDrawText>(), 60000, 1000, "right");
    add(std::make_unique<TppDrawSticker>(), 1000, 1000, "");
    add(std::make_unique<TppDrawBarCode>(), 1000, 1000, "");
    add(std::make_unique<TppDrawText>(), 50000, 80000, "overhanging");
    add(std::make_unique<TppDrawCalc>(), 53975, 85725, "corner");
  };
  Run();
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"overhanging", "corner", "overhanging", "corner"}));
  TppDrawSticker sticker;
  EXPECT_FALSE(sticker.DrawOnDevice(device));
  TppDrawShape shape;
  EXPECT_TRUE(shape.DrawOnDevice(device));
}

TEST_F(PrinterDeviceTest, APrinterThatGoesBeforeTheJobIsSentFailsTheJobClearly) {
  // A real surface learns that its printer is gone only when it sends the finished document.
  generator.fill = [this](TppPage& page, int no) {
    if (no == 2) log.printer_gone = true;
    auto* text = &page.Add(std::make_unique<TppDrawText>());
    text->SetText("Page " + std::to_string(no));
    text->SetWidth(20000);
    text->SetHeight(5000);
  };
  try {
    Run();
    FAIL() << "a job that was never sent looked printed";
  } catch (const EPrintError& e) {
    EXPECT_STREQ(e.what(), "A impressão em \"Card\" falhou: The printer \"Card\" is not installed");
  }
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"Page 1", "Page 2"}));
  EXPECT_TRUE(log.jobs.empty());
  EXPECT_FALSE(device.InJob());
  EXPECT_FALSE(device.Printer().Printing());
  EXPECT_EQ(device.Printer().JobId(), 0);

  // The printer is back: the same publisher and device print the next job.
  Fresh();
  generator.fill = [](TppPage& page, int no) {
    auto* text = &page.Add(std::make_unique<TppDrawText>());
    text->SetText("Page " + std::to_string(no));
    text->SetWidth(20000);
    text->SetHeight(5000);
  };
  Run();
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"Page 1", "Page 2"}));
  EXPECT_EQ(log.jobs.size(), 1u);
  EXPECT_FALSE(device.JobCancelled());
}

TEST_F(PrinterDeviceTest, ARefusedJobLeavesTheDeviceReady) {
  log.refuse_jobs = true;
  EXPECT_THROW(Run(), EPrintError);
  EXPECT_FALSE(device.InJob());
  EXPECT_FALSE(device.Printer().Printing());
  Fresh();
  Run();
  EXPECT_EQ(log.jobs.size(), 1u);
}

TEST_F(PrinterDeviceTest, CancellingEndsTheDocumentWithThePagesStarted) {
  publisher.StartJob();
  TppPage page;
  page.SetPrinterSetup(&setup);
  page.SetAbsolutePageNo(1);
  page.SetFinal(true);
  publisher.ReceivePage(page);
  int cancels = 0;
  device.OnCancelJob = [&](TppDevice&) { ++cancels; };
  publisher.CancelJob();
  EXPECT_EQ(cancels, 1);
  EXPECT_TRUE(device.JobCancelled());
  EXPECT_FALSE(device.InJob());
  EXPECT_EQ(Count("StartPage"), 1u);
  EXPECT_EQ(Count("EndDoc"), 1u);
}

}  // namespace
}  // namespace parvel::report
