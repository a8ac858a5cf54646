#include "report/model/component.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/text.h"
#include "report/base/stream.h"
#include "report/model/band.h"
#include "report/model/report.h"
#include "report/output/page.h"
#include "report/output/printer.h"

namespace parvel::report {

namespace {

template <size_t N>
int ReadIdentOf(TReader& reader, const std::array<const char*, N>& names) {
  const std::string ident = reader.ReadIdent();
  const int index = text::IndexOf(names, ident);
  if (index < 0) reader.Error("unknown value " + ident);
  return index;
}

int32_t ScreenPixelsToMM(int32_t pixels, TppDirection direction) {
  return UnitsToMMThousandths(static_cast<float>(pixels), utScreenPixels, direction);
}

TAlignment AlignmentOf(TppTextAlignment value) {
  switch (value) {
    case taRightJustified:
      return taRightJustify;
    case taCentered:
      return taCenter;
    default:
      return taLeftJustify;
  }
}

TppTextAlignment TextAlignmentOf(TAlignment value) {
  switch (value) {
    case taRightJustify:
      return taRightJustified;
    case taCenter:
      return taCentered;
    default:
      return taLeftJustified;
  }
}

}  // namespace

// ---- TppPrintable

TppPrintable::TppPrintable(TComponent* owner)
    : TppCacheable(owner),
      mm_width_(ScreenPixelsToMM(65, dirHorizontal)),
      mm_height_(ScreenPixelsToMM(17, dirVertical)) {}

TppPrintable::~TppPrintable() = default;

TppCustomReport* TppPrintable::Report() const {
  TppBand* band = Band();
  return band != nullptr ? band->Report() : nullptr;
}

TppCustomPrinter* TppPrintable::Printer() const {
  if (TppCustomReport* report = Report()) return report->Printer();
  return DefaultPrinter();
}

const TppResolutionSource* TppPrintable::ConversionPrinter() const {
  return units_ == utPrinterPixels ? Printer() : nullptr;
}

void TppPrintable::PropertyChanged() {
  if (Streaming() || IsDestroying()) return;
  if (TppCustomReport* report = Report()) report->ResetEngine();
}

// Left and Width convert horizontally, Top and Height vertically: printers whose two
// resolutions differ must not shift a component sideways.
float TppPrintable::Left() const {
  return MMThousandthsToUnits(mm_left_, units_, dirHorizontal, ConversionPrinter());
}
float TppPrintable::Top() const {
  return MMThousandthsToUnits(mm_top_, units_, dirVertical, ConversionPrinter());
}
float TppPrintable::Width() const {
  return MMThousandthsToUnits(mm_width_, units_, dirHorizontal, ConversionPrinter());
}
float TppPrintable::Height() const {
  return MMThousandthsToUnits(mm_height_, units_, dirVertical, ConversionPrinter());
}

void TppPrintable::SetLeft(float value) {
  if (IsReading()) {
    mm_left_ = static_cast<int32_t>(std::trunc(value));
    return;
  }
  SetmmLeft(UnitsToMMThousandths(value, units_, dirHorizontal, ConversionPrinter()));
}

void TppPrintable::SetTop(float value) {
  if (IsReading()) {
    mm_top_ = static_cast<int32_t>(std::trunc(value));
    return;
  }
  SetmmTop(UnitsToMMThousandths(value, units_, dirVertical, ConversionPrinter()));
}

void TppPrintable::SetWidth(float value) {
  if (IsReading()) {
    mm_width_ = static_cast<int32_t>(std::trunc(value));
    return;
  }
  SetmmWidth(UnitsToMMThousandths(value, units_, dirHorizontal, ConversionPrinter()));
}

void TppPrintable::SetHeight(float value) {
  if (IsReading()) {
    mm_height_ = static_cast<int32_t>(std::trunc(value));
    return;
  }
  SetmmHeight(UnitsToMMThousandths(value, units_, dirVertical, ConversionPrinter()));
}

void TppPrintable::SetmmLeft(int32_t value) {
  if (IsReading()) {
    mm_left_ = value;
    return;
  }
  if (parent_width_) return;
  value = std::max(value, 0);
  // Only a band in a report has a printable width to hold a component to.
  if (TppBand* band = Band(); band != nullptr && band->Report() != nullptr)
    value = std::min(value, band->mmWidth());
  Changed(mm_left_, value);
}

void TppPrintable::SetmmTop(int32_t value) {
  if (IsReading()) {
    mm_top_ = value;
    return;
  }
  if (parent_height_) return;
  value = std::max(value, 0);
  if (Designing() && Band() != nullptr) value = std::min(value, Band()->mmHeight());
  Changed(mm_top_, value);
}

void TppPrintable::SetmmWidth(int32_t value) {
  if (IsReading()) {
    mm_width_ = value;
    return;
  }
  if (parent_width_) return;
  Changed(mm_width_, std::max(value, 0));
}

void TppPrintable::SetmmHeight(int32_t value) {
  if (IsReading()) {
    mm_height_ = value;
    return;
  }
  if (parent_height_) return;
  Changed(mm_height_, std::max(value, 0));
}

void TppPrintable::SetMMBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (Designing() && Band() != nullptr) {
    top = std::clamp(top, 0, std::max(Band()->mmHeight(), 0));
    left = std::clamp(left, 0, std::max(Band()->mmWidth(), 0));
  }
  mm_left_ = left;
  mm_top_ = top;
  mm_width_ = width;
  mm_height_ = height;
  PropertyChanged();
}

