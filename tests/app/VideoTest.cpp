// The Source menu's commands on real video (a generated clip chosen in the real file
// dialog), and the tracking states that depend on a running video.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <stdexcept>

#include "AppTestSupport.h"
#include "ClipWriter.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "app/StopTrackingDialog.h"
#include "app/ViewWidgets.h"
#include "mouse/RecordingDesktop.h"
#include "settings/Settings.h"
#include "video/VideoSource.h"

namespace pavrel {
namespace {

using test::AnswerFileDialog;
using test::MakeFrame;
using test::TRecordedMessages;
using test::TTemporaryStore;
using test::WaitFor;

class VideoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClipFolder = new QTemporaryDir;
    ClipPath = ClipFolder->filePath("moving-block.avi");
    test::WriteMovingBlockClip(ClipPath.toStdString(), 120);
  }
  static void TearDownTestSuite() {
    delete ClipFolder;
    ClipFolder = nullptr;
  }

  void SetUp() override {
    const TMainDialogOptions options = test::RecordingOptions(Messages);
    Windows = std::make_unique<TApplicationWindows>(options);
    Main = Windows->MainDialog.get();
    Stop = Windows->StopTrackingDialog.get();
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main));
  }

  // Source > File... with the clip typed into the dialog; waits for frames.
  void PlayClip() {
    const auto visit = AnswerFileDialog(Main->OpenDialog, ClipPath);
    Main->File2->trigger();
    ASSERT_TRUE(visit->Seen);
    const auto handled = Main->FramesHandled();
    ASSERT_TRUE(WaitFor([&] { return Main->FramesHandled() > handled + 3; }, 10000))
        << "no frames from " << ClipPath.toStdString();
  }

  bool TrackerMenuEnabled() const { return Main->TrackerMenuItem->menuAction()->isEnabled(); }

  // The state table of tracking control: Tracker menu, Start, Stop, TrackingActive, stop window.
  void ExpectState(bool Tracker, bool Start, bool StopItem, bool Active, bool StopShown) {
    EXPECT_EQ(TrackerMenuEnabled(), Tracker);
    EXPECT_EQ(Main->StartTrackingMenuItem->isEnabled(), Start);
    EXPECT_EQ(Main->StopTrackingMenuItem->isEnabled(), StopItem);
    EXPECT_EQ(Main->TrackingActive(), Active);
    EXPECT_EQ(Stop->isVisible(), StopShown);
  }

  static inline QTemporaryDir* ClipFolder = nullptr;
  static inline QString ClipPath;

  TTemporaryStore Store;
  TRecordedMessages Messages;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
  TStopTrackingDialog* Stop = nullptr;
};

TEST_F(VideoTest, TheRawViewGetsItsFramesAtTheSizeItShowsThem) {
  PlayClip();
  TVideoWindow& window = Main->Video().VideoWindow();
  const auto frameOfSize = [&](int Width, int Height) {
    return WaitFor(
        [&] {
          const auto frame = window.CurrentFrame();
          return frame && frame->Width() == Width && frame->Height() == Height;
        },
        5000);
  };
  EXPECT_TRUE(frameOfSize(160, 120));
  // Resized while the video runs: the video layer follows, so nothing larger is converted.
  Main->RawVideo->resize(80, 40);
  ASSERT_TRUE(frameOfSize(80, 40));
  // 4:3 in 80 x 40: the picture is 53 wide in the middle, black bars at the sides.
  ASSERT_TRUE(WaitFor(
      [&] { return Main->RawVideo->grab().toImage().pixelColor(40, 20) != QColor(0, 0, 0); },
      5000));
  const QImage raw = Main->RawVideo->grab().toImage();
  EXPECT_EQ(raw.pixelColor(3, 20), QColor(0, 0, 0));
  EXPECT_EQ(raw.pixelColor(76, 20), QColor(0, 0, 0));
  Main->RawVideo->resize(160, 120);
  EXPECT_TRUE(frameOfSize(160, 120));
}

