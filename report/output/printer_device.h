#pragma once
// Prints each wanted page on a printer through an owned printer wrapper, at the printer's
// resolution and shifted by its physical offsets. Copies are made collated (the whole set of
// pages again, in one document) or uncollated (each page repeated).
#include <cstdint>
#include <memory>
#include <string>

#include "report/output/device.h"

namespace parvel::report {

class TppDrawText;
class TppPrinter;
class TppPrinterCanvas;

class TppPrinterDevice : public TppRasterDevice {
 public:
  explicit TppPrinterDevice(TComponent* owner = nullptr);
  ~TppPrinterDevice() override;

  static const TppDeviceClass& DeviceClass();

  std::string ClassName() const override { return "TppPrinterDevice"; }
  std::string DeviceName() const override { return "Printer"; }
  void CancelJob() override;
  bool DrawCommand(TppDrawCommand& command) override;
  void EndJob() override;
  void ReceivePage(TppPage& page) override;
  void StartJob() override;

  // Virtual operations in their order.
  // Runs the next collated pass, if any is left; answers whether this was the last one.
  virtual bool NextCopyPass();
  virtual void DrawShape(TppDrawCommand& /*command*/) {}
  virtual void DrawLine(TppDrawCommand& /*command*/) {}
  virtual void DrawImage(TppDrawCommand& /*command*/) {}
  virtual void DrawText(TppDrawText& command);

  TppPrinterCanvas* DeviceCanvas() const { return device_canvas_; }
  int32_t CopiesLeft() const { return copies_left_; }
  bool FirstPageOfJob() const { return first_page_of_job_; }
  int OriginX() const { return origin_x_; }
  int OriginY() const { return origin_y_; }
  TppPrinter& Printer() { return *printer_; }

 private:
  void StartPage(TppPage& page);
  void EndPage();
  void PrintPage(TppPage& page);
  std::string PageStatus(const TppPage& page);
  void DisplayStatus(const std::string& text);
  // A job that failed: the document is dropped and the device is ready for the next job.
  void AbandonJob();

  TppPrinterCanvas* device_canvas_ = nullptr;
  int32_t copies_left_ = 1;
  bool first_page_of_job_ = true;
  int origin_x_ = 0;
  int origin_y_ = 0;
  std::unique_ptr<TppPrinter> printer_;
  // The request as the job began: a page list is used up as its pages pass, and every
  // collated pass wants the same pages again.
  TppPageRequest job_request_;
};

}  // namespace parvel::report
