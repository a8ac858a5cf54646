#pragma once
// TForm1, the agent's main form: it holds the configuration texts and numbers, the card lines,
// the polling timer and the card report, runs the start-up steps and one card per tick.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agent/card_journal.h"
#include "app/agent/card_print.h"
#include "app/agent/card_report.h"
#include "app/agent/config.h"
#include "app/agent/error_report.h"
#include "app/agent/spool.h"
#include "app/agent/spool_watch.h"
#include "app/agent/timer.h"
#include "platform/print_jobs.h"

namespace parvel::agent {

// The most bytes the first eight lines of a card file may take.
inline constexpr size_t kCardByteLimit = size_t{1024} * 1024;

class TForm1 {
 public:
  // `timer` becomes Timer1; `job_timer` paces the looks at a card's job while it prints;
  // `print` prints the card report and must outlive the form.
  TForm1(std::unique_ptr<TTimer> timer, std::unique_ptr<TTimer> job_timer, TCardPrint& print);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The start-up steps with the INI file `config_file` (found with FindConfigFile, so a name that
  // differs only in case is taken). A missing file shows its message and asks the application to
  // end; any other failure is shown in the error report and leaves the form partly configured.
  void FormCreate(const std::filesystem::path& config_file);
  // Whether start-up found no configuration file (the program then ends with status 1).
  bool ConfigMissing() const { return config_missing_; }
  // Reads the configuration file again, as a service does on SIGHUP: the spool folder, interval,
  // printer and positions change together, between two cards (a card in progress finishes with
  // the settings it began with). A file that fails to read is reported and every setting stays;
  // answers whether the new settings were taken (true also when they wait for the card).
  bool Reload();

  // Timer1's tick as the application runs it: Timer1Timer, with a failure shown in the error
  // report. While a report is open no tick starts a card, and a failure that repeats unchanged
  // on an unchanged file is reported only the first time.
  void Tick();
  // One tick: at most one card started. Its job is then followed while the message loop runs,
  // with Timer1 off until the job has ended; the card file is deleted only when the job
  // completed. Failures propagate.
  void Timer1Timer();
  // Whether a card's job is being followed.
  bool Following() const { return following_.has_value(); }
  // The report's BeforePrint: the card lines become the labels' printed texts.
  void rParvelBeforePrint(report::TComponent& sender);

  // The spool folder PATH names: a relative PATH is taken from the INI file's folder; empty when
  // PATH is empty.
  std::filesystem::path SpoolFolder() const;

  // Asks the application to end.
  std::function<void()> OnTerminate;
  // Hides the main window (the first tick hides it).
  std::function<void()> OnHideMainForm;
  // The wall clock the settle rule compares file times with.
  std::function<timespec()> Now;
  // The steady clock that paces retries and the looks at a job.
  std::function<std::chrono::steady_clock::time_point()> Clock;

  // The hidden components.
  std::string edtPath;
  std::string edtTime;
  std::string edtImpressora;
  std::vector<std::string> ListBox1;  // the lines of the card being printed
  std::unique_ptr<TTimer> Timer1;
  std::unique_ptr<TTimer> JobTimer;
  std::unique_ptr<report::TppReport> rParvel;
  double Tops[kCardLines] = {};   // TOP1..TOP8, millimetres
  double Lefts[kCardLines] = {};  // LEFT1..LEFT8, millimetres

 private:
  struct Seen {
    std::string name;
    TFileStamp stamp;
    bool operator==(const Seen&) const = default;
  };
  struct Failure {
    std::string message;
    std::optional<Seen> card;
    bool operator==(const Failure&) const = default;
  };
  // The settings as the configuration file gives them, in the order start-up reads them.
  struct Settings {
    std::string path;
    std::string time;
    std::string impressora;
    double tops[kCardLines] = {};
    double lefts[kCardLines] = {};
    std::optional<uint32_t> interval;
  };
  // Throws at the first bad value; what was read before stays in `into`.
  static void ReadSettings(const TIniFile& ini, Settings& into);
  void Adopt(const Settings& settings);
  void Configure(const std::filesystem::path& file);
  // Shows `message` in the error report, unless it is the failure reported last for the same
  // card file.
  void Report(const std::string& message);
  void PrintCard(const std::filesystem::path& folder, const std::string& name);
  // The card of the journal whose job may still be under way: its job is looked up first.
  void ResumeInPrint(const std::filesystem::path& folder);
  // The spooler handed out the id of the card's job.
  void JobCreated(const std::string& device, int job_id);
  void StartFollowing(const std::filesystem::path& folder);
  // One look at the job; ends the card when its job has ended.
  void FollowJob();
  void NextLook();
  // The card is done with, printed or not: Timer1 runs again.
  void EndCard();
  // A failing printer or spooler is asked again after a growing wait.
  void Backoff();
  bool Undeletable(const std::filesystem::path& folder, const std::string& name) const;

  // The card whose job is followed.
  struct Followed {
    std::filesystem::path folder;
    TCardIdentity card;
    std::string printer;
    int job_id = 0;
    std::chrono::steady_clock::time_point started;
    bool told_waiting = false;  // its wait was reported
    bool asked_in_vain = false;
  };
  enum class JobTimerUse { kNone, kLook, kTick };

  TCardPrint& print_;
  TNameOrder order_;
  TSpoolWatch watch_{order_};
  TSettleRule settle_;
  TSpoolLock spool_lock_;
  TCardJournal journal_;
  std::filesystem::path config_wanted_;
  std::string layout_printer_;  // the card layout's own printer
  std::filesystem::path config_folder_;
  bool config_missing_ = false;
  bool reporting_ = false;
  bool printing_ = false;
  bool reload_pending_ = false;
  std::optional<Seen> current_;          // the card this tick works on
  std::optional<Failure> last_failure_;  // the last failure reported
  std::optional<Followed> following_;
  JobTimerUse job_timer_use_ = JobTimerUse::kNone;
  std::chrono::steady_clock::time_point card_started_;
  // How long the last card's job took from its document to its end, when it did not wait.
  std::chrono::milliseconds last_job_took_{0};
  // Cards this agent could not delete: never printed while they stay as they are.
  std::vector<TCardIdentity> undeletable_;
  std::chrono::steady_clock::time_point retry_at_{};
  std::chrono::seconds backoff_{0};
  // The boxes of the last print that found no usable printer: held back until a card prints.
  std::vector<TShownBox> refused_boxes_;
};

}  // namespace parvel::agent
