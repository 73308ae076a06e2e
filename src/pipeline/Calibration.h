#pragma once

#include <cstdint>

#include "image/Bitmap.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

// The box the user holds the hand in while calibrating: columns 60..100 and rows 45..75 of
// the 160 x 120 view, both ends inclusive when sampled (41 x 31 = 1271 pixels). Its outline on
// the on-screen display uses the same corners with Right and Bottom exclusive.
inline constexpr TRect CalibrationBox{60, 45, 100, 75};
inline constexpr int CalibrationSampleCount = 41 * 31;

struct THueStatistics {
  long double Mean = 0;
  long double Deviation = 0;  // sample standard deviation (divisor n - 1)
};

// Mean and sample deviation of the first byte of every pixel of the calibration box of a
// 24-bit image. Raises std::invalid_argument for another format or an image too small.
THueStatistics SampleCalibrationBox(const TBitmap& HueView);

// LHueBound = Round(m - 2s), HHueBound = Round(m + 2s), halves to even, not limited to 0..255.
void HueBoundsFromStatistics(const THueStatistics& Statistics, std::int32_t& LHueBound,
                             std::int32_t& HHueBound);

}  // namespace pavrel
