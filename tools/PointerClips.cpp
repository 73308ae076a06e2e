#include "PointerClips.h"

#include <algorithm>
#include <stdexcept>

namespace pavrel {

namespace {

class TNoise {
 public:
  explicit TNoise(std::uint32_t Seed) : FState(Seed * 2654435761u + 0x9E3779B9u) {}
  // Uniform in -1..1.
  double Next() {
    FState ^= FState << 13;
    FState ^= FState >> 17;
    FState ^= FState << 5;
    return (FState % 20001u) / 10000.0 - 1.0;
  }

 private:
  std::uint32_t FState;
};

std::uint8_t Clamp(double Value) {
  return static_cast<std::uint8_t>(std::clamp(Value, 0.0, 255.0));
}

}  // namespace

const std::vector<TBlobPart>& OpenHand() {
  // A palm with four spread fingers and a thumb.
  static const std::vector<TBlobPart> parts = {
      {0, 0, 14, 12},    {-20, -9, 10, 2.5}, {-23, -3, 12, 2.5},
      {-22, 3, 11, 2.5}, {-18, 9, 9, 2.5},   {2, 16, 3, 9},
  };
  return parts;
}

const std::vector<TBlobPart>& ClosedHand() {
  static const std::vector<TBlobPart> parts = {{0, 0, 16, 9}};
  return parts;
}

TBitmap MakeBlobFrame(const TBlobFrame& Blob, std::uint32_t Seed) {
  constexpr int Width = 160;
  constexpr int Height = 120;
  TBitmap frame(Width, Height, TPixelFormat::pf24bit);
  TNoise noise(Seed);
  const std::vector<TBlobPart>& parts = Blob.Closed ? ClosedHand() : OpenHand();
  for (int r = 0; r < Height; ++r) {
    TRGBTriple* row = frame.Row24(r);
    for (int c = 0; c < Width; ++c) {
      const double edge = 1.0 + Blob.EdgeNoise * noise.Next();
      bool skin = false;
      for (const TBlobPart& p : parts) {
        const double u = (c - Blob.CentreColumn - p.Column) / p.HalfWidth;
        const double v = (r - Blob.CentreRow - p.Row) / p.HalfHeight;
        skin = skin || u * u + v * v <= edge * edge;
      }
      TRGBTriple& px = row[c];
      const double n = 6 * noise.Next();
      if (skin) {
        px.rgbtRed = Clamp(222 + n);
        px.rgbtGreen = Clamp(170 + n);
        px.rgbtBlue = Clamp(138 + n);
      } else {
        const double base = 70 + (60.0 * c) / Width;
        px.rgbtRed = Clamp(base + 10 + 4 * n);
        px.rgbtGreen = Clamp(base + 25 + 4 * n);
        px.rgbtBlue = Clamp(base + 45 + 4 * n);
      }
    }
  }
  return frame;
}

std::vector<std::string> PointerClipNames() {
  return {"still", "moving", "click"};
}

std::vector<TBlobFrame> PointerClip(const std::string& Name) {
  std::vector<TBlobFrame> frames;
  if (Name == "still") {
    // Held still between pixel centres, with an outline that flickers as a camera's does.
    for (int i = 0; i < 300; ++i) {
      frames.push_back({60.5, 80.5, false, 0.3});
    }
  } else if (Name == "moving") {
    // One picture pixel a frame to the right: about 12 screen pixels a frame.
    for (int i = 0; i < 100; ++i) {
      frames.push_back({60.5, 30.0 + i, false, 0.3});
    }
  } else if (Name == "click") {
    // Rest, close in place for two thirds of a second, open again; three times.
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < 30; ++i) {
        frames.push_back({60.5, 80.5, false, 0.12});
      }
      for (int i = 0; i < 20; ++i) {
        frames.push_back({60.5, 80.5, true, 0.12});
      }
    }
    for (int i = 0; i < 30; ++i) {
      frames.push_back({60.5, 80.5, false, 0.12});
    }
  } else {
    throw std::invalid_argument("no clip named \"" + Name + "\" (still, moving, click)");
  }
  return frames;
}

}  // namespace pavrel
