// The medium a job asks for. A size is found first in the queue's media database, by the queue's
// own name with its own margins. A CUPS class prints each job on one of its members, so a card
// sent to a class is laid out and sent on the card paper of its members, as on one of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/cups_spooler.h"
#include "platform/linux/qt_drawing_surface.h"
#include "tests/support/cups_server.h"

namespace {

using namespace parvel::platform;
using namespace parvel::platform::linux_os;
using parvel::doubles::CupsEnvironment;
using parvel::doubles::CupsServer;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

struct PaperSpec {
  const char* key;
  PaperArea area;
  const char* variant = "";
};

CupsSpooler::Detail Member(const std::vector<PaperSpec>& papers, const std::vector<const char*>& bins,
                           bool custom_sizes) {
  CupsSpooler::Detail d;
  uint16_t number = 1;
  for (const PaperSpec& p : papers) {
    d.capabilities.papers.push_back(PaperRecord{p.key, p.key, number++, std::nullopt, p.area});
    d.variants.emplace_back(p.variant);
  }
  for (const char* bin : bins) d.capabilities.bins.push_back(BinRecord{bin, bin, number++});
  d.default_paper = 0;
  d.default_bin = 0;
  d.custom_sizes = custom_sizes;
  d.sides = {"one-sided", "two-sided-long-edge"};
  return d;
}

constexpr PaperArea kCard{53975, 85725, 2117, 2117, 2117, 2117};
constexpr PaperArea kA4{210000, 297000, 6350, 12700, 6350, 12700};

// The card as the agent sends it where no listed paper has its size: the size itself.
DeviceSettings CardBySize() {
  DeviceSettings s;
  s.fields = DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize | DeviceSettings::fmPaperWidth |
             DeviceSettings::fmPaperLength;
  s.orientation = 2;
  s.paper_size = DeviceSettings::kCustomPaper;
  s.paper_width = 540;
  s.paper_length = 857;
  return s;
}

TEST(MediumBySize, TheMediaDatabaseComesFirstPlainBeforeBorderlessThenTheDriversPapers) {
  PaperArea edge = kCard;
  edge.left_um = edge.top_um = edge.right_um = edge.bottom_um = 0;
  PaperArea large = kCard;
  large.width_um = 56000;  // 2 mm off: another size
  using Medium = CupsSpooler::Detail::Medium;
  struct Case {
    const char* what;
    std::vector<Medium> media;
    bool custom_sizes;
    std::string media_sent;
    int32_t left_um;
  };
  const std::vector<Case> cases = {
      {"the plain medium", {{"card_borderless", edge, true}, {"card", kCard, false}}, false, "card", 2117},
      {"borderless where it is the only one", {{"card_borderless", edge, true}}, false, "card_borderless", 0},
      {"the driver's page size when the database has none", {{"big", large, false}}, false, "CR80", 2117},
      {"no database at all", {}, true, "CR80", 2117},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CupsSpooler::Detail d = Member({{"A4", kA4}, {"CR80", kCard}}, {}, k.custom_sizes);
    d.media = k.media;
    const CupsSpooler::PaperChoice choice = d.Choose(CardBySize());
    EXPECT_EQ(choice.media, k.media_sent);
    EXPECT_EQ(choice.area.left_um, k.left_um);
    EXPECT_EQ(choice.area.width_um, kCard.width_um);
  }
  // Nothing of the card's size: the size itself where the queue takes one, else its default.
  CupsSpooler::Detail office = Member({{"A4", kA4}}, {}, true);
  EXPECT_EQ(office.Choose(CardBySize()).media, "custom_54x85.7mm");
  office.custom_sizes = false;
  EXPECT_EQ(office.Choose(CardBySize()).media, "");
  EXPECT_EQ(office.Choose(CardBySize()).area.width_um, kA4.width_um);
}

TEST(PrinterPool, MembersAgreeingKeepTheirKeywordAndDisagreeingOnesGetTheSizesName) {
  CupsSpooler::Detail a = Member({{"CR80", kCard}, {"A4", kA4}}, {"hopper", "manual"}, true);
  PaperArea wider = kCard;
  wider.top_um = 5000;
  wider.width_um = 54100;  // within a millimetre: the same card
  CupsSpooler::Detail b = Member({{"CR80", wider}, {"A4", kA4}}, {"hopper"}, false);
  b.sides = {"one-sided"};
  CupsSpooler::Detail c = Member({{"A4", kA4}, {"Card", kCard}}, {"manual", "hopper"}, true);

  struct Case {
    const char* what;
    std::vector<CupsSpooler::Detail> members;
    std::string card_key;
    std::string a4_key;
    std::vector<std::string> disagreements;
  };
  const std::vector<Case> cases = {
      {"same keywords", {a, b}, "CR80", "A4", {}},
      {"another keyword for the card", {a, c}, "custom_53.98x85.73mm_53.98x85.73mm", "A4", {}},
      {"a member without the card",
       {a, Member({{"A4", kA4}}, {"hopper"}, true)},
       "custom_53.98x85.73mm_53.98x85.73mm",
       "A4",
       {R"("CR80" 54.0 x 85.7 mm: not on "m2", which print it on their default paper)"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CupsSpooler::Detail merged = CupsSpooler::MergeMembers(CupsSpooler::Detail{}, {"m1", "m2"}, k.members);
    ASSERT_EQ(merged.capabilities.papers.size(), 2U);
    EXPECT_EQ(merged.capabilities.papers[0].key, k.card_key);
    EXPECT_EQ(merged.capabilities.papers[1].key, k.a4_key);
    EXPECT_EQ(merged.disagreements, k.disagreements);
    EXPECT_EQ(merged.default_paper, 0);
  }

  // The layout fits whichever member prints: the widest margins of all; only what all have.
  CupsSpooler::Detail merged = CupsSpooler::MergeMembers(CupsSpooler::Detail{}, {"a", "b", "c"}, {a, b, c});
  EXPECT_EQ(merged.capabilities.papers[0].area->top_um, 5000);
  EXPECT_EQ(merged.capabilities.papers[0].area->left_um, 2117);
  EXPECT_EQ(merged.capabilities.papers[0].area->width_um, kCard.width_um);
  ASSERT_EQ(merged.capabilities.bins.size(), 1U);
  EXPECT_EQ(merged.capabilities.bins[0].key, "hopper");
  EXPECT_EQ(merged.default_bin, 0);
  EXPECT_EQ(merged.sides, std::vector<std::string>{"one-sided"});
  EXPECT_FALSE(merged.custom_sizes);
}

TEST(PrinterPool, ABorderlessVariantKeepsTheFirstMembersKeyword) {
  PaperArea edge = kCard;
  edge.left_um = edge.top_um = edge.right_um = edge.bottom_um = 0;
  CupsSpooler::Detail a = Member({{"CR80", kCard}, {"CR80.Fullbleed", edge, "borderless"}}, {}, false);
  CupsSpooler::Detail b = Member({{"Card", kCard}, {"Card.Borderless", edge, "borderless"}}, {}, false);
  CupsSpooler::Detail merged = CupsSpooler::MergeMembers(CupsSpooler::Detail{}, {"a", "b"}, {a, b});
  EXPECT_EQ(merged.capabilities.papers[0].key, "custom_53.98x85.73mm_53.98x85.73mm");
  EXPECT_EQ(merged.capabilities.papers[1].key, "CR80.Fullbleed");
}

class PoolOnCups : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CupsServer& server = CupsEnvironment::Server();
    server.AddQueue("pool_a", "card_cr80.ppd");
    server.AddQueue("pool_b", "card_600x300.ppd");
    server.AddQueue("pool_office", "office.ppd");
    server.AddClass("pool", {"pool_a", "pool_b"});
    server.AddClass("mixed", {"pool_a", "pool_office"});
  }
  // The card paper `number` of `device`, landscape, as the printer wrapper writes the record.
  static DeviceSettings Card(uint16_t number) {
    DeviceSettings card;
    card.fields = DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize;
    card.orientation = 2;
    card.paper_size = static_cast<int16_t>(number);
    return card;
  }
  // Prints one page reading "CARD" on `device` and waits for its job's end.
  parvel::doubles::JobRecord PrintOne(const std::string& device, const DeviceSettings& card) {
    auto dc = surfaces.CreatePrintingContext(device, &card);
    if (dc == nullptr) throw std::runtime_error("no printing context on " + device);
    dc->StartDoc("Card");
    dc->StartPage();
    dc->TextOut(10, 10, SurfaceRect{0, 0, 500, 100}, "CARD");
    dc->EndPage();
    return CupsEnvironment::Server().WaitForJob(dc->EndDoc());
  }
  CupsSpooler spooler;
  QtSurfaceFactory surfaces{spooler};
};

TEST_F(PoolOnCups, AClassListsItsMembersAndTheirCardPaper) {
  const CupsSpooler::Detail pool = spooler.ReadDetail("pool");
  EXPECT_EQ(pool.members, (std::vector<std::string>{"pool_a", "pool_b"}));
  const CupsSpooler::Detail member = spooler.ReadDetail("pool_a");
  ASSERT_FALSE(pool.capabilities.papers.empty());
  EXPECT_EQ(pool.capabilities.papers[0].key, "CR80");
  EXPECT_EQ(pool.capabilities.papers[0].area->width_um, member.capabilities.papers[0].area->width_um);
  EXPECT_EQ(pool.capabilities.papers[0].area->height_um, member.capabilities.papers[0].area->height_um);
  EXPECT_TRUE(pool.disagreements.empty());
  EXPECT_EQ(pool.capabilities.dpi_x, member.capabilities.dpi_x);
  EXPECT_TRUE(member.members.empty());

  const CupsSpooler::Detail mixed = spooler.ReadDetail("mixed");
  ASSERT_FALSE(mixed.disagreements.empty());
  EXPECT_NE(mixed.disagreements[0].find("not on \"pool_office\""), std::string::npos)
      << mixed.disagreements[0];
}

TEST_F(PoolOnCups, ACardSentToAClassPrintsOnTheCardPaperOfEachMember) {
  CupsServer& server = CupsEnvironment::Server();
  const CupsSpooler::Detail d = spooler.ReadDetail("pool");
  const DeviceSettings card = Card(d.capabilities.papers.at(0).number);
  // CUPS gives the class's jobs to its members in turn: two jobs, one on each.
  for (int n = 0; n < 2; ++n) {
    const parvel::doubles::JobRecord record = PrintOne("pool", card);
    EXPECT_EQ(record.state, 9) << record.attributes.at("job-state-reasons");
    EXPECT_EQ(record.attributes.at("media"), "CR80");
  }
  for (const char* member : {"pool_a", "pool_b"}) {
    SCOPED_TRACE(member);
    const std::vector<parvel::doubles::PdfPage> pages = parvel::doubles::ReadPdf(server.OutputOf(member));
    ASSERT_EQ(pages.size(), 1U);
    EXPECT_NEAR(pages[0].width, 243.0, 0.5);
    EXPECT_NEAR(pages[0].height, 153.0, 0.5);
    EXPECT_NE(pages[0].Find("CARD"), nullptr);
  }
}

TEST_F(PoolOnCups, AKeywordNotAllMembersShareIsSentAsTheSizeThatEachMemberKnows) {
  CupsServer& server = CupsEnvironment::Server();
  server.AddQueue("pool_c", "card_id1.ppd");
  server.AddQueue("pool_d", "card_cr80.ppd");
  server.AddClass("named", {"pool_c", "pool_d"});
  const CupsSpooler::Detail d = spooler.ReadDetail("named");
  const auto at = std::find_if(d.capabilities.papers.begin(), d.capabilities.papers.end(),
                               [](const PaperRecord& p) { return p.name == "ID-1 card"; });
  ASSERT_NE(at, d.capabilities.papers.end());
  const DeviceSettings card = Card(at->number);
  const CupsSpooler::PaperChoice choice = d.Choose(card);
  EXPECT_EQ(choice.media, "custom_53.98x85.73mm_53.98x85.73mm");
  for (int n = 0; n < 2; ++n) {
    const parvel::doubles::JobRecord record = PrintOne("named", card);
    EXPECT_EQ(record.state, 9) << record.attributes.at("job-state-reasons");
    EXPECT_EQ(record.attributes.at("media"), choice.media);
  }
  // pool_c's filter fits the job onto the page size the job names: its own CR80 page, portrait,
  // not its smaller default card.
  for (const char* member : {"pool_c", "pool_d"}) {
    SCOPED_TRACE(member);
    const std::vector<parvel::doubles::PdfPage> pages = parvel::doubles::ReadPdf(server.OutputOf(member));
    ASSERT_EQ(pages.size(), 1U);
    EXPECT_NEAR(std::max(pages[0].width, pages[0].height), 243.0, 0.5);
    EXPECT_NEAR(std::min(pages[0].width, pages[0].height), 153.0, 0.5);
  }
}

}  // namespace