int32_t TppPrintable::spLeft() const {
  return static_cast<int32_t>(std::trunc(MMThousandthsToUnits(mm_left_, utScreenPixels, dirHorizontal)));
}
int32_t TppPrintable::spTop() const {
  return static_cast<int32_t>(std::trunc(MMThousandthsToUnits(mm_top_, utScreenPixels, dirVertical)));
}
int32_t TppPrintable::spWidth() const {
  return static_cast<int32_t>(std::trunc(MMThousandthsToUnits(mm_width_, utScreenPixels, dirHorizontal)));
}
int32_t TppPrintable::spHeight() const {
  return static_cast<int32_t>(std::trunc(MMThousandthsToUnits(mm_height_, utScreenPixels, dirVertical)));
}
void TppPrintable::SetspLeft(int32_t value) { SetmmLeft(ScreenPixelsToMM(value, dirHorizontal)); }
void TppPrintable::SetspTop(int32_t value) { SetmmTop(ScreenPixelsToMM(value, dirVertical)); }
void TppPrintable::SetspWidth(int32_t value) { SetmmWidth(ScreenPixelsToMM(value, dirHorizontal)); }
void TppPrintable::SetspHeight(int32_t value) { SetmmHeight(ScreenPixelsToMM(value, dirVertical)); }

void TppPrintable::SetFont(const TppFont& font) {
  font_ = font;
  AdjustBounds();
  PropertyChanged();
}

void TppPrintable::SetWordWrap(bool value) {
  if (value == word_wrap_) return;
  word_wrap_ = value;
  AdjustBounds();
  PropertyChanged();
}

void TppPrintable::SetAutoSize(bool value) {
  if (value == auto_size_) return;
  auto_size_ = value;
  AdjustBounds();
  PropertyChanged();
}

void TppPrintable::SetAlignment(TAlignment value) {
  alignment_ = value;
  text_alignment_ = TextAlignmentOf(value);
  PropertyChanged();
}

void TppPrintable::SetTextAlignment(TppTextAlignment value) {
  text_alignment_ = value;
  alignment_ = AlignmentOf(value);
  PropertyChanged();
}

void TppPrintable::SetCaption(const std::string& value) {
  caption_ = value;
  text_ = value;
  PropertyChanged();
}

void TppPrintable::SetParentWidth(bool value) {
  if (value == parent_width_) return;
  parent_width_ = value;
  if (value && !Streaming()) FitToParent();
}

void TppPrintable::SetParentHeight(bool value) {
  if (value == parent_height_) return;
  parent_height_ = value;
  if (value && !Streaming()) FitToParent();
}

void TppPrintable::SetShiftWithParent(bool value) {
  if (value) stretch_with_parent_ = false;
  Changed(shift_with_parent_, value);
}

void TppPrintable::SetStretchWithParent(bool value) {
  if (value) shift_with_parent_ = false;
  Changed(stretch_with_parent_, value);
}

void TppPrintable::FitToParent() {
  TppBand* band = Band();
  if (band == nullptr || Streaming() || (!parent_width_ && !parent_height_)) return;
  int32_t left = mm_left_, top = mm_top_, width = mm_width_, height = mm_height_;
  if (parent_width_) {
    left = 0;
    width = band->mmWidth();
  }
  if (parent_height_) {
    top = 0;
    height = band->mmHeight();
  }
  if (left != mm_left_ || top != mm_top_ || width != mm_width_ || height != mm_height_)
    SetMMBounds(left, top, width, height);
}

