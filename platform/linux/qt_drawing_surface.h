#pragma once
// Drawing surfaces for CUPS printers: fonts and measures from Qt at the printer's resolution;
// a printing context paints with QPainter into a PDF and sends it to CUPS at the end of the
// document.
#include <memory>
#include <string>

#include "platform/drawing_surface.h"
#include "platform/linux/cups_spooler.h"

namespace parvel::platform::linux_os {

class QtSurfaceFactory : public SurfaceFactory {
 public:
  explicit QtSurfaceFactory(CupsSpooler& spooler) : spooler_(spooler) {}
  std::unique_ptr<DrawingSurface> CreateInformationContext(const std::string& device,
                                                           const DeviceSettings* settings) override;
  std::unique_ptr<DrawingSurface> CreatePrintingContext(const std::string& device,
                                                        const DeviceSettings* settings) override;

 private:
  std::unique_ptr<DrawingSurface> Create(const std::string& device, const DeviceSettings* settings,
                                         bool printing);
  CupsSpooler& spooler_;
};

// The selected paper of `detail` for `settings`, in device pixels: custom sizes from the record,
// named papers by number, else the printer's default paper; 300 dpi when the printer names none.
SurfaceMetrics MetricsFor(const CupsSpooler::Detail& detail, const DeviceSettings& settings);

}  // namespace parvel::platform::linux_os
