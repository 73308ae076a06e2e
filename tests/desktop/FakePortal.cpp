#include "desktop/FakePortal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/Process.h"

namespace {

// One entry of Start's "streams": a(ua{sv}); its "size" is (ii).
struct TFakeStream {
  uint Node = 0;
  QVariantMap Properties;
};
struct TFakeSize {
  int Width = 0;
  int Height = 0;
};

}  // namespace

Q_DECLARE_METATYPE(TFakeStream)
Q_DECLARE_METATYPE(TFakeSize)

namespace {

QDBusArgument& operator<<(QDBusArgument& Out, const TFakeStream& Stream) {
  Out.beginStructure();
  Out << Stream.Node << Stream.Properties;
  Out.endStructure();
  return Out;
}
const QDBusArgument& operator>>(const QDBusArgument& In, TFakeStream& Stream) {
  In.beginStructure();
  In >> Stream.Node >> Stream.Properties;
  In.endStructure();
  return In;
}
QDBusArgument& operator<<(QDBusArgument& Out, const TFakeSize& Size) {
  Out.beginStructure();
  Out << Size.Width << Size.Height;
  Out.endStructure();
  return Out;
}
const QDBusArgument& operator>>(const QDBusArgument& In, TFakeSize& Size) {
  In.beginStructure();
  In >> Size.Width >> Size.Height;
  In.endStructure();
  return In;
}

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ControlPath = QStringLiteral("/org/pavrel/test/FakePortal");
const QString ControlInterface = QStringLiteral("org.pavrel.test.FakePortal");

// "name key=value key=value", options in key order.
QString Line(const QString& Name, const QVariantMap& Options, const QString& Rest = {}) {
  QString line = Name;
  if (!Rest.isEmpty()) {
    line += QLatin1Char(' ') + Rest;
  }
  for (auto option = Options.begin(); option != Options.end(); ++option) {
    line += QLatin1Char(' ') + option.key() + QLatin1Char('=') + option.value().toString();
  }
  return line;
}

}  // namespace

namespace pavrel {

class TRemoteDesktopAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
  Q_PROPERTY(uint version READ version)
  Q_PROPERTY(uint AvailableDeviceTypes READ AvailableDeviceTypes)

 public:
  explicit TRemoteDesktopAdaptor(TFakePortal* Portal) : QDBusAbstractAdaptor(Portal), F(*Portal) {}
  uint version() const { return F.Config().Version; }
  uint AvailableDeviceTypes() const { return 3; }

 public slots:
  QDBusObjectPath CreateSession(const QVariantMap& Options, const QDBusMessage& Message) {
    F.Record(Line(QStringLiteral("CreateSession"), Options));
    const QString request = F.RequestPath(Message, Options);
    F.SetSession(PortalPath + QStringLiteral("/session/") +
                 Options.value(QStringLiteral("session_handle_token")).toString());
    // Portals send the session handle as a string.
    F.Respond(request, 0, {{QStringLiteral("session_handle"), F.SessionPath()}});
    return QDBusObjectPath(request);
  }
  QDBusObjectPath SelectDevices(const QDBusObjectPath& Session, const QVariantMap& Options,
                                const QDBusMessage& Message) {
    F.Record(Line(QStringLiteral("SelectDevices"), Options, Session.path()));
    const QString request = F.RequestPath(Message, Options);
    F.Respond(request, 0, {});
    return QDBusObjectPath(request);
  }
  QDBusObjectPath Start(const QDBusObjectPath& Session, const QString& Parent,
                        const QVariantMap& Options, const QDBusMessage& Message) {
    F.Record(Line(QStringLiteral("Start"), Options,
                  Session.path() + QStringLiteral(" parent=") + Parent));
    const QString request = F.RequestPath(Message, Options);
    if (F.Config().Refuse) {
      F.Respond(request, 1, {});
    } else {
      F.Respond(request, 0, F.StartResults(Options));
    }
    return QDBusObjectPath(request);
  }
  void NotifyPointerMotionAbsolute(const QDBusObjectPath&, const QVariantMap&, uint Stream,
                                   double X, double Y) {
    F.Record(QStringLiteral("NotifyPointerMotionAbsolute stream=%1 x=%2 y=%3")
                 .arg(Stream)
                 .arg(X)
                 .arg(Y));
  }
  void NotifyPointerButton(const QDBusObjectPath&, const QVariantMap&, int Button, uint State) {
    F.Record(QStringLiteral("NotifyPointerButton button=%1 state=%2").arg(Button).arg(State));
  }
  void NotifyPointerAxisDiscrete(const QDBusObjectPath&, const QVariantMap&, uint Axis, int Steps) {
    F.Record(QStringLiteral("NotifyPointerAxisDiscrete axis=%1 steps=%2").arg(Axis).arg(Steps));
  }
  void NotifyKeyboardKeysym(const QDBusObjectPath&, const QVariantMap&, int Keysym, uint State) {
    F.Record(
        QStringLiteral("NotifyKeyboardKeysym keysym=0x%1 state=%2").arg(Keysym, 0, 16).arg(State));
  }

