#pragma once

// Synthetic camera frames: a skin-coloured, hand-sized blob moving over a noisy background.
// Used for the demo that `make run` shows, and by tests and benchmarks.

#include <cstdint>

#include "image/Bitmap.h"
#include "tracking/TrackerTypes.h"

namespace pavrel {

struct TDemoBlob {
  double CentreRow = 60;
  double CentreColumn = 80;
  double HalfHeight = 20;  // semi-axes of the ellipse before tilting
  double HalfWidth = 12;
  double Tilt = 0;  // rotation of the ellipse, radians
};

// Where the blob is in frame Index (0-based) of the demo sequence on a Width x Height frame.
TDemoBlob DemoBlob(int Index, int Width = 160, int Height = 120);

// A 24-bit frame with the blob drawn over a noisy background. Frames with the same arguments
// are identical on every platform.
TBitmap MakeDemoFrame(const TDemoBlob& Blob, std::uint32_t Seed, int Width = 160, int Height = 120);
TBitmap MakeDemoFrame(int Index, int Width = 160, int Height = 120);

// Tracker parameters under which the blob's colour is skin and the background mostly is not.
TTrackerParameters DemoSkinParameters();

}  // namespace pavrel
