// parvel-printers against the private cupsd, and without any server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/cups_server.h"

#ifndef PARVEL_PRINTERS_TOOL
#error "PARVEL_PRINTERS_TOOL must name the built parvel-printers"
#endif

namespace {

using parvel::doubles::CupsEnvironment;
using parvel::doubles::CupsServer;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

TEST(PrintersTool, PrintsTheListAsTheEngineSeesIt) {
  CupsServer& server = CupsEnvironment::Server();
  server.AddQueue("card", "card_cr80.ppd");
  server.AddQueue("office", "office.ppd");
  server.SetDefault("card");
  std::string out;
  ASSERT_EQ(CupsServer::Run({PARVEL_PRINTERS_TOOL}, &out), 0) << out;
  EXPECT_NE(out.find("Printer list:\n  Default\n  Screen\n  card\n  office\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Default printer: card\n"), std::string::npos) << out;
  EXPECT_NE(out.find("    24378  CR80 2.13 x 3.38 in  54.0 x 85.7\n"), std::string::npos) << out;
  EXPECT_NE(out.find("    7  Default\n    7  Card Hopper\n    4  Manual Card Feed\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Resolution: 300 x 300 dpi\n  Physical offsets: 25, 25 pixels"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Card 85.7 x 54.0 mm landscape: \"CR80 2.13 x 3.38 in\" (number 24378)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("    9  A4  209.9 x 297.0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("no paper of this size; prints as \"Custom\""), std::string::npos) << out;
  // What the card's job asks for: the driver's keyword with its sheet and margins, or, where no
  // paper has the card's size, the queue's default paper.
  EXPECT_NE(out.find("  Driver: Parvel Card Printer\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Card medium: CR80, 54.0 x 85.7 mm, margins 2.1 2.1 2.1 2.1 mm"), std::string::npos)
      << out;
  EXPECT_NE(out.find("  Card medium: (the queue's default), 209.9 x 297.0 mm, margins 6.4 12.7"),
            std::string::npos)
      << out;
}

TEST(PrintersTool, NamesAClassesMembersAndWhereTheyDisagreeOnTheCard) {
  CupsServer& server = CupsEnvironment::Server();
  server.AddQueue("member_card", "card_cr80.ppd");
  server.AddQueue("member_office", "office.ppd");
  server.AddClass("counter", {"member_card", "member_office"});
  std::string out;
  ASSERT_EQ(CupsServer::Run({PARVEL_PRINTERS_TOOL}, &out), 0) << out;
  const size_t at = out.find("Printer \"counter\"");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string counter = out.substr(at, out.find("\nPrinter ", at + 1) - at);
  EXPECT_NE(counter.find("  Class of: member_card, member_office (each job prints on one of them"),
            std::string::npos)
      << counter;
  EXPECT_NE(
      counter.find("  Members disagree: \"CR80 2.13 x 3.38 in\" 54.0 x 85.7 mm: not on \"member_office\""),
      std::string::npos)
      << counter;
  EXPECT_NE(counter.find("  Card medium: custom_53.98x85.73mm_53.98x85.73mm, 54.0 x 85.7 mm"),
            std::string::npos)
      << counter;
}

TEST(PrintersTool, SaysSoAndFailsWhenNoServerAnswers) {
  std::string missing = (CupsEnvironment::Server().Folder() / "nobody.sock").string();
  std::string out;
  int rc = CupsServer::Run({"env", "CUPS_SERVER=" + missing, PARVEL_PRINTERS_TOOL}, &out);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("no CUPS server answers"), std::string::npos) << out;
  EXPECT_EQ(out.find("Printer list:"), std::string::npos) << out;
}

}  // namespace
