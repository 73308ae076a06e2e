#pragma once

// Hand calibration on a palm the detector found, without a click. A click lands on the palm;
// the detector's palm middle may land where the grown region leaks down the forearm or into a
// wall of similar colour, and a colour model learned from that follows the forearm. So the
// region is grown from several points of the palm, the one that stays best inside the palm
// box is kept, and what lies outside the box's inner part is cut off.

#include "detector/PalmDecoding.h"
#include "image/Bitmap.h"
#include "tracking/SkinModel.h"

namespace pavrel {

// The hand's region for a detected palm, inside the frame. Count is 0 when no seed point lies
// in the frame. Raises std::invalid_argument for a frame that is not 24-bit.
THandRegion PalmRegion(const TBitmap& Frame, const THandDetection& Palm);

// PalmRegion's pixels as skin and the picture away from them as not-skin, added to Examples.
// Answers the region. Raises std::invalid_argument for a frame that is not 24-bit or a palm
// with no seed point in the frame.
THandRegion CalibrateOnPalm(const TBitmap& Frame, const THandDetection& Palm,
                            TSkinExamples& Examples);

}  // namespace pavrel
