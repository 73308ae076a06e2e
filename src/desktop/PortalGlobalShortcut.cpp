#include "desktop/PortalGlobalShortcut.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QThread>
#include <atomic>
#include <cctype>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "desktop/PortalRequests.h"

namespace {

// One entry of BindShortcuts' a(sa{sv}): the shortcut's id and its properties.
struct TShortcutEntry {
  QString Id;
  QVariantMap Properties;
};

}  // namespace

Q_DECLARE_METATYPE(TShortcutEntry)

namespace {

QDBusArgument& operator<<(QDBusArgument& Out, const TShortcutEntry& Entry) {
  Out.beginStructure();
  Out << Entry.Id << Entry.Properties;
  Out.endStructure();
  return Out;
}

const QDBusArgument& operator>>(const QDBusArgument& In, TShortcutEntry& Entry) {
  In.beginStructure();
  In >> Entry.Id >> Entry.Properties;
  In.endStructure();
  return In;
}

const QString ShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

}  // namespace

namespace pavrel {

// Lives on the shortcut's thread: the binding and the Activated signal.
class TShortcutWorker : public QObject {
  Q_OBJECT

 public:
  TShortcutWorker(const TPortalShortcutOptions& Options, QDBusConnection Bus)
      : FOptions(Options),
        FBus(Bus),
        FRequests(
            Bus, [this](const std::string& Why) { Fail(Why); }, this) {}

  void Begin();
  void End();

 public slots:
  void Activated(const QDBusMessage& Message);
  void SessionClosed(const QVariantMap& Details);

 private:
  void Bind(uint Code, const QVariantMap& Results);
  void BindAnswered(uint Code, const QVariantMap& Results);
  void Fail(const std::string& Why);

  const TPortalShortcutOptions& FOptions;
  QDBusConnection FBus;
  portal::TRequests FRequests;
  QString FSession;
  bool FFailed = false;
};

struct TPortalGlobalShortcut::TImpl {
  TPortalShortcutOptions Options;
  QString ConnectionName;
  QThread Thread;
  TShortcutWorker* Worker = nullptr;
};

void TShortcutWorker::Begin() {
  auto* watcher = new QDBusServiceWatcher(portal::Service, FBus,
                                          QDBusServiceWatcher::WatchForUnregistration, this);
  connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
          [this] { Fail("the portal went away"); });
  // The message itself: its object path argument needs no registered type that way.
  FBus.connect(portal::Service, portal::Path, ShortcutsInterface, QStringLiteral("Activated"), this,
               SLOT(Activated(QDBusMessage)));
  FRequests.Send(ShortcutsInterface, QStringLiteral("CreateSession"), {},
                 {{QStringLiteral("session_handle_token"), QStringLiteral("pavrel_shortcuts")}},
                 [this](uint Code, const QVariantMap& Results) { Bind(Code, Results); });
}

void TShortcutWorker::Bind(uint Code, const QVariantMap& Results) {
  FSession = Code == 0 ? portal::SessionHandle(Results.value(QStringLiteral("session_handle")))
                       : QString();
  if (FSession.isEmpty()) {
    Fail("the portal gave no shortcut session");
    return;
  }
  FBus.connect(portal::Service, FSession, QStringLiteral("org.freedesktop.portal.Session"),
               QStringLiteral("Closed"), this, SLOT(SessionClosed(QVariantMap)));
  QVariantMap properties{
      {QStringLiteral("description"), QString::fromStdString(FOptions.Description)}};
  if (!FOptions.PreferredTrigger.empty()) {
    properties.insert(QStringLiteral("preferred_trigger"),
                      QString::fromStdString(FOptions.PreferredTrigger));
  }
  const QList<TShortcutEntry> shortcuts{{QString::fromStdString(FOptions.Id), properties}};
  FRequests.Send(
      ShortcutsInterface, QStringLiteral("BindShortcuts"),
      {QVariant::fromValue(QDBusObjectPath(FSession)), QVariant::fromValue(shortcuts), QString()},
      {}, [this](uint Code, const QVariantMap& Results) { BindAnswered(Code, Results); });
}

