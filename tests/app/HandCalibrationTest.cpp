// Tracker > Calibrate Hand in the main window: an armed click in any view learns the colour
// model, a lost hand shows in the label, the model survives a restart, and the hue view's
// calibration click still sets the hue bounds (and puts the bounds back in use).

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QTest>

#include "AppTestSupport.h"
#include "app/MainDialog.h"
#include "app/ViewWidgets.h"
#include "mouse/RecordingDesktop.h"
#include "pipeline/FramePipeline.h"
#include "settings/ColourModelStore.h"
#include "settings/Settings.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

using test::FeedFrames;
using test::MakeFrame;
using test::TRecordedMessages;
using test::TTemporaryStore;

std::unique_ptr<TMainDialog> NewWindow(TRecordedMessages& Messages) {
  TMainDialogOptions options;
  options.MessageSink = Messages.Sink();
  options.CreateDesktop = [] { return std::unique_ptr<TDesktop>(new TRecordingDesktop); };
  return std::make_unique<TMainDialog>(options);
}

TEST(HandCalibrationMenu, ArmedClickLearnsTheModelWhichOutlivesARestart) {
  TTemporaryStore store;
  TRecordedMessages messages;
  const TBitmap hand = MakeFrame(60, 35, 95, 90);
  {
    auto window = NewWindow(messages);
    EXPECT_FALSE(window->LearnedColourModel());
    FeedFrames(*window, hand, 2);
    // Not armed: a click in the RGB view changes nothing.
    QTest::mouseClick(window->RenderedImage, Qt::LeftButton, {}, QPoint(77, 62));
    EXPECT_FALSE(window->LearnedColourModel());
    EXPECT_EQ(window->Tracker().SkinModel(), nullptr);

    window->CalibrateHandMenuItem->trigger();
    ASSERT_TRUE(window->CalibrateHandMenuItem->isChecked());
    const TTrackerParameters before = window->TrackerParameters;
    QTest::mouseClick(window->RenderedImage, Qt::LeftButton, {}, QPoint(77, 62));
    EXPECT_TRUE(window->LearnedColourModel());
    ASSERT_NE(window->Tracker().SkinModel(), nullptr);
    EXPECT_EQ(window->TrackerParameters, before);
    EXPECT_EQ(messages.Count(), 0u);
    // Disarmed again, a click calibrates nothing.
    window->CalibrateHandMenuItem->trigger();
    ASSERT_FALSE(window->CalibrateHandMenuItem->isChecked());
    const auto model = window->Tracker().SkinModel();
    QTest::mouseClick(window->RenderedImage, Qt::LeftButton, {}, QPoint(77, 62));
    EXPECT_EQ(window->Tracker().SkinModel(), model);

    FeedFrames(*window, hand, 2);
    EXPECT_TRUE(window->Pipeline().LastResult().LearnedModel);
    EXPECT_FALSE(window->Pipeline().LastResult().Lost);
    EXPECT_NE(window->ActionDisplay->text(), HandLostCaption);
    // The hand leaves the picture.
    FeedFrames(*window, MakeFrame(0, 0, 0, 0), 2);
    EXPECT_EQ(window->ActionDisplay->text(), HandLostCaption);
    window->show();
    window->close();
  }
  ASSERT_TRUE(ReadStoredColourModel());
  {
    // The next start tracks with the learned model at once.
    auto window = NewWindow(messages);
    EXPECT_TRUE(window->LearnedColourModel());
    EXPECT_NE(window->Tracker().SkinModel(), nullptr);
    FeedFrames(*window, hand, 2);
    EXPECT_TRUE(window->Pipeline().LastResult().LearnedModel);
    EXPECT_FALSE(window->Pipeline().LastResult().Lost);

    // Not armed, the hue view's click sets the hue bounds as ever and uses them again.
    ASSERT_FALSE(window->CalibrateHandMenuItem->isChecked());
    window->HueImageItem->trigger();
    FeedFrames(*window, hand, 2);
    const TTrackerParameters before = window->TrackerParameters;
    QTest::mouseClick(window->RenderedImage, Qt::LeftButton, {}, QPoint(77, 62));
    EXPECT_NE(window->TrackerParameters.LHueBound, before.LHueBound);
    EXPECT_FALSE(window->LearnedColourModel());
    EXPECT_EQ(window->Tracker().SkinModel(), nullptr);
    window->show();
    window->close();
  }
  EXPECT_FALSE(ReadStoredColourModel());
}

TEST(HandCalibrationMenu, AnArmedClickBeforeAnyFrameIsReportedAndChangesNothing) {
  TTemporaryStore store;
  TRecordedMessages messages;
  auto window = NewWindow(messages);
  window->CalibrateHandMenuItem->trigger();
  QTest::mouseClick(window->RenderedImage, Qt::LeftButton, {}, QPoint(77, 62));
  EXPECT_FALSE(window->LearnedColourModel());
  EXPECT_EQ(messages.Count(), 1u);
}

}  // namespace
}  // namespace pavrel
