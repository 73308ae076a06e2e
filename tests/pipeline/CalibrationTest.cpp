#include "pipeline/Calibration.h"

#include <gtest/gtest.h>

#include "PixelHelpers.h"
#include "pipeline/FramePipeline.h"

namespace pavrel {
namespace {

using test::Filled;

// The view with the first byte of the given pixels set to Value.
TBitmap With(TBitmap View, std::initializer_list<std::pair<int, int>> Pixels, std::uint8_t Value) {
  for (const auto& [x, y] : Pixels) {
    View.ScanLine(y)[3 * x] = Value;
  }
  return View;
}

std::pair<std::int32_t, std::int32_t> Bounds(const TBitmap& View) {
  std::int32_t low = -999, high = -999;
  CalibrateHueBounds(View, low, high);
  return {low, high};
}

TEST(Calibration, BoundsFromTheBoxNotLimitedToTheByteRange) {
  EXPECT_EQ(Bounds(Filled({100, 100, 100})), std::make_pair(100, 100));
  EXPECT_EQ(Bounds(Filled({})), std::make_pair(0, 0));  // the black view after Stop Video
  // One 255 among zeros: m = 255/1271, s = 255/sqrt(1271).
  EXPECT_EQ(Bounds(With(Filled({}), {{80, 60}}, 255)), std::make_pair(-14, 15));
  EXPECT_EQ(Bounds(With(Filled({255, 255, 255}), {{80, 60}}, 0)), std::make_pair(240, 269));
  // Twenty 255s: the sample deviation (divisor 1270) gives 67.5075 -> 68; divisor 1271
  // would give 67.4826 -> 67.
  TBitmap twenty = Filled({});
  for (int x = 60; x < 80; ++x) {
    twenty.ScanLine(50)[3 * x] = 255;
  }
  EXPECT_EQ(Bounds(twenty), std::make_pair(-59, 68));
}

TEST(Calibration, SamplesTheFirstByteOfExactlyTheBoxBothEndsIncluded) {
  for (const auto& corner : {std::pair{60, 45}, {100, 45}, {60, 75}, {100, 75}}) {
    EXPECT_EQ(Bounds(With(Filled({}), {corner}, 255)), std::make_pair(-14, 15));
  }
  EXPECT_EQ(Bounds(With(Filled({}), {{59, 60}, {101, 60}, {80, 44}, {80, 76}}, 255)),
            std::make_pair(0, 0));
  EXPECT_EQ(Bounds(Filled({0, 255, 255})), std::make_pair(0, 0));
}

TEST(Calibration, BoundsRoundHalvesToTheEvenNeighbour) {
  const auto round = [](long double Mean, long double Deviation) {
    std::int32_t low = 0, high = 0;
    HueBoundsFromStatistics({Mean, Deviation}, low, high);
    return std::make_pair(low, high);
  };
  EXPECT_EQ(round(3.5L, 5.0L), std::make_pair(-6, 14));          // -6.5 and 13.5
  EXPECT_EQ(round(100.1L, 100.05L), std::make_pair(-100, 300));  // -100.0 and 300.2
  EXPECT_EQ(round(0.5L, 0), std::make_pair(0, 0));
  EXPECT_EQ(round(-7.5L, 0), std::make_pair(-8, -8));
}

TEST(Calibration, RefusesImagesItCannotSample) {
  std::int32_t low = 7, high = 8;
  for (const TBitmap& bad :
       {TBitmap(160, 120, TPixelFormat::pf32bit), TBitmap(100, 120), TBitmap(160, 75), TBitmap()}) {
    EXPECT_THROW(CalibrateHueBounds(bad, low, high), std::invalid_argument);
  }
  EXPECT_EQ(low, 7);
  EXPECT_EQ(high, 8);
  EXPECT_NO_THROW(CalibrateHueBounds(TBitmap(101, 76), low, high));
}

}  // namespace
}  // namespace pavrel
