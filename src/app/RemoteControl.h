#pragma once

// Commands from outside the program: `pavrel --toggle-tracking` (bound to a key by the
// desktop where no global key grab works) and the X11 global shortcut reach the running
// instance here, on the UI thread.

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace pavrel {

class TMainDialog;
class TX11GlobalShortcut;

class TRemoteControl : public QObject {
  Q_OBJECT

 public:
  // Listens on the local socket Name; when another instance already answers there, or the
  // socket cannot be made, Listening() is false and Error() says why.
  explicit TRemoteControl(TMainDialog& Window, const QString& Name = DefaultName());
  ~TRemoteControl() override;

  // One socket per user: $XDG_RUNTIME_DIR/pavrel.socket, or pavrel-<uid> in the temporary
  // folder.
  static QString DefaultName();
  bool Listening() const;
  QString Error() const { return FError; }

  // Grabs Ctrl+Alt+P on the X display to toggle tracking. Answers an empty text, or why
  // there is no global shortcut.
  QString GrabShortcut(const std::string& DisplayName = {});

  // Runs one command ("toggle-tracking", "toggle-dwell", "status") and answers what it did.
  QString Run(const QString& Command);

  // The client side: sends Command to the instance listening on Name and answers its reply.
  // Throws std::runtime_error when no instance answers within TimeoutMs.
  static QString Send(const QString& Command, const QString& Name = DefaultName(),
                      int TimeoutMs = 3000);

 private:
  TMainDialog& FWindow;
  QLocalServer* FServer = nullptr;
  QString FError;
  std::unique_ptr<TX11GlobalShortcut> FShortcut;
};

}  // namespace pavrel
