// Pavrel: drive the mouse pointer with one hand in front of a camera.

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "app/ApplicationWindows.h"
#include "app/MessageBoxes.h"
#include "app/RemoteControl.h"
#include "desktop/DesktopChoice.h"

namespace {

// `pavrel --toggle-tracking` and `pavrel --toggle-dwell` talk to the running instance.
int SendCommand(int argc, char* argv[], const QString& Command) {
  QCoreApplication application(argc, argv);
  try {
    const QString reply = pavrel::TRemoteControl::Send(Command);
    std::printf("%s\n", reply.toLocal8Bit().constData());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pavrel: %s\n", e.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const QString argument = QString::fromLocal8Bit(argv[i]);
    if (argument == "--toggle-tracking") {
      return SendCommand(argc, argv, "toggle-tracking");
    }
    if (argument == "--toggle-dwell") {
      return SendCommand(argc, argv, "toggle-dwell");
    }
    if (argument == "--help") {
      std::printf(
          "Usage: pavrel [--desktop=auto|x11|portal|wlroots|uinput]\n"
          "                                 start Pavrel, driving the desktop through that backend\n"
          "       pavrel --toggle-tracking  start or stop tracking in the running Pavrel\n"
          "       pavrel --toggle-dwell     switch dwell click on or off in the running Pavrel\n");
      return 0;
    }
  }
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
    auto* remote = new pavrel::TRemoteControl(*windows.MainDialog);
    if (!remote->Listening()) {
      std::fprintf(stderr, "pavrel: --toggle-tracking will not reach this window: %s\n",
                   remote->Error().toLocal8Bit().constData());
    }
    if (QGuiApplication::platformName() == "xcb") {
      const QString refused = remote->GrabShortcut();
      if (!refused.isEmpty()) {
        std::fprintf(stderr,
                     "pavrel: no global shortcut (%s); bind `pavrel --toggle-tracking` to a key "
                     "in your desktop's keyboard settings instead\n",
                     refused.toLocal8Bit().constData());
      }
    }
    windows.MainDialog->show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    pavrel::ShowMessageBox(pavrel::TMessageKind::StandardError, QString::fromLocal8Bit(e.what()),
                           nullptr);
    return 1;
  }
}
