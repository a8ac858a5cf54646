#include "report/output/text_drawing.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "report/output/draw_command.h"
#include "report/output/printer.h"

namespace parvel::report {

namespace {

constexpr size_t kMaxTabStops = 100;

bool ParseDecimal(const std::string& text, int32_t& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last && first != last;
}

int ToPrinterPixels(int32_t thousandths, TppDirection direction, const TppResolutionSource* printer) {
  return static_cast<int>(MMThousandthsToUnits(thousandths, utPrinterPixels, direction, printer));
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

void RemoveMarkers(std::string& line) {
  const std::string marker = kParagraphMarker;
  for (size_t at = line.find(marker); at != std::string::npos; at = line.find(marker, at))
    line.erase(at, marker.size());
}

// One blank after every character (UTF-8 sequence) but the last.
std::string SpreadLetters(std::string_view word, int& blanks) {
  std::string spread;
  blanks = 0;
  for (size_t i = 0; i < word.size();) {
    size_t next = i + 1;
    while (next < word.size() && (static_cast<unsigned char>(word[next]) & 0xC0) == 0x80) ++next;
    spread.append(word.substr(i, next - i));
    if (next < word.size()) {
      spread.push_back(' ');
      ++blanks;
    }
    i = next;
  }
  return spread;
}

// Prepares one line of a fully justified text: sets or resets the canvas's justification and
// answers the text to draw from the left edge. `justified` tells whether a spread was set.
std::string JustifyLine(std::string line, const TppDrawText& command, TppPrinterCanvas& canvas,
                        const std::vector<int>& tabs, int width, bool& justified) {
  const bool has_marker = line.find(kParagraphMarker) != std::string::npos;
  justified = false;
  if (has_marker &&
      (!command.ForceJustifyLastLine() || TrimBlanks(line).find(' ') == std::string_view::npos)) {
    canvas.SetTextJustification(0, 0);
    RemoveMarkers(line);
    return line;
  }
  canvas.SetTextJustification(0, 0);
  if (line.empty()) return line;
  // The marker is never drawn, so it takes no part in the width to spread over.
  RemoveMarkers(line);
  const std::string_view core = TrimBlanks(line);
  if (core.empty()) return line;
  int blanks = static_cast<int>(std::count(core.begin(), core.end(), ' '));
  if (blanks == 0) {
    const size_t lead = line.find_first_not_of(' ');
    const std::string leading = line.substr(0, lead);
    const std::string trailing = line.substr(lead + core.size());
    line = leading + SpreadLetters(core, blanks) + trailing;
    if (blanks == 0) return line;  // a single character has nothing to spread over
  }
  const int core_width = canvas.TabbedTextExtent(TrimBlanks(line), tabs);
  canvas.SetTextJustification(width - core_width, blanks);
  justified = true;
  return line;
}

}  // namespace

long RoundHalfEven(long double value) {
  const long double floor = std::floor(value);
  const long double diff = value - floor;
  long result = static_cast<long>(floor);
  if (diff > 0.5L || (diff == 0.5L && (result % 2) != 0)) ++result;
  return result;
}

std::vector<int> TextTabStops(const TppDrawText& command, const TppResolutionSource* printer) {
  std::vector<int> stops;
  if (!command.IsMemo()) return stops;
  for (const std::string& entry : command.TabStopPositions()) {
    if (stops.size() == kMaxTabStops) break;
    int32_t thousandths = 0;
    if (ParseDecimal(entry, thousandths))
      stops.push_back(ToPrinterPixels(thousandths, dirHorizontal, printer));
  }
  return stops;
}

void DrawTextCommand(TppDrawText& command, TppPrinterCanvas& canvas, const TppResolutionSource* printer) {
  const std::vector<int> tabs = TextTabStops(command, printer);

  if (!(canvas.Font() == command.Font())) canvas.SetFont(command.Font());
  const platform::SurfaceTextMetrics metrics = canvas.TextMetrics();
  const int line_height =
      metrics.height + (command.IsMemo() ? ToPrinterPixels(command.Leading(), dirVertical, printer)
                                         : metrics.external_leading);

  int left = command.DeviceLeft();
  int top = command.DeviceTop();
  int right = command.DeviceRight();
  int bottom = command.DeviceBottom();
  if (command.AutoSize() && !command.WordWrap() && !command.Text().empty() && bottom - top < line_height) {
    bottom = top + line_height;
  }

  std::vector<std::string> own_line;
  if (!command.WordWrap() && !command.Text().empty()) own_line.push_back(command.Text());
  const std::vector<std::string>& lines = command.WordWrap() ? command.WrappedText() : own_line;

  auto width_of = [&](std::string_view line) { return canvas.TabbedTextExtent(line, tabs); };

  if (command.AutoSize()) {
    int widest = 0;
    for (const std::string& line : lines) widest = std::max(widest, width_of(line));
    const int width = right - left;
    if (widest != width) {
      switch (command.Alignment()) {
        case taLeftJustify:
          right = left + widest;
          break;
        case taRightJustify:
          left = right - widest;
          break;
        case taCenter:
          left += static_cast<int>(RoundHalfEven(static_cast<long double>(width - widest) / 2));
          right = left + widest;
          break;
      }
    }
  }

  if (!command.Transparent()) canvas.FillRect({left, top, right, bottom}, command.Color());

  const int width = right - left;
  bool any_justified = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int line_top = top + static_cast<int>(i) * line_height;
    std::string text = lines[i];
    int x = left;
    switch (command.TextAlignment()) {
      case taLeftJustified:
        break;
      case taRightJustified:
        x = right - width_of(text);
        break;
      case taCentered:
        x = left +
            static_cast<int>(RoundHalfEven(static_cast<long double>(width - width_of(text)) / 2 - 0.5L));
        break;
      case taFullJustified: {
        bool justified = false;
        text = JustifyLine(std::move(text), command, canvas, tabs, width, justified);
        any_justified = any_justified || justified;
        break;
      }
    }
    if (command.IsMemo()) {
      canvas.TabbedTextOut(x, line_top, text, tabs, x);
    } else if (line_top < bottom) {
      // A line wholly below the rectangle would be clipped away to nothing.
      canvas.TextRect({left, line_top, right, bottom}, x, line_top, text);
    }
  }
  if (any_justified) canvas.SetTextJustification(0, 0);

  if (command.AutoSize()) {
    command.SetDeviceLeft(left);
    command.SetDeviceRight(right);
    command.SetDeviceBottom(command.DeviceTop() + static_cast<int>(lines.size()) * line_height);
  }
}

}  // namespace parvel::report
