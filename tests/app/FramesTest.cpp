// The main window's side of the frame pipeline, with frames handed in on a thread of their
// own as the video's streaming thread does: the action label and its colour, the frame-rate
// timer, failures, Save Frame To Bitmap and the calibration click.

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "AppTestSupport.h"
#include "app/MainDialog.h"
#include "app/ViewWidgets.h"
#include "image/BmpFile.h"
#include "mouse/MouseTranslator.h"
#include "mouse/RecordingDesktop.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

using test::FeedFrames;
using test::MakeFrame;
using test::TRecordedMessages;
using test::TTemporaryStore;

// Bounds that take the synthetic skin colour (hue about 18 degrees) and leave the blue
// background (about 215 degrees) out.
TTrackerParameters SkinParameters() {
  TTrackerParameters params = DefaultParameters();
  params.LHueBound = 0;
  params.HHueBound = 40;
  return params;
}

// The upright block of rows 43..76 and columns 70..89: a Mouse Down pose whose search
// window stays inside the frame.
TBitmap CentreBlock() {
  return MakeFrame(70, 43, 90, 77);
}
// A block in the top-left corner: the search window reaches outside the frame.
TBitmap CornerBlock() {
  return MakeFrame(1, 1, 21, 31);
}

class FramesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TMainDialogOptions options;
    options.MessageSink = Messages.Sink();
    options.CreateDesktop = [this] {
      auto desktop = std::make_unique<TRecordingDesktop>();
      Desktop = desktop.get();
      return std::unique_ptr<TDesktop>(std::move(desktop));
    };
    Window = std::make_unique<TMainDialog>(options);
    Window->WMUpdateTrackerParamsHandler(SkinParameters());
  }

  QColor LabelColour() const {
    return Window->ActionDisplay->palette().color(QPalette::WindowText);
  }

  TTemporaryStore Store;
  TRecordedMessages Messages;
  TRecordingDesktop* Desktop = nullptr;
  std::unique_ptr<TMainDialog> Window;
};

TEST_F(FramesTest, LabelShowsTheRecognisedActionRedWhileTheWindowLeavesTheFrame) {
  FeedFrames(*Window, CentreBlock(), 4);
  EXPECT_EQ(Window->Pipeline().LastAction().Action, maMouseDown);
  EXPECT_EQ(Window->ActionDisplay->text(), "Mouse Down");
  EXPECT_EQ(LabelColour(), QColor(0, 0, 0));

  FeedFrames(*Window, CornerBlock(), 3);
  const TRect outside = Window->Pipeline().LastResult().Window;
  EXPECT_TRUE(outside.Left < 0 || outside.Top < 0) << outside.Left << "," << outside.Top;
  EXPECT_EQ(Window->ActionDisplay->text().toStdString(),
            ActionName(Window->Pipeline().LastAction().Action));
  EXPECT_EQ(LabelColour(), QColor(255, 0, 0));

  // Black again on the first frame whose window lies inside.
  FeedFrames(*Window, CentreBlock(), 1);
  const TRect inside = Window->Pipeline().LastResult().Window;
  ASSERT_TRUE(inside.Left >= 0 && inside.Top >= 0 && inside.Right <= 160 && inside.Bottom <= 120);
  EXPECT_EQ(LabelColour(), QColor(0, 0, 0));
  // Not tracking: the action is recognised and shown, nothing reaches the desktop.
  EXPECT_TRUE(Desktop->Actions().empty());
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(FramesTest, ProcessedViewRepaintsFromTheFramesOwnImage) {
  FeedFrames(*Window, CentreBlock(), 2);
  QTest::qWait(20);
  const QImage shown = Window->RenderedImage->grab().toImage();
  // RGB view: the block's skin colour in the middle, the background at the edge.
  EXPECT_EQ(shown.pixelColor(80, 60), QColor(224, 172, 150));
  EXPECT_EQ(shown.pixelColor(150, 60), QColor(40, 90, 160));
}

TEST_F(FramesTest, TimerTurnsTheFrameCountIntoTheFrameRate) {
  EXPECT_FALSE(Window->Timer->isActive());
  FeedFrames(*Window, CentreBlock(), 7);
  Window->TimerTimer();
  EXPECT_EQ(Window->Pipeline().FramesPerSecond(), 7);
  FeedFrames(*Window, CentreBlock(), 3);
  Window->TimerTimer();
  EXPECT_EQ(Window->Pipeline().FramesPerSecond(), 3);
  // A second without frames shows 0.
  Window->TimerTimer();
  EXPECT_EQ(Window->Pipeline().FramesPerSecond(), 0);

  // The timer's tick runs the same step.
  FeedFrames(*Window, CentreBlock(), 5);
  Window->Timer->setInterval(10);
  Window->Timer->start();
  EXPECT_TRUE(test::WaitFor([&] { return Window->Pipeline().FramesPerSecond() == 5; }, 2000));
  Window->Timer->stop();
}

TEST_F(FramesTest, OnlyTheFirstFailureOfAVideoRunIsShownTheRestAreCounted) {
  Window->Pipeline().SetGrab(
      [](TBitmap&) -> bool { throw std::runtime_error("the frame is gone"); });
  std::thread streaming([this] {
    for (int i = 0; i < 3; ++i) {
      Window->TheSampleGrabberBuffer();
    }
  });
  streaming.join();
  test::DeliverQueuedCalls();
  EXPECT_EQ(Window->FrameFailureCount(), 3);
  EXPECT_EQ(Window->FramesHandled(), 3);
  const auto entries = Messages.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Kind, TMessageKind::StandardError);
  EXPECT_TRUE(entries[0].Owned);
  EXPECT_TRUE(entries[0].Text.contains("the frame is gone")) << entries[0].Text.toStdString();
  // Every lock was released: the UI thread can take the view lock at once.
  std::unique_lock lock(Window->Pipeline().ViewLock(), std::try_to_lock);
  EXPECT_TRUE(lock.owns_lock());
}

