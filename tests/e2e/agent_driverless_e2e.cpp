// Driverless printers: an IPP Everywhere card printer (ippeveprinter advertising one CR80 card
// medium and PDF) reached through a CUPS queue made for it with "lpadmin -m everywhere", and
// reached straight by its ipp:// URI with no queue for it anywhere. Either way every card file
// becomes one job and one document on the printer, the size of the card, with all eight lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/agent_run.h"
#include "tests/e2e/agent_test.h"
#include "tests/support/cups_server.h"
#include "tests/support/ipp_everywhere.h"

namespace parvel::e2e {
namespace {

using doubles::CupsServer;
using doubles::IppEverywherePrinter;
using doubles::JobRecord;
using doubles::PdfPage;

constexpr char kQueue[] = "driverless";
constexpr double kToleranceMm = 0.5;

struct Card {
  std::string file;
  std::vector<std::string> lines;
};

std::vector<Card> ThreeCards(const std::string& prefix) {
  return {{"a.car", CardLines(prefix + "ANA")},
          {"b.car", CardLines(prefix + "BETO")},
          {"c.car", CardLines(prefix + "CAIO")}};
}

double Mm(double points) { return points / doubles::kPointsPerMm; }

bool Near(double mm, double expected) { return std::abs(mm - expected) <= kToleranceMm; }

// The card the agent lays out (85.7 x 54.0 mm) or the printer's own (53.98 x 85.6 mm), either way
// round.
bool CardSized(const PdfPage& page) {
  const double width = Mm(page.width), height = Mm(page.height);
  const double longer = std::max(width, height), shorter = std::min(width, height);
  return (Near(longer, 85.7) && Near(shorter, 54.0)) || (Near(longer, 85.6) && Near(shorter, 53.98));
}

bool Shows(const PdfPage& page, const Card& card) {
  return std::all_of(card.lines.begin(), card.lines.end(),
                     [&](const std::string& line) { return page.Find(line) != nullptr; });
}

std::string Value(const JobRecord& job, const std::string& name) {
  const auto found = job.attributes.find(name);
  return found == job.attributes.end() ? std::string() : found->second;
}

std::string Describe(const PdfPage& page) {
  std::ostringstream text;
  text << Mm(page.width) << " x " << Mm(page.height) << " mm:";
  for (const doubles::PdfWord& word : page.words) text << " " << word.text;
  return text.str();
}

class Driverless : public AgentTest {
 protected:
  Driverless() : AgentTest(kQueue) {}

  void Drop(const std::vector<Card>& cards) const {
    for (const Card& card : cards) DropCard(agent.Spool() / card.file, CardText(card.lines));
  }
  // Waits until every card file is gone, or the agent reports something (which these tests
  // never expect); answers whether they are gone.
  bool AllGone(const std::vector<Card>& cards) const {
    const auto gone = [&] {
      return std::none_of(cards.begin(), cards.end(),
                          [&](const Card& card) { return fs::exists(agent.Spool() / card.file); });
    };
    WaitUntil([&] { return gone() || !agent.ErrorLines().empty(); });
    return WaitUntil(gone, kQuietWindow);
  }

  // The printer holds one document per card, each one card-sized page showing all eight lines
  // of exactly one card, and each card is on one of them.
  void ExpectOneDocumentPerCard(const std::vector<Card>& cards) const {
    ASSERT_TRUE(printer.WaitForDocuments(cards.size()))
        << printer.Documents().size() << " document(s); the printer says: " << printer.Log();
    const std::vector<fs::path> documents = printer.Documents();
    EXPECT_EQ(documents.size(), cards.size()) << printer.Log();
    std::vector<PdfPage> pages;
    for (const fs::path& document : documents) {
      const std::vector<PdfPage> read = doubles::ReadPdf(document);
      ASSERT_EQ(read.size(), 1u) << document;
      EXPECT_TRUE(CardSized(read.front())) << document << ": " << Describe(read.front());
      pages.push_back(read.front());
    }
    for (const Card& card : cards) {
      const auto showing =
          std::count_if(pages.begin(), pages.end(), [&](const PdfPage& page) { return Shows(page, card); });
      std::string all;
      for (const PdfPage& page : pages) all += "\n  " + Describe(page);
      EXPECT_EQ(showing, 1) << card.file << " (" << card.lines.front() << " ...) on:" << all;
    }
  }

