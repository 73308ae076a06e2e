// The program driven as a user drives it, on a private X server with a window manager: its
// menus, its file dialog, its popup menu and the stop window's button; the pointer and the
// windows checked from outside through the X server.

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <mutex>
#include <set>
#include <vector>

#include "AppTestSupport.h"
#include "TrackingClip.h"
#include "X11Probe.h"
#include "XServerEnvironment.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/StopTrackingDialog.h"
#include "app/ViewWidgets.h"
#include "image/Bitmap.h"
#include "mouse/MouseTranslator.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {
namespace {

using test::AnswerFileDialog;
using test::ClickMenuItem;
using test::TRecordedMessages;
using test::TTemporaryStore;
using test::TTrackingClip;
using test::TWaypoint;
using test::TX11Probe;
using test::WaitFor;

// Where the translator sends the pointer for a hand held still at (Row, Column) of the
// 160 x 120 frame: absolute units (margin 10, gains 1.14 and 1.2, full scale 65535, halves
// to even), which the desktop spreads over the screen as unit x size / 65536.
TX11Probe::TPoint ExpectedPointer(double Row, double Column, int ScreenWidth, int ScreenHeight) {
  const double x = RoundHalfEven((Column - 10) / 160 * 1.14 * 65535);
  const double y = RoundHalfEven((Row - 10) / 120 * 1.2 * 65535);
  return {static_cast<int>(x * ScreenWidth / 65536), static_cast<int>(y * ScreenHeight / 65536)};
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override { Probe = std::make_unique<TX11Probe>(test::XServer().Display()); }

  // Starts the program: its four windows, the main one shown.
  void StartProgram() {
    TMainDialogOptions options;  // the real X11 desktop of $DISPLAY
    options.MessageSink = Messages.Sink();
    Windows = std::make_unique<TApplicationWindows>(options);
    Main = Windows->MainDialog.get();
    Stop = Windows->StopTrackingDialog.get();
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main));
    ASSERT_TRUE(Main->PointerActionsAvailable());
  }

  std::uint64_t MainWindowId() const { return Main->winId(); }

  // Source > File... with FileName typed into the file dialog; waits for frames.
  void OpenVideoFile(const QString& FileName) {
    const auto visit = AnswerFileDialog(Main->OpenDialog, FileName);
    ClickMenuItem(Main->MainMenu, Main->DeviceMenu, Main->File2);
    ASSERT_TRUE(visit->Seen);
    ASSERT_TRUE(WaitFor([&] { return Main->FramesHandled() > 5; }, 15000)) << "no frames";
  }

  bool Activate(QWidget* Window) {
    Window->activateWindow();
    return WaitFor([&] { return Probe->ActiveWindow() == Window->winId(); }, 5000);
  }

  // Closes the program with File > Exit and answers what the store then holds.
  TTrackerParameters ExitAndReadStore() {
    ClickMenuItem(Main->MainMenu, Main->File1, Main->Exit1);
    EXPECT_TRUE(Main->Closed());
    TTrackerParameters stored = DefaultParameters();
    ReadUserStore(stored);
    return stored;
  }

  TTemporaryStore Store;
  TRecordedMessages Messages;
  std::unique_ptr<TX11Probe> Probe;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
  TStopTrackingDialog* Stop = nullptr;
};

