#pragma once
// How a report is to be printed: printer, paper, orientation, margins, copies, duplex, bin and
// the job's document name. The geometry is kept in thousandths of a millimetre; callers see it
// in the owner's `Units`. The paper name is kept in step with the papers the printer offers.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/base/units.h"

namespace parvel::report {

class TComponent;
class TReader;
class TWriter;
class TppPrinterInfo;
class TppCustomPrinter;

enum TppDuplexType : uint8_t { dpNone, dpHorizontal, dpVertical };
enum TPrinterOrientation : uint8_t { poPortrait, poLandscape };

const char* DuplexTypeName(TppDuplexType value);
const char* OrientationName(TPrinterOrientation value);

// A rectangle in thousandths of a millimetre.
struct TppMMRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool operator==(const TppMMRect&) const = default;
};

// The page's geometry in its printed orientation (width and height already exchanged for
// landscape).
class TppPageDef {
 public:
  int32_t mmHeight() const { return mm_height_; }
  void SetmmHeight(int32_t v) { mm_height_ = v; }
  int32_t mmWidth() const { return mm_width_; }
  void SetmmWidth(int32_t v) { mm_width_ = v; }
  int32_t mmMarginLeft() const { return mm_margin_left_; }
  void SetmmMarginLeft(int32_t v) { mm_margin_left_ = v; }
  int32_t mmMarginRight() const { return mm_margin_right_; }
  void SetmmMarginRight(int32_t v) { mm_margin_right_ = v; }
  int32_t mmMarginTop() const { return mm_margin_top_; }
  void SetmmMarginTop(int32_t v) { mm_margin_top_ = v; }
  int32_t mmMarginBottom() const { return mm_margin_bottom_; }
  void SetmmMarginBottom(int32_t v) { mm_margin_bottom_ = v; }

  int32_t mmPrintableWidth() const { return mm_width_ - mm_margin_left_ - mm_margin_right_; }
  int32_t mmPrintableHeight() const { return mm_height_ - mm_margin_top_ - mm_margin_bottom_; }
  TppMMRect mmPrintableRect() const {
    return {mm_margin_left_, mm_margin_top_, mm_width_ - mm_margin_right_, mm_height_ - mm_margin_bottom_};
  }
  int32_t spPageWidth() const;
  int32_t spPageHeight() const;
  int32_t spPrintableWidth() const;

  void Assign(const TppPageDef& source) { *this = source; }
  bool IsEqual(const TppPageDef& other) const { return *this == other; }
  bool operator==(const TppPageDef&) const = default;

 private:
  int32_t mm_height_ = 0;
  int32_t mm_width_ = 0;
  int32_t mm_margin_left_ = 0;
  int32_t mm_margin_right_ = 0;
  int32_t mm_margin_top_ = 0;
  int32_t mm_margin_bottom_ = 0;
};

class TppPrinterSetup {
 public:
  // `owner` may be null; its component state (reading, loading) decides `Active`.
  explicit TppPrinterSetup(TComponent* owner = nullptr);
  virtual ~TppPrinterSetup();
  TppPrinterSetup(const TppPrinterSetup&) = delete;
  TppPrinterSetup& operator=(const TppPrinterSetup&) = delete;

  // Copies everything but the events and the owner; no event fires.
  virtual void Assign(const TppPrinterSetup& source);

  TComponent* Owner() const { return owner_; }

  // False while the owner is reading or loading, else the notification switch.
  bool Active() const;
  // The notification switch; the printer wrapper turns it off while it copies a setup.
  void SetActive(bool on) { notify_ = on; }

  const std::string& BinName() const { return bin_name_; }
  void SetBinName(const std::string& value);
  bool Collation() const { return collation_; }
  void SetCollation(bool value);
  int32_t Copies() const { return copies_; }
  void SetCopies(int32_t value);
  const std::string& DocumentName() const { return document_name_; }
  void SetDocumentName(const std::string& value);
  TppDuplexType Duplex() const { return duplex_; }
  void SetDuplex(TppDuplexType value);
  TPrinterOrientation Orientation() const { return orientation_; }
  void SetOrientation(TPrinterOrientation value);

