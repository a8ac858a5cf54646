#pragma once
// Bands: horizontal strips of a report that hold printable components, kept in the report's
// band order by their rank. Lengths are thousandths of a millimetre, shown in Units.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/base/cache.h"
#include "report/base/units.h"
#include "report/model/component.h"
#include "report/output/page_request.h"

namespace parvel::report {

class TppCustomReport;
class TppDataPipeline;

enum TppBandType : int32_t {
  btHeader = 0,
  btTitle = 1,
  btColumnHeader = 2,
  btGroupHeader = 3,
  btDetail = 4,
  btGroupFooter = 5,
  btColumnFooter = 6,
  btSummary = 7,
  btFooter = 8,
  btPageStyle = 9,
};

enum TppPrintHeightType : uint8_t { phStatic, phDynamic };

// Numbered events of bands.
inline constexpr int kBandAfterPrintEvent = 23;
inline constexpr int kBandBeforePrintEvent = 24;
inline constexpr int kBandAfterGenerateEvent = 25;
inline constexpr int kBandBeforeGenerateEvent = 26;

// What the band engine keeps of a band while generating it, in thousandths and page
// coordinates; components lay themselves out from it.
struct TppBandGeneration {
  TppPrintRect print_rect;
  int32_t current_position = 0;
  int32_t page_bottom = 0;
  bool partial_generation = false;
  int32_t partial_adjustment = 0;
  int32_t space_used = 0;
  bool over_flow = false;
  TppComponent* max_stretchable = nullptr;
};

// A rank field: the integer right-aligned in eight characters.
std::string RankField(long value);

class TppBand : public TppCacheable {
 public:
  using TNotifyEvent = std::function<void(TComponent& sender)>;

  explicit TppBand(TComponent* owner = nullptr);
  ~TppBand() override;

  std::string ClassName() const override { return "TppBand"; }
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;
  bool AddStreamedChild(TComponent& child) override;
  void SetParent(TppRelative* parent) override;
  void InsertChild(int index, TppRelative* child) override;
  void RemoveChild(TppRelative* child) override;

  // The type code of the band's kind.
  virtual TppBandType BandType() const = 0;
  // The kind's name, the default caption.
  virtual std::string KindName() const = 0;
  // The sort key of the band list, made of RankField values.
  virtual std::string Rank() const { return RankField(RankNumber()); }
  virtual long RankNumber() const = 0;
  // Laid out per column when the report has columns.
  virtual bool PerColumn() const { return false; }
  virtual int32_t GroupIndex() const { return -1; }

  TppCustomReport* Report() const { return report_; }
  // Leaves the old report's band list and joins `report`'s (which then holds the band).
  void SetReport(TppCustomReport* report);

  // Objects, in drawing order.
  int ObjectCount() const { return ChildCount(); }
  TppComponent* Objects(int index) const;
  int IndexOfObject(const TppComponent* object) const { return IndexOfChild(object); }
  // Appends `object`, which the band then holds.
  template <class T>
  T& AddObject(std::unique_ptr<T> object) {
    T& added = *object;
    object->SetBand(this);
    (void)object.release();  // held by the band from here on
    return added;
  }
  void BringToFront(TppComponent* object);
  void SendToBack(TppComponent* object);
  void MoveObject(int from, int to);

  int32_t mmHeight() const { return mm_height_; }
  void SetmmHeight(int32_t value);
  float Height() const;
  void SetHeight(float value);
  int32_t mmBottomOffset() const { return mm_bottom_offset_; }
  void SetmmBottomOffset(int32_t value);
  float BottomOffset() const;
  void SetBottomOffset(float value);
  int32_t mmPrintPosition() const { return mm_print_position_; }
  void SetmmPrintPosition(int32_t value);
  float PrintPosition() const;
  void SetPrintPosition(float value);
  // The printable width: the paper's less the margins, or the column width per column.
  int32_t mmWidth() const;

  TppPrintHeightType PrintHeight() const { return print_height_; }
  virtual void SetPrintHeight(TppPrintHeightType value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  bool Save() const { return save_; }
  void SetSave(bool value);
  TppUnitType Units() const { return units_; }
  // Stores the unit and passes it to every object.
  void SetUnits(TppUnitType value);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; }

  TppBandGeneration& Generation() { return generation_; }
  const TppBandGeneration& Generation() const { return generation_; }

  // Fits the objects that follow the band's size.
  void FitObjectsToParent();
  // Steps of the engine.
  void DoBeforeGenerate();
  void DoAfterGenerate();
  void DoBeforePrint();
  void DoAfterPrint();
  virtual void EndOfPage() {}
  // Passed on to every object, in object order.
  void StartOfReport();
  void StartOfGeneration();
  void EndOfReport();

  TNotifyEvent BeforePrint;
  TNotifyEvent AfterPrint;
  TNotifyEvent BeforeGenerate;
  TNotifyEvent AfterGenerate;

 protected:
  // Whether the kind publishes BottomOffset and PrintPosition.
  virtual bool PublishesPositions() const { return false; }
  void ResetReportEngine();

 private:
  friend class TppComponent;
  friend class TppCustomReport;
  void ConvertTop(TppComponent& object, int32_t top);
  const TppResolutionSource* ConversionPrinter() const;
  float ToUnits(int32_t value) const;
  int32_t FromUnits(float value) const;

  TppCustomReport* report_ = nullptr;
  int32_t mm_height_ = 13229;
  int32_t mm_bottom_offset_ = 0;
  int32_t mm_print_position_ = 0;
  TppPrintHeightType print_height_ = phStatic;
  bool visible_ = true;
  bool save_ = false;
  TppUnitType units_ = utInches;
  std::string caption_;
  TppBandGeneration generation_;
};

// The band base of the kinds that publish BottomOffset and PrintPosition.
class TppCustomBand : public TppBand {
 public:
  using TppBand::TppBand;
  std::string ClassName() const override { return "TppCustomBand"; }

