#pragma once
// Printable components: geometry stored in thousandths of a millimetre and shown in the
// report's Units, appearance flags, the link to the band, and the contract by which the band
// engine has a component lay itself out on the page and make its draw command.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "report/base/cache.h"
#include "report/base/font.h"
#include "report/base/units.h"
#include "report/output/draw_command.h"

namespace parvel::report {

class TppBand;
class TppCustomReport;
class TppPage;
class TppCustomPrinter;

// Numbered events of components.
inline constexpr int kComponentPrintEvent = 32;
inline constexpr int kDrawCommandCreateEvent = 84;
inline constexpr int kDrawCommandClickEvent = 85;

// A print rectangle in page coordinates, thousandths of a millimetre.
struct TppPrintRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool operator==(const TppPrintRect&) const = default;
};

class TppPrintable : public TppCacheable {
 public:
  using TNotifyEvent = std::function<void(TComponent& sender)>;
  using TppDrawCommandEvent = std::function<void(TComponent& sender, TppDrawCommand& command)>;

  explicit TppPrintable(TComponent* owner = nullptr);
  ~TppPrintable() override;

  std::string ClassName() const override { return "TppPrintable"; }
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

  // Geometry in Units.
  float Left() const;
  void SetLeft(float value);
  float Top() const;
  void SetTop(float value);
  float Width() const;
  void SetWidth(float value);
  float Height() const;
  void SetHeight(float value);

  int32_t mmLeft() const { return mm_left_; }
  virtual void SetmmLeft(int32_t value);
  int32_t mmTop() const { return mm_top_; }
  virtual void SetmmTop(int32_t value);
  int32_t mmWidth() const { return mm_width_; }
  virtual void SetmmWidth(int32_t value);
  int32_t mmHeight() const { return mm_height_; }
  virtual void SetmmHeight(int32_t value);
  // All four at once, then one reset.
  void SetMMBounds(int32_t left, int32_t top, int32_t width, int32_t height);

  // Screen pixels.
  int32_t spLeft() const;
  void SetspLeft(int32_t value);
  int32_t spTop() const;
  void SetspTop(int32_t value);
  int32_t spWidth() const;
  void SetspWidth(int32_t value);
  int32_t spHeight() const;
  void SetspHeight(int32_t value);

  TppUnitType Units() const { return units_; }
  void SetUnits(TppUnitType value) { units_ = value; }

  bool Visible() const { return visible_; }
  void SetVisible(bool value) { Changed(visible_, value); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) { Changed(transparent_, value); }
  TColor Color() const { return color_; }
  void SetColor(TColor value) { Changed(color_, value); }
  const TppFont& Font() const { return font_; }
  virtual void SetFont(const TppFont& font);
  bool WordWrap() const { return word_wrap_; }
  virtual void SetWordWrap(bool value);
  bool AutoSize() const { return auto_size_; }
  virtual void SetAutoSize(bool value);
  TAlignment Alignment() const { return alignment_; }
  virtual void SetAlignment(TAlignment value);
  TppTextAlignment TextAlignment() const { return text_alignment_; }
  virtual void SetTextAlignment(TppTextAlignment value);
  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(const std::string& value);
  const std::string& Text() const { return text_; }
  virtual void SetText(const std::string& value) { text_ = value; }

  bool ParentWidth() const { return parent_width_; }
  void SetParentWidth(bool value);
  bool ParentHeight() const { return parent_height_; }
  void SetParentHeight(bool value);
  bool ShiftWithParent() const { return shift_with_parent_; }
  void SetShiftWithParent(bool value);
  bool StretchWithParent() const { return stretch_with_parent_; }
  void SetStretchWithParent(bool value);
  bool ReprintOnOverFlow() const { return reprint_on_overflow_; }
  void SetReprintOnOverFlow(bool value) { Changed(reprint_on_overflow_, value); }
  bool ResetOnCompute() const { return reset_on_compute_; }
  void SetResetOnCompute(bool value) { reset_on_compute_ = value; }
  const std::string& DataField() const { return data_field_; }
  void SetDataField(const std::string& value) { data_field_ = value; }

  // Generation state.
  bool DrawComponent() const { return draw_component_; }
  void SetDrawComponent(bool value) { draw_component_ = value; }
  bool GenerationComplete() const { return generation_complete_; }
  bool OutOfSpace() const { return out_of_space_; }
  bool OverFlow() const { return over_flow_; }
  int32_t SpaceUsed() const { return space_used_; }
  const TppPrintRect& PrintRect() const { return print_rect_; }

  // The band that holds this object; null for a printable outside a band.
  virtual TppBand* Band() const { return nullptr; }
  // The report of the band; null without one.
  TppCustomReport* Report() const;
  // The printer for utPrinterPixels: the report's, else the shared default printer.
  TppCustomPrinter* Printer() const;

