// The learned colour model, hand calibration and the blob tracker on generated frames: skin
// whose hue lies on both sides of 0, beige walls, a forearm entering from the bottom edge, a
// hand that leaves and comes back elsewhere.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

#include "image/Bitmap.h"
#include "tracking/BlobTracker.h"
#include "tracking/ColorLibrary.h"
#include "tracking/HandTracker.h"
#include "tracking/SkinModel.h"

namespace pavrel {
namespace {

constexpr int W = 160;
constexpr int H = 120;

struct THandShape {
  int PalmRow = 60, PalmColumn = 80;  // centre of the palm
  int PalmRadius = 12;
  bool Forearm = true;  // from the palm down to the bottom edge
};

// Skin: reddish (hue 355..358 degrees) and yellowish (15..17 degrees) pixels mixed.
TRGBTriple SkinPixel(std::mt19937& Random) {
  std::uniform_int_distribution<int> pick(0, 3), jitter(-6, 6);
  static const TRGBTriple tones[4] = {
      {134, 128, 200}, {120, 140, 200}, {128, 126, 190}, {112, 138, 206}};  // blue, green, red
  TRGBTriple p = tones[pick(Random)];
  const int j = jitter(Random);
  p.rgbtRed = static_cast<std::uint8_t>(p.rgbtRed + j);
  p.rgbtGreen = static_cast<std::uint8_t>(p.rgbtGreen + j);
  p.rgbtBlue = static_cast<std::uint8_t>(p.rgbtBlue + j);
  return p;
}

// Beige wall and light wood, the colours that passed the seed's 0..255 bounds.
TRGBTriple WallPixel(std::mt19937& Random, int Column) {
  std::uniform_int_distribution<int> jitter(-5, 5);
  const int j = jitter(Random);
  if (Column < 40) {
    return {static_cast<std::uint8_t>(120 + j), static_cast<std::uint8_t>(170 + j),
            static_cast<std::uint8_t>(205 + j)};  // wood
  }
  return {static_cast<std::uint8_t>(172 + j), static_cast<std::uint8_t>(206 + j),
          static_cast<std::uint8_t>(226 + j)};  // beige
}

bool InHand(const THandShape& S, int r, int c) {
  const int dr = r - S.PalmRow;
  const int dc = c - S.PalmColumn;
  if (dr * dr + dc * dc <= S.PalmRadius * S.PalmRadius) {
    return true;
  }
  // Four fingers above the palm, a thumb to the left.
  for (int f = 0; f < 4; ++f) {
    const int left = S.PalmColumn - S.PalmRadius + 2 + f * 6;
    if (c >= left && c < left + 4 && r < S.PalmRow && r >= S.PalmRow - 2 * S.PalmRadius - 4) {
      return true;
    }
  }
  if (r >= S.PalmRow - 2 && r < S.PalmRow + 2 && c < S.PalmColumn &&
      c >= S.PalmColumn - S.PalmRadius - 9) {
    return true;
  }
  // The forearm, a little narrower than the palm, straight down to the edge.
  return S.Forearm && r > S.PalmRow && std::abs(dc) <= S.PalmRadius * 3 / 4;
}

TBitmap Frame(const std::optional<THandShape>& Hand, unsigned Seed = 1) {
  std::mt19937 random(Seed);
  TBitmap frame(W, H);
  for (int r = 0; r < H; ++r) {
    TRGBTriple* row = frame.Row24(r);
    for (int c = 0; c < W; ++c) {
      row[c] = Hand && InHand(*Hand, r, c) ? SkinPixel(random) : WallPixel(random, c);
    }
  }
  return frame;
}

std::shared_ptr<const TSkinModel> Calibrated(const THandShape& Hand) {
  const TBitmap frame = Frame(Hand);
  TSkinExamples examples;
  CalibrateHand(frame, Hand.PalmColumn, Hand.PalmRow, examples);
  return std::make_shared<const TSkinModel>(examples);
}

TEST(SkinModel, LearnsSkinWhoseHueStraddlesZeroAndRejectsBeigeWallsAndWood) {
  const THandShape hand;
  const TBitmap frame = Frame(hand, 7);
  // The generated skin really lies on both sides of hue 0.
  int below = 0, above = 0;
  for (int r = 0; r < H; ++r) {
    for (int c = 0; c < W; ++c) {
      if (!InHand(hand, r, c)) {
        continue;
      }
      std::int32_t h, s, v;
      RGBToHSV(frame.Row24(r)[c], h, s, v);
      below += h > 300;
      above += h < 60;
    }
  }
  ASSERT_GT(below, 100);
  ASSERT_GT(above, 100);

  const auto model = Calibrated(hand);
  // A new frame of the same scene (other noise): skin found, wall and wood not.
  int skin = 0, skinFound = 0, wall = 0, wallFound = 0;
  for (int r = 0; r < H; ++r) {
    for (int c = 0; c < W; ++c) {
      const bool isSkin = model->IsSkin(frame.Row24(r)[c]);
      if (InHand(hand, r, c)) {
        ++skin;
        skinFound += isSkin;
      } else {
        ++wall;
        wallFound += isSkin;
      }
    }
  }
  EXPECT_GT(skinFound, 0.9 * skin);
  EXPECT_LT(wallFound, 0.01 * wall);
  // Brightness limits are learned: a dark pixel of skin's chroma is no skin.
  EXPECT_FALSE(model->IsSkin({13, 15, 26}));
  EXPECT_GT(model->LowLuma(), 8);
  EXPECT_LT(model->HighLuma(), 256);
}

TEST(SkinModel, NoSkinExamplesAcceptNothing) {
  const TSkinModel model{TSkinExamples{}};
  for (int v = 0; v < 256; v += 5) {
    EXPECT_FALSE(model.IsSkin({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v / 2),
                               static_cast<std::uint8_t>(255 - v)}));
  }
}

TEST(SkinModel, ExamplesSurviveTheirTextAndBadTextIsRefused) {
  const THandShape hand;
  const TBitmap frame = Frame(hand);
  TSkinExamples examples;
  AddCalibrationExamples(frame, GrowHandRegion(frame, 80, 60), examples);
  const std::optional<TSkinExamples> back = TSkinExamples::FromText(examples.ToText());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, examples);
  for (const char* bad : {"", "skinmodel 2 S:1:2", "skinmodel 1 S:1", "skinmodel 1 X:1:2",
                          "skinmodel 1 S:99999:2", "skinmodel 1 S:1:2 S:1:3", "skinmodel 1 S:1:0",
                          "skinmodel 1 S:1:2x", "skinmodel 1  S:1:2"}) {
    EXPECT_FALSE(TSkinExamples::FromText(bad)) << bad;
  }
}