TEST_F(VideoTest, FileStartsTheVideoTimerAndTrackerMenuAndStopVideoEndsThem) {
  const auto visit = AnswerFileDialog(Main->OpenDialog, ClipPath);
  Main->File2->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_EQ(visit->NameFilters, QStringList{"Video Files (*)"});
  EXPECT_TRUE(visit->ShownFileName.isEmpty());
  EXPECT_FALSE(visit->AcceptSave);
  EXPECT_TRUE(Main->Timer->isActive());
  EXPECT_TRUE(TrackerMenuEnabled());

  ASSERT_TRUE(WaitFor([&] { return Main->FramesHandled() > 10; }, 10000));
  // Both views show the clip: skin in the processed view, the raw preview no longer black.
  ASSERT_TRUE(WaitFor(
      [&] {
        const QImage raw = Main->RawVideo->grab().toImage();
        return raw.pixelColor(80, 60) != QColor(0, 0, 0);
      },
      5000));
  const QImage view = Main->RenderedImage->grab().toImage();
  EXPECT_NE(view.pixelColor(150, 110), QColor(0, 0, 0));
  EXPECT_EQ(Messages.Count(), 0u);

  Main->StopVideoMenuItem->trigger();
  EXPECT_FALSE(Main->Timer->isActive());
  EXPECT_FALSE(TrackerMenuEnabled());
  const auto handled = Main->FramesHandled();
  QTest::qWait(300);
  EXPECT_EQ(Main->FramesHandled(), handled);
  // The processed view ends black (its outline drawn with the last pen does not reach inside).
  const QImage black = Main->RenderedImage->grab().toImage();
  for (const QPoint point : {QPoint(80, 60), QPoint(20, 100), QPoint(150, 10)}) {
    EXPECT_EQ(black.pixelColor(point), QColor(0, 0, 0));
  }
  // A second Stop Video is harmless and paints black again.
  Main->StopVideoMenuItem->trigger();
  EXPECT_FALSE(TrackerMenuEnabled());
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(VideoTest, CancellingOrChoosingAFileThatIsNoVideoChangesNothing) {
  auto visit = AnswerFileDialog(Main->OpenDialog, QString());
  Main->File2->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_FALSE(Main->Timer->isActive());
  EXPECT_FALSE(TrackerMenuEnabled());
  EXPECT_EQ(Messages.Count(), 0u);

  const QString notAVideo = ClipFolder->filePath("notes.avi");
  {
    std::ofstream file(notAVideo.toStdString());
    file << "this is text, not a video\n";
  }
  visit = AnswerFileDialog(Main->OpenDialog, notAVideo);
  Main->File2->trigger();
  ASSERT_TRUE(visit->Seen);
  EXPECT_FALSE(Main->Timer->isActive());
  EXPECT_FALSE(TrackerMenuEnabled());
  const auto entries = Messages.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Kind, TMessageKind::StandardError);
  EXPECT_TRUE(entries[0].Owned);
  EXPECT_FALSE(entries[0].Text.isEmpty());
}

TEST_F(VideoTest, TrackingFollowsTheMenusTheStopWindowAndStopVideo) {
  ExpectState(false, true, false, false, false);  // no video
  PlayClip();
  ExpectState(true, true, false, false, false);  // video, not tracking

  Main->StartTrackingMenuItem->trigger();
  ExpectState(true, false, true, true, true);  // tracking
  EXPECT_EQ(Stop->MainWindowHandle, Main);

  Main->StopTrackingMenuItem->trigger();
  ExpectState(true, true, false, false, true);  // stopped from the menu: the window stays

  Main->StartTrackingMenuItem->trigger();
  ExpectState(true, false, true, true, true);  // tracking again
  QTest::mouseClick(Stop->StopButton, Qt::LeftButton);
  ExpectState(true, true, false, false, false);  // the button stops and hides

  Main->StartTrackingMenuItem->trigger();
  Main->StopTrackingMenuItem->trigger();
  QTest::mouseClick(Stop->StopButton, Qt::LeftButton);
  ExpectState(true, true, false, false, false);  // from stopped-from-the-menu it only hides

  // Stop Video while tracking: only the Tracker menu goes off; the button still stops.
  Main->StartTrackingMenuItem->trigger();
  Main->StopVideoMenuItem->trigger();
  ExpectState(false, false, true, true, true);
  QTest::mouseClick(Stop->StopButton, Qt::LeftButton);
  ExpectState(false, true, false, false, false);

  // Video again: tracking continues at once when it was on.
  Main->StartTrackingMenuItem->trigger();
  Main->StopVideoMenuItem->trigger();
  PlayClip();
  ExpectState(true, false, true, true, true);
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(VideoTest, EachVideoRunShowsItsFirstFrameFailureOnce) {
  Main->Pipeline().SetGrab([](TBitmap&) -> bool { throw std::runtime_error("bad frame"); });
  PlayClip();
  ASSERT_TRUE(WaitFor([&] { return Messages.Count() == 1; }, 5000));
  ASSERT_TRUE(WaitFor([&] { return Main->FrameFailureCount() > 3; }, 5000));
  EXPECT_EQ(Messages.Count(), 1u);

  PlayClip();
  ASSERT_TRUE(WaitFor([&] { return Messages.Count() == 2; }, 5000));
  for (const auto& entry : Messages.Entries()) {
    EXPECT_EQ(entry.Kind, TMessageKind::StandardError);
    EXPECT_TRUE(entry.Text.contains("bad frame"));
  }
}

}  // namespace
}  // namespace pavrel
