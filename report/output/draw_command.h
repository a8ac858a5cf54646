#pragma once
// The draw commands of a generated page: positioned output in thousandths of a millimetre from
// the paper's top-left corner (margins included). Devices render them.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/base/font.h"
#include "report/base/relative.h"

namespace parvel::report {

class TppDevice;
class TppPage;

enum TppDataType : uint8_t {
  dtBoolean,
  dtDate,
  dtTime,
  dtDateTime,
  dtInteger,
  dtSingle,
  dtDouble,
  dtExtended,
  dtCurrency,
  dtChar,
  dtString,
  dtVariant,
  dtLongint,
  dtMemo,
  dtGraphic,
  dtNotKnown,
};

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TppTextAlignment : uint8_t { taLeftJustified, taRightJustified, taCentered, taFullJustified };
// The stored names of the values, by ordinal.
inline constexpr std::array<const char*, 3> kAlignmentNames = {"taLeftJustify", "taRightJustify", "taCenter"};
inline constexpr std::array<const char*, 4> kTextAlignmentNames = {"taLeftJustified", "taRightJustified",
                                                                   "taCentered", "taFullJustified"};

const char* DataTypeName(TppDataType value);
const char* TextAlignmentName(TppTextAlignment value);

// Ends the last line of a paragraph in a word-wrapped, fully justified text: "$" and the
// pilcrow (UTF-8 here). Rendering never shows it.
inline constexpr const char* kParagraphMarker = "$\xC2\xB6";

struct TppClipRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool operator==(const TppClipRect&) const = default;
};

class TppDrawCommand : public TppRelative {
 public:
  using TppDrawCommandClickEvent = std::function<void(TppDrawCommand& sender)>;

  explicit TppDrawCommand(TComponent* owner = nullptr);
  ~TppDrawCommand() override;

  std::string ClassName() const override { return "TppDrawCommand"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

  // Virtual operations in their order.
  virtual bool DrawOnDevice(TppDevice& device);
  virtual bool IsEqual(const TppDrawCommand& other) const;
  virtual bool IsUpdateable() const { return false; }
  virtual bool Update() { return false; }

  // Copies everything but the page and RedrawPage.
  virtual void Assign(const TppDrawCommand& source);
  // A new command of this object's own class, without owner or page.
  virtual std::unique_ptr<TppDrawCommand> CreateSameClass() const {
    return std::make_unique<TppDrawCommand>();
  }

  TppCommunicator* SourceBand() const { return source_band_; }
  void SetSourceBand(TppCommunicator* band);
  bool Clickable() const { return clickable_; }
  void SetClickable(bool value) { clickable_ = value; }
  const TppClipRect& ClipRect() const { return clip_rect_; }
  void SetClipRect(const TppClipRect& rect) { clip_rect_ = rect; }
  TppDataType DataType() const { return data_type_; }
  void SetDataType(TppDataType value) { data_type_ = value; }
  const std::string& DrillDownKey() const { return drill_down_key_; }
  void SetDrillDownKey(const std::string& key) { drill_down_key_ = key; }

  int32_t DeviceLeft() const { return device_left_; }
  void SetDeviceLeft(int32_t v) { device_left_ = v; }
  int32_t DeviceTop() const { return device_top_; }
  void SetDeviceTop(int32_t v) { device_top_ = v; }
  int32_t DeviceRight() const { return device_right_; }
  void SetDeviceRight(int32_t v) { device_right_ = v; }
  int32_t DeviceBottom() const { return device_bottom_; }
  void SetDeviceBottom(int32_t v) { device_bottom_ = v; }

  int32_t Left() const { return left_; }
  void SetLeft(int32_t v) { left_ = v; }
  int32_t Top() const { return top_; }
  void SetTop(int32_t v) { top_ = v; }
  int32_t Width() const { return width_; }
  void SetWidth(int32_t v) { width_ = v; }
  int32_t Height() const { return height_; }
  void SetHeight(int32_t v) { height_ = v; }

  TppPage* Page() const { return page_; }
  // Moves this command to `page` (which then holds it); nullptr only detaches, and the caller
  // holds the command from then on.
  void SetPage(TppPage* page);
  bool RedrawPage() const { return redraw_page_; }
  void SetRedrawPage(bool value) { redraw_page_ = value; }

  TppDrawCommandClickEvent OnDrawCommandClick;

 private:
  friend class TppPage;

  TppCommunicator* source_band_ = nullptr;  // linked
  bool clickable_ = false;
  TppClipRect clip_rect_;
  TppDataType data_type_ = dtString;
  int32_t device_left_ = 0;
  int32_t device_right_ = 0;
  int32_t device_top_ = 0;
  int32_t device_bottom_ = 0;
  std::string drill_down_key_;
  int32_t left_ = 0;
  int32_t height_ = 0;
  TppPage* page_ = nullptr;
  bool redraw_page_ = false;
  int32_t top_ = 0;
  int32_t width_ = 0;
};

class TppDrawText : public TppDrawCommand {
 public:
  explicit TppDrawText(TComponent* owner = nullptr);
  ~TppDrawText() override;

