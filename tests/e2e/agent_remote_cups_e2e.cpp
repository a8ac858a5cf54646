// A site's CUPS server reached over TCP: one that goes away and comes back while a card waits,
// and one that asks for a password for everything, where the agent, started from a terminal as
// a user starts it, never asks there for one. It reports the refusal as a print failure, keeps
// the card and still ends on SIGTERM.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/agent_run.h"
#include "tests/e2e/agent_test.h"
#include "tests/support/cups_server.h"

namespace parvel::e2e {
namespace {

constexpr char kQueue[] = "cards";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A server of its own for each test, on TCP as well as its socket.
class RemoteServer : public AgentTest {
 protected:
  RemoteServer() : AgentTest(kQueue) { server.AddQueue(kQueue, "card_cr80.ppd"); }

  // Whether every job of the queue completed and their count is `count`.
  bool Completed(size_t count) const {
    const std::vector<int> ids = doubles::CupsServer::JobIds(kQueue);
    if (ids.size() != count) return false;
    for (const int id : ids) {
      if (server.WaitForJob(id).state != 9) return false;
    }
    return true;
  }

  doubles::CupsServer server;
};

TEST_F(RemoteServer, ACardWaitingWhileTheServerIsAwayPrintsOnceItIsBack) {
  const int port = server.ListenOnTcp();
  agent.environment["CUPS_SERVER"] = "127.0.0.1:" + std::to_string(port);
  DropCard(agent.Spool() / "first.car", CardText(CardLines("FIRST")));
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !fs::exists(agent.Spool() / "first.car"); })) << agent.Errors();
  server.Stop();
  DropCard(agent.Spool() / "second.car", CardText(CardLines("AWAY")));
  EXPECT_TRUE(WaitUntil([&] { return !agent.ErrorLines().empty(); })) << "no failure reported";
  EXPECT_TRUE(fs::exists(agent.Spool() / "second.car"));
  server.Start();
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists(agent.Spool() / "second.car"); })) << agent.Errors();
  EXPECT_TRUE(Completed(2)) << agent.Errors();
  EXPECT_TRUE(agent.Running());
}

TEST_F(RemoteServer, AskingForAPasswordGetsNoPromptButAReportAndTheCardIsKept) {
  const int port = server.AskForPasswords();
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  const std::string user = entry->pw_name;
  const fs::path card = agent.Spool() / "card.car";
  DropCard(card, CardText(CardLines("CARD")));
  agent.environment["CUPS_SERVER"] = "127.0.0.1:" + std::to_string(port);
  agent.UseTerminal();
  Start();

  std::string report;
  EXPECT_TRUE(WaitUntil([&] {
    for (const std::string& line : agent.ErrorLines()) {
      if (line.starts_with("parvel: ") && Contains(line, "asks") && Contains(line, "for a password") &&
          Contains(line, "127.0.0.1") && Contains(line, user)) {
        report = line;
        return true;
      }
    }
    return false;
  })) << agent.Errors();
  EXPECT_TRUE(fs::exists(card)) << report;
  ends_by_itself = true;  // stopped here
  EXPECT_EQ(agent.Stop(), std::optional<int>(0)) << agent.Errors();
  EXPECT_TRUE(fs::exists(card)) << agent.Errors();
  // libcups's own prompt, in any language, ends with the server's name and a question mark:
  // "Password for root on 127.0.0.1? ", "Senha para root em 127.0.0.1? ".
  const std::string terminal = agent.Errors();
  EXPECT_FALSE(Contains(terminal, "Password for ")) << terminal;
  EXPECT_FALSE(Contains(terminal, "127.0.0.1? ")) << terminal;
}

}  // namespace
}  // namespace parvel::e2e
