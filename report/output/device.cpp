#include "report/output/device.h"

#include <algorithm>
#include <vector>

#include "report/base/stream.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer_device.h"
#include "report/output/publisher.h"

namespace parvel::report {

namespace {

void RegisterForStreaming(const TppDeviceClass& deviceClass) {
  if (!deviceClass.create) return;
  RegisterClass(deviceClass.class_name,
                [create = deviceClass.create](TComponent* owner) -> TComponent* { return create(owner); });
}

// Filled on first use with the devices this library brings; kept until the program ends.
std::vector<const TppDeviceClass*>& DeviceClasses() {
  static std::vector<const TppDeviceClass*> classes = [] {
    std::vector<const TppDeviceClass*> built_in{&TppPrinterDevice::DeviceClass()};
    for (const TppDeviceClass* c : built_in) RegisterForStreaming(*c);
    return built_in;
  }();
  return classes;
}

}  // namespace

void RegisterDeviceClass(const TppDeviceClass* deviceClass) {
  if (deviceClass == nullptr) return;
  auto& classes = DeviceClasses();
  if (std::find(classes.begin(), classes.end(), deviceClass) != classes.end()) return;
  classes.push_back(deviceClass);
  RegisterForStreaming(*deviceClass);
}

void UnregisterDeviceClass(const TppDeviceClass* deviceClass) { std::erase(DeviceClasses(), deviceClass); }

const TppDeviceClass* DeviceClassForName(const std::string& name) {
  for (const TppDeviceClass* deviceClass : DeviceClasses()) {
    if (SameText(deviceClass->device_name, name)) return deviceClass;
  }
  return nullptr;
}

// ---- TppDevice

TppDevice::TppDevice(TComponent* owner) : TppCommunicator(owner) {}

TppDevice::~TppDevice() {
  // The publisher learns of it through the link and lets the device go.
  BeginDestruction();
}

void TppDevice::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppCommunicator::LinkNotify(sender, operation);
  if (operation == ppopRemove && publisher_ != nullptr &&
      static_cast<TppCommunicator*>(publisher_) == sender) {
    publisher_ = nullptr;
    if (OnPublisherChange && !IsDestroying()) OnPublisherChange(*this);
  }
}

void TppDevice::SetStacked(bool value) {
  if (publisher_ == nullptr && !in_job_) stacked_ = value;
}

void TppDevice::SetStackKey(const std::string& value) {
  if (publisher_ == nullptr && !in_job_) stack_key_ = value;
}

void TppDevice::SetStatus(const std::string& text) { status_text_ = text; }

void TppDevice::SetEnabled(bool value) {
  if (!in_job_) enabled_ = value;
}

void TppDevice::SetPublisher(TppPublisher* publisher) {
  if (publisher_ != nullptr) publisher_->RemoveDevice(this);
  publisher_ = publisher;
  if (publisher_ != nullptr) publisher_->AddDevice(this);
  if (OnPublisherChange) OnPublisherChange(*this);
}

void TppDevice::CancelJob() {
  in_job_ = false;
  job_cancelled_ = true;
  if (OnCancelJob) OnCancelJob(*this);
}

bool TppDevice::DrawCommand(TppDrawCommand& /*command*/) { return false; }

void TppDevice::EndJob() {
  if (!in_job_) return;
  in_job_ = false;
  awaiting_pages_ = true;
  if (OnEndJob) OnEndJob(*this);
}

void TppDevice::ReceivePage(TppPage& page) {
  message_only_ = false;
  page_wanted_ = device_request_.Wants(page);
  if (page.Calculation() || (!page.Final() && UnfinishedPagesAreMessages())) message_only_ = true;
  if (OnReceivePage) OnReceivePage(*this, page);
  if (awaiting_pages_ && page.Final() && !page.Calculation()) {
    awaiting_pages_ = !device_request_.IsSatisfiedBy(page);
  }
}

void TppDevice::Reset() {
  device_request_.Reset();
  job_cancelled_ = false;
  awaiting_pages_ = true;
}

void TppDevice::StartJob() {
  if (in_job_) return;
  in_job_ = true;
  job_cancelled_ = false;
  if (OnStartJob) OnStartJob(*this);
}

void TppDevice::DrawPage(TppPage& page) {
  const int32_t width = page.PageDef().mmWidth();
  const int32_t height = page.PageDef().mmHeight();
  for (int i = 0; i < page.DrawCommandCount(); ++i) {
    TppDrawCommand* command = page.DrawCommands(i);
    if (command->Left() <= width && command->Top() <= height) command->DrawOnDevice(*this);
  }
}

void TppDevice::PrintByItself() {
  TppPublisher* publisher = publisher_;
  if (publisher == nullptr) return;
  awaiting_pages_ = true;
  try {
    publisher->StartJob();
    publisher->RequestPages();
  } catch (...) {
    if (!awaiting_pages_ && publisher_ == publisher) publisher->EndJob();
    throw;
  }
  if (!awaiting_pages_ && publisher_ == publisher) publisher->EndJob();
}

}  // namespace parvel::report
