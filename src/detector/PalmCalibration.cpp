#include "detector/PalmCalibration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace pavrel {
namespace {

// The palm's middle, the points halfway from it to the wrist and to each knuckle, and the
// box's centre.
std::vector<std::array<float, 2>> SeedPoints(const THandDetection& Palm) {
  const float X = Palm.PalmX(), Y = Palm.PalmY();
  std::vector<std::array<float, 2>> Seeds{{X, Y}, {Palm.CentreX(), Palm.CentreY()}};
  for (int K = 0; K < 5; ++K)
    Seeds.push_back({(X + Palm.Keypoints[K][0]) / 2, (Y + Palm.Keypoints[K][1]) / 2});
  return Seeds;
}

}  // namespace

THandRegion PalmRegion(const TBitmap& Frame, const THandDetection& Palm) {
  if (Frame.PixelFormat() != TPixelFormat::pf24bit)
    throw std::invalid_argument("Hand calibration needs a 24-bit frame");
  const int Width = Frame.Width(), Height = Frame.Height();
  // The palm box's inner part: its edges hold background between the fingers and beside the
  // thumb. Measured on the repo's clips: 60-100 % of the side works, 120 % and more lets the
  // forearm in.
  constexpr double BoxShare = 0.8;
  const auto Within = [&](double Share) {
    return [&Palm, Share](int Column, int Row) {
      return std::abs(Column - Palm.CentreX()) <= Palm.Width() * Share / 2 &&
             std::abs(Row - Palm.CentreY()) <= Palm.Height() * Share / 2;
    };
  };
  const auto InBox = Within(1.0);
  const auto Inside = Within(BoxShare);
  THandRegion Best;
  int BestScore = 0;
  for (const auto& Seed : SeedPoints(Palm)) {
    const int Column = static_cast<int>(std::lround(Seed[0]));
    const int Row = static_cast<int>(std::lround(Seed[1]));
    if (Column < 0 || Row < 0 || Column >= Width || Row >= Height)
      continue;
    THandRegion Region = GrowHandRegion(Frame, Column, Row);
    // Pixels inside the box count for the seed, pixels it leaked to outside against it: a
    // seed on a shadow or a knuckle grows little, one that leaks spills down the forearm.
    int In = 0, Out = 0;
    for (int R = 0; R < Height; ++R)
      for (int C = 0; C < Width; ++C)
        if (Region.Mask[static_cast<std::size_t>(R * Width + C)])
          ++(InBox(C, R) ? In : Out);
    if (Best.Mask.empty() || In - Out > BestScore) {
      Best = std::move(Region);
      BestScore = In - Out;
    }
  }
  if (Best.Mask.empty())
    return Best;
  // Only the part inside the box is kept.
  Best.Count = 0;
  Best.Box = {Width, Height, 0, 0};
  for (int R = 0; R < Height; ++R)
    for (int C = 0; C < Width; ++C) {
      std::uint8_t& M = Best.Mask[static_cast<std::size_t>(R * Width + C)];
      if (M && !Inside(C, R))
        M = 0;
      if (!M)
        continue;
      ++Best.Count;
      Best.Box = {std::min(Best.Box.Left, C), std::min(Best.Box.Top, R),
                  std::max(Best.Box.Right, C + 1), std::max(Best.Box.Bottom, R + 1)};
    }
  if (Best.Count == 0)
    Best.Box = {};
  return Best;
}

THandRegion CalibrateOnPalm(const TBitmap& Frame, const THandDetection& Palm,
                            TSkinExamples& Examples) {
  const THandRegion Region = PalmRegion(Frame, Palm);
  if (Region.Count == 0)
    throw std::invalid_argument("The detected palm lies outside the picture");
  AddCalibrationExamples(Frame, Region, Examples);
  return Region;
}

}  // namespace pavrel
