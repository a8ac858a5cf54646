#include "report/model/text.h"

#include <algorithm>
#include <cmath>

#include "platform/screen_surface.h"
#include "platform/services.h"
#include "report/base/errors.h"
#include "report/base/stream.h"
#include "report/model/band.h"
#include "report/model/report.h"
#include "report/output/printer.h"

namespace parvel::report {

namespace {

size_t Utf8Length(std::string_view text, size_t at) {
  size_t next = at + 1;
  while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
  return next - at;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back().push_back(text[i]);
    }
  }
  return lines;
}

}  // namespace

// ---- measuring

TppTextMeasure::TppTextMeasure(TppCustomPrinter* printer, const TppFont& font) {
  if (printer != nullptr && printer->Handle() != nullptr) {
    printer_ = printer;
    canvas_ = &printer->Canvas();
    if (!(canvas_->Font() == font)) canvas_->SetFont(font);
    return;
  }
  platform::ScreenSurfaceFactory* screens = platform::Find<platform::ScreenSurfaceFactory>();
  if (screens == nullptr) return;
  surface_ = screens->CreateScreenContext();
  if (!surface_) return;
  platform::SurfaceFont scaled;
  scaled.face = font.Name();
  scaled.height =
      -static_cast<int>(std::lround(static_cast<double>(font.Size()) * surface_->Metrics().dpi_y / 72.0));
  scaled.weight = font.Style().Contains(fsBold) ? 700 : 400;
  scaled.italic = font.Style().Contains(fsItalic);
  scaled.underline = font.Style().Contains(fsUnderline);
  scaled.strike_out = font.Style().Contains(fsStrikeOut);
  scaled.color = font.Color();
  surface_->SetFont(scaled);
}

TppTextMeasure::~TppTextMeasure() = default;

int TppTextMeasure::Width(std::string_view text, const std::vector<int>& tab_stops) {
  const bool tabbed = text.find('\t') != std::string_view::npos;
  if (canvas_ != nullptr)
    return tabbed ? canvas_->TabbedTextExtent(text, tab_stops) : canvas_->TextExtent(text);
  if (surface_ == nullptr) return 0;
  return tabbed ? static_cast<int>(surface_->TabbedTextExtent(text, tab_stops) & 0xFFFFu)
                : surface_->TextExtent(text);
}

int TppTextMeasure::LineHeight(bool leading) {
  platform::SurfaceTextMetrics m;
  if (canvas_ != nullptr) {
    m = canvas_->TextMetrics();
  } else if (surface_ != nullptr) {
    m = surface_->TextMetrics();
  }
  return m.height + (leading ? m.external_leading : 0);
}

TppCalcRectResult CalcTextRect(TppTextMeasure& measure, const std::string& text, int width, bool wordBreak) {
  const int line_height = measure.LineHeight(true);
  int right = wordBreak ? width : 0;
  int lines = 0;
  for (const std::string& paragraph : SplitLines(text)) {
    if (!wordBreak) {
      right = std::max(right, measure.Width(paragraph));
      ++lines;
      continue;
    }
    // Words go on a line while they fit; a word wider than the box stands alone and widens it.
    std::string line;
    size_t at = 0;
    int paragraph_lines = 0;
    while (at < paragraph.size()) {
      const size_t blank = paragraph.find(' ', at);
      const size_t end = blank == std::string::npos ? paragraph.size() : blank;
      const std::string word = paragraph.substr(at, end - at);
      std::string joined = line;
      if (!joined.empty()) joined += ' ';
      joined += word;
      if (!line.empty() && measure.Width(joined) > width) {
        ++paragraph_lines;
        line = word;
      } else {
        line = joined;
      }
      right = std::max(right, measure.Width(line));
      at = end == paragraph.size() ? end : end + 1;
    }
    lines += paragraph_lines + 1;
  }
  return {right, lines * line_height};
}

// ---- wrapping

