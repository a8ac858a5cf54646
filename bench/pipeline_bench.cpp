// The cost of one card page of eight text commands through the publisher and the printer
// device into the PDF surface, next to drawing the same eight strings with QPainter straight
// into a QPdfWriter. Both keep one document open and add a page per iteration; sending the
// document is outside the measured loop.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <QApplication>
#include <QBuffer>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include "platform/linux/cups_spooler.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/qt_drawing_surface.h"
#include "platform/linux/qt_screen_surface.h"
#include "platform/services.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer.h"
#include "report/output/printer_device.h"
#include "report/output/printer_list.h"
#include "report/output/publisher.h"
#include "tests/support/cups_server.h"

namespace {

using namespace parvel::report;

// The card's eight labels: left and top in thousandths of a millimetre.
constexpr int32_t kLefts[8] = {1852, 7144, 12965, 1852, 7144, 12965, 1852, 7144};
constexpr int32_t kTops[8] = {3704, 3704, 3704, 11906, 11906, 11906, 20108, 20108};

TppPrinterSetup& CardSetup() {
  static TppPrinterSetup setup;
  static bool ready = false;
  if (!ready) {
    ready = true;
    setup.SetPrinterName("cards");
    setup.SetUnits(utMillimeters);
    setup.SetPaperName("CR80 2.13 x 3.38 in");
    setup.SetOrientation(poLandscape);
    setup.SetMarginLeft(0);
    setup.SetMarginTop(0);
    setup.SetDocumentName("Report");
  }
  return setup;
}

void BM_PublisherAndPrinterDevice(benchmark::State& state) {
  TppPublisher publisher;
  TppPrinterDevice device;
  device.Printer().SetPrinterSetup(CardSetup());
  device.SetPublisher(&publisher);
  TppPage page;
  page.SetPrinterSetup(&CardSetup());
  page.SetAbsolutePageNo(1);
  page.SetFinal(true);
  for (int i = 0; i < 8; ++i) {
    auto* text = new TppDrawText();
    text->SetText("Label" + std::to_string(i + 1) + " FULANO DE TAL");
    text->SetLeft(kLefts[i]);
    text->SetTop(kTops[i]);
    text->SetWidth(30000);
    text->SetHeight(4000);
    text->SetFont(TppFont("Arial Black", 9));
    text->SetTransparent(true);
    text->SetAutoSize(true);
    text->SetPage(&page);
  }
  publisher.StartJob();
  for (auto _ : state) publisher.ReceivePage(page);
  publisher.EndJob();  // the loop's timing has ended
  state.SetItemsProcessed(state.iterations());
}

void BM_QPainterIntoQPdfWriter(benchmark::State& state) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setResolution(300);
  writer.setPageSize(QPageSize(QSizeF(85.725, 53.975), QPageSize::Millimeter));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter(&writer);
  QFont font("Arial Black");
  font.setPixelSize(38);
  bool first = true;
  for (auto _ : state) {
    if (!first) writer.newPage();
    first = false;
    painter.setFont(font);
    const int ascent = painter.fontMetrics().ascent();
    for (int i = 0; i < 8; ++i) {
      const int x = static_cast<int>(kLefts[i] / 25400.0 * 300);
      const int y = static_cast<int>(kTops[i] / 25400.0 * 300);
      painter.drawText(x, y + ascent, QString::fromUtf8("Label" + std::to_string(i + 1) + " FULANO DE TAL"));
    }
  }
  painter.end();
  state.SetItemsProcessed(state.iterations());
}

// The same direct drawing with what the text rules ask of every label: its width measured for
// AutoSize and its output clipped to its box. It shows how much of the gap the rules cost.
void BM_QPainterMeasuredAndClipped(benchmark::State& state) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setResolution(300);
  writer.setPageSize(QPageSize(QSizeF(85.725, 53.975), QPageSize::Millimeter));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter(&writer);
  QFont font("Arial Black");
  font.setPixelSize(38);
  bool first = true;
  for (auto _ : state) {
    if (!first) writer.newPage();
    first = false;
    painter.setFont(font);
    const QFontMetricsF metrics(font, &writer);
    for (int i = 0; i < 8; ++i) {
      const int x = static_cast<int>(kLefts[i] / 25400.0 * 300);
      const int y = static_cast<int>(kTops[i] / 25400.0 * 300);
      const QString text = QString::fromUtf8("Label" + std::to_string(i + 1) + " FULANO DE TAL");
      const int width = static_cast<int>(metrics.horizontalAdvance(text));
      painter.save();
      painter.setClipRect(QRect(x, y, width, static_cast<int>(metrics.height())));
      painter.drawText(x, y + static_cast<int>(metrics.ascent()), text);
      painter.restore();
    }
  }
  painter.end();
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PublisherAndPrinterDevice)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_QPainterIntoQPdfWriter)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_QPainterMeasuredAndClipped)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

struct Services {
  parvel::platform::linux_os::CupsSpooler spooler;
  parvel::platform::linux_os::QtSurfaceFactory surfaces{spooler};
  parvel::platform::linux_os::QtScreenSurfaceFactory screen;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  parvel::platform::linux_os::LinuxPlatform platform(/*with_pump=*/false);
  parvel::testing::CupsServer server;
  server.AddQueue("cards", "card_cr80.ppd");
  Services services;
  parvel::platform::ScopedInstall<parvel::platform::Spooler> spooler(&services.spooler);
  parvel::platform::ScopedInstall<parvel::platform::SurfaceFactory> surfaces(&services.surfaces);
  parvel::platform::ScopedInstall<parvel::platform::ScreenSurfaceFactory> screen(&services.screen);
  PrinterList();

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FreeDefaultPrinter();
  return 0;
}
