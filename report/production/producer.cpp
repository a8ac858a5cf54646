#include "report/production/producer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <thread>

#include "platform/message_box.h"
#include "platform/message_pump.h"
#include "report/base/errors.h"
#include "report/base/stream.h"
#include "report/output/device.h"
#include "report/output/printer.h"
#include "report/output/printer_device.h"
#include "report/output/publisher.h"

namespace parvel::report {

namespace {

// The thread that ran the program's static initialisation: the application's main thread.
const std::thread::id kMainThread = std::this_thread::get_id();

constexpr std::array<const char*, 14> kLanguageNames = {
    "lgDefault",    "lgDanish",  "lgDutch",         "lgEnglish",
    "lgFrench",     "lgGerman",  "lgItalian",       "lgPortugueseBrazil",
    "lgPortuguese", "lgSpanish", "lgSpanishMexico", "lgSwedish",
    "lgNorwegian",  "lgCustom"};
constexpr std::array<const char*, 4> kFileTypeNames = {"ftComma", "ftTab", "ftFixedLength", "ftCustom"};

template <size_t N>
int IdentIndex(const std::array<const char*, N>& names, const std::string& ident) {
  for (size_t i = 0; i < N; ++i) {
    if (SameText(names[i], ident)) return static_cast<int>(i);
  }
  return -1;
}

const TppFormClass kPrintDialog{"TppPrintDialog"};
const TppFormClass kCancelDialog{"TppCancelDialog"};
const TppFormClass kPrintPreview{"TppPrintPreview"};
const TppFormClass kAutoSearchDialog{"TppAutoSearchDialog"};
const TppFormClass kNoDataDialog{"TppNoDataDialog"};
const TppFormClass kTemplateDialog{"TppTemplateDialog"};
const TppFormClass kTemplateErrorDialog{"TppTemplateErrorDialog"};

std::map<std::string, const TppFormClass*>& FormClasses() {
  static std::map<std::string, const TppFormClass*> classes = {
      {"TppCustomPrintDialog", &kPrintDialog},
      {"TppCustomCancelDialog", &kCancelDialog},
      {"TppCustomPreviewer", &kPrintPreview},
      {"TppCustomAutoSearchDialog", &kAutoSearchDialog},
      {"TppCustomNoDataDialog", &kNoDataDialog},
      {"TppCustomTemplateDialog", &kTemplateDialog},
      {"TppCustomTemplateErrorDialog", &kTemplateErrorDialog},
  };
  return classes;
}

// The preview and the file and archive devices are not built in this program. Their names are
// known, so that a report can carry them, but they produce nothing; the printer device registers
// itself.
const TppDeviceClass kScreenDevice{"TppScreenDevice", "Screen", nullptr};
const TppDeviceClass kTextFileDevice{"TppTextFileDevice", "TextFile", nullptr};
const TppDeviceClass kReportTextFileDevice{"TppReportTextFileDevice", "ReportTextFile", nullptr};
const TppDeviceClass kArchiveDevice{"TppArchiveDevice", "ArchiveFile", nullptr};

void RegisterDeviceNames() {
  static const bool registered = [] {
    for (const TppDeviceClass* c :
         {&kScreenDevice, &kTextFileDevice, &kReportTextFileDevice, &kArchiveDevice}) {
      RegisterDeviceClass(c);
    }
    return true;
  }();
  (void)registered;
}

// Runs `step` and, whatever happens in it, `after`; a failure of `step` wins over one of
// `after`, so the caller learns what went wrong first.
template <class Step, class After>
void ThenAlways(Step step, After after) {
  try {
    step();
  } catch (...) {
    try {
      after();
    } catch (...) {
    }
    throw;
  }
  after();
}

}  // namespace

void RegisterFormClass(const std::string& baseClass, const TppFormClass* formClass) {
  if (formClass == nullptr) return;
  FormClasses()[baseClass] = formClass;
}

void UnregisterFormClass(const std::string& baseClass) { FormClasses().erase(baseClass); }

const TppFormClass* FindFormClass(const std::string& baseClass) {
  auto it = FormClasses().find(baseClass);
  return it == FormClasses().end() ? nullptr : it->second;
}

int32_t VersionNumberOf(const std::string& version) {
  const std::string head = version.substr(0, 20);
  std::string digits;
  bool point_removed = false;
  for (char c : head) {
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
    } else if (c == '.') {
      if (point_removed) digits.push_back(c);
      point_removed = true;
    } else {
      break;
    }
  }
  // A second point ends the number ("4.2.1" is 421 padded); what stands after it is ignored.
  digits = digits.substr(0, digits.find('.'));
  while (digits.size() < 4) digits.push_back('0');
  // More than nine digits cannot be a version this program wrote: it counts as the newest.
  if (digits.size() > 9) return 999999999;
  return std::stoi(digits);
}

