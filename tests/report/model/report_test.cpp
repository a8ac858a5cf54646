// The report and its bands: the card layout through the stream format, band order, band
// heights, the setters that reset the engine, and the values read through from it.
#include "report/model/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/agent/card_layout.h"
#include "report/base/stream.h"
#include "report/engine/engine.h"
#include "report/engine/list_pipeline.h"
#include "report/output/draw_command.h"
#include "tests/report/model/model_doubles.h"

namespace parvel::report {
namespace {

using doubles::BuildCard;
using doubles::CardLabelAt;
using doubles::ExpectCardLayout;

class ReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterReportClasses(); }
  parvel::doubles::OneCardPrinter printers;
};

std::unique_ptr<TppReport> ReadReport(const std::string& text) {
  std::unique_ptr<TComponent> read = ReadComponentText(text);
  auto* report = dynamic_cast<TppReport*>(read.get());
  if (report == nullptr) return nullptr;
  return std::unique_ptr<TppReport>(static_cast<TppReport*>(read.release()));
}

// The card layout as the agent stores it. Its paper number 120 is what the card's own printer
// called CR80; a printer that numbers the paper otherwise keeps the paper by its name.
using agent::kCardLayout;

TEST_F(ReportTest, CardLayoutWritesAndReadsBackUnchanged) {
  TppReport card;
  BuildCard(card);
  ExpectCardLayout(card);
  const std::string written = WriteComponentText(card);
  std::unique_ptr<TppReport> read = ReadReport(written);
  ASSERT_NE(read, nullptr);
  ExpectCardLayout(*read);
  EXPECT_EQ(WriteComponentText(*read), written);
  EXPECT_EQ(read->Version(), "7.0");
  EXPECT_EQ(read->VersionNo(), 7000);
  EXPECT_FALSE(read->Converted());
  EXPECT_FALSE(read->ConvertedFromPre40());
}

TEST_F(ReportTest, CardDescriptionReadFromTextGivesTheSameObjects) {
  std::unique_ptr<TppReport> read = ReadReport(std::string(kCardLayout));
  ASSERT_NE(read, nullptr);
  ExpectCardLayout(*read);
  TppReport built;
  BuildCard(built);
  EXPECT_EQ(WriteComponentText(*read), WriteComponentText(built));
}

TEST_F(ReportTest, StoredVersionDecidesTheConversion) {
  struct Case {
    const char* version_line;  // empty: no version stored
    bool converted;
    bool pre40;
    TppLanguageType language;  // lgSpanish stored; old versions up to 4.21 meant Mexico
  } cases[] = {
      {"Version = '7.0'", false, false, lgSpanish},
      {"Version = '3.52'", true, true, lgSpanishMexico},
      {"", true, true, lgSpanishMexico},
      {"Version = '4.21'", true, false, lgSpanishMexico},
      {"Version = '5.0'", true, false, lgSpanish},
      {"Version = '7.0 Beta Build 8'", true, true, lgSpanishMexico},
      {"Version = '7.0 Beta Build 5'", true, true, lgSpanishMexico},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version_line);
    const std::string text =
        std::string("object r: TppReport\n") + c.version_line + "\nLanguage = lgSpanish\nend\n";
    std::unique_ptr<TppReport> read = ReadReport(text);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Converted(), c.converted);
    EXPECT_EQ(read->ConvertedFromPre40(), c.pre40);
    EXPECT_EQ(read->Version(), "7.0");
    EXPECT_EQ(read->VersionNo(), 7000);
    EXPECT_EQ(read->Language(), c.language);
  }
  EXPECT_EQ(VersionNumberOf("7.0"), 7000);
  EXPECT_EQ(VersionNumberOf("4.0"), 4000);
  EXPECT_EQ(VersionNumberOf("3.52"), 3520);
  EXPECT_EQ(VersionNumberOf("12.0.1"), 1200);
}