  std::string ClassName() const override { return "TppDrawText"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;
  bool IsEqual(const TppDrawCommand& other) const override;
  void Assign(const TppDrawCommand& source) override;
  std::unique_ptr<TppDrawCommand> CreateSameClass() const override { return std::make_unique<TppDrawText>(); }

  // Kept in step with TextAlignment.
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  TppTextAlignment TextAlignment() const { return text_alignment_; }
  void SetTextAlignment(TppTextAlignment value);

  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool value) { auto_size_ = value; }
  TColor Color() const { return color_; }
  void SetColor(TColor value) { color_ = value; }
  const TppFont& Font() const { return font_; }
  TppFont& Font() { return font_; }
  void SetFont(const TppFont& font) { font_ = font; }
  bool IsMemo() const { return is_memo_; }
  void SetIsMemo(bool value) { is_memo_ = value; }
  // Thousandths of a millimetre between the lines of a memo.
  int32_t Leading() const { return leading_; }
  void SetLeading(int32_t value) { leading_ = value; }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& value) { text_ = value; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) { transparent_ = value; }
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool value) { word_wrap_ = value; }
  const std::vector<std::string>& WrappedText() const { return wrapped_text_; }
  void SetWrappedText(const std::vector<std::string>& lines) { wrapped_text_ = lines; }
  // Each entry an integer in thousandths of a millimetre, as decimal text.
  const std::vector<std::string>& TabStopPositions() const { return tab_stop_positions_; }
  void SetTabStopPositions(const std::vector<std::string>& stops) { tab_stop_positions_ = stops; }
  bool BandSave() const { return band_save_; }
  void SetBandSave(bool value) { band_save_ = value; }
  int32_t BandSaveNo() const { return band_save_no_; }
  void SetBandSaveNo(int32_t value) { band_save_no_ = value; }
  TppCommunicator* SourceComponent() const { return source_component_; }
  void SetSourceComponent(TppCommunicator* component);
  bool ComponentSave() const { return component_save_; }
  void SetComponentSave(bool value) { component_save_ = value; }
  int32_t ComponentSaveNo() const { return component_save_no_; }
  void SetComponentSaveNo(int32_t value) { component_save_no_ = value; }
  bool ForceJustifyLastLine() const { return force_justify_last_line_; }
  void SetForceJustifyLastLine(bool value) { force_justify_last_line_ = value; }
  int32_t SaveLength() const { return save_length_; }
  void SetSaveLength(int32_t value) { save_length_ = value; }

 private:
  TAlignment alignment_ = taLeftJustify;
  bool auto_size_ = false;
  TColor color_ = clWhite;
  TppFont font_;
  bool is_memo_ = false;
  int32_t leading_ = 0;
  std::string text_;
  bool transparent_ = false;
  bool word_wrap_ = false;
  std::vector<std::string> wrapped_text_;
  std::vector<std::string> tab_stop_positions_;
  bool band_save_ = false;
  int32_t band_save_no_ = 0;
  TppCommunicator* source_component_ = nullptr;  // linked
  bool component_save_ = false;
  int32_t component_save_no_ = 0;
  bool force_justify_last_line_ = false;
  TppTextAlignment text_alignment_ = taLeftJustified;
  int32_t save_length_ = 0;
};

// The other kinds of command. Their content and rendering belong to the components that make
// them; here they are known by class, so that pages can be copied and streamed.
#define PARVEL_DRAW_COMMAND_CLASS(Name, Base)                                                             \
  class Name : public Base {                                                                              \
   public:                                                                                                \
    explicit Name(TComponent* owner = nullptr) : Base(owner) {}                                           \
    std::string ClassName() const override { return #Name; }                                              \
    std::unique_ptr<TppDrawCommand> CreateSameClass() const override { return std::make_unique<Name>(); } \
  };

PARVEL_DRAW_COMMAND_CLASS(TppDrawVar, TppDrawText)
PARVEL_DRAW_COMMAND_CLASS(TppDrawCalc, TppDrawText)
PARVEL_DRAW_COMMAND_CLASS(TppDrawVariable, TppDrawText)
PARVEL_DRAW_COMMAND_CLASS(TppDrawShape, TppDrawCommand)
PARVEL_DRAW_COMMAND_CLASS(TppDrawLine, TppDrawCommand)
PARVEL_DRAW_COMMAND_CLASS(TppDrawImage, TppDrawCommand)
PARVEL_DRAW_COMMAND_CLASS(TppDrawBarCode, TppDrawCommand)
PARVEL_DRAW_COMMAND_CLASS(TppDrawRichText, TppDrawCommand)
PARVEL_DRAW_COMMAND_CLASS(TppOutlineDrawCommand, TppDrawCommand)

#undef PARVEL_DRAW_COMMAND_CLASS

// Registers every draw command class for streaming by its class name. Runs when the program
// starts; calling it again does no harm.
void RegisterDrawCommandClasses();

}  // namespace parvel::report
