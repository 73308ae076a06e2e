#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace pavrel {

enum class TMessageKind {
  // The program's standard error box: owned by the main window, titled "Pavrel", error icon,
  // OK; the text ends with a full stop unless its last character sorts before one.
  StandardError,
  // The capture-format and Save Settings box: no owner window, empty title, error icon, OK.
  OwnerlessError,
  // A notice owned by the main window, titled "Pavrel", information icon, OK.
  Information,
};

// Shows one message box and returns when the user has closed it. The main window shows every
// box through one of these, so that tests can watch what would have been shown.
using TMessageSink = std::function<void(TMessageKind Kind, const QString& Text, QWidget* Owner)>;

// The standard box's text: a full stop is appended when the last character sorts after '.'.
QString StandardErrorText(const QString& Message);

// Shows the boxes for real (modal QMessageBox).
void ShowMessageBox(TMessageKind Kind, const QString& Text, QWidget* Owner);

}  // namespace pavrel
