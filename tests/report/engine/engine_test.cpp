// The generation engine on the platform doubles: the card's one page, records over pages, the
// page limits and counts, the page requests served from checkpoints, the passes, no data, the
// stops, and the band kinds' placement rules as tables.
#include "report/engine/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/base/errors.h"
#include "report/engine/band_kinds.h"
#include "report/engine/list_pipeline.h"
#include "report/engine/page_rules.h"
#include "report/output/draw_command.h"
#include "tests/report/model/model_doubles.h"

namespace parvel::report {
namespace {

// What a page carried when it was handed over at its end.
struct PageSeen {
  int32_t no = 0;
  int32_t count = 0;
  bool first = false;
  bool last = false;
  bool final = false;
  bool calculation = false;
  std::vector<std::string> texts;
  std::vector<int32_t> tops;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() {
    report.SetUnits(utMillimeters);
    report.PrinterSetup().SetMarginBottom(0);
    report.PrinterSetup().SetMarginTop(0);
    report.PrinterSetup().SetMarginLeft(0);
    report.PrinterSetup().SetMarginRight(0);
    report.PrinterSetup().SetPaperWidth(85.7f);
    report.PrinterSetup().SetPaperHeight(54.0f);
    engine().PageReady = [this](TppPage& page) {
      ++handovers;
      if (page.Calculation()) return;  // announced at its start, or only calculated
      PageSeen seen{page.AbsolutePageNo(),
                    page.PageCount(),
                    page.FirstPage(),
                    page.LastPage(),
                    page.Final(),
                    page.Calculation(),
                    {},
                    {}};
      for (int i = 0; i < page.DrawCommandCount(); ++i) {
        if (auto* text = dynamic_cast<TppDrawText*>(page.DrawCommands(i))) {
          seen.texts.push_back(text->Text());
          seen.tops.push_back(text->Top());
        }
      }
      pages.push_back(seen);
    };
  }

  TppEngine& engine() { return dynamic_cast<TppEngine&>(*report.Engine()); }

  // A detail band of `height` with one label whose text is the record's first field.
  void RecordReport(int32_t height, int records) {
    detail = &report.AddBand(std::make_unique<TppDetailBand>());
    detail->SetmmHeight(height);
    TppLabel& label = detail->AddObject(std::make_unique<TppLabel>());
    label.SetMMBounds(1000, 0, 20000, std::min(height, 4000));
    std::vector<TppListPipeline::Record> rows;
    for (int i = 1; i <= records; ++i) rows.push_back({"R" + std::to_string(i)});
    pipeline.SetRecords(rows);
    report.SetDataPipeline(&pipeline);
    detail->BeforePrint = [this, &label](TComponent&) { label.SetText(pipeline.Field(0)); };
  }

  void Generate(TppPageSettingType setting = psAll, int32_t requested = 1,
                const std::vector<std::string>& list = {}) {
    TppPageRequest request;
    request.SetPageSetting(setting);
    request.SetPageRequested(requested);
    request.SetPageList(list);
    pages.clear();
    engine().GenerateRequest(report.Publisher(), request);
  }

  std::vector<std::vector<std::string>> Texts() const {
    std::vector<std::vector<std::string>> all;
    for (const PageSeen& page : pages) all.push_back(page.texts);
    return all;
  }

