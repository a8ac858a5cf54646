#pragma once
// The report: a producer with an ordered list of bands, each holding its printable components,
// and the generation engine that turns them into pages.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "report/base/units.h"
#include "report/model/band.h"
#include "report/model/data_pipeline.h"
#include "report/model/engine.h"
#include "report/output/page.h"
#include "report/production/producer.h"

namespace parvel::report {

enum TppNoDataBehaviorType : uint8_t { ndMessageDialog, ndMessageOnPage, ndBlankPage, ndBlankReport };
// A set of TppNoDataBehaviorType, bit n for ordinal n.
using TppNoDataBehaviors = uint8_t;
inline constexpr TppNoDataBehaviors NoDataBit(TppNoDataBehaviorType value) {
  return static_cast<TppNoDataBehaviors>(1u << value);
}

// Numbered events of reports.
inline constexpr int kEndColumnEvent = 15;
inline constexpr int kEndFirstPassEvent = 16;
inline constexpr int kEndPageEvent = 17;
inline constexpr int kEndSecondPassEvent = 18;
inline constexpr int kStartColumnEvent = 19;
inline constexpr int kStartFirstPassEvent = 20;
inline constexpr int kStartPageEvent = 21;
inline constexpr int kStartSecondPassEvent = 22;

class TppCustomReport : public TppProducer {
 public:
  explicit TppCustomReport(TComponent* owner = nullptr);
  ~TppCustomReport() override;

  std::string ClassName() const override { return "TppCustomReport"; }
  std::string UserName() const override { return "Report"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;
  void Loaded() override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;
  bool AddStreamedChild(TComponent& child) override;
  void RemoveChild(TppRelative* child) override;

  void PrinterSetupChanged() override;
  void PageDefChanged() override;
  void SetPrinterSetup(const TppPrinterSetup& setup) override;
  void GeneratePages(TComponent& sender, TppPageRequest& request) override;
  void HandlePrintError(const std::exception_ptr& failure) override;
  void Cancel() override;
  void Reset() override;

  // Bands in band order.
  int BandCount() const { return static_cast<int>(bands_.size()); }
  TppBand* Bands(int index) const;
  // Adds `band` (which the report then holds) at its place in the band order.
  template <class T>
  T& AddBand(std::unique_ptr<T> band) {
    T& added = *band;
    band->SetReport(this);
    (void)band.release();  // held by the report from here on
    return added;
  }
  // The first band of the code's class; groups are not built, so codes 3 and 5 find none.
  TppBand* GetBand(int32_t bandType, int32_t groupIndex = 0) const;
  int GroupCount() const { return 0; }
  // The default band set: header, detail and footer; with columns also the column bands.
  std::set<int32_t> DefaultBands() const;
  // Gives a report without bands the default set, and one without a detail band a detail band.
  void CreateDefaultBands();

  TppReportEngine* Engine() const { return engine_.get(); }
  void SetEngine(std::unique_ptr<TppReportEngine> engine);
  // Tells the engine to discard what it generated, unless reading, loading or printing.
  void ResetEngine();

  TppUnitType Units() const { return units_; }
  void SetUnits(TppUnitType value);
  TppDataPipeline* DataPipeline() const { return data_pipeline_; }
  void SetDataPipeline(TppDataPipeline* pipeline);
  const std::string& DataPipelineName() const { return data_pipeline_name_; }
  bool AutoStop() const { return auto_stop_; }
  void SetAutoStop(bool value) { auto_stop_ = value; }
  int32_t Columns() const { return columns_; }
  void SetColumns(int32_t value);
  int32_t mmColumnWidth() const { return mm_column_width_; }
  void SetmmColumnWidth(int32_t value);
  float ColumnWidth() const;
  void SetColumnWidth(float value);
  // The left of each column as a number in Units, the first column's first; empty: the columns
  // follow each other from the left margin, ColumnWidth apart.
  const std::vector<std::string>& ColumnPositions() const { return column_positions_; }
  void SetColumnPositions(std::vector<std::string> value) {
    column_positions_ = std::move(value);
    ResetEngine();
  }
  int32_t PageLimit() const { return page_limit_; }
  void SetPageLimit(int32_t value);
  TppPassSettingType PassSetting() const { return pass_setting_; }
  void SetPassSetting(TppPassSettingType value);
  TppNoDataBehaviors NoDataBehaviors() const { return no_data_behaviors_; }
  void SetNoDataBehaviors(TppNoDataBehaviors value);
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  // Read through from the engine.
  int32_t AbsolutePageNo() const { return engine_ ? engine_->AbsolutePageNo() : 0; }
  int32_t AbsolutePageCount() const { return engine_ ? engine_->AbsolutePageCount() : 0; }
  int32_t PageNo() const { return engine_ ? engine_->PageNo() : 0; }
  int32_t PageCount() const { return engine_ ? engine_->PageCount() : 0; }
  int32_t CurrentColumn() const { return engine_ ? engine_->CurrentColumn() : 0; }
  bool FirstPass() const { return engine_ && engine_->FirstPass(); }
  bool SecondPass() const { return engine_ && engine_->SecondPass(); }
  TDateTime PrintDateTime() const { return engine_ ? engine_->PrintDateTime() : 0; }
  bool DonePrinting() const { return engine_ && engine_->DonePrinting(); }
  int32_t PageBandCount() const { return engine_ ? engine_->PageBandCount() : 0; }
  int32_t ReportBandCount() const { return engine_ ? engine_->ReportBandCount() : 0; }
  bool Generating() const { return engine_ && engine_->Generating(); }
  TppCustomReport* MainReport() { return this; }
  // Whether the engine puts an outline draw command on each drawn page.
  virtual bool OutlineEnabled() const { return true; }

  // Steps the engine calls.
  // Before the first page of a run, at the start of every generation and after the last page:
  // every band tells each of its components.
  void StartOfReport();
  void StartOfGeneration();
  void EndOfReport();
  void StartPage();
  // Raises OnEndPage and answers whether PageLimit asks the engine to stop.
  bool EndPage();
  void StartColumn();
  void EndColumn();
  void StartFirstPass();
  void EndFirstPass();
  void StartSecondPass();
  void EndSecondPass();

  TNotifyEvent OnStartPage;
  TNotifyEvent OnEndPage;
  TNotifyEvent OnStartColumn;
  TNotifyEvent OnEndColumn;
  TNotifyEvent OnStartFirstPass;
  TNotifyEvent OnEndFirstPass;
  TNotifyEvent OnStartSecondPass;
  TNotifyEvent OnEndSecondPass;
  TNotifyEvent OnNoData;

 private:
  friend class TppBand;
  void InsertBand(TppBand* band);
  void SortBands();
  void Step(const TNotifyEvent& handler, int event);

  std::vector<TppBand*> bands_;  // held as children, in band order
  std::unique_ptr<TppReportEngine> engine_;
  TppUnitType units_ = utInches;
  TppDataPipeline* data_pipeline_ = nullptr;  // linked
  std::string data_pipeline_name_;
  bool auto_stop_ = true;
  int32_t columns_ = 1;
  int32_t mm_column_width_ = 0;
  std::vector<std::string> column_positions_;
  int32_t page_limit_ = 0;
  TppPassSettingType pass_setting_ = psOnePass;
  TppNoDataBehaviors no_data_behaviors_ = NoDataBit(ndBlankPage);
  bool modified_ = false;
};

class TppBandedReport : public TppCustomReport {
 public:
  using TppCustomReport::TppCustomReport;
  std::string ClassName() const override { return "TppBandedReport"; }
  // The bands exist before every job.
  void StartPrintJob() override;
};

// How a report describes itself in an outline of its pages; only Enabled is acted on: a report
// whose outline is not enabled gets no outline draw command on its pages.
struct TppOutlineSettings {
  bool CreateNode = true;
  bool CreatePageNodes = true;
  bool Enabled = true;
};

class TppReport : public TppBandedReport {
 public:
  explicit TppReport(TComponent* owner = nullptr);
  ~TppReport() override;
  std::string ClassName() const override { return "TppReport"; }
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;
  void ConvertFromVersion(int32_t version) override;

