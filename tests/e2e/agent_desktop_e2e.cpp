// The agent program on a desktop of its own: Xvfb with trayer as the tray host. The main window
// "Form1" shows when the message loop starts and the first tick hides it; the tray icon docks in
// the tray. No CUPS and no session bus: nothing here prints, and the X11 tray is the only one.
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/tray/desktop_session.h"
#include "tests/e2e/agent_run.h"
#include "tests/e2e/agent_test.h"

namespace parvel::e2e {
namespace {

bool Form1Visible() {
  return doubles::RunCommand({"xdotool", "search", "--onlyvisible", "--name", "^Form1$"});
}

uint32_t Atom(xcb_connection_t* c, const char* name) {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, static_cast<uint16_t>(std::string(name).size()), name),
                            nullptr),
      &std::free);
  return reply ? reply->atom : uint32_t{XCB_ATOM_NONE};
}

// Whether `window` or a window below it belongs to `pid` and is viewable inside a window other
// than the root: with no window manager running, only the tray host reparents.
bool DockedBelow(xcb_connection_t* c, uint32_t window, uint32_t root, uint32_t pid_atom, pid_t pid) {
  std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
      xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr), &std::free);
  if (!tree) return false;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
    const xcb_window_t child = children[i];
    if (window != root) {
      std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> owner(
          xcb_get_property_reply(c, xcb_get_property(c, 0, child, pid_atom, XCB_ATOM_CARDINAL, 0, 1),
                                 nullptr),
          &std::free);
      std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
          xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, child), nullptr), &std::free);
      if (owner && xcb_get_property_value_length(owner.get()) == 4 && attributes &&
          attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
          *static_cast<const uint32_t*>(xcb_get_property_value(owner.get())) == static_cast<uint32_t>(pid)) {
        return true;
      }
    }
    if (DockedBelow(c, child, root, pid_atom, pid)) return true;
  }
  return false;
}

bool IconDocked(pid_t pid) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  bool docked = false;
  if (xcb_connection_has_error(c) == 0) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    docked = DockedBelow(c, root, root, Atom(c, "_NET_WM_PID"), pid);
  }
  xcb_disconnect(c);
  return docked;
}

class AgentOnADesktop : public AgentTest {
 protected:
  AgentOnADesktop() : AgentTest("") {
    // The agent finds the private X server through DISPLAY, which XServer set for this process.
    agent.environment["QT_QPA_PLATFORM"] = std::nullopt;
    agent.environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/parvel-no-bus";
    agent.environment["CUPS_SERVER"] = (agent.Folder() / "no-cups.sock").string();
    ini.Set("PATH", (agent.Folder() / "no-spool").string());
  }

  doubles::XServer x;
  doubles::TrayHost tray;
};

TEST_F(AgentOnADesktop, WithoutTicksForm1StaysVisibleAndTheIconDocks) {
  ini.Set("TIME", "0");
  Start();
  EXPECT_TRUE(WaitUntil(Form1Visible)) << agent.Errors();
  EXPECT_TRUE(WaitUntil([&] { return IconDocked(agent.Pid()); })) << agent.Errors();
  EXPECT_TRUE(Form1Visible());
  EXPECT_TRUE(agent.Running());
}

TEST_F(AgentOnADesktop, TheFirstTickHidesForm1) {
  // The window shows as the loop starts, long enough before the first tick to be seen.
  ini.Set("TIME", "3000");
  Start();
  ASSERT_TRUE(WaitUntil(Form1Visible)) << agent.Errors();
  EXPECT_TRUE(WaitUntil([] { return !Form1Visible(); })) << agent.Errors();
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace parvel::e2e