  parvel::doubles::OneCardPrinter printers;  // before the report, which points into its list
  TppReport report;
  TppListPipeline pipeline;
  TppDetailBand* detail = nullptr;
  std::vector<PageSeen> pages;
  int handovers = 0;
};

TEST_F(EngineTest, TheCardIsOnePageOneOfOneWithItsLabelsEveryCall) {
  doubles::BuildCard(report);
  std::vector<std::string> events;
  report.OnStartFirstPass = [&](TComponent&) { events.push_back("StartFirstPass"); };
  report.OnStartPage = [&](TComponent&) { events.push_back("StartPage"); };
  report.OnEndPage = [&](TComponent&) { events.push_back("EndPage"); };
  report.OnEndFirstPass = [&](TComponent&) { events.push_back("EndFirstPass"); };
  for (int call = 0; call < 2; ++call) {
    events.clear();
    doubles::CardLabelAt(report, 0).SetText("call" + std::to_string(call));
    Generate();
    ASSERT_EQ(pages.size(), 1u);
    const PageSeen& page = pages[0];
    EXPECT_EQ(page.no, 1);
    EXPECT_EQ(page.count, 1);
    EXPECT_TRUE(page.first && page.last && page.final);
    EXPECT_FALSE(page.calculation);
    ASSERT_EQ(page.texts.size(), 8u);
    EXPECT_EQ(page.texts[0], "call" + std::to_string(call));
    EXPECT_EQ(page.texts[7], "Label8");
    EXPECT_TRUE(engine().DonePrinting());
    EXPECT_EQ(engine().PageSpaceUsed(), 54000);
    EXPECT_EQ(engine().GetPageBottom(), 54000);
    EXPECT_EQ(report.CacheManager().CachePageCount(), 1);
    // The first call starts the run; the second continues it from the checkpoint of page 0.
    if (call == 0) {
      EXPECT_EQ(events, (std::vector<std::string>{"StartFirstPass", "StartPage", "EndPage", "EndFirstPass"}));
    } else {
      EXPECT_EQ(events, (std::vector<std::string>{"StartPage", "EndPage"}));
    }
  }
}

TEST_F(EngineTest, RecordsFillPagesAndThePipelineIsBackWhereItWas) {
  RecordReport(20000, 7);  // two per page of 54 mm
  pipeline.Open();
  pipeline.First();
  pipeline.Next();
  pipeline.Next();  // the application stands on R3
  Generate();
  EXPECT_EQ(Texts(),
            (std::vector<std::vector<std::string>>{{"R1", "R2"}, {"R3", "R4"}, {"R5", "R6"}, {"R7"}}));
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_TRUE(pages[3].last);
  EXPECT_FALSE(pages[2].last);
  EXPECT_EQ(pipeline.Field(0), "R3");
  report.Reset();
  EXPECT_EQ(pipeline.OpenBookmarks(), 0);
}

struct CountCase {
  const char* what;
  int records;
  int32_t print_count;
  int32_t bands_per_record;
  int32_t page_limit;
  std::vector<std::vector<std::string>> pages;
};

class EngineCounts : public EngineTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(EngineCounts, PagesHoldWhatTheCountsAllow) {
  const CountCase& c = GetParam();
  RecordReport(10000, c.records);
  detail->SetPrintCount(c.print_count);
  detail->SetBandsPerRecord(c.bands_per_record);
  report.SetPageLimit(c.page_limit);
  Generate();
  EXPECT_EQ(Texts(), c.pages) << c.what;
  ASSERT_FALSE(pages.empty());
  EXPECT_TRUE(pages.back().last) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, EngineCounts,
    ::testing::Values(CountCase{"five fit a page", 6, 0, 1, 0, {{"R1", "R2", "R3", "R4", "R5"}, {"R6"}}},
                      CountCase{"PrintCount 3 of ten",
                                10,
                                3,
                                1,
                                0,
                                {{"R1", "R2", "R3"}, {"R4", "R5", "R6"}, {"R7", "R8", "R9"}, {"R10"}}},
                      CountCase{"two bands per record", 3, 0, 2, 0, {{"R1", "R1", "R2", "R2", "R3"}, {"R3"}}},
                      CountCase{"page limit 1", 12, 0, 1, 1, {{"R1", "R2", "R3", "R4", "R5"}}}));

TEST_F(EngineTest, BandsPerRecordBelowOneIsOneAndFooterStaysStatic) {
  TppDetailBand band;
  for (int32_t value : {0, -5}) {
    band.SetBandsPerRecord(value);
    EXPECT_EQ(band.BandsPerRecord(), 1);
  }
  TppFooterBand footer;
  footer.SetPrintHeight(phDynamic);
  EXPECT_EQ(footer.PrintHeight(), phStatic);
  band.SetColumnTraversal(ctLeftToRight);
  band.SetPrintHeight(phDynamic);
  EXPECT_EQ(band.PrintHeight(), phStatic);
}

TEST_F(EngineTest, ADynamicBandThatRunsOutOfPageContinuesAtTheTopOfTheNext) {
  // Three records of three stacked parts each (tops 0, 10 and 20 mm, 8 mm high) on pages of 54 mm:
  // the second record's third part no longer fits under the first two.
  detail = &report.AddBand(std::make_unique<TppDetailBand>());
  detail->SetmmHeight(30000);
  detail->SetPrintHeight(phDynamic);
  std::vector<TppLabel*> parts;
  for (int32_t top : {0, 10000, 20000}) {
    TppLabel& part = detail->AddObject(std::make_unique<TppLabel>());
    part.SetMMBounds(1000, top, 20000, 8000);
    parts.push_back(&part);
  }
  pipeline.SetRecords({{"R1"}, {"R2"}, {"R3"}});
  report.SetDataPipeline(&pipeline);
  int before_prints = 0;
  int after_prints = 0;
  detail->BeforePrint = [&](TComponent&) {
    ++before_prints;
    for (size_t i = 0; i < parts.size(); ++i) parts[i]->SetText(pipeline.Field(0) + "abc"[i]);
  };
  detail->AfterPrint = [&](TComponent&) { ++after_prints; };
  const std::vector<std::vector<std::string>> texts = {{"R1a", "R1b", "R1c", "R2a", "R2b"},
                                                       {"R2c", "R3a", "R3b", "R3c"}};
  const std::vector<int32_t> page1_tops = {0, 10000, 20000, 28000, 38000};
  const std::vector<int32_t> page2_tops = {0, 8000, 18000, 28000};

  Generate();
  EXPECT_EQ(Texts(), texts);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].tops, page1_tops);
  EXPECT_EQ(pages[1].tops, page2_tops);
  EXPECT_TRUE(pages[1].last);
  // The continuation fires BeforePrint again; AfterPrint only once the record is whole.
  EXPECT_EQ(before_prints, 4);
  EXPECT_EQ(after_prints, 3);
  EXPECT_EQ(report.ReportBandCount(), 3);

