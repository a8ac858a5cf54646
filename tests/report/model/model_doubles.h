#pragma once
// What the model and production tests share: the card report built in code with the layout
// the agent prints, and a small engine that lays the bands out on one page the way the card's
// road needs it (bands one below the other, each component generated and drawn once).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "report/model/band.h"
#include "report/model/engine.h"
#include "report/model/report.h"
#include "report/model/text.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/publisher.h"
#include "tests/support/scoped_printers.h"

namespace parvel::report::doubles {

struct CardLabel {
  const char* user_name;
  int32_t top;
  TppTextAlignment alignment;
};

inline constexpr CardLabel kCardLabels[] = {
    {"Label1", 1852, taLeftJustified},   {"Label2", 7144, taLeftJustified},
    {"Label3", 12965, taLeftJustified},  {"Label4", 18256, taRightJustified},
    {"Label5", 23813, taRightJustified}, {"Label6", 28575, taRightJustified},
    {"Label7", 33867, taRightJustified}, {"Label8", 38894, taRightJustified}};

// The card layout: CR80 landscape without margins, a header and footer of height 0 and a
// detail band 52388 high with eight labels in "Arial Black" 9 points.
inline void BuildCard(TppReport& report, const std::string& printer = "Default") {
  report.SetName("rParvel");
  report.SetUnits(utMillimeters);
  report.SetDeviceType("Printer");
  report.SetShowPrintDialog(false);
  report.SetShowCancelDialog(false);
  TppPrinterSetup& setup = report.PrinterSetup();
  setup.SetBinName("Default");
  setup.SetDocumentName("Report");
  setup.SetOrientation(poLandscape);
  setup.SetPaperName("CR80 2.13 x 3.38 in");
  setup.SetPrinterName(printer);
  setup.SetMarginBottom(0);
  setup.SetMarginLeft(0);
  setup.SetMarginRight(0);
  setup.SetMarginTop(0);
  setup.SetPaperHeight(54.0f);
  setup.SetPaperWidth(85.7f);

  TppHeaderBand& header = report.AddBand(std::make_unique<TppHeaderBand>());
  header.SetName("ppHeaderBand1");
  header.SetmmHeight(0);
  TppDetailBand& detail = report.AddBand(std::make_unique<TppDetailBand>());
  detail.SetName("ppDetailBand1");
  detail.SetmmHeight(52388);
  TppFooterBand& footer = report.AddBand(std::make_unique<TppFooterBand>());
  footer.SetName("ppFooterBand1");
  footer.SetmmHeight(0);
  for (const CardLabel& card : kCardLabels) {
    TppLabel& label = detail.AddObject(std::make_unique<TppLabel>());
    label.SetName(std::string("pp") + card.user_name);
    label.SetUserName(card.user_name);
    label.SetCaption(card.user_name);
    label.SetFont(TppFont("Arial Black", 9));
    label.SetTransparent(true);
    label.SetTextAlignment(card.alignment);
    label.SetMMBounds(8731, card.top, 11906, 4498);
  }
}

inline TppLabel& CardLabelAt(TppReport& report, int index) {
  return dynamic_cast<TppLabel&>(*report.GetBand(btDetail)->Objects(index));
}

// Everything the card layout fixes, checked on a report however it was made.
inline void ExpectCardLayout(TppReport& report) {
  EXPECT_EQ(report.Units(), utMillimeters);
  EXPECT_EQ(report.DeviceType(), "Printer");
  EXPECT_FALSE(report.ShowPrintDialog());
  EXPECT_FALSE(report.ShowCancelDialog());
  EXPECT_EQ(report.mmColumnWidth(), 0);
  const TppPrinterSetup& setup = report.PrinterSetup();
  EXPECT_EQ(setup.BinName(), "Default");
  EXPECT_EQ(setup.DocumentName(), "Report");
  EXPECT_EQ(setup.Orientation(), poLandscape);
  EXPECT_EQ(setup.PaperName(), "CR80 2.13 x 3.38 in");
  EXPECT_EQ(setup.PrinterName(), "Default");
  EXPECT_EQ(setup.PageDef().mmWidth(), 85700);
  EXPECT_EQ(setup.PageDef().mmHeight(), 54000);
  EXPECT_EQ(setup.PageDef().mmPrintableRect(), (TppMMRect{0, 0, 85700, 54000}));
  ASSERT_EQ(report.BandCount(), 3);
  EXPECT_EQ(report.Bands(0)->ClassName(), "TppHeaderBand");
  EXPECT_EQ(report.Bands(1)->ClassName(), "TppDetailBand");
  EXPECT_EQ(report.Bands(2)->ClassName(), "TppFooterBand");
  EXPECT_EQ(report.Bands(0)->mmHeight(), 0);
  EXPECT_EQ(report.Bands(1)->mmHeight(), 52388);
  EXPECT_EQ(report.Bands(2)->mmHeight(), 0);
  ASSERT_EQ(report.Bands(1)->ObjectCount(), 8);
  for (int i = 0; i < 8; ++i) {
    TppLabel& label = CardLabelAt(report, i);
    SCOPED_TRACE(kCardLabels[i].user_name);
    EXPECT_EQ(label.UserName(), kCardLabels[i].user_name);
    EXPECT_EQ(label.Caption(), kCardLabels[i].user_name);
    EXPECT_EQ(label.Text(), kCardLabels[i].user_name);
    EXPECT_EQ(label.TextAlignment(), kCardLabels[i].alignment);
    EXPECT_EQ(label.Font(), TppFont("Arial Black", 9));
    EXPECT_TRUE(label.Transparent());
    EXPECT_TRUE(label.AutoSize());
    EXPECT_FALSE(label.WordWrap());
    EXPECT_TRUE(label.Visible());
    EXPECT_EQ(label.mmLeft(), 8731);
    EXPECT_EQ(label.mmTop(), kCardLabels[i].top);
    EXPECT_EQ(label.mmWidth(), 11906);
    EXPECT_EQ(label.mmHeight(), 4498);
    EXPECT_EQ(label.BandType(), btDetail);
    EXPECT_EQ(label.Units(), utMillimeters);
  }
}

// Lays the report's visible bands out one below the other on one page and hands it to the
// publisher, announcing it first as a calculation page. Counts its resets and runs.
class OnePageEngine : public TppReportEngine {
 public:
  explicit OnePageEngine(TppCustomReport& report) : report_(report) {}