TEST(HandCalibration, RegionGrowsOverTheHandAndNotOntoTheWall) {
  const THandShape hand;
  const TBitmap frame = Frame(hand);
  const THandRegion region = GrowHandRegion(frame, hand.PalmColumn, hand.PalmRow);
  int inHand = 0, outside = 0;
  for (int r = 0; r < H; ++r) {
    for (int c = 0; c < W; ++c) {
      if (region.Mask[static_cast<std::size_t>(r * W + c)]) {
        (InHand(hand, r, c) ? inHand : outside) += 1;
      }
    }
  }
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(inHand, region.Count);
  // At least the palm's disc.
  EXPECT_GT(region.Count, 3.14 * hand.PalmRadius * hand.PalmRadius);
  EXPECT_LE(region.Box.Left, hand.PalmColumn - hand.PalmRadius);
  EXPECT_GE(region.Box.Right, hand.PalmColumn + hand.PalmRadius);
}

TEST(HandCalibration, RegionIsBoundedWhenEverythingLooksAlike) {
  const TBitmap frame = Frame(std::nullopt);
  const THandRegion region = GrowHandRegion(frame, 100, 60);
  EXPECT_LE(region.Count, static_cast<int>(MaxHandRegionShare * W * H));
  EXPECT_GT(region.Count, static_cast<int>(MaxHandRegionShare * W * H) - 5);
  EXPECT_THROW(GrowHandRegion(frame, W, 0), std::invalid_argument);
  EXPECT_THROW(GrowHandRegion(frame, 0, -1), std::invalid_argument);
  TBitmap eight(W, H, TPixelFormat::pf8bit);
  EXPECT_THROW(GrowHandRegion(eight, 1, 1), std::invalid_argument);
}

