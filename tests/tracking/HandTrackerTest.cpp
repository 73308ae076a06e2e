#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "DemoFrames.h"
#include "ReferenceTracker.h"
#include "image/Bitmap.h"
#include "tracking/ColorLibrary.h"
#include "tracking/HandTracker.h"

namespace pavrel {
namespace {

const TRect Home{0, 0, 160, 120};
const TRGBTriple Skin = MakeRGBTriple(255, 0, 0);  // HSV (0, 255, 255)

// The edge-case set: red is skin, black is not.
TTrackerParameters ExampleParameters() {
  return {.LHueBound = 0,
          .HHueBound = 10,
          .LSatBound = 100,
          .HSatBound = 255,
          .LValBound = 100,
          .HValBound = 255,
          .HeightToWidthRatio = 1.72,
          .LoseTrackArea = 200,
          .MeanThreshold = 1,
          .WindowExpansion = 5};
}

TBitmap Blank() {
  return TBitmap(160, 120);
}

void Paint(TBitmap& Frame, int FirstRow, int LastRow, int FirstColumn, int LastColumn) {
  for (int r = FirstRow; r <= LastRow; ++r) {
    for (int c = FirstColumn; c <= LastColumn; ++c) {
      Frame.Row24(r)[c] = Skin;
    }
  }
}

TBitmap BlockFrame() {
  TBitmap f = Blank();
  Paint(f, 43, 76, 70, 89);
  return f;
}

TBitmap DiagonalBandFrame() {
  TBitmap f = Blank();
  for (int r = 40; r <= 79; ++r) {
    Paint(f, r, r, r + 16, r + 24);
  }
  return f;
}

TTrackingResult TrackOnce(const TBitmap& Frame, const TTrackerParameters& Params) {
  THandTracker tracker(Home);
  tracker.SetParameters(Params);
  TTrackingResult result;
  tracker.Track(Frame, result);
  return result;
}

void ExpectSameResult(const TTrackingResult& A, const TTrackingResult& B) {
  // Bit for bit: EXPECT_EQ on doubles compares exactly.
  EXPECT_EQ(A.Angle, B.Angle);
  EXPECT_EQ(A.CentreRow, B.CentreRow);
  EXPECT_EQ(A.CentreColumn, B.CentreColumn);
  EXPECT_EQ(A.HuMoment1, B.HuMoment1);
  EXPECT_EQ(A.HuMoment2, B.HuMoment2);
  EXPECT_EQ(A.HuMoment3, B.HuMoment3);
  EXPECT_EQ(A.HuMoment4, B.HuMoment4);
  EXPECT_EQ(A.Window, B.Window);
}

bool SameImage(const TBitmap& A, const TBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.PixelFormat() != B.PixelFormat()) {
    return false;
  }
  for (int r = 0; r < A.Height(); ++r) {
    for (int c = 0; c < A.Width(); ++c) {
      if (!(A.Row24(r)[c] == B.Row24(r)[c])) {
        return false;
      }
    }
  }
  return true;
}

void ExpectFinite(const TTrackingResult& R) {
  for (double v : {R.Angle, R.HuMoment1, R.HuMoment2, R.HuMoment3, R.HuMoment4}) {
    EXPECT_TRUE(std::isfinite(v)) << v;
  }
}

TEST(HandTrackerTest, StartsWithItsConstructionParameters) {
  THandTracker tracker(Home);
  const TTrackerParameters p = tracker.GetParameters();
  EXPECT_EQ(p.LHueBound, 141);
  EXPECT_EQ(p.HHueBound, 143);
  EXPECT_EQ(p.LSatBound, 128);
  EXPECT_EQ(p.HSatBound, 255);
  EXPECT_EQ(p.LValBound, 45);
  EXPECT_EQ(p.HValBound, 255);
  EXPECT_EQ(p.HeightToWidthRatio, 1.72);
  EXPECT_EQ(p.LoseTrackArea, 9);
  EXPECT_EQ(p.MeanThreshold, 1);
  EXPECT_EQ(p.WindowExpansion, 10);
  TTrackerParameters odd = ExampleParameters();
  odd.HeightToWidthRatio = -3;
  odd.LHueBound = 300;
  EXPECT_TRUE(tracker.SetParameters(odd));
  EXPECT_EQ(tracker.GetParameters(), odd);
}

TEST(HandTrackerTest, SolidUprightBlock) {
  THandTracker tracker(Home);
  tracker.SetParameters(ExampleParameters());
  TTrackingResult first;
  tracker.Track(BlockFrame(), first);
  EXPECT_EQ(first.CentreRow, 60);  // 59.5 and 79.5 go to the even neighbours
  EXPECT_EQ(first.CentreColumn, 80);
  EXPECT_EQ(first.Window, (TRect{58, 38, 103, 83}));
  EXPECT_NEAR(first.Angle, 0.004, 0.0005);
  EXPECT_GT(first.Angle, 0);
  EXPECT_NEAR(first.HuMoment1, 7.497e4, 5);
  EXPECT_NEAR(first.HuMoment2, 13.2, 0.05);

  // The result's images: the back projection is white exactly on the block, the hue image
  // grey everywhere.
  const TBitmap& bp = *first.BackProjectionImage;
  const TBitmap& hue = *first.HueImage;
  for (int r = 0; r < 120; ++r) {
    for (int c = 0; c < 160; ++c) {
      const bool onBlock = r >= 43 && r <= 76 && c >= 70 && c <= 89;
      const std::uint8_t j = onBlock ? 255 : 0;
      ASSERT_EQ(bp.Row24(r)[c], MakeRGBTriple(j, j, j)) << r << "," << c;
      const TRGBTriple h = hue.Row24(r)[c];
      ASSERT_TRUE(h.rgbtRed == h.rgbtGreen && h.rgbtGreen == h.rgbtBlue) << r << "," << c;
    }
  }

  TTrackingResult second;
  tracker.Track(BlockFrame(), second);
  ExpectSameResult(second, first);
}

TEST(HandTrackerTest, DiagonalBand) {
  const TTrackingResult r = TrackOnce(DiagonalBandFrame(), ExampleParameters());
  EXPECT_EQ(r.CentreRow, 60);
  EXPECT_EQ(r.CentreColumn, 80);
  EXPECT_NEAR(r.Angle, 0.80, 0.01);              // down and to the right is positive
  EXPECT_EQ(r.Window, (TRect{67, 42, 94, 78}));  // 27 wide, 36 high: P = 19
}

TEST(HandTrackerTest, SmallBlockLosesTrackUnlessTheAreaLimitIsZero) {
  TBitmap f = Blank();
  Paint(f, 10, 12, 20, 22);
  TTrackerParameters p = ExampleParameters();
  const TTrackingResult lost = TrackOnce(f, p);
  EXPECT_EQ(lost.Window, Home);  // 5 x 5 = 25 < 200
  EXPECT_EQ(lost.CentreRow, 60);
  EXPECT_EQ(lost.CentreColumn, 80);
  EXPECT_EQ(lost.Angle, 0);
  EXPECT_EQ(lost.HuMoment2, 0);
  EXPECT_GT(lost.HuMoment1, 0);

  p.LoseTrackArea = 0;  // no area is below 0
  const TTrackingResult kept = TrackOnce(f, p);
  EXPECT_EQ(kept.CentreRow, 11);
  EXPECT_EQ(kept.CentreColumn, 21);
  EXPECT_EQ(kept.Window, (TRect{19, 9, 24, 14}));
  EXPECT_EQ(kept.HuMoment1, lost.HuMoment1);  // invariants come from the sums either way
}

TEST(HandTrackerTest, RowZeroAndColumnZeroShowInTheMaskOnly) {
  TBitmap edged = BlockFrame();
  Paint(edged, 0, 0, 10, 150);
  Paint(edged, 0, 119, 0, 0);
  THandTracker tracker(Home);
  tracker.SetParameters(ExampleParameters());
  TTrackingResult result;
  tracker.Track(edged, result);
  ExpectSameResult(result, TrackOnce(BlockFrame(), ExampleParameters()));
  const TBitmap& mask = tracker.SkinMask();
  EXPECT_EQ(mask.Row24(0)[100], MakeRGBTriple(255, 255, 255));
  EXPECT_EQ(mask.Row24(90)[0], MakeRGBTriple(255, 255, 255));
  EXPECT_EQ(mask.Row24(90)[1], MakeRGBTriple(0, 0, 0));
  EXPECT_EQ(result.BackProjectionImage->Row24(0)[100], MakeRGBTriple(0, 0, 0));
}

TEST(HandTrackerTest, WindowOutsideTheFrameKeepsItsCoordinatesAndSumsOnlyInside) {
  // A hand in the top-left corner: the new window reaches past row 0 and column 0.
  TBitmap corner = Blank();
  Paint(corner, 1, 30, 1, 18);
  const TTrackerParameters p = ExampleParameters();
  THandTracker tracker(Home);
  tracker.SetParameters(p);
  test::TReferenceTracker reference(Home, p);
  for (int frame = 0; frame < 3; ++frame) {
    SCOPED_TRACE(frame);
    TTrackingResult got, want;
    tracker.Track(corner, got);
    reference.Track(corner, want);
    ExpectSameResult(got, want);
    EXPECT_LT(got.Window.Left, 0);
    EXPECT_LT(got.Window.Top, 0);
  }
}

TEST(HandTrackerTest, NoSkinGivesZerosAndTheHomeWindow) {
  THandTracker tracker(Home);
  tracker.SetParameters(ExampleParameters());
  TTrackingResult r;
  tracker.Track(BlockFrame(), r);  // move the window away from home first
  ASSERT_NE(r.Window, Home);
  tracker.Track(Blank(), r);
  EXPECT_EQ(r.Window, Home);
  EXPECT_EQ(r.CentreRow, 60);
  EXPECT_EQ(r.CentreColumn, 80);
  EXPECT_EQ(r.Angle, 0);
  EXPECT_EQ(r.HuMoment1, 0);
  EXPECT_EQ(r.HuMoment2, 0);
  EXPECT_EQ(r.HuMoment3, 0);
  EXPECT_EQ(r.HuMoment4, 0);

  // Without the area limit the window shrinks to nothing at the kept centre and stays sane.
  TTrackerParameters p = ExampleParameters();
  p.LoseTrackArea = 0;
  tracker.SetParameters(p);
  tracker.Track(Blank(), r);
  EXPECT_EQ(r.Window, (TRect{80, 60, 80, 60}));
  tracker.Track(Blank(), r);
  EXPECT_EQ(r.Window, (TRect{80, 60, 80, 60}));
  ExpectFinite(r);
  p.WindowExpansion = 0;  // an empty search region
  tracker.SetParameters(p);
  tracker.Track(BlockFrame(), r);
  EXPECT_EQ(r.Window, (TRect{80, 60, 80, 60}));
  EXPECT_EQ(r.HuMoment1, 0);
}

TEST(HandTrackerTest, BadHeightToWidthRatioLosesTheFrame) {
  const TTrackingResult good = TrackOnce(BlockFrame(), ExampleParameters());
  for (double ratio : {0.0, -1.72, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 1e300}) {
    SCOPED_TRACE(ratio);
    TTrackerParameters p = ExampleParameters();
    p.HeightToWidthRatio = ratio;
    const TTrackingResult r = TrackOnce(BlockFrame(), p);
    EXPECT_EQ(r.Window, Home);
    EXPECT_EQ(r.CentreRow, 60);
    EXPECT_EQ(r.CentreColumn, 80);
    // The ratio only shapes the window: angle and invariants are those of a good ratio.
    EXPECT_EQ(r.Angle, good.Angle);
    EXPECT_EQ(r.HuMoment1, good.HuMoment1);
    ExpectFinite(r);
  }
}

TEST(HandTrackerTest, MeanThresholdBelowOneCountsAsOne) {
  TTrackerParameters one = DemoSkinParameters();
  TTrackerParameters zero = one;
  zero.MeanThreshold = 0;
  TTrackerParameters negative = one;
  negative.MeanThreshold = -4;
  THandTracker a(Home), b(Home), c(Home);
  a.SetParameters(one);
  b.SetParameters(zero);
  c.SetParameters(negative);
  for (int i = 0; i < 12; ++i) {
    const TBitmap frame = MakeDemoFrame(i);
    TTrackingResult ra, rb, rc;
    a.Track(frame, ra);
    b.Track(frame, rb);
    c.Track(frame, rc);
    ExpectSameResult(rb, ra);
    ExpectSameResult(rc, ra);
  }
}

TEST(HandTrackerTest, MeanShiftStopsAfterTwentySteps) {
  // A small window on a wedge of skin that widens to the right climbs it a little at each
  // step and would need more than twenty steps to reach the top.
  TBitmap start = Blank();
  Paint(start, 55, 64, 10, 15);
  TBitmap wedge = Blank();
  for (int c = 1; c < 160; ++c) {
    Paint(wedge, 60 - c / 8, 60 + c / 8, c, c);
  }
  TTrackerParameters p = ExampleParameters();
  p.LoseTrackArea = 0;
  THandTracker tracker(Home);
  tracker.SetParameters(p);
  test::TReferenceTracker capped(Home, p), uncapped(Home, p);
  uncapped.MaxIterations = 1000;
  TTrackingResult got, want, free;
  for (const TBitmap* frame : {&start, &wedge}) {
    tracker.Track(*frame, got);
    capped.Track(*frame, want);
    uncapped.Track(*frame, free);
  }
  ASSERT_EQ(capped.Iterations, 20);
  ASSERT_GT(uncapped.Iterations, 20);
  ASSERT_NE(free.CentreColumn, want.CentreColumn);
  ExpectSameResult(got, want);
}

TEST(HandTrackerTest, CrossedBoundsAcceptNothing) {
  TTrackerParameters p = ExampleParameters();
  p.LSatBound = 200;
  p.HSatBound = 100;
  THandTracker tracker(Home);
  tracker.SetParameters(p);
  TTrackingResult r;
  tracker.Track(BlockFrame(), r);
  const TBitmap& mask = tracker.SkinMask();
  for (int row = 0; row < 120; ++row) {
    for (int c = 0; c < 160; ++c) {
      ASSERT_EQ(mask.Row24(row)[c], MakeRGBTriple(0, 0, 0));
    }
  }
  EXPECT_EQ(r.Window, Home);
}

TEST(HandTrackerTest, WrongFrameFormatChangesNothing) {
  const TTrackerParameters p = ExampleParameters();
  THandTracker tracker(Home), twin(Home);
  tracker.SetParameters(p);
  twin.SetParameters(p);
  TTrackingResult r, twinResult;
  tracker.Track(BlockFrame(), r);
  twin.Track(BlockFrame(), twinResult);
  const TTrackingResult before = r;
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf32bit}) {
    try {
      tracker.Track(TBitmap(160, 120, format), r);
      ADD_FAILURE() << "accepted a " << static_cast<int>(format) << "-bit frame";
    } catch (const EColorError& e) {
      EXPECT_STREQ(e.what(), "GetImageSpace:  Bitmap must be 24-bit color.");
    }
    ExpectSameResult(r, before);
  }
  tracker.Track(DiagonalBandFrame(), r);
  twin.Track(DiagonalBandFrame(), twinResult);
  ExpectSameResult(r, twinResult);
}

