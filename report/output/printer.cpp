#include "report/output/printer.h"

#include <cmath>
#include <mutex>

#include "platform/screen.h"
#include "platform/screen_surface.h"
#include "platform/services.h"
#include "platform/text.h"
#include "report/base/component.h"
#include "report/base/errors.h"
#include "report/base/language.h"
#include "report/output/printer_list.h"

namespace parvel::report {
namespace {

constexpr const char* kScreen = "Screen";
constexpr const char* kDefault = "Default";

// Texts of the wrapper's failures (language strings 285 to 289).
constexpr int kNotAvailable = 285;
constexpr int kPrintingFailed = 286;
constexpr int kCannotBeUsed = 287;
constexpr int kScreenDoesNotPrint = 288;
constexpr int kCannotBeAsked = 289;

// A spooler that cannot answer now fails this job only; the printer stays selectable and the
// next job asks again.
[[noreturn]] void FailForNow(const std::string& printer, const platform::SpoolerError& e) {
  throw EPrintError(LoadLanguageFormat(kCannotBeAsked, {printer, e.what()}));
}

// The setup's events stay quiet while the wrapper itself writes into it.
class QuietSetup {
 public:
  explicit QuietSetup(TppPrinterSetup& setup) : setup_(setup) { setup_.SetActive(false); }
  ~QuietSetup() { setup_.SetActive(true); }
  QuietSetup(const QuietSetup&) = delete;
  QuietSetup& operator=(const QuietSetup&) = delete;

 private:
  TppPrinterSetup& setup_;
};

}  // namespace

// ---- canvas ----

void TppPrinterCanvas::SetFont(const TppFont& font) {
  font_ = font;
  font_ppi_ = 0;  // scale afresh
  UpdateFont();
}

void TppPrinterCanvas::UpdateFont() {
  if (printer_ == nullptr) return;
  const int ppi = printer_->PixelsPerInch(dirVertical);
  platform::SurfaceFont scaled = scaled_;
  if (font_ppi_ != ppi) {
    // The point size stays; the character height follows the printer's resolution, halves
    // away from zero.
    scaled.face = font_.Name();
    scaled.height = -static_cast<int>(std::lround(static_cast<double>(font_.Size()) * ppi / 72.0));
    scaled.weight = font_.Style().Contains(fsBold) ? 700 : 400;
    scaled.italic = font_.Style().Contains(fsItalic);
    scaled.underline = font_.Style().Contains(fsUnderline);
    scaled.strike_out = font_.Style().Contains(fsStrikeOut);
    font_ppi_ = ppi;
  }
  scaled.color = font_.Color();
  // A monochrome printer would dither a colour into grey; text prints black instead.
  if (!printer_->IsColor() && scaled.color != clBlack && scaled.color != clWhite) scaled.color = clBlack;
  if (!(scaled == scaled_)) {
    scaled_ = scaled;
    font_selected_on_ = nullptr;
  }
}

platform::DrawingSurface* TppPrinterCanvas::Handle() {
  UpdateFont();
  return printer_ != nullptr ? printer_->Handle() : nullptr;
}

platform::DrawingSurface& TppPrinterCanvas::Surface() {
  platform::DrawingSurface* surface = printer_ != nullptr ? printer_->Handle() : nullptr;
  if (surface == nullptr) throw EPrintError(LoadLanguageFormat(kCannotBeUsed, {printer_->PrinterName()}));
  if (font_selected_on_ != surface) {
    UpdateFont();
    surface->SetFont(scaled_);
    font_selected_on_ = surface;
  }
  return *surface;
}

platform::SurfaceTextMetrics TppPrinterCanvas::TextMetrics() { return Surface().TextMetrics(); }

int TppPrinterCanvas::TextExtent(std::string_view text) { return Surface().TextExtent(text); }

int TppPrinterCanvas::TabbedTextExtent(std::string_view text, const std::vector<int>& tab_stops) {
  return static_cast<int>(Surface().TabbedTextExtent(text, tab_stops) & 0xFFFFu);
}

void TppPrinterCanvas::TextRect(const platform::SurfaceRect& clip, int x, int y, std::string_view text) {
  Surface().TextOut(x, y, clip, text);
}

void TppPrinterCanvas::TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>& tab_stops,
                                     int tab_origin) {
  Surface().TabbedTextOut(x, y, text, tab_stops, tab_origin);
}

