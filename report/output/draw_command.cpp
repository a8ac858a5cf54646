#include "report/output/draw_command.h"

#include <array>

#include "platform/text.h"
#include "report/base/stream.h"
#include "report/output/device.h"
#include "report/output/page.h"

namespace parvel::report {

namespace {

constexpr std::array<const char*, 16> kDataTypeNames = {
    "dtBoolean",  "dtDate", "dtTime",   "dtDateTime", "dtInteger", "dtSingle", "dtDouble",  "dtExtended",
    "dtCurrency", "dtChar", "dtString", "dtVariant",  "dtLongint", "dtMemo",   "dtGraphic", "dtNotKnown"};

// Keeps a link to `next` in place of `current`, unless the holder still refers to `current`
// through another field.
void Relink(TppCommunicator& holder, TppCommunicator*& current, TppCommunicator* next, bool still_held) {
  if (current == next) return;
  if (current != nullptr && !still_held) holder.Unlink(current);
  current = next;
  if (next != nullptr) holder.Link(next);
}

void WriteFont(TWriter& writer, const TppFont& font) {
  writer.WritePropName("Font.Charset");
  writer.WriteInteger(font.Charset());
  writer.WritePropName("Font.Color");
  writer.WriteInteger(font.Color());
  writer.WritePropName("Font.Name");
  writer.WriteString(font.Name());
  writer.WritePropName("Font.Pitch");
  writer.WriteIdent(kFontPitchNames[font.Pitch() < kFontPitchNames.size() ? font.Pitch() : 0]);
  writer.WritePropName("Font.Size");
  writer.WriteInteger(font.Size());
  std::vector<std::string> styles;
  for (uint8_t s = fsBold; s <= fsStrikeOut; ++s) {
    if (font.Style().Contains(static_cast<TFontStyle>(s))) styles.emplace_back(kFontStyleNames[s]);
  }
  writer.WritePropName("Font.Style");
  writer.WriteSet(styles);
}

bool ReadFontProperty(const std::string& name, TReader& reader, TppFont& font) {
  if (name == "Charset") {
    font.SetCharset(static_cast<uint8_t>(reader.ReadInteger()));
  } else if (name == "Color") {
    font.SetColor(static_cast<TColor>(reader.ReadInt64()));
  } else if (name == "Name") {
    font.SetName(reader.ReadString());
  } else if (name == "Pitch") {
    const int pitch = text::IndexOf(kFontPitchNames, reader.ReadIdent());
    if (pitch >= 0) font.SetPitch(static_cast<TFontPitch>(pitch));
  } else if (name == "Size") {
    font.SetSize(reader.ReadInteger());
  } else if (name == "Style") {
    TFontStyles styles;
    for (const std::string& member : reader.ReadSet()) {
      const int s = text::IndexOf(kFontStyleNames, member);
      if (s >= 0) styles.Include(static_cast<TFontStyle>(s));
    }
    font.SetStyle(styles);
  } else {
    return false;
  }
  return true;
}

void WriteBool(TWriter& writer, const char* name, bool value) {
  writer.WritePropName(name);
  writer.WriteBoolean(value);
}

void WriteInt(TWriter& writer, const char* name, int64_t value) {
  writer.WritePropName(name);
  writer.WriteInteger(value);
}

}  // namespace

const char* DataTypeName(TppDataType value) {
  return value < kDataTypeNames.size() ? kDataTypeNames[value] : "";
}

const char* TextAlignmentName(TppTextAlignment value) {
  return value < kTextAlignmentNames.size() ? kTextAlignmentNames[value] : "";
}

// ---- TppDrawCommand

TppDrawCommand::TppDrawCommand(TComponent* owner) : TppRelative(owner) {}

TppDrawCommand::~TppDrawCommand() {
  BeginDestruction();
  if (page_ != nullptr) page_->RemoveDrawCommand(this);
}

void TppDrawCommand::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppRelative::LinkNotify(sender, operation);
  if (operation == ppopRemove && sender == source_band_) source_band_ = nullptr;
}

void TppDrawCommand::SetSourceBand(TppCommunicator* band) {
  TppCommunicator* current = source_band_;
  const auto* text = dynamic_cast<const TppDrawText*>(this);
  Relink(*this, source_band_, band, text != nullptr && text->SourceComponent() == current);
}

bool TppDrawCommand::DrawOnDevice(TppDevice& device) { return device.DrawCommand(*this); }

bool TppDrawCommand::IsEqual(const TppDrawCommand& other) const {
  return left_ == other.left_ && top_ == other.top_ && width_ == other.width_ && height_ == other.height_;
}