TEST(LearnedTracker, FollowsThePalmNotTheForearm) {
  const THandShape hand{50, 70, 12, true};
  const auto model = Calibrated(hand);
  const TBitmap frame = Frame(hand, 3);
  const auto handPoint = [&](TPalmPoint Method) {
    THandTracker tracker({0, 0, W, H});
    tracker.SetPalmPoint(Method);
    tracker.SetSkinModel(model);
    TTrackingResult r;
    tracker.Track(frame, r);
    EXPECT_TRUE(r.LearnedModel);
    EXPECT_FALSE(r.Lost);
    return r.Hand;
  };
  const TPoint palm = handPoint(TPalmPoint::PalmDisc);
  const TPoint deepest = handPoint(TPalmPoint::DistanceMaximum);
  const TPoint centroid = handPoint(TPalmPoint::Centroid);
  const auto fromPalm = [&](TPoint p) {
    return std::hypot(p.Row - hand.PalmRow, p.Column - hand.PalmColumn);
  };
  EXPECT_LT(fromPalm(palm), 0.5 * hand.PalmRadius) << palm.Row << ", " << palm.Column;
  EXPECT_LT(fromPalm(deepest), 0.5 * hand.PalmRadius) << deepest.Row << ", " << deepest.Column;
  // The forearm pulls the centre of mass well below the palm.
  EXPECT_GT(centroid.Row, hand.PalmRow + hand.PalmRadius);
}

TEST(LearnedTracker, ReportsALostHandHoldsThePointAndFindsItElsewhere) {
  const THandShape left{55, 45, 12, true};
  const THandShape right{45, 115, 12, false};
  THandTracker tracker({0, 0, W, H});
  tracker.SetSkinModel(Calibrated(left));
  TTrackingResult r;
  tracker.Track(Frame(left, 2), r);
  ASSERT_FALSE(r.Lost);
  const TPoint held = r.Hand;
  EXPECT_LT(std::hypot(held.Row - left.PalmRow, held.Column - left.PalmColumn), 6);

  // The hand leaves: lost, the point held, the search over the whole picture.
  for (unsigned i = 0; i < 3; ++i) {
    tracker.Track(Frame(std::nullopt, 10 + i), r);
    EXPECT_TRUE(r.Lost);
    EXPECT_EQ(r.Hand, held);
    EXPECT_EQ(r.Window, (TRect{0, 0, W, H}));
  }
  // A few skin-coloured pixels are no hand.
  TBitmap specks = Frame(std::nullopt, 20);
  std::mt19937 random(5);
  for (int r0 = 20; r0 < 23; ++r0) {
    for (int c = 130; c < 133; ++c) {
      specks.Row24(r0)[c] = SkinPixel(random);
    }
  }
  tracker.Track(specks, r);
  EXPECT_TRUE(r.Lost);

  // It comes back elsewhere, without its forearm: found at once, in its new place.
  tracker.Track(Frame(right, 30), r);
  EXPECT_FALSE(r.Lost);
  EXPECT_LT(std::hypot(r.Hand.Row - right.PalmRow, r.Hand.Column - right.PalmColumn),
            0.75 * right.PalmRadius);
  EXPECT_NE(r.Window, (TRect{0, 0, W, H}));
  EXPECT_GT(r.HuMoment1, 0);
}

TEST(LearnedTracker, WithoutAModelTheSeedReportsItsCentreAndItsReset) {
  THandTracker tracker({0, 0, W, H});
  TTrackerParameters p = tracker.GetParameters();
  p.LHueBound = 0;
  p.HHueBound = 255;
  p.LSatBound = 0;
  p.HSatBound = 255;
  p.LValBound = 0;
  p.HValBound = 255;
  p.LoseTrackArea = 200;
  tracker.SetParameters(p);
  TTrackingResult r;
  tracker.Track(Frame(THandShape{}), r);
  EXPECT_FALSE(r.LearnedModel);
  EXPECT_FALSE(r.Lost);
  EXPECT_EQ(r.Hand, (TPoint{r.CentreRow, r.CentreColumn}));
  // Nothing passes: the window goes home, which the seed reports as lost.
  p.LHueBound = 1;
  p.HHueBound = 0;
  tracker.SetParameters(p);
  tracker.Track(Frame(THandShape{}), r);
  EXPECT_TRUE(r.Lost);
  EXPECT_EQ(r.Hand, (TPoint{r.CentreRow, r.CentreColumn}));

  // A model set and taken away again gives the seed's tracking back.
  tracker.SetSkinModel(Calibrated(THandShape{}));
  tracker.Track(Frame(THandShape{}), r);
  EXPECT_TRUE(r.LearnedModel);
  tracker.SetSkinModel(nullptr);
  tracker.Track(Frame(THandShape{}), r);
  EXPECT_FALSE(r.LearnedModel);
}

}  // namespace
}  // namespace pavrel