TEST(HandTrackerTest, TrackingOneOfItsOwnImagesIsSafe) {
  // The frame is read before the same pixels of the tracker's images are written.
  const TTrackerParameters p = DemoSkinParameters();
  THandTracker tracker(Home), twin(Home);
  tracker.SetParameters(p);
  twin.SetParameters(p);
  TTrackingResult r, twinResult;
  tracker.Track(MakeDemoFrame(3), r);
  twin.Track(MakeDemoFrame(3), twinResult);
  for (const TBitmap* own : {r.HueImage, r.BackProjectionImage, &tracker.SkinMask()}) {
    const TBitmap copy(*own);
    tracker.Track(*own, r);
    twin.Track(copy, twinResult);
    ExpectSameResult(r, twinResult);
    ASSERT_TRUE(SameImage(*r.HueImage, *twinResult.HueImage));
    ASSERT_TRUE(SameImage(*r.BackProjectionImage, *twinResult.BackProjectionImage));
  }
}

TEST(HandTrackerTest, HomeRectangleOutOfRangeIsRefused) {
  EXPECT_NO_THROW(THandTracker(TRect{-(1 << 30), 0, 1 << 30, 1}));
  EXPECT_THROW(THandTracker(TRect{-(1 << 30) - 1, 0, 10, 10}), std::invalid_argument);
}

