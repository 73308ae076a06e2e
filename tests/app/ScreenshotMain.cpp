// pavrel_screenshot CLIP OUTPUT.png: starts a private Xvfb with openbox, runs the program's
// windows on it with the clip playing (skin bounds for the clip in a temporary per-user
// store), waits until the label shows a recognised action, and saves the main window with its
// frame as it appears on the screen. With X,Y it first calibrates the hand as a user does
// (Tracker > Calibrate Hand, a click at (X, Y) of the processed view) and shows the skin mask
// of the learned model.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/ViewWidgets.h"
#include "settings/Settings.h"
#include "support/XServerFixture.h"

int main(int argc, char* argv[]) {
  int clickX = -1, clickY = -1;
  if ((argc != 3 && argc != 4) ||
      (argc == 4 && std::sscanf(argv[3], "%d,%d", &clickX, &clickY) != 2)) {
    std::fprintf(stderr, "usage: %s CLIP OUTPUT.png [X,Y]\n", argv[0]);
    return 2;
  }
  try {
    pavrel::TXServerFixture server;
    server.ExportDisplay();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QTemporaryDir store;
    ::setenv("XDG_CONFIG_HOME", store.path().toLocal8Bit().constData(), 1);
    pavrel::TTrackerParameters skin = pavrel::DefaultParameters();
    skin.LHueBound = 0;
    skin.HHueBound = 30;
    skin.LSatBound = 40;
    skin.LValBound = 60;
    pavrel::WriteUserStore(skin);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Pavrel");
    QApplication::setWindowIcon(QIcon(":/pavrel/pavrel.png"));
    pavrel::TMainDialogOptions options;
    options.MessageSink = [](pavrel::TMessageKind, const QString& Text, QWidget*) {
      std::fprintf(stderr, "pavrel_screenshot: the program would show: %s\n", qPrintable(Text));
    };
    pavrel::TApplicationWindows windows(options);
    pavrel::TMainDialog& main = *windows.MainDialog;
    main.show();
    if (!QTest::qWaitForWindowExposed(&main)) {
      throw std::runtime_error("the main window did not show");
    }
    main.PlayVideoFile(QString::fromLocal8Bit(argv[1]));
    if (clickX >= 0) {
      QTest::qWait(1500);
      main.CalibrateHandMenuItem->trigger();
      QTest::mouseClick(main.RenderedImage, Qt::LeftButton, {}, QPoint(clickX, clickY));
      main.CalibrateHandMenuItem->trigger();
      main.HandImageItem->trigger();
    }

    // A moment with the hand found and an action recognised, the frame rate counted.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
      QTest::qWait(50);
      const QString action = main.ActionDisplay->text();
      if (clock.elapsed() > 4500 && action != "No Action" &&
          main.Pipeline().FramesPerSecond() > 0) {
        break;
      }
    }
    QTest::qWait(100);
    const QRect frame = main.frameGeometry();
    const QPixmap shot =
        main.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]))) {
      throw std::runtime_error("cannot save the screenshot");
    }
    std::printf("saved %s (%dx%d): \"%s\"\n", argv[2], shot.width(), shot.height(),
                qPrintable(main.ActionDisplay->text()));
    main.close();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pavrel_screenshot: %s\n", e.what());
    return 1;
  }
}
