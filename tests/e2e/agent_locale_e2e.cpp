// The agent program where the locale matters, run once in the C locale and once in pt_BR.UTF-8:
// the order in which cards print, where the labels land on the printed card, which decimal
// separator the INI file may use, and card text in UTF-8 and in Windows-1252.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/agent_run.h"
#include "tests/e2e/agent_test.h"
#include "tests/e2e/printed_cards.h"

namespace parvel::e2e {
namespace {

using doubles::kPointsPerMm;
using doubles::PdfPage;
using doubles::PdfWord;

constexpr char kQueue[] = "cards";
constexpr double kTolerance = 0.3 * kPointsPerMm;

double Points(double mm) { return mm * kPointsPerMm; }

class AgentPrinting : public AgentTest {
 protected:
  AgentPrinting() : AgentTest(kQueue) {}
  static void SetUpTestSuite() { EnsureCardQueue(kQueue); }

  // Waits for the one job the agent prints next and reads the card the queue wrote for it.
  std::optional<PdfPage> NextCard() {
    const std::optional<std::vector<int>> jobs = WaitForJobs(kQueue, jobs_before + 1);
    if (!jobs) {
      ADD_FAILURE() << "no job; the agent said: " << agent.Errors();
      return std::nullopt;
    }
    std::vector<PdfPage> pages = PrintedCard(kQueue, jobs->back());
    EXPECT_EQ(pages.size(), 1u);
    if (pages.empty()) return std::nullopt;
    return pages.front();
  }
  std::string Refusal(const std::string& value) const {
    return "parvel: '" + value + "' is not a valid floating point value.";
  }

  const size_t jobs_before = Jobs(kQueue).size();
};

TEST_F(AgentPrinting, CardsPrintOnePerJobInTheLocalesOrderWithoutRegardToCase) {
  struct Card {
    std::string name;
    std::string prefix;
  };
  const std::vector<Card> dropped = {
      {"B.car", "BRAVO"}, {"a.car", "ALFA"}, {"C.CAR", "CHARLIE"}, {"X.Car", "XRAY"}};
  for (const Card& card : dropped) DropCard(agent.Spool() / card.name, CardText(CardLines(card.prefix)));
  DropCard(agent.Spool() / "x.car.txt", CardText(CardLines("TEXT")));
  Start();

  const std::optional<std::vector<int>> jobs = WaitForJobs(kQueue, jobs_before + 4);
  ASSERT_TRUE(jobs) << agent.Errors();
  ASSERT_TRUE(WaitUntil([&] { return !fs::exists(agent.Spool() / "X.Car"); }));
  const std::vector<int> printed(jobs->begin() + static_cast<long>(jobs_before), jobs->end());
  const std::array<std::string, 4> order = {"ALFA", "BRAVO", "CHARLIE", "XRAY"};
  ASSERT_EQ(printed.size(), order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const std::vector<PdfPage> pages = SentDocument(printed[i]);
    ASSERT_EQ(pages.size(), 1u) << "job " << printed[i];
    EXPECT_EQ(SortedWords(pages[0]), Sorted(CardLines(order[i]))) << "job " << printed[i];
  }
  for (const Card& card : dropped) EXPECT_FALSE(fs::exists(agent.Spool() / card.name)) << card.name;
  EXPECT_TRUE(fs::exists(agent.Spool() / "x.car.txt"));
  EXPECT_EQ(Jobs(kQueue).size(), jobs_before + 4);
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

TEST_F(AgentPrinting, LabelsLandOnThePrintedCardWhereTheIniPutsThem) {
  struct Place {
    double left, top;
  };
  // Labels 1 to 3 begin at their LEFT; labels 4 to 8 are right-justified in a box 11.906 mm wide.
  const std::array<Place, 8> places = {
      {{50, 2}, {5, 8.5}, {30.25, 15}, {50, 21}, {60, 27.5}, {20, 33}, {40, 39.75}, {70, 46}}};
  for (size_t n = 1; n <= 8; ++n) {
    ini.Set("LEFT" + std::to_string(n), Decimal(places[n - 1].left));
    ini.Set("TOP" + std::to_string(n), Decimal(places[n - 1].top));
  }
  DropCard(agent.Spool() / "card.car", CardText(CardLines("POS")));
  Start();

  const std::optional<PdfPage> card = NextCard();
  ASSERT_TRUE(card);
  EXPECT_NEAR(card->width, Points(85.7), kTolerance);
  EXPECT_NEAR(card->height, Points(54.0), kTolerance);
  for (size_t n = 1; n <= 8; ++n) {
    SCOPED_TRACE("label " + std::to_string(n));
    const PdfWord* word = card->Find("POS" + std::to_string(n));
    ASSERT_NE(word, nullptr) << Words(*card);
    const Place& place = places[n - 1];
    if (n <= 3) {
      EXPECT_NEAR(word->x_min, Points(place.left), kTolerance);
    } else {
      EXPECT_NEAR(word->x_max, Points(place.left + 11.906), kTolerance);
    }
    EXPECT_NEAR(word->y_min, Points(place.top), kTolerance);
  }
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists(agent.Spool() / "card.car"); }));
}

