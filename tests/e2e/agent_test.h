#pragma once
// The end-to-end tests' fixture: one run of the agent with the text of its INI file, which ends
// with status 0 on SIGTERM whatever the test did with it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/agent_run.h"

namespace parvel::e2e {

class AgentTest : public ::testing::Test {
 protected:
  // `printer` is the INI's IMPRESSORA.
  explicit AgentTest(const std::string& printer) : ini(agent.Spool(), printer) {}

  void Start(const std::vector<std::string>& args = {}) {
    agent.WriteIni(ini.Text());
    agent.Start(args);
  }
  void TearDown() override {
    if (agent.Pid() > 0 && !ends_by_itself) {
      EXPECT_EQ(agent.Stop(), std::optional<int>(0)) << agent.Errors();
    }
  }

  AgentRun agent;
  IniText ini;
  bool ends_by_itself = false;  // the test waits for its end and checks the status
};

}  // namespace parvel::e2e