void TppDrawCommand::Assign(const TppDrawCommand& source) {
  if (&source == this) return;
  SetSourceBand(source.source_band_);
  clickable_ = source.clickable_;
  clip_rect_ = source.clip_rect_;
  data_type_ = source.data_type_;
  device_left_ = source.device_left_;
  device_right_ = source.device_right_;
  device_top_ = source.device_top_;
  device_bottom_ = source.device_bottom_;
  drill_down_key_ = source.drill_down_key_;
  height_ = source.height_;
  left_ = source.left_;
  OnDrawCommandClick = source.OnDrawCommandClick;
  SetTag(source.Tag());
  top_ = source.top_;
  width_ = source.width_;
}

void TppDrawCommand::SetPage(TppPage* page) {
  if (page == page_) return;
  if (page_ != nullptr) page_->RemoveDrawCommand(this);
  if (page != nullptr) page->AddDrawCommand(this);
}

void TppDrawCommand::WriteProperties(TWriter& writer) const {
  TppRelative::WriteProperties(writer);
  if (clickable_) WriteBool(writer, "Clickable", true);
  if (data_type_ != dtString) {
    writer.WritePropName("DataType");
    writer.WriteIdent(DataTypeName(data_type_));
  }
  WriteInt(writer, "Height", height_);
  WriteInt(writer, "Left", left_);
  WriteInt(writer, "Top", top_);
  WriteInt(writer, "Width", width_);
}

bool TppDrawCommand::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "Clickable") {
    clickable_ = reader.ReadBoolean();
  } else if (name == "DataType") {
    const int type = text::IndexOf(kDataTypeNames, reader.ReadIdent());
    if (type >= 0) data_type_ = static_cast<TppDataType>(type);
  } else if (name == "Height") {
    height_ = ReadMMValue(reader);
  } else if (name == "Left") {
    left_ = ReadMMValue(reader);
  } else if (name == "Top") {
    top_ = ReadMMValue(reader);
  } else if (name == "Width") {
    width_ = ReadMMValue(reader);
  } else {
    return TppRelative::ReadProperty(name, reader);
  }
  return true;
}

// ---- TppDrawText

TppDrawText::TppDrawText(TComponent* owner) : TppDrawCommand(owner) {}

TppDrawText::~TppDrawText() { BeginDestruction(); }

void TppDrawText::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppDrawCommand::LinkNotify(sender, operation);
  if (operation == ppopRemove && sender == source_component_) source_component_ = nullptr;
}

void TppDrawText::SetSourceComponent(TppCommunicator* component) {
  Relink(*this, source_component_, component, SourceBand() == source_component_);
}

void TppDrawText::SetAlignment(TAlignment value) {
  switch (value) {
    case taLeftJustify:
      text_alignment_ = taLeftJustified;
      break;
    case taRightJustify:
      text_alignment_ = taRightJustified;
      break;
    case taCenter:
      text_alignment_ = taCentered;
      break;
    default:
      return;
  }
  alignment_ = value;
}

void TppDrawText::SetTextAlignment(TppTextAlignment value) {
  text_alignment_ = value;
  alignment_ = value == taRightJustified ? taRightJustify : value == taCentered ? taCenter : taLeftJustify;
}

bool TppDrawText::IsEqual(const TppDrawCommand& other) const {
  if (!TppDrawCommand::IsEqual(other)) return false;
  const auto* text = dynamic_cast<const TppDrawText*>(&other);
  if (text == nullptr) return false;
  return alignment_ == text->alignment_ && text_alignment_ == text->text_alignment_ &&
         force_justify_last_line_ == text->force_justify_last_line_ && auto_size_ == text->auto_size_ &&
         color_ == text->color_ && font_.Name() == text->font_.Name() && font_.Size() == text->font_.Size() &&
         font_.Style() == text->font_.Style() && is_memo_ == text->is_memo_ && leading_ == text->leading_ &&
         save_length_ == text->save_length_ && text_ == text->text_ && transparent_ == text->transparent_ &&
         word_wrap_ == text->word_wrap_ && tab_stop_positions_ == text->tab_stop_positions_ &&
         wrapped_text_ == text->wrapped_text_;
}

void TppDrawText::Assign(const TppDrawCommand& source) {
  TppDrawCommand::Assign(source);
  const auto* text = dynamic_cast<const TppDrawText*>(&source);
  if (text == nullptr || text == this) return;
  alignment_ = text->alignment_;
  auto_size_ = text->auto_size_;
  color_ = text->color_;
  force_justify_last_line_ = text->force_justify_last_line_;
  is_memo_ = text->is_memo_;
  text_alignment_ = text->text_alignment_;
  leading_ = text->leading_;
  text_ = text->text_;
  transparent_ = text->transparent_;
  word_wrap_ = text->word_wrap_;
  font_ = text->font_;
  tab_stop_positions_ = text->tab_stop_positions_;
  wrapped_text_ = text->wrapped_text_;
  band_save_ = text->band_save_;
  band_save_no_ = text->band_save_no_;
  SetSourceComponent(text->source_component_);
  component_save_ = text->component_save_;
  component_save_no_ = text->component_save_no_;
  save_length_ = text->save_length_;
}

