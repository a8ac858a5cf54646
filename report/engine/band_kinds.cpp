#include "report/engine/band_kinds.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace parvel::report {

uint16_t KindBit(const TppBand& band) {
  switch (band.BandType()) {
    case btHeader:
    case btPageStyle:
      return kPageHeaderBit;
    case btTitle:
      return kTitleBit;
    case btColumnHeader:
      return kColumnHeaderBit;
    case btGroupHeader:
      return kGroupHeaderBit;
    case btDetail:
      return kDetailBit;
    case btGroupFooter:
      return kGroupFooterBit;
    case btColumnFooter:
      return kColumnFooterBit;
    case btSummary:
      return kSummaryBit;
    case btFooter:
      return kPageFooterBit;
  }
  return 0;
}

std::string SortKey(const TppBand& band, bool generating) {
  if (band.BandType() == btPageStyle) return RankField(generating ? 0 : 10);
  return band.Rank();
}

TppPrintTimes PrintTimes(const TppBand& band) {
  const auto* detail = dynamic_cast<const TppDetailBand*>(&band);
  if (detail == nullptr) return ptOnce;
  return detail->PrintCount() != 0 ? ptCounted : ptUnlimited;
}

int BandListOf(const TppBand& band) {
  const uint16_t bit = KindBit(band);
  if ((bit & kTitleBit) != 0) return blTitle;
  if ((bit & kGroupHeaderBit) != 0) return blGroupHeader;
  if ((bit & kPageHeaderBit) != 0 && band.BandType() == btPageStyle) return blPageStyle;
  if ((bit & kPageHeaderBit) != 0 && dynamic_cast<const TppPageBand*>(&band) != nullptr) return blPageHeader;
  if ((bit & kColumnHeaderBit) != 0) return blColumnHeader;
  if ((bit & kDetailBit) != 0) return blDetail;
  if ((bit & kGroupFooterBit) != 0) return blGroupFooter;
  if ((bit & kColumnFooterBit) != 0) return blColumnFooter;
  if ((bit & kPageFooterBit) != 0) return blPageFooter;
  if ((bit & kSummaryBit) != 0) return blSummary;
  return -1;
}

TppFitResult FitBand(const TppFitInput& in) {
  TppFitResult result;
  int32_t start = in.starting_position;
  result.position_break = in.position_break;
  if (in.print_position != 0) {
    if (in.print_position >= in.page_bottom) {
      result.outcome = TppFitOutcome::PositionBelowPage;
      return result;
    }
    if (in.print_position >= start && (in.dynamic || in.print_position + in.height <= in.page_bottom)) {
      start = in.print_position;
      result.position_break = false;
    } else if (in.position_break) {
      result.position_break = false;
    } else {
      result.outcome = TppFitOutcome::OutOfSpace;
      result.position_break = true;
      return result;
    }
  }
  const int32_t needed = in.dynamic ? 0 : in.height;
  if (start + needed > in.page_bottom) {
    result.outcome = TppFitOutcome::OutOfSpace;
    return result;
  }
  result.top = start;
  result.bottom = in.dynamic ? in.page_bottom : start + in.height;
  return result;
}

bool PageStyleShows(const TppPageStyle& style, int32_t page, bool firstPassComplete, int32_t pageCount) {
  switch (style.PageSetting()) {
    case psAll:
      return style.Visible();
    case psPageList:
      for (const std::string& entry : style.PageList()) {
        if (std::strtol(entry.c_str(), nullptr, 10) == page) return true;
      }
      return false;
    case psSinglePage:
      return page == style.SinglePage();
    case psFirstPage:
      return page == 1;
    case psLastPage:
      return firstPassComplete && page == pageCount;
    case psPageRange:
      return page >= style.StartPage() && (style.EndPage() <= 0 || page <= style.EndPage());
  }
  return style.Visible();
}

TppColumnLeft ColumnLeft(const std::vector<std::string>& positions, TppUnitType units, int32_t marginLeft,
                         int32_t columnWidth, int32_t index) {
  TppColumnLeft result;
  if (positions.empty()) {
    const int64_t left = static_cast<int64_t>(marginLeft) + static_cast<int64_t>(index) * columnWidth;
    result.left = static_cast<int32_t>(
        std::clamp<int64_t>(left, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    return result;
  }
  if (index < 0 || static_cast<size_t>(index) >= positions.size()) {
    result.outcome = TppColumnLeftOutcome::Missing;
    return result;
  }
  const std::string& text = positions[static_cast<size_t>(index)];
  const size_t first = text.find_first_not_of(' ');
  const size_t last = text.find_last_not_of(' ');
  double value = 0;
  bool number = false;
  if (first != std::string::npos) {
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::fixed);
    number = error == std::errc() && stop == end && std::isfinite(value);
  }
  if (!number) {
    result.outcome = TppColumnLeftOutcome::NotANumber;
    return result;
  }
  result.left = UnitsToMMThousandths(static_cast<float>(value), units, dirHorizontal);
  return result;
}

bool ColumnFits(int32_t left, int32_t columnWidth, int32_t paperWidth, int32_t marginRight) {
  const int64_t right = static_cast<int64_t>(left) + columnWidth;
  return left >= 0 && columnWidth >= 0 && right <= static_cast<int64_t>(paperWidth) - marginRight;
}

}  // namespace parvel::report
