// The tray icon in a real X11 tray: Xvfb, trayer as the tray host, xdotool as the mouse.
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStyleHints>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tray/linux_notification_area.h"
#include "app/tray/tray_icon.h"
#include "platform/services.h"
#include "tests/app/tray/desktop_session.h"

namespace parvel::tray {
namespace {

using doubles::RunCommand;
using doubles::TrayHost;
using Events = std::vector<std::string>;

xcb_connection_t* Connection() {
  return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

struct Placement {
  bool viewable = false;
  bool embedded = false;  // its parent is not the root window
  QPoint center;          // in root coordinates
  QSize size;
};

Placement Place(uint32_t window) {
  Placement placement;
  if (window == 0) return placement;
  xcb_connection_t* c = Connection();
  auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
  auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
  auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
  if (tree != nullptr && attributes != nullptr && geometry != nullptr) {
    placement.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    placement.embedded = tree->parent != tree->root;
    placement.size = QSize(geometry->width, geometry->height);
    auto* at = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, tree->root, geometry->width / 2, geometry->height / 2),
        nullptr);
    if (at != nullptr) placement.center = QPoint(at->dst_x, at->dst_y);
    std::free(at);
  }
  std::free(tree);
  std::free(attributes);
  std::free(geometry);
  return placement;
}

// Lets the loop run until `done` holds or `timeout` has passed; answers `done()`. The timeout is
// generous: a loaded machine running the sanitizer build is slow to start a tray and map windows.
bool RunUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  const QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return done();
}

// Lets the loop run for `ms` milliseconds.
void RunFor(int ms) {
  RunUntil([] { return false; }, ms);
}

class TrayX11Test : public ::testing::Test {
 protected:
  TrayX11Test() : install_(&area_) {
    fechar_ = menu_.addAction("&Fechar");
    QObject::connect(fechar_, &QAction::triggered, [this] { ++fechar_clicks_; });
    // Looks at every menu that opens (from inside its own loop) and does what the test asks.
    QObject::connect(&watch_, &QTimer::timeout, [this] {
      QWidget* popup = QApplication::activePopupWidget();
      if (popup == nullptr || !popup->isVisible() || popup == seen_popup_) return;
      seen_popup_ = popup;
      ++menus_opened_;
      for (QAction* item : menu_.actions()) menu_items_.push_back(item->text().toStdString());
      if (on_menu_) on_menu_();
    });
    watch_.start(20);
  }
  ~TrayX11Test() override {
    // A menu left open by a failed test must not outlive it.
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  }

  std::unique_ptr<TRxTrayIcon> AgentTrayIcon() {
    auto tray = std::make_unique<TRxTrayIcon>();
    tray->SetHint("Gerenciador de Impressão");
    tray->SetPopupMenu(&menu_);
    TIcon icon;
    icon.LoadFromFile(":/tray/parvel-16.png");
    tray->SetIcon(icon);
    return tray;
  }

  void LogEvents(TRxTrayIcon& tray) {
    auto button = [](TMouseButton b) { return b == mbLeft ? "left" : b == mbRight ? "right" : "middle"; };
    auto flags = [](TShiftState s) {
      std::string text;
      if (s & ssShift) text += "S";
      if (s & ssCtrl) text += "C";
      if (s & ssLeft) text += "L";
      if (s & ssRight) text += "R";
      if (s & ssMiddle) text += "M";
      if (s & ssDouble) text += "D";
      return text;
    };
    tray.OnMouseDown = [=, this](report::TComponent*, TMouseButton b, TShiftState s, int, int) {
      events_.push_back(std::string("down ") + button(b) + " " + flags(s));
    };
    tray.OnMouseUp = [=, this](report::TComponent*, TMouseButton b, TShiftState s, int, int) {
      events_.push_back(std::string("up ") + button(b) + " " + flags(s));
    };
    tray.OnClick = [=, this](report::TComponent*, TMouseButton b, TShiftState, int, int) {
      events_.push_back(std::string("click ") + button(b));
    };
    tray.OnDblClick = [this](report::TComponent*) { events_.push_back("dblclick"); };
  }

