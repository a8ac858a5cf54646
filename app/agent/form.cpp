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
  Timer1->SetOnTimer([this] { Tick(); });
}

TForm1::~TForm1() { Timer1->SetOnTimer(nullptr); }

void TForm1::FormCreate(const std::filesystem::path& config_file) {
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

void TForm1::Configure(const std::filesystem::path& file) {
  config_folder_ = std::filesystem::absolute(file).parent_path();
  const TIniFile ini(file);
  const auto read = [&](const std::string& key) { return Trim(ini.ReadString("TELA", key, "")); };
  edtPath = read("PATH");
  edtTime = read("TIME");
  edtImpressora = read("IMPRESSORA");

  const platform::RegionalSettings* regional = platform::Find<platform::RegionalSettings>();
  const char separator = regional != nullptr ? regional->DecimalSeparator() : '.';
  for (int n = 1; n <= kCardLines; ++n) Tops[n - 1] = StrToFloat(read("TOP" + std::to_string(n)), separator);
  for (int n = 1; n <= kCardLines; ++n)
    Lefts[n - 1] = StrToFloat(read("LEFT" + std::to_string(n)), separator);

  // The card listing is rebuilt from PATH at every tick, so nothing is bound here.
  const int32_t interval = StrToInt(edtTime);
  // The platform timer would take a negative count as some 49 days: refuse it plainly.
  if (interval < 0) throw EConvertError("'" + edtTime + "' is not a valid polling interval");
  Timer1->SetInterval(static_cast<uint32_t>(interval));
  Timer1->SetEnabled(true);

  if (!edtImpressora.empty()) rParvel->PrinterSetup().SetPrinterName(edtImpressora);
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
  const std::optional<std::string> name = FirstCard(folder, order_);
  if (!name) return;

  // No tick starts a second card while this one prints and lets the message loop run.
  Timer1->SetEnabled(false);
  struct Reenable {
    TTimer& timer;
    ~Reenable() { timer.SetEnabled(true); }
  } reenable{*Timer1};
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
