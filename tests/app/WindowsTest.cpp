// The windows as the user first sees them: layout, captions, fonts, menus and their
// initial states, the About box, the stop window, and the store read at creation and
// written at close.

#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/AboutDialog.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/StopTrackingDialog.h"
#include "app/ViewWidgets.h"
#include "mouse/RecordingDesktop.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"
#include "video/VideoSource.h"

namespace pavrel {
namespace {

using test::TRecordedMessages;
using test::TTemporaryStore;

// Recorded boxes, and a recording desktop so that no test depends on an X display.

// What one menu entry should look like: its field name, caption (empty for separators),
// enabled, checkable and checked.
struct TItem {
  const char* Name;
  const char* Caption;
  bool Enabled;
  bool Checkable = false;
  bool Checked = false;
};

void ExpectMenu(const QMenu* Menu, const std::vector<TItem>& Items) {
  const QList<QAction*> actions = Menu->actions();
  ASSERT_GE(actions.size(), static_cast<qsizetype>(Items.size()))
      << Menu->objectName().toStdString();
  for (std::size_t i = 0; i < Items.size(); ++i) {
    const QAction* action = actions[static_cast<qsizetype>(i)];
    SCOPED_TRACE(Items[i].Name);
    EXPECT_EQ(action->objectName().toStdString(), Items[i].Name);
    if (std::string(Items[i].Caption).empty()) {
      EXPECT_TRUE(action->isSeparator());
      continue;
    }
    EXPECT_FALSE(action->isSeparator());
    EXPECT_EQ(action->text().toStdString(), Items[i].Caption);
    EXPECT_EQ(action->isEnabled(), Items[i].Enabled);
    EXPECT_EQ(action->isCheckable(), Items[i].Checkable);
    EXPECT_EQ(action->isChecked(), Items[i].Checked);
  }
}

class WindowsTest : public ::testing::Test {
 protected:
  TTemporaryStore Store;
  TRecordedMessages Messages;
};

TEST_F(WindowsTest, MainWindowHasItsDesignedLayoutCaptionsAndFonts) {
  TMainDialog window(test::RecordingOptions(Messages));
  EXPECT_EQ(window.windowTitle(), "Pavrel");
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  // Client area 345 x 241 below the menu bar; the border is fixed and there is no maximise box.
  EXPECT_EQ(window.centralWidget()->size(), QSize(345, 241));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));

  const struct {
    QWidget* Widget;
    QRect Geometry;
  } controls[] = {
      {window.VideoDisplay, {0, 0, 345, 169}},
      {window.RawVideo, {8, 16, 160, 120}},
      {window.RenderedImage, {177, 16, 160, 120}},
      {window.RawVideoStream, {8, 144, 161, 13}},
      {window.RenderedVideoStream, {176, 144, 161, 13}},
      {window.MouseActionDisplay, {0, 176, 345, 65}},
      {window.ActionDisplay, {8, 16, 329, 41}},
  };
  for (const auto& control : controls) {
    EXPECT_EQ(control.Widget->geometry(), control.Geometry)
        << control.Widget->objectName().toStdString();
  }
  EXPECT_EQ(window.RawVideo->parentWidget(), window.VideoDisplay);
  EXPECT_EQ(window.ActionDisplay->parentWidget(), window.MouseActionDisplay);
  EXPECT_EQ(window.VideoDisplay->title(), "Video");
  EXPECT_EQ(window.MouseActionDisplay->title(), "Mouse Action");
  EXPECT_EQ(window.RawVideoStream->text(), "Raw Video Stream");
  EXPECT_EQ(window.RenderedVideoStream->text(), "Rendered Video Stream");
  EXPECT_TRUE(window.RawVideoStream->alignment().testFlag(Qt::AlignHCenter));

  // Fonts: 11 pixels for the window, 32 pixels bold for the action name, which starts black.
  EXPECT_EQ(window.font().pixelSize(), 11);
  EXPECT_EQ(window.RawVideoStream->font().pixelSize(), 11);
  EXPECT_EQ(window.ActionDisplay->font().pixelSize(), 32);
  EXPECT_TRUE(window.ActionDisplay->font().bold());
  EXPECT_EQ(window.ActionDisplay->text(), "No Action");
  EXPECT_EQ(window.ActionDisplay->palette().color(QPalette::WindowText), QColor(0, 0, 0));
  EXPECT_TRUE(window.ActionDisplay->alignment().testFlag(Qt::AlignHCenter));

