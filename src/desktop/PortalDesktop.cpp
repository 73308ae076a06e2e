#include "desktop/PortalDesktop.h"

#include <linux/input-event-codes.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QThread>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace pavrel {

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString RemoteDesktopInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString ScreenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr std::uint32_t KeyboardDevice = 1;
constexpr std::uint32_t PointerDevice = 2;
constexpr std::uint32_t MonitorSource = 1;
constexpr std::uint32_t PersistUntilRevoked = 2;
constexpr std::uint32_t FirstVersionWithRestore = 2;
constexpr std::int32_t LeftButtonCode = BTN_LEFT;
constexpr std::uint32_t VerticalAxis = 0;

// pavrel-track has no Qt application object, and QtDBus and the backend's event loop need
// one. Qt sets the locale from the environment when it makes one; the caller's stays.
void EnsureQtApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance() != nullptr) {
      return;
    }
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

std::uint32_t ReadProperty(const QDBusConnection& Bus, const QString& Interface,
                           const QString& Name, int TimeoutMs) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      PortalService, PortalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  get << Interface << Name;
  const QDBusMessage reply = Bus.call(get, QDBus::Block, TimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    throw std::runtime_error("no " + Interface.toStdString() + " portal (" +
                             reply.errorMessage().toStdString() + ")");
  }
  return reply.arguments().front().value<QDBusVariant>().variant().toUInt();
}

struct TOp {
  enum TKind { Move, Button, Axis, Key } Kind = Move;
  double X = 0;
  double Y = 0;
  std::int32_t Code = 0;
  std::uint32_t Value = 0;
};

// The first stream of a Start response: its node and logical size.
bool FirstStream(const QVariant& Streams, std::uint32_t& Node, int& Width, int& Height) {
  if (!Streams.canConvert<QDBusArgument>()) {
    return false;
  }
  const QDBusArgument list = Streams.value<QDBusArgument>();
  bool found = false;
  list.beginArray();
  while (!list.atEnd()) {
    std::uint32_t node = 0;
    QVariantMap properties;
    list.beginStructure();
    list >> node >> properties;
    list.endStructure();
    const QVariant size = properties.value(QStringLiteral("size"));
    if (!found && size.canConvert<QDBusArgument>()) {
      const QDBusArgument pair = size.value<QDBusArgument>();
      pair.beginStructure();
      pair >> Width >> Height;
      pair.endStructure();
      Node = node;
      found = Width > 0 && Height > 0;
    }
  }
  list.endArray();
  return found;
}

}  // namespace

// Lives on the backend's thread: the request chain, the session's signals and the sends.
class TPortalWorker : public QObject {
  Q_OBJECT

 public:
  TPortalWorker(TPortalDesktop::TImpl& Impl, QDBusConnection Bus) : FImpl(Impl), FBus(Bus) {}

  void Begin();
  void Flush();
  void CloseSession();

 public slots:
  void Response(uint Code, const QVariantMap& Results);
  void SessionClosed(const QVariantMap& Details);

 private:
  enum class TStep { CreateSession, SelectDevices, SelectSources, Start, Done };
  void Request(const QString& Interface, const QString& Method, QVariantMap Options,
               bool WithSession, bool WithParent = false);
  void ListenTo(const QString& RequestPath);
  void Fail(const std::string& Why);
  QDBusMessage Notify(const QString& Method) const;

  TPortalDesktop::TImpl& FImpl;
  QDBusConnection FBus;
  TStep FStep = TStep::CreateSession;
  QString FRequestPath;
  QString FSession;
  unsigned FTokens = 0;
};

struct TPortalDesktop::TImpl {
  TPortalOptions Options;
  std::uint32_t Version = 0;
  QString ConnectionName;
  QThread Thread;
  TPortalWorker* Worker = nullptr;

  std::atomic<TPortalState> State{TPortalState::Starting};
  std::atomic<int> Width{0};
  std::atomic<int> Height{0};
  std::atomic<std::uint32_t> Node{0};

  mutable std::mutex Lock;
  std::string Failure;
  std::vector<TOp> Pending;
  bool Posted = false;

  void Submit(const TOp& Op) {
    if (State.load() != TPortalState::Active) {
      return;
    }
    {
      const std::lock_guard<std::mutex> lock(Lock);
      if (Op.Kind == TOp::Move && !Pending.empty() && Pending.back().Kind == TOp::Move) {
        Pending.back() = Op;  // only the latest position matters
      } else {
        Pending.push_back(Op);
      }
      if (Posted) {
        return;
      }
      Posted = true;
    }
    QMetaObject::invokeMethod(Worker, &TPortalWorker::Flush, Qt::QueuedConnection);
  }

