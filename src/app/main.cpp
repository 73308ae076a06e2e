// Pavrel: drive the mouse pointer with one hand in front of a camera.

#include <QApplication>
#include <QIcon>

#include "app/Application.h"
#include "process/TerminationSignals.h"

int main(int argc, char* argv[]) {
  // Before anything else: a signal from now on ends the program through its close steps.
  pavrel::TTerminationSignals termination;
  int status = 0;
  {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Pavrel");
    QApplication::setWindowIcon(QIcon(":/pavrel/pavrel.png"));
    status = pavrel::RunApplication(termination);
  }
  if (const int signal = termination.Received(); signal != 0) {
    pavrel::TTerminationSignals::ExitLike(signal);
  }
  return status;
}
