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

  // Grabs the store's ToggleShortcut (Ctrl+Alt+P when it has none; none when it is empty)
  // on the X display to toggle tracking, and lets the Pointer dialog change it. Answers an
  // empty text, or why there is no global shortcut.
  QString GrabShortcut(const std::string& DisplayName = {});
  // Grabs Combination ("Ctrl+Shift+F5"; empty for none) instead of the current shortcut and
  // keeps it in the store. When it cannot be grabbed the current one stays and the answer
  // says why; an empty answer is success.
  QString ChangeShortcut(const QString& Combination);
  QString Shortcut() const { return FCombination; }

  static constexpr const char* ShortcutValue = "ToggleShortcut";
  static constexpr const char* DefaultShortcut = "Ctrl+Alt+P";

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
  // The grab for Combination; throws with the reason when it cannot be had.
  std::unique_ptr<TX11GlobalShortcut> Grab(const QString& Combination);

  std::unique_ptr<TX11GlobalShortcut> FShortcut;
  std::string FDisplayName;
  QString FCombination;
};

}  // namespace pavrel
