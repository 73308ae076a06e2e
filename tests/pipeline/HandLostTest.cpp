// A learned colour model that loses the hand: the pointer holds still, a held button is
// released, the label says so, and the hand is taken up again when it comes back.

#include <gtest/gtest.h>

#include <algorithm>

#include "PipelineFixture.h"

namespace pavrel::test {
namespace {

constexpr TRGBTriple Skin{120, 150, 215};  // blue, green, red

TEST(HandLost, HoldsThePointerReleasesTheButtonAndSaysSo) {
  TPipelineRig rig;
  rig.Pipeline.SetTrackingActive(true);
  // The seed's model presses the button on the worked example's block.
  for (int i = 0; i < 3; ++i) {
    rig.Frame(CentreBlock(Skin));
  }
  ASSERT_EQ(rig.Labels.back().Caption, "Mouse Down");
  ASSERT_EQ(rig.Desktop.ActionsWithoutMoves(), std::vector<std::string>{"LeftButtonDown()"});
  EXPECT_FALSE(rig.Pipeline.LastResult().LearnedModel);

  // Hand calibration with a click on the block; the seed's bounds no longer decide.
  TSkinExamples examples;
  const auto model = rig.Pipeline.CalibrateHand(80, 60, examples);
  ASSERT_TRUE(model);
  EXPECT_GT(examples.SkinCount(), 400u);
  EXPECT_EQ(rig.Tracker.SkinModel(), model);
  EXPECT_NE(rig.Frame(CentreBlock(Skin)).Caption, HandLostCaption);
  EXPECT_TRUE(rig.Pipeline.LastResult().LearnedModel);
  EXPECT_FALSE(rig.Pipeline.LastResult().Lost);

  // The hand leaves.
  const long moves = rig.Moves();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rig.Frame(TBitmap(160, 120)).Caption, HandLostCaption);
    EXPECT_TRUE(rig.Pipeline.LastResult().Lost);
    EXPECT_EQ(rig.Pipeline.LastAction().Action, maNoAction);
  }
  EXPECT_EQ(rig.Moves(), moves);
  const std::vector<std::string> acts = rig.Desktop.ActionsWithoutMoves();
  ASSERT_FALSE(acts.empty());
  EXPECT_EQ(acts.back(), "LeftButtonUp()");
  EXPECT_EQ(std::count(acts.begin(), acts.end(), "LeftButtonUp()"), 1);

  // It comes back in another place and is found at once.
  EXPECT_NE(rig.Frame(BlockFrame(20, 53, 20, 39, Skin)).Caption, HandLostCaption);
  EXPECT_FALSE(rig.Pipeline.LastResult().Lost);
  EXPECT_LT(rig.Pipeline.LastResult().Hand.Column, 40);
  EXPECT_GT(rig.Moves(), moves);
}

TEST(HandLost, CalibrationNeedsAFrameAndAPointInIt) {
  TPipelineRig rig;
  TSkinExamples examples;
  EXPECT_THROW(rig.Pipeline.CalibrateHand(80, 60, examples), std::invalid_argument);
  rig.Frame(CentreBlock(Skin));
  EXPECT_THROW(rig.Pipeline.CalibrateHand(160, 60, examples), std::invalid_argument);
  EXPECT_EQ(examples.SkinCount(), 0u);
  EXPECT_EQ(rig.Tracker.SkinModel(), nullptr);
}

}  // namespace
}  // namespace pavrel::test
