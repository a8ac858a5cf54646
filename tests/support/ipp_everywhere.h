#pragma once
// A driverless (IPP Everywhere) card printer for integration tests: CUPS's own ippeveprinter on a
// free TCP port of 127.0.0.1, advertising one CR80 card medium (ISO/IEC 7810 ID-1, 53.98 x 85.6 mm
// portrait, borderless) and PDF as its only document format, keeping every document it is sent.
//
// ippeveprinter always sets up DNS-SD through Avahi's client library, which needs a D-Bus system
// bus: without one it ends at once ("Unable to initialize DNS-SD"), whatever its options. With a
// bus but no avahi-daemon on it, registering the printer fails an assertion in libavahi-client and
// aborts it, so the printer runs with "-r off" (no DNS-SD advertisement at all) on a private bus
// of its own: nothing is advertised on the machine's bus or network.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/cups_server.h"

namespace parvel::doubles {

class IppEverywherePrinter {
 public:
  // The card medium the printer offers, as IPP names it, and its size in hundredths of a
  // millimetre (portrait, as IPP gives sizes).
  static constexpr char kCardMedia[] = "iso_id-1_53.98x85.6mm";
  static constexpr int kCardWidth = 5398;
  static constexpr int kCardLength = 8560;

  // Starts the bus and the printer and waits until the printer answers a Get-Printer-Attributes
  // request; throws on failure (with the printer's log).
  IppEverywherePrinter();
  // Stops both, each by its process group, and waits for them; removes the folder.
  ~IppEverywherePrinter();
  IppEverywherePrinter(const IppEverywherePrinter&) = delete;
  IppEverywherePrinter& operator=(const IppEverywherePrinter&) = delete;

  // ipp://127.0.0.1:PORT/ipp/print
  const std::string& Uri() const { return uri_; }
  int Port() const { return port_; }
  const std::filesystem::path& Folder() const { return root_; }
  // What ippeveprinter wrote on its standard error.
  std::string Log() const;

  // The documents the printer has received, oldest first (their files in its spool folder,
  // named "JOBID-JOBNAME.EXT").
  std::vector<std::filesystem::path> Documents() const;
  // Waits (at most `timeout`) until the printer holds at least `count` documents whose job has
  // been processed; answers whether it does.
  bool WaitForDocuments(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
  // The job id of a document file of Documents(), or 0.
  static int JobIdOf(const std::filesystem::path& document);

  // The attributes of job `job_id` as its print command saw them, kept after the printer forgets
  // the job: IPP's names ("media-col", "orientation-requested", "document-format-supplied",
  // "job-name", ...), values as ippeveprinter writes them ("{media-size={x-dimension=5398 ...}}").
  // Besides the job's own attributes they hold the printer's defaults ("media-col-default").
  // Empty until the job has been processed.
  std::map<std::string, std::string> JobAttributes(int job_id) const;
  // Every job the printer knows (it forgets completed jobs a minute after they end), oldest first,
  // with its state and attributes as a Get-Jobs request answers them.
  std::vector<JobRecord> Jobs() const;

  // Adds the queue `name` for this printer on `server`, as a site adds a driverless printer
  // (lpadmin -m everywhere: cupsd asks the printer for its attributes and makes a PPD file of
  // them), enabled and accepting; waits until the queue offers the card (PageSize
  // "53.98x85.6mm.Borderless"). Answers the PPD file's text. The PPD passes PDF through
  // ("*cupsFilter2: application/vnd.cups-pdf application/pdf 10 -"), so the documents the printer
  // gets stay PDF (rotated to the card's portrait page by pdftopdf).
  std::string AddEverywhereQueue(const CupsServer& server, const std::string& name) const;

 private:
  std::filesystem::path root_;
  std::string bus_address_;
  std::string uri_;
  int port_ = 0;
  pid_t bus_pid_ = -1;
  pid_t printer_pid_ = -1;

  void StartBus();
  // One try at starting the printer on a free port, reporting itself as `hostname` (empty: the
  // machine's name, listening on every address); false when it ended at start.
  bool StartPrinter(const std::string& hostname);
  bool PrinterAnswers() const;
  void WriteFiles() const;
};

}  // namespace parvel::doubles
