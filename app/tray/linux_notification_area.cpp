#include "app/tray/linux_notification_area.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/tray/x11_tray_dock.h"

namespace parvel::tray {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// Frees a Qt object now, or after the running event handler when it may be the sender.
template <class T>
void Release(std::unique_ptr<T>& object, bool later) {
  if (!object) return;
  if (later) {
    object.release()->deleteLater();
  } else {
    object.reset();
  }
}

}  // namespace

struct LinuxNotificationArea::Entry {
  TNotifyIconData data;
  std::unique_ptr<TX11TrayDock> dock;
  uint32_t docked_to = 0;  // the manager that was asked to embed the dock
  std::unique_ptr<QSystemTrayIcon> sni;
};

LinuxNotificationArea::LinuxNotificationArea() {
  x11_ = TX11TrayProtocol::Connect();
  if (x11_) {
    x11_->FindManager();
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    sni_watcher_ = new QDBusServiceWatcher(
        kWatcherService, bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(sni_watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] { PlaceAll(); });
    connect(sni_watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { PlaceAll(); });
  }
}

LinuxNotificationArea::~LinuxNotificationArea() {
  if (x11_) QCoreApplication::instance()->removeNativeEventFilter(this);
  entries_.clear();
}

bool LinuxNotificationArea::Add(const TNotifyIconData& data) {
  const QString platform = QGuiApplication::platformName();
  const bool desktop =
      x11_ != nullptr || (sni_watcher_ != nullptr && platform != "offscreen" && platform != "minimal");
  const Key key{data.Wnd, data.uID};
  if (!desktop || data.Wnd == nullptr || entries_.contains(key)) return false;
  auto& entry = entries_[key];
  entry = std::make_unique<Entry>();
  entry->data = data;
  PlaceAll();
  return true;
}

bool LinuxNotificationArea::Modify(const TNotifyIconData& data) {
  auto it = entries_.find({data.Wnd, data.uID});
  if (it == entries_.end()) return false;
  it->second->data = data;
  Show(*it->second);
  return true;
}

bool LinuxNotificationArea::Delete(const TNotifyIconData& data) {
  auto it = entries_.find({data.Wnd, data.uID});
  if (it == entries_.end()) return false;
  Entry& entry = *it->second;
  if (entry.dock) entry.dock->hide();
  if (entry.sni) entry.sni->hide();
  Release(entry.dock, delivering_ > 0);
  Release(entry.sni, delivering_ > 0);
  entries_.erase(it);
  return true;
}

QPoint LinuxNotificationArea::CursorPos() { return message_state_ ? message_state_->global : QCursor::pos(); }

TShiftState LinuxNotificationArea::KeyState() {
  const Qt::KeyboardModifiers keys =
      message_state_ ? message_state_->modifiers : QGuiApplication::queryKeyboardModifiers();
  TShiftState shift = 0;
  if (keys & Qt::ShiftModifier) shift |= ssShift;
  if (keys & Qt::AltModifier) shift |= ssAlt;
  if (keys & Qt::ControlModifier) shift |= ssCtrl;
  return shift;
}

void LinuxNotificationArea::SetForegroundWindow(TTrayWindow& window) {
  for (auto& [key, entry] : entries_) {
    if (key.first == &window && entry->dock && entry->dock->isVisible()) entry->dock->activateWindow();
  }
}

