#include "app/tray/x11_tray_dock.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleHints>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace parvel::tray {

namespace {

constexpr uint32_t kSystemTrayRequestDock = 0;
constexpr uint32_t kXEmbedMapped = 1;

// The screen number of $DISPLAY (":1.0" -> 0), 0 when it names none.
int DisplayScreen() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) return 0;
  const char* colon = std::strrchr(display, ':');
  const char* dot = colon != nullptr ? std::strchr(colon, '.') : nullptr;
  return dot != nullptr ? std::atoi(dot + 1) : 0;
}

}  // namespace

std::unique_ptr<TX11TrayProtocol> TX11TrayProtocol::Connect() {
  auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return nullptr;
  xcb_connection_t* connection = x11->connection();
  const int screen = DisplayScreen();
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screen && it.rem > 0; ++i) xcb_screen_next(&it);
  if (it.rem == 0) return nullptr;
  return std::unique_ptr<TX11TrayProtocol>(new TX11TrayProtocol(connection, it.data->root, screen));
}

TX11TrayProtocol::TX11TrayProtocol(xcb_connection_t* connection, uint32_t root, int screen)
    : connection_(connection), root_(root) {
  selection_ = Atom(("_NET_SYSTEM_TRAY_S" + std::to_string(screen)).c_str());
  opcode_ = Atom("_NET_SYSTEM_TRAY_OPCODE");
  manager_atom_ = Atom("MANAGER");
  xembed_info_ = Atom("_XEMBED_INFO");
  // MANAGER is sent to the root window with the structure-notify mask: add it to the mask that
  // Qt selected there (the mask is per client, and Qt's connection is ours).
  std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
      xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, root_), nullptr),
      &std::free);
  const uint32_t mask =
      (attributes ? attributes->your_event_mask : 0) | uint32_t{XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection_);
}

uint32_t TX11TrayProtocol::Atom(const char* name) const {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr),
      &std::free);
  return reply ? reply->atom : uint32_t{XCB_ATOM_NONE};
}

uint32_t TX11TrayProtocol::FindManager() {
  std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
      xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection_), nullptr),
      &std::free);
  manager_ = reply ? reply->owner : uint32_t{XCB_WINDOW_NONE};
  if (manager_ != XCB_WINDOW_NONE) {
    // Its destroy notification tells that the tray went.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, manager_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }
  return manager_;
}

void TX11TrayProtocol::RequestDock(uint32_t window) {
  if (manager_ == XCB_WINDOW_NONE) return;
  const uint32_t xembed_info[2] = {0, kXEmbedMapped};
  xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, xembed_info_, xembed_info_, 32, 2,
                      xembed_info);
  xcb_client_message_event_t event;
  std::memset(&event, 0, sizeof event);
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = manager_;
  event.type = opcode_;
  event.data.data32[0] = XCB_CURRENT_TIME;
  event.data.data32[1] = kSystemTrayRequestDock;
  event.data.data32[2] = window;
  xcb_send_event(connection_, 0, manager_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
  xcb_flush(connection_);
}

TX11TrayProtocol::TNotice TX11TrayProtocol::Decode(const void* xcb_event) {
  const auto* event = static_cast<const xcb_generic_event_t*>(xcb_event);
  switch (event->response_type & ~0x80) {
    case XCB_CLIENT_MESSAGE: {
      const auto* message = static_cast<const xcb_client_message_event_t*>(xcb_event);
      if (message->type == manager_atom_ && message->data.data32[1] == selection_)
        return {TEvent::NewManager};
      break;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(xcb_event);
      if (manager_ != XCB_WINDOW_NONE && destroyed->window == manager_) {
        manager_ = XCB_WINDOW_NONE;
        return {TEvent::ManagerGone};
      }
      break;
    }
    case XCB_REPARENT_NOTIFY: {
      // Back to the root is a manager that went and handed its windows back.
      const auto* reparented = static_cast<const xcb_reparent_notify_event_t*>(xcb_event);
      if (reparented->parent != root_) return {TEvent::Embedded, reparented->window};
      break;
    }
    default:
      break;
  }
  return {};
}

TX11TrayDock::TX11TrayDock(TDeliver deliver)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint),
      deliver_(std::move(deliver)) {
  setAttribute(Qt::WA_AlwaysShowToolTips);
  setMouseTracking(true);
  // A tray that embeds with a GtkSocket (trayer) gives the icon the minimum size of the window's
  // size hints, and a single pixel where there is none: the hints are there from the window's
  // creation on.
  setGeometry(0, 0, 22, 22);
  setMinimumSize(22, 22);
}

void TX11TrayDock::SetImage(const QIcon& icon) {
  icon_ = icon;
  update();
}

void TX11TrayDock::Dock(TX11TrayProtocol& protocol) {
  // Not mapped here: the manager maps the window once it has taken it in. A window we map before
  // the manager reparents it is unmapped and mapped again by the reparenting, and a GtkSocket
  // takes that unmap for the icon's own and keeps it a pixel wide.
  protocol.RequestDock(static_cast<uint32_t>(winId()));
}

void TX11TrayDock::Embedded() { show(); }

void TX11TrayDock::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const int side = std::min(width(), height());
  const QRect square((width() - side) / 2, (height() - side) / 2, side, side);
  icon_.paint(&painter, square);
}

void TX11TrayDock::Press(QMouseEvent* event) {
  // Qt may hand the second press of a double click over as a press, as a double click, or as
  // both: each press counts once.
  if (event->timestamp() == last_press_time_ && event->button() == last_press_button_) return;
  last_press_time_ = event->timestamp();
  last_press_button_ = event->button();
  const bool twice = clicks_.Press(int(event->button()), event->timestamp(),
                                   QGuiApplication::styleHints()->mouseDoubleClickInterval());
  switch (event->button()) {
    case Qt::LeftButton:
      Deliver(twice ? TTrayMouseMessage::LeftDouble : TTrayMouseMessage::LeftDown, event);
      break;
    case Qt::RightButton:
      Deliver(twice ? TTrayMouseMessage::RightDouble : TTrayMouseMessage::RightDown, event);
      break;
    case Qt::MiddleButton:
      Deliver(twice ? TTrayMouseMessage::MiddleDouble : TTrayMouseMessage::MiddleDown, event);
      break;
    default:
      break;
  }
}

void TX11TrayDock::Deliver(TTrayMouseMessage mouse, const QMouseEvent* event) {
  deliver_(mouse, TMouseState{event->globalPosition().toPoint(), event->modifiers()});
}

void TX11TrayDock::mousePressEvent(QMouseEvent* event) { Press(event); }

// The timing of the presses decides here, not Qt's own double click.
void TX11TrayDock::mouseDoubleClickEvent(QMouseEvent* event) { Press(event); }

void TX11TrayDock::mouseReleaseEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton:
      Deliver(TTrayMouseMessage::LeftUp, event);
      break;
    case Qt::RightButton:
      Deliver(TTrayMouseMessage::RightUp, event);
      break;
    case Qt::MiddleButton:
      Deliver(TTrayMouseMessage::MiddleUp, event);
      break;
    default:
      break;
  }
}

void TX11TrayDock::mouseMoveEvent(QMouseEvent* event) { Deliver(TTrayMouseMessage::Move, event); }

}  // namespace parvel::tray
