#pragma once
// The printer spooler on Linux: CUPS through libcups. The server is the one libcups is pointed
// at (CUPS_SERVER, client.conf, the local default).
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/print_jobs.h"
#include "platform/spooler.h"

struct _http_s;        // libcups's connection
struct _ipp_s;         // libcups's IPP message
struct _cups_dinfo_s;  // libcups's answer on what a queue takes
struct cups_dest_s;    // libcups's destination

namespace parvel::platform::linux_os {

class CupsSpooler : public Spooler, public PrintJobs {
 public:
  // `timeout`: how long one request may wait for the server. A server that let a request wait
  // that long is taken as silent for as long again: every call in that time fails at once, so a
  // print that asks several times waits for one timeout, not one per question. `trust_for`: how
  // long an answer about a queue is used without asking whether the queue changed.
  explicit CupsSpooler(std::chrono::milliseconds timeout = std::chrono::seconds(10),
                       std::chrono::milliseconds trust_for = std::chrono::seconds(3))
      : timeout_(timeout), trust_for_(trust_for) {}

  struct HttpCloser {
    void operator()(::_http_s* http) const;
  };
  std::vector<PrinterEntry> Printers() override;
  // An IPP Everywhere printer named by its ipp:// or ipps:// address, reached without a queue.
  std::optional<PrinterEntry> PrinterByAddress(const std::string& name) override;
  std::string DefaultPrinterDevice() override;
  PrinterCapabilities Capabilities(const std::string& device) override;
  std::unique_ptr<PrinterHandle> OpenPrinter(const std::string& device) override;
  std::optional<DeviceSettings> DefaultSettings(const PrinterHandle& printer) override;

  JobStatus Status(const std::string& device, int job_id) override;
  void Cancel(const std::string& device, int job_id) override;
  std::vector<int> EmptyJobsSince(const std::string& device, int64_t since) override;

  // The paper a job gets: its sheet and margins in portrait terms (thousandths of a
  // millimetre) and the media value sent with the job, empty for the queue's own default.
  struct PaperChoice {
    PaperArea area;
    std::string media;
  };

  // Everything a job needs beyond the driver's lists: the papers' variants, the defaults, and
  // what the printer accepts.
  struct Detail {
    PrinterCapabilities capabilities;
    std::vector<std::string> variants;  // per paper: "" for the plain one, else "borderless", ...
    std::vector<std::string> sides;     // sides the printer supports
    int default_paper = -1;             // position in the paper lists
    int default_bin = -1;               // position in the bin lists, -1 when CUPS names none
    bool custom_sizes = false;          // the queue takes sizes it does not list
    // The queue's make and model as CUPS names it, and whether it prints without a driver of its
    // maker: no PPD, or one CUPS made from what an IPP Everywhere printer says of itself.
    std::string driver;
    bool driverless = false;
    bool ppd = false;  // the papers and bins are the PPD's
    // The queue's media database as libcups reads it (for a queue with a driver too, whose
    // server derives it from the driver's page sizes): each medium's keyword and its sheet and
    // margins in portrait terms. A size is looked up here before the driver's page sizes.
    struct Medium {
      std::string key;
      PaperArea area;
      bool borderless = false;
    };
    std::vector<Medium> media;
    // A class: its members in CUPS's order, and where they disagree on a paper, one line each
    // ("\"CR80\" 54.0 x 85.7 mm: \"b\" has no such paper"); empty for a printer.
    std::vector<std::string> members;
    std::vector<std::string> disagreements;
    // When the queue (or, for a class, any member) was last changed, as CUPS counts time: an
    // answer serves as long as this stays.
    int64_t config_time = 0;
    // The queue's answer these were read from; the job is sent with it, so that a print does
    // not ask for all of the queue's attributes twice.
    std::shared_ptr<::_cups_dinfo_s> info;
    std::shared_ptr<::cups_dest_s> dest;