TEST_F(FramesTest, FramesAndUserCommandsRunAtTheSameTime) {
  // The streaming thread handles frames without pause while the UI thread runs menu
  // commands, calibration, timer ticks and repaints, and delivers the queued label updates.
  const TBitmap frames[2] = {CentreBlock(), CornerBlock()};
  std::atomic<int> next{0};
  std::atomic<bool> stop{false};
  Window->Pipeline().SetGrab([&](TBitmap& Bitmap) {
    Bitmap.Assign(frames[(next++ / 5) % 2]);
    return true;
  });
  Window->show();
  std::thread streaming([&] {
    while (!stop) {
      Window->TheSampleGrabberBuffer();
    }
  });
  QElapsedTimer clock;
  clock.start();
  for (int round = 0; clock.elapsed() < 1500; ++round) {
    switch (round % 8) {
      case 0:
        Window->HueImageItem->trigger();
        break;
      case 1:
        Window->RenderedImageClick();
        break;
      case 2:
        Window->WMUpdateTrackerParamsHandler(SkinParameters());
        break;
      case 3:
        Window->StartTrackingMenuItem->trigger();
        break;
      case 4:
        Window->TimerTimer();
        break;
      case 5:
        Window->StopTrackingMenuItem->trigger();
        break;
      case 6:
        Window->OnScreenDisplayMenuItem->trigger();
        break;
      default:
        Window->RGBImageItem->trigger();
        break;
    }
    Window->RenderedImage->repaint();
    QTest::qWait(2);
  }
  // Tracking stops while frames still run: a frame that read the old flag may press the
  // button, but the release comes after it.
  if (Window->StopTrackingMenuItem->isEnabled()) {
    Window->StopTrackingMenuItem->trigger();
  }
  stop = true;
  streaming.join();
  test::DeliverQueuedCalls();
  EXPECT_GT(Window->FramesHandled(), 20);
  EXPECT_EQ(Window->FrameFailureCount(), 0);
  // The label shows what the last frame decided.
  EXPECT_EQ(Window->ActionDisplay->text().toStdString(),
            ActionName(Window->Pipeline().LastAction().Action));
  EXPECT_FALSE(Window->TrackingActive());
  // Tracking ended with a stop: the button is not left held.
  const auto actions = Desktop->ActionsWithoutMoves();
  const auto last = std::find_if(actions.rbegin(), actions.rend(), [](const std::string& Action) {
    return Action == "LeftButtonDown()" || Action == "LeftButtonUp()";
  });
  if (last != actions.rend()) {
    EXPECT_EQ(*last, "LeftButtonUp()");
  }
}

TEST_F(FramesTest, StoppingTrackingReleasesAButtonTheTranslatorHolds) {
  Window->StartTrackingMenuItem->trigger();
  ASSERT_TRUE(Window->TrackingActive());
  FeedFrames(*Window, CentreBlock(), 4);
  ASSERT_EQ(Window->Pipeline().LastAction().Action, maMouseDown);
  auto actions = Desktop->ActionsWithoutMoves();
  ASSERT_EQ(actions, std::vector<std::string>{"LeftButtonDown()"});
  // Pointer moves went out on every tracked frame.
  EXPECT_EQ(Desktop->Actions().size(), 4u + 1u);

  Window->StopTrackingMenuItem->trigger();
  EXPECT_FALSE(Window->TrackingActive());
  actions = Desktop->ActionsWithoutMoves();
  EXPECT_EQ(actions, (std::vector<std::string>{"LeftButtonDown()", "LeftButtonUp()"}));

  // Frames go on while not tracking: nothing more reaches the desktop.
  Desktop->ClearCalls();
  FeedFrames(*Window, CentreBlock(), 3);
  EXPECT_TRUE(Desktop->Actions().empty());
}

