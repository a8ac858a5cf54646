#pragma once
// Where a printer's pages are measured and drawn: an information context measures only, a
// printing context also renders and sends the job. Coordinates are device pixels with the
// origin at the top-left of the printable area.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spooler.h"

namespace parvel::platform {

struct SurfaceRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const SurfaceRect&) const = default;
};

// A font at the surface's resolution. A negative height is a character height (without
// internal leading) in pixels; a positive one is a cell height.
struct SurfaceFont {
  std::string face = "Arial";
  int height = -12;
  int weight = 400;  // 400 normal, 700 bold, 900 black
  bool italic = false;
  bool underline = false;
  bool strike_out = false;
  uint32_t color = 0;  // 0x00BBGGRR
  bool operator==(const SurfaceFont&) const = default;
};

struct SurfaceTextMetrics {
  int height = 0;
  int ascent = 0;
  int external_leading = 0;
};

// The selected paper in the current orientation, in device pixels.
struct SurfaceMetrics {
  int dpi_x = 0;
  int dpi_y = 0;
  int physical_width = 0;
  int physical_height = 0;
  int printable_width = 0;
  int printable_height = 0;
  int offset_x = 0;
  int offset_y = 0;
};

// The paper as it lies for the settings' orientation: a landscape sheet is turned a quarter, so
// its portrait top margin becomes its left one.
inline PaperArea OrientedPaper(PaperArea portrait, const DeviceSettings& settings) {
  if (!settings.Landscape()) return portrait;
  return PaperArea{portrait.height_um, portrait.width_um,  portrait.top_um,
                   portrait.right_um,  portrait.bottom_um, portrait.left_um};
}

// A paper in device pixels at a resolution; a driver that names none prints at 300 dpi.
inline SurfaceMetrics PaperMetrics(const PaperArea& oriented, int dpi_x, int dpi_y) {
  auto pixels = [](int32_t microns, int dpi) {
    return static_cast<int>(std::lround(microns * static_cast<double>(dpi) / 25400.0));
  };
  SurfaceMetrics m;
  m.dpi_x = dpi_x > 0 ? dpi_x : 300;
  m.dpi_y = dpi_y > 0 ? dpi_y : 300;
  m.physical_width = pixels(oriented.width_um, m.dpi_x);
  m.physical_height = pixels(oriented.height_um, m.dpi_y);
  m.offset_x = pixels(oriented.left_um, m.dpi_x);
  m.offset_y = pixels(oriented.top_um, m.dpi_y);
  m.printable_width = m.physical_width - m.offset_x - pixels(oriented.right_um, m.dpi_x);
  m.printable_height = m.physical_height - m.offset_y - pixels(oriented.bottom_um, m.dpi_y);
  return m;
}

class DrawingSurface {
 public:
  virtual ~DrawingSurface() = default;
  virtual bool IsPrinting() const = 0;
  virtual SurfaceMetrics Metrics() const = 0;

  virtual void SetFont(const SurfaceFont& font) = 0;
  virtual SurfaceTextMetrics TextMetrics() = 0;
  // Width of `text` in pixels (UTF-8), with the justification in force.
  virtual int TextExtent(std::string_view text) = 0;
  // Height in the high and width in the low 16 bits; tab stops in pixels from the text's start,
  // none for the default spacing, one for a repeating spacing.
  virtual uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tab_stops) = 0;
  virtual void TextOut(int x, int y, const SurfaceRect& clip, std::string_view text) = 0;
  virtual void TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>& tab_stops,
                             int tab_origin) = 0;
  virtual void FillRect(const SurfaceRect& rect, uint32_t color) = 0;
  // Spreads `extra` pixels over the next `break_count` blanks of each text output; (0, 0) resets.
  virtual void SetTextJustification(int extra, int break_count) = 0;

  // Document and page brackets; a measuring context ignores them. EndDoc answers the job id and
  // throws SpoolerError when the job is refused.
  virtual void StartDoc(const std::string& title) = 0;
  virtual void StartPage() = 0;
  virtual void EndPage() = 0;
  virtual int EndDoc() = 0;
  virtual void AbortDoc() = 0;
  // Settings changed during a job: the next page uses them.
  virtual void Reset(const DeviceSettings& settings) = 0;
};

class SurfaceFactory {
 public:
  virtual ~SurfaceFactory() = default;
  // nullptr when the printer does not exist; throws SpoolerError when the spooler cannot be
  // asked for now. `settings` may be null: the driver's defaults then apply.
  virtual std::unique_ptr<DrawingSurface> CreateInformationContext(const std::string& device,
                                                                   const DeviceSettings* settings) = 0;
  virtual std::unique_ptr<DrawingSurface> CreatePrintingContext(const std::string& device,
                                                                const DeviceSettings* settings) = 0;
};

}  // namespace parvel::platform
