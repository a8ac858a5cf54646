#pragma once
// The producing part of every report: it owns the printer setup and the publisher, chooses the
// output device by DeviceType, creates the device for one print run, raises the print events
// and carries the run from Print to the freeing of the device.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "report/base/language.h"
#include "report/base/relative.h"
#include "report/output/page_request.h"
#include "report/output/printer_setup.h"

namespace parvel::report {

class TppDevice;
class TppPrinter;
class TppPrinterDevice;
class TppPublisher;

enum TppFileType : uint8_t { ftComma, ftTab, ftFixedLength, ftCustom };

// Numbered events of the producer.
inline constexpr int kPrintEndEvent = 0;
inline constexpr int kPrintStartEvent = 1;
inline constexpr int kCancelEvent = 2;
inline constexpr int kCancelDialogCreateEvent = 3;
inline constexpr int kCancelDialogCloseEvent = 4;
inline constexpr int kPreviewFormCreateEvent = 5;
inline constexpr int kPreviewFormCloseEvent = 6;
inline constexpr int kPrintDialogCreateEvent = 7;
inline constexpr int kPrintDialogCloseEvent = 8;
inline constexpr int kSaveTextEvent = 9;
inline constexpr int kAfterAutoSearchDialogCreateEvent = 10;
inline constexpr int kAutoSearchDialogCloseEvent = 11;
inline constexpr int kGetAutoSearchValuesEvent = 12;
inline constexpr int kGenerationStartEvent = 70;
inline constexpr int kGenerationEndEvent = 71;
inline constexpr int kBeforeAutoSearchDialogCreateEvent = 72;
inline constexpr int kOutlineNodeCreateEvent = 88;
inline constexpr int kPrintCleanedUpEvent = 89;

// The notice shown before a report stored by a version before 4.0 is printed.
inline constexpr const char* kConversionNotice =
    "This report will be converted to 4.0 format before printing.";

// A dialog form class as the print road knows it: by name. No dialog is shown on the card's
// road, so the built-in form classes make no window.
struct TppFormClass {
  std::string class_name;
};

// The form class registry: base class name -> form class. Registering a base class again
// replaces the earlier form class; an unregistered base class finds nothing.
void RegisterFormClass(const std::string& baseClass, const TppFormClass* formClass);
void UnregisterFormClass(const std::string& baseClass);
const TppFormClass* FindFormClass(const std::string& baseClass);

// The version number of a stored version text: its leading digits and points (within the first
// 20 characters), the first point removed, padded with "0" to four digits ("3.52" gives 3520).
int32_t VersionNumberOf(const std::string& version);

class TppProducer : public TppRelative {
 public:
  using TNotifyEvent = std::function<void(TComponent& sender)>;
  using TppPageRequestEvent = std::function<void(TComponent& sender, TppPageRequest& request)>;
  using TppSaveTextEvent = std::function<void(TComponent& sender, std::string& text)>;

  explicit TppProducer(TComponent* owner = nullptr);
  ~TppProducer() override;

  std::string ClassName() const override { return "TppProducer"; }
  bool IsTopLevel() const override { return true; }
  void Loaded() override;
  void WriteProperties(TWriter& writer) const override;
  bool ReadProperty(const std::string& name, TReader& reader) override;

  // Virtual operations in their order.
  virtual void SaveText(TComponent& sender, std::string& text);
  virtual void StartPrintJob();
  virtual void PublishPages();
  virtual void EndPrintJob();
  virtual void SetEnableProcessMessages(bool value);
  virtual void DoAfterPrint();
  virtual void DoBeforePrint();
  virtual void DoOnCancel();
  virtual void DoOnCancelDialogCreate();
  virtual void DoOnCancelDialogClose();
  virtual void DeviceConnected(TppDevice& /*device*/) {}
  virtual void DoOnPageRequest(TComponent& sender, TppPageRequest& request);
  virtual void DoOnPreviewFormCreate();
  virtual void DoOnPreviewFormClose();
  virtual void DoOnPrintDialogCreate();
  virtual void DoOnPrintDialogClose();
  virtual void DoOnPrintingComplete();
  virtual void DoOnSaveText(TComponent& sender, std::string& text);
  virtual bool IsDeviceOutput() const;
  virtual void LanguageChanged() {}
  virtual void PrinterSetupChanged() {}
  virtual void PageDefChanged() {}
  virtual void SetDeviceByNumber(int number);
  virtual void SetDeviceType(const std::string& value);
  virtual void SetLanguage(TppLanguageType value);
  virtual void ValidatePageDef(const TppPageDef& proposed, bool& accept);
  virtual void Cancel();
  virtual void ConvertFromVersion(int32_t version);
  virtual bool ShowSearchDialog() { return true; }
  virtual void Print();
  virtual void PrintToDevices();
  virtual void GeneratePages(TComponent& sender, TppPageRequest& request);
  virtual void HandlePrintError(const std::exception_ptr& failure);
  virtual void Reset();
  virtual void SendPrintEnd();
  virtual void SendPrintStart();
  virtual void SendGenerationStart();
  virtual void SendGenerationEnd();

  // Copies `setup` into the report's own; a report adds its comparisons and resets.
  virtual void SetPrinterSetup(const TppPrinterSetup& setup);

  // Lets pending messages run when EnableProcessMessages is set.
  void PumpMessages();

  // The printer this producer provides; also its printer setup's printer. Null when no printer
  // is installed.
  TppPrinter* Printer();

