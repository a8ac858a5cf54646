#pragma once
// One printer as the report engine sees it, its papers and bins after normalisation, and the
// built-in paper table that names papers and fills in sizes a driver leaves out.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/spooler.h"

namespace parvel::report {

// The built-in name of a paper number ("Unknown" for a number the table does not hold).
std::string BuiltInPaperName(int number);
// The built-in portrait size in tenths of a millimetre (0 by 0 when unknown); inch sizes pass
// through whole screen pixels.
std::pair<int32_t, int32_t> BuiltInPaperSize(int number);

class TppPrinterCapabilities {
 public:
  explicit TppPrinterCapabilities(std::string printer_name) : PrinterName(std::move(printer_name)) {}

  // Takes what a driver reported, names and sizes it left out filled in from the built-in
  // table, then normalises papers and bins.
  void Load(const platform::PrinterCapabilities& reported);
  // Every installed printer offers a "Custom" paper, last, and papers without size go.
  void NormalisePapers();
  // "Default" (number 7) first unless the driver names it.
  void NormaliseBins();

  std::vector<std::string> Bins;
  std::vector<std::string> BinNames;
  std::vector<std::string> PaperHeights;
  std::vector<std::string> PaperNames;
  std::vector<std::string> Papers;
  std::vector<std::string> PaperWidths;
  std::string PrinterName;
  bool SupportsCopies = false;
};

class TppPrinterInfo {
 public:
  TppPrinterInfo(std::string name, bool is_local, std::optional<std::string> port,
                 std::optional<std::string> device, std::optional<std::string> driver);
  virtual ~TppPrinterInfo();
  TppPrinterInfo(const TppPrinterInfo&) = delete;
  TppPrinterInfo& operator=(const TppPrinterInfo&) = delete;

  // Read from the spooler on first use; a failing query gives empty lists, which
  // normalisation turns into a "Custom" paper and a "Default" bin, and is asked again on the
  // next use (the lists are refilled in place, so references to them stay good).
  virtual TppPrinterCapabilities& GetCapabilities();

  const std::optional<std::string>& Driver() const { return driver_; }
  const std::optional<std::string>& Device() const { return device_; }
  const std::optional<std::string>& Port() const { return port_; }
  const std::string& Name() const { return name_; }
  bool IsLocal() const { return is_local_; }
  // Cleared when the spooler says the printer does not exist.
  bool Valid() const { return valid_; }
  void SetValid(bool valid) { valid_ = valid; }
  // Valid again, with its lists to be read afresh, once the spooler has the printer again;
  // answers Valid(). A spooler that cannot tell now leaves it as it is.
  bool Revalidate();

 protected:
  std::unique_ptr<TppPrinterCapabilities> capabilities_;
  bool capabilities_read_ = false;

 private:
  std::optional<std::string> driver_;
  std::optional<std::string> device_;
  std::optional<std::string> port_;
  std::string name_;
  bool valid_ = true;
  bool is_local_;
};

// The pseudo printer "Screen": fixed lists, never asked of the system, not normalised.
class TppScreenPrinterInfo : public TppPrinterInfo {
 public:
  TppScreenPrinterInfo();
  TppPrinterCapabilities& GetCapabilities() override;
};

}  // namespace parvel::report