TppWrapResult WrapText(const TppWrapInput& in) {
  TppWrapResult result;
  result.next = in.start;
  TppTextMeasure measure(in.printer, in.font);
  const TppResolutionSource* resolution = measure.Printer();
  const TppUnitType unit = resolution != nullptr ? utPrinterPixels : utScreenPixels;
  std::vector<int> tabs;
  for (int32_t stop : in.tab_stops) {
    tabs.push_back(static_cast<int>(MMThousandthsToUnits(stop, unit, dirHorizontal, resolution)));
  }
  auto width_of = [&](std::string_view piece) {
    return UnitsToMMThousandths(static_cast<float>(measure.Width(piece, tabs)), unit, dirHorizontal,
                                resolution);
  };
  const int32_t line_height =
      UnitsToMMThousandths(static_cast<float>(measure.LineHeight(false)), unit, dirVertical, resolution) +
      in.leading;
  int32_t available = in.rect.right - in.rect.left;
  if (in.auto_size) available += static_cast<int32_t>(std::lround(0.3 * width_of(" ")));
  if (in.rect.top + line_height >= in.rect.bottom) return result;

  const bool justified = in.text_alignment == taFullJustified;
  const std::string_view text = in.text;
  std::string line;
  bool after_wrap = false;  // the current line began by a wrap, not a line break
  int leading_blanks = 0;   // blanks at the start of a wrapped line, while no word has come
  auto room_for_next = [&] {
    return in.rect.top + static_cast<int32_t>(result.lines.size() + 1) * line_height <= in.rect.bottom;
  };
  auto emit = [&](bool paragraph_end) {
    if (!line.empty() && line.back() == ' ') line.erase(line.find_last_not_of(' ') + 1);
    if (paragraph_end && justified) line += kParagraphMarker;
    result.lines.push_back(line);
    line.clear();
    leading_blanks = 0;
  };
  auto fits = [&](std::string_view piece) {
    return width_of(std::string(line) + std::string(piece)) <= available;
  };

  size_t pos = in.start;
  while (pos < text.size() && text[pos] != '\0') {
    // The next token: a blank, a line break, a tab, or a word.
    size_t end = pos + 1;
    bool line_break = false;
    if (text[pos] == '\r') {
      line_break = true;
      if (end < text.size() && text[end] == '\n') ++end;
    } else if (text[pos] == '\n') {
      line_break = true;
    } else if (text.compare(pos, 3, kParagraphMarker) == 0) {
      line_break = true;
      end = pos + 3;
    } else if (text[pos] != ' ' && text[pos] != '\t') {
      while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r' &&
             text[end] != '\n' && text[end] != '\0' && text.compare(end, 3, kParagraphMarker) != 0) {
        ++end;
      }
    }
    if (line_break) {
      emit(true);
      after_wrap = false;
      pos = end;
      result.next = pos;
      if (!room_for_next()) return result;
      continue;
    }
    std::string token(text.substr(pos, end - pos));
    const bool blank = token == " ";
    if (!blank && after_wrap && leading_blanks > 0 && leading_blanks <= 2) {
      line.erase(0, static_cast<size_t>(leading_blanks));
    }
    if (!blank) leading_blanks = after_wrap && leading_blanks > 2 ? leading_blanks : -1;

    while (!token.empty()) {
      if (fits(token)) {
        line += token;
        if (blank && leading_blanks >= 0 && line.find_first_not_of(' ') == std::string::npos) {
          leading_blanks = static_cast<int>(line.size());
        }
        token.clear();
        break;
      }
      if (!in.char_wrap && !line.empty() && width_of(token) <= available) {
        emit(false);
        after_wrap = true;
        if (!room_for_next()) {
          result.next = pos;
          return result;
        }
        leading_blanks = blank ? 0 : -1;
        continue;
      }
      // Split the token: as many characters as fit; at least one on an empty line.
      size_t taken = 0;
      while (taken < token.size()) {
        const size_t step = Utf8Length(token, taken);
        if (!fits(std::string_view(token).substr(0, taken + step))) break;
        taken += step;
      }
      if (taken == 0 && !line.empty()) {
        emit(false);
        after_wrap = true;
        if (!room_for_next()) {
          result.next = pos;
          return result;
        }
        leading_blanks = blank ? 0 : -1;
        continue;
      }
      if (taken == 0) taken = Utf8Length(token, 0);
      line += token.substr(0, taken);
      pos += taken;
      token.erase(0, taken);
      emit(false);
      after_wrap = true;
      if (!room_for_next()) {
        result.next = pos;
        return result;
      }
      leading_blanks = -1;
    }
    pos = end;
    result.next = pos;
  }
  if (!line.empty()) emit(true);
  result.next = pos;
  return result;
}

// ---- TppCustomText

TppCustomText::TppCustomText(TComponent* owner) : TppCustomComponent(owner) {
  // Auto-sized from the start, without fitting a box that has no text yet.
  auto_size_ = true;
}

void TppCustomText::SetCaption(const std::string& value) {
  const bool changed = value != caption_;
  caption_ = value;
  text_ = value;
  if (auto_size_ && changed) AdjustBounds();
  PropertyChanged();
}

void TppCustomText::SetTextAlignment(TppTextAlignment value) {
  // Only memos can justify a text to both edges.
  if (value == taFullJustified) return;
  TppCustomComponent::SetTextAlignment(value);
}