  // Page 2 again from the checkpoint of page 1, in the same run and in a new one.
  for (bool fresh : {false, true}) {
    SCOPED_TRACE(fresh);
    if (fresh) report.Reset();
    Generate(psSinglePage, 2);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].texts, texts[1]);
    EXPECT_EQ(pages[0].tops, page2_tops);
  }
}

TEST_F(EngineTest, PageRequestsAreGeneratedFromCheckpoints) {
  RecordReport(20000, 9);  // five pages
  std::vector<int32_t> started;
  report.OnStartPage = [&](TComponent&) { started.push_back(report.AbsolutePageNo()); };
  Generate(psSinglePage, 3);
  EXPECT_EQ(started, (std::vector<int32_t>{1, 2, 3}));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].no, 3);
  EXPECT_EQ(pages[0].texts, (std::vector<std::string>{"R5", "R6"}));

  started.clear();
  Generate(psLastPage);
  EXPECT_EQ(started, (std::vector<int32_t>{4, 5, 5}));
  EXPECT_EQ(pages.back().texts, (std::vector<std::string>{"R9"}));
  EXPECT_TRUE(pages.back().last);

  started.clear();
  Generate(psPageList, 1, {"0", "2", "9"});
  EXPECT_EQ(started, (std::vector<int32_t>{2}));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].texts, (std::vector<std::string>{"R3", "R4"}));
}

TEST_F(EngineTest, TwoPassesGiveEveryFinalPageTheFinalCount) {
  RecordReport(20000, 5);
  report.SetPassSetting(psTwoPass);
  Generate();
  std::vector<std::pair<int32_t, int32_t>> finals;
  for (const PageSeen& page : pages) {
    if (page.final) finals.emplace_back(page.no, page.count);
  }
  EXPECT_EQ(finals, (std::vector<std::pair<int32_t, int32_t>>{{1, 3}, {2, 3}, {3, 3}}));
}

TEST_F(EngineTest, NoDataWithABlankPageGeneratesNothingAndSaysSoWhenAsked) {
  RecordReport(20000, 0);
  int no_data = 0;
  report.OnNoData = [&](TComponent&) { ++no_data; };
  report.SetNoDataBehaviors(NoDataBit(ndBlankPage) | NoDataBit(ndMessageDialog));
  ::testing::internal::CaptureStderr();
  Generate();
  ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(pages.empty());
  EXPECT_EQ(handovers, 0);
  EXPECT_EQ(no_data, 1);
}

TEST_F(EngineTest, ACancelEndsTheRunAndABusyEngineIgnoresASecondRequest) {
  RecordReport(20000, 9);
  int inner = 0;
  report.OnEndPage = [&](TComponent&) {
    TppPageRequest again;
    const size_t before = pages.size();
    engine().GenerateRequest(report.Publisher(), again);
    inner += static_cast<int>(pages.size() - before);
    if (report.AbsolutePageNo() == 2) report.Cancel();
  };
  Generate();
  EXPECT_EQ(inner, 0);
  EXPECT_EQ(pages.size(), 1u);  // page 2 ends without being handed over
  EXPECT_FALSE(engine().Generating());
}

