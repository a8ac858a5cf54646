#pragma once
// The X11 System Tray Protocol: the tray manager is the owner of the selection
// _NET_SYSTEM_TRAY_S<screen>; an icon is a window of the client's own that asks the manager to
// embed it (SYSTEM_TRAY_REQUEST_DOCK) and carries _XEMBED_INFO. A new manager announces itself
// with a MANAGER client message on the root window. The manager takes the window in by
// reparenting it and maps it itself; it sizes the icon by the window's minimum size hint.
#include <QIcon>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "app/tray/click_timer.h"
#include "app/tray/notification_area.h"

struct xcb_connection_t;

namespace parvel::tray {

class TX11TrayProtocol {
 public:
  // Answers nullptr unless the application runs on X11.
  static std::unique_ptr<TX11TrayProtocol> Connect();

  // The current manager window, or 0.
  uint32_t Manager() const { return manager_; }
  // Asks the server who owns the selection now, and watches that window's end.
  uint32_t FindManager();
  // Sends the dock request for `window` to the manager.
  void RequestDock(uint32_t window);

  // What an X event means for the tray: for Embedded, `window` is the window the manager took in.
  enum class TEvent { Other, NewManager, ManagerGone, Embedded };
  struct TNotice {
    TEvent event = TEvent::Other;
    uint32_t window = 0;
  };
  TNotice Decode(const void* xcb_event);

 private:
  TX11TrayProtocol(xcb_connection_t* connection, uint32_t root, int screen);
  uint32_t Atom(const char* name) const;

  xcb_connection_t* connection_;
  uint32_t root_;
  uint32_t selection_;
  uint32_t opcode_;
  uint32_t manager_atom_;
  uint32_t xembed_info_;
  uint32_t manager_ = 0;
};

// Where the pointer was and which modifiers were down when a mouse message happened.
struct TMouseState {
  QPoint global;
  Qt::KeyboardModifiers modifiers;
};

// The icon's own window for one manager: drawn with the icon, and turning Qt's mouse events into
// the area's mouse messages with the double clicks timed here. A new manager gets a new dock: a
// window is offered to one manager once, and goes with the dock.
class TX11TrayDock : public QWidget {
 public:
  using TDeliver = std::function<void(TTrayMouseMessage, const TMouseState&)>;
  explicit TX11TrayDock(TDeliver deliver);

  void SetImage(const QIcon& icon);
  // Creates the native window and asks the manager to embed it; the window stays unmapped.
  void Dock(TX11TrayProtocol& protocol);
  // The manager has taken the window in: Qt may show it now.
  void Embedded();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Press(QMouseEvent* event);
  void Deliver(TTrayMouseMessage mouse, const QMouseEvent* event);

  TDeliver deliver_;
  QIcon icon_;
  TClickTimer clicks_;
  quint64 last_press_time_ = 0;
  Qt::MouseButton last_press_button_ = Qt::NoButton;
};

}  // namespace parvel::tray