  // Fits the size to the content; the printable base has nothing to fit.
  virtual void AdjustBounds() {}
  // The command that FillDrawCommand fills; none for the base.
  virtual std::unique_ptr<TppDrawCommand> NewDrawCommand() const { return nullptr; }

  // Generation contract.
  virtual void InitGeneration();
  virtual void ResetGeneration();
  virtual void Prepare();
  virtual void Generate();
  virtual void EndGeneration();
  virtual void AddToPage(TppPage& page);
  virtual void CreateDrawCommand(TppPage& page);
  virtual void FillDrawCommand(TppDrawCommand& command);
  void DoOnPrint();
  void DrawCommandClick(TppDrawCommand& command);

  TNotifyEvent OnPrint;
  TppDrawCommandEvent OnDrawCommandCreate;
  TppDrawCommandEvent OnDrawCommandClick;

 protected:
  // Whether a designer is at work; none exists in this program.
  bool Designing() const { return (DesignState() & dsDesigning) != 0; }
  bool Streaming() const { return IsReading() || IsLoading(); }
  // The printer of unit conversions: only printer pixels need one.
  const TppResolutionSource* ConversionPrinter() const;
  // A designer refresh (none here) and the report's engine reset.
  void PropertyChanged();
  // Computes the print rectangle in the band; sets OutOfSpace when a dynamic band has no room.
  virtual void CalcPrintRect();
  void FitToParent();
  void SetGenerationComplete(bool value) { generation_complete_ = value; }
  // The appearance that text components publish: AutoSize, Caption, Color, Font, TextAlignment,
  // Transparent, Visible, WordWrap, each where it differs from its default.
  void WriteAppearance(TWriter& writer, bool autoSizeDefault) const;

  template <class T>
  void Changed(T& field, const T& value) {
    if (field == value) return;
    field = value;
    PropertyChanged();
  }

  int32_t mm_left_ = 0;
  int32_t mm_top_ = 0;
  int32_t mm_width_ = 0;
  int32_t mm_height_ = 0;
  TppUnitType units_ = utInches;
  bool visible_ = true;
  bool transparent_ = false;
  TColor color_ = clWhite;
  TppFont font_;
  bool word_wrap_ = false;
  bool auto_size_ = false;
  TAlignment alignment_ = taLeftJustify;
  TppTextAlignment text_alignment_ = taLeftJustified;
  std::string caption_;
  std::string text_;
  bool parent_width_ = false;
  bool parent_height_ = false;
  bool shift_with_parent_ = false;
  bool stretch_with_parent_ = false;
  bool reprint_on_overflow_ = false;
  bool reset_on_compute_ = false;
  std::string data_field_;

  bool draw_component_ = true;
  bool generation_complete_ = false;
  bool out_of_space_ = false;
  bool over_flow_ = false;
  int32_t space_used_ = 0;
  TppPrintRect print_rect_;
};

class TppComponent : public TppPrintable {
 public:
  explicit TppComponent(TComponent* owner = nullptr);
  ~TppComponent() override;

  std::string ClassName() const override { return "TppComponent"; }
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;
  void SetParent(TppRelative* parent) override;

  TppBand* Band() const override { return band_; }
  // Detaches from the old band and appends to `band`'s objects (which then hold it).
  void SetBand(TppBand* band);
  int32_t BandType() const { return band_type_; }
  int32_t GroupNo() const { return group_no_; }
  bool ParentDataPipeline() const { return parent_data_pipeline_; }
  void SetParentDataPipeline(bool value) { parent_data_pipeline_ = value; }

  // Position in the band's objects, -1 without band.
  int Index() const;
  TppRelative* ParentObject() const { return Parent(); }
  TppComponent* NextSibling() const;

  void FillDrawCommand(TppDrawCommand& command) override;

  // The report's start, the start of each generation and the report's end, told by the band;
  // components without data have nothing to do in them.
  virtual void StartOfReport() {}
  virtual void StartOfGeneration() {}
  virtual void EndOfReport() {}

 private:
  friend class TppBand;
  // The band's side of attaching and detaching.
  void AttachedTo(TppBand* band);

  TppBand* band_ = nullptr;
  int32_t band_type_ = 4;
  int32_t group_no_ = -1;
  bool parent_data_pipeline_ = true;
};

// A component that never stretches; it keeps its DrawComponent flag per page.
class TppCustomComponent : public TppComponent {
 public:
  explicit TppCustomComponent(TComponent* owner = nullptr);
  std::string ClassName() const override { return "TppCustomComponent"; }
  void Generate() override;
  void SaveToCache(int32_t page) override;
  void RestoreFromCache(int32_t page) override;
};

}  // namespace parvel::report