 protected:
  bool PublishesPositions() const override { return true; }
};

// Header and footer bands: once per page, each page's own choice for the first and last page.
class TppPageBand : public TppBand {
 public:
  using TppBand::TppBand;
  bool PrintOnFirstPage() const { return print_on_first_page_; }
  void SetPrintOnFirstPage(bool value);
  bool PrintOnLastPage() const { return print_on_last_page_; }
  void SetPrintOnLastPage(bool value);
  // The page footer never grows.
  void SetPrintHeight(TppPrintHeightType value) override {
    if (BandType() != btFooter) TppBand::SetPrintHeight(value);
  }
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

 private:
  bool print_on_first_page_ = true;
  bool print_on_last_page_ = true;
};

// Title and summary: once per report, optionally on a page of their own.
class TppReportBand : public TppCustomBand {
 public:
  using TppCustomBand::TppCustomBand;
  bool NewPage() const { return new_page_; }
  void SetNewPage(bool value);
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

 private:
  bool new_page_ = false;
};

// Footers stand at the foot of the page and never grow.
class TppStaticBand : public TppBand {
 public:
  using TppBand::TppBand;
  void SetPrintHeight(TppPrintHeightType /*value*/) override {}
};

#define PARVEL_BAND_CLASS(Name, Base, Code, Kind, RankNo, Columns) \
  class Name : public Base {                                       \
   public:                                                         \
    using Base::Base;                                              \
    std::string ClassName() const override { return #Name; }       \
    TppBandType BandType() const override { return Code; }         \
    std::string KindName() const override { return Kind; }         \
    bool PerColumn() const override { return Columns; }            \
    long RankNumber() const override { return RankNo; }            \
  };

PARVEL_BAND_CLASS(TppTitleBand, TppReportBand, btTitle, "Title", 1, false)
PARVEL_BAND_CLASS(TppHeaderBand, TppPageBand, btHeader, "Header", 2, false)
PARVEL_BAND_CLASS(TppColumnHeaderBand, TppBand, btColumnHeader, "Column Header", 3, true)
PARVEL_BAND_CLASS(TppColumnFooterBand, TppStaticBand, btColumnFooter, "Column Footer", 7, true)
PARVEL_BAND_CLASS(TppFooterBand, TppPageBand, btFooter, "Footer", 8, false)
PARVEL_BAND_CLASS(TppSummaryBand, TppReportBand, btSummary, "Summary", 9, false)

#undef PARVEL_BAND_CLASS

enum TppColumnTraversalType : uint8_t { ctTopToBottom, ctLeftToRight };

// The record band: printed once (or BandsPerRecord times) for every record.
class TppDetailBand : public TppCustomBand {
 public:
  using TppCustomBand::TppCustomBand;
  ~TppDetailBand() override;
  std::string ClassName() const override { return "TppDetailBand"; }
  TppBandType BandType() const override { return btDetail; }
  std::string KindName() const override { return "Detail"; }
  bool PerColumn() const override { return true; }
  long RankNumber() const override { return 5; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

  // Refuses phDynamic while the band runs left to right.
  void SetPrintHeight(TppPrintHeightType value) override;
  // At most this many detail bands per page when above 0.
  int32_t PrintCount() const { return print_count_; }
  void SetPrintCount(int32_t value);
  // Values below 1 are stored as 1.
  int32_t BandsPerRecord() const { return bands_per_record_; }
  void SetBandsPerRecord(int32_t value);
  TppColumnTraversalType ColumnTraversal() const { return column_traversal_; }
  // Left to right makes a dynamic band static.
  void SetColumnTraversal(TppColumnTraversalType value);
  // The band's own pipeline (linked); null for the report's.
  TppDataPipeline* DataPipeline() const { return data_pipeline_; }
  void SetDataPipeline(TppDataPipeline* pipeline);
  const std::string& DataSource() const { return data_source_; }

 private:
  int32_t print_count_ = 0;
  int32_t bands_per_record_ = 1;
  TppColumnTraversalType column_traversal_ = ctTopToBottom;
  TppDataPipeline* data_pipeline_ = nullptr;
  std::string data_pipeline_name_;
  std::string data_source_;
};

// The page background: drawn first on every page it shows on, the other bands over it.
class TppPageStyle : public TppCustomBand {
 public:
  using TppCustomBand::TppCustomBand;
  std::string ClassName() const override { return "TppPageStyle"; }
  TppBandType BandType() const override { return btPageStyle; }
  std::string KindName() const override { return "Page Style"; }
  long RankNumber() const override { return 10; }

  // Every setter ignores new values while the report generates.
  TppPageSettingType PageSetting() const { return page_setting_; }
  void SetPageSetting(TppPageSettingType value);
  const std::vector<std::string>& PageList() const { return page_list_; }
  void SetPageList(const std::vector<std::string>& value);
  int32_t SinglePage() const { return single_page_; }
  void SetSinglePage(int32_t value);
  int32_t StartPage() const { return start_page_; }
  void SetStartPage(int32_t value);
  int32_t EndPage() const { return end_page_; }
  void SetEndPage(int32_t value);
  // Page numbers separated by commas or blanks; "3-5" stands for 3, 4 and 5. Sets psPageList.
  void SetValidPages(const std::string& text);
  std::string ValidPages() const;

 private:
  bool Frozen() const;
  TppPageSettingType page_setting_{};
  std::vector<std::string> page_list_;
  int32_t single_page_ = 0;
  int32_t start_page_ = 0;
  int32_t end_page_ = 0;
};

}  // namespace parvel::report
