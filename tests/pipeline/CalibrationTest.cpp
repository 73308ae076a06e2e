#include "pipeline/Calibration.h"

#include <gtest/gtest.h>

#include "PixelHelpers.h"
#include "pipeline/FramePipeline.h"

namespace pavrel {
namespace {

using test::UniformBitmap;

std::pair<std::int32_t, std::int32_t> Bounds(const TBitmap& View) {
  std::int32_t low = -999, high = -999;
  CalibrateHueBounds(View, low, high);
  return {low, high};
}

void SetFirstByte(TBitmap& View, int X, int Y, std::uint8_t Value) {
  View.ScanLine(Y)[3 * X] = Value;
}

TEST(Calibration, UniformBoxGivesItsValueForBothBounds) {
  EXPECT_EQ(Bounds(UniformBitmap(100)), std::make_pair(100, 100));
  EXPECT_EQ(Bounds(UniformBitmap(0)), std::make_pair(0, 0));  // black view after Stop Video
}

TEST(Calibration, BoundsAreNotLimitedToTheByteRange) {
  // One 255 among 1270 zeros: m = 255/1271, s = 255/sqrt(1271) = 7.1527.
  TBitmap low = UniformBitmap(0);
  SetFirstByte(low, 80, 60, 255);
  EXPECT_EQ(Bounds(low), std::make_pair(-14, 15));
  // One 0 among 1270 values of 255: m = 254.7994, the high bound 269.105.
  TBitmap high = UniformBitmap(255);
  SetFirstByte(high, 80, 60, 0);
  EXPECT_EQ(Bounds(high), std::make_pair(240, 269));
}

TEST(Calibration, SamplesExactlyTheBoxInclusiveOfBothEnds) {
  // The four corners (60, 45), (100, 45), (60, 75), (100, 75) belong to the box.
  for (const auto& [x, y] : {std::pair{60, 45}, {100, 45}, {60, 75}, {100, 75}}) {
    TBitmap view = UniformBitmap(0);
    SetFirstByte(view, x, y, 255);
    EXPECT_EQ(Bounds(view), std::make_pair(-14, 15)) << x << "," << y;
  }
  // Just outside: nothing changes.
  for (const auto& [x, y] : {std::pair{59, 60}, {101, 60}, {80, 44}, {80, 76}}) {
    TBitmap view = UniformBitmap(0);
    SetFirstByte(view, x, y, 255);
    EXPECT_EQ(Bounds(view), std::make_pair(0, 0)) << x << "," << y;
  }
  // Only the first byte of each pixel counts.
  TBitmap view = UniformBitmap(0);
  view.Row24(60)[80] = {0, 255, 255};
  EXPECT_EQ(Bounds(view), std::make_pair(0, 0));
}

TEST(Calibration, MeanAndSampleDeviationInExtendedPrecision) {
  // Two values 10 and 20 over the box: 636 of one, 635 of the other.
  TBitmap view = UniformBitmap(10);
  int placed = 0;
  for (int y = 45; y <= 75; ++y) {
    for (int x = 60; x <= 100; ++x) {
      if (placed < 635 && (x + y) % 2 == 0) {
        SetFirstByte(view, x, y, 20);
        ++placed;
      }
    }
  }
  ASSERT_EQ(placed, 635);
  const THueStatistics stats = SampleCalibrationBox(view);
  const long double mean = (636.0L * 10 + 635.0L * 20) / 1271;
  const long double var =
      (636 * (mean - 10) * (mean - 10) + 635 * (20 - mean) * (20 - mean)) / 1270;
  EXPECT_NEAR(static_cast<double>(stats.Mean), static_cast<double>(mean), 1e-12);
  EXPECT_NEAR(static_cast<double>(stats.Deviation * stats.Deviation), static_cast<double>(var),
              1e-9);
  // Divisor n - 1: the population deviation would be smaller.
  EXPECT_GT(static_cast<double>(stats.Deviation), 5.0019);
}

TEST(Calibration, BoundsRoundHalvesToTheEvenNeighbour) {
  std::int32_t low = 0, high = 0;
  HueBoundsFromStatistics({3.5L, 5.0L}, low, high);  // -6.5 and 13.5
  EXPECT_EQ(low, -6);
  EXPECT_EQ(high, 14);
  HueBoundsFromStatistics({100.1L, 100.05L}, low, high);  // -100.0 and 300.2
  EXPECT_EQ(low, -100);
  EXPECT_EQ(high, 300);
  HueBoundsFromStatistics({0.5L, 0.0L}, low, high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 0);
  HueBoundsFromStatistics({-7.5L, 0.0L}, low, high);
  EXPECT_EQ(low, -8);
  EXPECT_EQ(high, -8);
  HueBoundsFromStatistics({12.5L, 0.25L}, low, high);  // 12.0 and 13.0
  EXPECT_EQ(low, 12);
  EXPECT_EQ(high, 13);
}

TEST(Calibration, RefusesImagesItCannotSample) {
  std::int32_t low = 7, high = 8;
  EXPECT_THROW(CalibrateHueBounds(TBitmap(160, 120, TPixelFormat::pf32bit), low, high),
               std::invalid_argument);
  EXPECT_THROW(CalibrateHueBounds(TBitmap(100, 120), low, high), std::invalid_argument);
  EXPECT_THROW(CalibrateHueBounds(TBitmap(160, 75), low, high), std::invalid_argument);
  EXPECT_THROW(CalibrateHueBounds(TBitmap(), low, high), std::invalid_argument);
  EXPECT_EQ(low, 7);
  EXPECT_EQ(high, 8);
  EXPECT_NO_THROW(CalibrateHueBounds(TBitmap(101, 76), low, high));
}

}  // namespace
}  // namespace pavrel
