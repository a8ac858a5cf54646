#include "app/agent/card_report.h"

#include <stdexcept>
#include <string_view>

#include "app/agent/card_layout.h"
#include "report/base/stream.h"
#include "report/model/band.h"

namespace parvel::agent {

std::unique_ptr<report::TppReport> CreateCardReport() {
  report::RegisterReportClasses();
  std::unique_ptr<report::TComponent> read = report::ReadComponentText(kCardLayout);
  auto* card = dynamic_cast<report::TppReport*>(read.get());
  if (card == nullptr) throw std::logic_error("the card layout is not a report");
  (void)read.release();  // now held by the result
  return std::unique_ptr<report::TppReport>(card);
}

report::TppLabel& CardLabel(report::TppReport& card, int n) {
  report::TppBand* detail = card.GetBand(report::btDetail);
  auto* label = detail != nullptr && n >= 1 && n <= detail->ObjectCount()
                    ? dynamic_cast<report::TppLabel*>(detail->Objects(n - 1))
                    : nullptr;
  if (label == nullptr) throw std::logic_error("the card has no label " + std::to_string(n));
  return *label;
}

void PlaceLabels(report::TppReport& card, const double (&left)[kCardLines], const double (&top)[kCardLines]) {
  for (int n = 1; n <= kCardLines; ++n) CardLabel(card, n).SetLeft(static_cast<float>(left[n - 1]));
  for (int n = 1; n <= kCardLines; ++n) CardLabel(card, n).SetTop(static_cast<float>(top[n - 1]));
}

void FillLabels(report::TppReport& card, const std::vector<std::string>& lines) {
  for (int n = 1; n <= kCardLines; ++n) {
    const size_t index = static_cast<size_t>(n) - 1;
    if (index >= lines.size()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    // Text, not Caption: the caption and the label's stored size stay as they are.
    CardLabel(card, n).SetText(lines[index]);
  }
}

}  // namespace parvel::agent
