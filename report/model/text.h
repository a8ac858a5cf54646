#pragma once
// Text components: a designed Caption and a printed Text kept apart, the box fitted to the text
// on the printer's canvas, and the text draw command filled from them; labels publish them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/drawing_surface.h"
#include "report/model/component.h"
#include "report/output/printer.h"

namespace parvel::report {

inline constexpr int kGetTextEvent = 53;

// Measures text with one font, in pixels: on a printer's canvas, or on a screen surface when
// there is no printer.
class TppPrinterCanvas;

class TppTextMeasure {
 public:
  TppTextMeasure(TppCustomPrinter* printer, const TppFont& font);
  ~TppTextMeasure();
  TppTextMeasure(const TppTextMeasure&) = delete;
  TppTextMeasure& operator=(const TppTextMeasure&) = delete;

  // False when there is neither a printer context nor a screen to measure on.
  bool Usable() const { return surface_ != nullptr || canvas_ != nullptr; }
  // Width of a piece; a piece with tabs is measured as tabbed text with `tab_stops`.
  int Width(std::string_view text, const std::vector<int>& tab_stops = {});
  // Height of one line: the font's height, plus its external leading when `leading`.
  int LineHeight(bool leading);
  // The resolution the pixels stand for; null means the screen's.
  const TppResolutionSource* Printer() const { return printer_; }

 private:
  TppCustomPrinter* printer_ = nullptr;
  TppPrinterCanvas* canvas_ = nullptr;
  std::unique_ptr<platform::DrawingSurface> surface_;
};

// Alignments and flags of the platform's text measuring in calculate mode.
struct TppCalcRectResult {
  int right = 0;
  int bottom = 0;
};
// The box (0, 0, width, ...) grown or shrunk to the text: without word break, the widest line
// and every line's height; with it, the box's width (wider only for a word longer than it) and
// the wrapped lines' height.
TppCalcRectResult CalcTextRect(TppTextMeasure& measure, const std::string& text, int width, bool wordBreak);

struct TppWrapInput {
  std::string text;
  TppPrintRect rect;  // thousandths
  TppCustomPrinter* printer = nullptr;
  bool char_wrap = false;
  TppFont font;
  bool auto_size = false;
  TppTextAlignment text_alignment = taLeftJustified;
  std::vector<int32_t> tab_stops;  // thousandths
  int32_t leading = 0;             // thousandths
  size_t start = 0;
};

struct TppWrapResult {
  std::vector<std::string> lines;
  size_t next = 0;  // the first character not placed
};

// Breaks a text into the lines that fit the rectangle.
TppWrapResult WrapText(const TppWrapInput& input);

class TppCustomText : public TppCustomComponent {
 public:
  using TppGetTextEvent = std::function<void(TComponent& sender, std::string& text)>;

  explicit TppCustomText(TComponent* owner = nullptr);

  std::string ClassName() const override { return "TppCustomText"; }
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

  void SetCaption(const std::string& value) override;
  void SetTextAlignment(TppTextAlignment value) override;
  void AdjustBounds() override;
  std::unique_ptr<TppDrawCommand> NewDrawCommand() const override;
  void FillDrawCommand(TppDrawCommand& command) override;

  // The text to print: Text, as OnGetText may change it.
  virtual std::string GetText();

  bool CharWrap() const { return char_wrap_; }
  void SetCharWrap(bool value) { Changed(char_wrap_, value); }
  const std::string& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(const std::string& value) { display_format_ = value; }
  bool Save() const { return save_; }
  void SetSave(bool value) { save_ = value; }
  int32_t SaveOrder() const { return save_order_; }
  void SetSaveOrder(int32_t value) { save_order_ = value; }
  int32_t SaveLength() const { return save_length_; }
  void SetSaveLength(int32_t value) { save_length_ = value; }

  TppGetTextEvent OnGetText;

 private:
  bool char_wrap_ = false;
  std::string display_format_;
  bool save_ = false;
  int32_t save_order_ = -1;
  int32_t save_length_ = 0;
};

class TppLabel : public TppCustomText {
 public:
  explicit TppLabel(TComponent* owner = nullptr);
  std::string ClassName() const override { return "TppLabel"; }
  bool PublishesUserName() const override { return true; }
  void SetUserName(const std::string& userName) override;

  // The user name, ": " and the caption.
  std::string Description() const { return UserName() + ": " + Caption(); }
};

}  // namespace parvel::report
