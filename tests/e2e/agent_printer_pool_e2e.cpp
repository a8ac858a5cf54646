// A station that outgrew one printer: IMPRESSORA names a CUPS class of three card printers, each
// with a driver of its own maker (one names the CR80 card otherwise and has a smaller card as its
// default). CUPS gives each job to one of them; every card prints once, on the card paper of the
// member that takes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/agent_run.h"
#include "tests/e2e/agent_test.h"
#include "tests/e2e/printed_cards.h"
#include "tests/support/cups_faults.h"

namespace parvel::e2e {
namespace {

using doubles::CupsEnvironment;
using doubles::PdfPage;

constexpr char kPool[] = "pool";
constexpr int kCards = 30;
const std::vector<std::pair<std::string, std::string>> kMembers = {
    {"pool_cr80", "card_cr80.ppd"}, {"pool_600x300", "card_600x300.ppd"}, {"pool_id1", "card_id1.ppd"}};

class PrinterPool : public AgentTest {
 protected:
  PrinterPool() : AgentTest(kPool) {}
  static void SetUpTestSuite() {
    doubles::CupsServer& server = CupsEnvironment::Server();
    std::vector<std::string> names;
    for (const auto& [name, ppd] : kMembers) {
      doubles::FaultPlan plan;
      plan.ppd = ppd;
      plan.file_per_job = true;
      doubles::AddFaultQueue(server, name, plan);
      names.push_back(name);
    }
    server.AddClass(kPool, names);
  }
};

// The card, 85.7 x 54 mm, as the agent made it, or on a member's own CR80 page (53.98 x 85.73 mm,
// portrait) where the member's CUPS filter fits each job onto the page size it asks for.
bool CardSized(const PdfPage& page) {
  const double wide = std::max(page.width, page.height) / doubles::kPointsPerMm;
  const double high = std::min(page.width, page.height) / doubles::kPointsPerMm;
  return std::abs(wide - 85.7) < 0.5 && std::abs(high - 54.0) < 0.5;
}

TEST_F(PrinterPool, EachCardPrintsOnceOnTheCardPaperOfTheMemberThatTakesIt) {
  for (int n = 0; n < kCards; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "card%02d.car", n);
    DropCard(agent.Spool() / name, CardText(CardLines("C" + std::to_string(n) + "L")));
  }
  Start();
  ASSERT_TRUE(WaitUntil([&] { return fs::is_empty(agent.Spool()); })) << agent.Errors();
  const std::vector<int> jobs = Jobs(kPool);
  ASSERT_EQ(jobs.size(), static_cast<size_t>(kCards)) << agent.Errors();

  // Every job completed, on a member, which wrote it as a file of its own.
  std::map<int, std::string> printed_by;
  doubles::CupsServer& server = CupsEnvironment::Server();
  for (const int id : jobs) {
    EXPECT_EQ(server.WaitForJob(id).state, 9) << "job " << id;
    for (const auto& [member, ppd] : kMembers) {
      const fs::path output = server.OutputOf(member).string() + "." + std::to_string(id);
      if (!fs::exists(output)) continue;
      EXPECT_EQ(printed_by.count(id), 0U) << "job " << id << " printed twice";
      printed_by[id] = member;
      const std::vector<PdfPage> pages = doubles::ReadPdf(output);
      ASSERT_EQ(pages.size(), 1U) << output;
      EXPECT_TRUE(CardSized(pages[0]))
          << member << ": " << pages[0].width << " x " << pages[0].height << " pt";
    }
  }
  EXPECT_EQ(printed_by.size(), static_cast<size_t>(kCards));

  // Each card's eight lines, once in all, and every member took its share.
  std::multiset<std::string> lines;
  std::set<std::string> members;
  for (const auto& [id, member] : printed_by) {
    members.insert(member);
    const std::vector<PdfPage> pages =
        doubles::ReadPdf(server.OutputOf(member).string() + "." + std::to_string(id));
    for (const std::string& word : SortedWords(pages.at(0))) lines.insert(word);
  }
  for (int n = 0; n < kCards; ++n) {
    for (const std::string& line : CardLines("C" + std::to_string(n) + "L")) {
      EXPECT_EQ(lines.count(line), 1U) << line;
    }
  }
  EXPECT_EQ(members.size(), kMembers.size());
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

}  // namespace
}  // namespace parvel::e2e
