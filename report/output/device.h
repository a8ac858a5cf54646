#pragma once
// The consumer end of the publisher: a device states which pages it wants, receives finished
// pages and turns them into output. Device classes are registered by their device type name.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "report/base/communicator.h"
#include "report/output/page_request.h"

namespace parvel::report {

class TppDevice;
class TppDrawCommand;
class TppPage;
class TppPublisher;

// The producer's cancel dialog as a device sees it: a line of status text.
class TppStatusDialog {
 public:
  virtual ~TppStatusDialog() = default;
  virtual std::string StatusText() const = 0;
  virtual void SetStatusText(const std::string& text) = 0;
};

// What the registry knows of a device class.
struct TppDeviceClass {
  std::string class_name;   // "TppPrinterDevice"
  std::string device_name;  // "Printer"
  // A non-null owner holds the new device, else the caller does.
  std::function<TppDevice*(TComponent* owner)> create;
};

// Registering also registers the class for streaming under its class name; a class is listed
// once. The printer device is registered from the start.
void RegisterDeviceClass(const TppDeviceClass* deviceClass);
void UnregisterDeviceClass(const TppDeviceClass* deviceClass);
// The first registered class whose device name equals `name` without regard to case.
const TppDeviceClass* DeviceClassForName(const std::string& name);

class TppDevice : public TppCommunicator {
 public:
  using TppDeviceEvent = std::function<void(TppDevice& sender)>;
  using TppReceivePageEvent = std::function<void(TppDevice& sender, TppPage& page)>;

  explicit TppDevice(TComponent* owner = nullptr);
  ~TppDevice() override;

  std::string ClassName() const override { return "TppDevice"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;

  // Virtual operations in their order.
  virtual void SetStacked(bool value);
  virtual void SetStackKey(const std::string& value);
  virtual void SetStatus(const std::string& text);
  virtual std::string DeviceName() const { return ClassName(); }
  virtual void CancelJob();
  virtual bool DrawCommand(TppDrawCommand& command);
  virtual void RedrawCommand(TppDrawCommand& /*command*/) {}
  virtual void EndJob();
  virtual bool UnfinishedPagesAreMessages() const { return true; }
  virtual void ReceivePage(TppPage& page);
  virtual void Reset();
  virtual void StartJob();

  // Renders the page's commands in order, skipping those that start beyond the paper.
  void DrawPage(TppPage& page);
  // Runs a job on its own: start, request, and end once every wanted page has come.
  void PrintByItself();

  bool Enabled() const { return enabled_; }
  // Ignored while in a job.
  void SetEnabled(bool value);
  bool InJob() const { return in_job_; }
  bool JobCancelled() const { return job_cancelled_; }
  TppStatusDialog* StatusDialog() const { return status_dialog_; }
  void SetStatusDialog(TppStatusDialog* dialog) { status_dialog_ = dialog; }
  bool MessageOnly() const { return message_only_; }
  bool PageWanted() const { return page_wanted_; }
  int32_t LanguageIndex() const { return language_index_; }
  void SetLanguageIndex(int32_t index) { language_index_ = index; }
  TppPageRequest& DeviceRequest() { return device_request_; }
  const TppPageRequest& DeviceRequest() const { return device_request_; }
  void SetDeviceRequest(const TppPageRequest& request) { device_request_.Assign(request); }
  TppPublisher* Publisher() const { return publisher_; }
  void SetPublisher(TppPublisher* publisher);
  bool Stacked() const { return stacked_; }
  const std::string& StackKey() const { return stack_key_; }
  const std::string& StatusText() const { return status_text_; }
  bool AwaitingPages() const { return awaiting_pages_; }

  TppDeviceEvent OnCancelJob;
  TppDeviceEvent OnRequestPages;
  TppReceivePageEvent OnReceivePage;
  TppDeviceEvent OnStartJob;
  TppDeviceEvent OnEndJob;
  TppDeviceEvent OnPublisherChange;

 protected:
  void SetAwaitingPages(bool value) { awaiting_pages_ = value; }

 private:
  bool enabled_ = true;
  bool in_job_ = false;
  bool job_cancelled_ = false;
  TppStatusDialog* status_dialog_ = nullptr;
  bool message_only_ = false;
  bool page_wanted_ = false;
  int32_t language_index_ = 0;
  TppPageRequest device_request_;
  TppPublisher* publisher_ = nullptr;  // linked by the publisher
  bool stacked_ = false;
  std::string stack_key_;
  std::string status_text_;
  bool awaiting_pages_ = true;
};

// The base of the devices that draw on a canvas.
class TppRasterDevice : public TppDevice {
 public:
  explicit TppRasterDevice(TComponent* owner = nullptr) : TppDevice(owner) {}
  std::string ClassName() const override { return "TppRasterDevice"; }
};

}  // namespace parvel::report