void TppDrawText::WriteProperties(TWriter& writer) const {
  TppDrawCommand::WriteProperties(writer);
  WriteBool(writer, "AutoSize", auto_size_);
  WriteBool(writer, "BandSave", band_save_);
  WriteInt(writer, "BandSaveNo", band_save_no_);
  WriteInt(writer, "Color", color_);
  WriteBool(writer, "ComponentSave", component_save_);
  WriteInt(writer, "ComponentSaveNo", component_save_no_);
  WriteFont(writer, font_);
  WriteBool(writer, "ForceJustifyLastLine", force_justify_last_line_);
  WriteBool(writer, "IsMemo", is_memo_);
  WriteInt(writer, "Leading", leading_);
  WriteInt(writer, "SaveLength", save_length_);
  if (!tab_stop_positions_.empty()) {
    writer.WritePropName("TabStopPositions");
    writer.WriteStringList(tab_stop_positions_);
  }
  writer.WritePropName("Text");
  writer.WriteString(text_);
  writer.WritePropName("TextAlignment");
  writer.WriteIdent(TextAlignmentName(text_alignment_));
  WriteBool(writer, "Transparent", transparent_);
  WriteBool(writer, "WordWrap", word_wrap_);
  if (!wrapped_text_.empty()) {
    writer.WritePropName("WrappedText");
    writer.WriteStringList(wrapped_text_);
  }
}

bool TppDrawText::ReadProperty(const std::string& name, TReader& reader) {
  if (name.starts_with("Font.")) return ReadFontProperty(name.substr(5), reader, font_);
  if (name == "Alignment") {
    // Older streams carry the anchor itself; unknown identifiers are dropped.
    const std::string ident = reader.ReadIdent();
    if (SameText(ident, "taLeftJustify")) SetAlignment(taLeftJustify);
    if (SameText(ident, "taRightJustify")) SetAlignment(taRightJustify);
    if (SameText(ident, "taCenter")) SetAlignment(taCenter);
  } else if (name == "AutoSize") {
    auto_size_ = reader.ReadBoolean();
  } else if (name == "BandSave") {
    band_save_ = reader.ReadBoolean();
  } else if (name == "BandSaveNo") {
    band_save_no_ = reader.ReadInteger();
  } else if (name == "Color") {
    color_ = static_cast<TColor>(reader.ReadInt64());
  } else if (name == "ComponentSave") {
    component_save_ = reader.ReadBoolean();
  } else if (name == "ComponentSaveNo") {
    component_save_no_ = reader.ReadInteger();
  } else if (name == "ForceJustifyLastLine") {
    force_justify_last_line_ = reader.ReadBoolean();
  } else if (name == "IsMemo") {
    is_memo_ = reader.ReadBoolean();
  } else if (name == "Leading") {
    leading_ = ReadMMValue(reader);
  } else if (name == "SaveLength") {
    save_length_ = reader.ReadInteger();
  } else if (name == "TabStopPositions") {
    tab_stop_positions_ = reader.ReadStringList();
  } else if (name == "Text") {
    text_ = reader.ReadString();
  } else if (name == "TextAlignment") {
    const int alignment = text::IndexOf(kTextAlignmentNames, reader.ReadIdent());
    if (alignment >= 0) SetTextAlignment(static_cast<TppTextAlignment>(alignment));
  } else if (name == "Transparent") {
    transparent_ = reader.ReadBoolean();
  } else if (name == "WordWrap") {
    word_wrap_ = reader.ReadBoolean();
  } else if (name == "WrappedText") {
    wrapped_text_ = reader.ReadStringList();
  } else {
    return TppDrawCommand::ReadProperty(name, reader);
  }
  return true;
}

// ---- registration

void RegisterDrawCommandClasses() {
  RegisterClass<TppDrawCommand>("TppDrawCommand");
  RegisterClass<TppDrawText>("TppDrawText");
  RegisterClass<TppDrawVar>("TppDrawVar");
  RegisterClass<TppDrawCalc>("TppDrawCalc");
  RegisterClass<TppDrawVariable>("TppDrawVariable");
  RegisterClass<TppDrawShape>("TppDrawShape");
  RegisterClass<TppDrawLine>("TppDrawLine");
  RegisterClass<TppDrawImage>("TppDrawImage");
  RegisterClass<TppDrawBarCode>("TppDrawBarCode");
  RegisterClass<TppDrawRichText>("TppDrawRichText");
  RegisterClass<TppOutlineDrawCommand>("TppOutlineDrawCommand");
}

namespace {
const bool kDrawCommandsRegistered = (RegisterDrawCommandClasses(), true);
}  // namespace

}  // namespace parvel::report
