#pragma once
// A spooler whose printers are described in code, and drawing surfaces that measure with a
// fixed advance per character and record every call, so exact numbers can be checked.
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

// A CR80 card printer at 300 by 300 dpi with 25-pixel offsets on every side, two bins.
DoublePrinter CardPrinter(const std::string& name = "Card");
// An office printer at 600 by 300 dpi: Letter and A4 with 50-pixel offsets, three trays.
DoublePrinter WidePrinter(const std::string& name = "Wide");
// A printer whose driver reports nothing at all.
DoublePrinter SilentPrinter(const std::string& name = "Silent");

class SpoolerDouble : public Spooler {
 public:
  std::vector<PrinterEntry> Printers() override;
  std::string DefaultPrinterDevice() override { return default_device; }
  PrinterCapabilities Capabilities(const std::string& device) override;
  std::unique_ptr<PrinterHandle> OpenPrinter(const std::string& device) override;
  std::optional<DeviceSettings> DefaultSettings(const PrinterHandle& printer) override;

  const DoublePrinter* Find(const std::string& device) const;

  std::vector<DoublePrinter> printers;
  std::string default_device;
  bool unreachable = false;  // Printers() throws
  int capability_queries = 0;
};

// Everything the surfaces of one factory were asked to do, one line per call.
struct SurfaceLog {
  std::vector<std::string> calls;
  std::vector<std::string> jobs;  // titles of the jobs that ended
  int next_job_id = 1;
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
  bool refuse_jobs = false;  // EndDoc throws SpoolerError
  int created = 0;

 private:
  std::unique_ptr<DrawingSurface> Create(const std::string& device, const DeviceSettings* settings,
                                         bool printing);
  SpoolerDouble& spooler_;
};

// The paper of `settings` on a printer of `capabilities`, in pixels, as a surface reports it.
SurfaceMetrics MetricsOf(const PrinterCapabilities& capabilities, const DeviceSettings& settings);

}  // namespace parvel::platform::doubles
