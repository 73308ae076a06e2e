#include "app/Application.h"

#include <QApplication>
#include <QEvent>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <cstdlib>
#include <exception>

#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/MessageBoxes.h"
#include "process/TerminationSignals.h"

namespace pavrel {

namespace {

// The main window of the run in progress, for the exit handler.
std::atomic<TMainDialog*> RunningMain{nullptr};

// Qt's xcb platform ends the process with exit() when the X connection breaks: the close
// steps run from here then (the display is gone, the store is still written).
void CloseAtExit() {
  TMainDialog* main = RunningMain.exchange(nullptr);
  if (main == nullptr) {
    return;
  }
  if (QThread::currentThread() == main->thread()) {
    main->CloseWithoutDisplay();
  } else {
    // Another library ended the process from its own thread: the windows are not ours to
    // touch from here, but the store still gets the parameter set.
    main->CommitData();
  }
}

// The session manager's order to die reaches Qt's application as a Quit event, which asks
// every window to close and gives up when one refuses, as the stop window does while
// tracking: the main window is closed instead, which ends the program as File > Exit does.
class TQuitAsExit : public QObject {
 public:
  explicit TQuitAsExit(TMainDialog& Main) : FMain(Main) {}

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched != qApp || Event->type() != QEvent::Quit) {
      return false;
    }
    if (FMain.Closed()) {
      QCoreApplication::exit(0);
    } else {
      FMain.CloseUnattended();
    }
    return true;
  }

 private:
  TMainDialog& FMain;
};

}  // namespace

int RunApplication(TTerminationSignals& Signals, const std::function<void(TMainDialog&)>& Started,
                   const TMainDialogOptions& Options) {
  try {
    TApplicationWindows windows(Options);
    TMainDialog* main = windows.MainDialog.get();
    // The program ends with its main window, whatever other window is still shown (exit, not
    // quit: quit asks every window to close, and the stop window refuses).
    QObject::connect(
        main, &TMainDialog::CloseCompleted, qApp, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);

    // A termination signal closes the main window as File > Exit does.
    QSocketNotifier notifier(Signals.Fd(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, main, [&Signals, &notifier, main] {
      if (Signals.Received() == 0) {
        return;
      }
      notifier.setEnabled(false);
      if (main->Closed()) {
        QCoreApplication::exit(0);
      } else {
        main->CloseUnattended();
      }
    });

    // The session's end: save when asked to, and close before the loop ends.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, main,
                     [main](QSessionManager&) { main->CommitData(); });
    TQuitAsExit quitAsExit(*main);
    qApp->installEventFilter(&quitAsExit);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, main, [main] {
      if (!main->Closed()) {
        main->close();
      }
    });

    static const bool exitHandler = std::atexit(&CloseAtExit) == 0;
    static_cast<void>(exitHandler);
    RunningMain = main;

    main->show();
    if (Started) {
      Started(*main);
    }
    const int status = QApplication::exec();
    RunningMain = nullptr;
    return status;
  } catch (const std::exception& e) {
    RunningMain = nullptr;
    ShowMessageBox(TMessageKind::StandardError, QString::fromLocal8Bit(e.what()), nullptr);
    return 1;
  }
}

}  // namespace pavrel