  // Handed to the publisher when a print run starts a fresh generation.
  bool CachePages() const { return cache_pages_; }
  void SetCachePages(bool value) { cache_pages_ = value; }
  void PrintToDevices() override;
  // Holds the engine's page checkpoints.
  TppCacheManager& CacheManager() { return *cache_manager_; }

  // The search gate in front of printing. This program builds no search dialog: a report that
  // asks for one goes on as if it had been confirmed (ShowSearchDialog), and the search values
  // are asked of OnGetAutoSearchValues when the report has search fields and starts afresh.
  void Print() override;
  bool ShowAutoSearchDialog() const { return show_auto_search_dialog_; }
  void SetShowAutoSearchDialog(bool value) { show_auto_search_dialog_ = value; }
  // The names of the fields searched on; empty for the card.
  std::vector<std::string>& SearchFields() { return search_fields_; }
  // True while Print runs its search gate.
  bool InPrint() const { return in_print_; }
  TNotifyEvent OnGetAutoSearchValues;

  TppOutlineSettings& OutlineSettings() { return outline_settings_; }
  const TppOutlineSettings& OutlineSettings() const { return outline_settings_; }
  bool OutlineEnabled() const override { return outline_settings_.Enabled; }

  // Entries of older stored reports that are kept by name only: the data source and the
  // handlers named for OnPrintingComplete and OnAutoSearchDialogCreate (the latter is the
  // BeforeAutoSearchDialogCreate handler); the row spacing as stored.
  const std::string& DataSourceName() const { return data_source_name_; }
  const std::string& PrintingCompleteName() const { return printing_complete_name_; }
  const std::string& BeforeAutoSearchDialogCreateName() const { return before_search_dialog_name_; }
  double RowSpacing() const { return row_spacing_; }

 private:
  bool cache_pages_ = false;
  std::unique_ptr<TppCacheManager> cache_manager_;
  bool show_auto_search_dialog_ = false;
  std::vector<std::string> search_fields_;
  bool in_print_ = false;
  TppOutlineSettings outline_settings_;
  std::string data_source_name_;
  std::string printing_complete_name_;
  std::string before_search_dialog_name_;
  double row_spacing_ = 0;
  TPrinterOrientation stored_orientation_ = poPortrait;  // of an old "Orientation" entry
};

// Makes the report classes, bands and labels known to the stream format by class name.
void RegisterReportClasses();

}  // namespace parvel::report
