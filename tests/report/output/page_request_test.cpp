#include "report/output/page_request.h"

#include <gtest/gtest.h>

#include "report/output/page.h"

namespace parvel::report {
namespace {

struct PageInfo {
  int no;
  int count;
  bool first;
  bool last;
};

std::unique_ptr<TppPage> MakePage(PageInfo info) {
  auto page = std::make_unique<TppPage>();
  page->SetAbsolutePageNo(info.no);
  page->SetAbsolutePageCount(info.count);
  page->SetFirstPage(info.first);
  page->SetLastPage(info.last);
  return page;
}

TEST(PageRequestTest, StartsAsAllPagesAndResetsThere) {
  TppPageRequest request;
  EXPECT_EQ(request.PageSetting(), psAll);
  EXPECT_EQ(request.PageRange(), prAll);
  EXPECT_EQ(request.PageRequested(), 1);
  request.SetPageSetting(psPageList);
  request.SetPageList({"2"});
  request.SetPageRange(prEvenPages);
  request.SetPageRequested(4);
  TppPageRequest copy;
  copy.Assign(request);
  EXPECT_EQ(copy.PageList(), std::vector<std::string>{"2"});
  EXPECT_EQ(copy.PageRange(), prEvenPages);
  EXPECT_EQ(copy.PageRequested(), 4);
  request.Reset();
  EXPECT_TRUE(request.PageList().empty());
  EXPECT_EQ(request.PageSetting(), psAll);
  EXPECT_EQ(request.PageRange(), prAll);
  EXPECT_EQ(request.PageRequested(), 1);
  EXPECT_EQ(copy.PageSetting(), psPageList);
}

TEST(PageRequestTest, WantsBySetting) {
  struct Case {
    TppPageSettingType setting;
    TppPageRangeType range;
    PageInfo page;
    bool wanted;
  };
  const Case cases[] = {
      {psAll, prAll, {3, 7, false, false}, true},         {psAll, prOddPages, {3, 7, false, false}, true},
      {psAll, prEvenPages, {3, 7, false, false}, false},  {psFirstPage, prAll, {1, 7, true, false}, true},
      {psFirstPage, prAll, {2, 7, false, false}, false},  {psLastPage, prAll, {7, 7, false, true}, true},
      {psLastPage, prAll, {6, 7, false, false}, false},   {psPageRange, prAll, {1, 7, true, false}, false},
      {psSinglePage, prAll, {3, 7, false, false}, false},  // page 1 requested
  };
  for (const Case& c : cases) {
    TppPageRequest request;
    request.SetPageSetting(c.setting);
    request.SetPageRange(c.range);
    EXPECT_EQ(request.Wants(*MakePage(c.page)), c.wanted)
        << "setting " << int(c.setting) << " page " << c.page.no;
  }
}

TEST(PageRequestTest, SinglePageIsClampedToTheReport) {
  TppPageRequest beyond;
  beyond.SetPageSetting(psSinglePage);
  beyond.SetPageRequested(9);
  EXPECT_FALSE(beyond.Wants(*MakePage({6, 7, false, false})));
  EXPECT_EQ(beyond.PageRequested(), 9);
  EXPECT_TRUE(beyond.Wants(*MakePage({7, 7, false, true})));
  EXPECT_EQ(beyond.PageRequested(), 7);

  TppPageRequest before;
  before.SetPageSetting(psSinglePage);
  before.SetPageRequested(0);
  EXPECT_TRUE(before.Wants(*MakePage({1, 7, true, false})));
  EXPECT_EQ(before.PageRequested(), 1);
}

TEST(PageRequestTest, PageListWithRangeAndShrinking) {
  TppPageRequest request;
  request.SetPageSetting(psPageList);
  request.SetPageList({"2", "5"});
  request.SetPageRange(prOddPages);
  EXPECT_TRUE(request.Wants(*MakePage({5, 7, false, false})));
  EXPECT_FALSE(request.Wants(*MakePage({2, 7, false, false})));
  EXPECT_FALSE(request.Wants(*MakePage({3, 7, false, false})));

  EXPECT_FALSE(request.IsSatisfiedBy(*MakePage({2, 7, false, false})));
  EXPECT_EQ(request.PageList(), std::vector<std::string>{"5"});
  EXPECT_FALSE(request.IsSatisfiedBy(*MakePage({3, 7, false, false})));
  EXPECT_TRUE(request.IsSatisfiedBy(*MakePage({5, 7, false, false})));
  EXPECT_TRUE(request.PageList().empty());
}

TEST(PageRequestTest, PageListNamingAPageTwiceStillEmpties) {
  TppPageRequest request;
  request.SetPageSetting(psPageList);
  request.SetPageList({"2", "2"});
  EXPECT_TRUE(request.IsSatisfiedBy(*MakePage({2, 7, false, false})));
}

TEST(PageRequestTest, IsSatisfiedBySetting) {
  struct Case {
    TppPageSettingType setting;
    PageInfo page;
    bool satisfied;
  };
  const Case cases[] = {
      {psAll, {3, 7, false, false}, false},        {psAll, {7, 7, false, true}, true},
      {psLastPage, {7, 7, false, true}, true},     {psFirstPage, {1, 7, true, false}, true},
      {psFirstPage, {2, 7, false, false}, false},  {psSinglePage, {2, 7, false, false}, true},
      {psSinglePage, {3, 7, false, false}, false}, {psPageRange, {7, 7, false, true}, false},
  };
  for (const Case& c : cases) {
    TppPageRequest request;
    request.SetPageSetting(c.setting);
    request.SetPageRequested(2);
    EXPECT_EQ(request.IsSatisfiedBy(*MakePage(c.page)), c.satisfied)
        << int(c.setting) << " page " << c.page.no;
  }
}

TEST(PageRequestTest, MergeWidensTheRequest) {
  auto single = [](int page) {
    TppPageRequest r;
    r.SetPageSetting(psSinglePage);
    r.SetPageRequested(page);
    return r;
  };
  TppPageRequest merged = single(3);
  merged.Merge(single(4));
  EXPECT_EQ(merged.PageSetting(), psPageList);
  EXPECT_EQ(merged.PageList(), (std::vector<std::string>{"3", "4"}));
  merged.Merge(single(4));
  merged.Merge(single(6));
  EXPECT_EQ(merged.PageList(), (std::vector<std::string>{"3", "4", "6"}));

  TppPageRequest same = single(3);
  same.Merge(single(3));
  EXPECT_EQ(same.PageSetting(), psSinglePage);

  TppPageRequest first;
  first.SetPageSetting(psFirstPage);
  first.Merge(single(5));
  EXPECT_EQ(first.PageSetting(), psPageList);
  EXPECT_EQ(first.PageList(), (std::vector<std::string>{"1", "5"}));

  TppPageRequest all_pages;
  merged.Merge(all_pages);
  EXPECT_EQ(merged.PageSetting(), psAll);
  TppPageRequest last;
  last.SetPageSetting(psLastPage);
  TppPageRequest widened = single(2);
  widened.Merge(last);
  EXPECT_EQ(widened.PageSetting(), psAll);
}

}  // namespace
}  // namespace parvel::report
