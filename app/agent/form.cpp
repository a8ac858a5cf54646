#include "app/agent/form.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "app/agent/card_removal.h"
#include "app/agent/config.h"
#include "app/agent/error_report.h"
#include "platform/message_box.h"
#include "platform/regional_settings.h"
#include "platform/services.h"
#include "platform/spooler.h"
#include "platform/text.h"
#include "report/base/errors.h"

namespace parvel::agent {

namespace {

timespec RealTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

std::string SystemError(int error) { return std::strerror(error); }

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest wait before a failing printer or spooler is asked again.
constexpr std::chrono::seconds kLongestBackoff{60};
// Looks at a job come soon after it starts, then further apart, a fiftieth of the time it has
// taken so far: a card's end is seen within a few per cent of its printing time, and a look
// costs one small request on a kept connection.
constexpr milliseconds kFirstLook{10};
constexpr milliseconds kLongestLook{1000};
constexpr milliseconds kNearLook{5};

// Hears the job's id from the spooler before its document goes out.
class TJobCreated : public platform::JobWatch {
 public:
  explicit TJobCreated(std::function<void(const std::string&, int)> created) : created_(std::move(created)) {}
  void JobCreated(const std::string& device, int job_id) override { created_(device, job_id); }

 private:
  std::function<void(const std::string&, int)> created_;
};

}  // namespace

TForm1::TForm1(std::unique_ptr<TTimer> timer, std::unique_ptr<TTimer> job_timer, TCardPrint& print)
    : Now(RealTime),
      Clock(Steady::now),
      Timer1(std::move(timer)),
      JobTimer(std::move(job_timer)),
      rParvel(CreateCardReport()),
      print_(print) {
  rParvel->BeforePrint = [this](report::TComponent& sender) { rParvelBeforePrint(sender); };
  layout_printer_ = rParvel->PrinterSetup().PrinterName();
  Timer1->SetOnTimer([this] { Tick(); });
  JobTimer->SetOnTimer([this] {
    const JobTimerUse use = std::exchange(job_timer_use_, JobTimerUse::kNone);
    JobTimer->SetEnabled(false);
    if (use == JobTimerUse::kLook) FollowJob();
    if (use == JobTimerUse::kTick) Tick();
  });
}

TForm1::~TForm1() {
  Timer1->SetOnTimer(nullptr);
  JobTimer->SetOnTimer(nullptr);
}

void TForm1::FormCreate(const std::filesystem::path& config_file) {
  config_wanted_ = config_file;
  const std::optional<std::filesystem::path> found = FindConfigFile(config_file);
  if (!found) {
    config_missing_ = true;
    platform::ShowMessageBox(platform::MessageKind::Error, kMissingConfigCaption, kMissingConfigText,
                             platform::mbOK);
    if (OnTerminate) OnTerminate();
    return;
  }
  try {
    Configure(*found);
  } catch (const std::exception& failure) {
    ShowErrorReport(failure.what());
  }
}

void TForm1::ReadSettings(const TIniFile& ini, Settings& into) {
  const auto read = [&](const std::string& key) { return Trim(ini.ReadString("TELA", key, "")); };
  into.path = read("PATH");
  into.time = read("TIME");
  into.impressora = read("IMPRESSORA");

  const platform::RegionalSettings* regional = platform::Find<platform::RegionalSettings>();
  const char separator = regional != nullptr ? regional->DecimalSeparator() : '.';
  for (int n = 1; n <= kCardLines; ++n) {
    into.tops[n - 1] = StrToFloat(read("TOP" + std::to_string(n)), separator);
  }
  for (int n = 1; n <= kCardLines; ++n) {
    into.lefts[n - 1] = StrToFloat(read("LEFT" + std::to_string(n)), separator);
  }

  const int32_t interval = StrToInt(into.time);
  // The platform timer would take a negative count as some 49 days: refuse it plainly.
  if (interval < 0) throw EConvertError("'" + into.time + "' is not a valid polling interval");
  into.interval = static_cast<uint32_t>(interval);
}

void TForm1::Adopt(const Settings& settings) {
  edtPath = settings.path;
  edtTime = settings.time;
  edtImpressora = settings.impressora;
  std::copy(std::begin(settings.tops), std::end(settings.tops), std::begin(Tops));
  std::copy(std::begin(settings.lefts), std::end(settings.lefts), std::begin(Lefts));
}

void TForm1::Configure(const std::filesystem::path& file) {
  config_folder_ = std::filesystem::absolute(file).parent_path();
  const TIniFile ini(file);
  // What was read before a bad value stays: the form is then partly configured.
  Settings settings;
  try {
    ReadSettings(ini, settings);
  } catch (...) {
    Adopt(settings);
    throw;
  }
  Adopt(settings);

  // The card listing is rebuilt from PATH at every tick, so nothing is bound here.
  Timer1->SetInterval(*settings.interval);
  Timer1->SetEnabled(true);

  if (!edtImpressora.empty()) rParvel->PrinterSetup().SetPrinterName(edtImpressora);
}

bool TForm1::Reload() {
  if (printing_) {
    reload_pending_ = true;
    return true;
  }
  reload_pending_ = false;
  try {
    const std::optional<std::filesystem::path> found = FindConfigFile(config_wanted_);
    if (!found) throw EConvertError(kMissingConfigText);
    // Read whole before anything changes: a file that fails leaves every setting as it was.
    const TIniFile ini(*found);
    Settings settings;
    ReadSettings(ini, settings);
    config_folder_ = std::filesystem::absolute(*found).parent_path();
    Adopt(settings);
    Timer1->SetInterval(*settings.interval);
    Timer1->SetEnabled(true);
    // Without IMPRESSORA the card layout's own printer comes back.
    rParvel->PrinterSetup().SetPrinterName(edtImpressora.empty() ? layout_printer_ : edtImpressora);
  } catch (const std::exception& failure) {
    ShowErrorReport(failure.what());
    return false;
  }
  // New settings: what failed before may work now, and is news when it does not.
  last_failure_.reset();
  refused_boxes_.clear();
  return true;
}

std::filesystem::path TForm1::SpoolFolder() const {
  if (edtPath.empty()) return {};
  const std::filesystem::path path(edtPath);
  return path.is_absolute() ? path : config_folder_ / path;
}

void TForm1::Tick() {
  if (reporting_ || following_) return;
  current_.reset();
  try {
    Timer1Timer();
  } catch (const std::exception& failure) {
    Report(failure.what());
  }
}

void TForm1::Report(const std::string& message) {
  Failure seen{message, current_};
  if (last_failure_ == seen) return;
  last_failure_ = std::move(seen);
  reporting_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{reporting_};
  ShowErrorReport(message);
}

void TForm1::Timer1Timer() {
  if (OnHideMainForm) OnHideMainForm();
  if (following_) return;
  const std::filesystem::path folder = SpoolFolder();
  if (folder.empty()) return;
  struct stat folder_stat {};
  if (stat(folder.c_str(), &folder_stat) != 0) {
    // A folder not made yet is looked for again at the next tick; one that cannot be reached is
    // said so, with the system's reason.
    if (errno == ENOENT) return;
    throw ECardFileError("Cannot open the spool folder \"" + folder.string() + "\". " + SystemError(errno));
  }
  if (!S_ISDIR(folder_stat.st_mode)) return;
  const THoldResult hold = spool_lock_.Hold(folder);
  if (!hold.held) {
    if (hold.error == EWOULDBLOCK) {
      throw ECardFileError("The spool folder \"" + folder.string() + "\" is served by another parvel");
    }
    throw ECardFileError("Cannot open the spool folder \"" + folder.string() + "\". " +
                         SystemError(hold.error));
  }
  if (!journal_.IsOpen() || journal_.Folder() != folder) journal_.Open(folder);
  if (Clock() < retry_at_) return;

  std::optional<std::string> name;
  if (!journal_.InPrint()) {
    name = watch_.First(
        folder, [&](const std::string& card) { return journal_.Held(card) || Undeletable(folder, card); });
    if (!name) return;
  }

  // No tick starts a second card while this one prints and lets the message loop run, nor
  // while its job is followed, and new settings wait until it is done.
  Timer1->SetEnabled(false);
  printing_ = true;
  card_started_ = Clock();
  try {
    if (name) {
      PrintCard(folder, *name);
    } else {
      ResumeInPrint(folder);
    }
  } catch (...) {
    if (!following_) EndCard();
    throw;
  }
  if (!following_) EndCard();
}

void TForm1::EndCard() {
  if (!printing_) return;
  printing_ = false;
  Timer1->SetEnabled(true);
  // The wait for a job counts toward the interval: when it took longer, the next card does not
  // wait a whole interval more.
  if (Timer1->Interval() != 0 && Clock() - card_started_ >= milliseconds(Timer1->Interval()) &&
      job_timer_use_ == JobTimerUse::kNone) {
    job_timer_use_ = JobTimerUse::kTick;
    JobTimer->SetInterval(1);
    JobTimer->SetEnabled(true);
  }
  if (reload_pending_) Reload();
}

void TForm1::Backoff() {
  backoff_ = backoff_.count() == 0 ? std::chrono::seconds(2) : std::min(backoff_ * 2, kLongestBackoff);
  retry_at_ = Clock() + backoff_;
}

bool TForm1::Undeletable(const std::filesystem::path& folder, const std::string& name) const {
  for (const TCardIdentity& card : undeletable_) {
    if (card.name != name) continue;
    const std::optional<TFileStamp> now = StampOf(folder, name);
    if (now && *now == card.stamp) return true;
  }
  return false;
}

void TForm1::PrintCard(const std::filesystem::path& folder, const std::string& name) {
  const std::filesystem::path path = folder / name;
  const TCardFile file(path);
  if (file.Result() == TCardFile::Status::NotAFile) return;
  if (file.Result() == TCardFile::Status::Failed) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) current_ = Seen{name, {st.st_dev, st.st_ino, st.st_size, st.st_mtim}};
    throw ECardFileError("Cannot open file \"" + path.string() + "\". " + SystemError(file.Error()));
  }
  current_ = Seen{name, file.Stamp()};
  // A card still being written, or held by its producer, waits for a later tick in silence.
  if (!settle_.Settled(name, file.Stamp(), Now(), Clock(), watch_.Closed(name, file.Stamp())) ||
      file.LockedByOther() || file.OpenForWriting()) {
    return;
  }
  // A card that could not be deleted afterwards would print again at every look.
  if (const std::optional<std::string> why = WhyNotDeletable(folder, name)) {
    std::erase_if(undeletable_, [&](const TCardIdentity& card) { return card.name == name; });
    undeletable_.push_back(TCardIdentity{name, file.Stamp()});
    throw ECardFileError(*why);
  }

  ListBox1.clear();
  ListBox1 = file.ReadLines(kCardLines, kCardByteLimit);
  DecodeLines(ListBox1);
  PlaceLabels(*rParvel, Lefts, Tops);
  // A printer that could not be chosen at start-up (CUPS was not answering yet) is chosen now.
  if (!edtImpressora.empty() && !text::SameText(rParvel->PrinterSetup().PrinterName(), edtImpressora)) {
    rParvel->PrinterSetup().SetPrinterName(edtImpressora);
  }
  // The card is on record before anything goes to the spooler, its job as soon as it exists:
  // after a crash the job is looked up, never sent again blindly.
  TCardInPrint record;
  record.card = TCardIdentity{name, file.Stamp()};
  record.printer = rParvel->PrinterSetup().PrinterName();
  record.since = static_cast<int64_t>(std::time(nullptr)) - 2;
  journal_.Begin(record);
  TJobCreated created([this](const std::string& device, int job_id) { JobCreated(device, job_id); });
  const platform::ScopedInstall<platform::JobWatch> watching(&created);

  // Without a usable printer the print operation warns and the card waits; the same warning is
  // not shown again at every tick until a card prints.
  TRepeatFilter boxes(platform::Find<platform::MessageBoxes>(), refused_boxes_);
  TPrintOutcome outcome = TPrintOutcome::Printed;
  try {
    const platform::ScopedInstall<platform::MessageBoxes> filtered(&boxes);
    outcome = print_.Print(*rParvel);
  } catch (const std::exception& failure) {
    const bool spooler = dynamic_cast<const report::EPrintError*>(&failure) != nullptr ||
                         dynamic_cast<const platform::SpoolerError*>(&failure) != nullptr;
    if (journal_.InPrint() && journal_.InPrint()->job_id > 0) {
      // A job was made: whether its document arrived is asked of the job itself. Without an
      // answer the card stays on record and its job is looked up before it is sent again.
      Backoff();
      const std::exception_ptr original = std::current_exception();
      const TCardInPrint record = *journal_.InPrint();
      platform::PrintJobs* jobs = platform::Find<platform::PrintJobs>();
      if (jobs == nullptr) throw;
      platform::JobStatus status;
      try {
        status = jobs->Status(record.printer, record.job_id);
      } catch (const std::exception&) {
        std::rethrow_exception(original);
      }
      if (status.documents > 0 && status.state != platform::JobStatus::State::kUnknown) {
        // It arrived after all: the job is followed to its end like any other.
        StartFollowing(folder);
        return;
      }
      try {
        if (!status.Ended()) jobs->Cancel(record.printer, record.job_id);
      } catch (const std::exception&) {
        std::rethrow_exception(original);
      }
      journal_.End();
      throw;
    }
    journal_.End();
    if (spooler) Backoff();
    throw;
  }
  if (outcome == TPrintOutcome::Refused) {
    journal_.End();
    for (const TShownBox& box : boxes.Shown()) {
      if (std::find(refused_boxes_.begin(), refused_boxes_.end(), box) == refused_boxes_.end()) {
        refused_boxes_.push_back(box);
      }
    }
    return;
  }
  refused_boxes_.clear();
  if (!journal_.InPrint() || journal_.InPrint()->job_id == 0) {
    journal_.End();
    throw ECardFileError("The card \"" + path.string() + "\" went to no print job; it is kept");
  }
  backoff_ = std::chrono::seconds(0);
  retry_at_ = {};
  StartFollowing(folder);
}