// ---- generation

void TppPrintable::InitGeneration() { over_flow_ = false; }

void TppPrintable::ResetGeneration() {
  generation_complete_ = false;
  space_used_ = 0;
  out_of_space_ = false;
}

void TppPrintable::Prepare() {
  if (visible_) draw_component_ = true;
}

void TppPrintable::Generate() { generation_complete_ = true; }

void TppPrintable::EndGeneration() {
  if (generation_complete_) draw_component_ = false;
}

void TppPrintable::AddToPage(TppPage& page) {
  if (draw_component_ && visible_) CreateDrawCommand(page);
}

void TppPrintable::DoOnPrint() {
  if (OnPrint) OnPrint(*this);
  SendEvent(this, kComponentPrintEvent);
}

void TppPrintable::DrawCommandClick(TppDrawCommand& command) {
  if (OnDrawCommandClick) OnDrawCommandClick(*this, command);
  SendEvent(this, kDrawCommandClickEvent);
}

void TppPrintable::CalcPrintRect() {
  TppBand* band = Band();
  if (band == nullptr) return;
  const TppBandGeneration& g = band->Generation();
  const int32_t left = g.print_rect.left + mm_left_;
  int32_t top = g.print_rect.top + mm_top_;
  int32_t height = mm_height_;
  TppComponent* lowest = nullptr;
  int32_t growth = 0;
  if (g.space_used > 0) {
    lowest = g.max_stretchable;
    growth = g.space_used - band->mmHeight();
  }
  if (g.partial_generation) top -= g.partial_adjustment;
  if (shift_with_parent_) {
    if (lowest != nullptr) {
      top = lowest->PrintRect().top + lowest->SpaceUsed() + (mm_top_ - lowest->mmTop() - lowest->mmHeight());
    } else {
      top += growth;
    }
  }
  if (stretch_with_parent_) {
    if (top < g.current_position) height = g.current_position - top;
    if (top < g.page_bottom && g.page_bottom < top + height) height = g.page_bottom - top;
  }
  if (band->PrintHeight() == phDynamic && g.page_bottom + 1 < top + height) {
    out_of_space_ = true;
    return;
  }
  space_used_ = height;
  print_rect_ = {left, top, left + mm_width_, top + space_used_};
}

void TppPrintable::CreateDrawCommand(TppPage& page) {
  std::unique_ptr<TppDrawCommand> command = NewDrawCommand();
  if (!command) return;
  FillDrawCommand(*command);
  command->SetClickable(static_cast<bool>(OnDrawCommandClick) || IsEventListenedTo(kDrawCommandClickEvent));
  // The page may outlive this component: a click then reaches nobody.
  command->OnDrawCommandClick = [this, alive = Liveness()](TppDrawCommand& clicked) {
    if (!alive.expired()) DrawCommandClick(clicked);
  };
  const TppMMRect area = page.PageDef().mmPrintableRect();
  command->SetClipRect({area.left, area.top, area.right, area.bottom});
  if (OnDrawCommandCreate) OnDrawCommandCreate(*this, *command);
  page.Add(std::move(command));
  SendEvent(this, kDrawCommandCreateEvent);
}

void TppPrintable::FillDrawCommand(TppDrawCommand& command) { command.SetTag(Tag()); }

// ---- streaming

void TppPrintable::WriteProperties(TWriter& writer) const {
  TppCacheable::WriteProperties(writer);
  auto boolean = [&](const char* name, bool value, bool fallback) {
    if (value == fallback) return;
    writer.WritePropName(name);
    writer.WriteBoolean(value);
  };
  boolean("ParentHeight", parent_height_, false);
  boolean("ParentWidth", parent_width_, false);
  boolean("ReprintOnOverFlow", reprint_on_overflow_, false);
  boolean("ResetOnCompute", reset_on_compute_, false);
  boolean("ShiftWithParent", shift_with_parent_, false);
  boolean("StretchWithParent", stretch_with_parent_, false);
  if (!data_field_.empty()) {
    writer.WritePropName("DataField");
    writer.WriteString(data_field_);
  }
  writer.WritePropName("mmHeight");
  writer.WriteInteger(mm_height_);
  writer.WritePropName("mmLeft");
  writer.WriteInteger(mm_left_);
  writer.WritePropName("mmTop");
  writer.WriteInteger(mm_top_);
  writer.WritePropName("mmWidth");
  writer.WriteInteger(mm_width_);
}

