#pragma once

#include <cmath>
#include <cstdint>

namespace pavrel {

class TBitmap;

// Rectangle of image coordinates; Right and Bottom are exclusive.
struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

// A point exchanged between the tracker and the translator: row first, column second.
struct TPoint {
  std::int32_t Row = 0;
  std::int32_t Column = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// The ten tunable tracker parameters, in their fixed field order. Copied whole.
struct TTrackerParameters {
  std::int32_t LHueBound = 0;
  std::int32_t HHueBound = 0;
  std::int32_t LSatBound = 0;
  std::int32_t HSatBound = 0;
  std::int32_t LValBound = 0;
  std::int32_t HValBound = 0;
  double HeightToWidthRatio = 0.0;
  std::int32_t LoseTrackArea = 0;
  std::int32_t MeanThreshold = 0;
  std::int32_t WindowExpansion = 0;
  friend bool operator==(const TTrackerParameters&, const TTrackerParameters&) = default;
};

// What the tracker reports for one frame. The two images belong to the tracker.
struct TTrackingResult {
  double Angle = 0.0;
  std::int32_t CentreRow = 0;
  std::int32_t CentreColumn = 0;
  double HuMoment1 = 0.0;
  double HuMoment2 = 0.0;
  double HuMoment3 = 0.0;
  double HuMoment4 = 0.0;
  const TBitmap* HueImage = nullptr;
  const TBitmap* BackProjectionImage = nullptr;
  TRect Window;
  // The hand was not found this frame (the seed's model: the window went back home).
  bool Lost = false;
  // The point the pointer follows: the palm with a learned colour model, else the centre.
  TPoint Hand;
  // Tracked with a learned colour model: a lost hand then holds the pointer still.
  bool LearnedModel = false;
};

// Nearest integer, exact halves to the even neighbour, whatever the FPU rounding mode.
inline std::int64_t RoundHalfEven(double Value) {
  const double lower = std::floor(Value);
  const double diff = Value - lower;
  double result = lower;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(lower, 2.0) != 0.0)) {
    result = lower + 1.0;
  }
  return static_cast<std::int64_t>(result);
}

}  // namespace pavrel
