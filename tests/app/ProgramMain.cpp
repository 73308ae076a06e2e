// The program as `pavrel` runs it, for tests that end it from outside (signals, the window
// manager, a dying X server). PAVREL_TEST_CLIP names a clip that is opened with
// Source > File... and tracked with Tracker > Start Tracking once the window is up.

#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "app/Application.h"
#include "app/MainDialog.h"
#include "process/TerminationSignals.h"

int main(int argc, char* argv[]) {
  pavrel::TTerminationSignals termination;
  int status = 0;
  {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Pavrel");
    status = pavrel::RunApplication(termination, [](pavrel::TMainDialog& Main) {
      const char* clip = std::getenv("PAVREL_TEST_CLIP");
      if (clip == nullptr) {
        return;
      }
      QTimer::singleShot(0, &Main, [&Main, file = QString::fromLocal8Bit(clip)] {
        Main.PlayVideoFile(file);
        Main.StartTrackingMenuItem->trigger();
      });
    });
  }
  if (const int signal = termination.Received(); signal != 0) {
    pavrel::TTerminationSignals::ExitLike(signal);
  }
  return status;
}
