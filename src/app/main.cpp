// Pavrel: drive the mouse pointer with one hand in front of a camera.

#include <QApplication>
#include <QIcon>
#include <exception>

#include "app/ApplicationWindows.h"
#include "app/MessageBoxes.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Pavrel");
  QApplication::setWindowIcon(QIcon(":/pavrel/pavrel.png"));
  try {
    pavrel::TApplicationWindows windows;
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
