// Pavrel: drive the mouse pointer with one hand in front of a camera.

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/ApplicationWindows.h"
#include "app/MessageBoxes.h"
#include "app/RemoteControl.h"

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
          "Usage: pavrel                    start Pavrel\n"
          "       pavrel --toggle-tracking  start or stop tracking in the running Pavrel\n"
          "       pavrel --toggle-dwell     switch dwell click on or off in the running Pavrel\n");
      return 0;
    }
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName("Pavrel");
  QApplication::setWindowIcon(QIcon(":/pavrel/pavrel.png"));
  try {
    pavrel::TApplicationWindows windows;
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
