#include "DemoFrames.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pavrel {

namespace {

// A small generator of its own, so that frames do not depend on the library's distributions.
class TNoise {
 public:
  explicit TNoise(std::uint32_t Seed) : FState(Seed * 2654435761u + 0x9E3779B9u) {}
  // Uniform in -Amplitude..Amplitude.
  int Next(int Amplitude) {
    FState ^= FState << 13;
    FState ^= FState >> 17;
    FState ^= FState << 5;
    return static_cast<int>(FState % static_cast<std::uint32_t>(2 * Amplitude + 1)) - Amplitude;
  }

 private:
  std::uint32_t FState;
};

std::uint8_t Clamp(int Value) {
  return static_cast<std::uint8_t>(std::clamp(Value, 0, 255));
}

}  // namespace

TDemoBlob DemoBlob(int Index, int Width, int Height) {
  const double t = Index;
  TDemoBlob blob;
  blob.CentreColumn = Width / 2.0 + Width * 0.28 * std::sin(2 * std::numbers::pi * t / 48);
  blob.CentreRow = Height / 2.0 + Height * 0.2 * std::sin(2 * std::numbers::pi * t / 37);
  blob.HalfHeight = Height / 6.0;
  blob.HalfWidth = Width / 13.0;
  blob.Tilt = 0.35 * std::sin(2 * std::numbers::pi * t / 29);
  return blob;
}

TBitmap MakeDemoFrame(const TDemoBlob& Blob, std::uint32_t Seed, int Width, int Height) {
  TBitmap frame(Width, Height, TPixelFormat::pf24bit);
  TNoise noise(Seed);
  const double cosT = std::cos(Blob.Tilt);
  const double sinT = std::sin(Blob.Tilt);
  for (int r = 0; r < Height; ++r) {
    TRGBTriple* row = frame.Row24(r);
    for (int c = 0; c < Width; ++c) {
      const double dr = r - Blob.CentreRow;
      const double dc = c - Blob.CentreColumn;
      const double u = (dc * cosT + dr * sinT) / Blob.HalfWidth;
      const double v = (dr * cosT - dc * sinT) / Blob.HalfHeight;
      TRGBTriple& p = row[c];
      if (u * u + v * v <= 1) {
        // Skin: warm and moderately saturated, a little uneven.
        const int shade = noise.Next(12);
        p.rgbtRed = Clamp(222 + shade + noise.Next(6));
        p.rgbtGreen = Clamp(170 + shade + noise.Next(6));
        p.rgbtBlue = Clamp(138 + shade + noise.Next(6));
      } else {
        // Background: a bluish grey gradient with sensor noise.
        const int base = 70 + (60 * c) / std::max(Width, 1);
        p.rgbtRed = Clamp(base + 10 + noise.Next(24));
        p.rgbtGreen = Clamp(base + 25 + noise.Next(24));
        p.rgbtBlue = Clamp(base + 45 + noise.Next(24));
      }
    }
  }
  return frame;
}

TBitmap MakeDemoFrame(int Index, int Width, int Height) {
  return MakeDemoFrame(DemoBlob(Index, Width, Height), static_cast<std::uint32_t>(Index) + 1, Width,
                       Height);
}

TTrackerParameters DemoSkinParameters() {
  return {.LHueBound = 5,
          .HHueBound = 30,
          .LSatBound = 50,
          .HSatBound = 200,
          .LValBound = 80,
          .HValBound = 255,
          .HeightToWidthRatio = 1.72,
          .LoseTrackArea = 200,
          .MeanThreshold = 1,
          .WindowExpansion = 5};
}

}  // namespace pavrel
