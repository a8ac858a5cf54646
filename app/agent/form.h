#pragma once
// TForm1, the agent's main form: it holds the configuration texts and numbers, the card lines,
// the polling timer and the card report, runs the start-up steps and one card per tick.
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agent/card_print.h"
#include "app/agent/card_report.h"
#include "app/agent/error_report.h"
#include "app/agent/spool.h"
#include "app/agent/timer.h"

namespace parvel::agent {

// The most bytes the first eight lines of a card file may take.
inline constexpr size_t kCardByteLimit = size_t{1024} * 1024;

class TForm1 {
 public:
  // `timer` becomes Timer1; `print` prints the card report and must outlive the form.
  TForm1(std::unique_ptr<TTimer> timer, TCardPrint& print);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The start-up steps with the INI file `config_file` (found with FindConfigFile, so a name that
  // differs only in case is taken). A missing file shows its message and asks the application to
  // end; any other failure is shown in the error report and leaves the form partly configured.
  void FormCreate(const std::filesystem::path& config_file);
  // Whether start-up found no configuration file (the program then ends with status 1).
  bool ConfigMissing() const { return config_missing_; }

  // Timer1's tick as the application runs it: Timer1Timer, with a failure shown in the error
  // report. While a report is open no tick starts a card, and a failure that repeats unchanged
  // on an unchanged file is reported only the first time.
  void Tick();
  // One tick: at most one card printed. Failures propagate.
  void Timer1Timer();
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

  // The hidden components.
  std::string edtPath;
  std::string edtTime;
  std::string edtImpressora;
  std::vector<std::string> ListBox1;  // the lines of the card being printed
  std::unique_ptr<TTimer> Timer1;
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
  void Configure(const std::filesystem::path& file);
  void PrintCard(const std::filesystem::path& path, const std::string& name);

  TCardPrint& print_;
  TNameOrder order_;
  TSettleRule settle_;
  std::filesystem::path config_folder_;
  bool config_missing_ = false;
  bool reporting_ = false;
  std::optional<Seen> current_;          // the card this tick works on
  std::optional<Seen> undeletable_;      // printed, but its file could not be deleted
  std::optional<Failure> last_failure_;  // the last failure reported
  // The boxes of the last print that found no usable printer: held back until a card prints.
  std::vector<TShownBox> refused_boxes_;
};

}  // namespace parvel::agent
