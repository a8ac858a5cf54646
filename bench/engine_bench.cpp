// The generation engine on a report of 1000 pages: the card report with an in-memory pipeline
// of 1000 records, one record per page, the detail band's eight labels filled from the record,
// printed through the printer device into the PDF surface and sent as one job to a paused queue
// of the private CUPS server (the job is held there, so no filter runs beside the benchmark).
// Next to it, QPainter draws the same 8000 strings at the same positions straight into a
// QPdfWriter, a page per record, and sends nothing; a second baseline draws the same way and then
// sends that PDF as one job to the same paused queue with bare libcups, as the report's print does.
//
// Time is measured in this process. Peak memory is measured for each variant in a fresh run of
// this program (`--once report` or `--once direct`), which prints one document and exits:
// peak_MB is that run's peak resident memory, grow_MB the part of it above what was resident
// just before the document started.
#include <benchmark/benchmark.h>
#include <cups/cups.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include "app/agent/card_report.h"
#include "bench/measure.h"
#include "platform/linux/linux_platform.h"
#include "report/engine/list_pipeline.h"
#include "report/model/band.h"
#include "report/output/printer_list.h"
#include "tests/support/cups_server.h"

namespace {

using namespace parvel::report;
using parvel::agent::CardLabel;
using parvel::agent::kCardLines;

constexpr int kRecords = 1000;
constexpr const char* kQueue = "cards";

std::vector<TppListPipeline::Record> Records() {
  std::vector<TppListPipeline::Record> records;
  records.reserve(kRecords);
  for (int r = 1; r <= kRecords; ++r) {
    TppListPipeline::Record record;
    for (int n = 1; n <= kCardLines; ++n) record.push_back("C" + std::to_string(r) + "-" + std::to_string(n));
    records.push_back(std::move(record));
  }
  return records;
}

// The card report over the records, on the benchmark's queue.
class RecordReport {
 public:
  RecordReport() : card_(parvel::agent::CreateCardReport()) {
    card_->PrinterSetup().SetPrinterName(kQueue);
    pipeline_.SetRecords(Records());
    card_->SetDataPipeline(&pipeline_);
    card_->GetBand(btDetail)->BeforePrint = [this](TComponent&) {
      const TppListPipeline::Record& record = pipeline_.Current();
      for (int n = 1; n <= kCardLines; ++n) CardLabel(*card_, n).SetText(record[static_cast<size_t>(n) - 1]);
    };
  }
  ~RecordReport() { card_->SetDataPipeline(nullptr); }
  RecordReport(const RecordReport&) = delete;
  RecordReport& operator=(const RecordReport&) = delete;

  void Print() { card_->Print(); }

