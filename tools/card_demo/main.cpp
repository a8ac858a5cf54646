// parvel-card-demo: prints one card through the report engine's output road (a page of eight
// text commands, the publisher, the printer device, the printer wrapper and CUPS), with the
// labels where the card layout keeps them. It shows what the engine does before the agent that
// drives it exists; the lines come from a card file or are samples.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <QGuiApplication>

#include "platform/linux/linux_platform.h"
#include "report/base/errors.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer.h"
#include "report/output/printer_device.h"
#include "report/output/printer_list.h"
#include "report/output/printer_setup.h"
#include "report/output/publisher.h"

namespace {

using namespace parvel::report;

struct Label {
  int32_t top;
  TppTextAlignment alignment;
};

// The card layout's eight labels: all at left 8731, 11906 wide, 4498 high; the first three
// left-justified, the others right-justified.
constexpr Label kLabels[8] = {{1852, taLeftJustified},   {7144, taLeftJustified},   {12965, taLeftJustified},
                              {18256, taRightJustified}, {23813, taRightJustified}, {28575, taRightJustified},
                              {33867, taRightJustified}, {38894, taRightJustified}};
constexpr int32_t kLeft = 8731;
constexpr int32_t kWidth = 11906;
constexpr int32_t kHeight = 4498;

int Usage() {
  std::cerr << "usage: parvel-card-demo [--printer NAME] [CARD_FILE]\n"
               "  Prints one CR80 card with the first eight lines of CARD_FILE (or sample lines)\n"
               "  on printer NAME (default: the default printer).\n";
  return 2;
}

bool ReadCardLines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "parvel-card-demo: cannot read the card file " << path << "\n";
    return false;
  }
  std::string line;
  while (lines.size() < 8 && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (lines.size() < 8) {
    std::cerr << "parvel-card-demo: the card file " << path << " has " << lines.size()
              << " lines; a card needs 8\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string printer_name = "Default";
  std::string card_file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--printer" && i + 1 < argc) {
      printer_name = argv[++i];
    } else if (arg.rfind("--", 0) == 0 || !card_file.empty()) {
      return Usage();
    } else {
      card_file = arg;
    }
  }
  std::vector<std::string> lines;
  if (card_file.empty()) {
    lines = {"FULANO DE TAL", "Matrícula 004512", "Validade 12/2027", "Setor",
             "Financeiro",    "Bloco B",          "Sala 210",         "parvel"};
  } else if (!ReadCardLines(card_file, lines)) {
    return 1;
  }

  QGuiApplication app(argc, argv);
  int status = 0;
  {
    parvel::platform::linux_os::LinuxPlatform platform(/*with_pump=*/true);
    try {
      TppPrinterSetup setup;
      setup.SetPrinterName(printer_name);
      setup.SetUnits(utMillimeters);
      setup.SetPaperName("CR80 2.13 x 3.38 in");
      setup.SetOrientation(poLandscape);
      setup.SetMarginLeft(0);
      setup.SetMarginTop(0);
      setup.SetMarginRight(0);
      setup.SetMarginBottom(0);
      setup.SetDocumentName("Report");

      TppPage page;
      page.SetPrinterSetup(&setup);
      for (int i = 0; i < 8; ++i) {
        auto* text = new TppDrawText();  // the page owns it once attached
        text->SetLeft(kLeft);
        text->SetTop(kLabels[i].top);
        text->SetWidth(kWidth);
        text->SetHeight(kHeight);
        text->SetFont(TppFont("Arial Black", 9));
        text->SetTransparent(true);
        text->SetAutoSize(true);
        text->SetTextAlignment(kLabels[i].alignment);
        text->SetText(lines[static_cast<size_t>(i)]);
        text->SetPage(&page);
      }
      page.SetAbsolutePageNo(1);
      page.SetAbsolutePageCount(1);
      page.SetDocumentName("Report");
      page.SetFirstPage(true);
      page.SetLastPage(true);
      page.SetFinal(true);

      TppPublisher publisher;
      publisher.OnGeneratePages = [&page](TppPublisher& p, TppPageRequest&) { p.ReceivePage(page); };
      TppPrinterDevice device;
      device.Printer().SetPrinterSetup(setup);
      if (device.Printer().PrinterName() == "Screen") {
        throw EPrintError("No printer named \"" + printer_name + "\" can print here.");
      }
      device.SetPublisher(&publisher);
      publisher.StartJob();
      publisher.RequestPages();
      publisher.EndJob();
      std::cout << "card sent to \"" << device.Printer().PrinterDescription() << "\" as job "
                << device.Printer().JobId() << "\n";
    } catch (const std::exception& e) {
      std::cerr << "parvel-card-demo: " << e.what() << "\n";
      status = 1;
    }
  }
  return status;
}