// ---- creation

TppProducer::TppProducer(TComponent* owner)
    : TppRelative(owner),
      printer_setup_(std::make_unique<TppPrinterSetup>(this)),
      publisher_(std::make_unique<TppPublisher>()) {
  RegisterDeviceNames();
  printer_setup_->OnGetPrinter = [this](TppPrinterSetup&) -> TppCustomPrinter* { return Printer(); };
  printer_setup_->OnValidatePageDef = [this](TppPrinterSetup&, const TppPageDef& proposed, bool& accept) {
    ValidatePageDef(proposed, accept);
  };
  printer_setup_->OnPageDefChange = [this](TppPrinterSetup&) { PageDefChanged(); };
  printer_setup_->OnChange = [this](TppPrinterSetup&) { PrinterSetupChanged(); };
  publisher_->OnGeneratePages = [this](TppPublisher& sender, TppPageRequest& request) {
    GeneratePages(sender, request);
  };
}

TppProducer::~TppProducer() {
  // Devices leave the publisher while it still stands; the setup's printer question must not
  // reach a half-destroyed producer.
  printer_device_.reset();
  file_device_.reset();
  printer_setup_->OnGetPrinter = nullptr;
  printer_setup_->OnValidatePageDef = nullptr;
  printer_setup_->OnPageDefChange = nullptr;
  printer_setup_->OnChange = nullptr;
}

// ---- events

void TppProducer::SaveText(TComponent& sender, std::string& text) { DoOnSaveText(sender, text); }

void TppProducer::DoOnSaveText(TComponent& sender, std::string& text) {
  if (OnSaveText) OnSaveText(sender, text);
  SendEvent(this, kSaveTextEvent);
}

void TppProducer::DoAfterPrint() {
  SendPrintEnd();
  if (AfterPrint) AfterPrint(*this);
}

void TppProducer::DoBeforePrint() {
  if (BeforePrint) BeforePrint(*this);
}

void TppProducer::DoOnCancel() {
  if (OnCancel) OnCancel(*this);
  SendEvent(this, kCancelEvent);
}

void TppProducer::DoOnCancelDialogCreate() {
  if (OnCancelDialogCreate) OnCancelDialogCreate(*this);
  SendEvent(this, kCancelDialogCreateEvent);
}

void TppProducer::DoOnCancelDialogClose() {
  if (OnCancelDialogClose) OnCancelDialogClose(*this);
  SendEvent(this, kCancelDialogCloseEvent);
}

void TppProducer::DoOnPageRequest(TComponent& sender, TppPageRequest& request) {
  if (OnPageRequest) OnPageRequest(sender, request);
}

void TppProducer::DoOnPreviewFormCreate() {
  if (OnPreviewFormCreate) OnPreviewFormCreate(*this);
  SendEvent(this, kPreviewFormCreateEvent);
}

void TppProducer::DoOnPreviewFormClose() {
  if (OnPreviewFormClose) OnPreviewFormClose(*this);
  SendEvent(this, kPreviewFormCloseEvent);
}

void TppProducer::DoOnPrintDialogCreate() {
  if (OnPrintDialogCreate) OnPrintDialogCreate(*this);
  SendEvent(this, kPrintDialogCreateEvent);
}

void TppProducer::DoOnPrintDialogClose() {
  if (OnPrintDialogClose) OnPrintDialogClose(*this);
  SendEvent(this, kPrintDialogCloseEvent);
}

void TppProducer::DoOnPrintingComplete() {
  if (OnPrintingComplete) OnPrintingComplete(*this);
}

void TppProducer::SendPrintStart() {
  if (print_start_sent_) return;
  print_start_sent_ = true;
  SendEvent(this, kPrintStartEvent);
}

