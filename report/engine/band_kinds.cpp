#include "report/engine/band_kinds.h"

#include <cstdlib>

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

}  // namespace parvel::report