void TppPrintable::WriteAppearance(TWriter& writer, bool autoSizeDefault) const {
  const TppPrintable& p = *this;
  auto boolean = [&](const char* name, bool value, bool fallback) {
    if (value == fallback) return;
    writer.WritePropName(name);
    writer.WriteBoolean(value);
  };
  boolean("AutoSize", p.AutoSize(), autoSizeDefault);
  if (!p.Caption().empty()) {
    writer.WritePropName("Caption");
    writer.WriteString(p.Caption());
  }
  if (p.Color() != clWhite) {
    writer.WritePropName("Color");
    writer.WriteInteger(p.Color());
  }
  const TppFont& font = p.Font();
  writer.WritePropName("Font.Charset");
  writer.WriteInteger(font.Charset());
  writer.WritePropName("Font.Color");
  writer.WriteInteger(font.Color());
  writer.WritePropName("Font.Name");
  writer.WriteString(font.Name());
  if (font.Pitch() != fpDefault) {
    writer.WritePropName("Font.Pitch");
    writer.WriteIdent(kFontPitchNames[font.Pitch()]);
  }
  writer.WritePropName("Font.Size");
  writer.WriteInteger(font.Size());
  std::vector<std::string> styles;
  for (size_t i = 0; i < kFontStyleNames.size(); ++i) {
    if (font.Style().Contains(static_cast<TFontStyle>(i))) styles.emplace_back(kFontStyleNames[i]);
  }
  writer.WritePropName("Font.Style");
  writer.WriteSet(styles);
  if (p.TextAlignment() != taLeftJustified) {
    writer.WritePropName("TextAlignment");
    writer.WriteIdent(kTextAlignmentNames[p.TextAlignment()]);
  }
  boolean("Transparent", p.Transparent(), false);
  boolean("Visible", p.Visible(), true);
  boolean("WordWrap", p.WordWrap(), false);
}

bool TppPrintable::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "mmHeight") {
    SetmmHeight(ReadMMValue(reader));
  } else if (name == "mmLeft") {
    SetmmLeft(ReadMMValue(reader));
  } else if (name == "mmTop") {
    SetmmTop(ReadMMValue(reader));
  } else if (name == "mmWidth") {
    SetmmWidth(ReadMMValue(reader));
  } else if (name == "Left") {
    SetLeft(static_cast<float>(reader.ReadFloat()));
  } else if (name == "Top") {
    SetTop(static_cast<float>(reader.ReadFloat()));
  } else if (name == "Width") {
    SetWidth(static_cast<float>(reader.ReadFloat()));
  } else if (name == "Height") {
    SetHeight(static_cast<float>(reader.ReadFloat()));
  } else if (name == "ParentHeight") {
    parent_height_ = reader.ReadBoolean();
  } else if (name == "ParentWidth") {
    parent_width_ = reader.ReadBoolean();
  } else if (name == "ReprintOnOverFlow") {
    reprint_on_overflow_ = reader.ReadBoolean();
  } else if (name == "ResetOnCompute") {
    reset_on_compute_ = reader.ReadBoolean();
  } else if (name == "ShiftWithParent" || name == "ShiftWithBand") {
    SetShiftWithParent(reader.ReadBoolean());
  } else if (name == "StretchWithParent" || name == "StretchWithBand") {
    SetStretchWithParent(reader.ReadBoolean());
  } else if (name == "DataField") {
    data_field_ = reader.ReadString();
  } else if (name == "AutoSize") {
    auto_size_ = reader.ReadBoolean();
  } else if (name == "Caption") {
    caption_ = reader.ReadString();
    text_ = caption_;
  } else if (name == "Color") {
    color_ = static_cast<TColor>(reader.ReadInt64());
  } else if (name == "Font.Charset") {
    font_.SetCharset(static_cast<uint8_t>(reader.ReadInteger()));
  } else if (name == "Font.Color") {
    font_.SetColor(static_cast<TColor>(reader.ReadInt64()));
  } else if (name == "Font.Name") {
    font_.SetName(reader.ReadString());
  } else if (name == "Font.Pitch") {
    font_.SetPitch(static_cast<TFontPitch>(ReadIdentOf(reader, kFontPitchNames)));
  } else if (name == "Font.Size") {
    font_.SetSize(reader.ReadInteger());
  } else if (name == "Font.Style") {
    TFontStyles styles;
    for (const std::string& member : reader.ReadSet()) {
      const int index = text::IndexOf(kFontStyleNames, member);
      if (index < 0) reader.Error("unknown font style " + member);
      styles.Include(static_cast<TFontStyle>(index));
    }
    font_.SetStyle(styles);
  } else if (name == "TextAlignment") {
    SetTextAlignment(static_cast<TppTextAlignment>(ReadIdentOf(reader, kTextAlignmentNames)));
  } else if (name == "Alignment") {
    SetAlignment(static_cast<TAlignment>(ReadIdentOf(reader, kAlignmentNames)));
  } else if (name == "Transparent") {
    transparent_ = reader.ReadBoolean();
  } else if (name == "Visible") {
    visible_ = reader.ReadBoolean();
  } else if (name == "WordWrap") {
    word_wrap_ = reader.ReadBoolean();
  } else if (name == "Region" || name == "OnFormatText" || name == "ParentDataSource" ||
             name == "ReportField" || name == "DataSource") {
    reader.SkipValue();
  } else {
    return TppCacheable::ReadProperty(name, reader);
  }
  return true;
}