  // What a job asked the printer for, for the failure messages.
  std::string Asked(int job_id) const {
    std::string text;
    for (const auto& [name, value] : printer.JobAttributes(job_id)) {
      if (name.starts_with("media") || name.starts_with("orientation") || name.starts_with("print-scaling") ||
          name.starts_with("document-format")) {
        if (!name.ends_with("-default")) text.append("\n  ").append(name).append("=").append(value);
      }
    }
    return text;
  }

  // A job that names a medium asks for the card.
  void ExpectAskedForTheCard() const {
    for (const fs::path& document : printer.Documents()) {
      const int id = IppEverywherePrinter::JobIdOf(document);
      const std::map<std::string, std::string> attributes = printer.JobAttributes(id);
      const auto media = attributes.find("media");
      if (media != attributes.end()) {
        EXPECT_EQ(media->second, IppEverywherePrinter::kCardMedia) << "job " << id << Asked(id);
      }
      const auto media_col = attributes.find("media-col");
      if (media_col != attributes.end()) {
        EXPECT_NE(media_col->second.find("x-dimension=" + std::to_string(IppEverywherePrinter::kCardWidth) +
                                         " y-dimension=" + std::to_string(IppEverywherePrinter::kCardLength)),
                  std::string::npos)
            << "job " << id << Asked(id);
      }
    }
  }

  CupsServer server;  // the station's CUPS; the agent finds it through CUPS_SERVER
  IppEverywherePrinter printer;
};

TEST_F(Driverless, ThroughAnEverywhereQueueEachCardPrintsOnceOnACardSizedPage) {
  printer.AddEverywhereQueue(server, kQueue);
  const std::vector<Card> cards = ThreeCards("Q");
  Drop(cards);
  Start();
  ASSERT_TRUE(AllGone(cards)) << agent.Errors() << "\nthe printer says: " << printer.Log();

  const std::vector<int> ids = CupsServer::JobIds(kQueue);
  EXPECT_EQ(ids.size(), cards.size());
  for (const int id : ids) {
    const JobRecord job = server.WaitForJob(id);
    EXPECT_EQ(job.state, 9) << "job " << id << ": " << Value(job, "job-state-reasons") << " "
                            << Value(job, "job-printer-state-message");
  }
  ExpectOneDocumentPerCard(cards);
  ExpectAskedForTheCard();
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
}

TEST_F(Driverless, StraightToTheUriEachCardPrintsOnceOnACardSizedPage) {
  ini.Set("IMPRESSORA", printer.Uri());
  const std::vector<Card> cards = ThreeCards("U");
  Drop(cards);
  Start();
  ASSERT_TRUE(AllGone(cards)) << agent.Errors() << "\nthe printer says: " << printer.Log();

  ExpectOneDocumentPerCard(cards);
  const std::vector<JobRecord> jobs = printer.Jobs();
  EXPECT_EQ(jobs.size(), cards.size());
  for (const JobRecord& job : jobs) {
    EXPECT_EQ(job.state, 9) << "job " << Value(job, "job-id") << ": " << Value(job, "job-state-reasons");
  }
  ExpectAskedForTheCard();
  EXPECT_TRUE(agent.ErrorLines().empty()) << agent.Errors();
  // No queue was made for the printer on the station's CUPS.
  std::string queues;
  CupsServer::Run({"lpstat", "-v"}, &queues);
  EXPECT_EQ(queues.find(printer.Uri()), std::string::npos) << queues;
}

}  // namespace
}  // namespace parvel::e2e
