#include "report/output/page_request.h"

#include <algorithm>

#include "report/output/page.h"

namespace parvel::report {

void TppPageRequest::Reset() {
  page_list_.clear();
  page_range_ = prAll;
  page_requested_ = 1;
  page_setting_ = psAll;
}

bool TppPageRequest::Listed(int32_t page) const {
  return std::find(page_list_.begin(), page_list_.end(), std::to_string(page)) != page_list_.end();
}

bool TppPageRequest::Wants(const TppPage& page) {
  bool wanted = false;
  switch (page_setting_) {
    case psAll:
      wanted = true;
      break;
    case psPageList:
      wanted = Listed(page.AbsolutePageNo());
      break;
    case psSinglePage:
      if (page.LastPage() && page.AbsolutePageCount() < page_requested_) {
        page_requested_ = page.AbsolutePageCount();
      } else if (page_requested_ < 1 && page.AbsolutePageNo() == 1) {
        page_requested_ = 1;
      }
      wanted = page.AbsolutePageNo() == page_requested_;
      break;
    case psFirstPage:
      wanted = page.FirstPage();
      break;
    case psLastPage:
      wanted = page.LastPage();
      break;
    case psPageRange:
      wanted = false;
      break;
  }
  const bool odd = (page.AbsolutePageNo() % 2) != 0;
  if (page_range_ == prOddPages) wanted = wanted && odd;
  if (page_range_ == prEvenPages) wanted = wanted && !odd;
  return wanted;
}

bool TppPageRequest::IsSatisfiedBy(const TppPage& page) {
  switch (page_setting_) {
    case psAll:
    case psLastPage:
      return page.LastPage();
    case psPageList: {
      // Every copy of the number goes: a list naming a page twice would otherwise never empty.
      const std::string number = std::to_string(page.AbsolutePageNo());
      std::erase(page_list_, number);
      return page_list_.empty();
    }
    case psSinglePage:
      return page.AbsolutePageNo() == page_requested_;
    case psFirstPage:
      return page.FirstPage();
    case psPageRange:
      return false;
  }
  return false;
}

void TppPageRequest::Merge(const TppPageRequest& other) {
  if (other.page_setting_ != psSinglePage && other.page_setting_ != psFirstPage) {
    page_setting_ = psAll;
    return;
  }
  if ((page_setting_ == psSinglePage && page_requested_ != other.page_requested_) ||
      (page_setting_ == psFirstPage && other.page_requested_ != 1)) {
    page_setting_ = psPageList;
    page_list_ = {std::to_string(page_requested_), std::to_string(other.page_requested_)};
  } else if (page_setting_ == psPageList) {
    if (!Listed(other.page_requested_)) page_list_.push_back(std::to_string(other.page_requested_));
  }
}

}  // namespace parvel::report