TEST_F(EngineTest, AHeaderNotOnTheFirstPageLeavesTheTopToTheDetail) {
  TppHeaderBand& header = report.AddBand(std::make_unique<TppHeaderBand>());
  header.SetmmHeight(5000);
  TppLabel& title = header.AddObject(std::make_unique<TppLabel>());
  title.SetMMBounds(0, 0, 10000, 4000);
  title.SetText("HEAD");
  header.SetPrintOnFirstPage(false);
  int header_prints = 0;
  header.BeforePrint = [&](TComponent&) { ++header_prints; };
  RecordReport(20000, 3);
  Generate();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].texts, (std::vector<std::string>{"R1", "R2"}));
  EXPECT_EQ(pages[0].tops.front(), 0);
  EXPECT_EQ(pages[1].texts, (std::vector<std::string>{"HEAD", "R3"}));
  EXPECT_EQ(pages[1].tops[1], 5000);
  EXPECT_EQ(header_prints, 1);
}

TEST_F(EngineTest, ABandTooHighForAnEmptyPageIsAPrintErrorNamingIt) {
  RecordReport(20000, 2);
  detail->SetmmHeight(20000);
  detail->SetUserName("Tall");
  TppHeaderBand& header = report.AddBand(std::make_unique<TppHeaderBand>());
  header.SetmmHeight(40000);
  try {
    Generate();
    FAIL() << "no error";
  } catch (const EPrintError& e) {
    EXPECT_NE(std::string(e.what()).find("Tall"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(engine().Generating());
}

TEST_F(EngineTest, WithoutPipelineAutoStopOrPageLimitTheApplicationsStopEndsTheRun) {
  doubles::BuildCard(report);
  report.SetAutoStop(false);
  // The application prints three cards and stops.
  int printed = 0;
  for (int i = 0; i < report.BandCount(); ++i) {
    if (report.Bands(i)->BandType() != btDetail) continue;
    report.Bands(i)->AfterPrint = [&](TComponent&) {
      if (++printed == 3) engine().Stop();
    };
  }
  Generate();
  EXPECT_EQ(pages.size(), 3u);
  EXPECT_TRUE(engine().DonePrinting());
}

enum class StopFrom { ThirdAfterPrint, EndOfPage2, StartOfPage3 };

struct StopCase {
  const char* what;
  StopFrom from;
  bool summary;
  std::vector<std::vector<std::string>> pages;
};

class EngineStops : public EngineTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(EngineStops, TheApplicationsStopEndsTheDataWhereverItComesFrom) {
  const StopCase& c = GetParam();
  RecordReport(20000, 9);  // two records a page: five pages
  if (c.summary) {
    TppSummaryBand& summary = report.AddBand(std::make_unique<TppSummaryBand>());
    summary.SetmmHeight(5000);
    TppLabel& label = summary.AddObject(std::make_unique<TppLabel>());
    label.SetMMBounds(0, 0, 10000, 4000);
    label.SetText("SUM");
  }
  int printed = 0;
  detail->AfterPrint = [&](TComponent&) {
    if (++printed == 3 && c.from == StopFrom::ThirdAfterPrint) engine().Stop();
  };
  report.OnEndPage = [&](TComponent&) {
    if (report.AbsolutePageNo() == 2 && c.from == StopFrom::EndOfPage2) engine().Stop();
  };
  report.OnStartPage = [&](TComponent&) {
    if (report.AbsolutePageNo() == 3 && c.from == StopFrom::StartOfPage3) engine().Stop();
  };
  Generate();
  EXPECT_EQ(Texts(), c.pages) << c.what;
  ASSERT_FALSE(pages.empty());
  EXPECT_TRUE(pages.back().last) << c.what;
  EXPECT_EQ(pages.back().count, static_cast<int32_t>(c.pages.size())) << c.what;
  EXPECT_TRUE(engine().DonePrinting()) << c.what;

  // Every page again, from the checkpoints of the same run: the stop stays where it came.
  printed = 0;
  Generate();
  EXPECT_EQ(Texts(), c.pages) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, EngineStops,
    ::testing::Values(
        StopCase{"after the third print", StopFrom::ThirdAfterPrint, false, {{"R1", "R2"}, {"R3"}}},
        StopCase{"OnEndPage of page 2", StopFrom::EndOfPage2, false, {{"R1", "R2"}, {"R3", "R4"}}},
        StopCase{"OnEndPage of page 2, the summary follows",
                 StopFrom::EndOfPage2,
                 true,
                 {{"R1", "R2"}, {"R3", "R4"}, {"SUM"}}},
        StopCase{"OnStartPage of page 3: no more records on it",
                 StopFrom::StartOfPage3,
                 false,
                 {{"R1", "R2"}, {"R3", "R4"}, {}}}));

TEST_F(EngineTest, ADetailBandThatNothingStopsIsAPrintErrorNotAnEndlessRun) {
  // One card a page, or, with a band of no height, every print on the first page.
  for (const int32_t height : {52388, 0}) {
    SCOPED_TRACE(height);
    TppReport runaway;
    doubles::BuildCard(runaway);
    runaway.SetAutoStop(false);
    for (int i = 0; i < runaway.BandCount(); ++i) {
      if (runaway.Bands(i)->BandType() == btDetail) runaway.Bands(i)->SetmmHeight(height);
    }
    auto& runaway_engine = dynamic_cast<TppEngine&>(*runaway.Engine());
    TppPageRequest request;
    request.SetPageSetting(psAll);
    try {
      runaway_engine.GenerateRequest(runaway.Publisher(), request);
      FAIL() << "the run ended without a Stop";
    } catch (const EPrintError& e) {
      EXPECT_NE(std::string(e.what()).find("AutoStop"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(runaway_engine.Generating());
  }
}

TEST_F(EngineTest, APipelineThatCannotOpenIsAPrintError) {
  RecordReport(20000, 2);
  pipeline.SetUserName("Clientes");
  pipeline.fail_open = true;
  EXPECT_THROW(
      {
        try {
          Generate();
        } catch (const EPrintError& e) {
          EXPECT_STREQ(e.what(), "Nao foi possível abrir a Fonte de Dados.: Clientes");
          throw;
        }
      },
      EPrintError);
}

struct FitCase {
  const char* what;
  TppFitInput input;
  TppFitOutcome outcome;
  int32_t top;
  bool position_break;
};

TEST(BandFit, Table) {
  const FitCase cases[] = {
      {"exactly reaches the bottom", {0, 54000, 54000, false, 0, false}, TppFitOutcome::Fits, 0, false},
      {"one thousandth more", {1, 54000, 54000, false, 0, false}, TppFitOutcome::OutOfSpace, 0, false},
      {"dynamic needs nothing", {54000, 54000, 90000, true, 0, false}, TppFitOutcome::Fits, 54000, false},
      {"print position moves down",
       {1000, 54000, 1000, false, 9000, false},
       TppFitOutcome::Fits,
       9000,
       false},
      {"print position passed: break",
       {10000, 54000, 1000, false, 9000, false},
       TppFitOutcome::OutOfSpace,
       0,
       true},
      {"break pending: prints here",
       {10000, 54000, 1000, false, 9000, true},
       TppFitOutcome::Fits,
       10000,
       false},
      {"print position below page",
       {0, 54000, 1000, false, 54000, false},
       TppFitOutcome::PositionBelowPage,
       0,
       false},
  };
  for (const FitCase& c : cases) {
    const TppFitResult result = FitBand(c.input);
    EXPECT_EQ(result.outcome, c.outcome) << c.what;
    if (c.outcome == TppFitOutcome::Fits) {
      EXPECT_EQ(result.top, c.top) << c.what;
    }
    EXPECT_EQ(result.position_break, c.position_break) << c.what;
  }
}

TEST(BandKinds, CodesBitsKeysAndLists) {
  TppReport report;
  TppHeaderBand header;
  TppDetailBand detail;
  TppFooterBand footer;
  TppPageStyle style;
  TppSummaryBand summary;
  EXPECT_EQ(KindBit(header), 4);
  EXPECT_EQ(KindBit(style), 4);
  EXPECT_EQ(KindBit(detail), 256);
  EXPECT_EQ(KindBit(footer), 8);
  EXPECT_EQ(BandListOf(style), blPageStyle);
  EXPECT_EQ(BandListOf(header), blPageHeader);
  EXPECT_EQ(BandListOf(summary), blSummary);
  EXPECT_EQ(SortKey(style, true), "       0");
  EXPECT_EQ(SortKey(style, false), "      10");
  EXPECT_EQ(PrintTimes(detail), ptUnlimited);
  detail.SetPrintCount(3);
  EXPECT_EQ(PrintTimes(detail), ptCounted);
  EXPECT_EQ(PrintTimes(header), ptOnce);
}

TEST(PageStyle, ShowsOnItsPages) {
  TppPageStyle style;
  style.SetValidPages("2, 4-5");
  EXPECT_EQ(style.PageSetting(), psPageList);
  std::vector<bool> shown;
  for (int page = 1; page <= 6; ++page) shown.push_back(PageStyleShows(style, page, true, 6));
  EXPECT_EQ(shown, (std::vector<bool>{false, true, false, true, true, false}));
  style.SetPageSetting(psPageRange);
  style.SetStartPage(3);
  shown.clear();
  for (int page = 1; page <= 6; ++page) shown.push_back(PageStyleShows(style, page, true, 6));
  EXPECT_EQ(shown, (std::vector<bool>{false, false, true, true, true, true}));
}

}  // namespace
}  // namespace parvel::report