void TShortcutWorker::BindAnswered(uint Code, const QVariantMap& Results) {
  if (Code != 0) {
    Fail(Code == 1 ? "the shortcut was refused" : "the portal ended the request");
    return;
  }
  const QVariant bound = Results.value(QStringLiteral("shortcuts"));
  QList<TShortcutEntry> entries;
  if (bound.canConvert<QDBusArgument>()) {
    bound.value<QDBusArgument>() >> entries;
  }
  for (const TShortcutEntry& entry : entries) {
    if (entry.Id.toStdString() == FOptions.Id) {
      if (FOptions.Bound) {
        FOptions.Bound(
            entry.Properties.value(QStringLiteral("trigger_description")).toString().toStdString());
      }
      return;
    }
  }
  Fail("the desktop bound no key to the shortcut");
}

void TShortcutWorker::Activated(const QDBusMessage& Message) {
  const QVariantList arguments = Message.arguments();
  if (arguments.size() < 2 || FFailed || !FOptions.Pressed) {
    return;
  }
  if (arguments[0].value<QDBusObjectPath>().path() == FSession &&
      arguments[1].toString().toStdString() == FOptions.Id) {
    FOptions.Pressed();
  }
}

void TShortcutWorker::SessionClosed(const QVariantMap&) {
  FSession.clear();
  Fail("the desktop ended the shortcut");
}

void TShortcutWorker::Fail(const std::string& Why) {
  if (FFailed) {
    return;
  }
  FFailed = true;
  FRequests.Cancel();
  if (FOptions.Failed) {
    FOptions.Failed(Why);
  }
}

void TShortcutWorker::End() {
  if (!FSession.isEmpty()) {
    FBus.call(QDBusMessage::createMethodCall(portal::Service, FSession,
                                             QStringLiteral("org.freedesktop.portal.Session"),
                                             QStringLiteral("Close")),
              QDBus::NoBlock);
    FSession.clear();
  }
}

TPortalGlobalShortcut::TPortalGlobalShortcut(TPortalShortcutOptions Options)
    : FImpl(std::make_unique<TImpl>()) {
  TImpl& d = *FImpl;
  d.Options = std::move(Options);
  QDBusConnection bus = portal::Connect(d.Options.BusAddress, d.ConnectionName);
  try {
    portal::ReadProperty(bus, ShortcutsInterface, QStringLiteral("version"),
                         d.Options.ProbeTimeoutMs);
  } catch (...) {
    QDBusConnection::disconnectFromBus(d.ConnectionName);
    throw;
  }
  static std::once_flag registered;
  std::call_once(registered, [] {
    qDBusRegisterMetaType<TShortcutEntry>();
    qDBusRegisterMetaType<QList<TShortcutEntry>>();
  });
  d.Worker = new TShortcutWorker(d.Options, bus);
  portal::StartWorker(d.Thread, d.Worker, [worker = d.Worker] { worker->Begin(); });
}

TPortalGlobalShortcut::~TPortalGlobalShortcut() {
  TImpl& d = *FImpl;
  portal::StopWorker(
      d.Thread, d.Worker, [worker = d.Worker] { worker->End(); }, d.ConnectionName);
}

std::string TPortalGlobalShortcut::Trigger(const std::string& Combination) {
  std::string trigger;
  std::vector<std::string> keys;
  // "Ctrl++" ends in the key "+": an empty part before it.
  std::size_t start = 0;
  while (start <= Combination.size()) {
    std::size_t end = Combination.find('+', start);
    if (end == start && end + 1 == Combination.size()) {
      end = Combination.size();  // the last "+" is the key itself
    }
    if (end == std::string::npos) {
      end = Combination.size();
    }
    keys.push_back(Combination.substr(start, end - start));
    start = end + 1;
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::string key = keys[i];
    std::string upper = key;
    for (char& c : upper) {
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const bool last = i + 1 == keys.size();
    if (!last && (upper == "CTRL" || upper == "ALT" || upper == "SHIFT")) {
      key = upper;
    } else if (!last && (upper == "META" || upper == "SUPER")) {
      key = "LOGO";
    } else if (last && key.size() == 1) {
      key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
    }
    trigger += (i > 0 ? "+" : "") + key;
  }
  return trigger;
}

}  // namespace pavrel

#include "PortalGlobalShortcut.moc"
