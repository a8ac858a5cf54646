#pragma once
// The card as the agent prints it: CR80 paper, landscape, no margins, job name "Report".
#include <string>

#include "report/base/units.h"
#include "report/output/printer_setup.h"

namespace parvel::doubles {

inline void SetUpCard(report::TppPrinterSetup& setup, const std::string& printer) {
  setup.SetPrinterName(printer);
  setup.SetUnits(report::utMillimeters);
  setup.SetPaperName("CR80 2.13 x 3.38 in");
  setup.SetOrientation(report::poLandscape);
  setup.SetMarginLeft(0);
  setup.SetMarginTop(0);
  setup.SetDocumentName("Report");
}

}  // namespace parvel::doubles