TEST_F(ReportTest, OldDeviceEntryChoosesTheDeviceType) {
  for (const auto& [stored, type] :
       std::vector<std::pair<std::string, std::string>>{{"dvScreen", "Screen"},
                                                        {"dvPrinter", "Printer"},
                                                        {"dvFile", "TextFile"},
                                                        {"dvArchive", "ArchiveFile"}}) {
    std::unique_ptr<TppReport> read = ReadReport("object r: TppReport\nDevice = " + stored + "\nend\n");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->DeviceType(), type);
  }
}

TEST_F(ReportTest, BandsKeepTheirOrderWhateverTheOrderOfAdding) {
  TppReport report;
  report.AddBand(std::make_unique<TppFooterBand>());
  report.AddBand(std::make_unique<TppSummaryBand>());
  report.AddBand(std::make_unique<TppDetailBand>());
  report.AddBand(std::make_unique<TppColumnFooterBand>());
  report.AddBand(std::make_unique<TppHeaderBand>());
  report.AddBand(std::make_unique<TppColumnHeaderBand>());
  report.AddBand(std::make_unique<TppTitleBand>());
  std::vector<std::string> order;
  for (int i = 0; i < report.BandCount(); ++i) order.push_back(report.Bands(i)->Caption());
  EXPECT_EQ(order, (std::vector<std::string>{"Title", "Header", "Column Header", "Detail", "Column Footer",
                                             "Footer", "Summary"}));
  // The stream lists them in the same order.
  const std::string text = WriteComponentText(report);
  EXPECT_LT(text.find("TppTitleBand"), text.find("TppHeaderBand"));
  EXPECT_LT(text.find("TppDetailBand"), text.find("TppFooterBand"));
  EXPECT_LT(text.find("TppFooterBand"), text.find("TppSummaryBand"));

  // A band moved to another report leaves the first.
  TppReport other;
  TppBand* detail = report.GetBand(btDetail);
  detail->SetReport(&other);
  EXPECT_EQ(report.GetBand(btDetail), nullptr);
  EXPECT_EQ(other.GetBand(btDetail), detail);
  EXPECT_EQ(other.BandCount(), 1);
  EXPECT_EQ(report.BandCount(), 6);
}

TEST_F(ReportTest, GetBandAnswersTheBandOfTheCodeOrNone) {
  TppReport card;
  BuildCard(card);
  EXPECT_EQ(card.GetBand(btDetail, 0), card.Bands(1));
  EXPECT_EQ(card.GetBand(btHeader), card.Bands(0));
  EXPECT_EQ(card.GetBand(btFooter), card.Bands(2));
  EXPECT_EQ(card.GetBand(btGroupHeader, 0), nullptr);
  EXPECT_EQ(card.GetBand(btTitle, 0), nullptr);
  EXPECT_EQ(card.GetBand(42), nullptr);
}

TEST_F(ReportTest, DefaultBandsAreMadeOnlyWhereMissing) {
  TppReport empty;
  empty.CreateDefaultBands();
  ASSERT_EQ(empty.BandCount(), 3);
  EXPECT_EQ(empty.Bands(0)->BandType(), btHeader);
  EXPECT_EQ(empty.Bands(1)->BandType(), btDetail);
  EXPECT_EQ(empty.Bands(2)->BandType(), btFooter);
  EXPECT_EQ(empty.Bands(1)->mmHeight(), 13229);

  TppReport columns;
  columns.SetColumns(2);
  columns.CreateDefaultBands();
  EXPECT_EQ(columns.BandCount(), 5);

  TppReport header_only;
  header_only.AddBand(std::make_unique<TppHeaderBand>());
  header_only.CreateDefaultBands();
  EXPECT_EQ(header_only.BandCount(), 2);
  EXPECT_NE(header_only.GetBand(btDetail), nullptr);
}

