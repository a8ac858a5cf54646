#pragma once
// Bands: horizontal strips of a report that hold printable components, kept in the report's
// band order by their rank. Lengths are thousandths of a millimetre, shown in Units.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "report/base/cache.h"
#include "report/base/units.h"
#include "report/model/component.h"

namespace parvel::report {

class TppCustomReport;

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
    object.release()->SetBand(this);
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
  void SetPrintHeight(TppPrintHeightType value);
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
  virtual void EndPage() {}
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

PARVEL_BAND_CLASS(TppTitleBand, TppCustomBand, btTitle, "Title", 1, false)
PARVEL_BAND_CLASS(TppHeaderBand, TppBand, btHeader, "Header", 2, false)
PARVEL_BAND_CLASS(TppColumnHeaderBand, TppBand, btColumnHeader, "Column Header", 3, true)
PARVEL_BAND_CLASS(TppDetailBand, TppCustomBand, btDetail, "Detail", 5, true)
PARVEL_BAND_CLASS(TppColumnFooterBand, TppBand, btColumnFooter, "Column Footer", 7, true)
PARVEL_BAND_CLASS(TppFooterBand, TppBand, btFooter, "Footer", 8, false)
PARVEL_BAND_CLASS(TppSummaryBand, TppCustomBand, btSummary, "Summary", 9, false)
PARVEL_BAND_CLASS(TppPageStyle, TppCustomBand, btPageStyle, "Page Style", 10, false)

#undef PARVEL_BAND_CLASS

}  // namespace parvel::report
