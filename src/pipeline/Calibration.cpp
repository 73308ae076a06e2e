#include "pipeline/Calibration.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "pipeline/FramePipeline.h"

namespace pavrel {

namespace {

// Nearest integer, halves to even, in extended precision so a bound computed in long double
// is not rounded twice.
std::int32_t RoundHalfEvenLong(long double Value) {
  const long double lower = std::floor(Value);
  const long double diff = Value - lower;
  long double result = lower;
  if (diff > 0.5L || (diff == 0.5L && std::fmod(lower, 2.0L) != 0.0L)) {
    result = lower + 1.0L;
  }
  return static_cast<std::int32_t>(result);
}

}  // namespace

THueStatistics SampleCalibrationBox(const TBitmap& HueView) {
  if (HueView.PixelFormat() != TPixelFormat::pf24bit) {
    throw std::invalid_argument("Calibration needs a 24-bit view image, not " +
                                std::to_string(HueView.BitsPerPixel()) + "-bit");
  }
  if (HueView.Width() < CalibrationBox.Right + 1 || HueView.Height() < CalibrationBox.Bottom + 1) {
    throw std::invalid_argument(
        "Calibration needs a view image of at least " + std::to_string(CalibrationBox.Right + 1) +
        " x " + std::to_string(CalibrationBox.Bottom + 1) + " pixels, not " +
        std::to_string(HueView.Width()) + " x " + std::to_string(HueView.Height()));
  }
  long double sum = 0;
  for (int y = CalibrationBox.Top; y <= CalibrationBox.Bottom; ++y) {
    const std::uint8_t* row = HueView.ScanLine(y);
    for (int x = CalibrationBox.Left; x <= CalibrationBox.Right; ++x) {
      sum += row[3 * x];
    }
  }
  const long double n = CalibrationSampleCount;
  const long double mean = sum / n;
  long double squares = 0;
  for (int y = CalibrationBox.Top; y <= CalibrationBox.Bottom; ++y) {
    const std::uint8_t* row = HueView.ScanLine(y);
    for (int x = CalibrationBox.Left; x <= CalibrationBox.Right; ++x) {
      const long double d = mean - row[3 * x];
      squares += d * d;
    }
  }
  return {mean, std::sqrt(squares / (n - 1))};
}

void HueBoundsFromStatistics(const THueStatistics& Statistics, std::int32_t& LHueBound,
                             std::int32_t& HHueBound) {
  LHueBound = RoundHalfEvenLong(Statistics.Mean - 2 * Statistics.Deviation);
  HHueBound = RoundHalfEvenLong(Statistics.Mean + 2 * Statistics.Deviation);
}

void CalibrateHueBounds(const TBitmap& HueView, std::int32_t& LHueBound, std::int32_t& HHueBound) {
  HueBoundsFromStatistics(SampleCalibrationBox(HueView), LHueBound, HHueBound);
}

}  // namespace pavrel