  std::vector<TOp> TakePending() {
    const std::lock_guard<std::mutex> lock(Lock);
    Posted = false;
    return std::exchange(Pending, {});
  }
};

void TPortalWorker::Begin() {
  auto* watcher = new QDBusServiceWatcher(PortalService, FBus,
                                          QDBusServiceWatcher::WatchForUnregistration, this);
  connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
          [this] { Fail("the portal went away"); });
  Request(RemoteDesktopInterface, QStringLiteral("CreateSession"),
          {{QStringLiteral("session_handle_token"), QStringLiteral("pavrel_session")}}, false);
}

void TPortalWorker::ListenTo(const QString& RequestPath) {
  if (!FRequestPath.isEmpty()) {
    FBus.disconnect(PortalService, FRequestPath, RequestInterface, QStringLiteral("Response"), this,
                    SLOT(Response(uint, QVariantMap)));
  }
  FRequestPath = RequestPath;
  if (!RequestPath.isEmpty()) {
    FBus.connect(PortalService, RequestPath, RequestInterface, QStringLiteral("Response"), this,
                 SLOT(Response(uint, QVariantMap)));
  }
}

void TPortalWorker::Request(const QString& Interface, const QString& Method, QVariantMap Options,
                            bool WithSession, bool WithParent) {
  // The portal names the request after the caller and this token; listening before the call
  // means an answer that comes at once is not missed.
  const QString token = QStringLiteral("pavrel%1").arg(++FTokens);
  QString sender = FBus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  ListenTo(PortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);
  Options.insert(QStringLiteral("handle_token"), token);

  QDBusMessage call = QDBusMessage::createMethodCall(PortalService, PortalPath, Interface, Method);
  if (WithSession) {
    call << QVariant::fromValue(QDBusObjectPath(FSession));
  }
  if (WithParent) {
    call << QString();
  }
  call << Options;
  auto* pending = new QDBusPendingCallWatcher(FBus.asyncCall(call), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this,
          [this, Method, expected = FRequestPath](QDBusPendingCallWatcher* Watcher) {
            Watcher->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *Watcher;
            if (reply.isError()) {
              Fail("the portal refused " + Method.toStdString() + ": " +
                   reply.error().message().toStdString());
            } else if (FRequestPath == expected && reply.value().path() != expected) {
              // Portals before 0.9 chose their own path. A response may come before this
              // reply: then the chain has moved on and the listener is already the next one.
              ListenTo(reply.value().path());
            }
          });
}

void TPortalWorker::Response(uint Code, const QVariantMap& Results) {
  ListenTo({});
  if (Code != 0) {
    Fail(Code == 1 ? "remote control was refused" : "the portal ended the request");
    return;
  }
  switch (FStep) {
    case TStep::CreateSession: {
      const QVariant session = Results.value(QStringLiteral("session_handle"));
      // Documented as an object path; portals send a string.
      FSession = session.canConvert<QDBusObjectPath>() && session.userType() != QMetaType::QString
                     ? session.value<QDBusObjectPath>().path()
                     : session.toString();
      if (FSession.isEmpty()) {
        Fail("the portal gave no session");
        return;
      }
      FBus.connect(PortalService, FSession, SessionInterface, QStringLiteral("Closed"), this,
                   SLOT(SessionClosed(QVariantMap)));
      QVariantMap options{{QStringLiteral("types"), KeyboardDevice | PointerDevice}};
      if (FImpl.Version >= FirstVersionWithRestore) {
        options.insert(QStringLiteral("persist_mode"), PersistUntilRevoked);
        if (!FImpl.Options.RestoreToken.empty()) {
          options.insert(QStringLiteral("restore_token"),
                         QString::fromStdString(FImpl.Options.RestoreToken));
        }
      }
      FStep = TStep::SelectDevices;
      Request(RemoteDesktopInterface, QStringLiteral("SelectDevices"), options, true);
      return;
    }
    case TStep::SelectDevices:
      FStep = TStep::SelectSources;
      Request(ScreenCastInterface, QStringLiteral("SelectSources"),
              {{QStringLiteral("types"), MonitorSource}, {QStringLiteral("multiple"), false}},
              true);
      return;
    case TStep::SelectSources:
      FStep = TStep::Start;
      Request(RemoteDesktopInterface, QStringLiteral("Start"), {}, true, true);
      return;
    case TStep::Start: {
      FStep = TStep::Done;
      if ((Results.value(QStringLiteral("devices")).toUInt() & PointerDevice) == 0) {
        Fail("the pointer was not shared");
        return;
      }
      std::uint32_t node = 0;
      int width = 0;
      int height = 0;
      if (!FirstStream(Results.value(QStringLiteral("streams")), node, width, height)) {
        Fail("no monitor was shared");
        return;
      }
      FImpl.Node = node;
      FImpl.Width = width;
      FImpl.Height = height;
      const QString token = Results.value(QStringLiteral("restore_token")).toString();
      if (!token.isEmpty() && FImpl.Options.TokenChanged) {
        FImpl.Options.TokenChanged(token.toStdString());
      }
      FImpl.State = TPortalState::Active;
      return;
    }
    case TStep::Done:
      return;
  }
}