void LinuxNotificationArea::CancelMouseMode() {
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

void LinuxNotificationArea::ProcessMessages() { QCoreApplication::processEvents(); }

void LinuxNotificationArea::PopupMenu(QMenu& menu, QPoint at) { menu.exec(at); }

unsigned long LinuxNotificationArea::DockWindow(const TTrayWindow& window, uint32_t id) const {
  auto it = entries_.find({&window, id});
  if (it == entries_.end() || !it->second->dock) return 0;
  return it->second->dock->internalWinId();
}

void LinuxNotificationArea::Deliver(const TTrayWindow* window, uint32_t id, TTrayMouseMessage mouse,
                                    const std::optional<TMouseState>& state) {
  auto it = entries_.find({window, id});
  if (it == entries_.end()) return;
  TTrayWindow* target = it->second->data.Wnd;
  const uint32_t message = it->second->data.uCallbackMessage;
  const std::optional<TMouseState> outer = std::exchange(message_state_, state);
  ++delivering_;
  target->Perform(message, mouse);
  --delivering_;
  message_state_ = outer;
}

bool LinuxNotificationArea::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
  if (type != "xcb_generic_event_t" || !x11_) return false;
  const TX11TrayProtocol::TNotice notice = x11_->Decode(message);
  switch (notice.event) {
    case TX11TrayProtocol::TEvent::NewManager:
      // Not from inside the event dispatch: placing creates windows and asks the server.
      QMetaObject::invokeMethod(
          this,
          [this] {
            x11_->FindManager();
            PlaceAll();
          },
          Qt::QueuedConnection);
      break;
    case TX11TrayProtocol::TEvent::ManagerGone:
      QMetaObject::invokeMethod(
          this, [this] { PlaceAll(); }, Qt::QueuedConnection);
      break;
    case TX11TrayProtocol::TEvent::Embedded:
      // Shown here, from inside the event dispatch: the manager maps the window right after taking
      // it in, and Qt must not have seen that map yet when it shows the window (it warns when it
      // shows a window it knows to be mapped).
      for (auto& [key, entry] : entries_) {
        if (entry->dock && entry->dock->internalWinId() == notice.window) entry->dock->Embedded();
      }
      break;
    case TX11TrayProtocol::TEvent::Other:
      break;
  }
  return false;
}

bool LinuxNotificationArea::StatusNotifierHostPresent() const {
  if (sni_watcher_ == nullptr) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.interface()->isServiceRegistered(kWatcherService)) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, "/StatusNotifierWatcher",
                                                    "org.freedesktop.DBus.Properties", "Get");
  get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
}

void LinuxNotificationArea::PlaceAll() {
  if (x11_ && x11_->Manager() != 0) {
    backend_ = TTrayBackend::X11Dock;
  } else if (!entries_.empty() && StatusNotifierHostPresent()) {
    backend_ = TTrayBackend::StatusNotifierItem;
  } else {
    backend_ = TTrayBackend::None;
  }
  for (auto& [key, entry] : entries_) Place(key, *entry);
}

void LinuxNotificationArea::Place(const Key& key, Entry& entry) {
  const bool later = delivering_ > 0;
  switch (backend_) {
    case TTrayBackend::X11Dock:
      Release(entry.sni, later);
      if (!entry.dock || entry.docked_to != x11_->Manager()) {
        // A fresh window for each manager: one that an earlier tray had is never offered again.
        Release(entry.dock, later);
        entry.dock =
            std::make_unique<TX11TrayDock>([this, key](TTrayMouseMessage mouse, const TMouseState& state) {
              Deliver(key.first, key.second, mouse, state);
            });
        entry.docked_to = x11_->Manager();
        entry.dock->Dock(*x11_);
      }
      Show(entry);
      break;
    case TTrayBackend::StatusNotifierItem:
      Release(entry.dock, later);
      if (!entry.sni) {
        entry.sni = std::make_unique<QSystemTrayIcon>();
        const Key target = key;
        // The host reports activations only: each becomes a press and a release of a button.
        connect(entry.sni.get(), &QSystemTrayIcon::activated, this,
                [this, target](QSystemTrayIcon::ActivationReason reason) {
                  using M = TTrayMouseMessage;
                  std::pair<M, M> pair;
                  switch (reason) {
                    case QSystemTrayIcon::Trigger:
                      pair = {M::LeftDown, M::LeftUp};
                      break;
                    case QSystemTrayIcon::Context:
                      pair = {M::RightDown, M::RightUp};
                      break;
                    case QSystemTrayIcon::MiddleClick:
                      pair = {M::MiddleDown, M::MiddleUp};
                      break;
                    case QSystemTrayIcon::DoubleClick:
                      pair = {M::LeftDouble, M::LeftUp};
                      break;
                    default:
                      return;
                  }
                  Deliver(target.first, target.second, pair.first);
                  Deliver(target.first, target.second, pair.second);
                });
        Show(entry);
        entry.sni->show();
      }
      break;
    case TTrayBackend::None:
      // A window left behind by a tray that went is not left on the screen.
      Release(entry.sni, later);
      if (entry.dock) entry.dock->hide();
      Release(entry.dock, later);
      entry.docked_to = 0;
      break;
  }
}

void LinuxNotificationArea::Show(Entry& entry) {
  if (entry.dock) {
    entry.dock->SetImage(entry.data.Icon);
    entry.dock->setToolTip(entry.data.szTip);
  }
  if (entry.sni) {
    entry.sni->setIcon(entry.data.Icon);
    entry.sni->setToolTip(entry.data.szTip);
  }
}

}  // namespace parvel::tray
