#pragma once

// The palm detector's anchors, the decoding of its raw outputs into boxes in frame pixels,
// and the weighted suppression of overlapping boxes. No OpenCV here: the decoding is tested
// on its own against reference figures.

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace pavrel {

// One hand found in a frame, in pixels of that frame.
struct THandDetection {
  float Score = 0;  // 0..1
  float XMin = 0, YMin = 0, XMax = 0, YMax = 0;
  // Seven palm keypoints as x, y: the wrist, the knuckles of the index, middle, ring and little
  // fingers, and two joints of the thumb.
  std::array<std::array<float, 2>, 7> Keypoints{};

  // The middle of the palm: the mean of the wrist and the four knuckles (keypoints 0 to 4),
  // closer to the palm than the box's centre, which the thumb pulls aside.
  float PalmX() const {
    return (Keypoints[0][0] + Keypoints[1][0] + Keypoints[2][0] + Keypoints[3][0] +
            Keypoints[4][0]) /
           5;
  }
  float PalmY() const {
    return (Keypoints[0][1] + Keypoints[1][1] + Keypoints[2][1] + Keypoints[3][1] +
            Keypoints[4][1]) /
           5;
  }
  float CentreX() const { return (XMin + XMax) / 2; }
  float CentreY() const { return (YMin + YMax) / 2; }
  float Width() const { return XMax - XMin; }
  float Height() const { return YMax - YMin; }
};

namespace palm {

inline constexpr int InputSize = 192;
inline constexpr std::size_t AnchorCount = 2016;
inline constexpr std::size_t ValuesPerBox = 18;  // centre dx, dy, w, h, 7 keypoints x, y

// An anchor's centre in the 192 x 192 input, as a fraction of its side.
struct TAnchor {
  float X = 0, Y = 0;
};

// The 2016 anchors: strides 8, 16, 16, 16 on the 192 x 192 input, two per cell per layer,
// layers of the same stride sharing one grid; every anchor has a fixed size of 1.
const std::vector<TAnchor>& Anchors();

// Where the frame sits in the square the network sees: the frame is padded (centred) to a
// square of Side pixels, then scaled to 192 x 192.
struct TLetterbox {
  float Side = 0, Left = 0, Top = 0;
};
TLetterbox LetterboxFor(int Width, int Height);

// Boxes whose sigmoid score is at least MinScore, in frame pixels. RawBoxes holds
// AnchorCount x ValuesPerBox values, RawScores AnchorCount logits.
std::vector<THandDetection> Decode(std::span<const float> RawBoxes,
                                   std::span<const float> RawScores, const TLetterbox& Box,
                                   float MinScore);

float IntersectionOverUnion(const THandDetection& A, const THandDetection& B);

// Weighted non-maximum suppression: the best remaining box takes every remaining box that
// overlaps it by more than MinIou; their score-weighted mean box and keypoints are kept with
// the best score. Best first.
std::vector<THandDetection> SuppressOverlaps(std::vector<THandDetection> Candidates, float MinIou);

}  // namespace palm
}  // namespace pavrel