void TppPrinterCanvas::FillRect(const platform::SurfaceRect& rect, TColor color) {
  Surface().FillRect(rect, color);
}

void TppPrinterCanvas::SetTextJustification(int extra, int break_count) {
  Surface().SetTextJustification(extra, break_count);
}

// ---- custom printer ----

TppCustomPrinter::TppCustomPrinter() = default;

TppCustomPrinter::~TppCustomPrinter() {
  // A job still open when its printer goes is dropped, not sent half-done.
  if (printing_ && handle_) handle_->AbortDoc();
  printing_ = false;
  FreeResources();
}

bool TppCustomPrinter::IsScreen() const { return printer_name_ == kScreen; }

TppPrinterCanvas& TppCustomPrinter::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TppPrinterCanvas>(this);
  return *canvas_;
}

void TppCustomPrinter::FreeHandle() {
  handle_.reset();
  if (canvas_) canvas_->DropObjects();
}

void TppCustomPrinter::FreeResources() {
  if (printing_) return;
  FreeHandle();
  dev_mode_.reset();
  printer_handle_.reset();
}

void TppCustomPrinter::SetPrinterName(const std::string& name) {
  if (printing_) return;
  TppPrinterList& list = PrinterList();
  if (name == kDefault) list.ReadDefaultPrinter();
  TppPrinterInfo* info = list.GetPrinterInfo(name);
  if (info == nullptr || !info->Revalidate()) info = list.GetPrinterInfo(kScreen);
  if (info == nullptr || info == printer_info_) return;
  // Whatever was made before a printer was chosen belongs to the old name: drop it too.
  FreeResources();
  printer_name_ = info->Name();
  printer_info_ = info;
}

std::string TppCustomPrinter::PrinterDescription() const {
  if (printer_name_ == kDefault) return PrinterList().DefaultPrinterName();
  return printer_name_;
}

TppPrinterCapabilities* TppCustomPrinter::Capabilities() const {
  return printer_info_ != nullptr ? &printer_info_->GetCapabilities() : nullptr;
}

platform::PrinterHandle* TppCustomPrinter::PrinterHandle() {
  if (!printer_handle_) {
    printer_info_ = PrinterList().GetPrinterInfo(printer_name_);
    if (printer_info_ != nullptr && printer_info_->Device() && !printer_info_->Device()->empty()) {
      try {
        printer_handle_ = platform::Get<platform::Spooler>().OpenPrinter(*printer_info_->Device());
      } catch (const platform::SpoolerError& e) {
        FailForNow(printer_name_, e);
      }
    }
  }
  return printer_handle_.get();
}

platform::DeviceSettings* TppCustomPrinter::DevMode() {
  if (!dev_mode_) {
    if (PrinterList().GetPrinterInfo(printer_name_) == nullptr) return nullptr;
    platform::PrinterHandle* handle = PrinterHandle();
    if (handle == nullptr) return nullptr;
    std::optional<platform::DeviceSettings> settings;
    try {
      settings = platform::Get<platform::Spooler>().DefaultSettings(*handle);
    } catch (const platform::SpoolerError& e) {
      FailForNow(printer_name_, e);
    }
    if (!settings) return nullptr;
    dev_mode_ = std::move(settings);
    default_bin_ = dev_mode_->default_source;
  }
  return &*dev_mode_;
}

std::optional<platform::DeviceSettings> TppCustomPrinter::DevModeCopy() {
  platform::DeviceSettings* settings = DevMode();
  if (settings == nullptr) return std::nullopt;
  return *settings;
}

void TppCustomPrinter::SetDevMode(const platform::DeviceSettings& settings) {
  if (printing_) {
    settings_changed_ = true;
  } else {
    FreeHandle();
  }
  dev_mode_ = settings;
}

