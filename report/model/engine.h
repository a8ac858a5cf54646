#pragma once
// What a report asks of its generation engine. The report owns one; the engine turns the report
// into pages for the publisher and answers the page values that components and handlers read.
#include <cstdint>

#include "report/output/page.h"

namespace parvel::report {

class TppPublisher;
class TppPageRequest;

class TppReportEngine {
 public:
  virtual ~TppReportEngine() = default;

  // Forgets everything generated, so the next request generates afresh.
  virtual void Reset() = 0;
  // Generates the pages `request` asks for and hands each to `publisher`.
  virtual void GenerateRequest(TppPublisher& publisher, TppPageRequest& request) = 0;
  // Asks a generation in progress to stop at its next check.
  virtual void Cancel() = 0;
  // True while pages are being generated.
  virtual bool Generating() const = 0;

  // Values the report reads through; an engine that has not generated answers 0 and false.
  virtual int32_t AbsolutePageNo() const { return 0; }
  virtual int32_t AbsolutePageCount() const { return 0; }
  virtual int32_t PageNo() const { return 0; }
  virtual int32_t PageCount() const { return 0; }
  virtual int32_t CurrentColumn() const { return 0; }
  virtual bool FirstPass() const { return false; }
  virtual bool SecondPass() const { return false; }
  virtual TDateTime PrintDateTime() const { return 0; }
  virtual bool DonePrinting() const { return false; }
  virtual int32_t PageBandCount() const { return 0; }
  virtual int32_t ReportBandCount() const { return 0; }
  // Whether no generation run has started since creation or the last Reset.
  virtual bool Initial() const { return true; }
  virtual bool StopRequested() const { return false; }
  // When set, the report's error path stops generation without raising.
  virtual bool QuietErrors() const { return false; }
  // The page the engine generates into; none for an engine without one.
  virtual TppPage* CurrentPage() { return nullptr; }
};

}  // namespace parvel::report
