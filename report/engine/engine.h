#pragma once
// The generation engine: turns a report into pages of draw commands, one page object reused
// for every page, stamped and handed to the page-ready hook. It decides which bands may print
// (the print condition), keeps the free space of the page, moves through the data, and takes a
// checkpoint after every page so that any page can be generated again.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/base/cache.h"
#include "report/engine/band_engine.h"
#include "report/engine/band_kinds.h"
#include "report/engine/page_rules.h"
#include "report/model/data_pipeline.h"
#include "report/model/engine.h"
#include "report/model/report.h"
#include "report/output/page.h"

namespace parvel::report {

// State bits of the engine.
inline constexpr uint16_t kStateInitialised = 1;
inline constexpr uint16_t kStateFirstPass = 2;
inline constexpr uint16_t kStateSecondPass = 4;
inline constexpr uint16_t kStateNoData = 8;
inline constexpr uint16_t kStateTitlePage = 16;
inline constexpr uint16_t kStateSummaryPage = 32;

// Numbered events of the engine.
inline constexpr int kEngineFirstPageEvent = 13;
inline constexpr int kEngineFirstPassEndEvent = 14;
inline constexpr int kEngineTraversalEvent = 35;
inline constexpr int kEnginePageEndEvent = 90;
inline constexpr int kEngineGenerationStartEvent = 91;

// A pipeline's position, kept to come back to.
struct TppPipelineState {
  uint8_t flags = 0;
  int32_t traversal_count = 0;
  int32_t record_no = 0;
  uint8_t bookmark_held = 0;
  TppBookmark bookmark = 0;
};

class TppEngine : public TppReportEngine, public TppCacheable {
 public:
  explicit TppEngine(TppCustomReport& report);
  ~TppEngine() override;
  std::string ClassName() const override { return "TppEngine"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;
  void EventNotify(TppCommunicator* sender, int eventId, TraParamList* params) override;

  // TppReportEngine
  void Reset() override;
  void GenerateRequest(TppPublisher& publisher, TppPageRequest& request) override;
  void Cancel() override { stop_request_ = true; }
  bool Generating() const override { return busy_; }
  int32_t AbsolutePageNo() const override { return absolute_page_no_; }
  int32_t AbsolutePageCount() const override { return absolute_page_count_; }
  int32_t PageNo() const override { return absolute_page_no_; }
  int32_t PageCount() const override { return absolute_page_count_; }
  // Top to bottom: the column being filled, from 1 (0 before the page's first); left to right:
  // the column of the last detail band, from 0.
  int32_t CurrentColumn() const override { return current_column_; }
  bool FirstPass() const override { return (state_ & kStateFirstPass) != 0; }
  bool SecondPass() const override { return (state_ & kStateSecondPass) != 0; }
  TDateTime PrintDateTime() const override { return print_date_time_; }
  bool DonePrinting() const override { return done_printing_; }
  int32_t PageBandCount() const override { return page_band_count_; }
  int32_t ReportBandCount() const override { return report_band_count_; }
  bool Initial() const override { return (state_ & kStateInitialised) == 0; }
  bool StopRequested() const override { return stop_request_; }
  bool QuietErrors() const override { return quiet_errors_; }
  TppPage* CurrentPage() override { return &page_; }

  // Hooks bound by the report: the page is done (answers whether the page limit is reached),
  // the page is ready for the publisher, and the checkpoint store. Without a checkpoint store
  // every page counts as reachable.
  std::function<bool()> PageEnded;
  std::function<void(TppPage&)> PageReady;
  std::function<int32_t()> LastCheckpointedPage;
  std::function<void(int32_t page)> RestoreCheckpoint;
  std::function<void()> ClearCheckpoints;
  std::function<void(int32_t page)> SaveCheckpoint;
  std::function<void(TppCacheable&)> RegisterCacheable;

  // Used by bands and the report.
  TppCustomReport& Report() const { return report_; }
  TppPage& Page() { return page_; }
  // The lowest point bands may reach: paper height less the bottom margin and every visible
  // column and page footer.
  int32_t GetPageBottom() const;
  TppPrintRect& PrintPositionRect() { return print_position_; }
  int32_t PageSpaceUsed() const { return page_space_used_; }
  uint16_t PrintCondition() const { return print_condition_; }
  void SetPrintCondition(uint16_t value) { print_condition_ = value; }
  uint16_t State() const { return state_; }
  void SetState(uint16_t bits, bool on) { state_ = on ? (state_ | bits) : (state_ & ~bits); }
  bool StopRequest() const { return stop_request_; }
  void SetQuietErrors(bool value) { quiet_errors_ = value; }
  bool PageHasContent() const { return page_has_content_; }
  void SetPageHasContent(bool value) { page_has_content_ = value; }
  bool DetailPrintedOnPage() const { return detail_printed_; }
  void SetDetailPrintedOnPage() { detail_printed_ = true; }
  bool AllDataTraversed() const { return all_data_traversed_; }
  bool LastBandGenerated() const { return last_band_generated_; }
  bool FirstPassComplete() const { return first_pass_complete_; }
  bool PageDrawnNow() const { return page_drawn_; }
  bool HasData() const;
  void CountBand(bool continuing);
  TppDataPipeline* MasterPipeline() const { return master_; }
  const std::vector<TppBand*>& BandList(int list) const { return lists_[static_cast<size_t>(list)]; }
  TppBandEngine* BandEngineOf(const TppBand* band) const;
  bool PageComplete() const { return page_complete_; }

  // Columns. A columnar report fills its page column by column, top to bottom; a left-to-right
  // detail band fills a row of columns before the next row.
  bool Columnar() const { return columnar_; }
  void SetCurrentColumn(int32_t value) { current_column_ = value; }
  // The left of column `index` (from 0); a ColumnPositions entry that is missing or no number is
  // a print error naming the column.
  int32_t ColumnLeftOf(int32_t index);
  // Whether a column at `left` fits across the paper.
  bool ColumnFitsAt(int32_t left) const;
  // The first column of a page does not fit across the paper: no page would hold it.
  [[noreturn]] void ColumnDoesNotFit(int32_t left);
  bool ColumnStarted(int32_t index) const;
  void SetColumnStarted(int32_t index, bool value);
  bool ColumnFinished(int32_t index) const;
  void SetColumnFinished(int32_t index, bool value);
  struct TppColumnBands {
    int32_t space_used = 0;
    bool out_of_space = false;
  };
  // The column header (with OnStartColumn first) or the column footer (with OnEndColumn after)
  // of column `index` of a left-to-right detail band, at the column's left; the print position
  // comes back afterwards and the page stays open whatever happens.
  TppColumnBands GenerateColumnBands(int list, int32_t index);

  // Data traversal.
  void SynchronizeData();
  void RecordPrinted();
  // The data is finished: summary and group footers may print.
  void Stop();
  // Like Stop, and the current page becomes the last.
  void PageLimitReached();
  void ClosePipelines();

  bool IsNextToCheckpoint() const { return absolute_page_no_ == CheckpointedPage() + 1; }
  bool PageNeedsCheckpoint() const {
    return absolute_page_no_ == 0 || absolute_page_no_ > CheckpointedPage();
  }
  void SaveToCache(int32_t page) override;
  void RestoreFromCache(int32_t page) override;
  void ReleaseCache(int32_t page) override;

  // An error the engine or a band found: generation stops and the error leaves for the
  // report's error path.
  [[noreturn]] void Fail(const std::string& message);

 private:
  struct Record;

  void GeneratePages();
  void StartGeneration();
  void OpenPipelines();
  void OpenPipeline(TppDataPipeline& pipeline);
  void BuildLists();
  void SetPassState();
  void TestPassEnd();
  void GeneratePage();
  void StartPage();
  void MainBandLoop();
  void GenerateList(int list, int position, bool remember, bool mayClose = true);
  // A band ran out of space: the column ends, or, outside a column, the page.
  void CloseOnOutOfSpace();
  void StartNextColumn();
  void EndColumn();
  void EndPage();
  void TakeCheckpoint();
  void LastPageCorrection();
  void NoDataStart();
  void NoDataEnd();
  void Stamp();
  void HandOver();
  void MoveOn();
  int32_t CheckpointedPage() const;
  TppPageState PageState() const;

  TppPipelineState SaveState(TppDataPipeline* pipeline);
  void RestoreState(TppDataPipeline* pipeline, TppPipelineState& state, bool release);
  void FreeState(TppDataPipeline* pipeline, TppPipelineState& state);
  void ForgetPipeline(TppDataPipeline* pipeline);

  TppCustomReport& report_;
  TppPage page_;
  TppPublisher* publisher_ = nullptr;
  int32_t absolute_page_no_ = 0;
  int32_t absolute_page_count_ = 0;
  int32_t page_band_count_ = 0;
  int32_t report_band_count_ = 0;
  TDateTime print_date_time_ = 0;
  uint16_t state_ = 0;
  uint16_t print_condition_ = 0;
  TppPrintRect print_position_;
  int32_t page_space_used_ = 0;
  bool done_printing_ = false;
  bool stop_request_ = false;
  bool quiet_errors_ = false;
  bool busy_ = false;
  bool page_has_content_ = false;
  bool page_drawn_ = false;
  bool detail_printed_ = false;
  bool all_data_traversed_ = false;
  bool last_band_generated_ = false;
  bool first_pass_complete_ = false;
  bool main_report_started_ = false;
  bool first_pass_started_ = false;
  bool first_pass_ended_ = false;
  bool second_pass_started_ = false;
  bool second_pass_ended_ = false;
  bool page_complete_ = false;

  bool columnar_ = false;
  int32_t current_column_ = 0;
  int32_t column_start_position_ = 0;
  bool column_complete_ = false;
  std::vector<uint8_t> column_started_;   // left to right, one per column
  std::vector<uint8_t> column_finished_;  // left to right, one per column

  std::vector<std::vector<TppBand*>> lists_;
  std::vector<std::unique_ptr<TppBandEngine>> band_engines_;
  TppBand* last_band_ = nullptr;
  int current_list_ = blTitle;
  int list_position_ = 0;
  TppRequestCursor cursor_;

  // Data traversal.
  TppDataPipeline* master_ = nullptr;  // linked
  bool opened_master_ = false;
  bool advance_record_ = false;
  bool calcs_out_of_sync_ = false;
  bool traversed_master_ = false;
  int64_t records_moved_ = 0;
  TppPipelineState restore_state_;
  TppPipelineState checkpoint_state_;
  bool checkpoint_state_saved_ = false;
  bool checkpoint_state_read_ = false;
  TppBookmark start_bookmark_ = 0;
  // The page whose end a Stop came in after the page's checkpoint had been taken (0: none). The
  // data is finished from that checkpoint on, whenever it is restored.
  int32_t stopped_at_page_end_ = 0;
  // Every bookmark a checkpoint holds lives as long as the checkpoints do.
  std::vector<TppBookmark> checkpoint_bookmarks_;
};

}  // namespace parvel::report
