#include "app/tray/click_timer.h"

#include <gtest/gtest.h>

#include <vector>

namespace parvel::tray {
namespace {

struct Press {
  int button;
  uint64_t time;
  bool is_double;
};

TEST(ClickTimerTest, TheSecondPressOfOneButtonWithinTheIntervalIsADoubleClick) {
  constexpr int kInterval = 400;
  struct Case {
    const char* name;
    std::vector<Press> presses;
  };
  const std::vector<Case> cases = {
      {"quick pair", {{1, 1000, false}, {1, 1200, true}}},
      {"exactly the interval", {{1, 1000, false}, {1, 1400, true}}},
      {"too slow", {{1, 1000, false}, {1, 1401, false}, {1, 1500, true}}},
      {"another button", {{1, 1000, false}, {2, 1100, false}, {1, 1200, false}}},
      {"third press starts afresh", {{1, 1000, false}, {1, 1100, true}, {1, 1200, false}, {1, 1300, true}}},
      {"clock going back", {{1, 1000, false}, {1, 900, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TClickTimer timer;
    for (const Press& press : c.presses) {
      EXPECT_EQ(timer.Press(press.button, press.time, kInterval), press.is_double) << press.time;
    }
  }
}

}  // namespace
}  // namespace parvel::tray