 private:
  std::unique_ptr<TppReport> card_;
  TppListPipeline pipeline_;
};

// One label as the card layout places it: left, top, width and height in thousandths of a
// millimetre, and whether its text ends at its right edge.
struct LabelBox {
  int32_t left, top, width;
  bool right_justified;
};
constexpr LabelBox kLabels[kCardLines] = {{8731, 1852, 11906, false},  {8731, 7144, 11906, false},
                                          {8731, 12965, 11906, false}, {8731, 18256, 11906, true},
                                          {8731, 23813, 11906, true},  {8731, 28575, 11906, true},
                                          {8731, 33867, 11906, true},  {8731, 38894, 11906, true}};

// Draws every record's eight strings straight into a PDF at 300 dpi, a CR80 landscape page per
// record, measuring a string only where its label is right-justified; answers the PDF.
QByteArray DrawDirectly(const std::vector<TppListPipeline::Record>& records) {
  constexpr double kDpi = 300;
  QByteArray pdf;
  QBuffer buffer(&pdf);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setResolution(static_cast<int>(kDpi));
  writer.setPageSize(QPageSize(QSizeF(85.725, 53.975), QPageSize::Millimeter));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter(&writer);
  QFont font("Arial Black");
  font.setPixelSize(38);  // 9 points at 300 dpi
  painter.setFont(font);
  const QFontMetricsF metrics(font, &writer);
  const auto pixels = [&](int32_t thousandths) { return thousandths / 25400.0 * kDpi; };
  bool first = true;
  for (const TppListPipeline::Record& record : records) {
    if (!first) writer.newPage();
    first = false;
    for (size_t i = 0; i < kCardLines; ++i) {
      const LabelBox& box = kLabels[i];
      const QString text = QString::fromStdString(record[i]);
      double x = pixels(box.left);
      if (box.right_justified) x += pixels(box.width) - metrics.horizontalAdvance(text);
      painter.drawText(QPointF(x, pixels(box.top) + metrics.ascent()), text);
    }
  }
  painter.end();
  buffer.close();
  return pdf;
}

// Sends `pdf` as one job to the benchmark's queue through the scheduler that CUPS_SERVER names,
// the calls the spooler makes; answers whether the queue accepted it.
bool SendWithLibcups(const QByteArray& pdf) {
  const int job = cupsCreateJob(CUPS_HTTP_DEFAULT, kQueue, "Report", 0, nullptr);
  bool sent = job > 0 && cupsStartDocument(CUPS_HTTP_DEFAULT, kQueue, job, "Report", CUPS_FORMAT_PDF, 1) ==
                             HTTP_STATUS_CONTINUE;
  sent = sent && cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.constData(), static_cast<size_t>(pdf.size())) ==
                     HTTP_STATUS_CONTINUE;
  return sent && cupsFinishDocument(CUPS_HTTP_DEFAULT, kQueue) <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

// The peak memory of one document of `variant` in a fresh process, as counters.
void CountPeakMemory(benchmark::State& state, const char* variant) {
  const parvel::bench::ChildRun run = parvel::bench::RunSelf({"--once", variant});
  const int64_t before_kb = std::stoll(run.output);
  state.counters["peak_MB"] = static_cast<double>(run.max_rss_kb) / parvel::bench::kKbPerMb;
  state.counters["grow_MB"] = static_cast<double>(run.max_rss_kb - before_kb) / parvel::bench::kKbPerMb;
}

parvel::doubles::CupsServer* g_server = nullptr;

// The queue's newest job id, 0 when it has seen none.
int LastJob() {
  const std::vector<int> ids = parvel::doubles::CupsServer::JobIds(kQueue);
  return ids.empty() ? 0 : ids.back();
}

void BM_ReportThroughEngineToPdf(benchmark::State& state) {
  RecordReport report;
  // A print that sends no job (no usable printer) would be fast and wrong.
  const int last_job = LastJob();
  report.Print();
  const int job = LastJob();
  if (job <= last_job) {
    state.SkipWithError("the report sent no job");
    return;
  }
  // The held job's document, as the server spooled it.
  char document[32];
  std::snprintf(document, sizeof document, "d%05d-001", job);
  std::error_code ec;
  const uintmax_t pdf_bytes = std::filesystem::file_size(g_server->Folder() / "spool" / document, ec);
  state.counters["pdf_KB"] = ec ? 0.0 : static_cast<double>(pdf_bytes) / 1024;
  g_server->CancelJobs(kQueue);
  for (auto _ : state) {
    report.Print();
    state.PauseTiming();
    g_server->CancelJobs(kQueue);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  CountPeakMemory(state, "report");
  g_server->CancelJobs(kQueue);
}

void BM_QPainterStraightIntoQPdfWriter(benchmark::State& state) {
  const std::vector<TppListPipeline::Record> records = Records();
  for (auto _ : state) benchmark::DoNotOptimize(DrawDirectly(records));
  state.counters["pdf_KB"] = static_cast<double>(DrawDirectly(records).size()) / 1024;
  state.SetItemsProcessed(state.iterations() * kRecords);
  CountPeakMemory(state, "direct");
}

void BM_QPainterIntoQPdfWriterThenLibcups(benchmark::State& state) {
  const std::vector<TppListPipeline::Record> records = Records();
  g_server->CancelJobs(kQueue);
  for (auto _ : state) {
    if (!SendWithLibcups(DrawDirectly(records))) {
      state.SkipWithError(cupsLastErrorString());
      break;
    }
    state.PauseTiming();
    g_server->CancelJobs(kQueue);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  g_server->CancelJobs(kQueue);
}

BENCHMARK(BM_ReportThroughEngineToPdf)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();
BENCHMARK(BM_QPainterStraightIntoQPdfWriter)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();
BENCHMARK(BM_QPainterIntoQPdfWriterThenLibcups)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

// The measuring run: one document, then what was resident before it on standard output.
int RunOnce(const std::string& variant) {
  const std::vector<TppListPipeline::Record> records = Records();
  const int64_t before_kb = parvel::bench::StatusKb("VmRSS");
  if (variant == "report") {
    RecordReport report;
    report.Print();
  } else if (variant == "direct") {
    DrawDirectly(records);
  } else {
    std::cerr << "unknown variant " << variant << "\n";
    return 2;
  }
  std::cout << before_kb << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  parvel::platform::linux_os::LinuxPlatform platform(/*with_pump=*/false);
  if (argc == 3 && std::strcmp(argv[1], "--once") == 0) {
    // The parent's private CUPS server, through CUPS_SERVER.
    PrinterList();
    const int status = RunOnce(argv[2]);
    FreeDefaultPrinter();
    return status;
  }
  parvel::doubles::CupsServer server;
  g_server = &server;
  server.AddQueue(kQueue, "card_cr80.ppd");
  server.Pause(kQueue);  // jobs are held: no filter competes for the processors
  PrinterList();

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FreeDefaultPrinter();
  return 0;
}
