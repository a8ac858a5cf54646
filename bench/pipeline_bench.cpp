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

#include "platform/linux/linux_platform.h"
#include "platform/services.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer.h"
#include "report/output/printer_device.h"
#include "report/output/printer_list.h"
#include "report/output/publisher.h"
#include "tests/support/card_setup.h"
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
    parvel::doubles::SetUpCard(setup, "cards");
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
    auto& text = page.Add(std::make_unique<TppDrawText>());
    text.SetText("Label" + std::to_string(i + 1) + " FULANO DE TAL");
    text.SetLeft(kLefts[i]);
    text.SetTop(kTops[i]);
    text.SetWidth(30000);
    text.SetHeight(4000);
    text.SetFont(TppFont("Arial Black", 9));
    text.SetTransparent(true);
    text.SetAutoSize(true);
  }
  publisher.StartJob();
  for (auto _ : state) publisher.ReceivePage(page);
  publisher.EndJob();  // the loop's timing has ended
  state.SetItemsProcessed(state.iterations());
}

QString LabelText(int i) { return QString::fromUtf8("Label" + std::to_string(i + 1) + " FULANO DE TAL"); }

// Draws the eight labels straight into a PDF, a page per iteration; `measured_and_clipped` adds
// what the text rules ask of every label: its width measured for AutoSize and its output
// clipped to its box, to show how much of the gap the rules alone cost.
void DrawDirectly(benchmark::State& state, bool measured_and_clipped) {
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
      const QString text = LabelText(i);
      if (!measured_and_clipped) {
        painter.drawText(x, y + static_cast<int>(metrics.ascent()), text);
        continue;
      }
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

void BM_QPainterIntoQPdfWriter(benchmark::State& state) { DrawDirectly(state, false); }
void BM_QPainterMeasuredAndClipped(benchmark::State& state) { DrawDirectly(state, true); }

BENCHMARK(BM_PublisherAndPrinterDevice)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_QPainterIntoQPdfWriter)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_QPainterMeasuredAndClipped)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  parvel::platform::linux_os::LinuxPlatform platform(/*with_pump=*/false);
  parvel::doubles::CupsServer server;
  server.AddQueue("cards", "card_cr80.ppd");
  PrinterList();  // from the spooler the platform installed

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FreeDefaultPrinter();
  return 0;
}
