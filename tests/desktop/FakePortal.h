#pragma once

// A stand-in for the desktop portal's RemoteDesktop and ScreenCast interfaces on a private bus,
// with the real interfaces' signatures, that records every call as one line of text:
//
//   "CreateSession handle_token=pavrel1 session_handle_token=pavrel_session"
//   "NotifyPointerMotionAbsolute stream=44 x=640 y=360"
//
// It answers each request with its Response signal at once: Start grants a keyboard, a pointer
// and one monitor stream of the configured size (or is refused with response 1), and from
// version 2 on hands out a new restore token. A test control interface
// (org.pavrel.test.FakePortal) reads the calls back and ends the session from outside.

#include <sys/types.h>

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <chrono>
#include <functional>
#include <string>

namespace pavrel {

struct TFakePortalConfig {
  unsigned Version = 2;  // the RemoteDesktop interface's
  int Width = 1920;      // the monitor stream's logical size
  int Height = 1080;
  unsigned Node = 44;
  bool Refuse = false;  // Start answers response 1, as a user pressing Cancel
  // TFakePortalBus: false starts only the bus, for a TFakePortal in the caller's process.
  bool OwnProcess = true;
};

class TFakePortal : public QObject {
  Q_OBJECT

 public:
  // Registers the portal's name and object on Bus. Throws std::runtime_error when it cannot.
  TFakePortal(QDBusConnection Bus, const TFakePortalConfig& Config);
  ~TFakePortal() override;

  const TFakePortalConfig& Config() const { return FConfig; }
  // Called with each line as it is recorded, on the fake's thread.
  std::function<void(const QString&)> Recorded;

  // The recorded calls, oldest first.
  QStringList Calls() const { return FCalls; }
  // Emits the session's Closed signal, as a desktop ending remote control does.
  void CloseSession();

  // Recording and answering, for the adaptors.
  void Record(const QString& Line);
  QString RequestPath(const QDBusMessage& Message, const QVariantMap& Options);
  void Respond(const QString& Request, unsigned Code, const QVariantMap& Results);
  QVariantMap StartResults(const QVariantMap& Options);
  QString SessionPath() const { return FSession; }
  void SetSession(const QString& Path);
  QDBusConnection& Bus() { return FBus; }

 private:
  QDBusConnection FBus;
  TFakePortalConfig FConfig;
  QStringList FCalls;
  QString FSession;
  unsigned FTokens = 0;
};

// A private dbus-daemon with the fake portal in its own process (tests/desktop/fake_portal),
// so that a test can stop it with SIGSTOP. Both end with the object.
class TFakePortalBus {
 public:
  explicit TFakePortalBus(const TFakePortalConfig& Config = {});
  ~TFakePortalBus();
  TFakePortalBus(const TFakePortalBus&) = delete;
  TFakePortalBus& operator=(const TFakePortalBus&) = delete;

  const std::string& Address() const { return FAddress; }
  pid_t PortalPid() const { return FPortal; }
  // The calls the portal recorded so far; empty when it does not answer in a second.
  QStringList Calls() const;
  // Waits up to Timeout until a recorded call starts with Prefix; every call when it comes.
  QStringList WaitForCall(const QString& Prefix,
                          std::chrono::milliseconds Timeout = std::chrono::seconds(20)) const;
  void CloseSession() const;
  // Ends the portal's process, as a crashed or stopped portal service.
  void StopPortal();

 private:
  std::string FDir;
  std::string FAddress;
  QString FConnection;
  pid_t FDaemon = -1;
  pid_t FPortal = -1;
  int FLogFd = -1;
};

}  // namespace pavrel
