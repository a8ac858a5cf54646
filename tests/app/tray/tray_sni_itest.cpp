// The tray icon where the desktop has no X11 tray but a StatusNotifierItem host: a private
// session bus with a watcher of ours, which asks the registered item for its context menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/tray/linux_notification_area.h"
#include "app/tray/tray_icon.h"
#include "platform/services.h"

namespace parvel::tray {
namespace {

bool RunUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  const QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return done();
}

// The items the watcher holds, asked over the bus.
QStringList RegisteredItems() {
  QDBusMessage get = QDBusMessage::createMethodCall("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                                    "org.freedesktop.DBus.Properties", "Get");
  get << QString("org.kde.StatusNotifierWatcher") << QString("RegisteredStatusNotifierItems");
  const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toStringList();
}

TEST(TraySniTest, TheItemRegistersAndItsContextMenuRequestOpensTheMenu) {
  LinuxNotificationArea area;
  platform::ScopedInstall<NotificationArea> install(&area);
  TPopupMenu menu;
  QAction* fechar = menu.addAction("&Fechar");
  std::vector<std::string> events;
  int menus_opened = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QWidget* popup = QApplication::activePopupWidget();
    if (popup == &menu && menu.isVisible()) {
      ++menus_opened;
      menu.close();
    }
  });
  watch.start(20);

  TRxTrayIcon tray;
  tray.SetHint("Gerenciador de Impressão");
  tray.SetPopupMenu(&menu);
  tray.OnMouseDown = [&](report::TComponent*, TMouseButton b, TShiftState s, int, int) {
    events.push_back(std::string("down ") + (b == mbRight ? "right" : "other") + ((s & ssRight) ? " R" : ""));
  };
  tray.OnMouseUp = [&](report::TComponent*, TMouseButton b, TShiftState, int, int) {
    events.push_back(std::string("up ") + (b == mbRight ? "right" : "other"));
  };
  TIcon icon;
  icon.LoadFromFile(":/tray/parvel-16.png");
  tray.SetIcon(icon);
  ASSERT_TRUE(tray.Added());
  EXPECT_EQ(area.Backend(), TTrayBackend::StatusNotifierItem);

  EXPECT_TRUE(RunUntil([] { return RegisteredItems().size() == 1; })) << "the item did not register";
  const QStringList items = RegisteredItems();
  ASSERT_EQ(items.size(), 1);
  // The item is ours: the bus knows the process behind the name it registered.
  EXPECT_EQ(QDBusConnection::sessionBus().interface()->servicePid(items.first()).value(),
            static_cast<uint>(QCoreApplication::applicationPid()))
      << items.first().toStdString();

  EXPECT_TRUE(RunUntil([&] { return menus_opened == 1; })) << "the context menu request opened no menu";
  EXPECT_EQ(events, (std::vector<std::string>{"down right R", "up right"}));
  EXPECT_EQ(menu.PopupComponent(), &tray);
  EXPECT_EQ(fechar->text(), "&Fechar");
}

}  // namespace
}  // namespace parvel::tray
