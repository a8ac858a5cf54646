#include "app/agent/form.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "app/agent/config.h"
#include "app/agent/error_report.h"
#include "platform/message_box.h"
#include "platform/regional_settings.h"
#include "platform/services.h"
#include "platform/text.h"

namespace parvel::agent {

namespace {

timespec RealTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

std::string SystemError(int error) { return std::strerror(error); }

}  // namespace

TForm1::TForm1(std::unique_ptr<TTimer> timer, TCardPrint& print)
    : Now(RealTime), Timer1(std::move(timer)), rParvel(CreateCardReport()), print_(print) {
  rParvel->BeforePrint = [this](report::TComponent& sender) { rParvelBeforePrint(sender); };
  layout_printer_ = rParvel->PrinterSetup().PrinterName();
  Timer1->SetOnTimer([this] { Tick(); });
}

TForm1::~TForm1() { Timer1->SetOnTimer(nullptr); }

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
  if (reporting_) return;
  current_.reset();
  try {
    Timer1Timer();
  } catch (const std::exception& failure) {
    Failure seen{failure.what(), current_};
    if (last_failure_ == seen) return;
    last_failure_ = std::move(seen);
    reporting_ = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{reporting_};
    ShowErrorReport(failure.what());
  }
}

void TForm1::Timer1Timer() {
  if (OnHideMainForm) OnHideMainForm();
  const std::filesystem::path folder = SpoolFolder();
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) return;
  if (!spool_lock_.Hold(folder)) {
    throw ECardFileError("The spool folder \"" + folder.string() + "\" is served by another parvel");
  }
  const std::optional<std::string> name = FirstCard(folder, order_);
  if (!name) return;

  // No tick starts a second card while this one prints and lets the message loop run, and new
  // settings wait until it is done.
  Timer1->SetEnabled(false);
  printing_ = true;
  struct Reenable {
    TForm1& form;
    ~Reenable() {
      form.printing_ = false;
      form.Timer1->SetEnabled(true);
      if (form.reload_pending_) form.Reload();
    }
  } reenable{*this};
  PrintCard(folder / *name, *name);
}

void TForm1::PrintCard(const std::filesystem::path& path, const std::string& name) {
  const TCardFile file(path);
  if (file.Result() == TCardFile::Status::NotAFile) return;
  if (file.Result() == TCardFile::Status::Failed) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) current_ = Seen{name, {st.st_dev, st.st_ino, st.st_size, st.st_mtim}};
    throw ECardFileError("Cannot open file \"" + path.string() + "\". " + SystemError(file.Error()));
  }
  current_ = Seen{name, file.Stamp()};
  // A card still being written, or held by its producer, waits for a later tick in silence.
  if (!settle_.Settled(name, file.Stamp(), Now()) || file.LockedByOther()) return;
  if (undeletable_ == current_) return;

  ListBox1.clear();
  ListBox1 = file.ReadLines(kCardLines, kCardByteLimit);
  DecodeLines(ListBox1);
  PlaceLabels(*rParvel, Lefts, Tops);
  // A printer that could not be chosen at start-up (CUPS was not answering yet) is chosen now.
  if (!edtImpressora.empty() && !text::SameText(rParvel->PrinterSetup().PrinterName(), edtImpressora)) {
    rParvel->PrinterSetup().SetPrinterName(edtImpressora);
  }
  // Without a usable printer the print operation warns and the card waits; the same warning is
  // not shown again at every tick until a card prints.
  TRepeatFilter boxes(platform::Find<platform::MessageBoxes>(), refused_boxes_);
  TPrintOutcome outcome = TPrintOutcome::Printed;
  {
    const platform::ScopedInstall<platform::MessageBoxes> filtered(&boxes);
    outcome = print_.Print(*rParvel);
  }
  if (outcome == TPrintOutcome::Refused) {
    for (const TShownBox& box : boxes.Shown()) {
      if (std::find(refused_boxes_.begin(), refused_boxes_.end(), box) == refused_boxes_.end()) {
        refused_boxes_.push_back(box);
      }
    }
    return;
  }
  refused_boxes_.clear();

  last_failure_.reset();
  undeletable_.reset();
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    // Printing it again at every tick would waste a card each time.
    undeletable_ = current_;
    throw ECardFileError("The card \"" + path.string() + "\" was printed but cannot be deleted. " +
                         SystemError(error));
  }
}

void TForm1::rParvelBeforePrint(report::TComponent& /*sender*/) { FillLabels(*rParvel, ListBox1); }

}  // namespace parvel::agent