 private:
  TFakePortal& F;
};

class TScreenCastAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
  Q_PROPERTY(uint version READ version)

 public:
  explicit TScreenCastAdaptor(TFakePortal* Portal) : QDBusAbstractAdaptor(Portal), F(*Portal) {}
  uint version() const { return 4; }

 public slots:
  QDBusObjectPath SelectSources(const QDBusObjectPath& Session, const QVariantMap& Options,
                                const QDBusMessage& Message) {
    F.Record(Line(QStringLiteral("SelectSources"), Options, Session.path()));
    const QString request = F.RequestPath(Message, Options);
    F.Respond(request, 0, {});
    return QDBusObjectPath(request);
  }

 private:
  TFakePortal& F;
};

// The session object, which the client closes when it is done.
class TSession : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

 public:
  TSession(TFakePortal& Portal, QString Path) : F(Portal), FPath(std::move(Path)) {}

 public slots:
  void Close() { F.Record(QStringLiteral("Session.Close ") + FPath); }

 private:
  TFakePortal& F;
  QString FPath;
};

// The test's handle on the fake, on its own path so it never mixes with the portal's.
class TControl : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.pavrel.test.FakePortal")

 public:
  explicit TControl(TFakePortal& Portal) : F(Portal) {}

 public slots:
  QStringList Calls() const { return F.Calls(); }
  void CloseSession() { F.CloseSession(); }

 private:
  TFakePortal& F;
};

TFakePortal::TFakePortal(QDBusConnection Bus, const TFakePortalConfig& Config)
    : FBus(std::move(Bus)), FConfig(Config) {
  qDBusRegisterMetaType<TFakeSize>();
  qDBusRegisterMetaType<TFakeStream>();
  qDBusRegisterMetaType<QList<TFakeStream>>();
  new TRemoteDesktopAdaptor(this);
  new TScreenCastAdaptor(this);
  auto* control = new TControl(*this);
  control->setParent(this);
  if (!FBus.registerObject(PortalPath, this, QDBusConnection::ExportAdaptors) ||
      !FBus.registerObject(ControlPath, control, QDBusConnection::ExportAllSlots) ||
      !FBus.registerService(PortalService)) {
    throw std::runtime_error("the fake portal could not register: " +
                             FBus.lastError().message().toStdString());
  }
}

TFakePortal::~TFakePortal() {
  FBus.unregisterService(PortalService);
  FBus.unregisterObject(ControlPath);
  FBus.unregisterObject(PortalPath);
}

void TFakePortal::SetSession(const QString& Path) {
  FSession = Path;
  auto* session = new TSession(*this, Path);
  session->setParent(this);
  FBus.registerObject(Path, session, QDBusConnection::ExportAllSlots);
}

void TFakePortal::Record(const QString& Line) {
  FCalls.push_back(Line);
  if (Recorded) {
    Recorded(Line);
  }
}