void TppCustomText::AdjustBounds() {
  if (IsReading() || (!auto_size_ && word_wrap_)) return;
  if (TppCustomReport* report = Report(); report != nullptr && report->Generating()) return;
  TppTextMeasure measure(Printer(), font_);
  if (!measure.Usable()) return;
  const TppResolutionSource* printer = measure.Printer();
  const TppUnitType unit = printer != nullptr ? utPrinterPixels : utScreenPixels;
  const int box_width = printer != nullptr
                            ? static_cast<int>(MMThousandthsToUnits(mm_width_, unit, dirHorizontal, printer))
                            : spWidth();
  const TppCalcRectResult box = CalcTextRect(measure, caption_, box_width, word_wrap_);
  const int32_t width = UnitsToMMThousandths(static_cast<float>(box.right), unit, dirHorizontal, printer);
  const int32_t height = UnitsToMMThousandths(static_cast<float>(box.bottom), unit, dirVertical, printer);
  if (!auto_size_) {
    SetMMBounds(mm_left_, mm_top_, mm_width_, height);
    return;
  }
  int32_t left = mm_left_;
  switch (alignment_) {
    case taLeftJustify:
      break;
    case taRightJustify:
      left = mm_left_ + (mm_width_ - width);
      break;
    case taCenter:
      left = mm_left_ + (mm_width_ - width) / 2;
      break;
    default:
      throw EDesignError("TppCustomText.AdjustBounds: Unknown alignment type.");
  }
  SetMMBounds(left, mm_top_, width, height);
}

std::unique_ptr<TppDrawCommand> TppCustomText::NewDrawCommand() const {
  return std::make_unique<TppDrawText>();
}

std::string TppCustomText::GetText() {
  std::string text = text_;
  TppCustomReport* report = Report();
  const bool designing = Designing() && !(report != nullptr && report->Generating());
  if (!Streaming() && !designing) {
    if (OnGetText) OnGetText(*this, text);
    SendEvent(this, kGetTextEvent);
  }
  return text;
}

void TppCustomText::FillDrawCommand(TppDrawCommand& command) {
  TppCustomComponent::FillDrawCommand(command);
  auto* draw = dynamic_cast<TppDrawText*>(&command);
  if (draw == nullptr) return;
  draw->SetAlignment(alignment_);
  draw->SetAutoSize(auto_size_);
  draw->SetColor(color_);
  draw->SetForceJustifyLastLine(false);
  draw->SetLeft(print_rect_.left);
  draw->SetTop(print_rect_.top);
  draw->SetWidth(print_rect_.right - print_rect_.left);
  draw->SetHeight(print_rect_.bottom - print_rect_.top);
  draw->SetText(GetText());
  draw->SetTextAlignment(text_alignment_);
  draw->SetTransparent(transparent_);
  draw->SetWordWrap(word_wrap_);
  draw->SetFont(font_);
  if (word_wrap_) {
    TppWrapInput input;
    input.text = draw->Text();
    input.rect = print_rect_;
    input.printer = Printer();
    input.char_wrap = char_wrap_;
    input.font = font_;
    input.auto_size = auto_size_;
    input.text_alignment = text_alignment_;
    draw->SetWrappedText(WrapText(input).lines);
  }
  TppBand* band = Band();
  TppCustomReport* report = Report();
  draw->SetBandSave(band != nullptr && band->Save());
  draw->SetBandSaveNo(report != nullptr ? report->ReportBandCount() : 0);
  draw->SetSourceComponent(this);
  draw->SetComponentSave(save_);
  draw->SetComponentSaveNo(save_order_);
  draw->SetSaveLength(save_length_);
}

void TppCustomText::WriteProperties(TWriter& writer) const {
  TppCustomComponent::WriteProperties(writer);
  WriteAppearance(writer, true);
  if (char_wrap_) {
    writer.WritePropName("CharWrap");
    writer.WriteBoolean(true);
  }
  if (!display_format_.empty()) {
    writer.WritePropName("DisplayFormat");
    writer.WriteString(display_format_);
  }
  if (save_) {
    writer.WritePropName("Save");
    writer.WriteBoolean(true);
  }
  if (save_order_ != -1) {
    writer.WritePropName("SaveOrder");
    writer.WriteInteger(save_order_);
  }
  if (save_length_ != 0) {
    writer.WritePropName("SaveLength");
    writer.WriteInteger(save_length_);
  }
}

bool TppCustomText::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "CharWrap") {
    char_wrap_ = reader.ReadBoolean();
  } else if (name == "DisplayFormat") {
    display_format_ = reader.ReadString();
  } else if (name == "Save") {
    save_ = reader.ReadBoolean();
  } else if (name == "SaveOrder") {
    save_order_ = reader.ReadInteger();
  } else if (name == "SaveLength") {
    save_length_ = reader.ReadInteger();
  } else {
    return TppCustomComponent::ReadProperty(name, reader);
  }
  return true;
}

// ---- TppLabel

TppLabel::TppLabel(TComponent* owner) : TppCustomText(owner) {}

void TppLabel::SetUserName(const std::string& userName) {
  const std::string old = UserName();
  TppCustomText::SetUserName(userName);
  if (IsReading() || (IsLoading() && (DesignState() & dsPasting) == 0)) return;
  if (UserName() != old && caption_ == old) SetCaption(UserName());
}

}  // namespace parvel::report