  uint32_t Dock(TRxTrayIcon& tray) { return static_cast<uint32_t>(area_.DockWindow(tray.Window(), 0)); }

  // Embedded, shown, and given room for the whole icon (not a sliver of it).
  bool WaitDocked(TRxTrayIcon& tray) {
    return RunUntil([&] {
      const Placement p = Place(Dock(tray));
      return p.viewable && p.embedded && p.size.width() >= 16;
    });
  }

  // Moves the pointer onto the icon and runs xdotool's `actions` there.
  void MouseOnIcon(TRxTrayIcon& tray, std::vector<std::string> actions) {
    const Placement p = Place(Dock(tray));
    std::vector<std::string> argv = {"xdotool", "mousemove", std::to_string(p.center.x()),
                                     std::to_string(p.center.y())};
    argv.insert(argv.end(), actions.begin(), actions.end());
    ASSERT_TRUE(RunCommand(argv));
  }

  LinuxNotificationArea area_;
  platform::ScopedInstall<NotificationArea> install_;
  TPopupMenu menu_;
  QAction* fechar_ = nullptr;
  int fechar_clicks_ = 0;
  QTimer watch_;
  QWidget* seen_popup_ = nullptr;
  int menus_opened_ = 0;
  std::vector<std::string> menu_items_;
  std::function<void()> on_menu_;
  Events events_;
};

TEST_F(TrayX11Test, TheIconDocksIntoTheTrayAndShowsItsTipWhenThePointerRestsOnIt) {
  TrayHost trayer;
  auto tray = AgentTrayIcon();
  std::optional<QPoint> moved_to;
  tray->OnMouseMove = [&](report::TComponent*, TShiftState, int x, int y) { moved_to = QPoint(x, y); };
  ASSERT_TRUE(tray->Added());
  ASSERT_TRUE(WaitDocked(*tray)) << "the icon's window was not embedded by the tray, or has "
                                 << Place(Dock(*tray)).size.width() << " pixels";
  EXPECT_EQ(area_.Backend(), TTrayBackend::X11Dock);
  QWidget* dock = QWidget::find(Dock(*tray));
  ASSERT_NE(dock, nullptr);

  MouseOnIcon(*tray, {});
  ASSERT_TRUE(RunUntil([&] { return moved_to.has_value(); })) << "no mouse move over the icon";
  EXPECT_EQ(*moved_to, Place(Dock(*tray)).center) << "moves carry the cursor's screen position";
  EXPECT_TRUE(RunUntil([] { return QToolTip::isVisible(); })) << "no tooltip over the icon";
  EXPECT_EQ(QToolTip::text(), "Gerenciador de Impressão");
  tray->SetHint("Outro|ajuda");
  EXPECT_EQ(dock->toolTip(), "Outro");

  tray.reset();
  EXPECT_TRUE(RunUntil([&] { return QApplication::topLevelWidgets().indexOf(dock) < 0; }))
      << "the icon's window outlives the icon";
}