TEST_F(EndToEndTest, CalibratedHandMovesThePointerAlongItsPathAndMinimisesTheMainWindow) {
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  QTemporaryDir folder;
  const QString clip = folder.filePath("path.avi");
  TTrackingClip::Write(clip.toStdString());
  const int width = Probe->ScreenWidth();
  const int height = Probe->ScreenHeight();

  // Activated once, the main window stays above other windows.
  ASSERT_TRUE(Activate(Main));
  EXPECT_TRUE(
      WaitFor([&] { return Probe->HasNetWmState(MainWindowId(), "_NET_WM_STATE_ABOVE"); }, 5000));
  const QRect before = Main->geometry();

  ASSERT_NO_FATAL_FAILURE(OpenVideoFile(clip));
  EXPECT_EQ(Main->geometry(), before);  // on top without moving or resizing

  // Calibration: Hue Video from the popup menu, then a click on the view while the solid
  // block fills the calibration box.
  // The right button is pressed for real: the window system makes the context menu event.
  const QPoint view = Main->RenderedImage->mapToGlobal(QPoint(80, 60));
  Probe->Click(view.x(), view.y(), 3);
  ASSERT_TRUE(WaitFor([&] { return Main->VideoPopupMenu->isVisible(); }, 5000));
  QTest::mouseClick(Main->VideoPopupMenu, Qt::LeftButton, {},
                    Main->VideoPopupMenu->actionGeometry(Main->HueImageItem).center());
  ASSERT_TRUE(Main->HueImageItem->isChecked());
  ASSERT_TRUE(WaitFor([&] { return !Main->VideoPopupMenu->isVisible(); }, 5000));
  QTest::qWait(200);  // a frame of the hue view
  ASSERT_LT(Main->FramesHandled(), TTrackingClip::CalibrationFrames - 20)
      << "too slow to calibrate";
  QTest::mouseClick(Main->RenderedImage, Qt::LeftButton, {}, QPoint(80, 60));
  const TTrackerParameters calibrated = Main->TrackerParameters;
  // The skin's hue (about 18 degrees: 13 of 255) is inside, the wall's (about 152) far out.
  EXPECT_LE(calibrated.LHueBound, 13);
  EXPECT_GE(calibrated.HHueBound, 12);
  EXPECT_LT(calibrated.HHueBound, 60);
  EXPECT_EQ(Main->Tracker().GetParameters(), calibrated);

  // The hollow block is a Mouse Up pose; once it shows, tracking may start.
  ASSERT_TRUE(WaitFor([&] { return Main->Pipeline().LastAction().Action == maMouseUp; }, 15000));
  EXPECT_TRUE(WaitFor([&] { return Main->ActionDisplay->text() == "Mouse Up"; }, 2000))
      << Main->ActionDisplay->text().toStdString();
  // Not tracking yet: the pointer stays where it is.
  Probe->MovePointer(3, 3);
  QTest::qWait(300);
  EXPECT_EQ(Probe->Pointer().X, 3);
  EXPECT_EQ(Probe->Pointer().Y, 3);

  ClickMenuItem(Main->MainMenu, Main->TrackerMenuItem, Main->StartTrackingMenuItem);
  ASSERT_TRUE(Main->TrackingActive());
  ASSERT_TRUE(WaitFor([&] { return Probe->Viewable(Stop->winId()); }, 5000));
  EXPECT_TRUE(
      WaitFor([&] { return Probe->HasNetWmState(Stop->winId(), "_NET_WM_STATE_ABOVE"); }, 5000));

  // The pointer follows the path: it comes to rest at every waypoint in turn.
  const std::vector<TWaypoint> path = TTrackingClip::Waypoints();
  const int toleranceX = static_cast<int>(std::ceil(2.5 * 1.14 / 160 * width));
  const int toleranceY = static_cast<int>(std::ceil(2.5 * 1.2 / 120 * height));
  std::size_t next = 1;
  int steady = 0;
  QElapsedTimer clock;
  clock.start();
  const qint64 limit =
      1000LL *
      (path.size() * (TTrackingClip::MoveFrames + TTrackingClip::HoldFrames) / TTrackingClip::Fps +
       15);
  std::vector<std::string> missed;
  while (next < path.size() && clock.elapsed() < limit) {
    // The drawn shape's centre lies half a pixel up and left of its nominal place.
    const auto expected =
        ExpectedPointer(path[next].Row - 0.5, path[next].Column - 0.5, width, height);
    const auto pointer = Probe->Pointer();
    const bool there = std::abs(pointer.X - expected.X) <= toleranceX &&
                       std::abs(pointer.Y - expected.Y) <= toleranceY;
    steady = there ? steady + 1 : 0;
    if (steady >= 10) {  // held for a while, not just passed through
      ++next;
      steady = 0;
    }
    QTest::qWait(15);
  }
  EXPECT_EQ(next, path.size()) << "the pointer did not reach waypoint " << next << " ("
                               << path[std::min(next, path.size() - 1)].Row << ", "
                               << path[std::min(next, path.size() - 1)].Column << "); it is at "
                               << Probe->Pointer().X << ", " << Probe->Pointer().Y;

  // The cross is a Minimize pose: with the main window in front, the program minimises its
  // own main window from the streaming thread while the UI thread keeps taking the view lock.
  ASSERT_TRUE(Activate(Main));
  const auto handledBefore = Main->FramesHandled();
  const bool minimised = WaitFor(
      [&] {
        std::scoped_lock lock(Main->Pipeline().ViewLock());
        return Probe->Iconic(MainWindowId());
      },
      15000);
  EXPECT_TRUE(minimised);
  EXPECT_EQ(Main->Pipeline().LastAction().Action, maMinimize);
  // Both threads go on: frames keep coming and the UI answers.
  EXPECT_TRUE(WaitFor([&] { return Main->FramesHandled() > handledBefore + 30; }, 5000));
  EXPECT_TRUE(Main->TrackingActive());

  // The stop window's button stops tracking and hides the window.
  QTest::mouseClick(Stop->StopButton, Qt::LeftButton);
  EXPECT_FALSE(Main->TrackingActive());
  EXPECT_FALSE(Stop->isVisible());
  EXPECT_TRUE(WaitFor([&] { return !Probe->Viewable(Stop->winId()); }, 5000));
  const auto resting = Probe->Pointer();
  QTest::qWait(300);
  EXPECT_EQ(Probe->Pointer().X, resting.X);
  EXPECT_EQ(Probe->Pointer().Y, resting.Y);

  // Back from the task bar, and File > Exit: the store holds the calibrated set.
  Main->showNormal();
  ASSERT_TRUE(Activate(Main));
  ASSERT_TRUE(WaitFor([&] { return !Probe->Iconic(MainWindowId()); }, 5000));
  const TTrackerParameters atClose = Main->TrackerParameters;
  EXPECT_EQ(atClose, calibrated);
  EXPECT_EQ(ExitAndReadStore(), atClose);
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(EndToEndTest, SharedHandClipShowsRecognisedActionsAndMovesThePointer) {
  const QString clip = QString::fromStdString(test::MediaDir()) + "/asl_hand.mp4";
  ASSERT_TRUE(QFile::exists(clip)) << clip.toStdString();
  // The settings of an earlier session, in the per-user store: skin bounds for this clip.
  TTrackerParameters skin = DefaultParameters();
  skin.LHueBound = 0;
  skin.HHueBound = 30;
  skin.LSatBound = 40;
  skin.LValBound = 60;
  ASSERT_TRUE(WriteUserStore(skin));
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  ASSERT_EQ(Main->TrackerParameters, skin);

  ASSERT_NO_FATAL_FAILURE(OpenVideoFile(clip));
  Probe->MovePointer(3, 3);
  ClickMenuItem(Main->MainMenu, Main->TrackerMenuItem, Main->StartTrackingMenuItem);
  ASSERT_TRUE(Main->TrackingActive());

  std::set<QString> shown;
  std::set<std::pair<int, int>> pointers;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 20000 && !(shown.size() >= 2 && pointers.size() >= 5)) {
    shown.insert(Main->ActionDisplay->text());
    const auto pointer = Probe->Pointer();
    pointers.insert({pointer.X, pointer.Y});
    QTest::qWait(20);
  }
  std::string seen;
  for (const QString& text : shown) {
    seen.append("[").append(text.toStdString()).append("]");
  }
  // Recognised actions: names other than "No Action" appear in the label.
  shown.erase("No Action");
  EXPECT_FALSE(shown.empty()) << seen;
  for (const QString& text : shown) {
    EXPECT_FALSE(text.startsWith("Undefined")) << seen;
  }
  EXPECT_GE(pointers.size(), 5u) << "the pointer hardly moved";

  // Stop with the stop window's button (wherever the clip's gestures left the windows).
  if (Main->isMinimized()) {
    Main->showNormal();
  }
  QTest::mouseClick(Stop->StopButton, Qt::LeftButton);
  EXPECT_FALSE(Main->TrackingActive());
  ASSERT_TRUE(Activate(Main));
  EXPECT_EQ(ExitAndReadStore(), skin);
}

}  // namespace
}  // namespace pavrel