TEST_F(ReportTest, BandHeightRules) {
  TppReport card;
  BuildCard(card);
  TppBand& detail = *card.GetBand(btDetail);
  TppBand& header = *card.GetBand(btHeader);
  struct Case {
    const char* what;
    TppBand* band;
    TppPrintHeightType print_height;
    int32_t set;
    int32_t expected;
  } cases[] = {
      {"static band above the page is refused", &detail, phStatic, 60000, 52388},
      {"dynamic band above the page is taken", &detail, phDynamic, 60000, 60000},
      {"a band with objects refuses 0", &detail, phStatic, 0, 60000},
      {"a band with objects refuses a negative height", &detail, phStatic, -5, 60000},
      {"the page height itself is taken", &detail, phStatic, 54000, 54000},
      {"an empty band takes 0", &header, phStatic, 0, 0},
      {"an empty band stores a negative height as 0", &header, phStatic, -7, 0},
  };
  for (const Case& c : cases) {
    c.band->SetPrintHeight(c.print_height);
    c.band->SetmmHeight(c.set);
    EXPECT_EQ(c.band->mmHeight(), c.expected) << c.what;
  }
}

TEST_F(ReportTest, LoweringABandMovesItsObjectsUp) {
  TppReport card;
  BuildCard(card);
  TppBand& detail = *card.GetBand(btDetail);
  TppLabel& last = CardLabelAt(card, 7);   // top 38894, height 4498
  TppLabel& first = CardLabelAt(card, 0);  // top 1852
  detail.SetmmHeight(30000);
  EXPECT_EQ(last.mmTop(), 30000 - 4498);
  EXPECT_EQ(first.mmTop(), 1852);
  detail.SetmmHeight(3000);  // shorter than the labels: they go to the top
  EXPECT_EQ(last.mmTop(), 0);
  EXPECT_EQ(first.mmTop(), 0);
}

TEST_F(ReportTest, UnitsReachEveryBandAndObject) {
  TppReport card;
  BuildCard(card);
  TppLabel& label = CardLabelAt(card, 0);
  EXPECT_FLOAT_EQ(label.Left(), 8.731f);
  card.SetUnits(utInches);
  EXPECT_EQ(label.Units(), utInches);
  EXPECT_EQ(card.GetBand(btDetail)->Units(), utInches);
  EXPECT_EQ(card.PrinterSetup().Units(), utInches);
  EXPECT_NEAR(label.Left(), 8.731f * kInchesPerMillimetre, 1e-4);
  card.SetUnits(utMMThousandths);
  EXPECT_FLOAT_EQ(card.GetBand(btDetail)->Height(), 52388.0f);
}

TEST_F(ReportTest, DataPipelineSetsAutoStopAndIsDroppedWhenFreed) {
  TppReport report;
  EXPECT_TRUE(report.AutoStop());
  auto pipeline = std::make_unique<TppListPipeline>();
  report.SetDataPipeline(pipeline.get());
  EXPECT_FALSE(report.AutoStop());
  EXPECT_EQ(report.DataPipeline(), pipeline.get());
  report.SetDataPipeline(nullptr);
  EXPECT_TRUE(report.AutoStop());
  report.SetDataPipeline(pipeline.get());
  doubles::OnePageEngine& engine = doubles::InstallEngine(report);
  pipeline.reset();
  EXPECT_EQ(report.DataPipeline(), nullptr);
  EXPECT_TRUE(report.AutoStop());
  EXPECT_EQ(engine.resets, 1);
}

