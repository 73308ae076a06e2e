#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>

#include <vector>

#include "app/ConfigurationDialog.h"
#include "app/UpdateTrackerParamsEvent.h"
#include "settings/Settings.h"

namespace pavrel {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_app_configuration_dialog";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Stands for the main window: keeps a copy of every set it is sent.
class TReceiver : public QObject {
 public:
  std::vector<TTrackerParameters> Sets;
  bool event(QEvent* Event) override {
    if (Event->type() == WM_UPDATETRACKERPARAMS) {
      Sets.push_back(*static_cast<TUpdateTrackerParamsEvent*>(Event)->Parameters());
      return true;
    }
    return QObject::event(Event);
  }
};

class ConfigurationDialog : public ::testing::Test {
 protected:
  // The parameters as a slider set them: the ratio is position x 0.01.
  static TTrackerParameters WithRatioPosition(TTrackerParameters P, int Position) {
    P.HeightToWidthRatio = Position * 0.01;
    return P;
  }

  QApplication& Application = App();  // before any widget
  TReceiver Main;
  TConfigurationDialog Dialog;
};

TEST_F(ConfigurationDialog, FirstShowingWithTheDefaultsSendsSevenTimes) {
  EXPECT_EQ(Dialog.MeanThresholdLabel->text(), "Low");
  Dialog.ShowParameters(DefaultParameters(), &Main);
  EXPECT_TRUE(Dialog.isVisible());
  EXPECT_EQ(Main.Sets.size(), 7u);
  EXPECT_EQ(Dialog.MeanThresholdLabel->text(), "1");
  EXPECT_EQ(Dialog.WindowExpansionLabel->text(), "5");
  EXPECT_EQ(Dialog.HeightToWidthRatioLabel->text(), "1.72");
  EXPECT_EQ(Dialog.LoseTrackAreaLabel->text(), "200");
  EXPECT_EQ(Dialog.HueHighTrackBar->value(), 255);
  EXPECT_EQ(Dialog.HeightToWidthRatioTrackBar->value(), 172);
  EXPECT_EQ(Main.Sets.back(), WithRatioPosition(DefaultParameters(), 172));
  EXPECT_EQ(Dialog.SavedParameters, Main.Sets.back());

  // Shown again (after closing) with the same set: every slider is in place, nothing is sent
  // but the close's restore.
  Dialog.close();
  EXPECT_FALSE(Dialog.isVisible());
  Main.Sets.clear();
  Dialog.ShowParameters(DefaultParameters(), &Main);
  EXPECT_EQ(Main.Sets.size(), 0u);
}

TEST_F(ConfigurationDialog, OutOfRangeValuesAreClampedAndSentOnlyWhenTheSliderMoves) {
  TTrackerParameters p = DefaultParameters();
  p.MeanThreshold = 500;
  p.HeightToWidthRatio = 0.05;  // the ratio slider is at 10 already
  p.LoseTrackArea = -3;         // the slider is at 0 already
  Dialog.ShowParameters(p, &Main);
  EXPECT_EQ(Dialog.MeanThresholdTrackBar->value(), 20);
  EXPECT_EQ(Dialog.MeanThresholdLabel->text(), "20");
  ASSERT_EQ(Main.Sets.size(), 5u);  // HHue, mean, expansion, HSat, HVal
  EXPECT_EQ(Main.Sets[1].MeanThreshold, 20);
  EXPECT_EQ(Main.Sets.back().MeanThreshold, 20);
  EXPECT_EQ(Main.Sets.back().HeightToWidthRatio, 0.05);
  EXPECT_EQ(Main.Sets.back().LoseTrackArea, -3);
  EXPECT_EQ(Dialog.HeightToWidthRatioLabel->text(), "Low");
  EXPECT_EQ(Dialog.SavedParameters.MeanThreshold, 20);  // Cancel restores the clamped value

  // Next showing: 5.0 moves the ratio slider to 400 and sends 4.00; a NaN ratio from a
  // damaged store goes to the lowest position instead of overflowing.
  Dialog.close();
  Main.Sets.clear();
  p.HeightToWidthRatio = 5.0;
  Dialog.ShowParameters(p, &Main);
  ASSERT_EQ(Main.Sets.size(), 1u);
  EXPECT_DOUBLE_EQ(Main.Sets[0].HeightToWidthRatio, 4.0);
  EXPECT_EQ(Dialog.HeightToWidthRatioLabel->text(), "4.00");
  Dialog.close();
  Main.Sets.clear();
  p.HeightToWidthRatio = std::nan("");
  Dialog.ShowParameters(p, &Main);
  ASSERT_EQ(Main.Sets.size(), 1u);
  EXPECT_DOUBLE_EQ(Main.Sets[0].HeightToWidthRatio, 0.1);
}

TEST_F(ConfigurationDialog, CancelRestoresTheShownSetAndSendsItTwice) {
  Dialog.ShowParameters(DefaultParameters(), &Main);
  const TTrackerParameters shown = Dialog.SavedParameters;
  Main.Sets.clear();
  QTest::keyClick(Dialog.HueLowTrackBar, Qt::Key_Right);
  QTest::keyClick(Dialog.MeanThresholdTrackBar, Qt::Key_PageUp);
  ASSERT_EQ(Main.Sets.size(), 2u);
  EXPECT_EQ(Main.Sets[0].LHueBound, 1);
  EXPECT_EQ(Main.Sets[1].MeanThreshold, 3);
  EXPECT_EQ(Dialog.MeanThresholdLabel->text(), "3");

  QTest::mouseClick(Dialog.CancelBtn, Qt::LeftButton);
  EXPECT_FALSE(Dialog.isVisible());
  ASSERT_EQ(Main.Sets.size(), 4u);
  EXPECT_EQ(Main.Sets[2], shown);
  EXPECT_EQ(Main.Sets[3], shown);
  EXPECT_EQ(Dialog.Parameters, shown);
  // Hidden, not destroyed: the sliders stay where they were.
  EXPECT_FALSE(Dialog.testAttribute(Qt::WA_DeleteOnClose));
  EXPECT_EQ(Dialog.HueLowTrackBar->value(), 1);

  // Esc is the Cancel button.
  Dialog.ShowParameters(DefaultParameters(), &Main);  // moves HueLow back: one send
  Main.Sets.clear();
  QTest::keyClick(Dialog.HueHighTrackBar, Qt::Key_Left);
  QTest::keyClick(Dialog.HueHighTrackBar, Qt::Key_Escape);
  EXPECT_FALSE(Dialog.isVisible());
  ASSERT_EQ(Main.Sets.size(), 3u);
  EXPECT_EQ(Main.Sets[0].HHueBound, 254);
  EXPECT_EQ(Main.Sets[2], shown);
}

TEST_F(ConfigurationDialog, TheCloseBoxBehavesLikeCancelAlsoAfterAnEarlierOK) {
  Dialog.ShowParameters(DefaultParameters(), &Main);
  QTest::keyClick(Dialog.LoseTrackAreaTrackBar, Qt::Key_Right);
  QTest::mouseClick(Dialog.OKBtn, Qt::LeftButton);  // OK keeps 201
  Main.Sets.clear();

  const TTrackerParameters p = Dialog.Parameters;  // as OK left it
  Dialog.ShowParameters(p, &Main);
  EXPECT_EQ(Main.Sets.size(), 0u);
  QTest::keyClick(Dialog.WindowExpansionTrackBar, Qt::Key_End);
  EXPECT_EQ(Main.Sets.back().WindowExpansion, 50);
  EXPECT_EQ(Dialog.WindowExpansionLabel->text(), "50");
  Dialog.close();  // the title bar's close box
  EXPECT_FALSE(Dialog.isVisible());
  ASSERT_EQ(Main.Sets.size(), 2u);
  EXPECT_EQ(Main.Sets.back(), p);
  EXPECT_EQ(Main.Sets.back().LoseTrackArea, 201);
}

TEST_F(ConfigurationDialog, OKKeepsTheLastSetAndSendsNothingMore) {
  Dialog.ShowParameters(DefaultParameters(), &Main);
  Main.Sets.clear();
  QTest::keyClick(Dialog.HeightToWidthRatioTrackBar, Qt::Key_Right);
  QTest::keyClick(Dialog.ValLowTrackbar, Qt::Key_PageUp);
  ASSERT_EQ(Main.Sets.size(), 2u);
  EXPECT_EQ(Dialog.HeightToWidthRatioLabel->text(), "1.73");
  QTest::keyClick(Dialog.ValLowTrackbar, Qt::Key_Return);  // Enter is the OK button
  EXPECT_FALSE(Dialog.isVisible());
  ASSERT_EQ(Main.Sets.size(), 2u);
  EXPECT_EQ(Main.Sets.back().LValBound, 2);
  EXPECT_DOUBLE_EQ(Main.Sets.back().HeightToWidthRatio, 1.73);
}

TEST_F(ConfigurationDialog, EveryScrollNotificationSendsOnceEvenWithoutAChange) {
  Dialog.ShowParameters(DefaultParameters(), &Main);
  Main.Sets.clear();
  // A key press at the end of the range still notifies.
  QTest::keyClick(Dialog.HueHighTrackBar, Qt::Key_Right);
  ASSERT_EQ(Main.Sets.size(), 1u);
  EXPECT_EQ(Main.Sets[0].HHueBound, 255);

  // A drag: one send per step and one more at its end, with the position unchanged.
  QSlider* slider = Dialog.LoseTrackAreaTrackBar;
  Main.Sets.clear();
  slider->setSliderDown(true);
  slider->setSliderPosition(210);
  slider->setSliderPosition(220);
  slider->setSliderDown(false);
  ASSERT_EQ(Main.Sets.size(), 3u);
  EXPECT_EQ(Main.Sets[0].LoseTrackArea, 210);  // the new position, before Qt's own update
  EXPECT_EQ(Main.Sets[2].LoseTrackArea, 220);
  EXPECT_EQ(Dialog.LoseTrackAreaLabel->text(), "220");

  // The same with the mouse on the handle: press, two moves, release.
  Main.Sets.clear();
  QStyleOptionSlider option;
  option.initFrom(slider);
  option.orientation = Qt::Horizontal;
  option.minimum = slider->minimum();
  option.maximum = slider->maximum();
  option.sliderPosition = slider->sliderPosition();
  option.sliderValue = slider->value();
  option.tickPosition = slider->tickPosition();
  option.subControls = QStyle::SC_All;
  const QPoint handle =
      slider->style()
          ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
          .center();
  QTest::mousePress(slider, Qt::LeftButton, {}, handle);
  QTest::mouseMove(slider, handle + QPoint(10, 0));
  QTest::mouseMove(slider, handle + QPoint(20, 0));
  QTest::mouseRelease(slider, Qt::LeftButton, {}, handle + QPoint(20, 0));
  ASSERT_EQ(Main.Sets.size(), 3u);
  EXPECT_GT(Main.Sets[0].LoseTrackArea, 220);
  EXPECT_GT(Main.Sets[1].LoseTrackArea, Main.Sets[0].LoseTrackArea);
  EXPECT_EQ(Main.Sets[2].LoseTrackArea, slider->value());

  // A press and release on the handle without moving is the end of a drag too.
  Main.Sets.clear();
  option.sliderPosition = option.sliderValue = slider->value();
  const QPoint still =
      slider->style()
          ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
          .center();
  QTest::mousePress(slider, Qt::LeftButton, {}, still);
  QTest::mouseRelease(slider, Qt::LeftButton, {}, still);
  EXPECT_EQ(Main.Sets.size(), 1u);
}

TEST_F(ConfigurationDialog, ASetChangedElsewhereWhileShownIsOverwrittenAtTheNextChange) {
  Dialog.ShowParameters(DefaultParameters(), &Main);
  Main.Sets.clear();
  TTrackerParameters opened = DefaultParameters();
  opened.LHueBound = 40;
  opened.MeanThreshold = 7;
  Dialog.ShowParameters(opened, &Main);  // shown already: only brought to the front
  EXPECT_EQ(Main.Sets.size(), 0u);
  EXPECT_EQ(Dialog.HueLowTrackBar->value(), 0);
  QTest::keyClick(Dialog.HueHighTrackBar, Qt::Key_Left);
  ASSERT_EQ(Main.Sets.size(), 1u);
  TTrackerParameters expected = opened;
  expected.HHueBound = 254;
  EXPECT_EQ(Main.Sets[0], expected);
  // Cancel goes back to the set of the (only) showing, not to the one taken while shown.
  QTest::mouseClick(Dialog.CancelBtn, Qt::LeftButton);
  EXPECT_EQ(Main.Sets.back(), WithRatioPosition(DefaultParameters(), 172));
}

TEST_F(ConfigurationDialog, AReceiverThatIsGoneIsNotSentTo) {
  auto* gone = new TReceiver;
  Dialog.ShowParameters(DefaultParameters(), gone);
  EXPECT_EQ(gone->Sets.size(), 7u);
  delete gone;
  QTest::keyClick(Dialog.HueLowTrackBar, Qt::Key_Right);
  Dialog.close();  // no send to freed memory (ASan would see it)
  EXPECT_FALSE(Dialog.isVisible());
}

TEST_F(ConfigurationDialog, LayoutCaptionsRangesAndTicks) {
  EXPECT_EQ(Dialog.windowTitle(), "Tracker Settings");
  EXPECT_EQ(Dialog.size(), QSize(400, 256));
  EXPECT_EQ(Dialog.minimumSize(), Dialog.maximumSize());
  EXPECT_TRUE(Dialog.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(Dialog.isModal());
  EXPECT_EQ(Dialog.OKBtn->geometry(), QRect(300, 224, 75, 25));
  EXPECT_EQ(Dialog.CancelBtn->geometry(), QRect(220, 224, 75, 25));
  EXPECT_TRUE(Dialog.OKBtn->isDefault());

  struct TGroup {
    QGroupBox* Box;
    const char* Caption;
    QRect Geometry;
  };
  for (const TGroup& g : std::vector<TGroup>{
           {Dialog.HueThresholds, "Hue Thresholds", {8, 8, 185, 73}},
           {Dialog.SaturationThresholds, "Saturation Thresholds", {208, 8, 185, 73}},
           {Dialog.MeanThreshold, "Mean Threshold", {8, 144, 185, 49}},
           {Dialog.WindowExpansion, "Window Expansion", {8, 200, 185, 49}},
           {Dialog.HeightToWidthRatio, "Height To Width Ratio", {8, 88, 185, 49}},
           {Dialog.LoseTrackArea, "Lose Track Area", {208, 168, 185, 49}},
           {Dialog.ValueThresholds, "Value Thresholds", {208, 88, 185, 73}}}) {
    EXPECT_EQ(g.Box->title(), g.Caption);
    EXPECT_EQ(g.Box->geometry(), g.Geometry) << g.Caption;
  }

  struct TSlider {
    QSlider* Slider;
    QGroupBox* Box;
    int Top, Minimum, Maximum, Tick;
  };
  for (const TSlider& s : std::vector<TSlider>{
           {Dialog.HueLowTrackBar, Dialog.HueThresholds, 16, 0, 255, 64},
           {Dialog.HueHighTrackBar, Dialog.HueThresholds, 40, 0, 255, 64},
           {Dialog.SaturationLowTrackBar, Dialog.SaturationThresholds, 16, 0, 255, 64},
           {Dialog.SaturationHighTrackBar, Dialog.SaturationThresholds, 40, 0, 255, 64},
           {Dialog.ValLowTrackbar, Dialog.ValueThresholds, 16, 0, 255, 64},
           {Dialog.ValHighTrackBar, Dialog.ValueThresholds, 40, 0, 255, 64},
           {Dialog.MeanThresholdTrackBar, Dialog.MeanThreshold, 16, 0, 20, 5},
           {Dialog.WindowExpansionTrackBar, Dialog.WindowExpansion, 16, 0, 50, 10},
           {Dialog.HeightToWidthRatioTrackBar, Dialog.HeightToWidthRatio, 16, 10, 400, 100},
           {Dialog.LoseTrackAreaTrackBar, Dialog.LoseTrackArea, 16, 0, 400, 100}}) {
    SCOPED_TRACE(s.Box->title().toStdString());
    EXPECT_EQ(s.Slider->parentWidget(), s.Box);
    EXPECT_EQ(s.Slider->geometry(), QRect(8, s.Top, 145, 25));
    EXPECT_EQ(s.Slider->orientation(), Qt::Horizontal);
    EXPECT_EQ(s.Slider->minimum(), s.Minimum);
    EXPECT_EQ(s.Slider->maximum(), s.Maximum);
    EXPECT_EQ(s.Slider->value(), s.Minimum);
    EXPECT_EQ(s.Slider->tickInterval(), s.Tick);
    EXPECT_EQ(s.Slider->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(s.Slider->singleStep(), 1);
    EXPECT_EQ(s.Slider->pageStep(), 2);
  }
  EXPECT_EQ(Dialog.Label1->text(), "Low");
  EXPECT_EQ(Dialog.Label2->text(), "High");
  EXPECT_EQ(Dialog.Label10->pos(), QPoint(152, 40));
  EXPECT_EQ(Dialog.LoseTrackAreaLabel->pos(), QPoint(160, 16));

  // Tab order of the groups: hue, saturation, mean, expansion, ratio, lose-track, value.
  std::vector<QWidget*> order;
  QWidget* w = Dialog.HueLowTrackBar;
  for (int i = 0; i < 10; ++i, w = w->nextInFocusChain()) {
    while (!(w->focusPolicy() & Qt::TabFocus)) {
      w = w->nextInFocusChain();
    }
    order.push_back(w);
  }
  EXPECT_EQ(order,
            (std::vector<QWidget*>{Dialog.HueLowTrackBar, Dialog.HueHighTrackBar,
                                   Dialog.SaturationLowTrackBar, Dialog.SaturationHighTrackBar,
                                   Dialog.MeanThresholdTrackBar, Dialog.WindowExpansionTrackBar,
                                   Dialog.HeightToWidthRatioTrackBar, Dialog.LoseTrackAreaTrackBar,
                                   Dialog.ValLowTrackbar, Dialog.ValHighTrackBar}));
}

}  // namespace
}  // namespace pavrel