platform::DrawingSurface* TppCustomPrinter::Handle() {
  if (handle_) return handle_.get();
  TppPrinterInfo* info = PrinterList().GetPrinterInfo(printer_name_);
  if (info == nullptr || !info->Revalidate()) return nullptr;
  const std::string device = info->Device().value_or(std::string());
  if (info->Name() == kScreen) {
    if (printing_) throw EPrintError(LoadLanguageString(kScreenDoesNotPrint));
    handle_ = platform::Get<platform::ScreenSurfaceFactory>().CreateScreenContext();
  } else {
    platform::SurfaceFactory& factory = platform::Get<platform::SurfaceFactory>();
    const platform::DeviceSettings* settings = DevMode();
    try {
      handle_ = device.empty() ? nullptr
                : printing_    ? factory.CreatePrintingContext(device, settings)
                               : factory.CreateInformationContext(device, settings);
    } catch (const platform::SpoolerError& e) {
      if (!e.NoSuchPrinter()) FailForNow(printer_name_, e);
      handle_.reset();
    }
    if (!handle_) {
      // Only a printer the spooler says does not exist is set aside, until it is back.
      info->SetValid(false);
      if (printing_ || IsScreen()) return nullptr;
      SetPrinterName(kScreen);
      return Handle();
    }
  }
  if (canvas_) canvas_->DropObjects();
  ReadMetrics();
  return handle_.get();
}

void TppCustomPrinter::ReadMetrics() {
  const platform::SurfaceMetrics m = handle_->Metrics();
  ppi_x_ = m.dpi_x;
  ppi_y_ = m.dpi_y;
  physical_width_ = m.physical_width;
  physical_height_ = m.physical_height;
  print_area_width_ = m.printable_width;
  print_area_height_ = m.printable_height;
  offset_x_ = m.offset_x;
  offset_y_ = m.offset_y;
  margin_right_ = physical_width_ - offset_x_ - print_area_width_;
  margin_bottom_ = physical_height_ - offset_y_ - print_area_height_;
  if (color_known_for_ != printer_name_) {
    // The driver's colour answer does not change while the program runs: ask once per printer.
    is_color_ = true;
    TppPrinterInfo* info = IsScreen() ? nullptr : PrinterList().GetPrinterInfo(printer_name_);
    if (info != nullptr && info->Device() && !info->Device()->empty()) {
      try {
        is_color_ = platform::Get<platform::Spooler>().Capabilities(*info->Device()).color;
        color_known_for_ = printer_name_;
      } catch (const platform::SpoolerError&) {
        is_color_ = true;  // asked again with the next surface
      }
    } else {
      color_known_for_ = printer_name_;
    }
  }
}

bool TppCustomPrinter::IsColor() {
  Handle();
  return is_color_;
}

TppCustomPrinter::Margins TppCustomPrinter::PrintableMargins() {
  Handle();
  return Margins{offset_x_, offset_y_, margin_right_, margin_bottom_};
}

int TppCustomPrinter::PixelsPerInch(TppDirection direction) const {
  auto* self = const_cast<TppCustomPrinter*>(this);  // the surface is made on demand
  if (self->Handle() == nullptr) {
    const platform::Screen* screen = platform::Find<platform::Screen>();
    return screen != nullptr ? screen->LogicalPixelsPerInchY() : 96;
  }
  return direction == dirHorizontal ? ppi_x_ : ppi_y_;
}

bool TppCustomPrinter::ShowPropertiesDialog() { return false; }

void TppCustomPrinter::BeginDoc() {
  if (printing_) return;
  printing_ = true;
  page_number_ = 0;
  page_started_ = false;
  FreeHandle();
  settings_changed_ = false;
  try {
    Canvas().DropObjects();
    Canvas().UpdateFont();
    // A job that could not be opened must not look printed.
    if (Handle() == nullptr) throw EPrintError(LoadLanguageFormat(kNotAvailable, {printer_name_}));
  } catch (...) {
    printing_ = false;
    FreeHandle();
    throw;
  }
  handle_->StartDoc(title_);
}

void TppCustomPrinter::NewPage() {
  if (!printing_ || page_started_) return;
  page_started_ = true;
  if (settings_changed_) {
    settings_changed_ = false;
    if (dev_mode_) handle_->Reset(*dev_mode_);
    ReadMetrics();
    Canvas().DropObjects();
    Canvas().UpdateFont();
  }
  handle_->StartPage();
  ++page_number_;
  Canvas().DropObjects();
}

void TppCustomPrinter::EndPage() {
  if (!printing_ || !page_started_) return;
  page_started_ = false;
  handle_->EndPage();
}