TEST_F(FramesTest, ClosingReleasesAButtonTheTranslatorHolds) {
  Window->show();
  Window->StartTrackingMenuItem->trigger();
  FeedFrames(*Window, CentreBlock(), 4);
  ASSERT_EQ(Desktop->ActionsWithoutMoves(), std::vector<std::string>{"LeftButtonDown()"});
  // The window's desktop goes with it; a recorder of the test's own, which the translator
  // now reaches, shows what closing sends.
  TRecordingDesktop afterwards;
  Window->Translator().SetDesktop(&afterwards);
  Window->close();
  EXPECT_EQ(afterwards.ActionsWithoutMoves(), std::vector<std::string>{"LeftButtonUp()"});
}

TEST(FramesWithoutDesktop, TrackingRunsAndTheUserIsToldOnceThatNothingIsActedOn) {
  TTemporaryStore store;
  TRecordedMessages messages;
  TMainDialogOptions options;
  options.MessageSink = messages.Sink();
  options.CreateDesktop = []() -> std::unique_ptr<TDesktop> {
    throw std::runtime_error("Cannot open the X display \":42\"");
  };
  TMainDialog window(options);
  EXPECT_FALSE(window.PointerActionsAvailable());
  EXPECT_EQ(messages.Count(), 0u);
  window.WMUpdateTrackerParamsHandler(SkinParameters());

  window.StartTrackingMenuItem->trigger();
  EXPECT_TRUE(window.TrackingActive());
  ASSERT_EQ(messages.Count(), 1u);
  const auto notice = messages.Entries()[0];
  EXPECT_EQ(notice.Kind, TMessageKind::Information);
  EXPECT_TRUE(notice.Text.contains("Cannot open the X display \":42\""))
      << notice.Text.toStdString();

  FeedFrames(window, CentreBlock(), 4);
  EXPECT_EQ(window.ActionDisplay->text(), "Mouse Down");
  window.StopTrackingMenuItem->trigger();
  window.StartTrackingMenuItem->trigger();
  EXPECT_EQ(messages.Count(), 1u);
}

TEST(FramesWithoutDisplay, WithoutAnXDisplayTheProgramStartsAndSaysSoWhenTrackingStarts) {
  TTemporaryStore store;
  TRecordedMessages messages;
  const QByteArray display = qgetenv("DISPLAY");
  qunsetenv("DISPLAY");
  TMainDialogOptions options;  // the real X11 desktop, which finds no display
  options.MessageSink = messages.Sink();
  TMainDialog window(options);
  if (!display.isNull()) {
    qputenv("DISPLAY", display);
  }
  EXPECT_FALSE(window.PointerActionsAvailable());
  window.StartTrackingMenuItem->trigger();
  ASSERT_EQ(messages.Count(), 1u);
  EXPECT_EQ(messages.Entries()[0].Kind, TMessageKind::Information);
  EXPECT_TRUE(messages.Entries()[0].Text.contains("not available"));
}

class SaveFrameTest : public FramesTest {
 protected:
  void SetUp() override {
    FramesTest::SetUp();
    FOldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Folder.path()));
  }
  void TearDown() override { QDir::setCurrent(FOldCurrent); }

  QTemporaryDir Folder;

 private:
  QString FOldCurrent;
};

TEST_F(SaveFrameTest, SavesNumberedBitmapsWithoutOverwritingEarlierOnes) {
  // A file of an earlier run.
  {
    std::ofstream earlier(std::filesystem::path(Folder.path().toStdString()) / "1.bmp");
    earlier << "earlier run";
  }
  FeedFrames(*Window, CentreBlock(), 2);
  Window->SaveCurrentImagetoBitmap1->trigger();
  EXPECT_EQ(Window->SaveCount, 3);
  Window->SaveCurrentImagetoBitmap1->trigger();
  EXPECT_EQ(Window->SaveCount, 4);
  EXPECT_EQ(Messages.Count(), 0u);

  QFile earlier(Folder.filePath("1.bmp"));
  ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
  EXPECT_EQ(earlier.readAll(), "earlier run");

  // The saved picture is the view as shown, on-screen display included.
  const TBitmap view = Window->Pipeline().ViewImageCopy();
  for (const char* name : {"2.bmp", "3.bmp"}) {
    const TBitmap saved = LoadBmpFile(Folder.filePath(name).toStdString());
    ASSERT_EQ(saved.Width(), 160);
    ASSERT_EQ(saved.Height(), 120);
    for (int row = 0; row < 120; ++row) {
      ASSERT_EQ(std::memcmp(saved.ScanLine(row), view.ScanLine(row), 160 * 3), 0) << name << row;
    }
  }
}

