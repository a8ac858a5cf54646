#include "report/output/printer_device.h"

#include <algorithm>
#include <exception>

#include "platform/message_pump.h"
#include "report/base/errors.h"
#include "report/base/language.h"
#include "report/output/draw_command.h"
#include "report/output/page.h"
#include "report/output/printer.h"
#include "report/output/publisher.h"
#include "report/output/text_drawing.h"

namespace parvel::report {

namespace {

int32_t ToDevicePixels(int32_t thousandths, TppDirection direction, const TppPrinter& printer) {
  return static_cast<int32_t>(MMThousandthsToUnits(thousandths, utPrinterPixels, direction, &printer));
}

}  // namespace

const TppDeviceClass& TppPrinterDevice::DeviceClass() {
  static const TppDeviceClass device_class{
      "TppPrinterDevice", "Printer",
      [](TComponent* owner) -> TppDevice* { return new TppPrinterDevice(owner); }};
  return device_class;
}

TppPrinterDevice::TppPrinterDevice(TComponent* owner)
    : TppRasterDevice(owner), printer_(std::make_unique<TppPrinter>()) {}

TppPrinterDevice::~TppPrinterDevice() {
  BeginDestruction();
  // A device freed in the middle of a job drops the unfinished document instead of sending it.
  if (printer_->Printing()) {
    try {
      printer_->AbortDoc();
    } catch (const std::exception&) {  // nothing more can be done on the way out
    }
  }
}

void TppPrinterDevice::DisplayStatus(const std::string& text) {
  SetStatus(text);
  TppStatusDialog* dialog = StatusDialog();
  if (dialog != nullptr && dialog->StatusText() != text) {
    dialog->SetStatusText(text);
    platform::PumpMessages();
  }
}

std::string TppPrinterDevice::PageStatus(const TppPage& page) {
  const TppPublisher* publisher = Publisher();
  if (MessageOnly() && publisher != nullptr && !publisher->LastPageKnown()) {
    return StatusDialog() != nullptr ? StatusDialog()->StatusText() : std::string();
  }
  const std::string printer = printer_->PrinterDescription();
  if (publisher == nullptr || publisher->LastPageKnown()) {
    return LoadLanguageFormat(28, {std::to_string(page.AbsolutePageNo()),
                                   std::to_string(page.AbsolutePageCount()), page.DocumentName(), printer});
  }
  return LoadLanguageFormat(27, {std::to_string(page.AbsolutePageNo()), page.DocumentName(), printer});
}

void TppPrinterDevice::StartJob() {
  if (InJob()) return;
  TppRasterDevice::StartJob();
  job_request_.Assign(DeviceRequest());
  // A job cancelled in the middle of its collated passes must not hand its passes on.
  copies_left_ = 1;
  DisplayStatus(LoadLanguageString(2));
  printer_->BeginDoc();
  device_canvas_ = &printer_->Canvas();
  first_page_of_job_ = true;
}

void TppPrinterDevice::ReceivePage(TppPage& page) {
  TppRasterDevice::ReceivePage(page);
  if (!InJob() || !PageWanted()) return;
  DisplayStatus(PageStatus(page));
  if (MessageOnly()) return;
  try {
    PrintPage(page);
  } catch (const EReportError&) {
    AbandonJob();
    throw;
  } catch (const std::exception& failure) {
    AbandonJob();
    throw EPrintError(LoadLanguageFormat(286, {printer_->PrinterDescription(), failure.what()}));
  }
}

void TppPrinterDevice::PrintPage(TppPage& page) {
  // Copies and collation never travel through the settings record, so the stored setup answers
  // for them without reading the record back.
  const int32_t copies = printer_->StoredPrinterSetup().Collation() ? 1 : page.PrinterSetup().Copies();
  for (int32_t copy = 0; copy < std::max<int32_t>(copies, 1); ++copy) {
    StartPage(page);
    DrawPage(page);
    EndPage();
  }
}

void TppPrinterDevice::StartPage(TppPage& page) {
  if (first_page_of_job_) {
    const TppPrinterSetup& setup = printer_->StoredPrinterSetup();
    if (setup.Collation()) copies_left_ = setup.Copies();
    first_page_of_job_ = false;
  }
  printer_->SetPrinterSetup(page.PrinterSetup());
  printer_->NewPage();
  const TppCustomPrinter::Margins margins = printer_->PrintableMargins();
  origin_x_ = -margins.left;
  origin_y_ = -margins.top;
}

void TppPrinterDevice::EndPage() { printer_->EndPage(); }

void TppPrinterDevice::AbandonJob() {
  try {
    if (printer_->Printing()) printer_->AbortDoc();
  } catch (const std::exception&) {  // the job's own failure is the one to report
  }
  device_canvas_ = nullptr;
  copies_left_ = 1;
  first_page_of_job_ = true;
  TppRasterDevice::CancelJob();
}

bool TppPrinterDevice::NextCopyPass() {
  const int32_t n = copies_left_;
  if (n <= 1) return true;
  copies_left_ = n - 1;
  DeviceRequest().Assign(job_request_);
  PrintByItself();
  // A pass normally ends the job from within (the publisher's EndJob comes back here). One
  // that did not (no publisher, or pages that never all came) must not leave the document
  // open: the remaining passes run from here, and the last one ends it.
  return InJob() ? NextCopyPass() : false;
}

void TppPrinterDevice::EndJob() {
  if (!InJob()) return;
  if (!NextCopyPass()) return;
  device_canvas_ = nullptr;
  try {
    printer_->EndDoc();
  } catch (...) {
    TppRasterDevice::EndJob();
    throw;
  }
  TppRasterDevice::EndJob();
}

void TppPrinterDevice::CancelJob() {
  device_canvas_ = nullptr;
  copies_left_ = 1;
  try {
    printer_->EndDoc();
  } catch (...) {
    TppRasterDevice::CancelJob();
    throw;
  }
  TppRasterDevice::CancelJob();
}

bool TppPrinterDevice::DrawCommand(TppDrawCommand& command) {
  // Right and bottom come from the summed thousandths, so that rounding does not add up.
  const TppPrinter& printer = *printer_;
  command.SetDeviceLeft(ToDevicePixels(command.Left(), dirHorizontal, printer) + origin_x_);
  command.SetDeviceTop(ToDevicePixels(command.Top(), dirVertical, printer) + origin_y_);
  command.SetDeviceRight(ToDevicePixels(command.Left() + command.Width(), dirHorizontal, printer) +
                         origin_x_);
  command.SetDeviceBottom(ToDevicePixels(command.Top() + command.Height(), dirVertical, printer) + origin_y_);
  if (auto* text = dynamic_cast<TppDrawText*>(&command)) {
    DrawText(*text);
  } else if (dynamic_cast<TppDrawShape*>(&command) != nullptr) {
    DrawShape(command);
  } else if (dynamic_cast<TppDrawLine*>(&command) != nullptr) {
    DrawLine(command);
  } else if (dynamic_cast<TppDrawImage*>(&command) != nullptr) {
    DrawImage(command);
  } else {
    return false;
  }
  return true;
}

void TppPrinterDevice::DrawText(TppDrawText& command) {
  TppPrinterCanvas* canvas = device_canvas_ != nullptr ? device_canvas_ : &printer_->Canvas();
  DrawTextCommand(command, *canvas, printer_.get());
}

}  // namespace parvel::report
