#pragma once
// A device's wish list of pages, and the publisher's merge of all of them.
#include <cstdint>
#include <string>
#include <vector>

namespace parvel::report {

class TppPage;

enum TppPageSettingType : uint8_t { psAll, psPageList, psSinglePage, psFirstPage, psLastPage, psPageRange };
enum TppPageRangeType : uint8_t { prAll, prOddPages, prEvenPages };

class TppPageRequest {
 public:
  TppPageRequest() = default;
  TppPageRequest(const TppPageRequest&) = default;
  TppPageRequest& operator=(const TppPageRequest&) = default;

  void Assign(const TppPageRequest& source) { *this = source; }

  // Absolute page numbers as decimal text, for psPageList.
  const std::vector<std::string>& PageList() const { return page_list_; }
  void SetPageList(const std::vector<std::string>& pages) { page_list_ = pages; }
  int32_t PageRequested() const { return page_requested_; }
  void SetPageRequested(int32_t page) { page_requested_ = page; }
  TppPageSettingType PageSetting() const { return page_setting_; }
  void SetPageSetting(TppPageSettingType setting) { page_setting_ = setting; }
  TppPageRangeType PageRange() const { return page_range_; }
  void SetPageRange(TppPageRangeType range) { page_range_ = range; }

  void Reset();
  // Whether a device wants `page`. A single-page request beyond the report's end is pulled
  // back to the last page, one before the first to page 1, as the pages pass.
  bool Wants(const TppPage& page);
  // Whether the request is complete once `page` has arrived; a page list loses the page.
  bool IsSatisfiedBy(const TppPage& page);
  // Widens this request so that it also covers `other`.
  void Merge(const TppPageRequest& other);

 private:
  bool Listed(int32_t page) const;

  std::vector<std::string> page_list_;
  int32_t page_requested_ = 1;
  TppPageSettingType page_setting_ = psAll;
  TppPageRangeType page_range_ = prAll;
};

}  // namespace parvel::report
