// Reports with columns on the platform doubles: top to bottom (column after column down the
// page) and left to right (rows of columns), where each record lands, the column bands and
// events, the column positions and their errors, and settings that must still end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/base/errors.h"
#include "report/engine/band_kinds.h"
#include "report/engine/engine.h"
#include "report/engine/list_pipeline.h"
#include "report/output/draw_command.h"
#include "tests/report/model/model_doubles.h"

namespace parvel::report {
namespace {

using Pages = std::vector<std::vector<std::string>>;

// "R3@40/10": record 3 drawn at left 40 mm, top 10 mm.
std::string At(const std::string& text, int32_t left, int32_t top) {
  return text + "@" + std::to_string(left) + "/" + std::to_string(top);
}

// Records `first` to `last` one below the other from `top`, 10 mm apart.
std::vector<std::string> Column(int first, int last, int32_t left, int32_t top = 0) {
  std::vector<std::string> column;
  for (int i = first; i <= last; ++i, top += 10) column.push_back(At("R" + std::to_string(i), left, top));
  return column;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Paper 100 by 54 mm without margins; a detail band of 10 mm whose label shows the record.
class ColumnsTest : public ::testing::Test {
 protected:
  ColumnsTest() {
    report.SetUnits(utMillimeters);
    TppPrinterSetup& setup = report.PrinterSetup();
    setup.SetMarginBottom(0);
    setup.SetMarginTop(0);
    setup.SetMarginLeft(0);
    setup.SetMarginRight(0);
    setup.SetPaperWidth(100.0f);
    setup.SetPaperHeight(54.0f);
    engine().PageReady = [this](TppPage& page) {
      if (page.Calculation()) return;
      std::vector<std::string> seen;
      for (int i = 0; i < page.DrawCommandCount(); ++i) {
        if (auto* text = dynamic_cast<TppDrawText*>(page.DrawCommands(i)))
          seen.push_back(At(text->Text(), text->Left() / 1000, text->Top() / 1000));
      }
      pages.push_back(seen);
    };
    report.OnStartColumn = [this](TComponent&) { started.push_back(report.CurrentColumn()); };
    report.OnEndColumn = [this](TComponent&) { ++ended; };
  }

  TppEngine& engine() { return dynamic_cast<TppEngine&>(*report.Engine()); }

  void Records(int count, TppColumnTraversalType traversal = ctTopToBottom) {
    detail = &report.AddBand(std::make_unique<TppDetailBand>());
    detail->SetmmHeight(10000);
    detail->SetColumnTraversal(traversal);
    TppLabel& label = detail->AddObject(std::make_unique<TppLabel>());
    label.SetMMBounds(0, 0, 8000, 4000);
    std::vector<TppListPipeline::Record> rows;
    for (int i = 1; i <= count; ++i) rows.push_back({"R" + std::to_string(i)});
    pipeline.SetRecords(rows);
    report.SetDataPipeline(&pipeline);
    detail->BeforePrint = [this, &label](TComponent&) { label.SetText(pipeline.Field(0)); };
  }

  template <class Band>
  void Labelled(const std::string& text, int32_t height) {
    Band& band = report.AddBand(std::make_unique<Band>());
    band.SetmmHeight(height);
    TppLabel& label = band.AddObject(std::make_unique<TppLabel>());
    label.SetMMBounds(0, 0, 8000, std::min(height, 3000));
    label.SetText(text);
  }

  void Generate() {
    TppPageRequest request;
    request.SetPageSetting(psAll);
    pages.clear();
    started.clear();
    ended = 0;
    engine().GenerateRequest(report.Publisher(), request);
  }

  // The text of the print error that generating raises; "" when it raises none.
  std::string GenerateError() {
    try {
      Generate();
    } catch (const EPrintError& e) {
      EXPECT_FALSE(engine().Generating());
      return e.what();
    }
    return "";
  }

  parvel::doubles::OneCardPrinter printers;  // before the report, which points into its list
  TppReport report;
  TppListPipeline pipeline;
  TppDetailBand* detail = nullptr;
  Pages pages;
  std::vector<int32_t> started;  // CurrentColumn at each OnStartColumn
  int ended = 0;
};

struct TopToBottomCase {
  const char* what;
  int32_t columns;
  int32_t width;  // thousandths
  std::vector<std::string> positions;
  int records;
  Pages pages;
  std::vector<int32_t> started;
};

class TopToBottom : public ColumnsTest, public ::testing::WithParamInterface<TopToBottomCase> {};

TEST_P(TopToBottom, ColumnsFillOneAfterTheOther) {
  const TopToBottomCase& c = GetParam();
  Records(c.records);
  report.SetColumns(c.columns);
  report.SetmmColumnWidth(c.width);
  report.SetColumnPositions(c.positions);
  Generate();
  EXPECT_EQ(pages, c.pages) << c.what;
  EXPECT_EQ(started, c.started) << c.what;
  EXPECT_EQ(ended, static_cast<int>(c.started.size())) << c.what;
  EXPECT_TRUE(engine().DonePrinting()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TopToBottom,
    ::testing::Values(TopToBottomCase{"two columns, twelve records",
                                      2,
                                      40000,
                                      {},
                                      12,
                                      {Join({Column(1, 5, 0), Column(6, 10, 40)}), Column(11, 12, 0)},
                                      {1, 2, 1}},
                      TopToBottomCase{"three columns, ten records: the third never starts",
                                      3,
                                      30000,
                                      {},
                                      10,
                                      {Join({Column(1, 5, 0), Column(6, 10, 30)})},
                                      {1, 2}},
                      TopToBottomCase{"positions in the report's units",
                                      2,
                                      40000,
                                      {" 5", "55.5 "},
                                      7,
                                      {Join({Column(1, 5, 5), Column(6, 7, 55)})},
                                      {1, 2}},
                      TopToBottomCase{"the third column would end beyond the paper: the page closes",
                                      3,
                                      40000,
                                      {},
                                      12,
                                      {Join({Column(1, 5, 0), Column(6, 10, 40)}), Column(11, 12, 0)},
                                      {1, 2, 1}},
                      TopToBottomCase{
                          "more columns than fit",
                          50,
                          30000,
                          {},
                          16,
                          {Join({Column(1, 5, 0), Column(6, 10, 30), Column(11, 15, 60)}), Column(16, 16, 0)},
                          {1, 2, 3, 1}},
                      TopToBottomCase{"column width 0: every column at the left margin",
                                      2,
                                      0,
                                      {},
                                      7,
                                      {Join({Column(1, 5, 0), Column(6, 7, 0)})},
                                      {1, 2}},
                      TopToBottomCase{"the second position beyond the paper: one column a page",
                                      2,
                                      40000,
                                      {"0", "200"},
                                      7,
                                      {Column(1, 5, 0), Column(6, 7, 0)},
                                      {1, 1}}));

TEST_F(ColumnsTest, TopToBottomColumnBandsPrintOncePerColumnAboveThePageFooter) {
  Records(12);
  report.SetColumns(2);
  report.SetmmColumnWidth(40000);
  Labelled<TppColumnHeaderBand>("CH", 5000);
  Labelled<TppColumnFooterBand>("CF", 4000);
  Labelled<TppFooterBand>("PF", 3000);
  Generate();
  // Page bottom 54 less both footers: four records of 10 mm fit under the column header.
  EXPECT_EQ(engine().GetPageBottom(), 47000);
  const std::vector<std::string> page1 = Join({{At("CH", 0, 0)},
                                               Column(1, 4, 0, 5),
                                               {At("CF", 0, 47), At("CH", 40, 0)},
                                               Column(5, 8, 40, 5),
                                               {At("CF", 40, 47), At("PF", 0, 51)}});
  const std::vector<std::string> page2 =
      Join({{At("CH", 0, 0)}, Column(9, 12, 0, 5), {At("CF", 0, 47), At("PF", 0, 51)}});
  EXPECT_EQ(pages, (Pages{page1, page2}));
  EXPECT_EQ(started, (std::vector<int32_t>{1, 2, 1}));
  EXPECT_EQ(ended, 3);
}

TEST_F(ColumnsTest, TheSummaryOfATopToBottomReportFollowsInTheFirstColumn) {
  Records(3);
  report.SetColumns(2);
  report.SetmmColumnWidth(40000);
  Labelled<TppSummaryBand>("SUM", 5000);
  Generate();
  EXPECT_EQ(pages, (Pages{Join({Column(1, 3, 0), {At("SUM", 0, 30)}})}));
}

TEST_F(ColumnsTest, TheSummaryOfATopToBottomReportWaitsForTheLeftMarginOfTheNextPage) {
  Records(7);
  report.SetColumns(2);
  report.SetmmColumnWidth(40000);
  Labelled<TppSummaryBand>("SUM", 5000);
  Generate();
  EXPECT_EQ(pages, (Pages{Join({Column(1, 5, 0), Column(6, 7, 40)}), {At("SUM", 0, 0)}}));
}

struct ColumnErrorCase {
  const char* what;
  TppColumnTraversalType traversal;
  int32_t columns;
  int32_t width;
  std::vector<std::string> positions;
  std::string error;
};

class ColumnErrors : public ColumnsTest, public ::testing::WithParamInterface<ColumnErrorCase> {};

TEST_P(ColumnErrors, AreAPrintErrorAndTheRunEnds) {
  const ColumnErrorCase& c = GetParam();
  Records(12, c.traversal);
  report.SetColumns(c.columns);
  report.SetmmColumnWidth(c.width);
  report.SetColumnPositions(c.positions);
  EXPECT_EQ(GenerateError(), c.error) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ColumnErrors,
    ::testing::Values(
        ColumnErrorCase{"top to bottom, no position for column 2",
                        ctTopToBottom,
                        2,
                        40000,
                        {"0"},
                        "Nao foi possível determinar uma posiçao para a coluna 2.."},
        ColumnErrorCase{"top to bottom, column 2 at no number",
                        ctTopToBottom,
                        2,
                        40000,
                        {"0", "4O"},
                        "Nao foi possível converter a posiçao da coluna 2.."},
        ColumnErrorCase{"a decimal comma is no number",
                        ctTopToBottom,
                        2,
                        40000,
                        {"12,5", "50"},
                        "Nao foi possível converter a posiçao da coluna 1.."},
        ColumnErrorCase{"left to right, no position for column 3",
                        ctLeftToRight,
                        3,
                        30000,
                        {"0", "30"},
                        "Nao foi possível determinar uma posiçao para a coluna 3.."},
        ColumnErrorCase{"left to right, column 1 at no number",
                        ctLeftToRight,
                        3,
                        30000,
                        {""},
                        "Nao foi possível converter a posiçao da coluna 1.."},
        ColumnErrorCase{"the first column beyond the paper",
                        ctTopToBottom,
                        2,
                        40000,
                        {"80", "0"},
                        "A coluna 1 não cabe na largura da página: começa em 80000, com largura 40000 "
                        "(milésimos de milímetro)"},
        ColumnErrorCase{"a column wider than the paper",
                        ctLeftToRight,
                        2,
                        120000,
                        {},
                        "A coluna 1 não cabe na largura da página: começa em 0, com largura 120000 "
                        "(milésimos de milímetro)"},
        ColumnErrorCase{"a negative column width",
                        ctTopToBottom,
                        2,
                        -1000,
                        {},
                        "A coluna 1 não cabe na largura da página: começa em 0, com largura -1000 "
                        "(milésimos de milímetro)"}));

TEST_F(ColumnsTest, TheReportsErrorPathPutsTheColumnErrorUnderItsOwn) {
  Records(12);
  report.SetColumns(2);
  report.SetColumnPositions({"0"});
  TppPageRequest request;
  try {
    report.GeneratePages(report, request);
    FAIL() << "no error";
  } catch (const EPrintError& e) {
    EXPECT_STREQ(e.what(),
                 "Nao foi possível gerar o relatório.\r\n\r\n"
                 "Nao foi possível determinar uma posiçao para a coluna 2..");
  }
  EXPECT_FALSE(report.Generating());
}

struct LeftToRightCase {
  const char* what;
  int32_t columns;
  int32_t width;
  int records;
  Pages pages;
  std::vector<int32_t> started;
};

class LeftToRight : public ColumnsTest, public ::testing::WithParamInterface<LeftToRightCase> {};

TEST_P(LeftToRight, RecordsFillRowsOfColumns) {
  const LeftToRightCase& c = GetParam();
  Records(c.records, ctLeftToRight);
  report.SetColumns(c.columns);
  report.SetmmColumnWidth(c.width);
  Generate();
  EXPECT_EQ(pages, c.pages) << c.what;
  EXPECT_EQ(started, c.started) << c.what;
  EXPECT_EQ(ended, static_cast<int>(c.started.size())) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LeftToRight,
    ::testing::Values(LeftToRightCase{"five records in three columns",
                                      3,
                                      30000,
                                      5,
                                      {{At("R1", 0, 0), At("R2", 30, 0), At("R3", 60, 0), At("R4", 0, 10),
                                        At("R5", 30, 10)}},
                                      {0, 1, 2}},
                      LeftToRightCase{"column width 0: every column at the left margin",
                                      2,
                                      0,
                                      3,
                                      {{At("R1", 0, 0), At("R2", 0, 0), At("R3", 0, 10)}},
                                      {0, 1}},
                      LeftToRightCase{"more columns than fit: rows of three",
                                      9,
                                      30000,
                                      4,
                                      {{At("R1", 0, 0), At("R2", 30, 0), At("R3", 60, 0), At("R4", 0, 10)}},
                                      {0, 1, 2}},
                      LeftToRightCase{
                          "rows over pages",
                          2,
                          40000,
                          13,
                          {Join({{At("R1", 0, 0), At("R2", 40, 0), At("R3", 0, 10), At("R4", 40, 10)},
                                 {At("R5", 0, 20), At("R6", 40, 20), At("R7", 0, 30), At("R8", 40, 30)},
                                 {At("R9", 0, 40), At("R10", 40, 40)}}),
                           {At("R11", 0, 0), At("R12", 40, 0), At("R13", 0, 10)}},
                          {0, 1, 0, 1}}));

TEST_F(ColumnsTest, LeftToRightColumnBandsPrintOncePerColumnStarted) {
  Records(14, ctLeftToRight);
  report.SetColumns(3);
  report.SetmmColumnWidth(30000);
  Labelled<TppColumnHeaderBand>("CH", 5000);
  Labelled<TppColumnFooterBand>("CF", 4000);
  Generate();
  // Rows at 5, 15, 25 and 35 mm under the headers; a fifth would end below 50 (54 less the
  // column footer), so each column of the fourth row ends with its footer at once.
  std::vector<std::string> page1;
  for (int row = 0, record = 1; row < 4; ++row) {
    for (int column = 0; column < 3; ++column, ++record) {
      if (row == 0) page1.push_back(At("CH", column * 30, 0));
      // The footer is generated before the record's own output reaches the page.
      if (row == 3) page1.push_back(At("CF", column * 30, 50));
      page1.push_back(At("R" + std::to_string(record), column * 30, 5 + row * 10));
    }
  }
  // The third column never starts on page 2: neither header nor footer.
  const std::vector<std::string> page2 = {At("CH", 0, 0),   At("R13", 0, 5), At("CH", 30, 0),
                                          At("R14", 30, 5), At("CF", 0, 50), At("CF", 30, 50)};
  EXPECT_EQ(pages, (Pages{page1, page2}));
  EXPECT_EQ(started, (std::vector<int32_t>{0, 1, 2, 0, 1}));
  EXPECT_EQ(ended, 5);
}

TEST(ColumnLeft, Table) {
  const std::vector<std::string> none;
  EXPECT_EQ(ColumnLeft(none, utMillimeters, 5000, 30000, 2).left, 65000);
  // Far beyond any paper, still a number: the column does not fit.
  const TppColumnLeft far = ColumnLeft(none, utMillimeters, 0, 2000000000, 3);
  EXPECT_EQ(far.left, INT32_MAX);
  EXPECT_FALSE(ColumnFits(far.left, 2000000000, 100000, 0));
  EXPECT_EQ(ColumnLeft({"1"}, utInches, 0, 0, 0).left, 25400);
  EXPECT_EQ(ColumnLeft({"1", "2"}, utMillimeters, 0, 0, 2).outcome, TppColumnLeftOutcome::Missing);
  for (const char* text : {"", "  ", "x", "1e3", "inf", "nan", "1.5mm"}) {
    EXPECT_EQ(ColumnLeft({text}, utMillimeters, 0, 0, 0).outcome, TppColumnLeftOutcome::NotANumber) << text;
  }
  EXPECT_TRUE(ColumnFits(70000, 30000, 100000, 0));
  EXPECT_FALSE(ColumnFits(70001, 30000, 100000, 0));
  EXPECT_FALSE(ColumnFits(70000, 30000, 100000, 1));
  EXPECT_FALSE(ColumnFits(-1, 30000, 100000, 0));
}

}  // namespace
}  // namespace parvel::report