void TPortalWorker::SessionClosed(const QVariantMap&) {
  FSession.clear();
  Fail("the desktop ended remote control");
}

void TPortalWorker::Fail(const std::string& Why) {
  {
    const std::lock_guard<std::mutex> lock(FImpl.Lock);
    if (FImpl.State.load() == TPortalState::Failed) {
      return;
    }
    FImpl.Failure = Why;
    FImpl.State = TPortalState::Failed;
  }
  FStep = TStep::Done;
  ListenTo({});
  if (FImpl.Options.Failed) {
    FImpl.Options.Failed(Why);
  }
}

QDBusMessage TPortalWorker::Notify(const QString& Method) const {
  QDBusMessage call =
      QDBusMessage::createMethodCall(PortalService, PortalPath, RemoteDesktopInterface, Method);
  call << QVariant::fromValue(QDBusObjectPath(FSession)) << QVariantMap();
  return call;
}

void TPortalWorker::Flush() {
  for (const TOp& op : FImpl.TakePending()) {
    if (FImpl.State.load() != TPortalState::Active) {
      return;
    }
    QDBusMessage call;
    switch (op.Kind) {
      case TOp::Move:
        call = Notify(QStringLiteral("NotifyPointerMotionAbsolute"));
        call << FImpl.Node.load() << op.X << op.Y;
        break;
      case TOp::Button:
        call = Notify(QStringLiteral("NotifyPointerButton"));
        call << op.Code << op.Value;
        break;
      case TOp::Axis:
        call = Notify(QStringLiteral("NotifyPointerAxisDiscrete"));
        call << op.Value << op.Code;
        break;
      case TOp::Key:
        call = Notify(QStringLiteral("NotifyKeyboardKeysym"));
        call << op.Code << op.Value;
        break;
    }
    // No reply is waited for: a refused notification changes nothing here.
    FBus.call(call, QDBus::NoBlock);
  }
}

void TPortalWorker::CloseSession() {
  if (!FSession.isEmpty()) {
    FBus.call(QDBusMessage::createMethodCall(PortalService, FSession, SessionInterface,
                                             QStringLiteral("Close")),
              QDBus::NoBlock);
    FSession.clear();
  }
}