QString TFakePortal::RequestPath(const QDBusMessage& Message, const QVariantMap& Options) {
  QString sender = Message.service().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  QString token = Options.value(QStringLiteral("handle_token")).toString();
  if (token.isEmpty()) {
    token = QStringLiteral("fake%1").arg(++FTokens);
  }
  return PortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void TFakePortal::Respond(const QString& Request, unsigned Code, const QVariantMap& Results) {
  // After the method's own reply, as the portal does once the user has answered.
  QTimer::singleShot(0, this, [this, Request, Code, Results] {
    QDBusMessage response = QDBusMessage::createSignal(
        Request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    response << Code << Results;
    FBus.send(response);
  });
}

QVariantMap TFakePortal::StartResults(const QVariantMap& Options) {
  (void)Options;
  const QVariantMap stream{
      {QStringLiteral("size"), QVariant::fromValue(TFakeSize{FConfig.Width, FConfig.Height})},
      {QStringLiteral("source_type"), 1u}};
  QVariantMap results{{QStringLiteral("devices"), 3u},
                      {QStringLiteral("streams"),
                       QVariant::fromValue(QList<TFakeStream>{TFakeStream{FConfig.Node, stream}})}};
  if (FConfig.Version >= 2) {
    results.insert(QStringLiteral("restore_token"), QStringLiteral("grant-%1").arg(++FTokens));
  }
  return results;
}

void TFakePortal::CloseSession() {
  Record(QStringLiteral("Closed"));
  QDBusMessage closed = QDBusMessage::createSignal(
      FSession, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"));
  closed << QVariantMap();
  FBus.send(closed);
}

namespace {

std::string MakeFolder() {
  std::string folder = (std::filesystem::temp_directory_path() / "pavrel-portal-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  return folder;
}

}  // namespace

TFakePortalBus::TFakePortalBus(const TFakePortalConfig& Config) : FDir(MakeFolder()) {
  if (QCoreApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
  }
  const std::string socket = FDir + "/bus";
  FAddress = "unix:path=" + socket;
  {
    std::ofstream config(FDir + "/bus.conf");
    config << "<busconfig><type>session</type><listen>" << FAddress
           << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
              "<allow own=\"*\"/></policy></busconfig>\n";
  }
  FLogFd = ::open((FDir + "/log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  FDaemon = Spawn(FindInPath("dbus-daemon"), {"--config-file=" + FDir + "/bus.conf", "--nofork"},
                  {}, FLogFd, -1);
  static std::atomic<unsigned> connections{0};
  FConnection = QStringLiteral("fake-portal-control-%1").arg(++connections);
  // The socket exists a moment before the daemon listens on it: connect until it does.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    if (std::filesystem::exists(socket) &&
        QDBusConnection::connectToBus(QString::fromStdString(FAddress), FConnection)
            .isConnected()) {
      break;
    }
    QDBusConnection::disconnectFromBus(FConnection);
    if (std::chrono::steady_clock::now() > deadline || Exited(FDaemon)) {
      std::ifstream log(FDir + "/log");
      throw std::runtime_error("dbus-daemon did not start: " +
                               std::string(std::istreambuf_iterator<char>(log), {}));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!Config.OwnProcess) {
    return;
  }
  const char* program = std::getenv("PAVREL_FAKE_PORTAL");
  if (program == nullptr) {
    throw std::runtime_error("PAVREL_FAKE_PORTAL names no fake portal program");
  }
  FPortal = Spawn(program,
                  {FAddress, std::to_string(Config.Version), std::to_string(Config.Width),
                   std::to_string(Config.Height), std::to_string(Config.Node),
                   Config.Refuse ? "refuse" : "grant"},
                  {}, FLogFd, -1);
  const QDBusConnection bus(FConnection);
  while (!bus.interface()->isServiceRegistered(PortalService).value()) {
    if (std::chrono::steady_clock::now() > deadline || Exited(FPortal)) {
      std::ifstream log(FDir + "/log");
      throw std::runtime_error("the fake portal did not start: " +
                               std::string(std::istreambuf_iterator<char>(log), {}));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TFakePortalBus::~TFakePortalBus() {
  QDBusConnection::disconnectFromBus(FConnection);
  if (FPortal > 0) {
    ::kill(FPortal, SIGCONT);
  }
  StopProcess(FPortal);
  StopProcess(FDaemon);
  if (FLogFd >= 0) {
    ::close(FLogFd);
  }
  std::error_code ignored;
  std::filesystem::remove_all(FDir, ignored);
}

QStringList TFakePortalBus::Calls() const {
  QDBusMessage call = QDBusMessage::createMethodCall(PortalService, ControlPath, ControlInterface,
                                                     QStringLiteral("Calls"));
  const QDBusReply<QStringList> reply = QDBusConnection(FConnection).call(call, QDBus::Block, 1000);
  return reply.isValid() ? reply.value() : QStringList();
}

QStringList TFakePortalBus::WaitForCall(const QString& Prefix,
                                        std::chrono::milliseconds Timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    const QStringList calls = Calls();
    for (const QString& call : calls) {
      if (call.startsWith(Prefix)) {
        return calls;
      }
    }
    if (std::chrono::steady_clock::now() > deadline) {
      return calls;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TFakePortalBus::CloseSession() const {
  QDBusConnection(FConnection)
      .call(QDBusMessage::createMethodCall(PortalService, ControlPath, ControlInterface,
                                           QStringLiteral("CloseSession")),
            QDBus::Block, 5000);
}

void TFakePortalBus::StopPortal() {
  StopProcess(FPortal);
  FPortal = -1;
}

}  // namespace pavrel

#include "FakePortal.moc"
