#pragma once
// The card report: one CR80 card in landscape whose detail band holds eight labels, moved to
// the configured positions and filled with the card's lines before each print.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/model/report.h"
#include "report/model/text.h"

namespace parvel::agent {

inline constexpr int kCardLines = 8;

// A list read past its end: "List index out of bounds (<index>)".
class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// A new card report `rParvel` with its layout and printer setup (printer "Default").
std::unique_ptr<report::TppReport> CreateCardReport();

// Label n (1..8) of the card: ppLabel1..ppLabel8.
report::TppLabel& CardLabel(report::TppReport& card, int n);

// Left of labels 1..8, then Top of labels 1..8, in millimetres (the report's units), each
// narrowed to single precision on the way.
void PlaceLabels(report::TppReport& card, const double (&left)[kCardLines], const double (&top)[kCardLines]);

// The printed text of label n becomes line n; throws EListError at the first missing line,
// with the labels before it already filled.
void FillLabels(report::TppReport& card, const std::vector<std::string>& lines);

}  // namespace parvel::agent