TEST_F(TrayX11Test, ARightClickOpensTheMenuAndFecharRunsItsHandler) {
  TrayHost trayer;
  auto tray = AgentTrayIcon();
  ASSERT_TRUE(WaitDocked(*tray));
  on_menu_ = [this] {
    // Choose "Fechar" with the mouse, as a user would.
    const QRect item = menu_.actionGeometry(fechar_);
    const QPoint at = menu_.mapToGlobal(item.center());
    RunCommand({"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()), "click", "1"});
  };
  MouseOnIcon(*tray, {"click", "3"});
  EXPECT_TRUE(RunUntil([&] { return fechar_clicks_ == 1; })) << "menus opened: " << menus_opened_;
  EXPECT_EQ(menus_opened_, 1);
  EXPECT_EQ(menu_items_, std::vector<std::string>{"&Fechar"});
  EXPECT_EQ(QKeySequence::mnemonic(fechar_->text()), QKeySequence(Qt::ALT | Qt::Key_F));
  EXPECT_EQ(menu_.PopupComponent(), tray.get());
  EXPECT_TRUE(RunUntil([] { return QApplication::activePopupWidget() == nullptr; }));
}

TEST_F(TrayX11Test, LeftDoubleAndMiddleClicksOpenNothingAndArriveAsTheyHappen) {
  TrayHost trayer;
  auto tray = AgentTrayIcon();
  LogEvents(*tray);
  ASSERT_TRUE(WaitDocked(*tray));
  const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
  struct Case {
    const char* name;
    std::vector<std::string> actions;
    Events events;
  };
  const std::vector<Case> cases = {
      {"left click", {"click", "1"}, {"down left L", "click left", "up left "}},
      {"left click with shift",
       {"keydown", "shift", "click", "1", "keyup", "shift"},
       {"down left SL", "click left", "up left S"}},
      {"double click",
       // Well inside the interval, so that a slow machine still makes it a double click.
       {"click", "--repeat", "2", "--delay", std::to_string(interval / 10), "1"},
       {"down left L", "click left", "up left ", "dblclick", "down left D", "up left "}},
      {"middle click", {"click", "2"}, {"down middle M", "up middle M"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    MouseOnIcon(*tray, c.actions);
    RunUntil([&] { return events_.size() >= c.events.size(); });
    // Nothing more may come: an extra event would arrive within the double-click interval,
    // after which the next case's press is a first press again.
    RunFor(interval + 200);
    EXPECT_EQ(events_, c.events);
  }
  EXPECT_EQ(menus_opened_, 0);
  EXPECT_EQ(fechar_clicks_, 0);
}

TEST_F(TrayX11Test, TheIconDocksInATrayThatStartsLaterAndAgainAfterTheTrayRestarts) {
  auto tray = AgentTrayIcon();
  ASSERT_TRUE(tray->Added()) << "an X display is a notification area even before its tray runs";
  EXPECT_EQ(area_.Backend(), TTrayBackend::None);
  {
    TrayHost trayer;
    ASSERT_TRUE(WaitDocked(*tray)) << "not docked whole in a tray that started after the icon: "
                                   << Place(Dock(*tray)).size.width() << " pixels";
  }
  // The tray went: the icon's window is not left on the screen.
  EXPECT_TRUE(RunUntil([&] { return area_.Backend() == TTrayBackend::None; }));
  EXPECT_FALSE(Place(Dock(*tray)).viewable);

  TrayHost restarted;
  ASSERT_TRUE(WaitDocked(*tray)) << "not docked whole again in the restarted tray: "
                                 << Place(Dock(*tray)).size.width() << " pixels";
  on_menu_ = [this] { menu_.close(); };
  MouseOnIcon(*tray, {"click", "3"});
  EXPECT_TRUE(RunUntil([&] { return menus_opened_ == 1; })) << "the docked-again icon takes clicks";
}

TEST_F(TrayX11Test, AnIconRemovedAndAddedAgainRightAwayDocksWholeAndTakesClicks) {
  TrayHost trayer;
  auto tray = AgentTrayIcon();
  ASSERT_TRUE(WaitDocked(*tray));
  const uint32_t first = Dock(*tray);
  tray->RemoveFromTray();
  tray->AddToTray();
  ASSERT_TRUE(WaitDocked(*tray)) << "not docked whole again: " << Place(Dock(*tray)).size.width()
                                 << " pixels";
  EXPECT_TRUE(RunUntil([&] { return !Place(first).viewable; })) << "the removed icon stays on the screen";
  on_menu_ = [this] { menu_.close(); };
  MouseOnIcon(*tray, {"click", "3"});
  EXPECT_TRUE(RunUntil([&] { return menus_opened_ == 1; })) << "the added-again icon takes clicks";
}

}  // namespace
}  // namespace parvel::tray
