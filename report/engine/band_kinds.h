#pragma once
// What each band kind answers the engine (kind bit, sort key, how often it prints, its list)
// and the small pure rules of placing a band on the page: the fit test and the print
// position rule. The engine's loop is a driver of these.
#include <cstdint>
#include <string>
#include <vector>

#include "report/base/units.h"
#include "report/model/band.h"

namespace parvel::report {

// Kind bits, shared by the engine's print condition.
inline constexpr uint16_t kTitleBit = 1;
inline constexpr uint16_t kSummaryBit = 2;
inline constexpr uint16_t kPageHeaderBit = 4;
inline constexpr uint16_t kPageFooterBit = 8;
inline constexpr uint16_t kColumnHeaderBit = 16;
inline constexpr uint16_t kColumnFooterBit = 32;
inline constexpr uint16_t kGroupHeaderBit = 64;
inline constexpr uint16_t kGroupFooterBit = 128;
inline constexpr uint16_t kDetailBit = 256;

enum TppPrintTimes : uint8_t { ptOnce = 1, ptUnlimited = 2, ptCounted = 3 };

// The engine's band lists, in the order they come up on a page.
enum TppBandList : int {
  blPageStyle = 0,
  blPageHeader = 1,
  blTitle = 2,
  blColumnHeader = 3,
  blGroupHeader = 4,
  blDetail = 5,
  blGroupFooter = 6,
  blSummary = 7,
  blColumnFooter = 8,
  blPageFooter = 9,
  kBandListCount = 10,
};

uint16_t KindBit(const TppBand& band);
// The list sort key; the page style sorts first while the report generates.
std::string SortKey(const TppBand& band, bool generating);
TppPrintTimes PrintTimes(const TppBand& band);
// The list a band goes to, or -1 for a band no list takes.
int BandListOf(const TppBand& band);

// Where a band may go on the page, in thousandths from the paper's top edge.
struct TppFitInput {
  int32_t starting_position = 0;  // the top of the free space
  int32_t page_bottom = 0;        // the band's own: the engine's less BottomOffset
  int32_t height = 0;
  bool dynamic = false;
  int32_t print_position = 0;  // 0: none
  bool position_break = false;
};

enum class TppFitOutcome { Fits, OutOfSpace, PositionBelowPage };

struct TppFitResult {
  TppFitOutcome outcome = TppFitOutcome::Fits;
  int32_t top = 0;
  int32_t bottom = 0;
  bool position_break = false;
};

// The PrintPosition rule, then the fit test: a static band needs its Height, a dynamic one
// nothing; reaching the page bottom exactly still fits. A dynamic band reaches down to the
// page bottom.
TppFitResult FitBand(const TppFitInput& input);

// Whether a page style shows on `page` for its setting. A page range shows from StartPage to
// EndPage; an EndPage of 0 leaves the range open at its end.
bool PageStyleShows(const TppPageStyle& style, int32_t page, bool firstPassComplete, int32_t pageCount);

// Where a column of a report with columns starts across the page.
enum class TppColumnLeftOutcome { Found, Missing, NotANumber };

struct TppColumnLeft {
  TppColumnLeftOutcome outcome = TppColumnLeftOutcome::Found;
  int32_t left = 0;  // thousandths from the paper's left edge
};

// The left of column `index` (counted from 0): with `positions`, its entry read as a decimal
// number in `units` (blanks around it allowed, a point as the decimal separator, whatever the
// locale); without, the left margin plus `index` column widths.
TppColumnLeft ColumnLeft(const std::vector<std::string>& positions, TppUnitType units, int32_t marginLeft,
                         int32_t columnWidth, int32_t index);

// A column fits when it starts on the paper and ends at the right margin at the latest.
bool ColumnFits(int32_t left, int32_t columnWidth, int32_t paperWidth, int32_t marginRight);

}  // namespace parvel::report