TEST_F(ReportTest, ChangesThatAffectOutputResetTheEngine) {
  TppReport card;
  BuildCard(card);
  doubles::OnePageEngine& engine = doubles::InstallEngine(card);
  TppBand& detail = *card.GetBand(btDetail);
  TppLabel& label = CardLabelAt(card, 0);
  struct Case {
    const char* what;
    std::function<void()> change;
    bool resets;
  } cases[] = {
      {"PageLimit", [&] { card.SetPageLimit(1); }, true},
      {"PassSetting", [&] { card.SetPassSetting(psTwoPass); }, true},
      {"NoDataBehaviors", [&] { card.SetNoDataBehaviors(NoDataBit(ndBlankReport)); }, true},
      {"Columns", [&] { card.SetColumns(0); }, true},
      {"band height", [&] { detail.SetmmHeight(50000); }, true},
      {"refused band height", [&] { detail.SetmmHeight(90000); }, false},
      {"band visibility", [&] { detail.SetVisible(false); }, true},
      {"label Left", [&] { label.SetmmLeft(1000); }, true},
      {"label Left unchanged", [&] { label.SetmmLeft(1000); }, false},
      {"label caption", [&] { label.SetCaption("Other"); }, true},
      {"label Text only", [&] { label.SetText("Printed"); }, false},
      {"label visibility", [&] { label.SetVisible(false); }, true},
      {"adding a band", [&] { card.AddBand(std::make_unique<TppSummaryBand>()); }, true},
      {"new paper", [&] { card.PrinterSetup().SetPaperHeight(60.0f); }, true},
  };
  for (const Case& c : cases) {
    const int before = engine.resets;
    c.change();
    EXPECT_EQ(engine.resets > before, c.resets) << c.what;
  }
  EXPECT_EQ(card.Columns(), 1);
  EXPECT_TRUE(card.Modified());
}

TEST_F(ReportTest, EngineValuesAndPageLimit) {
  TppReport report;
  EXPECT_EQ(report.PageNo(), 0);
  EXPECT_EQ(report.UserName(), "Report");
  doubles::OnePageEngine& engine = doubles::InstallEngine(report);
  std::vector<int> events;
  TppCommunicator listener;
  listener.SetEventMask({kStartPageEvent, kEndPageEvent});
  listener.OnEventReceived = [&](TppCommunicator*, TppCommunicator*, int id, TraParamList*) {
    events.push_back(id);
  };
  report.AddEventListener(&listener);
  int end_pages = 0;
  report.OnEndPage = [&](TComponent&) { ++end_pages; };
  TppPublisher& publisher = report.Publisher();
  TppPageRequest request;
  engine.GenerateRequest(publisher, request);
  EXPECT_EQ(report.PageNo(), 1);
  EXPECT_EQ(report.AbsolutePageCount(), 1);
  EXPECT_EQ(end_pages, 1);
  EXPECT_EQ(events, (std::vector<int>{kStartPageEvent, kEndPageEvent}));
  EXPECT_FALSE(report.EndPage());
  report.SetPageLimit(1);
  EXPECT_TRUE(report.EndPage());
  report.RemoveEventListener(&listener);
}

TEST_F(ReportTest, PrinterSetupSetterFitsParentWidthObjectsOnANewPage) {
  TppReport card;
  BuildCard(card);
  TppLabel& label = CardLabelAt(card, 0);
  label.SetParentWidth(true);
  EXPECT_EQ(label.mmWidth(), 85700);
  EXPECT_EQ(label.mmLeft(), 0);
  TppPrinterSetup wider;
  wider.Assign(card.PrinterSetup());
  wider.SetUnits(utMMThousandths);
  wider.SetPaperWidth(100000);
  card.SetPrinterSetup(wider);
  EXPECT_EQ(label.mmWidth(), 100000);
  // The report keeps its own object and its own unit.
  EXPECT_EQ(card.PrinterSetup().Units(), utMillimeters);
}