void TppProducer::SendPrintEnd() {
  if (!print_start_sent_) return;
  print_start_sent_ = false;
  SendEvent(this, kPrintEndEvent);
}

void TppProducer::SendGenerationStart() {
  SendEvent(this, kGenerationStartEvent);
  SendPrintStart();
}

void TppProducer::SendGenerationEnd() {
  SendPrintEnd();
  SendEvent(this, kGenerationEndEvent);
}

// ---- settings

void TppProducer::SetEnableProcessMessages(bool value) { enable_process_messages_ = value; }

void TppProducer::PumpMessages() {
  if (enable_process_messages_) platform::PumpMessages();
}

void TppProducer::SetDeviceType(const std::string& value) {
  if (!IsReading() && !IsLoading() && DeviceClassForName(value) == nullptr) return;
  device_type_ = value;
}

void TppProducer::SetDeviceByNumber(int number) {
  static constexpr std::array<const char*, 4> kNames = {"Printer", "Screen", "TextFile", "ArchiveFile"};
  if (number < 0 || number >= static_cast<int>(kNames.size())) return;
  SetDeviceType(kNames[static_cast<size_t>(number)]);
}

void TppProducer::SetLanguage(TppLanguageType value) {
  if (printing_ || value == language_) return;
  language_ = value;
  LanguageChanged();
}

void TppProducer::ValidatePageDef(const TppPageDef& /*proposed*/, bool& accept) { accept = true; }

void TppProducer::SetPrinterSetup(const TppPrinterSetup& setup) {
  if (&setup != printer_setup_.get()) printer_setup_->Assign(setup);
}

bool TppProducer::IsDeviceOutput() const {
  for (int i = 0; i < publisher_->DeviceCount(); ++i) {
    if (!SameText(publisher_->Devices(i)->DeviceName(), "Screen")) return true;
  }
  return false;
}

TppPrinter* TppProducer::Printer() {
  if (own_printer_) {
    own_printer_->SetPrinterSetup(*printer_setup_);
    return own_printer_.get();
  }
  if (printer_device_) return &printer_device_->Printer();
  TppPrinter* shared = DefaultPrinter();
  if (std::this_thread::get_id() == kMainThread || shared == nullptr) {
    if (shared != nullptr) shared->SetPrinterSetup(*printer_setup_);
    return shared;
  }
  // The shared printer belongs to the main thread; another thread gets a printer of its own.
  own_printer_ = std::make_unique<TppPrinter>();
  own_printer_->SetPrinterSetup(*printer_setup_);
  return own_printer_.get();
}

// ---- print road