    // The paper for a settings record: a listed paper by its number, or by the record's size
    // when that is given (a size no paper has is sent as a custom size where the queue takes
    // one); everything else gets the queue's default paper, as a driver would.
    PaperChoice Choose(const DeviceSettings& settings) const;
  };
  // A class prints each job on one of its members: its papers are the first member's, each sent
  // by a name every member knows (the members' own keyword where they share it, else the
  // size's PWG name, which CUPS maps to each member's paper of that size) and with the widest
  // margins among them, so the layout fits whichever member prints. Bins and sides are those
  // all members have; custom sizes only where all take them.
  static Detail MergeMembers(Detail merged, const std::vector<std::string>& names,
                             const std::vector<Detail>& members);

  // Throws SpoolerError when the printer is unknown or reports nothing readable. An answer is
  // kept across prints: within a few seconds it is used as it is (one print asks several times
  // within a moment: settings, measuring, colour, the job); after that it is used as long as the
  // queue's configuration time is the same, so a card costs one small question, not a round of
  // queries.
  Detail ReadDetail(const std::string& device);
  // Forgets kept answers, so the next question goes to the server.
  void Forget();

  // Sends one PDF document as a job named `title` with the paper that `detail` chooses for the
  // settings, their sides and source, one copy. The installed JobWatch hears of the job before
  // its document goes out. The answer to the upload is not trusted (a stalled upload answers
  // with the status of the job's creation): the job itself must show the document, else it is
  // cancelled. Answers the job id; throws SpoolerError with CUPS's message when the printer is
  // gone or refuses the job, or the document did not reach it.
  int SubmitPdf(const std::string& device, const std::string& title, std::string_view pdf,
                const DeviceSettings& settings, const Detail& detail);

 private:
  Detail Query(const std::string& device);
  Detail QueryQueue(::_http_s* http, const std::string& device);
  // When `device` (or any member of a class) last changed; nullopt when the server cannot say.
  std::optional<int64_t> ConfigTime(const std::string& device, const std::vector<std::string>& members);
  // A private connection with the timeout; fails at once while the server is taken as silent.
  // For `device` an ipp:// or ipps:// address, a connection to that printer itself.
  std::unique_ptr<::_http_s, HttpCloser> Connect(bool even_if_silent = false, const std::string& device = {});
  // Sends `request` on the connection kept for following jobs (made anew when it fails);
  // nullptr when no answer came.
  ::_ipp_s* AskAboutJobs(const std::string& device, const std::function<::_ipp_s*()>& make);
  // Throws SpoolerError unless job `job_id` shows its document; a job without one is cancelled.
  void ConfirmDocument(const std::string& device, int job_id);
  // The address a queue answers at: a class's differs from a printer's.
  std::string UriOf(const std::string& device);
  static int GaveUp(::_http_s* http, void* spooler);
  void NoteSilence();

  std::chrono::milliseconds timeout_;
  std::chrono::milliseconds trust_for_;
  std::chrono::steady_clock::time_point silent_until_{};
  struct Kept {
    Detail detail;
    std::chrono::steady_clock::time_point at;
  };
  std::mutex lock_;
  std::map<std::string, Kept> kept_;
  std::map<std::string, std::string> uris_;  // each queue's address, as its answer gave it
  // Connections to the CUPS server, or to the printer at the address their target names.
  std::unique_ptr<::_http_s, HttpCloser> jobs_http_;  // guarded by jobs_lock_
  std::string jobs_target_;
  std::mutex jobs_lock_;
  std::unique_ptr<::_http_s, HttpCloser> submit_http_;  // the last job's, guarded by submit_lock_
  std::string submit_target_;
  std::chrono::steady_clock::time_point submit_used_{};
  std::mutex submit_lock_;
};

// Whether `device` is a printer's own address (ipp://, ipps://) rather than a CUPS queue's name.
bool IsPrinterAddress(std::string_view device);

// libcups asks for a password on the terminal by default, and waits there. From this call on,
// on this thread, it is given none: a server that wants one refuses, and the refusal says what
// to change.
void RefusePasswordPrompts();

// A number as CUPS option text and PDF expect it, whatever the locale: "85.7", "54".
std::string FormatNumber(double value);

// The media keyword of a custom size given in tenths of a millimetre: "custom_54x85.7mm".
std::string CustomMediaKeyword(int width_tenths, int length_tenths);

}  // namespace parvel::platform::linux_os
