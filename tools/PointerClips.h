#pragma once

// Generated clips for measuring the pointer: a hand-like blob held still with camera noise,
// moving at constant speed, and closing to the Mouse Down pose and opening again in place.

#include <cstdint>
#include <string>
#include <vector>

#include "image/Bitmap.h"

namespace pavrel {

// One ellipse of a blob, relative to the blob's centre.
struct TBlobPart {
  double Row = 0;
  double Column = 0;
  double HalfHeight = 10;
  double HalfWidth = 10;
};

struct TBlobFrame {
  double CentreRow = 60;
  double CentreColumn = 80;
  bool Closed = false;     // the Mouse Down pose (a fist) instead of the open hand
  double EdgeNoise = 0.0;  // per-pixel jitter of the outline, as a fraction of the radius
};

// The open hand (classified Mouse Up) and the fist (Mouse Down) as unions of ellipses.
const std::vector<TBlobPart>& OpenHand();
const std::vector<TBlobPart>& ClosedHand();

// A 24-bit 160 x 120 frame: the blob in skin colour over a noisy background; Seed drives the
// pixel noise, so every frame of a clip differs as a camera's do.
TBitmap MakeBlobFrame(const TBlobFrame& Blob, std::uint32_t Seed);

struct TClipFrame {
  TBlobFrame Blob;
};

// The clips by name: "still", "moving", "click". Each frame's true blob is known.
std::vector<TBlobFrame> PointerClip(const std::string& Name);
std::vector<std::string> PointerClipNames();

}  // namespace pavrel
