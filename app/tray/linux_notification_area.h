#pragma once
// The notification area on a Linux desktop. One front over two backends:
// - an X11 tray manager (the owner of _NET_SYSTEM_TRAY_S<screen>): each icon is a window of our
//   own docked by the System Tray Protocol, which sees every button down and up, double clicks
//   timed here, motion and the modifier state;
// - no X11 tray manager but a StatusNotifierItem host on the session bus: each icon is a
//   QSystemTrayIcon, whose activations become down and up pairs of a button.
// Icons stay registered while neither host exists and appear when one does; a new X11 tray
// manager (a restarted tray) gets every icon docked again.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "app/tray/notification_area.h"
#include "app/tray/x11_tray_dock.h"

class QDBusServiceWatcher;

namespace parvel::tray {

// Which backend shows the icons now.
enum class TTrayBackend { None, X11Dock, StatusNotifierItem };

class LinuxNotificationArea : public QObject, public NotificationArea, private QAbstractNativeEventFilter {
 public:
  // Needs a QApplication. Under a platform without a desktop (offscreen) every Add fails.
  LinuxNotificationArea();
  ~LinuxNotificationArea() override;

  bool Add(const TNotifyIconData& data) override;
  bool Modify(const TNotifyIconData& data) override;
  bool Delete(const TNotifyIconData& data) override;
  QPoint CursorPos() override;
  TShiftState KeyState() override;
  void SetForegroundWindow(TTrayWindow& window) override;
  bool IsWindowEnabled(const TTrayWindow& window) override { return window.Enabled(); }
  void CancelMouseMode() override;
  void ProcessMessages() override;
  void PopupMenu(QMenu& menu, QPoint at) override;

  TTrayBackend Backend() const { return backend_; }
  // The X11 window of the icon's dock, or 0 (tests find the icon by it).
  unsigned long DockWindow(const TTrayWindow& window, uint32_t id) const;

  // Delivers a mouse message of an icon to its window; the icon may go meanwhile. With `state`,
  // the cursor position and the keys read while it is handled are the message's own.
  void Deliver(const TTrayWindow* window, uint32_t id, TTrayMouseMessage mouse,
               const std::optional<TMouseState>& state = std::nullopt);

 private:
  using Key = std::pair<const TTrayWindow*, uint32_t>;
  struct Entry;

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;
  bool StatusNotifierHostPresent() const;
  // Puts every icon on the backend that fits the desktop now; does nothing for icons already there.
  void PlaceAll();
  void Place(const Key& key, Entry& entry);
  void Show(Entry& entry);

  std::map<Key, std::unique_ptr<Entry>> entries_;
  std::unique_ptr<TX11TrayProtocol> x11_;
  QDBusServiceWatcher* sni_watcher_ = nullptr;
  TTrayBackend backend_ = TTrayBackend::None;
  int delivering_ = 0;
  std::optional<TMouseState> message_state_;
};

}  // namespace parvel::tray
