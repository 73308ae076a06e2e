#include "app/RemoteControl.h"

#include <unistd.h>
#include <QAction>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMetaObject>
#include <QPointer>

#include <stdexcept>

#include "app/MainDialog.h"
#include "app/PointerDialog.h"
#include "desktop/X11GlobalShortcut.h"
#include "mouse/PointerSettings.h"
#include "settings/Settings.h"

namespace pavrel {

TRemoteControl::TRemoteControl(TMainDialog& Window, const QString& Name)
    : QObject(&Window), FWindow(Window) {
  // A socket left by an instance that crashed is taken over; one that answers is not.
  {
    QLocalSocket probe;
    probe.connectToServer(Name);
    if (probe.waitForConnected(200)) {
      FError = "another Pavrel already listens on " + Name;
      return;
    }
  }
  QLocalServer::removeServer(Name);
  FServer = new QLocalServer(this);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  if (!FServer->listen(Name)) {
    FError = FServer->errorString();
    return;
  }
  connect(FServer, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        while (socket->canReadLine()) {
          const QString command = QString::fromUtf8(socket->readLine()).trimmed();
          socket->write((Run(command) + "\n").toUtf8());
          socket->flush();
        }
      });
    }
  });
}

TRemoteControl::~TRemoteControl() = default;

QString TRemoteControl::DefaultName() {
  // The user's private runtime folder where there is one, else a per-user name in /tmp.
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty()) {
    return QString::fromLocal8Bit(runtime) + "/pavrel.socket";
  }
  return QString("pavrel-%1").arg(getuid());
}

bool TRemoteControl::Listening() const {
  return FServer != nullptr && FServer->isListening();
}

std::unique_ptr<TX11GlobalShortcut> TRemoteControl::Grab(const QString& Combination) {
  if (Combination.isEmpty()) {
    return nullptr;
  }
  const TX11GlobalShortcut::TCombination keys =
      TX11GlobalShortcut::Parse(Combination.toStdString());
  QPointer<TRemoteControl> self(this);
  return std::make_unique<TX11GlobalShortcut>(FDisplayName, keys.KeySym, keys.Modifiers, [self] {
    // From the shortcut's thread to the UI thread.
    QMetaObject::invokeMethod(
        self.data(),
        [self] {
          if (self) {
            self->Run("toggle-tracking");
          }
        },
        Qt::QueuedConnection);
  });
}

QString TRemoteControl::GrabShortcut(const std::string& DisplayName) {
  FDisplayName = DisplayName;
  const TStoreValues values = ReadUserStoreValues();
  const auto stored = values.find(ShortcutValue);
  const QString combination =
      stored == values.end() ? QString(DefaultShortcut) : QString::fromStdString(stored->second);
  // The dialog can change the shortcut even when the stored one could not be grabbed.
  if (TPointerDialog* dialog = FWindow.PointerDialog()) {
    dialog->SetShortcutHandler(
        [this] { return FCombination; },
        [this](const QString& Combination) { return ChangeShortcut(Combination); });
  }
  FCombination = combination;
  try {
    FShortcut = Grab(combination);
    return {};
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  }
}

QString TRemoteControl::ChangeShortcut(const QString& Combination) {
  if (Combination == FCombination && (FShortcut || Combination.isEmpty())) {
    return {};
  }
  try {
    // The new grab is made before the old one goes, so a refused one leaves the old working.
    std::unique_ptr<TX11GlobalShortcut> grab = Grab(Combination);
    FShortcut = std::move(grab);
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  }
  FCombination = Combination;
  std::string error;
  if (!WriteUserStoreValues({{ShortcutValue, Combination.toStdString()}}, UserStorePath(),
                            &error)) {
    return QString("The shortcut works until Pavrel ends, but could not be kept: %1")
        .arg(QString::fromStdString(error));
  }
  return {};
}

QString TRemoteControl::Run(const QString& Command) {
  if (Command == "toggle-tracking") {
    if (FWindow.StartTrackingMenuItem->isEnabled()) {
      FWindow.StartTrackingMenuItem->trigger();
    } else if (FWindow.StopTrackingMenuItem->isEnabled()) {
      FWindow.StopTrackingMenuItem->trigger();
    }
    return FWindow.TrackingActive() ? "tracking on" : "tracking off";
  }
  if (Command == "status") {
    return FWindow.TrackingActive() ? "tracking on" : "tracking off";
  }
  if (Command == "toggle-dwell") {
    FWindow.DwellClickMenuItem->trigger();
    return FWindow.PointerSettings.DwellClick ? "dwell click on" : "dwell click off";
  }
  return "unknown command \"" + Command + "\"";
}

QString TRemoteControl::Send(const QString& Command, const QString& Name, int TimeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(Name);
  if (!socket.waitForConnected(TimeoutMs)) {
    throw std::runtime_error("Pavrel is not running (nothing answers on " + Name.toStdString() +
                             ": " + socket.errorString().toStdString() + ")");
  }
  socket.write((Command + "\n").toUtf8());
  socket.flush();
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(TimeoutMs)) {
      throw std::runtime_error("Pavrel did not answer: " + socket.errorString().toStdString());
    }
  }
  return QString::fromUtf8(socket.readLine()).trimmed();
}

}  // namespace pavrel
