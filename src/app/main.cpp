// Pavrel: drive the mouse pointer with one hand in front of a camera.

#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <exception>
#include <iostream>

#include "app/ApplicationWindows.h"
#include "app/MessageBoxes.h"
#include "desktop/DesktopChoice.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Pavrel");
  QApplication::setWindowIcon(QIcon(":/pavrel/pavrel.png"));
  pavrel::TMainDialogOptions options;
  // Qt has taken its own options; --desktop=NAME is the one the program knows.
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    QString value;
    if (arguments[i].startsWith("--desktop=")) {
      value = arguments[i].mid(10);
    } else if (arguments[i] == "--desktop" && i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      std::cerr << "pavrel: ignoring the unknown argument \"" << arguments[i].toStdString()
                << "\" (usage: pavrel [--desktop=auto|x11|portal|wlroots|uinput])\n";
      continue;
    }
    options.DesktopChoice = pavrel::ParseDesktopKind(value.toStdString());
    if (!options.DesktopChoice) {
      std::cerr << "pavrel: --desktop needs auto, x11, portal, wlroots or uinput, got \""
                << value.toStdString() << "\"\n";
      return 2;
    }
  }
  try {
    pavrel::TApplicationWindows windows(options);
    // The program ends with its main window, whatever other window is still shown.
    QObject::connect(windows.MainDialog.get(), &pavrel::TMainDialog::CloseCompleted, &application,
                     &QApplication::quit, Qt::QueuedConnection);
    windows.MainDialog->show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    pavrel::ShowMessageBox(pavrel::TMessageKind::StandardError, QString::fromLocal8Bit(e.what()),
                           nullptr);
    return 1;
  }
}