// The optimised tracker against the plain one, frame by frame and image by image.
struct TScenario {
  const char* Name;
  int Width, Height;
  TRect Home;
  TTrackerParameters Params;
  int Frames;
};

TTrackerParameters RandomParameters(std::mt19937& Rng) {
  TTrackerParameters p = DemoSkinParameters();
  p.LHueBound = static_cast<int>(Rng() % 20);
  p.HHueBound = 15 + static_cast<int>(Rng() % 30);
  p.LSatBound = static_cast<int>(Rng() % 80);
  p.HSatBound = 150 + static_cast<int>(Rng() % 106);
  p.LValBound = static_cast<int>(Rng() % 120);
  p.HeightToWidthRatio = 0.1 + (Rng() % 391) / 100.0;
  p.LoseTrackArea = static_cast<int>(Rng() % 401);
  p.MeanThreshold = static_cast<int>(Rng() % 4);
  p.WindowExpansion = static_cast<int>(Rng() % 51);
  return p;
}

std::vector<TScenario> BitExactScenarios() {
  std::mt19937 rng(11);
  std::vector<TScenario> scenarios = {
      {"demo", 160, 120, Home, DemoSkinParameters(), 40},
      {"partial home", 160, 120, TRect{20, 10, 120, 100}, DemoSkinParameters(), 20},
      {"home beyond the frame", 160, 120, TRect{-30, -20, 200, 150}, DemoSkinParameters(), 20},
      {"odd size", 37, 23, TRect{0, 0, 37, 23}, DemoSkinParameters(), 20},
      {"large frame, double sums", 700, 420, TRect{0, 0, 700, 420}, DemoSkinParameters(), 4},
  };
  for (int i = 0; i < 8; ++i) {
    scenarios.push_back({"random parameters", 160, 120, Home, RandomParameters(rng), 25});
  }
  return scenarios;
}