void TForm1::JobCreated(const std::string& device, int job_id) { journal_.SetJob(job_id, device); }

void TForm1::ResumeInPrint(const std::filesystem::path& folder) {
  const TCardInPrint record = *journal_.InPrint();
  current_ = Seen{record.card.name, record.card.stamp};
  platform::PrintJobs* jobs = platform::Find<platform::PrintJobs>();
  if (record.job_id > 0 && jobs != nullptr) {
    StartFollowing(folder);
    return;
  }
  // Stopped before the spooler handed out the id: a job it made then has no document yet, and
  // is cancelled so that it never prints.
  if (jobs != nullptr) {
    std::string printer = record.printer;
    if (text::SameText(printer, layout_printer_)) {
      if (platform::Spooler* spooler = platform::Find<platform::Spooler>())
        printer = spooler->DefaultPrinterDevice();
    }
    if (!printer.empty()) {
      for (const int job_id : jobs->EmptyJobsSince(printer, record.since)) jobs->Cancel(printer, job_id);
    }
  }
  journal_.End();
}

void TForm1::StartFollowing(const std::filesystem::path& folder) {
  const TCardInPrint& record = *journal_.InPrint();
  following_ = Followed{folder, record.card, record.printer, record.job_id, Clock()};
  FollowJob();
}