  const std::string& DeviceType() const { return device_type_; }
  TppPrinterSetup& PrinterSetup() { return *printer_setup_; }
  const TppPrinterSetup& PrinterSetup() const { return *printer_setup_; }
  TppPublisher& Publisher() { return *publisher_; }
  TppPrinterDevice* PrinterDevice() const { return printer_device_.get(); }
  TppDevice* FileDevice() const { return file_device_.get(); }

  bool ShowPrintDialog() const { return show_print_dialog_; }
  void SetShowPrintDialog(bool value) { Unfrozen(show_print_dialog_, value); }
  bool ShowCancelDialog() const { return show_cancel_dialog_; }
  void SetShowCancelDialog(bool value) { Unfrozen(show_cancel_dialog_, value); }
  bool ModalCancelDialog() const { return modal_cancel_dialog_; }
  void SetModalCancelDialog(bool value) { Unfrozen(modal_cancel_dialog_, value); }
  bool ModalPreview() const { return modal_preview_; }
  void SetModalPreview(bool value) { Unfrozen(modal_preview_, value); }
  bool SavePrinterSetup() const { return save_printer_setup_; }
  void SetSavePrinterSetup(bool value) { save_printer_setup_ = value; }
  bool AllowPrintToFile() const { return allow_print_to_file_; }
  void SetAllowPrintToFile(bool value) { Unfrozen(allow_print_to_file_, value); }
  bool AllowPrintToArchive() const { return allow_print_to_archive_; }
  void SetAllowPrintToArchive(bool value) { Unfrozen(allow_print_to_archive_, value); }
  const std::string& TextFileName() const { return text_file_name_; }
  void SetTextFileName(const std::string& value) { Unfrozen(text_file_name_, value); }
  const std::string& ArchiveFileName() const { return archive_file_name_; }
  void SetArchiveFileName(const std::string& value) { Unfrozen(archive_file_name_, value); }
  TppFileType TextFileType() const { return text_file_type_; }
  void SetTextFileType(TppFileType value) { Unfrozen(text_file_type_, value); }
  const std::string& Icon() const { return icon_; }
  void SetIcon(const std::string& value) { Unfrozen(icon_, value); }
  TppLanguageType Language() const { return language_; }
  int32_t LanguageIndex() const { return language_index_; }
  void SetLanguageIndex(int32_t value) { language_index_ = value; }
  bool EnableProcessMessages() const { return enable_process_messages_; }
  int32_t CurrentPage() const { return current_page_; }
  void SetCurrentPage(int32_t value) { current_page_ = value; }
  bool Printing() const { return printing_; }
  bool Producing() const { return producing_; }
  bool Converted() const { return converted_; }
  bool ConvertedFromPre40() const { return converted_from_pre40_; }
  const std::string& Version() const { return version_; }
  int32_t VersionNo() const { return version_no_; }

  bool JobStarted() const { return job_started_; }
  bool Cancelled() const { return cancelled_; }
  // Whether the last run was given up without output because no usable printer was found (the
  // warning was shown); cleared when a run starts. Lets a caller keep what it meant to print.
  bool PrinterRefused() const { return printer_refused_; }

  TNotifyEvent BeforePrint;
  TNotifyEvent AfterPrint;
  TNotifyEvent OnCancel;
  TNotifyEvent OnCancelDialogCreate;
  TNotifyEvent OnCancelDialogClose;
  TNotifyEvent OnPreviewFormCreate;
  TNotifyEvent OnPreviewFormClose;
  TNotifyEvent OnPrintDialogCreate;
  TNotifyEvent OnPrintDialogClose;
  TppPageRequestEvent OnPageRequest;
  TNotifyEvent OnPrintingComplete;
  TppSaveTextEvent OnSaveText;

 protected:
  void SetPrinting(bool value) { printing_ = value; }

 private:
  template <class T>
  void Unfrozen(T& field, const T& value) {
    if (!printing_) field = value;
  }
  void ConversionNotice();
  void PrintOnDevices();
  bool PrinterUsable();
  void CleanUp();
  void ApplyVersionAfterLoad();

  std::string device_type_ = "Screen";
  std::unique_ptr<TppPrinterSetup> printer_setup_;
  std::unique_ptr<TppPublisher> publisher_;
  std::unique_ptr<TppPrinterDevice> printer_device_;
  std::unique_ptr<TppDevice> file_device_;
  std::unique_ptr<TppPrinterSetup> saved_setup_;
  std::unique_ptr<TppPrinter> own_printer_;
  bool show_print_dialog_ = true;
  bool show_cancel_dialog_ = true;
  bool modal_cancel_dialog_ = true;
  bool modal_preview_ = true;
  bool save_printer_setup_ = false;
  bool allow_print_to_file_ = false;
  bool allow_print_to_archive_ = false;
  std::string text_file_name_;
  std::string archive_file_name_;
  TppFileType text_file_type_ = ftComma;
  std::string icon_;
  TppLanguageType language_ = lgDefault;
  int32_t language_index_ = 0;
  bool enable_process_messages_ = true;
  int32_t current_page_ = 1;
  bool printing_ = false;
  bool producing_ = false;
  bool converted_ = false;
  bool converted_from_pre40_ = false;
  std::string version_ = "1.0";
  int32_t version_no_ = 1000;
  bool version_stored_ = false;

  bool job_started_ = false;
  bool cancelled_ = false;
  bool setup_changed_ = false;
  bool print_start_sent_ = false;
  bool printer_refused_ = false;
};

}  // namespace parvel::report
