#include "pipeline/Calibration.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "pipeline/FramePipeline.h"
#include "tracking/HandTracker.h"

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

THueStatistics SampleHueBox(const TBitmap& HueView, const TRect& Box) {
  if (HueView.PixelFormat() != TPixelFormat::pf24bit) {
    throw std::invalid_argument("Calibration needs a 24-bit view image, not " +
                                std::to_string(HueView.BitsPerPixel()) + "-bit");
  }
  if (Box.Left < 0 || Box.Top < 0 || Box.Right < Box.Left || Box.Bottom < Box.Top ||
      HueView.Width() < Box.Right + 1 || HueView.Height() < Box.Bottom + 1) {
    throw std::invalid_argument(
        "Calibration needs a view image of at least " + std::to_string(Box.Right + 1) + " x " +
        std::to_string(Box.Bottom + 1) + " pixels, not " + std::to_string(HueView.Width()) + " x " +
        std::to_string(HueView.Height()));
  }
  long double sum = 0;
  for (int y = Box.Top; y <= Box.Bottom; ++y) {
    const std::uint8_t* row = HueView.ScanLine(y);
    for (int x = Box.Left; x <= Box.Right; ++x) {
      sum += row[3 * x];
    }
  }
  const long double n =
      static_cast<long double>(Box.Right - Box.Left + 1) * (Box.Bottom - Box.Top + 1);
  const long double mean = sum / n;
  long double squares = 0;
  for (int y = Box.Top; y <= Box.Bottom; ++y) {
    const std::uint8_t* row = HueView.ScanLine(y);
    for (int x = Box.Left; x <= Box.Right; ++x) {
      const long double d = mean - row[3 * x];
      squares += d * d;
    }
  }
  return {mean, n > 1 ? std::sqrt(squares / (n - 1)) : 0.0L};
}

THueStatistics SampleCalibrationBox(const TBitmap& HueView) {
  return SampleHueBox(HueView, CalibrationBox);
}

std::optional<THandDetection> CalibrateOnDetectedPalm(IHandDetector& Detector, const TBitmap& Frame,
                                                      TTrackerParameters& Params) {
  const std::vector<THandDetection> hands = Detector.Detect(Frame);
  if (hands.empty()) {
    return std::nullopt;
  }
  const THandDetection& palm = hands.front();
  // The tracker's own colour conversion gives the hue picture the bounds apply to.
  THandTracker scratch({0, 0, Frame.Width(), Frame.Height()});
  scratch.SetParameters(Params);
  TTrackingResult result;
  scratch.Track(Frame, result);
  const auto clamp = [](double v, int hi) {
    return static_cast<std::int32_t>(std::clamp(std::lround(v), 0L, long{hi}));
  };
  const double halfW = palm.Width() * 0.3, halfH = palm.Height() * 0.3;
  const TRect box{clamp(palm.CentreX() - halfW, Frame.Width() - 1),
                  clamp(palm.CentreY() - halfH, Frame.Height() - 1),
                  clamp(palm.CentreX() + halfW, Frame.Width() - 1),
                  clamp(palm.CentreY() + halfH, Frame.Height() - 1)};
  std::scoped_lock hueLock(result.HueImage->Lock());
  HueBoundsFromStatistics(SampleHueBox(*result.HueImage, box), Params.LHueBound, Params.HHueBound);
  return palm;
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
