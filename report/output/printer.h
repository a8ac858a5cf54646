#pragma once
// The report engine's handle on one printer: selection by name, the driver's settings record,
// the measuring or printing surface with its metrics, the job brackets, and the translation of
// a printer setup into the settings record and back. The canvas draws on the wrapper's surface
// with fonts scaled to the printer's resolution.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drawing_surface.h"
#include "platform/spooler.h"
#include "report/base/font.h"
#include "report/base/units.h"
#include "report/output/printer_setup.h"

namespace parvel::report {

class TppPrinterInfo;
class TppPrinterCapabilities;
class TppCustomPrinter;

class TppPrinterCanvas {
 public:
  explicit TppPrinterCanvas(TppCustomPrinter* printer) : printer_(printer) {}
  TppPrinterCanvas(const TppPrinterCanvas&) = delete;
  TppPrinterCanvas& operator=(const TppPrinterCanvas&) = delete;

  TppCustomPrinter* Printer() const { return printer_; }

  const TppFont& Font() const { return font_; }
  // A change notification: the font is scaled again to the printer's resolution.
  void SetFont(const TppFont& font);
  // The font as the surface gets it: a character height at the printer's vertical resolution
  // and, on a monochrome printer, black for every colour but black and white.
  const platform::SurfaceFont& ScaledFont() const { return scaled_; }
  // The resolution the scaled font was made for; 0 before the first scaling.
  int FontPixelsPerInch() const { return font_ppi_; }

  // The wrapper's surface; null when the printer has none.
  platform::DrawingSurface* Handle();

  platform::SurfaceTextMetrics TextMetrics();
  int TextExtent(std::string_view text);
  // Width in the low 16 bits, as text drawing uses it.
  int TabbedTextExtent(std::string_view text, const std::vector<int>& tab_stops);
  void TextRect(const platform::SurfaceRect& clip, int x, int y, std::string_view text);
  void TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>& tab_stops, int tab_origin);
  void FillRect(const platform::SurfaceRect& rect, TColor color);
  void SetTextJustification(int extra, int break_count);

  // Brings the font scaling up to date with the wrapper's resolution and colour.
  void UpdateFont();
  // Forgets what was selected into the surface, so the next use selects the font again.
  void DropObjects() { font_selected_on_ = nullptr; }

 private:
  platform::DrawingSurface& Surface();

  TppCustomPrinter* printer_;
  TppFont font_;
  platform::SurfaceFont scaled_;
  int font_ppi_ = 0;
  const platform::DrawingSurface* font_selected_on_ = nullptr;
};

class TppCustomPrinter : public TppResolutionSource {
 public:
  TppCustomPrinter();
  ~TppCustomPrinter() override;
  TppCustomPrinter(const TppCustomPrinter&) = delete;
  TppCustomPrinter& operator=(const TppCustomPrinter&) = delete;

  void BeginDoc();
  void NewPage();
  void EndPage();
  // Sends the job. A job the spooler refuses is an EPrintError with the spooler's message; the
  // wrapper is idle again either way.
  void EndDoc();
  // Ends a job without sending it.
  void AbortDoc();

  // The printing surface while printing, a measuring one otherwise; created on demand.
  platform::DrawingSurface* Handle();
  TppPrinterCanvas& Canvas();

  platform::PrinterHandle* PrinterHandle();
  // The settings record, read from the driver's defaults on demand; null when there is none.
  platform::DeviceSettings* DevMode();
  std::optional<platform::DeviceSettings> DevModeCopy();
  // While printing the new settings take effect at the next page.
  void SetDevMode(const platform::DeviceSettings& settings);

  void SetPrinterName(const std::string& name);
  const std::string& PrinterName() const { return printer_name_; }
  std::string PrinterDescription() const;
  TppPrinterInfo* PrinterInfo() const { return printer_info_; }
  TppPrinterCapabilities* Capabilities() const;

  bool IsColor();
  // Left, top, right and bottom unprintable margins in device pixels.
  struct Margins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
  };
  Margins PrintableMargins();
  int PixelsPerInch(TppDirection direction) const override;

  // The driver's dialog needs an active form; without one nothing is shown.
  bool ShowPropertiesDialog();
  // Frees the surface and the settings record and closes the printer, unless printing.
  void FreeResources();

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  int PageNumber() const { return page_number_; }
  bool Printing() const { return printing_; }
  bool PageStarted() const { return page_started_; }
  bool SettingsChanged() const { return settings_changed_; }
  int16_t DefaultBin() const { return default_bin_; }
  // The id the spooler gave the last job; 0 before any.
  int JobId() const { return job_id_; }

  int OffsetX() const { return offset_x_; }
  int OffsetY() const { return offset_y_; }
  int MarginRight() const { return margin_right_; }
  int MarginBottom() const { return margin_bottom_; }
  int PixelsPerInchX() const { return ppi_x_; }
  int PixelsPerInchY() const { return ppi_y_; }
  int PhysicalWidth() const { return physical_width_; }
  int PhysicalHeight() const { return physical_height_; }
  int PrintAreaWidth() const { return print_area_width_; }
  int PrintAreaHeight() const { return print_area_height_; }

  std::function<void(TppCustomPrinter& sender)> OnSettingsChange;

 private:
  void FreeHandle();
  void ReadMetrics();
  bool IsScreen() const;

  bool is_color_ = true;
  std::unique_ptr<TppPrinterCanvas> canvas_;
  std::unique_ptr<platform::DrawingSurface> handle_;
  TppPrinterInfo* printer_info_ = nullptr;  // the printer list's entry, not owned
  int16_t default_bin_ = 0;
  std::string title_;
  int page_number_ = 0;
  bool printing_ = false;
  std::unique_ptr<platform::PrinterHandle> printer_handle_;
  std::string printer_name_ = "Default";
  bool settings_changed_ = false;
  bool page_started_ = false;
  std::optional<platform::DeviceSettings> dev_mode_;
  int offset_x_ = 0;
  int offset_y_ = 0;
  int margin_right_ = 0;
  int margin_bottom_ = 0;
  int ppi_x_ = 0;
  int ppi_y_ = 0;
  int physical_width_ = 0;
  int physical_height_ = 0;
  int print_area_height_ = 0;
  int print_area_width_ = 0;
  int job_id_ = 0;
  std::string color_known_for_;
};

class TppPrinter : public TppCustomPrinter {
 public:
  TppPrinter();
  ~TppPrinter() override;

  // Takes over `setup` when it names another printer or differs from the own one.
  void SetPrinterSetup(const TppPrinterSetup& setup);
  // Writes the own setup into the settings record.
  void ApplySetup();
  // Reads the settings record back into the own setup first.
  TppPrinterSetup& PrinterSetup();
  // The own setup as it stands, without reading the settings record back.
  TppPrinterSetup& StoredPrinterSetup() { return *setup_; }
  // The paper's size in tenths of a millimetre, portrait terms.
  std::pair<int32_t, int32_t> CustomPaperSizeTenths();

 private:
  std::unique_ptr<TppPrinterSetup> setup_;
};

// The process-wide printer, made on first use when at least one printer is installed; null
// otherwise. A printer setup converts printer pixels with it when nobody names a printer.
TppPrinter* DefaultPrinter();
// Frees the shared printer; the printer list does this when it is built.
void FreeDefaultPrinter();

}  // namespace parvel::report
