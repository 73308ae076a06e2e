#pragma once

// Follows the hand in a skin mask as a connected blob: the blob under the last window while
// it looks like a hand, otherwise the best hand-like blob of the whole picture. The point
// it reports is the palm, not the blob's centroid, which a forearm pulls to the wrist.

#include <array>
#include <cstdint>
#include <vector>

#include "tracking/TrackerTypes.h"

namespace pavrel {

// Which point of the blob stands for the hand.
enum class TPalmPoint {
  // The blob's centre of mass within a few palm radii of its deepest point, where points
  // far from the picture edge the forearm enters through count as deeper.
  PalmDisc,
  DistanceMaximum,  // the point deepest inside the blob
  Centroid,         // the blob's centre of mass (for comparison)
};

struct TBlobResult {
  bool Lost = true;
  TPoint Hand;    // the palm; the last one found while lost
  TPoint Centre;  // centre of mass of the blob inside Window
  TRect Window;   // around the palm; the whole picture while lost
  double Angle = 0;
  std::array<double, 4> Hu{};  // Hu's first four invariants x 10^8, as the seed tracker's
  double Mass = 0;             // skin pixels inside Window, times 255
};

class TBlobTracker {
 public:
  // Skin: Width x Height bytes, non-zero for skin. Width and Height must be positive.
  TBlobResult Track(const std::uint8_t* Skin, int Width, int Height);
  // Starts the next frame with a search of the whole picture.
  void Reset();
  bool Lost() const { return FLost; }

  void SetPalmPoint(TPalmPoint Method) { FMethod = Method; }

  // A blob smaller than this share of the picture is no hand; nor is one larger than
  // MaxShare, nor one whose deepest point lies less than MinRadius pixels inside.
  static constexpr double MinShare = 0.003;
  static constexpr double MaxShare = 0.45;
  static constexpr double MinRadius = 1.9;

 private:
  struct TBlob {
    int Area = 0;
    int Top = 0, Bottom = -1, Left = 0, Right = -1;  // inclusive
    int Overlap = 0;                                 // pixels inside the last window
    std::array<int, 4> Edge{};                       // pixels on the top, bottom, left, right edge
  };
  int Label(const std::uint8_t* Skin, int Width, int Height);
  bool HandLike(const TBlob& Blob, int Width, int Height) const;
  // Fills FDistance over the blob's box and answers the palm point and its depth (pixels).
  TPoint Palm(int Blob, int Width, int Height, double& Radius);

  bool FLost = true;
  TPoint FHand;
  TRect FWindow;
  TPalmPoint FMethod = TPalmPoint::PalmDisc;
  std::vector<std::int32_t> FLabels;
  std::vector<std::int32_t> FParent;
  std::vector<TBlob> FBlobs;
  std::vector<std::int32_t> FDistance;
};

// Hu's first four invariants x 10^8 and the orientation from the central sums of a mask
// whose pixels weigh J, exactly as the seed tracker computes them from its sums.
struct TMaskMoments {
  double M0 = 0;
  double Srr = 0, Scc = 0, Src = 0;
  double Srrr = 0, Sccr = 0, Srrc = 0, Sccc = 0;
};
double MomentOrientation(double Src, double Srr, double Scc);
std::array<double, 4> HuInvariants(const TMaskMoments& Moments);

}  // namespace pavrel