  float MarginBottom() const;
  void SetMarginBottom(float value);
  float MarginLeft() const;
  void SetMarginLeft(float value);
  float MarginRight() const;
  void SetMarginRight(float value);
  float MarginTop() const;
  void SetMarginTop(float value);
  float PaperHeight() const;
  void SetPaperHeight(float value);
  float PaperWidth() const;
  void SetPaperWidth(float value);
  float PrintableHeight() const;
  float PrintableWidth() const;

  // Resolves a pending streamed paper number and a "Custom" paper against the printer.
  const std::string& PaperName() const;
  // The stored text as it stands, without resolving.
  const std::string& StoredPaperName() const { return paper_name_; }
  void SetPaperName(const std::string& value);

  const std::string& PrinterName() const { return printer_name_; }
  void SetPrinterName(const std::string& value);
  TppPrinterInfo* PrinterInfo() const { return printer_info_; }
  std::string PrinterDescription() const;

  TppUnitType Units() const { return units_; }
  void SetUnits(TppUnitType value);

  const TppPageDef& PageDef() const { return page_def_; }
  uint16_t PendingPaperNumber() const { return pending_paper_number_; }

  std::vector<std::string> BinNames() const;
  std::vector<std::string> PaperNames() const;
  std::vector<std::string> PrinterNames() const;

  uint16_t GetPaperNumber() const;
  bool PaperNameForNumber(int number, std::string& name) const;
  // Sizes in `Units`; "Custom" when no paper of the printer matches within 1 mm.
  std::string PaperNameForSize(float width, float height) const;
  // Leaves both unchanged when the printer does not know the name.
  void PaperSizeForName(const std::string& name, float& width, float& height) const;

  bool IsEqual(const TppPrinterSetup& other) const;
  bool IsSamePaper(const TppPrinterSetup& other) const;
  void ConvertLegacyPaperSize();

  // Streaming, for the owning object to delegate to. Names are written with `prefix` in front
  // ("PrinterSetup."); ReadProperty takes the name without it and answers false for a name the
  // setup does not know. With an `ancestor`, the seven defined values are written only where
  // they differ from it.
  void WriteProperties(TWriter& writer, std::string_view prefix = "",
                       const TppPrinterSetup* ancestor = nullptr) const;
  bool ReadProperty(const std::string& name, TReader& reader);

  // The printer for utPrinterPixels conversions.
  std::function<TppCustomPrinter*(TppPrinterSetup& sender)> OnGetPrinter;
  std::function<void(TppPrinterSetup& sender, const TppPageDef& proposed, bool& accept)> OnValidatePageDef;
  std::function<void(TppPrinterSetup& sender)> OnPageDefChange;
  std::function<void(TppPrinterSetup& sender)> OnChange;

 private:
  bool OwnerReading() const;
  const TppResolutionSource* ConversionPrinter() const;
  float ToUnits(int32_t mm, TppDirection direction) const;
  int32_t FromUnits(float value, TppDirection direction) const;
  // Validates the scratch copy and takes it over when accepted; `taken` runs before
  // OnPageDefChange.
  bool CommitScratch(const std::function<void()>& taken = {});
  void Changed();

  bool notify_ = true;
  std::string bin_name_ = "Default";
  bool collation_ = true;
  int32_t copies_ = 1;
  std::string document_name_;
  TppDuplexType duplex_ = dpNone;
  TppPageDef scratch_;
  TPrinterOrientation orientation_ = poPortrait;
  TppPageDef page_def_;
  // Reading PaperName resolves these against the printer.
  mutable std::string paper_name_ = "Custom";
  std::string printer_name_ = "Default";
  TppPrinterInfo* printer_info_ = nullptr;  // the printer list's entry, not owned
  TComponent* owner_ = nullptr;
  TppUnitType units_ = utInches;
  mutable uint16_t pending_paper_number_ = 0;
  float legacy_paper_height_ = 0;
  float legacy_paper_width_ = 0;
};

}  // namespace parvel::report
