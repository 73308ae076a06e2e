#include <gtest/gtest.h>

#include <stdexcept>

#include "detector/PalmCalibration.h"
#include "tracking/ColorLibrary.h"

namespace pavrel {
namespace {

// A grey wall, a skin-coloured palm and a forearm of the same colour down to the lower edge.
constexpr TRect Palm{60, 30, 100, 70};
constexpr TRect Forearm{70, 70, 90, 120};

TBitmap Scene() {
  TBitmap Frame(160, 120);
  for (int R = 0; R < 120; ++R)
    for (int C = 0; C < 160; ++C) {
      const bool Skin = (C >= Palm.Left && C < Palm.Right && R >= Palm.Top && R < Palm.Bottom) ||
                        (C >= Forearm.Left && C < Forearm.Right && R >= Forearm.Top);
      Frame.Row24(R)[C] = Skin ? MakeRGBTriple(200, 140, 110) : MakeRGBTriple(90, 100, 110);
    }
  return Frame;
}

// The detector's palm box and keypoints for Palm: the wrist at the bottom, the knuckles along
// the top.
THandDetection Detected() {
  THandDetection D;
  D.Score = 0.9f;
  D.XMin = 60, D.YMin = 30, D.XMax = 100, D.YMax = 70;
  D.Keypoints = {{{80, 68}, {66, 34}, {75, 33}, {84, 33}, {93, 34}, {62, 60}, {60, 50}}};
  return D;
}

int CountOutside(const THandRegion& Region, float XMin, float YMin, float XMax, float YMax) {
  int Out = 0;
  for (int R = 0; R < Region.Height; ++R)
    for (int C = 0; C < Region.Width; ++C)
      Out += Region.Mask[static_cast<std::size_t>(R * Region.Width + C)] &&
             (C < XMin || C > XMax || R < YMin || R > YMax);
  return Out;
}

TEST(PalmCalibration, TheRegionStaysOnThePalmWhereAClickWouldGrowDownTheForearm) {
  const TBitmap Frame = Scene();
  const THandDetection Hand = Detected();
  // Grown from the palm's middle alone, the region runs down the forearm.
  const THandRegion Grown = GrowHandRegion(Frame, 80, 50);
  EXPECT_GT(CountOutside(Grown, Hand.XMin, Hand.YMin, Hand.XMax, Hand.YMax), 500);
  const THandRegion Region = PalmRegion(Frame, Hand);
  EXPECT_EQ(CountOutside(Region, Hand.XMin, Hand.YMin, Hand.XMax, Hand.YMax), 0);
  // Most of the palm's inner part is taken.
  EXPECT_GT(Region.Count, 32 * 32 * 8 / 10);
  EXPECT_GE(Region.Box.Left, Palm.Left);
  EXPECT_LE(Region.Box.Bottom, Palm.Bottom);
}

TEST(PalmCalibration, ADarkSpotAtThePalmsMiddleDoesNotSpoilIt) {
  TBitmap Frame = Scene();
  // A shadow (or a ring) right where the palm's middle lies.
  const THandDetection Hand = Detected();
  const int X = static_cast<int>(Hand.PalmX()), Y = static_cast<int>(Hand.PalmY());
  for (int R = Y - 3; R <= Y + 3; ++R)
    for (int C = X - 3; C <= X + 3; ++C)
      Frame.Row24(R)[C] = MakeRGBTriple(40, 30, 30);
  EXPECT_LT(GrowHandRegion(Frame, X, Y).Count, 60);
  const THandRegion Region = PalmRegion(Frame, Hand);
  EXPECT_GT(Region.Count, 32 * 32 * 7 / 10);
  // The model learned from it calls the palm skin and the wall not.
  TSkinExamples Examples;
  CalibrateOnPalm(Frame, Hand, Examples);
  const TSkinModel Model(Examples);
  EXPECT_TRUE(Model.IsSkin(MakeRGBTriple(200, 140, 110)));
  EXPECT_FALSE(Model.IsSkin(MakeRGBTriple(90, 100, 110)));
}

TEST(PalmCalibration, APalmOutsideThePictureOrAFrameOfAnotherFormatIsRefused) {
  THandDetection Away = Detected();
  for (auto& K : Away.Keypoints)
    K[0] += 400;
  Away.XMin += 400, Away.XMax += 400;
  TSkinExamples Examples;
  EXPECT_EQ(PalmRegion(Scene(), Away).Count, 0);
  EXPECT_THROW(CalibrateOnPalm(Scene(), Away, Examples), std::invalid_argument);
  const TBitmap Grey(160, 120, TPixelFormat::pf8bit);
  EXPECT_THROW(CalibrateOnPalm(Grey, Detected(), Examples), std::invalid_argument);
}

}  // namespace
}  // namespace pavrel
