#pragma once
// How the tick hands the card report over to be printed. The agent prints through the report's
// own print operation; tests put a double in its place.
#include "report/model/report.h"

namespace parvel::agent {

enum class TPrintOutcome {
  Printed,  // the job was accepted by the spooler
  Refused,  // no usable printer: the print operation warned and printed nothing
};

class TCardPrint {
 public:
  virtual ~TCardPrint() = default;
  // Prints `card`; raises its BeforePrint first. Failures are exceptions.
  virtual TPrintOutcome Print(report::TppReport& card) = 0;
};

// The report's own print operation.
class TReportPrint : public TCardPrint {
 public:
  TPrintOutcome Print(report::TppReport& card) override {
    card.Print();
    return card.PrinterRefused() ? TPrintOutcome::Refused : TPrintOutcome::Printed;
  }
};

}  // namespace parvel::agent
