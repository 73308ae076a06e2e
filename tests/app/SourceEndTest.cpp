// A source that ends or stalls: the window says so, releases a held button, and Stop Video
// and Exit still act while the pipeline is stuck in a read.

#include <gtest/gtest.h>

#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "AppTestSupport.h"
#include "ClipWriter.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "support/HeldClip.h"

namespace pavrel {
namespace {

namespace fs = std::filesystem;
using test::WaitFor;

class SourceEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Clip = fs::path(Folder.filePath("hand.avi").toStdString());
    test::WriteClip(Clip.string(), 45, 30, [](int) { return test::MakeFrame(60, 40, 100, 80); });
    Windows = std::make_unique<TApplicationWindows>(test::RecordingOptions(Messages));
    Main = Windows->MainDialog.get();
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main));
  }

  QString Status() const {
    const auto* bar = Main->findChild<QStatusBar*>();
    return bar != nullptr ? bar->currentMessage() : QString();
  }

  QTemporaryDir Folder;
  fs::path Clip;
  test::TTemporaryStore Store;
  test::TRecordedMessages Messages;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
};

TEST_F(SourceEnd, TheEndOfAClipIsShownInTheLabelAndTheStatusBar) {
  Main->PlayVideoFile(QString::fromStdString(Clip.string()));
  Main->StartTrackingMenuItem->trigger();
  ASSERT_TRUE(WaitFor([&] { return Main->ActionDisplay->text() == "Video Ended"; }, 20000));
  EXPECT_TRUE(Status().contains("hand.avi")) << Status().toStdString();
  EXPECT_TRUE(Status().contains("ended")) << Status().toStdString();
  // The menus stay as they were: tracking goes on when frames come again.
  EXPECT_TRUE(Main->TrackingActive());
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(SourceEnd, AStalledSourceIsNamedAndStopVideoAndExitStillAct) {
  test::THeldClip held(Clip, fs::path(Folder.filePath("held.avi").toStdString()));
  Main->PlayVideoFile(QString::fromStdString(held.Path().string()));
  ASSERT_TRUE(WaitFor([&] { return Main->FramesHandled() >= 40; }, 20000));
  EXPECT_TRUE(Status().isEmpty());
  // The pipe gives no more frames: after the notice time the window names the source.
  ASSERT_TRUE(WaitFor([&] { return Status().contains("held.avi"); },
                      static_cast<int>(TMainDialog::StallNotice.count()) * 1000 + 5000));
  EXPECT_TRUE(Status().contains("stopped")) << Status().toStdString();

  // Stopping a pipeline stuck in a read returns, and a file after it plays.
  Main->StopVideoMenuItem->trigger();
  EXPECT_FALSE(Main->Timer->isActive());
  const auto before = Main->FramesHandled();
  Main->PlayVideoFile(QString::fromStdString(Clip.string()));
  ASSERT_TRUE(WaitFor([&] { return Main->FramesHandled() > before + 3; }, 20000));
  EXPECT_TRUE(Status().isEmpty());

  // Exit with the stalled pipe open again.
  test::THeldClip again(Clip, fs::path(Folder.filePath("again.avi").toStdString()));
  Main->PlayVideoFile(QString::fromStdString(again.Path().string()));
  Main->Exit1->trigger();
  EXPECT_TRUE(Main->Closed());
  EXPECT_EQ(Messages.Count(), 0u);
}

}  // namespace
}  // namespace pavrel