// ---- TppComponent

TppComponent::TppComponent(TComponent* owner) : TppPrintable(owner) {}

TppComponent::~TppComponent() {
  // Leaves the band while still whole, so the band's bookkeeping sees a component.
  if (Parent() != nullptr) TppRelative::SetParent(nullptr);
}

void TppComponent::SetBand(TppBand* band) { SetParent(band); }

void TppComponent::SetParent(TppRelative* parent) {
  if (parent != nullptr && dynamic_cast<TppBand*>(parent) == nullptr) return;
  TppRelative::SetParent(parent);
}

void TppComponent::AttachedTo(TppBand* band) {
  band_ = band;
  if (band == nullptr) return;
  units_ = band->Units();
  band_type_ = band->BandType();
  group_no_ = band->GroupIndex();
}

int TppComponent::Index() const { return band_ != nullptr ? band_->IndexOfObject(this) : -1; }

TppComponent* TppComponent::NextSibling() const {
  if (band_ == nullptr) return nullptr;
  TppComponent* next = band_->Objects(Index() + 1);
  return next != nullptr && next->Parent() == Parent() ? next : nullptr;
}

void TppComponent::FillDrawCommand(TppDrawCommand& command) {
  TppPrintable::FillDrawCommand(command);
  command.SetSourceBand(band_);
}

void TppComponent::WriteProperties(TWriter& writer) const {
  TppPrintable::WriteProperties(writer);
  writer.WritePropName("BandType");
  writer.WriteInteger(band_type_);
  if (group_no_ >= 0) {
    writer.WritePropName("GroupNo");
    writer.WriteInteger(group_no_);
  }
}

bool TppComponent::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "BandType") {
    const int32_t code = reader.ReadInteger();
    if (band_ == nullptr) band_type_ = code;
  } else if (name == "GroupNo") {
    group_no_ = reader.ReadInteger();
  } else if (name == "ParentDataPipeline") {
    parent_data_pipeline_ = reader.ReadBoolean();
  } else {
    return TppPrintable::ReadProperty(name, reader);
  }
  return true;
}

// ---- TppCustomComponent

TppCustomComponent::TppCustomComponent(TComponent* owner) : TppComponent(owner) { SetCacheRecordSize(1); }

void TppCustomComponent::Generate() {
  TppBand* band = Band();
  if (reprint_on_overflow_ && band != nullptr && band->Generation().over_flow) Prepare();
  const bool shown_before = visible_ || draw_component_;
  DoOnPrint();
  if (!shown_before && visible_) draw_component_ = true;
  if (draw_component_ && visible_) {
    CalcPrintRect();
    if (out_of_space_) return;
  }
  generation_complete_ = true;
}

void TppCustomComponent::SaveToCache(int32_t page) {
  const uint8_t record = draw_component_ ? 1 : 0;
  WriteCacheRecord(page, &record);
}

void TppCustomComponent::RestoreFromCache(int32_t page) {
  uint8_t record = 0;
  if (ReadCacheRecord(page, &record)) draw_component_ = record != 0;
}

}  // namespace parvel::report
