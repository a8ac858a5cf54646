#pragma once
// The printer spooler on Linux: CUPS through libcups. The server is the one libcups is pointed
// at (CUPS_SERVER, client.conf, the local default).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/spooler.h"

namespace parvel::platform::linux_os {

class CupsSpooler : public Spooler {
 public:
  std::vector<PrinterEntry> Printers() override;
  std::string DefaultPrinterDevice() override;
  PrinterCapabilities Capabilities(const std::string& device) override;
  std::unique_ptr<PrinterHandle> OpenPrinter(const std::string& device) override;
  std::optional<DeviceSettings> DefaultSettings(const PrinterHandle& printer) override;

  // Everything a job needs beyond the driver's lists: the spooler's own keys at the same
  // positions, the defaults, and what the printer accepts.
  struct Detail {
    PrinterCapabilities capabilities;
    std::vector<std::string> media_keys;   // per paper
    std::vector<std::string> source_keys;  // per bin
    std::vector<std::string> sides;        // sides the printer supports
    int default_paper = -1;                // position in the paper lists
    int default_bin = -1;                  // position in the bin lists
  };
  // Throws SpoolerError when the printer is unknown or reports nothing readable.
  Detail ReadDetail(const std::string& device);

  // Sends one PDF document as a job named `title` with the settings' paper, orientation, sides
  // and source, one copy. Answers the job id; throws SpoolerError with CUPS's message when the
  // printer is gone or refuses the job.
  int SubmitPdf(const std::string& device, const std::string& title, const std::string& pdf,
                const DeviceSettings& settings);
};

}  // namespace parvel::platform::linux_os