void TppProducer::ConversionNotice() {
  platform::ShowMessageBox(platform::MessageKind::None, platform::ApplicationTitle(), kConversionNotice,
                           platform::mbOK);
  printing_ = true;
  // The message loop runs for one second before the converted report prints.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
  while (std::chrono::steady_clock::now() < until) {
    platform::PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  converted_from_pre40_ = false;
  printing_ = false;
}

void TppProducer::Print() {
  if (converted_from_pre40_) {
    if (printing_) return;
    ConversionNotice();
  }
  printer_refused_ = false;
  producing_ = true;
  if (device_type_ == "Screen") {
    // The preview road has no viewer in this program: nothing is produced.
    producing_ = false;
    return;
  }
  PrintOnDevices();
}

bool TppProducer::PrinterUsable() {
  TppPrinter& printer = printer_device_->Printer();
  // A printer that fell back to the "Screen" pseudo printer (its name is not installed and no
  // default printer stands in, or its context could not be made) cannot print: it is refused
  // here, like a printer without a context, rather than opening a job that must fail.
  return printer.Handle() != nullptr && printer.PrinterName() != "Screen";
}

void TppProducer::PrintOnDevices() {
  const TppDeviceClass* device_class = DeviceClassForName(device_type_);
  // "screen" in another case is no preview: like every class but the file devices, it takes
  // the printer road. A file device that this program does not build prints nothing.
  const bool printer_road =
      device_class == &TppPrinterDevice::DeviceClass() || device_class == &kScreenDevice;
  if (device_class == nullptr || (!printer_road && !device_class->create)) {
    producing_ = false;
    return;
  }
  setup_changed_ = false;
  saved_setup_ = std::make_unique<TppPrinterSetup>();
  saved_setup_->Assign(*printer_setup_);
  printer_device_ = std::make_unique<TppPrinterDevice>();
  printer_device_->SetStacked(true);
  printer_device_->SetStackKey("");
  printer_device_->SetLanguageIndex(language_index_);
  printer_device_->Printer().SetPrinterSetup(*printer_setup_);

  ThenAlways(
      [&] {
        // No dialog form makes a window on this road; the create event comes on every run.
        DoOnPrintDialogCreate();

        TppDevice* device = printer_device_.get();
        if (!printer_road) {
          file_device_.reset(device_class->create(nullptr));
          file_device_->SetLanguageIndex(language_index_);
          device = file_device_.get();
        } else if (!PrinterUsable()) {
          printer_refused_ = true;
          platform::ShowMessageBox(platform::MessageKind::Warning, "Warning", LoadLanguageString(1020),
                                   platform::mbOK);
          return;
        }
        device->SetPublisher(publisher_.get());
        DeviceConnected(*device);

        TppPrinter& printer = printer_device_->Printer();
        if (device == printer_device_.get()) SetPrinterSetup(printer.PrinterSetup());
        if (!printer.StoredPrinterSetup().IsSamePaper(*saved_setup_)) {
          setup_changed_ = true;
          producing_ = false;
          publisher_->InvalidatePages();
          Reset();
          producing_ = true;
        }
        DoOnCancelDialogCreate();
        PrintToDevices();
      },
      [&] { CleanUp(); });
}

void TppProducer::PrintToDevices() {
  ThenAlways(
      [&] {
        StartPrintJob();
        PublishPages();
      },
      [&] { EndPrintJob(); });
}

void TppProducer::StartPrintJob() {
  DoBeforePrint();
  if (!job_started_ && !cancelled_) publisher_->Reset();
  job_started_ = true;
  cancelled_ = false;
  publisher_->StartJob();
}

void TppProducer::PublishPages() { publisher_->RequestPages(); }

void TppProducer::EndPrintJob() {
  ThenAlways(
      [&] {
        if (cancelled_) {
          publisher_->CancelJob();
        } else {
          publisher_->EndJob();
        }
      },
      [&] {
        if (!IsDeviceOutput()) return;
        ThenAlways(
            [&] {
              DoAfterPrint();
              DoOnPrintingComplete();
            },
            [&] { CleanUp(); });
      });
}

void TppProducer::CleanUp() {
  // Runs once per run: EndPrintJob and the device road both end with it.
  if (!saved_setup_ && !printer_device_ && !file_device_) return;
  if (setup_changed_) {
    producing_ = false;
    publisher_->InvalidatePages();
    Reset();
    producing_ = true;
  }
  if (!save_printer_setup_ && saved_setup_) SetPrinterSetup(*saved_setup_);
  saved_setup_.reset();
  file_device_.reset();
  printer_device_.reset();
  producing_ = false;
  setup_changed_ = false;
  SendEvent(this, kPrintCleanedUpEvent);
}

void TppProducer::GeneratePages(TComponent& sender, TppPageRequest& request) {
  DoOnPageRequest(sender, request);
}

void TppProducer::HandlePrintError(const std::exception_ptr& /*failure*/) { publisher_->CancelJob(); }

void TppProducer::Cancel() { cancelled_ = true; }

void TppProducer::Reset() {
  if (printing_) return;
  job_started_ = false;
  cancelled_ = false;
}

// ---- loading

void TppProducer::ConvertFromVersion(int32_t version) {
  if (version <= 4210 && language_ == lgSpanish) language_ = lgSpanishMexico;
}

void TppProducer::ApplyVersionAfterLoad() {
  int32_t v = version_stored_ ? version_no_ : 1000;
  if (v >= 7000) {
    const size_t beta = version_.find("Beta Build");
    if (beta != std::string::npos) {
      const size_t at = beta + 11;
      const bool late = at < version_.size() && version_[at] >= '7' && version_[at] <= '9';
      v = late ? 3999 : 3998;
    }
  }
  converted_from_pre40_ = v <= 3999;
  if (v < 7000) {
    ConvertFromVersion(v);
    converted_ = true;
  }
  version_ = "7.0";
  version_no_ = 7000;
  version_stored_ = false;
}

void TppProducer::Loaded() {
  TppRelative::Loaded();
  ApplyVersionAfterLoad();
}

void TppProducer::WriteProperties(TWriter& writer) const {
  TppRelative::WriteProperties(writer);
  auto boolean = [&](const char* name, bool value, bool fallback) {
    if (value == fallback) return;
    writer.WritePropName(name);
    writer.WriteBoolean(value);
  };
  auto text = [&](const char* name, const std::string& value, const std::string& fallback) {
    if (value == fallback) return;
    writer.WritePropName(name);
    writer.WriteString(value);
  };
  boolean("AllowPrintToArchive", allow_print_to_archive_, false);
  boolean("AllowPrintToFile", allow_print_to_file_, false);
  text("ArchiveFileName", archive_file_name_, "");
  text("DeviceType", device_type_, "Screen");
  if (language_ != lgDefault) {
    writer.WritePropName("Language");
    writer.WriteIdent(kLanguageNames[language_]);
  }
  boolean("ModalCancelDialog", modal_cancel_dialog_, true);
  boolean("ModalPreview", modal_preview_, true);
  printer_setup_->WriteProperties(writer, "PrinterSetup.");
  boolean("SavePrinterSetup", save_printer_setup_, false);
  boolean("ShowCancelDialog", show_cancel_dialog_, true);
  boolean("ShowPrintDialog", show_print_dialog_, true);
  text("TextFileName", text_file_name_, "");
  if (text_file_type_ != ftComma) {
    writer.WritePropName("TextFileType");
    writer.WriteIdent(kFileTypeNames[text_file_type_]);
  }
  writer.WritePropName("Version");
  writer.WriteString("7.0");
}

bool TppProducer::ReadProperty(const std::string& name, TReader& reader) {
  static const std::string kSetupPrefix = "PrinterSetup.";
  if (name.compare(0, kSetupPrefix.size(), kSetupPrefix) == 0) {
    return printer_setup_->ReadProperty(name.substr(kSetupPrefix.size()), reader);
  }
  if (name == "AllowPrintToArchive") {
    allow_print_to_archive_ = reader.ReadBoolean();
  } else if (name == "AllowPrintToFile") {
    allow_print_to_file_ = reader.ReadBoolean();
  } else if (name == "ArchiveFileName") {
    archive_file_name_ = reader.ReadString();
  } else if (name == "DeviceType") {
    SetDeviceType(reader.ReadString());
  } else if (name == "Device") {
    const std::string device = reader.ReadIdent();
    static const std::map<std::string, std::string> kDevices = {{"dvScreen", "Screen"},
                                                                {"dvPrinter", "Printer"},
                                                                {"dvFile", "TextFile"},
                                                                {"dvArchive", "ArchiveFile"}};
    auto it = kDevices.find(device);
    if (it == kDevices.end()) reader.Error("unknown device " + device);
    device_type_ = it->second;
  } else if (name == "Language") {
    const std::string ident = reader.ReadIdent();
    const int index = IdentIndex(kLanguageNames, ident);
    if (index < 0) reader.Error("unknown language " + ident);
    language_ = static_cast<TppLanguageType>(index);
  } else if (name == "ModalCancelDialog") {
    modal_cancel_dialog_ = reader.ReadBoolean();
  } else if (name == "ModalPreview") {
    modal_preview_ = reader.ReadBoolean();
  } else if (name == "SavePrinterSetup") {
    save_printer_setup_ = reader.ReadBoolean();
  } else if (name == "ShowCancelDialog") {
    show_cancel_dialog_ = reader.ReadBoolean();
  } else if (name == "ShowPrintDialog") {
    show_print_dialog_ = reader.ReadBoolean();
  } else if (name == "TextFileName") {
    text_file_name_ = reader.ReadString();
  } else if (name == "TextFileType") {
    const std::string ident = reader.ReadIdent();
    const int index = IdentIndex(kFileTypeNames, ident);
    if (index < 0) reader.Error("unknown text file type " + ident);
    text_file_type_ = static_cast<TppFileType>(index);
  } else if (name == "Version") {
    version_ = reader.ReadString();
    version_no_ = VersionNumberOf(version_);
    version_stored_ = true;
  } else {
    return TppRelative::ReadProperty(name, reader);
  }
  return true;
}

}  // namespace parvel::report