TEST_F(SaveFrameTest, AFailedSaveIsReportedAndKeepsTheNumber) {
  // The current folder disappears under the program.
  ASSERT_TRUE(Folder.remove());
  Window->SaveCurrentImagetoBitmap1->trigger();
  EXPECT_EQ(Window->SaveCount, 1);
  const auto entries = Messages.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Kind, TMessageKind::StandardError);
  EXPECT_FALSE(entries[0].Text.isEmpty());
}

class CalibrationTest : public FramesTest {
 protected:
  // The hue byte the tracker gives the skin colour, read from its hue image.
  int SkinHue() {
    const TTrackingResult result = Window->Pipeline().LastResult();
    std::scoped_lock lock(result.HueImage->Lock());
    return result.HueImage->Row24(60)[80].rgbtBlue;
  }
  // A frame whose calibration box (and some margin) is skin.
  static TBitmap HandInTheBox() { return MakeFrame(50, 35, 111, 86); }
};

TEST_F(CalibrationTest, ClickOutsideTheHueViewChangesNothing) {
  FeedFrames(*Window, HandInTheBox(), 3);
  const TTrackerParameters before = Window->TrackerParameters;
  QTest::mouseClick(Window->RenderedImage, Qt::LeftButton);
  Window->HandImageItem->trigger();
  FeedFrames(*Window, HandInTheBox(), 1);
  QTest::mouseClick(Window->RenderedImage, Qt::LeftButton);
  EXPECT_EQ(Window->TrackerParameters, before);
  EXPECT_EQ(Window->Tracker().GetParameters(), before);
}

TEST_F(CalibrationTest, ClickInTheHueViewSetsTheHueBoundsFromTheBoxWithoutTheOverlay) {
  Window->HueImageItem->trigger();
  ASSERT_TRUE(Window->HueImageItem->isChecked());
  ASSERT_FALSE(Window->RGBImageItem->isChecked());
  ASSERT_TRUE(Window->OnScreenDisplayMenuItem->isChecked());
  FeedFrames(*Window, HandInTheBox(), 3);
  const int hue = SkinHue();
  ASSERT_GT(hue, 0);
  {
    // The view as shown carries the calibration box's red outline (first byte 0)...
    std::scoped_lock lock(Window->Pipeline().ViewLock());
    ASSERT_EQ(Window->Pipeline().ViewImage().Row24(45)[70].rgbtBlue, 0);
  }
  TTrackerParameters expected = Window->TrackerParameters;
  expected.LHueBound = hue;
  expected.HHueBound = hue;

  // ...which stays out of the samples: a uniform hand gives both bounds its own hue.
  QTest::mouseClick(Window->RenderedImage, Qt::LeftButton);
  EXPECT_EQ(Window->TrackerParameters, expected);
  EXPECT_EQ(Window->Tracker().GetParameters(), expected);

  // With the display off the result is the same.
  Window->WMUpdateTrackerParamsHandler(SkinParameters());
  Window->OnScreenDisplayMenuItem->trigger();
  ASSERT_FALSE(Window->OnScreenDisplayMenuItem->isChecked());
  FeedFrames(*Window, HandInTheBox(), 2);
  QTest::mouseClick(Window->RenderedImage, Qt::LeftButton);
  EXPECT_EQ(Window->TrackerParameters, expected);
}

TEST_F(CalibrationTest, ClickOnABlackViewSetsBothBoundsToZero) {
  Window->HueImageItem->trigger();
  Window->RenderedImageClick();
  EXPECT_EQ(Window->TrackerParameters.LHueBound, 0);
  EXPECT_EQ(Window->TrackerParameters.HHueBound, 0);
  EXPECT_EQ(Window->Tracker().GetParameters().HHueBound, 0);
  // The other eight stay.
  TTrackerParameters expected = SkinParameters();
  expected.HHueBound = 0;
  EXPECT_EQ(Window->TrackerParameters, expected);
}

TEST_F(CalibrationTest, CalibratedBoundsAreWrittenAtClose) {
  Window->HueImageItem->trigger();
  FeedFrames(*Window, HandInTheBox(), 3);
  const int hue = SkinHue();
  Window->RenderedImageClick();
  Window->show();
  Window->close();
  TTrackerParameters stored = DefaultParameters();
  ReadUserStore(stored);
  EXPECT_EQ(stored.LHueBound, hue);
  EXPECT_EQ(stored.HHueBound, hue);
}

}  // namespace
}  // namespace pavrel
