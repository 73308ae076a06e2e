// The palm detector in the program: Calibrate Hand without a click, and Configuration > Use
// Hand Detector, on the repo's fingerspelling clip played through the real file dialog.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "AppTestSupport.h"
#include "app/ApplicationWindows.h"
#include "app/MainDialog.h"
#include "pipeline/FramePipeline.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

using test::AnswerFileDialog;
using test::TRecordedMessages;
using test::TTemporaryStore;
using test::WaitFor;

class HandDetectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Windows = std::make_unique<TApplicationWindows>(test::RecordingOptions(Messages));
    Main = Windows->MainDialog.get();
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main));
  }

  void PlayClip(const std::string& Name) {
    const auto clip = std::filesystem::path(std::getenv("PAVREL_MEDIA_DIR")) / Name;
    const auto visit = AnswerFileDialog(Main->OpenDialog, QString::fromStdString(clip.string()));
    Main->File2->trigger();
    ASSERT_TRUE(visit->Seen);
    ASSERT_TRUE(WaitFor([&] { return Main->FramesHandled() > 3; }, 10000));
  }

  std::string Label() const { return Main->ActionDisplay->text().toStdString(); }

  TTemporaryStore Store;
  TRecordedMessages Messages;
  std::unique_ptr<TApplicationWindows> Windows;
  TMainDialog* Main = nullptr;
};

TEST_F(HandDetectorTest, CalibrateHandCountsDownThenLearnsFromTheDetectedPalm) {
  ASSERT_NO_FATAL_FAILURE(PlayClip("asl_hand.mp4"));
  ASSERT_FALSE(Main->LearnedColourModel());
  Main->CalibrateHandMenuItem->trigger();  // armed; no click follows
  ASSERT_TRUE(Main->CalibrateHandMenuItem->isChecked());
  EXPECT_TRUE(WaitFor([&] { return Label() == "Hold your open hand up 3"; }, 2000)) << Label();
  EXPECT_TRUE(WaitFor([&] { return Label() == "Hold your open hand up 1"; }, 4000)) << Label();
  ASSERT_TRUE(WaitFor([&] { return Main->LearnedColourModel(); }, 6000));
  EXPECT_TRUE(WaitFor([&] { return Label().find("Hold") == std::string::npos; }, 2000)) << Label();
  EXPECT_EQ(Messages.Count(), 0u);
}

TEST_F(HandDetectorTest, TheCountdownFitsTheBigLabelAndActionsKeepTheirSize) {
  ASSERT_NO_FATAL_FAILURE(PlayClip("asl_hand.mp4"));
  const int fullSize = Main->ActionDisplay->font().pixelSize();
  const auto fits = [&] {
    return QFontMetrics(Main->ActionDisplay->font())
               .horizontalAdvance(Main->ActionDisplay->text()) <=
           Main->ActionDisplay->contentsRect().width();
  };
  Main->CalibrateHandMenuItem->trigger();
  ASSERT_TRUE(WaitFor([&] { return Label() == "Hold your open hand up 3"; }, 2000)) << Label();
  EXPECT_TRUE(fits()) << Main->ActionDisplay->font().pixelSize();
  Main->CalibrateHandMenuItem->trigger();  // disarmed: the label shows actions again
  ASSERT_TRUE(WaitFor([&] { return Label().find("Hold") == std::string::npos; }, 2000)) << Label();
  EXPECT_TRUE(fits());
  EXPECT_EQ(Main->ActionDisplay->font().pixelSize(), fullSize);
}

TEST_F(HandDetectorTest, UseHandDetectorIsRememberedAndConfirmsTheHand) {
  ASSERT_NO_FATAL_FAILURE(PlayClip("asl_hand.mp4"));
  EXPECT_FALSE(Main->HandDetectorMenuItem->isChecked());
  EXPECT_FALSE(Main->Pipeline().HandConfirmed());
  Main->HandDetectorMenuItem->trigger();
  EXPECT_TRUE(Main->HandDetectorMenuItem->isChecked());
  EXPECT_EQ(ReadUserStoreValues()["HandDetector"], "on");
  EXPECT_TRUE(WaitFor([&] { return Main->Pipeline().HandConfirmed(); }, 8000));
  Main->HandDetectorMenuItem->trigger();
  EXPECT_FALSE(Main->HandDetectorMenuItem->isChecked());
  EXPECT_EQ(ReadUserStoreValues()["HandDetector"], "off");
  EXPECT_FALSE(Main->Pipeline().HandConfirmed());
  EXPECT_EQ(Messages.Count(), 0u);
}

}  // namespace
}  // namespace pavrel
