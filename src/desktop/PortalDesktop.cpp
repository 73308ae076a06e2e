#include "desktop/PortalDesktop.h"

#include "desktop/PortalRequests.h"

#include <linux/input-event-codes.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QThread>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace pavrel {

namespace {

using portal::Path;
using portal::Service;

const QString RemoteDesktopInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString ScreenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr std::uint32_t KeyboardDevice = 1;
constexpr std::uint32_t PointerDevice = 2;
constexpr std::uint32_t MonitorSource = 1;
constexpr std::uint32_t PersistUntilRevoked = 2;
constexpr std::uint32_t FirstVersionWithRestore = 2;
constexpr std::int32_t LeftButtonCode = BTN_LEFT;
constexpr std::uint32_t VerticalAxis = 0;

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
  TPortalWorker(TPortalDesktop::TImpl& Impl, QDBusConnection Bus)
      : FImpl(Impl),
        FBus(Bus),
        FRequests(
            Bus, [this](const std::string& Why) { Fail(Why); }, this) {}

  void Begin();
  void Flush();
  void CloseSession();

 public slots:
  void SessionClosed(const QVariantMap& Details);

 private:
  void Fail(const std::string& Why);
  // The next step, once the portal granted the last one.
  void Then(uint Code, const QVariantMap& Results, void (TPortalWorker::*Next)(const QVariantMap&));
  void SelectDevices(const QVariantMap& Created);
  void SelectSources(const QVariantMap&);
  void Start(const QVariantMap&);
  void Started(const QVariantMap& Results);
  QVariant Session() const { return QVariant::fromValue(QDBusObjectPath(FSession)); }
  QDBusMessage Notify(const QString& Method) const;

  TPortalDesktop::TImpl& FImpl;
  QDBusConnection FBus;
  portal::TRequests FRequests;
  QString FSession;
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
  auto* watcher =
      new QDBusServiceWatcher(Service, FBus, QDBusServiceWatcher::WatchForUnregistration, this);
  connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
          [this] { Fail("the portal went away"); });
  FRequests.Send(RemoteDesktopInterface, QStringLiteral("CreateSession"), {},
                 {{QStringLiteral("session_handle_token"), QStringLiteral("pavrel_session")}},
                 [this](uint Code, const QVariantMap& Results) {
                   Then(Code, Results, &TPortalWorker::SelectDevices);
                 });
}

void TPortalWorker::Then(uint Code, const QVariantMap& Results,
                         void (TPortalWorker::*Next)(const QVariantMap&)) {
  if (Code != 0) {
    Fail(Code == 1 ? "remote control was refused" : "the portal ended the request");
  } else {
    (this->*Next)(Results);
  }
}

void TPortalWorker::SelectDevices(const QVariantMap& Created) {
  FSession = portal::SessionHandle(Created.value(QStringLiteral("session_handle")));
  if (FSession.isEmpty()) {
    Fail("the portal gave no session");
    return;
  }
  FBus.connect(Service, FSession, SessionInterface, QStringLiteral("Closed"), this,
               SLOT(SessionClosed(QVariantMap)));
  QVariantMap options{{QStringLiteral("types"), KeyboardDevice | PointerDevice}};
  if (FImpl.Version >= FirstVersionWithRestore) {
    options.insert(QStringLiteral("persist_mode"), PersistUntilRevoked);
    if (!FImpl.Options.RestoreToken.empty()) {
      options.insert(QStringLiteral("restore_token"),
                     QString::fromStdString(FImpl.Options.RestoreToken));
    }
  }
  FRequests.Send(RemoteDesktopInterface, QStringLiteral("SelectDevices"), {Session()}, options,
                 [this](uint Code, const QVariantMap& Results) {
                   Then(Code, Results, &TPortalWorker::SelectSources);
                 });
}

void TPortalWorker::SelectSources(const QVariantMap&) {
  FRequests.Send(ScreenCastInterface, QStringLiteral("SelectSources"), {Session()},
                 {{QStringLiteral("types"), MonitorSource}, {QStringLiteral("multiple"), false}},
                 [this](uint Code, const QVariantMap& Results) {
                   Then(Code, Results, &TPortalWorker::Start);
                 });
}

void TPortalWorker::Start(const QVariantMap&) {
  FRequests.Send(RemoteDesktopInterface, QStringLiteral("Start"), {Session(), QString()}, {},
                 [this](uint Code, const QVariantMap& Results) {
                   Then(Code, Results, &TPortalWorker::Started);
                 });
}

void TPortalWorker::Started(const QVariantMap& Results) {
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
  FRequests.Cancel();
  if (FImpl.Options.Failed) {
    FImpl.Options.Failed(Why);
  }
}

QDBusMessage TPortalWorker::Notify(const QString& Method) const {
  QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, RemoteDesktopInterface, Method);
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
    FBus.call(QDBusMessage::createMethodCall(Service, FSession, SessionInterface,
                                             QStringLiteral("Close")),
              QDBus::NoBlock);
    FSession.clear();
  }
}

namespace {

// The RemoteDesktop interface's version, once the portal has shown it offers what Pavrel needs.
std::uint32_t ProbeConnection(const QDBusConnection& Bus, int TimeoutMs) {
  const std::uint32_t version =
      portal::ReadProperty(Bus, RemoteDesktopInterface, QStringLiteral("version"), TimeoutMs);
  const std::uint32_t devices = portal::ReadProperty(
      Bus, RemoteDesktopInterface, QStringLiteral("AvailableDeviceTypes"), TimeoutMs);
  if ((devices & PointerDevice) == 0) {
    throw std::runtime_error("the RemoteDesktop portal offers no pointer");
  }
  portal::ReadProperty(Bus, ScreenCastInterface, QStringLiteral("version"), TimeoutMs);
  return version;
}

}  // namespace

std::uint32_t TPortalDesktop::Probe(const TPortalOptions& Options) {
  QString name;
  const QDBusConnection bus = portal::Connect(Options.BusAddress, name);
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
  TImpl& d = *FImpl;
  d.Options = std::move(Options);
  QDBusConnection bus = portal::Connect(d.Options.BusAddress, d.ConnectionName);
  try {
    d.Version = ProbeConnection(bus, d.Options.ProbeTimeoutMs);
  } catch (...) {
    QDBusConnection::disconnectFromBus(d.ConnectionName);
    throw;
  }
  d.Worker = new TPortalWorker(d, bus);
  portal::StartWorker(d.Thread, d.Worker, [worker = d.Worker] { worker->Begin(); });
}

TPortalDesktop::~TPortalDesktop() {
  TImpl& d = *FImpl;
  portal::StopWorker(
      d.Thread, d.Worker, [worker = d.Worker] { worker->CloseSession(); }, d.ConnectionName);
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
