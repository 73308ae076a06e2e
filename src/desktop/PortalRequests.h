#pragma once

// The desktop portal's ways over QtDBus, shared by the portal backends (private to
// src/desktop): a connection of one's own, the properties that tell what the portal offers,
// and the request pattern (a call names its Request object by a token; the answer comes as
// that object's Response signal).

#include <QDBusConnection>
#include <QObject>
#include <QThread>
#include <QVariantList>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <string>

namespace pavrel::portal {

extern const QString Service;  // org.freedesktop.portal.Desktop
extern const QString Path;     // /org/freedesktop/portal/desktop

// pavrel-track has no Qt application object, and QtDBus and a backend's event loop need one.
void EnsureQtApplication();

// A connection of its own to Address, or to the session bus when empty, under a new name.
// Throws std::runtime_error "no session bus (...)".
QDBusConnection Connect(const std::string& Address, QString& Name);

// A property of the portal's Interface; throws std::runtime_error "no Interface portal (...)"
// when there is none or it does not answer within TimeoutMs.
std::uint32_t ReadProperty(const QDBusConnection& Bus, const QString& Interface,
                           const QString& Name, int TimeoutMs);

// A session handle from a CreateSession response: documented as an object path, sent as a
// string by portals.
QString SessionHandle(const QVariant& Value);

// Moves Worker onto Thread (which deletes it when it ends), starts the thread and queues
// Begin there.
void StartWorker(QThread& Thread, QObject* Worker, std::function<void()> Begin);
// Runs End on the worker's thread and waits for that thread only (which never waits for the
// portal), ends the thread and lets go of the named connection.
void StopWorker(QThread& Thread, QObject* Worker, std::function<void()> End,
                const QString& ConnectionName);

// One request at a time, answered on the owner's thread.
class TRequests : public QObject {
  Q_OBJECT

 public:
  using TAnswer = std::function<void(uint Code, const QVariantMap& Results)>;
  using TError = std::function<void(const std::string& Why)>;

  TRequests(QDBusConnection Bus, TError Failed, QObject* Parent);

  // Calls Interface.Method(Arguments..., Options with a new handle_token); Then gets the
  // Response. A refused call goes to Failed.
  void Send(const QString& Interface, const QString& Method, const QVariantList& Arguments,
            QVariantMap Options, TAnswer Then);
  // Stops waiting for the current answer.
  void Cancel();

 private slots:
  void Response(uint Code, const QVariantMap& Results);

 private:
  void ListenTo(const QString& RequestPath);

  QDBusConnection FBus;
  TError FFailed;
  TAnswer FThen;
  QString FRequestPath;
  unsigned FTokens = 0;
};

}  // namespace pavrel::portal
