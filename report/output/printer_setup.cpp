#include "report/output/printer_setup.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/regional_settings.h"
#include "platform/services.h"
#include "platform/text.h"
#include "report/base/component.h"
#include "report/output/printer.h"
#include "report/output/printer_list.h"

namespace parvel::report {
namespace {

constexpr const char* kCustom = "Custom";
constexpr const char* kDefault = "Default";

const TppPrinterCapabilities* CapsOf(TppPrinterInfo* info) {
  return info != nullptr ? &info->GetCapabilities() : nullptr;
}

int32_t RoundPixels(float value) { return static_cast<int32_t>(std::nearbyint(static_cast<double>(value))); }

}  // namespace

const char* DuplexTypeName(TppDuplexType value) {
  switch (value) {
    case dpHorizontal:
      return "dpHorizontal";
    case dpVertical:
      return "dpVertical";
    default:
      return "dpNone";
  }
}

const char* OrientationName(TPrinterOrientation value) {
  return value == poLandscape ? "poLandscape" : "poPortrait";
}

int32_t TppPageDef::spPageWidth() const {
  return RoundPixels(MMThousandthsToUnits(mm_width_, utScreenPixels, dirHorizontal));
}
int32_t TppPageDef::spPageHeight() const {
  return RoundPixels(MMThousandthsToUnits(mm_height_, utScreenPixels, dirVertical));
}
int32_t TppPageDef::spPrintableWidth() const {
  return RoundPixels(MMThousandthsToUnits(mmPrintableWidth(), utScreenPixels, dirHorizontal));
}

TppPrinterSetup::TppPrinterSetup(TComponent* owner) : owner_(owner) {
  // Point-decimal locales are the ones that use Letter; 279401 keeps the height stored layouts
  // always had.
  if (platform::Get<platform::RegionalSettings>().DecimalSeparator() == '.') {
    page_def_.SetmmWidth(215900);
    page_def_.SetmmHeight(279401);
  } else {
    page_def_.SetmmWidth(210000);
    page_def_.SetmmHeight(297000);
  }
  page_def_.SetmmMarginLeft(6350);
  page_def_.SetmmMarginRight(6350);
  page_def_.SetmmMarginTop(6350);
  page_def_.SetmmMarginBottom(6350);
  printer_info_ = PrinterList().GetPrinterInfo(kDefault);
}

TppPrinterSetup::~TppPrinterSetup() = default;

void TppPrinterSetup::Assign(const TppPrinterSetup& source) {
  if (&source == this) return;
  collation_ = source.collation_;
  copies_ = source.copies_;
  document_name_ = source.document_name_;
  printer_name_ = source.printer_name_;
  duplex_ = source.duplex_;
  orientation_ = source.orientation_;
  page_def_ = source.page_def_;
  paper_name_ = source.paper_name_;
  pending_paper_number_ = source.pending_paper_number_;
  bin_name_ = source.bin_name_;
  units_ = source.units_;
  printer_info_ = PrinterList().GetPrinterInfo(printer_name_);
}

bool TppPrinterSetup::OwnerReading() const { return owner_ != nullptr && owner_->IsReading(); }

bool TppPrinterSetup::Active() const {
  if (owner_ != nullptr && (owner_->IsLoading() || owner_->IsReading())) return false;
  return notify_;
}

const TppResolutionSource* TppPrinterSetup::ConversionPrinter() const {
  if (units_ != utPrinterPixels) return nullptr;
  if (OnGetPrinter) {
    if (TppCustomPrinter* printer = OnGetPrinter(const_cast<TppPrinterSetup&>(*this))) return printer;
  }
  return DefaultPrinter();
}

float TppPrinterSetup::ToUnits(int32_t mm, TppDirection direction) const {
  return MMThousandthsToUnits(mm, units_, direction, ConversionPrinter());
}

int32_t TppPrinterSetup::FromUnits(float value, TppDirection direction) const {
  return UnitsToMMThousandths(value, units_, direction, ConversionPrinter());
}

bool TppPrinterSetup::CommitScratch(const std::function<void()>& taken) {
  bool accept = true;
  if (OnValidatePageDef && Active()) OnValidatePageDef(*this, scratch_, accept);
  if (!accept) return false;
  page_def_ = scratch_;
  if (taken) taken();
  if (Active() && OnPageDefChange) OnPageDefChange(*this);
  return true;
}

void TppPrinterSetup::Changed() {
  if (Active() && OnChange) OnChange(*this);
}

float TppPrinterSetup::MarginBottom() const { return ToUnits(page_def_.mmMarginBottom(), dirVertical); }
float TppPrinterSetup::MarginLeft() const { return ToUnits(page_def_.mmMarginLeft(), dirHorizontal); }
float TppPrinterSetup::MarginRight() const { return ToUnits(page_def_.mmMarginRight(), dirHorizontal); }
float TppPrinterSetup::MarginTop() const { return ToUnits(page_def_.mmMarginTop(), dirVertical); }
float TppPrinterSetup::PaperHeight() const { return ToUnits(page_def_.mmHeight(), dirVertical); }
float TppPrinterSetup::PaperWidth() const { return ToUnits(page_def_.mmWidth(), dirHorizontal); }
float TppPrinterSetup::PrintableHeight() const { return ToUnits(page_def_.mmPrintableHeight(), dirVertical); }
float TppPrinterSetup::PrintableWidth() const { return ToUnits(page_def_.mmPrintableWidth(), dirVertical); }

void TppPrinterSetup::SetMarginBottom(float value) {
  if (value < 0) return;
  scratch_ = page_def_;
  scratch_.SetmmMarginBottom(FromUnits(value, dirVertical));
  CommitScratch();
}

void TppPrinterSetup::SetMarginLeft(float value) {
  if (value < 0) return;
  scratch_ = page_def_;
  scratch_.SetmmMarginLeft(FromUnits(value, dirHorizontal));
  CommitScratch();
}

void TppPrinterSetup::SetMarginRight(float value) {
  if (value < 0) return;
  scratch_ = page_def_;
  scratch_.SetmmMarginRight(FromUnits(value, dirHorizontal));
  CommitScratch();
}

void TppPrinterSetup::SetMarginTop(float value) {
  if (value < 0) return;
  scratch_ = page_def_;
  scratch_.SetmmMarginTop(FromUnits(value, dirVertical));
  CommitScratch();
}

void TppPrinterSetup::SetPaperHeight(float value) {
  if (OwnerReading()) {
    legacy_paper_height_ = value;
    return;
  }
  if (value < 0) return;
  scratch_ = page_def_;
  scratch_.SetmmHeight(FromUnits(value, dirVertical));
  CommitScratch([this] { paper_name_ = PaperNameForSize(PaperWidth(), PaperHeight()); });
}

void TppPrinterSetup::SetPaperWidth(float value) {
  if (OwnerReading()) {
    legacy_paper_width_ = value;
    return;
  }
  if (value < 0) return;
  scratch_ = page_def_;
  scratch_.SetmmWidth(FromUnits(value, dirHorizontal));
  CommitScratch([this] { paper_name_ = PaperNameForSize(PaperWidth(), PaperHeight()); });
}

void TppPrinterSetup::SetOrientation(TPrinterOrientation value) {
  if (value == orientation_) return;
  scratch_ = page_def_;
  scratch_.SetmmWidth(page_def_.mmHeight());
  scratch_.SetmmHeight(page_def_.mmWidth());
  CommitScratch([this, value] { orientation_ = value; });
}

const std::string& TppPrinterSetup::PaperName() const {
  if (pending_paper_number_ != 0) {
    std::string name;
    if (PaperNameForNumber(pending_paper_number_, name)) paper_name_ = name;
    pending_paper_number_ = 0;
  }
  if (paper_name_ == kCustom) paper_name_ = PaperNameForSize(PaperWidth(), PaperHeight());
  return paper_name_;
}

void TppPrinterSetup::SetPaperName(const std::string& value) {
  if (!Active() || value == kCustom) {
    paper_name_ = value;
    return;
  }
  // An envelope always feeds landscape, whether or not its size is then accepted.
  if (value.find("Envelope") != std::string::npos) orientation_ = poLandscape;
  float width = PaperWidth();
  float height = PaperHeight();
  PaperSizeForName(value, width, height);
  scratch_ = page_def_;
  scratch_.SetmmWidth(FromUnits(width, dirHorizontal));
  scratch_.SetmmHeight(FromUnits(height, dirVertical));
  CommitScratch([this, &value] { paper_name_ = value; });
}

void TppPrinterSetup::SetPrinterName(const std::string& value) {
  const std::string name = value == "Current" ? std::string(kDefault) : value;
  const bool active = Active();
  const uint16_t noted = active ? GetPaperNumber() : 0;
  TppPrinterInfo* info = PrinterList().GetPrinterInfo(name);
  if (info == nullptr) return;
  printer_name_ = name == kDefault ? std::string(kDefault) : info->Name();
  printer_info_ = info;
  if (!active) return;
  std::string paper;
  bool found = false;
  if (noted != 0 && noted != 256) found = PaperNameForNumber(noted, paper);
  paper_name_ = found ? paper : PaperNameForSize(PaperWidth(), PaperHeight());
  Changed();
}

std::string TppPrinterSetup::PrinterDescription() const {
  if (printer_name_ == kDefault) return PrinterList().DefaultPrinterName();
  return printer_name_;
}

void TppPrinterSetup::SetBinName(const std::string& value) {
  const std::string name = value == "Current" ? std::string(kDefault) : value;
  if (name == bin_name_) return;
  bin_name_ = name;
  Changed();
}

void TppPrinterSetup::SetCopies(int32_t value) {
  if (value == copies_ || value < 1) return;
  copies_ = value;
  Changed();
}

void TppPrinterSetup::SetCollation(bool value) {
  if (value == collation_) return;
  collation_ = value;
  Changed();
}

void TppPrinterSetup::SetDuplex(TppDuplexType value) {
  if (value == duplex_) return;
  duplex_ = value;
  Changed();
}

void TppPrinterSetup::SetDocumentName(const std::string& value) {
  if (value == document_name_) return;
  document_name_ = value;
  Changed();
}

void TppPrinterSetup::SetUnits(TppUnitType value) {
  if (value == units_) return;
  units_ = value;
  if (!Active()) return;
  // A named paper snaps to the printer's size as the new unit expresses it.
  float width = PaperWidth();
  float height = PaperHeight();
  if (PaperName() != kCustom) PaperSizeForName(PaperName(), width, height);
  page_def_.SetmmWidth(FromUnits(width, dirHorizontal));
  page_def_.SetmmHeight(FromUnits(height, dirVertical));
  if (OnPageDefChange) OnPageDefChange(*this);
}

std::vector<std::string> TppPrinterSetup::BinNames() const {
  TppPrinterInfo* info = printer_info_ != nullptr ? printer_info_ : &NoPrinterInstalledInfo();
  return info->GetCapabilities().BinNames;
}

std::vector<std::string> TppPrinterSetup::PaperNames() const {
  TppPrinterInfo* info = printer_info_ != nullptr ? printer_info_ : &NoPrinterInstalledInfo();
  return info->GetCapabilities().PaperNames;
}

std::vector<std::string> TppPrinterSetup::PrinterNames() const { return PrinterList().PrinterNames(); }

bool TppPrinterSetup::PaperNameForNumber(int number, std::string& name) const {
  name.clear();
  const TppPrinterCapabilities* caps = CapsOf(printer_info_);
  if (caps == nullptr) return false;
  const int at = text::IndexOf(caps->Papers, std::to_string(number));
  if (at < 0 || at >= static_cast<int>(caps->PaperNames.size())) return false;
  name = caps->PaperNames[static_cast<size_t>(at)];
  return !name.empty();
}

std::string TppPrinterSetup::PaperNameForSize(float width, float height) const {
  const TppPrinterCapabilities* caps = CapsOf(printer_info_);
  if (caps == nullptr) return paper_name_;
  const TppResolutionSource* printer = ConversionPrinter();
  const int32_t w = UnitsToTenthsMM(width, units_, dirHorizontal, printer);
  const int32_t h = UnitsToTenthsMM(height, units_, dirVertical, printer);
  const int32_t physical_width = orientation_ == poLandscape ? h : w;
  const int32_t physical_height = orientation_ == poLandscape ? w : h;
  const size_t count = std::min(caps->PaperWidths.size(), caps->PaperHeights.size());
  for (size_t i = 0; i < count; ++i) {
    const int32_t pw = text::ToInt(caps->PaperWidths[i], INT32_MIN / 2);
    const int32_t ph = text::ToInt(caps->PaperHeights[i], INT32_MIN / 2);
    if (std::abs(ph - physical_height) <= 10 && std::abs(pw - physical_width) <= 10) {
      return i < caps->PaperNames.size() ? caps->PaperNames[i] : std::string(kCustom);
    }
  }
  return kCustom;
}

void TppPrinterSetup::PaperSizeForName(const std::string& name, float& width, float& height) const {
  const TppPrinterCapabilities* caps = CapsOf(printer_info_);
  if (caps == nullptr) return;
  const int at = text::IndexOf(caps->PaperNames, name);
  if (at < 0 || at >= static_cast<int>(caps->PaperWidths.size()) ||
      at >= static_cast<int>(caps->PaperHeights.size())) {
    return;
  }
  const int32_t w = text::ToInt(caps->PaperWidths[static_cast<size_t>(at)]);
  const int32_t h = text::ToInt(caps->PaperHeights[static_cast<size_t>(at)]);
  const TppResolutionSource* printer = ConversionPrinter();
  const bool landscape = orientation_ == poLandscape;
  width = TenthsMMToUnits(landscape ? h : w, units_, dirHorizontal, printer);
  height = TenthsMMToUnits(landscape ? w : h, units_, dirVertical, printer);
}

uint16_t TppPrinterSetup::GetPaperNumber() const {
  const TppPrinterCapabilities* caps = CapsOf(printer_info_);
  if (caps == nullptr) return 0;
  int at = text::IndexOf(caps->PaperNames, paper_name_);
  // The first paper is often the driver's fallback name; the size decides then.
  if (at <= 0) at = text::IndexOf(caps->PaperNames, PaperNameForSize(PaperWidth(), PaperHeight()));
  if (at < 0 || at >= static_cast<int>(caps->Papers.size())) return 256;
  return static_cast<uint16_t>(text::ToInt(caps->Papers[static_cast<size_t>(at)], 256));
}

bool TppPrinterSetup::IsEqual(const TppPrinterSetup& other) const {
  return PrinterDescription() == other.PrinterDescription() && bin_name_ == other.bin_name_ &&
         collation_ == other.collation_ && copies_ == other.copies_ &&
         document_name_ == other.document_name_ && duplex_ == other.duplex_ &&
         orientation_ == other.orientation_ && page_def_ == other.page_def_;
}

bool TppPrinterSetup::IsSamePaper(const TppPrinterSetup& other) const {
  return PrinterDescription() == other.PrinterDescription() && orientation_ == other.orientation_ &&
         paper_name_ == other.paper_name_;
}

void TppPrinterSetup::ConvertLegacyPaperSize() {
  page_def_.SetmmHeight(UnitsToMMThousandths(legacy_paper_height_, units_, dirVertical));
  page_def_.SetmmWidth(UnitsToMMThousandths(legacy_paper_width_, units_, dirHorizontal));
}

}  // namespace parvel::report
