#pragma once
// A spooler whose printers are described in code, and drawing surfaces that measure with a
// fixed advance per character and record every call, so exact numbers can be checked.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/drawing_surface.h"
#include "platform/spooler.h"

namespace parvel::platform::doubles {

struct DoublePrinter {
  PrinterEntry entry;
  PrinterCapabilities capabilities;
  std::optional<DeviceSettings> defaults;
  bool fail_capabilities = false;  // the query throws
  bool fail_surfaces = false;      // no context can be made
};

// A colour CR80 card printer at 300 by 300 dpi with 25-pixel offsets on every side, two bins.
DoublePrinter CardPrinter(const std::string& name = "Card");
// A monochrome card printer at 300 dpi: CR80 (paper 120, 1012 by 638 pixels upright with
// 25-pixel offsets) and Custom, bins Front (1) and Rear (4), a default bin 15 it does not list.
DoublePrinter MonoCardPrinter(const std::string& name = "Card");
// An office printer at 600 by 300 dpi: Letter and A4 with 50-pixel offsets, three trays.
DoublePrinter WidePrinter(const std::string& name = "Wide");
// A colour office printer at 600 dpi: Letter, A4, Envelope #10 with offsets of 50 pixels across
// and 60 down, and Custom; bins Default (7) and Tray 1.
DoublePrinter OfficePrinter(const std::string& name = "Office");
// A printer whose driver reports nothing at all.
DoublePrinter SilentPrinter(const std::string& name = "Silent");

class SpoolerDouble : public Spooler {
 public:
  explicit SpoolerDouble(std::vector<DoublePrinter> printers = {}, std::string default_device = {})
      : printers(std::move(printers)), default_device(std::move(default_device)) {}
  std::vector<PrinterEntry> Printers() override;
  // An address of `addresses` names a network printer (device and port the address), unlisted.
  std::optional<PrinterEntry> PrinterByAddress(const std::string& name) override {
    if (std::find(addresses.begin(), addresses.end(), name) == addresses.end()) return std::nullopt;
    return PrinterEntry{name, name, name, false};
  }
  std::string DefaultPrinterDevice() override { return default_device; }
  PrinterCapabilities Capabilities(const std::string& device) override;
  std::unique_ptr<PrinterHandle> OpenPrinter(const std::string& device) override;
  std::optional<DeviceSettings> DefaultSettings(const PrinterHandle& printer) override;

  const DoublePrinter* Find(const std::string& device) const;
  DoublePrinter* Find(const std::string& device);

  std::vector<DoublePrinter> printers;
  std::string default_device;
  std::vector<std::string> addresses;
  bool unreachable = false;  // Printers() throws
  int capability_queries = 0;
};

// Everything the surfaces of one factory were asked to do, one line per call, and how the
// spooler takes the jobs they send.
struct SurfaceLog {
  std::vector<std::string> calls;
  std::vector<std::string> jobs;  // titles of the jobs that ended
  int next_job_id = 1;
  // Read when a job is sent: like a real spooler's answer, either shows only at EndDoc, after
  // every page was drawn into the document.
  bool refuse_jobs = false;   // the spooler refuses the job
  bool printer_gone = false;  // the spooler says the printer does not exist

  // The calls of one kind ("StartPage", "TextOut", ...), in order.
  std::vector<std::string> CallsOf(const std::string& kind) const;
  // Forgets the calls and the jobs; surfaces already made keep writing here.
  void Clear();
};

class SurfaceFactoryDouble : public SurfaceFactory {
 public:
  explicit SurfaceFactoryDouble(SpoolerDouble& spooler) : spooler_(spooler) {}
  std::unique_ptr<DrawingSurface> CreateInformationContext(const std::string& device,
                                                           const DeviceSettings* settings) override;
  std::unique_ptr<DrawingSurface> CreatePrintingContext(const std::string& device,
                                                        const DeviceSettings* settings) override;

  std::shared_ptr<SurfaceLog> log = std::make_shared<SurfaceLog>();
  int advance = 10;          // pixels per character
  int external_leading = 2;  // pixels
  int created = 0;

 private:
  std::unique_ptr<DrawingSurface> Create(const std::string& device, const DeviceSettings* settings,
                                         bool printing);
  SpoolerDouble& spooler_;
};

// The paper of `settings` on a printer of `capabilities`, in pixels, as a surface reports it.
SurfaceMetrics MetricsOf(const PrinterCapabilities& capabilities, const DeviceSettings& settings);

}  // namespace parvel::platform::doubles