// A component that notes the report's steps that reach it.
class StepRecorder : public TppCustomComponent {
 public:
  StepRecorder(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
  void StartOfReport() override { log_.push_back(name_ + " start"); }
  void StartOfGeneration() override { log_.push_back(name_ + " generation"); }
  void EndOfReport() override { log_.push_back(name_ + " end"); }

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

TEST_F(ReportTest, ReportStepsReachEveryComponentInBandOrder) {
  TppReport report;
  std::vector<std::string> log;
  // Added footer first: the steps still go in band order, then object order.
  TppFooterBand& footer = report.AddBand(std::make_unique<TppFooterBand>());
  TppDetailBand& detail = report.AddBand(std::make_unique<TppDetailBand>());
  footer.AddObject(std::make_unique<StepRecorder>(log, "footer"));
  detail.AddObject(std::make_unique<StepRecorder>(log, "detail 1"));
  detail.AddObject(std::make_unique<StepRecorder>(log, "detail 2"));
  report.StartOfReport();
  report.StartOfGeneration();
  report.EndOfReport();
  EXPECT_EQ(log, (std::vector<std::string>{"detail 1 start", "detail 2 start", "footer start",
                                           "detail 1 generation", "detail 2 generation", "footer generation",
                                           "detail 1 end", "detail 2 end", "footer end"}));
}

TEST_F(ReportTest, OlderEntriesAreReadAndNeverWritten) {
  struct Case {
    const char* version;
    const char* report_orientation;  // the report's own entry of old streams
    const char* setup_orientation;
    TPrinterOrientation orientation;  // of the printer setup after loading
    bool outline;
  } cases[] = {
      {"7.0", "poLandscape", "poPortrait", poPortrait, true},
      {"6.0", "poLandscape", "poPortrait", poPortrait, false},
      {"1.2", "poLandscape", "poPortrait", poLandscape, false},
      {"1.2", "poPrinterDefault", "poLandscape", poPortrait, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " " + c.report_orientation);
    const std::string text = std::string("object r: TppReport\n") +
                             "AllowPrintCancel = True\n"
                             "DataSource = plCards\n"
                             "NoDataPages = 3\n"
                             "OnAutoSearchDialogCreate = FormSearchCreate\n"
                             "OnPrintingComplete = 'FormDone'\n"
                             "Orientation = " +
                             c.report_orientation +
                             "\n"
                             "PreviewPages = 2\n"
                             "PrinterSetup.Orientation = " +
                             c.setup_orientation +
                             "\n"
                             "RowSpacing = 1.5\n"
                             "SuppressFormFeed = False\n"
                             "Viewer = ppViewer1\n"
                             "Version = '" +
                             c.version + "'\nend\n";
    std::unique_ptr<TppReport> read = ReadReport(text);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->PageLimit(), 3);
    EXPECT_EQ(read->DataSourceName(), "plCards");
    EXPECT_EQ(read->PrintingCompleteName(), "FormDone");
    EXPECT_EQ(read->BeforeAutoSearchDialogCreateName(), "FormSearchCreate");
    EXPECT_DOUBLE_EQ(read->RowSpacing(), 1.5);
    EXPECT_EQ(read->PrinterSetup().Orientation(), c.orientation);
    EXPECT_EQ(read->OutlineSettings().Enabled, c.outline);
    const std::string written = WriteComponentText(*read);
    for (const char* gone :
         {"AllowPrintCancel", "DataSource", "NoDataPages", "SearchDialogCreate", "OnPrintingComplete",
          "PreviewPages", "RowSpacing", "SuppressFormFeed", "Viewer"}) {
      EXPECT_EQ(written.find(gone), std::string::npos) << gone;
    }
    EXPECT_NE(written.find("PageLimit = 3"), std::string::npos);
    EXPECT_EQ(written.find("OutlineSettings.Enabled = False") != std::string::npos, !c.outline);
  }
}

TEST_F(ReportTest, CachePagesSearchDialogOutlineAndColumnPositionsGoThroughTheStream) {
  TppReport report;
  report.SetCachePages(true);
  report.SetShowAutoSearchDialog(true);
  report.OutlineSettings().CreatePageNodes = false;
  report.SetColumnPositions({"0.5", "2"});
  std::unique_ptr<TppReport> read = ReadReport(WriteComponentText(report));
  ASSERT_NE(read, nullptr);
  EXPECT_TRUE(read->CachePages());
  EXPECT_TRUE(read->ShowAutoSearchDialog());
  EXPECT_FALSE(read->OutlineSettings().CreatePageNodes);
  EXPECT_TRUE(read->OutlineSettings().CreateNode);
  EXPECT_TRUE(read->OutlineSettings().Enabled);
  EXPECT_EQ(read->ColumnPositions(), (std::vector<std::string>{"0.5", "2"}));
  // The card's stored description names none of them: all at their defaults.
  std::unique_ptr<TppReport> card = ReadReport(std::string(kCardLayout));
  ASSERT_NE(card, nullptr);
  EXPECT_FALSE(card->CachePages());
  EXPECT_FALSE(card->ShowAutoSearchDialog());
  EXPECT_TRUE(card->OutlineSettings().Enabled);
}

// A report whose search dialog answers as the test says.
class SearchingReport : public TppReport {
 public:
  bool ShowSearchDialog() override {
    ++dialogs;
    return confirm;
  }
  int dialogs = 0;
  bool confirm = true;
};

TEST_F(ReportTest, TheSearchGateAsksForValuesAndMayHoldThePrintBack) {
  struct Case {
    const char* what;
    bool show_dialog;
    bool confirm;
    bool fields;
    int dialogs, asked, jobs;
  } cases[] = {
      {"the card: nothing to search", false, true, false, 0, 0, 1},
      {"search fields without the dialog", false, true, true, 0, 1, 1},
      {"the dialog confirmed", true, true, true, 1, 1, 1},
      {"the dialog without fields", true, true, false, 1, 0, 1},
      {"the dialog declined", true, false, true, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SearchingReport report;
    BuildCard(report);
    report.SetShowAutoSearchDialog(c.show_dialog);
    report.confirm = c.confirm;
    if (c.fields) report.SearchFields() = {"Name"};
    int asked = 0;
    bool in_print_when_asked = false;
    report.OnGetAutoSearchValues = [&](TComponent&) {
      ++asked;
      in_print_when_asked = report.InPrint();
    };
    int events = 0;
    TppCommunicator listener;
    listener.SetEventMask({kGetAutoSearchValuesEvent});
    listener.OnEventReceived = [&](TppCommunicator*, TppCommunicator*, int, TraParamList*) { ++events; };
    report.AddEventListener(&listener);
    const size_t jobs_before = printers.surfaces.log->jobs.size();
    report.Print();
    report.RemoveEventListener(&listener);
    EXPECT_EQ(report.dialogs, c.dialogs);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(events, c.asked);
    EXPECT_EQ(in_print_when_asked, c.asked > 0);
    EXPECT_FALSE(report.InPrint());
    EXPECT_EQ(printers.surfaces.log->jobs.size() - jobs_before, static_cast<size_t>(c.jobs));
  }
}

TEST_F(ReportTest, DrawnPagesCarryAnOutlineCommandOnlyWhileTheOutlineIsEnabled) {
  for (bool enabled : {true, false}) {
    SCOPED_TRACE(enabled);
    TppReport card;
    BuildCard(card);
    card.OutlineSettings().Enabled = enabled;
    int drawn = 0;
    int outlines = 0;
    auto& engine = dynamic_cast<TppEngine&>(*card.Engine());
    engine.PageReady = [&](TppPage& page) {
      if (page.Calculation()) return;
      ++drawn;
      for (int i = 0; i < page.DrawCommandCount(); ++i) {
        if (dynamic_cast<TppOutlineDrawCommand*>(page.DrawCommands(i)) != nullptr) ++outlines;
      }
    };
    TppPageRequest request;
    engine.GenerateRequest(card.Publisher(), request);
    EXPECT_EQ(drawn, 1);
    EXPECT_EQ(outlines, enabled ? 1 : 0);
  }
}

}  // namespace
}  // namespace parvel::report