void TForm1::NextLook() {
  const auto taken = std::chrono::duration_cast<milliseconds>(Clock() - following_->started);
  milliseconds wait = std::clamp(taken / 50, kFirstLook, kLongestLook);
  // Cards on one printer take about as long each: the looks gather around the time the last
  // one took, few before it and close together near it.
  const milliseconds expected = last_job_took_;
  if (expected.count() > 0 && taken < expected * 9 / 10) {
    wait = std::clamp(expected * 9 / 10 - taken, kFirstLook, kLongestLook);
  } else if (expected.count() > 0 && taken < expected * 13 / 10) {
    wait = kNearLook;
  }
  if (following_->asked_in_vain) wait = kLongestLook * 2;
  job_timer_use_ = JobTimerUse::kLook;
  JobTimer->SetInterval(static_cast<uint32_t>(wait.count()));
  JobTimer->SetEnabled(true);
}

void TForm1::FollowJob() {
  if (!following_) return;
  // A report open over the loop is answered first; the job is looked at again after it.
  if (reporting_) {
    NextLook();
    return;
  }
  Followed& job = *following_;
  const std::filesystem::path path = job.folder / job.card.name;
  current_ = Seen{job.card.name, job.card.stamp};
  platform::PrintJobs* jobs = platform::Find<platform::PrintJobs>();
  platform::JobStatus status;
  try {
    if (jobs == nullptr) throw platform::SpoolerError("no spooler to ask");
    status = jobs->Status(job.printer, job.job_id);
  } catch (const std::exception& failure) {
    // The spooler cannot be asked now: the card waits for the answer, nothing is sent again.
    const bool first = !job.asked_in_vain;
    job.asked_in_vain = true;
    NextLook();
    if (first) {
      Report("The card \"" + path.string() + "\" waits: whether job " + std::to_string(job.job_id) +
             " on \"" + job.printer + "\" printed cannot be asked now. " + failure.what());
    }
    return;
  }
  job.asked_in_vain = false;
  using State = platform::JobStatus::State;
  const std::string job_name = "job " + std::to_string(job.job_id) + " on \"" + job.printer + "\"";
  const std::string details = platform::Details(status);
  std::string failure;
  try {
    if (status.state == State::kCompleted) {
      RemoveLeftover(job.folder, job.card.stamp);
      const TRemoval removal = RemovePrinted(job.folder, job.card.name, job.card.stamp);
      const int error = errno;
      if (removal == TRemoval::kFailed) {
        // Printing it again at every look would waste a card each time.
        journal_.End(/*hold=*/true);
        failure =
            "The card \"" + path.string() + "\" was printed but cannot be deleted. " + SystemError(error);
      } else {
        journal_.End();
        last_failure_.reset();
      }
    } else if (status.Ended()) {
      journal_.End(/*hold=*/true);
      if (status.state == State::kUnknown) {
        failure =
            "The card \"" + path.string() + "\" is kept: CUPS no longer knows " + job_name +
            ", so whether it printed cannot be told. It prints again once its file is changed or replaced";
      } else {
        failure = "The card \"" + path.string() + "\" was not printed: " + job_name + " was " +
                  platform::StateWord(status.state) + (details.empty() ? "" : " (" + details + ")") +
                  ". The card is kept and prints again once its file is changed or replaced";
      }
    } else if (status.documents == 0) {
      // A job whose document never came prints nothing: it is cancelled and the card sent again.
      jobs->Cancel(job.printer, job.job_id);
      journal_.End();
    } else {
      const bool waiting =
          status.state == State::kHeld || status.state == State::kStopped || status.printer_stopped;
      const bool tell = waiting && !job.told_waiting;
      if (tell) job.told_waiting = true;
      NextLook();
      if (tell) {
        Report("The card \"" + path.string() + "\" waits: " + job_name + " is " +
               platform::StateWord(status.state) + (details.empty() ? "" : " (" + details + ")") +
               (status.state == State::kHeld ? "; it prints once the job is released"
                : status.printer_stopped     ? "; it prints once the printer is resumed"
                                         : "; restart the job to print it, or cancel it to keep the card"));
      }
      return;
    }
  } catch (const std::exception& e) {
    // The journal or the spooler failed at the end: the job is looked at again.
    NextLook();
    Report(e.what());
    return;
  }
  if (status.state == State::kCompleted && !job.told_waiting) {
    last_job_took_ = std::chrono::duration_cast<milliseconds>(Clock() - job.started);
  }
  following_.reset();
  EndCard();
  if (!failure.empty()) Report(failure);
}

void TForm1::rParvelBeforePrint(report::TComponent& /*sender*/) { FillLabels(*rParvel, ListBox1); }

}  // namespace parvel::agent
