// A StatusNotifierWatcher of the tray tests' own, on the private session bus: it takes the
// watcher's name, says there is a host, writes "registered <service>" for each item that
// registers, and then asks that item for its context menu as a host would on a right click.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdio>

class Watcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)

 public:
  QStringList items() const { return items_; }
  bool hostRegistered() const { return true; }
  int protocolVersion() const { return 0; }

 public Q_SLOTS:
  void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
    // An item may name itself by its service or by its object path.
    const QString name = service.startsWith('/') ? message.service() : service;
    const QString path = service.startsWith('/') ? service : QStringLiteral("/StatusNotifierItem");
    items_ << name;
    std::printf("registered %s\n", qPrintable(name));
    std::fflush(stdout);
    Q_EMIT StatusNotifierItemRegistered(name);
    // After this call has been answered: the item waits for the answer before it serves calls.
    QTimer::singleShot(0, this, [name, path] {
      QDBusMessage call = QDBusMessage::createMethodCall(
          name, path, QStringLiteral("org.kde.StatusNotifierItem"), "ContextMenu");
      call << 20 << 20;
      QDBusConnection::sessionBus().asyncCall(call, 5000);
      std::printf("context menu asked\n");
      std::fflush(stdout);
    });
  }
  void RegisterStatusNotifierHost(const QString&) {}

 Q_SIGNALS:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierItemUnregistered(const QString& service);
  void StatusNotifierHostRegistered();

 private:
  QStringList items_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  Watcher watcher;
  if (!bus.registerObject("/StatusNotifierWatcher", &watcher,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                              QDBusConnection::ExportAllProperties) ||
      !bus.registerService("org.kde.StatusNotifierWatcher")) {
    std::fprintf(stderr, "sni_watcher: cannot take the watcher's name\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}

#include "sni_watcher.moc"