void TppCustomPrinter::EndDoc() {
  if (!printing_) return;
  auto finish = [this] {
    FreeHandle();
    printing_ = false;
    page_started_ = false;
    page_number_ = 0;
  };
  try {
    EndPage();
    job_id_ = handle_->EndDoc();
  } catch (const platform::SpoolerError& e) {
    finish();
    throw EPrintError(LoadLanguageFormat(kPrintingFailed, {printer_name_, e.what()}));
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TppCustomPrinter::AbortDoc() {
  if (!printing_) return;
  handle_->AbortDoc();
  FreeHandle();
  printing_ = false;
  page_started_ = false;
  page_number_ = 0;
}

// ---- printer ----

TppPrinter::TppPrinter() : setup_(std::make_unique<TppPrinterSetup>(nullptr)) {
  setup_->OnPageDefChange = [this](TppPrinterSetup&) { ApplySetup(); };
  setup_->OnChange = [this](TppPrinterSetup&) { ApplySetup(); };
  setup_->OnGetPrinter = [this](TppPrinterSetup&) -> TppCustomPrinter* { return this; };
}

TppPrinter::~TppPrinter() = default;

std::pair<int32_t, int32_t> TppPrinter::CustomPaperSizeTenths() {
  QuietSetup quiet(*setup_);
  const TppUnitType units = setup_->Units();
  const bool landscape = setup_->Orientation() == poLandscape;
  const float width = landscape ? setup_->PaperHeight() : setup_->PaperWidth();
  const float height = landscape ? setup_->PaperWidth() : setup_->PaperHeight();
  return {UnitsToTenthsMM(width, units, landscape ? dirVertical : dirHorizontal, this),
          UnitsToTenthsMM(height, units, landscape ? dirHorizontal : dirVertical, this)};
}

void TppPrinter::ApplySetup() {
  QuietSetup quiet(*setup_);
  SetPrinterName(setup_->PrinterName());
  SetTitle(setup_->DocumentName());
  std::optional<platform::DeviceSettings> settings = DevModeCopy();
  if (!settings) return;
  using F = platform::DeviceSettings;
  settings->fields = F::fmOrientation | F::fmPaperSize | F::fmCopies | F::fmDuplex;
  // Copies are made by printing the pages again, never by the driver.
  settings->copies = 1;
  settings->duplex = static_cast<int16_t>(setup_->Duplex() + 1);
  settings->orientation = static_cast<int16_t>(setup_->Orientation() + 1);
  settings->paper_size = static_cast<int16_t>(setup_->GetPaperNumber());
  // A paper the printer does not list travels with its size: a driver that takes custom sizes
  // prints the page's own size, any other its default paper.
  if (setup_->PaperName() == "Custom" || settings->IsCustomPaper()) {
    settings->fields |= F::fmPaperLength | F::fmPaperWidth;
    const auto [width, height] = CustomPaperSizeTenths();
    settings->paper_width = static_cast<int16_t>(width);
    settings->paper_length = static_cast<int16_t>(height);
  }
  if (TppPrinterCapabilities* caps = Capabilities()) {
    const int at = text::IndexOf(caps->BinNames, setup_->BinName());
    if (at >= 0 && at < static_cast<int>(caps->Bins.size())) {
      settings->default_source =
          setup_->BinName() == kDefault
              ? DefaultBin()
              : static_cast<int16_t>(text::ToInt(caps->Bins[static_cast<size_t>(at)], 0));
      settings->fields |= F::fmDefaultSource;
    }
  }
  SetDevMode(*settings);
}

TppPrinterSetup& TppPrinter::PrinterSetup() {
  QuietSetup quiet(*setup_);
  std::optional<platform::DeviceSettings> settings = DevModeCopy();
  if (!settings) return *setup_;
  using F = platform::DeviceSettings;
  TppPrinterSetup& s = *setup_;
  if (PrinterName() != s.PrinterName()) s.SetPrinterName(PrinterName());
  if (settings->Has(F::fmDuplex) && settings->duplex >= 1 && settings->duplex <= 3) {
    s.SetDuplex(static_cast<TppDuplexType>(settings->duplex - 1));
  }
  if (settings->Has(F::fmOrientation) && (settings->orientation == 1 || settings->orientation == 2)) {
    s.SetOrientation(static_cast<TPrinterOrientation>(settings->orientation - 1));
  }
  const bool landscape = s.Orientation() == poLandscape;
  const TppUnitType units = s.Units();
  auto record_size = [&](float& width, float& height) {
    width = TenthsMMToUnits(landscape ? settings->paper_length : settings->paper_width, units, dirHorizontal,
                            this);
    height =
        TenthsMMToUnits(landscape ? settings->paper_width : settings->paper_length, units, dirVertical, this);
  };
  TppPrinterCapabilities* caps = Capabilities();
  if (caps != nullptr && settings->Has(F::fmPaperSize)) {
    const int at = text::IndexOf(caps->Papers, std::to_string(static_cast<uint16_t>(settings->paper_size)));
    if (at >= 0 && at < static_cast<int>(caps->PaperNames.size())) {
      const std::string name = caps->PaperNames[static_cast<size_t>(at)];
      s.SetPaperName(name);
      float width = 0;
      float height = 0;
      record_size(width, height);
      s.PaperSizeForName(name, width, height);
      s.SetPaperWidth(width);
      s.SetPaperHeight(height);
      // A size names the first paper that has it; a variant of that size ("A4 (Borderless)")
      // keeps its own name.
      if (s.PaperName() != name) s.SetPaperName(name);
    }
  }
  if (settings->IsCustomPaper()) {
    float width = 0;
    float height = 0;
    record_size(width, height);
    s.SetPaperWidth(width);
    s.SetPaperHeight(height);
  }
  if (caps != nullptr && settings->Has(F::fmDefaultSource)) {
    // A bin that shares its number with another (the driver's own default slot and "Default")
    // reads back under the name it was chosen by.
    const int named = text::IndexOf(caps->BinNames, s.BinName());
    const bool same_bin = named >= 0 && named < static_cast<int>(caps->Bins.size()) &&
                          text::ToInt(caps->Bins[static_cast<size_t>(named)], -1) == settings->default_source;
    if (!same_bin && settings->default_source == DefaultBin()) {
      s.SetBinName(kDefault);
    } else if (!same_bin) {
      const int at = text::IndexOf(caps->Bins, std::to_string(settings->default_source));
      if (at >= 0 && at < static_cast<int>(caps->BinNames.size()))
        s.SetBinName(caps->BinNames[static_cast<size_t>(at)]);
    }
  }
  return s;
}

void TppPrinter::SetPrinterSetup(const TppPrinterSetup& setup) {
  const bool other_printer = PrinterInfo() != nullptr && PrinterInfo()->Name() != setup.PrinterDescription();
  if (!other_printer && setup_->IsEqual(setup)) return;
  if (!Printing() && setup_->PrinterName() != setup.PrinterName())
    setup_->SetPrinterName(setup.PrinterName());
  {
    QuietSetup quiet(*setup_);
    setup_->Assign(setup);
  }
  ApplySetup();
}

// ---- the shared printer ----

namespace {
std::unique_ptr<TppPrinter>& DefaultPrinterSlot() {
  static std::unique_ptr<TppPrinter> printer;
  return printer;
}
}  // namespace

TppPrinter* DefaultPrinter() {
  std::lock_guard<std::recursive_mutex> guard(PrinterListLock());
  std::unique_ptr<TppPrinter>& slot = DefaultPrinterSlot();
  if (!slot) {
    static const bool registered = [] {
      SetDefaultPrinterReleaser(FreeDefaultPrinter);
      return true;
    }();
    (void)registered;
    // Only a real printer besides "Default" and "Screen" makes a default printer. It holds a
    // surface of the installed platform, so it goes before the platform does.
    if (PrinterList().Count() >= 3) {
      slot = std::make_unique<TppPrinter>();
      platform::AtTeardown(&slot, FreeDefaultPrinter);
    }
  }
  return slot.get();
}

void FreeDefaultPrinter() {
  std::unique_ptr<TppPrinter> gone;
  {
    std::lock_guard<std::recursive_mutex> guard(PrinterListLock());
    gone = std::move(DefaultPrinterSlot());
  }
}

}  // namespace parvel::report