namespace {

// A connection of its own, so that the backend's thread owns everything on it. The session
// bus's address is read here each time: libdbus keeps the first one it saw.
QDBusConnection Connect(const TPortalOptions& Options, const QString& Name) {
  const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string address = !Options.BusAddress.empty() ? Options.BusAddress
                              : session != nullptr        ? std::string(session)
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

// The RemoteDesktop interface's version, once the portal has shown it offers what Pavrel needs.
std::uint32_t ProbeConnection(const QDBusConnection& Bus, int TimeoutMs) {
  const std::uint32_t version =
      ReadProperty(Bus, RemoteDesktopInterface, QStringLiteral("version"), TimeoutMs);
  const std::uint32_t devices =
      ReadProperty(Bus, RemoteDesktopInterface, QStringLiteral("AvailableDeviceTypes"), TimeoutMs);
  if ((devices & PointerDevice) == 0) {
    throw std::runtime_error("the RemoteDesktop portal offers no pointer");
  }
  ReadProperty(Bus, ScreenCastInterface, QStringLiteral("version"), TimeoutMs);
  return version;
}

QString ConnectionName() {
  static std::atomic<unsigned> connections{0};
  return QStringLiteral("pavrel-portal-%1").arg(++connections);
}

}  // namespace

std::uint32_t TPortalDesktop::Probe(const TPortalOptions& Options) {
  EnsureQtApplication();
  const QString name = ConnectionName();
  const QDBusConnection bus = Connect(Options, name);
  try {
    const std::uint32_t version = ProbeConnection(bus, Options.ProbeTimeoutMs);
    QDBusConnection::disconnectFromBus(name);
    return version;
  } catch (...) {
    QDBusConnection::disconnectFromBus(name);
    throw;
  }
}

TPortalDesktop::TPortalDesktop(TDesktopFamily Family, TPortalOptions Options)
    : TShortcutWindows(Family), FImpl(std::make_unique<TImpl>()) {
  EnsureQtApplication();
  TImpl& d = *FImpl;
  d.Options = std::move(Options);
  d.ConnectionName = ConnectionName();
  QDBusConnection bus = Connect(d.Options, d.ConnectionName);
  try {
    d.Version = ProbeConnection(bus, d.Options.ProbeTimeoutMs);
  } catch (...) {
    QDBusConnection::disconnectFromBus(d.ConnectionName);
    throw;
  }
  d.Worker = new TPortalWorker(d, bus);
  d.Worker->moveToThread(&d.Thread);
  QObject::connect(&d.Thread, &QThread::finished, d.Worker, &QObject::deleteLater);
  d.Thread.start();
  QMetaObject::invokeMethod(d.Worker, &TPortalWorker::Begin, Qt::QueuedConnection);
}

TPortalDesktop::~TPortalDesktop() {
  TImpl& d = *FImpl;
  // Waits for the backend's own thread only, which never waits for the portal.
  QMetaObject::invokeMethod(d.Worker, &TPortalWorker::CloseSession, Qt::BlockingQueuedConnection);
  d.Thread.quit();
  d.Thread.wait();
  QDBusConnection::disconnectFromBus(d.ConnectionName);
}

std::uint32_t TPortalDesktop::PortalVersion() const {
  return FImpl->Version;
}

TPortalState TPortalDesktop::State() const {
  return FImpl->State.load();
}

std::string TPortalDesktop::Failure() const {
  const std::lock_guard<std::mutex> lock(FImpl->Lock);
  return FImpl->Failure;
}

void TPortalDesktop::MovePointer(std::int32_t X, std::int32_t Y) {
  // The pixel X11 would pick, in the stream's logical coordinates.
  const auto pixel = [](std::int32_t Units, int Size) {
    return static_cast<double>(std::clamp<std::int64_t>(Units, 0, 65535) * Size / 65536);
  };
  TOp op;
  op.X = pixel(X, FImpl->Width.load());
  op.Y = pixel(Y, FImpl->Height.load());
  FImpl->Submit(op);
}

void TPortalDesktop::Wheel(std::int32_t Amount) {
  TOp op;
  op.Kind = TOp::Axis;
  op.Code = -Amount / 120;  // the portal's positive steps scroll down
  op.Value = VerticalAxis;
  if (op.Code != 0) {
    FImpl->Submit(op);
  }
}

void TPortalDesktop::LeftButtonDown() {
  FImpl->Submit({TOp::Button, 0, 0, LeftButtonCode, 1});
}

void TPortalDesktop::LeftButtonUp() {
  FImpl->Submit({TOp::Button, 0, 0, LeftButtonCode, 0});
}

void TPortalDesktop::PressKeys(const std::vector<int>& Keys) {
  for (const int key : Keys) {
    FImpl->Submit({TOp::Key, 0, 0, KeysymOfKey(key), 1});
  }
  for (auto key = Keys.rbegin(); key != Keys.rend(); ++key) {
    FImpl->Submit({TOp::Key, 0, 0, KeysymOfKey(*key), 0});
  }
}

std::int32_t KeysymOfKey(int Key) {
  switch (Key) {
    case KEY_LEFTMETA:
      return 0xffeb;  // Super_L
    case KEY_LEFTALT:
      return 0xffe9;  // Alt_L
    case KEY_H:
      return 0x0068;  // h
    case KEY_ESC:
      return 0xff1b;  // Escape
    case KEY_TAB:
      return 0xff09;  // Tab
    case KEY_PAGEDOWN:
      return 0xff56;  // Next
    default:
      return 0;
  }
}

}  // namespace pavrel

#include "PortalDesktop.moc"
