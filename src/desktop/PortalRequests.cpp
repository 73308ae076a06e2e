#include "desktop/PortalRequests.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace pavrel::portal {

const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");

void EnsureQtApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance() != nullptr) {
      return;
    }
    // Qt sets the locale from the environment when it makes its application; the caller's
    // stays.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    static int argc = 1;
    static char name[] = "pavrel";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process: Qt's own globals outlive any owner here.
    static QCoreApplication* const application = new QCoreApplication(argc, argv);
    (void)application;
    std::setlocale(LC_ALL, locale.c_str());
  });
}

QDBusConnection Connect(const std::string& Address, QString& Name) {
  EnsureQtApplication();
  static std::atomic<unsigned> connections{0};
  Name = QStringLiteral("pavrel-portal-%1").arg(++connections);
  // The session bus's address is read here each time: libdbus keeps the first one it saw.
  const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string address = !Address.empty()     ? Address
                              : session != nullptr ? std::string(session)
                                                   : std::string();
  QDBusConnection bus = address.empty()
                            ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, Name)
                            : QDBusConnection::connectToBus(QString::fromStdString(address), Name);
  if (!bus.isConnected()) {
    const std::string why = bus.lastError().message().toStdString();
    QDBusConnection::disconnectFromBus(Name);
    throw std::runtime_error("no session bus (" + why + ")");
  }
  return bus;
}

std::uint32_t ReadProperty(const QDBusConnection& Bus, const QString& Interface,
                           const QString& Name, int TimeoutMs) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << Interface << Name;
  const QDBusMessage reply = Bus.call(get, QDBus::Block, TimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    throw std::runtime_error("no " + Interface.toStdString() + " portal (" +
                             reply.errorMessage().toStdString() + ")");
  }
  return reply.arguments().front().value<QDBusVariant>().variant().toUInt();
}

QString SessionHandle(const QVariant& Value) {
  return Value.canConvert<QDBusObjectPath>() && Value.userType() != QMetaType::QString
             ? Value.value<QDBusObjectPath>().path()
             : Value.toString();
}

void StartWorker(QThread& Thread, QObject* Worker, std::function<void()> Begin) {
  Worker->moveToThread(&Thread);
  QObject::connect(&Thread, &QThread::finished, Worker, &QObject::deleteLater);
  Thread.start();
  QMetaObject::invokeMethod(Worker, std::move(Begin), Qt::QueuedConnection);
}

void StopWorker(QThread& Thread, QObject* Worker, std::function<void()> End,
                const QString& ConnectionName) {
  QMetaObject::invokeMethod(Worker, std::move(End), Qt::BlockingQueuedConnection);
  Thread.quit();
  Thread.wait();
  QDBusConnection::disconnectFromBus(ConnectionName);
}

TRequests::TRequests(QDBusConnection Bus, TError Failed, QObject* Parent)
    : QObject(Parent), FBus(std::move(Bus)), FFailed(std::move(Failed)) {}

void TRequests::ListenTo(const QString& RequestPath) {
  if (!FRequestPath.isEmpty()) {
    FBus.disconnect(Service, FRequestPath, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"), this, SLOT(Response(uint, QVariantMap)));
  }
  FRequestPath = RequestPath;
  if (!RequestPath.isEmpty()) {
    FBus.connect(Service, RequestPath, QStringLiteral("org.freedesktop.portal.Request"),
                 QStringLiteral("Response"), this, SLOT(Response(uint, QVariantMap)));
  }
}

void TRequests::Cancel() {
  ListenTo({});
  FThen = nullptr;
}

void TRequests::Send(const QString& Interface, const QString& Method, const QVariantList& Arguments,
                     QVariantMap Options, TAnswer Then) {
  // The portal names the request after the caller and this token; listening before the call
  // means an answer that comes at once is not missed.
  const QString token = QStringLiteral("pavrel%1").arg(++FTokens);
  QString sender = FBus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  ListenTo(Path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);
  FThen = std::move(Then);
  Options.insert(QStringLiteral("handle_token"), token);

  QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, Method);
  call.setArguments(Arguments);
  call << Options;
  auto* pending = new QDBusPendingCallWatcher(FBus.asyncCall(call), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this,
          [this, Method, expected = FRequestPath](QDBusPendingCallWatcher* Watcher) {
            Watcher->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *Watcher;
            if (reply.isError()) {
              Cancel();
              FFailed("the portal refused " + Method.toStdString() + ": " +
                      reply.error().message().toStdString());
            } else if (FRequestPath == expected && reply.value().path() != expected) {
              // Portals before 0.9 chose their own path. A response may come before this
              // reply: then the chain has moved on and the listener is already the next one.
              ListenTo(reply.value().path());
            }
          });
}

void TRequests::Response(uint Code, const QVariantMap& Results) {
  ListenTo({});
  // Then may send the next request, which sets a new FThen.
  const TAnswer then = std::exchange(FThen, nullptr);
  if (then) {
    then(Code, Results);
  }
}

}  // namespace pavrel::portal
