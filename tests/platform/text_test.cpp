#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>

namespace parvel::text {
namespace {

TEST(TextTest, OnlyAWholeDecimalNumberReadsAsANumber) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"12", 12},
      {"-3", -3},
      {"0", 0},
      {"12abc", -1},
      {"abc", -1},
      {"", -1},
      {" 12", -1},
      {"12 ", -1},
      {"1.5", -1},
      {"+4", -1},
      {"2147483647", INT_MAX},
      {"2147483648", -1},
      {"0x10", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ToInt(c.text, -1), c.expected) << '"' << c.text << '"';
  EXPECT_EQ(ToInt("nope"), 0);
}

TEST(TextTest, CaseRulesTouchOnlyAsciiLettersInEveryLocale) {
  for (const char* locale : {"C", "pt_BR.UTF-8"}) {
    std::setlocale(LC_ALL, locale);
    EXPECT_EQ(Lower("CR80 Card_A4.Fullbleed"), "cr80 card_a4.fullbleed") << locale;
    EXPECT_EQ(Lower("IMPRESSÃO"), "impressÃo") << locale;
    EXPECT_TRUE(SameText("Card Hopper", "card hopper")) << locale;
    EXPECT_FALSE(SameText("Card", "Cards")) << locale;
    EXPECT_FALSE(SameText("\xc3\x83", "\xc3\xa3")) << locale;  // Ã and ã are different bytes
  }
  std::setlocale(LC_ALL, "C");
}

TEST(TextTest, IndexOfFindsTheFirstNameWithoutRegardToCase) {
  const std::vector<std::string> bins = {"Default", "Card Hopper", "card hopper"};
  EXPECT_EQ(IndexOf(bins, "CARD HOPPER"), 1);
  EXPECT_EQ(IndexOf(bins, "default"), 0);
  EXPECT_EQ(IndexOf(bins, "Manual"), -1);
  EXPECT_EQ(IndexOf({}, ""), -1);
}

}  // namespace
}  // namespace parvel::text