  void Reset() override {
    ++resets;
    if (started_) {
      started_ = false;
      report_.SendGenerationEnd();
    }
  }
  void Cancel() override { cancelled = true; }
  bool Generating() const override { return generating_; }
  int32_t AbsolutePageNo() const override { return page_no_; }
  int32_t PageNo() const override { return page_no_; }
  int32_t AbsolutePageCount() const override { return page_no_; }
  int32_t PageCount() const override { return page_no_; }

  void GenerateRequest(TppPublisher& publisher, TppPageRequest& /*request*/) override {
    ++runs;
    cancelled = false;
    generating_ = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{generating_};
    if (!started_) {
      started_ = true;
      report_.SendGenerationStart();
    }
    page_no_ = 1;
    const TppPrinterSetup& setup = report_.PrinterSetup();
    page_.Clear();
    page_.SetPrinterSetup(&setup);
    page_.SetDocumentName(setup.DocumentName());
    page_.SetAbsolutePageNo(1);
    page_.SetAbsolutePageCount(1);
    page_.SetPageNo(1);
    page_.SetPageCount(1);
    page_.SetCalculation(true);
    publisher.ReceivePage(page_);
    page_.SetCalculation(false);
    report_.StartPage();
    if (fail) fail();
    if (cancelled) return;  // the engine's check between its steps
    const TppPageDef& def = setup.PageDef();
    int32_t top = def.mmMarginTop();
    for (int b = 0; b < report_.BandCount(); ++b) {
      TppBand& band = *report_.Bands(b);
      if (!band.Visible()) continue;
      TppBandGeneration& g = band.Generation();
      g.print_rect = {def.mmMarginLeft(), top, def.mmMarginLeft() + band.mmWidth(), top + band.mmHeight()};
      g.current_position = top;
      g.page_bottom = def.mmHeight() - def.mmMarginBottom();
      band.DoBeforeGenerate();
      for (int i = 0; i < band.ObjectCount(); ++i) {
        band.Objects(i)->InitGeneration();
        band.Objects(i)->SetDrawComponent(true);
        band.Objects(i)->ResetGeneration();
        band.Objects(i)->Generate();
      }
      band.DoBeforePrint();
      for (int i = 0; i < band.ObjectCount(); ++i) {
        band.Objects(i)->AddToPage(page_);
        band.Objects(i)->EndGeneration();
      }
      band.DoAfterPrint();
      band.DoAfterGenerate();
      top += band.mmHeight();
    }
    report_.EndPage();
    page_.SetFirstPage(true);
    page_.SetLastPage(true);
    page_.SetFinal(true);
    ++pages;
    publisher.ReceivePage(page_);
  }

  TppPage& LastPage() { return page_; }

  int resets = 0;
  int runs = 0;
  int pages = 0;
  bool cancelled = false;
  // Runs in the middle of generation; a test makes it throw.
  std::function<void()> fail;

 private:
  TppCustomReport& report_;
  TppPage page_;
  bool generating_ = false;
  bool started_ = false;
  int32_t page_no_ = 0;
};

inline OnePageEngine& InstallEngine(TppCustomReport& report) {
  auto engine = std::make_unique<OnePageEngine>(report);
  OnePageEngine& installed = *engine;
  report.SetEngine(std::move(engine));
  return installed;
}

}  // namespace parvel::report::doubles