  // The processed view starts black.
  const QImage view = window.RenderedImage->grab().toImage();
  ASSERT_EQ(view.size(), QSize(160, 120));
  EXPECT_EQ(view.pixelColor(0, 0), QColor(0, 0, 0));
  EXPECT_EQ(view.pixelColor(80, 60), QColor(0, 0, 0));
  EXPECT_EQ(view.pixelColor(159, 119), QColor(0, 0, 0));
}

TEST_F(WindowsTest, EveryMenuItemStartsInItsInitialState) {
  TMainDialog window(test::RecordingOptions(Messages));

  const QList<QAction*> bar = window.MainMenu->actions();
  ASSERT_EQ(bar.size(), 5);
  EXPECT_EQ(bar[0], window.File1->menuAction());
  EXPECT_EQ(bar[1], window.TrackerMenuItem->menuAction());
  EXPECT_EQ(bar[2], window.Configuration1->menuAction());
  EXPECT_EQ(bar[3], window.DeviceMenu->menuAction());
  EXPECT_EQ(bar[4], window.Help1->menuAction());
  const char* captions[] = {"File", "Tracker", "Configuration", "Source", "Help"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(bar[i]->text(), captions[i]);
  }
  EXPECT_TRUE(window.File1->menuAction()->isEnabled());
  EXPECT_FALSE(window.TrackerMenuItem->menuAction()->isEnabled());
  EXPECT_TRUE(window.Configuration1->menuAction()->isEnabled());
  EXPECT_TRUE(window.DeviceMenu->menuAction()->isEnabled());
  EXPECT_TRUE(window.Help1->menuAction()->isEnabled());

  ExpectMenu(window.File1, {{"OpenSettings1", "Open Settings...", true},
                            {"SaveSettings1", "Save Settings...", true},
                            {"N1", "", true},
                            {"Exit1", "Exit", true}});
  ExpectMenu(window.TrackerMenuItem,
             {{"StartTrackingMenuItem", "Start Tracking", true},
              {"StopTrackingMenuItem", "Stop Tracking", false},
              {"CalibrateHandMenuItem", "Calibrate Hand", true, true, false}});
  ExpectMenu(window.Configuration1,
             {{"AdjustTrackerParameters1", "Adjust Tracker Parameters...", true}});
  ExpectMenu(window.DeviceMenu, {{"StopVideoMenuItem", "Stop Video", true},
                                 {"N5", "", true},
                                 {"File2", "File...", true},
                                 {"N2", "", true}});
  ExpectMenu(window.Help1, {{"About1", "About", true}});
  ExpectMenu(window.VideoPopupMenu,
             {{"SaveCurrentImagetoBitmap1", "Save Frame To Bitmap...", true},
              {"N3", "", true},
              {"RGBImageItem", "RGB Video", true, true, true},
              {"HueImageItem", "Hue Video", true, true, false},
              {"HandImageItem", "Back Projection Video", true, true, false},
              {"N6", "", true},
              {"OnScreenDisplayMenuItem", "On Screen Display", true, true, true}});
  EXPECT_EQ(window.File1->actions().size(), 4);
  EXPECT_EQ(window.TrackerMenuItem->actions().size(), 3);
  EXPECT_EQ(window.Help1->actions().size(), 1);
  EXPECT_EQ(window.VideoPopupMenu->actions().size(), 7);
  EXPECT_EQ(window.RenderedImage->PopupMenu(), window.VideoPopupMenu);

  // The three views are one radio group; the display switch is not part of it.
  EXPECT_TRUE(window.ViewModeGroup->isExclusive());
  EXPECT_EQ(window.ViewModeGroup->actions(),
            (QList<QAction*>{window.RGBImageItem, window.HueImageItem, window.HandImageItem}));
  EXPECT_EQ(window.OnScreenDisplayMenuItem->actionGroup(), nullptr);

  // One Source item per capture device after the four fixed ones, tagged from 0.
  TSysDevEnum& devices = window.Video().DeviceEnumerator();
  const QList<QAction*> source = window.DeviceMenu->actions();
  ASSERT_EQ(source.size(), 4 + devices.DeviceCount());
  for (int i = 0; i < devices.DeviceCount(); ++i) {
    EXPECT_EQ(source[4 + i]->data().toInt(), i);
    EXPECT_EQ(source[4 + i]->text().replace("&&", "&").toStdString(), devices.DeviceName(i));
  }

  // Nothing runs before a source is chosen.
  EXPECT_FALSE(window.Timer->isActive());
  EXPECT_EQ(window.Timer->interval(), 1000);
  EXPECT_FALSE(window.TrackingActive());
  EXPECT_EQ(window.SaveCount, 1);
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(WindowsTest, ProgramEntryCreatesFourWindowsAndShowsOnlyTheMain) {
  TApplicationWindows windows(test::RecordingOptions(Messages));
  ASSERT_TRUE(windows.MainDialog && windows.AboutDialog && windows.ConfigurationDialog &&
              windows.StopTrackingDialog);
  EXPECT_EQ(windows.MainDialog->StopTrackingDialog(), windows.StopTrackingDialog.get());
  EXPECT_FALSE(windows.AboutDialog->isVisible());
  EXPECT_FALSE(windows.StopTrackingDialog->isVisible());
  // Only the main window keeps the program alive.
  EXPECT_FALSE(windows.StopTrackingDialog->testAttribute(Qt::WA_QuitOnClose));
  EXPECT_FALSE(windows.AboutDialog->testAttribute(Qt::WA_QuitOnClose));
}

TEST_F(WindowsTest, AboutBoxShowsTheApplicationTitleAndClosesWithOk) {
  TApplicationWindows windows(test::RecordingOptions(Messages));
  TAboutDialog& about = *windows.AboutDialog;
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.size(), QSize(298, 153));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_EQ(about.ProductName->text(), QApplication::applicationName());
  EXPECT_EQ(about.ProductName->text(), "Pavrel");
  EXPECT_EQ(about.Version->text(), "Thesis Version");
  EXPECT_EQ(about.ApplicationInformation->geometry(), QRect(8, 8, 281, 105));
  EXPECT_EQ(about.ProductName->pos(), QPoint(8, 8));
  EXPECT_EQ(about.Version->pos(), QPoint(8, 24));
  EXPECT_EQ(about.OKButton->geometry(), QRect(207, 124, 75, 25));
  EXPECT_TRUE(about.OKButton->isDefault());

  // Help > About runs the box modally; OK ends it with the result OK.
  bool wasShown = false;
  QTimer::singleShot(0, &about, [&] {
    wasShown = about.isVisible() && about.isModal();
    QTest::mouseClick(about.OKButton, Qt::LeftButton);
  });
  windows.MainDialog->About1->trigger();
  EXPECT_TRUE(wasShown);
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST_F(WindowsTest, StopWindowHasOneBigButtonNoCloseBoxAndStaysOnTop) {
  TStopTrackingDialog stop;
  EXPECT_EQ(stop.windowTitle(), "Stop Tracking");
  EXPECT_EQ(stop.size(), QSize(439, 159));
  EXPECT_EQ(stop.minimumSize(), stop.maximumSize());
  EXPECT_EQ(stop.pos(), QPoint(369, 471));
  EXPECT_TRUE(stop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(stop.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(stop.windowFlags().testFlag(Qt::WindowSystemMenuHint));
  EXPECT_EQ(stop.StopButton->geometry(), QRect(8, 8, 425, 145));
  EXPECT_EQ(stop.StopButton->text(), "Stop Tracking");
  EXPECT_EQ(stop.StopButton->font().pixelSize(), 32);
  EXPECT_TRUE(stop.StopButton->font().bold());
  EXPECT_EQ(stop.font().pixelSize(), 11);

  // Neither a close request nor Escape takes it away; without a main window the button does
  // nothing.
  stop.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&stop));
  EXPECT_FALSE(stop.close());
  QTest::keyClick(&stop, Qt::Key_Escape);
  EXPECT_TRUE(stop.isVisible());
  QTest::mouseClick(stop.StopButton, Qt::LeftButton);
  EXPECT_TRUE(stop.isVisible());
}

TEST(MessageBoxes, StandardErrorTextEndsWithAFullStopUnlessItsLastCharacterSortsBefore) {
  EXPECT_EQ(StandardErrorText("File not found"), "File not found.");
  EXPECT_EQ(StandardErrorText("Error 42"), "Error 42.");
  EXPECT_EQ(StandardErrorText("Already a sentence."), "Already a sentence.");
  // '!', ')' and '-' sort before '.', so nothing is added.
  EXPECT_EQ(StandardErrorText("Stop!"), "Stop!");
  EXPECT_EQ(StandardErrorText("code ($80004005)"), "code ($80004005)");
  EXPECT_EQ(StandardErrorText("dash -"), "dash -");
  // '/' and letters beyond ASCII sort after it.
  EXPECT_EQ(StandardErrorText("path/"), "path/.");
  EXPECT_EQ(StandardErrorText(QString::fromUtf8("Größe")), QString::fromUtf8("Größe."));
  EXPECT_EQ(StandardErrorText(""), "");
}

TEST_F(WindowsTest, CreationReadsTheStoreAndClosingWritesTheParametersOfTheMoment) {
  // An empty store gives the defaults, and the tracker works with them.
  {
    TMainDialog window(test::RecordingOptions(Messages));
    EXPECT_EQ(window.TrackerParameters, DefaultParameters());
    EXPECT_EQ(window.Tracker().GetParameters(), DefaultParameters());
  }
  // Destroying a window that never closed writes nothing.
  TTrackerParameters stored = DefaultParameters();
  stored.LHueBound = 77;  // not the default
  ReadUserStore(stored);
  EXPECT_EQ(stored.LHueBound, 77);

  TTrackerParameters changed = DefaultParameters();
  changed.LHueBound = 3;
  changed.HHueBound = 40;
  changed.LSatBound = 20;
  changed.HeightToWidthRatio = 2.5;
  changed.MeanThreshold = 4;
  {
    TMainDialog window(test::RecordingOptions(Messages));
    window.show();
    window.WMUpdateTrackerParamsHandler(changed);
    // File > Exit takes the closing path.
    window.Exit1->trigger();
    EXPECT_TRUE(window.Closed());
    EXPECT_FALSE(window.isVisible());
  }
  TTrackerParameters read = DefaultParameters();
  ReadUserStore(read);
  EXPECT_EQ(read, changed);

  // The next start reads them over the defaults and hands them to the tracker.
  TMainDialog window(test::RecordingOptions(Messages));
  EXPECT_EQ(window.TrackerParameters, changed);
  EXPECT_EQ(window.Tracker().GetParameters(), changed);
  // The close box takes the same path.
  window.show();
  window.TrackerParameters.WindowExpansion = 9;
  window.close();
  ReadUserStore(read);
  EXPECT_EQ(read.WindowExpansion, 9);
}

TEST_F(WindowsTest, AfterTheCloseCommandsAndMessagesFindNothingToDo) {
  TApplicationWindows windows(test::RecordingOptions(Messages));
  TMainDialog& window = *windows.MainDialog;
  window.show();
  window.StartTrackingMenuItem->trigger();
  window.close();
  ASSERT_TRUE(window.Closed());
  // Whatever still arrives before the program ends: menu commands, the stop button, a
  // click on the view. None of them may touch what the close released.
  for (QAction* item : {window.StopTrackingMenuItem, window.StopVideoMenuItem,
                        window.SaveCurrentImagetoBitmap1, window.HueImageItem}) {
    item->trigger();
  }
  window.RenderedImageClick();
  QTest::mouseClick(windows.StopTrackingDialog->StopButton, Qt::LeftButton);
  EXPECT_FALSE(windows.StopTrackingDialog->isVisible());
  EXPECT_EQ(Messages.Count(), 0u);
}

}  // namespace
}  // namespace pavrel