TEST(HandTrackerTest, AgreesWithThePlainTrackerToTheBit) {
  for (const TScenario& s : BitExactScenarios()) {
    SCOPED_TRACE(s.Name);
    THandTracker tracker(s.Home);
    tracker.SetParameters(s.Params);
    test::TReferenceTracker reference(s.Home, s.Params);
    for (int i = 0; i < s.Frames; ++i) {
      SCOPED_TRACE(i);
      const TBitmap frame = MakeDemoFrame(DemoBlob(i, s.Width, s.Height),
                                          static_cast<std::uint32_t>(i), s.Width, s.Height);
      TTrackingResult got, want;
      tracker.Track(frame, got);
      reference.Track(frame, want);
      ExpectSameResult(got, want);
      ASSERT_TRUE(SameImage(*got.HueImage, reference.Hue));
      ASSERT_TRUE(SameImage(*got.BackProjectionImage, reference.Bp));
      ASSERT_TRUE(SameImage(tracker.SkinMask(), reference.Mask));
    }
  }
}

// Without the views the tracker keeps only the one-byte mask, yet every result stays the
// same, also on frames large enough for the double sums; views turned on halfway come back
// whole (the back projection black outside the window again).
TEST(HandTrackerTest, WithoutViewsTracksTheSameAndKeepsNoImages) {
  for (const TScenario& s : BitExactScenarios()) {
    SCOPED_TRACE(s.Name);
    THandTracker tracker(s.Home);
    tracker.SetParameters(s.Params);
    tracker.SetViews(false);
    test::TReferenceTracker reference(s.Home, s.Params);
    for (int i = 0; i < s.Frames; ++i) {
      SCOPED_TRACE(i);
      const bool views = i >= s.Frames / 2;
      if (views) {
        tracker.SetViews(true);
      }
      const TBitmap frame = MakeDemoFrame(DemoBlob(i, s.Width, s.Height),
                                          static_cast<std::uint32_t>(i), s.Width, s.Height);
      TTrackingResult got, want;
      tracker.Track(frame, got);
      reference.Track(frame, want);
      ExpectSameResult(got, want);
      if (!views) {
        EXPECT_EQ(got.HueImage, nullptr);
        EXPECT_EQ(got.BackProjectionImage, nullptr);
        EXPECT_TRUE(tracker.SkinMask().Empty());
        continue;
      }
      ASSERT_NE(got.HueImage, nullptr);
      ASSERT_NE(got.BackProjectionImage, nullptr);
      ASSERT_TRUE(SameImage(*got.HueImage, reference.Hue));
      ASSERT_TRUE(SameImage(*got.BackProjectionImage, reference.Bp));
      ASSERT_TRUE(SameImage(tracker.SkinMask(), reference.Mask));
    }
  }
}

}  // namespace
}  // namespace pavrel
