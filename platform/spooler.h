#pragma once
// The printer spooler as the report engine sees it: the installed printers, the default one,
// what each printer's driver reports about its papers and bins, and its default settings.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace parvel::platform {

// A spooler that cannot be reached, a job it refuses, a printer that went away. Only a printer
// that the spooler says does not exist is gone for good; everything else may pass (a server
// restarting, a queue stopped for a moment), so the next job asks again.
class SpoolerError : public std::runtime_error {
 public:
  enum class Kind {
    kUnavailable,    // no answer, a timeout, a stopped queue or one not accepting jobs
    kNoSuchPrinter,  // the spooler answered that the printer does not exist
    kRefused,        // the spooler answered and refused the request
  };
  explicit SpoolerError(const std::string& message, Kind kind = Kind::kUnavailable)
      : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }
  bool NoSuchPrinter() const { return kind_ == Kind::kNoSuchPrinter; }

 private:
  Kind kind_;
};

struct PrinterEntry {
  std::string name;
  std::string device;  // what opens the printer and names it in capability queries
  std::string port;
  bool is_local = true;
};

// One paper's sheet and unprintable margins in thousandths of a millimetre, portrait terms.
struct PaperArea {
  int32_t width_um = 0;
  int32_t height_um = 0;
  int32_t left_um = 0;
  int32_t top_um = 0;
  int32_t right_um = 0;
  int32_t bottom_um = 0;
};

// A sheet's size in tenths of a millimetre, portrait terms.
struct PaperSize {
  int32_t width_tenths_mm = 0;
  int32_t height_tenths_mm = 0;
  bool operator==(const PaperSize&) const = default;
};

// One paper as the driver reports it. A driver may leave out a paper's name or size; the engine
// then takes them from the platform's paper table.
struct PaperRecord {
  std::string name;  // empty when the driver names none
  std::string key;   // the spooler's keyword, sent with a job; empty for a size of its own
  uint16_t number = 0;
  std::optional<PaperSize> size;
  std::optional<PaperArea> area;  // where known
};

struct BinRecord {
  std::string name;  // empty when the driver names none
  std::string key;   // the spooler's keyword, sent with a job
  uint16_t number = 0;
};

// What a driver reports, before any normalisation.
struct PrinterCapabilities {
  std::vector<PaperRecord> papers;
  std::vector<BinRecord> bins;
  int copies_max = 1;
  bool color = false;
  int dpi_x = 0;  // default resolution; 0 when the driver names none
  int dpi_y = 0;

  // The position of paper or bin `number`, or -1.
  int PaperAt(uint16_t number) const;
  int BinAt(uint16_t number) const;
};

inline int PrinterCapabilities::PaperAt(uint16_t number) const {
  for (size_t i = 0; i < papers.size(); ++i) {
    if (papers[i].number == number) return static_cast<int>(i);
  }
  return -1;
}

inline int PrinterCapabilities::BinAt(uint16_t number) const {
  for (size_t i = 0; i < bins.size(); ++i) {
    if (bins[i].number == number) return static_cast<int>(i);
  }
  return -1;
}

// The driver's settings record: which fields are set, and their values.
struct DeviceSettings {
  enum Field : uint32_t {
    fmOrientation = 1,
    fmPaperSize = 2,
    fmPaperLength = 4,
    fmPaperWidth = 8,
    fmCopies = 256,
    fmDefaultSource = 512,
    fmDuplex = 4096,
    fmFormName = 65536,
  };
  uint32_t fields = 0;
  int16_t orientation = 1;   // 1 portrait, 2 landscape
  int16_t paper_size = 0;    // paper number
  int16_t paper_length = 0;  // tenths of a millimetre, for a custom paper
  int16_t paper_width = 0;
  int16_t copies = 1;
  int16_t duplex = 1;  // 1 none, 2 long edge, 3 short edge
  int16_t default_source = 0;
  std::string form_name;

  static constexpr int16_t kCustomPaper = 256;  // a paper no driver lists: its size travels along

  bool Has(Field f) const { return (fields & f) != 0; }
  bool Landscape() const { return Has(fmOrientation) && orientation == 2; }
  bool IsCustomPaper() const { return paper_size == kCustomPaper; }
  // Both dimensions of a paper of its own are set and positive.
  bool HasOwnSize() const {
    return Has(fmPaperWidth) && Has(fmPaperLength) && paper_width > 0 && paper_length > 0;
  }
  bool operator==(const DeviceSettings&) const = default;
};

// An open printer.
class PrinterHandle {
 public:
  virtual ~PrinterHandle() = default;
  virtual const std::string& Device() const = 0;
};

class Spooler {
 public:
  virtual ~Spooler() = default;
  // The printers in the spooler's order. Throws SpoolerError when the spooler cannot be reached.
  virtual std::vector<PrinterEntry> Printers() = 0;
  // A printer the spooler reaches by an address of its own rather than by a listed name (a
  // network address it can print to directly), when `name` is one; none otherwise.
  virtual std::optional<PrinterEntry> PrinterByAddress(const std::string& /*name*/) { return std::nullopt; }
  // The default printer's device name; empty when there is none.
  virtual std::string DefaultPrinterDevice() = 0;
  // What the driver of `device` reports; empty lists for a printer that reports nothing.
  // May throw SpoolerError.
  virtual PrinterCapabilities Capabilities(const std::string& device) = 0;
  // nullptr when the printer does not exist; throws SpoolerError when the spooler cannot tell.
  virtual std::unique_ptr<PrinterHandle> OpenPrinter(const std::string& device) = 0;
  // The driver's default settings; none for a printer that does not exist. Throws SpoolerError
  // when the spooler cannot be asked.
  virtual std::optional<DeviceSettings> DefaultSettings(const PrinterHandle& printer) = 0;
};

}  // namespace parvel::platform