// A position written with a decimal separator: taken when it is the locale's, else refused.
struct DecimalCase {
  const char* name;
  const char* text;
  char separator;
  // Names the case in test listings.
  friend void PrintTo(const DecimalCase& c, std::ostream* out) { *out << c.name; }
};

class DecimalSeparators : public AgentPrinting, public ::testing::WithParamInterface<DecimalCase> {};

TEST_P(DecimalSeparators, OnlyTheLocalesSeparatorIsTaken) {
  const DecimalCase& param = GetParam();
  ini.Set("TOP1", param.text);
  DropCard(agent.Spool() / "card.car", CardText(CardLines("SEP")));
  Start();

  if (param.separator == AgentDecimalSeparator()) {
    const std::optional<PdfPage> card = NextCard();
    ASSERT_TRUE(card);
    const PdfWord* first = card->Find("SEP1");
    ASSERT_NE(first, nullptr) << Words(*card);
    EXPECT_NEAR(first->y_min, Points(8.731), kTolerance);
    EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
  } else {
    // Start-up stops before the timer: nothing is ever polled, and the agent runs on.
    ASSERT_TRUE(agent.WaitForLine(Refusal(param.text))) << agent.Errors();
    EXPECT_FALSE(WaitUntil([&] { return !fs::exists(agent.Spool() / "card.car"); }, kQuietWindow));
    EXPECT_EQ(Jobs(kQueue).size(), jobs_before);
    EXPECT_TRUE(agent.Running());
  }
}

INSTANTIATE_TEST_SUITE_P(Ini, DecimalSeparators,
                         ::testing::Values(DecimalCase{"Point", "8.731", '.'},
                                           DecimalCase{"Comma", "8,731", ','}),
                         [](const auto& info) { return std::string(info.param.name); });

// The same text, "São Paulo", in the two encodings producers write.
struct EncodingCase {
  const char* name;
  const char* line;
  // Names the case in test listings.
  friend void PrintTo(const EncodingCase& c, std::ostream* out) { *out << c.name; }
};

class CardEncodings : public AgentPrinting, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(CardEncodings, PrintTheSameText) {
  std::vector<std::string> lines = CardLines("ENC");
  lines[0] = GetParam().line;
  DropCard(agent.Spool() / "card.car", CardText(lines));
  Start();

  const std::optional<PdfPage> card = NextCard();
  ASSERT_TRUE(card);
  const PdfWord* sao = card->Find("S\xc3\xa3o");
  const PdfWord* paulo = card->Find("Paulo");
  ASSERT_NE(sao, nullptr) << Words(*card);
  ASSERT_NE(paulo, nullptr) << Words(*card);
  EXPECT_NEAR(sao->y_min, paulo->y_min, kTolerance);
  EXPECT_LT(sao->x_max, paulo->x_min);
  EXPECT_NE(card->Find("ENC2"), nullptr) << Words(*card);
}

INSTANTIATE_TEST_SUITE_P(Card, CardEncodings,
                         ::testing::Values(EncodingCase{"Utf8", "S\xc3\xa3o Paulo"},
                                           EncodingCase{"Windows1252", "S\xe3o Paulo"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace parvel::e2e
